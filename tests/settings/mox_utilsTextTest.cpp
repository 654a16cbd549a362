#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "mox_utils/settings/mox_utils.h"

namespace {

using Lines = std::vector<std::optional<std::string>>;
constexpr std::nullopt_t kFail = std::nullopt;

// Every result of reading `bytes` line by line up to the end: the line, or
// kFail for a failed read, which must leave the buffer untouched (checked
// through a fill pattern).
Lines readAll(const std::string& bytes, int maxLength) {
  Lines results;
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return results;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  for (int guard = 0; guard < 100 && !std::feof(f); ++guard) {
    std::vector<char> buffer(static_cast<std::size_t>(std::max(maxLength, 0)) + 8, '#');
    if (mox_utils::readLineOfTextFromFile(f, buffer.data(), maxLength)) {
      const auto length = std::find(buffer.begin(), buffer.end(), '\0') - buffer.begin();
      EXPECT_LE(length, maxLength);
      results.emplace_back(std::string(buffer.data(), static_cast<std::size_t>(length)));
    } else {
      EXPECT_EQ(buffer, std::vector<char>(buffer.size(), '#')) << "buffer written by a failed read";
      results.emplace_back(kFail);
    }
  }
  std::fclose(f);
  return results;
}

TEST(mox_utilsTextTest, ReadLineReturnsCompleteLinesOnly) {
  struct Case {
    const char* name;
    std::string bytes;
    int maxLength;
    Lines expected;
  } cases[] = {
      {"empty file", "", 10, {kFail}},
      {"last line without line feed", "one\ntwo", 10, {"one", kFail}},
      {"carriage return kept", "abc\r\n", 10, {"abc\r", kFail}},
      {"empty lines", "\n\nx\n", 10, {"", "", "x", kFail}},
      {"exactly the maximum", "12345\n", 5, {"12345", kFail}},
      {"one over the maximum is consumed", "123456\nab\n", 5, {kFail, "ab", kFail}},
      {"zero maximum", "\nx\n\n", 0, {"", kFail, "", kFail}},
      {"negative maximum refuses all", "\nx\n", -1, {kFail, kFail, kFail}},
      {"bytes kept as they are", std::string("\xC3\xA9\x00z\n", 5), 10, {std::string("\xC3\xA9"), kFail}},
      {"a megabyte line", std::string(1 << 20, 'z') + "\nshort\n", 16, {kFail, "short", kFail}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readAll(c.bytes, c.maxLength), c.expected);
  }
  char buffer[4] = "xy";
  EXPECT_FALSE(mox_utils::readLineOfTextFromFile(nullptr, buffer, 3));
  EXPECT_STREQ(buffer, "xy");
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
    std::string buffer = std::string(c.text) + '\0' + "####";
    EXPECT_TRUE(mox_utils::removeChars(&buffer[0], c.c));
    EXPECT_STREQ(buffer.c_str(), c.expected);
    EXPECT_EQ(buffer.substr(std::strlen(c.text) + 1), "####");  // nothing written past the original text
  }
}

// Independent oracles: the repeated search from the start of the text (given
// up after 10000 rounds, leaving a match in place), and the single forward
// scan for replacements that contain the search text.
std::wstring repeatedFromStart(std::wstring text, const std::wstring& search, const std::wstring& replacement) {
  auto pos = text.find(search);
  for (int round = 0; pos != std::wstring::npos && round < 10000; ++round, pos = text.find(search))
    text.replace(pos, search.size(), replacement);
  return text;
}

std::wstring forwardScan(std::wstring text, const std::wstring& search, const std::wstring& replacement) {
  for (auto pos = text.find(search); pos != std::wstring::npos; pos = text.find(search, pos + replacement.size()))
    text.replace(pos, search.size(), replacement);
  return text;
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
        const std::wstring expected =
            contains ? forwardScan(text, search, replacement) : repeatedFromStart(text, search, replacement);
        ASSERT_TRUE(contains || expected.find(search) == std::wstring::npos) << "the oracle did not end";
        std::wstring got = text;
        mox_utils::findandreplace(got, search, replacement);
        ASSERT_EQ(got, expected) << "text " << text << ", " << search << " -> " << replacement;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 10000);
  std::wstring text = L"abc";
  mox_utils::findandreplace(text, L"", L"x");  // an empty search text finds nothing
  EXPECT_EQ(text, L"abc");
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

// Worked by hand: 1000 x 0.0686 - 29.23 = 39.37;
// 0.0029365 x 10^6 - 13113 + 14665.2 = 4488.7.
TEST(mox_utilsTextTest, TnTeeConversionsAndTheirInverse) {
  EXPECT_EQ(mox_utils::RawTnTeeToPhase(0), -29.23);
  EXPECT_EQ(mox_utils::RawTnTeeToTemperature(0), 14665.2);
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(1000), 39.37, 1e-12);
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(1000), 4488.7, 1e-9);
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(-100), -36.09, 1e-12);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(14665.2), 0);
  // Large raw readings: no overflow of int arithmetic.
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(100000), 0.0029365 * 1e10 - 13.113e5 + 14665.2, 1e-3);
  // On the lower branch of the polynomial (raw readings below its vertex at
  // about 2232.8) the conversion back gives the reading again.
  for (int raw = -2000; raw <= 2100; ++raw) {
    ASSERT_EQ(mox_utils::TemperatureToRawTnTee(mox_utils::RawTnTeeToTemperature(raw)), raw) << raw;
  }
  // Below the polynomial's minimum (about 26.15) there is no real root.
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(0.0), INT_MIN);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(-1e300), INT_MIN);
  EXPECT_EQ(mox_utils::TemperatureToRawTnTee(1e300), INT_MIN);  // far out of int range
}

}  // namespace
