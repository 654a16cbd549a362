#include "mox_utils/geometry/URect.h"

#include <algorithm>
#include <utility>

#include "mox_utils/geometry/GeometryText.h"

URect::URect() : left(0), top(0), right(0), bottom(0) {}
URect::URect(int left, int top, int right, int bottom) : left(left), top(top), right(right), bottom(bottom) {}
URect::URect(const URect& other) = default;

URect::URect(const std::wstring& text) : left(0), top(0), right(0), bottom(0) {
  int values[4];
  mox::detail::readTaggedValues(text, L"[R]", values, 4);
  top = values[0];
  bottom = values[1];
  left = values[2];
  right = values[3];
}

URect& URect::operator=(const URect& other) = default;

bool URect::operator==(const URect& other) const {
  return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
}
bool URect::operator!=(const URect& other) const { return !(*this == other); }

void URect::SetRect(int l, int t, int r, int b) {
  left = l;
  top = t;
  right = r;
  bottom = b;
}

// Differences wrap like the 32-bit arithmetic the values were made for,
// rather than overflowing.
int URect::Width(bool inclusive) const {
  const unsigned width = static_cast<unsigned>(right) - static_cast<unsigned>(left) + (inclusive ? 1u : 0u);
  return static_cast<int>(width);
}

int URect::Height() const { return static_cast<int>(static_cast<unsigned>(bottom) - static_cast<unsigned>(top)); }

URect& URect::UnionRect(const URect& other) {
  left = std::min(left, other.left);
  top = std::min(top, other.top);
  right = std::max(right, other.right);
  bottom = std::max(bottom, other.bottom);
  return *this;
}

void URect::NormalizeRect() {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
}

std::wstring URect::ToString() const {
  const int values[] = {top, bottom, left, right};
  return mox::detail::formatTaggedValues(L"[R]", values, 4);
}
