// The logger beside spdlog, in the same run: a written line (two ints and a
// string, flushed to its file) and a message that a filter drops. Also the
// formatter alone beside glibc's swprintf.
//
//   build/default/bench/logging_core/bench_logging_core --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/logging/kelLoggerCore.h"
#include "mox_utils/platform/Text.h"

namespace {

// A scratch directory, and the standard streams kept aside while the logger
// owns them (the benchmark library prints its results on standard output).
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/mox_bench_log_XXXXXX";
    m_dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    std::fflush(stdout);
    std::fflush(stderr);
    m_out = dup(1);
    m_err = dup(2);
  }
  ~Scratch() {
    kelLoggerClass::terminate();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(m_out, 1);
    dup2(m_err, 2);
    close(m_out);
    close(m_err);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  std::wstring base() const { return mox::platform::utf8ToWide(m_dir.string()) + L"/"; }
  std::string file(const char* name) const { return (m_dir / name).string(); }

 private:
  std::filesystem::path m_dir;
  int m_out;
  int m_err;
};

void BM_WrittenLine_By_Mox(benchmark::State& state) {
  Scratch scratch;
  kelLoggerClass::initialize(scratch.base().c_str(), 6);
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_INFO}, L"bench.log");
  const kelLogger::kelLogHelper log(__FILE__, __LINE__, kelLogger::LOG_INFO);
  int i = 0;
  for (auto _ : state) {
    log(L"frame %d of %d from %s", i, 1000, L"linear probe");
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrittenLine_By_Mox)->UseRealTime();

void BM_WrittenLine_By_Spdlog(benchmark::State& state) {
  Scratch scratch;
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(scratch.file("bench.log"), true);
  spdlog::logger logger("bench", sink);
  logger.set_pattern("%H:%M:%S.%e|%l|%s[%#]|%v");
  logger.flush_on(spdlog::level::info);
  const spdlog::source_loc where{"bench_logging_core.cpp", __LINE__, ""};
  int i = 0;
  for (auto _ : state) {
    logger.log(where, spdlog::level::info, "frame {} of {} from {}", i, 1000, "linear probe");
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrittenLine_By_Spdlog)->UseRealTime();

// The same sink with spdlog's thread-safe variant, as the logger is
// thread-safe too.
void BM_WrittenLine_By_SpdlogMt(benchmark::State& state) {
  Scratch scratch;
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(scratch.file("bench.log"), true);
  spdlog::logger logger("bench", sink);
  logger.set_pattern("%H:%M:%S.%e|%l|%s[%#]|%v");
  logger.flush_on(spdlog::level::info);
  const spdlog::source_loc where{"bench_logging_core.cpp", __LINE__, ""};
  int i = 0;
  for (auto _ : state) {
    logger.log(where, spdlog::level::info, "frame {} of {} from {}", i, 1000, "linear probe");
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WrittenLine_By_SpdlogMt)->UseRealTime();

void BM_DroppedLine_By_Mox(benchmark::State& state) {
  Scratch scratch;
  kelLoggerClass::initialize(scratch.base().c_str(), 6);
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_DEBUG}, L"NULL");
  const kelLogger::kelLogHelper log(__FILE__, __LINE__, kelLogger::LOG_DEBUG);
  int i = 0;
  for (auto _ : state) {
    log(L"frame %d of %d from %s", i, 1000, L"linear probe");
    ++i;
  }
}
BENCHMARK(BM_DroppedLine_By_Mox);

void BM_DroppedLine_By_Spdlog(benchmark::State& state) {
  Scratch scratch;
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(scratch.file("bench.log"), true);
  spdlog::logger logger("bench", sink);
  logger.set_level(spdlog::level::info);
  const spdlog::source_loc where{"bench_logging_core.cpp", __LINE__, ""};
  int i = 0;
  for (auto _ : state) {
    logger.log(where, spdlog::level::debug, "frame {} of {} from {}", i, 1000, "linear probe");
    benchmark::ClobberMemory();
    ++i;
  }
}
BENCHMARK(BM_DroppedLine_By_Spdlog);

void BM_Format_By_Mox(benchmark::State& state) {
  wchar_t buffer[256];
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mox::platform::formatWide(buffer, 256, L"%02d:%02d|frame %d of %d from %s", 3, 7, i++, 1000, L"linear probe"));
  }
}
BENCHMARK(BM_Format_By_Mox);

void BM_Format_By_Swprintf(benchmark::State& state) {
  wchar_t buffer[256];
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::swprintf(buffer, 256, L"%02d:%02d|frame %d of %d from %ls", 3, 7, i++, 1000, L"linear probe"));
  }
}
BENCHMARK(BM_Format_By_Swprintf);

void BM_FormatUtf8_By_Mox(benchmark::State& state) {
  char buffer[1024];
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mox::platform::formatUtf8(buffer, sizeof buffer, 255, L"%02d:%02d|frame %d of %d from %s",
                                                       3, 7, i++, 1000, L"linear probe"));
  }
}
BENCHMARK(BM_FormatUtf8_By_Mox);

}  // namespace

BENCHMARK_MAIN();
