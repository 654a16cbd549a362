// Time and OS utilities: time stamps, interval timers, events, threads and
// processor identification.
#pragma once
#include "mox_utils/time/HiResTimer.h"
#include "mox_utils/time/OsUtilities.h"
#include "mox_utils/time/TimeStamp.h"
