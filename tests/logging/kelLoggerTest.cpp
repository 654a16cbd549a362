#include "mox_utils/logging/kelLogger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/time/HiResTimer.h"
#include "support/RecordingLogSink.h"

namespace {

using kelLogger::kelLogHelper;
using mox::test::RecordingLogSink;
using mox::test::ScopedLogSink;

// The file-name rules themselves are those of pathFindFileNameA (see its
// tests); the helper must keep a pointer into the caller's text.
TEST(kelLoggerTest, HelperKeepsTheFileNamePartOfItsSource) {
  for (const char* path : {"C:\\work\\src\\probe.cpp", "/home/build/src/probe.cpp", "probe.cpp"}) {
    SCOPED_TRACE(path);
    const kelLogHelper helper(path, 12, kelLogger::LOG_INFO);
    EXPECT_STREQ(helper.source, "probe.cpp");
    EXPECT_EQ(helper.source, path + std::char_traits<char>::length(path) - 9);
  }
  const kelLogHelper doubled("a\\\\", 1, kelLogger::LOG_INFO);  // a doubled separator ends the path whole
  EXPECT_STREQ(doubled.source, "a\\\\");
}

TEST(kelLoggerTest, EverythingIsDroppedWithoutALoggerObject) {
  RecordingLogSink sink;
  { ScopedLogSink installed(&sink); }  // installed and removed again
  ASSERT_EQ(kelLogger::getLoggerCore(), nullptr);

  const kelLogHelper helper("a.cpp", 1, kelLogger::LOG_FATAL);
  HiResTimer timer;
  helper(L"%d", 1);
  helper(kelLogger::STATS_FULL, L"x");
  helper(timer, L"y");
  kelLogger::logAction(L"t", L"i", 1, 1);
  kelLogger::logMouse(1, 2, 3);
  kelLogger::logKeyboard(4);
  EXPECT_EQ(kelLogger::checkPath("a.cpp", 40, L"C:"), L"C:");
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_TRUE(sink.actions.empty());

  std::wstring directory = L"untouched";
  EXPECT_FALSE(kelLogger::getCurrentDirectory(directory));
  EXPECT_EQ(directory, L"untouched");

  wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
  EXPECT_FALSE(kelLogger::getCurrentDirectory(buffer, 4));
  EXPECT_EQ(std::wstring(buffer, 4), L"abcd");
}

TEST(kelLoggerTest, GetCurrentDirectoryCopiesTheSessionDirectory) {
  RecordingLogSink sink;
  sink.directory = L"D:\\logs\\2026-12-06\\";
  ScopedLogSink installed(&sink);

  std::wstring directory;
  EXPECT_TRUE(kelLogger::getCurrentDirectory(directory));
  EXPECT_EQ(directory, sink.directory);

  struct Case {
    unsigned int length;
    std::wstring expected;  // the first `length` characters of the buffer
  } cases[] = {
      {1, std::wstring(1, L'\0')},
      {4, std::wstring(L"D:\\") + L'\0'},
      {19, std::wstring(L"D:\\logs\\2026-12-06") + L'\0'},
      {20, std::wstring(L"D:\\logs\\2026-12-06\\") + L'\0'},
      {24, std::wstring(L"D:\\logs\\2026-12-06\\") + std::wstring(5, L'\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    wchar_t buffer[32];
    std::wmemset(buffer, L'#', 32);
    EXPECT_TRUE(kelLogger::getCurrentDirectory(buffer, c.length));
    EXPECT_EQ(std::wstring(buffer, c.length), c.expected);
    EXPECT_EQ(std::wstring(buffer + c.length, 32 - c.length), std::wstring(32 - c.length, L'#'));
  }
}

TEST(kelLoggerTest, CheckPathWarnsAboutShortPathsAtTheCallersLocation) {
  RecordingLogSink sink;
  ScopedLogSink installed(&sink);
  struct Case {
    const wchar_t* path;
    bool warns;
  } cases[] = {{L"C:", true}, {L"", true}, {L"a", true}, {L"C:\\", false}, {L"C:\\data\\probes.xml", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.warns << " " << std::wstring(c.path).size());
    sink.messages.clear();
    EXPECT_EQ(kelLogger::checkPath("C:\\src\\paths\\kelPath.cpp", 40, c.path), c.path);
    if (!c.warns) {
      EXPECT_TRUE(sink.messages.empty());
      continue;
    }
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].source, "kelPath.cpp");
    EXPECT_EQ(sink.messages[0].line, 40);
    EXPECT_EQ(sink.messages[0].type, kelLogger::LOG_WARN);
    EXPECT_EQ(sink.messages[0].text, L"Invalid path encountered \"" + std::wstring(c.path) + L"\"");
  }
}

TEST(kelLoggerClassTest, TypeNamesAppearOnRegistration) {
  const auto nameOf = [](int type) { return kelLoggerClass::getTypeName(static_cast<kelLogger::LogType>(type)); };
  const int types[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1000};
  // The table is process-wide and never emptied, so "before registration" is
  // checked in a fresh process: the threadsafe death-test style re-runs this
  // test alone in a new executable.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        for (int t : types) {
          if (nameOf(t) == nullptr || nameOf(t)[0] != L'\0') std::_Exit(1);
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");

  kelLoggerClass::registerTypeNames();
  kelLoggerClass::registerTypeNames();  // every initialize registers again
  const wchar_t* const names[] = {L"LOG_FATAL", L"LOG_ERROR", L"LOG_WARN",  L"LOG_INFO",  L"LOG_DEBUG",
                                  L"LOG_TRACE", L"LOG_STATS", L"LOG_TIMER", L"LOG_ACTION"};
  for (int t : types) {
    SCOPED_TRACE(t);
    ASSERT_NE(nameOf(t), nullptr);
    EXPECT_STREQ(nameOf(t), t >= 0 && t < 9 ? names[t] : L"");
  }
}

}  // namespace
