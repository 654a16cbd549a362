#include "mox_utils/paths/kelPath.h"

#include <algorithm>
#include <new>

#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/xml/kelXMLFile.h"

namespace kelPath {
namespace {

const EnumInfo<storePaths> kStorePathTable[] = {
    {DefaultRoot, L"DefaultRoot"},
    {Settings, L"Settings"},
    {Icons, L"Icons"},
    {Firmware, L"Firmware"},
    {ConsoleFirmware, L"ConsoleFirmware"},
    {PresetRoot, L"PresetRoot"},
    {Imaging, L"Imaging"},
    {Gui, L"Gui"},
    {Presets3d, L"3dPresets"},
    {Protocols, L"Protocols"},
    {Pictograms, L"Pictograms"},
    {Dicom, L"Dicom"},
    {ReportTemplates, L"ReportTemplates"},
    {ReportTemplatesEmed, L"ReportTemplatesEmed"},
    {Ads, L"Ads"},
    {Maps3d, L"3dMaps"},
    {Maps, L"Maps"},
    {ObTables, L"ObTables"},
    {PeltoGps, L"PeltoGps"},
    {VLCPlugins, L"VLCPlugins"},
    {UserSettingsRoot, L"UserSettingsRoot"},
    {UserSettings, L"UserSettings"},
    {UserProtocols, L"UserProtocols"},
    {UserImaging, L"UserImaging"},
    {UserGui, L"UserGui"},
    {User3d, L"User3d"},
    {UserObTables, L"UserObTables"},
    {Luts, L"Luts"},
    {Logs, L"Logs"},
    {Dump, L"Dump"},
    {Update, L"Update"},
    {Videos, L"Videos"},
    {Panoramic, L"Panoramic"},
    {FollicleAutoTraceLoadTest, L"FollicleAutoTraceLoadTest"},
    {PatientInfo, L"PatientInfo"},
    {UserGuide, L"UserGuide"},
    {Temp, L"Temp"},
    {ActiveProtocol, L"ActiveProtocol"},
    {BaseProtocol, L"BaseProtocol"},
    {CommonBaseProtocol, L"CommonBaseProtocol"},
    {StorePathCount, L""},
};

// Built on first use, so no other static object's construction order matters.
std::map<int, std::wstring>& table() {
  static std::map<int, std::wstring> paths;
  return paths;
}

// Bounds for the repeated replacement: with a search text that the
// replacement does not contain, rewriting can still grow a text without end
// for some pairs ("ab" by "bbaa"), so it stops once the text outgrows the
// longest Windows path or the characters searched exceed a budget far beyond
// any real path's needs.
constexpr std::size_t kMaxRewrittenLength = 32767;
constexpr std::size_t kMaxSearchedCharacters = std::size_t{1} << 22;

// Replaces the first occurrence again and again, each search from the start,
// until none is left (or a bound above is reached). `search` is not empty.
void replaceRepeatedly(std::wstring& text, const std::wstring& search, const std::wstring& replacement) {
  for (std::size_t searched = 0; searched < kMaxSearchedCharacters; searched += text.size() + 1) {
    const std::size_t at = text.find(search);
    if (at == std::wstring::npos) return;
    text.replace(at, search.size(), replacement);
    if (text.size() > kMaxRewrittenLength) return;
  }
}

// Replaces every occurrence in the original text once, scanning forward past
// each replacement.
void replaceEachOnce(std::wstring& text, const std::wstring& search, const std::wstring& replacement) {
  std::wstring out;
  std::size_t from = 0;
  for (std::size_t at = text.find(search); at != std::wstring::npos; at = text.find(search, from)) {
    out.append(text, from, at - from);
    out.append(replacement);
    from = at + search.size();
  }
  out.append(text, from, std::wstring::npos);
  text.swap(out);
}

}  // namespace

const StringEnumHelper& storePathNames() {
  static const StringEnumHelper names = [] {
    StringEnumHelper helper;
    helper.AddTable(kStorePathTable);
    return helper;
  }();
  return names;
}

std::wstring cleanFilePath(const std::wstring& path) {
  if (path.size() < 2) return std::wstring();
  std::wstring out;
  out.reserve(path.size());
  out.push_back(path[0] == L'/' ? L'\\' : path[0]);
  bool previousBackslash = false;  // within the rest only
  for (std::size_t i = 1; i < path.size(); ++i) {
    const wchar_t c = path[i] == L'/' ? L'\\' : path[i];
    if (c == L'\\' && previousBackslash) continue;
    previousBackslash = c == L'\\';
    out.push_back(c);
  }
  return out;
}

std::wstring cleanPath(const std::wstring& path) { return cleanFilePath(path + L'\\'); }

void setPath(storePaths location, const std::wstring& path) {
  try {
    table()[static_cast<int>(location)] = cleanPath(path);
  } catch (const std::bad_alloc&) {
  }
}

std::wstring getPath(storePaths location, const std::wstring& file) {
  const std::map<int, std::wstring>& paths = table();
  const auto it = paths.find(static_cast<int>(location));
  if (it == paths.end()) return file;
  return it->second + file;
}

void getPath(storePaths location, wchar_t* buffer, int length, const wchar_t* file) {
  if (buffer == nullptr || length <= 0) return;
  try {
    const std::wstring path = getPath(location, std::wstring(file != nullptr ? file : L""));
    const std::size_t count = std::min(path.size(), static_cast<std::size_t>(length) - 1);
    path.copy(buffer, count);
    buffer[count] = L'\0';
  } catch (const std::bad_alloc&) {
    buffer[0] = L'\0';
  }
}

void populate(const std::wstring& root) {
  try {
    const std::wstring cleanRoot = cleanPath(root);
    if (cleanRoot.empty()) return;
    kelXMLFile file;
    if (!file.open(cleanRoot + L"pathconfig.xml", true)) return;
    kelXMLNode node = file.getRootElement();
    if (!node.isValid() || !node.switchToChildByName(L"path") || !node.isValid()) return;
    const StringEnumHelper& names = storePathNames();
    // Every element after the first "path" is read the same way, whatever its
    // name.
    for (; node.isValid(); ++node) {
      const std::wstring location = node.getAttribute(L"location", L"");
      const std::wstring name = node.getAttribute(L"name", L"");
      const std::wstring full = mox::platform::pathIsRelativeW(location.c_str()) ? cleanRoot + location : location;
      setPath(static_cast<storePaths>(names.MapName(name.c_str())), full);
    }
  } catch (const std::bad_alloc&) {
  }
}

void clear() { table().clear(); }

void remap(const std::wstring& oldPrefix, const std::wstring& newPrefix) {
  try {
    const std::wstring from = cleanFilePath(oldPrefix);
    const std::wstring to = cleanFilePath(newPrefix);
    if (from == to || from.empty()) return;
    const bool endless = to.find(from) != std::wstring::npos;
    for (auto& entry : table()) {
      if (endless)
        replaceEachOnce(entry.second, from, to);
      else
        replaceRepeatedly(entry.second, from, to);
    }
  } catch (const std::bad_alloc&) {
  }
}

std::map<int, std::wstring> snapshot() {
  try {
    return table();
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace kelPath
