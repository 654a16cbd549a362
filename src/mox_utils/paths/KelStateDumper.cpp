#include "mox_utils/paths/KelStateDumper.h"

#include <set>

// Members are constructed in declaration order and destroyed in reverse:
// the registry, then the root path, then the lock.
struct KelStateDumper::Statics {
  std::set<KelStateDumper*> registry;  // Guarded by m_dumpHelper.
  std::wstring m_rootpath;             // Guarded by m_dumpHelper.
  DumpHelper m_dumpHelper;
};

KelStateDumper::DumpHelper::DumpHelper() : m_mutex(mox::platform::MutexHandle::create()) {}

KelStateDumper::DumpHelper::~DumpHelper() { m_mutex.close(); }

bool KelStateDumper::DumpHelper::lock(int timeoutMs) {
  return m_mutex.wait(timeoutMs) == mox::platform::WaitResult::Signaled;
}

void KelStateDumper::DumpHelper::unlock() { m_mutex.release(); }

KelStateDumper::Statics& KelStateDumper::statics() {
  static Statics s;
  return s;
}

KelStateDumper::KelStateDumper() {
  Statics& s = statics();
  const bool locked = s.m_dumpHelper.lock(mox::platform::kInfinite);
  try {
    s.registry.insert(this);
  } catch (...) {
    // Out of memory: the object lives on unregistered rather than throwing
    // out of a constructor the library promises not to throw from.
  }
  if (locked) s.m_dumpHelper.unlock();
}

KelStateDumper::KelStateDumper(const KelStateDumper&) {}

KelStateDumper& KelStateDumper::operator=(const KelStateDumper&) { return *this; }

KelStateDumper::~KelStateDumper() {
  Statics& s = statics();
  const bool locked = s.m_dumpHelper.lock(mox::platform::kInfinite);
  s.registry.erase(this);
  if (locked) s.m_dumpHelper.unlock();
}

std::wstring KelStateDumper::getRootPath() {
  Statics& s = statics();
  const bool locked = s.m_dumpHelper.lock(mox::platform::kInfinite);
  std::wstring copy;
  try {
    copy = s.m_rootpath;
  } catch (...) {
    copy.clear();
  }
  if (locked) s.m_dumpHelper.unlock();
  return copy;
}

void KelStateDumper::setRootPath(const std::wstring& path) {
  Statics& s = statics();
  const bool locked = s.m_dumpHelper.lock(mox::platform::kInfinite);
  try {
    s.m_rootpath = path;
  } catch (...) {
    // Out of memory: the old root path stays.
  }
  if (locked) s.m_dumpHelper.unlock();
}

void KelStateDumper::dumpAll(const std::wstring& path) {
  Statics& s = statics();
  const bool locked = s.m_dumpHelper.lock(1000);
  // The directory is chosen once, before the walk, so that a dump operation
  // calling setRootPath does not change what the later objects receive.
  const std::wstring* directory = path.empty() ? &s.m_rootpath : &path;
  std::wstring chosen;
  try {
    chosen = *directory;
    directory = &chosen;
  } catch (...) {
    // Out of memory: hand on the original string instead of a copy.
  }
  for (KelStateDumper* dumper : s.registry) dumper->dumpState(*directory);
  if (locked) s.m_dumpHelper.unlock();
}
