// Cine block speed against its peers, in one run:
//   WriteFrame (plain and MLA) against memcpy into the same ring, a ring of
//   1 GB so that every frame goes to memory, not to a cache;
//   each de-interleaving kernel against memcpy of the same bytes;
//   Save and Load against one write (temporary file, fsync, rename) and one
//   read of the same bytes.
// Ratios: run with --benchmark_repetitions=5 --benchmark_enable_random_interleaving
// --benchmark_format=json and divide the bytes_per_second medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "mox_utils/cine.h"
#include "mox_utils/cine/Deinterleave.h"
#include "mox_utils/platform/File.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRingBytes = std::size_t{1} << 30;

// Frames of real ultrasound data (the bone sweep, repeated to the size asked
// for), or a pattern when the data set is not there.
std::vector<unsigned char> realFrame(std::size_t size) {
  fs::path dir = MOX_SHARED_DATA_DIR "/ultrasound";
  if (!fs::is_directory(dir)) dir = "/work/shared/data/ultrasound";
  std::ifstream in(dir / "seq-plus-bone-l14-f10_467x614.gray", std::ios::binary);
  std::vector<unsigned char> source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<unsigned char> frame(size);
  for (std::size_t i = 0; i < size; ++i) {
    frame[i] = source.empty() ? static_cast<unsigned char>(i * 7) : source[i % source.size()];
  }
  return frame;
}

unsigned char* ring() {
  static std::unique_ptr<unsigned char[]> memory = [] {
    std::unique_ptr<unsigned char[]> m(new unsigned char[kRingBytes]);
    std::memset(m.get(), 0, kRingBytes);  // every page touched before timing
    return m;
  }();
  return memory.get();
}

// Frames of lineSize 1024 bytes; the argument is the frame size in bytes.
std::unique_ptr<CineBlock> ringBlock(std::size_t frameBytes) {
  auto block = std::make_unique<CineBlock>(ring(), static_cast<unsigned int>(kRingBytes));
  BlockSetup<CineBlock> setup = block->SetupFrames();
  setup.lineSize = 1024;
  setup.numLines = static_cast<unsigned int>(frameBytes / 1024);
  block->SetupFrames(setup);
  return block;
}

void writeFrames(benchmark::State& state, bool mla) {
  const auto frameBytes = static_cast<std::size_t>(state.range(0));
  auto block = ringBlock(frameBytes);
  const auto frame = realFrame(frameBytes);
  short id = 0;
  for (auto _ : state) {
    const unsigned char* stored = block->WriteFrame(frame.data(), static_cast<unsigned int>(frameBytes), id, 0, mla);
    benchmark::DoNotOptimize(stored);
    id = static_cast<short>((id + 1) & 0x7FFF);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frameBytes));
}

void BM_WriteFrame_By_CineBlock(benchmark::State& state) { writeFrames(state, false); }
void BM_WriteFrameMla_By_CineBlock(benchmark::State& state) { writeFrames(state, true); }

// The baseline: the same frames copied with memcpy round the same slots.
void BM_WriteFrame_By_Memcpy(benchmark::State& state) {
  const auto frameBytes = static_cast<std::size_t>(state.range(0));
  auto block = ringBlock(frameBytes);
  const auto frame = realFrame(frameBytes);
  const std::size_t slots = block->GetMaxFrames() + 1;
  unsigned char* start = block->GetStartAddr();
  std::size_t slot = 0;
  for (auto _ : state) {
    unsigned char* target = start + slot * frameBytes;
    std::memcpy(target, frame.data(), frameBytes);
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
    slot = slot + 1 == slots ? 0 : slot + 1;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frameBytes));
}

BENCHMARK(BM_WriteFrame_By_CineBlock)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);
BENCHMARK(BM_WriteFrame_By_Memcpy)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);
BENCHMARK(BM_WriteFrameMla_By_CineBlock)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);

// Each kernel alone, into the ring, on 1 MB frames of 1024-byte lines.
void BM_Deinterleave_By_Kernel(benchmark::State& state) {
  const auto kernels = mox::detail::deinterleaveKernels();
  const auto& kernel = kernels.at(static_cast<std::size_t>(state.range(0)));
  state.SetLabel(kernel.name);
  constexpr std::size_t kFrame = 1 << 20, kLine = 1024;
  const auto frame = realFrame(kFrame);
  const std::size_t slots = kRingBytes / kFrame;
  std::size_t slot = 0;
  for (auto _ : state) {
    unsigned char* target = ring() + slot * kFrame;
    kernel.fn(frame.data(), target, kLine / 2, kLine, kFrame / kLine / 2);
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
    slot = slot + 1 == slots ? 0 : slot + 1;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}
BENCHMARK(BM_Deinterleave_By_Kernel)->DenseRange(0, static_cast<int>(mox::detail::deinterleaveKernels().size()) - 1);

// Each kernel into a 16 KB buffer that stays in the first-level cache, as
// the staged frame path uses them: the kernels' own speed, without memory.
void BM_DeinterleaveInCache_By_Kernel(benchmark::State& state) {
  const auto kernels = mox::detail::deinterleaveKernels();
  const auto& kernel = kernels.at(static_cast<std::size_t>(state.range(0)));
  state.SetLabel(kernel.name);
  constexpr std::size_t kStage = 16 * 1024, kLine = 1024;
  const auto input = realFrame(kStage);
  alignas(64) static unsigned char stage[kStage];
  for (auto _ : state) {
    kernel.fn(input.data(), stage, kLine / 2, kLine, kStage / kLine / 2);
    benchmark::DoNotOptimize(stage);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kStage));
}
BENCHMARK(BM_DeinterleaveInCache_By_Kernel)
    ->DenseRange(0, static_cast<int>(mox::detail::deinterleaveKernels().size()) - 1);

// Save and Load of 64 frames of 467 x 614 (18 MB).
struct SavedCine {
  SavedCine() {
    const unsigned int frameBytes = 467 * 614;
    block = std::make_unique<CineBlock>((frameBytes + 4) * 65);
    BlockSetup<CineBlock> setup = block->SetupFrames();
    setup.lineSize = 467;
    setup.numLines = 614;
    block->SetupFrames(setup);
    const auto frame = realFrame(frameBytes);
    for (short id = 0; id < 64; ++id) block->WriteFrame(frame.data(), frameBytes, id, 0, false);
    dir = fs::temp_directory_path() / "mox_bench_cine";
    fs::create_directories(dir);
    path = (dir / "bench.cine").wstring();
    block->Save(path.c_str());
    bytes = fs::file_size(dir / "bench.cine");
    image.resize(bytes);
    std::ifstream in(dir / "bench.cine", std::ios::binary);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(bytes));
  }
  ~SavedCine() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::unique_ptr<CineBlock> block;
  fs::path dir;
  std::wstring path;
  std::size_t bytes = 0;
  std::vector<unsigned char> image;
};

SavedCine& saved() {
  static SavedCine s;
  return s;
}

void BM_Save_By_CineBlock(benchmark::State& state) {
  SavedCine& s = saved();
  const std::wstring out = (s.dir / "save.cine").wstring();
  for (auto _ : state) s.block->Save(out.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

void BM_Save_By_WriteFileAtomically(benchmark::State& state) {
  SavedCine& s = saved();
  const std::wstring out = (s.dir / "plain.cine").wstring();
  for (auto _ : state) benchmark::DoNotOptimize(mox::platform::writeFileAtomically(out, s.image.data(), s.bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

void BM_Load_By_CineBlock(benchmark::State& state) {
  SavedCine& s = saved();
  for (auto _ : state) {
    std::unique_ptr<CineBlock> loaded(CineBlock::Load(s.path.c_str()));
    benchmark::DoNotOptimize(loaded.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

// The peer allocates and zeroes as much as Load does, then reads the file in
// one call.
void BM_Load_By_Fread(benchmark::State& state) {
  SavedCine& s = saved();
  for (auto _ : state) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[s.bytes + (467 * 614 + 4)]());
    std::FILE* file = mox::platform::openFile(s.path, "rb");
    benchmark::DoNotOptimize(std::fread(buffer.get(), 1, s.bytes, file));
    std::fclose(file);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes));
}

BENCHMARK(BM_Save_By_CineBlock)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save_By_WriteFileAtomically)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_By_CineBlock)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_By_Fread)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
