// Shared pieces of the logger tests. A test that initialises the logger has
// its standard output and error redirected into the session files; the
// fixture keeps duplicates of the originals and puts them back after
// terminate(), so the tests also run one after another in one process
// (ctest runs each in a process of its own).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/logging/kelLoggerCore.h"
#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/MonitorSize.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"
#include "support/SystemTimes.h"

namespace logtest {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A UTC instant on 2024-03-05, the day every logger test starts on.
inline std::uint64_t at(int hour, int minute, int second, int ms) {
  FILETIME ft{};
  mox::platform::systemTimeToFileTime(mox::test::systemTime(2024, 3, 5, hour, minute, second, ms), &ft);
  return mox::platform::fileTimeValue(ft);
}

constexpr std::int64_t kHour = 36000000000LL;  // in 100-ns units

// The action-log framing for the 1920 x 1080 monitor that the fixture sets.
constexpr char kActionHeader[] = "<?xml version=\"1.0\" ?>\n<action_log res_width=\"1920\" res_height=\"1080\">\n";
constexpr char kActionFooter[] = "</action_log>\n";

// A console window that counts the notes the logger posts to it.
class FakeConsole : public mox::ConsoleWindow {
 public:
  bool isVisible() const override { return visible; }
  bool postMessage(unsigned int message, std::uintptr_t wParam, std::intptr_t lParam) override {
    posts += message == 0x8022 && wParam == 0 && lParam == 0;
    return true;
  }
  std::atomic<bool> visible{true};
  std::atomic<int> posts{0};
};

// A scratch directory holding the base directory "logs", a manual clock
// (UTC = local time, 10:00:00.000 unless a test sets it otherwise), a fixed
// monitor size, and the standard streams saved while a session runs.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(logs());
    mox::platform::setClockSource(&m_clock);
    mox::platform::setMonitorSize(1920, 1080);
  }

  // The system clock first: a test's own clock may be gone by now.
  void TearDown() override {
    mox::platform::setClockSource(nullptr);
    finish();
    mox::platform::clearMonitorSize();
  }

  // Ends the session, so that every file is complete, and puts the
  // standard streams back.
  void finish() {
    kelLoggerClass::terminate();
    std::fflush(nullptr);
    for (int fd : {1, 2}) {
      if (m_saved[fd] >= 0) dup2(m_saved[fd], fd), close(m_saved[fd]), m_saved[fd] = -1;
    }
  }

  // Saves the standard streams unless they are saved already, starts a
  // session below `base` (the base directory when empty) and returns its
  // directory.
  std::filesystem::path start(const std::wstring& base = std::wstring()) {
    std::fflush(nullptr);
    for (int fd : {1, 2}) {
      if (m_saved[fd] < 0) m_saved[fd] = dup(fd);
    }
    EXPECT_TRUE(kelLoggerClass::initialize(base.empty() ? m_base.c_str() : base.c_str(), 6));
    return session();
  }

  // The session directory as a native path.
  static std::filesystem::path session() {
    std::wstring directory;
    if (!kelLogger::getCurrentDirectory(directory)) return {};
    std::string native = mox::platform::wideToUtf8(directory);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
  }

  std::filesystem::path logs() const { return m_scratch / "logs"; }

  mox::platform::ManualClock m_clock{at(10, 0, 0, 0), 0, 5000};
  const mox::test::ScratchDir m_scratch;
  const std::wstring m_base = m_scratch.wide("logs") + L"/";
  int m_saved[3] = {-1, -1, -1};
};

}  // namespace logtest
