#include "mox_utils/xml/XmlText.h"

#include <charconv>
#include <system_error>

#include "mox_utils/platform/Text.h"

namespace mox::detail {

Utf8Name::Utf8Name(const wchar_t* name) {
  m_inline[0] = '\0';
  if (name == nullptr) return;
  std::size_t i = 0;
  for (; name[i] != L'\0'; ++i) {
    if (i + 1 >= kInline || static_cast<unsigned long>(name[i]) >= 0x80) {
      m_heap = mox::platform::wideToUtf8(name);  // never empty here
      return;
    }
    m_inline[i] = static_cast<char>(name[i]);
  }
  m_inline[i] = '\0';
}

namespace {

bool isNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

}  // namespace

bool isXmlName(const char* name) {
  if (name == nullptr || !isNameStart(static_cast<unsigned char>(name[0]))) return false;
  for (const char* p = name + 1; *p != '\0'; ++p)
    if (!isNameChar(static_cast<unsigned char>(*p))) return false;
  return true;
}

bool parseXmlInt(std::string_view text, int* out) {
  text = trim(text);
  if (text.empty()) return false;
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *out = value;
  return true;
}

bool parseXmlDouble(std::string_view text, double* out) {
  text = trim(text);
  if (text.empty()) return false;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *out = value;
  return true;
}

}  // namespace mox::detail
