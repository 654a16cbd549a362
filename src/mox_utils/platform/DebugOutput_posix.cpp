#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "mox_utils/platform/DebugOutput.h"

namespace mox::platform {

namespace {

std::atomic<DebugOutputSink> g_sink{nullptr};

// Appends the UTF-8 form of one code point; an invalid one becomes U+FFFD.
// Signal-safe.
std::size_t encodeUtf8(wchar_t wc, char* out) {
  auto cp = static_cast<std::uint32_t>(wc);
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// Signal-safe.
void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

DebugOutputSink setDebugOutputSink(DebugOutputSink sink) { return g_sink.exchange(sink); }

// Signal-safe when the sink is: the text is converted in a small buffer on
// the stack, nothing is allocated, and errno is kept for the caller.
void outputDebugString(const wchar_t* text) {
  if (text == nullptr) return;
  if (DebugOutputSink sink = g_sink.load()) {
    sink(text);
    return;
  }
  const int savedErrno = errno;
  char buffer[256];
  std::size_t used = 0;
  for (const wchar_t* p = text; *p != 0; ++p) {
    if (used + 4 > sizeof buffer) {
      writeAll(STDERR_FILENO, buffer, used);
      used = 0;
    }
    used += encodeUtf8(*p, buffer + used);
  }
  writeAll(STDERR_FILENO, buffer, used);
  errno = savedErrno;
}

}  // namespace mox::platform
