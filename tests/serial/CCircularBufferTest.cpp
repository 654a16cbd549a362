#include "mox_utils/serial/CCircularBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The ring as the header describes it, on a vector: at most size - 1 bytes,
// the oldest dropped on overflow; refused, changing nothing, are counts not
// below the size, more bytes than are valid, and null data.
struct Model {
  unsigned int size;
  Bytes bytes;
  bool write(const unsigned char* data, unsigned int n) {
    if (n >= size || (n != 0 && data == nullptr)) return false;
    bytes.insert(bytes.end(), data, data + n);
    while (bytes.size() >= size) bytes.erase(bytes.begin());
    return true;
  }
  bool consume(unsigned int n) {
    if (n >= size || n > bytes.size()) return false;
    bytes.erase(bytes.begin(), bytes.begin() + n);
    return true;
  }
};

Bytes contents(const CCircularBuffer& ring) {
  Bytes out(ring.GetNumValidBytes());
  EXPECT_TRUE(out.empty() || ring.Read(out.data(), static_cast<unsigned int>(out.size())));
  return out;
}

// Random calls on two rings, each checked against the model: every read
// position, wrap and overflow, refusals, moves between the rings and from a
// ring to itself, and copies and assignments (self-assignment included) that
// must leave each ring owning a buffer of its own (a shared one would show up
// as changed contents, or a double free at the end).
TEST(CCircularBufferTest, BehavesLikeTheModel) {
  std::mt19937 random(2024);
  auto pick = [&random](unsigned int n) { return static_cast<unsigned int>(random() % n); };
  const unsigned int sizes[] = {0, 1, 2, 3, 8, 8};
  for (int run = 0; run < 300; ++run) {
    const unsigned int s0 = sizes[pick(6)], s1 = sizes[pick(6)];
    CCircularBuffer rings[2] = {CCircularBuffer(s0), CCircularBuffer(s1)};
    Model models[2] = {{s0, {}}, {s1, {}}};
    for (int step = 0; step < 40; ++step) {
      const unsigned int op = pick(6), x = pick(2), y = pick(2), n = pick(10);
      SCOPED_TRACE(testing::Message() << "run " << run << " step " << step << " op " << op << " n " << n);
      Bytes data(n);
      std::iota(data.begin(), data.end(), static_cast<unsigned char>(step * 10));
      unsigned char* const p = pick(8) == 0 ? nullptr : data.data();
      if (op == 0) {
        ASSERT_EQ(rings[x].Write(p, n), models[x].write(p, n));
      } else if (op == 1) {
        ASSERT_EQ(rings[x].Consume(n), models[x].consume(n));
      } else if (op == 2) {  // a peek, or nothing copied when refused
        const bool ok = n < models[x].size && n <= models[x].bytes.size() && (n == 0 || p);
        std::fill(data.begin(), data.end(), 0xEE);
        ASSERT_EQ(rings[x].Read(p, n), ok);
        ASSERT_EQ(data, ok ? Bytes(models[x].bytes.begin(), models[x].bytes.begin() + n) : Bytes(n, 0xEE));
      } else if (op == 3) {  // the source keeps its bytes when the write fails
        const Bytes moved = models[y].bytes;
        const auto count = static_cast<unsigned int>(moved.size());
        const bool ok = count == 0 || (models[x].write(moved.data(), count) && models[y].consume(count));
        ASSERT_EQ(rings[x].ConsumeValid(rings[y]), ok);
      } else if (op == 4) {
        rings[x] = rings[y];
        models[x] = models[y];
      } else {
        rings[x] = CCircularBuffer(rings[y]);  // from a copy that is freed at once
        models[x] = models[y];
      }
      for (int i : {0, 1}) ASSERT_EQ(contents(rings[i]), models[i].bytes) << i;
    }
  }
}

}  // namespace
