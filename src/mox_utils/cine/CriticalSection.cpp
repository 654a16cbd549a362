#include "mox_utils/cine/CriticalSection.h"

#include "mox_utils/platform/CriticalSectionRecord.h"

using namespace mox::platform;

CriticalSection::CriticalSection() { initializeCriticalSection(&m_section); }

CriticalSection::CriticalSection(const CriticalSection&) { initializeCriticalSection(&m_section); }

CriticalSection::~CriticalSection() { deleteCriticalSection(&m_section); }

CriticalSection& CriticalSection::operator=(const CriticalSection&) { return *this; }

CriticalSectionLock::CriticalSectionLock(CriticalSection& cs) : m_section(cs.record()) {
  enterCriticalSection(m_section);
}

CriticalSectionLock::CriticalSectionLock(_RTL_CRITICAL_SECTION* cs) : m_section(cs) { enterCriticalSection(m_section); }

CriticalSectionLock::~CriticalSectionLock() { leaveCriticalSection(m_section); }
