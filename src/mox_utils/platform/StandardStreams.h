// Redirection of the process's standard output and error into files
// (_wfreopen of stdout/stderr on Windows).
//
// The file descriptor under the stream is replaced (dup2), so everything the
// process writes to it - printf, std::cout, child processes - lands in the
// file, and a file that cannot be opened leaves the stream where it was
// instead of closing it.
#pragma once

#include <cstdio>
#include <string_view>

#include "mox_utils/export.h"

namespace mox::platform {

enum class StandardStream { kOutput, kError };

// Flushes the stream and points it at a file opened for reading and writing,
// created empty or truncated (mode "wt+"). Returns stdout or stderr, or null
// (stream unchanged) when the file cannot be opened.
MOX_API std::FILE* redirectStandardStream(StandardStream which, std::wstring_view path);
// Flushes the stream and points it at the null device, which closes the file
// it was redirected to while leaving the stream usable.
MOX_API void releaseStandardStream(StandardStream which);

}  // namespace mox::platform
