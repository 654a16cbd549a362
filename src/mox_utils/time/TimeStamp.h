// A 64-bit time value in units of 100 nanoseconds (the FILETIME unit), used
// both as an absolute local time counted from 1 January 1601 and as a
// duration.
//
// Now() is the local wall-clock time read once when the library loaded plus
// the performance counter's progress since then: fine-grained, monotonic, and
// deaf to later changes of the system clock or the time zone. Values carry no
// time zone.
//
// Arithmetic wraps modulo 2^64: a later stamp minus an earlier one is the
// elapsed time, and an earlier minus a later one is a huge value that compares
// greater than any ordinary stamp. Negative durations are two's complements.
//
// Thread-safety: every operation is free of locks; the statics are written
// only while the library loads (and by an explicit Initialize()).
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

class MOX_API TimeStamp {
 public:
  // Reads the performance-counter frequency, the counter and the local time
  // as the base of Now(). Runs once while the library loads, so callers need
  // not call it; calling it again moves the base to the present. Returns
  // true.
  static bool Initialize();

  // A zero value.
  TimeStamp();
  TimeStamp(const _ULARGE_INTEGER& value);
  TimeStamp(const TimeStamp& other);
  TimeStamp& operator=(const TimeStamp& other);
  ~TimeStamp();

  // The current local time: one counter read and one division.
  static TimeStamp Now();

  // Durations. The int overloads multiply exactly (sign-extended, so a
  // negative argument gives the two's complement); the double overloads add
  // 0.5 units and truncate toward zero, so -1.0 ms gives -9,999 units and
  // 0.05 us gives 1. A double beyond the 64-bit range saturates, NaN gives 0.
  static TimeStamp FromMilliseconds(int ms);
  static TimeStamp FromMilliseconds(double ms);
  static TimeStamp FromMicroseconds(int us);
  static TimeStamp FromMicroseconds(double us);
  // Truncates: 199 ns give 1 unit.
  static TimeStamp FromNanoseconds(unsigned long long ns);

  // Comparisons of the unsigned values.
  bool operator<(const TimeStamp& other) const;
  bool operator<=(const TimeStamp& other) const;
  bool operator>(const TimeStamp& other) const;
  bool operator>=(const TimeStamp& other) const;
  bool operator==(const TimeStamp& other) const;
  bool operator!=(const TimeStamp& other) const;

  TimeStamp operator+(const TimeStamp& other) const;
  TimeStamp operator-(const TimeStamp& other) const;
  TimeStamp& operator+=(const TimeStamp& other);
  TimeStamp& operator-=(const TimeStamp& other);

  _FILETIME ToFileTime() const;
  // The broken-down time of the value, without time-zone conversion (a value
  // from Now() gives local time). A value at or above 2^63 is no valid
  // FILETIME and gives an all-zero record.
  _SYSTEMTIME ToSystemTime() const;

 private:
  _ULARGE_INTEGER m_value;

  static double g_ratio;          // counter ticks per 100 ns
  static _LARGE_INTEGER g_start;  // the counter at Initialize()
  static _ULARGE_INTEGER g_time;  // the local time at Initialize(), as a FILETIME value
};
