// Shared pieces of the logger tests. A test that initialises the logger has
// its standard output and error redirected into the session files; the
// fixture keeps duplicates of the originals and puts them back after
// terminate(), so the tests also run one after another in one process
// (ctest runs each in a process of its own).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"
#include "support/SystemTimes.h"

namespace logtest {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::uint64_t fileTimeOf(int year, int month, int day, int hour, int minute, int second, int ms) {
  FILETIME ft{};
  EXPECT_TRUE(
      mox::platform::systemTimeToFileTime(mox::test::systemTime(year, month, day, hour, minute, second, ms), &ft));
  return mox::platform::fileTimeValue(ft);
}

constexpr std::int64_t kHour = 36000000000LL;  // in 100-ns units

// A console window that records what the logger posts.
class FakeConsole : public mox::ConsoleWindow {
 public:
  bool isVisible() const override { return visible.load(); }
  bool postMessage(unsigned int message, std::uintptr_t wParam, std::intptr_t lParam) override {
    if (message == 0x8022 && wParam == 0 && lParam == 0) ++posts;
    return true;
  }
  std::atomic<bool> visible{true};
  std::atomic<int> posts{0};
};

// A scratch directory holding the base directory "logs", the manual clock,
// and the saved standard streams.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(logs());
    std::fflush(stdout);
    std::fflush(stderr);
    m_savedOut = dup(1);
    m_savedErr = dup(2);
    mox::platform::setClockSource(&m_clock);
  }

  void TearDown() override {
    finish();
    mox::platform::setClockSource(nullptr);
  }

  // Ends the session, so that every file is complete, and puts the
  // standard streams back.
  void finish() {
    kelLoggerClass::terminate();
    restoreStreams();
  }

  void restoreStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (m_savedOut >= 0) dup2(m_savedOut, 1), close(m_savedOut), m_savedOut = -1;
    if (m_savedErr >= 0) dup2(m_savedErr, 2), close(m_savedErr), m_savedErr = -1;
  }

  // Starts a session below the base directory and returns its directory.
  std::filesystem::path start() {
    EXPECT_TRUE(kelLoggerClass::initialize(m_base.c_str(), 6));
    return session();
  }

  // The session directory as a native path.
  std::filesystem::path session() const {
    std::wstring directory;
    if (!kelLogger::getCurrentDirectory(directory)) return {};
    std::string native = mox::platform::wideToUtf8(directory);
    for (char& c : native)
      if (c == '\\') c = '/';
    return native;
  }

  std::filesystem::path logs() const { return m_root / "logs"; }

  mox::platform::ManualClock m_clock{fileTimeOf(2024, 3, 5, 10, 0, 0, 0), 0, 5000};
  const mox::test::ScratchDir m_scratch;
  const std::filesystem::path m_root = m_scratch.path();
  const std::wstring m_base = m_scratch.wide("logs") + L"/";
  int m_savedOut = -1;
  int m_savedErr = -1;
};

}  // namespace logtest
