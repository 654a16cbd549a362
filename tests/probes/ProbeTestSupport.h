// A scratch installation for the probe tests: a catalogue written into a
// temporary "settings" directory that the "Settings" store location names,
// and the module version restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mox_utils/paths/kelPath.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes/KelProbe.h"
#include "support/ScratchDir.h"

class ProbeInstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedVersion = KelProbe::getUsModuleVersion();
    kelPath::clear();
    ASSERT_TRUE(mox::platform::createDirectories(m_root + L"\\settings"));
    kelPath::setPath(kelPath::Settings, m_root + L"\\settings");
  }
  void TearDown() override {
    KelProbe::setUsModuleVersion(m_savedVersion);
    kelPath::clear();
  }

  void writeCatalogue(const std::string& text) const {
    ASSERT_TRUE(mox::platform::writeFileAtomically(m_root + L"\\settings\\probes.xml", text.data(), text.size()));
  }

  mox::test::ScratchDir m_scratch;
  const std::wstring m_root = m_scratch.windows();
  int m_savedVersion = -1;
};
