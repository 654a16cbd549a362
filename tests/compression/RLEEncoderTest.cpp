#include "mox_utils/compression/RLEEncoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "compression/TestFrames.h"
#include "mox_utils/compression/CodecSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Code bits, most significant first.
struct Bits {
  std::vector<bool> bits;
  void put(std::uint32_t code, int width) {
    for (int k = width; k-- > 0;) bits.push_back((code >> k) & 1);
  }
  // The encoded buffer: n, then the bits packed into words from the top.
  Bytes buffer(std::size_t n) const {
    Bytes out(4);
    for (int k = 0; k < 4; ++k) out[k] = static_cast<unsigned char>(n >> (8 * k));
    for (std::size_t w = 0; w < (bits.size() + 31) / 32; ++w) {
      std::uint32_t word = 0;
      for (std::size_t k = 0; k < 32 && 32 * w + k < bits.size(); ++k) {
        if (bits[32 * w + k]) word |= 0x80000000u >> k;
      }
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(word >> (8 * k)));
    }
    return out;
  }
};

// A slow second encoder written from the format description: greedy runs,
// codes written one bit at a time. With `emptyRunAt`, an empty run's code
// (never valid) precedes the first code from that byte on, or the last one.
Bytes referenceRuns(const Bytes& diff, std::size_t emptyRunAt = SIZE_MAX) {
  Bits codes;
  const auto put = [&codes](std::uint32_t code, int width) { codes.put(code, width); };
  for (std::size_t i = 0; i < diff.size();) {
    std::size_t run = 1;
    while (i + run < diff.size() && run < 1023 && diff[i + run] == diff[i]) ++run;
    if (emptyRunAt != SIZE_MAX && (i >= emptyRunAt || i + run == diff.size())) {
      put(0x5A, 19);
      emptyRunAt = SIZE_MAX;
    }
    if (run == 1) {
      put(1, 1);
    } else {
      put(static_cast<std::uint32_t>(run), 11);
    }
    put(diff[i], 8);
    i += run;
  }
  return codes.buffer(diff.size());
}

Bytes xorOf(const Bytes& a, const Bytes& b) {
  Bytes out(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ (i < b.size() ? b[i] : 0);
  return out;
}

Bytes encoded(RLEEncoder& codec, Bytes frame, int channel) {
  unsigned char* out = nullptr;
  int outLength = -1;
  EXPECT_TRUE(codec.encode(frame.data(), static_cast<int>(frame.size()), &out, outLength, channel));
  Bytes result(out, out + outLength);
  std::free(out);
  return result;
}

// Decodes with both overloads; they must agree.
Bytes decoded(RLEEncoder& codec, Bytes in) {
  unsigned char* out = nullptr;
  int outLength = -1;
  EXPECT_TRUE(codec.decode(static_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()), &out, outLength));
  Bytes checked(out, out + (out ? outLength : 0));
  std::free(out);
  EXPECT_TRUE(codec.decode(in.data(), &out, outLength));
  Bytes trusted(out, out + (out ? outLength : 0));
  std::free(out);
  EXPECT_EQ(checked, trusted);
  return checked;
}

// Runs `check` with the decoder capped at each of its loops in turn (those
// the processor lacks fall back to the next narrower one), then lifts the
// cap.
template <class Check>
void forEachDecoderLoop(Check check) {
  using mox::detail::RunDecoderLoop;
  for (RunDecoderLoop loop : {RunDecoderLoop::kPortable, RunDecoderLoop::kBmi2, RunDecoderLoop::kLattice}) {
    SCOPED_TRACE("decoder loop " + std::to_string(static_cast<int>(loop)));
    mox::detail::capRunDecoderLoop(loop);
    check();
  }
}

bool checkedFails(RLEEncoder& codec, const Bytes& in) {
  unsigned char* out = reinterpret_cast<unsigned char*>(&codec);
  int outLength = -1;
  const bool ok = codec.decode(in.data(), static_cast<int>(in.size()), &out, outLength);
  if (ok) std::free(out);
  return !ok && out == nullptr && outLength == 0;
}

TEST(RLEEncoderTest, HandWorkedBuffers) {
  struct Case {
    const char* name;
    Bytes frame;
    Bytes expected;
  } cases[] = {
      // Run of two 7s (0x207, 19 bits), literal 9 (0x109, 9 bits).
      {"run and literal", {7, 7, 9}, {3, 0, 0, 0, 0x90, 0xF0, 0x40, 0x00}},
      // 1023 zeros (0x3FF00) and a literal zero (0x100): 0x7FE01000.
      {"run across 1023", Bytes(1024, 0), {0, 4, 0, 0, 0x00, 0x10, 0xE0, 0x7F}},
      // Four literals (36 bits) split across two words.
      {"literal split across words", {1, 2, 3, 4}, {4, 0, 0, 0, 0x70, 0xA0, 0xC0, 0x80, 0, 0, 0, 0x40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RLEEncoder codec;
    EXPECT_EQ(encoded(codec, c.frame, 3), c.expected);
    EXPECT_EQ(referenceRuns(c.frame), c.expected);
    EXPECT_EQ(decoded(codec, c.expected), c.frame);
  }
}

TEST(RLEEncoderTest, MatchesReferenceAndRoundTrips) {
  std::mt19937 rng(5);
  std::vector<std::pair<std::string, Bytes>> frames;
  for (std::size_t n : {1u, 2u, 1022u, 1023u, 1024u, 1025u, 2046u, 2047u, 3000u}) {
    frames.emplace_back("equal bytes " + std::to_string(n), Bytes(n, 0x55));
  }
  Bytes mixed;
  for (int k = 0; k < 3000; ++k) mixed.insert(mixed.end(), 1 + rng() % (k % 7 == 0 ? 2100 : 4), rng() % 3);
  frames.emplace_back("mixed runs", mixed);
  // Stretches of 0..20 literals, each closed by a short run, land at every
  // offset of the encoder's 64-byte blocks.
  Bytes stretches;
  for (int round = 0; round < 40; ++round) {
    for (int k = 0; k <= 20; ++k) {
      for (int j = 0; j < k; ++j) stretches.push_back(static_cast<unsigned char>(stretches.size() % 2 + 10));
      stretches.insert(stretches.end(), 2 + (k + round) % 3, static_cast<unsigned char>(k));
    }
  }
  frames.emplace_back("literal stretches", stretches);
  Bytes noise(70001);
  for (auto& b : noise) b = static_cast<unsigned char>(rng());
  frames.emplace_back("noise", noise);
  for (const std::string& name : mox::test::frameNames("busi256-benign")) {
    frames.emplace_back(name, mox::test::readFrame(name));
  }
  for (const auto& [name, frame] : frames) {
    SCOPED_TRACE(name);
    RLEEncoder codec;
    const Bytes out = encoded(codec, frame, 0);
    EXPECT_EQ(out, referenceRuns(frame));
    forEachDecoderLoop([&] { EXPECT_EQ(decoded(codec, out), frame); });
  }
}

// A real sweep on two channels interleaved, with a size change on one: every
// output must be the difference to that channel's previous frame of the same
// length (zeros after a change), and decode back to it.
TEST(RLEEncoderTest, ChannelsKeepTheirOwnPreviousFrames) {
  const auto names = mox::test::frameNames("seq-plus-bone-l14-");
  ASSERT_GE(names.size(), 6u);
  RLEEncoder codec;
  Bytes previous[2];
  for (std::size_t k = 0; k < 6; ++k) {
    const int channel = static_cast<int>(k % 2);
    Bytes frame = mox::test::readFrame(names[k]);
    if (k == 4) frame.resize(frame.size() / 2);  // channel 0 changes size
    SCOPED_TRACE(names[k]);
    const Bytes expectedDiff = frame.size() == previous[channel].size() ? xorOf(frame, previous[channel]) : frame;
    const Bytes out = encoded(codec, frame, channel);
    EXPECT_EQ(out, referenceRuns(expectedDiff));
    EXPECT_EQ(decoded(codec, out), expectedDiff);
    previous[channel] = frame;
  }
}

TEST(RLEEncoderTest, SameFrameTwiceGivesZeroRuns) {
  const Bytes frame = mox::test::readFrame("seq-plus-bone-l14-f00_467x614.gray");
  ASSERT_FALSE(frame.empty());
  RLEEncoder codec;
  encoded(codec, frame, 15);
  const Bytes out = encoded(codec, frame, 15);
  const std::size_t codes = (frame.size() + 1022) / 1023;
  EXPECT_EQ(out.size(), 4 + 4 * ((19 * codes + 31) / 32));
  EXPECT_EQ(decoded(codec, out), Bytes(frame.size(), 0));
}

TEST(RLEEncoderTest, RejectsChannelsAndEmptyFrames) {
  RLEEncoder codec;
  Bytes frame(10, 1);
  for (int channel : {-1, 16, 1000}) {
    SCOPED_TRACE(channel);
    unsigned char sentinel = 0;
    unsigned char* out = &sentinel;
    int outLength = 77;
    EXPECT_FALSE(codec.encode(frame.data(), 10, &out, outLength, channel));
    EXPECT_EQ(out, &sentinel);  // untouched
    EXPECT_EQ(outLength, 77);
  }
  unsigned char* out = frame.data();
  int outLength = 5;
  EXPECT_FALSE(codec.encode(frame.data(), 0, &out, outLength, 0));
  EXPECT_EQ(out, nullptr);
  // The refused calls left channel 0 fresh: the next frame is coded against
  // zeros.
  EXPECT_EQ(encoded(codec, frame, 0), referenceRuns(frame));
}

TEST(RLEEncoderTest, CopiesContinueTheirChannelsIndependently) {
  const auto names = mox::test::frameNames("seq-plus-bone-l14-");
  ASSERT_GE(names.size(), 3u);
  const Bytes f0 = mox::test::readFrame(names[0]), f1 = mox::test::readFrame(names[1]),
              f2 = mox::test::readFrame(names[2]);
  RLEEncoder original;
  encoded(original, f0, 2);
  RLEEncoder copied(original);
  RLEEncoder assigned;
  encoded(assigned, f2, 2);  // replaced by the assignment
  assigned = original;
  EXPECT_EQ(encoded(original, f1, 2), referenceRuns(xorOf(f1, f0)));
  EXPECT_EQ(encoded(copied, f2, 2), referenceRuns(xorOf(f2, f0)));
  EXPECT_EQ(encoded(assigned, f1, 2), referenceRuns(xorOf(f1, f0)));
  assigned = assigned;
  EXPECT_EQ(encoded(assigned, f1, 2), referenceRuns(Bytes(f1.size(), 0)));
}

TEST(RLEEncoderTest, CheckedDecodeRejectsDamage) {
  RLEEncoder codec;
  const Bytes good = {3, 0, 0, 0, 0x90, 0xF0, 0x40, 0x00};  // 7 7 9
  Bytes extra = good;
  extra.insert(extra.end(), 4, 0);
  struct Case {
    const char* name;
    Bytes input;
  } cases[] = {
      {"no stream", {3, 0, 0, 0}},
      {"n zero", {0, 0, 0, 0, 0x90, 0xF0, 0x40, 0x00}},
      {"n beyond what the codes can hold", {0, 0, 1, 0, 0x90, 0xF0, 0x40, 0x00}},
      {"run past n", {1, 0, 0, 0, 0x90, 0xF0, 0x40, 0x00}},
      {"empty run", {3, 0, 0, 0, 0, 0, 0, 0}},
      {"codes end before n", {4, 0, 0, 0, 0x90, 0xF0, 0x40, 0x00}},
      {"words after the last code", extra},
      {"not whole words", Bytes(good.begin(), good.end() - 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(checkedFails(codec, c.input));
  }
  // Every truncation and byte flip of a real encoded frame is handled.
  const Bytes frame = mox::test::readFrame("busi256-normal-020_256x256.gray");
  const Bytes big = encoded(codec, frame, 0);
  for (std::size_t cut = 0; cut < big.size(); cut += 97) {
    EXPECT_TRUE(checkedFails(codec, Bytes(big.begin(), big.begin() + cut)));
  }
  // Every loop must come to the same verdict and output.
  std::mt19937 rng(2);
  for (int k = 0; k < 300; ++k) {
    Bytes damaged = big;
    damaged[4 + rng() % (damaged.size() - 4)] ^= static_cast<unsigned char>(1 + rng() % 255);
    std::vector<Bytes> results;
    forEachDecoderLoop([&] {
      unsigned char* out = nullptr;
      int outLength = 0;
      const bool ok = codec.decode(damaged.data(), static_cast<int>(damaged.size()), &out, outLength);
      results.push_back(ok ? Bytes(out, out + outLength) : Bytes());
      std::free(out);
    });
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
  }
}

// The decoders take several codes per step while far from the end and one
// at a time near it. Streams from the reference encoder, with every mix of
// literal stretches and run lengths and sizes on both sides of the switch,
// must decode the same either way; a run past the end or an empty run is
// rejected wherever it lies.
TEST(RLEEncoderTest, FastAndCarefulLoopsAgree) {
  struct Mix {
    const char* name;
    unsigned maxLiterals;  // literal stretch of 0..maxLiterals bytes
    unsigned maxRun;       // then a run of 2..maxRun bytes (none when 0)
  } mixes[] = {
      {"literals only", 64, 0},        {"seven literals then a run", 7, 3}, {"short runs", 2, 17},
      {"runs of any length", 9, 1100}, {"five or six literals", 6, 40},     {"long literal stretches", 300, 3},
  };
  std::mt19937 rng(11);
  for (const Mix& m : mixes) {
    for (std::size_t n : {9u, 23u, 24u, 40u, 1100u, 8184u, 8185u, 8200u, 20000u, 90000u}) {
      SCOPED_TRACE(std::string(m.name) + " " + std::to_string(n));
      Bytes frame;
      while (frame.size() < n) {
        for (unsigned k = rng() % (m.maxLiterals + 1); k > 0 && frame.size() < n; --k) {
          const unsigned char last = frame.empty() ? 0 : frame.back();
          frame.push_back(static_cast<unsigned char>(last + 1 + rng() % 255));
        }
        if (m.maxRun != 0) {
          const unsigned char last = frame.empty() ? 0 : frame.back();
          frame.insert(frame.end(), 2 + rng() % (m.maxRun - 1), static_cast<unsigned char>(last + 1));
        }
      }
      frame.resize(n);
      RLEEncoder codec;
      const Bytes stream = referenceRuns(frame);
      // One byte more expected: the codes end first (the zero bits that
      // pad the last word read as an empty run, or reach past the stream).
      Bytes longer = stream;
      longer[0] = static_cast<unsigned char>(n + 1);
      longer[1] = static_cast<unsigned char>((n + 1) >> 8);
      longer[2] = static_cast<unsigned char>((n + 1) >> 16);
      // Half the bytes: codes are left over, and no loop may write past n.
      Bytes shorter = stream;
      for (int k = 0; k < 4; ++k) shorter[k] = static_cast<unsigned char>((n / 2) >> (8 * k));
      const Bytes withEmptyRun = referenceRuns(frame, n / 2);
      forEachDecoderLoop([&] {
        EXPECT_EQ(decoded(codec, stream), frame);
        EXPECT_TRUE(checkedFails(codec, longer));
        EXPECT_TRUE(checkedFails(codec, withEmptyRun));
        EXPECT_TRUE(checkedFails(codec, shorter));
      });
    }
  }
  // Runs of 1023 give the fewest bits per byte, which the trusted decoder
  // relies on to know how much of the stream surely follows: streams made
  // of them, ending in literals, put that bound (and the stream's end) at
  // every offset.
  for (std::size_t runs : {1u, 3u, 9u, 40u}) {
    for (std::size_t tail : {0u, 1u, 5u, 6u, 7u, 30u, 200u}) {
      SCOPED_TRACE(std::to_string(runs) + " runs, " + std::to_string(tail) + " literals");
      Bytes frame;
      for (std::size_t r = 0; r < runs; ++r) frame.insert(frame.end(), 1023, static_cast<unsigned char>(r + 1));
      for (std::size_t k = 0; k < tail; ++k) frame.push_back(static_cast<unsigned char>(k % 2 ? 0xAA : 0x55));
      const Bytes stream = referenceRuns(frame);
      RLEEncoder codec;
      EXPECT_EQ(decoded(codec, stream), frame);  // a copy: no spare capacity
    }
  }
  // A long run that ends the frame (or all but its last byte) meets the
  // fast loops where their room for whole steps has run out.
  for (std::size_t n : {1500u, 9000u, 30000u}) {
    for (std::size_t run : {9u, 33u, 500u, 1023u}) {
      for (std::size_t last : {0u, 1u}) {
        SCOPED_TRACE(std::to_string(n) + " " + std::to_string(run) + " " + std::to_string(last));
        Bytes frame(n - run - last);
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7 % 251);
        frame.insert(frame.end(), run, 0xEE);
        frame.insert(frame.end(), last, 0x11);
        RLEEncoder codec;
        const Bytes stream = referenceRuns(frame);
        forEachDecoderLoop([&] { EXPECT_EQ(decoded(codec, stream), frame); });
      }
    }
  }
  // A run longer than the rest of the output, early and late in the frame,
  // with a few bytes or a few hundred left: every loop refuses it without
  // writing past the end.
  for (std::size_t at : {0u, 500u, 7000u, 8190u}) {
    for (std::size_t left : {5u, 300u}) {
      SCOPED_TRACE(std::to_string(at) + " " + std::to_string(left));
      // `at` literals, a run of 1023, and more literals after it, so that
      // the loops that decode several codes a step meet it too.
      Bits codes;
      for (std::size_t i = 0; i < at; ++i) codes.put(0x100 | (i & 0xFF), 9);
      codes.put(1023u << 8, 19);
      for (std::size_t i = 0; i < 120; ++i) codes.put(0x100 | i, 9);
      Bytes damaged = codes.buffer(at + left);
      RLEEncoder codec;
      forEachDecoderLoop([&] {
        EXPECT_TRUE(checkedFails(codec, damaged));
        unsigned char* out = nullptr;
        int outLength = -1;
        EXPECT_FALSE(codec.decode(damaged.data(), &out, outLength));
        EXPECT_EQ(out, nullptr);
      });
    }
  }
}

TEST(RLEEncoderTest, OneEncoderServesSeveralThreads) {
  const auto names = mox::test::frameNames("seq-plus-bone-l14-");
  ASSERT_GE(names.size(), 4u);
  RLEEncoder codec;
  auto work = [&](int channel) {
    Bytes previous;
    for (int k = 0; k < 8; ++k) {
      const Bytes frame = mox::test::readFrame(names[(channel + k) % names.size()]);
      const Bytes diff = previous.empty() ? frame : xorOf(frame, previous);
      const Bytes out = encoded(codec, frame, channel);
      EXPECT_EQ(decoded(codec, out), diff);
      previous = frame;
    }
  };
  std::thread t1(work, 1), t2(work, 2);
  work(3);
  t1.join();
  t2.join();
}

}  // namespace
