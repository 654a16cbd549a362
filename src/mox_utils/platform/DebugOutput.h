// The debugger output (OutputDebugStringW): text for a developer watching the
// process. It goes to standard error, or to a sink the application sets.
#pragma once

#include "mox_utils/export.h"

namespace mox::platform {

// Receives each text as given (null-terminated). Called on the thread that
// sends the text, possibly inside a signal handler after a fault, so a sink
// must be async-signal-safe when crash dumps are in use.
using DebugOutputSink = void (*)(const wchar_t* text);

// Replaces the sink; null restores standard error. Returns the previous one.
MOX_API DebugOutputSink setDebugOutputSink(DebugOutputSink sink);

// Sends text to the sink, or writes its UTF-8 form to standard error (long
// texts in pieces). Null text sends nothing. Signal-safe when the sink is.
MOX_API void outputDebugString(const wchar_t* text);

}  // namespace mox::platform
