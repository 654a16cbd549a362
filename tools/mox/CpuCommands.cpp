// mox cpuid: what the library tells about the processor.
#include <string>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/platform/Cpuid.h"
#include "mox_utils/time/OsUtilities.h"

namespace {

std::string featureNames(int flags) {
  struct Flag {
    int bit;
    const char* name;
  } const kFlags[] = {
      {mox::kCpuFeatureMmx, "MMX"},
      {mox::kCpuFeatureSse, "SSE"},
      {mox::kCpuFeatureSse2, "SSE2"},
      {mox::kCpuFeature3DNow, "3DNow!"},
  };
  std::string names;
  for (const Flag& f : kFlags) {
    if ((flags & f.bit) == 0) continue;
    if (!names.empty()) names += ' ';
    names += f.name;
  }
  return names.empty() ? "(none)" : names;
}

int showCpu() {
  ProcessorInfo info;
  const int flags = _cpuid(&info);
  std::FILE* out = mox::tool::userOut();
  std::fprintf(out, "Vendor:     %s\n", info.vendor);
  std::fprintf(out, "Model name: %s\n", info.modelName);
  std::fprintf(out, "Family:     %d (0x%X)\n", info.family, static_cast<unsigned>(info.family));
  std::fprintf(out, "Model:      %d\n", info.model);
  std::fprintf(out, "Stepping:   %d\n", info.stepping);
  std::fprintf(out, "Features:   %s (0x%X of 0x%X checked)\n", featureNames(flags).c_str(),
               static_cast<unsigned>(flags), static_cast<unsigned>(info.checkedFeatures));
  const std::string brand = mox::platform::processorBrand();
  if (!brand.empty()) std::fprintf(out, "Processor:  %s\n", brand.c_str());
  return 0;
}

void addCpu(CLI::App& app, int& status) {
  CLI::App* cmd = app.add_subcommand("cpuid", "Show the processor: vendor, model, family, stepping and features");
  cmd->callback([&status] { status = showCpu(); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addCpu);
