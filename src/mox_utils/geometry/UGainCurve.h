// Eight gain values in order, with the text form "[GC] g0, g1, ..., g7".
#pragma once

#include <string>

#include "mox_utils/export.h"

class MOX_API UGainCurve {
 public:
  static constexpr int kGainCount = 8;

  UGainCurve();
  UGainCurve(const UGainCurve& other);
  // Reads the first "[GC]" in text and eight integers after it; all zeros
  // when the tag is missing.
  UGainCurve(const std::wstring& text);

  UGainCurve& operator=(const UGainCurve& other);
  bool operator==(const UGainCurve& other) const;
  bool operator!=(const UGainCurve& other) const;

  // "[GC] g0, g1, g2, g3, g4, g5, g6, g7", cut to 99 characters (only values
  // of ten characters or more reach that length).
  std::wstring ToString() const;

  int gains[kGainCount];
};
