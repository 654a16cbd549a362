#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mox_utils/settings/mox_utils.h"

namespace {

// A stream holding `bytes`, positioned at its start.
std::FILE* streamOf(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

struct LineResult {
  bool ok;
  std::string line;
};

// Reads lines until the first failure; a failed call must leave the buffer
// untouched (checked through a fill pattern).
std::vector<LineResult> readAll(const std::string& bytes, int maxLength) {
  std::vector<LineResult> results;
  std::FILE* f = streamOf(bytes);
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return results;
  for (int guard = 0; guard < 100; ++guard) {
    std::vector<char> buffer(static_cast<std::size_t>(maxLength < 0 ? 0 : maxLength) + 8, '#');
    const bool ok = mox_utils::readLineOfTextFromFile(f, buffer.data(), maxLength);
    if (!ok) {
      EXPECT_EQ(buffer, std::vector<char>(buffer.size(), '#')) << "buffer written by a failed read";
      results.push_back({false, ""});
      if (std::feof(f)) break;
      continue;
    }
    const char* end = static_cast<const char*>(std::memchr(buffer.data(), '\0', buffer.size()));
    EXPECT_NE(end, nullptr);
    if (end == nullptr) break;
    EXPECT_LE(end - buffer.data(), maxLength);
    results.push_back({true, std::string(buffer.data(), static_cast<std::size_t>(end - buffer.data()))});
  }
  std::fclose(f);
  return results;
}

TEST(mox_utilsTextTest, ReadLineReturnsCompleteLinesOnly) {
  struct Case {
    const char* name;
    std::string bytes;
    int maxLength;
    std::vector<LineResult> expected;
  } cases[] = {
      {"empty file", "", 10, {{false, ""}}},
      {"last line without line feed", "one\ntwo", 10, {{true, "one"}, {false, ""}}},
      {"carriage return kept", "abc\r\n", 10, {{true, "abc\r"}, {false, ""}}},
      {"empty lines", "\n\nx\n", 10, {{true, ""}, {true, ""}, {true, "x"}, {false, ""}}},
      {"exactly the maximum", "12345\n", 5, {{true, "12345"}, {false, ""}}},
      {"one over the maximum is consumed", "123456\nab\n", 5, {{false, ""}, {true, "ab"}, {false, ""}}},
      {"zero maximum", "\nx\n\n", 0, {{true, ""}, {false, ""}, {true, ""}, {false, ""}}},
      {"negative maximum refuses all", "\nx\n", -1, {{false, ""}, {false, ""}, {false, ""}}},
      {"bytes kept as they are", std::string("\xC3\xA9\x00z\n", 5), 10, {{true, std::string("\xC3\xA9")}, {false, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = readAll(c.bytes, c.maxLength);
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(got[i].ok, c.expected[i].ok);
      EXPECT_EQ(got[i].line, c.expected[i].line);
    }
  }
  char buffer[4] = "xy";
  EXPECT_FALSE(mox_utils::readLineOfTextFromFile(nullptr, buffer, 3));
  EXPECT_STREQ(buffer, "xy");
}

// A very long line without a line feed is consumed without keeping more than
// the maximum in memory, and refused.
TEST(mox_utilsTextTest, ReadLineRefusesAVeryLongLine) {
  std::FILE* f = streamOf(std::string(1 << 20, 'z') + "\nshort\n");
  ASSERT_NE(f, nullptr);
  char buffer[17];
  EXPECT_FALSE(mox_utils::readLineOfTextFromFile(f, buffer, 16));
  EXPECT_TRUE(mox_utils::readLineOfTextFromFile(f, buffer, 16));
  EXPECT_STREQ(buffer, "short");
  std::fclose(f);
}

TEST(mox_utilsTextTest, RemoveCharsDropsEveryOccurrence) {
  struct Case {
    const char* text;
    char c;
    const char* expected;
  } cases[] = {
      {"", 'a', ""},
      {"aaaa", 'a', ""},
      {"a,b,,c,", ',', "abc"},
      {"no match", 'z', "no match"},
      {"C:\\a\\b", '\\', "C:ab"},
      {"keep", '\0', "keep"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    std::strcpy(buffer, c.text);
    const std::size_t length = std::strlen(c.text);
    EXPECT_TRUE(mox_utils::removeChars(buffer, c.c));
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(buffer[length + 1], '#');  // nothing written past the original text
  }
}

// Independent oracles: the repeated search from the start of the text, and
// the single forward scan for replacements that contain the search text.
std::wstring repeatedFromStart(std::wstring text, const std::wstring& search, const std::wstring& replacement,
                               bool* ended) {
  for (int round = 0; round < 10000; ++round) {
    const auto pos = text.find(search);
    if (pos == std::wstring::npos) {
      *ended = true;
      return text;
    }
    text.replace(pos, search.size(), replacement);
  }
  *ended = false;
  return text;
}

std::wstring forwardScan(std::wstring text, const std::wstring& search, const std::wstring& replacement) {
  for (auto pos = text.find(search); pos != std::wstring::npos; pos = text.find(search, pos + replacement.size()))
    text.replace(pos, search.size(), replacement);
  return text;
}

// Cases outside the alphabet of the exhaustive check below.
TEST(mox_utilsTextTest, FindAndReplaceExamples) {
  struct Case {
    const wchar_t* text;
    const wchar_t* search;
    const wchar_t* replacement;
    const wchar_t* expected;
  } cases[] = {
      {L"ababcc", L"abc", L"c", L"cc"},     // text made by a replacement matches again
      {L"abc", L"", L"x", L"abc"},          // empty search text: nothing to do
      {L"a\\b\\c", L"\\", L"/", L"a/b/c"},  //
      {L"xax", L"a", L"[a]", L"x[a]x"},     // replacement contains the search text: once each
      {L"C:\\dir\\\\file", L"\\\\", L"\\", L"C:\\dir\\file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " / " << c.search << " -> " << c.replacement);
    std::wstring text = c.text;
    mox_utils::findandreplace(text, c.search, c.replacement);
    EXPECT_EQ(text, c.expected);
  }
}

// Every text of up to 7 letters over {a, b}, against every search text of 1
// to 3 letters and every replacement of up to 3 letters.
TEST(mox_utilsTextTest, FindAndReplaceMatchesTheOraclesExhaustively) {
  std::vector<std::wstring> words = {L""};
  for (std::size_t i = 0; i < words.size() && words[i].size() < 7; ++i) {
    words.push_back(words[i] + L'a');
    words.push_back(words[i] + L'b');
  }
  int compared = 0;
  for (const auto& search : words) {
    if (search.empty() || search.size() > 3) continue;
    for (const auto& replacement : words) {
      if (replacement.size() > 3) continue;
      const bool contains = replacement.find(search) != std::wstring::npos;
      for (const auto& text : words) {
        bool ended = true;
        const std::wstring expected =
            contains ? forwardScan(text, search, replacement) : repeatedFromStart(text, search, replacement, &ended);
        ASSERT_TRUE(ended) << "the oracle did not end";
        std::wstring got = text;
        mox_utils::findandreplace(got, search, replacement);
        ASSERT_EQ(got, expected) << "text " << text << ", " << search << " -> " << replacement;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

// "ab" -> "bba" doubles the b's for every a in front of them: 30 a's would
// make a billion characters. The edit must end with bounded growth.
TEST(mox_utilsTextTest, FindAndReplaceEndsOnRunawayGrowth) {
  std::wstring text = std::wstring(30, L'a') + L'b';
  mox_utils::findandreplace(text, L"ab", L"bba");
  EXPECT_GT(text.size(), 31u);
  EXPECT_LE(text.size(), 31u + (1u << 20));
}

TEST(mox_utilsTextTest, RoundsHalfAwayFromZero) {
  const struct {
    double x;
    double expected;
  } cases[] = {{0.5, 1.0}, {-0.5, -1.0},           {1.49, 1.0}, {-1.49, -1.0}, {2.5, 3.0}, {-2.5, -3.0},
               {0.0, 0.0}, {1e15 + 0.5, 1e15 + 1}, {-7.0, -7.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(mox_utils::round(c.x), c.expected);
  }
  EXPECT_TRUE(std::isnan(mox_utils::round(NAN)));
}

TEST(mox_utilsTextTest, TnTeeConversionsAtKnownPoints) {
  // Worked by hand: 1000 x 0.0686 - 29.23 = 39.37;
  // 0.0029365 x 10^6 - 13113 + 14665.2 = 4488.7.
  EXPECT_EQ(mox_utils::RawTnTeeToPhase(0), -29.23);
  EXPECT_EQ(mox_utils::RawTnTeeToTemperature(0), 14665.2);
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(1000), 39.37, 1e-12);
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(1000), 4488.7, 1e-9);
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(-100), -36.09, 1e-12);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(14665.2), 0);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(4488.7), 1000);
  // Large raw readings: no overflow of int arithmetic.
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(100000), 0.0029365 * 1e10 - 13.113e5 + 14665.2, 1e-3);
}

// On the lower branch of the polynomial (raw readings below its vertex at
// about 2232.8) the conversion back gives the reading again.
TEST(mox_utilsTextTest, TemperatureToRawInvertsTheLowerBranch) {
  for (int raw = -2000; raw <= 2100; ++raw) {
    ASSERT_EQ(mox_utils::TemperatureToRawTnTee(mox_utils::RawTnTeeToTemperature(raw)), raw) << raw;
  }
  // Below the polynomial's minimum (about 26.15) there is no real root.
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(0.0), INT_MIN);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(-1e300), INT_MIN);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(1e300), INT_MIN);  // far out of int range
}

}  // namespace
