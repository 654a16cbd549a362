#include "mox_utils/geometry/UPoint.h"

#include "mox_utils/geometry/GeometryText.h"

UPoint::UPoint() : x(0), y(0) {}
UPoint::UPoint(int x, int y) : x(x), y(y) {}
UPoint::UPoint(const UPoint& other) = default;

UPoint::UPoint(const std::wstring& text) : x(0), y(0) {
  int values[2];
  mox::detail::readTaggedValues(text, L"[P]", values, 2);
  x = values[0];
  y = values[1];
}

UPoint& UPoint::operator=(const UPoint& other) = default;
bool UPoint::operator==(const UPoint& other) const { return x == other.x && y == other.y; }
bool UPoint::operator!=(const UPoint& other) const { return !(*this == other); }

std::wstring UPoint::ToString() const {
  const int values[] = {x, y};
  return mox::detail::formatTaggedValues(L"[P]", values, 2);
}
