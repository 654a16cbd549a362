#include "Png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"

namespace mox::tool {

namespace {

// libpng reports errors by calling this and never returning; the message is
// kept for the caller and control goes back to the setjmp of the operation.
struct ErrorState {
  char message[200] = "";
};

void onError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Only plain data lives in the frames between setjmp and a longjmp, so
// skipping their destructors loses nothing.
bool encode(std::FILE* file, const unsigned char* pixels, std::uint32_t width, std::uint32_t height,
            ErrorState* state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, onError, onWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, 3);  // frames are speckle: higher levels gain little
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, pixels + std::size_t{y} * width);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

bool decodeHeader(ReadStructs* s, std::FILE* file, std::uint32_t* width, std::uint32_t* height, int* colorType) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_init_io(s->png, file);
  png_set_user_limits(s->png, 0x10000, 0x10000);
  png_read_info(s->png, s->info);
  *width = png_get_image_width(s->png, s->info);
  *height = png_get_image_height(s->png, s->info);
  *colorType = png_get_color_type(s->png, s->info);
  if ((*colorType & PNG_COLOR_MASK_COLOR) != 0) return true;  // refused by the caller
  if (png_get_bit_depth(s->png, s->info) < 8) png_set_expand_gray_1_2_4_to_8(s->png);
  png_set_strip_16(s->png);
  png_set_strip_alpha(s->png);
  png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  return true;
}

bool decodeRows(ReadStructs* s, png_bytepp rows) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_read_image(s->png, rows);
  png_read_end(s->png, nullptr);
  return true;
}

}  // namespace

bool writeGrayPng(const std::string& path, const unsigned char* pixels, std::uint32_t width, std::uint32_t height,
                  std::string* error) {
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
    *error = "cannot write " + path + ": a picture needs a size of 1 to 2^31 - 1 pixels each way";
    return false;
  }
  mox::platform::AtomicFile file;
  if (!file.open(mox::platform::utf8ToWide(path))) {
    *error = "cannot create " + path;
    return false;
  }
  ErrorState state;
  if (!encode(file.stream(), pixels, width, height, &state)) {
    *error = "cannot write " + path + (state.message[0] != '\0' ? std::string(": ") + state.message : "");
    return false;
  }
  if (!file.commit()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool readGrayPng(const std::string& path, GrayImage* image, std::string* error, std::uint64_t maxPixels) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      mox::platform::fileExists(mox::platform::utf8ToWide(path))
          ? mox::platform::openFile(mox::platform::utf8ToWide(path), "rb")
          : nullptr,
      &std::fclose);
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  ErrorState state;
  ReadStructs s;
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
  if (s.png != nullptr) s.info = png_create_info_struct(s.png);
  if (s.png == nullptr || s.info == nullptr) {
    *error = "cannot read " + path + ": out of memory";
    return false;
  }
  std::uint32_t width = 0, height = 0;
  int colorType = 0;
  auto failed = [&](const std::string& why) {
    *error = path + ": " + (state.message[0] != '\0' ? std::string(state.message) : why);
    return false;
  };
  if (!decodeHeader(&s, file.get(), &width, &height, &colorType)) return failed("not a PNG picture");
  if ((colorType & PNG_COLOR_MASK_COLOR) != 0) return failed("not a grayscale picture");
  if (std::uint64_t{width} * height > maxPixels) return failed("picture too large");
  if (png_get_rowbytes(s.png, s.info) != width) return failed("unsupported pixel format");
  GrayImage decoded;
  std::vector<png_bytep> rows;
  try {
    decoded.pixels.resize(std::size_t{width} * height);
    rows.resize(height);
  } catch (...) {
    return failed("out of memory");
  }
  for (std::uint32_t y = 0; y < height; ++y) rows[y] = decoded.pixels.data() + std::size_t{y} * width;
  if (!decodeRows(&s, rows.data())) return failed("damaged picture");
  decoded.width = width;
  decoded.height = height;
  *image = std::move(decoded);
  return true;
}

}  // namespace mox::tool
