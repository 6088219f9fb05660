// The colour filters of the effect engine: brightness, threshold, negative, colour balance,
// saturation, sepia and the rectangle fills.
#include <cstring>

#include "layers/image_filters.h"
#include "layers/image_filters_local.h"

int FilterBrightness(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t a) {
  // Any strength past +-255 from neutral saturates every channel the same way.
  int32_t shift = int32_t(ClampWide(a, -1000, 1000)) - 128;
  uint8_t table[256];
  for (int32_t i = 0; i < 256; i++) table[i] = ClampToByte(i + shift);
  ForEachRectPixel(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, [&](uint8_t* d, const uint8_t* s) {
    uint8_t b = table[s[0]], g = table[s[1]], r = table[s[2]], alpha = s[3];
    d[0] = b; d[1] = g; d[2] = r; d[3] = alpha;
  });
  return 0;
}

int FilterNegative(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                   int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t) {
  ForEachRectPixel(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, [](uint8_t* d, const uint8_t* s) {
    uint8_t b = uint8_t(255 - s[0]), g = uint8_t(255 - s[1]), r = uint8_t(255 - s[2]), alpha = s[3];
    d[0] = b; d[1] = g; d[2] = r; d[3] = alpha;
  });
  return 0;
}

int FilterColourBalance(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                        int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t,
                        int64_t colour) {
  // One table per channel in pixel byte order: B from bits 0-7, G 8-15, R 16-23.
  uint8_t tables[3][256];
  for (int c = 0; c < 3; c++) {
    int32_t v = int32_t((uint64_t(colour) >> (8 * c)) & 0xFF);
    int32_t up = v > 128 ? v - 128 : 0;
    int32_t down = v < 128 ? 128 - v : 0;
    for (int32_t i = 0; i < 256; i++)
      tables[c][i] = ClampToByte(i + (((255 - i) * up) >> 7) - ((i * down) >> 7));
  }
  ForEachRectPixel(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, [&](uint8_t* d, const uint8_t* s) {
    uint8_t b = tables[0][s[0]], g = tables[1][s[1]], r = tables[2][s[2]], alpha = s[3];
    d[0] = b; d[1] = g; d[2] = r; d[3] = alpha;
  });
  return 0;
}

int FilterSaturation(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t a) {
  int32_t saturation = int32_t(ClampWide(a, 0, 256));
  uint8_t grey[766];   // (B + G + R) / 3 for every sum
  for (int32_t i = 0; i < 766; i++) grey[i] = uint8_t(i / 3);
  ForEachRectPixel(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, [&](uint8_t* d, const uint8_t* s) {
    int32_t c[3] = {s[0], s[1], s[2]};
    uint8_t alpha = s[3];
    int32_t m = grey[c[0] + c[1] + c[2]];
    if (saturation < 128) {
      int32_t k = 128 - saturation;
      for (int i = 0; i < 3; i++) d[i] = uint8_t(c[i] + (((m - c[i]) * k) >> 7));
    } else {
      // Away from grey only as far as every channel's range allows, so the hue survives.
      int32_t f = saturation - 128;
      for (int i = 0; i < 3; i++) {
        int32_t e = c[i] - m;
        int32_t moved = c[i] + ((f * e) >> 7);
        if (moved > 255) {
          int32_t limit = ((255 - c[i]) * 128) / e;
          if (limit < f) f = limit;
        } else if (moved < 0) {
          int32_t limit = (-c[i] * 128) / e;
          if (limit < f) f = limit;
        }
      }
      for (int i = 0; i < 3; i++) d[i] = ClampToByte(c[i] + (((c[i] - m) * f) >> 7));
    }
    d[3] = alpha;
  });
  return 0;
}

int FilterSepia(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t) {
  ForEachRectPixel(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, [](uint8_t* d, const uint8_t* s) {
    // The grey level in 1/2^20, tinted: blue lowered by ~44.2, green by ~0.27, red raised ~17.9.
    int64_t l = (117 * int64_t(s[0]) + 601 * int64_t(s[1]) + 306 * int64_t(s[2])) * 1024;
    int64_t b = (l - 46347025) / 1048576;
    int64_t g = (l - 287585) / 1048576;
    int64_t r = (l + 18748416) >> 20;
    uint8_t alpha = s[3];
    d[0] = uint8_t(b < 0 ? 0 : b);
    d[1] = uint8_t(g < 0 ? 0 : g);
    d[2] = uint8_t(r > 255 ? 255 : r);
    d[3] = alpha;
  });
  return 0;
}

int FilterThreshold(uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t width, int32_t, int64_t a) {
  int64_t limit = 3 * ClampWide(a, -1, 1000);
  for (int32_t y = y0; y <= y1; y++) {
    uint8_t* p = PixelAddress(pixels, width, x0, y);
    for (int32_t x = x0; x <= x1; x++, p += 4) {
      uint8_t v = int64_t(p[0]) + p[1] + p[2] >= limit ? 255 : 0;
      p[0] = p[1] = p[2] = v;
    }
  }
  return 0;
}

int FilterFillRect(uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t width, int32_t height, int64_t value, int32_t mode, uint8_t* hasAlpha) {
  uint32_t v = uint32_t(value);
  bool whole = x0 == 0 && y0 == 0 && x1 == width - 1 && y1 == height - 1;
  uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  if (mode == 1) bytes[3] = 255;
  for (int32_t y = y0; y <= y1; y++) {
    uint8_t* p = PixelAddress(pixels, width, x0, y);
    for (int32_t x = x0; x <= x1; x++, p += 4) {
      if (mode == 2) p[3] = bytes[0];
      else if (mode == 1 || mode == 3) memcpy(p, bytes, 4);
    }
  }
  uint8_t alpha = mode == 2 ? bytes[0] : bytes[3];
  if ((mode == 2 || mode == 3) && hasAlpha) *hasAlpha = (alpha == 255 && whole) ? 0 : 1;
  return 0;
}
