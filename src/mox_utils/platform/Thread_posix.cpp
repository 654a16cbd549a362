#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "mox_utils/platform/Thread.h"

namespace mox::platform {

unsigned long startThread(ThreadFunction function, void* argument) {
  if (function == nullptr) return kThreadStartFailed;
  try {
    std::thread thread(function, argument);
    // pthread_t is an address on glibc: non-zero, and never all bits set.
    const unsigned long id = static_cast<unsigned long>(thread.native_handle());
    thread.detach();
    return id;
  } catch (...) {
    // std::system_error when the system is out of threads or memory.
    return kThreadStartFailed;
  }
}

void sleepMs(int ms) {
  if (ms == 0) {
    ::sched_yield();
    return;
  }
  if (ms < 0) {
    for (;;) ::pause();
  }
  // sleep_for resumes after a signal interrupts it, so the full time passes.
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t currentThreadId() { return static_cast<std::uint32_t>(::gettid()); }

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace mox::platform
