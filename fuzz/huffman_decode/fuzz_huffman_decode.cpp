// The checked Huffman decoder on arbitrary bytes: it must fail cleanly or
// produce exactly n bytes, never read outside the input.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mox_utils/compression/HuffmanCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  // A copy of exactly `size` bytes, so that any read past it is caught.
  auto* in = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(in, data, size);
  HuffmanCompression codec;
  unsigned char* out = nullptr;
  int outLength = -1;
  if (codec.uncompress(in, static_cast<int>(size), &out, outLength)) {
    std::uint32_t n;
    std::memcpy(&n, in, 4);
    if (out == nullptr || outLength != static_cast<int>(n)) std::abort();
    // Touch every byte so that an unwritten one shows under MemorySanitizer.
    unsigned sum = 0;
    for (int i = 0; i < outLength; ++i) sum += out[i];
    if (sum == 0xFFFFFFFFu) std::abort();
    std::free(out);
  } else if (out != nullptr || outLength != 0) {
    std::abort();
  }
  std::free(in);
  return 0;
}
