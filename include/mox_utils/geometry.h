// Imaging geometry: the geometric and colour value types with their text forms.
//
// Text forms start with a tag in square brackets ("[P]", "[R]", "[RGB]", "[C]",
// "[GC]") followed by comma-separated integers. Reading finds the first
// occurrence of the tag anywhere in the text (case-sensitive; without it the
// value is all zeros) and reads each integer as _wtoi does: white space
// skipped, optional sign, digits up to the first other character, 0 without
// digits. A missing comma makes that value read from the start of the text,
// so "12 [P] 7" is the point (7, 12). UScanConvert joins eight pieces with
// "; ".
#pragma once
#include "mox_utils/geometry/UColor.h"
#include "mox_utils/geometry/UCurve.h"
#include "mox_utils/geometry/UGainCurve.h"
#include "mox_utils/geometry/ULine.h"
#include "mox_utils/geometry/UPoint.h"
#include "mox_utils/geometry/URect.h"
#include "mox_utils/geometry/UScanConvert.h"
