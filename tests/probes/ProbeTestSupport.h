// A scratch installation for the probe tests: a catalogue written into a
// temporary "settings" directory that the "Settings" store location names,
// and the module version restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mox_utils/paths/kelPath.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes/KelProbe.h"

class ProbeInstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedVersion = KelProbe::getUsModuleVersion();
    kelPath::clear();
    m_root = mox::platform::utf8ToWide(::testing::TempDir()) + L"probes_" + std::to_wstring(std::random_device()());
    for (wchar_t& c : m_root)
      if (c == L'/') c = L'\\';
    ASSERT_TRUE(mox::platform::createDirectories(m_root + L"\\settings"));
    kelPath::setPath(kelPath::Settings, m_root + L"\\settings");
  }
  void TearDown() override {
    KelProbe::setUsModuleVersion(m_savedVersion);
    kelPath::clear();
    mox::platform::removeTree(m_root);
  }

  void writeCatalogue(const std::string& text) const {
    ASSERT_TRUE(mox::platform::writeFileAtomically(m_root + L"\\settings\\probes.xml", text.data(), text.size()));
  }

  std::wstring m_root;
  int m_savedVersion = -1;
};
