// The BMP decoder: uncompressed 1, 4, 8, 24 and 32-bit bottom-up bitmaps.
#include <cstring>

#include "app/engine.h"
#include "layers/image_codecs.h"

namespace {

constexpr size_t FILE_HEADER_BYTES = 14;
constexpr size_t INFO_HEADER_BYTES = 40;

struct BmpHeaders {
  uint16_t mType;
  uint32_t mPixelOffset;
  uint32_t mInfoSize;
  int32_t mWidth, mHeight;
  uint16_t mBitCount;
  uint32_t mCompression;
  uint32_t mColoursUsed;
};

void ReadHeaders(const uint8_t* p, BmpHeaders* h) {
  h->mType = ReadLe16(p);
  h->mPixelOffset = ReadLe32(p + 10);
  h->mInfoSize = ReadLe32(p + 14);
  h->mWidth = (int32_t)ReadLe32(p + 18);
  h->mHeight = (int32_t)ReadLe32(p + 22);
  h->mBitCount = ReadLe16(p + 28);
  h->mCompression = ReadLe32(p + 30);
  h->mColoursUsed = ReadLe32(p + 46);
}

// A palette of `entries` slots: every slot opaque black, the first `count` ORed with the
// file's B, G, R, reserved entries, so indexes beyond the file's table stay opaque black.
void BuildPalette(uint32_t* table, int entries, const uint8_t* colours, uint32_t count) {
  for (int i = 0; i < entries; i++) table[i] = 0xFF000000u;
  for (uint32_t i = 0; i < count && i < (uint32_t)entries; i++) table[i] |= ReadLe32(colours + 4 * i);
}

void PutPixel(uint8_t* dest, uint32_t colour) {
  dest[0] = (uint8_t)colour;
  dest[1] = (uint8_t)(colour >> 8);
  dest[2] = (uint8_t)(colour >> 16);
  dest[3] = (uint8_t)(colour >> 24);
}

}  // namespace

int DecodeBmpMemory(const uint8_t* data, size_t size, DecodeTarget* target) {
  const char* name = target->mFileName;
  if (size < FILE_HEADER_BYTES + INFO_HEADER_BYTES || ReadLe16(data) != 0x4D42)
    return ReportScriptErrorF(100070, 1, name), -1;
  BmpHeaders h;
  ReadHeaders(data, &h);
  if (h.mPixelOffset <= 10) return ReportScriptErrorF(100080, 1, name), -1;
  if (h.mWidth > MAX_IMAGE_SIDE || h.mHeight > MAX_IMAGE_SIDE || h.mWidth <= 0 || h.mHeight == 0)
    return ReportScriptErrorF(100091, 1, name), -1;
  if (h.mHeight < 0) return ReportScriptErrorF(100092, 1, name), -1;
  int bits = h.mBitCount;
  if ((bits == 8 || bits == 4) && h.mCompression != 0) return ReportErrorF(100090, 1, name), -1;

  int64_t width = h.mWidth, height = h.mHeight;
  int64_t stride = 0;
  int paletteEntries = 0;
  switch (bits) {
    case 32: stride = width * 4; break;
    case 24: stride = (3 * width + 3) & ~3LL; break;
    case 8: stride = (width + 3) & ~3LL, paletteEntries = 256; break;
    case 4: stride = ((width + 7) >> 3) * 4, paletteEntries = 16; break;
    case 1: stride = ((width + 31) >> 5) * 4, paletteEntries = 2; break;
    default:
      // Bit counts without a decoder still need their rows in the file (at least a bit a
      // pixel), so a few header bytes cannot stand for a picture of any size.
      stride = ((width * (bits > 0 ? bits : 1) + 31) >> 5) * 4;
      break;
  }
  // The colour table follows the info header, whatever that header's size; a table or rows
  // reaching past the end of the file fail the load rather than read beyond it.
  uint64_t tableStart = FILE_HEADER_BYTES + (uint64_t)(h.mInfoSize < INFO_HEADER_BYTES ? INFO_HEADER_BYTES : h.mInfoSize);
  uint32_t colourCount = h.mColoursUsed ? h.mColoursUsed : (bits < 32 ? 1u << bits : 0);
  if (colourCount > (uint32_t)paletteEntries) colourCount = paletteEntries;
  if (paletteEntries && tableStart + 4ull * colourCount > size) return ReportScriptErrorF(104010, 1, name), -1;
  if ((uint64_t)h.mPixelOffset + (uint64_t)(stride * height) > size) return ReportScriptErrorF(104010, 1, name), -1;

  uint8_t* image = AllocTargetImage(target, h.mWidth, h.mHeight);
  if (!image) return -1;
  uint32_t palette[256];
  if (paletteEntries) BuildPalette(palette, paletteEntries, data + tableStart, colourCount);
  const uint8_t* pixels = data + h.mPixelOffset;
  for (int64_t r = 0; r < height; r++) {
    const uint8_t* src = pixels + r * stride;
    uint8_t* dest = image + (height - 1 - r) * width * 4;
    switch (bits) {
      case 32: memcpy(dest, src, width * 4); break;
      case 24:
        for (int64_t x = 0; x < width; x++, src += 3, dest += 4)
          dest[0] = src[0], dest[1] = src[1], dest[2] = src[2], dest[3] = 255;
        break;
      case 8:
        for (int64_t x = 0; x < width; x++) PutPixel(dest + 4 * x, palette[src[x]]);
        break;
      case 4:
        for (int64_t x = 0; x < width; x++) PutPixel(dest + 4 * x, palette[(src[x >> 1] >> (x & 1 ? 0 : 4)) & 15]);
        break;
      case 1:
        for (int64_t x = 0; x < width; x++) PutPixel(dest + 4 * x, palette[(src[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
      default:
        // Bit counts without a decoder leave a defined, fully transparent image.
        memset(dest, 0, width * 4);
        break;
    }
  }
  target->mHasAlpha = bits == 32;
  return 0;
}
