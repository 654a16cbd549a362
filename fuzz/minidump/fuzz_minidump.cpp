// The minidump reader on arbitrary bytes: it must reject or read them without
// touching memory outside the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mox_utils/paths/MiniDumpFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mox::detail::MiniDumpFile dump;
  std::string error;
  if (!dump.parse(std::string_view(reinterpret_cast<const char*>(data), size), &error)) return 0;
  std::string bytes;
  for (const auto& t : dump.threads()) dump.readMemory(t.stackPointer, 64, &bytes);
  for (const auto& m : dump.memory()) dump.readMemory(m.start + m.size / 2, m.size / 2 + 1, &bytes);
  (void)dump.streamData(0x47670009);
  return 0;
}
