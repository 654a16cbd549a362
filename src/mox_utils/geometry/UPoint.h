// A point in image coordinates, with the text form "[P] x, y".
#pragma once

#include <string>

#include "mox_utils/export.h"

class MOX_API UPoint {
 public:
  UPoint();
  UPoint(int x, int y);
  UPoint(const UPoint& other);
  // Reads the first "[P]" in text and the two integers after it (see
  // geometry.h for the reading rules); all zeros when the tag is missing.
  UPoint(const std::wstring& text);

  UPoint& operator=(const UPoint& other);
  bool operator==(const UPoint& other) const;
  bool operator!=(const UPoint& other) const;

  // "[P] x, y".
  std::wstring ToString() const;

  int x;
  int y;
};
