// Crash dumps of the current process in the Microsoft minidump format, the
// stand-in for MiniDumpWriteDump. A dump holds the system information, every
// thread of the process with its registers and stack, the loaded modules with
// their ELF build ids, the memory that the dump type asks for, the exception
// (on Linux a signal: the code is the signal number, the flags its si_code,
// the address its si_addr), the process id, and the process's maps, status and
// cpuinfo, so that a debugger can open it together with the binaries.
//
// The writer is meant to run in a signal handler after a fault: once it has
// been entered it allocates nothing from the heap (its scratch space is mapped
// directly from the kernel), takes no lock and calls the kernel directly. The
// other threads are stopped and read by a short-lived child process that
// traces them (the process names it as its tracer with PR_SET_PTRACER for the
// time of the dump, and clears that setting afterwards); where tracing is not
// allowed (the process is being debugged, or not dumpable) or no child can be
// started, the dump holds the calling thread only.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform.h"
#include "mox_utils/platform/Thread.h"  // currentThreadId, currentProcessId

namespace mox::platform {

// Creates fileName for writing only (an existing file is truncated) and
// returns its descriptor; -1 when it cannot be created or when the path does
// not fit the platform's path limit. '\' in the name is read as '/'.
// Signal-safe.
MOX_API int createDumpFile(const wchar_t* fileName);
// Flushes the file to disk and closes it. Signal-safe.
MOX_API void closeDumpFile(int fd);

// Writes a dump of the current process into the new file fd, with the fault
// that `exception` describes (its ExceptionRecord and ContextRecord, both
// required) and the memory that `type` asks for: the thread stacks, plus with
// MiniDumpWithFullMemory every readable private mapping with resident pages
// (mappings above 4 GiB, which are address-space reservations such as
// sanitizer shadows, are left out). The first four bytes
// ("MDMP") are written last, so a dump cut short never looks valid. Returns
// whether the whole dump was written. Signal-safe.
MOX_API bool writeMiniDump(int fd, const EXCEPTION_POINTERS& exception, MINIDUMP_TYPE type);

// Called with the exception pointers of a breakpoint, on the thread that
// raised it, inside the signal handler.
using BreakpointFilter = void (*)(const EXCEPTION_POINTERS& exception, void* context);

// Raises a breakpoint in the calling thread under a temporary SIGTRAP handler
// that calls filter(exception, context) and then lets the thread continue
// after the breakpoint; the previous handler and signal mask are restored
// before returning. A debugger attached to the process sees the breakpoint
// first and may swallow it. Calls from several threads take turns. Returns
// false when the handler could not be installed (filter is then not called).
// Not signal-safe.
MOX_API bool raiseBreakpoint(BreakpointFilter filter, void* context);

}  // namespace mox::platform
