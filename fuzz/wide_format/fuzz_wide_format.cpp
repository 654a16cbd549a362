// The wide formatter on arbitrary formats. Every argument is a pointer to one
// small text that reads as a valid wide and a valid narrow string, so any
// conversion may take any argument without leaving valid memory (integers and
// floating point read whatever the slot holds; %n never writes). The three
// outputs - growing wide string, bounded wide buffer, bounded UTF-8 buffer -
// must agree and stay within their bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mox_utils/platform/Text.h"

using namespace mox::platform;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// "w" and U+00E9 as wide text; its bytes end in zeros, so read as narrow it
// is "w".
const wchar_t kText[] = L"w\u00e9";

// A conversion takes at most three arguments (width, precision, value).
constexpr int kMaxConversions = 20;

#define MOX_ARGS8 kText, kText, kText, kText, kText, kText, kText, kText
#define MOX_ARGS64 MOX_ARGS8, MOX_ARGS8, MOX_ARGS8, MOX_ARGS8, MOX_ARGS8, MOX_ARGS8, MOX_ARGS8, MOX_ARGS8

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t limit = data[0];
  const std::wstring raw = utf8ToWide(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  int percents = 0;
  for (wchar_t c : raw) percents += c == L'%';
  if (percents > kMaxConversions) return 0;

  // Floating conversions read whatever the caller's floating-point registers
  // hold, which differs from call to call: with them only the bounds are
  // checked, and the outputs are compared on the format with every floating
  // conversion letter turned into 'd'.
  {
    std::vector<char> bounded(limit + 1, '#');
    const std::size_t n = formatUtf8(bounded.data(), limit, limit, raw.c_str(), MOX_ARGS64);
    check(bounded[limit] == '#' && (limit == 0 ? n == 0 : n < limit));
  }
  std::wstring format = raw;
  for (wchar_t& c : format)
    if (std::wstring_view(L"eEfFgGaA").find(c) != std::wstring_view::npos) c = L'd';

  const std::wstring whole = formatWideString(format.c_str(), MOX_ARGS64);
  check(whole.size() <= static_cast<std::size_t>(kMaxConversions + 1) * (65536 + 6000) + format.size());

  std::vector<wchar_t> wide(limit + 1, L'#');
  const std::size_t w = formatWide(wide.data(), limit, format.c_str(), MOX_ARGS64);
  check(wide[limit] == L'#');
  if (limit > 0) {
    check(w == std::min(whole.size(), limit - 1));
    check(wide[w] == L'\0');
    check(whole.compare(0, w, wide.data(), w) == 0);
  } else {
    check(w == 0);
  }

  const std::string utf8Whole = wideToUtf8(whole);
  std::vector<char> utf8(limit + 1, '#');
  const std::size_t u = formatUtf8(utf8.data(), limit, limit / 3, format.c_str(), MOX_ARGS64);
  check(utf8[limit] == '#');
  check(limit == 0 ? u == 0 : u < limit);
  check(utf8Whole.compare(0, u, utf8.data(), u) == 0);
  check(utf8ToWide(std::string(utf8.data(), u)).size() <= limit / 3);
  return 0;
}
