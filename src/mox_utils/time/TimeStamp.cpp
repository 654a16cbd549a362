#include "mox_utils/time/TimeStamp.h"

#include <cmath>
#include <cstdint>

#include "mox_utils/platform/Clock.h"

double TimeStamp::g_ratio = 0.0;
_LARGE_INTEGER TimeStamp::g_start = {};
_ULARGE_INTEGER TimeStamp::g_time = {};

namespace {

// Truncation toward zero to 64 bits, saturating where a plain conversion
// would be undefined.
std::int64_t truncateToInt64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return INT64_MAX;
  if (x <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(x);
}

TimeStamp fromUnits(std::uint64_t units) {
  _ULARGE_INTEGER value;
  value.QuadPart = units;
  return TimeStamp(value);
}

// Runs Initialize() once, at the latest at library load; Now() also passes
// here, so that a static initialiser elsewhere that reads the time before this
// file's statics were initialised still gets a proper base.
bool ensureInitialized() {
  static const bool initialized = TimeStamp::Initialize();
  return initialized;
}

[[maybe_unused]] const bool g_initializedAtLoad = ensureInitialized();

}  // namespace

bool TimeStamp::Initialize() {
  g_ratio = static_cast<double>(mox::platform::performanceFrequency()) * 1e-7;
  g_start.QuadPart = mox::platform::performanceCounter();
  SYSTEMTIME local;
  mox::platform::localTime(&local);
  FILETIME ft = {};
  mox::platform::systemTimeToFileTime(local, &ft);
  g_time.QuadPart = mox::platform::fileTimeValue(ft);
  return true;
}

TimeStamp::TimeStamp() { m_value.QuadPart = 0; }
TimeStamp::TimeStamp(const _ULARGE_INTEGER& value) { m_value.QuadPart = value.QuadPart; }
TimeStamp::TimeStamp(const TimeStamp& other) { m_value.QuadPart = other.m_value.QuadPart; }
TimeStamp& TimeStamp::operator=(const TimeStamp& other) {
  m_value.QuadPart = other.m_value.QuadPart;
  return *this;
}
TimeStamp::~TimeStamp() = default;

TimeStamp TimeStamp::Now() {
  ensureInitialized();
  const std::int64_t elapsed = mox::platform::performanceCounter() - g_start.QuadPart;
  const double units = static_cast<double>(elapsed) / g_ratio;
  return fromUnits(g_time.QuadPart + static_cast<std::uint64_t>(truncateToInt64(units + 0.5)));
}

TimeStamp TimeStamp::FromMilliseconds(int ms) {
  return fromUnits(static_cast<std::uint64_t>(static_cast<std::int64_t>(ms) * 10000));
}

TimeStamp TimeStamp::FromMilliseconds(double ms) {
  return fromUnits(static_cast<std::uint64_t>(truncateToInt64(ms * 10000.0 + 0.5)));
}

TimeStamp TimeStamp::FromMicroseconds(int us) {
  return fromUnits(static_cast<std::uint64_t>(static_cast<std::int64_t>(us) * 10));
}

TimeStamp TimeStamp::FromMicroseconds(double us) {
  return fromUnits(static_cast<std::uint64_t>(truncateToInt64(us * 10.0 + 0.5)));
}

TimeStamp TimeStamp::FromNanoseconds(unsigned long long ns) { return fromUnits(ns / 100); }

bool TimeStamp::operator<(const TimeStamp& other) const { return m_value.QuadPart < other.m_value.QuadPart; }
bool TimeStamp::operator<=(const TimeStamp& other) const { return m_value.QuadPart <= other.m_value.QuadPart; }
bool TimeStamp::operator>(const TimeStamp& other) const { return m_value.QuadPart > other.m_value.QuadPart; }
bool TimeStamp::operator>=(const TimeStamp& other) const { return m_value.QuadPart >= other.m_value.QuadPart; }
bool TimeStamp::operator==(const TimeStamp& other) const { return m_value.QuadPart == other.m_value.QuadPart; }
bool TimeStamp::operator!=(const TimeStamp& other) const { return m_value.QuadPart != other.m_value.QuadPart; }

TimeStamp TimeStamp::operator+(const TimeStamp& other) const {
  return fromUnits(m_value.QuadPart + other.m_value.QuadPart);
}

TimeStamp TimeStamp::operator-(const TimeStamp& other) const {
  return fromUnits(m_value.QuadPart - other.m_value.QuadPart);
}

TimeStamp& TimeStamp::operator+=(const TimeStamp& other) {
  m_value.QuadPart += other.m_value.QuadPart;
  return *this;
}

TimeStamp& TimeStamp::operator-=(const TimeStamp& other) {
  m_value.QuadPart -= other.m_value.QuadPart;
  return *this;
}

_FILETIME TimeStamp::ToFileTime() const { return mox::platform::makeFileTime(m_value.QuadPart); }

_SYSTEMTIME TimeStamp::ToSystemTime() const {
  _SYSTEMTIME st = {};
  mox::platform::fileTimeToSystemTime(ToFileTime(), &st);
  return st;
}
