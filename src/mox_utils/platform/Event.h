// Win32 events (CreateEventW without a name): a signalled state that threads
// wait for, reset either by hand (manual reset) or by the one wait it
// releases (auto reset).
//
// Events are named by plain handles, as Win32 handles are: an opaque pointer
// that is null for no event. A handle stays valid until it is closed, and is
// closed exactly once: closing it again, or using it after the close, fails
// without effect. Handle values are never reused within a process, so a stale
// handle can never reach a newer event.
//
// Thread-safety: every function may be called from any thread on the same
// handle. Closing an event while another thread waits on it lets that wait
// run to its time-out (or forever, for an infinite wait), as on Windows.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"  // WaitResult, kInfinite

namespace mox::platform {

using EventHandle = void*;

// A new event; null when it cannot be made.
MOX_API EventHandle createEvent(bool manualReset, bool initialState);

// Signals the event. A manual-reset event releases every waiter and stays
// signalled until resetEvent; an auto-reset event releases one waiter (or
// the next wait, when none waits) and returns to the unsignalled state.
// False for a null or closed handle.
MOX_API bool setEvent(EventHandle event);
// Returns the event to the unsignalled state. False for a null or closed
// handle.
MOX_API bool resetEvent(EventHandle event);

// Waits until the event is signalled: timeoutMs 0 only tests it, any negative
// value (kInfinite) waits without limit. Signaled when the event was (and, for
// an auto-reset event, is now reset by this wait); Timeout when the time ran
// out; Failed for a null or closed handle.
MOX_API WaitResult waitEvent(EventHandle event, int timeoutMs);

// Releases the handle. False for a null handle or one already closed.
MOX_API bool closeEvent(EventHandle event);

}  // namespace mox::platform
