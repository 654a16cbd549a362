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

  // --- Text and numbers. No state; nothing here logs.

  // Reads one line (up to a line feed, which is consumed and not stored; a
  // carriage return is kept) into `buffer`, which must hold maxLength + 1
  // bytes. False, with the buffer untouched, at the end of the stream before
  // a line feed (a last line without one is never returned) and for a line
  // longer than maxLength (that line is consumed).
  static bool readLineOfTextFromFile(std::FILE* file, char* buffer, int maxLength);
  // Removes every occurrence of `c` from the text in place; always true.
  static bool removeChars(char* text, char c);
  // Replaces the first occurrence of `search`, searching from the start of
  // the text each time, until there is none, so text made by one replacement
  // can match again ("aaaa", "aa" -> "a" ends as "a"). It always ends: an
  // empty search text changes nothing; a replacement that contains the
  // search text is applied once to each occurrence of the original text,
  // left to right; and a rewrite that keeps lengthening the text stops after
  // 2^20 characters of growth (or a text length + 2^24 replacements).
  static void findandreplace(std::wstring& text, const std::wstring& search, const std::wstring& replacement);
  // Phase and temperature of a probe's TnTee sensor from a raw reading.
  static double RawTnTeeToPhase(int raw);
  static double RawTnTeeToTemperature(int raw);
  // The raw reading of a temperature on the lower branch of the temperature
  // polynomial, rounded with round(). INT_MIN where there is no real result
  // (temperatures below the polynomial's minimum, about 26.15) or the result
  // does not fit an int.
  static int TemperatureToRawTnTee(double temperature);
  // Rounds half away from zero: floor(x + 0.5) for x >= 0, else ceil(x - 0.5).
  static double round(double x);

  // The users' compression look-up table; null at start. The library never
  // reads or sets it.
  static unsigned char* lutComprTable;
};
