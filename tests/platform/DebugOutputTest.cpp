#include "mox_utils/platform/DebugOutput.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// What outputDebugString writes to standard error in a child process.
std::string standardErrorOf(const wchar_t* text) {
  int pipes[2];
  if (pipe(pipes) != 0) return "<no pipe>";
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipes[1], STDERR_FILENO);
    mox::platform::outputDebugString(text);
    _exit(0);
  }
  close(pipes[1]);
  std::string out;
  char buffer[1024];
  ssize_t n;
  while ((n = read(pipes[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(pipes[0]);
  waitpid(child, nullptr, 0);
  return out;
}

TEST(DebugOutputTest, StandardErrorGetsUtf8) {
  std::string euros;
  for (int i = 0; i < 1000; ++i) euros += "\xE2\x82\xAC";
  struct Case {
    const char* name;
    std::wstring text;
    std::string expected;
  } cases[] = {
      {"ascii with line end", L"writing minidump\r\n", "writing minidump\r\n"},
      {"every UTF-8 length", L"A\u00e9\u20ac\U0001F600", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"lone surrogate", std::wstring(1, static_cast<wchar_t>(0xD800)), "\xEF\xBF\xBD"},
      // Longer than the writer's stack buffer, so it goes out in pieces.
      {"long text", std::wstring(1000, L'\u20ac'), euros},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(standardErrorOf(c.text.c_str()), c.expected);
  }
}

std::wstring* g_received = nullptr;
void receive(const wchar_t* text) { *g_received += text; }

TEST(DebugOutputTest, SinkReplacesStandardError) {
  std::wstring received;
  g_received = &received;
  const auto previous = mox::platform::setDebugOutputSink(&receive);
  mox::platform::outputDebugString(L"one ");
  mox::platform::outputDebugString(nullptr);
  mox::platform::outputDebugString(L"two");
  EXPECT_EQ(mox::platform::setDebugOutputSink(previous), &receive);
  EXPECT_EQ(received, L"one two");
  g_received = nullptr;
}

}  // namespace
