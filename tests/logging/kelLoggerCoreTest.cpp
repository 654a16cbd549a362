#include "mox_utils/logging/kelLoggerCore.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "LogTestSupport.h"

using kelLogger::LOG_ACTION, kelLogger::LOG_INFO;
using logtest::readFile;

using KelLoggerCoreTest = logtest::LoggerTest;

// Records and action messages are written as they are, without prefix,
// where the filters send LOG_ACTION: to events.log and the console text
// without a file filter, to the action log with one.
TEST_F(KelLoggerCoreTest, ActionRecordsCarryPaddedTagsDelaysAndUtcTimeStamps) {
  // UTC 10:00:00.012 with local time an hour ahead: records carry UTC, line
  // prefixes local time.
  m_clock = mox::platform::ManualClock(logtest::at(10, 0, 0, 12), logtest::kHour, 5000);
  const auto dir = start();
  logtest::FakeConsole console;
  kelLoggerClass::setConsole(&console);
  kelLoggerClass::core()->addWindowFilter(FilterKey{"*", LOG_ACTION});
  kelLogger::logKeyboard(66);  // the first record is measured from itself
  kelLogger::kelLogHelper("a.cpp", 7, LOG_ACTION)(L"\t<custom value=\"%d\"/>", 5);
  std::wstring window;
  kelLoggerClass::getWindowLog(window);
  kelLoggerClass::setConsole(nullptr);
  // A record that no file takes leaves the tick alone: the next one is
  // measured from the last one written.
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", LOG_ACTION}, L"NULL");
  m_clock.setTick(100);
  kelLogger::logAction(L"dropped", L"x", 1, 0);
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", LOG_ACTION}, L"user actions.xml");
  m_clock.advanceMs(250);
  m_clock.setTick(5250);
  kelLogger::logAction(L"button", L"freeze", 2, 0);
  kelLogger::logAction(L"knob", L"gain", 1, 0);
  kelLogger::logAction(L"knob", L"depth", 0, 0);
  kelLogger::logAction(L"knob", L"depth", 2, -3);
  m_clock.advanceMs(1234567);
  kelLogger::logMouse(513, 10, -4);
  kelLogger::logMouse(515, 0, 0);
  // The tick wraps around between two records.
  m_clock.setTick(0xFFFFFF00u);
  kelLogger::logKeyboard(65);
  m_clock.setTick(0x100u);
  kelLogger::logKeyboard(0x20AC);
  finish();

  const std::string unfiltered =
      "\t<keyboard delay=\"     0\" timestamp=\"2024-03-05 10:00:00.0012\" key=\"66\" character=\"B\"/>\n"
      "\t<custom value=\"%d\"/>\n";
  EXPECT_NE(readFile(dir / "events.log").find("\n\n" + unfiltered + "11:20:34.829|LOG_INFO|"), std::string::npos);
  EXPECT_EQ(window, mox::platform::utf8ToWide(unfiltered));
  EXPECT_EQ(console.posts.load(), 2);
  const std::string t1 = "\" timestamp=\"2024-03-05 10:00:00.0262\"";
  const std::string t2 = "\" timestamp=\"2024-03-05 10:20:34.0829\"";
  EXPECT_EQ(readFile(dir / "user actions.xml"),
            logtest::kActionHeader + ("\t<action   delay=\"   250" + t1) +
                " type=\"button\" id=\"freeze\" count=\"2\"/>\n\t<action   delay=\"     0" + t1 +
                " type=\"knob\" id=\"gain\"/>\n\t<action   delay=\"     0" + t1 +
                " type=\"knob\" id=\"depth\"/>\n\t<action   delay=\"     0" + t1 +
                " type=\"knob\" id=\"depth\" count=\"2\" param=\"-3\"/>\n\t<mouse    delay=\"1234567" + t2 +
                " id=\"513\" cursor_x=\"10\" cursor_y=\"-4\" name=\"Left Down\"/>\n\t<mouse    delay=\"     0" + t2 +
                " id=\"515\" cursor_x=\"0\" cursor_y=\"0\" name=\"\"/>\n\t<keyboard delay=\"4293727223" + t2 +
                " key=\"65\" character=\"A\"/>\n\t<keyboard delay=\"   512" + t2 +
                " key=\"8364\" character=\"\u20ac\"/>\n" + logtest::kActionFooter);
}

// The action-log header's size when none is set: the first mode of the first
// connected connector that has one, connectors in name order.
TEST(MonitorSizeTest, FirstConnectedDisplayGivesItsPreferredMode) {
  const mox::test::ScratchDir drm;
  EXPECT_EQ(mox::platform::drmMonitorSize(drm.path().string()).width, 0);
  for (const auto& [name, status, modes] : {std::tuple{"card0-DP-1", "disconnected\n", "2560x1440\n"},
                                            {"card0-HDMI-A-1", "connected\n", "1280x1024\n1024x768\n"},
                                            {"card0-HDMI-A-2", "connected\n", "3840x2160\n"},
                                            {"card0-eDP-0", "connected\n", ""}}) {
    std::filesystem::create_directories(drm / name);
    std::ofstream(drm / name / "status") << status;
    std::ofstream(drm / name / "modes") << modes;
  }
  std::filesystem::create_directories(drm / "card0");  // a card, not a connector
  const auto size = mox::platform::drmMonitorSize(drm.path().string());
  EXPECT_EQ(std::to_string(size.width) + "x" + std::to_string(size.height), "1280x1024");
}

namespace {

// A clock for many threads: every reading moves the time on by 1 ms, so the
// time in each line's prefix is unique and ordered with the writes.
class SteppingClock : public mox::platform::ClockSource {
 public:
  explicit SteppingClock(std::uint64_t start) : m_utc(start) {}
  std::uint64_t utcNow() override { return m_utc.fetch_add(10000); }
  std::int64_t localOffset(std::uint64_t) override { return 0; }
  std::uint32_t tickCount() override { return 1; }

 private:
  std::atomic<std::uint64_t> m_utc;
};

}  // namespace

// Eight threads log through filters into three files and "NULL" while the
// clock passes midnight: every line that should be written appears once,
// whole, in its file, in the session of the date in its prefix.
TEST_F(KelLoggerCoreTest, ConcurrentLinesAreNeverLostSplitOrMisplaced) {
  constexpr int kThreads = 8;
  constexpr int kLines = 20000;
  // About 170,000 clock readings at 1 ms each: midnight falls half-way.
  SteppingClock clock(logtest::at(23, 58, 35, 0));
  mox::platform::setClockSource(&clock);
  start();
  const char* sources[] = {"a.cpp", "b.cpp", "c.cpp", "d.cpp"};
  const char* files[] = {"a.log", "b.log", "events.log", nullptr};  // where each source's lines go
  kelLoggerClass::core()->addFileFilter(FilterKey{"a.cpp", LOG_INFO}, L"a.log");
  kelLoggerClass::core()->addFileFilter(FilterKey{"b.cpp", LOG_INFO}, L"b.log");
  kelLoggerClass::core()->addFileFilter(FilterKey{"d.cpp", LOG_INFO}, L"NULL");
  const std::string padding(100, 'x');
  const auto body = [&](int t, int i) {
    return std::string("LOG_INFO|") + sources[i % 4] + "[" + std::to_string(i % 4) + "]|t=" + std::to_string(t) +
           " i=" + std::to_string(i) + " " + padding;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        kelLogger::kelLogHelper(sources[i % 4], i % 4, LOG_INFO)(L"t=%d i=%d %S", t, i, padding.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  finish();

  // Each file's lines without their time, sorted: as they should be and as
  // they are, banners and date-change lines aside.
  std::map<std::string, std::vector<std::string>> expected, written;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      if (files[i % 4] != nullptr) expected[files[i % 4]].push_back(body(t, i));
    }
  }
  int perDay[2] = {0, 0};
  for (int day = 0; day < 2; ++day) {
    for (const auto& entry : expected) {
      std::istringstream in(readFile(logs() / "2024-03" / (day == 0 ? "05" : "06") / "Session 001" / entry.first));
      for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '*' || line.find("|Date change ") == 12 ||
            line.find("|LOG_INFO|kelLoggerClass.cpp[") == 12) {
          continue;
        }
        EXPECT_EQ(line.substr(0, 3), day == 0 ? "23:" : "00:") << line;
        written[entry.first].push_back(line.substr(std::min<std::size_t>(line.size(), 13)));
        ++perDay[day];
      }
    }
  }
  for (auto* lines : {&expected, &written}) {
    for (auto& entry : *lines) std::sort(entry.second.begin(), entry.second.end());
  }
  EXPECT_TRUE(written == expected) << "lines lost, split, written twice or into the wrong file";
  EXPECT_GT(perDay[0], 0);
  EXPECT_GT(perDay[1], 0);
}
