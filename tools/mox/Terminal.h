// What the tool prints to the user: errors as one line on standard error,
// progress only when standard error is a terminal. The logger takes over the
// process's standard streams, so the tool writes through duplicates of the
// original descriptors taken at start-up.
#pragma once

#include <cstdio>
#include <string>

namespace mox::tool {

// Duplicates the standard output and error descriptors; call once at start.
void initTerminal();
std::FILE* userOut();
std::FILE* userErr();

// "mox: <message>" on the user's standard error; returns 1 for `return fail(...)`.
int fail(const std::string& message);

// A progress line "label: done/total" redrawn in place on a terminal; silent
// otherwise.
class Progress {
 public:
  Progress(std::string label, std::size_t total);
  ~Progress();
  void update(std::size_t done);

 private:
  std::string m_label;
  std::size_t m_total;
  bool m_active;
};

}  // namespace mox::tool
