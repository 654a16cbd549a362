#include "mox_utils/logging/kelLoggerClass.h"

#include <climits>
#include <regex>

#include "LogTestSupport.h"
#include "mox_utils/time/HiResTimer.h"

using kelLogger::kelLogHelper;
using kelLogger::LOG_ACTION, kelLogger::LOG_DEBUG, kelLogger::LOG_ERROR, kelLogger::LOG_INFO, kelLogger::LOG_STATS,
    kelLogger::LOG_TRACE, kelLogger::LOG_WARN;
using logtest::readFile;
namespace fs = std::filesystem;

namespace {

class KelLoggerClassTest : public logtest::LoggerTest {
 protected:
  // Writes a filter file (none for null text) into the scratch directory,
  // loads it and returns the loader's messages as "type[line] text" lines.
  std::wstring loadFilters(const std::string& name, const char* text) {
    if (text != nullptr) std::ofstream(m_scratch / name) << text;
    std::vector<kelLoggerClass::FilterMessage> messages;
    kelLoggerClass::loadFilters(m_scratch.wide(name).c_str(), &messages);
    std::wstring lines;
    for (const auto& m : messages)
      lines += std::to_wstring(m.type) + L"[" + std::to_wstring(m.line) + L"] " + m.text + L"\n";
    return lines;
  }
};

}  // namespace

TEST_F(KelLoggerClassTest, SessionDirectoriesAreDatedNumberedAndReused) {
  start();
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
  fs::create_directory(day / "Session 003");
  fs::remove(day / "Session 002" / "events.log");
  fs::remove(day / "Session 002" / "errors.log");
  EXPECT_EQ(start(), day / "Session 002/");
  kelLoggerClass::terminate();
  std::ofstream(day / "Session 004") << "x";
  fs::create_directory(day / "Session 002" / "keep");
  fs::create_directory(day / "Session 003" / "keep");
  EXPECT_EQ(start(), day / "Session 005/");
  finish();
}

// Every line carries "time|type|source[line]|"; the prefix is cut at 1023
// characters and the message at 2047, counted in characters, not bytes.
// Standard output and error land in the session's files as well.
TEST_F(KelLoggerClassTest, LinesGoToEventsLogWithTheirPrefixCutAtTheLimits) {
  const auto dir = start();
  m_clock.advanceMs(7091);
  kelLogHelper("C:\\work\\src\\SerialConnection.cpp", 148, LOG_ERROR)(L"SendData/WriteFile failed with error %d", 5);
  m_clock.advanceMs(1);
  kelLogHelper("/home/src/probe.cpp", 12, LOG_INFO)(L"%s \u00e9 %S %I64d%%", L"gr\u00fc\u00df", "\u20ac", -1LL);
  HiResTimer timer;
  kelLogHelper("t.cpp", 9, LOG_ERROR)(timer, L"scan %d", 3);
  const std::wstring longMessage(3000, L'\u00e9');
  const std::string longSource(1500, 's');
  kelLogHelper("a.cpp", 1, LOG_WARN)(L"%s", longMessage.c_str());
  kelLogHelper(longSource.c_str(), 2, LOG_WARN)(L"tail");
  kelLogHelper("b.cpp", 3, LOG_WARN)(L"%s", L"50% %d");
  kelLogHelper("pr\u00fcfung.cpp", -5, LOG_DEBUG)(L"x");
  kelLogHelper("c.cpp", INT_MIN, static_cast<kelLogger::LogType>(42))(L"y");  // a type without a name
  std::printf("from printf\n");
  std::fprintf(stderr, "from stderr\n");
  finish();

  const std::string t = "10:00:07.092|";
  EXPECT_EQ(readFile(dir / "events.log"),
            "10:00:00.000|LOG_INFO|kelLoggerClass.cpp[90]|\n******************************\n"
            "** Starting Logging Session **\n******************************\n\n"
            "10:00:07.091|LOG_ERROR|SerialConnection.cpp[148]|SendData/WriteFile failed with error 5\n" +
                t + "LOG_INFO|probe.cpp[12]|gr\u00fc\u00df \u00e9 \u20ac -1%\n" + t +
                "LOG_TIMER|t.cpp[9]|scan 3 -- Duration: 0(ms)\n" + t + "LOG_WARN|a.cpp[1]|" +
                mox::platform::wideToUtf8(longMessage.substr(0, 2047)) + "\n" + t + "LOG_WARN|" +
                longSource.substr(0, 1023 - 22) + "tail\n" + t + "LOG_WARN|b.cpp[3]|50% %d\n" + t +
                "LOG_DEBUG|pr\u00fcfung.cpp[-5]|x\n" + t + "|c.cpp[-2147483648]|y\nfrom printf\n" + t +
                "LOG_INFO|kelLoggerClass.cpp[54]|\n****************************\n"
                "** Ending Logging Session **\n****************************\n\n");
  EXPECT_EQ(readFile(dir / "errors.log"), "from stderr\n");
}

// Window filters pick lines for the console text while the console is
// visible; each line added posts a note to it. Statistics bring their memory
// report into the window text only.
TEST_F(KelLoggerClassTest, WindowFiltersFeedTheConsoleText) {
  const auto dir = start();
  logtest::FakeConsole console;
  kelLoggerClass::setConsole(&console);
  kelLogHelper("a.cpp", 1, LOG_WARN)(L"before the filters");
  kelLoggerClass::core()->addWindowFilter(FilterKey{"*", LOG_WARN});
  kelLoggerClass::core()->addWindowFilter(FilterKey{"b.cpp", LOG_STATS});
  kelLogHelper("a.cpp", 2, LOG_WARN)(L"warn %s", L"\u00e9");
  kelLogHelper("a.cpp", 3, LOG_INFO)(L"info is not wanted");
  console.visible = false;
  kelLogHelper("a.cpp", 4, LOG_WARN)(L"hidden window");
  console.visible = true;
  std::wstring text = L"replaced";
  kelLoggerClass::getWindowLog(text);
  EXPECT_EQ(text, L"10:00:00.000|LOG_WARN|a.cpp[2]|warn \u00e9\n");
  EXPECT_EQ(console.posts.load(), 1);

  // A statistics helper logs as LOG_STATS whatever its own type; a plain
  // LOG_STATS message carries the full report. The text taken above is gone.
  kelLogHelper("b.cpp", 5, LOG_ERROR)(kelLogger::STATS_WORKING_SET, L"ws");
  kelLogHelper("b.cpp", 6, LOG_STATS)(L"full");
  kelLoggerClass::getWindowLog(text);
  EXPECT_EQ(console.posts.load(), 3);
  const std::string window = mox::platform::wideToUtf8(text);
  std::smatch workingSet;
  ASSERT_TRUE(std::regex_search(window, workingSet, std::regex("\tWorking Set Size:\t\t\t([0-9.]+)MB\n")));
  EXPECT_GT(std::stod(workingSet[1]), 0.1);  // a running test's working set is well above zero
  // With every value as "#": the report starts on a new line and ends with
  // one, and the line's own end follows it.
  EXPECT_EQ(std::regex_replace(window, std::regex("\t[0-9.e+-]+(MB)?\n"), "\t#$1\n"),
            "10:00:00.000|LOG_STATS|b.cpp[5]|ws\n\tWorking Set Size:\t\t\t#MB\n\n"
            "10:00:00.000|LOG_STATS|b.cpp[6]|full\n\tPage Fault Count:\t\t\t#\n"
            "\tPeak Working Set Size:\t\t\t#MB\n\tWorking Set Size:\t\t\t#MB\n"
            "\tQuota Peak Paged Pool Usage:\t\t#MB\n\tQuota Paged Pool Usage:\t\t\t#MB\n"
            "\tQuota Peak Non Paged Pool Usage:\t#MB\n\tQuota Non Paged Pool Usage:\t\t#MB\n"
            "\tPagefile Usage:\t\t\t\t#MB\n\tPeak Pagefile Usage:\t\t\t#MB\n\tPrivate Usage:\t\t\t\t#MB\n\n");
  finish();
  EXPECT_NE(readFile(dir / "events.log")
                .find("|LOG_STATS|b.cpp[5]|ws\n10:00:00.000|LOG_STATS|b.cpp[6]|full\n10:00:00.000|LOG_INFO|"),
            std::string::npos);
}

TEST_F(KelLoggerClassTest, DateChangeMovesEveryFileIntoTheNewDay) {
  // Local time runs two hours ahead of UTC here: the date that counts is the
  // local one.
  m_clock = mox::platform::ManualClock(logtest::at(21, 59, 59, 990), 2 * logtest::kHour, 100);
  const auto oldDir = start();
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", LOG_ACTION}, L"actions.xml");
  kelLogHelper("a.cpp", 1, LOG_INFO)(L"before");
  m_clock.advanceMs(15);
  kelLogHelper("a.cpp", 2, LOG_INFO)(L"after");
  const auto newDir = session();
  finish();

  EXPECT_EQ(newDir, logs() / "2024-03" / "06" / "Session 001/");
  const std::string detected = "00:00:00.005|Date change detected, log continues on 03/06/2024 (MM/DD/YYYY)...\n";
  const std::string occurred = "00:00:00.005|Date change occurred, log continued from 03/05/2024 (MM/DD/YYYY)...\n";
  const std::string oldEnd = "23:59:59.990|LOG_INFO|a.cpp[1]|before\n" + detected;
  const std::string oldEvents = readFile(oldDir / "events.log");
  EXPECT_EQ(oldEvents.substr(oldEvents.size() - std::min(oldEvents.size(), oldEnd.size())), oldEnd);
  EXPECT_EQ(readFile(oldDir / "errors.log"), detected);
  EXPECT_EQ(readFile(newDir / "events.log").rfind(occurred + "00:00:00.005|LOG_INFO|a.cpp[2]|after\n", 0), 0u);
  EXPECT_EQ(readFile(newDir / "errors.log"), occurred);
  // The action log is closed in the old session and opened anew in the new.
  for (const auto& dir : {oldDir, newDir}) {
    EXPECT_EQ(readFile(dir / "actions.xml"), std::string(logtest::kActionHeader) + logtest::kActionFooter) << dir;
  }
}

TEST_F(KelLoggerClassTest, OldDirectoriesBelowTheBaseAreRemoved) {
  fs::create_directories(logs() / "2019-01" / "03" / "Session 001");
  fs::create_directory(logs() / "anything");
  std::ofstream(logs() / "a-file") << "kept";
  // Created now: young at today's date, older than the cut-off ten years on.
  const std::uint64_t now = mox::platform::kUnixEpochAsFileTime + std::uint64_t(time(nullptr)) * 10000000ULL;
  m_clock.setUtc(now);
  start();
  kelLoggerClass::terminate();
  EXPECT_TRUE(fs::exists(logs() / "2019-01") && fs::exists(logs() / "anything"));
  // Every directory carries a real creation time while the clock runs ten
  // years ahead, so the new session's own directories go as well here.
  m_clock.setUtc(now + 10ULL * 366 * 24 * 3600 * 10000000ULL);
  start();
  finish();
  EXPECT_FALSE(fs::exists(logs() / "2019-01"));
  EXPECT_FALSE(fs::exists(logs() / "anything"));
  EXPECT_TRUE(fs::exists(logs() / "a-file"));
}

// A base that is a file: no directory and no file opens, and the logger
// still takes every kind of call.
TEST_F(KelLoggerClassTest, AnUnusableBaseLeavesTheLoggerRunningWithoutFiles) {
  std::ofstream(m_scratch / "blocked") << "a file where the base directory should be";
  start(m_scratch.wide("blocked") + L"/");
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", LOG_ERROR}, L"errors-only.log");
  kelLogHelper("a.cpp", 1, LOG_ERROR)(L"goes nowhere");
  kelLogHelper("a.cpp", 1, LOG_INFO)(L"standard output stays where it was");
  kelLogger::logAction(L"button", L"freeze", 1, 0);
  std::wstring directory;
  EXPECT_TRUE(kelLogger::getCurrentDirectory(directory));
  finish();
  EXPECT_EQ(readFile(m_scratch / "blocked"), "a file where the base directory should be");
}

// Filters route by exact source before "*", for the types their level names;
// other elements and levels select nothing. A later filter for a key replaces
// the earlier one.
TEST_F(KelLoggerClassTest, FilterFilesRouteBySourceAndLevel) {
  const auto dir = start();
  EXPECT_EQ(loadFilters("filters.xml", R"(<logfilters>
  <filefilter source="SerialConnection.cpp" level="LOG_ERROR" file="serial.log"/>
  <filefilter source="*" level="LOG_ERROR" file="NULL"/>
  <filefilter source="*" level="LOG_DEBUG,LOG_TRACE" file="first.log"/>
  <filefilter source="*" level="LOG_DEBUG LOG_TRACE" file="debug.log"/>
  <filefilter source="*" level="ERROR" file="never.log"/>
  <unknown source="*" level="*" file="unknown.log"/>
  <windowfilter source="probe.cpp" level="LOG_WARN,LOG_INFO"/>
</logfilters>)"),
            L"");
  // Routes as "source:type file[ window]"; the lines below show the others.
  std::string routes;
  for (const auto& [source, type] : {std::pair{"SerialConnection.cpp", LOG_WARN},
                                     {"a.cpp", LOG_DEBUG},
                                     {"probe.cpp", LOG_WARN},
                                     {"probe.cpp", LOG_INFO},
                                     {"probe.cpp", LOG_ERROR},
                                     {"Probe.cpp", LOG_WARN}}) {
    const auto route = kelLoggerClass::core()->describeRoute(source, type);
    routes += source + (":" + std::to_string(type)) + " " + mox::platform::wideToUtf8(route.file) +
              (route.window ? " window\n" : "\n");
  }
  EXPECT_EQ(routes,
            "SerialConnection.cpp:2 \na.cpp:4 debug.log\nprobe.cpp:2  window\nprobe.cpp:3  window\n"
            "probe.cpp:1 NULL\nProbe.cpp:2 \n");  // sources are case-sensitive
  kelLogHelper("x\\SerialConnection.cpp", 148, LOG_ERROR)(L"to serial");
  kelLogHelper("Other.cpp", 1, LOG_ERROR)(L"dropped");
  kelLogHelper("Other.cpp", 2, LOG_TRACE)(L"to debug");

  // A file that cannot be read, or is not XML, leaves the filters in force
  // (which drop its error); a readable one without filters clears them.
  const std::wstring cannotOpen = L"1[163] loadFilters - Could not open filter file\n";
  EXPECT_EQ(loadFilters("missing.xml", nullptr), cannotOpen);
  EXPECT_EQ(loadFilters("empty.xml", ""), cannotOpen);
  EXPECT_EQ(loadFilters("text.xml", "this is not XML"), cannotOpen);
  EXPECT_EQ(kelLoggerClass::core()->describeRoute("SerialConnection.cpp", LOG_ERROR).file, L"serial.log");
  EXPECT_EQ(
      loadFilters("unknown.xml", "<f><other/><filefilters/></f>"),
      L"2[137] loadFilters - Could find any file filters\n3[158] loadFilters - Could find any debug window filters\n");
  EXPECT_EQ(kelLoggerClass::core()->describeRoute("SerialConnection.cpp", LOG_ERROR).file, L"");
  finish();
  EXPECT_EQ(readFile(dir / "serial.log"), "10:00:00.000|LOG_ERROR|SerialConnection.cpp[148]|to serial\n");
  EXPECT_EQ(readFile(dir / "debug.log"), "10:00:00.000|LOG_TRACE|Other.cpp[2]|to debug\n");
  EXPECT_TRUE(fs::exists(dir / "first.log") && fs::file_size(dir / "first.log") == 0);  // replaced, yet opened
  EXPECT_FALSE(fs::exists(dir / "never.log") || fs::exists(dir / "unknown.log"));
  const std::string events = readFile(dir / "events.log");
  EXPECT_EQ(events.find("dropped"), std::string::npos);
  EXPECT_NE(events.find("|LOG_WARN|kelLoggerClass.cpp[137]|loadFilters - Could find any file filters\n10:00:00.000|"
                        "LOG_INFO|kelLoggerClass.cpp[158]|loadFilters - Could find any debug window filters\n"),
            std::string::npos);
}
