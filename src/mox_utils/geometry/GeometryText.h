// The text forms shared by the geometric value types: a tag in square brackets
// followed by comma-separated integers, read with the rules of the C runtime's
// _wtoi.
#pragma once

#include <cstddef>
#include <string>

namespace mox::detail {

// The integer at text[pos...] as _wtoi reads it: leading white space (space,
// tab, line feed, vertical tab, form feed, carriage return) skipped, an
// optional sign, decimal digits up to the first other character; no digits
// give 0, and a value beyond the int range gives INT_MAX or INT_MIN. A
// position at or past the end gives 0.
int wtoiAt(const std::wstring& text, std::size_t pos);

// Reads `count` integers following the first occurrence of `tag` in `text`.
// The first value follows the tag directly; each later value follows the next
// comma, searched from just after the tag or the previous comma. A missing
// comma makes that value read from the start of the text and the next search
// start again at the beginning. Returns false, with every value 0, when the tag
// does not occur.
bool readTaggedValues(const std::wstring& text, const wchar_t* tag, int* values, std::size_t count);

// "<tag> v0, v1, ..." in signed decimal, cut to its first 99 characters.
std::wstring formatTaggedValues(const wchar_t* tag, const int* values, std::size_t count);

}  // namespace mox::detail
