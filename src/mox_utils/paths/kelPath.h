// The product's well-known storage locations ("store paths") and the path
// normalisation every stored path passes through.
//
// One process-wide table maps a location to its directory. It is filled from
// "pathconfig.xml" in an installation root (populate) or one entry at a time
// (setPath), and asked with getPath for a full file name inside a location.
// Paths stay in Windows form: every slash becomes a backslash and every
// stored directory ends with one backslash. The platform's file functions
// read '\' as '/', so on Linux the same strings open the files, and an
// absolute location in the configuration is a POSIX path ("/var/scanner").
//
// Nothing here logs, throws or reports failure: a missing or unreadable
// configuration leaves the table as it was, and an unconfigured location
// gives the bare file name.
//
// Thread-safety: the table has no lock. Fill and change it (populate,
// setPath, remap, clear) before other threads ask for paths; concurrent
// getPath calls on an unchanging table are safe.
#pragma once

#include <map>
#include <string>

#include "mox_utils/export.h"

class StringEnumHelper;

namespace kelPath {

// The locations. Values and their names (the keys of "pathconfig.xml") are
// fixed; the names are given beside each value.
enum storePaths : int {
  DefaultRoot = 0,                 // "DefaultRoot"
  Settings = 1,                    // "Settings"
  Icons = 2,                       // "Icons"
  Firmware = 3,                    // "Firmware"
  ConsoleFirmware = 4,             // "ConsoleFirmware"
  PresetRoot = 5,                  // "PresetRoot"
  Imaging = 6,                     // "Imaging"
  Gui = 7,                         // "Gui"
  Presets3d = 8,                   // "3dPresets"
  Protocols = 9,                   // "Protocols"
  Pictograms = 10,                 // "Pictograms"
  Dicom = 11,                      // "Dicom"
  ReportTemplates = 12,            // "ReportTemplates"
  ReportTemplatesEmed = 13,        // "ReportTemplatesEmed"
  Ads = 14,                        // "Ads"
  Maps3d = 15,                     // "3dMaps"
  Maps = 16,                       // "Maps"
  ObTables = 17,                   // "ObTables"
  PeltoGps = 18,                   // "PeltoGps"
  VLCPlugins = 19,                 // "VLCPlugins"
  UserSettingsRoot = 20,           // "UserSettingsRoot"
  UserSettings = 21,               // "UserSettings"
  UserProtocols = 22,              // "UserProtocols"
  UserImaging = 23,                // "UserImaging"
  UserGui = 24,                    // "UserGui"
  User3d = 25,                     // "User3d"
  UserObTables = 26,               // "UserObTables"
  Luts = 27,                       // "Luts"
  Logs = 28,                       // "Logs"
  Dump = 29,                       // "Dump"
  Update = 30,                     // "Update"
  Videos = 31,                     // "Videos"
  Panoramic = 32,                  // "Panoramic"
  FollicleAutoTraceLoadTest = 33,  // "FollicleAutoTraceLoadTest"
  PatientInfo = 34,                // "PatientInfo"
  UserGuide = 35,                  // "UserGuide"
  Temp = 36,                       // "Temp"
  ActiveProtocol = 37,             // "ActiveProtocol"
  BaseProtocol = 38,               // "BaseProtocol"
  CommonBaseProtocol = 39,         // "CommonBaseProtocol"
  StorePathCount = 40,             // the table terminator; not a location
};

// The key under which entries with a name that is none of the forty are kept.
// No storePaths value reaches them through getPath.
constexpr int kUnknownLocation = -1;

// Reads "pathconfig.xml" from the installation root into the table: every
// "path" element's "location" (relative locations are taken below the root)
// is stored under the location its "name" attribute gives. The table is not
// cleared first; a name given twice keeps its later location. An empty root
// or a missing or unreadable file leaves the table unchanged.
MOX_API void populate(const std::wstring& root);
// Empties the table.
MOX_API void clear();
// Stores cleanPath(path) for the location, replacing an earlier path.
MOX_API void setPath(storePaths location, const std::wstring& path);
// The location's directory followed directly by `file` (no separator is
// added; stored directories end with one). `file` alone when the location is
// not in the table; an empty `file` gives the directory itself.
MOX_API std::wstring getPath(storePaths location, const std::wstring& file);
// The same, copied into `buffer` of `length` characters: at most length - 1
// characters and a terminating null. Nothing is written when length is 0 or
// less or buffer is null; a null file is the empty text.
MOX_API void getPath(storePaths location, wchar_t* buffer, int length, const wchar_t* file);
// cleanFilePath of the path with one backslash appended: a directory path in
// Windows form ending with exactly one backslash. The empty text stays empty;
// one slash or backslash gives two backslashes.
MOX_API std::wstring cleanPath(const std::wstring& path);
// Slashes become backslashes and every run of backslashes after the first
// character collapses into one, so a network path keeps its two leading
// backslashes. Texts shorter than two characters give the empty text. Case
// and everything else are kept; no trailing separator is added or removed.
MOX_API std::wstring cleanFilePath(const std::wstring& path);
// Rewrites every stored path, replacing the text cleanFilePath(oldPrefix) by
// cleanFilePath(newPrefix) wherever it occurs (not only at the start). The
// search starts again from the beginning after every replacement, so text a
// replacement produces can be matched again. Nothing changes when the two
// cleaned prefixes are equal or the old one is empty. When the old prefix
// occurs inside the new one (where searching again would never end), each
// occurrence in the original path is replaced once, scanning forward. Paths
// are not cleaned again afterwards.
MOX_API void remap(const std::wstring& oldPrefix, const std::wstring& newPrefix);

// --- Beyond the table's own operations.

// The names of the forty locations, filled on first use.
MOX_API const StringEnumHelper& storePathNames();
// A copy of the table (key: location value, or kUnknownLocation).
MOX_API std::map<int, std::wstring> snapshot();

}  // namespace kelPath
