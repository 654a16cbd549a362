// Files and directories named by Windows-style paths. The library keeps the
// paths of its interface in Windows form; every function here reads '\' as
// '/' and the text as UTF-8 on disk, so the same strings open files on Linux.
// Drive letters are not mapped. No function throws; failures are results.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace mox::platform {

// The native (UTF-8, '/'-separated) form of a Windows-style wide path.
MOX_API std::string nativePath(std::wstring_view path);
MOX_API std::string nativePath(std::string_view path);

// fopen of the native path; null on failure (errno set).
MOX_API std::FILE* openFile(std::wstring_view path, const char* mode);

MOX_API bool fileExists(std::wstring_view path);       // a regular file
MOX_API bool directoryExists(std::wstring_view path);  // a directory
// CreateDirectoryW: one level; false when it exists already or the parent is
// missing.
MOX_API bool createDirectory(std::wstring_view path);
// Every missing level; true when the directory exists afterwards.
MOX_API bool createDirectories(std::wstring_view path);
MOX_API bool removeFile(std::wstring_view path);
// Deletes a directory with everything in it; true when nothing is left.
MOX_API bool removeTree(std::wstring_view path);
// Replaces `to` atomically when both lie on one file system.
MOX_API bool renameFile(std::wstring_view from, std::wstring_view to);

struct DirectoryEntry {
  std::wstring name;  // the entry's name only
  bool isDirectory = false;
};
// The entries of a directory except "." and "..", in no particular order.
// False when the directory cannot be read.
MOX_API bool listDirectory(std::wstring_view path, std::vector<DirectoryEntry>* entries);

// Creation time as a UTC FILETIME: the birth time where the file system keeps
// it (statx), else the modification time.
MOX_API bool creationTime(std::wstring_view path, FILETIME* out);

// Reads a whole file; false when it cannot be opened or read, or is larger
// than maxBytes (then *out is untouched).
MOX_API bool readWholeFile(std::wstring_view path, std::string* out, std::uint64_t maxBytes = UINT64_MAX);

// Writes data under a temporary name beside `path`, flushes it to disk and
// renames it over `path`, so that a crash leaves either the old file or the
// new one, never half a file. The temporary is removed on failure.
MOX_API bool writeFileAtomically(std::wstring_view path, const void* data, std::size_t size);

// A temporary file beside `path` for callers that stream large files: open()
// creates it, commit() flushes, closes and renames it over `path`, and the
// destructor removes it when commit() was not reached.
class MOX_API AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool open(std::wstring_view path);
  std::FILE* stream() const { return m_stream; }
  bool write(const void* data, std::size_t size);
  bool commit();

 private:
  std::string m_target;
  std::string m_temp;
  std::FILE* m_stream = nullptr;
  bool m_failed = false;
};

// PathFindFileNameA: the text after the last '\\', '/' or ':' that is
// followed by a character other than '\0', '\\' and '/'; the whole path when
// there is none ("C:\\work\\src\\" gives "src\\", "C:\\" gives "C:\\").
MOX_API const char* pathFindFileNameA(const char* path);
// PathIsRelativeW: false for "X:" drive paths, "\..." and "\\server" paths and
// (on Linux) paths that start with '/'; true otherwise, including "".
MOX_API bool pathIsRelativeW(const wchar_t* path);

}  // namespace mox::platform
