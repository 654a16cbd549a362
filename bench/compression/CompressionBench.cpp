// The frame codecs against their peers on real ultrasound frames, in one run:
//   Huffman compress/uncompress   vs zlib deflate Z_HUFFMAN_ONLY / inflate,
//                                    zstd level 1, lz4
//   RLE encode/decode of a sweep  vs XOR with the previous frame, then lz4 or
//                                    zstd level 1
// Every benchmark processes a whole data set per iteration; bytes/s count
// the uncompressed bytes, the counter "ratio" is uncompressed / compressed.
//
//   ./build/default/bench/compression/bench_compression
//       --benchmark_repetitions=5 --benchmark_enable_random_interleaving
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "mox_utils/compression.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct DataSet {
  std::vector<Bytes> frames;
  std::size_t bytes = 0;
};

std::filesystem::path ultrasoundDir() {
  std::filesystem::path configured = std::filesystem::path(MOX_SHARED_DATA_DIR) / "ultrasound";
  if (std::filesystem::is_directory(configured)) return configured;
  return "/work/shared/data/ultrasound";
}

// Frames grouped by the name's source prefix; "seq" is the consecutive sweep
// in frame order.
std::map<std::string, DataSet>& dataSets() {
  static std::map<std::string, DataSet> sets = [] {
    std::map<std::string, DataSet> result;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ultrasoundDir(), ec)) {
      if (entry.path().extension() == ".gray") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      const std::string name = path.filename().string();
      std::string key = name.substr(0, name.find('-'));
      std::ifstream in(path, std::ios::binary);
      Bytes frame((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      DataSet& set = result[key];
      set.bytes += frame.size();
      set.frames.push_back(std::move(frame));
    }
    return result;
  }();
  return sets;
}

void finish(benchmark::State& state, const DataSet& set, std::size_t compressed) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.bytes));
  state.counters["ratio"] = compressed ? double(set.bytes) / double(compressed) : 0.0;
}

// --- Single frames -------------------------------------------------------

std::vector<Bytes> huffmanCompressed(const DataSet& set) {
  HuffmanCompression codec;
  std::vector<Bytes> out;
  for (const Bytes& f : set.frames) {
    unsigned char* p = nullptr;
    int n = 0;
    codec.compress(f.data(), static_cast<int>(f.size()), &p, n);
    out.emplace_back(p, p + n);
    std::free(p);
  }
  return out;
}

void BM_Compress_By_Huffman(benchmark::State& state, const DataSet* set) {
  HuffmanCompression codec;
  std::size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const Bytes& f : set->frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec.compress(f.data(), static_cast<int>(f.size()), &out, outLength);
      benchmark::DoNotOptimize(out);
      compressed += static_cast<std::size_t>(outLength);
      std::free(out);
    }
  }
  finish(state, *set, compressed);
}

template <bool kChecked>
void BM_Uncompress_By_Huffman(benchmark::State& state, const DataSet* set) {
  const std::vector<Bytes> inputs = huffmanCompressed(*set);
  HuffmanCompression codec;
  std::size_t compressed = 0;
  for (const Bytes& c : inputs) compressed += c.size();
  for (auto _ : state) {
    for (const Bytes& c : inputs) {
      unsigned char* out = nullptr;
      int outLength = 0;
      if (kChecked) {
        codec.uncompress(c.data(), static_cast<int>(c.size()), &out, outLength);
      } else {
        codec.uncompress(c.data(), &out, outLength);
      }
      benchmark::DoNotOptimize(out);
      std::free(out);
    }
  }
  finish(state, *set, compressed);
}

std::vector<Bytes> deflated(const DataSet& set) {
  std::vector<Bytes> out;
  for (const Bytes& f : set.frames) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY);
    Bytes buf(deflateBound(&z, f.size()));
    z.next_in = const_cast<unsigned char*>(f.data());
    z.avail_in = static_cast<uInt>(f.size());
    z.next_out = buf.data();
    z.avail_out = static_cast<uInt>(buf.size());
    deflate(&z, Z_FINISH);
    buf.resize(z.total_out);
    deflateEnd(&z);
    out.push_back(std::move(buf));
  }
  return out;
}

void BM_Compress_By_ZlibHuffmanOnly(benchmark::State& state, const DataSet* set) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY);
  Bytes buf(2 * 1024 * 1024);
  std::size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const Bytes& f : set->frames) {
      deflateReset(&z);
      z.next_in = const_cast<unsigned char*>(f.data());
      z.avail_in = static_cast<uInt>(f.size());
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, Z_FINISH);
      compressed += z.total_out;
    }
  }
  deflateEnd(&z);
  finish(state, *set, compressed);
}

void BM_Uncompress_By_ZlibInflate(benchmark::State& state, const DataSet* set) {
  const std::vector<Bytes> inputs = deflated(*set);
  std::size_t compressed = 0;
  for (const Bytes& c : inputs) compressed += c.size();
  z_stream z{};
  inflateInit(&z);
  Bytes buf(2 * 1024 * 1024);
  for (auto _ : state) {
    for (const Bytes& c : inputs) {
      inflateReset(&z);
      z.next_in = const_cast<unsigned char*>(c.data());
      z.avail_in = static_cast<uInt>(c.size());
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      inflate(&z, Z_FINISH);
      benchmark::DoNotOptimize(buf.data());
    }
  }
  inflateEnd(&z);
  finish(state, *set, compressed);
}

void BM_Compress_By_Zstd1(benchmark::State& state, const DataSet* set) {
  ZSTD_CCtx* ctx = ZSTD_createCCtx();
  Bytes buf(ZSTD_compressBound(2 * 1024 * 1024));
  std::size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const Bytes& f : set->frames) {
      compressed += ZSTD_compressCCtx(ctx, buf.data(), buf.size(), f.data(), f.size(), 1);
    }
  }
  ZSTD_freeCCtx(ctx);
  finish(state, *set, compressed);
}

std::vector<Bytes> zstdCompressed(const std::vector<Bytes>& frames) {
  std::vector<Bytes> out;
  for (const Bytes& f : frames) {
    Bytes buf(ZSTD_compressBound(f.size()));
    buf.resize(ZSTD_compress(buf.data(), buf.size(), f.data(), f.size(), 1));
    out.push_back(std::move(buf));
  }
  return out;
}

// Decompresses every one of `frames`' level-1 streams per iteration.
void zstdDecompressAll(benchmark::State& state, const DataSet& set, const std::vector<Bytes>& frames) {
  const std::vector<Bytes> inputs = zstdCompressed(frames);
  std::size_t compressed = 0;
  for (const Bytes& c : inputs) compressed += c.size();
  ZSTD_DCtx* ctx = ZSTD_createDCtx();
  Bytes buf(2 * 1024 * 1024);
  for (auto _ : state) {
    for (const Bytes& c : inputs) {
      benchmark::DoNotOptimize(ZSTD_decompressDCtx(ctx, buf.data(), buf.size(), c.data(), c.size()));
    }
  }
  ZSTD_freeDCtx(ctx);
  finish(state, set, compressed);
}

void BM_Uncompress_By_Zstd1(benchmark::State& state, const DataSet* set) {
  zstdDecompressAll(state, *set, set->frames);
}

void BM_Compress_By_Lz4(benchmark::State& state, const DataSet* set) {
  Bytes buf(LZ4_compressBound(2 * 1024 * 1024));
  std::size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const Bytes& f : set->frames) {
      compressed += static_cast<std::size_t>(
          LZ4_compress_default(reinterpret_cast<const char*>(f.data()), reinterpret_cast<char*>(buf.data()),
                               static_cast<int>(f.size()), static_cast<int>(buf.size())));
    }
  }
  finish(state, *set, compressed);
}

// --- The consecutive sweep, each frame against the previous one -----------

std::vector<Bytes> sweepDifferences(const DataSet& set) {
  std::vector<Bytes> out;
  Bytes previous;
  for (const Bytes& f : set.frames) {
    Bytes d(f);
    if (previous.size() == f.size()) {
      for (std::size_t i = 0; i < f.size(); ++i) d[i] ^= previous[i];
    }
    out.push_back(std::move(d));
    previous = f;
  }
  return out;
}

void BM_SweepEncode_By_RLE(benchmark::State& state, const DataSet* set) {
  std::size_t compressed = 0;
  for (auto _ : state) {
    RLEEncoder codec;  // every pass starts the channel afresh
    compressed = 0;
    for (const Bytes& f : set->frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec.encode(const_cast<unsigned char*>(f.data()), static_cast<int>(f.size()), &out, outLength, 0);
      benchmark::DoNotOptimize(out);
      compressed += static_cast<std::size_t>(outLength);
      std::free(out);
    }
  }
  finish(state, *set, compressed);
}

template <bool kChecked>
void BM_SweepDecode_By_RLE(benchmark::State& state, const DataSet* set) {
  std::vector<Bytes> inputs;
  {
    RLEEncoder codec;
    for (const Bytes& f : set->frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec.encode(const_cast<unsigned char*>(f.data()), static_cast<int>(f.size()), &out, outLength, 0);
      inputs.emplace_back(out, out + outLength);
      std::free(out);
    }
  }
  std::size_t compressed = 0;
  for (const Bytes& c : inputs) compressed += c.size();
  RLEEncoder codec;
  for (auto _ : state) {
    for (Bytes& c : inputs) {
      unsigned char* out = nullptr;
      int outLength = 0;
      if (kChecked) {
        codec.decode(static_cast<const unsigned char*>(c.data()), static_cast<int>(c.size()), &out, outLength);
      } else {
        codec.decode(c.data(), &out, outLength);
      }
      benchmark::DoNotOptimize(out);
      std::free(out);
    }
  }
  finish(state, *set, compressed);
}

// The peer does the same work: XOR with the previous frame, then code.
template <bool kZstd>
void BM_SweepEncode_By_XorThen(benchmark::State& state, const DataSet* set) {
  Bytes buf(LZ4_compressBound(2 * 1024 * 1024) + ZSTD_compressBound(2 * 1024 * 1024));
  Bytes diff, previous;
  ZSTD_CCtx* ctx = ZSTD_createCCtx();
  std::size_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    previous.clear();
    for (const Bytes& f : set->frames) {
      diff.resize(f.size());
      if (previous.size() != f.size()) previous.assign(f.size(), 0);
      for (std::size_t i = 0; i < f.size(); ++i) diff[i] = f[i] ^ previous[i];
      std::copy(f.begin(), f.end(), previous.begin());
      if (kZstd) {
        compressed += ZSTD_compressCCtx(ctx, buf.data(), buf.size(), diff.data(), diff.size(), 1);
      } else {
        compressed += static_cast<std::size_t>(
            LZ4_compress_default(reinterpret_cast<const char*>(diff.data()), reinterpret_cast<char*>(buf.data()),
                                 static_cast<int>(diff.size()), static_cast<int>(buf.size())));
      }
    }
  }
  ZSTD_freeCCtx(ctx);
  finish(state, *set, compressed);
}

void BM_SweepDecode_By_Lz4(benchmark::State& state, const DataSet* set) {
  std::vector<Bytes> inputs;
  for (const Bytes& d : sweepDifferences(*set)) {
    Bytes buf(LZ4_compressBound(static_cast<int>(d.size())));
    buf.resize(static_cast<std::size_t>(
        LZ4_compress_default(reinterpret_cast<const char*>(d.data()), reinterpret_cast<char*>(buf.data()),
                             static_cast<int>(d.size()), static_cast<int>(buf.size()))));
    inputs.push_back(std::move(buf));
  }
  std::size_t compressed = 0;
  for (const Bytes& c : inputs) compressed += c.size();
  Bytes out(2 * 1024 * 1024);
  for (auto _ : state) {
    for (const Bytes& c : inputs) {
      benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(c.data()),
                                                   reinterpret_cast<char*>(out.data()), static_cast<int>(c.size()),
                                                   static_cast<int>(out.size())));
    }
  }
  finish(state, *set, compressed);
}

void BM_SweepDecode_By_Zstd1(benchmark::State& state, const DataSet* set) {
  zstdDecompressAll(state, *set, sweepDifferences(*set));
}

}  // namespace

int main(int argc, char** argv) {
  for (auto& [name, set] : dataSets()) {
    const DataSet* s = &set;
    benchmark::RegisterBenchmark(("BM_Compress_By_Huffman/" + name).c_str(), BM_Compress_By_Huffman, s);
    benchmark::RegisterBenchmark(("BM_Compress_By_Zstd1/" + name).c_str(), BM_Compress_By_Zstd1, s);
    benchmark::RegisterBenchmark(("BM_Compress_By_ZlibHuffmanOnly/" + name).c_str(), BM_Compress_By_ZlibHuffmanOnly, s);
    benchmark::RegisterBenchmark(("BM_Compress_By_Lz4/" + name).c_str(), BM_Compress_By_Lz4, s);
    benchmark::RegisterBenchmark(("BM_Uncompress_By_HuffmanChecked/" + name).c_str(), BM_Uncompress_By_Huffman<true>,
                                 s);
    benchmark::RegisterBenchmark(("BM_Uncompress_By_HuffmanTrusted/" + name).c_str(), BM_Uncompress_By_Huffman<false>,
                                 s);
    benchmark::RegisterBenchmark(("BM_Uncompress_By_Zstd1/" + name).c_str(), BM_Uncompress_By_Zstd1, s);
    benchmark::RegisterBenchmark(("BM_Uncompress_By_ZlibInflate/" + name).c_str(), BM_Uncompress_By_ZlibInflate, s);
    if (name == "seq") {
      benchmark::RegisterBenchmark("BM_SweepEncode_By_RLE/seq", BM_SweepEncode_By_RLE, s);
      benchmark::RegisterBenchmark("BM_SweepEncode_By_XorThenLz4/seq", BM_SweepEncode_By_XorThen<false>, s);
      benchmark::RegisterBenchmark("BM_SweepEncode_By_XorThenZstd1/seq", BM_SweepEncode_By_XorThen<true>, s);
      benchmark::RegisterBenchmark("BM_SweepDecode_By_RLEChecked/seq", BM_SweepDecode_By_RLE<true>, s);
      benchmark::RegisterBenchmark("BM_SweepDecode_By_RLETrusted/seq", BM_SweepDecode_By_RLE<false>, s);
      benchmark::RegisterBenchmark("BM_SweepDecode_By_Lz4/seq", BM_SweepDecode_By_Lz4, s);
      benchmark::RegisterBenchmark("BM_SweepDecode_By_Zstd1/seq", BM_SweepDecode_By_Zstd1, s);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
