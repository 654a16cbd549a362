// TimeStamp::Now() against its baseline, a bare monotonic clock read, and
// against the wall clock it must not call.
#include <benchmark/benchmark.h>
#include <time.h>

#include "mox_utils/time/TimeStamp.h"

namespace {

void BM_Now_By_TimeStamp(benchmark::State& state) {
  for (auto _ : state) {
    TimeStamp t = TimeStamp::Now();
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_Now_By_TimeStamp);

void BM_Now_By_ClockGettimeMonotonic(benchmark::State& state) {
  for (auto _ : state) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    benchmark::DoNotOptimize(ts);
  }
}
BENCHMARK(BM_Now_By_ClockGettimeMonotonic);

// What a stamp would cost if it broke the local wall-clock time down each
// time instead of reading the counter.
void BM_Now_By_ClockGettimeRealtimeLocaltime(benchmark::State& state) {
  for (auto _ : state) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    benchmark::DoNotOptimize(local);
  }
}
BENCHMARK(BM_Now_By_ClockGettimeRealtimeLocaltime);

}  // namespace

BENCHMARK_MAIN();
