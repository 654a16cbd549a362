// The tagged text forms shared by the geometric types: reading rules, written
// forms and round trips.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "mox_utils/geometry.h"
#include "mox_utils/geometry/GeometryText.h"

namespace {

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(GeometryTextTest, WtoiReadsLikeTheRuntime) {
  struct Case {
    const wchar_t* text;
    int expected;
  };
  const Case cases[] = {
      {L"42", 42},
      {L"  \t\n\v\f\r-17xyz", -17},
      {L"- 5", 0},  // a sign must be followed by digits
      {L"", 0},
      {L"2147483648", INT_MAX},
      {L"-2147483649", INT_MIN},
      {L"99999999999999999999999999999", INT_MAX},
      {L"\u00A0"
       L"5",
       0},  // only the C locale's white space is skipped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    EXPECT_EQ(mox::detail::wtoiAt(c.text, 0), c.expected);
  }
  EXPECT_EQ(mox::detail::wtoiAt(L"12", 2), 0);
  EXPECT_EQ(mox::detail::wtoiAt(L"12", 100), 0);
}

TEST(GeometryTextTest, PointReading) {
  struct Case {
    const wchar_t* text;
    int x, y;
  };
  const Case cases[] = {
      {L"[P] 7, -3", 7, -3},
      {L"abc [P] 7, -3", 7, -3},
      {L"[P] +5 ,\t-6 trailing", 5, -6},
      {L"[P] 7", 7, 0},      // missing comma: y from the start, which is the tag
      {L"12 [P] 7", 7, 12},  // ... or the number in front of it
      {L"5, 6", 0, 0},       // no tag
      {L"[p] 5, 6", 0, 0},   // the tag is case-sensitive
      {L"[ P] 5, 6", 0, 0},  // spaces inside the tag break it
      {L"[P] 1, 2 [P] 3, 4", 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    const UPoint p{std::wstring(c.text)};
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

TEST(GeometryTextTest, RectangleReadsInTextOrder) {
  struct Case {
    const wchar_t* text;
    URect expected;  // constructed as (left, top, right, bottom)
  };
  const Case cases[] = {
      {L"[R] 2, 4, 1, 3", URect(1, 2, 3, 4)},
      {L"[R]1,2,3,4", URect(3, 1, 4, 2)},
      {L"[R] 1 ,2 ,3 ,4", URect(3, 1, 4, 2)},
      {L"[r] 1, 2, 3, 4", URect()},
      // Two values: the third is read from the start ("[" gives 0) and the
      // search for the fourth restarts at the beginning, finding the first
      // comma again.
      {L"[R] 1, 2", URect(0, 1, 2, 2)},
      // One value: every later value comes from the start of the text.
      {L"9 [R] 1", URect(9, 1, 9, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    EXPECT_EQ(URect(std::wstring(c.text)), c.expected);
  }
}

TEST(GeometryTextTest, GainCurveWithMissingCommasRestartsTheSearch) {
  // Commas of "[GC] 1, 2, 3" sit at 6 and 9. Gains 0-2 read normally; gain 3
  // finds no comma and reads the start (0); the search restarts at 0 and
  // finds the comma at 6 again (2), then 9 (3), then none (0), then 6 (2).
  UGainCurve expected;
  const int gains[] = {1, 2, 3, 0, 2, 3, 0, 2};
  std::copy(std::begin(gains), std::end(gains), expected.gains);
  EXPECT_EQ(UGainCurve(std::wstring(L"[GC] 1, 2, 3")), expected);
}

TEST(GeometryTextTest, WrittenForms) {
  UGainCurve gains;
  for (int i = 0; i < 8; ++i) gains.gains[i] = i * 10 - 35;
  UGainCurve widest;
  for (int& g : widest.gains) g = INT_MIN;

  struct Case {
    std::wstring actual;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {UPoint().ToString(), L"[P] 0, 0"},
      {UPoint(3, -4).ToString(), L"[P] 3, -4"},
      {URect(1, 2, 3, 4).ToString(), L"[R] 2, 4, 1, 3"},
      {URect(INT_MIN, 0, INT_MAX, -1).ToString(), L"[R] 0, -1, -2147483648, 2147483647"},
      {UColor(255, 0, 128).ToString(), L"[RGB] 255, 0, 128"},
      {UCurve(0, 100, 100, 50).ToString(), L"[C] 0, 100, 100, 50"},
      {gains.ToString(), L"[GC] -35, -25, -15, -5, 5, 15, 25, 35"},
      // 107 characters written into room for 99: the last value is cut.
      {widest.ToString(),
       L"[GC] -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.expected));
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(GeometryTextTest, EveryWrittenFormReadsBack) {
  std::mt19937 rng(20261206);
  const int extremes[] = {0, 1, -1, INT_MAX, INT_MIN, 255, 256, 100};
  auto next = [&]() -> int {
    if (rng() % 4 == 0) return extremes[rng() % 8];
    return static_cast<int>(rng());
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    const UPoint p(next(), next());
    EXPECT_EQ(UPoint(p.ToString()), p);
    const URect r(next(), next(), next(), next());
    EXPECT_EQ(URect(r.ToString()), r);
    const UColor c(next(), next(), next());
    EXPECT_EQ(UColor(c.ToString()), c);
    const UCurve curve(next(), next(), next(), next());
    EXPECT_EQ(UCurve(curve.ToString()), curve);
    // Gains of up to seven digits fit in 99 characters.
    UGainCurve g;
    for (int& v : g.gains) v = next() % 10000000;
    EXPECT_EQ(UGainCurve(g.ToString()), g);
  }
}

TEST(GeometryTextTest, EqualityCoversEveryField) {
  // Each variant differs from the base in exactly one field.
  for (const UPoint& other : {UPoint(9, 2), UPoint(1, 9)}) EXPECT_NE(UPoint(1, 2), other);
  for (const URect& other : {URect(9, 2, 3, 4), URect(1, 9, 3, 4), URect(1, 2, 9, 4), URect(1, 2, 3, 9)})
    EXPECT_NE(URect(1, 2, 3, 4), other);
  for (const UColor& other : {UColor(9, 2, 3), UColor(1, 9, 3), UColor(1, 2, 9)}) EXPECT_NE(UColor(1, 2, 3), other);
  for (const UCurve& other : {UCurve(9, 2, 3, 4), UCurve(1, 9, 3, 4), UCurve(1, 2, 9, 4), UCurve(1, 2, 3, 9)})
    EXPECT_NE(UCurve(1, 2, 3, 4), other);
  for (int i = 0; i < 8; ++i) {
    UGainCurve other;
    other.gains[i] = 1;
    EXPECT_NE(UGainCurve(), other) << i;
  }
}

}  // namespace
