// Static utilities of the library: the per-user settings store and small text
// and numeric helpers.
#pragma once

#include <cstdio>
#include <string>

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

class MOX_API mox_utils {
 public:
  mox_utils& operator=(const mox_utils&) = default;

  // --- Settings store: values below the current user's key
  // "Software\Quorvane\Doze\<section>". Nothing here throws or logs; keys are
  // opened and closed on every call.
  static void WriteProfileStringW(const wchar_t* section, const wchar_t* entry, const wchar_t* text);
  static void WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value);
  // 1 when the key opened but the value could not be stored (it is then
  // deleted), 0 otherwise.
  static int WriteProfileBinary(const wchar_t* section, const wchar_t* entry, const unsigned char* data,
                                unsigned int size);
  static std::wstring GetProfileStringW(const wchar_t* section, const wchar_t* entry, const wchar_t* defaultValue);
  static int GetProfileIntW(const wchar_t* section, const wchar_t* entry, int defaultValue);
  // 1 with a new[] block (released by the caller with delete[]) and its size,
  // or 0 with both outputs zero.
  static int GetProfileBinary(const wchar_t* section, const wchar_t* entry, unsigned char** data, unsigned int* size);
  static void DeleteProfileValue(const wchar_t* section, const wchar_t* entry);
  static void CopyProfileKey(const wchar_t* section, const wchar_t* sourceName, const wchar_t* destinationName,
                             int deleteSource);
  static void RenameProfileKey(const wchar_t* section, const wchar_t* sourceName, const wchar_t* destinationName);

  // --- Text and numbers.
  static bool readLineOfTextFromFile(std::FILE* file, char* buffer, int maxLength);
  static bool removeChars(char* text, char c);
  static void findandreplace(std::wstring& text, const std::wstring& search, const std::wstring& replacement);
  static double RawTnTeeToPhase(int raw);
  static double RawTnTeeToTemperature(int raw);
  static int TemperatureToRawTnTee(double temperature);
  // Rounds half away from zero.
  static double round(double x);

  // The users' compression look-up table; null at start. The library never
  // reads or sets it.
  static unsigned char* lutComprTable;

 private:
  static void CopyProfileKey(HKEY sourceParent, const wchar_t* sourceParentPath, const wchar_t* sourceName,
                             HKEY destinationParent, const wchar_t* destinationParentPath,
                             const wchar_t* destinationName);
};
