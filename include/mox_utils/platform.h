// The Windows types that the library's interface names, with the field names
// and layouts of the Windows headers, so that caller code written against the
// Windows build compiles unchanged. On Windows this header would include
// <windows.h> instead.
#pragma once

#include <signal.h>
#include <ucontext.h>

#include <cstdint>

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef std::uintptr_t ULONG_PTR;
typedef void* HANDLE;

// Broken-down calendar time (local or UTC, as the producer says).
typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1 = January
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

// 100-nanosecond intervals since 1 January 1601, split in two halves.
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// A critical section record. On Linux LockSemaphore holds the recursive mutex
// that mox::platform::initializeCriticalSection creates; the other fields keep
// their Windows meaning where it is cheap (OwningThread, RecursionCount) and
// are informational only.
typedef struct _RTL_CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
} RTL_CRITICAL_SECTION, CRITICAL_SECTION, *PRTL_CRITICAL_SECTION, *LPCRITICAL_SECTION;

namespace mox {
// The console window that the logger feeds. The application implements it;
// the library only asks whether it is visible and posts messages to it.
class ConsoleWindow {
 public:
  virtual ~ConsoleWindow() = default;
  virtual bool isVisible() const = 0;
  // Returns whether the message was queued.
  virtual bool postMessage(unsigned int message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};
}  // namespace mox

typedef mox::ConsoleWindow* HWND;

// How much a crash dump holds (Microsoft's values).
typedef enum _MINIDUMP_TYPE {
  MiniDumpNormal = 0x00000000,
  MiniDumpWithDataSegs = 0x00000001,
  MiniDumpWithFullMemory = 0x00000002,
  MiniDumpWithHandleData = 0x00000004,
  MiniDumpFilterMemory = 0x00000008,
  MiniDumpScanMemory = 0x00000010,
  MiniDumpWithUnloadedModules = 0x00000020,
  MiniDumpWithIndirectlyReferencedMemory = 0x00000040,
  MiniDumpFilterModulePaths = 0x00000080,
  MiniDumpWithProcessThreadData = 0x00000100,
  MiniDumpWithPrivateReadWriteMemory = 0x00000200,
  MiniDumpWithoutOptionalData = 0x00000400,
  MiniDumpWithFullMemoryInfo = 0x00000800,
  MiniDumpWithThreadInfo = 0x00001000,
  MiniDumpWithCodeSegs = 0x00002000,
  MiniDumpWithoutAuxiliaryState = 0x00004000,
  MiniDumpWithFullAuxiliaryState = 0x00008000,
  MiniDumpWithPrivateWriteCopyMemory = 0x00010000,
  MiniDumpIgnoreInaccessibleMemory = 0x00020000,
  MiniDumpWithTokenInformation = 0x00040000,
  MiniDumpWithModuleHeaders = 0x00080000,
  MiniDumpFilterTriage = 0x00100000,
  MiniDumpValidTypeFlags = 0x001fffff
} MINIDUMP_TYPE;

// The exception pointers of a fault. On Linux these are what a signal handler
// installed with SA_SIGINFO receives: the signal's information and the
// interrupted context.
typedef struct _EXCEPTION_POINTERS {
  siginfo_t* ExceptionRecord;
  ucontext_t* ContextRecord;
} EXCEPTION_POINTERS, *PEXCEPTION_POINTERS;

// A registry key handle (the settings hive of the platform seam).
typedef struct HKEY__* HKEY;
