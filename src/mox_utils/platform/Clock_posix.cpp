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
  // Time zones change their offset only on whole minutes, so the offset is
  // kept per UTC minute: every log line reads the local time, and
  // localtime_r takes a process-wide lock. Minute and offset share one word,
  // so a reader never pairs a minute with another minute's offset.
  std::int64_t localOffset(std::uint64_t utc) override {
    const std::uint64_t minute = utc / kTicksPerMinute;
    const std::uint64_t cached = m_cache.load(std::memory_order_relaxed);
    if (cached != 0 && (cached >> kOffsetBits) == minute + 1) {
      const auto seconds = static_cast<std::int64_t>(cached & kOffsetMask) - kOffsetBias;
      return seconds * 10000000LL;
    }
    const time_t seconds = static_cast<time_t>((utc - kUnixEpochAsFileTime) / 10000000ULL);
    tm local;
    if (localtime_r(&seconds, &local) == nullptr) return 0;
    const std::int64_t offset = static_cast<std::int64_t>(local.tm_gmtoff);
    if (offset > -kOffsetBias && offset < kOffsetBias) {
      m_cache.store(((minute + 1) << kOffsetBits) | static_cast<std::uint64_t>(offset + kOffsetBias),
                    std::memory_order_relaxed);
    }
    return offset * 10000000LL;
  }
  std::uint32_t tickCount() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000ULL +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000ULL);
  }

 private:
  static constexpr std::uint64_t kTicksPerMinute = 600000000ULL;
  static constexpr unsigned kOffsetBits = 20;
  static constexpr std::uint64_t kOffsetMask = (1ULL << kOffsetBits) - 1;
  static constexpr std::int64_t kOffsetBias = 1LL << (kOffsetBits - 1);
  // (UTC minute + 1) << 20 | (offset in seconds + bias); 0 while empty.
  std::atomic<std::uint64_t> m_cache{0};
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
