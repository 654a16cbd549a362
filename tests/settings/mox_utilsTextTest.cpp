// The text and numeric helpers of mox_utils.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "mox_utils/settings/mox_utils.h"

namespace {

const std::string kFail = "<no line>";

// Every result of reading `bytes` line by line up to the end: the line, or
// kFail for a failed read, which must leave the buffer as it was.
std::vector<std::string> readAll(const std::string& bytes, int maxLength) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  std::vector<std::string> results;
  for (int guard = 0; guard < 100 && !std::feof(f); ++guard) {
    std::string buffer(static_cast<std::size_t>(std::max(maxLength, 0)) + 8, '#');
    const bool ok = mox_utils::readLineOfTextFromFile(f, &buffer[0], maxLength);
    EXPECT_TRUE(ok || buffer == std::string(buffer.size(), '#')) << "buffer written reading " << bytes.substr(0, 16);
    results.push_back(ok ? buffer.substr(0, buffer.find('\0')) : kFail);
  }
  std::fclose(f);
  return results;
}

TEST(mox_utilsTextTest, ReadLineReturnsCompleteLinesOnly) {
  const std::tuple<const char*, std::string, int, std::vector<std::string>> cases[] = {
      {"empty file", "", 10, {kFail}},
      {"last line without line feed", "one\ntwo", 10, {"one", kFail}},
      {"carriage return kept", "abc\r\n", 10, {"abc\r", kFail}},
      {"empty lines", "\n\nx\n", 10, {"", "", "x", kFail}},
      {"exactly the maximum", "12345\n", 5, {"12345", kFail}},
      {"one over the maximum is consumed", "123456\nab\n", 5, {kFail, "ab", kFail}},
      {"zero maximum", "\nx\n\n", 0, {"", kFail, "", kFail}},
      {"negative maximum refuses all", "\nx\n", -1, {kFail, kFail, kFail}},
      {"bytes kept as they are", std::string("\xC3\xA9\x00z\n", 5), 10, {"\xC3\xA9", kFail}},
      {"a megabyte line", std::string(1 << 20, 'z') + "\nshort\n", 16, {kFail, "short", kFail}},
  };
  for (const auto& [name, bytes, maxLength, lines] : cases) EXPECT_EQ(readAll(bytes, maxLength), lines) << name;
  char buffer[4] = "xy";
  EXPECT_FALSE(mox_utils::readLineOfTextFromFile(nullptr, buffer, 3));
  EXPECT_STREQ(buffer, "xy");
}

TEST(mox_utilsTextTest, RemoveCharsDropsEveryOccurrence) {
  const char* const cases[][3] = {{"", "a", ""}, {"aaaa", "a", ""}, {"a,b,,c,", ",", "abc"}, {"keep", "", "keep"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    std::string buffer = std::string(c[0]) + '\0' + "####";
    EXPECT_TRUE(mox_utils::removeChars(&buffer[0], c[1][0]));
    EXPECT_STREQ(buffer.c_str(), c[2]);
    EXPECT_EQ(buffer.substr(std::strlen(c[0]) + 1), "####");  // nothing written past the text
  }
  EXPECT_TRUE(mox_utils::removeChars(nullptr, 'a'));
}

// An independent oracle: the search repeated from the start of the text
// until no match is left, or for a replacement that contains the search
// text, one forward scan.
std::wstring replaced(std::wstring text, const std::wstring& search, const std::wstring& replacement) {
  const bool once = replacement.find(search) != std::wstring::npos;
  auto pos = text.find(search);
  for (int round = 0; pos != std::wstring::npos && round < 10000; ++round) {
    text.replace(pos, search.size(), replacement);
    pos = text.find(search, once ? pos + replacement.size() : 0);
  }
  EXPECT_EQ(pos, std::wstring::npos) << "the oracle gave up";
  return text;
}

// Every text of up to 7 letters over {a, b}, against every search text of 1
// to 3 letters and every replacement of up to 3 letters.
TEST(mox_utilsTextTest, FindAndReplaceMatchesTheOracleExhaustively) {
  std::vector<std::wstring> words = {L""};
  for (std::size_t i = 0; words[i].size() < 7; ++i) {
    words.push_back(words[i] + L'a');
    words.push_back(words[i] + L'b');
  }
  for (const auto& search : words) {
    for (const auto& replacement : words) {
      if (search.empty() || search.size() > 3 || replacement.size() > 3) continue;
      for (const auto& text : words) {
        std::wstring got = text;
        mox_utils::findandreplace(got, search, replacement);
        ASSERT_EQ(got, replaced(text, search, replacement))
            << "text " << text << ", " << search << " -> " << replacement;
      }
    }
  }
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
  const double cases[][2] = {{0.5, 1},   {-0.5, -1}, {1.49, 1}, {-1.49, -1},           {2.5, 3},
                             {-2.5, -3}, {0, 0},     {-7, -7},  {1e15 + 0.5, 1e15 + 1}};
  for (const auto& c : cases) EXPECT_EQ(mox_utils::round(c[0]), c[1]) << c[0];
  EXPECT_TRUE(std::isnan(mox_utils::round(NAN)));
}

// Worked by hand: 1000 x 0.0686 - 29.23 = 39.37;
// 0.0029365 x 10^6 - 13113 + 14665.2 = 4488.7.
TEST(mox_utilsTextTest, TnTeeConversionsAndTheirInverse) {
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(1000), 39.37, 1e-12);
  EXPECT_NEAR(mox_utils::RawTnTeeToPhase(-100), -36.09, 1e-12);
  EXPECT_EQ(mox_utils::RawTnTeeToTemperature(0), 14665.2);
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(1000), 4488.7, 1e-9);
  // Large raw readings: no overflow of int arithmetic.
  EXPECT_NEAR(mox_utils::RawTnTeeToTemperature(100000), 0.0029365 * 1e10 - 13.113e5 + 14665.2, 1e-3);
  // On the lower branch of the polynomial (raw readings below its vertex at
  // about 2232.8) the conversion back gives the reading again.
  for (int raw = -2000; raw <= 2100; ++raw) {
    ASSERT_EQ(mox_utils::TemperatureToRawTnTee(mox_utils::RawTnTeeToTemperature(raw)), raw) << raw;
  }
  // No real root below the polynomial's minimum (about 26.15), nor an int
  // far above.
  for (double t : {0.0, -1e300, 1e300}) EXPECT_EQ(mox_utils::TemperatureToRawTnTee(t), INT_MIN) << t;
}

}  // namespace
