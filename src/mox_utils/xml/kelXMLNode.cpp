#include "mox_utils/xml/kelXMLNode.h"

#include <charconv>
#include <cstring>
#include <new>
#include <pugixml.hpp>

#include "mox_utils/platform/Text.h"
#include "mox_utils/xml/XmlText.h"

using mox::detail::Utf8Name;

namespace {

pugi::xml_node wrap(pugi::xml_node_struct* node) { return pugi::xml_node(node); }

bool isElement(const pugi::xml_node& node) { return node.type() == pugi::node_element; }

pugi::xml_node firstElement(pugi::xml_node node) {
  while (node && !isElement(node)) node = node.next_sibling();
  return node;
}

pugi::xml_node nextElement(const pugi::xml_node& node) { return firstElement(node.next_sibling()); }

// pugixml's child(name) also matches processing instructions; only elements
// count here. Its own search is the fast path; the walk below runs only when
// it lands on something else.
pugi::xml_node childElement(const pugi::xml_node& parent, const char* name) {
  const pugi::xml_node first = parent.child(name);
  if (!first || isElement(first)) return first;
  for (pugi::xml_node child = first.next_sibling(); child; child = child.next_sibling())
    if (isElement(child) && std::strcmp(child.name(), name) == 0) return child;
  return pugi::xml_node();
}

// Text values may hold anything the caller has; pugixml escapes what needs
// escaping on output.
std::string toUtf8(const wchar_t* text) { return text ? mox::platform::wideToUtf8(text) : std::string(); }

std::wstring orDefault(const wchar_t* defaultValue) {
  return defaultValue ? std::wstring(defaultValue) : std::wstring();
}

}  // namespace

kelXMLNode::kelXMLNode() : m_node(nullptr) {}
kelXMLNode::kelXMLNode(pugi::xml_node_struct* node) : m_node(node) {}
kelXMLNode::kelXMLNode(const kelXMLNode& other) = default;
kelXMLNode& kelXMLNode::operator=(const kelXMLNode& other) = default;
kelXMLNode::~kelXMLNode() = default;

bool kelXMLNode::isValid() const { return m_node != nullptr; }

std::wstring kelXMLNode::getName() const {
  if (!m_node) return std::wstring();
  return mox::platform::utf8ToWide(wrap(m_node).name());
}

kelXMLNode kelXMLNode::getFirstChild() const {
  if (!m_node) return kelXMLNode();
  return kelXMLNode(firstElement(wrap(m_node).first_child()).internal_object());
}

kelXMLNode kelXMLNode::getChildByName(const wchar_t* name, bool create) const {
  if (!m_node || name == nullptr) return kelXMLNode();
  const Utf8Name utf8(name);
  pugi::xml_node node = wrap(m_node);
  pugi::xml_node child = childElement(node, utf8.c_str());
  if (!child && create && mox::detail::isXmlName(utf8.c_str())) {
    try {
      child = node.append_child(utf8.c_str());
    } catch (const std::bad_alloc&) {
      child = pugi::xml_node();
    }
  }
  return kelXMLNode(child.internal_object());
}

int kelXMLNode::getChildrenByName(std::vector<kelXMLNode>& nodes, const wchar_t* name, bool append) const {
  if (!append) nodes.clear();
  if (!m_node || name == nullptr) return 0;
  const Utf8Name utf8(name);
  int count = 0;
  try {
    for (pugi::xml_node child = wrap(m_node).first_child(); child; child = child.next_sibling()) {
      if (isElement(child) && std::strcmp(child.name(), utf8.c_str()) == 0) {
        nodes.push_back(kelXMLNode(child.internal_object()));
        ++count;
      }
    }
  } catch (const std::bad_alloc&) {
  }
  return count;
}

bool kelXMLNode::switchToChildByName(const wchar_t* name) {
  if (!m_node || name == nullptr) return false;
  const Utf8Name utf8(name);
  pugi::xml_node child = childElement(wrap(m_node), utf8.c_str());
  if (!child) return false;
  m_node = child.internal_object();
  return true;
}

kelXMLNode& kelXMLNode::operator++() {
  if (m_node) m_node = nextElement(wrap(m_node)).internal_object();
  return *this;
}

kelXMLNode kelXMLNode::operator++(int) {
  kelXMLNode before(*this);
  ++*this;
  return before;
}

bool kelXMLNode::switchToNextElement() {
  ++*this;
  return m_node != nullptr;
}

std::wstring kelXMLNode::getAttribute(const wchar_t* name, const wchar_t* defaultValue) const {
  if (!m_node || name == nullptr) return orDefault(defaultValue);
  const pugi::xml_attribute attribute = wrap(m_node).attribute(Utf8Name(name).c_str());
  if (!attribute) return orDefault(defaultValue);
  return mox::platform::utf8ToWide(attribute.value());
}

std::string kelXMLNode::getAttributeANSI(const wchar_t* name, const char* defaultValue) const {
  const std::string fallback = defaultValue ? defaultValue : "";
  if (!m_node || name == nullptr) return fallback;
  const pugi::xml_attribute attribute = wrap(m_node).attribute(Utf8Name(name).c_str());
  if (!attribute) return fallback;
  return attribute.value();
}

int kelXMLNode::getAttributeInt(const wchar_t* name, int defaultValue) const {
  if (!m_node || name == nullptr) return defaultValue;
  const pugi::xml_attribute attribute = wrap(m_node).attribute(Utf8Name(name).c_str());
  int value = defaultValue;
  if (!attribute || !mox::detail::parseXmlInt(attribute.value(), &value)) return defaultValue;
  return value;
}

std::wstring kelXMLNode::getValue(const wchar_t* defaultValue) const {
  if (!m_node) return orDefault(defaultValue);
  const pugi::xml_text text = wrap(m_node).text();
  if (!text) return orDefault(defaultValue);
  return mox::platform::utf8ToWide(text.get());
}

std::wstring kelXMLNode::getValueByName(const wchar_t* childName, const wchar_t* defaultValue) const {
  if (!m_node || childName == nullptr) return orDefault(defaultValue);
  const pugi::xml_node child = childElement(wrap(m_node), Utf8Name(childName).c_str());
  if (!child) return orDefault(defaultValue);
  return mox::platform::utf8ToWide(child.text().get());
}

bool kelXMLNode::getInt(const wchar_t* childName, int& value) const {
  if (!m_node || childName == nullptr) return false;
  const pugi::xml_node child = childElement(wrap(m_node), Utf8Name(childName).c_str());
  return child && mox::detail::parseXmlInt(child.text().get(), &value);
}

bool kelXMLNode::getDouble(const wchar_t* childName, double& value) const {
  if (!m_node || childName == nullptr) return false;
  const pugi::xml_node child = childElement(wrap(m_node), Utf8Name(childName).c_str());
  return child && mox::detail::parseXmlDouble(child.text().get(), &value);
}

kelXMLNode kelXMLNode::createElement(const wchar_t* name, const wchar_t* value) const {
  if (!m_node || name == nullptr) return kelXMLNode();
  const Utf8Name utf8(name);
  if (!mox::detail::isXmlName(utf8.c_str())) return kelXMLNode();
  try {
    pugi::xml_node child = wrap(m_node).append_child(utf8.c_str());
    if (child && value != nullptr && !child.text().set(toUtf8(value).c_str())) {
      wrap(m_node).remove_child(child);
      return kelXMLNode();
    }
    return kelXMLNode(child.internal_object());
  } catch (const std::bad_alloc&) {
    return kelXMLNode();
  }
}

bool kelXMLNode::setElementChild(const wchar_t* name, const wchar_t* value, bool create) const {
  const kelXMLNode child = getChildByName(name, create);
  return child.setValue(value);
}

bool kelXMLNode::setValue(const wchar_t* value) const {
  if (!m_node) return false;
  try {
    return wrap(m_node).text().set(toUtf8(value).c_str());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool kelXMLNode::removeValue() const {
  if (!m_node) return false;
  pugi::xml_node node = wrap(m_node);
  pugi::xml_node child = node.first_child();
  while (child) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) node.remove_child(child);
    child = next;
  }
  return true;
}

bool kelXMLNode::setValueDouble(double value, int precision) const {
  if (!m_node) return false;
  char buffer[64];
  std::to_chars_result result;
  if (precision < 0) {
    result = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
  } else {
    const int digits = precision < 1 ? 1 : (precision > 17 ? 17 : precision);
    result = std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::general, digits);
  }
  if (result.ec != std::errc()) return false;
  *result.ptr = '\0';
  try {
    return wrap(m_node).text().set(buffer);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool kelXMLNode::setAttribute(const wchar_t* name, const wchar_t* value) const {
  if (!m_node || name == nullptr) return false;
  const Utf8Name utf8(name);
  if (!mox::detail::isXmlName(utf8.c_str())) return false;
  try {
    pugi::xml_node node = wrap(m_node);
    pugi::xml_attribute attribute = node.attribute(utf8.c_str());
    if (!attribute) attribute = node.append_attribute(utf8.c_str());
    return attribute && attribute.set_value(toUtf8(value).c_str());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool kelXMLNode::setAttribute(const wchar_t* name, const char* value) const {
  if (!m_node || name == nullptr) return false;
  try {
    // Through wide and back, so that invalid UTF-8 never reaches the file.
    const std::wstring wide = mox::platform::utf8ToWide(value ? value : "");
    return setAttribute(name, wide.c_str());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool kelXMLNode::setAttribute(const std::wstring& name, const std::wstring& value) const {
  return setAttribute(name.c_str(), value.c_str());
}

bool kelXMLNode::setAttributeInt(const wchar_t* name, int value) const {
  char digits[16];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  wchar_t buffer[16];
  std::size_t length = 0;
  for (const char* p = digits; p != result.ptr; ++p) buffer[length++] = static_cast<wchar_t>(*p);
  buffer[length] = L'\0';
  return setAttribute(name, buffer);
}

bool kelXMLNode::removeAttribute(const wchar_t* name) const {
  if (!m_node || name == nullptr) return false;
  return wrap(m_node).remove_attribute(Utf8Name(name).c_str());
}

bool kelXMLNode::removeChildByName(const wchar_t* name) const {
  if (!m_node || name == nullptr) return false;
  pugi::xml_node node = wrap(m_node);
  const pugi::xml_node child = childElement(node, Utf8Name(name).c_str());
  return child && node.remove_child(child);
}
