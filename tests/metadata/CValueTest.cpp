// The unit table of the unit library stand-in.
#include <cmath>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "kel_unit_convert/CValue.h"

namespace {

// Every code's text reads back as that code. Codes 0 and 48 carry no unit
// and have no quantity; only code 0 has the empty text, and codes outside
// the table are written as the unknown unit.
TEST(CValueTest, UnitTextsAndTheTwoCodesWithoutUnit) {
  std::set<std::wstring> texts;
  for (int code = -1; code <= CValue::UNIT_COUNT; ++code) {
    SCOPED_TRACE(code);
    const auto unit = static_cast<CValue::UnitType>(code);
    const bool noUnit = code == 0 || code == 48;
    EXPECT_EQ(CValue::IsNoUnit(unit), noUnit);
    EXPECT_TRUE(!noUnit || CValue::QuantityOf(unit) == CValue::QUANTITY_NONE);
    const std::wstring text = CValue::StringFromUnit(unit);
    if (code < 0 || code == CValue::UNIT_COUNT) {
      EXPECT_EQ(text, L"?");
      continue;
    }
    EXPECT_EQ(CValue::UnitFromString(text.c_str()), unit);
    EXPECT_TRUE(texts.insert(text).second) << "two codes share a text";
    EXPECT_EQ(text.empty(), unit == CValue::UNIT_NONE);
  }
  EXPECT_EQ(CValue::UnitFromString(nullptr), CValue::UNIT_NONE);
}

// Other spellings are read but never written; case and spaces matter.
TEST(CValueTest, OtherSpellings) {
  const std::pair<const wchar_t*, CValue::UnitType> cases[] = {
      {L"um", CValue::UNIT_MICROMETER},         {L"\u03BCm", CValue::UNIT_MICROMETER},
      {L"cm2", CValue::UNIT_SQUARE_CENTIMETER}, {L"BPM", CValue::UNIT_BEATS_PER_MINUTE},
      {L"mhz", CValue::UNIT_UNKNOWN},           {L"DB", CValue::UNIT_UNKNOWN},
      {L" mm", CValue::UNIT_UNKNOWN},
  };
  for (const auto& [text, unit] : cases) EXPECT_EQ(CValue::UnitFromString(text), unit) << unit;
}

// Conversions within one quantity; none between quantities or for the codes
// without unit, and then the output stays untouched.
TEST(CValueTest, ConvertsWithinOneQuantityOnly) {
  const std::tuple<double, CValue::UnitType, CValue::UnitType, double> cases[] = {
      // NaN: refused
      {1.0, CValue::UNIT_CENTIMETER, CValue::UNIT_MILLIMETER, 10.0},
      {250.0, CValue::UNIT_MICROMETER, CValue::UNIT_MILLIMETER, 0.25},
      {180.0, CValue::UNIT_DEGREE, CValue::UNIT_RADIAN, 3.14159265358979323846},
      {72.0, CValue::UNIT_BEATS_PER_MINUTE, CValue::UNIT_HERTZ, 1.2},
      {1.0, CValue::UNIT_LITER_PER_MINUTE, CValue::UNIT_MILLILITER_PER_SECOND, 1000.0 / 60.0},
      {760.0, CValue::UNIT_MILLIMETER_HG, CValue::UNIT_KILOPASCAL, 101.325},
      {5.0, CValue::UNIT_MILLILITER, CValue::UNIT_CUBIC_CENTIMETER, 5.0},
      {1.0, CValue::UNIT_MILLIMETER, CValue::UNIT_MEGAHERTZ, NAN},
      {1.0, CValue::UNIT_NONE, CValue::UNIT_NONE, NAN},
      {1.0, CValue::UNIT_UNKNOWN, CValue::UNIT_UNKNOWN, NAN},
      {1.0, CValue::UNIT_MILLIMETER, static_cast<CValue::UnitType>(999), NAN},
  };
  for (const auto& [value, from, to, expected] : cases) {
    SCOPED_TRACE(testing::Message() << from << " -> " << to);
    double out = -7.0;
    EXPECT_EQ(CValue::Convert(value, from, to, &out), !std::isnan(expected));
    EXPECT_NEAR(out, std::isnan(expected) ? -7.0 : expected, std::fabs(out) * 1e-6);
  }
  CValue converted(3.0, CValue::UNIT_GRAM);
  EXPECT_FALSE(CValue(1.0, CValue::UNIT_MILLIMETER).ConvertTo(CValue::UNIT_SECOND, &converted));
  EXPECT_EQ(converted.GetUnit(), CValue::UNIT_GRAM);
  ASSERT_TRUE(CValue(2.0, CValue::UNIT_CENTIMETER).ConvertTo(CValue::UNIT_MILLIMETER, &converted));
  EXPECT_EQ(std::make_pair(converted.GetValue(), converted.GetUnit()), std::make_pair(20.0, CValue::UNIT_MILLIMETER));
}

TEST(CValueTest, ValueText) {
  EXPECT_EQ(CValue(12.5, CValue::UNIT_MILLIMETER).ToString(), L"12.5 mm");
  EXPECT_EQ(CValue(45.0, CValue::UNIT_DEGREE).ToString(), L"45\u00B0");
  EXPECT_EQ(CValue(60.0, CValue::UNIT_PERCENT).ToString(), L"60%");
  EXPECT_EQ(CValue(3.0, CValue::UNIT_NONE).ToString(), L"3");
}

}  // namespace
