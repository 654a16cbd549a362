#include "mox_utils/paths/kelPath.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"

namespace {

// cleanFilePath collapses separators behind the first character only, so a
// network path keeps its two leading backslashes; cleanPath ends the result
// with exactly one backslash.
TEST(KelPathTest, CleanPaths) {
  struct Case {
    const wchar_t *in, *filePath, *path;
  } cases[] = {
      {L"", L"", L""},
      {L"\\", L"", L"\\\\"},
      {L"a", L"", L"a\\"},
      {L"ab", L"ab", L"ab\\"},
      {L"C:/data//presets", L"C:\\data\\presets", L"C:\\data\\presets\\"},
      {L"C:\\data\\\\\\presets\\\\", L"C:\\data\\presets\\", L"C:\\data\\presets\\"},
      {L"\\\\\\server\\share", L"\\\\server\\share", L"\\\\server\\share\\"},
      {L"//server/share", L"\\\\server\\share", L"\\\\server\\share\\"},
      {L"Mixed/Case\u00e9//X", L"Mixed\\Case\u00e9\\X", L"Mixed\\Case\u00e9\\X\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(mox::platform::wideToUtf8(c.in));
    EXPECT_EQ(kelPath::cleanFilePath(c.in), c.filePath);
    EXPECT_EQ(kelPath::cleanPath(c.in), c.path);
  }
}

class KelPathTableTest : public ::testing::Test {
 protected:
  void SetUp() override { kelPath::clear(); }
  void TearDown() override { kelPath::clear(); }

  // An installation root in Windows form (backslashes) holding the given
  // "pathconfig.xml".
  std::wstring installation(const std::string& config) {
    EXPECT_TRUE(mox::platform::writeFileAtomically(m_scratch.windows(L"pathconfig.xml"), config.data(), config.size()));
    return m_scratch.windows();
  }

  mox::test::ScratchDir m_scratch;
};

// A location that is not set gives the bare file name. The buffer form cuts
// the result, always terminates it and writes nothing beyond; it writes
// nothing at all for a length of 0 or less.
TEST_F(KelPathTableTest, GetPath) {
  EXPECT_EQ(kelPath::getPath(kelPath::Temp, L"cd.x"), L"cd.x");
  kelPath::setPath(kelPath::Temp, L"ab");  // the result is "ab\cd.x", seven characters
  EXPECT_EQ(kelPath::getPath(kelPath::Temp, L""), L"ab\\");
  struct Case {
    int length;
    const wchar_t *file, *expected;  // expected null: nothing written
  } cases[] = {{-1, L"cd.x", nullptr},    {0, L"cd.x", nullptr},     {1, L"cd.x", L""},    {4, L"cd.x", L"ab\\"},
               {8, L"cd.x", L"ab\\cd.x"}, {9, L"cd.x", L"ab\\cd.x"}, {9, nullptr, L"ab\\"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    wchar_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    kelPath::getPath(kelPath::Temp, buffer, c.length, c.file);
    const std::wstring written = c.expected != nullptr ? c.expected + std::wstring(1, L'\0') + L"#" : L"#";
    EXPECT_EQ(std::wstring(buffer, written.size()), written);
  }
}

// Every element after the first "path" is read whatever its name; a name
// that is not a location (wrong case, none at all) is stored under
// kUnknownLocation, and the later of two entries wins.
TEST_F(KelPathTableTest, PopulateReadsEveryEntryAfterTheFirstPath) {
  const std::wstring root = installation(
      "<config>\n"
      "  <ignored name='Icons' location='before/the/first/path'/>\n"
      "  <path name='Settings' location='settings'/>\n"
      "  <path name='Logs' location='/var/log/scanner'/>\n"
      "  <path name='Dump' location='E:\\cfg'/>\n"
      "  <path location='nameless'/>\n"
      "  <path name='settings' location='lower'/>\n"
      "  <path name='Temp'/>\n"
      "  <other name='Videos' location='videos//raw/'/>\n"
      "  <path name='Luts' location='luts-1'/>\n"
      "  <path name='Luts' location='luts-2'/>\n"
      "  <path name='3dMaps' location='maps'/>\n"
      "  <path name='CommonBaseProtocol' location='\\cbp'/>\n"
      "</config>\n");
  kelPath::setPath(kelPath::Firmware, L"/opt/fw");
  kelPath::setPath(kelPath::Icons, L"/kept");
  kelPath::populate(root + L"\\");

  const std::wstring r = kelPath::cleanPath(root);
  // Firmware and Icons stay: populate does not clear. No location names the
  // root itself (Temp).
  const std::map<int, std::wstring> expected = {
      {kelPath::kUnknownLocation, r + L"lower\\"},
      {kelPath::Settings, r + L"settings\\"},
      {kelPath::Icons, L"\\kept\\"},
      {kelPath::Firmware, L"\\opt\\fw\\"},
      {kelPath::Maps3d, r + L"maps\\"},
      {kelPath::Luts, r + L"luts-2\\"},
      {kelPath::Logs, L"\\var\\log\\scanner\\"},
      {kelPath::Dump, L"E:\\cfg\\"},
      {kelPath::Videos, r + L"videos\\raw\\"},
      {kelPath::Temp, r},
      {kelPath::CommonBaseProtocol, L"\\cbp\\"},
  };
  EXPECT_EQ(kelPath::snapshot(), expected);
}

TEST_F(KelPathTableTest, PopulateLeavesTableOnBadConfiguration) {
  const char* configs[] = {"", "<config>", "<config><notpath name='Logs' location='x'/></config>", "<path/>"};
  for (const char* config : configs) {
    SCOPED_TRACE(config);
    kelPath::clear();
    kelPath::setPath(kelPath::Logs, L"/old");
    kelPath::populate(installation(config));
    EXPECT_EQ(kelPath::snapshot(), (std::map<int, std::wstring>{{kelPath::Logs, L"\\old\\"}}));
  }
  kelPath::populate(L"");
  kelPath::populate(L"/nonexistent/installation");
  EXPECT_EQ(kelPath::snapshot().size(), 1u);
}

TEST_F(KelPathTableTest, Remap) {
  struct Case {
    const char* name;
    const wchar_t *path, *from, *to, *expected;  // expected null: only that it ends
  } cases[] = {
      {"slashes and doubles", L"C:\\scanner\\x", L"C:/scanner", L"D://scanner", L"D:\\scanner\\x\\"},
      {"middle and longer names", L"\\a\\scan\\scanner2", L"scan", L"probe", L"\\a\\probe\\probener2\\"},
      {"same after cleaning", L"C:\\scanner\\x", L"C:\\scanner", L"C://scanner", L"C:\\scanner\\x\\"},
      {"one-character old prefix is empty", L"C:\\x", L"C", L"D:", L"C:\\x\\"},
      {"search again from the start", L"C:\\aaab", L"aab", L"ab", L"C:\\ab\\"},
      {"old inside new", L"\\data\\old\\data", L"\\data", L"\\mnt\\data", L"\\mnt\\data\\old\\mnt\\data\\"},
      {"growing rewrite stops", L"\\abb", L"ab", L"bbaa", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kelPath::clear();
    kelPath::setPath(kelPath::Settings, c.path);
    kelPath::setPath(kelPath::Logs, L"\\untouched");
    kelPath::remap(c.from, c.to);
    if (c.expected != nullptr) {
      EXPECT_EQ(kelPath::getPath(kelPath::Settings, L""), c.expected);
    }
    EXPECT_EQ(kelPath::getPath(kelPath::Logs, L""), L"\\untouched\\");
  }
}

}  // namespace
