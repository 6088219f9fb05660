// The PNG writer: 8-bit RGBA through libpng, every filter tried, the caller's level, gAMA 1/2.2.
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "platform/platform.h"

namespace {

void PngWriteToFile(png_structp png, png_bytep data, png_size_t length) {
  if (PlatFileWrite(static_cast<PlatFile*>(png_get_io_ptr(png)), data, length) != length)
    png_error(png, "write failed");
}
void PngFlush(png_structp) {}
void PngErrorExit(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// What must survive a jump back to the recovery point.
struct PngWrite {
  png_structp mPng = nullptr;
  png_infop mInfo = nullptr;
  uint8_t* mRow = nullptr;
};

bool RunPngWrite(PngWrite* w, PlatFile* f, const uint8_t* pixels, int32_t width, int32_t height, bool hasAlpha,
                 int level) {
  if (setjmp(png_jmpbuf(w->mPng))) return false;
  png_set_write_fn(w->mPng, f, PngWriteToFile, PngFlush);
  png_set_filter(w->mPng, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  png_set_compression_level(w->mPng, level);
  png_set_IHDR(w->mPng, w->mInfo, (uint32_t)width, (uint32_t)height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA(w->mPng, w->mInfo, 1 / 2.2);
  png_write_info(w->mPng, w->mInfo);
  png_set_bgr(w->mPng);
  size_t rowBytes = (size_t)width * 4;
  // An image without alpha is written opaque through a row copy; the caller's pixels are
  // never changed here.
  if (!hasAlpha) w->mRow = static_cast<uint8_t*>(malloc(rowBytes ? rowBytes : 1));
  if (!hasAlpha && !w->mRow) png_error(w->mPng, "out of memory");
  for (int32_t y = 0; y < height; y++) {
    const uint8_t* src = pixels + (size_t)y * rowBytes;
    if (hasAlpha) {
      // libpng copies the row before it transforms it.
      png_write_row(w->mPng, const_cast<uint8_t*>(src));
      continue;
    }
    memcpy(w->mRow, src, rowBytes);
    for (size_t x = 3; x < rowBytes; x += 4) w->mRow[x] = 255;
    png_write_row(w->mPng, w->mRow);
  }
  png_write_end(w->mPng, nullptr);
  return true;
}

}  // namespace

int WritePngFile(const std::string& realPath, const uint8_t* pixels, int32_t width, int32_t height, bool hasAlpha,
                 int level) {
  PlatFile* f = BeginImageFile(realPath);
  if (!f) return -1;
  PngWrite w;
  w.mPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorExit, PngWarning);
  if (w.mPng) w.mInfo = png_create_info_struct(w.mPng);
  if (!w.mInfo) {
    png_destroy_write_struct(w.mPng ? &w.mPng : nullptr, nullptr);
    return FinishImageFile(f, realPath, false), -1;
  }
  bool ok = RunPngWrite(&w, f, pixels, width, height, hasAlpha, level);
  png_destroy_write_struct(&w.mPng, &w.mInfo);
  free(w.mRow);
  return FinishImageFile(f, realPath, ok);
}

int SaveImagePng(LayerRecord* record, const char* path, int level) {
  if (!record->mPixels) return -1;
  int result = WritePngFile(GameWritePath(g_ExeFolderReal, path), record->mPixels, record->mWidth, record->mHeight,
                            record->mHasAlpha != 0, level);
  if (result != 0) return result;
  // A layer that does not use its alpha is opaque in memory too once it is saved.
  if (!record->mHasAlpha) {
    size_t bytes = (size_t)record->mWidth * record->mHeight * 4;
    for (size_t i = 3; i < bytes; i += 4) record->mPixels[i] = 255;
  }
  return g_QuitFlag ? 1 : 0;
}
