#include "mox_utils/cine/DataBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace {

void setGeometry(DataBlock& block, unsigned int lineSize, unsigned int numLines, unsigned int group = 0,
                 std::uint64_t period = 0) {
  BlockSetup<DataBlock> setup = block.SetupFrames();
  setup.lineSize = lineSize;
  setup.numLines = numLines;
  setup.group = group;
  setup.framePeriod = period;
  setup.periodInfo1 = period == 0 ? 0 : 11;
  setup.periodInfo2 = period == 0 ? 0 : 22;
  block.SetupFrames(setup);
}

// A data block on a region of `size` bytes, which has guard bytes on both
// sides that must never change; by default lineSize 100 and numLines 10, so
// F = 1004 with the default tag.
struct Region {
  explicit Region(std::size_t size, unsigned int lineSize = 100, unsigned int numLines = 10) : bytes(size + 64, 0xC3) {
    block.Init(static_cast<int>(size), 0, begin(), begin() + size);
    setGeometry(block, lineSize, numLines);
    block.SetEOB();
  }
  ~Region() {
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 32, [](unsigned char b) { return b == 0xC3; }) &&
                std::all_of(bytes.end() - 32, bytes.end(), [](unsigned char b) { return b == 0xC3; }));
  }
  unsigned char* begin() { return bytes.data() + 32; }
  const unsigned char* at(int frame) { return begin() + frame * 1004; }
  std::vector<unsigned char> bytes;
  DataBlock block;
};

}  // namespace

TEST(DataBlockTest, FramePositionsFollowTheGeometryAndTheUsedEnd) {
  Region r(10 * 1004 + 1003);
  EXPECT_EQ(r.block.GetFrameSize(), 1004u);
  EXPECT_EQ(r.block.GetMaxFrames(), 10);
  EXPECT_EQ(r.block.GetActualEnd(), r.at(10));
  EXPECT_TRUE(r.block.IsValid());
  EXPECT_FALSE(r.block.SetEOB(12, 1004));
  EXPECT_EQ(r.block.GetMaxFrames(), 10);
  EXPECT_FALSE(r.block.SetEOB(-1, 1004));
  EXPECT_FALSE(r.block.SetEOB(0x10000, 0x10000));  // overflows 32 bits
  EXPECT_TRUE(r.block.SetEOB(27, 409));            // exactly the whole region
  EXPECT_TRUE(r.block.SetEOB(5, 1004));
  EXPECT_EQ(r.block.GetNumFitFrames(), 5);
  EXPECT_TRUE(r.block.SetEOB(0, 1004));
  EXPECT_FALSE(r.block.IsValid());
}

TEST(DataBlockTest, ReadPositionClampsOrWrapsAtTheUsedEnds) {
  Region r(10 * 1004);
  struct Case {
    const char* name;
    int from, count;
    bool increment, wrap;
    int to, result;
  } cases[] = {
      {"forward inside", 2, 3, true, false, 5, 3},
      {"forward to the last", 8, 3, true, false, 9, 1},
      {"forward wraps to begin", 8, 3, true, true, 0, -8},
      {"forward exactly to the last", 6, 3, true, true, 9, 3},
      {"back inside", 5, 2, false, false, 3, 2},
      {"back clamps at begin", 1, 3, false, false, 0, 1},
      {"back wraps to the last", 0, 1, false, true, 9, -9},
      {"back exactly to begin", 2, 2, false, true, 0, 2},
      {"zero count", 4, 0, true, false, 4, 0},
      {"negative count moves back", 4, -2, true, false, 2, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned char* p = r.at(c.from);
    const int moved = c.increment ? r.block.Increment(&p, c.count, c.wrap) : r.block.Decrement(&p, c.count, c.wrap);
    EXPECT_EQ(p, r.at(c.to));
    EXPECT_EQ(moved, c.result);
  }
  // A position far below the region (the address space's start) is outside.
  const unsigned char* low = nullptr;
  r.block.Decrement(&low, 1, false);
  EXPECT_EQ(low, r.at(0));
}

TEST(DataBlockTest, FrameCountComesFromTheFirstTagAndTheReadPosition) {
  Region r(10 * 1004);
  std::fill(r.begin(), r.begin() + 10 * 1004, 0xFF);
  r.block.SetReadBuffer(r.begin() + 3 * 1004);
  r.block.Erase();
  EXPECT_EQ(r.block.GetReadBuffer(), nullptr);
  EXPECT_EQ(r.block.GetFrameCount(), 0);
  // Erase zeroed one word per frame position and nothing else.
  for (std::size_t i = 0; i < 10 * 1004; ++i) ASSERT_EQ(r.begin()[i], i % 1004 < 4 ? 0 : 0xFF) << "byte " << i;
  r.block.SetReadBuffer(r.begin() + 3 * 1004);
  EXPECT_EQ(r.block.GetFrameCount(), 3);
  r.begin()[1] = 0x01;  // frame 256: the region has wrapped
  EXPECT_EQ(r.block.GetFrameCount(), 10);
  r.block.SetReadBuffer(r.begin() - 1);  // before the region: nothing
  EXPECT_EQ(r.block.GetFrameCount(), 0);
  r.block.SetReadBuffer(r.begin() + 3 * 1004);
  r.begin()[1] = 0;
  r.begin()[2] = 0x01;  // the high half of the tag word is not a count
  EXPECT_EQ(r.block.GetFrameCount(), 3);
}

// Regions that end inside a frame position or a tag word, and frame sizes
// down to 1 byte and not a multiple of 4: the guards show any word written
// past the end.
TEST(DataBlockTest, EraseStaysInsideRegionsOfAnyShape) {
  struct Case {
    unsigned int lineSize, numLines, tag;
    std::size_t regionSize;
  } cases[] = {{1, 1, 0, 10}, {1, 1, 1, 7}, {3, 3, 2, 33}, {100, 10, 4, 1003}, {100, 10, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    DataBlock::SetTagSize(c.tag);
    Region(c.regionSize, c.lineSize, c.numLines).block.Erase();
  }
  DataBlock::SetTagSize(4);
}

// Two data blocks of 10 x 10 bytes (104 bytes a frame position and a cine
// slot) over 10 and `framesB` frame positions, each with a cine block on its
// part of one memory. Within a
// group, a block whose region holds k times the frames of the smallest gets k
// times its cine slots and (without a period of its own) a k-th of the base
// period; every group from 0 to the highest must get a unit of more than two
// records.
TEST(DataBlockTest, CineBlocksOfAGroupSpanTheSameTime) {
  struct Case {
    const char* name;
    int framesB;
    unsigned int cineA, cineB, groupB, ownPeriodB;
    bool ok;
    unsigned int maxA, maxB;
    std::uint64_t periodA, periodB;
  } cases[] = {
      // unit = min(10000 / 104, 10000 / 312) = 32: caps of 32 and 96 slots.
      {"ratio 3", 30, 10000, 10000, 0, 0, true, 31, 95, 3000, 1000},
      {"own period", 30, 10000, 10000, 0, 5000, true, 31, 95, 3000, 5000},
      {"a group each", 10, 2000, 2000, 1, 0, true, 18, 18, 3000, 3000},
      {"group 1 missing", 10, 2000, 2000, 2, 0, false, 18, 18, 3000, 3000},
      {"group far above", 10, 2000, 2000, 0xFFFFFFF0u, 0, false, 18, 18, 3000, 3000},  // not walked to
      {"b holds no frame", 0, 2000, 2000, 0, 0, true, 18, 0, 3000, 0},                 // and gets no slots
      {"below one unit", 30, 10400, 300, 0, 0, false, 0, 0, 0, 0},                     // nothing is set up
      {"two units", 30, 10400, 624, 0, 0, false, 1, 5, 3000, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Region a(10 * 104, 10, 10), b(c.framesB * 104, 10, 10);
    setGeometry(b.block, 10, 10, c.groupB, c.ownPeriodB);
    std::vector<unsigned char> memory(c.cineA + c.cineB);
    a.block.CreateCineBlock(memory.data(), c.cineA);
    b.block.CreateCineBlock(memory.data() + c.cineA, c.cineB);
    EXPECT_EQ(DataBlock::SetupCineBlocks({&a.block, nullptr, &b.block}, 3000, 7), c.ok);
    const CineBlock &cineA = *a.block.GetCineBlock(), &cineB = *b.block.GetCineBlock();
    EXPECT_EQ(cineA.GetMaxFrames(), c.maxA);
    EXPECT_EQ(cineB.GetMaxFrames(), c.maxB);
    EXPECT_EQ(cineA.GetFramePeriod(), c.periodA);
    EXPECT_EQ(cineB.GetFramePeriod(), c.periodB);
    EXPECT_EQ(cineB.GetCineParam(), c.maxB == 0 ? 0 : 7);
    EXPECT_EQ(std::make_pair(cineB.GetPeriodInfo1(), cineB.GetPeriodInfo2()),
              c.ownPeriodB == 0 ? std::make_pair(0u, 0u) : std::make_pair(11u, 22u));
  }
  EXPECT_FALSE(DataBlock::SetupCineBlocks({}, 3000, 0));
}

// Copies share the cine block and the mutex, which live until the last copy
// goes (a second delete or a use after free would show under the address
// sanitizer). Two threads count under the locks of two copies made after the
// original is gone, yielding between reading and writing the counter: with
// one mutex no increment is lost.
TEST(DataBlockTest, CopiesShareTheCineBlockAndTheMutexUntilTheLast) {
  std::vector<unsigned char> cineMemory(1000);
  auto original = std::make_unique<DataBlock>();
  original->CreateCineBlock(cineMemory.data(), 1000);
  CineBlock* cine = original->GetCineBlock();
  DataBlock copy(*original);
  DataBlock assigned;
  assigned = copy;
  EXPECT_EQ(copy.GetCineBlock(), cine);
  EXPECT_EQ(assigned.GetCineBlock(), cine);
  original.reset();
  EXPECT_EQ(cine->GetSize(), 1000u);
  long counter = 0;
  auto count = [&counter](DataBlock* user) {
    for (int i = 0; i < 2000; ++i) {
      user->Lock();
      user->Lock();  // re-entrant for its owner
      const long seen = counter;
      std::this_thread::yield();
      counter = seen + 1;
      user->Unlock();
      user->Unlock();
    }
  };
  std::thread a(count, &copy);
  std::thread b(count, &assigned);
  a.join();
  b.join();
  EXPECT_EQ(counter, 4000);
  assigned.CreateCineBlock(cineMemory.data(), 500);
  EXPECT_EQ(copy.GetCineBlock(), cine);
  EXPECT_EQ(assigned.GetCineBlock()->GetSize(), 500u);
}
