#include "mox_utils/time/HiResTimer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "mox_utils/platform/Clock.h"
#include "support/CaptureStdout.h"

namespace mox::detail {
struct HiResTimerTestPeer {
  static void setTimes(HiResTimer& timer, std::vector<double> times) { timer.m_times = std::move(times); }
  static void setStart(HiResTimer& timer, std::int64_t start) { timer.m_start.QuadPart = start; }
};
}  // namespace mox::detail

namespace {

using mox::detail::HiResTimerTestPeer;

TEST(HiResTimerTest, NewAndClearedTimersHaveNoMeasurements) {
  HiResTimer fresh, cleared;
  HiResTimerTestPeer::setTimes(cleared, {4.0, 6.0});
  const HiResTimer copy(cleared);
  cleared.clear();
  EXPECT_EQ(copy.getTotalTime(), 10.0);  // a copy of its own
  for (HiResTimer* timer : {&fresh, &cleared}) {
    SCOPED_TRACE(timer == &fresh ? "new" : "cleared");
    EXPECT_EQ(timer->getCount(), 0u);
    EXPECT_EQ(timer->getLastTime(), 0.0);
    EXPECT_EQ(timer->getTime(0), 0.0);
    EXPECT_EQ(timer->getTotalTime(), 0.0);
    EXPECT_EQ(timer->getMinTime(), 0.0);
    EXPECT_EQ(timer->getMaxTime(), 0.0);
    EXPECT_TRUE(std::isnan(timer->getAvgTime()));
    mox::test::CaptureStdout capture;
    timer->printInfo();
    // glibc prints the NaN of 0.0 / 0.0 as "-nan" on x86 (sign bit set).
    EXPECT_TRUE(std::regex_match(capture.text(), std::regex(" total 0\\.000000\\(ms\\) ave -?nan\\(ms\\) min "
                                                            "0\\.000000\\(ms\\) max 0\\.000000\\(ms\\) count 0 \n")));
  }
  cleared.start();  // a cleared timer measures again
  cleared.end();
  EXPECT_EQ(cleared.getCount(), 1u);
}

TEST(HiResTimerTest, StatisticsOverKnownMeasurements) {
  HiResTimer timer;
  HiResTimerTestPeer::setTimes(timer, {2.0, 5.0, 5.0, 1.0});
  EXPECT_EQ(timer.getTotalTime(), 13.0);
  EXPECT_EQ(timer.getAvgTime(), 3.25);
  EXPECT_EQ(timer.getMinTime(), 1.0);
  EXPECT_EQ(timer.getMaxTime(), 5.0);
  EXPECT_EQ(timer.getLastTime(), 1.0);
  EXPECT_EQ(timer.getTime(0), 2.0);
  EXPECT_EQ(timer.getTime(4), 0.0);
  EXPECT_EQ(timer.getTime(0xFFFFFFFFu), 0.0);

  mox::test::CaptureStdout capture;
  timer.printInfo();
  EXPECT_EQ(capture.text(), " total 13.000000(ms) ave 3.250000(ms) min 1.000000(ms) max 5.000000(ms) count 4 \n");
}

TEST(HiResTimerTest, PrintInfoPrintsLongNumbersWhole) {
  HiResTimer timer;
  HiResTimerTestPeer::setTimes(timer, {1e300});
  mox::test::CaptureStdout capture;
  timer.printInfo();
  const std::string text = capture.text();
  // 1e300 has 301 integer digits; nothing may be cut.
  EXPECT_GT(text.size(), 4 * 301u);
  EXPECT_EQ(text.substr(0, 8), " total 1");
  EXPECT_EQ(text.substr(text.size() - 10), " count 1 \n");
}

// Extremes are the first measurement on ties: visible for +0.0 and -0.0,
// which compare equal.
TEST(HiResTimerTest, ExtremesKeepTheFirstOfEqualValues) {
  HiResTimer timer;
  HiResTimerTestPeer::setTimes(timer, {0.0, -0.0});
  EXPECT_FALSE(std::signbit(timer.getMinTime()));
  EXPECT_FALSE(std::signbit(timer.getMaxTime()));
}

TEST(HiResTimerTest, EndMeasuresFromTheLatestStartInMilliseconds) {
  HiResTimer timer;
  // A start placed 3 s in the past (the counter runs in nanoseconds).
  HiResTimerTestPeer::setStart(timer, mox::platform::performanceCounter() - 3'000'000'000LL);
  const double first = timer.end();
  EXPECT_GE(first, 3000.0);
  const double second = timer.end();  // same origin: not shorter
  EXPECT_GE(second, first);
  EXPECT_EQ(timer.getCount(), 2u);
  EXPECT_EQ(timer.getTime(0), first);
  EXPECT_EQ(timer.getLastTime(), second);

  timer.start();
  const double fresh = timer.end();
  EXPECT_GE(fresh, 0.0);
  EXPECT_LT(fresh, first);  // measured from the new start, not the old one
}

}  // namespace
