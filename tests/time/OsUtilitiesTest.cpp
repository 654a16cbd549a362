#include "mox_utils/time/OsUtilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

namespace {

// The calls forward to the platform's events and threads, which are tested
// there; checked here: null handles fail without blocking, the arguments
// arrive in their order and the results map to bool.
TEST(OsUtilitiesTest, EventsAndThreads) {
  EXPECT_FALSE(OsUtilities::evt_wait(nullptr, -1));
  EXPECT_FALSE(OsUtilities::evt_set(nullptr));
  EXPECT_FALSE(OsUtilities::evt_reset(nullptr));
  EXPECT_FALSE(OsUtilities::evt_close(nullptr));
  EXPECT_EQ(OsUtilities::thread_create(nullptr, nullptr), ~0UL);

  void* manual = OsUtilities::evt_create(true, false);
  EXPECT_FALSE(OsUtilities::evt_wait(manual, 0));
  // The thread gets the event as its argument and sets it.
  ASSERT_NE(OsUtilities::thread_create(manual, [](void* event) { OsUtilities::evt_set(event); }), ~0UL);
  ASSERT_TRUE(OsUtilities::evt_wait(manual, -1));
  EXPECT_TRUE(OsUtilities::evt_wait(manual, 0));  // manual reset: still set
  EXPECT_TRUE(OsUtilities::evt_reset(manual));
  EXPECT_FALSE(OsUtilities::evt_wait(manual, 0));
  EXPECT_TRUE(OsUtilities::evt_close(manual));
  EXPECT_FALSE(OsUtilities::evt_close(manual));

  void* autoReset = OsUtilities::evt_create(false, true);
  EXPECT_TRUE(OsUtilities::evt_wait(autoReset, 0));
  EXPECT_FALSE(OsUtilities::evt_wait(autoReset, 0));
  EXPECT_TRUE(OsUtilities::evt_close(autoReset));
}

// The table's edges: gaps, the ends of model ranges, rows for any family or
// model, and the vendor compared over exactly 12 characters.
TEST(CpuidTest, ModelNameTable) {
  struct Case {
    const char* vendor;
    int family, model;
    const char* name;
  } cases[] = {
      {"AuthenticAMD", 5, 4, "Unknown"},    {"AuthenticAMD", 5, 15, "AMD K6-3"},
      {"AuthenticAMD", 0x8F, 1, "Unknown"}, {"GenuineIntel", 0x1F, 0, "Unknown"},
      {"CyrixInstead", 6, 2, "Cyrix"},      {"GenuineIntel and more", 15, 0, "INTEL Pentium-4"},
      {"genuineintel", 15, 0, "Unknown"},   {"Genuine", 15, 0, "Unknown"},
      {nullptr, 4, 0, "Unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.vendor ? c.vendor : "null") << " " << c.family << "/" << c.model);
    EXPECT_STREQ(mox::detail::processorModelName(c.vendor, c.family, c.model), c.name);
  }
}

unsigned int signature(unsigned extFamily, unsigned extModel, unsigned family, unsigned model, unsigned stepping) {
  return extFamily << 20 | extModel << 16 | family << 8 | model << 4 | stepping;
}

// Each case: the vendor, CPUID 1 EAX and EDX, CPUID 0x80000000 EAX, CPUID
// 0x80000001 EDX, and the record as "family model stepping flags name".
TEST(CpuidTest, DescribesSignatureAndFeatureBits) {
  constexpr unsigned int kMmxSseSse2 = 1u << 23 | 1u << 25 | 1u << 26;
  struct Case {
    const char* vendor;
    unsigned int leaf1Eax, leaf1Edx, extendedMax, extendedEdx;
    const char* expected;
  } cases[] = {
      {"GenuineIntel", signature(0, 0, 15, 0, 7), kMmxSseSse2, 0x80000004u, 0, "15 0 7 7 INTEL Pentium-4"},
      // Base family 15 takes the extended family into the high nibble;
      // below 15 it is ignored. The extended model is never added.
      {"GenuineIntel", signature(1, 0, 15, 2, 1), 0, 0x80000004u, 0, "31 2 1 0 Unknown"},
      {"AuthenticAMD", signature(0xA, 0, 6, 4, 0), 0, 0x80000001u, 0, "6 4 0 0 AMD ATHLON"},
      {"GenuineIntel", signature(0, 0xC, 6, 0xF, 2), 1u << 23, 0x80000008u, 0, "6 15 2 1 Unknown"},
      // 3DNow! counts only where the extended range is reported.
      {"AuthenticAMD", signature(0, 0, 5, 8, 0), 1u << 23, 0x80000001u, 1u << 31, "5 8 0 9 AMD K6-2"},
      {"AuthenticAMD", signature(0, 0, 5, 8, 0), 0, 0x7FFFFFFFu, 1u << 31, "5 8 0 0 AMD K6-2"},
      {"CentaurHauls", signature(0, 0, 6, 9, 3), ~kMmxSseSse2, 0x80000001u, 0x7FFFFFFFu, "6 9 3 0 Centaur"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    // CPUID 0 holds the vendor in EBX, EDX, ECX.
    unsigned int leaf0[4] = {0x1F, 0, 0, 0}, leaf1[4] = {c.leaf1Eax, 0, 0, c.leaf1Edx};
    std::memcpy(&leaf0[1], c.vendor, 4);
    std::memcpy(&leaf0[3], c.vendor + 4, 4);
    std::memcpy(&leaf0[2], c.vendor + 8, 4);
    unsigned int extendedMax[4] = {c.extendedMax, 0, 0, 0}, extended1[4] = {0, 0, 0, c.extendedEdx};
    ProcessorInfo info;
    std::memset(&info, 0xAA, sizeof info);  // guard bytes: everything must be written
    const int flags = mox::detail::describeProcessor(leaf0, leaf1, extendedMax, extended1, &info);
    std::ostringstream record;
    record << info.family << " " << info.model << " " << info.stepping << " " << info.features << " " << info.modelName;
    EXPECT_EQ(record.str(), c.expected);
    EXPECT_EQ(flags, info.features);
    EXPECT_STREQ(info.vendor, c.vendor);
    EXPECT_EQ(info.modelName[sizeof info.modelName - 1], '\0');  // cleared, not left over
    EXPECT_EQ(info.osSupport, 0);
    EXPECT_EQ(info.checkedFeatures, 0x0F);
    EXPECT_EQ(mox::detail::describeProcessor(leaf0, leaf1, extendedMax, extended1, nullptr), flags);
  }
}

// The first processor's value of `key` in the kernel's description.
std::string kernelCpuInfo(const std::string& key) {
  std::ifstream in("/proc/cpuinfo");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::smatch match;
  return std::regex_search(text, match, std::regex("\n" + key + "\\s*: ?([^\n]*)")) ? match[1].str() : "";
}

// How the record is filled from the registers is checked above; here only
// that the right leaves and registers are read.
TEST(CpuidTest, AgreesWithTheKernel) {
#if !defined(__x86_64__) && !defined(__i386__)
  GTEST_SKIP() << "no CPUID on this architecture";
#endif
  if (kernelCpuInfo("vendor_id").empty()) GTEST_SKIP() << "no /proc/cpuinfo";
  ProcessorInfo info;
  const int flags = _cpuid(&info);
  EXPECT_EQ(_cpuid(nullptr), flags);
  EXPECT_EQ(info.vendor, kernelCpuInfo("vendor_id"));
  // The kernel shows the display family (base + extended) and model (with the
  // extended model); this record keeps the extended family in the high
  // nibble and drops the extended model.
  const int family = std::stoi(kernelCpuInfo("cpu family"));
  EXPECT_EQ(info.family, family >= 15 ? ((family - 15) << 4) | 0xF : family);
  EXPECT_EQ(info.model, std::stoi(kernelCpuInfo("model")) & 0xF);
  EXPECT_EQ(info.stepping, std::stoi(kernelCpuInfo("stepping")));
  const std::string words = " " + kernelCpuInfo("flags") + " ";
  const auto has = [&](const char* flag) { return words.find(std::string(" ") + flag + " ") != std::string::npos; };
  EXPECT_EQ(flags, (has("mmx") ? mox::kCpuFeatureMmx : 0) | (has("sse") ? mox::kCpuFeatureSse : 0) |
                       (has("sse2") ? mox::kCpuFeatureSse2 : 0) | (has("3dnow") ? mox::kCpuFeature3DNow : 0));
}

}  // namespace
