#include "mox_utils/platform/Clock.h"

namespace mox::platform {

namespace {

constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kTicksPerDay = 864000000000ULL;

// Days from 1601-01-01 to year/month/day (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t daysSince1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return daysSince1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool systemTimeToFileTime(const SYSTEMTIME& in, FILETIME* out) {
  if (in.wYear < 1601 || in.wYear > 30827 || in.wMonth < 1 || in.wMonth > 12 || in.wDay < 1 ||
      in.wDay > daysInMonth(in.wYear, in.wMonth) || in.wHour > 23 || in.wMinute > 59 || in.wSecond > 59 ||
      in.wMilliseconds > 999) {
    return false;
  }
  const std::uint64_t days = static_cast<std::uint64_t>(daysFromCivil(in.wYear, in.wMonth, in.wDay));
  const std::uint64_t ms = ((in.wHour * 60ULL + in.wMinute) * 60ULL + in.wSecond) * 1000ULL + in.wMilliseconds;
  *out = makeFileTime(days * kTicksPerDay + ms * kTicksPerMs);
  return true;
}

bool fileTimeToSystemTime(const FILETIME& in, SYSTEMTIME* out) {
  const std::uint64_t value = fileTimeValue(in);
  if (value >= (1ULL << 63)) return false;
  const std::int64_t days = static_cast<std::int64_t>(value / kTicksPerDay);
  std::uint64_t rest = value % kTicksPerDay;
  // Civil date from days since 1970 (Howard Hinnant's algorithm).
  const std::int64_t z = days - 134774 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y + (m <= 2));
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  const std::uint64_t ms = rest / kTicksPerMs;
  st.wMilliseconds = static_cast<WORD>(ms % 1000);
  st.wSecond = static_cast<WORD>(ms / 1000 % 60);
  st.wMinute = static_cast<WORD>(ms / 60000 % 60);
  st.wHour = static_cast<WORD>(ms / 3600000);
  *out = st;
  return true;
}

ClockSource::~ClockSource() = default;

ManualClock::ManualClock(std::uint64_t utc, std::int64_t localOffset, std::uint32_t tick)
    : m_utc(utc), m_offset(localOffset), m_tick(tick) {}
std::uint64_t ManualClock::utcNow() { return m_utc; }
std::int64_t ManualClock::localOffset(std::uint64_t) { return m_offset; }
std::uint32_t ManualClock::tickCount() { return m_tick; }
void ManualClock::setUtc(std::uint64_t utc) { m_utc = utc; }
bool ManualClock::setLocal(const SYSTEMTIME& local) {
  FILETIME ft;
  if (!systemTimeToFileTime(local, &ft)) return false;
  m_utc = static_cast<std::uint64_t>(static_cast<std::int64_t>(fileTimeValue(ft)) - m_offset);
  return true;
}
void ManualClock::advanceMs(std::uint32_t ms) {
  m_utc += ms * kTicksPerMs;
  m_tick += ms;
}
void ManualClock::setTick(std::uint32_t tick) { m_tick = tick; }

}  // namespace mox::platform
