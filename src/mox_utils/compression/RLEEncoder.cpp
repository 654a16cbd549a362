#include "mox_utils/compression/RLEEncoder.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mox_utils/compression/CodecSupport.h"

#if MOX_BMI2_DISPATCH
#include <cpuid.h>
#include <immintrin.h>
#endif
#include "mox_utils/settings/mox_utils.h"

using mox::detail::loadLE32;
using mox::detail::storeLE32;
using mox::detail::streamWord;

unsigned char* mox_utils::lutComprTable = nullptr;

namespace {

constexpr unsigned kMaxRun = (1u << (RLEEncoder::kRunCodeBits - 9)) - 1;  // 1023
constexpr unsigned kLiteralBits = 9;

// Bit i set when the run containing x[base + i] ends there: the next byte
// differs, or it is the last byte. Bits for positions at or beyond n are 0.
inline std::uint64_t runEnds(const unsigned char* x, std::uint32_t base, std::uint32_t n) {
#if defined(__SSE2__)
  if (std::uint64_t{base} + 64 < n) {
    std::uint64_t equal = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + base + 16 * k));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + base + 16 * k + 1));
      equal |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)))) << (16 * k);
    }
    return ~equal;
  }
#endif
  std::uint64_t ends = 0;
  const std::uint32_t limit = n - base < 64 ? n - base : 64;
  for (std::uint32_t i = 0; i < limit; ++i) {
    const std::uint32_t p = base + i;
    if (p + 1 == n || x[p] != x[p + 1]) ends |= std::uint64_t{1} << i;
  }
  return ends;
}

// Calls sink(code, bits) for every run code of x[0..n), in order.
template <class Sink>
inline void forEachCode(const unsigned char* x, std::uint32_t n, Sink&& sink) {
  std::uint32_t start = 0;
  for (std::uint32_t base = 0; base < n; base += 64) {
    std::uint64_t ends = runEnds(x, base, n);
    while (ends != 0) {
      const std::uint32_t end = base + static_cast<std::uint32_t>(__builtin_ctzll(ends));
      ends &= ends - 1;
      std::uint32_t length = end - start + 1;
      const std::uint32_t byte = x[end];
      while (length > kMaxRun) {
        sink((kMaxRun << 8) | byte, RLEEncoder::kRunCodeBits);
        length -= kMaxRun;
      }
      // A literal's code (1, byte) equals (length << 8 | byte) for length 1.
      sink((length << 8) | byte, length == 1 ? kLiteralBits : RLEEncoder::kRunCodeBits);
      start = end + 1;
    }
  }
}

// Largest stream for n bytes: runs of two cost 9.5 bits a byte, nothing more.
std::uint64_t worstEncodedLength(std::uint32_t n) { return 4 + 4 * ((19 * std::uint64_t{n} + 63) / 64); }
// The encoder writes a word at its position even when it adds no bits.
constexpr std::uint64_t kEncodeSlack = 4;

// The code of a run of `length` bytes (1..1023): a literal's code (1, byte)
// equals (length << 8 | byte) for length 1.
inline std::uint32_t runCode(std::uint32_t length, std::uint32_t byte) { return (length << 8) | byte; }
inline unsigned runBits(std::uint32_t length) { return length == 1 ? kLiteralBits : RLEEncoder::kRunCodeBits; }

// Writes the codes of a run of any length: full runs of 1023, then the rest.
inline void putRun(mox::detail::WordWriter& writer, std::uint32_t length, std::uint32_t byte) {
  while (length > kMaxRun) {
    writer.put(runCode(kMaxRun, byte), RLEEncoder::kRunCodeBits);
    length -= kMaxRun;
  }
  writer.put(runCode(length, byte), runBits(length));
}

// Eight bytes of a buffer of n bytes from position p, the first in the low
// byte, zeros past the end.
inline std::uint64_t load8(const unsigned char* x, std::uint32_t p, std::uint32_t n) {
  std::uint64_t v = 0;
  if (n - p >= 8) {
    std::memcpy(&v, x + p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
  } else {
    for (std::uint32_t k = 0; k < n - p; ++k) v |= std::uint64_t{x[p + k]} << (8 * k);
  }
  return v;
}

// The bytes to encode when they are already in memory.
struct PlainSource {
  const unsigned char* x;
  // Bit i set when the run containing byte base + i ends there.
  std::uint64_t ends(std::uint32_t base, std::uint32_t n) const { return runEnds(x, base, n); }
  unsigned char byte(std::uint32_t p) const { return x[p]; }
  std::uint64_t bytes8(std::uint32_t p, std::uint32_t n) const { return load8(x, p, n); }
  void done(std::uint32_t, std::uint32_t) const {}
};

// The difference of a frame and the channel's previous frame, formed as it
// is read; each 64-byte block of the previous frame is replaced by the frame
// once the block's codes are out, so the encoder reads each byte once and
// needs no buffer for the difference.
struct XorSource {
  const unsigned char* frame;
  unsigned char* previous;
  std::uint64_t ends(std::uint32_t base, std::uint32_t n) const {
    const unsigned char* f = frame + base;
    const unsigned char* p = previous + base;
#if defined(__SSE2__)
    if (std::uint64_t{base} + 64 < n) {
      std::uint64_t equal = 0;
      for (int k = 0; k < 4; ++k) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 16 * k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 16 * k + 1));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k + 1));
        const __m128i same = _mm_cmpeq_epi8(_mm_xor_si128(a, b), _mm_xor_si128(a1, b1));
        equal |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(same))) << (16 * k);
      }
      return ~equal;
    }
#endif
    const std::uint32_t count = n - base < 64 ? n - base : 64;
    std::uint64_t ends = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (base + i + 1 == n || (f[i] ^ p[i]) != (f[i + 1] ^ p[i + 1])) ends |= std::uint64_t{1} << i;
    }
    return ends;
  }
  unsigned char byte(std::uint32_t p) const { return static_cast<unsigned char>(frame[p] ^ previous[p]); }
  std::uint64_t bytes8(std::uint32_t p, std::uint32_t n) const { return load8(frame, p, n) ^ load8(previous, p, n); }
  void done(std::uint32_t base, std::uint32_t n) const {
    const std::uint32_t count = n - base < 64 ? n - base : 64;
    std::memcpy(previous + base, frame + base, count);
  }
};

// Flag and byte positions of seven literal codes in 63 bits, first literal
// highest.
constexpr std::uint64_t kSevenFlags =
    (1ull << 62) | (1ull << 53) | (1ull << 44) | (1ull << 35) | (1ull << 26) | (1ull << 17) | (1ull << 8);
constexpr std::uint64_t kSevenBytes = 0x7FFFFFFFFFFFFFFFull & ~kSevenFlags;

// The codes of seven literals (the first in the low byte of `bytes`), first
// one highest (63 bits).
MOX_ALWAYS_INLINE std::uint64_t sevenLiteralCodesPortable(std::uint64_t bytes) {
  std::uint64_t code = 0;
  for (int k = 0; k < 7; ++k) code = (code << 9) | 0x100u | ((bytes >> (8 * k)) & 0xFF);
  return code;
}

// Encodes the difference that `source` forms, block by block. Each step
// writes the literals at the current position (up to seven, as one 63-bit
// group) and then, unless seven were taken, the run of two or more bytes
// that follows them. Frame differences mix short literal stretches and runs
// of two or three without a pattern, so the step has no branch on what it
// finds; empty parts are written with zero bits.
template <bool kBmi2, class Source>
MOX_ALWAYS_INLINE std::uint32_t encodeBody(const Source source, std::uint32_t n, unsigned char* out) {
  storeLE32(out, n);
  mox::detail::WordWriter writer(out + 4);
  std::uint32_t start = 0;  // first byte of the run being collected
  for (std::uint32_t base = 0; base < n; base += 64) {
    const std::uint64_t ends = source.ends(base, n);
    if (start < base) {
      // A run from earlier blocks: it ends at the first end here, if any.
      if (ends == 0) {
        source.done(base, n);
        continue;
      }
      const std::uint32_t end = base + static_cast<std::uint32_t>(__builtin_ctzll(ends));
      putRun(writer, end - start + 1, source.byte(end));
      start = end + 1;
    }
    const std::uint32_t blockEnd = n - base < 64 ? n : base + 64;
    while (start < blockEnd) {
      const std::uint64_t x = ends >> (start - base);
      // Literals: the run ends at every position from here on.
      const unsigned ones = static_cast<unsigned>(__builtin_ctzll(~x | (1ull << 63)));
      const unsigned literals = ones < 7 ? ones : 7;
      std::uint64_t seven;
#if MOX_BMI2_DISPATCH
      if constexpr (kBmi2) {
        // First byte at bits 48..55, seventh at 0..7.
        const std::uint64_t bytes = __builtin_bswap64(source.bytes8(start, n)) >> 8;
        __asm__("pdepq %2, %1, %0" : "=r"(seven) : "r"(bytes), "r"(kSevenBytes));
        seven |= kSevenFlags;
      } else {
        seven = sevenLiteralCodesPortable(source.bytes8(start, n));
      }
#else
      seven = sevenLiteralCodesPortable(source.bytes8(start, n));
#endif
      const unsigned literalBits = 9 * literals;
      const std::uint64_t literalCodes = seven >> (63 - literalBits);
      const unsigned lowBits = literalBits < 32 ? literalBits : 32;
      writer.put(literalCodes >> lowBits, literalBits - lowBits);
      writer.put(literalCodes & ((std::uint64_t{1} << lowBits) - 1), lowBits);

      // Fewer than seven literals: a run starts after them, and it ends in
      // this block when a later end is set. Masks rather than conditions
      // keep the compiler from branching.
      const std::uint64_t rest = x >> literals;
      const std::uint32_t run = 0u - static_cast<std::uint32_t>((literals < 7) & (rest != 0));
      const std::uint32_t length = static_cast<std::uint32_t>(__builtin_ctzll(rest | (1ull << 63))) + 1;
      const std::uint32_t last = start + ((literals + length - 1) & run);
      writer.put(runCode(length, source.byte(last)) & run, RLEEncoder::kRunCodeBits & run);
      start += literals + (length & run);
      // Without a run the block is done, or its last run goes on into the
      // next one.
      if (rest == 0 && literals < 7) break;
    }
    source.done(base, n);
  }
  return static_cast<std::uint32_t>(writer.finish() - out);
}

template <class Source>
std::uint32_t encodePlain(const Source& source, std::uint32_t n, unsigned char* out) {
  return encodeBody<false>(source, n, out);
}
#if MOX_BMI2_DISPATCH
// Variable shifts without flag updates (shlx, shrx), tzcnt and a parallel
// deposit of seven literals shorten the loop that packs the codes.
template <class Source>
__attribute__((target("bmi,bmi2"))) std::uint32_t encodeBmi2(const Source& source, std::uint32_t n,
                                                             unsigned char* out) {
  return encodeBody<true>(source, n, out);
}
#endif

template <class Source>
std::uint32_t encodeInto(const Source& source, std::uint32_t n, unsigned char* out) {
#if MOX_BMI2_DISPATCH
  if (mox::detail::processorHasBmi2()) return encodeBmi2(source, n, out);
#endif
  return encodePlain(source, n, out);
}

// result = a XOR b.
void xorBytes(unsigned char* result, const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(result + i), _mm_xor_si128(va, vb));
  }
#endif
  for (; i < n; ++i) result[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

// The fast loop reads the stream from a copy on the stack whose words are
// turned into plain big-endian bytes, so that 64 bits from any position
// are one unaligned load, a byte swap and a shift. The copy holds up to
// kChunkWords words and is refilled when the loop reaches its end.
constexpr std::uint64_t kChunkWords = 512;
// Zero bytes after the copied words: the load ahead reads up to 16 bytes
// past the byte of the current position.
constexpr std::uint64_t kChunkPad = 16;
// Bits a step may consume and decode: four literals and a run.
constexpr unsigned kStepBits = 4 * kLiteralBits + RLEEncoder::kRunCodeBits;  // 55
// Output room of the fast loop: six literal bytes are stored as eight, and
// a run after at most four literals fills eight bytes. A longer run is
// checked against the end of the output.
constexpr std::uint32_t kFastRoom = 16;

MOX_ALWAYS_INLINE std::uint64_t loadBE64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return v;
#else
  return __builtin_bswap64(v);
#endif
}

// Copies `count` stream words as big-endian bytes (the stream's bit order)
// and clears kChunkPad bytes after them.
MOX_ALWAYS_INLINE void copyWordsBigEndian(unsigned char* to, const unsigned char* from, std::uint64_t count) {
  std::uint64_t k = 0;
#if defined(__SSE2__)
  // Four words at a time: swap the halves of each word, then the bytes of
  // each half.
  for (; k + 4 <= count; k += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * k));
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4 * k), v);
  }
#endif
  for (; k < count; ++k) {
    std::uint32_t w;
    std::memcpy(&w, from + 4 * k, 4);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#else
    w = (w >> 24) | ((w >> 8) & 0xFF00u) | ((w << 8) & 0xFF0000u) | (w << 24);
#endif
    std::memcpy(to + 4 * k, &w, 4);
  }
  std::memset(to + 4 * count, 0, kChunkPad);
}

// The words a well-formed stream surely has, from bit position p on, with
// `remaining` bytes still to decode: no code yields more than 1023 bytes
// per 19 bits (a literal gives one per 9), so at least 19 * remaining /
// 1023 bits follow.
MOX_ALWAYS_INLINE std::uint64_t wordsSurelyThere(std::uint64_t p, std::uint32_t remaining) {
  const std::uint64_t bits = (std::uint64_t{RLEEncoder::kRunCodeBits} * remaining + kMaxRun - 1) / kMaxRun;
  return (p + bits + 31) / 32;
}

// The six bytes of six literals at the top of a window (flags at bits 63,
// 54, ..., 18), the first in the low byte.
MOX_ALWAYS_INLINE std::uint64_t sixLiteralsPortable(std::uint64_t buf) {
  return ((buf >> 55) & 0xFF) | ((buf >> 46) & 0xFF) << 8 | ((buf >> 37) & 0xFF) << 16 | ((buf >> 28) & 0xFF) << 24 |
         ((buf >> 19) & 0xFF) << 32 | ((buf >> 10) & 0xFF) << 40;
}
#if MOX_BMI2_DISPATCH
// Only called where the processor has BMI2; written as an instruction so
// that the shared loop body needs no target of its own.
MOX_ALWAYS_INLINE std::uint64_t sixLiteralsBmi2(std::uint64_t buf) {
  // The bytes gathered by one parallel extract come out last literal lowest.
  constexpr std::uint64_t kBytes =
      0xFFull << 55 | 0xFFull << 46 | 0xFFull << 37 | 0xFFull << 28 | 0xFFull << 19 | 0xFFull << 10;
  std::uint64_t gathered;
  __asm__("pextq %2, %1, %0" : "=r"(gathered) : "r"(buf), "r"(kBytes));
  return __builtin_bswap64(gathered << 16);
}
#endif

// Bits a step of the fast loop consumes: the literals before `skip` and,
// when skip <= 36, the run code at it. Whether a run follows changes from
// step to step without a pattern a predictor could learn, and the next step
// waits on this value, so it is a conditional move, not a branch (which the
// compiler prefers here).
MOX_ALWAYS_INLINE unsigned bitsUsed(unsigned skip) {
  unsigned used = skip + RLEEncoder::kRunCodeBits;
#if defined(__x86_64__) && defined(__GNUC__)
  __asm__("cmpl $36, %1\n\tcmoval %1, %0" : "+r"(used) : "r"(skip) : "cc");
#else
  if (skip > 36) used = skip;
#endif
  return used;
}

// Decodes n bytes. Checked mode reads only the `words` words of the stream
// and rejects empty runs and runs past n. Trusted mode reads no word that a
// well-formed stream lacks: the fast loop copies only the words that the
// output still to come guarantees, the careful loop reads a following word
// only when the current code reaches into it.
// Decoding starts at code position `bitpos` with `o` bytes written.
template <bool kTrusted, bool kBmi2>
MOX_ALWAYS_INLINE bool decodeRunsBody(const unsigned char* stream, std::uint64_t words, unsigned char* out,
                                      std::uint32_t n, std::uint64_t bitpos, std::uint32_t o) {
  auto word = [stream](std::uint64_t q) -> std::uint64_t { return streamWord(stream, q); };

  // A step takes the leading literals of a 64-bit window (up to six, one
  // every 9 bits) and, when at most four precede it, the run after them.
  // Six literal bytes are always stored and the run's first eight bytes
  // always filled; the counts decide how far the output advances. Bit 9
  // stands in for a clear flag when all six are set (54 = 6 * 9). Six
  // literals, or four and a run, leave room in the window for the bits
  // loaded ahead, which are at least 57.
  constexpr std::uint64_t kFlags =
      (1ull << 63) | (1ull << 54) | (1ull << 45) | (1ull << 36) | (1ull << 27) | (1ull << 18);
  unsigned char chunk[kChunkWords * 4 + kChunkPad];
  const std::uint32_t oLimit = n > kFastRoom ? n - kFastRoom : 0;
  bool stopped = false;
  while (o < oLimit) {
    const std::uint64_t first = bitpos >> 5;
    const std::uint64_t available = (kTrusted ? wordsSurelyThere(bitpos, n - o) : words) - first;
    const std::uint64_t count = available < kChunkWords ? available : kChunkWords;
    std::uint64_t b = bitpos & 31;  // bit position in the copy
    // Too little left for a step: the careful loop ends the stream. Near
    // the end of a trusted stream the copies get short, but a refill still
    // costs less than decoding code by code.
    if (32 * count < b + kStepBits) break;
    copyWordsBigEndian(chunk, stream + 4 * first, count);
    // Every bit a step decodes lies in the copied words.
    const std::uint64_t bLimit = 32 * count - kStepBits;
    // The window holds the 64 bits from b. The next 64 bits are loaded at
    // the start of a step, from a position known before the step's codes
    // are, so the refill after them is shifts and an or rather than
    // dependent loads.
    std::uint64_t buf = (loadBE64(chunk + (b >> 3)) << (b & 7)) | (std::uint64_t{chunk[(b >> 3) + 8]} >> (8 - (b & 7)));
    while (o < oLimit && b <= bLimit) {
      // 57 or more bits, enough for the step's 19 to 55.
      const std::uint64_t next = loadBE64(chunk + (b >> 3) + 8) << (b & 7);
      const unsigned skip = static_cast<unsigned>(__builtin_clzll((~buf & kFlags) | (1ull << 9)));
      const unsigned literals = (skip * 7282u) >> 16;  // skip / 9 for skip <= 63
      std::uint64_t little;
#if MOX_BMI2_DISPATCH
      if constexpr (kBmi2) {
        little = sixLiteralsBmi2(buf);
      } else {
        little = sixLiteralsPortable(buf);
      }
#else
      little = sixLiteralsPortable(buf);
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
      little = __builtin_bswap64(little);
#endif
      std::memcpy(out + o, &little, 8);
      o += literals;
      // Whether a run follows changes from step to step without a pattern a
      // predictor could learn: masks rather than a branch. The code at
      // `skip` is a run and in the step when skip <= 36.
      const std::uint32_t run = 0u - static_cast<std::uint32_t>(skip < 37);
      const std::uint64_t c = buf << skip;
      const std::uint32_t field = static_cast<std::uint32_t>(c >> 53);
      // An empty run (field - 1 wraps); the room keeps runs within n.
      if (((field - 1) & run) >= kMaxRun) return false;
      const std::uint32_t length = field & run;
      const std::uint64_t fill = (c >> 45 & 0xFF) * 0x0101010101010101ull;
      // Runs of more than eight bytes are rare: one store in the common
      // case, which keeps the byte in a general register.
      std::memcpy(out + o, &fill, 8);
      if (length > 8) {
        if (MOX_UNLIKELY(length > n - o)) {
          // Too long for the output left: the careful loop takes it up at
          // the run.
          b += kLiteralBits * literals;
          stopped = true;
          break;
        }
        std::memset(out + o, static_cast<unsigned char>(fill), length);
      }
      o += length;
      // 19 to 55 bits consumed; `next` supplies them.
      const unsigned used = bitsUsed(skip);
      b += used;
      buf = (buf << used) | (next >> ((0u - used) & 63));
    }
    bitpos = 32 * first + b;
    if (stopped) break;
  }

  while (o < n) {
    const std::uint64_t q = bitpos >> 5;
    const unsigned r = bitpos & 31;
    if (!kTrusted && q >= words) return false;
    std::uint64_t buf = (word(q) << 32) << r;
    const bool literal = (buf >> 63) != 0;
    const unsigned bits = literal ? kLiteralBits : RLEEncoder::kRunCodeBits;
    if (bits > 32 - r) {
      if (!kTrusted && q + 1 >= words) return false;
      buf = ((word(q) << 32) | word(q + 1)) << r;
    }
    const std::uint32_t length = literal ? 1u : static_cast<std::uint32_t>(buf >> 53);
    const unsigned char byte = static_cast<unsigned char>(literal ? buf >> 55 : buf >> 45);
    if (length - 1 >= n - o) return false;
    // A call per code would dominate here, where most codes are literals.
    if (n - o >= 16) {
      std::memset(out + o, byte, 16);
      if (length > 16) std::memset(out + o, byte, length);
    } else {
      out[o] = byte;
      if (length > 1) std::memset(out + o, byte, length);
    }
    o += length;
    bitpos += bits;
  }
  return kTrusted || (bitpos + 31) / 32 == words;
}

template <bool kTrusted>
bool decodeRunsPlain(const unsigned char* stream, std::uint64_t words, unsigned char* out, std::uint32_t n) {
  return decodeRunsBody<kTrusted, false>(stream, words, out, n, 0, 0);
}
#if MOX_BMI2_DISPATCH
bool processorHasLzcnt() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) != 0 && (ecx & (1u << 5)) != 0;
}
bool processorHasGfni() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid_count(7u, 0u, &eax, &ebx, &ecx, &edx) != 0 && (ecx & (1u << 8)) != 0;
}
bool processorHasMovbe() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1u, &eax, &ebx, &ecx, &edx) != 0 && (ecx & (1u << 22)) != 0;
}

// Every processor with BMI2 also counts leading zeros in one instruction
// (lzcnt), which the loop's step waits on, and loads and stores big-endian
// values in one (movbe).
template <bool kTrusted>
__attribute__((target("bmi,bmi2,lzcnt,movbe"))) bool decodeRunsBmi2(const unsigned char* stream, std::uint64_t words,
                                                                    unsigned char* out, std::uint32_t n,
                                                                    std::uint64_t bitpos, std::uint32_t o) {
  return decodeRunsBody<kTrusted, true>(stream, words, out, n, bitpos, o);
}

// --- Decoding along the literal lattice (AVX-512 with byte permutes) ----
//
// A literal's code keeps its start position p modulo 9 and a run's code
// (19 bits) adds one to it. The codes from one run to the next therefore lie
// on a lattice p, p + 9, p + 18, ... (slot s of phase f is bit 9s + f), and
// the next run sits at the first slot whose flag bit is 0. For each of the
// nine phases a mask marks those slots, built for a whole stretch of stream
// at once; finding the next run is then a count of trailing zeros, and the
// literals before it are taken 32 at a time with byte permutes. Each step
// (one run and the literals before it) thus depends on the previous one
// only through a shift and a count.

#define MOX_TARGET_LATTICE __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni,bmi,bmi2,lzcnt,movbe")))

constexpr unsigned kPhases = 9;
// The copy's zeroed tail covers the reads of the last steps of a stretch
// and of the mask build.
constexpr std::uint64_t kLatticePad = 192;
// Bits of a stretch that no step starts in: a step reads its run up to 63
// slots (and 19 bits) ahead, which must lie in the copied words.
constexpr std::uint64_t kLatticeMargin = 9 * 63 + 27 + 9;
// Stretches of the lattice, longer than the other loops' copies: the masks
// of a stretch are built in blocks and its last steps stop short of its
// end, costs that longer stretches spread thinner.
constexpr std::uint64_t kLatticeWords = 1024;
// One phase's mask for a stretch (3641 slots), read eight bytes at a time
// up to 64 slots past the last step's slot.
constexpr std::size_t kMaskBytes = 512;
static_assert(kMaskBytes >= 8 * ((kLatticeWords * 32 / 9 + 64 + 63) / 64 + 1), "masks for a whole stretch");
// Output room of a step: 64 literal bytes stored, or fewer and a run's
// first 32 bytes. A longer run is checked against the end of the output.
constexpr std::uint32_t kLatticeRoom = 64 + 32;

// Byte permutes and shifts of 16-bit lanes, one pair for each bit offset
// r = 0..7: lane i gathers the two bytes holding bits b..b+8 of its source,
// b = r + 9i, big-endian, and the shift brings bit b to the top of the
// lane. Offset 0 gives slot i's code (masks); offset r gives the byte of
// literal i when the first literal's byte starts at bit r. Each permute is
// followed by its shifts, so that one address reaches both.
struct LatticeLanes {
  struct Offset {
    unsigned char bytes[64];
    std::uint16_t shifts[32];
  } offset[8];
  constexpr LatticeLanes() : offset{} {
    for (unsigned r = 0; r < 8; ++r) {
      for (unsigned i = 0; i < 32; ++i) {
        const unsigned bit = r + 9 * i;
        offset[r].bytes[2 * i] = static_cast<unsigned char>((bit >> 3) + 1);
        offset[r].bytes[2 * i + 1] = static_cast<unsigned char>(bit >> 3);
        offset[r].shifts[i] = static_cast<std::uint16_t>(bit & 7);
      }
    }
  }
};
alignas(64) constexpr LatticeLanes kLatticeLanes{};

// Masks of `blocks` blocks of 64 slots from the start of a copy: bit s of
// mask f set when the code at bit 9s + f would be a run.
MOX_TARGET_LATTICE void buildRunMasks(const unsigned char* copy, std::size_t blocks,
                                      unsigned char (*masks)[kMaskBytes]) {
  // The zero-masked forms of the permutes and shuffles: the plain ones
  // start from an undefined register, which some compilers warn about.
  const __m512i gather = _mm512_load_si512(kLatticeLanes.offset[0].bytes);
  const __m512i shift = _mm512_load_si512(kLatticeLanes.offset[0].shifts);
  alignas(64) static constexpr struct Orders {
    // The high bytes of the 16-bit lanes of two registers, each group of
    // eight in reverse; the low bytes in order.
    unsigned char high[64], low[64];
    // Byte 8f + g from byte 8g + f: a transpose of 8 x 8 bytes.
    unsigned char transpose[64];
    constexpr Orders() : high{}, low{}, transpose{} {
      for (unsigned i = 0; i < 64; ++i) {
        high[i] = static_cast<unsigned char>(2 * (8 * (i / 8) + 7 - i % 8) + 1);
        low[i] = static_cast<unsigned char>(2 * i);
        transpose[i] = static_cast<unsigned char>(8 * (i % 8) + i / 8);
      }
    }
  } kOrders{};
  const __m512i high = _mm512_load_si512(kOrders.high);
  const __m512i low = _mm512_load_si512(kOrders.low);
  const __m512i transpose = _mm512_load_si512(kOrders.transpose);
  // As the vector of an affine map over GF(2) with a quadword as its
  // matrix, byte j picks bit 7 - j of each of the matrix's bytes.
  const __m512i pick = _mm512_set1_epi64(0x0102040810204080ll);
  // The runs of block k: quadword f holds phase f's mask; phase 8's goes
  // to `last`.
  const auto block = [&](std::size_t k, __mmask64& last) MOX_TARGET_LATTICE {
    // Lane i: slot i's nine bits at the top, phase 0 highest; 32 slots a
    // register.
    __m512i first = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, gather, _mm512_loadu_si512(copy + 72 * k));
    __m512i second = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, gather, _mm512_loadu_si512(copy + 72 * k + 36));
    first = _mm512_sllv_epi16(first, shift);
    second = _mm512_sllv_epi16(second, shift);
    // Byte 8g + 7 - i: phases 0 to 7 of slot 8g + i. Phase 8 is the top
    // bit of the low bytes.
    const __m512i phases = _mm512_permutex2var_epi8(first, high, second);
    last = _mm512_testn_epi8_mask(_mm512_permutex2var_epi8(first, low, second), _mm512_set1_epi8(-128));
    // Each quadword transposed as a matrix of bits and complemented: byte
    // f of quadword g holds the runs of phase f among slots 8g to 8g + 7.
    // The byte transpose then gathers each phase's eight bytes.
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, transpose, _mm512_gf2p8affine_epi64_epi8(pick, phases, 0xFF));
  };
  // Eight blocks at a time, their quadwords transposed, so that each phase
  // gets one store of 64 bytes: nine stores to nine places for every block
  // would take longer than the rest of the work.
  const __m512i lowHalves = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i highHalves = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  std::size_t k = 0;
  for (; k + 8 <= blocks; k += 8) {
    __m512i r[8];
    __mmask64 last[8];
    for (unsigned j = 0; j < 8; ++j) r[j] = block(k + j, last[j]);
    // t[2j], t[2j + 1]: the even and the odd phases of blocks 2j, 2j + 1.
    __m512i t[8];
    for (unsigned j = 0; j < 4; ++j) {
      t[2 * j] = _mm512_maskz_unpacklo_epi64(0xFF, r[2 * j], r[2 * j + 1]);
      t[2 * j + 1] = _mm512_maskz_unpackhi_epi64(0xFF, r[2 * j], r[2 * j + 1]);
    }
    // u[4h + m] holds phases p and p + 4 of blocks 4h to 4h + 3, p being
    // 0, 2, 1, 3 for m = 0 .. 3.
    __m512i u[8];
    for (unsigned h = 0; h < 2; ++h) {
      for (unsigned odd = 0; odd < 2; ++odd) {
        u[4 * h + 2 * odd] = _mm512_permutex2var_epi64(t[4 * h + odd], lowHalves, t[4 * h + odd + 2]);
        u[4 * h + 2 * odd + 1] = _mm512_permutex2var_epi64(t[4 * h + odd], highHalves, t[4 * h + odd + 2]);
      }
    }
    constexpr unsigned kPhaseOf[4] = {0, 2, 1, 3};
    for (unsigned m = 0; m < 4; ++m) {
      _mm512_storeu_si512(masks[kPhaseOf[m]] + 8 * k, _mm512_maskz_shuffle_i64x2(0xFF, u[m], u[4 + m], 0x44));
      _mm512_storeu_si512(masks[kPhaseOf[m] + 4] + 8 * k, _mm512_maskz_shuffle_i64x2(0xFF, u[m], u[4 + m], 0xEE));
    }
    std::memcpy(masks[8] + 8 * k, last, sizeof last);
  }
  for (; k < blocks; ++k) {
    __mmask64 last;
    alignas(64) unsigned char byPhase[64];
    _mm512_store_si512(byPhase, block(k, last));
    for (unsigned f = 0; f < 8; ++f) std::memcpy(masks[f] + 8 * k, byPhase + 8 * f, 8);
    std::memcpy(masks[8] + 8 * k, &last, 8);
  }
}

// Copies `count` stream words as big-endian bytes, 16 words at a time.
MOX_TARGET_LATTICE void copyWordsBigEndian512(unsigned char* to, const unsigned char* from, std::uint64_t count) {
  // Byte order within each 128-bit quarter: the bytes of each word reversed.
  const __m512i swap = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
  std::uint64_t k = 0;
  for (; k + 16 <= count; k += 16) {
    _mm512_storeu_si512(to + 4 * k, _mm512_shuffle_epi8(_mm512_loadu_si512(from + 4 * k), swap));
  }
  if (k < count) {
    // The last words through a mask, which reads nothing past them.
    const __mmask64 tail = (~__mmask64{0}) >> (64 - 4 * (count - k));
    _mm512_mask_storeu_epi8(to + 4 * k, tail, _mm512_shuffle_epi8(_mm512_maskz_loadu_epi8(tail, from + 4 * k), swap));
  }
}

// Bit 0: the mask bit of slot s.
MOX_ALWAYS_INLINE std::uint64_t maskFrom(const unsigned char* mask, std::uint64_t s) {
  std::uint64_t w;
  std::memcpy(&w, mask + (s >> 3), 8);
  return w >> (s & 7);
}

// The bytes of the 32 literals whose first flag is at bit p of the copy.
MOX_TARGET_LATTICE MOX_ALWAYS_INLINE void storeLiterals32(const unsigned char* copy, std::uint64_t p,
                                                          unsigned char* out) {
  // The first byte starts at bit q; offset r + 1 from the flag's byte is
  // offset r from the next one, so q alone picks the lanes.
  const std::uint64_t q = p + 1;
  const LatticeLanes::Offset& lanes = kLatticeLanes.offset[q & 7];
  __m512i v =
      _mm512_maskz_permutexvar_epi8(~__mmask64{0}, _mm512_load_si512(lanes.bytes), _mm512_loadu_si512(copy + (q >> 3)));
  v = _mm512_srli_epi16(_mm512_sllv_epi16(v, _mm512_load_si512(lanes.shifts)), 8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, v));
}

template <unsigned F>
using Phase = std::integral_constant<unsigned, F>;

struct RunsDecoded {
  std::uint64_t bitpos;  // the next code
  std::uint32_t o;       // bytes written
  bool ok;
};

// Decodes as far as stretches of the stream and room in the output allow;
// the BMI2 loop ends the stream. Checked mode reads only the `words` words
// of the stream, trusted mode only those the output still to come
// guarantees; both reject empty runs.
template <bool kTrusted>
MOX_TARGET_LATTICE RunsDecoded decodeRunsLattice(const unsigned char* stream, std::uint64_t words, unsigned char* out,
                                                 std::uint32_t n) {
  alignas(64) unsigned char copy[kLatticeWords * 4 + kLatticePad];
  alignas(64) unsigned char masks[kPhases][kMaskBytes];
  std::uint64_t bitpos = 0;
  // The output is written at `to`; the room for whole steps ends at `toLimit`.
  unsigned char* to = out;
  bool empty = false;  // a run without bytes was met
  bool ended = false;  // no room for more steps, or a run longer than the output left
  unsigned char* const toLimit = out + (n > kLatticeRoom ? n - kLatticeRoom : 0);
  unsigned char* const outEnd = out + n;
  while (to < toLimit) {
    const std::uint64_t first = bitpos >> 5;
    const std::uint64_t available =
        (kTrusted ? wordsSurelyThere(bitpos, n - static_cast<std::uint32_t>(to - out)) : words) - first;
    const std::uint64_t count = available < kLatticeWords ? available : kLatticeWords;
    const std::uint64_t b = bitpos & 31;
    // Too short a stretch for steps; the bits past it are surely there
    // only when the output still to come is large.
    if (32 * count < b + kLatticeMargin + 9 * 64) break;
    copyWordsBigEndian512(copy, stream + 4 * first, count);
    std::memset(copy + 4 * count, 0, kLatticePad);
    // The next stretch is fetched from memory while this one is decoded,
    // two lines a round of steps: all at once, the fetches would wait for
    // each other.
    const std::uint64_t ahead = available - count < kLatticeWords ? available - count : kLatticeWords;
    const unsigned char* fetch = stream + 4 * (first + count);
    const unsigned char* const fetchEnd = fetch + (4 * ahead & ~std::uint64_t{127});
    const std::uint64_t sLimit = (32 * count - kLatticeMargin) / 9;
    // Steps load masks up to 64 slots past sLimit.
    buildRunMasks(copy, (sLimit + 64 + 63) / 64 + 1, masks);
    std::uint64_t s = b / 9;
    unsigned phase = static_cast<unsigned>(b % 9);
    // The masks of the next steps' phases are loaded two steps ahead, at
    // the slot of the step that loads them, so that a step finds its mask
    // waiting: window[F % 3] holds phase F's mask from the current slot on
    // (bit 0), shifted along as the steps advance, with zeros past the bits
    // loaded. A step whose window holds no run loads its own.
    std::uint64_t window[3] = {0, 0, 0};
    // One step of phase F: the literals up to the next run, then the run.
    // When the stretch or the output room ends it returns false, with s and
    // `to` as they were and `phase` set to F.
    auto step = [&](auto phaseConstant) MOX_TARGET_LATTICE -> bool {
      constexpr unsigned F = decltype(phaseConstant)::value;
      const auto stop = [&phase] {
        phase = F;
        return false;
      };
      if (MOX_UNLIKELY((s >= sLimit) | (to >= toLimit))) return stop();
      if (F == 0 && fetch < fetchEnd) {
        __builtin_prefetch(fetch);
        __builtin_prefetch(fetch + 64);
        fetch += 128;
      }
      std::uint64_t w = window[F % 3];
      if (MOX_UNLIKELY(w == 0)) {
        for (;;) {
          w = maskFrom(masks[F], s);
          if (w != 0) break;
          // No run in the 57 slots from s: 48 literals, with room left for
          // the step that goes on after them; without that room the output
          // is nearly done and the loops after this one end it. The other
          // windows are then behind.
          if (s + 48 >= sLimit) return stop();
          if (to + 48 >= toLimit) {
            ended = true;
            return stop();
          }
          storeLiterals32(copy, 9 * s + F, to);
          storeLiterals32(copy, 9 * (s + 32) + F, to + 32);
          to += 48;
          s += 48;
          window[(F + 1) % 3] = 0;
        }
      }
      window[(F + 2) % 3] = maskFrom(masks[(F + 2) % kPhases], s);
      const unsigned k = static_cast<unsigned>(__builtin_ctzll(w));  // literals before the run
      const std::uint64_t p = 9 * s + F;
      const std::uint64_t r = p + 9 * k;
      // The run is read before this step's stores: their places wait on
      // the runs before, and a read behind them may be held until those
      // places are known, which would chain every step to the last run's
      // read (measured: 9% of the loop).
      const std::uint64_t c = loadBE64(copy + (r >> 3)) << (r & 7);
      const std::uint64_t field = c >> 53;
      // After a run the lattice moves on by one phase; from phase 8 that
      // is phase 0 one slot further. The next two windows move along; by
      // 64 slots or more only after the rarer long stretches of literals.
      constexpr unsigned kAfterRun = F == 8 ? 3 : 2;
      const unsigned advance = k + kAfterRun;
      storeLiterals32(copy, p, to);
      if (MOX_UNLIKELY(k > 32)) {
        storeLiterals32(copy, p + 9 * 32, to + 32);
        window[(F + 1) % 3] = (window[(F + 1) % 3] >> kAfterRun) >> k;
        window[(F + 2) % 3] = (window[(F + 2) % 3] >> kAfterRun) >> k;
      } else {
        window[(F + 1) % 3] >>= advance;
        window[(F + 2) % 3] >>= advance;
      }
      to += k;
      // Runs of more than 32 bytes are rare: one store in the common case.
      // So are empty ones, which only a damaged stream holds.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_set1_epi8(static_cast<char>(c >> 45)));
      if (MOX_UNLIKELY(field - 1 >= 32)) {
        if (field == 0) empty = true;
        if (MOX_UNLIKELY(field > static_cast<std::uint64_t>(outEnd - to))) {
          // Too long for the output left: the loops after this one take
          // it up at the run.
          s += k;
          ended = true;
          return stop();
        }
        std::memset(to, static_cast<unsigned char>(c >> 45), field);
      }
      to += field;
      s += advance;
      return true;
    };
    // Rounds of the nine phases, the first entered at the current one,
    // until a step cannot be taken.
    for (bool more = true; more;) {
      switch (phase) {
        case 0:
          if (!(more = step(Phase<0>{}))) break;
          [[fallthrough]];
        case 1:
          if (!(more = step(Phase<1>{}))) break;
          [[fallthrough]];
        case 2:
          if (!(more = step(Phase<2>{}))) break;
          [[fallthrough]];
        case 3:
          if (!(more = step(Phase<3>{}))) break;
          [[fallthrough]];
        case 4:
          if (!(more = step(Phase<4>{}))) break;
          [[fallthrough]];
        case 5:
          if (!(more = step(Phase<5>{}))) break;
          [[fallthrough]];
        case 6:
          if (!(more = step(Phase<6>{}))) break;
          [[fallthrough]];
        case 7:
          if (!(more = step(Phase<7>{}))) break;
          [[fallthrough]];
        default:
          if ((more = step(Phase<8>{}))) phase = 0;
      }
    }
    bitpos = 32 * first + 9 * s + phase;
    if (ended) break;
  }
  return {bitpos, static_cast<std::uint32_t>(to - out), !empty};
}

// Byte permutes across a whole register (VBMI) came with processors on
// which 512-bit instructions no longer slow the clock much.
#endif

std::atomic<mox::detail::RunDecoderLoop> widestRunDecoderLoop{mox::detail::RunDecoderLoop::kLattice};

template <bool kTrusted>
bool decodeRuns(const unsigned char* stream, std::uint64_t words, unsigned char* out, std::uint32_t n) {
#if MOX_BMI2_DISPATCH
  using mox::detail::RunDecoderLoop;
  const RunDecoderLoop cap = widestRunDecoderLoop.load(std::memory_order_relaxed);
  static const bool bmi2 = mox::detail::processorHasBmi2() && processorHasLzcnt() && processorHasMovbe();
  const bool fast = bmi2 && cap >= RunDecoderLoop::kBmi2;
  static const bool lattice = mox::detail::processorHasAvx512Vbmi() && processorHasGfni();
  if (fast && cap >= RunDecoderLoop::kLattice && lattice) {
    const RunsDecoded done = decodeRunsLattice<kTrusted>(stream, words, out, n);
    return done.ok && decodeRunsBmi2<kTrusted>(stream, words, out, n, done.bitpos, done.o);
  }
  if (fast) return decodeRunsBmi2<kTrusted>(stream, words, out, n, 0, 0);
#endif
  return decodeRunsPlain<kTrusted>(stream, words, out, n);
}

}  // namespace

void mox::detail::capRunDecoderLoop(RunDecoderLoop widest) {
  widestRunDecoderLoop.store(widest, std::memory_order_relaxed);
}

RLEEncoder::RLEEncoder() : m_mutex(mox::platform::MutexHandle::create()), m_previousFrame{}, m_previousFrameSize{} {}

RLEEncoder::RLEEncoder(const RLEEncoder& other) : m_mutex(other.m_mutex), m_previousFrame{}, m_previousFrameSize{} {
  mox::detail::ScopedMutexHold hold(other.m_mutex);
  copyFramesFrom(other);
}

RLEEncoder& RLEEncoder::operator=(const RLEEncoder& other) {
  if (this == &other) return *this;
  {
    mox::detail::ScopedMutexHold mine(m_mutex);
    mox::detail::ScopedMutexHold theirs(other.m_mutex);
    releaseFrames();
    copyFramesFrom(other);
  }
  m_mutex = other.m_mutex;
  return *this;
}

RLEEncoder::~RLEEncoder() {
  releaseFrames();
  m_mutex.close();
}

void RLEEncoder::releaseFrames() {
  for (int c = 0; c < kChannels; ++c) {
    std::free(m_previousFrame[c]);
    m_previousFrame[c] = nullptr;
    m_previousFrameSize[c] = 0;
  }
}

void RLEEncoder::copyFramesFrom(const RLEEncoder& other) {
  for (int c = 0; c < kChannels; ++c) {
    const int size = other.m_previousFrameSize[c];
    if (other.m_previousFrame[c] == nullptr || size <= 0) continue;
    auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    if (copy == nullptr) continue;
    std::memcpy(copy, other.m_previousFrame[c], static_cast<std::size_t>(size));
    m_previousFrame[c] = copy;
    m_previousFrameSize[c] = size;
  }
}

void RLEEncoder::doXor(unsigned char* result, unsigned char* a, unsigned char* b, int length) {
  if (length > 0) xorBytes(result, a, b, static_cast<std::size_t>(length));
}

unsigned int RLEEncoder::EncodedRunLength(unsigned char* data, unsigned int length) {
  std::uint64_t bits = 0;
  forEachCode(data, length, [&bits](std::uint32_t, unsigned codeBits) { bits += codeBits; });
  return static_cast<unsigned int>(4 + 4 * ((bits + 31) / 32));
}

unsigned int RLEEncoder::RunLengthEncode(unsigned char* data, unsigned int length, unsigned char* out) {
  // The caller's buffer holds exactly EncodedRunLength() bytes; the encoder
  // needs a little more room than it fills.
  const std::uint64_t worst = worstEncodedLength(length);
  auto* scratch = static_cast<unsigned char*>(std::malloc(worst + kEncodeSlack));
  if (scratch == nullptr) return 0;
  const std::uint32_t used = encodeInto(PlainSource{data}, length, scratch);
  std::memcpy(out, scratch, used);
  std::free(scratch);
  return used;
}

unsigned int RLEEncoder::DecodedRunLength(unsigned char* in) { return loadLE32(in); }

unsigned int RLEEncoder::RunLengthDecode(unsigned char* in, unsigned char* out) {
  const std::uint32_t n = loadLE32(in);
  return decodeRuns<true>(in + 4, 0, out, n) ? n : 0;
}

bool RLEEncoder::encode(unsigned char* data, int length, unsigned char** out, int& outLength, int channel) {
  if (channel < 0 || channel >= kChannels) return false;
  if (out != nullptr) *out = nullptr;
  outLength = 0;
  if (data == nullptr || out == nullptr || length < 1) return false;
  mox::detail::ScopedMutexHold hold(m_mutex);
  const std::uint32_t n = static_cast<std::uint32_t>(length);

  if (m_previousFrame[channel] == nullptr || m_previousFrameSize[channel] != length) {
    std::free(m_previousFrame[channel]);
    m_previousFrame[channel] = static_cast<unsigned char*>(std::calloc(n, 1));
    m_previousFrameSize[channel] = m_previousFrame[channel] != nullptr ? length : 0;
    if (m_previousFrame[channel] == nullptr) return false;
  }
  // The output is sized for the worst case, which spares a counting pass;
  // it is allocated before the previous frame is replaced, so a failure
  // leaves the channel as it was. It is trimmed only when that returns at
  // least half of it: a block shrunk by a few percent makes the allocator
  // hand out fresh pages for the next frame (its threshold for mapping
  // large blocks follows the sizes freed), and touching those costs more
  // than the encoding.
  const std::uint64_t worst = worstEncodedLength(n);
  if (worst > INT_MAX) return false;
  auto* buffer = static_cast<unsigned char*>(std::malloc(worst + kEncodeSlack));
  if (buffer == nullptr) return false;

  const std::uint32_t used = encodeInto(XorSource{data, m_previousFrame[channel]}, n, buffer);
  if (used <= worst / 2) {
    if (auto* trimmed = static_cast<unsigned char*>(std::realloc(buffer, used))) buffer = trimmed;
  }
  *out = buffer;
  outLength = static_cast<int>(used);
  return true;
}

bool RLEEncoder::decode(unsigned char* in, unsigned char** out, int& outLength) {
  return mox::detail::decodeTrustedBuffer(m_mutex, in, out, outLength, [&](unsigned char* buffer, std::uint32_t n) {
    return RunLengthDecode(in, buffer) == n;
  });
}

bool RLEEncoder::decode(const unsigned char* in, int inLength, unsigned char** out, int& outLength) {
  if (!mox::detail::beginDecode(in, out, outLength) || inLength < 8 || (inLength - 4) % 4 != 0) return false;
  const std::uint32_t n = loadLE32(in);
  const std::uint64_t words = std::uint64_t(inLength - 4) / 4;
  // Every code takes at least 9 bits and yields at most 1023 bytes: a bound
  // on n before the allocation.
  if (n == 0 || n > INT_MAX || n > (32 * words / kLiteralBits) * kMaxRun) return false;
  mox::detail::ScopedMutexHold hold(m_mutex);
  return mox::detail::decodeIntoNewBuffer(
      n, out, outLength, [&](unsigned char* buffer) { return decodeRuns<false>(in + 4, words, buffer, n); });
}
