#include "mox_utils/logging/kelLoggerClass.h"

#include <climits>
#include <cstring>

#include "LogTestSupport.h"
#include "mox_utils/logging/kelLoggerCore.h"
#include "mox_utils/time/HiResTimer.h"

using logtest::FakeConsole;
using logtest::fileTimeOf;
using logtest::readFile;
using logtest::splitLines;

namespace {

class KelLoggerClassTest : public logtest::LoggerTest {
 protected:
  void writeFilterFile(const std::string& name, const std::string& text) { std::ofstream(m_root / name) << text; }
  std::wstring filterPath(const std::string& name) { return mox::platform::utf8ToWide((m_root / name).string()); }
};

const char kStartBanner[] =
    "10:00:00.000|LOG_INFO|kelLoggerClass.cpp[90]|\n******************************\n** Starting Logging Session "
    "**\n******************************\n\n";
const char kEndBanner[] =
    "10:00:00.000|LOG_INFO|kelLoggerClass.cpp[54]|\n****************************\n** Ending Logging Session "
    "**\n****************************\n\n";

}  // namespace

TEST_F(KelLoggerClassTest, SessionDirectoriesAreDatedNumberedAndReused) {
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  std::wstring directory;
  ASSERT_TRUE(kelLogger::getCurrentDirectory(directory));
  EXPECT_EQ(directory, m_base + L"2024-03\\05\\Session 001\\");

  // A second initialize the same day opens the next session and moves there.
  const auto day = logs() / "2024-03" / "05";
  EXPECT_EQ(start(), day / "Session 002/");
  kelLoggerClass::terminate();
  EXPECT_FALSE(kelLogger::getCurrentDirectory(directory));

  // An empty session directory is taken again; one holding a file, or a file
  // of that name, is not.
  std::filesystem::create_directory(day / "Session 003");
  std::filesystem::remove(day / "Session 002" / "events.log");
  std::filesystem::remove(day / "Session 002" / "errors.log");
  EXPECT_EQ(start(), day / "Session 002/");
  kelLoggerClass::terminate();
  std::ofstream(day / "Session 004") << "x";
  std::filesystem::create_directory(day / "Session 002" / "keep");
  std::filesystem::create_directory(day / "Session 003" / "keep");
  EXPECT_EQ(start(), day / "Session 005/");
}

TEST_F(KelLoggerClassTest, LinesGoToEventsLogWithTheirPrefixAndStandardStreamsFollow) {
  const auto dir = start();
  m_clock.advanceMs(7091);
  kelLogger::kelLogHelper("C:\\work\\src\\SerialConnection.cpp", 148, kelLogger::LOG_ERROR)(
      L"SendData/WriteFile failed with error %d", 5);
  m_clock.advanceMs(1);
  kelLogger::kelLogHelper("probe.cpp", 12, kelLogger::LOG_INFO)(L"%s \u00e9 %S %I64d%%", L"gr\u00fc\u00df",
                                                                "\xE2\x82\xAC", -1LL);
  HiResTimer timer;
  kelLogger::kelLogHelper("t.cpp", 9, kelLogger::LOG_ERROR)(timer, L"scan %d", 3);
  std::printf("from printf\n");
  std::fprintf(stderr, "from stderr\n");
  m_clock.setUtc(fileTimeOf(2024, 3, 5, 10, 0, 0, 0));
  finish();

  EXPECT_EQ(readFile(dir / "events.log"),
            std::string(kStartBanner) +
                "10:00:07.091|LOG_ERROR|SerialConnection.cpp[148]|SendData/WriteFile failed with error 5\n"
                "10:00:07.092|LOG_INFO|probe.cpp[12]|gr\xC3\xBC\xC3\x9F \xC3\xA9 \xE2\x82\xAC -1%\n"
                "10:00:07.092|LOG_TIMER|t.cpp[9]|scan 3 -- Duration: 0(ms)\n"
                "from printf\n" +
                kEndBanner);
  EXPECT_EQ(readFile(dir / "errors.log"), "from stderr\n");
}

TEST_F(KelLoggerClassTest, PrefixAndMessageAreCutAtTheirLimits) {
  const auto dir = start();
  // Two-byte characters: the limits count characters, not bytes.
  const std::wstring longMessage(3000, L'\u00e9');
  const std::string longSource(1500, 's');
  kelLogger::kelLogHelper("a.cpp", 1, kelLogger::LOG_WARN)(L"%s", longMessage.c_str());
  kelLogger::kelLogHelper(longSource.c_str(), 2, kelLogger::LOG_WARN)(L"tail");
  kelLogger::kelLogHelper("b.cpp", 3, kelLogger::LOG_WARN)(L"%s", L"50% %d");
  kelLogger::kelLogHelper(
      "pr\xC3\xBC"
      "fung.cpp",
      -5, kelLogger::LOG_DEBUG)(L"x");
  kelLogger::kelLogHelper("c.cpp", INT_MIN, static_cast<kelLogger::LogType>(42))(L"y");
  finish();

  const auto lines = splitLines(readFile(dir / "events.log"));
  ASSERT_GE(lines.size(), 12u);
  const std::wstring first = mox::platform::utf8ToWide(lines[5]);
  const std::wstring firstPrefix = L"10:00:00.000|LOG_WARN|a.cpp[1]|";
  EXPECT_EQ(first, firstPrefix + longMessage.substr(0, 2047));
  // 1023 characters of prefix: 22 before the source, then the source cut.
  EXPECT_EQ(lines[6], "10:00:00.000|LOG_WARN|" + longSource.substr(0, 1023 - 22) + "tail");
  EXPECT_EQ(lines[7], "10:00:00.000|LOG_WARN|b.cpp[3]|50% %d");
  EXPECT_EQ(lines[8],
            "10:00:00.000|LOG_DEBUG|pr\xC3\xBC"
            "fung.cpp[-5]|x");
  EXPECT_EQ(lines[9], "10:00:00.000||c.cpp[-2147483648]|y");  // no name for a type outside 0..8
}

TEST_F(KelLoggerClassTest, WindowFiltersFeedTheConsoleText) {
  const auto dir = start();
  FakeConsole console;
  kelLoggerClass::setConsole(&console);
  kelLogger::kelLogHelper("a.cpp", 1, kelLogger::LOG_WARN)(L"nothing for the window %d", 1);
  std::wstring text = L"untouched";
  kelLoggerClass::getWindowLog(text);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(console.posts.load(), 0);

  kelLoggerClass::core()->addWindowFilter(FilterKey{"*", kelLogger::LOG_WARN});
  kelLoggerClass::core()->addWindowFilter(FilterKey{"b.cpp", kelLogger::LOG_STATS});
  kelLogger::kelLogHelper("a.cpp", 2, kelLogger::LOG_WARN)(L"warn %s", L"\u00e9");
  kelLogger::kelLogHelper("a.cpp", 3, kelLogger::LOG_INFO)(L"info is not wanted");
  console.visible = false;
  kelLogger::kelLogHelper("a.cpp", 4, kelLogger::LOG_WARN)(L"hidden window");
  console.visible = true;
  kelLoggerClass::getWindowLog(text);
  EXPECT_EQ(text, L"10:00:00.000|LOG_WARN|a.cpp[2]|warn \u00e9\n");
  EXPECT_EQ(console.posts.load(), 1);
  kelLoggerClass::getWindowLog(text);
  EXPECT_EQ(text, L"");

  // Statistics: the memory report follows in the window text only; a plain
  // LOG_STATS message carries the full report.
  kelLogger::kelLogHelper("b.cpp", 5, kelLogger::LOG_ERROR)(kelLogger::STATS_WORKING_SET, L"ws");
  kelLogger::kelLogHelper("b.cpp", 6, kelLogger::LOG_STATS)(L"full");
  kelLoggerClass::getWindowLog(text);
  const auto lines = splitLines(mox::platform::wideToUtf8(text));
  // The report starts on a new line and ends with one; the line's own end
  // follows it.
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "10:00:00.000|LOG_STATS|b.cpp[5]|ws");
  ASSERT_EQ(lines[1].rfind("\tWorking Set Size:\t\t\t", 0), 0u);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "MB");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "10:00:00.000|LOG_STATS|b.cpp[6]|full");
  EXPECT_EQ(lines[14], "");
  const char* labels[] = {"\tPage Fault Count:\t\t\t",         "\tPeak Working Set Size:\t\t\t",
                          "\tWorking Set Size:\t\t\t",         "\tQuota Peak Paged Pool Usage:\t\t",
                          "\tQuota Paged Pool Usage:\t\t\t",   "\tQuota Peak Non Paged Pool Usage:\t",
                          "\tQuota Non Paged Pool Usage:\t\t", "\tPagefile Usage:\t\t\t\t",
                          "\tPeak Pagefile Usage:\t\t\t",      "\tPrivate Usage:\t\t\t\t"};
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(labels[i]);
    const std::string& line = lines[4 + i];
    ASSERT_EQ(line.rfind(labels[i], 0), 0u);
    const std::string value = line.substr(std::strlen(labels[i]));
    EXPECT_EQ(value.size() >= 2 && value.substr(value.size() - 2) == "MB", i != 0);
  }
  // The working set of a running test is well above zero.
  EXPECT_GT(std::stod(lines[6].substr(std::strlen(labels[2]))), 0.1);
  EXPECT_EQ(console.posts.load(), 3);

  finish();
  const std::string events = readFile(dir / "events.log");
  EXPECT_NE(events.find("|LOG_STATS|b.cpp[5]|ws\n10:00:00.000|LOG_STATS|b.cpp[6]|full\n"), std::string::npos);
  EXPECT_EQ(events.find("Working Set"), std::string::npos);
}

TEST_F(KelLoggerClassTest, DateChangeMovesEveryFileIntoTheNewDay) {
  // Local time runs two hours ahead of UTC here: the date that counts is the
  // local one.
  mox::platform::ManualClock clock(fileTimeOf(2024, 3, 5, 21, 59, 59, 990), 2 * logtest::kHour, 100);
  mox::platform::setClockSource(&clock);
  const auto oldDir = start();
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_ACTION}, L"actions.xml");
  EXPECT_EQ(oldDir, logs() / "2024-03" / "05" / "Session 001/");
  kelLogger::kelLogHelper("a.cpp", 1, kelLogger::LOG_INFO)(L"before");
  clock.advanceMs(15);
  kelLogger::kelLogHelper("a.cpp", 2, kelLogger::LOG_INFO)(L"after");
  const auto newDir = session();
  finish();

  EXPECT_EQ(newDir, logs() / "2024-03" / "06" / "Session 001/");
  const std::string detected = "00:00:00.005|Date change detected, log continues on 03/06/2024 (MM/DD/YYYY)...\n";
  const std::string occurred = "00:00:00.005|Date change occurred, log continued from 03/05/2024 (MM/DD/YYYY)...\n";
  const std::string oldEvents = readFile(oldDir / "events.log");
  EXPECT_EQ(oldEvents.substr(oldEvents.size() - detected.size()), detected);
  EXPECT_NE(oldEvents.find("23:59:59.990|LOG_INFO|a.cpp[1]|before\n"), std::string::npos);
  EXPECT_EQ(readFile(oldDir / "errors.log"), detected);
  const std::string newEvents = readFile(newDir / "events.log");
  EXPECT_EQ(newEvents.rfind(occurred + "00:00:00.005|LOG_INFO|a.cpp[2]|after\n", 0), 0u);
  EXPECT_EQ(readFile(newDir / "errors.log"), occurred);
  // The action log is closed in the old session and opened anew in the new.
  for (const auto& dir : {oldDir, newDir}) {
    const std::string actions = readFile(dir / "actions.xml");
    EXPECT_EQ(actions.rfind("<?xml version=\"1.0\" ?>\n<action_log res_width=\"", 0), 0u) << dir;
    EXPECT_EQ(actions.substr(actions.size() - 14), "</action_log>\n") << dir;
  }
}

TEST_F(KelLoggerClassTest, OldDirectoriesBelowTheBaseAreRemoved) {
  std::filesystem::create_directories(logs() / "2019-01" / "03" / "Session 001");
  std::filesystem::create_directory(logs() / "anything");
  std::ofstream(logs() / "a-file") << "kept";
  // Created now: young at today's date, older than the cut-off ten years on.
  const std::uint64_t now =
      mox::platform::kUnixEpochAsFileTime + static_cast<std::uint64_t>(time(nullptr)) * 10000000ULL;
  m_clock.setUtc(now);
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  kelLoggerClass::terminate();
  EXPECT_TRUE(std::filesystem::exists(logs() / "2019-01"));
  EXPECT_TRUE(std::filesystem::exists(logs() / "anything"));

  // Every directory carries a real creation time while the clock runs ten
  // years ahead, so the new session's own directories go as well here.
  m_clock.setUtc(now + 10ULL * 366 * 24 * 3600 * 10000000ULL);
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  EXPECT_FALSE(std::filesystem::exists(logs() / "2019-01"));
  EXPECT_FALSE(std::filesystem::exists(logs() / "anything"));
  EXPECT_TRUE(std::filesystem::exists(logs() / "a-file"));
}

TEST_F(KelLoggerClassTest, AnUnusableBaseLeavesTheLoggerRunningWithoutFiles) {
  std::ofstream(m_root / "blocked") << "a file where the base directory should be";
  const std::wstring base = mox::platform::utf8ToWide((m_root / "blocked").string()) + L"/";
  ASSERT_TRUE(kelLoggerClass::initialize(base.c_str(), 6));
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_ERROR}, L"errors-only.log");
  kelLogger::kelLogHelper("a.cpp", 1, kelLogger::LOG_ERROR)(L"goes nowhere");
  kelLogger::kelLogHelper("a.cpp", 1, kelLogger::LOG_INFO)(L"standard output stays where it was");
  kelLogger::logAction(L"button", L"freeze", 1, 0);
  std::wstring directory;
  EXPECT_TRUE(kelLogger::getCurrentDirectory(directory));
  finish();
  EXPECT_EQ(readFile(m_root / "blocked"), "a file where the base directory should be");
}

TEST_F(KelLoggerClassTest, FilterFileRoutesBySourceAndLevel) {
  writeFilterFile("filters.xml", R"(<?xml version="1.0"?>
<logfilters>
  <filefilter source="SerialConnection.cpp" level="LOG_ERROR" file="serial.log"/>
  <filefilter source="*" level="LOG_ERROR" file="NULL"/>
  <filefilter source="*" level="LOG_DEBUG,LOG_TRACE" file="first.log"/>
  <filefilter source="*" level="LOG_DEBUG LOG_TRACE" file="debug.log"/>
  <filefilter source="*" level="ERROR" file="never.log"/>
  <unknown source="*" level="*" file="unknown.log"/>
  <windowfilter source="probe.cpp" level="LOG_WARN,LOG_INFO"/>
</logfilters>)");
  const auto dir = start();
  std::vector<kelLoggerClass::FilterMessage> messages;
  kelLoggerClass::loadFilters(filterPath("filters.xml").c_str(), &messages);
  EXPECT_TRUE(messages.empty());

  struct Case {
    const char* source;
    kelLogger::LogType type;
    const wchar_t* file;
    bool window;
  } cases[] = {
      {"SerialConnection.cpp", kelLogger::LOG_ERROR, L"serial.log", false},
      {"Other.cpp", kelLogger::LOG_ERROR, L"NULL", false},
      {"SerialConnection.cpp", kelLogger::LOG_WARN, L"", false},
      {"a.cpp", kelLogger::LOG_DEBUG, L"debug.log", false},
      {"a.cpp", kelLogger::LOG_TRACE, L"debug.log", false},
      {"probe.cpp", kelLogger::LOG_WARN, L"", true},
      {"probe.cpp", kelLogger::LOG_INFO, L"", true},
      {"probe.cpp", kelLogger::LOG_ERROR, L"NULL", false},
      {"Probe.cpp", kelLogger::LOG_WARN, L"", false},  // sources are case-sensitive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + std::to_string(c.type));
    const auto route = kelLoggerClass::core()->describeRoute(c.source, c.type);
    EXPECT_EQ(route.file, c.file);
    EXPECT_EQ(route.window, c.window);
  }

  kelLogger::kelLogHelper("x\\SerialConnection.cpp", 148, kelLogger::LOG_ERROR)(L"to serial");
  kelLogger::kelLogHelper("Other.cpp", 1, kelLogger::LOG_ERROR)(L"dropped");
  kelLogger::kelLogHelper("Other.cpp", 2, kelLogger::LOG_TRACE)(L"to debug");
  finish();
  EXPECT_EQ(readFile(dir / "serial.log"), "10:00:00.000|LOG_ERROR|SerialConnection.cpp[148]|to serial\n");
  EXPECT_EQ(readFile(dir / "debug.log"), "10:00:00.000|LOG_TRACE|Other.cpp[2]|to debug\n");
  // Replaced by a later filter for the same keys: open, and empty.
  EXPECT_TRUE(std::filesystem::exists(dir / "first.log"));
  EXPECT_EQ(readFile(dir / "first.log"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "never.log"));
  EXPECT_FALSE(std::filesystem::exists(dir / "unknown.log"));
  EXPECT_EQ(readFile(dir / "events.log").find("dropped"), std::string::npos);
}

TEST_F(KelLoggerClassTest, BrokenFilterFilesAreReportedAndLeaveTheLoggerWorking) {
  writeFilterFile("good.xml", R"(<f><filefilter source="*" level="LOG_WARN" file="warn.log"/></f>)");
  writeFilterFile("empty.xml", "");
  writeFilterFile("text.xml", "this is not XML");
  writeFilterFile("unknown.xml", R"(<f><other/><filefilters/></f>)");
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  kelLoggerCore* core = kelLoggerClass::core();

  struct Case {
    const char* file;
    std::vector<int> lines;  // the loader's messages, by source line
    const wchar_t* warnTarget;
  } cases[] = {
      {"good.xml", {158}, L"warn.log"},  {"missing.xml", {163}, L"warn.log"},  // the old filters stay
      {"empty.xml", {163}, L"warn.log"}, {"text.xml", {163}, L"warn.log"},    {"unknown.xml", {137, 158}, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<kelLoggerClass::FilterMessage> messages;
    kelLoggerClass::loadFilters(filterPath(c.file).c_str(), &messages);
    std::vector<int> lines;
    for (const auto& m : messages) lines.push_back(m.line);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(core->describeRoute("a.cpp", kelLogger::LOG_WARN).file, c.warnTarget);
  }
  const auto dir = session();
  finish();
  const std::string events = readFile(dir / "events.log");
  EXPECT_NE(events.find("|LOG_ERROR|kelLoggerClass.cpp[163]|loadFilters - Could not open filter file\n"),
            std::string::npos);
  EXPECT_NE(events.find("|LOG_INFO|kelLoggerClass.cpp[158]|loadFilters - Could find any debug window filters\n"),
            std::string::npos);
  EXPECT_NE(events.find("|LOG_WARN|kelLoggerClass.cpp[137]|loadFilters - Could find any file filters\n"),
            std::string::npos);
}
