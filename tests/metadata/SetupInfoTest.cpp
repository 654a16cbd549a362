#include "mox_utils/metadata/SetupInfo.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "support/ScratchDir.h"
#include "support/XmlText.h"

namespace {

using mox::test::hasAttribute;
using mox::test::parsedXml;

// The probe list is read item by item like atoi, an empty item being code 0;
// a setup is complete with probes, app, master and factory.
TEST(SetupInfoTest, LoadReadsTheProbeListAndTellsCompleteness) {
  struct Case {
    const char* attributes;
    bool complete;
    std::set<int> probes;
  };
  const Case cases[] = {
      {"probe='3,1,3' app='2' master='3' factory='0'", true, {1, 3}},
      {"probe='4,,5' app='2' master='3' factory='0'", true, {0, 4, 5}},
      {"probe=' 12, -3 ,+8x,y' app='2' master='3' factory='0'", true, {-3, 0, 8, 12}},
      {"probe='99999999999,-99999999999' app='2' master='3' factory='0'", true, {INT_MIN, INT_MAX}},
      {"probe='1;2' app='2' master='3' factory='0'", true, {1}},
      {"probe='' app='2' master='3' factory='0'", false, {}},
      {"probe='1' app='-1' master='3' factory='0'", false, {1}},
      {"probe='1' app='2' factory='0'", false, {1}},
      {"probe='1' app='x' master='3' factory='0'", false, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    const kelXMLFile file = parsedXml(std::string("<setup ") + c.attributes + "/>");
    SetupInfo info;
    info.probes = {42};
    EXPECT_EQ(info.Load(file.getRootElement()), c.complete);
    EXPECT_EQ(info.probes, c.probes);
  }
}

TEST(SetupInfoTest, LoadFillsFieldsAndDefaults) {
  const kelXMLFile file = parsedXml("<s probe='5' app='2' master='3'/>");
  SetupInfo info;
  info.typeSelector = 7;
  info.factory = 1;
  EXPECT_FALSE(info.Load(file.getRootElement()));
  // Missing factory and version read as -1 and 0; typeSelector is not part
  // of the XML form.
  EXPECT_EQ(std::tie(info.app, info.master, info.factory, info.version, info.typeSelector),
            std::make_tuple(2, 3, -1, 0, 7));

  SetupInfo untouched;
  untouched.probes = {1};
  untouched.app = 4;
  EXPECT_FALSE(untouched.Load(kelXMLNode()));
  EXPECT_EQ(untouched.probes, std::set<int>{1});
  EXPECT_EQ(untouched.app, 4);
}

TEST(SetupInfoTest, StoreWritesEveryAttribute) {
  SetupInfo info;
  info.probes = {3, -2, 1};
  info.app = 10;
  info.master = 11;
  info.factory = 0;
  info.typeSelector = 5;  // not part of the XML form
  // The version is left at a new setup's 2.
  const kelXMLFile file = parsedXml("<setup research='77' other='x'/>");
  const kelXMLNode root = file.getRootElement();
  ASSERT_TRUE(info.Store(root, -1));
  EXPECT_EQ(file.toString(),
            "<?xml version=\"1.0\"?>\n<setup research=\"77\" other=\"x\" probe=\"-2,1,3\" app=\"10\" "
            "master=\"11\" factory=\"0\" version=\"2\" />\n");
  ASSERT_TRUE(info.Store(root, 0));
  EXPECT_EQ(root.getAttribute(L"research", L""), L"0");

  // An empty probe set is written as an empty list.
  const kelXMLFile other = parsedXml("<setup probe='1,2'/>");
  ASSERT_TRUE(SetupInfo().Store(other.getRootElement(), -1));
  EXPECT_TRUE(hasAttribute(other.getRootElement(), L"probe"));
  EXPECT_EQ(other.getRootElement().getAttribute(L"probe", L"?"), L"");
  EXPECT_FALSE(hasAttribute(other.getRootElement(), L"research"));
  EXPECT_FALSE(SetupInfo().Store(kelXMLNode(), 1));
}

TEST(SetupInfoTest, PresetType) {
  struct Case {
    int typeSelector, factory;
    PresetType expected;
  };
  const Case cases[] = {
      {-1, -1, PresetType(2)}, {-1, 0, PresetType(2)}, {0, 1, PresetType(0)}, {-1, 5, PresetType(0)},
      {1, -1, PresetType(1)},  {1, 1, PresetType(1)},  {3, 0, PresetType(1)}, {0, 0, PresetType(2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.typeSelector << "/" << c.factory);
    SetupInfo info;
    info.typeSelector = c.typeSelector;
    info.factory = c.factory;
    EXPECT_EQ(info.GetType(), c.expected);
  }
}

TEST(SetupInfoTest, UnreadableFilesLeaveTheObject) {
  const mox::test::ScratchDir dir;
  std::ofstream(dir / "broken.xml") << "<setup probe='1' app='2'";
  std::ofstream(dir / "empty.xml");
  SetupInfo info;
  info.app = 9;
  for (const char* name : {"missing.xml", "broken.xml", "empty.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(info.Load((dir / name).wstring().c_str()));
    EXPECT_EQ(info.app, 9);
  }
  EXPECT_FALSE(info.Load(static_cast<const wchar_t*>(nullptr)));
}

}  // namespace
