#include "mox_utils/platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>

#include "support/SystemTimes.h"

using mox::platform::fileTimeToSystemTime;
using mox::platform::fileTimeValue;
using mox::platform::makeFileTime;
using mox::platform::systemTimeToFileTime;

namespace {

using mox::test::systemTime;

constexpr std::uint64_t kDay = 864000000000ULL;

}  // namespace

// Times of day, far from midnight (the calendar walk below covers the days).
// Values computed with Python's datetime, weekdays from isoweekday() % 7.
TEST(ClockTest, ConvertsKnownTimesBothWays) {
  struct Case {
    SYSTEMTIME time;
    std::uint64_t fileTime;
    WORD dayOfWeek;
  } cases[] = {
      {systemTime(1900, 2, 28, 23, 59, 59, 999), 94405823999990000ULL, 3},
      {systemTime(2000, 2, 29, 12, 34, 56, 789), 125963012967890000ULL, 2},
      {systemTime(9999, 12, 31, 23, 59, 59, 999), 2650467743999990000ULL, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time.wYear << "-" << c.time.wMonth << "-" << c.time.wDay);
    FILETIME ft = {};
    ASSERT_TRUE(systemTimeToFileTime(c.time, &ft));
    EXPECT_EQ(fileTimeValue(ft), c.fileTime);
    SYSTEMTIME back;
    ASSERT_TRUE(fileTimeToSystemTime(makeFileTime(c.fileTime), &back));
    EXPECT_EQ(back.wDayOfWeek, c.dayOfWeek);
    back.wDayOfWeek = c.time.wDayOfWeek;
    EXPECT_EQ(std::memcmp(&back, &c.time, sizeof back), 0);
  }
}

TEST(ClockTest, EveryDayFrom1601Follows) {
  // Walk the calendar by hand, independent of the conversion: each date must
  // map to exactly one day after its predecessor and back to itself.
  const int daysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::uint64_t expected = 0;
  WORD dayOfWeek = 1;  // 1601-01-01 was a Monday
  for (WORD year = 1601; year <= 2500; ++year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (WORD month = 1; month <= 12; ++month) {
      const int days = daysIn[month - 1] + (month == 2 && leap ? 1 : 0);
      for (WORD day = 1; day <= days; ++day) {
        FILETIME ft;
        ASSERT_TRUE(systemTimeToFileTime(systemTime(year, month, day), &ft)) << year << "-" << month << "-" << day;
        ASSERT_EQ(fileTimeValue(ft), expected) << year << "-" << month << "-" << day;
        SYSTEMTIME back;
        ASSERT_TRUE(fileTimeToSystemTime(ft, &back));
        ASSERT_TRUE(back.wYear == year && back.wMonth == month && back.wDay == day && back.wDayOfWeek == dayOfWeek)
            << year << "-" << month << "-" << day;
        expected += kDay;
        dayOfWeek = static_cast<WORD>((dayOfWeek + 1) % 7);
      }
    }
  }
}

// Both directions refuse what lies outside the range of a FILETIME below
// 2^63, and leave their output alone when they do.
TEST(ClockTest, RejectsWhatIsOutOfRangeAndLeavesOutput) {
  struct Case {
    const char* name;
    SYSTEMTIME time;
  } cases[] = {
      {"year 1600", systemTime(1600, 12, 31)},
      {"year 30828", systemTime(30828, 1, 1)},
      {"month 0", systemTime(2020, 0, 1)},
      {"month 13", systemTime(2020, 13, 1)},
      {"day 0", systemTime(2020, 1, 0)},
      {"April 31", systemTime(2020, 4, 31)},
      {"February 29 of 1900", systemTime(1900, 2, 29)},
      {"February 30 of 2000", systemTime(2000, 2, 30)},
      {"hour 24", systemTime(2020, 1, 1, 24)},
      {"minute 60", systemTime(2020, 1, 1, 0, 60)},
      {"second 60", systemTime(2020, 1, 1, 0, 0, 60)},
      {"millisecond 1000", systemTime(2020, 1, 1, 0, 0, 0, 1000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FILETIME ft = makeFileTime(0x1122334455667788ULL);
    EXPECT_FALSE(systemTimeToFileTime(c.time, &ft));
    EXPECT_EQ(fileTimeValue(ft), 0x1122334455667788ULL);
  }
  // The last day the conversion accepts, and the day of week is ignored.
  SYSTEMTIME last = systemTime(30827, 12, 31, 23, 59, 59, 999);
  last.wDayOfWeek = 77;
  FILETIME ft;
  EXPECT_TRUE(systemTimeToFileTime(last, &ft));
  EXPECT_LT(fileTimeValue(ft), 1ULL << 63);

  SYSTEMTIME st = systemTime(1999, 9, 9);
  EXPECT_FALSE(fileTimeToSystemTime(makeFileTime(1ULL << 63), &st));
  EXPECT_FALSE(fileTimeToSystemTime(makeFileTime(~0ULL), &st));
  EXPECT_EQ(st.wYear, 1999);  // untouched
  ASSERT_TRUE(fileTimeToSystemTime(makeFileTime((1ULL << 63) - 1), &st));
  EXPECT_EQ(st.wYear, 30828);
}

class ManualClockTest : public testing::Test {
 protected:
  void TearDown() override { mox::platform::setClockSource(nullptr); }
};

// The clock the logging and time-stamp tests drive: local time, UTC and the
// tick all come from it.
TEST_F(ManualClockTest, DrivesLocalTimeUtcAndTick) {
  // 2000-02-29 22:34:56.789 UTC; local time, two hours ahead, is in March.
  mox::platform::ManualClock clock(125963372967890000ULL, 2 * 3600 * 10000000LL, 0xFFFFFFF0u);
  mox::platform::setClockSource(&clock);
  clock.advanceMs(0x20);  // the tick wraps
  SYSTEMTIME utc, local;
  mox::platform::systemTime(&utc);
  mox::platform::localTime(&local);
  EXPECT_TRUE(utc.wMonth == 2 && utc.wDay == 29 && utc.wHour == 22);
  EXPECT_TRUE(local.wMonth == 3 && local.wDay == 1 && local.wHour == 0 && local.wMilliseconds == 821);
  EXPECT_EQ(mox::platform::tickCount(), 0x10u);
}

TEST_F(ManualClockTest, NullRestoresTheSystemClock) {
  mox::platform::ManualClock clock(0, 0, 7);
  mox::platform::setClockSource(&clock);
  mox::platform::setClockSource(nullptr);
  // Read between two readings of the standard library's clock, compared in
  // the whole milliseconds that a SYSTEMTIME keeps.
  const auto msSince1970 = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const auto before = msSince1970();
  SYSTEMTIME utc;
  mox::platform::systemTime(&utc);
  const auto after = msSince1970();
  FILETIME ft;
  ASSERT_TRUE(systemTimeToFileTime(utc, &ft));
  const auto ours = static_cast<std::int64_t>((fileTimeValue(ft) - mox::platform::kUnixEpochAsFileTime) / 10000);
  EXPECT_GE(ours, before);
  EXPECT_LE(ours, after);
}

TEST(ClockTest, CountersMoveForward) {
  EXPECT_EQ(mox::platform::performanceFrequency(), 1000000000LL);
  std::int64_t last = mox::platform::performanceCounter();
  const std::uint32_t tick0 = mox::platform::tickCount();
  for (int i = 0; i < 10000; ++i) {
    const std::int64_t now = mox::platform::performanceCounter();
    ASSERT_GE(now, last);
    last = now;
  }
  // Unsigned difference: correct across a wrap as well.
  EXPECT_LT(static_cast<std::uint32_t>(mox::platform::tickCount() - tick0), 60000u);
}
