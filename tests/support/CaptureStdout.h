// Captures what the process writes to its standard output (file descriptor
// 1) between construction and text(), whatever writes it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace mox::test {

class CaptureStdout {
 public:
  CaptureStdout() {
    std::fflush(stdout);
    m_file = std::tmpfile();
    m_saved = dup(1);
    if (m_file != nullptr && m_saved >= 0) dup2(fileno(m_file), 1);
  }
  ~CaptureStdout() { restore(); }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;

  // Restores standard output and returns everything written meanwhile.
  std::string text() {
    restore();
    std::string out;
    if (m_file == nullptr) return out;
    std::rewind(m_file);
    char chunk[512];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0) out.append(chunk, n);
    return out;
  }

 private:
  void restore() {
    if (m_saved < 0) return;
    std::fflush(stdout);
    dup2(m_saved, 1);
    close(m_saved);
    m_saved = -1;
  }

  std::FILE* m_file = nullptr;
  int m_saved = -1;
};

}  // namespace mox::test
