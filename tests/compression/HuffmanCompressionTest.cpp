#include "mox_utils/compression/HuffmanCompression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "compression/TestFrames.h"
#include "mox_utils/compression/CodecSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A slow second implementation written straight from the format description:
// the same descending quicksort, the tree walk with visit counters that
// searches backwards for a child's triple and forwards for a parent, and a
// writer that packs one bit at a time. The fast coder must agree byte for
// byte.
class ReferenceHuffman {
 public:
  static Bytes compress(const Bytes& in) {
    std::vector<std::uint32_t> id, weight;
    std::uint32_t counts[256] = {};
    for (unsigned char b : in) ++counts[b];
    for (unsigned v = 0; v < 256; ++v) {
      if (counts[v]) {
        id.push_back(v);
        weight.push_back(counts[v]);
      }
    }
    if (id.size() == 1) {
      id.push_back(256);
      weight.push_back(1);
    }
    std::vector<std::uint32_t> tree;
    std::uint32_t next = 1000;
    for (int k = static_cast<int>(id.size()); k > 1; --k) {
      sortDescending(id, weight, 0, k - 1);
      tree.insert(tree.end(), {next, id[k - 2], id[k - 1]});
      weight[k - 2] += weight[k - 1];
      id[k - 2] = next++;
    }
    // Codes by the visit-counter walk.
    std::uint64_t code[256] = {};
    unsigned length[256] = {};
    const int triples = static_cast<int>(tree.size() / 3);
    std::vector<int> visits(triples, 2);
    int current = triples - 1;
    std::uint64_t c = 0;
    unsigned depth = 0;
    for (;;) {
      if (visits[current] == 0) {
        if (current == triples - 1) break;
        const std::uint32_t self = tree[3 * current];
        int parent = current + 1;
        while (tree[3 * parent + 1] != self && tree[3 * parent + 2] != self) ++parent;
        current = parent;
        c >>= 1;
        --depth;
        continue;
      }
      const unsigned bit = visits[current] == 2 ? 1 : 0;
      --visits[current];
      const std::uint32_t child = tree[3 * current + 1 + bit];
      if (child <= 256) {
        if (child < 256) {
          code[child] = (c << 1) | bit;
          length[child] = depth + 1;
        }
        continue;
      }
      int index = current - 1;
      while (tree[3 * index] != child) --index;
      current = index;
      c = (c << 1) | bit;
      ++depth;
    }
    Bytes out(6);
    put32(out, 0, static_cast<std::uint32_t>(in.size()));
    out[4] = static_cast<unsigned char>(tree.size());
    out[5] = static_cast<unsigned char>(tree.size() >> 8);
    for (std::uint32_t e : tree) {
      out.push_back(static_cast<unsigned char>(e));
      out.push_back(static_cast<unsigned char>(e >> 8));
    }
    std::vector<bool> bits;
    for (unsigned char b : in) {
      for (unsigned k = length[b]; k-- > 0;) bits.push_back((code[b] >> k) & 1);
    }
    appendWords(out, bits);
    return out;
  }

  static void appendWords(Bytes& out, const std::vector<bool>& bits) {
    for (std::size_t w = 0; w < (bits.size() + 31) / 32; ++w) {
      std::uint32_t word = 0;
      for (std::size_t k = 0; k < 32; ++k) {
        const std::size_t i = 32 * w + k;
        if (i < bits.size() && bits[i]) word |= 0x80000000u >> k;
      }
      const std::size_t at = out.size();
      out.resize(at + 4);
      put32(out, at, word);
    }
  }
  static void put32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + k] = static_cast<unsigned char>(v >> (8 * k));
  }

 private:
  static void sortDescending(std::vector<std::uint32_t>& id, std::vector<std::uint32_t>& w, int lo, int hi) {
    int i = lo, j = hi;
    const std::uint32_t pivot = w[(lo + hi) / 2];
    while (i <= j) {
      while (w[i] > pivot) ++i;
      while (w[j] < pivot) --j;
      if (i <= j) {
        std::swap(w[i], w[j]);
        std::swap(id[i], id[j]);
        ++i;
        --j;
      }
    }
    if (lo < j) sortDescending(id, w, lo, j);
    if (i < hi) sortDescending(id, w, i, hi);
  }
};

Bytes compressed(HuffmanCompression& codec, const Bytes& in) {
  unsigned char* out = nullptr;
  int outLength = -1;
  EXPECT_TRUE(codec.compress(in.data(), static_cast<int>(in.size()), &out, outLength));
  Bytes result(out, out + outLength);
  std::free(out);
  return result;
}

// Restores with both overloads; they must agree.
Bytes restored(HuffmanCompression& codec, const Bytes& in) {
  unsigned char* out = nullptr;
  int outLength = -1;
  EXPECT_TRUE(codec.uncompress(in.data(), static_cast<int>(in.size()), &out, outLength));
  Bytes checked(out, out + (out ? outLength : 0));
  std::free(out);
  EXPECT_TRUE(codec.uncompress(in.data(), &out, outLength));
  Bytes trusted(out, out + (out ? outLength : 0));
  std::free(out);
  EXPECT_EQ(checked, trusted);
  return checked;
}

bool checkedFails(HuffmanCompression& codec, const Bytes& in) {
  unsigned char* out = reinterpret_cast<unsigned char*>(&codec);
  int outLength = -1;
  const bool ok = codec.uncompress(in.data(), static_cast<int>(in.size()), &out, outLength);
  if (ok) std::free(out);
  return !ok && out == nullptr && outLength == 0;
}

TEST(HuffmanCompressionTest, HandWorkedBuffers) {
  struct Case {
    const char* name;
    Bytes input;
    Bytes expected;
  } cases[] = {
      // The pad symbol takes the first child: the sort swaps the equal
      // weights, so the byte's code is the single bit 1.
      {"one byte", {0x41}, {1, 0, 0, 0, 3, 0, 0xE8, 3, 0, 1, 0x41, 0, 0, 0, 0, 0x80}},
      // A repeated value keeps its place and gets the bit 0.
      {"repeated value", Bytes(5, 7), {5, 0, 0, 0, 3, 0, 0xE8, 3, 7, 0, 0, 1, 0, 0, 0, 0}},
      // "AAB": A = 0, B = 1, stream 001.
      {"two symbols", {'A', 'A', 'B'}, {3, 0, 0, 0, 3, 0, 0xE8, 3, 'A', 0, 'B', 0, 0, 0, 0, 0x20}},
      // "ABBCCC": the first sort reverses all three entries; the second
      // swaps the equal weights 3 of C and of the new node, so the node
      // becomes the first child: B = 00, A = 01, C = 1; stream
      // 01 00 00 1 1 1 = 0x43800000.
      {"equal weights at the second level",
       {'A', 'B', 'B', 'C', 'C', 'C'},
       {6, 0, 0, 0, 6, 0, 0xE8, 3, 'B', 0, 'A', 0, 0xE9, 3, 0xE8, 3, 'C', 0, 0, 0, 0x80, 0x43}},
  };
  HuffmanCompression codec;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compressed(codec, c.input), c.expected);
    EXPECT_EQ(ReferenceHuffman::compress(c.input), c.expected);
    EXPECT_EQ(restored(codec, c.expected), c.input);
  }
}

Bytes skewed(std::size_t n, unsigned seed) {
  // Geometric-like counts: byte k appears about half as often as byte k-1.
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) {
    unsigned k = 0;
    while (k < 40 && (rng() & 1)) ++k;
    b = static_cast<unsigned char>(k);
  }
  return out;
}

TEST(HuffmanCompressionTest, MatchesReferenceAndRoundTrips) {
  std::mt19937 rng(7);
  std::vector<std::pair<std::string, Bytes>> inputs;
  Bytes all(256);
  for (int v = 0; v < 256; ++v) all[v] = static_cast<unsigned char>(v);
  inputs.emplace_back("all 256 values once", all);
  Bytes uniform(100000);
  for (auto& b : uniform) b = static_cast<unsigned char>(rng());
  inputs.emplace_back("uniform random", uniform);
  inputs.emplace_back("skewed", skewed(200000, 3));
  inputs.emplace_back("skewed short", skewed(37, 4));
  Bytes mostlyZero(70000, 0);
  mostlyZero[123] = 9;
  mostlyZero[69999] = 200;
  inputs.emplace_back("two rare bytes", mostlyZero);
  for (std::size_t n : {2u, 3u, 5u, 31u, 32u, 33u, 63u, 64u, 65u, 1000u}) {
    Bytes small(n);
    for (auto& b : small) b = static_cast<unsigned char>(rng() % 6);
    inputs.emplace_back("small " + std::to_string(n), small);
  }
  for (const std::string& name : mox::test::frameNames()) {
    if (name.find("-f0") != std::string::npos || name.find("busi256-normal") == 0 || name.find("hc18") == 0 ||
        name.find("dcm") == 0)
      inputs.emplace_back(name, mox::test::readFrame(name));
  }
  ASSERT_GT(inputs.size(), 20u) << "real frames missing in " << mox::test::ultrasoundDir();

  HuffmanCompression codec;
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    const Bytes out = compressed(codec, input);
    EXPECT_EQ(out, ReferenceHuffman::compress(input));
    EXPECT_EQ(restored(codec, out), input);
    // The decoding table built in narrower vector registers, or without.
    for (auto join : {mox::detail::TableJoin::kVector, mox::detail::TableJoin::kPortable}) {
      mox::detail::capTableJoin(join);
      EXPECT_EQ(restored(codec, out), input);
    }
    mox::detail::capTableJoin(mox::detail::TableJoin::kWide);
  }
}

// The decoder runs table lookups several at a time while far from both
// ends and one code at a time near them. Inputs whose sizes fall on either
// side of that switch, with codes of one bit, of about eight and longer
// than the table (decoded down the tree), restore the same either way, and
// a stream without its last word is rejected.
TEST(HuffmanCompressionTest, FastAndCarefulLoopsAgree) {
  std::mt19937 rng(21);
  auto rareTail = [&rng](std::size_t n) {
    Bytes out(n, 0);
    for (auto& b : out) {
      if (rng() % 64 == 0) b = static_cast<unsigned char>(1 + rng() % 40);
    }
    return out;
  };
  auto uniform = [&rng](std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng());
    return out;
  };
  HuffmanCompression codec;
  for (std::size_t n : {15u, 16u, 17u, 30u, 64u, 129u, 700u, 5000u}) {
    const std::pair<const char*, Bytes> inputs[] = {
        {"skewed", skewed(n, static_cast<unsigned>(n))}, {"rare tail", rareTail(n)}, {"uniform", uniform(n)}};
    for (const auto& [name, input] : inputs) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(n));
      Bytes out = compressed(codec, input);
      EXPECT_EQ(restored(codec, out), input);
      out.resize(out.size() - 4);
      EXPECT_TRUE(checkedFails(codec, out));
    }
  }
}

// Codes of up to 16 bits are packed in vectors where the processor can,
// four codes to a lane and the lanes' bits gathered into 64-bit slots. The
// inputs put every kind of slot in front of it: quads of the full 64 bits
// on slot boundaries and one bit off them (240 values with 16-bit codes,
// rare ones first), many quads in one slot (runs of a 1-bit code), quads ending
// exactly on boundaries (4- and 8-bit codes), mixed lengths, and streams
// around the shortest that the vector loop's stores ahead fit into.
TEST(HuffmanCompressionTest, VectorAndPortablePackersAgree) {
  std::mt19937 rng(31);
  auto longCodes = [](bool misaligned) {
    Bytes out;
    if (misaligned) out.push_back(0);
    for (int v = 8; v < 256; ++v) out.push_back(static_cast<unsigned char>(v));  // 16-bit codes
    for (int v = 0; v < 8; ++v) out.insert(out.end(), 240u << (8 - v), static_cast<unsigned char>(v));
    return out;
  };
  auto uniform = [&rng](std::size_t n, unsigned values) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng() % values);
    return out;
  };
  // Half of the bytes 0 (a 1-bit code), in runs of up to 200.
  auto runsOfZero = [&rng]() {
    Bytes out;
    while (out.size() < 50000) {
      out.insert(out.end(), rng() % 200, 0);
      for (unsigned k = rng() % 200; k > 0; --k) out.push_back(static_cast<unsigned char>(1 + rng() % 255));
    }
    return out;
  };
  struct Case {
    std::string name;
    Bytes input;
  };
  std::vector<Case> cases = {
      {"16-bit codes on slot boundaries", longCodes(false)},
      {"16-bit codes one bit off", longCodes(true)},
      {"runs of a 1-bit code", runsOfZero()},
      {"4-bit codes", uniform(50000, 16)},
      {"8-bit codes", uniform(50000, 256)},
  };
  Bytes mixed = longCodes(false);
  std::shuffle(mixed.begin(), mixed.end(), rng);
  cases.push_back({"mixed lengths", mixed});
  for (std::size_t n : {63u, 64u, 150u, 190u, 200u, 260u, 1000u})
    cases.push_back({"size " + std::to_string(n), uniform(n, 256)});

  HuffmanCompression codec;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mox::detail::capCodePacker(mox::detail::CodePacker::kPortable);
    const Bytes portable = compressed(codec, c.input);
    mox::detail::capCodePacker(mox::detail::CodePacker::kVector);
    const Bytes vector = compressed(codec, c.input);
    EXPECT_EQ(vector, portable);
    EXPECT_EQ(vector, ReferenceHuffman::compress(c.input));
  }
}

TEST(HuffmanCompressionTest, AllValuesMakeTheLargestDictionary) {
  Bytes input;
  for (int v = 0; v < 256; ++v) input.insert(input.end(), v + 1, static_cast<unsigned char>(v));
  HuffmanCompression codec;
  const Bytes out = compressed(codec, input);
  ASSERT_GE(out.size(), 6u);
  EXPECT_EQ(out[4] | out[5] << 8, 765);
  EXPECT_EQ(restored(codec, out), input);
}

// Fibonacci counts give the deepest tree for their total: 34 symbols with
// counts F(1)..F(34) (about 15 million bytes) have codes of 33 bits, which no
// longer fit a 32-bit word and are split across two.
TEST(HuffmanCompressionTest, CodesLongerThanAWord) {
  Bytes input;
  std::uint64_t a = 1, b = 1;
  for (int v = 0; v < 34; ++v) {
    input.insert(input.end(), a, static_cast<unsigned char>(v));
    const std::uint64_t next = a + b;
    a = b;
    b = next;
  }
  std::shuffle(input.begin(), input.end(), std::mt19937(1));
  HuffmanCompression codec;
  const Bytes out = compressed(codec, input);
  EXPECT_EQ(out, ReferenceHuffman::compress(input));
  EXPECT_EQ(restored(codec, out), input);
}

TEST(HuffmanCompressionTest, RefusesEmptyInput) {
  HuffmanCompression codec;
  const unsigned char byte = 1;
  unsigned char* out = const_cast<unsigned char*>(&byte);
  int outLength = 5;
  EXPECT_FALSE(codec.compress(&byte, 0, &out, outLength));
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(codec.compress(&byte, -3, &out, outLength));
  EXPECT_FALSE(codec.compress(nullptr, 1, &out, outLength));
}

TEST(HuffmanCompressionTest, CheckedUncompressRejectsDamage) {
  HuffmanCompression codec;
  // "ABBCCC": dictionary E8 03 42 00 41 00 | E9 03 E8 03 43 00.
  const Bytes good = compressed(codec, {'A', 'B', 'B', 'C', 'C', 'C'});
  auto with = [&good](std::size_t at, std::initializer_list<unsigned char> bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + at);
    return b;
  };
  Bytes extraWord = good;
  extraWord.insert(extraWord.end(), 4, 0);
  Bytes shortStream = compressed(codec, Bytes(40, 1));  // 40 one-bit codes: two words
  shortStream.resize(shortStream.size() - 4);
  struct Case {
    const char* name;
    Bytes input;
  } cases[] = {
      {"empty length", with(0, {0, 0, 0, 0})},
      {"n beyond the stream's capacity", with(0, {0, 1, 0, 0})},
      {"T not a multiple of 3", with(4, {5, 0})},
      {"T zero", with(4, {0, 0})},
      {"T beyond the buffer", with(4, {0x2D, 0})},
      {"wrong triple id", with(6, {0xE9, 3})},
      {"child referring forwards", with(14, {0xE9, 3})},
      {"child id between 256 and 1000", with(8, {0x01, 1})},
      {"node used twice", with(16, {0xE8, 3})},
      {"stream not whole words", Bytes(good.begin(), good.end() - 1)},
      {"no stream", Bytes(good.begin(), good.end() - 4)},
      {"words after the last code", extraWord},
      {"stream too short for n", shortStream},
      {"header cut", Bytes(good.begin(), good.begin() + 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(checkedFails(codec, c.input));
  }
  // The same buffer with the unused node kept off the tree: a triple that
  // nothing refers to.
  const Bytes orphan = {6,   0, 0,   0, 9,    0, 0xE8, 3, 'B', 0, 'A', 0, 0xE9, 3,
                        'C', 0, 'A', 0, 0xEA, 3, 0xE9, 3, 'B', 0, 0,   0, 0x80, 0x43};
  EXPECT_TRUE(checkedFails(codec, orphan));
  EXPECT_EQ(restored(codec, good), (Bytes{'A', 'B', 'B', 'C', 'C', 'C'}));
}

TEST(HuffmanCompressionTest, EveryTruncationAndByteFlipIsSafe) {
  HuffmanCompression codec;
  const Bytes input = skewed(300, 9);
  const Bytes good = compressed(codec, input);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_TRUE(checkedFails(codec, Bytes(good.begin(), good.begin() + cut)));
  }
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      Bytes damaged = good;
      damaged[at] ^= flip;
      unsigned char* out = nullptr;
      int outLength = 0;
      if (codec.uncompress(damaged.data(), static_cast<int>(damaged.size()), &out, outLength)) {
        EXPECT_GT(outLength, 0);
        std::free(out);
      }
    }
  }
}

TEST(HuffmanCompressionTest, InstancesRunConcurrently) {
  const Bytes a = mox::test::readFrame("busi256-benign-005_256x256.gray");
  const Bytes b = skewed(65536, 11);
  ASSERT_FALSE(a.empty());
  const Bytes expectedA = ReferenceHuffman::compress(a);
  const Bytes expectedB = ReferenceHuffman::compress(b);
  HuffmanCompression shared;
  auto work = [&](const Bytes& input, const Bytes& expected, HuffmanCompression* own) {
    HuffmanCompression local;
    for (int k = 0; k < 20; ++k) {
      HuffmanCompression& codec = (k % 2 == 0) ? *own : local;
      EXPECT_EQ(compressed(codec, input), expected);
      EXPECT_EQ(restored(codec, expected), input);
    }
  };
  HuffmanCompression copy;
  copy = shared;  // shares the mutex, keeps its own tables
  std::thread t1(work, std::cref(a), std::cref(expectedA), &shared);
  std::thread t2(work, std::cref(b), std::cref(expectedB), &copy);
  work(a, expectedA, &shared);
  t1.join();
  t2.join();
}

}  // namespace

namespace {

// Many equal counts make the order in which the sort leaves equal weights
// visible in the dictionary: small inputs over small alphabets.
TEST(HuffmanCompressionTest, EqualCountsShapeTheTreeAsTheReferenceDoes) {
  std::mt19937 rng(13);
  HuffmanCompression codec;
  for (int round = 0; round < 3000; ++round) {
    const unsigned alphabet = 2 + rng() % (round % 3 == 0 ? 254 : 12);
    const std::size_t length = 1 + rng() % 700;
    Bytes input(length);
    for (auto& b : input) b = static_cast<unsigned char>(rng() % alphabet);
    const Bytes out = compressed(codec, input);
    if (out != ReferenceHuffman::compress(input)) {
      ADD_FAILURE() << "round " << round << ", length " << length << ", alphabet " << alphabet;
      break;
    }
  }
}

}  // namespace

namespace {

// Frames of mostly short codes take the joined packing path, and blank
// areas the run counter: codes of very different lengths (counts growing
// like Fibonacci numbers give codes up to the alphabet size long), mixed in
// random order or in runs that start and end on and off eight-byte steps.
TEST(HuffmanCompressionTest, RunsAndShortCodesMatchTheReference) {
  std::mt19937 rng(5);
  auto fibonacci = [&rng](unsigned symbols, bool shuffle) {
    Bytes out;
    std::uint32_t a = 1, b = 1;
    for (unsigned v = 0; v < symbols; ++v) {
      out.insert(out.end(), a, static_cast<unsigned char>(v * 7));
      const std::uint32_t next = a + b;
      a = b;
      b = next;
    }
    if (shuffle) std::shuffle(out.begin(), out.end(), rng);
    return out;
  };
  auto runs = [&rng](std::size_t n, unsigned maxRun) {
    Bytes out;
    while (out.size() < n) out.insert(out.end(), 1 + rng() % maxRun, static_cast<unsigned char>(rng() % 5));
    out.resize(n);
    return out;
  };
  struct Case {
    const char* name;
    Bytes input;
  };
  std::vector<Case> cases = {
      {"codes up to 13 bits, shuffled", fibonacci(14, true)},
      {"codes up to 21 bits, shuffled", fibonacci(22, true)},
      {"codes up to 21 bits, sorted into runs", fibonacci(22, false)},
      {"short runs", runs(5001, 9)},
      {"long runs", runs(40003, 300)},
      {"one run with a different last byte", Bytes(8 * 50 + 7, 3)},
  };
  cases.back().input.back() = 4;
  Bytes tail(64, 9);
  tail[56] = 1;  // a run that stops one word before the end
  cases.push_back({"run stopping short of the end", tail});

  HuffmanCompression codec;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes out = compressed(codec, c.input);
    EXPECT_EQ(out, ReferenceHuffman::compress(c.input));
    EXPECT_EQ(restored(codec, out), c.input);
  }
}

}  // namespace

namespace {

// Every assignment of counts 1 .. 6 to six byte values: small lists in
// which equal weights meet in every arrangement, merged weights join runs
// of every length, and runs are read while heavier and lighter than the
// merged weight.
TEST(HuffmanCompressionTest, EverySmallCountVectorMatchesTheReference) {
  HuffmanCompression codec;
  constexpr int kValues = 6;
  constexpr int kMaxCount = 6;
  int counts[kValues] = {};
  int mismatches = 0;
  for (int vector = 0; vector < 46656; ++vector) {  // kMaxCount ^ kValues
    int rest = vector;
    Bytes input;
    for (int v = 0; v < kValues; ++v) {
      counts[v] = 1 + rest % kMaxCount;
      rest /= kMaxCount;
      input.insert(input.end(), counts[v], static_cast<unsigned char>(40 * v));
    }
    if (compressed(codec, input) != ReferenceHuffman::compress(input) && ++mismatches <= 3) {
      ADD_FAILURE() << "counts " << counts[0] << " " << counts[1] << " " << counts[2] << " " << counts[3] << " "
                    << counts[4] << " " << counts[5];
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Counts drawn from a few values, so that merged weights keep landing on
// runs of equal weights of every length, over alphabets up to the full 256.
TEST(HuffmanCompressionTest, CountsWithManyTiesMatchTheReference) {
  std::mt19937 rng(29);
  HuffmanCompression codec;
  for (int round = 0; round < 400; ++round) {
    const unsigned alphabet = 2 + rng() % 255;
    std::vector<std::uint32_t> values;
    switch (round % 4) {
      case 0:
        values = {1, 2, 3, 4};
        break;
      case 1:
        values = {1, 2, 4, 8, 16};
        break;
      case 2:
        values = {5};
        break;
      default:
        for (int v = 0; v < 3; ++v) values.push_back(1 + rng() % 40);
    }
    Bytes input;
    for (unsigned v = 0; v < alphabet; ++v) {
      const std::uint32_t count = values[rng() % values.size()];
      input.insert(input.end(), count, static_cast<unsigned char>(v));
    }
    std::shuffle(input.begin(), input.end(), rng);
    if (compressed(codec, input) != ReferenceHuffman::compress(input)) {
      ADD_FAILURE() << "round " << round << ", alphabet " << alphabet;
      break;
    }
  }
}

}  // namespace

namespace {

// Bit-by-bit decoding of a buffer with a well-formed dictionary, by the
// checked overload's rules: a code running past the stream, or words left
// after the one holding the last code, reject it (nullopt).
std::optional<Bytes> referenceDecode(const Bytes& in) {
  auto u16 = [&in](std::size_t at) { return unsigned(in[at] | in[at + 1] << 8); };
  const std::uint32_t n = in[0] | in[1] << 8 | in[2] << 16 | std::uint32_t(in[3]) << 24;
  const unsigned T = u16(4);
  std::map<unsigned, std::pair<unsigned, unsigned>> children;
  for (unsigned t = 0; t < T; t += 3) children[u16(6 + 2 * t)] = {u16(8 + 2 * t), u16(10 + 2 * t)};
  const unsigned root = u16(6 + 2 * (T - 3));
  const std::size_t streamAt = 6 + 2 * std::size_t{T};
  const std::uint64_t words = (in.size() - streamAt) / 4;
  std::uint64_t pos = 0;
  Bytes out;
  while (out.size() < n) {
    unsigned node = root;
    for (;;) {
      if (pos >= 32 * words) return std::nullopt;
      const std::size_t byte = streamAt + 4 * (pos / 32) + 3 - (pos % 32) / 8;
      const unsigned bit = (in[byte] >> (7 - pos % 8)) & 1;
      ++pos;
      const unsigned child = bit ? children[node].second : children[node].first;
      if (child <= 256) {
        out.push_back(static_cast<unsigned char>(child));
        break;
      }
      node = child;
    }
  }
  if ((pos + 31) / 32 != words) return std::nullopt;
  return out;
}

std::optional<Bytes> checkedDecode(HuffmanCompression& codec, const Bytes& in) {
  unsigned char* out = nullptr;
  int outLength = -1;
  if (!codec.uncompress(in.data(), static_cast<int>(in.size()), &out, outLength)) {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outLength, 0);
    return std::nullopt;
  }
  Bytes result(out, out + outLength);
  std::free(out);
  return result;
}

std::uint64_t streamWords(const Bytes& compressed) {
  return (compressed.size() - 6 - 2 * (compressed[4] | compressed[5] << 8)) / 4;
}

// Each symbol's code length, from the dictionary.
std::vector<unsigned> codeLengths(const Bytes& compressed) {
  const unsigned T = compressed[4] | compressed[5] << 8;
  std::vector<unsigned> length(257, 0);
  std::map<unsigned, unsigned> depth;
  for (int t = static_cast<int>(T) - 3; t >= 0; t -= 3) {
    const unsigned id = compressed[6 + 2 * t] | compressed[7 + 2 * t] << 8;
    for (int side = 1; side <= 2; ++side) {
      const unsigned child = compressed[6 + 2 * (t + side)] | compressed[7 + 2 * (t + side)] << 8;
      (child <= 256 ? length[child] : depth[child]) = depth[id] + 1;
    }
  }
  return length;
}

// The first bit of each lane's segment.
std::vector<std::uint64_t> laneStarts(std::uint64_t words) {
  std::vector<std::uint64_t> starts;
  for (int k = 1; k < HuffmanCompression::kDecodeLanes; ++k)
    starts.push_back(32 * (words * k / HuffmanCompression::kDecodeLanes));
  return starts;
}

Bytes uniformBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

// Streams just below, at and above the length from which the checked
// decoder interleaves, and well above it: exact output, and a missing or an
// extra word still rejected.
TEST(HuffmanCompressionTest, StreamsAroundTheInterleavingThreshold) {
  const std::uint64_t threshold = HuffmanCompression::kLaneMinWords;
  struct Case {
    const char* name;
    Bytes (*make)(std::size_t, unsigned);
    double bytesPerWord;
  } kinds[] = {{"uniform", uniformBytes, 4.0}, {"skewed", skewed, 16.0}};
  HuffmanCompression codec;
  for (const Case& kind : kinds) {
    for (std::uint64_t target : {threshold - 1, threshold, threshold + 1, 5 * threshold + 3}) {
      SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(target) + " words");
      // Lengthen the input until its stream has the wanted size.
      std::size_t n = static_cast<std::size_t>(kind.bytesPerWord * (target - 8));
      Bytes input, out;
      for (;; ++n) {
        input = kind.make(n, 17);
        out = compressed(codec, input);
        if (streamWords(out) >= target) break;
      }
      ASSERT_EQ(streamWords(out), target);
      EXPECT_EQ(restored(codec, out), input);
      Bytes shorter(out.begin(), out.end() - 4);
      EXPECT_TRUE(checkedFails(codec, shorter));
      Bytes longer = out;
      longer.insert(longer.end(), {0, 0, 0, 0});
      EXPECT_TRUE(checkedFails(codec, longer));
    }
  }
}

// The trusted decoder does not know where its stream ends, only that n
// codes of the shortest length fill part of it: its lanes work inside that
// part, pass after pass. A shortest code far below the average (a value in
// a third of the bytes, the rest spread over all others) makes each pass
// cover a small share, so several run; they must restore exactly, and read
// nothing past the buffer (which ASan builds check).
TEST(HuffmanCompressionTest, TrustedPassesStayInsideTheStream) {
  HuffmanCompression codec;
  for (std::size_t n : {std::size_t{40000}, std::size_t{300001}}) {
    SCOPED_TRACE(n);
    Bytes input = uniformBytes(n, 29);
    for (std::size_t i = 0; i < n; i += 3) input[i] = 0;
    const Bytes out = compressed(codec, input);
    EXPECT_EQ(restored(codec, out), input);
  }
}

// Segments that start inside a code longer than the table's prefix: the
// rare symbols are swapped onto each boundary, so that the lane starting
// there begins with the tail of a long code.
TEST(HuffmanCompressionTest, SegmentsStartingInsideLongCodes) {
  std::mt19937 rng(31);
  Bytes input;
  std::uint32_t a = 1, b = 1;
  for (unsigned v = 0; v < 20; ++v) {  // codes from 1 to 19 bits
    input.insert(input.end(), std::min<std::uint32_t>(a, 20000), static_cast<unsigned char>(v));
    const std::uint32_t next = a + b;
    a = b;
    b = next;
  }
  std::shuffle(input.begin(), input.end(), rng);
  HuffmanCompression codec;
  const std::vector<unsigned> length = codeLengths(compressed(codec, input));
  auto isLong = [&length](unsigned char v) { return length[v] > 12; };
  ASSERT_GE(std::count_if(input.begin(), input.end(), isLong), 3);
  // The long codes go to the end; each boundary takes the last one left.
  std::stable_partition(input.begin(), input.end(), [&isLong](unsigned char v) { return !isLong(v); });
  // Counts do not change, so neither do the codes nor the stream's length.
  const std::vector<std::uint64_t> starts = laneStarts(streamWords(compressed(codec, input)));
  std::size_t j = input.size();
  // The code that holds bit `boundary`, or when one starts there, the one
  // before: a longer code in its place reaches past the boundary.
  auto codeAt = [&](std::uint64_t boundary) {
    std::uint64_t pos = 0;
    std::size_t i = 0;
    while (pos + length[input[i]] < boundary) pos += length[input[i++]];
    return i;
  };
  for (std::uint64_t boundary : starts) {
    const std::size_t i = codeAt(boundary);
    --j;
    ASSERT_GT(j, i);
    std::swap(input[i], input[j]);
  }
  const Bytes out = compressed(codec, input);
  ASSERT_EQ(laneStarts(streamWords(out)), starts);
  for (std::uint64_t boundary : starts) {
    std::uint64_t pos = 0;
    std::size_t i = 0;
    while (pos + length[input[i]] <= boundary) pos += length[input[i++]];
    EXPECT_LT(pos, boundary);
    EXPECT_TRUE(isLong(input[i])) << boundary;
  }
  EXPECT_EQ(restored(codec, out), input);
  EXPECT_EQ(referenceDecode(out), input);
}

// Codes of one length never resynchronise a lane started off their grid:
// eight equally frequent values have 3-bit codes, and a segment starting at
// a bit that is not a multiple of 3 decodes nothing right; with a few rare
// values among them a lane finds the grid only now and then.
TEST(HuffmanCompressionTest, SegmentsThatResynchroniseLateOrNever) {
  std::mt19937 rng(37);
  // Values of about equal frequency: 8 have 3-bit codes (decoded with
  // several symbols per lookup), 128 have 7-bit codes (one code per
  // lookup); `extra` of them occur once more, which moves the segment
  // starts without changing the codes.
  struct Case {
    const char* name;
    unsigned values;
    unsigned bits;
    std::size_t each;
    unsigned extra;
    unsigned rareValues;
  } cases[] = {
      {"3-bit codes, 6002 of each", 8, 3, 6002, 0, 0},        {"3-bit codes, 6004 of each", 8, 3, 6004, 0, 0},
      {"3-bit codes, 6010 of each", 8, 3, 6010, 0, 0},        {"3-bit codes and two rare values", 8, 3, 6000, 0, 2},
      {"3-bit codes and five rare values", 8, 3, 9000, 0, 5}, {"7-bit codes, 9 more", 128, 7, 300, 9, 0},
      {"7-bit codes, 50 more", 128, 7, 301, 50, 0},           {"7-bit codes and three rare values", 128, 7, 300, 0, 3},
  };
  HuffmanCompression codec;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes input;
    for (unsigned v = 0; v < c.values; ++v) {
      input.insert(input.end(), c.each + (v < c.extra ? 1 : 0), static_cast<unsigned char>(v));
    }
    for (unsigned v = 0; v < c.rareValues; ++v) input.insert(input.end(), 3 + v, static_cast<unsigned char>(200 + v));
    std::shuffle(input.begin(), input.end(), rng);
    const Bytes out = compressed(codec, input);
    ASSERT_GE(streamWords(out), HuffmanCompression::kLaneMinWords);
    if (c.rareValues == 0) {
      const std::vector<unsigned> length = codeLengths(out);
      for (unsigned v = 0; v < c.values; ++v) ASSERT_EQ(length[v], c.bits) << v;
      bool offGrid = false;
      for (std::uint64_t boundary : laneStarts(streamWords(out))) offGrid |= boundary % c.bits != 0;
      EXPECT_TRUE(offGrid);
    }
    EXPECT_EQ(restored(codec, out), input);
    EXPECT_EQ(referenceDecode(out), input);
  }
}

// Damage to long streams, decoded with the segments interleaved, ends
// exactly as bit-by-bit decoding says: the same bytes or a rejection.
TEST(HuffmanCompressionTest, DamagedLongStreamsEndAsTheReferenceDecoderSays) {
  std::mt19937 rng(41);
  HuffmanCompression codec;
  const std::pair<const char*, Bytes> inputs[] = {
      {"frame", mox::test::readFrame("busi256-benign-005_256x256.gray")},
      {"skewed", skewed(120000, 43)},
      {"3-bit codes",
       [&rng] {
         Bytes b(48000);
         for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i % 8);
         std::shuffle(b.begin(), b.end(), rng);
         return b;
       }()},
  };
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(input.empty());
    const Bytes good = compressed(codec, input);
    const std::size_t streamAt = good.size() - 4 * streamWords(good);
    ASSERT_GE(streamWords(good), HuffmanCompression::kLaneMinWords);
    std::vector<std::pair<std::string, Bytes>> damaged;
    auto withLength = [&good](std::uint32_t n) {
      Bytes b = good;
      for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(n >> (8 * k));
      return b;
    };
    const std::uint32_t n = static_cast<std::uint32_t>(input.size());
    for (std::uint32_t m : {1u, 39u, n / 8, n / 2, 3 * (n / 4), n - 200, n - 30, n - 8, n - 1, n + 1, n + 40})
      damaged.emplace_back("n = " + std::to_string(m), withLength(m));
    // Flipped bits around each segment start and anywhere.
    std::vector<std::uint64_t> bits;
    for (std::uint64_t boundary : laneStarts(streamWords(good))) {
      for (std::uint64_t d : {0, 1, 5, 31, 32, 40, 200}) bits.insert(bits.end(), {boundary + d, boundary - 1 - d});
    }
    for (int k = 0; k < 12; ++k) bits.push_back(rng() % (32 * streamWords(good)));
    for (std::uint64_t bit : bits) {
      Bytes b = good;
      b[streamAt + 4 * (bit / 32) + 3 - (bit % 32) / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
      damaged.emplace_back("bit " + std::to_string(bit) + " flipped", b);
    }
    Bytes zeroed = good;
    std::fill(zeroed.begin() + streamAt + 4 * (streamWords(good) / 2),
              zeroed.begin() + streamAt + 4 * (streamWords(good) / 2 + 40), 0);
    damaged.emplace_back("40 words zeroed in the middle", zeroed);
    for (const auto& [what, b] : damaged) {
      SCOPED_TRACE(what);
      EXPECT_EQ(checkedDecode(codec, b), referenceDecode(b));
    }
    EXPECT_EQ(checkedDecode(codec, good), input);
  }
}

}  // namespace

// Black areas: runs of one value whose code is the shortest (one or two
// bits), which the decoders write many at a time. Runs of every length
// around the lookup (8 symbols), step and window (63 bits) sizes, a run
// ending exactly at n, in short streams (one decoder) and long ones
// (interleaved segments, whose starts then often fall inside a run), for
// values with different codes: the same bytes as bit-by-bit decoding, by
// both overloads.
Bytes withRuns(std::size_t n, unsigned char value, unsigned background, double share, unsigned seed) {
  std::mt19937 rng(seed);
  static const std::size_t kLengths[] = {1, 7, 8, 9, 31, 32, 33, 62, 63, 64, 65, 126, 127, 128, 129, 500, 4097};
  Bytes out;
  while (out.size() < n) {
    if (std::uniform_real_distribution<double>(0, 1)(rng) < share) {
      out.insert(out.end(), kLengths[rng() % std::size(kLengths)], value);
    } else {
      for (int k = 0; k < 40; ++k) out.push_back(static_cast<unsigned char>(value + 1 + rng() % background));
    }
  }
  out.resize(n);
  std::fill(out.end() - 100, out.end(), value);  // a run up to the end
  return out;
}

TEST(HuffmanCompressionTest, RunsOfTheShortestCodeMatchTheReference) {
  struct Case {
    const char* name;
    unsigned char value;
    unsigned background;  // other values
    double share;         // of the pieces that are runs
    unsigned runCode;     // the run value's code length
  } cases[] = {
      {"1-bit zero runs", 0, 60, 0.7, 1},      {"1-bit runs of 200", 200, 60, 0.7, 1},
      {"1-bit runs of 255", 255, 30, 0.75, 1}, {"2-bit zero runs", 0, 3, 0.05, 2},
      {"2-bit runs of 77", 77, 3, 0.05, 2},    {"2-bit runs, six others", 9, 6, 0.06, 2},
  };
  HuffmanCompression codec;
  for (const Case& c : cases) {
    for (std::size_t n : {std::size_t{3000}, std::size_t{300000}}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(n) + " bytes");
      const Bytes input = withRuns(n, c.value, c.background, c.share, 53);
      const Bytes out = compressed(codec, input);
      const std::vector<unsigned> length = codeLengths(out);
      // Short inputs hold only a few runs, whose lengths then decide.
      if (n > 100000) {
        ASSERT_EQ(length[c.value], c.runCode);
      } else {
        ASSERT_LE(length[c.value], 2u);
      }
      ASSERT_EQ(*std::min_element(length.begin(), length.begin() + 256,
                                  [](unsigned a, unsigned b) { return (a ? a : 99) < (b ? b : 99); }),
                length[c.value]);
      if (n > 100000) {
        ASSERT_GE(streamWords(out), HuffmanCompression::kLaneMinWords);
      }
      EXPECT_EQ(restored(codec, out), input);
      EXPECT_EQ(referenceDecode(out), input);
      // Every shorter n stops inside or right after a run somewhere.
      for (std::uint32_t m :
           {1u, 63u, 64u, 65u, static_cast<std::uint32_t>(n / 3), static_cast<std::uint32_t>(n - 64)}) {
        Bytes b = out;
        for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(m >> (8 * k));
        SCOPED_TRACE(m);
        EXPECT_EQ(checkedDecode(codec, b), referenceDecode(b));
      }
    }
  }
}

// Damage inside runs (a flipped bit ends a run early and starts some other
// code, zeroed words make a run longer or shorter) ends as bit-by-bit
// decoding says, and the trusted decoder restores the intact stream as the
// checked one does.
TEST(HuffmanCompressionTest, DamagedRunsEndAsTheReferenceDecoderSays) {
  std::mt19937 rng(59);
  HuffmanCompression codec;
  for (unsigned char value : {0, 130}) {
    SCOPED_TRACE(int(value));
    const Bytes input = withRuns(200000, value, 50, 0.7, 61);
    const Bytes good = compressed(codec, input);
    ASSERT_EQ(codeLengths(good)[value], 1u);
    const std::uint64_t words = streamWords(good);
    const std::size_t streamAt = good.size() - 4 * words;
    // Words made entirely of the run's code: inside a run.
    std::vector<std::uint64_t> runWords;
    for (std::uint64_t q = 0; q < words; ++q) {
      const unsigned char* w = good.data() + streamAt + 4 * q;
      if (std::all_of(w, w + 4, [w](unsigned char x) { return x == w[0] && (x == 0 || x == 0xFF); })) {
        runWords.push_back(q);
      }
    }
    ASSERT_GE(runWords.size(), 100u);
    for (int k = 0; k < 30; ++k) {
      const std::uint64_t q = runWords[rng() % runWords.size()];
      Bytes flipped = good;
      const unsigned bit = rng() % 32;
      flipped[streamAt + 4 * q + 3 - bit / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
      SCOPED_TRACE("bit " + std::to_string(32 * q + bit));
      EXPECT_EQ(checkedDecode(codec, flipped), referenceDecode(flipped));
      Bytes filled = good;
      const unsigned char fill = good[streamAt + 4 * q] ^ 0xFF;
      std::fill(filled.begin() + streamAt + 4 * q, filled.begin() + streamAt + 4 * q + 8, fill);
      EXPECT_EQ(checkedDecode(codec, filled), referenceDecode(filled));
    }
    EXPECT_EQ(restored(codec, good), input);
  }
}
