#include "mox_utils/cine/Deinterleave.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MOX_DEINTERLEAVE_X86 1
#endif

namespace mox::detail {

namespace {

void deinterleaveTail(const unsigned char* in, unsigned char* lineA, unsigned char* lineB, std::size_t from,
                      std::size_t words) {
  for (std::size_t j = from; j < words; ++j) {
    std::memcpy(lineA + 2 * j, in + 4 * j, 2);
    std::memcpy(lineB + 2 * j, in + 4 * j + 2, 2);
  }
}

void deinterleavePortable(const unsigned char* in, unsigned char* out, std::size_t words, std::size_t stride,
                          std::size_t pairs) {
  for (std::size_t p = 0; p < pairs; ++p) {
    const unsigned char* src = in + p * 4 * words;
    unsigned char* lineA = out + 2 * p * stride;
    deinterleaveTail(src, lineA, lineA + stride, 0, words);
  }
}

#if defined(MOX_DEINTERLEAVE_X86) && defined(__SSE2__)
// Sixteen words per step: sign-extending each 32-bit lane's low or high word
// and packing with signed saturation is exact, so the packs keep every bit.
void deinterleaveSse2(const unsigned char* in, unsigned char* out, std::size_t words, std::size_t stride,
                      std::size_t pairs) {
  for (std::size_t p = 0; p < pairs; ++p) {
    const unsigned char* src = in + p * 4 * words;
    unsigned char* lineA = out + 2 * p * stride;
    unsigned char* lineB = lineA + stride;
    std::size_t j = 0;
    for (; j + 8 <= words; j += 8) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * j));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * j + 16));
      const __m128i even =
          _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(v0, 16), 16), _mm_srai_epi32(_mm_slli_epi32(v1, 16), 16));
      const __m128i odd = _mm_packs_epi32(_mm_srai_epi32(v0, 16), _mm_srai_epi32(v1, 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lineA + 2 * j), even);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lineB + 2 * j), odd);
    }
    deinterleaveTail(src, lineA, lineB, j, words);
  }
}
#endif

#if defined(MOX_DEINTERLEAVE_X86)
// Thirty-two words per step: a byte shuffle gathers each 128-bit lane's even
// and odd words, a quadword permute joins the halves of each line.
__attribute__((target("avx2"))) void deinterleaveAvx2(const unsigned char* in, unsigned char* out, std::size_t words,
                                                      std::size_t stride, std::size_t pairs) {
  const __m256i split = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15,  //
                                         0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
  for (std::size_t p = 0; p < pairs; ++p) {
    const unsigned char* src = in + p * 4 * words;
    unsigned char* lineA = out + 2 * p * stride;
    unsigned char* lineB = lineA + stride;
    std::size_t j = 0;
    for (; j + 16 <= words; j += 16) {
      __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * j));
      __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * j + 32));
      // Each becomes [8 words of line A | 8 words of line B].
      x0 = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(x0, split), 0xD8);
      x1 = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(x1, split), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(lineA + 2 * j), _mm256_permute2x128_si256(x0, x1, 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(lineB + 2 * j), _mm256_permute2x128_si256(x0, x1, 0x31));
    }
    deinterleaveTail(src, lineA, lineB, j, words);
  }
}
#endif

}  // namespace

std::vector<DeinterleaveKernel> deinterleaveKernels() {
  std::vector<DeinterleaveKernel> kernels{{"Portable", &deinterleavePortable}};
#if defined(MOX_DEINTERLEAVE_X86) && defined(__SSE2__)
  kernels.push_back({"Sse2", &deinterleaveSse2});
#endif
#if defined(MOX_DEINTERLEAVE_X86)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) kernels.push_back({"Avx2", &deinterleaveAvx2});
#endif
  return kernels;
}

DeinterleaveFn deinterleave() {
  static const DeinterleaveFn best = [] {
    try {
      return deinterleaveKernels().back().fn;
    } catch (...) {
      return &deinterleavePortable;  // the list could not be built
    }
  }();
  return best;
}

}  // namespace mox::detail
