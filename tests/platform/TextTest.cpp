#include "mox_utils/platform/Text.h"

#include <gtest/gtest.h>

using mox::platform::utf16ToWide;
using mox::platform::utf8ToWide;
using mox::platform::wideToUtf16;
using mox::platform::wideToUtf8;

TEST(TextTest, Utf8RoundTripsEveryPlane) {
  // "Aé€😀": one code point of each UTF-8 length.
  const std::wstring wide = L"A\u00e9\u20ac\U0001F600";
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(wideToUtf8(wide), utf8);
  EXPECT_EQ(utf8ToWide(utf8), wide);
  EXPECT_EQ(utf16ToWide(wideToUtf16(wide)), wide);
  EXPECT_EQ(wideToUtf16(wide).size(), 5u);  // the emoji takes a surrogate pair
}

TEST(TextTest, InvalidInputBecomesReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::wstring expected;
  } cases[] = {
      {"stray continuation",
       "a\x80"
       "b",
       L"a\uFFFDb"},
      {"overlong slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"truncated at end", "x\xE2\x82", L"x\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8ToWide(c.utf8), c.expected);
  }
  EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16ToWide(std::u16string(1, u'\xDC00')), L"\uFFFD");
}
