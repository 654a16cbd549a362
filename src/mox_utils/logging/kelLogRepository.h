// The log repository: the dated session directories below a base path, the
// redirected standard streams ("events.log", "errors.log"), the files that
// file filters name, and the file filters themselves.
//
// Directory layout: <base><YYYY>-<MM>\<DD>\Session <NNN>\ ; paths are kept in
// Windows form (backslashes) and opened through the platform seam.
//
// Thread-safety: none of its own. The logger object calls every operation
// under its state lock; the operations that close or reopen streams
// (openSession, setStandardFileNames, destruction) also under its file lock,
// which is the lock every writer of a line holds.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "mox_utils/export.h"
#include "mox_utils/logging/kelLogger.h"
#include "mox_utils/platform.h"

// A filter key: source file name ("*" for any) and log type. Ordered by type
// first, then by the names compared byte by byte as unsigned characters.
struct MOX_API FilterKey {
  std::string source;
  kelLogger::LogType type;

  bool operator<(const FilterKey& other) const;
  bool operator==(const FilterKey& other) const { return type == other.type && source == other.source; }
};

// One log file of the repository. Its address never changes while the
// repository lives, so the routing tables of the logger object may point at
// it; the stream is reopened in every new session directory.
struct MOX_API LogFile {
  std::wstring name;
  // Null when closed or when opening failed. Written under the file lock;
  // read without it only to decide whether a line can be dropped.
  std::atomic<std::FILE*> stream{nullptr};
};

class MOX_API kelLogRepository {
 public:
  kelLogRepository();
  kelLogRepository(const kelLogRepository&) = delete;
  kelLogRepository& operator=(const kelLogRepository&) = delete;
  // Writes the action-log footer to every ".xml" file, closes every file in
  // name order, then releases the standard output and error.
  virtual ~kelLogRepository();

  // Used unchanged as a prefix: it must end with a separator.
  void setBasePath(const std::wstring& basePath) { m_basePath = basePath; }
  void setMonthsToKeep(int months) { m_monthsToKeep = months; }
  int monthsToKeep() const { return m_monthsToKeep; }
  const std::wstring& basePath() const { return m_basePath; }
  // Ends with a backslash once a session is open; empty before.
  const std::wstring& sessionDirectory() const { return m_sessionDirectory; }

  // Creates the month and day directories of today's local date, takes the
  // first free (missing or empty) "Session NNN" directory, and moves the
  // standard streams and every open file into it (action logs get their
  // footer in the old file and a header in the new one).
  void openSession();
  // Deletes every directory directly below the base path whose creation time
  // is before the cut-off for today's UTC date.
  void removeOldLogs();
  // The first instant that is kept: the first day of the month `months`
  // before utcNow's month, at midnight. False for a result out of range.
  static bool cutOff(const SYSTEMTIME& utcNow, int months, SYSTEMTIME* out);

  // Names the standard files "events.log" and "errors.log" and redirects the
  // process's standard output and error into them.
  void setStandardFileNames();
  LogFile& standardOutput() { return m_stdout; }
  LogFile& standardError() { return m_stderr; }

  void clearFileFilters() { m_fileFilters.clear(); }
  // Opens the target on its first mention (unless it is "NULL"; a ".xml"
  // target gets the action-log header) and sets the key's target.
  void addFileFilter(const FilterKey& key, const std::wstring& target);
  const std::map<FilterKey, std::wstring>& fileFilters() const { return m_fileFilters; }
  // The open file of that name, or null when it was never named.
  LogFile* findFile(const std::wstring& name) const;

  // The action-log framing, written to a file whose name contains ".xml".
  static bool isActionLog(const std::wstring& name) { return name.find(L".xml") != std::wstring::npos; }
  static void writeActionHeader(std::FILE* stream);
  static void writeActionFooter(std::FILE* stream);

 private:
  void reopenStandard(LogFile& entry, bool isOutput);
  void openFile(LogFile& file);
  void closeFile(LogFile& file);

  LogFile m_stdout;
  LogFile m_stderr;
  std::map<FilterKey, std::wstring> m_fileFilters;
  std::map<std::wstring, std::unique_ptr<LogFile>> m_openFiles;
  std::wstring m_basePath;
  int m_monthsToKeep = 6;
  std::wstring m_sessionDirectory;
};
