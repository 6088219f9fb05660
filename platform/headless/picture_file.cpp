// Writes a headless window's picture as a PNG file, the screenshots of a scripted run.
#include <png.h>

#include <vector>

#include "platform/headless/headless_local.h"

bool HeadlessWritePicture(const std::string& path, const uint8_t* bgra, int width, int height, std::string* why) {
  if (width <= 0 || height <= 0) return *why = "the window shows no picture", false;
  // The window is seen opaque, whatever its pixels' fourth byte holds.
  std::vector<uint8_t> rgb((size_t)width * height * 3);
  for (size_t i = 0, n = (size_t)width * height; i < n; i++) {
    rgb[i * 3] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4];
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = (png_uint_32)width;
  image.height = (png_uint_32)height;
  image.format = PNG_FORMAT_RGB;
  bool ok = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
  if (!ok) *why = image.message;
  png_image_free(&image);
  return ok;
}
