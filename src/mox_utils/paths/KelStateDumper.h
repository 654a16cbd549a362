// State dumps: objects that can write a description of their own state
// register themselves on construction; dumpAll asks each of them, in turn, to
// write its state into one directory.
//
// The registry, the default dump directory and the registry lock are
// process-wide. They are built together on first use (the registry, then the
// root path, then the lock) and destroyed together at exit in the reverse
// order, so no other static object's initialisation order matters.
//
// Thread safety: registration, unregistration, getRootPath, setRootPath and
// dumpAll serialise on one re-entrant lock. A dump operation runs with the
// lock held, so it may call getRootPath or setRootPath; it must not create or
// destroy a KelStateDumper, and it must not let an exception escape.
#pragma once

#include <string>

#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"

class MOX_API KelStateDumper {
 public:
  // Registers the object; runs as part of every derived object's construction.
  KelStateDumper();
  // The copy is a new object that is not registered.
  KelStateDumper(const KelStateDumper& other);
  // Does nothing: registration belongs to the object, not to its value.
  KelStateDumper& operator=(const KelStateDumper& other);
  // Unregisters the object (nothing for one that was never registered). The
  // object stays registered while its derived part is destroyed, so destroy
  // a dumper only when no dumpAll can run on another thread.
  virtual ~KelStateDumper();

  // Writes this object's state below `directory`; the names and the format
  // of what it writes are the derived class's.
  virtual void dumpState(const std::wstring& directory) = 0;

  // A copy of the default dump directory (empty until set).
  static std::wstring getRootPath();
  static void setRootPath(const std::wstring& path);

  // Calls dumpState on every registered object, in ascending order of
  // address, with `path`, or with the root path when `path` is empty.
  // Waits at most 1000 ms for the registry lock. When another thread keeps
  // it longer (a dump operation that hangs, typically, while this call comes
  // from a crash handler), the walk goes ahead without the lock: a dump
  // wanted after a fault must not hang behind the thread that faulted. That
  // walk is safe only while no other thread registers or unregisters a
  // dumper.
  static void dumpAll(const std::wstring& path);

 private:
  // The registry lock: an unnamed operating-system mutex, re-entrant for the
  // thread that holds it. When its creation failed both operations do
  // nothing and the registry is unguarded.
  class DumpHelper {
   public:
    DumpHelper();
    ~DumpHelper();
    DumpHelper(const DumpHelper&) = delete;
    DumpHelper& operator=(const DumpHelper&) = delete;

    // Takes the lock, waiting up to timeoutMs (mox::platform::kInfinite
    // waits without limit). True when the caller now holds it.
    bool lock(int timeoutMs);
    void unlock();

   private:
    mox::platform::MutexHandle m_mutex;
  };

  struct Statics;
  // The process-wide registry, m_rootpath and m_dumpHelper, built on first
  // use.
  static Statics& statics();
};
