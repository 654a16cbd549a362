// Loading the sample installation's probe catalogue: the library's factory
// (wide interface, one KelProbe per element) against reading the same items
// with pugixml directly from the same file, and against parsing alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "mox_utils/paths/kelPath.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/probes/KelProbeFactory.h"

namespace {

const std::string kRoot = MOX_SOURCE_DIR "/examples";
const std::string kCatalogue = kRoot + "/settings/probes.xml";

void setUpInstallation() {
  static const bool done = [] {
    kelPath::clear();
    kelPath::populate(mox::platform::utf8ToWide(kRoot));
    KelProbe::setUsModuleVersion(5);
    return true;
  }();
  (void)done;
}

void BM_LoadProbes_By_KelProbeFactory(benchmark::State& state) {
  setUpInstallation();
  std::int64_t probes = 0;
  for (auto _ : state) {
    KelProbeFactory factory(false, false);
    if (!factory.firstProbe()) {
      state.SkipWithError("sample catalogue missing");
      return;
    }
    while (KelProbe* probe = factory.getNextProbe()) {
      benchmark::DoNotOptimize(probe->numElements);
      delete probe;
      ++probes;
    }
  }
  state.SetItemsProcessed(probes);
}

// The same items read straight from pugixml, narrow text, no allocation per
// probe: the floor for any reader of this file.
int childInt(const pugi::xml_node& node, const char* name) { return node.child(name).text().as_int(); }

void BM_LoadProbes_By_Pugixml(benchmark::State& state) {
  std::int64_t probes = 0;
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_file(kCatalogue.c_str())) {
      state.SkipWithError("sample catalogue missing");
      return;
    }
    for (const pugi::xml_node probe : document.document_element().child("probes").children("probe")) {
      int sum = probe.attribute("id").as_int();
      for (const pugi::xml_node entry : probe.child("enabled").children())
        if (entry.attribute("usmoduleversion").as_int() == 5) {
          sum += std::string(entry.attribute("state").value()) == "released";
          break;
        }
      for (const char* item : {"type", "maxfocusdistance", "maxsteerangle", "minFocusDistanceDoppler",
                               "minlineduration", "numElements", "pinOffset", "pitch", "radius", "invertedElements"})
        sum += childInt(probe, item);
      sum += static_cast<int>(probe.child("transmitoffset").text().as_double() +
                              probe.child("elevationLength").text().as_double());
      std::string name = probe.attribute("name").value();
      std::string icon = probe.child("icon").text().get();
      for (const char* group : {"biopsy", "frequency", "motor", "support", "muxWrap"}) {
        const pugi::xml_node g = probe.child(group);
        for (const pugi::xml_node item : g.children()) sum += item.text().as_int();
      }
      benchmark::DoNotOptimize(sum);
      benchmark::DoNotOptimize(name);
      benchmark::DoNotOptimize(icon);
      ++probes;
    }
  }
  state.SetItemsProcessed(probes);
}

// Parsing the file alone, counting probe elements.
void BM_LoadProbes_By_PugixmlParseOnly(benchmark::State& state) {
  std::int64_t probes = 0;
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_file(kCatalogue.c_str())) {
      state.SkipWithError("sample catalogue missing");
      return;
    }
    for (const pugi::xml_node probe : document.document_element().child("probes").children("probe")) {
      benchmark::DoNotOptimize(probe);
      ++probes;
    }
  }
  state.SetItemsProcessed(probes);
}

BENCHMARK(BM_LoadProbes_By_KelProbeFactory)->UseRealTime();
BENCHMARK(BM_LoadProbes_By_Pugixml)->UseRealTime();
BENCHMARK(BM_LoadProbes_By_PugixmlParseOnly)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
