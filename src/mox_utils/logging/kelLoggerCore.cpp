#include "mox_utils/logging/kelLoggerCore.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/ProcessMemory.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/time/HiResTimer.h"

namespace {

// UTF-8 needs at most 4 bytes a character.
constexpr std::size_t kPrefixBytes = kelLoggerCore::kPrefixLimit * 4 + 1;
constexpr std::size_t kMessageBytes = kelLoggerCore::kMessageLimit * 4 + 1;

const EnumInfo<int> kMouseNames[] = {
    {512, L"Mouse Move"}, {513, L"Left Down"}, {514, L"Left Up"}, {516, L"Right Down"}, {517, L"Right Up"}, {0, L""},
};

void writeAndFlush(std::FILE* stream, const char* text, std::size_t length) {
  if (stream == nullptr) return;
  std::fwrite(text, 1, length, stream);
  std::fflush(stream);
}

bool sameDay(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

char* putTwoDigits(char* p, unsigned value) {
  p[0] = static_cast<char>('0' + value / 10);
  p[1] = static_cast<char>('0' + value % 10);
  return p + 2;
}

// The line prefix "%02d:%02d:%02d.%03d|%s|%S[%d]|", cut at kPrefixLimit
// characters. Every line pays for it, so the usual case - valid time fields
// and a short ASCII source name - is put together by hand, and only the rest
// goes through the formatter.
std::size_t formatPrefix(char* out, std::size_t capacity, const SYSTEMTIME& now, kelLogger::LogType type,
                         const char* source, int line) {
  const wchar_t* typeName = kelLoggerClass::getTypeName(type);
  bool fast = now.wHour <= 99 && now.wMinute <= 99 && now.wSecond <= 99 && now.wMilliseconds <= 999;
  char* p = out;
  if (fast) {
    p = putTwoDigits(p, now.wHour);
    *p++ = ':';
    p = putTwoDigits(p, now.wMinute);
    *p++ = ':';
    p = putTwoDigits(p, now.wSecond);
    *p++ = '.';
    *p++ = static_cast<char>('0' + now.wMilliseconds / 100);
    p = putTwoDigits(p, now.wMilliseconds % 100);
    *p++ = '|';
    // Names and sources are copied while they are checked: short ASCII only.
    std::size_t i = 0;
    for (; typeName[i] != L'\0' && i < 32; ++i) {
      fast = fast && static_cast<std::uint32_t>(typeName[i]) < 0x80;
      *p++ = static_cast<char>(typeName[i]);
    }
    fast = fast && typeName[i] == L'\0';
    *p++ = '|';
    for (i = 0; source[i] != '\0' && i < 256; ++i) {
      fast = fast && static_cast<unsigned char>(source[i]) < 0x80;
      *p++ = source[i];
    }
    fast = fast && source[i] == '\0';
  }
  if (!fast) {
    return mox::platform::formatUtf8(out, capacity, kelLoggerCore::kPrefixLimit, L"%02d:%02d:%02d.%03d|%s|%S[%d]|",
                                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, typeName, source, line);
  }
  *p++ = '[';
  char digits[12];
  char* d = digits + sizeof digits;
  auto magnitude = line < 0 ? 0u - static_cast<unsigned>(line) : static_cast<unsigned>(line);
  do {
    *--d = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (line < 0) *--d = '-';
  while (d != digits + sizeof digits) *p++ = *d++;
  *p++ = ']';
  *p++ = '|';
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}

void appendMegabytes(std::wstring& out, const wchar_t* label, std::uint64_t bytes) {
  // Single precision, printed as a stream prints it (six significant digits).
  const auto megabytes = static_cast<float>(static_cast<double>(bytes) / 1048576.0);
  out += mox::platform::formatWideString(L"%s%gMB\n", label, static_cast<double>(megabytes));
}

}  // namespace

kelLoggerCore::kelLoggerCore() {
  m_mouseNames.AddTable(kMouseNames);
  auto table = std::make_unique<RouteTable>();
  m_routes.store(table.get(), std::memory_order_release);
  m_routeTables.push_back(std::move(table));
}

kelLoggerCore::~kelLoggerCore() = default;

void kelLoggerCore::start(const std::wstring& basePath, int monthsToKeep) {
  CriticalSectionLock fileLock(m_fileLock);
  CriticalSectionLock stateLock(m_stateLock);
  m_repository.setBasePath(basePath);
  m_repository.setMonthsToKeep(monthsToKeep);
  m_repository.openSession();
  m_repository.removeOldLogs();
  m_repository.setStandardFileNames();
  mox::platform::localTime(&m_lastDate);
}

kelLoggerCore::Route kelLoggerCore::route(const char* source, int type) const {
  const RouteTable* table = m_routes.load(std::memory_order_acquire);
  Route result{FileRoute{}, false};
  if (type < 0 || type >= kTypeCount) return result;
  result.file = table->wildcardFile[type];
  result.window = table->wildcardWindow[type];
  if (table->anyExact[type]) {
    const auto it =
        std::lower_bound(table->exact.begin(), table->exact.end(), type, [source](const ExactRoute& e, int t) {
          return e.type < t || (e.type == t && std::strcmp(e.source.c_str(), source) < 0);
        });
    if (it != table->exact.end() && it->type == type && std::strcmp(it->source.c_str(), source) == 0) {
      if (it->hasFile) result.file = it->file;
      result.window = result.window || it->window;
    }
  }
  return result;
}

bool kelLoggerCore::hasFile(const FileRoute& route) {
  switch (route.kind) {
    case FileRoute::kNull:
      return false;
    case FileRoute::kFile:
      return route.file->stream.load(std::memory_order_relaxed) != nullptr;
    default:
      return true;  // standard output: never dropped, even when it failed to open
  }
}

bool kelLoggerCore::consoleVisible() const {
  HWND console = m_console.load(std::memory_order_acquire);
  return console != nullptr && console->isVisible();
}

void kelLoggerCore::writeMessage(const char* source, int line, kelLogger::LogType type, const wchar_t* format,
                                 va_list args) {
  const Route r = route(source, type);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  if (type == kelLogger::LOG_ACTION) {
    // Action records are written as they come: no prefix, no formatting.
    writeRecord(r, window, format);
    return;
  }
  write(source, line, type, r, window, kelLogger::STATS_FULL, format, args);
}

void kelLoggerCore::writeStats(const char* source, int line, kelLogger::ModifierStats modifier, const wchar_t* format,
                               va_list args) {
  const Route r = route(source, kelLogger::LOG_STATS);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  write(source, line, kelLogger::LOG_STATS, r, window, modifier, format, args);
}

void kelLoggerCore::writeTimer(const char* source, int line, const HiResTimer& timer, const wchar_t* format,
                               va_list args) {
  const Route r = route(source, kelLogger::LOG_TIMER);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  std::wstring extended = format;
  extended += L" -- Duration: ";
  extended += mox::platform::formatWideString(L"%g", timer.getTotalTime());
  extended += L"(ms)";
  write(source, line, kelLogger::LOG_TIMER, r, window, kelLogger::STATS_FULL, extended.c_str(), args);
}

void kelLoggerCore::write(const char* source, int line, kelLogger::LogType type, const Route& route, bool window,
                          kelLogger::ModifierStats modifier, const wchar_t* format, va_list args) {
  // The message goes right behind the room for the prefix, so that prefix,
  // message and newline leave in one write and the prefix, formatted under
  // the lock with the time, is copied in front of it.
  char buffer[kPrefixBytes + kMessageBytes + 1];
  char* const message = buffer + kPrefixBytes;
  std::size_t messageLength = mox::platform::formatUtf8V(message, kMessageBytes, kMessageLimit, format, args);
  message[messageLength] = '\n';
  std::wstring report;
  if (window && type == kelLogger::LOG_STATS) report = memoryReport(modifier);

  std::size_t prefixLength;
  {
    CriticalSectionLock lock(m_fileLock);
    SYSTEMTIME now;
    mox::platform::localTime(&now);
    if (!sameDay(now, m_lastDate)) dateChange(now);
    m_lastDate = now;
    char prefix[kPrefixBytes];
    prefixLength = formatPrefix(prefix, sizeof prefix, now, type, source, line);
    // A plain loop: the prefix is short, and a variable-length memcpy here
    // costs more than it copies.
    char* const start = message - prefixLength;
    for (std::size_t i = 0; i < prefixLength; ++i) start[i] = prefix[i];
    std::FILE* stream = nullptr;
    if (route.file.kind == FileRoute::kStandard) {
      stream = m_repository.standardOutput().stream.load(std::memory_order_relaxed);
    } else if (route.file.kind == FileRoute::kFile) {
      stream = route.file.file->stream.load(std::memory_order_relaxed);
    }
    writeAndFlush(stream, message - prefixLength, prefixLength + messageLength + 1);
  }

  if (window) {
    std::wstring text =
        mox::platform::utf8ToWide(std::string_view(message - prefixLength, prefixLength + messageLength));
    {
      CriticalSectionLock lock(m_windowLock);
      m_windowText += text;
      m_windowText += report;
      m_windowText += L'\n';
    }
    if (HWND console = m_console.load(std::memory_order_acquire)) console->postMessage(kConsoleMessage, 0, 0);
  }
}

void kelLoggerCore::dateChange(const SYSTEMTIME& now) {
  char text[256];
  std::size_t n = mox::platform::formatUtf8(
      text, sizeof text, sizeof text,
      L"%02d:%02d:%02d.%03d|Date change detected, log continues on %02d/%02d/%04d (MM/DD/YYYY)...\n", now.wHour,
      now.wMinute, now.wSecond, now.wMilliseconds, now.wMonth, now.wDay, now.wYear);
  writeAndFlush(m_repository.standardOutput().stream.load(), text, n);
  writeAndFlush(m_repository.standardError().stream.load(), text, n);
  {
    CriticalSectionLock lock(m_stateLock);
    m_repository.openSession();
    m_repository.removeOldLogs();
  }
  n = mox::platform::formatUtf8(
      text, sizeof text, sizeof text,
      L"%02d:%02d:%02d.%03d|Date change occurred, log continued from %02d/%02d/%04d (MM/DD/YYYY)...\n", now.wHour,
      now.wMinute, now.wSecond, now.wMilliseconds, m_lastDate.wMonth, m_lastDate.wDay, m_lastDate.wYear);
  writeAndFlush(m_repository.standardOutput().stream.load(), text, n);
  writeAndFlush(m_repository.standardError().stream.load(), text, n);
}

std::wstring kelLoggerCore::memoryReport(kelLogger::ModifierStats modifier) {
  mox::platform::ProcessMemoryCounters counters;
  mox::platform::readProcessMemory(&counters);
  std::wstring report = L"\n";
  if (modifier == kelLogger::STATS_WORKING_SET) {
    appendMegabytes(report, L"\tWorking Set Size:\t\t\t", counters.workingSetSize);
    return report;
  }
  report += mox::platform::formatWideString(L"\tPage Fault Count:\t\t\t%I64u\n", counters.pageFaultCount);
  appendMegabytes(report, L"\tPeak Working Set Size:\t\t\t", counters.peakWorkingSetSize);
  appendMegabytes(report, L"\tWorking Set Size:\t\t\t", counters.workingSetSize);
  appendMegabytes(report, L"\tQuota Peak Paged Pool Usage:\t\t", counters.quotaPeakPagedPoolUsage);
  appendMegabytes(report, L"\tQuota Paged Pool Usage:\t\t\t", counters.quotaPagedPoolUsage);
  appendMegabytes(report, L"\tQuota Peak Non Paged Pool Usage:\t", counters.quotaPeakNonPagedPoolUsage);
  appendMegabytes(report, L"\tQuota Non Paged Pool Usage:\t\t", counters.quotaNonPagedPoolUsage);
  appendMegabytes(report, L"\tPagefile Usage:\t\t\t\t", counters.pagefileUsage);
  appendMegabytes(report, L"\tPeak Pagefile Usage:\t\t\t", counters.peakPagefileUsage);
  appendMegabytes(report, L"\tPrivate Usage:\t\t\t\t", counters.privateUsage);
  return report;
}

// Action records.

std::wstring kelLoggerCore::timingPart() {
  std::uint32_t last = m_lastActionTick.load(std::memory_order_relaxed);
  if (last == 0) {
    last = mox::platform::tickCount();
    m_lastActionTick.store(last, std::memory_order_relaxed);
  }
  SYSTEMTIME utc;
  mox::platform::systemTime(&utc);
  const std::uint32_t now = mox::platform::tickCount();
  std::wstring text = mox::platform::formatWideString(
      L" delay=\"%6u\" timestamp=\"%04d-%02d-%02d %02d:%02d:%02d.%04d\"", now - last, utc.wYear, utc.wMonth, utc.wDay,
      utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
  m_lastActionTick.store(now, std::memory_order_relaxed);
  return text;
}

void kelLoggerCore::writeAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param) {
  const Route r = route("*", kelLogger::LOG_ACTION);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  std::wstring element = L"\t<action  ";
  element += timingPart();
  element += mox::platform::formatWideString(L" type=\"%s\" id=\"%s", type, id);
  if (count > 1) element += mox::platform::formatWideString(L"\" count=\"%u", count);
  if (param != 0) element += mox::platform::formatWideString(L"\" param=\"%d", param);
  element += L"\"/>";
  writeRecord(r, window, element);
}

void kelLoggerCore::writeMouse(unsigned int message, int x, int y) {
  const Route r = route("*", kelLogger::LOG_ACTION);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  std::wstring element = L"\t<mouse   ";
  element += timingPart();
  element += mox::platform::formatWideString(L" id=\"%u\" cursor_x=\"%d\" cursor_y=\"%d\" name=\"%s\"/>", message, x, y,
                                             m_mouseNames.MapValue(static_cast<int>(message)));
  writeRecord(r, window, element);
}

void kelLoggerCore::writeKeyboard(unsigned int key) {
  const Route r = route("*", kelLogger::LOG_ACTION);
  const bool window = r.window && consoleVisible();
  if (!window && !hasFile(r.file)) return;
  std::wstring element = L"\t<keyboard";
  element += timingPart();
  element += mox::platform::formatWideString(L" key=\"%u\" character=\"", key);
  element += static_cast<wchar_t>(static_cast<std::uint16_t>(key));
  element += L"\"/>";
  writeRecord(r, window, element);
}

void kelLoggerCore::writeRecord(const Route& r, bool window, const std::wstring& element) {
  std::string text = mox::platform::wideToUtf8(element);
  text += '\n';
  {
    CriticalSectionLock lock(m_fileLock);
    SYSTEMTIME now;
    mox::platform::localTime(&now);
    if (!sameDay(now, m_lastDate)) dateChange(now);
    m_lastDate = now;
    std::FILE* stream = nullptr;
    if (r.file.kind == FileRoute::kStandard) {
      stream = m_repository.standardOutput().stream.load(std::memory_order_relaxed);
    } else if (r.file.kind == FileRoute::kFile) {
      stream = r.file.file->stream.load(std::memory_order_relaxed);
    }
    writeAndFlush(stream, text.data(), text.size());
  }
  if (window) {
    {
      CriticalSectionLock lock(m_windowLock);
      m_windowText += element;
      m_windowText += L'\n';
    }
    if (HWND console = m_console.load(std::memory_order_acquire)) console->postMessage(kConsoleMessage, 0, 0);
  }
}

std::wstring kelLoggerCore::sessionDirectory() {
  CriticalSectionLock lock(m_stateLock);
  return m_repository.sessionDirectory();
}

void kelLoggerCore::takeWindowText(std::wstring& text) {
  CriticalSectionLock lock(m_windowLock);
  text = std::move(m_windowText);
  m_windowText.clear();
}

// Filters.

void kelLoggerCore::clearFilters() {
  CriticalSectionLock lock(m_stateLock);
  m_windowFilters.clear();
  m_repository.clearFileFilters();
  publishRoutes();
}

void kelLoggerCore::addFileFilter(const FilterKey& key, const std::wstring& target) {
  CriticalSectionLock lock(m_stateLock);
  m_repository.addFileFilter(key, target);
  publishRoutes();
}

void kelLoggerCore::addWindowFilter(const FilterKey& key) {
  CriticalSectionLock lock(m_stateLock);
  m_windowFilters.insert(key);
  publishRoutes();
}

void kelLoggerCore::publishRoutes() {
  auto table = std::make_unique<RouteTable>();
  std::map<FilterKey, ExactRoute> exact;
  auto exactFor = [&exact](const FilterKey& key) -> ExactRoute& {
    auto it = exact.find(key);
    if (it == exact.end()) {
      it = exact.emplace(key, ExactRoute{key.source, static_cast<int>(key.type), false, FileRoute{}, false}).first;
    }
    return it->second;
  };
  for (const auto& [key, target] : m_repository.fileFilters()) {
    const int type = static_cast<int>(key.type);
    if (type < 0 || type >= kTypeCount) continue;
    FileRoute file;
    if (target == L"NULL") {
      file.kind = FileRoute::kNull;
    } else if (LogFile* open = m_repository.findFile(target)) {
      file.kind = FileRoute::kFile;
      file.file = open;
    }
    if (key.source == "*") {
      table->wildcardFile[type] = file;
    } else {
      ExactRoute& e = exactFor(key);
      e.hasFile = true;
      e.file = file;
    }
  }
  for (const FilterKey& key : m_windowFilters) {
    const int type = static_cast<int>(key.type);
    if (type < 0 || type >= kTypeCount) continue;
    if (key.source == "*") {
      table->wildcardWindow[type] = true;
    } else {
      exactFor(key).window = true;
    }
  }
  for (auto& entry : exact) {
    table->anyExact[entry.second.type] = true;
    table->exact.push_back(std::move(entry.second));
  }
  m_routes.store(table.get(), std::memory_order_release);
  m_routeTables.push_back(std::move(table));
}

kelLoggerCore::RouteInfo kelLoggerCore::describeRoute(const char* source, kelLogger::LogType type) {
  const Route r = route(source, type);
  RouteInfo info;
  info.window = r.window;
  if (r.file.kind == FileRoute::kNull) {
    info.file = L"NULL";
  } else if (r.file.kind == FileRoute::kFile) {
    info.file = r.file.file->name;
  }
  return info;
}

std::vector<kelLoggerCore::FilterRow> kelLoggerCore::filterRows() {
  CriticalSectionLock lock(m_stateLock);
  std::map<FilterKey, FilterRow> rows;
  for (const auto& [key, target] : m_repository.fileFilters()) rows[key] = FilterRow{key, target, false};
  for (const FilterKey& key : m_windowFilters) {
    auto it = rows.find(key);
    if (it == rows.end()) it = rows.emplace(key, FilterRow{key, std::wstring(), false}).first;
    it->second.window = true;
  }
  std::vector<FilterRow> result;
  for (auto& entry : rows) result.push_back(std::move(entry.second));
  return result;
}
