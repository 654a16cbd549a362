// The Win32 mutex handle: an unnamed, re-entrant mutex with timed waits,
// shared by every copy of its handle and closed once.
#pragma once

#include <memory>

#include "mox_utils/export.h"

namespace mox::platform {

namespace detail {
class MutexState;
}

// Result of MutexHandle::wait, with the values of WaitForSingleObject.
enum class WaitResult : unsigned long {
  Signaled = 0x00000000,  // WAIT_OBJECT_0: the caller now holds the mutex
  Abandoned = 0x00000080,
  Timeout = 0x00000102,
  Failed = 0xFFFFFFFF,
};

constexpr int kInfinite = -1;

// A handle to a mutex (CreateMutexW without a name, not initially owned).
// Copies share the mutex; close() releases this handle's share and the mutex
// goes away with the last share, so a mutex is closed exactly once however
// many copies exist. A null handle (default-constructed, closed, or a failed
// create) makes every operation fail without effect.
class MOX_API MutexHandle {
 public:
  MutexHandle() = default;
  // A new mutex; a null handle when it cannot be made.
  static MutexHandle create();

  bool valid() const { return static_cast<bool>(m_state); }
  explicit operator bool() const { return valid(); }

  // Waits up to timeoutMs milliseconds (kInfinite or any negative value waits
  // without limit, 0 tries once). Re-entrant: the owning thread may wait
  // again; each successful wait needs one release.
  WaitResult wait(int timeoutMs) const;
  // Releases one hold. False when the caller does not hold the mutex or the
  // handle is null.
  bool release() const;
  // Drops this handle's share; the handle becomes null. False if it was null.
  bool close();

  bool operator==(const MutexHandle& other) const { return m_state == other.m_state; }

 private:
  std::shared_ptr<detail::MutexState> m_state;
};

}  // namespace mox::platform
