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

class MemoryBlockTest : public testing::Test {
 protected:
  void SetUp() override {
    ShiftedHeap::shift = 0;
    ShiftedHeap::fail = false;
  }
  void TearDown() override { EXPECT_TRUE(ShiftedHeap::live.empty()) << "allocations left behind"; }

  void useShiftedHeap() {
    m_previous = mox::detail::setMemoryBlockAllocator({ShiftedHeap::reallocate, ShiftedHeap::release});
  }
  // Blocks using the shifted heap must be freed before this runs.
  void restoreHeap() { mox::detail::setMemoryBlockAllocator(m_previous); }

  RecordingLogSink m_sink;
  ScopedLogSink m_installed{&m_sink};
  MemoryBlockAllocator m_previous{nullptr, nullptr};
};

TEST_F(MemoryBlockTest, NewBlockIsEmpty) {
  MemoryBlock block;
  EXPECT_EQ(block.GetSize(), 0);
  EXPECT_EQ(block.Ptr(), nullptr);
  EXPECT_FALSE(block.Clear(1));
  block.Free();  // freeing an empty block is harmless
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(MemoryBlockTest, AllocAlignsAndFills) {
  for (int size : {1, 2, 3, 15, 16, 17, 100, 4095, 65536 + 3}) {
    SCOPED_TRACE(size);
    MemoryBlock block;
    const int fill = 0x100 + size;  // only the low byte counts
    void* p = block.Alloc(size, fill);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, block.Ptr());
    EXPECT_EQ(block.GetSize(), size);
    EXPECT_EQ(address(p) % 16, 0u);
    EXPECT_TRUE(allBytesAre(block, static_cast<unsigned char>(size & 0xFF)));
  }
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(MemoryBlockTest, ReallocationNeverKeepsOldContents) {
  MemoryBlock block;
  ASSERT_NE(block.Alloc(1000, 0), nullptr);
  for (int i = 0; i < 1000; ++i) block.Ptr()[i] = static_cast<unsigned char>(i * 31);
  ASSERT_NE(block.Alloc(100, 7), nullptr);  // shrinking, likely in place
  EXPECT_EQ(block.GetSize(), 100);
  EXPECT_TRUE(allBytesAre(block, 7));
  ASSERT_NE(block.Alloc(5000, 0xAB), nullptr);  // growing
  EXPECT_TRUE(allBytesAre(block, 0xAB));
}

TEST_F(MemoryBlockTest, ClearUsesTheLowByteOnly) {
  MemoryBlock block;
  for (int size : {1, 3, 4, 7, 33}) {
    SCOPED_TRACE(size);
    ASSERT_NE(block.Alloc(size, 0), nullptr);
    EXPECT_TRUE(block.Clear(0x1FF));
    EXPECT_TRUE(allBytesAre(block, 0xFF));
    EXPECT_TRUE(block.Clear(-2));
    EXPECT_TRUE(allBytesAre(block, 0xFE));
  }
}

TEST_F(MemoryBlockTest, InvalidSizesEmptyTheBlockAndWarn) {
  for (int size : {0, -5}) {
    SCOPED_TRACE(size);
    m_sink.messages.clear();
    MemoryBlock block;
    ASSERT_NE(block.Alloc(64, 1), nullptr);
    EXPECT_EQ(block.Alloc(size, 1), nullptr);
    EXPECT_EQ(block.GetSize(), 0);
    EXPECT_EQ(block.Ptr(), nullptr);
    ASSERT_EQ(m_sink.messages.size(), 1u);
    const auto& m = m_sink.messages[0];
    EXPECT_EQ(m.source, "mox_mem");
    EXPECT_EQ(m.line, 109);
    EXPECT_EQ(m.type, kelLogger::LOG_WARN);
    EXPECT_EQ(m.text,
              L"Attempted to allocate a memory block with an invalid size of " + std::to_wstring(size) + L" bytes.");
  }
}

TEST_F(MemoryBlockTest, FailedAllocationReleasesTheOldBlockAndLogsAnError) {
  useShiftedHeap();
  {
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
    ShiftedHeap::fail = false;
  }
  restoreHeap();

  ASSERT_EQ(m_sink.messages.size(), 2u);
  const struct {
    const wchar_t* text;
  } expected[] = {{L"Failed to allocate a memory block of size 2000 bytes."},
                  {L"Failed to allocate a memory block of size 8 bytes."}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_sink.messages[i].source, "mox_mem");
    EXPECT_EQ(m_sink.messages[i].line, 103);
    EXPECT_EQ(m_sink.messages[i].type, kelLogger::LOG_ERROR);
    EXPECT_EQ(m_sink.messages[i].text, expected[i].text);
  }
}

// The data pointer sits 1 to 16 bytes into its allocation, depending on the
// heap's alignment; copies must use each block's own data pointer.
TEST_F(MemoryBlockTest, CopiesBetweenBlocksAtDifferentOffsets) {
  useShiftedHeap();
  {
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
      }
    }
  }
  restoreHeap();
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(MemoryBlockTest, SelfAssignmentChangesNothing) {
  MemoryBlock block;
  ASSERT_NE(block.Alloc(24, 0x5A), nullptr);
  block.Ptr()[3] = 1;
  unsigned char* const before = block.Ptr();
  const MemoryBlock& alias = block;
  block = alias;
  EXPECT_EQ(block.Ptr(), before);
  EXPECT_EQ(block.GetSize(), 24);
  EXPECT_EQ(block.Ptr()[3], 1);
  EXPECT_EQ(block.Ptr()[4], 0x5A);
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(MemoryBlockTest, CopyingAnEmptyBlockEmptiesAndWarnsOnce) {
  const MemoryBlock empty;
  MemoryBlock target;
  ASSERT_NE(target.Alloc(10, 1), nullptr);
  target = empty;
  EXPECT_EQ(target.GetSize(), 0);
  EXPECT_EQ(target.Ptr(), nullptr);
  const MemoryBlock copy(empty);
  EXPECT_EQ(copy.GetSize(), 0);

  ASSERT_EQ(m_sink.messages.size(), 2u);  // one per copy
  for (const auto& m : m_sink.messages) {
    EXPECT_EQ(m.line, 109);
    EXPECT_EQ(m.type, kelLogger::LOG_WARN);
    EXPECT_EQ(m.text, L"Attempted to allocate a memory block with an invalid size of 0 bytes.");
  }
}

}  // namespace
