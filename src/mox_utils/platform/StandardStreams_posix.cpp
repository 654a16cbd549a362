#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/StandardStreams.h"

namespace mox::platform {

namespace {

bool replaceDescriptor(StandardStream which, int fd) {
  std::FILE* stream = which == StandardStream::kOutput ? stdout : stderr;
  std::fflush(stream);
  const int target = which == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  int result;
  do {
    result = dup2(fd, target);
  } while (result < 0 && errno == EINTR);
  close(fd);
  clearerr(stream);
  return result >= 0;
}

}  // namespace

std::FILE* redirectStandardStream(StandardStream which, std::wstring_view path) {
  const std::string native = nativePath(path);
  const int fd = open(native.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  if (!replaceDescriptor(which, fd)) return nullptr;
  return which == StandardStream::kOutput ? stdout : stderr;
}

void releaseStandardStream(StandardStream which) {
  const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd >= 0) replaceDescriptor(which, fd);
}

}  // namespace mox::platform
