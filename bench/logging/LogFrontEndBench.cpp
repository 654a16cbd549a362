// The cost of a log call that is dropped because no logger object exists,
// beside an empty out-of-line call with the same arguments.
#include <benchmark/benchmark.h>

#include "mox_utils/logging/kelLogger.h"

namespace {

const wchar_t kProbe[] = L"bone";

// The baseline: what any call with these arguments costs at least.
__attribute__((noinline)) void emptyCall(const char* source, int line, int type, const wchar_t* format, ...) {
  benchmark::DoNotOptimize(source);
  benchmark::DoNotOptimize(line);
  benchmark::DoNotOptimize(type);
  benchmark::DoNotOptimize(format);
}

void BM_DroppedLog_By_EmptyCall(benchmark::State& state) {
  int frame = 0;
  for (auto _ : state) {
    emptyCall(__FILE__, __LINE__, kelLogger::LOG_DEBUG, L"frame %d of %s", ++frame, kProbe);
  }
}
BENCHMARK(BM_DroppedLog_By_EmptyCall);

// The usual call site: a helper built for the line, then called.
void BM_DroppedLog_By_FrontEnd(benchmark::State& state) {
  kelLogger::setLoggerCore(nullptr);
  int frame = 0;
  for (auto _ : state) {
    MOX_LOG(kelLogger::LOG_DEBUG)(L"frame %d of %s", ++frame, kProbe);
  }
}
BENCHMARK(BM_DroppedLog_By_FrontEnd);

// A helper built once and kept: only the call and the logger-object check.
void BM_DroppedLog_By_KeptHelper(benchmark::State& state) {
  kelLogger::setLoggerCore(nullptr);
  const kelLogger::kelLogHelper helper(__FILE__, __LINE__, kelLogger::LOG_DEBUG);
  benchmark::DoNotOptimize(&helper);
  int frame = 0;
  for (auto _ : state) {
    helper(L"frame %d of %s", ++frame, kProbe);
  }
}
BENCHMARK(BM_DroppedLog_By_KeptHelper);

}  // namespace

BENCHMARK_MAIN();
