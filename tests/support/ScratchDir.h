// A fresh directory for one test, removed afterwards. Named after the process
// and the test, so that tests running in parallel never meet.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "mox_utils/platform/Text.h"

namespace mox::test {

class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    m_path = std::filesystem::temp_directory_path() /
             ("mox_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
  // A name inside, as a wide path with the native separators.
  std::wstring wide(const std::string& name) const { return mox::platform::utf8ToWide((m_path / name).string()); }
  // The directory, or a name inside, in Windows form (backslashes), as the
  // library's callers write paths.
  std::wstring windows(const std::wstring& name = L"") const {
    std::wstring w = mox::platform::utf8ToWide(m_path.string());
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return name.empty() ? w : w + L"\\" + name;
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace mox::test
