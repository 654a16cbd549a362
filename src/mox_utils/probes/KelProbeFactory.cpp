#include "mox_utils/probes/KelProbeFactory.h"

#include <new>

#include "mox_utils/paths/kelPath.h"

int KelProbeFactory::m_dummyProbeId = 5;

KelProbeFactory::KelProbeFactory(bool releasedOnlyFlag, bool allowDemoFlag)
    : releasedOnly(releasedOnlyFlag), allowDemo(allowDemoFlag) {}

KelProbeFactory::KelProbeFactory(const KelProbeFactory& other) = default;
KelProbeFactory& KelProbeFactory::operator=(const KelProbeFactory& other) = default;

KelProbeFactory::~KelProbeFactory() { m_file.close(); }

std::wstring KelProbeFactory::getPath() { return kelPath::getPath(kelPath::Settings, L"probes.xml"); }

void KelProbeFactory::closeEnumeration() {
  m_file.close();
  m_probes = kelXMLNode();
  m_current = kelXMLNode();
}

bool KelProbeFactory::firstProbe() {
  closeEnumeration();
  try {
    if (m_file.open(getPath(), true)) {
      const kelXMLNode probes = m_file.getRootElement().getChildByName(L"probes", false);
      if (probes.isValid()) {
        m_probes = probes;
        return true;
      }
    }
  } catch (const std::bad_alloc&) {
  }
  closeEnumeration();
  return false;
}

KelProbe* KelProbeFactory::getNextProbe() {
  while (m_probes.isValid()) {
    if (m_current.isValid())
      m_current.switchToNextElement();
    else
      m_current = m_probes.getFirstChild();
    if (!m_current.isValid()) break;

    KelProbe* probe = new (std::nothrow) KelProbe();
    if (probe == nullptr) break;
    try {
      probe->loadFromXML(m_current);
    } catch (const std::bad_alloc&) {
      delete probe;
      break;
    }
    const KelProbe::ReleaseStatus status = probe->getReleaseStatus();
    if (!releasedOnly || status == KelProbe::Released || (allowDemo && status == KelProbe::Demo)) return probe;
    delete probe;
  }
  closeEnumeration();
  return nullptr;
}

int KelProbeFactory::getDummyProbeId() { return m_dummyProbeId; }
