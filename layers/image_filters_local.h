// Helpers shared by the filter files: walking a rectangle of a source image alongside a
// rectangle-sized result, and the clamps that keep huge script values from overflowing.
#pragma once

#include <cstddef>
#include <cstdint>

// Calls f(result pixel, source pixel) for every pixel of the inclusive rectangle, row by row,
// the result being dstWidth pixels wide with the rectangle's top-left at its (0, 0).
template <typename F>
void ForEachRectPixel(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1, int32_t srcWidth, int32_t dstWidth, F f) {
  for (int32_t y = y0; y <= y1; y++) {
    const uint8_t* s = src + (size_t(y) * size_t(srcWidth) + size_t(x0)) * 4;
    uint8_t* d = dst + size_t(y - y0) * size_t(dstWidth) * 4;
    for (int32_t x = x0; x <= x1; x++, s += 4, d += 4) f(d, s);
  }
}

inline uint8_t ClampToByte(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

inline int64_t ClampWide(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

inline uint8_t* PixelAddress(uint8_t* image, int32_t width, int32_t x, int32_t y) {
  return image + (size_t(y) * size_t(width) + size_t(x)) * 4;
}
inline const uint8_t* PixelAddress(const uint8_t* image, int32_t width, int32_t x, int32_t y) {
  return image + (size_t(y) * size_t(width) + size_t(x)) * 4;
}
