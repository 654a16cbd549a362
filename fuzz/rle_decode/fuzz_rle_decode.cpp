// The checked run-length decoder on arbitrary bytes: it must fail cleanly or
// produce exactly n bytes, never read outside the input, and come to the
// same verdict and output with its widest loop as with its portable one.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mox_utils/compression/CodecSupport.h"
#include "mox_utils/compression/RLEEncoder.h"

namespace {

// The decoded bytes, or nothing when the decoder refuses the input.
std::vector<unsigned char> decodeWith(mox::detail::RunDecoderLoop loop, const unsigned char* in, std::size_t size) {
  mox::detail::capRunDecoderLoop(loop);
  RLEEncoder codec;
  unsigned char* out = nullptr;
  int outLength = -1;
  std::vector<unsigned char> result;
  if (codec.decode(in, static_cast<int>(size), &out, outLength)) {
    std::uint32_t n;
    std::memcpy(&n, in, 4);
    if (out == nullptr || outLength != static_cast<int>(n) || n == 0) std::abort();
    result.assign(out, out + outLength);
    std::free(out);
  } else if (out != nullptr || outLength != 0) {
    std::abort();
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  // A copy of exactly `size` bytes, so that any read past it is caught.
  auto* in = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(in, data, size);
  using mox::detail::RunDecoderLoop;
  if (decodeWith(RunDecoderLoop::kLattice, in, size) != decodeWith(RunDecoderLoop::kPortable, in, size)) std::abort();
  std::free(in);
  return 0;
}
