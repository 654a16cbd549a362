#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "mox_utils/platform/MonitorSize.h"

namespace mox::platform {

namespace {

// Width and height packed in one word so that a reader never sees half of a
// change; bit 63 says whether a size is set.
std::atomic<std::uint64_t> g_setSize{0};
constexpr std::uint64_t kSetFlag = 1ULL << 63;

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  return line;
}

}  // namespace

MonitorSize drmMonitorSize(const std::string& drmDirectory) {
  std::error_code ec;
  std::vector<std::filesystem::path> connectors;
  for (std::filesystem::directory_iterator it(drmDirectory, ec), end; !ec && it != end; it.increment(ec)) {
    if (std::filesystem::exists(it->path() / "status", ec)) connectors.push_back(it->path());
  }
  std::sort(connectors.begin(), connectors.end());
  for (const auto& connector : connectors) {
    if (firstLine(connector / "status") != "connected") continue;
    // The kernel lists the preferred mode first.
    const std::string mode = firstLine(connector / "modes");
    int width = 0, height = 0;
    if (std::sscanf(mode.c_str(), "%dx%d", &width, &height) == 2 && width > 0 && height > 0) return {width, height};
  }
  return {};
}

MonitorSize monitorSize() {
  const std::uint64_t set = g_setSize.load(std::memory_order_acquire);
  if ((set & kSetFlag) != 0) {
    return {static_cast<int>(static_cast<std::uint32_t>(set) & 0x7FFFFFFF),
            static_cast<int>(static_cast<std::uint32_t>(set >> 32) & 0x7FFFFFFF)};
  }
  return drmMonitorSize("/sys/class/drm");
}

void setMonitorSize(int width, int height) {
  const auto w = static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::max(width, 0)));
  const auto h = static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::max(height, 0)));
  g_setSize.store(kSetFlag | (h << 32) | w, std::memory_order_release);
}

void clearMonitorSize() { g_setSize.store(0, std::memory_order_release); }

}  // namespace mox::platform
