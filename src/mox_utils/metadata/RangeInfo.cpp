#include "mox_utils/metadata/RangeInfo.h"

namespace {

// Sets the attribute, or removes it when the text is empty.
bool writeOrRemove(const kelXMLNode& node, const wchar_t* name, const std::wstring& value) {
  return value.empty() ? node.removeAttribute(name) : node.setAttribute(name, value.c_str());
}

}  // namespace

RangeInfo::RangeInfo() = default;
RangeInfo::RangeInfo(const RangeInfo& other) = default;
RangeInfo& RangeInfo::operator=(const RangeInfo& other) = default;
RangeInfo::~RangeInfo() = default;

bool RangeInfo::Load(const kelXMLNode& node) {
  if (!node.isValid()) return false;
  try {
    start = node.getAttribute(L"start", L"");
    step = node.getAttribute(L"step", L"");
    stop = node.getAttribute(L"stop", L"");
  } catch (...) {
    return false;
  }
  return !start.empty();
}

bool RangeInfo::Store(const kelXMLNode& node) const {
  if (!node.isValid()) return false;
  return node.setAttribute(L"start", start.c_str()) && writeOrRemove(node, L"step", step) &&
         writeOrRemove(node, L"stop", stop);
}

bool RangeInfo::operator==(const RangeInfo& other) const {
  return start == other.start && step == other.step && stop == other.stop;
}

bool RangeInfo::operator!=(const RangeInfo& other) const { return !(*this == other); }
