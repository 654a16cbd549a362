// mox probes: the probe catalogue of an installation as a table.
// mox paths: the store locations of an installation, resolved.
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/paths/kelPath.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/probes/KelProbeFactory.h"
#include "mox_utils/xml/kelXMLFile.h"

namespace {

using mox::platform::nativePath;
using mox::platform::utf8ToWide;
using mox::platform::wideToUtf8;

// Fills the store-path table from the installation's pathconfig.xml; false
// with a message when the file cannot be read (populate itself stays silent).
bool loadInstallation(const std::string& root) {
  const std::wstring config = kelPath::cleanPath(utf8ToWide(root)) + L"pathconfig.xml";
  kelXMLFile file;
  if (!file.open(config, true)) {
    mox::tool::fail((mox::platform::fileExists(config) ? "cannot read path configuration " : "no path configuration ") +
                    nativePath(config));
    return false;
  }
  file.close();
  kelPath::clear();
  kelPath::populate(utf8ToWide(root));
  return true;
}

const char* arrayType(const KelProbe& probe) {
  if (probe.isConvexArray()) return "convex";
  if (probe.isLinearArray()) return "linear";
  if (probe.isPhasedArray()) return "phased";
  return "other";
}

const char* releaseText(KelProbe::ReleaseStatus status) {
  switch (status) {
    case KelProbe::Released:
      return "released";
    case KelProbe::Demo:
      return "demo";
    default:
      return "not released";
  }
}

struct ProbeOptions {
  std::string root = MOX_DEFAULT_ROOT;
  bool releasedOnly = false;
  bool allowDemo = false;
  int moduleVersion = -1;
};

int listProbes(const ProbeOptions& options) {
  if (!loadInstallation(options.root)) return 1;
  KelProbe::setUsModuleVersion(options.moduleVersion);
  const std::wstring catalogue = KelProbeFactory::getPath();
  KelProbeFactory factory(options.releasedOnly, options.allowDemo);
  if (!factory.firstProbe()) {
    if (!mox::platform::fileExists(catalogue)) return mox::tool::fail("no probe catalogue " + nativePath(catalogue));
    return mox::tool::fail("cannot read probe catalogue " + nativePath(catalogue) +
                           " (not well-formed XML, or no \"probes\" list below its root)");
  }

  std::vector<std::unique_ptr<KelProbe>> probes;
  while (KelProbe* probe = factory.getNextProbe()) probes.emplace_back(probe);

  std::size_t nameWidth = 4;
  for (const auto& probe : probes) nameWidth = std::max(nameWidth, wideToUtf8(probe->getName()).size());
  std::FILE* out = mox::tool::userOut();
  std::fprintf(out, "%4s  %-*s  %-6s  %8s  %9s  %11s  %-12s  %-6s  %-6s  %s\n", "id", static_cast<int>(nameWidth),
               "name", "type", "elements", "pitch(um)", "freq(kHz)", "release", "motor", "biopsy", "hidden");
  for (const auto& probe : probes) {
    std::fprintf(out, "%4d  %-*s  %-6s  %8d  %9d  %5d/%-5d  %-12s  %-6s  %-6s  %s\n", probe->getId(),
                 static_cast<int>(nameWidth), wideToUtf8(probe->getName()).c_str(), arrayType(*probe),
                 probe->numElements, probe->pitch, probe->centerFrequency, probe->bandwidth,
                 releaseText(probe->getReleaseStatus()),
                 probe->hasMotor() ? (probe->hasMotorSensor() ? "sensor" : "yes") : "-",
                 probe->hasBiopsy() ? "yes" : "-", probe->isHidden() ? "yes" : "-");
  }
  std::fprintf(out, "%zu probe%s from %s, module version %d%s\n", probes.size(), probes.size() == 1 ? "" : "s",
               nativePath(catalogue).c_str(), options.moduleVersion,
               options.releasedOnly ? (options.allowDemo ? ", released and demo only" : ", released only") : "");
  return 0;
}

int listPaths(const std::string& root, const std::string& name) {
  if (!loadInstallation(root)) return 1;
  const StringEnumHelper& names = kelPath::storePathNames();
  const std::map<int, std::wstring> table = kelPath::snapshot();
  std::FILE* out = mox::tool::userOut();

  auto resolved = [&](int location) -> std::string {
    const auto it = table.find(location);
    return it == table.end() ? std::string("(not configured)") : nativePath(it->second);
  };

  if (!name.empty()) {
    const int location = names.MapName(utf8ToWide(name).c_str());
    if (location < 0) return mox::tool::fail("unknown store location \"" + name + "\" (names are case-sensitive)");
    std::fprintf(out, "%s\n", resolved(location).c_str());
    return 0;
  }
  for (int location = 0; location < kelPath::StorePathCount; ++location)
    std::fprintf(out, "%-26s  %s\n", wideToUtf8(names.MapValue(location)).c_str(), resolved(location).c_str());
  if (table.count(kelPath::kUnknownLocation) != 0)
    std::fprintf(out, "(the configuration also names a location this version does not know)\n");
  return 0;
}

void addProbeCommands(CLI::App& app, int& status) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probes = app.add_subcommand("probes", "List the probe catalogue of an installation");
  probes->add_option("--root", options->root, "Installation root holding pathconfig.xml")->capture_default_str();
  probes->add_flag("--released-only", options->releasedOnly, "Only probes released for the module version");
  probes->add_flag("--allow-demo", options->allowDemo, "With --released-only, also demo probes");
  probes
      ->add_option("--module-version", options->moduleVersion,
                   "Ultrasound module version whose release state applies (-1: not set)")
      ->capture_default_str();
  probes->callback([options, &status] { status = listProbes(*options); });

  auto root = std::make_shared<std::string>(MOX_DEFAULT_ROOT);
  auto name = std::make_shared<std::string>();
  CLI::App* paths = app.add_subcommand("paths", "Show the store locations of an installation");
  paths->add_option("--root", *root, "Installation root holding pathconfig.xml")->capture_default_str();
  paths->add_option("name", *name, "One location, e.g. Settings");
  paths->callback([root, name, &status] { status = listPaths(*root, *name); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addProbeCommands);
