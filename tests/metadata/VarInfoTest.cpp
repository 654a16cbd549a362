// Variable descriptions and value ranges in their XML form.
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "mox_utils/metadata/RangeInfo.h"
#include "mox_utils/metadata/VarInfo.h"
#include "support/XmlText.h"

namespace {

using mox::test::parsedXml;

auto fields(const VarInfo& v) {
  return std::make_tuple(v.id, v.name, v.type, v.writePermission, v.readPermission, v.unit, v.displayUnit,
                         v.description, v.categoryRoot, v.categorySub, v.isAlias, v.fastUpdate);
}

TEST(VarInfoTest, TypeStrings) {
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_GAINCURVE, true), L"gaincurve.alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_INVALID, true), L".alias");
  EXPECT_EQ(VarInfo::CreateTypeString(VARTYPE_COUNT, false), L"");
  const std::tuple<const wchar_t*, int, bool> cases[] = {
      {L"float.aliasX", 1, true},  // anything after ".alias" is ignored
      {L"floatX", -1, false},          {L"float", 1, false},        {L".alias", -1, true},
      {L"point.alias.alias", 9, true}, {L"point.Alias", -1, false},
  };
  for (const auto& [text, type, alias] : cases) {
    EVariableType loadedType = VARTYPE_STRING;
    bool loadedAlias = !alias;
    VarInfo::LoadTypeString(text, loadedType, loadedAlias);
    EXPECT_EQ(std::make_pair(static_cast<int>(loadedType), loadedAlias), std::make_pair(type, alias)) << text;
  }
}

const char* const kFullVariable =
    "<var id='tgc.depth' name='Tiefe \xC2\xB5' type='float.alias'>"
    "<unit disp='cm'>mm</unit><category root='imaging' sub='b-mode'/>"
    "<desc>Depth &lt;of&gt; &amp; \"the\" image</desc>"
    "<permissions><write>not on user</write><read>never</read></permissions>"
    "<fastupdate>1</fastupdate></var>";

TEST(VarInfoTest, LoadFillsEveryField) {
  VarInfo info;
  ASSERT_TRUE(info.Load(parsedXml(kFullVariable).getRootElement()));
  EXPECT_EQ(fields(info), std::make_tuple(std::string("tgc.depth"), std::wstring(L"Tiefe \u00B5"), VARTYPE_FLOAT,
                                          PERMISSION_NOT_ON_USER, PERMISSION_NEVER, CValue::UNIT_MILLIMETER,
                                          CValue::UNIT_CENTIMETER, std::wstring(L"Depth <of> & \"the\" image"),
                                          std::string("imaging"), std::string("b-mode"), true, true));

  // Loading another element replaces every field, absent items included; an
  // unknown permission text reads as -1.
  ASSERT_TRUE(
      info.Load(parsedXml("<v id='b'><permissions><write>sometimes</write></permissions></v>").getRootElement()));
  VarInfo expected;
  expected.id = "b";
  expected.type = VARTYPE_INVALID;
  expected.writePermission = PERMISSION_INVALID;
  EXPECT_EQ(fields(info), fields(expected));

  // Without an id the fields are filled all the same; an invalid node
  // changes nothing.
  EXPECT_FALSE(info.Load(parsedXml("<var name='x' type='integer'/>").getRootElement()));
  EXPECT_EQ(info.name, L"x");
  EXPECT_FALSE(info.Load(kelXMLNode()));
  EXPECT_EQ(info.name, L"x");

  // Fast update only for the element with the text "1".
  for (const char* xml :
       {"<v><fastupdate>01</fastupdate></v>", "<v><fastupdate> 1</fastupdate></v>", "<v fastupdate='1'/>"}) {
    info.Load(parsedXml(xml).getRootElement());
    EXPECT_FALSE(info.fastUpdate) << xml;
  }
}

TEST(VarInfoTest, StoreThenLoadGivesTheSameDescription) {
  // The last has items without their usual companions.
  const char* const texts[] = {kFullVariable, "<var id='plain'/>",
                               "<var id='partial' type='point'><unit disp='um'/><category sub='doppler'/>"
                               "<permissions><read>not on user</read></permissions></var>"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    VarInfo info;
    ASSERT_TRUE(info.Load(parsedXml(text).getRootElement()));
    kelXMLFile file;
    ASSERT_TRUE(file.create(L"var"));
    ASSERT_TRUE(info.Store(file.getRootElement()));
    // Read back from the written text, not the same tree.
    VarInfo loaded;
    ASSERT_TRUE(loaded.Load(parsedXml(file.toString()).getRootElement()));
    EXPECT_EQ(fields(loaded), fields(info));
  }
  EXPECT_FALSE(VarInfo().Store(kelXMLNode()));
}

// Items that are not set are removed, whole or in part (units 0 and 48 and
// permissions 0 and -1 count as not set); what the description does not
// name stays.
TEST(VarInfoTest, StoreRemovesWhatIsNotSet) {
  const kelXMLFile file = parsedXml(
      "<var id='old' name='o' type='float' keep='yes'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<desc>old</desc><permissions><write>never</write><read>never</read></permissions>"
      "<fastupdate>1</fastupdate><extra/></var>");
  VarInfo info;
  info.id = "new";
  info.unit = info.displayUnit = CValue::UNIT_UNKNOWN;
  info.readPermission = PERMISSION_INVALID;
  ASSERT_TRUE(info.Store(file.getRootElement()));
  EXPECT_EQ(file.toString(),
            "<?xml version=\"1.0\"?>\n<var id=\"new\" name=\"\" type=\"integer\" keep=\"yes\">\n  <extra />\n</var>\n");

  const kelXMLFile partial = parsedXml(
      "<var id='old'><unit disp='cm'>mm</unit><category root='r' sub='s'/>"
      "<permissions><write>never</write><read>never</read></permissions></var>");
  info.unit = CValue::UNIT_NONE;
  info.displayUnit = CValue::UNIT_KILOHERTZ;
  info.categoryRoot = "r2";
  info.writePermission = PERMISSION_NOT_ON_USER;
  ASSERT_TRUE(info.Store(partial.getRootElement()));
  EXPECT_EQ(partial.toString(),
            "<?xml version=\"1.0\"?>\n<var id=\"new\" name=\"\" type=\"integer\">\n  <unit disp=\"kHz\" />\n"
            "  <category root=\"r2\" />\n  <permissions>\n    <write>not on user</write>\n  </permissions>\n</var>\n");
  info.categoryRoot.clear();
  info.categorySub = "s2";
  ASSERT_TRUE(info.Store(partial.getRootElement()));
  EXPECT_EQ(partial.getRootElement().getChildByName(L"category", false).getAttribute(L"root", L"none"), L"none");
}

RangeInfo range(const wchar_t* start, const wchar_t* step, const wchar_t* stop) {
  RangeInfo r;
  r.start = start;
  r.step = step;
  r.stop = stop;
  return r;
}

// The texts are kept as they are; without start the load fails but fills
// the fields; an invalid node changes nothing.
TEST(RangeInfoTest, LoadKeepsTheTexts) {
  RangeInfo r;
  ASSERT_TRUE(r.Load(parsedXml("<range start=' 1.50' step='0.5' stop='1e1'/>").getRootElement()));
  EXPECT_EQ(r, range(L" 1.50", L"0.5", L"1e1"));
  EXPECT_FALSE(r.Load(parsedXml("<range step='1' stop='2'/>").getRootElement()));
  EXPECT_EQ(r, range(L"", L"1", L"2"));
  EXPECT_FALSE(r.Load(kelXMLNode()));
  EXPECT_EQ(r, range(L"", L"1", L"2"));
}

// Start is always written, also when empty; an empty step or stop is
// removed (a step that is already absent included).
TEST(RangeInfoTest, StoreWritesStartAndRemovesEmptyStepAndStop) {
  const kelXMLFile file = parsedXml("<range start='9' stop='20' other='x'/>");
  EXPECT_TRUE(range(L"0", L"", L"").Store(file.getRootElement()));
  EXPECT_EQ(file.toString(), "<?xml version=\"1.0\"?>\n<range start=\"0\" other=\"x\" />\n");
  EXPECT_TRUE(range(L"", L"2", L"4").Store(file.getRootElement()));
  EXPECT_EQ(file.toString(), "<?xml version=\"1.0\"?>\n<range start=\"\" other=\"x\" step=\"2\" stop=\"4\" />\n");
  EXPECT_FALSE(range(L"1", L"", L"").Store(kelXMLNode()));
}

TEST(RangeInfoTest, EqualityComparesEachText) {
  const RangeInfo base = range(L"1", L"2", L"3");
  for (const RangeInfo& other : {range(L"0", L"2", L"3"), range(L"1", L"0", L"3"), range(L"1", L"2", L"")}) {
    EXPECT_NE(base, other);
  }
  EXPECT_FALSE(base != range(L"1", L"2", L"3"));
}

}  // namespace
