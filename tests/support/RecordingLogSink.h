// A logger object for tests: installed with kelLogger::setLoggerCore, it
// records every call the log front end forwards, with the message formatted.
#pragma once

#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

#include "mox_utils/logging/kelLogger.h"
#include "mox_utils/time/HiResTimer.h"

namespace mox::test {

struct LoggedMessage {
  std::string source;
  int line = 0;
  kelLogger::LogType type = kelLogger::LOG_FATAL;
  int modifier = -1;                  // writeStats only
  const HiResTimer* timer = nullptr;  // writeTimer only
  std::wstring format;
  std::wstring text;
};

struct LoggedAction {
  std::wstring kind;  // "action", "mouse" or "keyboard"
  std::wstring type;
  std::wstring id;
  unsigned int count = 0;
  int param = 0;
  unsigned int message = 0;
  int x = 0;
  int y = 0;
  unsigned int key = 0;
};

// Formats the way the library's callers write formats: "%s" is a wide string
// and "%S" a narrow one. Only plain conversions are rewritten for the C
// library's formatter, which is enough for the formats the tests log.
inline std::wstring formatForTest(const wchar_t* format, va_list args) {
  std::wstring converted;
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    converted += *p;
    if (*p != L'%') continue;
    if (p[1] == L'%') {
      converted += *++p;
    } else if (p[1] == L's') {
      converted += L'l';
    } else if (p[1] == L'S') {
      converted += L's';
      ++p;
    }
  }
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vswprintf(buffer.data(), buffer.size(), converted.c_str(), copy);
    va_end(copy);
    if (n >= 0) return std::wstring(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() > (1u << 20)) return L"<unformattable>";
    buffer.resize(buffer.size() * 4);
  }
}

class RecordingLogSink : public kelLogger::LogSink {
 public:
  void writeMessage(const char* source, int line, kelLogger::LogType type, const wchar_t* format,
                    va_list args) override {
    record(source, line, type, -1, nullptr, format, args);
  }
  void writeStats(const char* source, int line, kelLogger::ModifierStats modifier, const wchar_t* format,
                  va_list args) override {
    record(source, line, kelLogger::LOG_STATS, modifier, nullptr, format, args);
  }
  void writeTimer(const char* source, int line, const HiResTimer& timer, const wchar_t* format, va_list args) override {
    record(source, line, kelLogger::LOG_TIMER, -1, &timer, format, args);
  }
  void writeAction(const wchar_t* type, const wchar_t* id, unsigned int count, int param) override {
    LoggedAction a;
    a.kind = L"action";
    a.type = type;
    a.id = id;
    a.count = count;
    a.param = param;
    actions.push_back(a);
  }
  void writeMouse(unsigned int message, int x, int y) override {
    LoggedAction a;
    a.kind = L"mouse";
    a.message = message;
    a.x = x;
    a.y = y;
    actions.push_back(a);
  }
  void writeKeyboard(unsigned int key) override {
    LoggedAction a;
    a.kind = L"keyboard";
    a.key = key;
    actions.push_back(a);
  }
  std::wstring sessionDirectory() override { return directory; }

  std::vector<LoggedMessage> messages;
  std::vector<LoggedAction> actions;
  std::wstring directory = L"logs\\2026-12-06\\session_1\\";

 private:
  void record(const char* source, int line, kelLogger::LogType type, int modifier, const HiResTimer* timer,
              const wchar_t* format, va_list args) {
    LoggedMessage m;
    m.source = source;
    m.line = line;
    m.type = type;
    m.modifier = modifier;
    m.timer = timer;
    m.format = format;
    m.text = formatForTest(format, args);
    messages.push_back(m);
  }
};

// Installs a sink for the lifetime of the scope and removes it afterwards.
class ScopedLogSink {
 public:
  explicit ScopedLogSink(kelLogger::LogSink* sink) { kelLogger::setLoggerCore(sink); }
  ~ScopedLogSink() { kelLogger::setLoggerCore(nullptr); }
  ScopedLogSink(const ScopedLogSink&) = delete;
  ScopedLogSink& operator=(const ScopedLogSink&) = delete;
};

}  // namespace mox::test
