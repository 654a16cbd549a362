// Enumerates the probe catalogue "probes.xml" of the "Settings" store
// location, handing out one newly allocated KelProbe per probe element,
// optionally only the released (and demo) ones.
//
//   KelProbeFactory factory(true, false);
//   if (factory.firstProbe())
//     while (KelProbe* probe = factory.getNextProbe()) { use(*probe); delete probe; }
//
// The release state of each probe is that of KelProbe's module version at the
// moment the probe is read. Thread-safety: one factory per thread; copies
// share the open catalogue (read only) but keep their own positions.
#pragma once

#include <string>

#include "mox_utils/export.h"
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/xml/kelXMLFile.h"
#include "mox_utils/xml/kelXMLNode.h"

class MOX_API KelProbeFactory {
 public:
  // releasedOnly: skip every probe that is not released, except demo probes
  // when allowDemo is also set. allowDemo alone changes nothing.
  KelProbeFactory(bool releasedOnly, bool allowDemo);
  KelProbeFactory(const KelProbeFactory& other);
  KelProbeFactory& operator=(const KelProbeFactory& other);
  ~KelProbeFactory();

  // The catalogue's file name: "probes.xml" in the "Settings" location.
  static std::wstring getPath();

  // (Re)opens the catalogue and positions before its first probe. False when
  // the file cannot be opened or its root element has no "probes" child;
  // then nothing is open.
  bool firstProbe();
  // The next probe that passes the filter, newly allocated (the caller
  // deletes it), or null at the end of the list, without a successful
  // firstProbe(), or when memory runs out. At the end the catalogue is
  // closed, and null keeps coming until firstProbe() is called again.
  KelProbe* getNextProbe();

  // The id of the stand-in probe used when no real probe is connected.
  static int getDummyProbeId();

 private:
  void closeEnumeration();

  bool releasedOnly;
  bool allowDemo;
  kelXMLFile m_file;
  kelXMLNode m_probes;   // the "probes" element; invalid when nothing is open
  kelXMLNode m_current;  // the element last read; invalid before the first

  static int m_dummyProbeId;
};
