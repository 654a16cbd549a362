#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "mox_utils/platform/Event.h"

namespace mox::platform {

namespace {

struct EventState {
  explicit EventState(bool manual, bool initial) : manualReset(manual), signaled(initial) {}
  const bool manualReset;
  std::mutex guard;
  std::condition_variable changed;
  bool signaled;  // Guarded by guard.
};

// The process's event handles. A handle is a number from a counter that only
// grows, so a closed handle is simply absent and never names a later event.
// Waiters hold their own reference to the state, so closing never pulls an
// event from under a wait.
class EventTable {
 public:
  EventHandle add(std::shared_ptr<EventState> state) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::uintptr_t id = m_next++;
    m_events.emplace(id, std::move(state));
    return reinterpret_cast<EventHandle>(id);
  }
  std::shared_ptr<EventState> find(EventHandle handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_events.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == m_events.end() ? nullptr : it->second;
  }
  bool remove(EventHandle handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
  }

 private:
  std::mutex m_lock;
  std::uintptr_t m_next = 1;                                                 // Guarded by m_lock.
  std::unordered_map<std::uintptr_t, std::shared_ptr<EventState>> m_events;  // Guarded by m_lock.
};

// Never destroyed, so that events used by threads still running at exit stay
// valid while the process winds down.
EventTable& table() {
  static EventTable* events = new EventTable;
  return *events;
}

}  // namespace

EventHandle createEvent(bool manualReset, bool initialState) {
  try {
    return table().add(std::make_shared<EventState>(manualReset, initialState));
  } catch (...) {
    return nullptr;  // out of memory: a null handle, as CreateEventW fails
  }
}

bool setEvent(EventHandle event) {
  if (event == nullptr) return false;
  const std::shared_ptr<EventState> state = table().find(event);
  if (!state) return false;
  {
    std::lock_guard<std::mutex> lock(state->guard);
    state->signaled = true;
  }
  // Waking every waiter of an auto-reset event would be correct too (only one
  // of them finds it signalled), but costs a stampede.
  if (state->manualReset) {
    state->changed.notify_all();
  } else {
    state->changed.notify_one();
  }
  return true;
}

bool resetEvent(EventHandle event) {
  if (event == nullptr) return false;
  const std::shared_ptr<EventState> state = table().find(event);
  if (!state) return false;
  std::lock_guard<std::mutex> lock(state->guard);
  state->signaled = false;
  return true;
}

WaitResult waitEvent(EventHandle event, int timeoutMs) {
  if (event == nullptr) return WaitResult::Failed;
  const std::shared_ptr<EventState> state = table().find(event);
  if (!state) return WaitResult::Failed;
  std::unique_lock<std::mutex> lock(state->guard);
  auto isSignaled = [&state] { return state->signaled; };
  if (timeoutMs < 0) {
    state->changed.wait(lock, isSignaled);
  } else if (!state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignaled)) {
    return WaitResult::Timeout;
  }
  if (!state->manualReset) state->signaled = false;
  return WaitResult::Signaled;
}

bool closeEvent(EventHandle event) {
  if (event == nullptr) return false;
  return table().remove(event);
}

}  // namespace mox::platform
