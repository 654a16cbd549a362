#include "Terminal.h"

#include <unistd.h>

namespace mox::tool {

namespace {
std::FILE* g_out = nullptr;
std::FILE* g_err = nullptr;
}  // namespace

void initTerminal() {
  const int out = ::dup(STDOUT_FILENO);
  const int err = ::dup(STDERR_FILENO);
  g_out = out >= 0 ? ::fdopen(out, "w") : nullptr;
  g_err = err >= 0 ? ::fdopen(err, "w") : nullptr;
  if (g_err != nullptr) std::setvbuf(g_err, nullptr, _IONBF, 0);
}

std::FILE* userOut() { return g_out != nullptr ? g_out : stdout; }
std::FILE* userErr() { return g_err != nullptr ? g_err : stderr; }

int fail(const std::string& message) {
  std::fprintf(userErr(), "mox: %s\n", message.c_str());
  return 1;
}

Progress::Progress(std::string label, std::size_t total)
    : m_label(std::move(label)), m_total(total), m_active(::isatty(fileno(userErr())) != 0) {}

Progress::~Progress() {
  if (m_active) std::fprintf(userErr(), "\r\033[K");
}

void Progress::update(std::size_t done) {
  if (m_active) std::fprintf(userErr(), "\r%s: %zu/%zu", m_label.c_str(), done, m_total);
}

}  // namespace mox::tool
