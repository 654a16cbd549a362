// Splitting frames of two lines received together (multi-line acquisition)
// into their lines. The fastest kernel this processor runs is chosen once, on
// first use; the others stay reachable for tests and benchmarks.
#pragma once

#include <cstddef>
#include <vector>

namespace mox::detail {

// De-interleaves `pairs` line pairs of 16-bit samples. Pair p occupies
// 2 * wordsPerLine words at in + p * 4 * wordsPerLine bytes; its word 2j goes
// to word j of line 2p and word 2j + 1 to word j of line 2p + 1, lines lying
// `lineStride` bytes apart from `out`. Bytes of a line after its wordsPerLine
// words are not touched. Input and output may have any alignment; they must
// not overlap.
using DeinterleaveFn = void (*)(const unsigned char* in, unsigned char* out, std::size_t wordsPerLine,
                                std::size_t lineStride, std::size_t pairs);

struct DeinterleaveKernel {
  const char* name;
  DeinterleaveFn fn;
};

// Every kernel this processor can run, the portable one first.
std::vector<DeinterleaveKernel> deinterleaveKernels();

// The fastest of them.
DeinterleaveFn deinterleave();

}  // namespace mox::detail
