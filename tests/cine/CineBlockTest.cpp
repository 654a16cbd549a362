#include "mox_utils/cine/CineBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "mox_utils/cine/Deinterleave.h"
#include "support/ScratchDir.h"

using mox::test::ScratchDir;

namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kGuard = 0xA5;

// A frame whose every byte derives from `id` and its position, so that any
// mix-up of frames, offsets or partial copies shows.
Bytes stampedFrame(std::size_t size, int id) {
  Bytes frame(size);
  for (std::size_t i = 0; i < size; ++i) frame[i] = static_cast<unsigned char>(id * 31 + i * 7 + (i >> 8));
  return frame;
}

Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The header of a cine file: three little-endian 32-bit words.
Bytes header(std::uint32_t lineSize, std::uint32_t numLines, std::uint32_t count) {
  Bytes bytes;
  for (std::uint32_t v : {lineSize, numLines, count}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
  }
  return bytes;
}

// Byte b of line `line` after de-interleaving `in`: word j of line 2p (+1)
// comes from input word 2j (+1) of line pair p.
unsigned char deinterleaved(const unsigned char* in, std::size_t words, std::size_t line, std::size_t b) {
  return in[line / 2 * 4 * words + 4 * (b / 2) + 2 * (line % 2) + b % 2];
}

void layout(CineBlock& block, unsigned int lineSize, unsigned int numLines, unsigned int maxFrames = 0xFFFFFFFFu) {
  BlockSetup<CineBlock> s = block.SetupFrames();
  s.lineSize = lineSize;
  s.numLines = numLines;
  s.maxFrames = maxFrames;
  block.SetupFrames(s);
}

// A block on caller memory followed by guard bytes that must never change.
struct GuardedBlock {
  GuardedBlock(unsigned int size, unsigned int lineSize = 0, unsigned int numLines = 0,
               unsigned int maxFrames = 0xFFFFFFFFu)
      : memory(size + 64, kGuard), block(memory.data(), size), size(size) {
    layout(block, lineSize, numLines, maxFrames);
  }
  bool guardIntact() const {
    return std::all_of(memory.begin() + size, memory.end(), [](unsigned char b) { return b == kGuard; });
  }
  Bytes memory;
  CineBlock block;
  unsigned int size;
};

void writeStamped(CineBlock& block, int id, short extra = 0) {
  const auto frame = stampedFrame(block.GetDataSize(), id);
  ASSERT_NE(block.WriteFrame(frame.data(), block.GetDataSize(), static_cast<short>(id), extra, false), nullptr);
}

std::vector<int> storedIds(CineBlock& block) {
  std::vector<int> ids;
  for (int i = 0; i < block.GetFrameCount(); ++i) ids.push_back(block.GetFrame(i).GetID());
  return ids;
}

bool frameHoldsStamp(const CineBlock::Frame& frame, std::size_t size) {
  const auto expected = stampedFrame(size, frame.GetID());
  return frame.GetData() != nullptr && std::memcmp(frame.GetData(), expected.data(), size) == 0;
}

}  // namespace

TEST(CineBlockTest, LayoutFitsSlotsAndRecordsIntoTheMemory) {
  struct Case {
    unsigned int size, lineSize, numLines, maxFrames, expectedMax;
  } cases[] = {
      {1000, 10, 10, 0xFFFFFFFFu, 8},  // 1000 / 104 = 9 slots
      {1000, 10, 10, 5, 4},            // capped at 5 slots
      {1000, 10, 10, 20, 8},           // a cap above the fit changes nothing
      {1040, 10, 10, 0xFFFFFFFFu, 9},  // exactly 10 slots
      {103, 10, 10, 0xFFFFFFFFu, 0},   // not one slot
      {1000, 0, 10, 0xFFFFFFFFu, 0},   // no frame size
      {1000, 10, 10, 1, 0},            // one slot never holds a frame
      // A frame size that wraps a 32-bit product must not give slots.
      {1000, 0x10000, 0x10000, 0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, " << c.lineSize << "x" << c.numLines << " cap "
                                    << c.maxFrames);
    GuardedBlock g(c.size, c.lineSize, c.numLines, c.maxFrames);
    EXPECT_EQ(g.block.GetMaxFrames(), c.expectedMax);
    const unsigned int f = c.lineSize * c.numLines;
    for (unsigned int id = 0; id < c.expectedMax + 3 && f != 0 && f < c.size; ++id) {
      const auto frame = stampedFrame(f, static_cast<int>(id));
      g.block.WriteFrame(frame.data(), f, static_cast<short>(id), static_cast<short>(-id), false);
    }
    EXPECT_EQ(g.block.GetFrameCount(), static_cast<int>(c.expectedMax));
    EXPECT_TRUE(g.guardIntact());
  }
}

TEST(CineBlockTest, OwnMemoryIsAlignedAndZeroedAndNoMemoryHasNoLayout) {
  CineBlock none(nullptr, 1000);
  layout(none, 10, 10);
  const unsigned char frame[100] = {};
  EXPECT_EQ(none.GetMaxFrames(), 0u);
  EXPECT_EQ(none.WriteFrame(frame, 100, 0, 0, false), nullptr);
  EXPECT_FALSE(none.GetFrame(0).IsValid());
  EXPECT_EQ(none.Increment(1), 0);
  CineBlock block(1000u);
  ASSERT_NE(block.GetStartAddr(), nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.GetStartAddr()) % 16, 0u);
  EXPECT_TRUE(std::all_of(block.GetStartAddr(), block.GetStartAddr() + 1000, [](unsigned char b) { return b == 0; }));
  CineBlock tooLarge(0x80000000u);
  EXPECT_EQ(tooLarge.GetStartAddr(), nullptr);
}

TEST(CineBlockTest, WrongSizeIsRefusedAndChangesNothing) {
  GuardedBlock g(1000, 10, 10);
  writeStamped(g.block, 0);
  const auto frame = stampedFrame(101, 9);
  EXPECT_EQ(g.block.WriteFrame(frame.data(), 99, 9, 9, false), nullptr);
  EXPECT_EQ(g.block.WriteFrame(frame.data(), 101, 9, 9, false), nullptr);
  EXPECT_EQ(g.block.WriteFrame(nullptr, 100, 9, 9, false), nullptr);
  EXPECT_EQ(storedIds(g.block), std::vector<int>({0}));
  EXPECT_EQ(g.block.GetFrame(1).GetID(), -1);
}

TEST(CineBlockTest, FullRingDropsTheOldestFrameAndCountsFromTheOldestId) {
  GuardedBlock g(1000, 10, 10);  // 9 slots of 100 bytes
  // Many turns of the ring later the last eight frames are there, in order,
  // each with its own data and extra value.
  for (int id = 0; id < 40; ++id) writeStamped(g.block, id, static_cast<short>(100 + id));
  EXPECT_EQ(storedIds(g.block), std::vector<int>({32, 33, 34, 35, 36, 37, 38, 39}));
  for (unsigned int i = 0; i < 8; ++i) {
    const CineBlock::Frame frame = g.block.GetFrame(i);
    EXPECT_EQ(frame.GetExtra(), frame.GetID() + 100);
    EXPECT_TRUE(frameHoldsStamp(frame, 100)) << "index " << i;
  }
  EXPECT_FALSE(g.block.GetFrame(8).IsValid());  // the empty slot after the newest
  EXPECT_EQ(g.block.GetFrame(9).GetData(), nullptr);
  EXPECT_TRUE(g.guardIntact());
  // An oldest ID above 0 is taken to mean a full ring.
  g.block.Erase();
  EXPECT_EQ(g.block.GetFrameCount(), 0);
  for (int id = 5; id <= 7; ++id) writeStamped(g.block, id);
  EXPECT_EQ(g.block.GetFrameCount(), 8);
  EXPECT_EQ(g.block.GetNumValidFrames(), 3);
}

TEST(CineBlockTest, CursorStaysOnTheStoredFramesAndFollowsItsFrame) {
  GuardedBlock g(1000, 10, 10);
  for (int id = 0; id < 3; ++id) writeStamped(g.block, id);
  struct Step {
    bool forward;
    int count, moved, index;
  } steps[] = {{true, 10, 3, 3}, {true, 1, 0, 3},  {false, 10, 3, 0}, {false, 1, 0, 0},
               {true, 0, 0, 0},  {true, -1, 0, 0}, {false, -1, 0, 0}, {true, 2, 2, 2}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << (s.forward ? "+" : "-") << s.count << " from " << g.block.GetIndex());
    EXPECT_EQ(s.forward ? g.block.Increment(s.count) : g.block.Decrement(s.count), s.moved);
    EXPECT_EQ(g.block.GetIndex(), s.index);
  }
  EXPECT_EQ(g.block.GetCurrentFrame().GetID(), 2);
  EXPECT_EQ(g.block.GetCurrentData(), g.block.GetData(2));

  // When the oldest frame is dropped the cursor keeps to its frame, or to
  // the new oldest one.
  for (int id = 3; id < 8; ++id) writeStamped(g.block, id);
  ASSERT_TRUE(g.block.SetFrame(4));
  writeStamped(g.block, 8);
  EXPECT_EQ(g.block.GetIndex(), 3);
  EXPECT_EQ(g.block.GetCurrentFrame().GetID(), 4);
  ASSERT_TRUE(g.block.SetFrame(0));
  writeStamped(g.block, 9);
  EXPECT_EQ(g.block.GetCurrentFrame().GetID(), 2);

  // On a full ring that has wrapped, the cursor still cannot leave the run.
  for (int id = 10; id < 20; ++id) writeStamped(g.block, id);
  EXPECT_EQ(g.block.Decrement(5), 0);
  EXPECT_EQ(g.block.Increment(100), 8);
  EXPECT_EQ(g.block.Decrement(100), 8);
  EXPECT_EQ(g.block.GetCurrentFrame().GetID(), 12);
  // Every slot index is a valid cursor position, the index past them is not.
  EXPECT_FALSE(g.block.SetFrame(-1));
  EXPECT_FALSE(g.block.SetFrame(9));
  EXPECT_TRUE(g.block.SetFrame(8));
  EXPECT_EQ(g.block.GetIndex(), 8);
}

TEST(CineBlockTest, ReapplyingTheLayoutKeepsFramesAndAnotherEmptiesTheRing) {
  GuardedBlock g(1000, 10, 10);
  for (int id = 0; id < 3; ++id) writeStamped(g.block, id);
  g.block.SetFrame(2);
  layout(g.block, 10, 10);
  EXPECT_EQ(storedIds(g.block), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(g.block.GetIndex(), 2);
  layout(g.block, 10, 5);
  EXPECT_EQ(g.block.GetFrameCount(), 0);
  EXPECT_EQ(g.block.GetIndex(), 0);
  EXPECT_EQ(g.block.GetMaxFrames(), 1000u / 54 - 1);
}

TEST(CineBlockTest, MlaLeavesUnpairedBytesAlone) {
  struct Case {
    unsigned int lineSize, numLines;
  } cases[] = {{7, 3}, {8, 1}, {1, 4}, {9, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lineSize << "x" << c.numLines);
    const unsigned int f = c.lineSize * c.numLines;
    GuardedBlock g(4 * (f + 4), c.lineSize, c.numLines);
    Bytes before(f, 0xEE);
    g.block.WriteFrame(before.data(), f, 0, 0, false);
    g.block.Erase();  // the write slot is 0 again; the old bytes stay
    const auto input = stampedFrame(f, 3);
    const unsigned char* stored = g.block.WriteFrame(input.data(), f, 1, 2, true);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(g.block.GetFrame(0).GetID(), 1);
    const unsigned int words = c.lineSize / 2;
    for (unsigned int line = 0; line < c.numLines; ++line) {
      for (unsigned int b = 0; b < c.lineSize; ++b) {
        const bool paired = line / 2 < c.numLines / 2 && b < 2 * words;
        const unsigned char want = paired ? deinterleaved(input.data(), words, line, b) : 0xEE;
        ASSERT_EQ(stored[line * c.lineSize + b], want) << "line " << line << " byte " << b;
      }
    }
    EXPECT_TRUE(g.guardIntact());
  }
}

// Every kernel and the whole-frame path (which stages adjacent lines in runs)
// against the definition: unaligned starts, lengths around every vector width
// and past a staging run, lines adjacent or with a gap that must stay
// untouched.
TEST(CineBlockTest, EveryDeinterleavePathMatchesTheDefinition) {
  auto paths = mox::detail::deinterleaveKernels();
  paths.push_back({"whole frame", &mox::detail::deinterleaveFrame});
  for (const auto& path : paths) {
    for (std::size_t words : {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100, 257, 512, 10000}) {
      for (std::size_t gap : {0, 1, 5}) {
        SCOPED_TRACE(testing::Message() << path.name << " words " << words << " gap " << gap);
        const std::size_t pairs = 5, stride = 2 * words + gap;
        Bytes in(1 + pairs * 4 * words);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 13 + (i >> 9));
        Bytes out(3 + 2 * pairs * stride + 16, 0x5A);
        path.fn(in.data() + 1, out.data() + 3, words, stride, pairs);
        for (std::size_t line = 0; line < 2 * pairs; ++line) {
          for (std::size_t b = 0; b < stride; ++b) {
            const unsigned char want = b < 2 * words ? deinterleaved(in.data() + 1, words, line, b) : 0x5A;
            ASSERT_EQ(out[3 + line * stride + b], want) << "line " << line << " byte " << b;
          }
        }
        EXPECT_TRUE(std::all_of(out.end() - 16, out.end(), [](unsigned char v) { return v == 0x5A; }));
      }
    }
  }
}

TEST(CineBlockTest, CopiesARangeOfAnotherBlockAcrossItsWrapOrRefuses) {
  GuardedBlock source(1000, 10, 10);  // 9 slots
  for (int id = 0; id < 13; ++id) writeStamped(source.block, id, static_cast<short>(-id));
  // Logical 0 ... 7 hold IDs 5 ... 12 and wrap around the end of the slots.
  struct Case {
    unsigned int targetSize, first, last;
    std::vector<int> expected;
  } cases[] = {
      {2000, 0, 7, {5, 6, 7, 8, 9, 10, 11, 12}},
      {2000, 2, 5, {7, 8, 9, 10}},
      {2000, 3, 3, {8}},
      {420, 1, 7, {6, 7, 8}},  // 4 slots: the range is cut to 3 frames
      {2000, 6, 8, {11, 12}},  // logical 8 is the empty slot and stays empty
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << ".." << c.last << " into " << c.targetSize);
    GuardedBlock target(c.targetSize, 3, 3);
    writeStamped(target.block, 77);
    ASSERT_TRUE(target.block.SetupFrames(&source.block, c.first, c.last));
    EXPECT_EQ(target.block.GetLineSize(), 10u);
    EXPECT_EQ(target.block.GetIndex(), 0);
    EXPECT_EQ(target.block.GetNumValidFrames(), static_cast<int>(c.expected.size()));
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      const CineBlock::Frame frame = target.block.GetFrame(static_cast<unsigned int>(i));
      EXPECT_EQ(frame.GetID(), c.expected[i]);
      EXPECT_EQ(frame.GetExtra(), -c.expected[i]);
      EXPECT_TRUE(frameHoldsStamp(frame, 100));
    }
    EXPECT_FALSE(target.block.GetFrame(static_cast<unsigned int>(c.last - c.first + 1)).IsValid());
    EXPECT_TRUE(target.guardIntact());
  }

  // Impossible copies are refused; only one that fails for want of room has
  // taken over the geometry first.
  GuardedBlock target(1000);
  EXPECT_FALSE(target.block.SetupFrames(nullptr, 0, 0));
  EXPECT_FALSE(target.block.SetupFrames(&source.block, 2, 1));
  EXPECT_FALSE(target.block.SetupFrames(&source.block, 0, 9));
  EXPECT_FALSE(target.block.SetupFrames(&target.block, 0, 0));
  EXPECT_EQ(target.block.GetLineSize(), 0u);
  GuardedBlock tiny(103);  // not one slot
  EXPECT_FALSE(tiny.block.SetupFrames(&source.block, 0, 0));
  EXPECT_EQ(tiny.block.GetLineSize(), 10u);
  CineBlock noMemory(nullptr, 1000);
  EXPECT_FALSE(noMemory.SetupFrames(&source.block, 0, 0));
}

// The expected file is built here byte by byte from the written frames, not
// by the code under test.
TEST(CineBlockTest, SavesTheStoredFramesOldestFirstInTheDocumentedFormat) {
  ScratchDir dir;
  GuardedBlock g(1000, 6, 4, 9);  // room for 35 slots of 24 bytes, capped at 9
  for (int id = 0; id < 12; ++id) writeStamped(g.block, id, static_cast<short>(0x1234 - id));
  g.block.Save(dir.wide("wrapped.cine").c_str());

  Bytes expected = header(6, 4, 8);
  for (int id = 4; id < 12; ++id) {
    const int extra = 0x1234 - id;
    expected.insert(expected.end(), {static_cast<unsigned char>(id), 0, static_cast<unsigned char>(extra & 0xFF),
                                     static_cast<unsigned char>(extra >> 8)});
  }
  for (int id = 4; id < 12; ++id) {
    const auto frame = stampedFrame(24, id);
    expected.insert(expected.end(), frame.begin(), frame.end());
  }
  EXPECT_EQ(readBytes(dir / "wrapped.cine"), expected);
}

// A block without frames saves the header alone; one without memory saves
// nothing at all.
TEST(CineBlockTest, EmptyBlocksSaveAHeaderOnly) {
  ScratchDir dir;
  GuardedBlock g(1000, 10, 10);
  g.block.Save(dir.wide("empty.cine").c_str());
  EXPECT_EQ(readBytes(dir / "empty.cine"), header(10, 10, 0));
  CineBlock noMemory(nullptr, 0);
  noMemory.Save(dir.wide("none.cine").c_str());
  EXPECT_FALSE(std::filesystem::exists(dir / "none.cine"));
}

TEST(CineBlockTest, LoadRefusesWhatIsNotACineFile) {
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"short header", {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0}},
      {"no frame size", header(0, 100, 3)},
      {"no frames", header(10, 10, 0)},
      {"frame size wraps 32 bits", header(0x10000, 0x10000, 1)},
      {"huge frame", header(0xFFFFFFFF, 0xFFFFFFFF, 1)},
      {"huge count", header(1, 1, 0xFFFFFFFF)},
      {"block above 2 GB", header(1024, 1024, 2048)},
      {"block just above the signed limit", header(1, 1, 429496729)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CineBlock::Load(c.bytes.data(), c.bytes.size()), nullptr);
  }
  ScratchDir dir;
  EXPECT_EQ(CineBlock::Load(dir.path().wstring().c_str()), nullptr);
  EXPECT_EQ(CineBlock::Load(dir.wide("missing.cine").c_str()), nullptr);
  EXPECT_EQ(CineBlock::Load(static_cast<const wchar_t*>(nullptr)), nullptr);
  // A cap on the block size refuses what would otherwise load.
  const auto small = header(10, 10, 100);
  EXPECT_EQ(CineBlock::Load(small.data(), small.size(), 104 * 100), nullptr);
  std::unique_ptr<CineBlock> capped(CineBlock::Load(small.data(), small.size(), 104 * 101));
  EXPECT_NE(capped, nullptr);
}

// Every cut of a saved file, the whole file included: the frames wholly in
// the file load with their records, every other frame is empty and reads as
// zero bytes.
TEST(CineBlockTest, LoadKeepsTheWholeFramesOfTruncatedFiles) {
  GuardedBlock g(1000, 3, 2);
  for (int id = 0; id < 4; ++id) writeStamped(g.block, id, static_cast<short>(id + 50));
  ScratchDir dir;
  g.block.Save(dir.wide("full.cine").c_str());
  const auto full = readBytes(dir / "full.cine");
  ASSERT_EQ(full.size(), 12u + 4u * (4u + 6u));
  std::unique_ptr<CineBlock> fromFile(CineBlock::Load(dir.wide("full.cine").c_str()));
  ASSERT_NE(fromFile, nullptr);
  EXPECT_EQ(storedIds(*fromFile), std::vector<int>({0, 1, 2, 3}));
  for (std::size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    std::unique_ptr<CineBlock> loaded(CineBlock::Load(full.data(), length));
    if (length < 12) {
      EXPECT_EQ(loaded, nullptr);
      continue;
    }
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetMaxFrames(), 4u);
    const std::size_t whole = length < 28 ? 0 : (length - 28) / 6;
    for (unsigned int i = 0; i < 4; ++i) {
      const CineBlock::Frame frame = loaded->GetFrame(i);
      if (i < whole) {
        EXPECT_EQ(frame.GetID(), static_cast<short>(i));
        EXPECT_EQ(frame.GetExtra(), static_cast<short>(i + 50));
        EXPECT_TRUE(frameHoldsStamp(frame, 6));
      } else {
        EXPECT_EQ(frame.GetID(), -1);
        EXPECT_TRUE(std::all_of(frame.GetData(), frame.GetData() + 6, [](unsigned char b) { return b == 0; }));
      }
    }
  }
}
