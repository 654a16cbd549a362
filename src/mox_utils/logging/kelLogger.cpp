#include "mox_utils/logging/kelLogger.h"

#include <atomic>
#include <cwchar>

#include "mox_utils/platform/File.h"

namespace kelLogger {

namespace {
std::atomic<LogSink*> g_core{nullptr};
}

LogSink::~LogSink() = default;

LogSink* getLoggerCore() { return g_core.load(std::memory_order_acquire); }

void setLoggerCore(LogSink* core) { g_core.store(core, std::memory_order_release); }

kelLogHelper::kelLogHelper(const char* sourcePath, int line, LogType type)
    : source(mox::platform::pathFindFileNameA(sourcePath)), line(line), type(type) {}

kelLogHelper& kelLogHelper::operator=(const kelLogHelper& other) {
  source = other.source;
  line = other.line;
  type = other.type;
  return *this;
}

kelLogHelper::~kelLogHelper() = default;

void kelLogHelper::operator()(const wchar_t* format, ...) const {
  LogSink* core = getLoggerCore();
  if (core == nullptr) return;
  va_list args;
  va_start(args, format);
  core->writeMessage(source, line, type, format, args);
  va_end(args);
}

void kelLogHelper::operator()(ModifierStats modifier, const wchar_t* format, ...) const {
  LogSink* core = getLoggerCore();
  if (core == nullptr) return;
  va_list args;
  va_start(args, format);
  core->writeStats(source, line, modifier, format, args);
  va_end(args);
}

void kelLogHelper::operator()(const HiResTimer& timer, const wchar_t* format, ...) const {
  LogSink* core = getLoggerCore();
  if (core == nullptr) return;
  va_list args;
  va_start(args, format);
  core->writeTimer(source, line, timer, format, args);
  va_end(args);
}

void logAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param) {
  if (LogSink* core = getLoggerCore()) core->writeAction(type, id, count, param);
}

void logMouse(unsigned int message, int x, int y) {
  if (LogSink* core = getLoggerCore()) core->writeMouse(message, x, y);
}

void logKeyboard(unsigned int key) {
  if (LogSink* core = getLoggerCore()) core->writeKeyboard(key);
}

bool getCurrentDirectory(std::wstring& directory) {
  LogSink* core = getLoggerCore();
  if (core == nullptr) return false;
  directory = core->sessionDirectory();
  return true;
}

bool getCurrentDirectory(wchar_t* buffer, unsigned int length) {
  LogSink* core = getLoggerCore();
  if (core == nullptr || length == 0) return false;
  const std::wstring directory = core->sessionDirectory();
  const std::size_t n = directory.size() < length - 1 ? directory.size() : length - 1;
  std::wmemcpy(buffer, directory.data(), n);
  std::wmemset(buffer + n, L'\0', length - n);
  return true;
}

std::wstring checkPath(const char* sourcePath, int line, const wchar_t* path) {
  if (std::wcslen(path) < 3) kelLogHelper(sourcePath, line, LOG_WARN)(L"Invalid path encountered \"%s\"", path);
  return path;
}

}  // namespace kelLogger
