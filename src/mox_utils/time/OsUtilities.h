// Thin wrappers over the operating system's sleep, events and threads with
// plain handles, and identification of the processor.
#pragma once

#include "mox_utils/export.h"

// Static functions only. Failures show only in the results (null handle,
// false, all bits set); nothing logs.
class MOX_API OsUtilities {
 public:
  OsUtilities& operator=(const OsUtilities& other);  // does nothing

  // Suspends the calling thread for ms milliseconds; a negative value sleeps
  // without end.
  static void sleep(int ms);

  // A new unnamed event, or null. Events may be shared between threads.
  static void* evt_create(bool manualReset, bool initialState);
  // True exactly when the event was signalled within timeout milliseconds (0
  // tests without waiting, -1 waits without limit); a successful wait resets
  // an auto-reset event. False for a null or closed handle.
  static bool evt_wait(void* event, int timeout);
  static bool evt_set(void* event);
  static bool evt_reset(void* event);
  // Closes the handle; false for a null handle or one closed before.
  static bool evt_close(void* event);

  // Starts function(argument) on a new thread with the default stack size.
  // Returns a handle of the thread (valid only while it runs; nobody waits
  // for it), or all bits set when no thread could be started (also for a
  // null function).
  static unsigned long thread_create(void* argument, void (*function)(void*));
};

namespace mox {
// Feature flags of _cpuid.
constexpr int kCpuFeatureMmx = 0x1;    // CPUID 1, EDX bit 23
constexpr int kCpuFeatureSse = 0x2;    // CPUID 1, EDX bit 25
constexpr int kCpuFeatureSse2 = 0x4;   // CPUID 1, EDX bit 26
constexpr int kCpuFeature3DNow = 0x8;  // CPUID 0x80000001, EDX bit 31
}  // namespace mox

// What _cpuid tells about the processor.
struct ProcessorInfo {
  char vendor[13];     // vendor identification from CPUID 0, zero-terminated
  char modelName[30];  // a name from a fixed table of older processors, or "Unknown"
  // Bits 11..8 of the signature; for base family 15 the extended family in the
  // high nibble and 0xF in the low one (so extended family 1 gives 0x1F).
  int family;
  int model;            // bits 7..4 of the signature (the extended model is not added)
  int stepping;         // bits 3..0 of the signature
  int features;         // the flags, as returned
  int osSupport;        // always 0
  int checkedFeatures;  // always 0x0F: the four flags that were tested
};

// Identifies the processor. Fills *info when info is not null and returns the
// feature flags. Cannot fail.
extern "C" MOX_API int _cpuid(ProcessorInfo* info);

namespace mox::detail {

// The model name of the fixed table for a 12-character vendor identification
// (compared over 12 characters) with family and model as _cpuid computes them;
// "Unknown" for every combination the table does not list.
const char* processorModelName(const char* vendor, int family, int model);

// _cpuid's work on given CPUID results: leaf 0, leaf 1, leaf 0x80000000 and
// (read only when the latter reports the extended range) leaf 0x80000001,
// each as EAX, EBX, ECX, EDX. Returns the flags.
int describeProcessor(const unsigned int leaf0[4], const unsigned int leaf1[4], const unsigned int extendedMax[4],
                      const unsigned int extended1[4], ProcessorInfo* info);

}  // namespace mox::detail
