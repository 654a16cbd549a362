// Real ultrasound frames for the codec tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mox::test {

inline std::filesystem::path ultrasoundDir() {
#ifdef MOX_SHARED_DATA_DIR
  std::filesystem::path configured = std::filesystem::path(MOX_SHARED_DATA_DIR) / "ultrasound";
  if (std::filesystem::is_directory(configured)) return configured;
#endif
  return "/work/shared/data/ultrasound";
}

inline std::vector<unsigned char> readFrame(const std::string& name) {
  std::ifstream in(ultrasoundDir() / name, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every .gray file whose name starts with `prefix`, sorted by name.
inline std::vector<std::string> frameNames(const std::string& prefix = "") {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ultrasoundDir(), ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".gray" && name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace mox::test
