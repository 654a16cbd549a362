// The two-way name tables, and the process-wide tables of the metadata
// enumerations built on them.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mox_utils/metadata.h"

namespace {

using Names = std::vector<std::wstring>;

// FillStringArray's result, from a vector that held a stale entry before.
Names names(const StringEnumHelper& helper) {
  std::vector<const wchar_t*> raw = {L"stale"};
  helper.FillStringArray(raw);
  return Names(raw.begin(), raw.end());
}

// Lookups go by text, not by address; each map is updated on its own, so a
// re-registration replaces only the entry whose key it shares.
TEST(StringEnumHelperTest, LookupsAndReRegistration) {
  StringEnumHelper helper;
  EXPECT_EQ(names(helper), Names());
  EXPECT_EQ(helper.MapName(L""), -1);
  EXPECT_STREQ(helper.MapValue(0), L"");

  static const wchar_t kGain[] = L"Gain";
  const wchar_t copy[] = L"Gain";
  helper.AddEnumValue(kGain, 4);
  EXPECT_EQ(helper.MapValue(4), kGain) << "the registered pointer is returned";
  EXPECT_EQ(helper.MapName(copy), 4);
  EXPECT_EQ(helper.MapName(L"gain"), -1);
  EXPECT_EQ(helper.MapName(L"Gai"), -1);

  helper.AddEnumValue(L"A", 1);
  helper.AddEnumValue(L"A", 2);  // same name, new value
  helper.AddEnumValue(L"B", 2);  // same value, new name
  EXPECT_EQ(helper.MapName(L"A"), 2);
  EXPECT_EQ(helper.MapName(L"B"), 2);
  EXPECT_STREQ(helper.MapValue(1), L"A");
  EXPECT_STREQ(helper.MapValue(2), L"B");
  EXPECT_EQ(names(helper), (Names{L"A", L"B", L"Gain"}));
}

// Names are ordered by their 16-bit code units. On Linux wchar_t holds whole
// code points, so the order of a character beyond the BMP (UTF-16 lead unit
// 0xD800..0xDBFF) against one in 0xE000..0xFFFF differs from a plain
// comparison of wchar_t values. AddTable stops at the first empty name.
TEST(StringEnumHelperTest, NamesInCodeUnitOrder) {
  static const EnumInfo<int> kTable[] = {
      {1, L"b"},      {2, L"B"},          {4, L"ab"},      {5, L"a"}, {6, L"\uE000"}, {7, L"\U00010000"},
      {8, L"\uD7FF"}, {9, L"\U0010FFFF"}, {10, L"\uFFFF"}, {11, L""}, {12, L"after"},
  };
  StringEnumHelper helper;
  helper.AddTable(kTable);
  helper.AddEnumValue(L"", 3);
  EXPECT_EQ(names(helper),
            (Names{L"", L"B", L"a", L"ab", L"b", L"\uD7FF", L"\U00010000", L"\U0010FFFF", L"\uE000", L"\uFFFF"}));
  for (const EnumInfo<int>& row : kTable) {
    if (row.value > 10) continue;
    EXPECT_EQ(helper.MapName(row.name), row.value);
    EXPECT_STREQ(helper.MapValue(row.value), row.name);
  }
  EXPECT_EQ(helper.MapName(L"after"), -1);
  EXPECT_STREQ(helper.MapValue(11), L"");
}

// Each enumeration's texts, indexed by value, read back as their values; the
// count has no text, and texts that only resemble them read as -1.
template <typename E>
void expectTexts(const wchar_t* (*toText)(E), E (*fromText)(const wchar_t*), const Names& texts,
                 const std::vector<const wchar_t*>& others) {
  SCOPED_TRACE(testing::Message() << "the table of " << texts.size());
  for (std::size_t value = 0; value <= texts.size(); ++value) {
    const std::wstring text = value < texts.size() ? texts[value] : L"";
    EXPECT_EQ(toText(static_cast<E>(value)), text) << value;
    if (value < texts.size()) {
      EXPECT_EQ(fromText(text.c_str()), static_cast<E>(value)) << value;
    }
  }
  for (const wchar_t* other : others) EXPECT_EQ(fromText(other), static_cast<E>(-1));
}

// Four threads at once: the tables are only read once built.
TEST(MetadataEnumsTest, TextsReadBackAsTheirValuesInEveryThread) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int round = 0; round < 50; ++round) {
        expectTexts<EVariableType>(VarInfo::TypeToString, VarInfo::StringToType,
                                   {L"integer", L"float", L"string", L"gaincurve", L"rectangle", L"curve", L"color",
                                    L"boolean", L"array", L"point", L"scanconvert"},
                                   {L"Integer", L"integer ", L"", nullptr});
        expectTexts<EPermissions>(VarInfo::TypeToString, VarInfo::StringToTypeP,
                                  {L"", L"never", L"not on user", L"only on user"}, {L"Never", L"not on  user", L" "});
        expectTexts(VariableUtility::SourceToString, VariableUtility::StringToSource,
                    {L"system", L"imaging", L"patient", L"gui", L"map"}, {L"GUI", L""});
        expectTexts(VariableUtility::AccessToString, VariableUtility::StringToAccess, {L"read", L"write"},
                    {L"readwrite", nullptr});
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_STREQ(VarInfo::TypeToString(VARTYPE_INVALID), L"");
}

}  // namespace
