// The texts of the metadata enumerations and the process-wide tables.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mox_utils/metadata.h"

namespace {

// Each enumeration's texts, the values they read back as, and texts that
// resemble them but are not theirs.
TEST(MetadataEnumsTest, TextsReadBackAsTheirValues) {
  struct Table {
    const char* name;
    std::function<const wchar_t*(int)> toText;
    std::function<int(const wchar_t*)> fromText;
    std::vector<const wchar_t*> texts;  // indexed by value
    std::vector<const wchar_t*> others;
  };
  const Table tables[] = {
      {"type",
       [](int v) { return VarInfo::TypeToString(static_cast<EVariableType>(v)); },
       [](const wchar_t* t) { return static_cast<int>(VarInfo::StringToType(t)); },
       {L"integer", L"float", L"string", L"gaincurve", L"rectangle", L"curve", L"color", L"boolean", L"array", L"point",
        L"scanconvert"},
       {L"Integer", L"integer ", L"", nullptr}},
      {"permission",
       [](int v) { return VarInfo::TypeToString(static_cast<EPermissions>(v)); },
       [](const wchar_t* t) { return static_cast<int>(VarInfo::StringToTypeP(t)); },
       {L"", L"never", L"not on user", L"only on user"},
       {L"Never", L"not on  user", L" "}},
      {"source",
       [](int v) { return VariableUtility::SourceToString(static_cast<ESource>(v)); },
       [](const wchar_t* t) { return static_cast<int>(VariableUtility::StringToSource(t)); },
       {L"system", L"imaging", L"patient", L"gui", L"map"},
       {L"GUI", L""}},
      {"access",
       [](int v) { return VariableUtility::AccessToString(static_cast<EVarAccess>(v)); },
       [](const wchar_t* t) { return static_cast<int>(VariableUtility::StringToAccess(t)); },
       {L"read", L"write"},
       {L"readwrite", nullptr}},
  };
  for (const Table& table : tables) {
    SCOPED_TRACE(table.name);
    const int count = static_cast<int>(table.texts.size());
    for (int value = 0; value < count; ++value) {
      SCOPED_TRACE(value);
      EXPECT_STREQ(table.toText(value), table.texts[value]);
      EXPECT_EQ(table.fromText(table.texts[value]), value);
    }
    EXPECT_STREQ(table.toText(count), L"") << "the count has no text";
    for (const wchar_t* other : table.others) EXPECT_EQ(table.fromText(other), -1);
  }
  EXPECT_STREQ(VarInfo::TypeToString(VARTYPE_INVALID), L"");
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
