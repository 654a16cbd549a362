#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "mox_utils/platform/Text.h"

using mox::platform::formatUtf8;
using mox::platform::formatWide;
using mox::platform::formatWideString;
using mox::platform::utf8ToWide;
using mox::platform::wideToUtf8;

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Formats into buffers of every capacity from 0 to past the end of `whole`.
// Each must get the longest prefix that ends at one of `cuts` and fits with
// its terminator, and what lies after the buffer must stay untouched.
template <typename Char, typename Format>
void expectCutAtEveryCapacity(const std::basic_string<Char>& whole, const std::vector<std::size_t>& cuts,
                              Format format) {
  for (std::size_t capacity = 0; capacity <= whole.size() + 2; ++capacity) {
    SCOPED_TRACE("capacity " + std::to_string(capacity));
    std::vector<Char> buffer(capacity + 4, Char('#'));
    const std::size_t n = format(buffer.data(), capacity);
    std::size_t expected = 0;
    for (std::size_t cut : cuts) {
      if (cut < capacity) expected = cut;
    }
    EXPECT_EQ(n, expected);
    if (capacity > 0) {
      EXPECT_EQ(std::basic_string<Char>(buffer.data(), n), whole.substr(0, expected));
      EXPECT_EQ(buffer[n], Char(0));
    }
    for (std::size_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], Char('#'));
  }
}

}  // namespace

// The conventions that differ from C99/glibc: which string and character
// conversions are wide and which narrow (UTF-8 whatever the locale), the
// Windows size prefixes, and formats C leaves undefined.
TEST(WideFormatTest, ConversionsFollowTheWindowsConventions) {
  int target = 1234;
  const char* narrow = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC";  // "Grüß €" in UTF-8
  const wchar_t* wide = L"Gr\u00fc\u00df \u20ac";
  struct Case {
    const char* name;
    std::wstring got;
    std::wstring expected;
  } cases[] = {
      {"%s is wide", formatWideString(L"[%s]", wide), L"[Gr\u00fc\u00df \u20ac]"},
      {"%ls and %ws are wide", formatWideString(L"%ls|%ws", wide, L"x"), L"Gr\u00fc\u00df \u20ac|x"},
      {"%S is narrow UTF-8", formatWideString(L"[%S]", narrow), L"[Gr\u00fc\u00df \u20ac]"},
      {"%hs is narrow", formatWideString(L"%hs", narrow), L"Gr\u00fc\u00df \u20ac"},
      {"%lS is wide", formatWideString(L"%lS", wide), L"Gr\u00fc\u00df \u20ac"},
      {"astral plane both ways", formatWideString(L"%s/%S", L"\U0001F600", "\xF0\x9F\x98\x80"),
       L"\U0001F600/\U0001F600"},
      {"null strings", formatWideString(L"%s %S", static_cast<wchar_t*>(nullptr), static_cast<char*>(nullptr)),
       L"(null) (null)"},
      {"invalid UTF-8 becomes U+FFFD",
       formatWideString(L"%S",
                        "a\xFF"
                        "b\xE2\x82"),
       L"a\uFFFDb\uFFFD"},
      {"%c is a wide character", formatWideString(L"%c%c", L'\u00e9', L'\u20ac'), L"\u00e9\u20ac"},
      {"%C and %hc are narrow", formatWideString(L"%C%hc%C", 'A', 'b', '\xE9'), L"Ab\uFFFD"},
      {"%lc is wide", formatWideString(L"%lc", L'\u03a9'), L"\u03a9"},
      {"precision counts characters", formatWideString(L"%.3S|%.2s", narrow, wide), L"Gr\u00fc|Gr"},
      {"width counts characters", formatWideString(L"[%6S][%-6S]", "\xC3\xBC\xC3\xBC", "ab"),
       L"[    \u00fc\u00fc][ab    ]"},
      {"zero flag pads strings with zeros", formatWideString(L"%05s", L"ab"), L"000ab"},
      {"character width", formatWideString(L"[%3c][%-3C]", L'x', 'y'), L"[  x][y  ]"},
      {"%% and non-ASCII format text", formatWideString(L"\u00e9 100%% %d\u20ac", 5), L"\u00e9 100% 5\u20ac"},
      // Size prefixes take their argument types.
      {"I64d", formatWideString(L"%I64d|%d", INT64_MIN, 7), L"-9223372036854775808|7"},
      {"I64u", formatWideString(L"%I64u|%d", UINT64_MAX, 7), L"18446744073709551615|7"},
      {"I64x", formatWideString(L"%I64x|%I64X", 0x123456789abcdefULL, 0xFEDCBA9876543210ULL),
       L"123456789abcdef|FEDCBA9876543210"},
      {"I is pointer-sized", formatWideString(L"%Id|%Iu", static_cast<std::intptr_t>(-5), SIZE_MAX),
       L"-5|18446744073709551615"},
      {"I32", formatWideString(L"%I32d|%I32u", -7, 4000000000u), L"-7|4000000000"},
      {"ll", formatWideString(L"%lld|%llu", -3LL, 1ULL << 40), L"-3|1099511627776"},
      {"h truncates", formatWideString(L"%hd|%hu|%hx", 65535, 65537, 0x12345), L"-1|1|2345"},
      {"hh truncates", formatWideString(L"%hhd|%hhu", 255, 257), L"-1|1"},
      {"l is 32 bits, from int or long", formatWideString(L"%ld|%lu|%ld", -5, 0xFFFFFFFFu, 123456L),
       L"-5|4294967295|123456"},
      {"z and j", formatWideString(L"%zu|%jd", static_cast<size_t>(99), static_cast<intmax_t>(-99)), L"99|-99"},
      {"star width and precision", formatWideString(L"[%*d][%-*d][%.*d][%*.*s]", 4, 1, 3, 2, 3, 7, 5, 2, L"abc"),
       L"[   1][2  ][007][   ab]"},
      {"negative star width is left-aligned", formatWideString(L"[%*d]", -4, 9), L"[9   ]"},
      {"negative star precision is none", formatWideString(L"[%.*s]", -1, L"abc"), L"[abc]"},
      {"pointers print as full-width upper hex", formatWideString(L"%p", reinterpret_cast<void*>(0xab12)),
       L"000000000000AB12"},
      {"pointer width", formatWideString(L"[%20p]", nullptr), L"[    0000000000000000]"},
      // Odd formats are printed safely.
      {"format ends in a lone %", formatWideString(L"abc%"), L"abc"},
      {"format ends inside a conversion", formatWideString(L"abc%-08.3l"), L"abc"},
      {"unknown conversion is copied", formatWideString(L"a%yb%5kc%d", 4), L"a%yb%5kc4"},
      {"%n writes nothing but takes its argument", formatWideString(L"x%ny%d", &target, 8), L"xy8"},
      {"empty format", formatWideString(L""), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.expected);
  }
  EXPECT_EQ(target, 1234);
  // A field far beyond any sensible width is cut instead of allocating it.
  EXPECT_EQ(formatWideString(L"%2000000000d", 1).size(), 65536u);
}

// Integer conversions share C99's rules, so glibc's narrow snprintf is an
// independent oracle for every combination of flags, width and precision.
TEST(WideFormatTest, IntegerConversionsMatchTheCRuntime) {
  const char* flags[] = {"", "-", "+", " ", "#", "0", "-0", "+0", " 0", "#0", "-#", "+ "};
  const char* widths[] = {"", "1", "2", "6", "12"};
  const char* precisions[] = {"", ".", ".0", ".1", ".5"};
  const char conversions[] = {'d', 'i', 'u', 'x', 'X', 'o'};
  const int values[] = {0, 1, -1, 7, 42, 99, 100, 255, -4096, INT_MIN, INT_MAX};
  int checked = 0;
  for (const char* flag : flags) {
    for (const char* width : widths) {
      for (const char* precision : precisions) {
        for (char conversion : conversions) {
          const std::string format = std::string("<%") + flag + width + precision + conversion + ">";
          for (int value : values) {
            char expected[64];
            std::snprintf(expected, sizeof expected, format.c_str(), value);
            const std::wstring got = formatWideString(widen(format).c_str(), value);
            EXPECT_EQ(got, widen(expected)) << format << " with " << value;
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 10000);
}

TEST(WideFormatTest, FloatingConversionsMatchTheCRuntime) {
  const char* formats[] = {"%f",      "%.2f",    "%10.3f", "%-10.1f|", "%+e",     "%E",    "%g",
                           "%G",      "%#g",     "%.0f",   "%#.0f",    "%010.2f", "% .3e", "%a",
                           "%012.3a", "%+08.1f", "%08f",   "%-08f",    "%.10g",   "%5.1f", "%.300f"};
  const double values[] = {0.0, -0.0, 1.5, -2.25, 3.14159265358979, 1e-7, 6.02e23, -1e300, 1.0 / 0.0, -1.0 / 0.0};
  for (const char* format : formats) {
    for (double value : values) {
      std::vector<char> expected(2048);
      std::snprintf(expected.data(), expected.size(), format, value);
      EXPECT_EQ(formatWideString(widen(format).c_str(), value), widen(expected.data())) << format << " " << value;
    }
  }
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.3Lf|%Lg", 2.5L, 1e-3L);
  EXPECT_EQ(formatWideString(L"%.3Lf|%Lg", 2.5L, 1e-3L), widen(expected));
  // Arguments after a floating conversion are still found.
  EXPECT_EQ(formatWideString(L"%.1f %d %s", 0.25, 3, L"x"), L"0.2 3 x");
}

TEST(WideFormatTest, LongOutputIsWhole) {
  const std::wstring big(10000, L'\u00e9');
  const std::wstring got = formatWideString(L"<%s|%S>", big.c_str(), wideToUtf8(big).c_str());
  EXPECT_EQ(got, L"<" + big + L"|" + big + L">");
}

TEST(WideFormatTest, WideBufferIsCutAtEveryLimit) {
  const std::wstring whole = formatWideString(L"%s=%05d;%S;%x", L"\u00e9t\u00e9", -42, "\xE2\x82\xAC", 255u);
  ASSERT_EQ(whole, L"\u00e9t\u00e9=-0042;\u20ac;ff");
  std::vector<std::size_t> everyIndex(whole.size() + 1);
  std::iota(everyIndex.begin(), everyIndex.end(), 0);
  expectCutAtEveryCapacity(whole, everyIndex, [](wchar_t* buffer, std::size_t capacity) {
    return formatWide(buffer, capacity, L"%s=%05d;%S;%x", L"\u00e9t\u00e9", -42, "\xE2\x82\xAC", 255u);
  });
}

TEST(WideFormatTest, Utf8OutputKeepsWholeSequencesAndCountsCharacters) {
  // 1-, 2-, 3- and 4-byte characters, from the format and from both kinds of
  // string argument, and a lone surrogate that must become U+FFFD.
  const wchar_t* format = L"a\u00e9%s%S%c";
  const wchar_t surrogate = static_cast<wchar_t>(0xD800);
  const std::string whole = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD";
  const std::vector<std::size_t> boundaries = {0, 1, 3, 6, 10, 13};  // byte offsets after each character
  expectCutAtEveryCapacity(whole, boundaries, [&](char* buffer, std::size_t capacity) {
    return formatUtf8(buffer, capacity, 100, format, L"\u20ac", "\xF0\x9F\x98\x80", surrogate);
  });
  for (std::size_t chars = 0; chars <= 6; ++chars) {
    SCOPED_TRACE("chars " + std::to_string(chars));
    char buffer[64];
    const std::size_t n = formatUtf8(buffer, sizeof buffer, chars, format, L"\u20ac", "\xF0\x9F\x98\x80", surrogate);
    EXPECT_EQ(n, boundaries[std::min<std::size_t>(chars, 5)]);
    EXPECT_EQ(utf8ToWide(std::string(buffer, n)).size(), std::min<std::size_t>(chars, 5));
  }
}
