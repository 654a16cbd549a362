#include "mox_utils/metadata/SetupInfo.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "XmlFixture.h"
#include "mox_utils/metadata/VariableUtility.h"

namespace {

using mox::test::hasAttribute;
using mox::test::parsedXml;

TEST(SetupInfoTest, ProbeListReading) {
  struct Case {
    const char* probe;
    std::set<int> expected;
  };
  const Case cases[] = {
      {"3,1,3", {1, 3}},
      {"4,,5", {0, 4, 5}},  // an empty item is code 0
      {"7,", {7}},
      {"", {}},
      {",", {0}},
      {" 12, -3 ,+8x,y", {-3, 0, 8, 12}},
      {"99999999999,-99999999999", {INT_MIN, INT_MAX}},
      {"1;2", {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.probe);
    const kelXMLFile file =
        parsedXml(std::string("<setup probe='") + c.probe + "' app='1' master='2' factory='0' version='3'/>");
    SetupInfo info;
    info.probes = {42};
    info.Load(file.getRootElement());
    EXPECT_EQ(info.probes, c.expected);
  }
}

TEST(SetupInfoTest, LoadResult) {
  struct Case {
    const char* xml;
    bool expected;
    const char* why;
  };
  const Case cases[] = {
      {"<s probe='1' app='2' master='3' factory='0'/>", true, "complete"},
      {"<s probe='1' app='2' master='3'/>", false, "without factory"},
      {"<s probe='1' app='-1' master='3' factory='0'/>", false, "app present but -1"},
      {"<s probe='' app='2' master='3' factory='0'/>", false, "no probe"},
      {"<s app='2' master='3' factory='0'/>", false, "no probe attribute"},
      {"<s probe='1' app='2' factory='0'/>", false, "without master"},
      {"<s probe='1' app='x' master='3' factory='0'/>", false, "app not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const kelXMLFile file = parsedXml(c.xml);
    SetupInfo info;
    EXPECT_EQ(info.Load(file.getRootElement()), c.expected);
  }
}

TEST(SetupInfoTest, LoadFillsFieldsAndDefaults) {
  const kelXMLFile file = parsedXml("<s probe='5' app='2' master='3'/>");
  SetupInfo info;
  info.typeSelector = 7;
  info.factory = 1;
  EXPECT_EQ(info.version, 2) << "a new setup has version 2";
  EXPECT_FALSE(info.Load(file.getRootElement()));
  EXPECT_EQ(info.app, 2);
  EXPECT_EQ(info.master, 3);
  EXPECT_EQ(info.factory, -1);
  EXPECT_EQ(info.version, 0) << "a missing version reads as 0";
  EXPECT_EQ(info.typeSelector, 7) << "not part of the XML form";

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
  info.typeSelector = 5;

  const kelXMLFile file = parsedXml("<setup research='77' other='x'/>");
  const kelXMLNode root = file.getRootElement();
  ASSERT_TRUE(info.Store(root, -1));
  EXPECT_EQ(root.getAttribute(L"probe", L""), L"-2,1,3");
  EXPECT_EQ(root.getAttribute(L"app", L""), L"10");
  EXPECT_EQ(root.getAttribute(L"master", L""), L"11");
  EXPECT_EQ(root.getAttribute(L"factory", L""), L"0");
  EXPECT_EQ(root.getAttribute(L"version", L""), L"2");
  EXPECT_EQ(root.getAttribute(L"research", L""), L"77") << "-1 leaves an existing research value";
  EXPECT_EQ(root.getAttribute(L"other", L""), L"x");
  EXPECT_FALSE(hasAttribute(root, L"typeSelector"));

  ASSERT_TRUE(info.Store(root, 0));
  EXPECT_EQ(root.getAttribute(L"research", L""), L"0");

  SetupInfo back;
  ASSERT_TRUE(back.Load(root));
  EXPECT_EQ(back.probes, info.probes);
  EXPECT_EQ(back.version, 2);
}

TEST(SetupInfoTest, StoreAnEmptyProbeSet) {
  const kelXMLFile file = parsedXml("<setup probe='1,2'/>");
  const kelXMLNode root = file.getRootElement();
  ASSERT_TRUE(SetupInfo().Store(root, -1));
  EXPECT_TRUE(hasAttribute(root, L"probe"));
  EXPECT_EQ(root.getAttribute(L"probe", L"?"), L"");
  EXPECT_EQ(root.getAttribute(L"app", L""), L"-1");
  EXPECT_FALSE(hasAttribute(root, L"research"));
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
  EXPECT_EQ(SetupInfo().GetType(), 2);
}

class SetupFileTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            ("mox_setup_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::wstring write(const char* name, const std::string& text) {
    const std::filesystem::path path = m_dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.wstring();
  }

  std::filesystem::path m_dir;
};

TEST_F(SetupFileTest, LoadsTheRootElementOfAFile) {
  const std::wstring path =
      write("setup.xml", "<?xml version='1.0'?>\n<setup probe='12,4' app='1' master='0' factory='1' version='5'/>");
  SetupInfo info;
  ASSERT_TRUE(info.Load(path.c_str()));
  EXPECT_EQ(info.probes, (std::set<int>{4, 12}));
  EXPECT_EQ(info.version, 5);
  EXPECT_EQ(info.GetType(), 0);
}

TEST_F(SetupFileTest, UnreadableFilesLeaveTheObject) {
  SetupInfo info;
  info.app = 9;
  const std::wstring missing = (m_dir / "missing.xml").wstring();
  const std::wstring broken = write("broken.xml", "<setup probe='1' app='2'");
  const std::wstring empty = write("empty.xml", "");
  for (const std::wstring& path : {missing, broken, empty}) {
    EXPECT_FALSE(info.Load(path.c_str()));
    EXPECT_EQ(info.app, 9);
  }
  EXPECT_FALSE(info.Load(static_cast<const wchar_t*>(nullptr)));
}

TEST(VariableUtilityTest, AddAssignmentAppendsInCallOrder) {
  static const char kGain[] = "gain";
  static const char kDepth[] = "depth";
  std::vector<varAssignments> list;
  VariableUtility::AddAssignment(list, kGain, VARTYPE_INTEGER, ACCESS_READ);
  VariableUtility::AddAssignment(list, kDepth, VARTYPE_FLOAT, ACCESS_WRITE);
  VariableUtility::AddAssignment(list, kGain, VARTYPE_GAINCURVE, ACCESS_WRITE);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, kGain) << "the pointer is kept, not the text copied";
  EXPECT_EQ(list[0].type, VARTYPE_INTEGER);
  EXPECT_EQ(list[0].access, ACCESS_READ);
  EXPECT_EQ(list[1].name, kDepth);
  EXPECT_EQ(list[2].name, kGain);
  EXPECT_EQ(list[2].type, VARTYPE_GAINCURVE);
  EXPECT_EQ(list[2].access, ACCESS_WRITE);
}

}  // namespace
