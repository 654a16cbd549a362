#include "mox_utils/probes/KelProbe.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <new>

#include "mox_utils/paths/kelPath.h"
#include "mox_utils/xml/kelXMLFile.h"
#include "mox_utils/xml/kelXMLNode.h"

int KelProbe::m_usModuleVersion = -1;

namespace {

void readInt(const kelXMLNode& node, const wchar_t* name, int& field) { node.getInt(name, field); }

template <typename Narrow>
void readLowBits(const kelXMLNode& node, const wchar_t* name, Narrow& field) {
  int value = 0;
  if (node.getInt(name, value)) field = static_cast<Narrow>(static_cast<unsigned int>(value));
}

void readFlag(const kelXMLNode& node, const wchar_t* name, bool& field) {
  int value = 0;
  if (node.getInt(name, value)) field = value != 0;
}

// One random number r scaled as r / 32767 * n, truncated toward zero, so 0 to
// n (or n to 0 for a negative n). The catalogue's ranges assume a generator
// of 15 bits, so glibc's 31-bit rand() is cut down to its top 15 bits.
int randomUpTo(int n) {
  const int r = std::rand() / ((RAND_MAX / 32768) + 1);
  return static_cast<int>(static_cast<double>(r) / 32767.0 * n);
}

}  // namespace

KelProbe::KelProbe() { Clear(); }

KelProbe::KelProbe(const kelXMLNode& node) {
  Clear();
  loadFromXML(node);
}

KelProbe::KelProbe(const KelProbe& other) { Initialize(other); }

const KelProbe& KelProbe::operator=(const KelProbe& other) {
  if (this != &other) Initialize(other);
  return *this;
}

KelProbe::~KelProbe() = default;

void KelProbe::Clear() {
  id = -1;
  type = 0;
  numElements = 0;
  pitch = 0;
  radius = 0;
  centerFrequency = 0;
  bandwidth = 0;
  transmitOffset = 0.0;
  maxSteerAngle = 0;
  maxFocusDistance = 0;
  minLineDuration = 0;
  minFocusDistanceDoppler = 0;
  pinOffset = 0;
  motorFov = 0;
  biopsyDepth = 0;
  biopsyAngle = 0;
  biopsyDistance = 0;
  motorSteps = 0;
  motorRadius = 0;
  minTimeBetweenPulses = 0;
  homeMethod = 0;
  homeCorrection = 0;
  biopsyWidth = 0;
  muxWrapRx = 0;
  muxWrapTx = 0;
  releaseStatus = NotReleased;
  icon.clear();
  name.clear();
  mfg.clear();
  elevationLength = 1.0;
  invertedElements = false;
  freehand3d = false;
  tempAngleSensor = false;
  trus = false;
  hidden = false;
}

void KelProbe::Initialize(const KelProbe& other) {
  id = other.id;
  type = other.type;
  numElements = other.numElements;
  pitch = other.pitch;
  radius = other.radius;
  centerFrequency = other.centerFrequency;
  bandwidth = other.bandwidth;
  transmitOffset = other.transmitOffset;
  maxSteerAngle = other.maxSteerAngle;
  maxFocusDistance = other.maxFocusDistance;
  minLineDuration = other.minLineDuration;
  minFocusDistanceDoppler = other.minFocusDistanceDoppler;
  pinOffset = other.pinOffset;
  motorFov = other.motorFov;
  biopsyDepth = other.biopsyDepth;
  biopsyAngle = other.biopsyAngle;
  biopsyDistance = other.biopsyDistance;
  motorSteps = other.motorSteps;
  motorRadius = other.motorRadius;
  minTimeBetweenPulses = other.minTimeBetweenPulses;
  homeMethod = other.homeMethod;
  homeCorrection = other.homeCorrection;
  biopsyWidth = other.biopsyWidth;
  muxWrapRx = other.muxWrapRx;
  muxWrapTx = other.muxWrapTx;
  releaseStatus = other.releaseStatus;
  icon = other.icon;
  name = other.name;
  mfg = other.mfg;
  elevationLength = other.elevationLength;
  invertedElements = other.invertedElements;
  freehand3d = other.freehand3d;
  tempAngleSensor = other.tempAngleSensor;
  trus = other.trus;
  hidden = other.hidden;
}

void KelProbe::loadFromXML(const kelXMLNode& node) {
  if (!node.isValid()) return;
  Clear();
  id = node.getAttributeInt(L"id", -1);
  name = node.getAttribute(L"name", L"");
  hidden = node.getAttribute(L"hidden", L"") == L"true";

  // The first entry for this module version decides; later ones are not
  // looked at.
  kelXMLNode entry = node.getChildByName(L"enabled", false).getFirstChild();
  for (; entry.isValid(); ++entry) {
    if (entry.getAttributeInt(L"usmoduleversion", 0) != m_usModuleVersion) continue;
    const std::wstring state = entry.getAttribute(L"state", L"");
    if (state == L"released")
      releaseStatus = Released;
    else if (state == L"demo")
      releaseStatus = Demo;
    break;
  }

  readInt(node, L"type", type);
  node.getDouble(L"transmitoffset", transmitOffset);
  icon = node.getValueByName(L"icon", L"");
  readInt(node, L"maxfocusdistance", maxFocusDistance);
  readInt(node, L"maxsteerangle", maxSteerAngle);
  readInt(node, L"minFocusDistanceDoppler", minFocusDistanceDoppler);
  readInt(node, L"minlineduration", minLineDuration);
  readInt(node, L"numElements", numElements);
  readLowBits(node, L"pinOffset", pinOffset);
  readInt(node, L"pitch", pitch);
  readInt(node, L"radius", radius);
  node.getDouble(L"elevationLength", elevationLength);
  readFlag(node, L"invertedElements", invertedElements);

  const kelXMLNode biopsy = node.getChildByName(L"biopsy", false);
  if (biopsy.isValid()) {
    readInt(biopsy, L"angle", biopsyAngle);
    readInt(biopsy, L"depth", biopsyDepth);
    readInt(biopsy, L"distance", biopsyDistance);
    readInt(biopsy, L"width", biopsyWidth);
  }
  const kelXMLNode frequency = node.getChildByName(L"frequency", false);
  if (frequency.isValid()) {
    readInt(frequency, L"center", centerFrequency);
    readInt(frequency, L"bandwidth", bandwidth);
  }
  const kelXMLNode motor = node.getChildByName(L"motor", false);
  if (motor.isValid()) {
    readInt(motor, L"FOV", motorFov);
    readLowBits(motor, L"homeMethod", homeMethod);
    readLowBits(motor, L"minTimeBetweenPulses", minTimeBetweenPulses);
    readInt(motor, L"radius", motorRadius);
    readInt(motor, L"steps", motorSteps);
    readInt(motor, L"homeCorrection", homeCorrection);
  }
  const kelXMLNode support = node.getChildByName(L"support", false);
  if (support.isValid()) {
    readFlag(support, L"freehand3d", freehand3d);
    readFlag(support, L"tempAngleSensor", tempAngleSensor);
    readFlag(support, L"trus", trus);
  }
  const kelXMLNode muxWrap = node.getChildByName(L"muxWrap", false);
  if (muxWrap.isValid()) {
    readInt(muxWrap, L"Rx", muxWrapRx);
    readInt(muxWrap, L"Tx", muxWrapTx);
  }
}

bool KelProbe::load(int wantedId) {
  try {
    const std::wstring fileName = kelPath::getPath(kelPath::Settings, L"probes.xml");
    if (fileName.empty()) return false;
    kelXMLFile file;
    if (!file.open(fileName, true)) {
      Clear();
      return false;
    }
    kelXMLNode node = file.getRootElement();
    if (node.switchToChildByName(L"probes")) {
      for (node = node.getFirstChild(); node.isValid(); ++node) {
        loadFromXML(node);
        if (id == wantedId) break;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int KelProbe::computeAngle(int line, int lineCount, int center, int span) const {
  // 128 bits: the product of an angle difference (up to 33 bits) and a line
  // number (31 bits) does not fit in 64.
  __extension__ using Wide = __int128;
  const Wide half = span / 2;
  Wide first = static_cast<Wide>(center) + half;
  Wide last = static_cast<Wide>(center) - half;
  if (invertedElements) {
    first = -first;
    last = -last;
  }
  Wide angle;
  if (lineCount == 1)
    angle = invertedElements ? -static_cast<Wide>(center) : static_cast<Wide>(center);
  else
    angle = first + (last - first) * line / (static_cast<Wide>(lineCount) - 1);
  Wide limit = maxSteerAngle < 0 ? -static_cast<Wide>(maxSteerAngle) : static_cast<Wide>(maxSteerAngle);
  limit = std::min<Wide>(limit, INT32_MAX);
  return static_cast<int>(std::clamp(angle, -limit, limit));
}

std::wstring KelProbe::getImgPath() const {
  if (icon.empty()) return std::wstring();
  return kelPath::getPath(kelPath::Icons, L"probes\\" + icon);
}

void KelProbe::createRandom(probeType t) {
  std::srand(static_cast<unsigned int>(std::time(nullptr)));
  name = L"Random";
  mfg = L"QVX Random";
  id = randomUpTo(32);

  const int chosen = t == AnyProbe ? randomUpTo(4) : static_cast<int>(t);
  type = chosen == 1 ? 2 : chosen;
  releaseStatus = NotReleased;

  numElements = 1 - randomUpTo(-1024);
  pitch = 1 - randomUpTo(-1024);
  radius = randomUpTo(1025);
  centerFrequency = randomUpTo(32768);
  maxSteerAngle = randomUpTo(91) * 1000;
  bandwidth = randomUpTo(32768);
  transmitOffset = chosen == 1 ? 0.0 : randomUpTo(32768);

  maxFocusDistance = randomUpTo(32768);
  minLineDuration = randomUpTo(32768);
  minFocusDistanceDoppler = randomUpTo(32768);
  pinOffset = static_cast<std::uint8_t>(randomUpTo(256));
  motorFov = randomUpTo(91) * 1000;
  biopsyDepth = randomUpTo(32768);
  biopsyAngle = randomUpTo(91) * 1000;
  biopsyDistance = randomUpTo(32768);
  motorSteps = randomUpTo(32768);
  motorRadius = randomUpTo(32768);
  minTimeBetweenPulses = static_cast<std::uint16_t>(randomUpTo(65536));
  homeMethod = static_cast<std::uint8_t>(randomUpTo(256));
  biopsyWidth = randomUpTo(32768);

  icon.clear();
  freehand3d = true;
  tempAngleSensor = true;
  trus = true;
  homeCorrection = randomUpTo(32768);
  muxWrapRx = randomUpTo(32768);
  muxWrapTx = randomUpTo(32768);
  elevationLength = randomUpTo(32768);
  invertedElements = randomUpTo(2) != 0;
}

void KelProbe::setUsModuleVersion(int version) { m_usModuleVersion = version; }

int KelProbe::getUsModuleVersion() { return m_usModuleVersion; }

void KelProbe::SaveChild(const kelXMLNode& parent, const wchar_t* childName, double value) {
  parent.createElement(childName, nullptr).setValueDouble(value, -1);
}
