#include "mox_utils/logging/kelLogger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/time/HiResTimer.h"
#include "support/RecordingLogSink.h"

namespace {

using mox::test::RecordingLogSink;
using mox::test::ScopedLogSink;

// A message is attributed to its caller: the macro's to the file-name part of
// __FILE__ and the calling line, checkPath's warning about a path shorter
// than three characters to the location it is handed. checkPath returns
// every path unchanged.
TEST(kelLoggerTest, MessagesAreAttributedToTheirCaller) {
  RecordingLogSink sink;
  ScopedLogSink installed(&sink);
  MOX_LOG(kelLogger::LOG_WARN)(L"%d %s", 7, L"x");
  const int macroLine = __LINE__ - 1;
  for (const wchar_t* path : {L"", L"C:", L"C:\\"}) {
    EXPECT_EQ(kelLogger::checkPath("C:\\src\\paths\\kelPath.cpp", 40, path), path);
  }
  std::wstring logged;
  for (const auto& m : sink.messages) {
    logged += mox::platform::utf8ToWide(m.source) + L"[" + std::to_wstring(m.line) + L"] " + std::to_wstring(m.type) +
              L"|" + m.text + L"\n";
  }
  EXPECT_EQ(logged, L"kelLoggerTest.cpp[" + std::to_wstring(macroLine) +
                        L"] 2|7 x\n"
                        L"kelPath.cpp[40] 2|Invalid path encountered \"\"\n"
                        L"kelPath.cpp[40] 2|Invalid path encountered \"C:\"\n");
}

// The buffer form copies at most length - 1 characters and zero-fills the
// rest of the buffer, and nothing beyond it. Without a logger object both
// forms fail and leave their output alone, and every other call is dropped.
TEST(kelLoggerTest, GetCurrentDirectoryNeedsALoggerObjectAndCutsToTheBuffer) {
  RecordingLogSink sink;
  sink.directory = L"D:\\logs\\2026-12-06\\";
  {
    ScopedLogSink installed(&sink);
    // The whole buffer after each call, zeros shown as '_': untouched
    // characters stay '#'.
    for (const auto& [length, expected] : {std::pair{1u, L"_###############################"},
                                           {19u, L"D:\\logs\\2026-12-06_#############"},
                                           {20u, L"D:\\logs\\2026-12-06\\_############"},
                                           {24u, L"D:\\logs\\2026-12-06\\_____########"}}) {
      SCOPED_TRACE(length);
      wchar_t buffer[32];
      std::wmemset(buffer, L'#', 32);
      EXPECT_TRUE(kelLogger::getCurrentDirectory(buffer, length));
      std::replace(buffer, buffer + 32, L'\0', L'_');
      EXPECT_EQ(std::wstring(buffer, 32), expected);
    }
  }
  const kelLogger::kelLogHelper helper("a.cpp", 1, kelLogger::LOG_FATAL);
  HiResTimer timer;
  helper(L"%d", 1);
  helper(kelLogger::STATS_FULL, L"x");
  helper(timer, L"y");
  kelLogger::logAction(L"t", L"i", 1, 1);
  kelLogger::logMouse(1, 2, 3);
  kelLogger::logKeyboard(4);
  EXPECT_EQ(kelLogger::checkPath("a.cpp", 40, L"C:"), L"C:");
  EXPECT_TRUE(sink.messages.empty() && sink.actions.empty());
  std::wstring directory = L"untouched";
  wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
  EXPECT_FALSE(kelLogger::getCurrentDirectory(directory));
  EXPECT_FALSE(kelLogger::getCurrentDirectory(buffer, 4));
  EXPECT_EQ(directory + std::wstring(buffer, 4), L"untouchedabcd");
}

// The type names joined by '/', for -1..10 and 1000.
std::wstring joinedTypeNames() {
  std::wstring joined;
  for (int t : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1000}) {
    const wchar_t* name = kelLoggerClass::getTypeName(static_cast<kelLogger::LogType>(t));
    joined += name != nullptr ? name : L"(null)";
    joined += L'/';
  }
  return joined;
}

TEST(kelLoggerClassTest, TypeNamesAppearOnRegistration) {
  // The table is process-wide and never emptied, so "before registration" is
  // checked in a fresh process: the threadsafe death-test style re-runs this
  // test alone in a new executable. Empty names then, never null.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(joinedTypeNames() == std::wstring(13, L'/') ? 0 : 1), testing::ExitedWithCode(0), "");

  kelLoggerClass::registerTypeNames();
  kelLoggerClass::registerTypeNames();  // every initialize registers again
  EXPECT_EQ(joinedTypeNames(),
            L"/LOG_FATAL/LOG_ERROR/LOG_WARN/LOG_INFO/LOG_DEBUG/LOG_TRACE/LOG_STATS/LOG_TIMER/LOG_ACTION////");
}

}  // namespace
