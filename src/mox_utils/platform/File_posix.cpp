#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"

namespace fs = std::filesystem;

namespace mox::platform {

namespace {

fs::path toFs(std::wstring_view path) { return fs::path(nativePath(path)); }

std::string tempNameFor(const std::string& target) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp%d.%08llx", static_cast<int>(getpid()),
                static_cast<unsigned long long>(rng() & 0xFFFFFFFFULL));
  return target + suffix;
}

}  // namespace

std::string nativePath(std::wstring_view path) {
  std::string out = wideToUtf8(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string nativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::FILE* openFile(std::wstring_view path, const char* mode) {
  const std::string native = nativePath(path);
  if (native.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return std::fopen(native.c_str(), mode);
}

bool fileExists(std::wstring_view path) {
  std::error_code ec;
  return fs::is_regular_file(toFs(path), ec);
}

bool directoryExists(std::wstring_view path) {
  std::error_code ec;
  return fs::is_directory(toFs(path), ec);
}

bool createDirectory(std::wstring_view path) {
  const std::string native = nativePath(path);
  return !native.empty() && ::mkdir(native.c_str(), 0777) == 0;
}

bool createDirectories(std::wstring_view path) {
  std::error_code ec;
  const fs::path p = toFs(path);
  if (p.empty()) return false;
  fs::create_directories(p, ec);
  return fs::is_directory(p, ec);
}

bool removeFile(std::wstring_view path) {
  const std::string native = nativePath(path);
  return !native.empty() && ::unlink(native.c_str()) == 0;
}

bool removeTree(std::wstring_view path) {
  std::error_code ec;
  const fs::path p = toFs(path);
  if (p.empty()) return false;
  fs::remove_all(p, ec);
  return !ec && !fs::exists(fs::symlink_status(p, ec));
}

bool renameFile(std::wstring_view from, std::wstring_view to) {
  return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
}

bool listDirectory(std::wstring_view path, std::vector<DirectoryEntry>* entries) {
  std::error_code ec;
  fs::directory_iterator it(toFs(path), ec);
  if (ec) return false;
  std::vector<DirectoryEntry> result;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    DirectoryEntry entry;
    entry.name = utf8ToWide(it->path().filename().string());
    std::error_code typeEc;
    entry.isDirectory = it->is_directory(typeEc);
    result.push_back(std::move(entry));
  }
  if (ec) return false;
  *entries = std::move(result);
  return true;
}

bool creationTime(std::wstring_view path, FILETIME* out) {
  const std::string native = nativePath(path);
  struct statx sx;
  if (::statx(AT_FDCWD, native.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return false;
  const struct statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  *out = makeFileTime(kUnixEpochAsFileTime + static_cast<std::uint64_t>(t.tv_sec) * 10000000ULL + t.tv_nsec / 100);
  return true;
}

bool readWholeFile(std::wstring_view path, std::string* out, std::uint64_t maxBytes) {
  const std::string native = nativePath(path);
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return false;
  }
  std::string data;
  try {
    data.resize(static_cast<std::size_t>(st.st_size));
  } catch (...) {
    ::close(fd);
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(fd, &data[done], data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank: keep what was read
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  data.resize(done);
  *out = std::move(data);
  return true;
}

AtomicFile::~AtomicFile() {
  if (m_stream != nullptr) {
    std::fclose(m_stream);
    ::unlink(m_temp.c_str());
  }
}

bool AtomicFile::open(std::wstring_view path) {
  if (m_stream != nullptr) return false;
  m_target = nativePath(path);
  if (m_target.empty()) return false;
  m_temp = tempNameFor(m_target);
  const int fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  m_stream = ::fdopen(fd, "wb");
  if (m_stream == nullptr) {
    ::close(fd);
    ::unlink(m_temp.c_str());
    return false;
  }
  m_failed = false;
  return true;
}

bool AtomicFile::write(const void* data, std::size_t size) {
  if (m_stream == nullptr) return false;
  if (size != 0 && std::fwrite(data, 1, size, m_stream) != size) m_failed = true;
  return !m_failed;
}

bool AtomicFile::commit() {
  if (m_stream == nullptr) return false;
  bool ok = !m_failed && std::fflush(m_stream) == 0 && ::fsync(fileno(m_stream)) == 0;
  ok = std::fclose(m_stream) == 0 && ok;
  m_stream = nullptr;
  if (ok) ok = ::rename(m_temp.c_str(), m_target.c_str()) == 0;
  if (!ok) ::unlink(m_temp.c_str());
  return ok;
}

bool writeFileAtomically(std::wstring_view path, const void* data, std::size_t size) {
  AtomicFile file;
  return file.open(path) && file.write(data, size) && file.commit();
}

const char* pathFindFileNameA(const char* path) {
  if (path == nullptr) return nullptr;
  // Every log call site runs this on its source path, so it scans back from
  // the end (strlen is vectorised) over the file name only. A separator counts
  // only when a name follows it: "C:\\" and "dir\\" stay whole, and of a
  // doubled separator only the second one counts.
  const std::size_t length = std::strlen(path);
  for (std::size_t i = length < 2 ? 0 : length - 1; i-- > 0;) {
    const char c = path[i];
    const char next = path[i + 1];
    if ((c == '\\' || c == '/' || c == ':') && next != '\\' && next != '/') return path + i + 1;
  }
  return path;
}

bool pathIsRelativeW(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return true;
  if (path[0] == L'\\' || path[0] == L'/') return false;
  if (path[1] == L':') return false;
  return true;
}

}  // namespace mox::platform
