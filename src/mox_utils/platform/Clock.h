// Clocks: the performance counter, the millisecond tick, wall-clock time as
// SYSTEMTIME and FILETIME, and the conversions between them.
//
// Every reading of the wall clock and of the tick goes through a ClockSource,
// so that tests can replace both (date changes, tick wrap-around) without
// sleeping. The performance counter is never replaced: it measures intervals.
#pragma once

#include <cstdint>

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace mox::platform {

// Monotonic counter in nanoseconds (QueryPerformanceCounter). Never fails.
MOX_API std::int64_t performanceCounter();
// Counts per second of performanceCounter(): always 1e9.
MOX_API std::int64_t performanceFrequency();

// Milliseconds since an arbitrary start, as an unsigned 32-bit value that
// wraps after 49.7 days (GetTickCount).
MOX_API std::uint32_t tickCount();

// Current local time and UTC, broken down (GetLocalTime, GetSystemTime).
MOX_API void localTime(SYSTEMTIME* out);
MOX_API void systemTime(SYSTEMTIME* out);

// FILETIME (100 ns since 1601-01-01) to and from SYSTEMTIME, without any
// time-zone conversion. systemTimeToFileTime fails (false, *out untouched) for
// fields out of range (month 0 or 13, day 31 in April, year before 1601 or
// after 30827, hour 24, ...); the day of week is ignored. fileTimeToSystemTime
// fails for values at or above 2^63 and fills wDayOfWeek.
MOX_API bool systemTimeToFileTime(const SYSTEMTIME& in, FILETIME* out);
MOX_API bool fileTimeToSystemTime(const FILETIME& in, SYSTEMTIME* out);

// 64-bit value of a FILETIME and back.
inline std::uint64_t fileTimeValue(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME makeFileTime(std::uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

// Offset between the FILETIME epoch (1601) and the Unix epoch (1970), in
// 100-ns units.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// The source of wall-clock time and of the tick. The default source reads the
// system clocks (UTC from CLOCK_REALTIME, local time through localtime_r with
// the process's time zone, the tick from CLOCK_MONOTONIC).
class MOX_API ClockSource {
 public:
  virtual ~ClockSource();
  // Current UTC time as a FILETIME value.
  virtual std::uint64_t utcNow() = 0;
  // Offset of local time from UTC at the given UTC instant, in 100-ns units
  // (local = utc + offset).
  virtual std::int64_t localOffset(std::uint64_t utc) = 0;
  virtual std::uint32_t tickCount() = 0;
};

// Replaces the clock source for the whole process; null restores the system
// clocks. The caller keeps the source alive while it is installed. Not
// synchronised with concurrent clock reads: install before the threads start.
MOX_API void setClockSource(ClockSource* source);

// A clock for tests: a settable UTC time, a fixed local offset and a settable
// tick.
class MOX_API ManualClock : public ClockSource {
 public:
  ManualClock(std::uint64_t utc, std::int64_t localOffset, std::uint32_t tick);
  std::uint64_t utcNow() override;
  std::int64_t localOffset(std::uint64_t utc) override;
  std::uint32_t tickCount() override;

  void setUtc(std::uint64_t utc);
  // Sets the time from a local SYSTEMTIME (using this clock's local offset).
  bool setLocal(const SYSTEMTIME& local);
  void advanceMs(std::uint32_t ms);  // moves both the time and the tick
  void setTick(std::uint32_t tick);

 private:
  std::uint64_t m_utc;  // atomic access not needed: tests drive one thread
  std::int64_t m_offset;
  std::uint32_t m_tick;
};

}  // namespace mox::platform
