// An RGB colour of three bytes, with the packed form 0x00BBGGRR of a Windows
// COLORREF and the text form "[RGB] red, green, blue".
#pragma once

#include <string>

#include "mox_utils/export.h"

class MOX_API UColor {
 public:
  UColor();
  UColor(const UColor& other);
  UColor(unsigned char r, unsigned char g, unsigned char b);
  // Keeps the low 8 bits of each argument (no clamping: 256 gives 0).
  UColor(int r, int g, int b);
  // red from bits 0-7, green from 8-15, blue from 16-23; higher bits ignored.
  UColor(unsigned long colorRef);
  // Reads the first "[RGB]" in text and three integers after it, keeping the
  // low 8 bits of each (-1 gives 255); all zeros when the tag is missing.
  UColor(const std::wstring& text);

  UColor& operator=(const UColor& other);
  bool operator==(const UColor& other) const;
  bool operator!=(const UColor& other) const;

  // red | green << 8 | blue << 16.
  unsigned long ToColorRef() const;
  // "[RGB] red, green, blue" with components 0 to 255.
  std::wstring ToString() const;

  unsigned char red;
  unsigned char green;
  unsigned char blue;
};
