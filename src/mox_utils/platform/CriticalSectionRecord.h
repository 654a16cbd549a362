// The Win32 critical-section functions over a _RTL_CRITICAL_SECTION record:
// a recursive mutex, re-entrant for its owner, waited for without time-out,
// local to the process.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace mox::platform {

// Creates the lock behind the record. Returns false (record left with a null
// lock, on which enter/leave/delete do nothing) when the lock cannot be made.
MOX_API bool initializeCriticalSection(RTL_CRITICAL_SECTION* cs);
MOX_API void enterCriticalSection(RTL_CRITICAL_SECTION* cs);
MOX_API void leaveCriticalSection(RTL_CRITICAL_SECTION* cs);
// Releases the lock; the record is zeroed and may be initialised again.
MOX_API void deleteCriticalSection(RTL_CRITICAL_SECTION* cs);

}  // namespace mox::platform
