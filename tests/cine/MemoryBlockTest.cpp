#include "mox_utils/cine/MemoryBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "support/RecordingLogSink.h"

namespace {

std::uintptr_t address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

bool allBytesAre(const MemoryBlock& block, unsigned char value) {
  return std::all_of(block.Ptr(), block.Ptr() + block.GetSize(), [value](unsigned char b) { return b == value; });
}

// A heap that hands out allocations `shift` bytes past a 16-byte boundary
// (glibc's malloc returns 16-byte aligned memory on this platform), so that
// the data pointer lies 16 - shift bytes into the allocation, and that can be
// told to fail. An allocation ends exactly where the block's bytes may end,
// so that AddressSanitizer reports any write past it, and starts out poisoned
// (MemoryBlock never relies on realloc keeping contents). It keeps what is
// still outstanding.
struct ShiftedHeap {
  static inline std::size_t shift = 0;
  static inline bool fail = false;
  static inline std::map<void*, void*> live;  // allocation -> malloc'd base
  static inline void* last = nullptr;         // the latest allocation handed out

  static void* reallocate(void* old, std::size_t size) {
    void* base = fail ? nullptr : std::malloc(shift + size);
    if (base == nullptr) return nullptr;
    std::memset(base, 0xDD, shift + size);
    if (old != nullptr) release(old);
    live[last = static_cast<unsigned char*>(base) + shift] = base;
    return last;
  }
  static void release(void* p) {
    std::free(live.at(p));
    live.erase(p);
  }
};

using Messages = std::vector<std::tuple<int, kelLogger::LogType, std::wstring>>;

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
  // The messages logged so far as (line, type, text); all name the block's
  // source file.
  Messages logged() const {
    Messages messages;
    for (const auto& m : m_sink.messages) {
      EXPECT_EQ(m.source, "mox_mem");
      messages.emplace_back(m.line, m.type, m.text);
    }
    return messages;
  }

  mox::test::RecordingLogSink m_sink;
  mox::test::ScopedLogSink m_installed{&m_sink};
  mox::detail::MemoryBlockAllocator m_previous{nullptr, nullptr};
};

// Sizes 0 and -5, an empty block assigned or copied, a failed allocation and
// a failed copy: each leaves an empty block, frees what it held and logs one
// message with the size.
TEST_F(MemoryBlockTest, InvalidSizesAndFailedAllocationsEmptyTheBlockAndLog) {
  const MemoryBlock empty;
  MemoryBlock blocks[4];
  for (MemoryBlock& b : blocks) ASSERT_NE(b.Alloc(64, 1), nullptr);
  EXPECT_EQ(blocks[0].Alloc(0, 1), nullptr);
  EXPECT_FALSE(blocks[0].Clear(1));
  EXPECT_EQ(blocks[1].Alloc(-5, 1), nullptr);
  blocks[2] = empty;
  ShiftedHeap::fail = true;
  MemoryBlock failedCopy(blocks[3]);
  EXPECT_EQ(blocks[3].Alloc(2000, 1), nullptr);  // the allocation left in place is freed
  MemoryBlock copy(empty);
  for (MemoryBlock* b : {&blocks[0], &blocks[1], &blocks[2], &blocks[3], &failedCopy, &copy}) {
    EXPECT_EQ(b->GetSize(), 0);
    EXPECT_EQ(b->Ptr(), nullptr);
  }
  EXPECT_TRUE(ShiftedHeap::live.empty());
  const std::wstring invalid = L"Attempted to allocate a memory block with an invalid size of ";
  const std::wstring failed = L"Failed to allocate a memory block of size ";
  EXPECT_EQ(logged(), (Messages{{109, kelLogger::LOG_WARN, invalid + L"0 bytes."},
                                {109, kelLogger::LOG_WARN, invalid + L"-5 bytes."},
                                {109, kelLogger::LOG_WARN, invalid + L"0 bytes."},
                                {103, kelLogger::LOG_ERROR, failed + L"64 bytes."},
                                {103, kelLogger::LOG_ERROR, failed + L"2000 bytes."},
                                {109, kelLogger::LOG_WARN, invalid + L"0 bytes."}}));
}

// The data pointer sits 1 to 16 bytes into its allocation, depending on the
// heap's alignment, and is aligned to 16; copies must use each block's own
// data pointer. Allocating fills every byte with the low byte of the fill
// value, allocating again (smaller or larger) keeps no old contents.
TEST_F(MemoryBlockTest, CopiesBetweenBlocksAtDifferentOffsets) {
  for (std::size_t sourceShift : {0u, 1u, 8u, 15u}) {
    for (std::size_t targetShift : {0u, 4u, 9u}) {
      SCOPED_TRACE(testing::Message() << sourceShift << " -> " << targetShift);
      ShiftedHeap::shift = sourceShift;
      MemoryBlock source;
      ASSERT_NE(source.Alloc(37, 0x1FE), nullptr);
      EXPECT_TRUE(allBytesAre(source, 0xFE));
      // (allocation + 16) rounded down to 16: 1 to 16 bytes in.
      EXPECT_EQ(address(source.Ptr()) - address(ShiftedHeap::last), sourceShift == 0 ? 16u : 16u - sourceShift);
      for (int i = 0; i < 37; ++i) source.Ptr()[i] = static_cast<unsigned char>(200 - i);

      ShiftedHeap::shift = targetShift;
      const MemoryBlock copy(source);
      MemoryBlock assigned;
      ASSERT_NE(assigned.Alloc(5, 0x11), nullptr);
      EXPECT_TRUE(allBytesAre(assigned, 0x11));
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
      EXPECT_EQ(source.Ptr()[3], 197);
    }
  }
  EXPECT_TRUE(m_sink.messages.empty());
}

}  // namespace
