#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "mox_utils/platform/Event.h"
#include "mox_utils/platform/HandleTable.h"

namespace mox::platform {

namespace {

struct EventState {
  explicit EventState(bool manual, bool initial) : manualReset(manual), signaled(initial) {}
  const bool manualReset;
  std::mutex guard;
  std::condition_variable changed;
  bool signaled;  // Guarded by guard.
};

// Never destroyed, so that events used by threads still running at exit stay
// valid while the process winds down.
detail::HandleTable<EventState>& table() {
  static auto* events = new detail::HandleTable<EventState>;
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
