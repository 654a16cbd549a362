#include "mox_utils/time/TimeStamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>

#include "mox_utils/platform/Clock.h"
#include "support/SystemTimes.h"

namespace {

std::uint64_t units(const TimeStamp& t) {
  const FILETIME ft = t.ToFileTime();
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TimeStamp stamp(std::uint64_t value) {
  ULARGE_INTEGER v;
  v.QuadPart = value;
  return TimeStamp(v);
}

// The two's complement of x: a negative duration.
constexpr std::uint64_t negative(std::uint64_t x) { return ~x + 1; }

}  // namespace

TEST(TimeStampTest, DurationsConvertAndRound) {
  struct Case {
    const char* name;
    TimeStamp value;
    std::uint64_t expected;
  } cases[] = {
      {"199 ns truncates", TimeStamp::FromNanoseconds(199), 1},
      {"0.04 us rounds down", TimeStamp::FromMicroseconds(0.04), 0},
      {"0.05 us rounds up", TimeStamp::FromMicroseconds(0.05), 1},
      {"-1 ms sign-extends", TimeStamp::FromMilliseconds(-1), negative(10000)},
      {"-1 us sign-extends", TimeStamp::FromMicroseconds(-1), negative(10)},
      {"-1.0 ms rounds toward zero", TimeStamp::FromMilliseconds(-1.0), negative(9999)},
      {"INT_MAX ms", TimeStamp::FromMilliseconds(2147483647), 21474836470000ULL},
      {"INT_MIN ms", TimeStamp::FromMilliseconds(-2147483647 - 1), negative(21474836480000ULL)},
      {"2^64-1 ns", TimeStamp::FromNanoseconds(~0ULL), 184467440737095516ULL},
      {"huge ms saturates", TimeStamp::FromMilliseconds(1e300), 0x7FFFFFFFFFFFFFFFULL},
      {"NaN ms", TimeStamp::FromMilliseconds(std::nan("")), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(units(c.value), c.expected);
  }
}

TEST(TimeStampTest, ArithmeticWrapsModulo2To64) {
  const TimeStamp early = stamp(1000), late = stamp(3000);
  EXPECT_EQ(units(late - early), 2000u);
  EXPECT_EQ(units(early - late), negative(2000));
  EXPECT_EQ(units(stamp(~0ULL) + stamp(2)), 1u);
  EXPECT_EQ(late + TimeStamp::FromMicroseconds(-100), stamp(2000));  // a negative duration subtracts

  TimeStamp t = early;
  EXPECT_EQ(&(t += late), &t);
  EXPECT_EQ(units(t), 4000u);
  EXPECT_EQ(&(t -= late), &t);
  EXPECT_EQ(units(t -= late), negative(2000));
}

// Every operator in each of the three relations, across 2^63 where a signed
// comparison would go wrong.
TEST(TimeStampTest, ComparesUnsigned) {
  const TimeStamp low = stamp(0x7FFFFFFFFFFFFFFFULL), high = stamp(0x8000000000000000ULL);
  EXPECT_TRUE(low < high && low <= high && low != high && !(low > high) && !(low >= high) && !(low == high));
  EXPECT_TRUE(high > low && high >= low && high != low && !(high < low) && !(high <= low) && !(high == low));
  EXPECT_TRUE(low == low && low <= low && low >= low && !(low != low) && !(low < low) && !(low > low));
}

TEST(TimeStampTest, ConvertsToSystemTime) {
  // 2000-02-29 12:34:56.789 (from Python's datetime), a Tuesday.
  const SYSTEMTIME st = stamp(125963012967890000ULL).ToSystemTime();
  EXPECT_TRUE(st.wYear == 2000 && st.wMonth == 2 && st.wDay == 29 && st.wDayOfWeek == 2 && st.wHour == 12 &&
              st.wMinute == 34 && st.wSecond == 56 && st.wMilliseconds == 789);
  // 2^63 is no valid FILETIME: all zero.
  const SYSTEMTIME invalid = stamp(0x8000000000000000ULL).ToSystemTime();
  EXPECT_TRUE(invalid.wYear == 0 && invalid.wMonth == 0 && invalid.wDay == 0 && invalid.wHour == 0);
}

// Stamps advance exactly as the performance counter (in nanoseconds) does,
// however loaded the machine: two stamps taken between counter readings span
// at least the inner and at most the outer pair, give or take the rounding of
// each stamp. A stamp going backwards wraps to a huge span and fails too.
TEST(TimeStampTest, NowFollowsTheCounter) {
  using mox::platform::performanceCounter;
  const std::int64_t outerStart = performanceCounter();
  const TimeStamp t0 = TimeStamp::Now();
  const std::int64_t innerStart = performanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const std::int64_t innerEnd = performanceCounter();
  const TimeStamp t1 = TimeStamp::Now();
  const std::int64_t outerEnd = performanceCounter();
  const std::uint64_t elapsed = units(t1 - t0);
  EXPECT_GE(elapsed + 1, static_cast<std::uint64_t>((innerEnd - innerStart) / 100));
  EXPECT_LE(elapsed, static_cast<std::uint64_t>((outerEnd - outerStart) / 100) + 1);
}

class TimeStampBaseTest : public testing::Test {
 protected:
  void TearDown() override {
    mox::platform::setClockSource(nullptr);
    TimeStamp::Initialize();
  }
};

TEST_F(TimeStampBaseTest, NowStartsFromTheLocalTimeAtInitialize) {
  // 2030-06-15 08:00:00 local, one hour ahead of UTC.
  mox::platform::ManualClock clock(0, 3600 * 10000000LL, 0);
  ASSERT_TRUE(clock.setLocal(mox::test::systemTime(2030, 6, 15, 8)));
  mox::platform::setClockSource(&clock);
  ASSERT_TRUE(TimeStamp::Initialize());

  // The wall clock jumps a year; Now() does not follow it.
  clock.setUtc(clock.utcNow() + 366ULL * 864000000000ULL);
  const SYSTEMTIME now = TimeStamp::Now().ToSystemTime();
  EXPECT_TRUE(now.wYear == 2030 && now.wMonth == 6 && now.wDay == 15 && now.wHour == 8);
  EXPECT_LT(now.wMinute, 5);  // only the test's own run time has passed
}
