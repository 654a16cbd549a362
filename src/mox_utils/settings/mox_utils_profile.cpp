// The settings store of mox_utils: values below the current user's key
// "Software\Quorvane\Doze\<section>". Every call opens and closes its keys and
// keeps no state; nothing logs or throws.
#include <algorithm>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "mox_utils/platform/Registry.h"
#include "mox_utils/settings/mox_utils.h"

namespace reg = mox::platform;

namespace {

constexpr wchar_t kPrefix[] = L"Software\\Quorvane\\Doze\\";
// Buffers in characters, terminator included: key paths, and while copying
// value names, subkey names and the paths handed down.
constexpr std::size_t kPathChars = 256;
constexpr std::size_t kNameChars = 256;
// Data buffer of a value while copying, in bytes.
constexpr DWORD kCopyDataBytes = 512;

// The key path of a section, as long as it fits the 256-character buffer.
bool sectionPath(const wchar_t* section, std::wstring* path) {
  if (section == nullptr) return false;
  std::wstring p = kPrefix;
  p += section;
  if (p.size() + 1 > kPathChars) return false;
  *path = std::move(p);
  return true;
}

// parent + "\" + name, as long as it fits the 256-character buffer.
bool childPath(const wchar_t* parent, const wchar_t* name, std::wstring* path) {
  std::wstring p = parent;
  p += L'\\';
  p += name;
  if (p.size() + 1 > kPathChars) return false;
  *path = std::move(p);
  return true;
}

bool isText(DWORD type) { return type == reg::kRegSz || type == reg::kRegExpandSz || type == reg::kRegMultiSz; }

// Stores one value in an open key; a value that cannot be stored is deleted,
// so that no stale one stays. False in that case.
bool setOrDelete(HKEY key, const wchar_t* entry, DWORD type, const BYTE* data, DWORD size) {
  if (reg::regSetValueEx(key, entry, type, data, size) == reg::kErrorSuccess) return true;
  reg::regDeleteValue(key, entry);
  return false;
}

// Opens a section with write access, creating it, and stores one value; a
// value that cannot be stored is deleted so that no stale one stays. -1 when
// the key could not be opened, 1 when the value could not be stored, 0 when
// it was.
int writeValue(const wchar_t* section, const wchar_t* entry, DWORD type, const BYTE* data, DWORD size) {
  std::wstring path;
  HKEY key = nullptr;
  if (!sectionPath(section, &path) ||
      reg::regCreateKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyWrite, &key) != reg::kErrorSuccess) {
    return -1;
  }
  const int result = setOrDelete(key, entry, type, data, size) ? 0 : 1;
  reg::regCloseKey(key);
  return result;
}

// The parts of a key name relative to a section, case-folded, without empty
// parts; used to tell whether one subkey lies within another.
std::vector<std::wstring> foldedParts(const wchar_t* name) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (const wchar_t* p = name;; ++p) {
    if (*p == L'\\' || *p == L'\0') {
      if (!part.empty()) parts.push_back(reg::foldRegistryName(part));
      part.clear();
      if (*p == L'\0') break;
    } else {
      part += *p;
    }
  }
  return parts;
}

// A key read whole, within the copy's limits.
struct KeyTree {
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Value> values;
  std::vector<std::pair<std::wstring, KeyTree>> subKeys;
};

// Reads the key `name` below `parent` (whose path is `parentPath`); false
// when its path does not fit or it does not open. A key that opens but
// cannot be queried reads as empty. Names and data beyond the copy's
// buffers fail to enumerate and are left out.
bool readTree(HKEY parent, const wchar_t* parentPath, const wchar_t* name, KeyTree* tree) {
  std::wstring path;
  HKEY key = nullptr;
  if (!childPath(parentPath, name, &path) ||
      reg::regOpenKeyEx(parent, name, reg::kKeyRead, &key) != reg::kErrorSuccess) {
    return false;
  }
  reg::RegKeyInfo info;
  if (reg::regQueryInfoKey(key, &info) == reg::kErrorSuccess) {
    std::vector<wchar_t> entry(kNameChars);
    std::vector<BYTE> data(kCopyDataBytes);
    for (DWORD i = 0; i < info.values; ++i) {
      DWORD nameChars = static_cast<DWORD>(std::min<std::size_t>(info.maxValueNameLen + 1, kNameChars));
      DWORD dataSize = kCopyDataBytes;
      DWORD type = 0;
      if (reg::regEnumValue(key, i, entry.data(), &nameChars, &type, data.data(), &dataSize) == reg::kErrorSuccess) {
        tree->values.push_back({entry.data(), type, std::vector<BYTE>(data.begin(), data.begin() + dataSize)});
      }
    }
    for (DWORD i = 0; i < info.subKeys; ++i) {
      const DWORD nameChars = static_cast<DWORD>(std::min<std::size_t>(info.maxSubKeyLen + 1, kNameChars));
      KeyTree child;
      if (reg::regEnumKey(key, i, entry.data(), nameChars) == reg::kErrorSuccess &&
          readTree(key, path.c_str(), entry.data(), &child)) {
        tree->subKeys.emplace_back(entry.data(), std::move(child));
      }
    }
  }
  reg::regCloseKey(key);
  return true;
}

// Writes a tree read by readTree to the key `name` below `parent`; a key
// whose path does not fit is left out whole, before anything of it is
// created.
void writeTree(HKEY parent, const wchar_t* parentPath, const wchar_t* name, const KeyTree& tree) {
  std::wstring path;
  HKEY key = nullptr;
  if (!childPath(parentPath, name, &path) ||
      reg::regCreateKeyEx(parent, name, reg::kKeyWrite, &key) != reg::kErrorSuccess) {
    return;
  }
  for (const KeyTree::Value& v : tree.values) {
    setOrDelete(key, v.name.c_str(), v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
  }
  for (const auto& [subKey, child] : tree.subKeys) writeTree(key, path.c_str(), subKey.c_str(), child);
  reg::regCloseKey(key);
}

}  // namespace

void mox_utils::WriteProfileStringW(const wchar_t* section, const wchar_t* entry, const wchar_t* text) {
  try {
    if (text == nullptr) {
      // Nothing to store: the value is deleted, as a failed store leaves it.
      writeValue(section, entry, reg::kRegSz, nullptr, 1);
      return;
    }
    const std::basic_string<BYTE> bytes = reg::registryTextBytes(text);
    writeValue(section, entry, reg::kRegSz, bytes.data(), static_cast<DWORD>(bytes.size()));
  } catch (...) {
    // Out of memory: nothing is written.
  }
}

void mox_utils::WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value) {
  const DWORD dword = static_cast<DWORD>(value);
  BYTE bytes[4] = {static_cast<BYTE>(dword), static_cast<BYTE>(dword >> 8), static_cast<BYTE>(dword >> 16),
                   static_cast<BYTE>(dword >> 24)};
  writeValue(section, entry, reg::kRegDword, bytes, sizeof bytes);
}

int mox_utils::WriteProfileBinary(const wchar_t* section, const wchar_t* entry, const unsigned char* data,
                                  unsigned int size) {
  return writeValue(section, entry, reg::kRegBinary, data, size) == 1 ? 1 : 0;
}

std::wstring mox_utils::GetProfileStringW(const wchar_t* section, const wchar_t* entry, const wchar_t* defaultValue) {
  try {
    std::wstring result = defaultValue != nullptr ? defaultValue : L"";
    if (section == nullptr) return result;
    // No length limit here: the path is built to its full length.
    const std::wstring path = std::wstring(kPrefix) + section;
    HKEY key = nullptr;
    if (reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyRead, &key) != reg::kErrorSuccess) {
      return result;
    }
    DWORD type = 0;
    DWORD size = 255;
    if (reg::regQueryValueEx(key, entry, &type, nullptr, &size) == reg::kErrorSuccess && isText(type)) {
      // Twice the reported size, zero-filled: room for a terminator even when
      // the stored text has none.
      std::vector<BYTE> buffer(static_cast<std::size_t>(size) * 2, 0);
      DWORD read = static_cast<DWORD>(buffer.size());
      if (reg::regQueryValueEx(key, entry, &type, buffer.data(), &read) == reg::kErrorSuccess) {
        // Up to the first null: only the first string of a multi-string, and
        // environment references stay as written.
        std::wstring text = reg::registryTextFromBytes(buffer.data(), read);
        if (!text.empty()) result = std::move(text);
      }
    }
    reg::regCloseKey(key);
    return result;
  } catch (...) {
    return std::wstring();
  }
}

int mox_utils::GetProfileIntW(const wchar_t* section, const wchar_t* entry, int defaultValue) {
  std::wstring path;
  HKEY key = nullptr;
  if (!sectionPath(section, &path) ||
      reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyRead, &key) != reg::kErrorSuccess) {
    return defaultValue;
  }
  int result = defaultValue;
  DWORD type = 0;
  DWORD size = 4;
  if (reg::regQueryValueEx(key, entry, &type, nullptr, &size) == reg::kErrorSuccess && type == reg::kRegDword &&
      size == 4) {
    BYTE bytes[4];
    if (reg::regQueryValueEx(key, entry, &type, bytes, &size) == reg::kErrorSuccess && type == reg::kRegDword &&
        size == 4) {
      result = static_cast<int>(static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                                static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24);
    }
  }
  reg::regCloseKey(key);
  return result;
}

int mox_utils::GetProfileBinary(const wchar_t* section, const wchar_t* entry, unsigned char** data,
                                unsigned int* size) {
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  if (data == nullptr || size == nullptr) return 0;
  std::wstring path;
  HKEY key = nullptr;
  if (!sectionPath(section, &path) ||
      reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyRead, &key) != reg::kErrorSuccess) {
    return 0;
  }
  int result = 0;
  DWORD type = 0;
  DWORD reported = 0;
  if (reg::regQueryValueEx(key, entry, &type, nullptr, &reported) == reg::kErrorSuccess && type == reg::kRegBinary) {
    // new[] even for an empty value, so that the caller always has a block
    // to delete[].
    unsigned char* block = new (std::nothrow) unsigned char[reported == 0 ? 1 : reported];
    if (block != nullptr) {
      DWORD read = reported;
      if (reg::regQueryValueEx(key, entry, &type, block, &read) == reg::kErrorSuccess && type == reg::kRegBinary) {
        *data = block;
        *size = read;
        result = 1;
      } else {
        delete[] block;
      }
    }
  }
  reg::regCloseKey(key);
  return result;
}

void mox_utils::DeleteProfileValue(const wchar_t* section, const wchar_t* entry) {
  try {
    std::wstring path;
    HKEY key = nullptr;
    if (!sectionPath(section, &path) ||
        reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyWrite, &key) != reg::kErrorSuccess) {
      return;
    }
    reg::regDeleteValue(key, entry);
    reg::regCloseKey(key);
  } catch (...) {
  }
}

void mox_utils::CopyProfileKey(const wchar_t* section, const wchar_t* sourceName, const wchar_t* destinationName,
                               int deleteSource) {
  try {
    if (sourceName == nullptr || destinationName == nullptr) return;
    // A destination that is the source itself, or lies inside it, would copy
    // the tree into itself, and the deletion would then remove source and
    // copy alike; such a request changes nothing.
    const std::vector<std::wstring> from = foldedParts(sourceName);
    const std::vector<std::wstring> to = foldedParts(destinationName);
    if (from.empty() || to.empty()) return;
    if (to.size() >= from.size() && std::equal(from.begin(), from.end(), to.begin())) return;

    std::wstring path;
    HKEY sectionKey = nullptr;
    if (!sectionPath(section, &path) ||
        reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyAllAccess, &sectionKey) != reg::kErrorSuccess) {
      return;
    }
    // The source is read whole before anything is written or deleted: a
    // destination above the source may receive part of the copy inside the
    // source (a subkey named like the source's step below the destination),
    // which a copy made while reading would read again and the deletion
    // would lose.
    KeyTree tree;
    const bool read = readTree(sectionKey, path.c_str(), sourceName, &tree);
    // Also when nothing was read: the source was missing, or unreadable.
    if (deleteSource != 0) reg::shDeleteKey(sectionKey, sourceName);
    if (read) writeTree(sectionKey, path.c_str(), destinationName, tree);
    reg::regCloseKey(sectionKey);
  } catch (...) {
  }
}

void mox_utils::RenameProfileKey(const wchar_t* section, const wchar_t* sourceName, const wchar_t* destinationName) {
  CopyProfileKey(section, sourceName, destinationName, 1);
}
