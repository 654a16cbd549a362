#include "mox_utils/xml/kelXMLNode.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "mox_utils/xml/kelXMLFile.h"
#include "support/XmlText.h"

namespace {

using mox::test::parsedXml;

TEST(XmlNodeTest, StepsOverEverythingButElements) {
  const kelXMLFile file = parsedXml(
      "<probes>text<!--c--><?pi x?><probe id='1'/>more<probe id='2'/><other id='3'/>"
      "<![CDATA[z]]></probes>");
  kelXMLNode node = file.getRootElement().getFirstChild();
  std::vector<int> ids;
  for (; node.isValid(); ++node) ids.push_back(node.getAttributeInt(L"id", -1));
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
  ++node;  // stepping an invalid node keeps it invalid
  EXPECT_FALSE(node.isValid());

  kelXMLNode cursor = file.getRootElement().getFirstChild();
  EXPECT_TRUE(cursor.switchToNextElement());
  EXPECT_TRUE(cursor.switchToNextElement());
  EXPECT_FALSE(cursor.switchToNextElement());
  EXPECT_FALSE(cursor.isValid());
  // A processing instruction is not a child element, even by its name.
  EXPECT_FALSE(file.getRootElement().getChildByName(L"pi", false).isValid());
}

TEST(XmlNodeTest, ChildLookupByName) {
  const kelXMLFile file = parsedXml("<r><a n='1'/><b/><a n='2'/><a n='3'/></r>");
  kelXMLNode root = file.getRootElement();

  std::vector<kelXMLNode> nodes(1);
  EXPECT_EQ(root.getChildrenByName(nodes, L"a", true), 3);
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_FALSE(nodes[0].isValid());
  EXPECT_EQ(nodes[3].getAttributeInt(L"n", 0), 3);
  EXPECT_EQ(root.getChildrenByName(nodes, L"b", false), 1);
  EXPECT_EQ(nodes.size(), 1u);
  EXPECT_EQ(root.getChildrenByName(nodes, L"zz", true), 0);

  kelXMLNode cursor = root;
  EXPECT_FALSE(cursor.switchToChildByName(L"zz"));
  EXPECT_EQ(cursor.getName(), L"r") << "a failed switch does not move";
  EXPECT_TRUE(cursor.switchToChildByName(L"a"));
  EXPECT_EQ(cursor.getAttributeInt(L"n", 0), 1);

  EXPECT_FALSE(root.getChildByName(L"c", false).isValid());
  ASSERT_TRUE(root.getChildByName(L"c", true).isValid());
  EXPECT_EQ(root.getChildByName(L"c", false).getName(), L"c");
  EXPECT_FALSE(root.getChildByName(L"not a name", true).isValid());
}

TEST(XmlNodeTest, InvalidNodeGivesDefaultsAndRefusesWrites) {
  kelXMLNode node;
  EXPECT_EQ(node.getAttribute(L"a", nullptr), L"");
  EXPECT_EQ(node.getAttributeANSI(L"a", "def"), "def");
  EXPECT_EQ(node.getAttributeInt(L"a", 17), 17);
  EXPECT_EQ(node.getValueByName(L"a", L"def"), L"def");
  int i = 5;
  double d = 2.5;
  EXPECT_FALSE(node.getInt(L"a", i) || node.getDouble(L"a", d));
  EXPECT_EQ(i + d, 7.5);
  EXPECT_FALSE(node.getFirstChild().isValid() || node.createElement(L"a", nullptr).isValid());
  EXPECT_FALSE(node.setValue(L"x") || node.setValueDouble(1.0) || node.setAttribute(L"a", L"b") ||
               node.setElementChild(L"a", L"b", true) || node.removeChildByName(L"a") || node.removeAttribute(L"a"));
}

TEST(XmlNodeTest, NumbersReadFromChildText) {
  struct Case {
    const char* text;
    std::optional<int> asInt;  // empty: refused, leaving the value alone
    std::optional<double> asDouble;
  } cases[] = {
      {"42", 42, 42.0},
      {"  -7\n", -7, -7.0},
      {"2147483647", INT32_MAX, 2147483647.0},
      {"-2147483648", INT32_MIN, -2147483648.0},
      {"2147483648", {}, 2147483648.0},
      {"-1.5e-3", {}, -0.0015},
      {"", {}, {}},
      {"12abc", {}, {}},
      {"0x10", {}, {}},
      {"+-1", {}, {}},
      {"1e999", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const kelXMLFile file = parsedXml(std::string("<r><n>") + c.text + "</n></r>");
    const kelXMLNode root = file.getRootElement();
    int i = -99;
    double d = -99.0;
    EXPECT_EQ(root.getInt(L"n", i), c.asInt.has_value());
    EXPECT_EQ(i, c.asInt.value_or(-99));
    EXPECT_EQ(root.getDouble(L"n", d), c.asDouble.has_value());
    EXPECT_EQ(d, c.asDouble.value_or(-99.0));
    EXPECT_FALSE(root.getInt(L"missing", i));
  }
}

TEST(XmlNodeTest, DefaultPrecisionRoundTripsEveryDouble) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {0.0,           -0.0,    0.1,      1.0 / 3.0, -2.5e-7,
                                6.02214076e23, DBL_MAX, -DBL_MAX, DBL_MIN,   std::numeric_limits<double>::denorm_min(),
                                inf,           -inf};
  std::mt19937_64 bits(12345);
  while (values.size() < 500) {
    const std::uint64_t raw = bits();
    double value;
    std::memcpy(&value, &raw, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
  }
  kelXMLFile file;
  ASSERT_TRUE(file.create(L"root"));
  const auto name = [](std::size_t i) { return L"v" + std::to_wstring(i); };
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_TRUE(file.getRootElement().createElement(name(i).c_str(), nullptr).setValueDouble(values[i], -1));
  // Read back through a fresh parse of the written text, as another program
  // would.
  const kelXMLFile reread = parsedXml(file.toString());
  const kelXMLNode copy = reread.getRootElement();
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i]);
    double read = 0.0;
    ASSERT_TRUE(copy.getDouble(name(i).c_str(), read));
    EXPECT_EQ(std::memcmp(&read, &values[i], sizeof read), 0) << copy.getValueByName(name(i).c_str(), L"");
  }
}

TEST(XmlNodeTest, ExplicitPrecisionCountsSignificantDigits) {
  struct Case {
    double value;
    int precision;
    const wchar_t* text;
  } cases[] = {
      {3.14159, 3, L"3.14"},
      {3.14159, 0, L"3"},
      {1234567.0, 3, L"1.23e+06"},
      {0.5, 17, L"0.5"},
      {2.0 / 3.0, 99, L"0.66666666666666663"},
  };
  kelXMLFile file;
  ASSERT_TRUE(file.create(L"root"));
  const kelXMLNode root = file.getRootElement();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.precision);
    ASSERT_TRUE(root.setValueDouble(c.value, c.precision));
    EXPECT_EQ(root.getValue(L""), c.text);
  }
}

TEST(XmlNodeTest, WritersEditTheTree) {
  const kelXMLFile file = parsedXml("<r a='1' b='2'>old<x>1</x><y/><x>2</x></r>");
  const kelXMLNode root = file.getRootElement();

  EXPECT_TRUE(root.setElementChild(L"x", L"10", false));
  EXPECT_FALSE(root.setElementChild(L"z", L"5", false));
  EXPECT_TRUE(root.setElementChild(L"z", L"5", true));
  EXPECT_TRUE(root.setAttributeInt(L"c", -2147483647 - 1));
  EXPECT_TRUE(root.setAttribute(std::wstring(L"a"), std::wstring(L"one")));
  EXPECT_FALSE(root.setAttribute(L"bad name", L"v"));
  EXPECT_TRUE(root.removeAttribute(L"b"));
  EXPECT_TRUE(root.removeAttribute(L"b")) << "already absent";
  EXPECT_TRUE(root.removeChildByName(L"y"));
  EXPECT_TRUE(root.removeChildByName(L"y"));
  EXPECT_TRUE(root.removeValue());
  EXPECT_FALSE(root.createElement(L"", L"v").isValid());
  EXPECT_FALSE(root.createElement(L"9", L"v").isValid());

  EXPECT_EQ(file.toString(),
            "<?xml version=\"1.0\"?>\n"
            "<r a=\"one\" c=\"-2147483648\">\n"
            "  <x>10</x>\n"
            "  <x>2</x>\n"
            "  <z>5</z>\n"
            "</r>\n");

  EXPECT_TRUE(root.setValue(L"new"));
  EXPECT_EQ(root.getValue(L"none"), L"new");
  EXPECT_EQ(root.getChildByName(L"x", false).getValue(L""), L"10") << "children stay";
}

}  // namespace
