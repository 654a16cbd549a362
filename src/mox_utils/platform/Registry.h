// The registry of the current user (HKEY_CURRENT_USER), kept in a per-user
// SQLite hive file.
//
// The calls follow the Win32 registry functions of the same names: they
// return ERROR_SUCCESS (0) or a Win32 error code, take wide names, and read
// and write value data as bytes. Text values (kRegSz, kRegExpandSz,
// kRegMultiSz) are UTF-16LE bytes whose size counts the terminating zero, as
// on Windows; the caller converts (see the Text.h conversions).
//
// Keys form a tree below the hive's root. Key and value names are
// case-insensitive (compared after full Unicode simple upper-casing, per code
// point, as the Windows registry compares) and case-preserving: a name keeps
// the spelling it was created with. A key name is at most 255 characters and
// holds no backslash; a path names nested keys separated by single
// backslashes and may end in one. Lengths count wchar_t (code points on
// Linux), where Windows counts UTF-16 units. The unnamed value of a key is the
// value whose name is null or empty.
//
// Every change is one transaction: another thread or process sees it whole or
// not at all, and a crash never leaves half of it. Several processes may share
// one hive file; a writer waits up to kHiveBusyTimeoutMs for another one.
//
// Thread-safety: all functions may be called from any thread; a handle may be
// used by several threads. Handles are not inherited across fork(): a child
// process opens the hive anew on its first call.
#pragma once

#include <string>
#include <string_view>

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace mox::platform {

// The current user's root key. Never needs closing (closing it succeeds and
// does nothing).
MOX_API HKEY currentUserKey();

// --- The hive file.
// Default: "<home>/.config/mox_utils/hive.sqlite", with the home directory
// from the password database; the directories are created on first use.
MOX_API std::string defaultHivePath();
// Points the registry at another hive file (created when missing); an empty
// path returns to the default. Keys opened before keep using the file they
// were opened in.
MOX_API void setHivePath(const std::string& path);
// The file the next call opens.
MOX_API std::string hivePath();

constexpr int kHiveBusyTimeoutMs = 10000;

// --- Codes (the Win32 values).
constexpr LONG kErrorSuccess = 0;
constexpr LONG kErrorFileNotFound = 2;   // no such key or value
constexpr LONG kErrorAccessDenied = 5;   // the handle lacks the access right
constexpr LONG kErrorInvalidHandle = 6;  // null, closed or foreign handle
constexpr LONG kErrorOutOfMemory = 14;
constexpr LONG kErrorInvalidParameter = 87;  // bad name, null output, bad data
constexpr LONG kErrorBadPathname = 161;      // empty path component, leading '\'
constexpr LONG kErrorMoreData = 234;         // the output buffer is too small
constexpr LONG kErrorNoMoreItems = 259;      // enumeration index past the end
constexpr LONG kErrorBadDb = 1009;           // the hive file cannot be opened or is damaged
constexpr LONG kErrorCantRead = 1012;        // reading the hive failed (also: busy too long)
constexpr LONG kErrorCantWrite = 1013;       // writing the hive failed (also: busy too long)
constexpr LONG kErrorKeyDeleted = 1018;      // the key was deleted since it was opened

// --- Value types.
constexpr DWORD kRegNone = 0;
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;

// --- Access rights.
typedef DWORD REGSAM;
constexpr REGSAM kKeyQueryValue = 0x0001;
constexpr REGSAM kKeySetValue = 0x0002;
constexpr REGSAM kKeyCreateSubKey = 0x0004;
constexpr REGSAM kKeyEnumerateSubKeys = 0x0008;
constexpr REGSAM kKeyRead = 0x20019;
constexpr REGSAM kKeyWrite = 0x20006;
constexpr REGSAM kKeyAllAccess = 0xF003F;

// Dispositions of regCreateKeyEx.
constexpr DWORD kRegCreatedNewKey = 1;
constexpr DWORD kRegOpenedExistingKey = 2;

// Longest key name, in characters.
constexpr std::size_t kMaxKeyNameChars = 255;
// Longest value name, in characters.
constexpr std::size_t kMaxValueNameChars = 16383;

// RegOpenKeyExW: opens the key at subKey below parent (null or empty: parent
// itself, as a new handle) with the given rights. kErrorFileNotFound when it
// does not exist. *result is set only on success.
MOX_API LONG regOpenKeyEx(HKEY parent, const wchar_t* subKey, REGSAM access, HKEY* result);

// RegCreateKeyExW: opens the key, creating it and every missing key on the
// way in one transaction. Needs kKeyCreateSubKey on parent. disposition may be
// null.
MOX_API LONG regCreateKeyEx(HKEY parent, const wchar_t* subKey, REGSAM access, HKEY* result,
                            DWORD* disposition = nullptr);

// RegCloseKey. kErrorInvalidHandle for a handle closed before.
MOX_API LONG regCloseKey(HKEY key);

// RegQueryValueExW (needs kKeyQueryValue). type and size may be null; with
// data null only the type and size are reported. With data, *size is its
// capacity in bytes on entry and the value's size on return; a value larger
// than the capacity gives kErrorMoreData with the size needed in *size.
MOX_API LONG regQueryValueEx(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size);

// RegSetValueExW (needs kKeySetValue): stores size bytes of data as the value
// (replacing one of any type with that name). data may be null only when size
// is 0. The bytes are stored as given: sizes are not checked against the type.
MOX_API LONG regSetValueEx(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);

// RegDeleteValueW (needs kKeySetValue). kErrorFileNotFound when missing.
MOX_API LONG regDeleteValue(HKEY key, const wchar_t* name);

// RegEnumValueW (needs kKeyQueryValue): the value at index, in the order the
// values were created. *nameChars is the capacity of name in characters
// including the terminator on entry, the name's length without it on return.
// type, data and dataSize may be null (dataSize as in regQueryValueEx).
// kErrorMoreData when the name or the data does not fit, kErrorNoMoreItems
// past the last value.
MOX_API LONG regEnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                          DWORD* dataSize);

// RegEnumKeyW (needs kKeyEnumerateSubKeys): the name of the subkey at index,
// subkeys sorted by their case-insensitive names. nameChars is the capacity of
// name including the terminator.
MOX_API LONG regEnumKey(HKEY key, DWORD index, wchar_t* name, DWORD nameChars);

// What RegQueryInfoKeyW tells (needs kKeyQueryValue). Lengths in characters
// without the terminator, data in bytes.
struct RegKeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLen = 0;
  DWORD values = 0;
  DWORD maxValueNameLen = 0;
  DWORD maxValueLen = 0;
  FILETIME lastWriteTime = {0, 0};  // UTC: the key's creation or last change of its values or subkeys
};
MOX_API LONG regQueryInfoKey(HKEY key, RegKeyInfo* info);

// SHDeleteKeyW: deletes the key at subKey below parent with all its subkeys
// and values, in one transaction. subKey must not be empty.
MOX_API LONG shDeleteKey(HKEY parent, const wchar_t* subKey);

// The case-folded form under which the registry compares a name.
MOX_API std::wstring foldRegistryName(std::wstring_view name);

// Text as the data of a kRegSz value: UTF-16LE bytes with the terminating
// zero, so that the size is 2 * (length + 1) for text in the BMP.
MOX_API std::basic_string<BYTE> registryTextBytes(std::wstring_view text);
// The text of kRegSz data: the UTF-16LE units up to the first zero unit (so
// only the first string of a kRegMultiSz), or all of them when there is none;
// an odd last byte is ignored.
MOX_API std::wstring registryTextFromBytes(const BYTE* data, std::size_t size);

}  // namespace mox::platform
