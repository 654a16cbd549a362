// Helpers shared by the cine tests: files and frames stamped with their ID so that a reader can check
// what it got.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/ScratchDir.h"

namespace cinetest {

namespace fs = std::filesystem;

using ScratchDir = mox::test::ScratchDir;

inline std::vector<unsigned char> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A frame whose every byte derives from `id` and its position, so that any
// mix-up of frames, offsets or partial copies shows.
inline std::vector<unsigned char> stampedFrame(std::size_t size, int id) {
  std::vector<unsigned char> frame(size);
  for (std::size_t i = 0; i < size; ++i) frame[i] = static_cast<unsigned char>(id * 31 + i * 7 + (i >> 8));
  return frame;
}

}  // namespace cinetest
