#include "mox_utils/geometry/GeometryText.h"

#include <climits>

namespace mox::detail {
namespace {

// The text forms were produced into a buffer of 100 characters.
constexpr std::size_t kMaxTextLength = 99;

bool isBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

int wtoiAt(const std::wstring& text, std::size_t pos) {
  const std::size_t size = text.size();
  while (pos < size && isBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < size && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  // Accumulate the magnitude with a ceiling so that no digit count overflows;
  // out-of-range values saturate as the runtime does.
  constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; pos < size && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
    magnitude = magnitude * 10 + (text[pos] - L'0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return magnitude >= kLimit ? INT_MIN : static_cast<int>(-magnitude);
  return magnitude >= kLimit ? INT_MAX : static_cast<int>(magnitude);
}

bool readTaggedValues(const std::wstring& text, const wchar_t* tag, int* values, std::size_t count) {
  const std::size_t tagPos = text.find(tag);
  if (tagPos == std::wstring::npos) {
    for (std::size_t i = 0; i < count; ++i) values[i] = 0;
    return false;
  }
  std::size_t pos = tagPos + std::char_traits<wchar_t>::length(tag);
  if (count > 0) values[0] = wtoiAt(text, pos);
  for (std::size_t i = 1; i < count; ++i) {
    // A missing comma leaves npos, and npos + 1 wraps to 0: the value is read
    // from the start of the text and the next search starts there too. Stored
    // texts depend on this reading, so it is kept as it always was.
    pos = text.find(L',', pos);
    pos = pos + 1;
    values[i] = wtoiAt(text, pos);
  }
  return true;
}

std::wstring formatTaggedValues(const wchar_t* tag, const int* values, std::size_t count) {
  std::wstring text = tag;
  for (std::size_t i = 0; i < count; ++i) {
    text += i == 0 ? L" " : L", ";
    text += std::to_wstring(values[i]);
  }
  if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
  return text;
}

}  // namespace mox::detail
