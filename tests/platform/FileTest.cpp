#include "mox_utils/platform/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"

namespace fs = std::filesystem;
using namespace mox::platform;

namespace {

class FileTest : public testing::Test {
 protected:
  // The directory in Windows form, with backslashes.
  std::wstring winDir() const { return m_scratch.windows(); }
  std::vector<std::string> names(const fs::path& dir) const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  mox::test::ScratchDir m_scratch;
  const fs::path& m_dir = m_scratch.path();
};

}  // namespace

TEST(PathTest, FindFileNameFollowsTheWindowsRules) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\work\\src\\probe.cpp", "probe.cpp"},
      {"probe.cpp", "probe.cpp"},
      {"C:\\work\\src\\", "src\\"},  // a trailing separator stays with the name
      {"C:\\work\\src", "src"},
      {"C:\\", "C:\\"},
      {"C:", "C:"},
      {"C:probe.cpp", "probe.cpp"},
      {"\\\\server\\share", "share"},
      {"\\\\server", "server"},
      {"dir\\\\file", "file"},
      {"dir\\\\", "dir\\\\"},
      {"/usr/lib/libmox.so", "libmox.so"},
      {"src/logging\\kelLogger.cpp", "kelLogger.cpp"},
      {"/", "/"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const char* name = pathFindFileNameA(c.path);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, c.name);
    // A pointer into the argument, not a copy.
    EXPECT_EQ(name, c.path + (std::strlen(c.path) - std::strlen(c.name)));
  }
  EXPECT_EQ(pathFindFileNameA(nullptr), nullptr);
}

TEST(PathTest, IsRelativeFollowsTheWindowsRules) {
  struct Case {
    const wchar_t* path;
    bool relative;
  } cases[] = {
      {L"", true},
      {L"probe.cpp", true},
      {L"..\\settings\\probes.xml", true},
      {L"settings/probes.xml", true},
      {L"C:\\work", false},
      {L"C:work", false},  // drive-relative counts as absolute
      {L"\\work", false},
      {L"\\\\server\\share", false},
      {L"/usr/share", false},  // Linux absolute
      {L"~/x", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(wideToUtf8(c.path));
    EXPECT_EQ(pathIsRelativeW(c.path), c.relative);
  }
  EXPECT_TRUE(pathIsRelativeW(nullptr));
}

TEST_F(FileTest, BackslashPathsReachFiles) {
  const std::wstring sub = winDir() + L"\\logs\\\u00c4rger";
  ASSERT_TRUE(createDirectories(sub));
  EXPECT_TRUE(directoryExists(sub));
  EXPECT_TRUE(fs::is_directory(m_dir / "logs" / "\xC3\x84rger"));  // UTF-8 on disk

  const std::wstring file = sub + L"\\probe.txt";
  ASSERT_TRUE(writeFileAtomically(file, "abc", 3));
  EXPECT_TRUE(fileExists(file));
  EXPECT_FALSE(fileExists(sub));
  EXPECT_FALSE(directoryExists(file));
  std::string text;
  ASSERT_TRUE(readWholeFile(file, &text));
  EXPECT_EQ(text, "abc");

  std::FILE* f = openFile(file, "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("def", f);
  std::fclose(f);
  ASSERT_TRUE(readWholeFile(file, &text));
  EXPECT_EQ(text, "abcdef");

  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(listDirectory(winDir() + L"\\logs", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"\u00c4rger");
  EXPECT_TRUE(entries[0].isDirectory);

  ASSERT_TRUE(renameFile(file, sub + L"\\moved.txt"));
  EXPECT_FALSE(fileExists(file));
  EXPECT_TRUE(removeFile(sub + L"\\moved.txt"));
  EXPECT_FALSE(removeFile(sub + L"\\moved.txt"));
  EXPECT_TRUE(removeTree(winDir() + L"\\logs"));
  EXPECT_FALSE(fs::exists(m_dir / "logs"));
}

TEST_F(FileTest, CreateDirectoryMakesOneLevelOnly) {
  EXPECT_FALSE(createDirectory(winDir() + L"\\a\\b"));  // parent missing
  EXPECT_TRUE(createDirectory(winDir() + L"\\a"));
  EXPECT_FALSE(createDirectory(winDir() + L"\\a"));  // exists already
  EXPECT_TRUE(createDirectory(winDir() + L"\\a\\b"));
  EXPECT_FALSE(createDirectory(L""));
}

TEST_F(FileTest, AtomicWriteReplacesWholeOrLeavesNoTemporary) {
  const std::wstring file = winDir() + L"\\state.bin";
  ASSERT_TRUE(writeFileAtomically(file, "old contents, longer", 20));
  ASSERT_TRUE(writeFileAtomically(file, "new", 3));
  std::string text;
  ASSERT_TRUE(readWholeFile(file, &text));
  EXPECT_EQ(text, "new");
  // The rename cannot replace a non-empty directory: the data was written
  // aside and must be cleaned up.
  fs::create_directories(m_dir / "target" / "inside");
  EXPECT_FALSE(writeFileAtomically(winDir() + L"\\target", "data", 4));
  EXPECT_EQ(names(m_dir), (std::vector<std::string>{"state.bin", "target"}));
  EXPECT_EQ(names(m_dir / "target"), std::vector<std::string>{"inside"});
  EXPECT_FALSE(writeFileAtomically(winDir() + L"\\missing\\f", "data", 4));  // no place to write at all
  EXPECT_FALSE(writeFileAtomically(L"", "data", 4));
}

TEST_F(FileTest, AbandonedAtomicFileKeepsTheOldFile) {
  const std::wstring file = winDir() + L"\\cine.dat";
  ASSERT_TRUE(writeFileAtomically(file, "kept", 4));
  {
    AtomicFile out;
    ASSERT_TRUE(out.open(file));
    EXPECT_FALSE(out.open(file));  // already open
    EXPECT_TRUE(out.write("half a fi", 9));
    EXPECT_EQ(names(m_dir).size(), 2u);  // the temporary beside the target
  }
  std::string text;
  ASSERT_TRUE(readWholeFile(file, &text));
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(names(m_dir), std::vector<std::string>{"cine.dat"});
}

TEST_F(FileTest, ReadWholeFileHonoursTheLimit) {
  const std::wstring file = winDir() + L"\\big";
  ASSERT_TRUE(writeFileAtomically(file, "0123456789", 10));
  std::string text = "untouched";
  EXPECT_FALSE(readWholeFile(file, &text, 9));
  EXPECT_EQ(text, "untouched");
  EXPECT_TRUE(readWholeFile(file, &text, 10));
  EXPECT_EQ(text, "0123456789");
  EXPECT_FALSE(readWholeFile(winDir(), &text));  // a directory is no file
  EXPECT_FALSE(readWholeFile(winDir() + L"\\none", &text));
}

TEST_F(FileTest, CreationTimeIsWhenTheFileWasWritten) {
  const std::wstring file = winDir() + L"\\new";
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(writeFileAtomically(file, "x", 1));
  const std::time_t after = std::time(nullptr);
  FILETIME ft;
  ASSERT_TRUE(creationTime(file, &ft));
  // In whole seconds; the file system's clock may lag by a tick.
  const auto seconds = static_cast<std::time_t>((fileTimeValue(ft) - kUnixEpochAsFileTime) / 10000000ULL);
  EXPECT_GE(seconds, before - 1);
  EXPECT_LE(seconds, after);
  EXPECT_FALSE(creationTime(winDir() + L"\\none", &ft));
}
