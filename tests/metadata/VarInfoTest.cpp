#include "mox_utils/metadata/VarInfo.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/XmlText.h"

namespace {

using mox::test::hasAttribute;
using mox::test::parsedXml;

auto fields(const VarInfo& v) {
  return std::make_tuple(v.id, v.name, v.type, v.writePermission, v.readPermission, v.unit, v.displayUnit,
                         v.description, v.categoryRoot, v.categorySub, v.isAlias, v.fastUpdate);
}

TEST(VarInfoTest, TypeStrings) {
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_GAINCURVE, true), L"gaincurve.alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_INVALID, true), L".alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_COUNT, false), L"");

  struct Case {
    const wchar_t* text;
    int type;
    bool alias;
  };
  const Case cases[] = {
      {L"float.aliasX", 1, true},  // anything after ".alias" is ignored
      {L"floatX", -1, false},          {L"float", 1, false},        {L".alias", -1, true},
      {L"point.alias.alias", 9, true}, {L"point.Alias", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.text + std::wcslen(c.text)));
    EVariableType type = VARTYPE_STRING;
    bool alias = !c.alias;
    VarInfo::LoadTypeString(c.text, type, alias);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(alias, c.alias);
  }
}

const char* const kFullVariable =
    "<var id='tgc.depth' name='Tiefe \xC2\xB5' type='float.alias'>"
    "<unit disp='cm'>mm</unit><category root='imaging' sub='b-mode'/>"
    "<desc>Depth &lt;of&gt; &amp; \"the\" image</desc>"
    "<permissions><write>not on user</write><read>never</read></permissions>"
    "<fastupdate>1</fastupdate></var>";

TEST(VarInfoTest, LoadsEveryItem) {
  const kelXMLFile file = parsedXml(kFullVariable);
  VarInfo info;
  ASSERT_TRUE(info.Load(file.getRootElement()));
  EXPECT_EQ(fields(info), std::make_tuple(std::string("tgc.depth"), std::wstring(L"Tiefe \u00B5"), VARTYPE_FLOAT,
                                          PERMISSION_NOT_ON_USER, PERMISSION_NEVER, CValue::UNIT_MILLIMETER,
                                          CValue::UNIT_CENTIMETER, std::wstring(L"Depth <of> & \"the\" image"),
                                          std::string("imaging"), std::string("b-mode"), true, true));

  // Loading another element replaces every field, absent items included.
  const kelXMLFile onlyId = parsedXml("<var id='b'/>");
  ASSERT_TRUE(info.Load(onlyId.getRootElement()));
  VarInfo expected;
  expected.id = "b";
  expected.type = VARTYPE_INVALID;
  expected.unit = expected.displayUnit = CValue::UNIT_NONE;
  EXPECT_EQ(fields(info), fields(expected));
}

TEST(VarInfoTest, LoadResults) {
  const kelXMLFile noId = parsedXml("<var name='x' type='integer'/>");
  VarInfo info;
  EXPECT_FALSE(info.Load(noId.getRootElement()));
  EXPECT_EQ(info.name, L"x") << "the fields are filled even without id";

  info.id = "keep";
  EXPECT_FALSE(info.Load(kelXMLNode()));
  EXPECT_EQ(info.id, "keep");

  const kelXMLFile badPermission = parsedXml("<var id='p'><permissions><write>sometimes</write></permissions></var>");
  ASSERT_TRUE(info.Load(badPermission.getRootElement()));
  EXPECT_EQ(info.writePermission, PERMISSION_INVALID);
  EXPECT_EQ(info.readPermission, PERMISSION_NONE);
}

TEST(VarInfoTest, FastUpdateOnlyForTheTextOne) {
  struct Case {
    const char* xml;
    bool expected;
  };
  const Case cases[] = {
      {"<v id='x'><fastupdate>1</fastupdate></v>", true},
      {"<v id='x'><fastupdate>01</fastupdate></v>", false},
      {"<v id='x'><fastupdate> 1</fastupdate></v>", false},
      {"<v id='x' fastupdate='1'/>", false},  // an attribute is not the element
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    const kelXMLFile file = parsedXml(c.xml);
    VarInfo info;
    ASSERT_TRUE(info.Load(file.getRootElement()));
    EXPECT_EQ(info.fastUpdate, c.expected);
  }
}

TEST(VarInfoTest, StoreThenLoadGivesTheSameDescription) {
  // The last has items without their usual companions.
  const char* const texts[] = {kFullVariable, "<var id='plain'/>",
                               "<var id='partial' type='point'><unit disp='um'/><category sub='doppler'/>"
                               "<permissions><read>not on user</read></permissions></var>"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const kelXMLFile source = parsedXml(text);
    VarInfo info;
    ASSERT_TRUE(info.Load(source.getRootElement()));
    kelXMLFile file;
    ASSERT_TRUE(file.create(L"var"));
    ASSERT_TRUE(info.Store(file.getRootElement()));
    // Read back from the written text, not the same tree.
    const kelXMLFile reread = parsedXml(file.toString());
    VarInfo loaded;
    ASSERT_TRUE(loaded.Load(reread.getRootElement()));
    EXPECT_EQ(fields(loaded), fields(info));
  }
  EXPECT_FALSE(VarInfo().Store(kelXMLNode()));
}

TEST(VarInfoTest, StoreRemovesWhatIsNotSet) {
  const kelXMLFile file = parsedXml(
      "<var id='old' name='o' type='float' keep='yes'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<desc>old</desc><permissions><write>never</write><read>never</read></permissions>"
      "<fastupdate>1</fastupdate><extra/></var>");
  const kelXMLNode root = file.getRootElement();
  VarInfo info;
  info.id = "new";
  info.unit = info.displayUnit = CValue::UNIT_UNKNOWN;
  ASSERT_TRUE(info.Store(root));
  for (const wchar_t* child : {L"unit", L"category", L"desc", L"permissions", L"fastupdate"}) {
    EXPECT_FALSE(root.getChildByName(child, false).isValid()) << child;
  }
  EXPECT_EQ(root.getAttribute(L"name", L"?"), L"");
  EXPECT_EQ(root.getAttribute(L"keep", L""), L"yes");
  EXPECT_TRUE(root.getChildByName(L"extra", false).isValid());

  // Within an item, only the parts that are not set go.
  info.unit = CValue::UNIT_NONE;
  info.displayUnit = CValue::UNIT_KILOHERTZ;
  info.categoryRoot = "r2";
  info.writePermission = PERMISSION_NOT_ON_USER;
  const kelXMLFile partial = parsedXml(
      "<var id='old'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<permissions><write>never</write><read>never</read></permissions></var>");
  const kelXMLNode node = partial.getRootElement();
  ASSERT_TRUE(info.Store(node));
  const kelXMLNode unit = node.getChildByName(L"unit", false);
  EXPECT_EQ(unit.getValue(L"none"), L"none") << "the unit's text is removed";
  EXPECT_EQ(unit.getAttribute(L"disp", L""), L"kHz");
  EXPECT_FALSE(hasAttribute(node.getChildByName(L"category", false), L"sub"));
  const kelXMLNode permissions = node.getChildByName(L"permissions", false);
  EXPECT_EQ(permissions.getValueByName(L"write", L""), L"not on user");
  EXPECT_FALSE(permissions.getChildByName(L"read", false).isValid());
}

}  // namespace
