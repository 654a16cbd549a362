// mox profile: read and edit the settings hive through the library's profile
// functions (values below "Software\Quorvane\Doze\<section>").
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/platform/Registry.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/settings/mox_utils.h"

namespace {

namespace reg = mox::platform;

constexpr wchar_t kRoot[] = L"Software\\Quorvane\\Doze";

struct ProfileOptions {
  std::string hive;
  std::string section;
  std::string entry;
  std::string value;
  std::string type = "sz";
  std::string source;
  std::string destination;
  bool move = false;
};

ProfileOptions& options() {
  static ProfileOptions o;
  return o;
}

std::wstring wide(const std::string& s) { return reg::utf8ToWide(s); }
std::string narrow(const std::wstring& s) { return reg::wideToUtf8(s); }

// Points the registry at the chosen hive and checks that it opens; reports
// on failure.
bool applyHive() {
  if (!options().hive.empty()) reg::setHivePath(options().hive);
  reg::RegKeyInfo info;
  if (reg::regQueryInfoKey(reg::currentUserKey(), &info) == reg::kErrorSuccess) return true;
  mox::tool::fail("cannot open the settings hive " + reg::hivePath());
  return false;
}

std::wstring sectionKeyPath(const std::string& section) {
  return section.empty() ? std::wstring(kRoot) : std::wstring(kRoot) + L"\\" + wide(section);
}

const char* typeName(DWORD type) {
  switch (type) {
    case reg::kRegNone:
      return "REG_NONE";
    case reg::kRegSz:
      return "REG_SZ";
    case reg::kRegExpandSz:
      return "REG_EXPAND_SZ";
    case reg::kRegBinary:
      return "REG_BINARY";
    case reg::kRegDword:
      return "REG_DWORD";
    case reg::kRegMultiSz:
      return "REG_MULTI_SZ";
    default:
      return "REG_UNKNOWN";
  }
}

std::string hex(const BYTE* data, std::size_t size, std::size_t limit) {
  std::string out;
  char byte[4];
  for (std::size_t i = 0; i < size && i < limit; ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
    out += byte;
  }
  if (size > limit) out += " ... (" + std::to_string(size) + " bytes)";
  return out;
}

// The data of a value as the user reads it.
std::string describe(DWORD type, const std::vector<BYTE>& data, std::size_t hexLimit) {
  switch (type) {
    case reg::kRegSz:
    case reg::kRegExpandSz:
      return narrow(reg::registryTextFromBytes(data.data(), data.size()));
    case reg::kRegMultiSz: {
      // Every string up to the empty one, separated by " | ".
      std::string out;
      std::size_t at = 0;
      while (at + 1 < data.size()) {
        const std::wstring part = reg::registryTextFromBytes(data.data() + at, data.size() - at);
        if (part.empty()) break;
        if (!out.empty()) out += " | ";
        out += narrow(part);
        at += (reg::registryTextBytes(part).size());
      }
      return out;
    }
    case reg::kRegDword:
      if (data.size() == 4) {
        const std::uint32_t v = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
        char text[48];
        std::snprintf(text, sizeof text, "%d (0x%08" PRIx32 ")", static_cast<std::int32_t>(v), v);
        return text;
      }
      return hex(data.data(), data.size(), hexLimit);
    default:
      return hex(data.data(), data.size(), hexLimit);
  }
}

// Opens a section key for reading; false when it does not exist.
bool openSection(const std::string& section, HKEY* key) {
  return reg::regOpenKeyEx(reg::currentUserKey(), sectionKeyPath(section).c_str(), reg::kKeyRead, key) ==
         reg::kErrorSuccess;
}

// Type and data of one value; false when it is missing.
bool readValue(const std::string& section, const std::string& entry, DWORD* type, std::vector<BYTE>* data) {
  HKEY key = nullptr;
  if (!openSection(section, &key)) return false;
  const std::wstring name = wide(entry);
  DWORD size = 0;
  bool ok = reg::regQueryValueEx(key, name.c_str(), type, nullptr, &size) == reg::kErrorSuccess;
  if (ok) {
    data->assign(size, 0);
    ok = reg::regQueryValueEx(key, name.c_str(), type, data->data(), &size) == reg::kErrorSuccess;
    data->resize(size);
  }
  reg::regCloseKey(key);
  return ok;
}

std::string where(const std::string& section) { return "section '" + section + "' of hive " + reg::hivePath(); }

int getValue() {
  if (!applyHive()) return 1;
  const ProfileOptions& o = options();
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!readValue(o.section, o.entry, &type, &data)) {
    return mox::tool::fail("no value '" + o.entry + "' in " + where(o.section));
  }
  const std::wstring section = wide(o.section), entry = wide(o.entry);
  std::string text;
  if (type == reg::kRegSz || type == reg::kRegExpandSz || type == reg::kRegMultiSz) {
    text = narrow(mox_utils::GetProfileStringW(section.c_str(), entry.c_str(), L""));
  } else if (type == reg::kRegDword && data.size() == 4) {
    text = std::to_string(mox_utils::GetProfileIntW(section.c_str(), entry.c_str(), 0));
  } else if (type == reg::kRegBinary) {
    unsigned char* block = nullptr;
    unsigned int size = 0;
    if (mox_utils::GetProfileBinary(section.c_str(), entry.c_str(), &block, &size) == 0) {
      return mox::tool::fail("cannot read value '" + o.entry + "' in " + where(o.section));
    }
    text = hex(block, size, SIZE_MAX);
    delete[] block;
  } else {
    text = describe(type, data, SIZE_MAX);
  }
  std::fprintf(mox::tool::userOut(), "%s\n", text.c_str());
  return 0;
}

bool parseDword(const std::string& text, int* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return false;
  *out = static_cast<int>(static_cast<std::uint32_t>(v));
  return true;
}

bool parseHex(const std::string& text, std::vector<BYTE>* out) {
  std::vector<BYTE> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-' || c == ',') continue;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<BYTE>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) return false;
  *out = std::move(bytes);
  return true;
}

int setValue() {
  if (!applyHive()) return 1;
  const ProfileOptions& o = options();
  const std::wstring section = wide(o.section), entry = wide(o.entry);
  DWORD expectedType = 0;
  std::vector<BYTE> expected;
  if (o.type == "sz") {
    const std::wstring text = wide(o.value);
    mox_utils::WriteProfileStringW(section.c_str(), entry.c_str(), text.c_str());
    expectedType = reg::kRegSz;
    const auto bytes = reg::registryTextBytes(text);
    expected.assign(bytes.begin(), bytes.end());
  } else if (o.type == "dword") {
    int v = 0;
    if (!parseDword(o.value, &v)) return mox::tool::fail("not a 32-bit integer: '" + o.value + "'");
    mox_utils::WriteProfileInt(section.c_str(), entry.c_str(), v);
    expectedType = reg::kRegDword;
    const auto u = static_cast<std::uint32_t>(v);
    expected = {static_cast<BYTE>(u), static_cast<BYTE>(u >> 8), static_cast<BYTE>(u >> 16),
                static_cast<BYTE>(u >> 24)};
  } else {
    if (!parseHex(o.value, &expected)) return mox::tool::fail("not hexadecimal bytes: '" + o.value + "'");
    mox_utils::WriteProfileBinary(section.c_str(), entry.c_str(), expected.data(),
                                  static_cast<unsigned int>(expected.size()));
    expectedType = reg::kRegBinary;
  }
  // The writers report nothing: read back what arrived.
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!readValue(o.section, o.entry, &type, &data) || type != expectedType || data != expected) {
    return mox::tool::fail("could not store value '" + o.entry + "' in " + where(o.section));
  }
  return 0;
}

int deleteValue() {
  if (!applyHive()) return 1;
  const ProfileOptions& o = options();
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!readValue(o.section, o.entry, &type, &data)) {
    return mox::tool::fail("no value '" + o.entry + "' in " + where(o.section));
  }
  mox_utils::DeleteProfileValue(wide(o.section).c_str(), wide(o.entry).c_str());
  if (readValue(o.section, o.entry, &type, &data)) {
    return mox::tool::fail("could not delete value '" + o.entry + "' in " + where(o.section));
  }
  return 0;
}

int listSection() {
  if (!applyHive()) return 1;
  const ProfileOptions& o = options();
  HKEY key = nullptr;
  if (!openSection(o.section, &key)) return mox::tool::fail("no " + where(o.section));
  reg::RegKeyInfo info;
  if (reg::regQueryInfoKey(key, &info) != reg::kErrorSuccess) {
    reg::regCloseKey(key);
    return mox::tool::fail("cannot read " + where(o.section));
  }
  std::FILE* out = mox::tool::userOut();
  std::fprintf(out, "[%s]\n", narrow(sectionKeyPath(o.section)).c_str());
  std::vector<wchar_t> name(info.maxValueNameLen > info.maxSubKeyLen ? info.maxValueNameLen + 1
                                                                     : info.maxSubKeyLen + 1);
  std::vector<BYTE> data(info.maxValueLen);
  for (DWORD i = 0; i < info.values; ++i) {
    DWORD chars = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (reg::regEnumValue(key, i, name.data(), &chars, &type, data.data(), &size) != reg::kErrorSuccess) continue;
    const std::string valueName = chars == 0 ? "(default)" : narrow(std::wstring(name.data(), chars));
    const std::vector<BYTE> bytes(data.begin(), data.begin() + size);
    std::fprintf(out, "  %-24s %-13s %s\n", valueName.c_str(), typeName(type), describe(type, bytes, 32).c_str());
  }
  for (DWORD i = 0; i < info.subKeys; ++i) {
    if (reg::regEnumKey(key, i, name.data(), static_cast<DWORD>(name.size())) != reg::kErrorSuccess) continue;
    std::fprintf(out, "  %s\\\n", narrow(name.data()).c_str());
  }
  reg::regCloseKey(key);
  return 0;
}

// The key's parts, case-folded, without empty ones.
std::vector<std::wstring> foldedParts(const std::string& name) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : wide(name) + L"\\") {
    if (c != L'\\') {
      part += c;
    } else if (!part.empty()) {
      parts.push_back(reg::foldRegistryName(part));
      part.clear();
    }
  }
  return parts;
}

int copyKey(bool move) {
  if (!applyHive()) return 1;
  const ProfileOptions& o = options();
  const auto from = foldedParts(o.source), to = foldedParts(o.destination);
  if (from.empty() || to.empty()) return mox::tool::fail("empty key name");
  if (to.size() >= from.size() && std::equal(from.begin(), from.end(), to.begin())) {
    return mox::tool::fail("'" + o.destination + "' is '" + o.source + "' or lies within it");
  }
  const std::string sourcePath = o.section.empty() ? o.source : o.section + "\\" + o.source;
  const std::string destinationPath = o.section.empty() ? o.destination : o.section + "\\" + o.destination;
  HKEY key = nullptr;
  if (!openSection(sourcePath, &key)) return mox::tool::fail("no key '" + o.source + "' in " + where(o.section));
  reg::regCloseKey(key);
  mox_utils::CopyProfileKey(wide(o.section).c_str(), wide(o.source).c_str(), wide(o.destination).c_str(), move ? 1 : 0);
  if (!openSection(destinationPath, &key)) {
    return mox::tool::fail("could not copy '" + o.source + "' in " + where(o.section));
  }
  reg::regCloseKey(key);
  if (move && openSection(sourcePath, &key)) {
    reg::regCloseKey(key);
    return mox::tool::fail("copied '" + o.source + "' but could not delete it in " + where(o.section));
  }
  return 0;
}

void addProfile(CLI::App& app, int& status) {
  ProfileOptions& o = options();
  CLI::App* profile = app.add_subcommand(
      "profile", "Read and edit the settings hive (values below Software\\Quorvane\\Doze\\<section>)");
  profile->require_subcommand(1);
  profile->fallthrough();
  profile->add_option("--hive", o.hive, "Hive file to use instead of the user's own");

  CLI::App* cmd = profile->add_subcommand("get", "Print one value");
  cmd->add_option("section", o.section, "Section, e.g. Display or Probes\\Linear")->required();
  cmd->add_option("entry", o.entry, "Value name")->required();
  cmd->callback([&status] { status = getValue(); });

  cmd = profile->add_subcommand("set", "Store one value");
  cmd->add_option("section", o.section, "Section")->required();
  cmd->add_option("entry", o.entry, "Value name")->required();
  cmd->add_option("value", o.value, "Text, integer (decimal or 0x hex) or hex bytes")->required();
  cmd->add_option("--type", o.type, "Value type")->check(CLI::IsMember({"sz", "dword", "binary"}));
  cmd->callback([&status] { status = setValue(); });

  cmd = profile->add_subcommand("delete", "Delete one value");
  cmd->add_option("section", o.section, "Section")->required();
  cmd->add_option("entry", o.entry, "Value name")->required();
  cmd->callback([&status] { status = deleteValue(); });

  cmd = profile->add_subcommand("list", "Show a section's values with their types, and its subkeys");
  cmd->add_option("section", o.section, "Section (default: the root of the settings)");
  cmd->callback([&status] { status = listSection(); });

  cmd = profile->add_subcommand("copy", "Copy a subkey of a section with everything below it");
  cmd->add_option("section", o.section, "Section")->required();
  cmd->add_option("source", o.source, "Subkey to copy")->required();
  cmd->add_option("destination", o.destination, "New subkey")->required();
  cmd->add_flag("--move", o.move, "Delete the source afterwards");
  cmd->callback([&status] { status = copyKey(options().move); });

  cmd = profile->add_subcommand("rename", "Rename a subkey of a section");
  cmd->add_option("section", o.section, "Section")->required();
  cmd->add_option("source", o.source, "Subkey to rename")->required();
  cmd->add_option("destination", o.destination, "New name")->required();
  cmd->callback([&status] { status = copyKey(true); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addProfile);
