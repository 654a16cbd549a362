// Arbitrary text as the "probe" list (and the other attributes) of a setup
// description. Whatever loads must store and load back to the same setup.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mox_utils/metadata.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/xml/kelXMLFile.h"

namespace {

bool sameSetup(const SetupInfo& a, const SetupInfo& b) {
  return a.probes == b.probes && a.app == b.app && a.master == b.master && a.factory == b.factory &&
         a.version == b.version;
}

void checkStoreLoad(const SetupInfo& info, bool loaded) {
  kelXMLFile copy;
  if (!copy.create(L"setup")) return;  // only when memory runs out
  if (!info.Store(copy.getRootElement(), 1)) __builtin_trap();
  SetupInfo back;
  if (back.Load(copy.getRootElement()) != loaded || !sameSetup(back, info)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // The bytes as the probe list; the other attributes come from the first
  // items, split at '|', so that app, master and factory are fuzzed too.
  std::wstring text = mox::platform::utf8ToWide(bytes);
  kelXMLFile file;
  if (file.create(L"setup")) {
    const kelXMLNode root = file.getRootElement();
    const wchar_t* const names[] = {L"app", L"master", L"factory", L"version"};
    for (const wchar_t* name : names) {
      const std::size_t bar = text.find(L'|');
      if (bar == std::wstring::npos) break;
      root.setAttribute(name, text.substr(0, bar).c_str());
      text.erase(0, bar + 1);
    }
    root.setAttribute(L"probe", text.c_str());
    SetupInfo info;
    const bool loaded = info.Load(root);
    checkStoreLoad(info, loaded);
  }

  // The bytes as a whole setup or variable description document.
  kelXMLFile document;
  if (document.openBuffer(bytes.data(), bytes.size())) {
    const kelXMLNode root = document.getRootElement();
    SetupInfo info;
    checkStoreLoad(info, info.Load(root));
    VarInfo var;
    var.Load(root);
    RangeInfo range;
    range.Load(root);
  }
  return 0;
}
