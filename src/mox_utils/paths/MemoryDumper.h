// Crash dumps: a minidump of the whole process (threads, stacks and, as the
// dump type asks, memory) written into a file, either for a fault being
// handled or for the current point of execution.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace MemoryDumper {

// Creates fileName (an existing file is overwritten) and writes a dump into
// it. With exceptionPointers (the siginfo_t and ucontext_t a SA_SIGINFO
// handler receives) the dump records that signal as its exception and the
// interrupted point as the calling thread's registers; the function is then
// async-signal-safe and meant for crash handlers, even on an alternate signal
// stack. With null it raises a breakpoint in the calling thread, writes the
// dump with the breakpoint (SIGTRAP) as its exception, and returns to the
// caller, which continues normally.
//
// Sends "writing minidump\r\n" (and, without exception pointers, first
// "raising exception\r\n") to the debugger output. A file that cannot be
// created (missing directory, no permission, a path beyond the platform's
// limit) writes nothing and reports nothing.
MOX_API void GenerateMiniDump(const wchar_t* fileName, PEXCEPTION_POINTERS exceptionPointers, MINIDUMP_TYPE dumpType);

}  // namespace MemoryDumper
