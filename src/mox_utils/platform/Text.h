// Wide text: conversions between wchar_t (UTF-32 on Linux), UTF-8 and UTF-16,
// and the printf-style wide formatter with the Windows conventions.
//
// Conversions never fail and never crash: an invalid sequence (a stray UTF-8
// byte, an overlong form, a surrogate, a lone UTF-16 surrogate, a value above
// U+10FFFF) becomes one U+FFFD per maximal invalid subpart.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "mox_utils/export.h"

namespace mox::platform {

MOX_API std::string wideToUtf8(std::wstring_view text);
MOX_API std::wstring utf8ToWide(std::string_view text);
MOX_API std::u16string wideToUtf16(std::wstring_view text);
MOX_API std::wstring utf16ToWide(std::u16string_view text);

// Appends the UTF-8 form of text to out (no allocation when out has room).
MOX_API void appendUtf8(std::string& out, std::wstring_view text);

// Decodes the code point that starts at text[*index] and moves *index past
// it (past the maximal invalid subpart for invalid input, which decodes as
// U+FFFD). *index must be below text.size().
MOX_API char32_t decodeUtf8(std::string_view text, std::size_t* index);

// printf-style formatting of a wide format with the Windows conventions:
//   %s and %ls wide string, %S and %hs narrow (UTF-8) string, %c wide char,
//   %C and %hc narrow char, %d %i %u %x %X %o with h, l, ll, I64, I32, I
//   (pointer-sized) size prefixes, %e %f %g %E %G %a with L, %p, %%, flags
//   "-+ #0", width and precision including '*'. A null string prints
//   "(null)". %n is never honoured (it prints nothing and takes its
//   argument). An unknown conversion is copied as written; a format that ends
//   in a lone '%' prints nothing for it.
//
//   Argument types follow the Windows sizes where they differ from Linux:
//   "l" is 32 bits (the argument is taken from its full slot and cut to 32
//   bits, so both an int and a long argument print right as long as the value
//   fits), "ll", "I64", "j" are 64 bits, "I", "z", "t" pointer-sized. "L" on a
//   floating conversion takes a long double. Narrow strings are UTF-8 and
//   invalid bytes print as U+FFFD; a narrow character (%C, %hc) above 0x7F is
//   not UTF-8 on its own and prints as U+FFFD. Precision on a string counts
//   the characters printed. Floating precision above 4096 is taken as 4096.
//
// formatWideV writes at most capacity - 1 characters and a terminating zero
// into buffer (nothing when capacity is 0) and returns the number written,
// without the terminator; output beyond the limit is dropped.
MOX_API std::size_t formatWideV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args);
MOX_API std::size_t formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
// The whole formatted text, however long.
MOX_API std::wstring formatWideStringV(const wchar_t* format, va_list args);
MOX_API std::wstring formatWideString(const wchar_t* format, ...);

// The same formatting written straight into UTF-8, for log files: at most
// maxChars characters (code points) and at most capacity - 1 bytes (whole
// sequences only), then a terminating zero (nothing when capacity is 0).
// Returns the number of bytes written, without the terminator. A buffer of
// 4 * maxChars + 1 bytes always holds maxChars characters.
MOX_API std::size_t formatUtf8V(char* buffer, std::size_t capacity, std::size_t maxChars, const wchar_t* format,
                                va_list args);
MOX_API std::size_t formatUtf8(char* buffer, std::size_t capacity, std::size_t maxChars, const wchar_t* format, ...);

}  // namespace mox::platform
