// Setup descriptions, and the setups and variables of the sample installation
// in examples/.
#include <climits>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "mox_utils/metadata.h"
#include "support/ScratchDir.h"
#include "support/XmlText.h"

namespace {

using mox::test::parsedXml;

const std::wstring kSettings =
    std::wstring(MOX_SOURCE_DIR, MOX_SOURCE_DIR + sizeof(MOX_SOURCE_DIR) - 1) + L"/examples/settings/";

// The probe list is read item by item like atoi, an empty item being code 0;
// a setup is complete with probes, app, master and factory. Missing numbers
// read as -1, a missing version as 0 (not a new setup's 2); typeSelector is
// not part of the XML form, and an invalid node changes nothing.
TEST(SetupInfoTest, LoadReadsEveryAttributeAndTellsCompleteness) {
  const std::tuple<const char*, bool, std::set<int>, int, int, int, int> cases[] = {
      // attributes, complete, probes, app, master, factory, version
      {"probe='3,1,3' app='2' master='3' factory='0' version='5'", true, {1, 3}, 2, 3, 0, 5},
      {"probe='4,,5' app='2' master='3' factory='1'", true, {0, 4, 5}, 2, 3, 1, 0},
      {"probe=' 12, -3 ,+8x,y' app='2' master='3' factory='0'", true, {-3, 0, 8, 12}, 2, 3, 0, 0},
      {"probe='99999999999,-99999999999' app='2' master='3' factory='0'", true, {INT_MIN, INT_MAX}, 2, 3, 0, 0},
      {"probe='1;2' app='2' master='3' factory='0'", true, {1}, 2, 3, 0, 0},
      {"probe='' app='2' master='3' factory='0'", false, {}, 2, 3, 0, 0},
      {"probe='1' app='-1' master='3' factory='0'", false, {1}, -1, 3, 0, 0},
      {"probe='1' app='x' master='3' factory='0'", false, {1}, -1, 3, 0, 0},
      {"probe='1' app='2' factory='0'", false, {1}, 2, -1, 0, 0},
      {"probe='1' app='2' master='3'", false, {1}, 2, 3, -1, 0},
  };
  for (const auto& [attributes, complete, probes, app, master, factory, version] : cases) {
    SCOPED_TRACE(attributes);
    SetupInfo info;
    info.probes = {42};
    info.typeSelector = 7;
    info.app = info.master = info.factory = 9;
    EXPECT_EQ(info.Load(parsedXml(std::string("<setup ") + attributes + "/>").getRootElement()), complete);
    EXPECT_FALSE(info.Load(kelXMLNode()));
    EXPECT_EQ(std::tie(info.probes, info.app, info.master, info.factory, info.version, info.typeSelector),
              std::make_tuple(probes, app, master, factory, version, 7));
  }
}

// Probes ascending; "research" written only when asked for, an existing one
// kept otherwise; an empty probe set as an empty list.
TEST(SetupInfoTest, StoreWritesEveryAttribute) {
  SetupInfo info;
  info.probes = {3, -2, 1};
  info.app = 10;
  info.master = 11;
  info.factory = 0;
  info.typeSelector = 5;
  info.version = 12;
  const kelXMLFile file = parsedXml("<setup research='77' other='x'/>");
  ASSERT_TRUE(info.Store(file.getRootElement(), -1));
  EXPECT_EQ(file.toString(),
            "<?xml version=\"1.0\"?>\n<setup research=\"77\" other=\"x\" probe=\"-2,1,3\" app=\"10\" "
            "master=\"11\" factory=\"0\" version=\"12\" />\n");
  const kelXMLFile other = parsedXml("<setup probe='1,2'/>");
  ASSERT_TRUE(SetupInfo().Store(other.getRootElement(), 0));
  EXPECT_EQ(other.toString(),
            "<?xml version=\"1.0\"?>\n<setup probe=\"\" app=\"-1\" master=\"-1\" factory=\"-1\" version=\"2\" "
            "research=\"0\" />\n");
  EXPECT_FALSE(SetupInfo().Store(kelXMLNode(), 1));
}

TEST(SetupInfoTest, PresetType) {
  const int cases[][3] = {// typeSelector, factory, type
                          {-1, -1, PRESET_USER},   {0, 0, PRESET_USER},      {0, 1, PRESET_FACTORY},
                          {-1, 5, PRESET_FACTORY}, {1, -1, PRESET_SELECTED}, {1, 1, PRESET_SELECTED}};
  for (const auto& c : cases) {
    SetupInfo info;
    info.typeSelector = c[0];
    info.factory = c[1];
    EXPECT_EQ(info.GetType(), c[2]) << c[0] << "/" << c[1];
  }
}

// The setups of the sample installation in examples/ load (incomplete.xml
// names no master); files that cannot be read leave the object as it was.
TEST(SetupInfoTest, LoadFromFile) {
  const mox::test::ScratchDir dir;
  std::ofstream(dir / "broken.xml") << "<setup probe='1' app='2'";
  std::ofstream(dir / "empty.xml");
  const std::tuple<std::wstring, bool, std::set<int>, int, PresetType> cases[] = {
      {kSettings + L"setups/abdomen.xml", true, {1, 4, 5}, 2, PRESET_FACTORY},
      {kSettings + L"setups/cardiac_user.xml", true, {3, 8}, 1, PRESET_USER},
      {kSettings + L"setups/vascular.xml", true, {2, 7, 9}, 2, PRESET_FACTORY},
      {kSettings + L"setups/incomplete.xml", false, {6}, 0, PRESET_USER},
      {dir.wide("missing.xml"), false, {42}, 2, PRESET_FACTORY},
      {dir.wide("broken.xml"), false, {42}, 2, PRESET_FACTORY},
      {dir.wide("empty.xml"), false, {42}, 2, PRESET_FACTORY},
  };
  for (const auto& [path, complete, probes, version, type] : cases) {
    SCOPED_TRACE(path);
    SetupInfo info;
    info.probes = {42};
    info.factory = 1;
    EXPECT_EQ(info.Load(path.c_str()), complete);
    EXPECT_EQ(std::tie(info.probes, info.version), std::tie(probes, version));
    EXPECT_EQ(info.GetType(), type);
  }
  EXPECT_FALSE(SetupInfo().Load(static_cast<const wchar_t*>(nullptr)));
}

// Every variable of the samples loads, with types, units and permissions
// that are all in their tables, and so does every range.
TEST(SampleDescriptionsTest, EveryVariableLoads) {
  kelXMLFile file;
  ASSERT_TRUE(file.open(kSettings + L"variables.xml", true));
  std::vector<kelXMLNode> nodes;
  ASSERT_GE(file.getRootElement().getChildrenByName(nodes, L"variable", false), 10);
  for (const kelXMLNode& node : nodes) {
    VarInfo info;
    ASSERT_TRUE(info.Load(node));
    SCOPED_TRACE(info.id);
    EXPECT_NE(info.type, VARTYPE_INVALID);
    EXPECT_NE(info.unit, CValue::UNIT_UNKNOWN);
    EXPECT_NE(info.displayUnit, CValue::UNIT_UNKNOWN);
    EXPECT_NE(info.writePermission, PERMISSION_INVALID);
    EXPECT_NE(info.readPermission, PERMISSION_INVALID);
    const kelXMLNode range = node.getChildByName(L"range", false);
    EXPECT_TRUE(!range.isValid() || RangeInfo().Load(range));
  }
}

}  // namespace
