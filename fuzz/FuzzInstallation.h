// A scratch installation directory for fuzz targets that read their input
// through a file, as the library does: created once per process, with the
// input written to one file in it for each run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"

namespace mox::fuzz {

inline const std::wstring& installationRoot() {
  // Removed again when the process ends.
  struct Directory {
    Directory() {
      std::error_code ec;
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path(ec) / ("mox_fuzz_" + std::to_string(std::random_device()()));
      std::filesystem::create_directories(dir / "settings", ec);
      root = mox::platform::utf8ToWide(dir.string());
    }
    ~Directory() { mox::platform::removeTree(root); }
    std::wstring root;
  };
  static const Directory directory;
  return directory.root;
}

// Writes the input as `relative` (Windows form) below the root. A plain
// write of a new file: flushing to disk on every run, or truncating the old
// file (which makes ext4 flush on close), would cost most of the time.
inline void writeInput(const std::wstring& relative, const std::uint8_t* data, std::size_t size) {
  const std::wstring path = installationRoot() + L"\\" + relative;
  mox::platform::removeFile(path);
  std::FILE* file = mox::platform::openFile(path, "wb");
  if (file == nullptr) return;
  if (size != 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace mox::fuzz
