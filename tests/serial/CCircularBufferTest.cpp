#include "mox_utils/serial/CCircularBuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes sequence(unsigned char first, unsigned int count) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

bool write(CCircularBuffer& ring, const Bytes& bytes) {
  return ring.Write(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

// The oldest count valid bytes (all of them when count is negative), read
// without consuming.
Bytes peek(const CCircularBuffer& ring, int count = -1) {
  Bytes out(count < 0 ? ring.GetNumValidBytes() : static_cast<unsigned int>(count));
  EXPECT_TRUE(ring.Read(out.data(), static_cast<unsigned int>(out.size())));
  return out;
}

// Writes that do not fit drop the oldest bytes; the ring keeps the newest
// size - 1. Cases start from different read positions so the copy wraps at
// different places.
TEST(CCircularBufferTest, OverflowKeepsTheNewestBytes) {
  struct Case {
    unsigned int consumedFirst;  // moves the indexes before the test writes
    unsigned int initial;
    unsigned int added;
  } cases[] = {{0, 7, 3}, {0, 4, 7}, {5, 6, 2}, {3, 0, 7}, {7, 7, 7}, {2, 1, 6}, {6, 5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.consumedFirst << "/" << c.initial << "/" << c.added);
    CCircularBuffer ring(8);
    ASSERT_TRUE(write(ring, sequence(200, c.consumedFirst)));
    ASSERT_TRUE(ring.Consume(c.consumedFirst));

    const Bytes all = sequence(1, c.initial + c.added);
    ASSERT_TRUE(ring.Write(all.data(), c.initial));
    ASSERT_TRUE(ring.Write(all.data() + c.initial, c.added));
    const unsigned int kept = c.initial + c.added < 7 ? c.initial + c.added : 7;
    EXPECT_EQ(ring.GetNumValidBytes(), kept);
    EXPECT_EQ(peek(ring), Bytes(all.end() - kept, all.end()));
  }
}

TEST(CCircularBufferTest, ReadPeeksAndConsumeAdvances) {
  CCircularBuffer ring(8);
  ASSERT_TRUE(write(ring, sequence(10, 6)));
  ASSERT_TRUE(ring.Consume(4));               // the next reads wrap around the end
  ASSERT_TRUE(write(ring, sequence(16, 5)));  // valid: 14..20
  EXPECT_EQ(peek(ring, 3), (Bytes{14, 15, 16}));
  EXPECT_EQ(peek(ring, 3), (Bytes{14, 15, 16}));
  ASSERT_TRUE(ring.Consume(3));
  EXPECT_EQ(peek(ring, 3), (Bytes{17, 18, 19}));
  EXPECT_EQ(ring.GetNumValidBytes(), 4u);
}

TEST(CCircularBufferTest, RefusedCallsChangeNothing) {
  CCircularBuffer ring(8);
  const Bytes data = sequence(1, 5);
  ASSERT_TRUE(write(ring, data));
  unsigned char out[8] = {0xEE};

  EXPECT_FALSE(ring.Consume(6));  // more than valid
  EXPECT_FALSE(ring.Consume(8));  // not below the size
  EXPECT_FALSE(ring.Read(out, 6));
  EXPECT_FALSE(ring.Read(out, 8));
  EXPECT_FALSE(ring.Read(nullptr, 1));
  EXPECT_FALSE(ring.Write(nullptr, 1));
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(peek(ring), data);

  // Zero-byte transfers succeed and move nothing.
  EXPECT_TRUE(ring.Write(nullptr, 0));
  EXPECT_TRUE(ring.Read(nullptr, 0));
  EXPECT_TRUE(ring.Consume(0));
  EXPECT_EQ(peek(ring), data);
}

TEST(CCircularBufferTest, DegenerateSizes) {
  const unsigned char byte = 1;
  unsigned char out = 0;
  CCircularBuffer none(0);
  EXPECT_EQ(none.GetNumValidBytes(), 0u);
  EXPECT_FALSE(none.Write(&byte, 0));
  EXPECT_FALSE(none.Read(&out, 0));
  EXPECT_FALSE(none.Consume(0));

  CCircularBuffer one(1);  // never holds a byte
  EXPECT_FALSE(one.Write(&byte, 1));
  EXPECT_TRUE(one.Write(&byte, 0));
  EXPECT_EQ(one.GetNumValidBytes(), 0u);

  CCircularBuffer two(2);
  for (unsigned char b = 1; b <= 5; ++b) ASSERT_TRUE(two.Write(&b, 1));
  EXPECT_EQ(peek(two), Bytes{5});

  CCircularBuffer standard;                    // 2048 by default
  EXPECT_FALSE(write(standard, Bytes(2048)));  // one byte less than the size at most
  EXPECT_EQ(standard.GetNumValidBytes(), 0u);
  EXPECT_TRUE(write(standard, Bytes(2047)));
}

TEST(CCircularBufferTest, ConsumeValidMovesEveryByteOrNone) {
  CCircularBuffer source(16), target(16), small(4);
  EXPECT_TRUE(target.ConsumeValid(source));  // empty source
  ASSERT_TRUE(write(target, sequence(1, 3)));
  ASSERT_TRUE(write(source, sequence(4, 10)));
  EXPECT_FALSE(small.ConsumeValid(source));  // does not fit: the source keeps its bytes
  EXPECT_EQ(peek(source), sequence(4, 10));
  EXPECT_EQ(small.GetNumValidBytes(), 0u);
  EXPECT_TRUE(target.ConsumeValid(source));
  EXPECT_EQ(source.GetNumValidBytes(), 0u);
  EXPECT_EQ(peek(target), sequence(1, 13));
  // From itself: writes its own bytes again, then drops the first copy.
  CCircularBuffer self(8);
  ASSERT_TRUE(write(self, sequence(1, 3)));
  EXPECT_TRUE(self.ConsumeValid(self));
  EXPECT_EQ(peek(self), sequence(1, 3));
}

// Each ring owns and frees its own buffer: copies outlive their original (a
// shared buffer would be read after free or freed twice under ASan).
TEST(CCircularBufferTest, CopiesOwnTheirBuffers) {
  auto* original = new CCircularBuffer(8);
  ASSERT_TRUE(write(*original, sequence(1, 6)));
  ASSERT_TRUE(original->Consume(2));
  CCircularBuffer copy(*original);
  CCircularBuffer assigned(3);
  assigned = *original;
  CCircularBuffer emptied(8);
  emptied = CCircularBuffer(0);
  ASSERT_TRUE(write(*original, sequence(90, 7)));  // overwrites the original's bytes
  delete original;
  EXPECT_EQ(peek(copy), (Bytes{3, 4, 5, 6}));
  // Each copy is a full ring of the original's size.
  ASSERT_TRUE(write(assigned, sequence(90, 3)));
  EXPECT_EQ(peek(assigned), (Bytes{3, 4, 5, 6, 90, 91, 92}));
  EXPECT_FALSE(write(emptied, sequence(90, 1)));
  const CCircularBuffer& alias = copy;
  copy = alias;
  EXPECT_EQ(peek(copy), (Bytes{3, 4, 5, 6}));
}

}  // namespace
