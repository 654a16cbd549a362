#include "mox_utils/probes/KelProbe.h"

#include <gtest/gtest.h>

#include <string>

#include "ProbeTestSupport.h"
#include "mox_utils/xml/kelXMLFile.h"

namespace {

// Parses one probe element.
struct ProbeElement {
  explicit ProbeElement(const std::string& xml) { EXPECT_TRUE(file.openBuffer(xml.data(), xml.size())) << xml; }
  kelXMLNode node() const { return file.getRootElement(); }
  kelXMLFile file;
};

const char* const kFullProbe = R"(
<probe id="42" name="C5-2&#xB5;" hidden="true">
  <enabled><e usmoduleversion="5" state="released"/></enabled>
  <type>2</type>
  <transmitoffset>1.25</transmitoffset>
  <icon>c5.png</icon>
  <maxfocusdistance>240000</maxfocusdistance>
  <maxsteerangle>45000</maxsteerangle>
  <minFocusDistanceDoppler>9000</minFocusDistanceDoppler>
  <minlineduration>52000</minlineduration>
  <numElements>128</numElements>
  <pinOffset>300</pinOffset>
  <pitch>480</pitch>
  <radius>50000</radius>
  <elevationLength>13.5</elevationLength>
  <invertedElements>7</invertedElements>
  <biopsy><angle>25000</angle><depth>150000</depth><distance>12000</distance><width>2000</width></biopsy>
  <frequency><center>3500</center><bandwidth>2500</bandwidth></frequency>
  <motor><FOV>75000</FOV><homeMethod>259</homeMethod><minTimeBetweenPulses>70000</minTimeBetweenPulses>
         <radius>28000</radius><steps>240</steps><homeCorrection>-35</homeCorrection></motor>
  <support><freehand3d>1</freehand3d><tempAngleSensor>2</tempAngleSensor><trus>-1</trus></support>
  <muxWrap><Rx>64</Rx><Tx>32</Tx></muxWrap>
</probe>)";

void expectDefaults(const KelProbe& p) {
  EXPECT_EQ(p.id, -1);
  EXPECT_EQ(p.type, 0);
  EXPECT_TRUE(p.isConvexArray());
  EXPECT_EQ(p.getReleaseStatus(), KelProbe::NotReleased);
  EXPECT_EQ(p.getElevationLength(), 1.0);
  EXPECT_EQ(p.numElements, 0);
  EXPECT_EQ(p.centerFrequency, 0);
  EXPECT_EQ(p.motorSteps, 0);
  EXPECT_EQ(p.pinOffset, 0);
  EXPECT_TRUE(p.icon.empty());
  EXPECT_TRUE(p.getName().empty());
  EXPECT_FALSE(p.isHidden());
  EXPECT_FALSE(p.hasInvertedElements());
  EXPECT_FALSE(p.supportsTRUS());
}

TEST(KelProbeTest, DefaultProbe) {
  expectDefaults(KelProbe());
  expectDefaults(KelProbe(kelXMLNode()));
}

class KelProbeLoadTest : public ProbeInstallationTest {};

TEST_F(KelProbeLoadTest, ReadsEveryItem) {
  KelProbe::setUsModuleVersion(5);
  const ProbeElement element(kFullProbe);
  const KelProbe p(element.node());
  EXPECT_EQ(p.getId(), 42);
  EXPECT_EQ(p.getName(), L"C5-2\u00b5");
  EXPECT_TRUE(p.isHidden());
  EXPECT_EQ(p.getReleaseStatus(), KelProbe::Released);
  EXPECT_EQ(p.type, 2);
  EXPECT_EQ(p.getTransmitOffset(), 1.25);
  EXPECT_EQ(p.icon, L"c5.png");
  EXPECT_EQ(p.maxFocusDistance, 240000);
  EXPECT_EQ(p.maxSteerAngle, 45000);
  EXPECT_EQ(p.minFocusDistanceDoppler, 9000);
  EXPECT_EQ(p.minLineDuration, 52000);
  EXPECT_EQ(p.numElements, 128);
  EXPECT_EQ(p.pinOffset, 300 - 256) << "low 8 bits";
  EXPECT_EQ(p.pitch, 480);
  EXPECT_EQ(p.radius, 50000) << "the array's radius, not the motor's";
  EXPECT_EQ(p.getElevationLength(), 13.5);
  EXPECT_TRUE(p.hasInvertedElements());
  EXPECT_EQ(p.biopsyAngle, 25000);
  EXPECT_EQ(p.biopsyDepth, 150000);
  EXPECT_EQ(p.biopsyDistance, 12000);
  EXPECT_EQ(p.biopsyWidth, 2000);
  EXPECT_EQ(p.centerFrequency, 3500);
  EXPECT_EQ(p.bandwidth, 2500);
  EXPECT_EQ(p.motorFov, 75000);
  EXPECT_EQ(p.homeMethod, 3) << "low 8 bits of 259";
  EXPECT_EQ(p.minTimeBetweenPulses, 70000 - 65536) << "low 16 bits";
  EXPECT_EQ(p.motorRadius, 28000);
  EXPECT_EQ(p.motorSteps, 240);
  EXPECT_EQ(p.homeCorrection, -35);
  EXPECT_TRUE(p.supportsFreehand3dMode());
  EXPECT_TRUE(p.supportsTempAngleSensor());
  EXPECT_TRUE(p.supportsTRUS());
  EXPECT_EQ(p.muxWrapRx, 64);
  EXPECT_EQ(p.muxWrapTx, 32);
  EXPECT_TRUE(p.isPhasedArray());
  EXPECT_TRUE(p.hasMotorSensor());
  EXPECT_TRUE(p.hasBiopsy());

  // Copies carry every field, the strings included.
  KelProbe copy(p);
  KelProbe assigned;
  assigned = copy;
  const KelProbe& self = assigned;
  assigned = self;
  for (const KelProbe* q : {&copy, &assigned}) {
    EXPECT_EQ(q->getName(), p.getName());
    EXPECT_EQ(q->icon, p.icon);
    EXPECT_EQ(q->homeCorrection, -35);
    EXPECT_EQ(q->muxWrapTx, 32);
    EXPECT_TRUE(q->isHidden());
    EXPECT_EQ(q->getElevationLength(), 13.5);
  }

  // Reading another element starts from the defaults.
  KelProbe reused(p);
  reused.setMfg(L"maker");
  const ProbeElement minimal("<probe/>");
  reused.loadFromXML(minimal.node());
  expectDefaults(reused);
  EXPECT_TRUE(reused.getMfg().empty());

  // An invalid node changes nothing.
  KelProbe kept(p);
  kept.loadFromXML(kelXMLNode());
  EXPECT_EQ(kept.getId(), 42);
}

TEST_F(KelProbeLoadTest, ItemsOutsideTheirParentAreNotRead) {
  const ProbeElement element(
      "<probe><center>3500</center><steps>10</steps><angle>5</angle><trus>1</trus><Rx>3</Rx>"
      "<motor><radius>9</radius></motor><frequency/></probe>");
  const KelProbe p(element.node());
  EXPECT_EQ(p.centerFrequency, 0);
  EXPECT_EQ(p.motorSteps, 0);
  EXPECT_EQ(p.biopsyAngle, 0);
  EXPECT_FALSE(p.supportsTRUS());
  EXPECT_EQ(p.muxWrapRx, 0);
  EXPECT_EQ(p.radius, 0);
  EXPECT_EQ(p.motorRadius, 9);
}

TEST_F(KelProbeLoadTest, ReleaseStateOfTheModuleVersion) {
  const std::string enabled =
      "<probe><enabled>"
      "<a usmoduleversion='1' state='demo'/>"
      "<b usmoduleversion='2' state='released'/>"
      "<c usmoduleversion='3' state='Released'/>"
      "<d usmoduleversion='4' state='released'/>"
      "<e usmoduleversion='4' state='demo'/>"
      "<f state='demo'/>"
      "<g usmoduleversion='6' state='prototype'/>"
      "<h usmoduleversion='6' state='released'/>"
      "</enabled></probe>";
  struct Case {
    int version;
    KelProbe::ReleaseStatus expected;
  } cases[] = {
      {-1, KelProbe::NotReleased},  // never set, no entry for -1
      {0, KelProbe::Demo},          // an entry without a version counts as 0
      {1, KelProbe::Demo},         {2, KelProbe::Released}, {3, KelProbe::NotReleased},  // states are case-sensitive
      {4, KelProbe::Released},     // the first matching entry decides
      {6, KelProbe::NotReleased},  // ... even when its state is unknown
      {7, KelProbe::NotReleased},
  };
  const ProbeElement element(enabled);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    KelProbe::setUsModuleVersion(c.version);
    EXPECT_EQ(KelProbe(element.node()).getReleaseStatus(), c.expected);
  }
}

TEST_F(KelProbeLoadTest, HiddenOnlyForExactTrue) {
  struct Case {
    const char* attribute;
    bool hidden;
  } cases[] = {{"hidden='true'", true},   {"hidden='True'", false}, {"hidden='1'", false},
               {"hidden='true '", false}, {"hidden=''", false},     {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    const ProbeElement element(std::string("<probe ") + c.attribute + "/>");
    EXPECT_EQ(KelProbe(element.node()).isHidden(), c.hidden);
  }
}

TEST(KelProbeTest, FeaturesNeedEveryPart) {
  KelProbe p;
  p.type = 1;  // neither of the two known codes
  EXPECT_FALSE(p.isPhasedArray() || p.isLinearArray() || p.isConvexArray());
  p.homeMethod = 2;
  p.motorSteps = 10;
  EXPECT_TRUE(p.hasMotor());
  EXPECT_FALSE(p.hasMotorSensor()) << "home method 2 has no sensor";
  p.biopsyDepth = 1;
  p.biopsyAngle = 1;
  EXPECT_FALSE(p.hasBiopsy()) << "a biopsy guide needs depth, angle and distance";
  p.biopsyDistance = -1;
  EXPECT_TRUE(p.hasBiopsy());
}

TEST(KelProbeTest, ComputeAngle) {
  struct Case {
    int maxSteer;
    bool inverted;
    int line, lineCount, center, span;
    int expected;
  } cases[] = {
      {45000, false, 0, 3, 0, 60000, 30000},
      {45000, false, 1, 3, 0, 60000, 0},
      {45000, false, 2, 3, 0, 60000, -30000},
      {20000, false, 0, 3, 0, 60000, 20000},
      {20000, false, 2, 3, 0, 60000, -20000},
      {45000, true, 0, 3, 0, 60000, -30000},
      {45000, true, 2, 3, 0, 60000, 30000},
      {0, false, 0, 3, 0, 60000, 0},
      {0, true, 2, 3, 0, 60000, 0},
      // first 5000 + 10000 = 15000, last 5000 - 10000 = -5000; line 1 of 4:
      // 15000 - 20000 / 3 = 8334 (truncated)
      {45000, false, 1, 4, 5000, 20001, 8334},
      // inverted: first -15000, last 5000: -15000 + 20000 / 3 = -8334
      {45000, true, 1, 4, 5000, 20001, -8334},
      // a single line lies in the middle of the span
      {45000, false, 0, 1, 5000, 60000, 5000},
      {45000, true, 0, 1, 5000, 60000, -5000},
      {4000, false, 0, 1, 5000, 60000, 4000},
      {-20000, false, 0, 3, 0, 60000, 20000},
      // extremes do not overflow
      {2147483647, false, 2147483647, 2, 2147483647, 2147483647, -2147483647},
      {2147483647, false, -2147483647 - 1, 2, 0, -2147483647 - 1, -2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.line << "/" << c.lineCount << " center " << c.center << " span " << c.span
                                    << " max " << c.maxSteer << (c.inverted ? " inverted" : ""));
    KelProbe p;
    p.maxSteerAngle = c.maxSteer;
    p.invertedElements = c.inverted;
    EXPECT_EQ(p.computeAngle(c.line, c.lineCount, c.center, c.span), c.expected);
  }
}

TEST_F(KelProbeLoadTest, LoadById) {
  writeCatalogue(
      "<catalogue><probes>"
      "<probe id='1' name='first'/><!-- --><probe id='2' name='second'/><probe id='3' name='third'/>"
      "</probes></catalogue>");
  KelProbe p;
  EXPECT_TRUE(p.load(2));
  EXPECT_EQ(p.getName(), L"second");
  EXPECT_TRUE(p.load(99));
  EXPECT_EQ(p.getName(), L"third") << "no match leaves the last probe of the list";

  writeCatalogue("<catalogue><other/></catalogue>");
  EXPECT_TRUE(p.load(1));
  EXPECT_EQ(p.getName(), L"third") << "no probe list leaves the probe unchanged";

  writeCatalogue("<catalogue><probes/></catalogue>");
  EXPECT_TRUE(p.load(1));
  EXPECT_EQ(p.getName(), L"third");

  mox::platform::removeFile(m_root + L"\\settings\\probes.xml");
  EXPECT_FALSE(p.load(1));
  expectDefaults(p);
}

TEST_F(KelProbeLoadTest, ImagePathInIconsLocation) {
  KelProbe p;
  EXPECT_EQ(p.getImgPath(), L"");
  p.icon = L"c5.png";
  EXPECT_EQ(p.getImgPath(), L"probes\\c5.png");
  kelPath::setPath(kelPath::Icons, L"/opt/scanner/icons");
  EXPECT_EQ(p.getImgPath(), L"\\opt\\scanner\\icons\\probes\\c5.png");
}

TEST(KelProbeTest, CreateRandomStaysInRange) {
  for (int t = KelProbe::ConvexProbe; t <= KelProbe::AnyProbe; ++t) {
    SCOPED_TRACE(t);
    KelProbe p;
    p.hidden = true;
    p.icon = L"x.png";
    p.createRandom(static_cast<KelProbe::probeType>(t));
    EXPECT_EQ(p.getName(), L"Random");
    EXPECT_EQ(p.getMfg(), L"QVX Random");
    EXPECT_TRUE(p.isHidden()) << "hidden is kept";
    EXPECT_TRUE(p.icon.empty());
    EXPECT_EQ(p.getReleaseStatus(), KelProbe::NotReleased);
    if (t == KelProbe::AnyProbe) {
      EXPECT_GE(p.type, 0);
      EXPECT_LE(p.type, 4);
      EXPECT_NE(p.type, 1);
    } else {
      EXPECT_EQ(p.type, t == 1 ? 2 : t);
    }
    if (t == KelProbe::LinearProbe) {
      EXPECT_EQ(p.getTransmitOffset(), 0.0);
    }
    EXPECT_GE(p.id, 0);
    EXPECT_LE(p.id, 32);
    for (const int value : {p.numElements, p.pitch}) {
      EXPECT_GE(value, 1);
      EXPECT_LE(value, 1025);
    }
    for (const int angle : {p.maxSteerAngle, p.motorFov, p.biopsyAngle}) {
      EXPECT_EQ(angle % 1000, 0);
      EXPECT_GE(angle, 0);
      EXPECT_LE(angle, 91000);
    }
    for (const int value : {p.centerFrequency, p.bandwidth, p.maxFocusDistance, p.biopsyWidth, p.muxWrapTx}) {
      EXPECT_GE(value, 0);
      EXPECT_LE(value, 32768);
    }
    EXPECT_GE(p.getElevationLength(), 0.0);
    EXPECT_LE(p.getElevationLength(), 32768.0);
    EXPECT_TRUE(p.supportsFreehand3dMode() && p.supportsTempAngleSensor() && p.supportsTRUS());
  }
}

}  // namespace
