// Documents parsed from literal text.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "mox_utils/xml/kelXMLFile.h"

namespace mox::test {

inline kelXMLFile parsedXml(const std::string& text) {
  kelXMLFile file;
  EXPECT_TRUE(file.openBuffer(text.data(), text.size())) << text;
  return file;
}

inline bool hasAttribute(const kelXMLNode& node, const wchar_t* name) {
  return node.getAttribute(name, L"\x1") != L"\x1";
}

}  // namespace mox::test
