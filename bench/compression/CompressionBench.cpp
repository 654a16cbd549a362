// The frame codecs against their peers on real ultrasound frames, in one run:
//   Huffman compress/uncompress   vs zlib deflate Z_HUFFMAN_ONLY / inflate,
//                                    zstd level 1, lz4
//   RLE encode/decode of a sweep  vs XOR with the previous frame, then lz4 or
//                                    zstd level 1
// Every benchmark processes a whole data set per iteration; bytes/s count
// the uncompressed bytes, the counter "ratio" is uncompressed / compressed.
// The BM_*_vs_* benchmarks run ours and the peer in turn in each iteration
// and report "speed", ours / peer from each side's fastest pass: the figure
// to read on a shared machine, whose load changes faster than a benchmark
// runs.
//
//   ./build/release/bench/compression/bench_compression --benchmark_filter=_vs_
//       --benchmark_min_time=2
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
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

// A pass codes or decodes a whole data set once and returns the bytes of
// coded data it wrote or read. Its inputs are prepared when it is made.
using Pass = std::function<std::size_t()>;
using PassMaker = Pass (*)(const DataSet&);

constexpr std::size_t kLargestFrame = 2 * 1024 * 1024;

std::size_t totalSize(const std::vector<Bytes>& buffers) {
  std::size_t total = 0;
  for (const Bytes& b : buffers) total += b.size();
  return total;
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

// The coder's steps before the stream: counting, the tree and the codes.
// The tree's rounds depend on the counts alone, so this is where a slow
// round shows, apart from packing.
class HuffmanSteps : public HuffmanCompression {
 public:
  using HuffmanCompression::dictionary;
};

Pass huffmanDictionary(const DataSet& set) {
  auto codec = std::make_shared<HuffmanSteps>();
  auto tree = std::make_shared<std::vector<unsigned int>>(765);
  auto codes = std::make_shared<std::vector<unsigned int>>(512);
  return [codec, tree, codes, &set] {
    std::size_t entries = 0;
    for (const Bytes& f : set.frames) {
      entries += codec->dictionary(f.data(), static_cast<unsigned int>(f.size()), tree->data(), codes->data());
    }
    benchmark::DoNotOptimize(entries);
    return std::size_t{0};  // nothing coded: no ratio
  };
}

Pass huffmanCompress(const DataSet& set) {
  auto codec = std::make_shared<HuffmanCompression>();
  return [codec, &set] {
    std::size_t compressed = 0;
    for (const Bytes& f : set.frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec->compress(f.data(), static_cast<int>(f.size()), &out, outLength);
      benchmark::DoNotOptimize(out);
      compressed += static_cast<std::size_t>(outLength);
      std::free(out);
    }
    return compressed;
  };
}

template <bool kChecked>
Pass huffmanUncompress(const DataSet& set) {
  auto inputs = std::make_shared<const std::vector<Bytes>>(huffmanCompressed(set));
  auto codec = std::make_shared<HuffmanCompression>();
  return [inputs, codec] {
    for (const Bytes& c : *inputs) {
      unsigned char* out = nullptr;
      int outLength = 0;
      if (kChecked) {
        codec->uncompress(c.data(), static_cast<int>(c.size()), &out, outLength);
      } else {
        codec->uncompress(c.data(), &out, outLength);
      }
      benchmark::DoNotOptimize(out);
      std::free(out);
    }
    return totalSize(*inputs);
  };
}

// Points a zlib stream at all of `in` and all of `out`.
void aim(z_stream& z, const Bytes& in, Bytes& out) {
  z.next_in = const_cast<unsigned char*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
}

std::vector<Bytes> deflated(const DataSet& set) {
  std::vector<Bytes> out;
  for (const Bytes& f : set.frames) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY);
    Bytes buf(deflateBound(&z, f.size()));
    aim(z, f, buf);
    deflate(&z, Z_FINISH);
    buf.resize(z.total_out);
    deflateEnd(&z);
    out.push_back(std::move(buf));
  }
  return out;
}

Pass zlibHuffmanOnly(const DataSet& set) {
  auto z = std::shared_ptr<z_stream>(new z_stream{}, [](z_stream* s) {
    deflateEnd(s);
    delete s;
  });
  deflateInit2(z.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY);
  auto buf = std::make_shared<Bytes>(kLargestFrame);
  return [z, buf, &set] {
    std::size_t compressed = 0;
    for (const Bytes& f : set.frames) {
      deflateReset(z.get());
      aim(*z, f, *buf);
      deflate(z.get(), Z_FINISH);
      compressed += z->total_out;
    }
    return compressed;
  };
}

Pass zlibInflate(const DataSet& set) {
  auto inputs = std::make_shared<const std::vector<Bytes>>(deflated(set));
  auto z = std::shared_ptr<z_stream>(new z_stream{}, [](z_stream* s) {
    inflateEnd(s);
    delete s;
  });
  inflateInit(z.get());
  auto buf = std::make_shared<Bytes>(kLargestFrame);
  return [inputs, z, buf] {
    for (const Bytes& c : *inputs) {
      inflateReset(z.get());
      aim(*z, c, *buf);
      inflate(z.get(), Z_FINISH);
      benchmark::DoNotOptimize(buf->data());
    }
    return totalSize(*inputs);
  };
}

Pass zstdCompress(const DataSet& set) {
  auto ctx = std::shared_ptr<ZSTD_CCtx>(ZSTD_createCCtx(), ZSTD_freeCCtx);
  auto buf = std::make_shared<Bytes>(ZSTD_compressBound(kLargestFrame));
  return [ctx, buf, &set] {
    std::size_t compressed = 0;
    for (const Bytes& f : set.frames) {
      compressed += ZSTD_compressCCtx(ctx.get(), buf->data(), buf->size(), f.data(), f.size(), 1);
    }
    return compressed;
  };
}

// Decompresses level-1 streams of every one of `frames`.
Pass zstdDecompressOf(const std::vector<Bytes>& frames) {
  auto inputs = std::make_shared<std::vector<Bytes>>();
  for (const Bytes& f : frames) {
    Bytes buf(ZSTD_compressBound(f.size()));
    buf.resize(ZSTD_compress(buf.data(), buf.size(), f.data(), f.size(), 1));
    inputs->push_back(std::move(buf));
  }
  auto ctx = std::shared_ptr<ZSTD_DCtx>(ZSTD_createDCtx(), ZSTD_freeDCtx);
  auto buf = std::make_shared<Bytes>(kLargestFrame);
  return [inputs, ctx, buf] {
    for (const Bytes& c : *inputs) {
      benchmark::DoNotOptimize(ZSTD_decompressDCtx(ctx.get(), buf->data(), buf->size(), c.data(), c.size()));
    }
    return totalSize(*inputs);
  };
}

Pass zstdDecompress(const DataSet& set) { return zstdDecompressOf(set.frames); }

int lz4Compress(const Bytes& in, Bytes& out) {
  return LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                              static_cast<int>(in.size()), static_cast<int>(out.size()));
}

Pass lz4CompressFrames(const DataSet& set) {
  auto buf = std::make_shared<Bytes>(LZ4_compressBound(kLargestFrame));
  return [buf, &set] {
    std::size_t compressed = 0;
    for (const Bytes& f : set.frames) compressed += static_cast<std::size_t>(lz4Compress(f, *buf));
    return compressed;
  };
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

Pass rleSweepEncode(const DataSet& set) {
  return [&set] {
    RLEEncoder codec;  // every pass starts the channel afresh
    std::size_t compressed = 0;
    for (const Bytes& f : set.frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec.encode(const_cast<unsigned char*>(f.data()), static_cast<int>(f.size()), &out, outLength, 0);
      benchmark::DoNotOptimize(out);
      compressed += static_cast<std::size_t>(outLength);
      std::free(out);
    }
    return compressed;
  };
}

template <bool kChecked>
Pass rleSweepDecode(const DataSet& set) {
  auto inputs = std::make_shared<std::vector<Bytes>>();
  {
    RLEEncoder codec;
    for (const Bytes& f : set.frames) {
      unsigned char* out = nullptr;
      int outLength = 0;
      codec.encode(const_cast<unsigned char*>(f.data()), static_cast<int>(f.size()), &out, outLength, 0);
      inputs->emplace_back(out, out + outLength);
      std::free(out);
    }
  }
  auto codec = std::make_shared<RLEEncoder>();
  return [inputs, codec] {
    for (Bytes& c : *inputs) {
      unsigned char* out = nullptr;
      int outLength = 0;
      if (kChecked) {
        codec->decode(static_cast<const unsigned char*>(c.data()), static_cast<int>(c.size()), &out, outLength);
      } else {
        codec->decode(c.data(), &out, outLength);
      }
      benchmark::DoNotOptimize(out);
      std::free(out);
    }
    return totalSize(*inputs);
  };
}

// The peer does the same work: XOR with the previous frame, then code.
template <bool kZstd>
Pass xorThen(const DataSet& set) {
  auto buf = std::make_shared<Bytes>(LZ4_compressBound(kLargestFrame) + ZSTD_compressBound(kLargestFrame));
  auto ctx = std::shared_ptr<ZSTD_CCtx>(ZSTD_createCCtx(), ZSTD_freeCCtx);
  auto diff = std::make_shared<Bytes>();
  auto previous = std::make_shared<Bytes>();
  return [buf, ctx, diff, previous, &set] {
    std::size_t compressed = 0;
    previous->clear();
    for (const Bytes& f : set.frames) {
      diff->resize(f.size());
      if (previous->size() != f.size()) previous->assign(f.size(), 0);
      for (std::size_t i = 0; i < f.size(); ++i) (*diff)[i] = f[i] ^ (*previous)[i];
      std::copy(f.begin(), f.end(), previous->begin());
      if (kZstd) {
        compressed += ZSTD_compressCCtx(ctx.get(), buf->data(), buf->size(), diff->data(), diff->size(), 1);
      } else {
        compressed += static_cast<std::size_t>(lz4Compress(*diff, *buf));
      }
    }
    return compressed;
  };
}

Pass lz4SweepDecode(const DataSet& set) {
  auto inputs = std::make_shared<std::vector<Bytes>>();
  for (const Bytes& d : sweepDifferences(set)) {
    Bytes buf(LZ4_compressBound(static_cast<int>(d.size())));
    buf.resize(static_cast<std::size_t>(lz4Compress(d, buf)));
    inputs->push_back(std::move(buf));
  }
  auto out = std::make_shared<Bytes>(kLargestFrame);
  return [inputs, out] {
    for (const Bytes& c : *inputs) {
      benchmark::DoNotOptimize(LZ4_decompress_safe(reinterpret_cast<const char*>(c.data()),
                                                   reinterpret_cast<char*>(out->data()), static_cast<int>(c.size()),
                                                   static_cast<int>(out->size())));
    }
    return totalSize(*inputs);
  };
}

Pass zstdSweepDecode(const DataSet& set) { return zstdDecompressOf(sweepDifferences(set)); }

// --- Benchmarks ---------------------------------------------------------

void BM_Codec(benchmark::State& state, const DataSet* set, PassMaker make) {
  Pass pass = make(*set);
  std::size_t coded = 0;
  for (auto _ : state) coded = pass();
  finish(state, *set, coded);
}

// Ours and the peer in turn in every iteration, the first one alternating,
// so that both meet the same load; each side's fastest pass counts.
void BM_Versus(benchmark::State& state, const DataSet* set, PassMaker ours, PassMaker peer) {
  Pass passes[2] = {ours(*set), peer(*set)};
  double best[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  int first = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      const int side = first ^ k;
      const auto start = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(passes[side]());
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best[side] = std::min(best[side], took.count());
    }
    first ^= 1;
  }
  state.counters["ours_MBps"] = double(set->bytes) / best[0] / 1e6;
  state.counters["peer_MBps"] = double(set->bytes) / best[1] / 1e6;
  state.counters["speed"] = best[1] / best[0];
}

}  // namespace

int main(int argc, char** argv) {
  struct Single {
    const char* name;
    PassMaker make;
  };
  const Single frames[] = {
      {"BM_Compress_By_Huffman/", huffmanCompress},
      {"BM_Dictionary_By_Huffman/", huffmanDictionary},
      {"BM_Compress_By_Zstd1/", zstdCompress},
      {"BM_Compress_By_ZlibHuffmanOnly/", zlibHuffmanOnly},
      {"BM_Compress_By_Lz4/", lz4CompressFrames},
      {"BM_Uncompress_By_HuffmanChecked/", huffmanUncompress<true>},
      {"BM_Uncompress_By_HuffmanTrusted/", huffmanUncompress<false>},
      {"BM_Uncompress_By_Zstd1/", zstdDecompress},
      {"BM_Uncompress_By_ZlibInflate/", zlibInflate},
  };
  const Single sweep[] = {
      {"BM_SweepEncode_By_RLE/", rleSweepEncode},
      {"BM_SweepEncode_By_XorThenLz4/", xorThen<false>},
      {"BM_SweepEncode_By_XorThenZstd1/", xorThen<true>},
      {"BM_SweepDecode_By_RLEChecked/", rleSweepDecode<true>},
      {"BM_SweepDecode_By_RLETrusted/", rleSweepDecode<false>},
      {"BM_SweepDecode_By_Lz4/", lz4SweepDecode},
      {"BM_SweepDecode_By_Zstd1/", zstdSweepDecode},
  };
  struct Versus {
    const char* name;
    PassMaker ours;
    PassMaker peer;
  };
  const Versus frameTargets[] = {
      {"BM_HuffmanCompress_vs_Zstd1/", huffmanCompress, zstdCompress},
      {"BM_HuffmanUncompressChecked_vs_Zstd1/", huffmanUncompress<true>, zstdDecompress},
      {"BM_HuffmanUncompressTrusted_vs_Zstd1/", huffmanUncompress<false>, zstdDecompress},
  };
  const Versus sweepTargets[] = {
      {"BM_RLEEncode_vs_XorThenLz4/", rleSweepEncode, xorThen<false>},
      {"BM_RLEDecodeChecked_vs_Lz4/", rleSweepDecode<true>, lz4SweepDecode},
      {"BM_RLEDecodeTrusted_vs_Lz4/", rleSweepDecode<false>, lz4SweepDecode},
  };
  for (auto& [name, set] : dataSets()) {
    const DataSet* s = &set;
    for (const Single& b : frames) benchmark::RegisterBenchmark((b.name + name).c_str(), BM_Codec, s, b.make);
    for (const Versus& b : frameTargets) {
      benchmark::RegisterBenchmark((b.name + name).c_str(), BM_Versus, s, b.ours, b.peer);
    }
    if (name != "seq") continue;
    for (const Single& b : sweep) benchmark::RegisterBenchmark((b.name + name).c_str(), BM_Codec, s, b.make);
    for (const Versus& b : sweepTargets) {
      benchmark::RegisterBenchmark((b.name + name).c_str(), BM_Versus, s, b.ours, b.peer);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
