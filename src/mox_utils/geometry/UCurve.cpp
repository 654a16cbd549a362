#include "mox_utils/geometry/UCurve.h"

#include <climits>
#include <cstdint>

#include "mox_utils/geometry/GeometryText.h"

namespace {

// The curve arithmetic was defined on 32-bit integers that wrap; the same
// results are produced here without signed overflow.
int wrap(std::int64_t value) { return static_cast<int>(static_cast<std::uint32_t>(value)); }
int mul32(int a, int b) { return wrap(static_cast<std::int64_t>(a) * b); }
int add32(int a, int b) { return wrap(static_cast<std::int64_t>(a) + b); }
int sub32(int a, int b) { return wrap(static_cast<std::int64_t>(a) - b); }

// Truncation toward zero; a value the int cannot hold gives INT_MIN, the
// "integer indefinite" result of the processor's conversion.
int truncateToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT_MIN;
  return static_cast<int>(value);
}

// a * b / 100 with a 32-bit product; the divisor is a constant, so the
// quotient always fits.
int percentOf(int percent, int size) { return mul32(percent, size) / 100; }

}  // namespace

UCurve::UCurve() : startLevel(0), midLevel(0), endLevel(0), midPosition(0) {}
UCurve::UCurve(int startLevel, int midLevel, int endLevel, int midPosition)
    : startLevel(startLevel), midLevel(midLevel), endLevel(endLevel), midPosition(midPosition) {}
UCurve::UCurve(const UCurve& other) = default;

UCurve::UCurve(const std::wstring& text) : startLevel(0), midLevel(0), endLevel(0), midPosition(0) {
  int values[4];
  mox::detail::readTaggedValues(text, L"[C]", values, 4);
  startLevel = values[0];
  midLevel = values[1];
  endLevel = values[2];
  midPosition = values[3];
}

UCurve& UCurve::operator=(const UCurve& other) = default;

bool UCurve::operator==(const UCurve& other) const {
  return startLevel == other.startLevel && midLevel == other.midLevel && endLevel == other.endLevel &&
         midPosition == other.midPosition;
}
bool UCurve::operator!=(const UCurve& other) const { return !(*this == other); }

std::wstring UCurve::ToString() const {
  const int values[] = {startLevel, midLevel, endLevel, midPosition};
  return mox::detail::formatTaggedValues(L"[C]", values, 4);
}

int UCurve::GetHeightNoAvg(int width, int height, int x) {
  const int y0 = percentOf(startLevel, height);
  const int ym = percentOf(midLevel, height);
  const int ye = percentOf(endLevel, height);
  const int xm = percentOf(midPosition, width);
  if (x <= xm) {
    if (xm == 0) return ym;
    const int product = mul32(sub32(ym, y0), x);
    return truncateToInt(static_cast<double>(product) / xm + y0);
  }
  if (xm == width) return ym;
  const int product = mul32(sub32(ye, ym), sub32(x, xm));
  return truncateToInt(static_cast<double>(product) / sub32(width, xm) + ym);
}

int UCurve::GetHeightAtX(int width, int height, int x) {
  const int step = width / 32;
  int sum = GetHeightNoAvg(width, height, x);
  for (int k = 1; k <= 5; ++k) {
    const int offset = mul32(k, step);
    sum = add32(sum, GetHeightNoAvg(width, height, sub32(x, offset)));
    sum = add32(sum, GetHeightNoAvg(width, height, add32(x, offset)));
  }
  return sum / 11;
}
