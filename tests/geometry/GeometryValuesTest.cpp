// What the geometric values compute: rectangle extents, packed colours and
// curve heights. Their text forms are in GeometryTextTest.cpp.
#include <climits>

#include <gtest/gtest.h>

#include "mox_utils/geometry/UColor.h"
#include "mox_utils/geometry/UCurve.h"
#include "mox_utils/geometry/URect.h"

namespace {

TEST(URectTest, InvertedRectangleAndNormalize) {
  URect r(5, 9, 1, 2);
  EXPECT_EQ(r.Width(false), -4);
  EXPECT_EQ(r.Width(true), -3);
  EXPECT_EQ(r.Height(), -7);
  r.NormalizeRect();
  EXPECT_EQ(r, URect(1, 2, 5, 9));
  EXPECT_EQ(r.Width(true), 5);
  // Each axis is swapped on its own.
  for (URect one : {URect(3, 2, 1, 4), URect(1, 4, 3, 2)}) {
    one.NormalizeRect();
    EXPECT_EQ(one, URect(1, 2, 3, 4));
  }
}

TEST(URectTest, UnionTakesExtremesWithoutNormalising) {
  struct Case {
    URect a, b, expected;
  };
  const Case cases[] = {
      {URect(0, 0, 10, 10), URect(5, -5, 20, 8), URect(0, -5, 20, 10)},
      // An inverted rectangle is compared field by field as it stands.
      {URect(10, 10, 0, 0), URect(5, 5, 6, 6), URect(5, 5, 6, 6)},
      {URect(-3, 4, -1, 9), URect(INT_MIN, INT_MAX, INT_MAX, INT_MIN), URect(INT_MIN, 4, INT_MAX, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.ToString());
    URect r = c.a;
    URect& result = r.UnionRect(c.b);
    EXPECT_EQ(&result, &r);
    EXPECT_EQ(r, c.expected);
  }
}

// The packed form is a Windows colour reference, 0x00BBGGRR; its top byte is
// ignored on the way in and zero on the way out.
TEST(UColorTest, PackedColourIsBlueGreenRed) {
  const UColor color(0xFF123456ul);
  EXPECT_EQ(color, UColor(0x56, 0x34, 0x12));
  EXPECT_EQ(color.ToColorRef(), 0x00123456ul);
}

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
  // Below a width of 32 the step is 0, so all eleven samples are taken at x:
  // here the knee (x = 12, height 800), where any spread would pull it down.
  EXPECT_EQ(UCurve(10, 80, 30, 40).GetHeightAtX(31, 1000, 12), 800);
}

}  // namespace
