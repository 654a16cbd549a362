// Calendar times for tests, written field by field.
#pragma once

#include "mox_utils/platform.h"

namespace mox::test {

inline SYSTEMTIME systemTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  st.wMilliseconds = static_cast<WORD>(ms);
  return st;
}

}  // namespace mox::test
