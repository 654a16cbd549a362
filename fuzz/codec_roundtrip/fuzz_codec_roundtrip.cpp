// Both encoders on arbitrary frames: every Huffman buffer must be the same
// packed with or without vectors and restore exactly with both decoders,
// and every run-length frame must decode to its difference with the
// channel's previous frame. The first byte picks how the rest is cut into
// frames (and their channels) for the run-length coder.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mox_utils/compression.h"
#include "mox_utils/compression/CodecSupport.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void huffmanRoundTrip(const std::uint8_t* data, std::size_t size) {
  HuffmanCompression codec;
  unsigned char* packed = nullptr;
  int packedLength = 0;
  check(codec.compress(data, static_cast<int>(size), &packed, packedLength));
  // Packed without vectors, the same bytes.
  mox::detail::capCodePacker(mox::detail::CodePacker::kPortable);
  unsigned char* portable = nullptr;
  int portableLength = 0;
  check(codec.compress(data, static_cast<int>(size), &portable, portableLength));
  mox::detail::capCodePacker(mox::detail::CodePacker::kVector);
  check(portableLength == packedLength && std::memcmp(portable, packed, static_cast<std::size_t>(packedLength)) == 0);
  std::free(portable);
  for (int checked = 0; checked < 2; ++checked) {
    unsigned char* out = nullptr;
    int outLength = 0;
    check(checked ? codec.uncompress(packed, packedLength, &out, outLength)
                  : codec.uncompress(packed, &out, outLength));
    check(outLength == static_cast<int>(size) && std::memcmp(out, data, size) == 0);
    std::free(out);
  }
  // The buffer cut short by one word never decodes.
  if (packedLength > 10) {
    unsigned char* out = nullptr;
    int outLength = 0;
    check(!codec.uncompress(packed, packedLength - 4, &out, outLength));
  }
  std::free(packed);
}

void rleRoundTrip(std::uint8_t control, const std::uint8_t* data, std::size_t size) {
  RLEEncoder codec;
  std::vector<unsigned char> previous[2];
  const std::size_t pieces = 1 + (control & 3);
  std::size_t at = 0;
  for (std::size_t p = 0; p < pieces && at < size; ++p) {
    // Equal lengths keep a channel's history; the last piece takes the rest.
    const std::size_t length = p + 1 == pieces ? size - at : (size + pieces - 1) / pieces;
    const std::size_t take = length < size - at ? length : size - at;
    const int channel = (control >> (2 + p)) & 1;
    std::vector<unsigned char> frame(data + at, data + at + take);
    at += take;
    unsigned char* packed = nullptr;
    int packedLength = 0;
    check(codec.encode(frame.data(), static_cast<int>(frame.size()), &packed, packedLength, channel));
    for (int checked = 0; checked < 2; ++checked) {
      unsigned char* out = nullptr;
      int outLength = 0;
      check(checked ? codec.decode(static_cast<const unsigned char*>(packed), packedLength, &out, outLength)
                    : codec.decode(packed, &out, outLength));
      check(outLength == static_cast<int>(frame.size()));
      const std::vector<unsigned char>& before = previous[channel];
      for (std::size_t i = 0; i < frame.size(); ++i) {
        const unsigned char base = before.size() == frame.size() ? before[i] : 0;
        check(static_cast<unsigned char>(out[i] ^ base) == frame[i]);
      }
      std::free(out);
    }
    std::free(packed);
    previous[channel] = frame;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > INT_MAX) return 0;
  huffmanRoundTrip(data + 1, size - 1);
  rleRoundTrip(data[0], data + 1, size - 1);
  return 0;
}
