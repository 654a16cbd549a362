#include <time.h>

#include <atomic>

#include "mox_utils/platform/Clock.h"

namespace mox::platform {

namespace {

class SystemClock final : public ClockSource {
 public:
  std::uint64_t utcNow() override {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return kUnixEpochAsFileTime + static_cast<std::uint64_t>(ts.tv_sec) * 10000000ULL +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100;
  }
  std::int64_t localOffset(std::uint64_t utc) override {
    const time_t seconds = static_cast<time_t>((utc - kUnixEpochAsFileTime) / 10000000ULL);
    tm local;
    if (localtime_r(&seconds, &local) == nullptr) return 0;
    return static_cast<std::int64_t>(local.tm_gmtoff) * 10000000LL;
  }
  std::uint32_t tickCount() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000ULL +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000ULL);
  }
};

SystemClock& systemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<ClockSource*> g_source{nullptr};

ClockSource& source() {
  ClockSource* s = g_source.load(std::memory_order_acquire);
  return s != nullptr ? *s : systemClock();
}

}  // namespace

std::int64_t performanceCounter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::int64_t performanceFrequency() { return 1000000000LL; }

std::uint32_t tickCount() { return source().tickCount(); }

void systemTime(SYSTEMTIME* out) { fileTimeToSystemTime(makeFileTime(source().utcNow()), out); }

void localTime(SYSTEMTIME* out) {
  ClockSource& s = source();
  const std::uint64_t utc = s.utcNow();
  fileTimeToSystemTime(makeFileTime(static_cast<std::uint64_t>(static_cast<std::int64_t>(utc) + s.localOffset(utc))),
                       out);
}

void setClockSource(ClockSource* src) { g_source.store(src, std::memory_order_release); }

}  // namespace mox::platform
