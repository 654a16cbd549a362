// The setup and variable descriptions of the sample installation in examples/.
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
    EXPECT_NE(info.unit, CValue::UNIT_UNKNOWN) << "every unit of the samples is in the unit table";
    EXPECT_NE(info.displayUnit, CValue::UNIT_UNKNOWN);
    EXPECT_NE(info.writePermission, PERMISSION_INVALID);
    EXPECT_NE(info.readPermission, PERMISSION_INVALID);
    if (node.getChildByName(L"range", false).isValid()) {
      EXPECT_TRUE(RangeInfo().Load(node.getChildByName(L"range", false)));
    }
  }
}

}  // namespace
