#include "mox_utils/metadata/StringEnumHelper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> names(const StringEnumHelper& helper) {
  std::vector<const wchar_t*> raw;
  helper.FillStringArray(raw);
  return std::vector<std::wstring>(raw.begin(), raw.end());
}

TEST(StringEnumHelperTest, EmptyHelperKnowsNothing) {
  const StringEnumHelper helper;
  EXPECT_EQ(helper.MapName(L""), -1);
  EXPECT_STREQ(helper.MapValue(0), L"");
  EXPECT_STREQ(helper.MapValue(-1), L"");

  std::vector<const wchar_t*> out = {L"stale", L"entries"};
  helper.FillStringArray(out);
  EXPECT_TRUE(out.empty());
}

TEST(StringEnumHelperTest, NamesMatchByTextNotByAddress) {
  static const wchar_t kName[] = L"Gain";
  StringEnumHelper helper;
  helper.AddEnumValue(kName, 4);
  EXPECT_EQ(helper.MapValue(4), kName) << "the registered pointer is returned";
  const wchar_t copy[] = {L'G', L'a', L'i', L'n', L'\0'};
  EXPECT_EQ(helper.MapName(copy), 4);
  EXPECT_EQ(helper.MapName(L"gain"), -1);  // case-sensitive
  EXPECT_EQ(helper.MapName(L"Gai"), -1);   // no prefix match
}

// The two maps are updated independently, so a re-registration only replaces
// the entry whose key it shares.
TEST(StringEnumHelperTest, ReRegistrationOverwritesOnlyTheSharedKey) {
  StringEnumHelper helper;
  helper.AddEnumValue(L"A", 1);
  helper.AddEnumValue(L"A", 2);  // same name, new value
  helper.AddEnumValue(L"B", 2);  // same value, new name
  EXPECT_EQ(helper.MapName(L"A"), 2);
  EXPECT_EQ(helper.MapName(L"B"), 2);
  EXPECT_STREQ(helper.MapValue(1), L"A");
  EXPECT_STREQ(helper.MapValue(2), L"B");
  EXPECT_EQ(names(helper), (std::vector<std::wstring>{L"A", L"B"}));
}

// Names are ordered by their 16-bit code units. On Linux wchar_t holds whole
// code points, so the order of a character beyond the BMP (UTF-16 lead unit
// 0xD800..0xDBFF) against one in 0xE000..0xFFFF differs from a plain
// comparison of wchar_t values.
TEST(StringEnumHelperTest, FillStringArrayListsNamesInCodeUnitOrder) {
  struct Row {
    const wchar_t* name;
    int value;
  } rows[] = {
      {L"b", 1},      {L"B", 2},          {L"", 3},       {L"ab", 4},         {L"a", 5},
      {L"\uE000", 6}, {L"\U00010000", 7}, {L"\uD7FF", 8}, {L"\U0010FFFF", 9}, {L"\uFFFF", 10},
  };
  StringEnumHelper helper;
  for (const Row& r : rows) helper.AddEnumValue(r.name, r.value);

  const std::vector<std::wstring> expected = {
      L"", L"B", L"a", L"ab", L"b", L"\uD7FF", L"\U00010000", L"\U0010FFFF", L"\uE000", L"\uFFFF",
  };
  EXPECT_EQ(names(helper), expected);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    EXPECT_EQ(helper.MapName(r.name), r.value);
    EXPECT_STREQ(helper.MapValue(r.value), r.name);
  }
}

enum Colour { kRed, kGreen, kBlue, kColourCount };

TEST(StringEnumHelperTest, AddTableStopsAtTheTerminatorRow) {
  static const EnumInfo<Colour> kTable[] = {{kRed, L"Red"}, {kGreen, L"Green"}, {kBlue, L"Blue"}, {kColourCount, L""}};
  StringEnumHelper helper;
  helper.AddTable(kTable);
  EXPECT_EQ(names(helper), (std::vector<std::wstring>{L"Blue", L"Green", L"Red"}));
  EXPECT_STREQ(helper.MapValue(kColourCount), L"");
  EXPECT_EQ(helper.MapName(L""), -1);
}

}  // namespace
