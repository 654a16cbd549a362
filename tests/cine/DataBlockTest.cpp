#include "mox_utils/cine/DataBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// A region of the acquisition memory with guard bytes on both sides.
struct Region {
  explicit Region(std::size_t size) : bytes(size + 64, 0xC3) {}
  unsigned char* begin() { return bytes.data() + 32; }
  unsigned char* end() { return begin() + (bytes.size() - 64); }
  bool guardsIntact() const {
    return std::all_of(bytes.begin(), bytes.begin() + 32, [](unsigned char b) { return b == 0xC3; }) &&
           std::all_of(bytes.end() - 32, bytes.end(), [](unsigned char b) { return b == 0xC3; });
  }
  std::vector<unsigned char> bytes;
};

void setGeometry(DataBlock& block, unsigned int lineSize, unsigned int numLines, unsigned int group = 0,
                 std::uint64_t period = 0) {
  BlockSetup<DataBlock> setup = block.SetupFrames();
  setup.lineSize = lineSize;
  setup.numLines = numLines;
  setup.group = group;
  setup.framePeriod = period;
  setup.periodInfo1 = period == 0 ? 0 : 11;
  setup.periodInfo2 = period == 0 ? 0 : 22;
  setup.cineParam = 99;  // ignored by data blocks
  setup.maxFrames = 3;   // ignored by data blocks
  block.SetupFrames(setup);
}

// A block of lineSize 100, numLines 10 (F = 1004 with the default tag) on a
// region of `frames` frame positions.
struct TaggedBlock {
  explicit TaggedBlock(std::size_t frames, std::size_t slack = 0) : region(frames * 1004 + slack) {
    block.Init(static_cast<int>(frames * 1004 + slack), 0, region.begin(), region.end());
    setGeometry(block, 100, 10);
    block.SetEOB();
  }
  const unsigned char* at(int frame) { return region.begin() + frame * 1004; }
  Region region;
  DataBlock block;
};

}  // namespace

TEST(DataBlockTest, FramePositionsFollowTheGeometryAndTheUsedEnd) {
  ASSERT_EQ(DataBlock::GetTagSize(), 4u);
  TaggedBlock t(10, 1003);
  EXPECT_EQ(t.block.GetFrameSize(), 1004u);
  EXPECT_EQ(t.block.GetMaxFrames(), 10);
  EXPECT_EQ(t.block.GetActualEnd(), t.at(10));
  EXPECT_TRUE(t.block.IsValid());
  EXPECT_FALSE(t.block.SetEOB(12, 1004));
  EXPECT_EQ(t.block.GetMaxFrames(), 10);
  EXPECT_FALSE(t.block.SetEOB(-1, 1004));
  EXPECT_FALSE(t.block.SetEOB(0x10000, 0x10000));  // overflows 32 bits
  EXPECT_TRUE(t.block.SetEOB(5, 1004));
  EXPECT_EQ(t.block.GetNumFitFrames(), 5);
  EXPECT_TRUE(t.block.SetEOB(0, 1004));
  EXPECT_FALSE(t.block.IsValid());

  DataBlock::SetTagSize(24);
  EXPECT_EQ(t.block.GetFrameSize(), 1024u);
  DataBlock::SetTagSize(4);
  DataBlock empty;
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(empty.GetMaxFrames(), 0);
  EXPECT_EQ(empty.GetMLA(), 1);
}

TEST(DataBlockTest, ReadPositionClampsOrWrapsAtTheUsedEnds) {
  TaggedBlock t(10);
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
      {"zero count", 4, 0, true, false, 4, 0},
      {"negative count moves back", 4, -2, true, false, 2, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned char* p = t.at(c.from);
    const int moved = c.increment ? t.block.Increment(&p, c.count, c.wrap) : t.block.Decrement(&p, c.count, c.wrap);
    EXPECT_EQ(p, t.at(c.to));
    EXPECT_EQ(moved, c.result);
  }
  // The read buffer itself moves through its address.
  t.block.SetReadBuffer(t.region.begin());
  EXPECT_EQ(t.block.Increment(t.block.GetReadBufferPtr(), 4, false), 4);
  EXPECT_EQ(t.block.GetReadBuffer(), t.at(4));
  // A position far below the region (the address space's start) is outside.
  const unsigned char* low = nullptr;
  t.block.Decrement(&low, 1, false);
  EXPECT_EQ(low, t.at(0));
}

TEST(DataBlockTest, FrameCountComesFromTheFirstTagAndTheReadPosition) {
  TaggedBlock t(10);
  std::fill(t.region.begin(), t.region.end(), 0xFF);
  t.block.SetReadBuffer(t.region.begin() + 3 * 1004);
  t.block.Erase();
  EXPECT_EQ(t.block.GetReadBuffer(), nullptr);
  EXPECT_EQ(t.block.GetFrameCount(), 0);
  // Erase zeroed one word per frame position and nothing else.
  for (std::size_t i = 0; i < 10 * 1004; ++i) {
    ASSERT_EQ(t.region.begin()[i], i % 1004 < 4 ? 0 : 0xFF) << "byte " << i;
  }
  EXPECT_TRUE(t.region.guardsIntact());
  t.block.SetReadBuffer(t.region.begin() + 3 * 1004);
  EXPECT_EQ(t.block.GetFrameCount(), 3);
  t.region.begin()[1] = 0x01;  // frame 256: the region has wrapped
  EXPECT_EQ(t.block.GetFrameCount(), 10);
  t.region.begin()[1] = 0;
  t.region.begin()[2] = 0x01;  // the high half of the tag word is not a count
  EXPECT_EQ(t.block.GetFrameCount(), 3);
}

TEST(DataBlockTest, EraseStaysInsideRegionsOfAnyShape) {
  struct Case {
    unsigned int lineSize, numLines, tag;
    std::size_t regionSize;
  } cases[] = {{1, 1, 0, 10}, {1, 1, 1, 7}, {3, 3, 2, 33}, {100, 10, 4, 1003}, {100, 10, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lineSize << "x" << c.numLines << " tag " << c.tag << " region "
                                    << c.regionSize);
    DataBlock::SetTagSize(c.tag);
    Region region(c.regionSize);
    DataBlock block;
    block.Init(static_cast<int>(c.regionSize), 0, region.begin(), region.end());
    setGeometry(block, c.lineSize, c.numLines);
    block.Erase();
    EXPECT_TRUE(region.guardsIntact());
  }
  DataBlock::SetTagSize(4);
}

// Two data blocks of 10 x 10 bytes (R = 104) over `framesA` and `framesB`
// frame positions, each with a cine block on its part of one memory.
struct TwoBlocks {
  TwoBlocks(int framesA, int framesB, unsigned int cineA, unsigned int cineB)
      : ra(framesA * 108), rb(framesB * 108), cine(cineA + cineB) {
    a.Init(framesA * 108, 0, ra.begin(), ra.end());
    b.Init(framesB * 108, 0, rb.begin(), rb.end());
    setGeometry(a, 10, 10);
    setGeometry(b, 10, 10);
    a.SetEOB();
    b.SetEOB();
    a.CreateCineBlock(cine.data(), cineA);
    b.CreateCineBlock(cine.data() + cineA, cineB);
  }
  Region ra, rb;
  std::vector<unsigned char> cine;
  DataBlock a, b;
};

// Within a group, a block whose region holds k times the frames of the
// smallest gets k times its cine slots; every group from 0 to the highest
// must get a unit of more than two records.
TEST(DataBlockTest, CineBlocksOfAGroupSpanTheSameTime) {
  struct Case {
    const char* name;
    int framesB;
    unsigned int cineA, cineB, groupB;
    bool ok;
    unsigned int maxA, maxB;
  } cases[] = {
      // unit = min(10000 / 104, 10000 / 312) = 32: caps of 32 and 96 slots.
      {"ratio 3", 30, 10000, 10000, 0, true, 31, 95},
      {"a group each", 10, 2000, 2000, 1, true, 18, 18},
      {"group 1 missing", 10, 2000, 2000, 2, false, 18, 18},
      {"below one unit", 30, 10400, 300, 0, false, 0, 0},  // no cine block is set up
      {"two units", 30, 10400, 624, 0, false, 1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TwoBlocks t(10, c.framesB, c.cineA, c.cineB);
    t.b.SetGroup(c.groupB);
    EXPECT_EQ(DataBlock::SetupCineBlocks({&t.a, nullptr, &t.b}, 3000, 7), c.ok);
    EXPECT_EQ(t.a.GetCineBlock()->GetMaxFrames(), c.maxA);
    EXPECT_EQ(t.b.GetCineBlock()->GetMaxFrames(), c.maxB);
  }
  EXPECT_FALSE(DataBlock::SetupCineBlocks({}, 3000, 0));
}

TEST(DataBlockTest, CineBlocksTakeTheBasePeriodPerRatioOrTheirOwn) {
  TwoBlocks t(10, 30, 10000, 10000);
  EXPECT_TRUE(DataBlock::SetupCineBlocks({&t.a, &t.b}, 3000, 7));
  EXPECT_EQ(t.a.GetCineBlock()->GetFramePeriod(), 3000u);
  EXPECT_EQ(t.b.GetCineBlock()->GetFramePeriod(), 1000u);
  EXPECT_EQ(t.b.GetCineBlock()->GetCineParam(), 7);
  EXPECT_EQ(t.b.GetCineBlock()->GetLineSize(), 10u);
  setGeometry(t.b, 10, 10, 0, 5000);
  EXPECT_TRUE(DataBlock::SetupCineBlocks({&t.a, &t.b}, 3000, 0));
  EXPECT_EQ(t.b.GetCineBlock()->GetFramePeriod(), 5000u);
  EXPECT_EQ(t.b.GetCineBlock()->GetPeriodInfo1(), 11u);
  EXPECT_EQ(t.b.GetCineBlock()->GetPeriodInfo2(), 22u);
  // A group number near the top of the range fails without walking to it.
  t.b.SetGroup(0xFFFFFFF0u);
  EXPECT_FALSE(DataBlock::SetupCineBlocks({&t.a, &t.b}, 3000, 0));
}

// Copies share the cine block and the mutex, which live until the last copy
// goes (a second delete or a use after free would show under the address
// sanitizer). Two threads count under the locks of two copies made after the
// original is gone: with one mutex no increment is lost (and the thread
// sanitizer sees no race).
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
    for (int i = 0; i < 20000; ++i) {
      user->Lock();
      user->Lock();  // re-entrant for its owner
      ++counter;
      user->Unlock();
      user->Unlock();
    }
  };
  std::thread a(count, &copy);
  std::thread b(count, &assigned);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  assigned.CreateCineBlock(cineMemory.data(), 500);
  EXPECT_EQ(copy.GetCineBlock(), cine);
  EXPECT_EQ(assigned.GetCineBlock()->GetSize(), 500u);
}
