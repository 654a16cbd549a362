// The logger's static interface: starting and stopping logging, the console
// window feed, the log filters and the log-type names.
#pragma once

#include <string>
#include <vector>

#include "mox_utils/export.h"
#include "mox_utils/logging/kelLogger.h"
#include "mox_utils/platform.h"

class kelLoggerCore;

class MOX_API kelLoggerClass {
 public:
  // Registers the type names, creates the logger object if there is none,
  // and opens a new session directory below basePath (which must end with a
  // separator), keeping monthsToKeep months of older directories. Standard
  // output and error are redirected into the session's "events.log" and
  // "errors.log". A second call moves every file into a new session. True
  // unless the logger object itself cannot be allocated; a directory or file
  // that cannot be created leaves the logger running without that file. No
  // other thread may log meanwhile.
  static bool initialize(const wchar_t* basePath, int monthsToKeep);
  // Logs the end banner and destroys the logger object: action logs get
  // their footer, every file is closed and the standard streams are pointed
  // at the null device. Nothing happens without the object. No other thread
  // may log meanwhile.
  static void terminate();

  // The window that receives the console text (null: none). The window's
  // isVisible() decides per message whether window filters apply; every
  // line added to the text posts message 0x8022 with zero parameters.
  static void setConsole(HWND window);
  // Moves the console text collected since the last call into `text`;
  // without the logger object `text` is left unchanged.
  static void getWindowLog(std::wstring& text);

  // Replaces all filters by those of an XML filter file (see
  // examples/settings/logfilters.xml). A file that cannot be read leaves the
  // old filters and logs an error. Files that filters name are opened at
  // once in the session directory and stay open until terminate().
  static void loadFilters(const wchar_t* file);

  // A message that loadFilters logs, as it logs it.
  struct FilterMessage {
    kelLogger::LogType type;
    int line;
    std::wstring text;
  };
  // loadFilters that also hands every message it logs to `messages`, for
  // tools that check a filter file.
  static void loadFilters(const wchar_t* file, std::vector<FilterMessage>* messages);

  // The name of a log type ("LOG_FATAL" ... "LOG_ACTION"). The names are
  // registered by every initialize(); before the first one, and for any value
  // outside 0..8, the result is the empty text, never null.
  static const wchar_t* getTypeName(kelLogger::LogType type);

  // Enters the type names into the process-wide table (what initialize does
  // before it creates the logger object).
  static void registerTypeNames();

  // The logger object, or null; for tools and tests that inspect routing.
  static kelLoggerCore* core();
};
