// A line between two points. It has no text form and no comparison.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/geometry/UPoint.h"

class MOX_API ULine {
 public:
  ULine();
  ULine(const ULine& other);
  ULine(const UPoint& a, const UPoint& b);

  ULine& operator=(const ULine& other);

  UPoint pointA;
  UPoint pointB;
};
