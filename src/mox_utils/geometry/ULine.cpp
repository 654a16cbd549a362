#include "mox_utils/geometry/ULine.h"

ULine::ULine() = default;
ULine::ULine(const ULine& other) = default;
ULine::ULine(const UPoint& a, const UPoint& b) : pointA(a), pointB(b) {}
ULine& ULine::operator=(const ULine& other) = default;
