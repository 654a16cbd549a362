#include "mox_utils/paths/MiniDumpFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using mox::detail::MiniDumpFile;

// Writes consecutive little-endian 32-bit values from `at` on.
template <typename... Values>
void put32(std::string& b, std::size_t at, Values... values) {
  for (const std::uint32_t v : {static_cast<std::uint32_t>(values)...}) {
    for (int i = 0; i < 4; ++i) b[at++] = static_cast<char>(v >> (8 * i));
  }
}

// A small dump built by hand: header, one thread with a 16-byte stack, one
// module named "/m" with a build id, the stack in the memory list, an
// exception. Offsets are fixed so that the cases below can damage them.
struct Layout {
  static constexpr std::size_t kDirectory = 32;    // 5 entries of 12
  static constexpr std::size_t kThreads = 96;      // 4 + 48
  static constexpr std::size_t kStack = 152;       // 16 bytes
  static constexpr std::size_t kContext = 168;     // 1232 bytes
  static constexpr std::size_t kName = 1400;       // 4 + 4 + 2
  static constexpr std::size_t kCodeView = 1412;   // "BpEL" + 4 bytes
  static constexpr std::size_t kModules = 1424;    // 4 + 108
  static constexpr std::size_t kMemory = 1536;     // 4 + 16
  static constexpr std::size_t kException = 1560;  // 168
  static constexpr std::size_t kMisc = 1728;       // 24
  static constexpr std::size_t kEnd = 1752;
};

std::string handMadeDump() {
  using L = Layout;
  std::string b(L::kEnd, '\0');
  put32(b, 0, 0x504D444D, 0xA793, 5, L::kDirectory);  // signature, version, stream count, directory
  // Directory entries: stream type, size, place.
  put32(b, L::kDirectory, 3, 52, L::kThreads, 4, 112, L::kModules, 5, 20, L::kMemory, 6, 168, L::kException, 15, 24,
        L::kMisc);
  put32(b, L::kMisc, 24, 1, 4242);  // misc info with the process id
  // Thread 77: stack start (low half), then size and place of the stack and the context.
  put32(b, L::kThreads, 1, 77);
  put32(b, L::kThreads + 28, 0x1000);
  put32(b, L::kThreads + 36, 16, L::kStack, 1232, L::kContext);
  for (int i = 0; i < 16; ++i) b[L::kStack + i] = static_cast<char>(0xA0 + i);
  put32(b, L::kContext + 48, 0x0010000B);
  put32(b, L::kContext + 152, 0x1008);  // rsp
  put32(b, L::kContext + 248, 0x4000);  // rip
  put32(b, L::kName, 4, 0x006D002F);    // "/m" in UTF-16
  put32(b, L::kCodeView, 0x4270454C, 0xDDCCBBAA);
  put32(b, L::kModules, 1, 0x4000, 0, 0x1000);  // base (8 bytes), size
  put32(b, L::kModules + 24, L::kName);
  put32(b, L::kModules + 80, 8, L::kCodeView);
  put32(b, L::kMemory, 1, 0x1000, 0, 16, L::kStack);  // start (8 bytes), size, place
  put32(b, L::kException, 77, 0, 11, 2);              // thread, alignment, code, flags
  put32(b, L::kException + 24, 0xdead);               // address
  put32(b, L::kException + 164, L::kContext);
  return b;
}

TEST(MiniDumpFileTest, ReadsAHandMadeDump) {
  MiniDumpFile dump;
  std::string error;
  ASSERT_TRUE(dump.parse(handMadeDump(), &error)) << error;
  EXPECT_EQ(dump.processId(), 4242u);
  ASSERT_EQ(dump.threads().size(), 1u);
  EXPECT_EQ(dump.threads()[0].threadId, 77u);
  EXPECT_EQ(dump.threads()[0].stackPointer, 0x1008u);
  EXPECT_EQ(dump.threads()[0].instructionPointer, 0x4000u);
  ASSERT_EQ(dump.modules().size(), 1u);
  EXPECT_EQ(dump.modules()[0].name, "/m");
  EXPECT_EQ(dump.modules()[0].buildId, (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC, 0xDD}));
  ASSERT_TRUE(dump.hasException());
  EXPECT_EQ(dump.exception().code, 11u);
  EXPECT_EQ(dump.exception().flags, 2u);
  EXPECT_EQ(dump.exception().address, 0xdeadu);
  std::string bytes;
  ASSERT_TRUE(dump.readMemory(0x1008, 8, &bytes));
  EXPECT_EQ(bytes, "\xA8\xA9\xAA\xAB\xAC\xAD\xAE\xAF");
  EXPECT_FALSE(dump.readMemory(0x1009, 8, &bytes));  // one byte past the range
  EXPECT_FALSE(dump.readMemory(0x0FFF, 1, &bytes));
}

TEST(MiniDumpFileTest, DamagedDumpsAreRejected) {
  // Each case writes one 32-bit value into the dump.
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"no signature", 0, 0},
      {"wrong version", 4, 0xA794},
      {"directory beyond the end", 12, Layout::kEnd - 12},
      {"huge stream count", 8, 0xFFFFFFFF},
      {"stream beyond the end", Layout::kDirectory + 4, 0xFFFFFFF0},
      {"duplicate stream type", Layout::kDirectory + 12, 3},
      {"thread count larger than the stream", Layout::kThreads, 0x40000000},
      {"context beyond the end", Layout::kThreads + 4 + 44, 0xFFFFFF00},
      {"stack size beyond the end", Layout::kThreads + 4 + 32, 0x7FFFFFFF},
      {"module name length beyond the end", Layout::kName, 0xFFFFFFFE},
      {"odd module name length", Layout::kName, 3},
      {"code view record beyond the end", Layout::kModules + 4 + 76, 0x10000},
      {"memory range beyond the end", Layout::kMemory + 16, Layout::kEnd - 8},
      {"short exception stream", Layout::kDirectory + 36 + 4, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = handMadeDump();
    put32(bytes, c.at, c.value);
    MiniDumpFile dump;
    std::string error;
    EXPECT_FALSE(dump.parse(bytes, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(dump.threads().empty());
  }
  // Every truncation fails cleanly.
  const std::string whole = handMadeDump();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    MiniDumpFile dump;
    std::string error;
    ASSERT_FALSE(dump.parse(std::string_view(whole).substr(0, n), &error)) << n;
  }
}

}  // namespace
