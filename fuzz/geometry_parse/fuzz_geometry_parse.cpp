// Arbitrary text read as every geometric value type. Besides memory safety it
// checks that each value read writes a text that reads back to it, and
// evaluates the curve read with sizes taken from the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mox_utils/geometry.h"
#include "mox_utils/platform/Text.h"

namespace {

// Exposes the unsmoothed curve evaluation.
struct FuzzCurve : UCurve {
  using UCurve::GetHeightNoAvg;
  using UCurve::UCurve;
};

template <typename T>
void checkRoundTrip(const T& value) {
  if (T(value.ToString()) != value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  // The first byte chooses how the rest becomes wide text: as UTF-8 (how
  // settings files carry it) or as raw 16-bit units, which reaches code units
  // no UTF-8 decoder produces.
  std::wstring text;
  if (size > 0 && (data[0] & 1) != 0) {
    for (std::size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
  } else if (size > 0) {
    text = mox::platform::utf8ToWide(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  }

  const UPoint point(text);
  const URect rect(text);
  const UColor color(text);
  const FuzzCurve curve(text);
  const UGainCurve gains(text);
  const UScanConvert scan(text);

  checkRoundTrip(point);
  checkRoundTrip(rect);
  checkRoundTrip(color);
  checkRoundTrip(UCurve(curve));
  checkRoundTrip(scan);
  // Gain curves longer than 99 characters are cut when written.
  if (gains.ToString().size() < 99) checkRoundTrip(gains);

  URect normalized = rect;
  normalized.NormalizeRect();
  if (normalized.left > normalized.right || normalized.top > normalized.bottom) __builtin_trap();
  URect unionRect = rect;
  unionRect.UnionRect(scan.rect);
  (void)rect.Width(true);
  (void)rect.Height();

  FuzzCurve evaluated = curve;
  (void)evaluated.GetHeightNoAvg(gains.gains[0], gains.gains[1], gains.gains[2]);
  (void)evaluated.GetHeightAtX(gains.gains[0], gains.gains[1], gains.gains[2]);
  (void)evaluated.GetHeightAtX(point.x, point.y, scan.value1);
  return 0;
}
