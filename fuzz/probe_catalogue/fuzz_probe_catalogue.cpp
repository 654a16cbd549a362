// Arbitrary bytes as the probe catalogue: enumerate it with each filter, use
// every probe read, and look one up by id.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "../FuzzInstallation.h"
#include "mox_utils/paths/kelPath.h"
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/probes/KelProbeFactory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    kelPath::setPath(kelPath::Settings, mox::fuzz::installationRoot() + L"\\settings");
    kelPath::setPath(kelPath::Icons, mox::fuzz::installationRoot() + L"\\icons");
    KelProbe::setUsModuleVersion(5);
    return true;
  }();
  (void)ready;
  mox::fuzz::writeInput(L"settings\\probes.xml", data, size);

  int lastId = -1;
  for (const bool releasedOnly : {false, true}) {
    KelProbeFactory factory(releasedOnly, !releasedOnly);
    if (!factory.firstProbe()) return 0;
    // A catalogue is bounded by the file size limit, so this ends.
    while (std::unique_ptr<KelProbe> probe{factory.getNextProbe()}) {
      lastId = probe->getId();
      const int lines = probe->numElements;
      for (const int line : {0, 1, lines / 2, lines - 1, lines})
        (void)probe->computeAngle(line, lines, probe->motorFov, probe->maxSteerAngle);
      (void)probe->getImgPath();
      (void)(probe->isLinearArray() || probe->isPhasedArray() || probe->hasMotorSensor() || probe->hasBiopsy());
      KelProbe copy(*probe);
      copy = *probe;
    }
  }
  KelProbe byId;
  byId.load(lastId);
  return 0;
}
