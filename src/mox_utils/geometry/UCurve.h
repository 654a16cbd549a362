// A piecewise-linear curve through three points: the level at the left edge,
// at the knee and at the right edge, in percent of a height, with the knee at
// midPosition percent of a width; both sizes are given at evaluation time.
// Text form "[C] startLevel, midLevel, endLevel, midPosition".
#pragma once

#include <string>

#include "mox_utils/export.h"

class MOX_API UCurve {
 public:
  UCurve();
  UCurve(int startLevel, int midLevel, int endLevel, int midPosition);
  UCurve(const UCurve& other);
  // Reads the first "[C]" in text and four integers after it; all zeros when
  // the tag is missing.
  UCurve(const std::wstring& text);

  UCurve& operator=(const UCurve& other);
  bool operator==(const UCurve& other) const;
  bool operator!=(const UCurve& other) const;

  // "[C] startLevel, midLevel, endLevel, midPosition".
  std::wstring ToString() const;

  // The curve at x smoothed over eleven samples spaced width / 32 apart
  // (x and five on either side), averaged with truncation.
  int GetHeightAtX(int width, int height, int x);

  int startLevel;
  int midLevel;
  int endLevel;
  int midPosition;

 protected:
  // The curve at x without smoothing. Products are 32-bit integers that wrap,
  // the interpolation divides in floating point and the result truncates
  // toward zero; x outside 0..width extends the outer segments, nothing is
  // clamped.
  int GetHeightNoAvg(int width, int height, int x);
};
