#include "mox_utils/time/OsUtilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// ---- Events and threads

TEST(OsUtilitiesTest, NullHandlesFail) {
  EXPECT_FALSE(OsUtilities::evt_wait(nullptr, 100));
  EXPECT_FALSE(OsUtilities::evt_wait(nullptr, -1));  // must not block
  EXPECT_FALSE(OsUtilities::evt_set(nullptr));
  EXPECT_FALSE(OsUtilities::evt_reset(nullptr));
  EXPECT_FALSE(OsUtilities::evt_close(nullptr));
  EXPECT_EQ(OsUtilities::thread_create(nullptr, nullptr), ~0UL);
}

// The calls forward to the platform's events and threads, whose behaviour
// under contention is tested there; checked here: the arguments arrive in
// their order and results map to bool.
struct Handover {
  void* done = OsUtilities::evt_create(true, false);
  int value = 0;
};

void finish(void* argument) {
  auto* h = static_cast<Handover*>(argument);
  h->value = 42;
  OsUtilities::evt_set(h->done);
}

TEST(OsUtilitiesTest, ThreadRunsWithItsArgumentAndEventsKeepTheirReset) {
  Handover h;
  EXPECT_FALSE(OsUtilities::evt_wait(h.done, 0));
  ASSERT_NE(OsUtilities::thread_create(&h, &finish), ~0UL);
  ASSERT_TRUE(OsUtilities::evt_wait(h.done, -1));
  EXPECT_EQ(h.value, 42);
  EXPECT_TRUE(OsUtilities::evt_wait(h.done, 0));  // manual reset: still set
  EXPECT_TRUE(OsUtilities::evt_reset(h.done));
  EXPECT_FALSE(OsUtilities::evt_wait(h.done, 0));
  EXPECT_TRUE(OsUtilities::evt_close(h.done));
  EXPECT_FALSE(OsUtilities::evt_close(h.done));

  void* autoReset = OsUtilities::evt_create(false, true);
  EXPECT_TRUE(OsUtilities::evt_wait(autoReset, 0));
  EXPECT_FALSE(OsUtilities::evt_wait(autoReset, 0));
  EXPECT_TRUE(OsUtilities::evt_close(autoReset));
}

// ---- Processor identification

// Packs a 12-character vendor into EBX, EDX, ECX as CPUID leaf 0 does.
void vendorRegisters(const char* vendor, unsigned int leaf0[4]) {
  std::memcpy(&leaf0[1], vendor, 4);
  std::memcpy(&leaf0[3], vendor + 4, 4);
  std::memcpy(&leaf0[2], vendor + 8, 4);
}

unsigned int signature(unsigned extFamily, unsigned extModel, unsigned family, unsigned model, unsigned stepping) {
  return extFamily << 20 | extModel << 16 | family << 8 | model << 4 | stepping;
}

TEST(CpuidTest, ModelNameTable) {
  struct Case {
    const char* vendor;
    int family;
    int model;
    const char* name;
  } cases[] = {
      {"AuthenticAMD", 5, 3, "AMD K5"},
      {"AuthenticAMD", 5, 4, "Unknown"},  // a gap in the table
      {"AuthenticAMD", 5, 15, "AMD K6-3"},
      {"AuthenticAMD", 0x8F, 1, "Unknown"},
      {"GenuineIntel", 4, 6, "Unknown"},
      {"GenuineIntel", 6, 10, "INTEL Pentium-III"},
      {"GenuineIntel", 15, 0, "INTEL Pentium-4"},
      {"GenuineIntel", 0x1F, 0, "Unknown"},
      {"CyrixInstead", 6, 2, "Cyrix"},  // any model
      {"CentaurHauls", 6, 9, "Centaur"},
      {"GenuineIntel and more", 15, 0, "INTEL Pentium-4"},  // 12 characters compared
      {"genuineintel", 15, 0, "Unknown"},
      {"Genuine", 15, 0, "Unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vendor << " " << c.family << "/" << c.model);
    EXPECT_STREQ(mox::detail::processorModelName(c.vendor, c.family, c.model), c.name);
  }
  EXPECT_STREQ(mox::detail::processorModelName(nullptr, 4, 0), "Unknown");
}

TEST(CpuidTest, DescribesSignatureAndFeatureBits) {
  struct Case {
    const char* name;
    const char* vendor;
    unsigned int signature;
    unsigned int edx1;
    unsigned int extendedMax;
    unsigned int extendedEdx;
    int family, model, stepping, flags;
    const char* modelName;
  } cases[] = {
      {"Pentium 4", "GenuineIntel", signature(0, 0, 15, 0, 7), 1u << 23 | 1u << 25 | 1u << 26, 0x80000004u, 0, 15, 0, 7,
       0x7, "INTEL Pentium-4"},
      {"family 15, extended family 1", "GenuineIntel", signature(1, 0, 15, 2, 1), 0, 0x80000004u, 0, 0x1F, 2, 1, 0,
       "Unknown"},
      {"extended model is not added", "GenuineIntel", signature(0, 0xC, 6, 0xF, 2), 1u << 23, 0x80000008u, 0, 6, 15, 2,
       0x1, "Unknown"},
      {"extended family ignored below 15", "AuthenticAMD", signature(0xA, 0, 6, 4, 0), 0, 0x80000001u, 0, 6, 4, 0, 0,
       "AMD ATHLON"},
      {"K6-2 with 3DNow!", "AuthenticAMD", signature(0, 0, 5, 8, 0), 1u << 23, 0x80000001u, 1u << 31, 5, 8, 0, 0x9,
       "AMD K6-2"},
      {"3DNow! bit without the extended range", "AuthenticAMD", signature(0, 0, 5, 8, 0), 0, 0x7FFFFFFFu, 1u << 31, 5,
       8, 0, 0, "AMD K6-2"},
      {"other EDX bits", "CentaurHauls", signature(0, 0, 6, 9, 3), ~(1u << 23 | 1u << 25 | 1u << 26), 0x80000001u,
       0x7FFFFFFFu, 6, 9, 3, 0, "Centaur"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned int leaf0[4] = {0x1F, 0, 0, 0}, leaf1[4] = {c.signature, 0, 0, c.edx1};
    unsigned int extendedMax[4] = {c.extendedMax, 0, 0, 0}, extended1[4] = {0, 0, 0, c.extendedEdx};
    vendorRegisters(c.vendor, leaf0);
    ProcessorInfo info;
    std::memset(&info, 0xAA, sizeof info);  // guard bytes: everything must be written
    EXPECT_EQ(mox::detail::describeProcessor(leaf0, leaf1, extendedMax, extended1, &info), c.flags);
    EXPECT_EQ(info.features, c.flags);
    EXPECT_EQ(info.family, c.family);
    EXPECT_EQ(info.model, c.model);
    EXPECT_EQ(info.stepping, c.stepping);
    EXPECT_STREQ(info.vendor, c.vendor);
    EXPECT_STREQ(info.modelName, c.modelName);
    EXPECT_EQ(info.modelName[sizeof info.modelName - 1], '\0');  // cleared, not left over
    EXPECT_EQ(info.osSupport, 0);
    EXPECT_EQ(info.checkedFeatures, 0x0F);
    EXPECT_EQ(mox::detail::describeProcessor(leaf0, leaf1, extendedMax, extended1, nullptr), c.flags);
  }
}

// The kernel's description of the first processor, field by field.
std::map<std::string, std::string> kernelCpuInfo() {
  std::map<std::string, std::string> fields;
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line) && !line.empty()) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    key.erase(key.find_last_not_of(" \t") + 1);
    const auto start = line.find_first_not_of(' ', colon + 1);
    fields[key] = start == std::string::npos ? std::string() : line.substr(start);
  }
  return fields;
}

TEST(CpuidTest, AgreesWithTheKernel) {
#if !defined(__x86_64__) && !defined(__i386__)
  GTEST_SKIP() << "no CPUID on this architecture";
#endif
  const auto kernel = kernelCpuInfo();
  if (kernel.count("vendor_id") == 0) GTEST_SKIP() << "no /proc/cpuinfo";

  // How the record is filled from the registers is checked above; here only
  // that the right leaves and registers are read.
  ProcessorInfo info;
  const int flags = _cpuid(&info);
  EXPECT_EQ(_cpuid(nullptr), flags);
  EXPECT_STREQ(info.vendor, kernel.at("vendor_id").c_str());

  // The kernel shows the display family (base + extended) and model (with the
  // extended model); this record keeps the extended family in the high
  // nibble and drops the extended model.
  const int kernelFamily = std::stoi(kernel.at("cpu family"));
  const int expectedFamily = kernelFamily >= 15 ? ((kernelFamily - 15) << 4) | 0xF : kernelFamily;
  EXPECT_EQ(info.family, expectedFamily);
  EXPECT_EQ(info.model, std::stoi(kernel.at("model")) & 0xF);
  EXPECT_EQ(info.stepping, std::stoi(kernel.at("stepping")));

  std::istringstream words(kernel.at("flags"));
  int kernelFlags = 0;
  for (std::string w; words >> w;) {
    if (w == "mmx") kernelFlags |= mox::kCpuFeatureMmx;
    if (w == "sse") kernelFlags |= mox::kCpuFeatureSse;
    if (w == "sse2") kernelFlags |= mox::kCpuFeatureSse2;
    if (w == "3dnow") kernelFlags |= mox::kCpuFeature3DNow;
  }
  EXPECT_EQ(flags, kernelFlags);
}

}  // namespace
