#include "mox_utils/time/HiResTimer.h"

#include <gtest/gtest.h>

#include <cmath>
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

// What printInfo writes; glibc prints the NaN of 0.0 / 0.0 as "-nan" on x86,
// which is read here as "nan".
std::string printInfoOf(HiResTimer& timer) {
  mox::test::CaptureStdout capture;
  timer.printInfo();
  std::string text = capture.text();
  if (text.find("-nan") != std::string::npos) text.erase(text.find("-nan"), 1);
  return text;
}

// The printed line shows every statistic. The extremes keep the first of
// equal values, which shows for 0.0 and -0.0 ("-0.000000"); the buffer grows
// for the 301 integer digits of 1e300.
TEST(HiResTimerTest, StatisticsOverKnownMeasurements) {
  const std::string huge = std::to_string(1e300) + "(ms)";
  struct Case {
    std::vector<double> times;
    std::string line;
  } cases[] = {
      {{}, " total 0.000000(ms) ave nan(ms) min 0.000000(ms) max 0.000000(ms) count 0 \n"},
      {{3.0, 5.0, 1.0, 4.0}, " total 13.000000(ms) ave 3.250000(ms) min 1.000000(ms) max 5.000000(ms) count 4 \n"},
      {{0.0, -0.0}, " total 0.000000(ms) ave 0.000000(ms) min 0.000000(ms) max 0.000000(ms) count 2 \n"},
      {{1e300}, " total " + huge + " ave " + huge + " min " + huge + " max " + huge + " count 1 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 40));
    HiResTimer timer;
    HiResTimerTestPeer::setTimes(timer, c.times);
    EXPECT_EQ(printInfoOf(timer), c.line);
    EXPECT_EQ(std::isnan(timer.getAvgTime()), c.times.empty());
    EXPECT_EQ(timer.getTime(0), c.times.empty() ? 0.0 : c.times.front());
    EXPECT_EQ(timer.getLastTime(), c.times.empty() ? 0.0 : c.times.back());
    EXPECT_EQ(timer.getTime(timer.getCount()), 0.0);
    EXPECT_EQ(timer.getTime(0xFFFFFFFFu), 0.0);
  }
}

TEST(HiResTimerTest, EndAppendsMillisecondsFromTheLatestStart) {
  HiResTimer timer;
  // A start placed 3 s in the past (the counter runs in nanoseconds).
  HiResTimerTestPeer::setStart(timer, mox::platform::performanceCounter() - 3'000'000'000LL);
  const double first = timer.end();
  EXPECT_GE(first, 3000.0);
  const double second = timer.end();  // same origin: not shorter
  EXPECT_GE(second, first);
  EXPECT_EQ(timer.getCount(), 2u);
  EXPECT_EQ(timer.getLastTime(), second);
  timer.start();
  const double fresh = timer.end();
  EXPECT_GE(fresh, 0.0);
  EXPECT_LT(fresh, first);  // measured from the new start, not the old one

  // A copy keeps its measurements when the original is cleared.
  HiResTimer copy;
  copy = timer;
  timer.clear();
  EXPECT_EQ(timer.getCount(), 0u);
  EXPECT_EQ(timer.getTotalTime(), 0.0);
  EXPECT_EQ(copy.getTotalTime(), first + second + fresh);
}

}  // namespace
