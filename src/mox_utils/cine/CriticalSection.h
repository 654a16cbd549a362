// A critical section object and a scoped lock on it.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

// Owns one operating-system critical section: recursive for the thread that
// holds it, waited for without time-out, local to the process.
class MOX_API CriticalSection {
 public:
  CriticalSection();
  // A copy gets a lock of its own; nothing is shared.
  CriticalSection(const CriticalSection& other);
  virtual ~CriticalSection();
  // Returns the object and keeps its own lock: two objects never share one
  // lock record, and each record is initialised and deleted once.
  CriticalSection& operator=(const CriticalSection& other);

  // The raw record, for CriticalSectionLock and callers that use the Win32
  // functions directly.
  _RTL_CRITICAL_SECTION* record() { return &m_section; }

 private:
  _RTL_CRITICAL_SECTION m_section;
};

// Holds a critical section from construction to destruction.
class MOX_API CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs);
  explicit CriticalSectionLock(_RTL_CRITICAL_SECTION* cs);
  ~CriticalSectionLock();
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  _RTL_CRITICAL_SECTION* m_section;
};
