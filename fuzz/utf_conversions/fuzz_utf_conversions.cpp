// The UTF conversions and the formatter's string paths on arbitrary input:
// nothing may crash, every output must be valid, and valid scalars must
// survive every round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mox_utils/platform/Text.h"

using namespace mox::platform;

namespace {

bool isScalar(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // Arbitrary bytes as UTF-8: the result holds scalars only and is a fixed
  // point of the round trip.
  const std::wstring decoded = utf8ToWide(bytes);
  for (wchar_t c : decoded) check(isScalar(static_cast<char32_t>(c)));
  const std::string reencoded = wideToUtf8(decoded);
  check(utf8ToWide(reencoded) == decoded);
  check(decoded.size() <= bytes.size());

  // Arbitrary 32-bit units as wide text: scalars survive both round trips,
  // everything else becomes U+FFFD.
  std::wstring wide(size / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
  std::wstring cleaned = wide;
  for (wchar_t& c : cleaned)
    if (!isScalar(static_cast<char32_t>(c))) c = static_cast<wchar_t>(0xFFFD);
  check(utf8ToWide(wideToUtf8(wide)) == cleaned);
  check(utf16ToWide(wideToUtf16(wide)) == cleaned);

  // Arbitrary 16-bit units as UTF-16: lone surrogates become U+FFFD and the
  // result round-trips.
  std::u16string utf16(size / 2, u'\0');
  if (!utf16.empty()) std::memcpy(utf16.data(), data, utf16.size() * 2);
  const std::wstring fromUtf16 = utf16ToWide(utf16);
  for (wchar_t c : fromUtf16) check(isScalar(static_cast<char32_t>(c)));
  check(utf16ToWide(wideToUtf16(fromUtf16)) == fromUtf16);

  // The formatter's narrow and wide string paths, cut at a limit taken from
  // the input: the UTF-8 output is a prefix of the whole, within its bounds.
  const std::size_t limit = size > 0 ? data[0] : 0;
  const std::string whole = wideToUtf8(formatWideString(L"%S|%s", bytes.c_str(), cleaned.c_str()));
  std::vector<char> buffer(limit + 1, '#');
  const std::size_t n = formatUtf8(buffer.data(), limit, limit / 2, L"%S|%s", bytes.c_str(), cleaned.c_str());
  check(limit == 0 ? n == 0 : n < limit);
  check(buffer[limit] == '#');
  check(whole.compare(0, n, buffer.data(), n) == 0);
  std::vector<wchar_t> wideBuffer(limit + 1, L'#');
  const std::size_t w = formatWide(wideBuffer.data(), limit, L"%.40S%ls", bytes.c_str(), cleaned.c_str());
  check(limit == 0 ? w == 0 : (w < limit && wideBuffer[w] == L'\0'));
  check(wideBuffer[limit] == L'#');
  return 0;
}
