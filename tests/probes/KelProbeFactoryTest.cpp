#include "mox_utils/probes/KelProbeFactory.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ProbeTestSupport.h"

namespace {

// Module version 5: ids 1 and 4 released, 2 demo, 3 an unknown state, 5 no
// entry for 5, 6 released and hidden.
const char* const kCatalogue = R"(<catalogue><probes>
  <probe id="1"><enabled><e usmoduleversion="5" state="released"/></enabled></probe>
  <probe id="2"><enabled><e usmoduleversion="5" state="demo"/></enabled></probe>
  <probe id="3"><enabled><e usmoduleversion="5" state="beta"/></enabled></probe>
  <!-- a comment between probes -->
  <probe id="4"><enabled><e usmoduleversion="4" state="demo"/><e usmoduleversion="5" state="released"/></enabled></probe>
  <probe id="5"><enabled><e usmoduleversion="4" state="released"/></enabled></probe>
  <probe id="6" hidden="true"><enabled><e usmoduleversion="5" state="released"/></enabled></probe>
</probes></catalogue>)";

std::vector<int> drain(KelProbeFactory& factory) {
  std::vector<int> ids;
  for (int guard = 0; guard < 100; ++guard) {
    std::unique_ptr<KelProbe> probe(factory.getNextProbe());
    if (!probe) break;
    ids.push_back(probe->getId());
  }
  return ids;
}

class KelProbeFactoryTest : public ProbeInstallationTest {};

TEST_F(KelProbeFactoryTest, FiltersByReleaseState) {
  writeCatalogue(kCatalogue);
  struct Case {
    bool releasedOnly, allowDemo;
    int version;
    std::vector<int> ids;
  } cases[] = {
      {false, false, 5, {1, 2, 3, 4, 5, 6}},
      {true, false, 5, {1, 4, 6}},
      {true, true, 5, {1, 2, 4, 6}},
      {true, false, 4, {5}},
      {true, true, 4, {4, 5}},
      {true, true, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.releasedOnly << c.allowDemo << " version " << c.version);
    KelProbe::setUsModuleVersion(c.version);
    KelProbeFactory factory(c.releasedOnly, c.allowDemo);
    ASSERT_TRUE(factory.firstProbe());
    EXPECT_EQ(drain(factory), c.ids);
  }
}

TEST_F(KelProbeFactoryTest, EnumerationLifecycle) {
  writeCatalogue(kCatalogue);
  KelProbeFactory factory(false, false);
  EXPECT_EQ(factory.getNextProbe(), nullptr) << "nothing before firstProbe";

  ASSERT_TRUE(factory.firstProbe());
  std::unique_ptr<KelProbe> first(factory.getNextProbe());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->getId(), 1);

  // A copy continues from the same place on its own.
  KelProbeFactory copy(factory);
  EXPECT_EQ(drain(copy), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(drain(factory), (std::vector<int>{2, 3, 4, 5, 6}));

  EXPECT_EQ(factory.getNextProbe(), nullptr) << "stays at the end";

  // The catalogue is read again on the next firstProbe, so a changed file is
  // seen.
  writeCatalogue("<c><probes><probe id='9'/></probes></c>");
  ASSERT_TRUE(factory.firstProbe());
  EXPECT_EQ(drain(factory), (std::vector<int>{9}));

  // firstProbe in the middle of an enumeration starts again at the first.
  writeCatalogue(kCatalogue);
  ASSERT_TRUE(factory.firstProbe());
  delete factory.getNextProbe();
  delete factory.getNextProbe();
  ASSERT_TRUE(factory.firstProbe());
  EXPECT_EQ(drain(factory).front(), 1);
}

TEST_F(KelProbeFactoryTest, UnusableCatalogue) {
  struct Case {
    const char* name;
    const char* text;  // null: no file
    bool opens;
  } cases[] = {
      {"missing", nullptr, false},
      {"not xml", "probes", false},
      {"no probe list", "<c><probe id='1'/></c>", false},
      {"probe list is the root", "<probes><probe id='1'/></probes>", false},
      {"empty list", "<c><probes/></c>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mox::platform::removeFile(KelProbeFactory::getPath());
    if (c.text != nullptr) writeCatalogue(c.text);
    KelProbeFactory factory(false, false);
    EXPECT_EQ(factory.firstProbe(), c.opens);
    EXPECT_EQ(factory.getNextProbe(), nullptr);
  }
  EXPECT_EQ(KelProbeFactory::getDummyProbeId(), 5);
}

// The sample installation shipped in examples/ must stay usable by the tool
// and the demo.
TEST(KelProbeFactorySampleTest, SampleCatalogueHasEveryKindOfProbe) {
  const int savedVersion = KelProbe::getUsModuleVersion();
  kelPath::clear();
  kelPath::populate(mox::platform::utf8ToWide(MOX_SOURCE_DIR "/examples"));
  EXPECT_NE(KelProbeFactory::getPath().find(L"examples\\settings\\probes.xml"), std::wstring::npos);

  KelProbe::setUsModuleVersion(5);
  KelProbeFactory factory(false, false);
  ASSERT_TRUE(factory.firstProbe());
  std::set<int> ids;
  std::set<KelProbe::ReleaseStatus> states;
  bool convex = false, linear = false, phased = false, motor = false, biopsy = false, inverted = false, hidden = false;
  while (std::unique_ptr<KelProbe> p{factory.getNextProbe()}) {
    EXPECT_TRUE(ids.insert(p->getId()).second) << "duplicate id " << p->getId();
    EXPECT_FALSE(p->getName().empty());
    EXPECT_GT(p->numElements, 0);
    states.insert(p->getReleaseStatus());
    convex |= p->isConvexArray();
    linear |= p->isLinearArray();
    phased |= p->isPhasedArray();
    motor |= p->hasMotor();
    biopsy |= p->hasBiopsy();
    inverted |= p->hasInvertedElements();
    hidden |= p->isHidden();
  }
  EXPECT_GE(ids.size(), 8u);
  EXPECT_EQ(ids.count(KelProbeFactory::getDummyProbeId()), 1u);
  EXPECT_EQ(states.size(), 3u);
  EXPECT_TRUE(convex && linear && phased && motor && biopsy && inverted && hidden);

  KelProbe::setUsModuleVersion(savedVersion);
  kelPath::clear();
}

}  // namespace
