// Arbitrary bytes as an installation's pathconfig.xml: populate, then resolve,
// copy out and remap every location.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../FuzzInstallation.h"
#include "mox_utils/paths/kelPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mox::fuzz::writeInput(L"pathconfig.xml", data, size);
  kelPath::clear();
  kelPath::populate(mox::fuzz::installationRoot());

  wchar_t buffer[24];
  std::size_t total = 0;
  for (int location = -1; location <= kelPath::StorePathCount; ++location) {
    const auto where = static_cast<kelPath::storePaths>(location);
    total += kelPath::getPath(where, L"file.txt").size();
    kelPath::getPath(where, buffer, static_cast<int>(sizeof buffer / sizeof buffer[0]), L"file.txt");
  }
  // Remap with texts taken from the input, so that prefixes that occur in the
  // stored paths (and inside each other) are tried too.
  const std::wstring text =
      mox::platform::utf8ToWide(std::string(reinterpret_cast<const char*>(data), size < 64 ? size : 64));
  const std::size_t half = text.size() / 2;
  kelPath::remap(text.substr(0, half), text.substr(half));
  kelPath::remap(mox::fuzz::installationRoot(), text.substr(half));
  kelPath::cleanPath(text);
  (void)total;
  return 0;
}
