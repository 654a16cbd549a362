#include "mox_utils/geometry/UColor.h"

#include "mox_utils/geometry/GeometryText.h"

static_assert(sizeof(UColor) == 3, "a colour is three bytes and nothing else");

namespace {
unsigned char lowByte(int value) { return static_cast<unsigned char>(static_cast<unsigned>(value) & 0xFFu); }
}  // namespace

UColor::UColor() : red(0), green(0), blue(0) {}
UColor::UColor(const UColor& other) = default;
UColor::UColor(unsigned char r, unsigned char g, unsigned char b) : red(r), green(g), blue(b) {}
UColor::UColor(int r, int g, int b) : red(lowByte(r)), green(lowByte(g)), blue(lowByte(b)) {}

UColor::UColor(unsigned long colorRef)
    : red(static_cast<unsigned char>(colorRef & 0xFFu)),
      green(static_cast<unsigned char>((colorRef >> 8) & 0xFFu)),
      blue(static_cast<unsigned char>((colorRef >> 16) & 0xFFu)) {}

UColor::UColor(const std::wstring& text) : red(0), green(0), blue(0) {
  int values[3];
  mox::detail::readTaggedValues(text, L"[RGB]", values, 3);
  red = lowByte(values[0]);
  green = lowByte(values[1]);
  blue = lowByte(values[2]);
}

UColor& UColor::operator=(const UColor& other) = default;

bool UColor::operator==(const UColor& other) const {
  return red == other.red && green == other.green && blue == other.blue;
}
bool UColor::operator!=(const UColor& other) const { return !(*this == other); }

unsigned long UColor::ToColorRef() const {
  return static_cast<unsigned long>(red) | static_cast<unsigned long>(green) << 8 |
         static_cast<unsigned long>(blue) << 16;
}

std::wstring UColor::ToString() const {
  const int values[] = {red, green, blue};
  return mox::detail::formatTaggedValues(L"[RGB]", values, 3);
}
