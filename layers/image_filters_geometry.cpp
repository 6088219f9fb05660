// The spatial filters of the effect engine: mirror, vertical flip, waves, swirl, mosaic and
// the pixel shuffle.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_filters.h"
#include "layers/image_filters_local.h"
#include "layers/layer.h"

namespace {

// The swirl's distances from the centre, kept for the last size swirled: effects run on the
// frame-step thread only, so nothing guards it, and it lives as long as the process.
struct SwirlDistanceMap {
  int32_t mWidth;
  int32_t mHeight;
  uint16_t* mDistances;
};
SwirlDistanceMap g_SwirlMap;

// The permutations of a 2 x 2 block, as byte offsets of the old top-left (0), top-right (4),
// bottom-left (8) and bottom-right (12) pixel that each new position takes its colour from.
const uint8_t SHUFFLE_ORDERS[24][4] = {
    {12, 8, 4, 0}, {8, 12, 4, 0}, {12, 4, 8, 0}, {4, 12, 8, 0}, {8, 4, 12, 0}, {4, 8, 12, 0},
    {12, 8, 0, 4}, {8, 12, 0, 4}, {12, 0, 8, 4}, {0, 12, 8, 4}, {8, 0, 12, 4}, {0, 8, 12, 4},
    {12, 4, 0, 8}, {4, 12, 0, 8}, {12, 0, 4, 8}, {0, 12, 4, 8}, {4, 0, 12, 8}, {0, 4, 12, 8},
    {8, 4, 0, 12}, {4, 8, 0, 12}, {8, 0, 4, 12}, {0, 8, 4, 12}, {4, 0, 8, 12}, {0, 4, 8, 12},
};

// A shift of more pixels than any image has moves every pixel to the edge just the same.
constexpr int64_t MAX_SHIFT = 1 << 20;

int64_t WaveShift(long double v) {
  v = std::trunc(v);
  return v > MAX_SHIFT ? MAX_SHIFT : v < -MAX_SHIFT ? -MAX_SHIFT : int64_t(v);
}

int BuildSwirlMap(int32_t w, int32_t h, int32_t cx, int32_t cy) {
  if (g_SwirlMap.mDistances && g_SwirlMap.mWidth == w && g_SwirlMap.mHeight == h) return 0;
  uint16_t* map = static_cast<uint16_t*>(malloc(size_t(w) * size_t(h) * sizeof(uint16_t)));
  if (!map) { ReportErrorF(104030, 1, ""); return -1; }
  free(g_SwirlMap.mDistances);
  g_SwirlMap = {w, h, map};
  for (int32_t j = 0; j < h; j++)
    for (int32_t k = 0; k < w; k++)
      map[size_t(j) * size_t(w) + size_t(k)] = uint16_t(std::hypot(double(std::abs(k - cx)), double(std::abs(j - cy))));
  return 0;
}

void ShuffleBlock(uint8_t* image, int32_t width, int32_t x, int32_t y) {
  uint8_t* at[4] = {PixelAddress(image, width, x, y), PixelAddress(image, width, x + 1, y),
                    PixelAddress(image, width, x, y + 1), PixelAddress(image, width, x + 1, y + 1)};
  uint8_t old[16];
  for (int i = 0; i < 4; i++) memcpy(old + 4 * i, at[i], 4);
  const uint8_t* order = SHUFFLE_ORDERS[rand() % 24];
  for (int i = 0; i < 4; i++) memcpy(at[i], old + order[i], 3);   // alpha stays
}

}  // namespace

int FilterMirror(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t) {
  for (int32_t y = y0; y <= y1; y++) {
    uint8_t* d = PixelAddress(dst, dstWidth, 0, y - y0);
    for (int32_t x = x0; x <= x1; x++, d += 4) memcpy(d, PixelAddress(src, srcWidth, srcWidth - 1 - x, y), 4);
  }
  return 0;
}

int FilterFlipVertical(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                       int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t) {
  size_t bytes = size_t(x1 - x0 + 1) * 4;
  for (int32_t k = 0; k <= y1 - y0; k++)
    memcpy(PixelAddress(dst, dstWidth, 0, k), PixelAddress(src, srcWidth, x0, y1 - k), bytes);
  return 0;
}

int FilterWave(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
               int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t amplitude,
               int32_t phase, int32_t mode) {
  // The degree step as a single-precision constant, the products in extended precision.
  const long double step = static_cast<long double>(0.017453292f);
  long double ah = (mode & 1) ? static_cast<long double>(amplitude) : 0.0L;
  long double av = (mode & 2) ? static_cast<long double>(amplitude) : 0.0L;
  // Right of the rectangle the original takes the column before the last; never left of x0.
  int64_t pastRight = x1 - 1 < x0 ? x0 : x1 - 1;
  // The vertical shift depends on the column only.
  int64_t* columnShift = static_cast<int64_t*>(malloc(size_t(x1 - x0 + 1) * sizeof(int64_t)));
  if (!columnShift) { ReportErrorF(104030, 1, ""); return -1; }
  for (int32_t j = x0; j <= x1; j++) columnShift[j - x0] = WaveShift(std::cos((int64_t(j) + phase) * step) * av);
  for (int32_t i = y0; i <= y1; i++) {
    int64_t dx = WaveShift(std::sin((int64_t(i) + phase) * step) * ah);
    uint8_t* d = PixelAddress(dst, dstWidth, 0, i - y0);
    for (int32_t j = x0; j <= x1; j++, d += 4) {
      int64_t dy = columnShift[j - x0];
      int64_t col = int64_t(j) + dx;
      if (col < x0) col = x0;
      else if (col > x1) col = pastRight;
      int64_t row = ClampWide(int64_t(i) + dy, y0, y1);
      memcpy(d, PixelAddress(src, srcWidth, int32_t(col), int32_t(row)), 4);
    }
  }
  free(columnShift);
  return 0;
}

int FilterSwirl(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t angle) {
  int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  int32_t cx = w / 2, cy = h / 2;
  int32_t radius = int32_t((std::hypot(double(w), double(h)) + 1) * 0.5 + 1);
  int32_t* cosT = static_cast<int32_t*>(malloc(size_t(radius) * 2 * sizeof(int32_t)));
  if (!cosT) { ReportErrorF(104030, 1, ""); return -1; }
  int32_t* sinT = cosT + radius;
  // The turn falls linearly from angle / 10 degrees at the centre to angle / (10 R) at R - 1.
  long double degrees = static_cast<long double>(angle) / 10.0L;
  long double fall = static_cast<long double>(angle) / (10.0L * radius);
  for (int32_t i = 0; i < radius; i++, degrees -= fall) {
    long double rad = degrees * static_cast<long double>(0.017453292519444445);   // a double constant
    cosT[i] = int32_t(std::trunc(std::cos(rad) * 256));
    sinT[i] = int32_t(std::trunc(std::sin(rad) * 256));
  }
  if (BuildSwirlMap(w, h, cx, cy) != 0) { free(cosT); return -1; }
  const uint16_t* map = g_SwirlMap.mDistances;
  for (int32_t j = 0; j < h; j++) {
    uint8_t* d = PixelAddress(dst, dstWidth, 0, j);
    for (int32_t k = 0; k < w; k++, d += 4) {
      int32_t dist = map[size_t(j) * size_t(w) + size_t(k)];
      int32_t s = sinT[dist], c = cosT[dist];
      int32_t sx = cx + (((cy - j) * s + (k - cx) * c) >> 8);
      int32_t sy = cy + (((k - cx) * s + (j - cy) * c) >> 8);
      sx = int32_t(ClampWide(sx, 0, w - 1));
      sy = int32_t(ClampWide(sy, 0, h - 1));
      memcpy(d, PixelAddress(src, srcWidth, x0 + sx, y0 + sy), 4);
    }
  }
  free(cosT);
  return 0;
}

int FilterMosaic(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t blockSize) {
  // Blocks wider than the largest image give the same two half-blocks around the centre.
  int64_t s = ClampWide(blockSize, 1, 2 * MAX_IMAGE_SIDE);
  // Grid lines at centre + k * s: the first block starts at the last line at or left of x0.
  int64_t cx = x0 + (int64_t(x1) - x0 + 1) / 2, cy = y0 + (int64_t(y1) - y0 + 1) / 2;
  int64_t firstX = cx - ((cx - x0 + s - 1) / s) * s;
  int64_t firstY = cy - ((cy - y0 + s - 1) / s) * s;
  for (int64_t by = firstY; by <= y1; by += s) {
    int32_t top = int32_t(by < y0 ? y0 : by), bottom = int32_t(by + s - 1 > y1 ? y1 : by + s - 1);
    for (int64_t bx = firstX; bx <= x1; bx += s) {
      int32_t left = int32_t(bx < x0 ? x0 : bx), right = int32_t(bx + s - 1 > x1 ? x1 : bx + s - 1);
      uint64_t sum[3] = {0, 0, 0};
      for (int32_t y = top; y <= bottom; y++) {
        const uint8_t* p = PixelAddress(src, srcWidth, left, y);
        for (int32_t x = left; x <= right; x++, p += 4) sum[0] += p[0], sum[1] += p[1], sum[2] += p[2];
      }
      uint64_t count = uint64_t(right - left + 1) * uint64_t(bottom - top + 1);
      uint8_t mean[3] = {uint8_t(sum[0] / count), uint8_t(sum[1] / count), uint8_t(sum[2] / count)};
      for (int32_t y = top; y <= bottom; y++) {
        const uint8_t* p = PixelAddress(src, srcWidth, left, y);
        uint8_t* d = PixelAddress(dst, dstWidth, left - x0, y - y0);
        for (int32_t x = left; x <= right; x++, p += 4, d += 4) {
          memcpy(d, mean, 3);
          d[3] = p[3];
        }
      }
    }
  }
  return 0;
}

int FilterShuffle(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t, int64_t strength) {
  size_t rowBytes = size_t(x1 - x0 + 1) * 4;
  for (int32_t y = y0; y <= y1; y++)
    memcpy(PixelAddress(dst, dstWidth, 0, y - y0), PixelAddress(src, srcWidth, x0, y), rowBytes);
  // The sweeps run in the result's own coordinates; a pass past the longer side moves nothing.
  int32_t right = x1 - x0, bottom = y1 - y0;
  int64_t passes = ClampWide(strength / 2, 0, int64_t(right > bottom ? right : bottom) + 1);
  for (int32_t k = 0; k < passes; k++) {
    int32_t blocksPerRow = 0;
    for (int32_t x = k; x < right; x += 2) blocksPerRow++;
    for (int32_t y = k; y < bottom; y += 2)
      for (int32_t x = k; x < right; x += 2) ShuffleBlock(dst, dstWidth, x, y);
    for (int32_t y = bottom - 1; y >= k; y -= 2)
      for (int32_t n = 0, x = right - 1 - k; n < blocksPerRow; n++, x -= 2) ShuffleBlock(dst, dstWidth, x, y);
  }
  return 0;
}
