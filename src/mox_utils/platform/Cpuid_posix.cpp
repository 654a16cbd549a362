#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cstring>

#include "mox_utils/platform/Cpuid.h"

namespace mox::platform {

bool cpuid(std::uint32_t leaf, CpuidRegisters* out) {
  CpuidRegisters regs;
#if defined(__i386__) || defined(__x86_64__)
  // __cpuid_count rather than __get_cpuid: callers ask for the extended range
  // themselves and must see what the processor answers.
  __cpuid_count(leaf, 0, regs.eax, regs.ebx, regs.ecx, regs.edx);
  *out = regs;
  return true;
#else
  (void)leaf;
  *out = regs;
  return false;
#endif
}

std::string processorBrand() {
  CpuidRegisters regs;
  if (!cpuid(0x80000000u, &regs) || regs.eax < 0x80000004u) return std::string();
  char text[49] = {};
  for (std::uint32_t i = 0; i < 3; ++i) {
    cpuid(0x80000002u + i, &regs);
    const std::uint32_t words[4] = {regs.eax, regs.ebx, regs.ecx, regs.edx};
    std::memcpy(text + 16 * i, words, sizeof words);
  }
  std::string brand(text);  // the processor pads with blanks or zeros
  const auto first = brand.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const auto last = brand.find_last_not_of(' ');
  return brand.substr(first, last - first + 1);
}

}  // namespace mox::platform
