// A program that uses the installed library the way an application would.
#include <mox_utils/cine.h>
#include <mox_utils/logging.h>
#include <mox_utils/metadata.h>
#include <mox_utils/time.h>

#include <cstdio>
#include <cstring>

int main() {
  StringEnumHelper helper;
  helper.AddEnumValue(L"alpha", 1);
  if (helper.MapName(L"alpha") != 1) return std::puts("StringEnumHelper failed"), 1;

  MemoryBlock block;
  auto* data = static_cast<unsigned char*>(block.Alloc(100, 7));
  if (data == nullptr || (reinterpret_cast<std::uintptr_t>(data) & 15) != 0 || data[99] != 7)
    return std::puts("MemoryBlock failed"), 1;

  HiResTimer timer;
  timer.start();
  timer.end();
  if (timer.getCount() != 1) return std::puts("HiResTimer failed"), 1;

  // Without a logger every call is dropped.
  kelLogger::kelLogHelper(__FILE__, __LINE__, kelLogger::LOG_INFO)(L"dropped %d", 1);
  std::wstring directory;
  if (kelLogger::getCurrentDirectory(directory)) return std::puts("unexpected logger"), 1;
  std::puts("consumer ok");
  return 0;
}
