// Threads, sleeping and the identity of the running thread and process.
#pragma once

#include <cstdint>

#include "mox_utils/export.h"

namespace mox::platform {

using ThreadFunction = void (*)(void*);

// What startThread returns when no thread could be started: all bits set, as
// _beginthread returns -1.
constexpr unsigned long kThreadStartFailed = ~0UL;

// Starts function(argument) on a new detached thread with the default stack
// size (_beginthread). Returns a non-zero identifier of the new thread, which
// means nothing once the thread has ended, or kThreadStartFailed when the
// thread cannot be started (no resources, or a null function); never throws.
// The thread runs independently: nothing joins it, and the process may end
// while it still runs.
MOX_API unsigned long startThread(ThreadFunction function, void* argument);

// Suspends the calling thread for at least ms milliseconds (Sleep). 0 gives
// up the rest of the time slice; a negative value (kInfinite) sleeps without
// end, as Sleep(INFINITE) does.
MOX_API void sleepMs(int ms);

// The kernel's identifier of the calling thread (GetCurrentThreadId) and of
// the process (GetCurrentProcessId). Signal-safe (plain system calls).
MOX_API std::uint32_t currentThreadId();
MOX_API std::uint32_t currentProcessId();

}  // namespace mox::platform
