// The checked Huffman decoder on arbitrary bytes: it must fail cleanly or
// produce exactly n bytes, never read outside the input. Its decoding table
// is built twice, with vector registers and portably, and both must decode
// alike.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mox_utils/compression/CodecSupport.h"
#include "mox_utils/compression/HuffmanCompression.h"

namespace {

// True with *out and *outLength set when the buffer decodes; checks the
// failure contract otherwise.
bool decode(const unsigned char* in, std::size_t size, unsigned char** out, int* outLength) {
  HuffmanCompression codec;
  *out = nullptr;
  *outLength = -1;
  if (codec.uncompress(in, static_cast<int>(size), out, *outLength)) {
    std::uint32_t n;
    std::memcpy(&n, in, 4);
    if (*out == nullptr || *outLength != static_cast<int>(n)) std::abort();
    return true;
  }
  if (*out != nullptr || *outLength != 0) std::abort();
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  // A copy of exactly `size` bytes, so that any read past it is caught.
  auto* in = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(in, data, size);
  unsigned char* wide = nullptr;
  unsigned char* portable = nullptr;
  int wideLength = 0;
  int portableLength = 0;
  using mox::detail::TableJoin;
  mox::detail::capTableJoin(TableJoin::kWide);
  const bool wideOk = decode(in, size, &wide, &wideLength);
  mox::detail::capTableJoin(TableJoin::kPortable);
  const bool portableOk = decode(in, size, &portable, &portableLength);
  if (wideOk != portableOk) std::abort();
  if (wideOk && (wideLength != portableLength || std::memcmp(wide, portable, wideLength) != 0)) std::abort();
  std::free(wide);
  std::free(portable);
  std::free(in);
  return 0;
}
