// The process's memory counters (GetProcessMemoryInfo with the extended
// counter record), read from what Linux keeps for the process.
//
// Field by field:
//   pageFaultCount             getrusage: minor + major faults
//   workingSetSize             /proc/self/status VmRSS (resident set)
//   peakWorkingSetSize         /proc/self/status VmHWM (peak resident set)
//   pagefileUsage, privateUsage
//                              private committed memory: VmData + VmStk, the
//                              private writable mappings Linux charges against
//                              its commit limit
//   peakPagefileUsage          the highest private committed memory seen by
//                              any reading in this process (Linux keeps no peak)
//   quota pool counters        0: paged and non-paged pools have no Linux
//                              meaning
// Sizes are in bytes.
#pragma once

#include <cstdint>

#include "mox_utils/export.h"

namespace mox::platform {

struct ProcessMemoryCounters {
  std::uint64_t pageFaultCount = 0;
  std::uint64_t peakWorkingSetSize = 0;
  std::uint64_t workingSetSize = 0;
  std::uint64_t quotaPeakPagedPoolUsage = 0;
  std::uint64_t quotaPagedPoolUsage = 0;
  std::uint64_t quotaPeakNonPagedPoolUsage = 0;
  std::uint64_t quotaNonPagedPoolUsage = 0;
  std::uint64_t pagefileUsage = 0;
  std::uint64_t peakPagefileUsage = 0;
  std::uint64_t privateUsage = 0;
};

// Fills *out; false (with *out zeroed) when the counters cannot be read.
// Thread-safe.
MOX_API bool readProcessMemory(ProcessMemoryCounters* out);

}  // namespace mox::platform
