#include "mox_utils/logging/kelLoggerCore.h"

#include <map>
#include <regex>
#include <thread>

#include "LogTestSupport.h"
#include "mox_utils/platform/MonitorSize.h"
#include "support/ScratchDir.h"

using logtest::FakeConsole;
using logtest::fileTimeOf;
using logtest::readFile;
using logtest::splitLines;

namespace {

class ActionLogTest : public logtest::LoggerTest {
 protected:
  void SetUp() override {
    LoggerTest::SetUp();
    mox::platform::setMonitorSize(1920, 1080);
    mox::platform::setClockSource(&m_actionClock);
  }
  void TearDown() override {
    LoggerTest::TearDown();
    mox::platform::clearMonitorSize();
  }
  // UTC 2024-03-05 10:00:00.012, local time one hour ahead: records carry UTC,
  // line prefixes local time.
  mox::platform::ManualClock m_actionClock{fileTimeOf(2024, 3, 5, 10, 0, 0, 12), logtest::kHour, 5000};
};

const char kHeader[] = "<?xml version=\"1.0\" ?>\n<action_log res_width=\"1920\" res_height=\"1080\">\n";

}  // namespace

TEST_F(ActionLogTest, RecordsAreWrittenWithPaddedTagsDelaysAndUtcTimeStamps) {
  const auto dir = start();
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_ACTION}, L"user actions.xml");

  m_actionClock.setTick(1000);
  kelLogger::logAction(L"button", L"freeze", 2, 0);  // first record: measured from itself
  m_actionClock.advanceMs(250);
  kelLogger::logAction(L"button", L"freeze", 2, 0);
  kelLogger::logAction(L"knob", L"gain", 1, 0);
  kelLogger::logAction(L"knob", L"depth", 0, 0);
  kelLogger::logAction(L"knob", L"depth", 2, -3);
  m_actionClock.advanceMs(1234567);
  kelLogger::logMouse(513, 10, -4);
  kelLogger::logMouse(515, 0, 0);
  // The tick wraps around between two records.
  m_actionClock.setTick(0xFFFFFF00u);
  kelLogger::logKeyboard(65);
  m_actionClock.setTick(0x100u);
  kelLogger::logKeyboard(0x20AC);
  finish();

  const std::string t0 = "\" timestamp=\"2024-03-05 10:00:00.0012\"";
  const std::string t1 = "\" timestamp=\"2024-03-05 10:00:00.0262\"";
  const std::string t2 = "\" timestamp=\"2024-03-05 10:20:34.0829\"";
  const std::string expected =
      std::string(kHeader) + "\t<action   delay=\"     0" + t0 + " type=\"button\" id=\"freeze\" count=\"2\"/>\n" +
      "\t<action   delay=\"   250" + t1 + " type=\"button\" id=\"freeze\" count=\"2\"/>\n" +
      "\t<action   delay=\"     0" + t1 + " type=\"knob\" id=\"gain\"/>\n" + "\t<action   delay=\"     0" + t1 +
      " type=\"knob\" id=\"depth\"/>\n" + "\t<action   delay=\"     0" + t1 +
      " type=\"knob\" id=\"depth\" count=\"2\" param=\"-3\"/>\n" + "\t<mouse    delay=\"1234567" + t2 +
      " id=\"513\" cursor_x=\"10\" cursor_y=\"-4\" name=\"Left Down\"/>\n" + "\t<mouse    delay=\"     0" + t2 +
      " id=\"515\" cursor_x=\"0\" cursor_y=\"0\" name=\"\"/>\n" + "\t<keyboard delay=\"4293731223" + t2 +
      " key=\"65\" character=\"A\"/>\n" + "\t<keyboard delay=\"   512" + t2 +
      " key=\"8364\" character=\"\xE2\x82\xAC\"/>\n" + "</action_log>\n";
  EXPECT_EQ(readFile(dir / "user actions.xml"), expected);
  EXPECT_EQ(readFile(dir / "events.log").find("action"), std::string::npos);
}

TEST_F(ActionLogTest, WithoutAFilterRecordsGoToEventsLogWithoutPrefix) {
  const auto dir = start();
  FakeConsole console;
  kelLoggerClass::setConsole(&console);
  kelLoggerClass::core()->addWindowFilter(FilterKey{"*", kelLogger::LOG_ACTION});
  kelLogger::logKeyboard(66);
  // An action message through a plain helper is written as it is.
  kelLogger::kelLogHelper("a.cpp", 7, kelLogger::LOG_ACTION)(L"\t<custom value=\"%d\"/>", 5);
  std::wstring window;
  kelLoggerClass::getWindowLog(window);
  finish();
  const std::string record =
      "\t<keyboard delay=\"     0\" timestamp=\"2024-03-05 10:00:00.0012\" key=\"66\" character=\"B\"/>";
  const std::string custom = "\t<custom value=\"%d\"/>\n";
  EXPECT_NE(readFile(dir / "events.log").find("\n\n" + record + "\n" + custom + "11:00:00.012|LOG_INFO|"),
            std::string::npos);
  EXPECT_EQ(window, mox::platform::utf8ToWide(record + "\n" + custom));
  EXPECT_EQ(console.posts.load(), 2);
}

TEST_F(ActionLogTest, ADroppedRecordLeavesTheTickAlone) {
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_ACTION}, L"NULL");
  m_actionClock.setTick(100);
  kelLogger::logAction(L"dropped", L"x", 1, 0);
  kelLoggerClass::core()->addFileFilter(FilterKey{"*", kelLogger::LOG_ACTION}, L"a.xml");
  const auto dir = session();
  m_actionClock.setTick(400);
  kelLogger::logAction(L"kept", L"x", 1, 0);
  m_actionClock.setTick(450);
  kelLogger::logAction(L"kept", L"y", 1, 0);
  finish();
  const auto lines = splitLines(readFile(dir / "a.xml"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[2].find("delay=\"     0\""), std::string::npos);
  EXPECT_NE(lines[3].find("delay=\"    50\""), std::string::npos);
}

TEST(MonitorSizeTest, FirstConnectedDisplayGivesItsPreferredMode) {
  const mox::test::ScratchDir scratch;
  const std::filesystem::path& drm = scratch.path();
  auto connector = [&](const char* name, const char* status, const char* modes) {
    std::filesystem::create_directories(drm / name);
    std::ofstream(drm / name / "status") << status;
    if (modes != nullptr) std::ofstream(drm / name / "modes") << modes;
  };
  EXPECT_EQ(mox::platform::drmMonitorSize(drm.string()).width, 0);
  connector("card0-DP-1", "disconnected\n", "2560x1440\n");
  connector("card0-HDMI-A-1", "connected\n", "1280x1024\n1024x768\n");
  connector("card0-HDMI-A-2", "connected\n", "3840x2160\n");
  connector("card0-eDP-0", "connected\n", "");         // connected, but no mode
  std::filesystem::create_directories(drm / "card0");  // a card, not a connector
  const auto size = mox::platform::drmMonitorSize(drm.string());
  EXPECT_EQ(size.width, 1280);
  EXPECT_EQ(size.height, 1024);
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
TEST_F(ActionLogTest, ConcurrentLinesAreNeverLostSplitOrMisplaced) {
  constexpr int kThreads = 8;
  constexpr int kLines = 20000;
  // About 170,000 clock readings at 1 ms each: midnight falls half-way.
  SteppingClock clock(fileTimeOf(2024, 3, 5, 23, 58, 35, 0));
  mox::platform::setClockSource(&clock);
  ASSERT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
  kelLoggerCore* core = kelLoggerClass::core();
  core->addFileFilter(FilterKey{"a.cpp", kelLogger::LOG_INFO}, L"a.log");
  core->addFileFilter(FilterKey{"b.cpp", kelLogger::LOG_INFO}, L"b.log");
  core->addFileFilter(FilterKey{"d.cpp", kelLogger::LOG_INFO}, L"NULL");
  const char* sources[] = {"a.cpp", "b.cpp", "c.cpp", "d.cpp"};
  const std::string padding(100, 'x');

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        kelLogger::kelLogHelper(sources[i % 4], i % 4, kelLogger::LOG_INFO)(L"t=%d i=%d %S", t, i, padding.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  finish();

  const std::filesystem::path days[] = {logs() / "2024-03" / "05" / "Session 001",
                                        logs() / "2024-03" / "06" / "Session 001"};
  const std::map<std::string, int> fileOfSource = {{"a.log", 0}, {"b.log", 1}, {"events.log", 2}};
  const std::regex lineForm(R"((\d\d):\d\d:\d\d\.\d\d\d\|LOG_INFO\|([a-d])\.cpp\[(\d)\]\|t=(\d) i=(\d+) x{100})");
  std::vector<int> seen(kThreads * kLines, 0);
  int perDay[2] = {0, 0};
  for (int day = 0; day < 2; ++day) {
    for (const auto& [file, sourceIndex] : fileOfSource) {
      SCOPED_TRACE(days[day] / file);
      for (const std::string& line : splitLines(readFile(days[day] / file))) {
        std::smatch m;
        if (!std::regex_match(line, m, lineForm)) {
          // Banners and date-change lines only: nothing else may be there.
          const bool known = line.empty() || line[0] == '*' || line.find("|Date change ") != std::string::npos ||
                             line.find("|LOG_INFO|kelLoggerClass.cpp[") != std::string::npos;
          ASSERT_TRUE(known) << line;
          continue;
        }
        EXPECT_EQ(m[1].str(), day == 0 ? "23" : "00");
        EXPECT_EQ(m[2].str()[0] - 'a', sourceIndex);
        const int i = std::stoi(m[5].str());
        ASSERT_LT(i, kLines);
        EXPECT_EQ(i % 4, std::stoi(m[3].str()));
        ++seen[std::stoi(m[4].str()) * kLines + i];
        ++perDay[day];
      }
    }
  }
  // Every line once, except those of d.cpp, which go to no file.
  int wrong = 0;
  for (int k = 0; k < kThreads * kLines; ++k) wrong += seen[k] != ((k % kLines) % 4 == 3 ? 0 : 1);
  EXPECT_EQ(wrong, 0) << "lines lost or written twice";
  EXPECT_GT(perDay[0], 0);
  EXPECT_GT(perDay[1], 0);
}
