// The setup and variable descriptions of the sample installation in examples/.
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mox_utils/metadata.h"
#include "mox_utils/xml/kelXMLFile.h"

namespace {

const std::wstring kSettings =
    std::wstring(MOX_SOURCE_DIR, MOX_SOURCE_DIR + sizeof(MOX_SOURCE_DIR) - 1) + L"/examples/settings/";

TEST(SampleDescriptionsTest, Setups) {
  struct Case {
    const wchar_t* file;
    bool complete;
    std::set<int> probes;
    int version;
    int type;
  };
  const Case cases[] = {
      {L"setups/abdomen.xml", true, {1, 4, 5}, 2, 0},
      {L"setups/cardiac_user.xml", true, {3, 8}, 1, 2},
      {L"setups/vascular.xml", true, {2, 7, 9}, 2, 0},
      {L"setups/incomplete.xml", false, {6}, 0, 2},
  };
  for (const Case& c : cases) {
    const std::wstring path = kSettings + c.file;
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    SetupInfo info;
    EXPECT_EQ(info.Load(path.c_str()), c.complete);
    EXPECT_EQ(info.probes, c.probes);
    EXPECT_EQ(info.version, c.version);
    EXPECT_EQ(info.GetType(), c.type);
  }
}

TEST(SampleDescriptionsTest, EveryVariableLoadsAndStoresBack) {
  kelXMLFile file;
  ASSERT_TRUE(file.open(kSettings + L"variables.xml", true));
  std::vector<kelXMLNode> nodes;
  ASSERT_GE(file.getRootElement().getChildrenByName(nodes, L"variable", false), 10);

  std::map<std::string, VarInfo> byId;
  for (const kelXMLNode& node : nodes) {
    VarInfo info;
    ASSERT_TRUE(info.Load(node));
    SCOPED_TRACE(info.id);
    EXPECT_NE(info.type, VARTYPE_INVALID);
    EXPECT_NE(info.unit, CValue::UNIT_UNKNOWN) << "every unit of the samples is in the unit table";
    EXPECT_NE(info.displayUnit, CValue::UNIT_UNKNOWN);
    EXPECT_NE(info.writePermission, PERMISSION_INVALID);
    EXPECT_NE(info.readPermission, PERMISSION_INVALID);

    const kelXMLNode rangeNode = node.getChildByName(L"range", false);
    if (rangeNode.isValid()) {
      RangeInfo range;
      EXPECT_TRUE(range.Load(rangeNode));
      kelXMLFile copy;
      ASSERT_TRUE(copy.create(L"range"));
      EXPECT_TRUE(range.Store(copy.getRootElement()));
      RangeInfo back;
      EXPECT_TRUE(back.Load(copy.getRootElement()));
      EXPECT_EQ(back, range);
    }

    // Storing over the element it came from changes nothing it reads.
    EXPECT_TRUE(info.Store(node));
    VarInfo again;
    ASSERT_TRUE(again.Load(node));
    EXPECT_EQ(again.type, info.type);
    EXPECT_EQ(again.unit, info.unit);
    EXPECT_EQ(again.displayUnit, info.displayUnit);
    EXPECT_EQ(again.description, info.description);
    EXPECT_EQ(again.fastUpdate, info.fastUpdate);
    byId[info.id] = info;
  }

  const VarInfo& depth = byId["B.Depth"];
  EXPECT_EQ(depth.type, VARTYPE_FLOAT);
  EXPECT_EQ(depth.unit, CValue::UNIT_MILLIMETER);
  EXPECT_EQ(depth.displayUnit, CValue::UNIT_CENTIMETER);
  EXPECT_EQ(depth.writePermission, PERMISSION_NOT_ON_USER);
  EXPECT_EQ(depth.readPermission, PERMISSION_NONE);
  EXPECT_TRUE(depth.fastUpdate);
  EXPECT_EQ(depth.categorySub, "B-Mode");

  const VarInfo& dynamic = byId["B.Dynamic"];
  EXPECT_EQ(dynamic.type, VARTYPE_INTEGER);
  EXPECT_TRUE(dynamic.isAlias);

  const VarInfo& scan = byId["B.ScanConvert"];
  EXPECT_EQ(scan.type, VARTYPE_SCANCONVERT);
  EXPECT_EQ(scan.writePermission, PERMISSION_NEVER);
  EXPECT_EQ(scan.readPermission, PERMISSION_ONLY_ON_USER);
  EXPECT_EQ(scan.unit, CValue::UNIT_NONE);

  EXPECT_EQ(byId["ECG.Rate"].unit, CValue::UNIT_BEATS_PER_MINUTE);
  EXPECT_EQ(byId["PW.Velocity"].displayUnit, CValue::UNIT_METER_PER_SECOND);
}

}  // namespace
