// The logger object: routes every front-end call by the file and window
// filters, writes the line (time, type and source prefix) into its file and
// the console window's text, and moves the files into a new session directory
// when the local date changes.
//
// Locks (never taken in the other order, so they cannot deadlock):
//   file lock   - held by every writer of a line from reading the time to the
//                 flush, so lines never interleave and a line lands in the
//                 session of the time in its prefix; the date change runs
//                 under it.
//   state lock  - the filters, the repository's maps and the session
//                 directory; taken inside the file lock by the date change
//                 and initialisation.
//   window lock - the window text only, never together with another.
// Routing reads an immutable snapshot of the filters with one atomic load, so
// a message that a filter drops costs two table lookups, no lock, no
// allocation and no formatting.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mox_utils/cine/CriticalSection.h"
#include "mox_utils/export.h"
#include "mox_utils/logging/kelLogRepository.h"
#include "mox_utils/logging/kelLogger.h"
#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/platform.h"

class HiResTimer;

class MOX_API kelLoggerCore : public kelLogger::LogSink {
 public:
  // Limits of one line, in characters.
  static constexpr std::size_t kPrefixLimit = 1023;
  static constexpr std::size_t kMessageLimit = 2047;
  // The message posted to the console window when its text grew.
  static constexpr unsigned int kConsoleMessage = 0x8022;

  kelLoggerCore();
  kelLoggerCore(const kelLoggerCore&) = delete;
  kelLoggerCore& operator=(const kelLoggerCore&) = delete;
  ~kelLoggerCore() override;

  // Sets the base path and months to keep, opens a session, removes old logs,
  // redirects the standard streams and records the date. No other thread may
  // log meanwhile.
  void start(const std::wstring& basePath, int monthsToKeep);

  void writeMessage(const char* source, int line, kelLogger::LogType type, const wchar_t* format,
                    va_list args) override;
  void writeStats(const char* source, int line, kelLogger::ModifierStats modifier, const wchar_t* format,
                  va_list args) override;
  void writeTimer(const char* source, int line, const HiResTimer& timer, const wchar_t* format, va_list args) override;
  void writeAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param) override;
  void writeMouse(unsigned int message, int x, int y) override;
  void writeKeyboard(unsigned int key) override;
  std::wstring sessionDirectory() override;

  void setConsole(HWND window) { m_console.store(window, std::memory_order_release); }
  // Moves the collected window text into `text`.
  void takeWindowText(std::wstring& text);

  // Filter maintenance (the filter loader); each call takes the state lock
  // and publishes a new routing snapshot.
  void clearFilters();
  void addFileFilter(const FilterKey& key, const std::wstring& target);
  void addWindowFilter(const FilterKey& key);

  // What routing decides for a key, for tools and tests: the target file
  // name ("" for standard output, "NULL" for none) and whether the window
  // filters want it (regardless of the console's visibility).
  struct RouteInfo {
    std::wstring file;
    bool window = false;
  };
  RouteInfo describeRoute(const char* source, kelLogger::LogType type);
  // Every filter key with what its filters set: the file target (empty
  // without a file filter for the key) and whether a window filter names it;
  // in key order.
  struct FilterRow {
    FilterKey key;
    std::wstring file;
    bool window = false;
  };
  std::vector<FilterRow> filterRows();

  // The text added to the window for a statistics message: "\n" and the
  // memory report lines of the modifier (see ProcessMemory.h).
  static std::wstring memoryReport(kelLogger::ModifierStats modifier);

 private:
  struct FileRoute {
    enum Kind : std::uint8_t { kStandard, kNull, kFile } kind = kStandard;
    LogFile* file = nullptr;
  };
  struct ExactRoute {
    std::string source;
    int type;
    bool hasFile;
    FileRoute file;
    bool window;
  };
  static constexpr int kTypeCount = 9;
  // An immutable snapshot of both filter tables.
  struct RouteTable {
    FileRoute wildcardFile[kTypeCount];
    bool wildcardWindow[kTypeCount] = {};
    bool anyExact[kTypeCount] = {};
    std::vector<ExactRoute> exact;  // sorted by type, then source bytes
  };
  struct Route {
    FileRoute file;
    bool window;
  };

  Route route(const char* source, int type) const;
  // False when a filter sends the line to no file ("NULL" or a target that
  // failed to open): the drop test, lock-free.
  bool hasFile(const FileRoute& route);
  bool consoleVisible() const;
  void publishRoutes();  // under m_stateLock
  void write(const char* source, int line, kelLogger::LogType type, const Route& route, bool window,
             kelLogger::ModifierStats modifier, const wchar_t* format, va_list args);
  void writeRecord(const Route& route, bool window, const std::wstring& element);
  std::wstring timingPart();
  void dateChange(const SYSTEMTIME& now);  // under m_fileLock

  // Guarded by m_stateLock.
  std::set<FilterKey> m_windowFilters;
  // Guarded by m_windowLock.
  std::wstring m_windowText;
  // Streams guarded by m_fileLock, maps and names by m_stateLock.
  kelLogRepository m_repository;
  CriticalSection m_fileLock;
  CriticalSection m_stateLock;
  CriticalSection m_windowLock;
  // Deliberately unguarded, as the contract allows: at worst two records
  // measure from the same previous one.
  std::atomic<std::uint32_t> m_lastActionTick{0};
  StringEnumHelper m_mouseNames;
  std::atomic<HWND> m_console{nullptr};
  // Guarded by m_fileLock.
  SYSTEMTIME m_lastDate{};

  std::atomic<const RouteTable*> m_routes{nullptr};
  // Every snapshot ever published stays until destruction, so a reader never
  // sees one freed under it. Guarded by m_stateLock.
  std::vector<std::unique_ptr<RouteTable>> m_routeTables;
};
