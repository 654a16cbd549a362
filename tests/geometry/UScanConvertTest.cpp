#include <gtest/gtest.h>

#include "mox_utils/geometry/UScanConvert.h"

namespace {

UScanConvert sample() {
  UScanConvert s;
  s.point1 = UPoint(1, 2);
  s.point2 = UPoint(3, 4);
  s.value1 = 5;
  s.value2 = 6;
  s.value3 = 7;
  s.value4 = 8;
  s.value5 = 9;
  s.rect = URect(10, 11, 12, 13);
  return s;
}

TEST(UScanConvertTest, WrittenForm) {
  EXPECT_EQ(sample().ToString(), L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12");
}

TEST(UScanConvertTest, Reading) {
  UScanConvert partial;
  partial.point1 = UPoint(1, 2);
  partial.point2 = UPoint(3, 4);
  partial.value1 = 5;

  UScanConvert pieceLocal;
  pieceLocal.point1 = UPoint(5, 0);
  pieceLocal.point2 = UPoint(7, 12);

  struct Case {
    const wchar_t* text;
    UScanConvert expected;
    const char* why;
  };
  const Case cases[] = {
      {L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12", sample(), "written form"},
      {L"[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12; [R] 0, 0, 0, 0", sample(), "after an eighth semicolon"},
      {L"", UScanConvert(), "empty"},
      {L";;;;;;;;;;", UScanConvert(), "only separators"},
      {L"[P] 1, 2; [P] 3, 4; 5;", partial, "text ends on a separator"},
      // A missing comma reads from the start of the piece, not of the text.
      {L"[P] 5; 12 [P] 7", pieceLocal, "missing comma inside a piece"},
      {L"[R] 1, 2, 3, 4; [P] 3, 4",
       [] {
         UScanConvert s;
         s.point2 = UPoint(3, 4);
         return s;
       }(),
       "a tag in the wrong piece is not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(UScanConvert(std::wstring(c.text)), c.expected);
  }
}

TEST(UScanConvertTest, EqualityCoversEveryField) {
  const UScanConvert base = sample();
  void (*const changes[])(UScanConvert&) = {
      [](UScanConvert& s) { s.point1.x = 0; },    [](UScanConvert& s) { s.point1.y = 0; },
      [](UScanConvert& s) { s.point2.x = 0; },    [](UScanConvert& s) { s.point2.y = 0; },
      [](UScanConvert& s) { s.value1 = 0; },      [](UScanConvert& s) { s.value2 = 0; },
      [](UScanConvert& s) { s.value3 = 0; },      [](UScanConvert& s) { s.value4 = 0; },
      [](UScanConvert& s) { s.value5 = 0; },      [](UScanConvert& s) { s.rect.left = 0; },
      [](UScanConvert& s) { s.rect.top = 0; },    [](UScanConvert& s) { s.rect.right = 0; },
      [](UScanConvert& s) { s.rect.bottom = 0; },
  };
  int index = 0;
  for (const auto change : changes) {
    SCOPED_TRACE(index++);
    UScanConvert other = base;
    change(other);
    EXPECT_NE(other, base);
  }
}

}  // namespace
