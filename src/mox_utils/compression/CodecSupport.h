// Internal helpers shared by the frame codecs: little-endian fields, the
// 32-bit word stream (bits most significant first, words stored
// little-endian) and a scoped hold of a codec's mutex.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"

// Hot loops are compiled twice, once for processors with BMI2 (shifts by a
// register without flag updates) or AVX2 (four 64-bit lanes), and chosen at
// run time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MOX_BMI2_DISPATCH 1
#define MOX_TARGET_BMI2 __attribute__((target("bmi,bmi2")))
#define MOX_AVX2_DISPATCH 1
#define MOX_TARGET_AVX2 __attribute__((target("avx2")))
#define MOX_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define MOX_BMI2_DISPATCH 0
#define MOX_TARGET_BMI2
#define MOX_AVX2_DISPATCH 0
#define MOX_TARGET_AVX2
#define MOX_ALWAYS_INLINE inline
#endif

// A condition that nearly always holds (or nearly never): the likely code
// is laid out straight on.
#if defined(__GNUC__) || defined(__clang__)
#define MOX_LIKELY(condition) __builtin_expect(!!(condition), 1)
#define MOX_UNLIKELY(condition) __builtin_expect(!!(condition), 0)
#else
#define MOX_LIKELY(condition) (condition)
#define MOX_UNLIKELY(condition) (condition)
#endif

namespace mox::detail {

// How the Huffman decoder builds its table of joined symbols: in the widest
// vector registers the processor has (512 bits, else 256; the default), or
// portably. Tests lower the cap to reach every way on one machine.
enum class TableJoin { kPortable, kVector, kWide };
MOX_API void capTableJoin(TableJoin widest);

// The run-length decoder's loops by the instructions they need, widest
// last. It takes the widest one the processor has, up to a cap that tests
// lower to reach every loop on one machine; there is no cap by default.
enum class RunDecoderLoop { kPortable, kBmi2, kLattice };
MOX_API void capRunDecoderLoop(RunDecoderLoop widest);

// How the Huffman coder packs codes of up to 16 bits: in 512-bit vectors
// where the processor has them (the default), or with the 64-bit bit
// buffer alone, which tests choose to reach both on one machine.
enum class CodePacker { kPortable, kVector };
MOX_API void capCodePacker(CodePacker widest);

inline bool processorHasAvx2() {
#if MOX_AVX2_DISPATCH
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

// AVX-512 with byte and word elements.
inline bool processorHasAvx512() {
#if MOX_AVX2_DISPATCH
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return has;
#else
  return false;
#endif
}

// AVX-512 with byte and word permutes (VBMI).
inline bool processorHasAvx512Vbmi() {
#if MOX_AVX2_DISPATCH
  static const bool has =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  return has;
#else
  return false;
#endif
}

inline bool processorHasBmi2() {
#if MOX_BMI2_DISPATCH
  static const bool has = __builtin_cpu_supports("bmi2");
  return has;
#else
  return false;
#endif
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline std::uint64_t toLittle64(std::uint64_t v) { return __builtin_bswap64(v); }
inline std::uint32_t toLittle32(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint16_t toLittle16(std::uint16_t v) { return __builtin_bswap16(v); }
#else
inline std::uint64_t toLittle64(std::uint64_t v) { return v; }
inline std::uint32_t toLittle32(std::uint32_t v) { return v; }
inline std::uint16_t toLittle16(std::uint16_t v) { return v; }
#endif

inline std::uint32_t loadLE32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return toLittle32(v);
}
inline std::uint16_t loadLE16(const unsigned char* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return toLittle16(v);
}
inline void storeLE32(unsigned char* p, std::uint32_t v) {
  v = toLittle32(v);
  std::memcpy(p, &v, 4);
}
inline void storeLE64(unsigned char* p, std::uint64_t v) {
  v = toLittle64(v);
  std::memcpy(p, &v, 8);
}
inline void storeLE16(unsigned char* p, std::uint16_t v) {
  v = toLittle16(v);
  std::memcpy(p, &v, 2);
}

// Word q of a code stream (32-bit words, little-endian), in the low half.
MOX_ALWAYS_INLINE std::uint64_t streamWord(const unsigned char* stream, std::uint64_t q) {
  return loadLE32(stream + 4 * q);
}

// 64 bits of the stream from bit position p (words q to q + 2). Words q and
// q + 1 come in one load, swapped into order by a rotation.
MOX_ALWAYS_INLINE std::uint64_t streamWindow(const unsigned char* stream, std::uint64_t p) {
  const std::uint64_t q = p >> 5;
  const unsigned r = p & 31;
  std::uint64_t pair;
  std::memcpy(&pair, stream + 4 * q, 8);
  pair = toLittle64(pair);
  const std::uint64_t high = (pair << 32) | (pair >> 32);
  return (high << r) | (streamWord(stream, q + 2) >> (32 - r));
}

// Allocates a decoder's n-byte output with malloc, fills it with
// decode(buffer) and hands it to the caller; a failed decode frees it and
// leaves the outputs as they were.
template <typename Decode>
bool decodeIntoNewBuffer(std::uint32_t n, unsigned char** out, int& outLength, Decode decode) {
  auto* buffer = static_cast<unsigned char*>(std::malloc(n));
  if (buffer == nullptr) return false;
  if (!decode(buffer)) {
    std::free(buffer);
    return false;
  }
  *out = buffer;
  outLength = static_cast<int>(n);
  return true;
}

// Packs codes of up to 32 bits into the word stream. Bits collect at the low
// end of a 64-bit accumulator; each put() stores the word that the pending
// bits would form and advances only when 32 bits are complete, so the loop
// has no data-dependent branch. The store at an incomplete position is
// overwritten later. It lies inside the stream when bits are pending; a
// put() of no bits with none pending stores one word past it, so callers
// that put empty codes give the buffer a word of room.
class WordWriter {
 public:
  explicit WordWriter(unsigned char* out) : m_out(out) {}

  // 0 <= bits <= 32, code < 2^bits. The pending count is the only value
  // carried from code to code besides the accumulator, and it takes one add
  // and one mask: completed words advance the output by (total >> 5) words.
  void put(std::uint64_t code, unsigned bits) {
    m_acc = (m_acc << bits) | code;
    const unsigned total = m_count + bits;  // below 64
    storeLE32(m_out, static_cast<std::uint32_t>(m_acc >> ((total - 32) & 63)));
    m_out += 4 * (total >> 5);
    m_count = total & 31;
  }
  // Codes of up to 64 bits, high part first.
  void putLong(std::uint64_t code, unsigned bits) {
    if (bits > 32) {
      put(code >> 32, bits - 32);
      put(code & 0xFFFFFFFFu, 32);
    } else {
      put(code, bits);
    }
  }
  // Writes the partly filled last word (bits at the top, zeros below) and
  // returns the end of the stream.
  unsigned char* finish() {
    if (m_count > 0) {
      storeLE32(m_out, static_cast<std::uint32_t>(m_acc << (32 - m_count)));
      m_out += 4;
      m_count = 0;
    }
    return m_out;
  }

 private:
  unsigned char* m_out;
  std::uint64_t m_acc = 0;
  unsigned m_count = 0;  // pending bits, always below 32 between calls
};

// Holds a codec's mutex for a scope (waits without time-out). A null handle
// is never held; the codec then runs unguarded, as a failed wait would leave
// it anyway.
class ScopedMutexHold {
 public:
  explicit ScopedMutexHold(const platform::MutexHandle& mutex)
      : m_mutex(mutex), m_held(mutex.wait(platform::kInfinite) == platform::WaitResult::Signaled) {}
  ~ScopedMutexHold() {
    if (m_held) m_mutex.release();
  }
  ScopedMutexHold(const ScopedMutexHold&) = delete;
  ScopedMutexHold& operator=(const ScopedMutexHold&) = delete;

 private:
  const platform::MutexHandle& m_mutex;
  bool m_held;
};

// Starts a decoder's public call: clears the outputs; false when a pointer
// is null.
inline bool beginDecode(const unsigned char* in, unsigned char** out, int& outLength) {
  if (out != nullptr) *out = nullptr;
  outLength = 0;
  return in != nullptr && out != nullptr;
}

// A trusted decoder's public call: n from the buffer's first four bytes,
// then, under the codec's mutex, decode(buffer, n) fills a new n-byte
// buffer that goes to the caller.
template <typename Decode>
bool decodeTrustedBuffer(const platform::MutexHandle& mutex, const unsigned char* in, unsigned char** out,
                         int& outLength, Decode decode) {
  if (!beginDecode(in, out, outLength)) return false;
  const std::uint32_t n = loadLE32(in);
  if (n == 0 || n > INT_MAX) return false;
  ScopedMutexHold hold(mutex);
  return decodeIntoNewBuffer(n, out, outLength, [&](unsigned char* buffer) { return decode(buffer, n); });
}

}  // namespace mox::detail
