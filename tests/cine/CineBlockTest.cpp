#include "mox_utils/cine/CineBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "mox_utils/cine/Deinterleave.h"
#include "support/ScratchDir.h"

using mox::test::ScratchDir;

namespace {

using Bytes = std::vector<unsigned char>;

// A frame whose every byte derives from `id` and its position, so that any
// mix-up of frames, offsets or partial copies shows.
Bytes stamp(std::size_t size, int id) {
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

void expectFrame(const CineBlock::Frame& frame, int id, int extra, std::size_t size) {
  EXPECT_EQ(frame.GetID(), id);
  EXPECT_EQ(frame.GetExtra(), extra);
  ASSERT_NE(frame.GetData(), nullptr);
  EXPECT_EQ(Bytes(frame.GetData(), frame.GetData() + size), stamp(size, id)) << "frame " << id;
}

// A block on caller memory followed by guard bytes that must never change.
struct Ring {
  explicit Ring(unsigned int size, unsigned int lineSize = 0, unsigned int numLines = 0,
                unsigned int maxFrames = 0xFFFFFFFFu)
      : memory(size + 64, 0xA5), block(memory.data(), size) {
    layout(block, lineSize, numLines, maxFrames);
  }
  ~Ring() {
    EXPECT_TRUE(std::all_of(memory.end() - 64, memory.end(), [](unsigned char b) { return b == 0xA5; }));
  }
  void write(short id, short extra = 0) {
    const Bytes frame = stamp(block.GetDataSize(), id);
    ASSERT_NE(block.WriteFrame(frame.data(), block.GetDataSize(), id, extra, false), nullptr);
  }
  std::vector<int> ids() {
    std::vector<int> ids;
    for (int i = 0; i < block.GetFrameCount(); ++i) ids.push_back(block.GetFrame(i).GetID());
    return ids;
  }
  Bytes memory;
  CineBlock block;
};

}  // namespace

TEST(CineBlockTest, LayoutFitsSlotsAndRecordsIntoTheMemory) {
  struct Case {
    unsigned int size, lineSize, numLines, maxFrames, expectedMax;
  } cases[] = {
      {1000, 10, 10, 0xFFFFFFFFu, 8},            // 1000 / 104 = 9 slots
      {1000, 10, 10, 5, 4},                      // capped at 5 slots
      {1000, 10, 10, 20, 8},                     // a cap above the fit changes nothing
      {1040, 10, 10, 0xFFFFFFFFu, 9},            // exactly 10 slots
      {103, 10, 10, 0xFFFFFFFFu, 0},             // not one slot
      {1000, 0, 10, 0xFFFFFFFFu, 0},             // no frame size
      {1000, 10, 10, 1, 0},                      // one slot never holds a frame
      {1000, 0x10000, 0x10000, 0xFFFFFFFFu, 0},  // the frame size wraps 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    Ring r(c.size, c.lineSize, c.numLines, c.maxFrames);
    EXPECT_EQ(r.block.GetMaxFrames(), c.expectedMax);
    const unsigned int f = c.lineSize * c.numLines;
    const Bytes frame(f < c.size ? f : 0);
    for (short id = 0; id < 12 && f != 0 && f < c.size; ++id) r.block.WriteFrame(frame.data(), f, id, 0, false);
    EXPECT_EQ(r.block.GetFrameCount(), static_cast<int>(c.expectedMax));
  }
}

// Frames of the wrong size are refused without a trace. Many turns of the
// ring later the last eight frames are there, in order, each with its own
// data and extra value.
TEST(CineBlockTest, FullRingDropsTheOldestFrameAndCountsFromTheOldestId) {
  Ring r(1000, 10, 10);  // 9 slots of 100 bytes
  for (int id = 0; id < 3; ++id) r.write(id, 100 + id);
  const Bytes wrong = stamp(101, 9);
  EXPECT_EQ(r.block.WriteFrame(wrong.data(), 99, 9, 9, false), nullptr);
  EXPECT_EQ(r.block.WriteFrame(wrong.data(), 101, 9, 9, false), nullptr);
  EXPECT_EQ(r.block.WriteFrame(nullptr, 100, 9, 9, false), nullptr);
  EXPECT_EQ(r.ids(), std::vector<int>({0, 1, 2}));
  for (int id = 3; id < 40; ++id) r.write(id, 100 + id);
  EXPECT_EQ(r.ids(), std::vector<int>({32, 33, 34, 35, 36, 37, 38, 39}));
  for (unsigned int i = 0; i < 8; ++i) expectFrame(r.block.GetFrame(i), 32 + i, 132 + i, 100);
  EXPECT_FALSE(r.block.GetFrame(8).IsValid());  // the empty slot after the newest
  EXPECT_EQ(r.block.GetFrame(9).GetData(), nullptr);
  // Erase empties every slot; an oldest ID above 0 is taken to mean a full
  // ring.
  r.block.Erase();
  EXPECT_EQ(r.block.GetFrameCount(), 0);
  for (int id = 5; id <= 7; ++id) r.write(id);
  EXPECT_EQ(r.block.GetFrameCount(), 8);
  EXPECT_EQ(r.block.GetNumValidFrames(), 3);
}

TEST(CineBlockTest, CursorStaysOnTheStoredFramesAndFollowsItsFrameUntilTheLayoutChanges) {
  Ring r(1000, 10, 10);
  for (int id = 0; id < 3; ++id) r.write(id);
  struct Step {
    int count, moved, index;  // a negative count moves back (Decrement)
  } steps[] = {{10, 3, 3}, {1, 0, 3}, {-10, 3, 0}, {-1, 0, 0}, {0, 0, 0}, {2, 2, 2}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.count << " from " << r.block.GetIndex());
    EXPECT_EQ(s.count >= 0 ? r.block.Increment(s.count) : r.block.Decrement(-s.count), s.moved);
    EXPECT_EQ(r.block.GetIndex(), s.index);
  }
  EXPECT_EQ(r.block.GetCurrentFrame().GetID(), 2);

  // When the oldest frame is dropped the cursor keeps to its frame, or to
  // the new oldest one.
  for (int id = 3; id < 8; ++id) r.write(id);
  ASSERT_TRUE(r.block.SetFrame(4));
  r.write(8);
  EXPECT_EQ(r.block.GetIndex(), 3);
  EXPECT_EQ(r.block.GetCurrentFrame().GetID(), 4);
  ASSERT_TRUE(r.block.SetFrame(0));
  r.write(9);
  EXPECT_EQ(r.block.GetCurrentFrame().GetID(), 2);

  // On a full ring that has wrapped, the cursor still cannot leave the run.
  for (int id = 10; id < 20; ++id) r.write(id);
  EXPECT_EQ(r.block.Decrement(5), 0);
  EXPECT_EQ(r.block.Increment(100), 8);
  EXPECT_EQ(r.block.Decrement(100), 8);
  EXPECT_EQ(r.block.GetCurrentFrame().GetID(), 12);
  // Every slot index is a valid cursor position, the index past them is not.
  EXPECT_FALSE(r.block.SetFrame(-1));
  EXPECT_FALSE(r.block.SetFrame(9));
  EXPECT_TRUE(r.block.SetFrame(8));
  // Applying the same layout again keeps frames and cursor, another empties
  // the ring.
  layout(r.block, 10, 10);
  EXPECT_EQ(r.ids(), std::vector<int>({12, 13, 14, 15, 16, 17, 18, 19}));
  EXPECT_EQ(r.block.GetIndex(), 8);
  layout(r.block, 10, 5);
  EXPECT_EQ(r.block.GetFrameCount(), 0);
  EXPECT_EQ(r.block.GetIndex(), 0);
  EXPECT_EQ(r.block.GetMaxFrames(), 1000u / 54 - 1);
}

TEST(CineBlockTest, MlaLeavesUnpairedBytesAlone) {
  for (auto [lineSize, numLines] : {std::pair{7u, 3u}, {8u, 1u}, {1u, 4u}, {9u, 5u}}) {
    SCOPED_TRACE(testing::Message() << lineSize << "x" << numLines);
    const unsigned int f = lineSize * numLines;
    Ring r(4 * (f + 4), lineSize, numLines);
    const Bytes before(f, 0xEE), input = stamp(f, 3);
    r.block.WriteFrame(before.data(), f, 0, 0, false);
    r.block.Erase();  // the write slot is 0 again; the old bytes stay
    const unsigned char* stored = r.block.WriteFrame(input.data(), f, 1, 2, true);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(r.block.GetFrame(0).GetID(), 1);
    for (unsigned int line = 0; line < numLines; ++line) {
      for (unsigned int b = 0; b < lineSize; ++b) {
        const bool paired = line / 2 < numLines / 2 && b < lineSize / 2 * 2;
        const unsigned char want = paired ? deinterleaved(input.data(), lineSize / 2, line, b) : 0xEE;
        ASSERT_EQ(stored[line * lineSize + b], want) << "line " << line << " byte " << b;
      }
    }
  }
}

// Every kernel and the whole-frame path (which stages adjacent lines in runs)
// against the definition: unaligned starts, lengths around every vector width
// and over several staging runs, lines adjacent or with a gap that must stay
// untouched.
TEST(CineBlockTest, EveryDeinterleavePathMatchesTheDefinition) {
  auto paths = mox::detail::deinterleaveKernels();
  paths.push_back({"whole frame", &mox::detail::deinterleaveFrame});
  for (const auto& path : paths) {
    for (std::size_t words : {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100, 257, 1000, 10000}) {
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
  Ring source(1000, 10, 10);  // 9 slots
  for (int id = 0; id < 13; ++id) source.write(id, -id);
  // Logical 0 ... 7 hold IDs 5 ... 12 and wrap around the end of the slots;
  // logical 8 is the empty slot and stays empty. The targets hold frames of
  // their own, with the cursor elsewhere. A target of 420 bytes has 4 slots:
  // the range is cut to 3 frames, and as the copy keeps its slot count its
  // old frames must still end after the copied ones.
  struct Case {
    unsigned int targetSize, first, last, count;
  } cases[] = {{2000, 2, 5, 4}, {2000, 3, 3, 1}, {2000, 0, 7, 8}, {420, 1, 7, 3}, {2000, 6, 8, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    Ring target(c.targetSize, 10, 10);
    for (int id = 50; id < 60; ++id) target.write(id);
    target.block.SetFrame(2);
    ASSERT_TRUE(target.block.SetupFrames(&source.block, c.first, c.last));
    EXPECT_EQ(target.block.GetIndex(), 0);
    EXPECT_EQ(target.block.GetNumValidFrames(), static_cast<int>(c.count));
    for (unsigned int i = 0; i < c.count; ++i)
      expectFrame(target.block.GetFrame(i), 5 + c.first + i, -5 - c.first - i, 100);
  }
  // Impossible copies are refused and change nothing; only one that fails
  // for want of room has taken over the geometry first.
  Ring target(1000);
  EXPECT_FALSE(target.block.SetupFrames(nullptr, 0, 0));
  EXPECT_FALSE(target.block.SetupFrames(&source.block, 2, 1));
  EXPECT_FALSE(target.block.SetupFrames(&source.block, 0, 9));
  EXPECT_FALSE(source.block.SetupFrames(&source.block, 0, 0));
  EXPECT_EQ(target.block.GetLineSize(), 0u);
  EXPECT_EQ(source.ids(), std::vector<int>({5, 6, 7, 8, 9, 10, 11, 12}));
  Ring tiny(103);  // not one slot
  EXPECT_FALSE(tiny.block.SetupFrames(&source.block, 0, 0));
  EXPECT_EQ(tiny.block.GetLineSize(), 10u);
  // Without memory no layout gives slots; own memory above the signed 32-bit
  // limit is refused.
  CineBlock noMemory(nullptr, 1000);
  EXPECT_FALSE(noMemory.SetupFrames(&source.block, 0, 0));
  layout(noMemory, 10, 10);
  EXPECT_EQ(noMemory.GetMaxFrames(), 0u);
  EXPECT_EQ(noMemory.WriteFrame(source.block.GetData(0), 100, 0, 0, false), nullptr);
  EXPECT_EQ(CineBlock(0x80000000u).GetStartAddr(), nullptr);
}

// Saving writes the stored frames oldest first: the expected file is built
// here byte by byte from the written frames, not by the code under test. A
// block without frames saves the header alone, one without memory nothing at
// all. Every cut of the file, the whole file included, loads: the frames
// wholly in it with their records, every other frame empty and zeroed.
TEST(CineBlockTest, SavesTheStoredFramesOldestFirstAndLoadsEveryCutOfTheFile) {
  ScratchDir dir;
  Ring r(1000, 6, 4, 9);  // room for 35 slots of 24 bytes, capped at 9
  r.block.Save(dir.wide("empty.cine").c_str());
  EXPECT_EQ(readBytes(dir / "empty.cine"), header(6, 4, 0));
  for (int id = 0; id < 12; ++id) r.write(id, 0x1234 - id);
  r.block.Save(dir.wide("wrapped.cine").c_str());
  Bytes expected = header(6, 4, 8);
  for (int id = 4; id < 12; ++id) {
    const int extra = 0x1234 - id;
    expected.insert(expected.end(), {static_cast<unsigned char>(id), 0, static_cast<unsigned char>(extra & 0xFF),
                                     static_cast<unsigned char>(extra >> 8)});
  }
  for (int id = 4; id < 12; ++id) {
    const Bytes frame = stamp(24, id);
    expected.insert(expected.end(), frame.begin(), frame.end());
  }
  EXPECT_EQ(readBytes(dir / "wrapped.cine"), expected);
  CineBlock(nullptr, 0).Save(dir.wide("none.cine").c_str());
  EXPECT_FALSE(std::filesystem::exists(dir / "none.cine"));

  std::unique_ptr<CineBlock> fromFile(CineBlock::Load(dir.wide("wrapped.cine").c_str()));
  ASSERT_NE(fromFile, nullptr);
  EXPECT_EQ(fromFile->GetFrameCount(), 8);
  expectFrame(fromFile->GetFrame(7), 11, 0x1234 - 11, 24);
  for (std::size_t length = 12; length <= expected.size(); ++length) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    std::unique_ptr<CineBlock> loaded(CineBlock::Load(expected.data(), length));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetMaxFrames(), 8u);
    const std::size_t whole = length < 44 ? 0 : (length - 44) / 24;
    for (unsigned int i = 0; i < 8; ++i) {
      const CineBlock::Frame frame = loaded->GetFrame(i);
      if (i < whole) {
        expectFrame(frame, 4 + i, 0x1234 - 4 - i, 24);
      } else {
        EXPECT_EQ(frame.GetID(), -1);
        EXPECT_TRUE(std::all_of(frame.GetData(), frame.GetData() + 24, [](unsigned char b) { return b == 0; }));
      }
    }
  }
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
      {"block size wraps 64 bits", header(0x80000000, 0x80000000, 3)},
      {"huge count", header(1, 1, 0xFFFFFFFF)},
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
  const Bytes small = header(10, 10, 100);
  EXPECT_EQ(CineBlock::Load(small.data(), small.size(), 104 * 100), nullptr);
  EXPECT_NE(std::unique_ptr<CineBlock>(CineBlock::Load(small.data(), small.size(), 104 * 101)), nullptr);
}
