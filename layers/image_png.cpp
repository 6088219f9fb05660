// The PNG decoder: libpng reading from the file image in memory, rows straight into the layer.
#include <csetjmp>
#include <cstring>

#include <png.h>

#include "app/engine.h"
#include "layers/image_codecs.h"

namespace {

struct PngSource {
  const uint8_t* mData;
  size_t mSize;
  size_t mOffset;
};

// Reading past the end of the file image is a libpng error, so a truncated file fails the
// load instead of reading beyond the buffer.
void PngReadFromMemory(png_structp png, png_bytep dest, png_size_t length) {
  PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (length > source->mSize - source->mOffset) png_error(png, "read past the end of the file");
  memcpy(dest, source->mData + source->mOffset, length);
  source->mOffset += length;
}

void PngErrorExit(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Everything libpng touches between setjmp and longjmp lives in this record, so no local of
// the decoding function is left indeterminate by the jump.
struct PngDecode {
  png_structp mPng = nullptr;
  png_infop mInfo = nullptr;
  PngSource mSource{};
  uint8_t* mImage = nullptr;
  uint32_t mWidth = 0, mHeight = 0;
  int mReported = 0;
};

// 0 on success; 1 after a message of its own; 2 for a libpng error (reported by the caller).
int RunPngDecode(PngDecode* d, DecodeTarget* target) {
  if (setjmp(png_jmpbuf(d->mPng))) return 2;
  png_set_read_fn(d->mPng, &d->mSource, PngReadFromMemory);
  png_read_info(d->mPng, d->mInfo);
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(d->mPng, d->mInfo, &d->mWidth, &d->mHeight, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (d->mWidth > (uint32_t)MAX_IMAGE_SIDE || d->mHeight > (uint32_t)MAX_IMAGE_SIDE)
    return ReportScriptErrorF(100091, 1, target->mFileName), 1;

  bool hasTransparency = png_get_valid(d->mPng, d->mInfo, PNG_INFO_tRNS) != 0;
  if (colourType == PNG_COLOR_TYPE_PALETTE || (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) || hasTransparency)
    png_set_expand(d->mPng);
  if (bitDepth == 16) png_set_strip_16(d->mPng);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(d->mPng);
  png_set_bgr(d->mPng);
  if (colourType != PNG_COLOR_TYPE_GRAY_ALPHA && colourType != PNG_COLOR_TYPE_RGB_ALPHA)
    png_set_filler(d->mPng, 0xFF, PNG_FILLER_AFTER);
  double fileGamma = 0;
  if (png_get_gAMA(d->mPng, d->mInfo, &fileGamma)) png_set_gamma(d->mPng, (double)2.2f, fileGamma);
  int passes = png_set_interlace_handling(d->mPng);
  png_read_update_info(d->mPng, d->mInfo);
  if (png_get_rowbytes(d->mPng, d->mInfo) != (size_t)d->mWidth * 4) png_error(d->mPng, "unexpected row layout");

  d->mImage = AllocTargetImage(target, (int32_t)d->mWidth, (int32_t)d->mHeight);
  if (!d->mImage) return 1;
  // Transparency from a tRNS chunk is drawn like an alpha channel.
  target->mHasAlpha = colourType == PNG_COLOR_TYPE_GRAY_ALPHA || colourType == PNG_COLOR_TYPE_RGB_ALPHA || hasTransparency;
  for (int pass = 0; pass < passes; pass++)
    for (uint32_t y = 0; y < d->mHeight; y++) png_read_row(d->mPng, d->mImage + (size_t)y * d->mWidth * 4, nullptr);
  return 0;
}

}  // namespace

int DecodePngMemory(const uint8_t* data, size_t size, DecodeTarget* target) {
  PngDecode d;
  d.mSource = {data, size, 0};
  d.mPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorExit, PngWarning);
  if (d.mPng) d.mInfo = png_create_info_struct(d.mPng);
  if (!d.mInfo) {
    png_destroy_read_struct(d.mPng ? &d.mPng : nullptr, nullptr, nullptr);
    return ReportScriptErrorF(100200, 1, target->mFileName), 1;
  }
  int result = RunPngDecode(&d, target);
  png_destroy_read_struct(&d.mPng, &d.mInfo, nullptr);
  if (result == 2) ReportScriptErrorF(100200, 1, target->mFileName);
  return result;
}
