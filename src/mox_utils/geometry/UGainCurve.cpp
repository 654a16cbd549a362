#include "mox_utils/geometry/UGainCurve.h"

#include <algorithm>

#include "mox_utils/geometry/GeometryText.h"

UGainCurve::UGainCurve() : gains{} {}
UGainCurve::UGainCurve(const UGainCurve& other) = default;

UGainCurve::UGainCurve(const std::wstring& text) : gains{} {
  mox::detail::readTaggedValues(text, L"[GC]", gains, kGainCount);
}

UGainCurve& UGainCurve::operator=(const UGainCurve& other) = default;

bool UGainCurve::operator==(const UGainCurve& other) const {
  return std::equal(gains, gains + kGainCount, other.gains);
}
bool UGainCurve::operator!=(const UGainCurve& other) const { return !(*this == other); }

std::wstring UGainCurve::ToString() const { return mox::detail::formatTaggedValues(L"[GC]", gains, kGainCount); }
