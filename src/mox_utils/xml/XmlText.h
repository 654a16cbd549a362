// Helpers shared by kelXMLFile and kelXMLNode: name conversion without heap
// traffic for the common short names, XML name checks and number parsing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mox::detail {

// The UTF-8 form of a wide name. Short ASCII names (all the names the library
// itself uses) are converted into an inline buffer; others go through the
// platform conversion.
class Utf8Name {
 public:
  explicit Utf8Name(const wchar_t* name);
  const char* c_str() const { return m_heap.empty() ? m_inline : m_heap.c_str(); }
  bool empty() const { return c_str()[0] == '\0'; }

 private:
  static constexpr std::size_t kInline = 64;
  char m_inline[kInline];
  std::string m_heap;
};

// True when `name` (UTF-8) is a usable XML element or attribute name: a
// letter, '_', ':' or any non-ASCII character first, then also digits, '-'
// and '.'.
bool isXmlName(const char* name);

// Whole-text number parsing with surrounding blanks allowed and a leading '+'
// accepted; false (out untouched) for anything else or out of range.
bool parseXmlInt(std::string_view text, int* out);
bool parseXmlDouble(std::string_view text, double* out);

}  // namespace mox::detail
