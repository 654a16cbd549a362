#include <climits>

#include <gtest/gtest.h>

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
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    URect r = c.a;
    URect& result = r.UnionRect(c.b);
    EXPECT_EQ(&result, &r);
    EXPECT_EQ(r, c.expected);
  }
}

}  // namespace
