// Drives two rings through random sequences of writes, reads, consumes,
// moves and copies, checking each call's result and the whole contents
// against a plain model: a deque that keeps at most size - 1 bytes and drops
// its oldest bytes when a write does not fit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "mox_utils/serial/CCircularBuffer.h"

namespace {

struct Model {
  unsigned int size = 0;
  std::deque<unsigned char> bytes;

  bool write(const unsigned char* data, unsigned int count) {
    if (size == 0 || count >= size) return false;
    bytes.insert(bytes.end(), data, data + count);
    while (bytes.size() > size - 1) bytes.pop_front();
    return true;
  }
  bool read(unsigned char* out, unsigned int count) const {
    if (size == 0 || count >= size || count > bytes.size()) return false;
    std::copy(bytes.begin(), bytes.begin() + count, out);
    return true;
  }
  bool consume(unsigned int count) {
    if (size == 0 || count >= size || count > bytes.size()) return false;
    bytes.erase(bytes.begin(), bytes.begin() + count);
    return true;
  }
  bool consumeValid(Model& source) {
    const auto count = static_cast<unsigned int>(source.bytes.size());
    if (count == 0) return true;
    std::vector<unsigned char> moved(source.bytes.begin(), source.bytes.end());
    return write(moved.data(), count) && source.consume(count);
  }
};

[[noreturn]] void mismatch(const char* what, std::size_t step) {
  std::fprintf(stderr, "ring and model differ: %s at step %zu\n", what, step);
  std::abort();
}

void check(bool ok, const char* what, std::size_t step) {
  if (!ok) mismatch(what, step);
}

void compare(const CCircularBuffer& ring, const Model& model, std::size_t step) {
  const unsigned int valid = ring.GetNumValidBytes();
  check(valid == model.bytes.size(), "valid bytes", step);
  std::vector<unsigned char> out(valid + 1, 0);
  check(ring.Read(out.data(), valid) == (model.size != 0), "read of all", step);
  for (unsigned int i = 0; i < valid; ++i) check(out[i] == model.bytes[i], "contents", step);
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  bool empty() const { return m_pos >= m_size; }
  unsigned int byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  // Small counts mostly, around the ring sizes.
  unsigned int count() { return byte() % 72; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  std::unique_ptr<CCircularBuffer> rings[2];
  Model models[2];
  for (int i = 0; i < 2; ++i) {
    models[i].size = in.byte() % 66;  // includes the degenerate sizes 0, 1, 2
    rings[i] = std::make_unique<CCircularBuffer>(models[i].size);
  }
  unsigned char next = 0;  // every written byte differs from its neighbours
  std::vector<unsigned char> scratch(80);

  for (std::size_t step = 0; !in.empty() && step < 4096; ++step) {
    const unsigned int op = in.byte();
    const int i = op & 1;
    CCircularBuffer& ring = *rings[i];
    Model& model = models[i];
    switch ((op >> 1) % 7) {
      case 0: {
        const unsigned int n = in.count();
        for (unsigned int k = 0; k < n; ++k) scratch[k] = next++;
        check(ring.Write(scratch.data(), n) == model.write(scratch.data(), n), "write result", step);
        break;
      }
      case 1: {
        const unsigned int n = in.count();
        std::vector<unsigned char> got(n + 1, 0xA5), want(n + 1, 0xA5);
        const bool ok = ring.Read(got.data(), n);
        check(ok == model.read(want.data(), n), "read result", step);
        check(got == want, "read bytes", step);  // a refused read copies nothing
        break;
      }
      case 2: {
        const unsigned int n = in.count();
        check(ring.Consume(n) == model.consume(n), "consume result", step);
        break;
      }
      case 3:
        check(ring.ConsumeValid(*rings[1 - i]) == model.consumeValid(models[1 - i]), "move result", step);
        break;
      case 4: {
        // Moving a ring into itself: its bytes are written again, then the
        // same number of the oldest are dropped.
        bool expected = true;
        const auto n = static_cast<unsigned int>(model.bytes.size());
        if (n != 0) {
          const std::vector<unsigned char> own(model.bytes.begin(), model.bytes.end());
          expected = model.write(own.data(), n) && model.consume(n);
        }
        check(ring.ConsumeValid(ring) == expected, "self move result", step);
        break;
      }
      case 5: {
        // Copy construction: the copy replaces the ring, the old one is freed.
        auto copy = std::make_unique<CCircularBuffer>(ring);
        rings[i] = std::move(copy);
        break;
      }
      case 6:
        *rings[i] = *rings[1 - i];
        models[i] = models[1 - i];
        break;
    }
    compare(*rings[0], models[0], step);
    compare(*rings[1], models[1], step);
  }
  return 0;
}
