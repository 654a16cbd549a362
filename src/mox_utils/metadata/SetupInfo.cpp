#include "mox_utils/metadata/SetupInfo.h"

#include <string>

#include "mox_utils/geometry/GeometryText.h"
#include "mox_utils/xml/kelXMLFile.h"

SetupInfo::SetupInfo() : master(-1), app(-1), factory(-1), typeSelector(-1), version(2) {}
SetupInfo::SetupInfo(const SetupInfo& other) = default;
SetupInfo& SetupInfo::operator=(const SetupInfo& other) = default;
SetupInfo::~SetupInfo() = default;

PresetType SetupInfo::GetType() const {
  if (typeSelector > 0) return PRESET_SELECTED;
  if (factory < 1) return PRESET_USER;
  return PRESET_FACTORY;
}

bool SetupInfo::Load(const wchar_t* path) {
  if (path == nullptr) return false;
  kelXMLFile file;
  if (!file.open(path, true)) return false;
  return Load(file.getRootElement());
}

bool SetupInfo::Load(const kelXMLNode& node) {
  if (!node.isValid()) return false;
  try {
    probes.clear();
    // Each item is read from its start up to the next comma; the position
    // walks forward instead of cutting the text, so long lists stay linear.
    const std::wstring text = node.getAttribute(L"probe", L"");
    std::size_t pos = 0;
    while (pos < text.size()) {
      probes.insert(mox::detail::wtoiAt(text, pos));
      const std::size_t comma = text.find(L',', pos);
      pos = comma == std::wstring::npos ? text.size() : comma + 1;
    }
  } catch (...) {
    return false;
  }
  app = node.getAttributeInt(L"app", -1);
  master = node.getAttributeInt(L"master", -1);
  factory = node.getAttributeInt(L"factory", -1);
  version = node.getAttributeInt(L"version", 0);
  return !probes.empty() && app != -1 && master != -1 && factory != -1;
}

bool SetupInfo::Store(const kelXMLNode& node, int research) const {
  if (!node.isValid()) return false;
  try {
    std::wstring text;
    for (const int probe : probes) {
      if (!text.empty()) text += L',';
      text += std::to_wstring(probe);
    }
    node.setAttribute(L"probe", text.c_str());
  } catch (...) {
    return false;
  }
  node.setAttributeInt(L"app", app);
  node.setAttributeInt(L"master", master);
  node.setAttributeInt(L"factory", factory);
  node.setAttributeInt(L"version", version);
  if (research != -1) node.setAttributeInt(L"research", research);
  return true;
}
