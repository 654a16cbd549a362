// A rectangle in image coordinates, fields in the order of a Windows RECT.
// Nothing keeps left <= right or top <= bottom; NormalizeRect does on request.
// Text form "[R] top, bottom, left, right" (not the field order).
#pragma once

#include <string>

#include "mox_utils/export.h"

class MOX_API URect {
 public:
  URect();
  URect(int left, int top, int right, int bottom);
  URect(const URect& other);
  // Reads the first "[R]" in text and four integers after it, in the order
  // top, bottom, left, right; all zeros when the tag is missing.
  URect(const std::wstring& text);

  URect& operator=(const URect& other);
  bool operator==(const URect& other) const;
  bool operator!=(const URect& other) const;

  void SetRect(int left, int top, int right, int bottom);
  // right - left, plus 1 when inclusive; negative for an inverted rectangle.
  int Width(bool inclusive = false) const;
  // bottom - top.
  int Height() const;
  // Grows this rectangle to cover other as well (smaller left/top, larger
  // right/bottom, compared as they are without normalising).
  URect& UnionRect(const URect& other);
  // Swaps left and right when left > right, then top and bottom when
  // top > bottom.
  void NormalizeRect();

  // "[R] top, bottom, left, right".
  std::wstring ToString() const;

  int left;
  int top;
  int right;
  int bottom;
};
