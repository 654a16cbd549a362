// The texts of the metadata enumerations and the process-wide tables.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mox_utils/metadata.h"
#include "mox_utils/metadata/MetadataHelpers.h"

namespace {

std::vector<std::wstring> names(const StringEnumHelper& helper) {
  std::vector<const wchar_t*> pointers{L"stale"};
  helper.FillStringArray(pointers);
  return std::vector<std::wstring>(pointers.begin(), pointers.end());
}

TEST(MetadataEnumsTest, TypeTexts) {
  // The texts written in variable description files.
  const struct {
    int value;
    const wchar_t* text;
  } rows[] = {
      {0, L"integer"}, {1, L"float"},   {2, L"string"}, {3, L"gaincurve"}, {4, L"rectangle"},    {5, L"curve"},
      {6, L"color"},   {7, L"boolean"}, {8, L"array"},  {9, L"point"},     {10, L"scanconvert"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_STREQ(VarInfo::TypeToString(static_cast<EVariableType>(row.value)), row.text);
    EXPECT_EQ(VarInfo::StringToType(row.text), row.value);
  }
  EXPECT_EQ(VarInfo::StringToType(L"Integer"), -1);
  EXPECT_EQ(VarInfo::StringToType(L"integer "), -1);
  EXPECT_EQ(VarInfo::StringToType(L""), -1);
  EXPECT_EQ(VarInfo::StringToType(nullptr), -1);
  EXPECT_STREQ(VarInfo::TypeToString(VARTYPE_COUNT), L"");
  EXPECT_STREQ(VarInfo::TypeToString(VARTYPE_INVALID), L"");
}

TEST(MetadataEnumsTest, PermissionTexts) {
  const struct {
    int value;
    const wchar_t* text;
  } rows[] = {{0, L""}, {1, L"never"}, {2, L"not on user"}, {3, L"only on user"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_STREQ(VarInfo::TypeToString(static_cast<EPermissions>(row.value)), row.text);
    EXPECT_EQ(VarInfo::StringToTypeP(row.text), row.value);
  }
  for (const wchar_t* other : {L"Never", L"not on  user", L"always", L" "}) {
    EXPECT_EQ(VarInfo::StringToTypeP(other), -1);
  }
  EXPECT_STREQ(VarInfo::TypeToString(PERMISSION_COUNT), L"");
}

TEST(MetadataEnumsTest, SourceAndAccessTexts) {
  const struct {
    int value;
    const wchar_t* text;
  } sources[] = {{0, L"system"}, {1, L"imaging"}, {2, L"patient"}, {3, L"gui"}, {4, L"map"}};
  for (const auto& row : sources) {
    SCOPED_TRACE(row.value);
    EXPECT_STREQ(VariableUtility::SourceToString(static_cast<ESource>(row.value)), row.text);
    EXPECT_EQ(VariableUtility::StringToSource(row.text), row.value);
  }
  EXPECT_EQ(VariableUtility::StringToSource(L"GUI"), -1);
  EXPECT_EQ(VariableUtility::StringToSource(L""), -1);
  EXPECT_STREQ(VariableUtility::SourceToString(SOURCE_COUNT), L"");

  EXPECT_STREQ(VariableUtility::AccessToString(ACCESS_READ), L"read");
  EXPECT_STREQ(VariableUtility::AccessToString(ACCESS_WRITE), L"write");
  EXPECT_STREQ(VariableUtility::AccessToString(ACCESS_COUNT), L"");
  EXPECT_EQ(VariableUtility::StringToAccess(L"write"), 1);
  EXPECT_EQ(VariableUtility::StringToAccess(L"read"), 0);
  EXPECT_EQ(VariableUtility::StringToAccess(L"readwrite"), -1);
  EXPECT_EQ(VariableUtility::StringToAccess(nullptr), -1);
}

TEST(MetadataEnumsTest, TablesListNamesInTextOrder) {
  const mox::detail::MetadataHelpers& helpers = mox::detail::metadataHelpers();
  EXPECT_EQ(names(helpers.types),
            (std::vector<std::wstring>{L"array", L"boolean", L"color", L"curve", L"float", L"gaincurve", L"integer",
                                       L"point", L"rectangle", L"scanconvert", L"string"}));
  EXPECT_EQ(names(helpers.permissions), (std::vector<std::wstring>{L"", L"never", L"not on user", L"only on user"}));
  EXPECT_EQ(names(helpers.sources), (std::vector<std::wstring>{L"gui", L"imaging", L"map", L"patient", L"system"}));
  EXPECT_EQ(names(helpers.access), (std::vector<std::wstring>{L"read", L"write"}));
  EXPECT_TRUE(helpers.utilityInitialized);
  EXPECT_TRUE(helpers.varInfoInitialized);
}

TEST(MetadataEnumsTest, ConcurrentConversions) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 2000; ++i) {
        const auto type = static_cast<EVariableType>(i % VARTYPE_COUNT);
        if (VarInfo::StringToType(VarInfo::TypeToString(type)) != type) ++failures[t];
        const auto source = static_cast<ESource>(i % SOURCE_COUNT);
        if (VariableUtility::StringToSource(VariableUtility::SourceToString(source)) != source) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
