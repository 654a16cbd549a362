// The scan-conversion settings: two points, five integers and a rectangle,
// stored, compared and converted to and from text without further meaning.
//
// Text form: eight pieces joined by "; ": the text of point1, of point2,
// value1 ... value5 in decimal, the text of rect, for example
// "[P] 1, 2; [P] 3, 4; 5; 6; 7; 8; 9; [R] 11, 13, 10, 12".
#pragma once

#include <string>

#include "mox_utils/export.h"
#include "mox_utils/geometry/UPoint.h"
#include "mox_utils/geometry/URect.h"

class MOX_API UScanConvert {
 public:
  UScanConvert();
  UScanConvert(const UScanConvert& other);
  // Splits text at semicolons into at most eight pieces (missing pieces are
  // empty, anything after an eighth semicolon is ignored) and reads piece 1
  // and 2 as points, 3 to 7 as integers and 8 as a rectangle.
  UScanConvert(const std::wstring& text);

  UScanConvert& operator=(const UScanConvert& other);
  bool operator==(const UScanConvert& other) const;
  bool operator!=(const UScanConvert& other) const;

  std::wstring ToString() const;

  UPoint point1;
  UPoint point2;
  int value1;
  int value2;
  int value3;
  int value4;
  int value5;
  URect rect;
};
