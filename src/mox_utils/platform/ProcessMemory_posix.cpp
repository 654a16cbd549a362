#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "mox_utils/platform/ProcessMemory.h"

namespace mox::platform {

namespace {

std::atomic<std::uint64_t> g_peakPrivate{0};

// The value of a "Name:   1234 kB" line, in bytes.
bool statusValue(const char* line, const char* name, std::uint64_t* out) {
  const std::size_t length = std::strlen(name);
  if (std::strncmp(line, name, length) != 0 || line[length] != ':') return false;
  unsigned long long kb = 0;
  if (std::sscanf(line + length + 1, "%llu", &kb) != 1) return false;
  *out = static_cast<std::uint64_t>(kb) * 1024;
  return true;
}

}  // namespace

bool readProcessMemory(ProcessMemoryCounters* out) {
  *out = ProcessMemoryCounters{};
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  std::uint64_t data = 0, stack = 0;
  bool haveRss = false;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    haveRss |= statusValue(line, "VmRSS", &out->workingSetSize);
    statusValue(line, "VmHWM", &out->peakWorkingSetSize);
    statusValue(line, "VmData", &data);
    statusValue(line, "VmStk", &stack);
  }
  std::fclose(status);
  rusage usage;
  if (!haveRss || getrusage(RUSAGE_SELF, &usage) != 0) {
    *out = ProcessMemoryCounters{};
    return false;
  }
  out->pageFaultCount = static_cast<std::uint64_t>(usage.ru_minflt) + static_cast<std::uint64_t>(usage.ru_majflt);
  out->privateUsage = data + stack;
  out->pagefileUsage = out->privateUsage;
  std::uint64_t peak = g_peakPrivate.load(std::memory_order_relaxed);
  while (peak < out->privateUsage &&
         !g_peakPrivate.compare_exchange_weak(peak, out->privateUsage, std::memory_order_relaxed)) {
  }
  out->peakPagefileUsage = peak > out->privateUsage ? peak : out->privateUsage;
  return true;
}

}  // namespace mox::platform
