#include "mox_utils/cine/MemoryBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "support/RecordingLogSink.h"

namespace {

using mox::detail::MemoryBlockAllocator;
using mox::test::RecordingLogSink;
using mox::test::ScopedLogSink;

std::uintptr_t address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

bool allBytesAre(const MemoryBlock& block, unsigned char value) {
  for (int i = 0; i < block.GetSize(); ++i) {
    if (block.Ptr()[i] != value) return false;
  }
  return true;
}

// A heap that hands out allocations `shift` bytes past a 16-byte boundary,
// so that the data pointer lies 16 - shift bytes into the allocation, and
// that can be told to fail. It counts what is still outstanding.
struct ShiftedHeap {
  struct Block {
    unsigned char* base;
    std::size_t size;
  };
  static inline std::size_t shift = 0;
  static inline bool fail = false;
  static inline std::map<void*, Block> live;
  static inline void* last = nullptr;  // the latest allocation handed out

  static void* reallocate(void* old, std::size_t size) {
    if (fail) return nullptr;
    // The allocation ends exactly where the block's bytes may end, so that
    // AddressSanitizer reports any write past it. glibc's malloc returns
    // 16-byte aligned memory on this platform.
    auto* base = static_cast<unsigned char*>(std::malloc(shift + size));
    if (base == nullptr || reinterpret_cast<std::uintptr_t>(base) % 16 != 0) {
      std::free(base);
      return nullptr;
    }
    unsigned char* p = base + shift;
    if (old != nullptr) {
      const Block previous = live.at(old);
      std::memcpy(p, old, previous.size < size ? previous.size : size);
      release(old);
    }
    live[p] = Block{base, size};
    last = p;
    return p;
  }
  static void release(void* p) {
    std::free(live.at(p).base);
    live.erase(p);
  }
};

void expectMessage(const mox::test::LoggedMessage& m, int line, kelLogger::LogType type, const std::wstring& text) {
  EXPECT_EQ(m.source, "mox_mem");
  EXPECT_EQ(m.line, line);
  EXPECT_EQ(m.type, type);
  EXPECT_EQ(m.text, text);
}

// Every test runs on the shifted heap, which must be empty again once the
// test's blocks are gone.
class MemoryBlockTest : public testing::Test {
 protected:
  void SetUp() override {
    ShiftedHeap::shift = 0;
    ShiftedHeap::fail = false;
    m_previous = mox::detail::setMemoryBlockAllocator({ShiftedHeap::reallocate, ShiftedHeap::release});
  }
  void TearDown() override {
    mox::detail::setMemoryBlockAllocator(m_previous);
    EXPECT_TRUE(ShiftedHeap::live.empty()) << "allocations left behind";
  }

  RecordingLogSink m_sink;
  ScopedLogSink m_installed{&m_sink};
  MemoryBlockAllocator m_previous{nullptr, nullptr};
};

// Allocating again (smaller or larger) never keeps old contents; fill and
// clear values count by their low byte only.
TEST_F(MemoryBlockTest, AllocAlignsAndFillsAndClearUsesTheLowByte) {
  MemoryBlock block;
  EXPECT_FALSE(block.Clear(1));
  for (int size : {4095, 1, 2, 3, 15, 16, 17, 100, 65536 + 3}) {
    SCOPED_TRACE(size);
    void* p = block.Alloc(size, 0x100 + size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, block.Ptr());
    EXPECT_EQ(block.GetSize(), size);
    EXPECT_EQ(address(p) % 16, 0u);
    EXPECT_TRUE(allBytesAre(block, static_cast<unsigned char>(size & 0xFF)));
    EXPECT_TRUE(block.Clear(-2));
    EXPECT_TRUE(allBytesAre(block, 0xFE));
  }
  EXPECT_TRUE(m_sink.messages.empty());
}

// Sizes 0 and -5, an empty block assigned over a full one and a copy of an
// empty block: each leaves an empty block and one warning with its size.
TEST_F(MemoryBlockTest, InvalidSizesEmptyTheBlockAndWarn) {
  const MemoryBlock empty;
  MemoryBlock blocks[3];
  for (MemoryBlock& b : blocks) ASSERT_NE(b.Alloc(64, 1), nullptr);
  EXPECT_EQ(blocks[0].Alloc(0, 1), nullptr);
  EXPECT_EQ(blocks[1].Alloc(-5, 1), nullptr);
  blocks[2] = empty;
  MemoryBlock copy(empty);
  for (const MemoryBlock* b : {&blocks[0], &blocks[1], &blocks[2], &copy}) {
    EXPECT_EQ(b->GetSize(), 0);
    EXPECT_EQ(b->Ptr(), nullptr);
  }
  const int sizes[] = {0, -5, 0, 0};
  ASSERT_EQ(m_sink.messages.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    expectMessage(
        m_sink.messages[i], 109, kelLogger::LOG_WARN,
        L"Attempted to allocate a memory block with an invalid size of " + std::to_wstring(sizes[i]) + L" bytes.");
  }
}

TEST_F(MemoryBlockTest, FailedAllocationReleasesTheOldBlockAndLogsAnError) {
  MemoryBlock block;
  ASSERT_NE(block.Alloc(32, 1), nullptr);
  ShiftedHeap::fail = true;
  EXPECT_EQ(block.Alloc(2000, 1), nullptr);
  EXPECT_EQ(block.GetSize(), 0);
  EXPECT_EQ(block.Ptr(), nullptr);
  EXPECT_TRUE(ShiftedHeap::live.empty());  // the block the failed resize left in place is gone

  // A copy whose allocation fails stays empty.
  ShiftedHeap::fail = false;
  ASSERT_NE(block.Alloc(8, 3), nullptr);
  ShiftedHeap::fail = true;
  const MemoryBlock copy(block);
  EXPECT_EQ(copy.GetSize(), 0);
  EXPECT_EQ(copy.Ptr(), nullptr);

  ASSERT_EQ(m_sink.messages.size(), 2u);
  expectMessage(m_sink.messages[0], 103, kelLogger::LOG_ERROR,
                L"Failed to allocate a memory block of size 2000 bytes.");
  expectMessage(m_sink.messages[1], 103, kelLogger::LOG_ERROR, L"Failed to allocate a memory block of size 8 bytes.");
}

// The data pointer sits 1 to 16 bytes into its allocation, depending on the
// heap's alignment; copies must use each block's own data pointer.
TEST_F(MemoryBlockTest, CopiesBetweenBlocksAtDifferentOffsets) {
  for (std::size_t sourceShift : {0u, 1u, 8u, 15u}) {
    for (std::size_t targetShift : {0u, 4u, 9u}) {
      SCOPED_TRACE(testing::Message() << sourceShift << " -> " << targetShift);
      ShiftedHeap::shift = sourceShift;
      MemoryBlock source;
      ASSERT_NE(source.Alloc(37, 0), nullptr);
      // (allocation + 16) rounded down to 16: 1 to 16 bytes in.
      EXPECT_EQ(address(source.Ptr()) - address(ShiftedHeap::last), sourceShift == 0 ? 16u : 16u - sourceShift);
      for (int i = 0; i < 37; ++i) source.Ptr()[i] = static_cast<unsigned char>(200 - i);

      ShiftedHeap::shift = targetShift;
      const MemoryBlock copy(source);
      MemoryBlock assigned;
      ASSERT_NE(assigned.Alloc(5, 0x11), nullptr);
      assigned = source;
      for (const MemoryBlock* target : {&copy, static_cast<const MemoryBlock*>(&assigned)}) {
        EXPECT_EQ(target->GetSize(), 37);
        EXPECT_NE(target->Ptr(), source.Ptr());
        EXPECT_EQ(address(target->Ptr()) % 16, 0u);
        EXPECT_EQ(std::memcmp(target->Ptr(), source.Ptr(), 37), 0);
      }
      unsigned char* const before = source.Ptr();
      const MemoryBlock& alias = source;
      source = alias;  // self-assignment changes nothing
      EXPECT_EQ(source.Ptr(), before);
      EXPECT_EQ(source.GetSize(), 37);
      EXPECT_EQ(source.Ptr()[3], 197);
    }
  }
  EXPECT_TRUE(m_sink.messages.empty());
}

}  // namespace
