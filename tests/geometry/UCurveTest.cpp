#include <gtest/gtest.h>

#include "mox_utils/geometry/UCurve.h"

namespace {

// Reaches the unsmoothed evaluation, which the class keeps protected.
struct CurveUnderTest : UCurve {
  using UCurve::GetHeightNoAvg;
  using UCurve::UCurve;
};

TEST(UCurveTest, UnsmoothedHeights) {
  struct Case {
    CurveUnderTest curve;
    int width, height, x;
    int expected;
    const char* why;
  };
  const Case cases[] = {
      {{0, 100, 100, 50}, 200, 80, 50, 40, "first segment"},
      {{0, 100, 100, 50}, 200, 80, 100, 80, "the knee belongs to the first segment"},
      {{0, 100, 100, 50}, 200, 80, -50, -40, "left of the edge extends the first segment"},
      {{20, 60, 10, 25}, 400, 200, 33, 66, "2640 / 100 + 40 = 66.4"},
      {{20, 60, 10, 25}, 400, 200, 251, 69, "-15100 / 300 + 120 = 69.67"},
      {{20, 60, 10, 25}, 400, 200, 500, -13, "right of the edge extends the second segment"},
      {{-33, 0, 0, 100}, 100, 10, 0, -3, "-330 / 100 truncates toward zero"},
      // In floating point -10 + 10 / 4 is -7.5 and truncates to -7; all-integer
      // arithmetic would give 2 - 10 = -8.
      {{-10, 0, 0, 100}, 4, 100, 1, -7, "division in floating point"},
      // 100 * 30000000 wraps in 32 bits to -1294967296; / 100 gives -12949672.
      {{0, 100, 0, 100}, 100, 30000000, 100, -12949672, "products are 32-bit"},
      {{10, 50, 90, 0}, 100, 100, -20, 50, "knee at 0: ym left of it"},
      {{10, 50, 90, 0}, 100, 100, 50, 70, "knee at 0: second segment"},
      {{10, 50, 90, 100}, 100, 100, 150, 50, "knee at the width: ym right of it"},
      {{0, 0, 0, 0}, 0, 0, 0, 0, "empty curve"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    CurveUnderTest curve = c.curve;
    EXPECT_EQ(curve.GetHeightNoAvg(c.width, c.height, c.x), c.expected);
  }
}

TEST(UCurveTest, SmoothedHeightAveragesElevenSamples) {
  // Width 320 gives a step of 10. At the knee (x = 160) the left samples
  // 150..110 give 93, 87, 81, 75, 68 (100 * x / 160, truncated), the knee
  // 100 and the five right samples 100 each: 1004 / 11 = 91.
  UCurve curve(0, 100, 100, 50);
  EXPECT_EQ(curve.GetHeightAtX(320, 100, 160), 91);
  // On a straight stretch each sample truncates on its own: 30..130 give
  // 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, summing to 546, so 49 rather
  // than the 50 of the line.
  EXPECT_EQ(curve.GetHeightAtX(320, 100, 80), 49);
}

TEST(UCurveTest, NarrowCurveIsNotSmoothed) {
  // Below 32 the step is 0, so all eleven samples are taken at x.
  CurveUnderTest curve(10, 80, 30, 40);
  for (int x = -5; x <= 36; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(curve.GetHeightAtX(31, 1000, x), curve.GetHeightNoAvg(31, 1000, x));
  }
}

}  // namespace
