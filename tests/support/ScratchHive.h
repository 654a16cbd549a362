// A hive file of its own for each test, so that tests never touch the
// user's settings and tests running in parallel never meet.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "mox_utils/platform/Registry.h"

namespace mox::test {

class ScratchHive : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    m_path = (std::filesystem::temp_directory_path() / (std::string("mox_hive_") + std::to_string(::getpid()) + "_" +
                                                        info->test_suite_name() + "_" + info->name() + ".sqlite"))
                 .string();
    removeFiles();
    mox::platform::setHivePath(m_path);
  }
  void TearDown() override {
    mox::platform::setHivePath(std::string());  // closes the file
    removeFiles();
  }
  void removeFiles() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(m_path + suffix);
  }
  const std::string& hiveFile() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace mox::test
