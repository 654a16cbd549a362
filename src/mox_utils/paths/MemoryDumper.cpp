#include "mox_utils/paths/MemoryDumper.h"

#include "mox_utils/platform/DebugOutput.h"
#include "mox_utils/platform/MiniDump.h"

namespace MemoryDumper {

namespace {

struct Request {
  int fd;
  MINIDUMP_TYPE type;
};

// Signal-safe.
void writeDump(const EXCEPTION_POINTERS& pointers, void* context) {
  const Request& request = *static_cast<const Request*>(context);
  mox::platform::outputDebugString(L"writing minidump\r\n");
  // A dump that fails half-way stays as written, without its signature.
  (void)mox::platform::writeMiniDump(request.fd, pointers, request.type);
}

}  // namespace

// Signal-safe when exceptionPointers is given; otherwise not (the breakpoint
// takes a lock and installs a signal handler).
void GenerateMiniDump(const wchar_t* fileName, PEXCEPTION_POINTERS exceptionPointers, MINIDUMP_TYPE dumpType) {
  Request request{mox::platform::createDumpFile(fileName), dumpType};
  if (request.fd < 0) return;
  if (exceptionPointers != nullptr) {
    writeDump(*exceptionPointers, &request);
  } else {
    mox::platform::outputDebugString(L"raising exception\r\n");
    mox::platform::raiseBreakpoint(&writeDump, &request);
  }
  mox::platform::closeDumpFile(request.fd);
}

}  // namespace MemoryDumper
