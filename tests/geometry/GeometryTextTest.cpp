// The tagged text forms shared by the geometric types: reading rules, written
// forms and round trips.
#include <array>
#include <climits>
#include <cstddef>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "mox_utils/geometry.h"

namespace {

// A value read from text, shown in its written form so that one table can
// hold readings of every type. The written forms are pinned down on their own
// below.
template <class T>
std::wstring reread(const wchar_t* text) {
  return T(std::wstring(text)).ToString();
}

// A scan-conversion value from its thirteen integers in field order.
UScanConvert scanConvert(const std::array<int, 13>& v) {
  UScanConvert s;
  s.point1 = UPoint(v[0], v[1]);
  s.point2 = UPoint(v[2], v[3]);
  s.value1 = v[4];
  s.value2 = v[5];
  s.value3 = v[6];
  s.value4 = v[7];
  s.value5 = v[8];
  s.rect = URect(v[9], v[10], v[11], v[12]);
  return s;
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
      {UColor(256, -1, 511).ToString(), L"[RGB] 0, 255, 255"},  // the low byte, not clamped
      {UCurve(0, 100, 100, 50).ToString(), L"[C] 0, 100, 100, 50"},
      {gains.ToString(), L"[GC] -35, -25, -15, -5, 5, 15, 25, 35"},
      // 107 characters written into room for 99: the last value is cut.
      {widest.ToString(),
       L"[GC] -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -2147483648, -21"},
      {scanConvert({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}).ToString(),
       L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(GeometryTextTest, Reading) {
  const wchar_t* const kEmptyScan = L"[P] 0, 0; [P] 0, 0; 0; 0; 0; 0; 0; [R] 0, 0, 0, 0";
  struct Case {
    const wchar_t* text;
    std::wstring (*read)(const wchar_t*);
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"abc [P] 7, -3", reread<UPoint>, L"[P] 7, -3"},
      {L"[P] +5 ,\t-6 trailing", reread<UPoint>, L"[P] 5, -6"},
      {L"[P] 7", reread<UPoint>, L"[P] 7, 0"},      // missing comma: y from the start, which is the tag
      {L"12 [P] 7", reread<UPoint>, L"[P] 7, 12"},  // ... or the number in front of it
      {L"[P]", reread<UPoint>, L"[P] 0, 0"},
      {L"5, 6", reread<UPoint>, L"[P] 0, 0"},       // no tag
      {L"[p] 5, 6", reread<UPoint>, L"[P] 0, 0"},   // the tag is case-sensitive
      {L"[ P] 5, 6", reread<UPoint>, L"[P] 0, 0"},  // spaces inside the tag break it
      {L"[P] 1, 2 [P] 3, 4", reread<UPoint>, L"[P] 1, 2"},
      // Integers are read like the runtime's wide atoi: C-locale white space
      // skipped, a sign only directly before digits, saturation on overflow.
      {L"[P] \t\n\v\f\r-17xyz, - 5", reread<UPoint>, L"[P] -17, 0"},
      {L"[P] 2147483648, -2147483649", reread<UPoint>, L"[P] 2147483647, -2147483648"},
      {L"[P] 99999999999999999999999999999, 1", reread<UPoint>, L"[P] 2147483647, 1"},
      {L"[P] \u00A05, 6", reread<UPoint>, L"[P] 0, 6"},
      // Rectangles are read in text order: top, bottom, left, right.
      {L"[R]1,2,3,4", reread<URect>, L"[R] 1, 2, 3, 4"},
      {L"[R] 1 ,2 ,3 ,4", reread<URect>, L"[R] 1, 2, 3, 4"},
      {L"[r] 1, 2, 3, 4", reread<URect>, L"[R] 0, 0, 0, 0"},
      // Two values: the third is read from the start ("[" gives 0) and the
      // search for the fourth restarts at the beginning, finding the first
      // comma again.
      {L"[R] 1, 2", reread<URect>, L"[R] 1, 2, 0, 2"},
      // One value: every later value comes from the start of the text.
      {L"9 [R] 1", reread<URect>, L"[R] 1, 9, 9, 9"},
      // A channel keeps the low byte of what is read.
      {L"[RGB] 300, -1, 128", reread<UColor>, L"[RGB] 44, 255, 128"},
      {L"[RGB] 256, 512, -256", reread<UColor>, L"[RGB] 0, 0, 0"},
      {L"[rgb] 1, 2, 3", reread<UColor>, L"[RGB] 0, 0, 0"},
      // Commas sit at 6 and 9. Gains 0-2 read normally; gain 3 finds no comma
      // and reads the start (0); the search restarts at 0 and finds the comma
      // at 6 again (2), then 9 (3), then none (0), then 6 (2).
      {L"[GC] 1, 2, 3", reread<UGainCurve>, L"[GC] 1, 2, 3, 0, 2, 3, 0, 2"},
      // Scan conversions are read piece by piece between semicolons.
      {L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12; [R] 1, 1, 1, 1", reread<UScanConvert>,
       L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12"},
      {L"", reread<UScanConvert>, kEmptyScan},
      {L";;;;;;;;;;", reread<UScanConvert>, kEmptyScan},
      {L"[P] 1, 2; [P] 3, 4; 5;", reread<UScanConvert>, L"[P] 1, 2; [P] 3, 4; 5; 0; 0; 0; 0; [R] 0, 0, 0, 0"},
      // A missing comma reads from the start of the piece, not of the text.
      {L"[P] 5; 12 [P] 7", reread<UScanConvert>, L"[P] 5, 0; [P] 7, 12; 0; 0; 0; 0; 0; [R] 0, 0, 0, 0"},
      // A tag in the wrong piece is not found.
      {L"[R] 1, 2, 3, 4; [P] 3, 4", reread<UScanConvert>, L"[P] 0, 0; [P] 3, 4; 0; 0; 0; 0; 0; [R] 0, 0, 0, 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.read(c.text), c.expected);
  }
  // The rereading above goes through the written form; this pins the fields.
  EXPECT_EQ(URect(std::wstring(L"[R] 2, 4, 1, 3")), URect(1, 2, 3, 4));
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
    std::array<int, 13> fields;
    for (int& v : fields) v = next();
    EXPECT_EQ(UScanConvert(scanConvert(fields).ToString()), scanConvert(fields));
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
  const std::array<int, 13> base = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  for (std::size_t i = 0; i < base.size(); ++i) {
    std::array<int, 13> other = base;
    other[i] = 0;
    EXPECT_NE(scanConvert(other), scanConvert(base)) << i;
  }
}

}  // namespace
