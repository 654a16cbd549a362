#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "mox_utils/platform/Mutex.h"

namespace mox::platform {

namespace detail {
// Owner and recursion count under a plain mutex, so that release() can tell
// whether the caller holds the mutex, as ReleaseMutex does.
class MutexState {
 public:
  std::mutex guard;
  std::condition_variable freed;
  std::thread::id owner;    // Guarded by guard.
  unsigned long count = 0;  // Guarded by guard.
};
}  // namespace detail

MutexHandle MutexHandle::create() {
  MutexHandle handle;
  try {
    handle.m_state = std::make_shared<detail::MutexState>();
  } catch (...) {
    // A failed create is a null handle, as CreateMutexW returns null.
  }
  return handle;
}

WaitResult MutexHandle::wait(int timeoutMs) const {
  if (!m_state) return WaitResult::Failed;
  detail::MutexState& s = *m_state;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(s.guard);
  if (s.owner == self) {
    ++s.count;
    return WaitResult::Signaled;
  }
  auto isFree = [&s] { return s.count == 0; };
  if (timeoutMs < 0) {
    s.freed.wait(lock, isFree);
  } else if (!s.freed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isFree)) {
    return WaitResult::Timeout;
  }
  s.owner = self;
  s.count = 1;
  return WaitResult::Signaled;
}

bool MutexHandle::release() const {
  if (!m_state) return false;
  detail::MutexState& s = *m_state;
  std::unique_lock<std::mutex> lock(s.guard);
  if (s.count == 0 || s.owner != std::this_thread::get_id()) return false;
  if (--s.count == 0) {
    s.owner = std::thread::id();
    lock.unlock();
    s.freed.notify_one();
  }
  return true;
}

bool MutexHandle::close() {
  if (!m_state) return false;
  m_state.reset();
  return true;
}

}  // namespace mox::platform
