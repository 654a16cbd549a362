#include "mox_utils/geometry/UScanConvert.h"

#include "mox_utils/geometry/GeometryText.h"

namespace {
constexpr int kPieceCount = 8;
}  // namespace

UScanConvert::UScanConvert() : value1(0), value2(0), value3(0), value4(0), value5(0) {}
UScanConvert::UScanConvert(const UScanConvert& other) = default;

UScanConvert::UScanConvert(const std::wstring& text) : value1(0), value2(0), value3(0), value4(0), value5(0) {
  std::wstring pieces[kPieceCount];
  std::size_t start = 0;
  for (int i = 0; i < kPieceCount && start < text.size(); ++i) {
    const std::size_t end = text.find(L';', start);
    if (end == std::wstring::npos) {
      pieces[i] = text.substr(start);
      break;
    }
    pieces[i] = text.substr(start, end - start);
    start = end + 1;
  }
  point1 = UPoint(pieces[0]);
  point2 = UPoint(pieces[1]);
  int* const values[] = {&value1, &value2, &value3, &value4, &value5};
  for (int i = 0; i < 5; ++i) *values[i] = mox::detail::wtoiAt(pieces[2 + i], 0);
  rect = URect(pieces[7]);
}

UScanConvert& UScanConvert::operator=(const UScanConvert& other) = default;

bool UScanConvert::operator==(const UScanConvert& other) const {
  return point1 == other.point1 && point2 == other.point2 && value1 == other.value1 && value2 == other.value2 &&
         value3 == other.value3 && value4 == other.value4 && value5 == other.value5 && rect == other.rect;
}
bool UScanConvert::operator!=(const UScanConvert& other) const { return !(*this == other); }

std::wstring UScanConvert::ToString() const {
  std::wstring text = point1.ToString();
  text += L"; ";
  text += point2.ToString();
  for (const int value : {value1, value2, value3, value4, value5}) {
    text += L"; ";
    text += std::to_wstring(value);
  }
  text += L"; ";
  text += rect.ToString();
  return text;
}
