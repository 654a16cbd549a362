#include "mox_utils/metadata/VarInfo.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "XmlFixture.h"

namespace {

using mox::test::hasAttribute;
using mox::test::parsedXml;

void expectSame(const VarInfo& a, const VarInfo& b) {
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.writePermission, b.writePermission);
  EXPECT_EQ(a.readPermission, b.readPermission);
  EXPECT_EQ(a.unit, b.unit);
  EXPECT_EQ(a.displayUnit, b.displayUnit);
  EXPECT_EQ(a.description, b.description);
  EXPECT_EQ(a.categoryRoot, b.categoryRoot);
  EXPECT_EQ(a.categorySub, b.categorySub);
  EXPECT_EQ(a.isAlias, b.isAlias);
  EXPECT_EQ(a.fastUpdate, b.fastUpdate);
}

TEST(VarInfoTest, TypeStrings) {
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_GAINCURVE, true), L"gaincurve.alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_FLOAT, false), L"float");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_INVALID, false), L"");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_INVALID, true), L".alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_COUNT, false), L"");

  struct Case {
    const wchar_t* text;
    int type;
    bool alias;
  };
  const Case cases[] = {
      {L"gaincurve.alias", 3, true},   {L"float.aliasX", 1, true},  // anything after ".alias" is ignored
      {L"floatX", -1, false},          {L"float", 1, false},        {L"", -1, false}, {L".alias", -1, true},
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

TEST(VarInfoTest, LoadsEveryItem) {
  const kelXMLFile file = parsedXml(
      "<var id='tgc.depth' name='Tiefe \xC2\xB5' type='float.alias'>"
      "<unit disp='cm'>mm</unit><category root='imaging' sub='b-mode'/>"
      "<desc>Depth of the image</desc>"
      "<permissions><write>not on user</write><read>never</read></permissions>"
      "<fastupdate>1</fastupdate></var>");
  VarInfo info;
  ASSERT_TRUE(info.Load(file.getRootElement()));
  EXPECT_EQ(info.id, "tgc.depth");
  EXPECT_EQ(info.name, L"Tiefe \u00B5");
  EXPECT_EQ(info.type, VARTYPE_FLOAT);
  EXPECT_TRUE(info.isAlias);
  EXPECT_EQ(info.unit, CValue::UNIT_MILLIMETER);
  EXPECT_EQ(info.displayUnit, CValue::UNIT_CENTIMETER);
  EXPECT_EQ(info.categoryRoot, "imaging");
  EXPECT_EQ(info.categorySub, "b-mode");
  EXPECT_EQ(info.description, L"Depth of the image");
  EXPECT_EQ(info.writePermission, PERMISSION_NOT_ON_USER);
  EXPECT_EQ(info.readPermission, PERMISSION_NEVER);
  EXPECT_TRUE(info.fastUpdate);
}

TEST(VarInfoTest, LoadingReplacesEveryField) {
  const kelXMLFile full = parsedXml(
      "<var id='a' name='n' type='color'><unit disp='%'>dB</unit><category root='r'/><desc>d</desc>"
      "<permissions><write>never</write><read>never</read></permissions><fastupdate>1</fastupdate></var>");
  const kelXMLFile onlyId = parsedXml("<var id='b'/>");
  VarInfo info;
  ASSERT_TRUE(info.Load(full.getRootElement()));
  ASSERT_TRUE(info.Load(onlyId.getRootElement()));

  VarInfo expected;
  expected.id = "b";
  expected.type = VARTYPE_INVALID;  // no type text
  expected.unit = CValue::UnitFromString(L"");
  expected.displayUnit = CValue::UnitFromString(L"");
  expectSame(info, expected);
}

TEST(VarInfoTest, LoadResults) {
  const kelXMLFile noId = parsedXml("<var name='x' type='integer'/>");
  VarInfo info;
  EXPECT_FALSE(info.Load(noId.getRootElement()));
  EXPECT_EQ(info.name, L"x") << "the fields are filled even without id";

  info.id = "keep";
  EXPECT_FALSE(info.Load(kelXMLNode()));
  EXPECT_EQ(info.id, "keep");
  EXPECT_EQ(info.name, L"x");

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
      {"<v id='x'><fastupdate>true</fastupdate></v>", false},
      {"<v id='x'><fastupdate> 1</fastupdate></v>", false},
      {"<v id='x'><fastupdate/></v>", false},
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
  std::vector<VarInfo> infos(5);
  infos[0].id = "plain";
  infos[1].id = "geo.sector";
  infos[1].name = L"Sector \u00B0 width";
  infos[1].type = VARTYPE_SCANCONVERT;
  infos[1].isAlias = true;
  infos[1].unit = CValue::UNIT_DEGREE;
  infos[1].displayUnit = CValue::UNIT_RADIAN;
  infos[1].description = L"Opening <angle> & \"more\"";
  infos[1].categoryRoot = "imaging";
  infos[1].categorySub = "sector";
  infos[1].writePermission = PERMISSION_ONLY_ON_USER;
  infos[1].readPermission = PERMISSION_NEVER;
  infos[1].fastUpdate = true;
  infos[2].id = "units.only.display";
  infos[2].type = VARTYPE_POINT;
  infos[2].displayUnit = CValue::UNIT_MICROMETER;
  infos[3].id = "sub.only";
  infos[3].categorySub = "doppler";
  infos[3].readPermission = PERMISSION_NOT_ON_USER;
  infos[4].id = "unit.only";
  infos[4].unit = CValue::UNIT_BEATS_PER_MINUTE;
  infos[4].type = VARTYPE_BOOLEAN;

  for (std::size_t i = 0; i < infos.size(); ++i) {
    SCOPED_TRACE(i);
    kelXMLFile file;
    ASSERT_TRUE(file.create(L"var"));
    ASSERT_TRUE(infos[i].Store(file.getRootElement()));
    // Read back from the written text, not the same tree.
    const kelXMLFile reread = parsedXml(file.toString());
    VarInfo loaded;
    ASSERT_TRUE(loaded.Load(reread.getRootElement()));
    expectSame(loaded, infos[i]);
  }
}

TEST(VarInfoTest, StoreRemovesWhatIsNotSet) {
  const char* const old =
      "<var id='old' name='o' type='float' keep='yes'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<desc>old</desc><permissions><write>never</write><read>never</read></permissions>"
      "<fastupdate>1</fastupdate><extra/></var>";
  VarInfo info;
  info.id = "new";
  info.type = VARTYPE_FLOAT;
  info.unit = CValue::UNIT_UNKNOWN;
  info.displayUnit = CValue::UNIT_UNKNOWN;

  const kelXMLFile file = parsedXml(old);
  const kelXMLNode root = file.getRootElement();
  ASSERT_TRUE(info.Store(root));
  for (const wchar_t* child : {L"unit", L"category", L"desc", L"permissions", L"fastupdate"}) {
    SCOPED_TRACE(std::string(child, child + std::wcslen(child)));
    EXPECT_FALSE(root.getChildByName(child, false).isValid());
  }
  EXPECT_EQ(root.getAttribute(L"id", L""), L"new");
  EXPECT_EQ(root.getAttribute(L"name", L"?"), L"");
  EXPECT_EQ(root.getAttribute(L"keep", L""), L"yes");
  EXPECT_TRUE(root.getChildByName(L"extra", false).isValid());
}

TEST(VarInfoTest, StoreRemovesSingleItems) {
  const char* const old =
      "<var id='old'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<permissions><write>never</write><read>never</read></permissions></var>";
  VarInfo info;
  info.id = "v";
  info.unit = CValue::UNIT_NONE;
  info.displayUnit = CValue::UNIT_KILOHERTZ;
  info.categoryRoot = "r2";
  info.writePermission = PERMISSION_NOT_ON_USER;
  info.readPermission = PERMISSION_INVALID;

  const kelXMLFile file = parsedXml(old);
  const kelXMLNode root = file.getRootElement();
  ASSERT_TRUE(info.Store(root));

  const kelXMLNode unit = root.getChildByName(L"unit", false);
  ASSERT_TRUE(unit.isValid());
  EXPECT_EQ(unit.getValue(L"none"), L"none") << "the unit's text is removed";
  EXPECT_EQ(unit.getAttribute(L"disp", L""), L"kHz");

  const kelXMLNode category = root.getChildByName(L"category", false);
  EXPECT_EQ(category.getAttribute(L"root", L""), L"r2");
  EXPECT_FALSE(hasAttribute(category, L"sub"));

  const kelXMLNode permissions = root.getChildByName(L"permissions", false);
  EXPECT_EQ(permissions.getValueByName(L"write", L""), L"not on user");
  EXPECT_FALSE(permissions.getChildByName(L"read", false).isValid());
}

TEST(VarInfoTest, StoreIntoInvalidNode) {
  VarInfo info;
  info.id = "x";
  EXPECT_FALSE(info.Store(kelXMLNode()));
}

}  // namespace
