// The processor's CPUID instruction.
#pragma once

#include <cstdint>
#include <string>

#include "mox_utils/export.h"

namespace mox::platform {

struct CpuidRegisters {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};

// Executes CPUID for the leaf (sub-leaf 0) exactly as asked, without checking
// the highest leaf first: a leaf above the processor's range returns whatever
// the processor returns for it. On processors without the instruction (a
// build for another architecture) every register is zero and the result is
// false.
MOX_API bool cpuid(std::uint32_t leaf, CpuidRegisters* out);

// The processor brand string of leaves 0x80000002 to 0x80000004 with leading
// and trailing blanks removed; empty when the processor has none.
MOX_API std::string processorBrand();

}  // namespace mox::platform
