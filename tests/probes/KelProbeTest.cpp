// The probe definition and the catalogue factory, read from a scratch
// installation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "mox_utils/paths/kelPath.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/probes/KelProbeFactory.h"
#include "mox_utils/xml/kelXMLFile.h"
#include "support/ScratchDir.h"
#include "support/XmlText.h"

namespace {

using mox::test::parsedXml;

// A catalogue written into a temporary "settings" directory that the
// "Settings" store location names; the module version is unset afterwards.
class KelProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kelPath::clear();
    ASSERT_TRUE(mox::platform::createDirectories(m_root + L"\\settings"));
    kelPath::setPath(kelPath::Settings, m_root + L"\\settings");
  }
  void TearDown() override {
    KelProbe::setUsModuleVersion(-1);
    kelPath::clear();
  }
  void writeCatalogue(const std::string& text) const {
    ASSERT_TRUE(mox::platform::writeFileAtomically(m_root + L"\\settings\\probes.xml", text.data(), text.size()));
  }

  mox::test::ScratchDir m_scratch;
  const std::wstring m_root = m_scratch.windows();
};

const char* const kFullProbe = R"(<probe id="42" name="C5-2&#xB5;" hidden="true">
  <enabled><e usmoduleversion="5" state="released"/></enabled><type>2</type><transmitoffset>1.25</transmitoffset>
  <icon>c5.png</icon><maxfocusdistance>240000</maxfocusdistance><maxsteerangle>45000</maxsteerangle>
  <minFocusDistanceDoppler>9000</minFocusDistanceDoppler><minlineduration>52000</minlineduration>
  <numElements>128</numElements><pinOffset>300</pinOffset><pitch>480</pitch><radius>50000</radius>
  <elevationLength>13.5</elevationLength><invertedElements>7</invertedElements><muxWrap><Rx>64</Rx><Tx>32</Tx></muxWrap>
  <biopsy><angle>25000</angle><depth>150000</depth><distance>12000</distance><width>2000</width></biopsy>
  <frequency><center>3500</center><bandwidth>2500</bandwidth></frequency><motor><FOV>75000</FOV>
  <homeMethod>259</homeMethod><minTimeBetweenPulses>70000</minTimeBetweenPulses><radius>28000</radius>
  <steps>240</steps><homeCorrection>-35</homeCorrection></motor>
  <support><freehand3d>1</freehand3d><tempAngleSensor>2</tempAngleSensor><trus>-1</trus></support></probe>)";

// A sample of the defaults: what a probe must hold after reading an element
// without items in their places, or after a failed load.
void expectDefaults(const KelProbe& p) {
  EXPECT_EQ(std::make_tuple(p.id, p.type, p.getReleaseStatus(), p.getElevationLength()),
            std::make_tuple(-1, 0, KelProbe::NotReleased, 1.0));
  EXPECT_EQ(p.numElements + p.centerFrequency + p.motorSteps + p.pinOffset, 0);
  EXPECT_TRUE(p.icon.empty() && p.getName().empty() && p.getMfg().empty());
  EXPECT_FALSE(p.isHidden() || p.hasInvertedElements() || p.supportsTRUS());
}

// Every item of kFullProbe, read with module version 5.
void expectFullProbe(const KelProbe& p) {
  EXPECT_EQ(std::make_tuple(p.getId(), p.getName(), p.getReleaseStatus(), p.getTransmitOffset(), p.getElevationLength(),
                            p.icon),
            std::make_tuple(42, std::wstring(L"C5-2\u00b5"), KelProbe::Released, 1.25, 13.5, std::wstring(L"c5.png")));
  EXPECT_TRUE(p.isHidden() && p.hasInvertedElements() && p.supportsFreehand3dMode() && p.supportsTempAngleSensor() &&
              p.supportsTRUS() && p.isPhasedArray() && p.hasMotorSensor() && p.hasBiopsy());
  EXPECT_FALSE(p.isLinearArray() || p.isConvexArray()) << "a transmit offset makes type 2 a phased array";
  // pinOffset and homeMethod keep their low 8 bits, minTimeBetweenPulses its
  // low 16; radius is the array's, not the motor's.
  EXPECT_EQ(std::make_tuple(p.type, p.maxFocusDistance, p.maxSteerAngle, p.minFocusDistanceDoppler, p.minLineDuration,
                            p.numElements, p.pinOffset, p.pitch, p.radius),
            std::make_tuple(2, 240000, 45000, 9000, 52000, 128, 300 - 256, 480, 50000));
  EXPECT_EQ(
      std::make_tuple(p.biopsyAngle, p.biopsyDepth, p.biopsyDistance, p.biopsyWidth, p.centerFrequency, p.bandwidth),
      std::make_tuple(25000, 150000, 12000, 2000, 3500, 2500));
  EXPECT_EQ(std::make_tuple(p.motorFov, p.homeMethod, p.minTimeBetweenPulses, p.motorRadius, p.motorSteps,
                            p.homeCorrection, p.muxWrapRx, p.muxWrapTx),
            std::make_tuple(75000, 3, 70000 - 65536, 28000, 240, -35, 64, 32));
}

TEST_F(KelProbeTest, ReadsEveryItemInItsPlace) {
  KelProbe::setUsModuleVersion(5);
  const kelXMLFile element = parsedXml(kFullProbe);
  KelProbe p(element.getRootElement());
  expectFullProbe(p);

  // Copying is written out field by field, so a copy is checked item by item.
  p.setMfg(L"maker");
  KelProbe assigned;
  assigned = KelProbe(p);
  const KelProbe& self = assigned;
  assigned = self;
  expectFullProbe(assigned);
  EXPECT_EQ(assigned.getMfg(), L"maker");

  // An invalid node changes nothing; reading another element starts from the
  // defaults. Items of a group are read only inside it, and only the exact
  // text "true" hides a probe.
  assigned.loadFromXML(kelXMLNode());
  EXPECT_EQ(assigned.getId(), 42);
  const kelXMLFile other = parsedXml(
      "<probe hidden='True'><center>3500</center><steps>10</steps><angle>5</angle><trus>1</trus><Rx>3</Rx>"
      "<motor><radius>9</radius></motor><frequency/></probe>");
  assigned.loadFromXML(other.getRootElement());
  expectDefaults(assigned);
  EXPECT_EQ(assigned.biopsyAngle + assigned.muxWrapRx + assigned.radius, 0);
  EXPECT_EQ(assigned.motorRadius, 9);
}

TEST_F(KelProbeTest, ReleaseStateOfTheModuleVersion) {
  const kelXMLFile element = parsedXml(
      "<probe><enabled><a usmoduleversion='1' state='demo'/><b usmoduleversion='2' state='released'/>"
      "<c usmoduleversion='3' state='Released'/><d usmoduleversion='4' state='released'/>"
      "<e usmoduleversion='4' state='demo'/><f state='demo'/>"
      "<g usmoduleversion='6' state='prototype'/><h usmoduleversion='6' state='released'/></enabled></probe>");
  const std::pair<int, KelProbe::ReleaseStatus> cases[] = {
      {-1, KelProbe::NotReleased},  // never set, no entry for -1
      {0, KelProbe::Demo},          // an entry without a version counts as 0
      {1, KelProbe::Demo},         {2, KelProbe::Released}, {3, KelProbe::NotReleased},  // states are case-sensitive
      {4, KelProbe::Released},     // the first matching entry decides
      {6, KelProbe::NotReleased},  // ... even when its state is unknown
      {7, KelProbe::NotReleased},
  };
  for (const auto& [version, expected] : cases) {
    SCOPED_TRACE(version);
    KelProbe::setUsModuleVersion(version);
    EXPECT_EQ(KelProbe(element.getRootElement()).getReleaseStatus(), expected);
  }
}

TEST_F(KelProbeTest, FeaturesNeedEveryPart) {
  KelProbe p;
  p.type = 1;  // neither of the two known codes
  EXPECT_FALSE(p.isPhasedArray() || p.isLinearArray() || p.isConvexArray());
  p.type = 2;
  EXPECT_TRUE(p.isLinearArray());
  p.homeMethod = 2;
  p.motorSteps = 10;
  EXPECT_TRUE(p.hasMotor() && !p.hasMotorSensor()) << "home method 2 has no sensor";
  p.biopsyDepth = p.biopsyAngle = 1;
  EXPECT_FALSE(p.hasBiopsy()) << "a biopsy guide needs depth, angle and distance";
  p.biopsyDistance = -1;
  EXPECT_TRUE(p.hasBiopsy());
}

// Rows: a symmetric span, with inverted elements and clamped to the limit
// (also a negative one); line 2 of 4 around 5000 over 20001, where the first
// line is at 15000 and the last at -5000: 15000 - 40000 / 3 = 1667 (truncated
// after multiplying), inverted -15000 + 40000 / 3 = -1667; a single line in
// the middle of the span; extremes that must not overflow.
TEST_F(KelProbeTest, ComputeAngle) {
  struct Case {
    int maxSteer;
    bool inverted;
    int line, lineCount, center, span;
    int expected;
  } cases[] = {{45000, false, 0, 3, 0, 60000, 30000},
               {45000, false, 2, 3, 0, 60000, -30000},
               {45000, true, 0, 3, 0, 60000, -30000},
               {0, true, 2, 3, 0, 60000, 0},
               {-20000, false, 0, 3, 0, 60000, 20000},
               {45000, false, 2, 4, 5000, 20001, 1667},
               {45000, true, 2, 4, 5000, 20001, -1667},
               {45000, false, 0, 1, 5000, 60000, 5000},
               {45000, true, 0, 1, 5000, 60000, -5000},
               {2147483647, false, 2147483647, 2, 2147483647, 2147483647, -2147483647},
               {2147483647, false, -2147483647 - 1, 2, 0, -2147483647 - 1, -2147483647}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    KelProbe p;
    p.maxSteerAngle = c.maxSteer;
    p.invertedElements = c.inverted;
    EXPECT_EQ(p.computeAngle(c.line, c.lineCount, c.center, c.span), c.expected);
  }
}

TEST_F(KelProbeTest, LoadByIdAndImagePath) {
  writeCatalogue(
      "<catalogue><probes>"
      "<probe id='1' name='first'/><!-- --><probe id='2' name='second'/><probe id='3' name='third' hidden='true'/>"
      "</probes></catalogue>");
  KelProbe p;
  EXPECT_TRUE(p.load(2));
  EXPECT_EQ(p.getName(), L"second");
  EXPECT_TRUE(p.load(99));
  EXPECT_EQ(p.getName(), L"third") << "no match leaves the last probe of the list";

  writeCatalogue("<catalogue><other/></catalogue>");
  EXPECT_TRUE(p.load(1));
  EXPECT_EQ(p.getName(), L"third") << "no probe list leaves the probe unchanged";

  mox::platform::removeFile(m_root + L"\\settings\\probes.xml");
  EXPECT_FALSE(p.load(1));
  expectDefaults(p);

  // The icon lives in the "Icons" location; no icon, no path.
  EXPECT_EQ(p.getImgPath(), L"");
  p.icon = L"c5.png";
  EXPECT_EQ(p.getImgPath(), L"probes\\c5.png");
  kelPath::setPath(kelPath::Icons, L"/opt/scanner/icons");
  EXPECT_EQ(p.getImgPath(), L"\\opt\\scanner\\icons\\probes\\c5.png");
}

TEST_F(KelProbeTest, CreateRandomStaysInRange) {
  const auto within = [](int low, int high) { return testing::AllOf(testing::Ge(low), testing::Le(high)); };
  for (int t = KelProbe::ConvexProbe; t <= KelProbe::AnyProbe; ++t) {
    SCOPED_TRACE(t);
    KelProbe p;
    p.hidden = true;
    p.icon = L"x.png";
    p.createRandom(static_cast<KelProbe::probeType>(t));
    EXPECT_EQ(p.getMfg(), L"QVX Random");
    EXPECT_TRUE(p.isHidden() && p.icon.empty()) << "hidden is kept, the icon emptied";
    // The type is one of the known codes 0, 2, 3 or 4; a linear request gives
    // 2 without a transmit offset.
    EXPECT_THAT(p.type, testing::AllOf(within(0, 4), testing::Ne(1)));
    EXPECT_TRUE(t == KelProbe::AnyProbe || p.type == (t == KelProbe::LinearProbe ? 2 : t)) << p.type;
    EXPECT_TRUE(t != KelProbe::LinearProbe || p.getTransmitOffset() == 0.0);
    for (const int value : {p.numElements, p.pitch}) EXPECT_THAT(value, within(1, 1025));
    for (const int angle : {p.maxSteerAngle, p.motorFov, p.biopsyAngle}) {
      EXPECT_THAT(angle, within(0, 91000));
      EXPECT_EQ(angle % 1000, 0);
    }
    for (const int value : {p.centerFrequency, p.bandwidth, p.maxFocusDistance, p.biopsyWidth, p.muxWrapTx})
      EXPECT_THAT(value, within(0, 32768));
    EXPECT_TRUE(p.supportsFreehand3dMode() && p.supportsTempAngleSensor() && p.supportsTRUS());
  }
}

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

// The ids of the probes still to come (at most 100: a factory that never
// ends fails instead of hanging).
std::vector<int> drain(KelProbeFactory& factory) {
  std::vector<int> ids;
  while (ids.size() < 100) {
    std::unique_ptr<KelProbe> probe(factory.getNextProbe());
    if (!probe) break;
    ids.push_back(probe->getId());
  }
  return ids;
}

TEST_F(KelProbeTest, FactoryFiltersByReleaseState) {
  writeCatalogue(kCatalogue);
  struct Case {
    bool releasedOnly, allowDemo;
    int version;
    std::vector<int> ids;
  } cases[] = {{false, false, 5, {1, 2, 3, 4, 5, 6}},
               {true, false, 5, {1, 4, 6}},
               {true, true, 5, {1, 2, 4, 6}},
               {true, false, 4, {5}},
               {true, true, 4, {4, 5}},
               {true, true, -1, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    KelProbe::setUsModuleVersion(c.version);
    KelProbeFactory factory(c.releasedOnly, c.allowDemo);
    ASSERT_TRUE(factory.firstProbe());
    EXPECT_EQ(drain(factory), c.ids);
  }
}

TEST_F(KelProbeTest, FactoryEnumerationLifecycle) {
  writeCatalogue(kCatalogue);
  KelProbeFactory factory(false, false);
  EXPECT_EQ(factory.getNextProbe(), nullptr) << "nothing before firstProbe";

  ASSERT_TRUE(factory.firstProbe());
  delete factory.getNextProbe();  // probe 1

  // A copy continues from the same place on its own.
  KelProbeFactory copy(factory);
  EXPECT_EQ(drain(copy), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(drain(factory), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(factory.getNextProbe(), nullptr) << "stays at the end";

  // firstProbe, also in the middle of an enumeration, reads the catalogue
  // again and starts at its first probe.
  ASSERT_TRUE(factory.firstProbe());
  delete factory.getNextProbe();
  delete factory.getNextProbe();
  writeCatalogue("<c><probes><probe id='9'/><probe id='8'/></probes></c>");
  ASSERT_TRUE(factory.firstProbe());
  EXPECT_EQ(drain(factory), (std::vector<int>{9, 8}));
}

TEST_F(KelProbeTest, FactoryRefusesUnusableCatalogues) {
  // No file, not XML, no probe list, the probe list as the root, an empty list.
  const std::pair<const char*, bool> cases[] = {{nullptr, false},
                                                {"probes", false},
                                                {"<c><probe id='1'/></c>", false},
                                                {"<probes><probe id='1'/></probes>", false},
                                                {"<c><probes/></c>", true}};
  for (const auto& [text, opens] : cases) {
    SCOPED_TRACE(text != nullptr ? text : "no file");
    mox::platform::removeFile(KelProbeFactory::getPath());
    if (text != nullptr) writeCatalogue(text);
    KelProbeFactory factory(false, false);
    EXPECT_EQ(factory.firstProbe(), opens);
    EXPECT_EQ(factory.getNextProbe(), nullptr);
  }
}

// The sample installation shipped in examples/ must stay usable by the tool
// and the demo: unique ids, the stand-in probe among them, every release
// state and every kind of probe.
TEST_F(KelProbeTest, SampleCatalogueHasEveryKindOfProbe) {
  kelPath::clear();
  kelPath::populate(mox::platform::utf8ToWide(MOX_SOURCE_DIR "/examples"));
  EXPECT_NE(KelProbeFactory::getPath().find(L"examples\\settings\\probes.xml"), std::wstring::npos);

  KelProbe::setUsModuleVersion(5);
  KelProbeFactory factory(false, false);
  ASSERT_TRUE(factory.firstProbe());
  std::set<int> ids;
  std::set<KelProbe::ReleaseStatus> states;
  unsigned int kinds = 0;
  while (std::unique_ptr<KelProbe> p{factory.getNextProbe()}) {
    EXPECT_TRUE(ids.insert(p->getId()).second && !p->getName().empty() && p->numElements > 0) << p->getId();
    states.insert(p->getReleaseStatus());
    const bool kind[] = {p->isConvexArray(), p->isLinearArray(), p->isPhasedArray(),      p->hasMotor(),
                         p->hasBiopsy(),     p->isHidden(),      p->hasInvertedElements()};
    for (unsigned int k = 0; k < 7; ++k) kinds |= static_cast<unsigned int>(kind[k]) << k;
  }
  EXPECT_GE(ids.size(), 8u);
  EXPECT_EQ(ids.count(KelProbeFactory::getDummyProbeId()), 1u);
  EXPECT_EQ(states.size(), 3u);
  EXPECT_EQ(kinds, 0x7Fu) << "convex, linear, phased, motor, biopsy, hidden, inverted";
}

}  // namespace
