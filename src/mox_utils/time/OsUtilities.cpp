#include "mox_utils/time/OsUtilities.h"

#include <cstring>

#include "mox_utils/platform/Cpuid.h"
#include "mox_utils/platform/Event.h"
#include "mox_utils/platform/Thread.h"

OsUtilities& OsUtilities::operator=(const OsUtilities&) { return *this; }

void OsUtilities::sleep(int ms) { mox::platform::sleepMs(ms); }

void* OsUtilities::evt_create(bool manualReset, bool initialState) {
  return mox::platform::createEvent(manualReset, initialState);
}

bool OsUtilities::evt_wait(void* event, int timeout) {
  if (event == nullptr) return false;
  return mox::platform::waitEvent(event, timeout) == mox::platform::WaitResult::Signaled;
}

bool OsUtilities::evt_set(void* event) { return event != nullptr && mox::platform::setEvent(event); }

bool OsUtilities::evt_reset(void* event) { return event != nullptr && mox::platform::resetEvent(event); }

bool OsUtilities::evt_close(void* event) { return event != nullptr && mox::platform::closeEvent(event); }

unsigned long OsUtilities::thread_create(void* argument, void (*function)(void*)) {
  return mox::platform::startThread(function, argument);
}

namespace mox::detail {

namespace {

struct ModelRow {
  const char* vendor;
  int family;    // -1: any
  int modelLow;  // -1: any
  int modelHigh;
  const char* name;
};

// Searched in order; the first row that matches names the processor.
constexpr ModelRow kModels[] = {
    {"AuthenticAMD", 4, -1, -1, "AMD Am486"},
    {"AuthenticAMD", 5, 0, 3, "AMD K5"},
    {"AuthenticAMD", 5, 6, 7, "AMD K6"},
    {"AuthenticAMD", 5, 8, 8, "AMD K6-2"},
    {"AuthenticAMD", 5, 9, 15, "AMD K6-3"},
    {"AuthenticAMD", 6, -1, -1, "AMD ATHLON"},
    {"GenuineIntel", 4, 0, 1, "INTEL 486DX"},
    {"GenuineIntel", 4, 2, 2, "INTEL 486SX"},
    {"GenuineIntel", 4, 3, 3, "INTEL 486DX2"},
    {"GenuineIntel", 4, 4, 4, "INTEL 486SL"},
    {"GenuineIntel", 4, 5, 5, "INTEL 486SX2"},
    {"GenuineIntel", 4, 7, 7, "INTEL 486DX2E"},
    {"GenuineIntel", 4, 8, 8, "INTEL 486DX4"},
    {"GenuineIntel", 5, 1, 3, "INTEL Pentium"},
    {"GenuineIntel", 5, 4, 4, "INTEL Pentium-MMX"},
    {"GenuineIntel", 6, 1, 1, "INTEL Pentium-Pro"},
    {"GenuineIntel", 6, 3, 3, "INTEL Pentium-II"},
    {"GenuineIntel", 6, 5, 5, "INTEL Pentium-II"},
    {"GenuineIntel", 6, 6, 6, "INTEL Celeron"},
    {"GenuineIntel", 6, 7, 8, "INTEL Pentium-III"},
    {"GenuineIntel", 6, 10, 10, "INTEL Pentium-III"},
    {"GenuineIntel", 15, 0, 0, "INTEL Pentium-4"},
    {"CyrixInstead", -1, -1, -1, "Cyrix"},
    {"CentaurHauls", -1, -1, -1, "Centaur"},
};

constexpr char kUnknownModel[] = "Unknown";

void copyRegister(char* out, unsigned int value) { std::memcpy(out, &value, 4); }

}  // namespace

const char* processorModelName(const char* vendor, int family, int model) {
  if (vendor == nullptr) return kUnknownModel;
  // A vendor shorter than 12 characters stops at its terminator and matches
  // no row, since every row's vendor has 12 non-zero characters.
  for (const ModelRow& row : kModels) {
    if (std::strncmp(vendor, row.vendor, 12) != 0) continue;
    if (row.family >= 0 && row.family != family) continue;
    if (row.modelLow >= 0 && (model < row.modelLow || model > row.modelHigh)) continue;
    return row.name;
  }
  return kUnknownModel;
}

int describeProcessor(const unsigned int leaf0[4], const unsigned int leaf1[4], const unsigned int extendedMax[4],
                      const unsigned int extended1[4], ProcessorInfo* info) {
  enum { kEax, kEbx, kEcx, kEdx };
  const unsigned int features = leaf1[kEdx];
  int flags = 0;
  if (features & (1u << 23)) flags |= kCpuFeatureMmx;
  if (features & (1u << 25)) flags |= kCpuFeatureSse;
  if (features & (1u << 26)) flags |= kCpuFeatureSse2;
  if (extendedMax[kEax] >= 0x80000000u && (extended1[kEdx] & (1u << 31)) != 0) flags |= kCpuFeature3DNow;
  if (info == nullptr) return flags;

  std::memset(info, 0, sizeof *info);
  info->features = flags;
  info->osSupport = 0;
  const unsigned int signature = leaf1[kEax];
  info->family = static_cast<int>((signature >> 8) & 0xF);
  if (info->family == 15) info->family = static_cast<int>(((signature & 0x0FF00000u) | 0x000F0000u) >> 16);
  info->model = static_cast<int>((signature >> 4) & 0xF);
  info->stepping = static_cast<int>(signature & 0xF);
  // The vendor text is EBX, EDX, ECX in that order.
  copyRegister(info->vendor, leaf0[kEbx]);
  copyRegister(info->vendor + 4, leaf0[kEdx]);
  copyRegister(info->vendor + 8, leaf0[kEcx]);
  info->vendor[12] = '\0';
  const char* name = processorModelName(info->vendor, info->family, info->model);
  std::strncpy(info->modelName, name, sizeof info->modelName - 1);
  info->checkedFeatures = 0x0F;
  return flags;
}

}  // namespace mox::detail

extern "C" int _cpuid(ProcessorInfo* info) {
  using mox::platform::CpuidRegisters;
  auto asArray = [](const CpuidRegisters& r, unsigned int out[4]) {
    out[0] = r.eax;
    out[1] = r.ebx;
    out[2] = r.ecx;
    out[3] = r.edx;
  };
  CpuidRegisters regs;
  unsigned int leaf0[4], leaf1[4], extendedMax[4], extended1[4] = {0, 0, 0, 0};
  mox::platform::cpuid(0, &regs);
  asArray(regs, leaf0);
  mox::platform::cpuid(1, &regs);
  asArray(regs, leaf1);
  mox::platform::cpuid(0x80000000u, &regs);
  asArray(regs, extendedMax);
  if (extendedMax[0] >= 0x80000000u) {
    mox::platform::cpuid(0x80000001u, &regs);
    asArray(regs, extended1);
  }
  return mox::detail::describeProcessor(leaf0, leaf1, extendedMax, extended1, info);
}
