// 8-bit grayscale PNG pictures of frames, for the tool's cine and demo
// commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mox::tool {

struct GrayImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<unsigned char> pixels;  // row after row, width bytes each
};

// Writes width x height 8-bit gray pixels (rows of `width` bytes) as a PNG.
// The file is written under a temporary name and renamed into place, so a
// failure leaves no partial picture. False with a one-line reason.
bool writeGrayPng(const std::string& path, const unsigned char* pixels, std::uint32_t width, std::uint32_t height,
                  std::string* error);

// Reads a grayscale PNG (any bit depth, alpha dropped) as 8-bit gray pixels.
// Colour pictures, damaged files and pictures of more than maxPixels pixels
// are refused with a one-line reason; *image is untouched on failure.
bool readGrayPng(const std::string& path, GrayImage* image, std::string* error,
                 std::uint64_t maxPixels = std::uint64_t{1} << 28);

}  // namespace mox::tool
