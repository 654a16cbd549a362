// The log front end: log types, the per-call-site log helper and the free
// functions that every part of the library and its users call to log.
//
// The front end formats nothing and opens nothing: each call is handed,
// unchanged, to the one logger object (kelLoggerClass::initialize creates it).
// While there is none, every call is dropped and the queries return false.
#pragma once

#include <cstdarg>
#include <string>

#include "mox_utils/export.h"

class HiResTimer;

namespace kelLogger {

enum LogType : int {
  LOG_FATAL = 0,
  LOG_ERROR = 1,
  LOG_WARN = 2,
  LOG_INFO = 3,
  LOG_DEBUG = 4,
  LOG_TRACE = 5,
  LOG_STATS = 6,
  LOG_TIMER = 7,
  LOG_ACTION = 8,
};

// How much process-memory information a statistics message carries; any
// other value counts as STATS_FULL.
enum ModifierStats : int {
  STATS_FULL = 0,
  STATS_WORKING_SET = 1,
};

// The operations of the logger object that the front end forwards to.
// kelLoggerCore implements them; tests may install a recorder of their own
// with setLoggerCore.
class MOX_API LogSink {
 public:
  virtual ~LogSink();
  virtual void writeMessage(const char* source, int line, LogType type, const wchar_t* format, va_list args) = 0;
  virtual void writeStats(const char* source, int line, ModifierStats modifier, const wchar_t* format,
                          va_list args) = 0;
  virtual void writeTimer(const char* source, int line, const HiResTimer& timer, const wchar_t* format,
                          va_list args) = 0;
  virtual void writeAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param) = 0;
  virtual void writeMouse(unsigned int message, int x, int y) = 0;
  virtual void writeKeyboard(unsigned int key) = 0;
  virtual std::wstring sessionDirectory() = 0;
};

// The process-wide logger object, or null.
MOX_API LogSink* getLoggerCore();
// Installs (or, with null, removes) the logger object. Not synchronised with
// logging threads: install before they start and remove after they stop.
MOX_API void setLoggerCore(LogSink* core);

// A log call site: the file-name part of the source path, the line and the
// type. `source` points into the caller's path, which must outlive the helper
// (a __FILE__ literal always does).
class MOX_API kelLogHelper {
 public:
  kelLogHelper(const char* sourcePath, int line, LogType type);
  kelLogHelper(const kelLogHelper& other) = default;
  kelLogHelper& operator=(const kelLogHelper& other);
  ~kelLogHelper();

  // Logs at this helper's type.
  void operator()(const wchar_t* format, ...) const;
  // Logs as LOG_STATS with the process-memory report that `modifier` selects.
  void operator()(ModifierStats modifier, const wchar_t* format, ...) const;
  // Logs as LOG_TIMER with the timer's total time.
  void operator()(const HiResTimer& timer, const wchar_t* format, ...) const;

  const char* source;
  int line;
  LogType type;
};

MOX_API void logAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param);
MOX_API void logMouse(unsigned int message, int x, int y);
MOX_API void logKeyboard(unsigned int key);

// The current session directory (ending with a backslash). False, with the
// output untouched, while there is no logger object. The buffer form copies
// at most length - 1 characters, fills the rest of the buffer with zeros and
// needs length >= 1.
MOX_API bool getCurrentDirectory(std::wstring& directory);
MOX_API bool getCurrentDirectory(wchar_t* buffer, unsigned int length);

// Returns `path` unchanged; a path shorter than 3 characters is first logged
// as a warning attributed to the caller's sourcePath and line.
MOX_API std::wstring checkPath(const char* sourcePath, int line, const wchar_t* path);

}  // namespace kelLogger

// Builds a log helper for the calling line: MOX_LOG(kelLogger::LOG_WARN)(L"...", ...).
#define MOX_LOG(type) ::kelLogger::kelLogHelper(__FILE__, __LINE__, (type))
