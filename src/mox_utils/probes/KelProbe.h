// One ultrasound transducer (probe) definition: identity, array geometry,
// frequencies, focusing and steering limits, biopsy guide, motor, supported
// modes and release state, read from one element of the probe catalogue
// "probes.xml" in the "Settings" store location.
//
// Units: angles in thousandths of a degree; the other numbers are stored as
// the catalogue gives them.
//
// Thread-safety: a probe is a plain value; the module version whose release
// state applies (setUsModuleVersion) is process-wide and must be set before
// other threads load probes.
#pragma once

#include <cstdint>
#include <string>

#include "mox_utils/export.h"

class kelXMLNode;

class MOX_API KelProbe {
 public:
  enum ReleaseStatus : int { Released = 0, Demo = 1, NotReleased = 2 };

  // The array type asked of createRandom. The stored `type` codes are 0
  // (convex) and 2 (linear, or phased when transmitOffset is not 0.0).
  enum probeType : int {
    ConvexProbe = 0,
    LinearProbe = 1,
    PhasedProbe = 2,
    OtherProbe = 3,
    AnyProbe = 4,  // a random type code 0 to 4
  };

  // A default probe: id -1, convex, elevation length 1.0, not released.
  KelProbe();
  explicit KelProbe(const kelXMLNode& node);
  KelProbe(const KelProbe& other);
  const KelProbe& operator=(const KelProbe& other);
  virtual ~KelProbe();

  // Reads one probe element: attributes "id", "name", "hidden" (hidden only
  // for the exact text "true"); child elements holding numbers ("type",
  // "numElements", "pitch", "radius", "transmitoffset", ...), and the groups
  // "enabled", "biopsy", "frequency", "motor", "support" and "muxWrap"; the
  // sample catalogue describes every item. An invalid node changes nothing;
  // otherwise every field is reset first, so an item the element lacks keeps
  // its default. The release state is that of the "enabled" entry for the
  // current module version (not released when there is none).
  void loadFromXML(const kelXMLNode& node);
  // Reads the probe with this id from the catalogue of the "Settings" store
  // location. False when the catalogue cannot be opened (the probe is then
  // reset to its defaults). True whenever it opened: when no element has the
  // id the probe holds the last element of the list, and when the list is
  // missing or empty the probe is unchanged.
  bool load(int id);

  int getId() const { return id; }
  const std::wstring& getName() const { return name; }
  const std::wstring& getMfg() const { return mfg; }
  void setName(const std::wstring& text) { name = text; }
  void setMfg(const std::wstring& text) { mfg = text; }
  double getTransmitOffset() const { return transmitOffset; }
  double getElevationLength() const { return elevationLength; }
  ReleaseStatus getReleaseStatus() const { return releaseStatus; }
  bool isHidden() const { return hidden; }

  bool isConvexArray() const { return type == 0; }
  bool isLinearArray() const { return type == 2 && transmitOffset == 0.0; }
  bool isPhasedArray() const { return type == 2 && transmitOffset != 0.0; }
  bool hasMotor() const { return motorSteps != 0; }
  bool supportsMotorHomingSensor() const { return homeMethod == 1 || homeMethod == 3; }
  bool hasMotorSensor() const { return hasMotor() && supportsMotorHomingSensor(); }
  bool hasBiopsy() const { return biopsyDepth != 0 && biopsyAngle != 0 && biopsyDistance != 0; }
  bool supportsFreehand3dMode() const { return freehand3d; }
  bool supportsTempAngleSensor() const { return tempAngleSensor; }
  bool supportsTRUS() const { return trus; }
  bool hasInvertedElements() const { return invertedElements; }

  // The steering angle of scan line `line` of `lineCount` lines spread over
  // `span` around `center` (all angles in thousandths of a degree): linear
  // from center + span/2 for the first line to center - span/2 for the last
  // (both negated for inverted elements), clamped to +-maxSteerAngle. With a
  // single line (lineCount 1) the line lies in the middle of the span: the
  // result is center (-center with inverted elements), clamped. A negative
  // maxSteerAngle limits by its magnitude. The arithmetic is done in 64 bits,
  // so no input overflows.
  int computeAngle(int line, int lineCount, int center, int span) const;

  // The icon's file in the "Icons" store location ("probes\" + icon), or the
  // empty text when the probe has no icon.
  std::wstring getImgPath() const;

  // Fills the probe with random values for tests of the imaging chain: name
  // "Random", manufacturer "QVX Random", type `t` (a random code 0 to 4 for
  // AnyProbe; code 1 is stored as 2, a linear array), not released, every
  // number within the range the catalogue allows, all support flags set.
  // `hidden` is kept. Seeds the C library's rand() with the current time.
  void createRandom(probeType t);

  static void setUsModuleVersion(int version);
  static int getUsModuleVersion();

  // Fields in declaration order; defaults in Clear().
  int id;
  int type;
  int numElements;
  int pitch;
  int radius;
  int centerFrequency;
  int bandwidth;
  double transmitOffset;
  int maxSteerAngle;
  int maxFocusDistance;
  int minLineDuration;
  int minFocusDistanceDoppler;
  std::uint8_t pinOffset;
  int motorFov;
  int biopsyDepth;
  int biopsyAngle;
  int biopsyDistance;
  int motorSteps;
  int motorRadius;
  std::uint16_t minTimeBetweenPulses;
  std::uint8_t homeMethod;
  int homeCorrection;
  int biopsyWidth;
  int muxWrapRx;
  int muxWrapTx;
  ReleaseStatus releaseStatus;
  std::wstring icon;
  std::wstring name;
  std::wstring mfg;
  double elevationLength;
  bool invertedElements;
  bool freehand3d;
  bool tempAngleSensor;
  bool trus;
  bool hidden;

 private:
  void Clear();
  void Initialize(const KelProbe& other);
  // Appends a child element `name` to `parent` holding `value` at the XML
  // interface's default (exact) precision.
  static void SaveChild(const kelXMLNode& parent, const wchar_t* name, double value);

  // The ultrasound module version whose release state applies; -1 until set.
  static int m_usModuleVersion;
};
