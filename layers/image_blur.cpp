// Blurs and soft shadows: separable box averages along rows and then columns, with windows
// that shrink at the rectangle's edges and truncated averages.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_filters.h"
#include "layers/image_filters_local.h"

namespace {

// Which bytes of a pixel a pass averages: [first, last] of B, G, R, A.
struct Channels {
  int first;
  int last;
};
constexpr Channels ALL_CHANNELS = {0, 3};
constexpr Channels COLOUR_CHANNELS = {0, 2};
constexpr Channels ALPHA_CHANNEL = {3, 3};

// sum / count by a multiplication: with R = 2^40 / count + 1, (sum * R) >> 40 exceeds the exact
// quotient by less than sum / 2^40 < 2^-18, and no quotient's fraction comes within 1 / count
// (at least 2^-13) of the next integer, so the result is the truncated quotient exactly for
// sums below 2^22 (windows of at most 8192 bytes of 255).
struct Divider {
  uint32_t mCount = 0;
  uint64_t mFactor = 0;
  void Set(uint32_t count) {
    if (count == mCount) return;
    mCount = count;
    mFactor = (uint64_t(1) << 40) / count + 1;
  }
  uint8_t operator()(uint32_t sum) const { return uint8_t((uint64_t(sum) * mFactor) >> 40); }
};

// What the result's other bytes become once the passes are done.
enum Finish { FINISH_NONE, FINISH_SOURCE_ALPHA, FINISH_BLACK };

// A window wider than the rectangle covers all of it, so any larger radius gives the same.
int32_t EffectiveRadius(int64_t radius, int32_t w, int32_t h) {
  if (radius <= 0) return 1;
  int32_t longest = w > h ? w : h;
  return radius > longest ? longest : int32_t(radius);
}

// Averages along each of h rows of w pixels, keeping a running sum per channel: the window of
// x is max(0, x - r) .. min(w - 1, x + r). Strides are in pixels.
void RowPass(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride, int32_t w,
             int32_t h, int32_t r, Channels ch) {
  for (int32_t y = 0; y < h; y++) {
    const uint8_t* s = src + size_t(y) * size_t(srcStride) * 4;
    uint8_t* d = dst + size_t(y) * size_t(dstStride) * 4;
    uint32_t sum[4] = {0, 0, 0, 0};
    Divider divide;
    int32_t initialHi = r < w - 1 ? r : w - 1;
    for (int32_t x = 0; x <= initialHi; x++)
      for (int c = ch.first; c <= ch.last; c++) sum[c] += s[x * 4 + c];
    for (int32_t x = 0; x < w; x++) {
      int32_t lo = x - r < 0 ? 0 : x - r;
      int32_t hi = x + r > w - 1 ? w - 1 : x + r;
      divide.Set(uint32_t(hi - lo + 1));
      for (int c = ch.first; c <= ch.last; c++) d[x * 4 + c] = divide(sum[c]);
      if (x + r + 1 < w)
        for (int c = ch.first; c <= ch.last; c++) sum[c] += s[(x + r + 1) * 4 + c];
      if (x - r >= 0)
        for (int c = ch.first; c <= ch.last; c++) sum[c] -= s[(x - r) * 4 + c];
    }
  }
}

// Averages down each column the same way, a whole row of sums at a time so the image is read
// in row order. -1 after a message when the sums cannot be allocated.
int ColumnPass(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride, int32_t w,
               int32_t h, int32_t r, Channels ch) {
  uint32_t* sum = static_cast<uint32_t*>(calloc(size_t(w) * 4, sizeof(uint32_t)));
  if (!sum) { ReportErrorF(104030, 1, ""); return -1; }
  auto addRow = [&](int32_t y, int sign) {
    const uint8_t* s = src + size_t(y) * size_t(srcStride) * 4;
    for (int32_t x = 0; x < w; x++)
      for (int c = ch.first; c <= ch.last; c++) sum[x * 4 + c] += uint32_t(sign * s[x * 4 + c]);
  };
  int32_t initialHi = r < h - 1 ? r : h - 1;
  for (int32_t y = 0; y <= initialHi; y++) addRow(y, 1);
  for (int32_t y = 0; y < h; y++) {
    int32_t lo = y - r < 0 ? 0 : y - r;
    int32_t hi = y + r > h - 1 ? h - 1 : y + r;
    Divider divide;
    divide.Set(uint32_t(hi - lo + 1));
    uint8_t* d = dst + size_t(y) * size_t(dstStride) * 4;
    for (int32_t x = 0; x < w; x++)
      for (int c = ch.first; c <= ch.last; c++) d[x * 4 + c] = divide(sum[x * 4 + c]);
    if (y + r + 1 < h) addRow(y + r + 1, 1);
    if (y - r >= 0) addRow(y - r, -1);
  }
  free(sum);
  return 0;
}

void FinishResult(uint8_t* dst, int32_t dstWidth, const uint8_t* src, int32_t srcWidth,
                  int32_t x0, int32_t y0, int32_t w, int32_t h, Finish finish) {
  if (finish == FINISH_NONE) return;
  for (int32_t y = 0; y < h; y++) {
    uint8_t* d = PixelAddress(dst, dstWidth, 0, y);
    const uint8_t* s = PixelAddress(src, srcWidth, x0, y0 + y);
    for (int32_t x = 0; x < w; x++, d += 4, s += 4) {
      if (finish == FINISH_SOURCE_ALPHA) d[3] = s[3];
      else d[0] = d[1] = d[2] = 0;
    }
  }
}

// Rows into a rectangle-sized intermediate, then its columns into the result.
int TwoPassBlur(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                int32_t srcWidth, int32_t dstWidth, int64_t radius, Channels ch, Finish finish) {
  int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  int32_t r = EffectiveRadius(radius, w, h);
  uint8_t* rows = static_cast<uint8_t*>(malloc(size_t(w) * size_t(h) * 4));
  if (!rows) { ReportErrorF(104030, 1, ""); return -1; }
  RowPass(rows, w, PixelAddress(src, srcWidth, x0, y0), srcWidth, w, h, r, ch);
  int result = ColumnPass(dst, dstWidth, rows, w, w, h, r, ch);
  free(rows);
  if (result != 0) return -1;
  FinishResult(dst, dstWidth, src, srcWidth, x0, y0, w, h, finish);
  return 0;
}

}  // namespace

int FilterBoxBlur(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t,
                  int64_t radius, uint8_t hasAlpha) {
  return TwoPassBlur(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, radius,
                     hasAlpha ? ALL_CHANNELS : COLOUR_CHANNELS,
                     hasAlpha ? FINISH_NONE : FINISH_SOURCE_ALPHA);
}

int FilterBlurTwoPass(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                      int32_t dstHeight, int64_t radius, uint8_t hasAlpha) {
  return FilterBoxBlur(dst, src, x0, y0, x1, y1, srcWidth, srcHeight, dstWidth, dstHeight, radius,
                       hasAlpha);
}

int FilterBlurHorizontal(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t,
                         int64_t radius, uint8_t hasAlpha) {
  int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  RowPass(dst, dstWidth, PixelAddress(src, srcWidth, x0, y0), srcWidth, w, h,
          EffectiveRadius(radius, w, h), hasAlpha ? ALL_CHANNELS : COLOUR_CHANNELS);
  FinishResult(dst, dstWidth, src, srcWidth, x0, y0, w, h, hasAlpha ? FINISH_NONE : FINISH_SOURCE_ALPHA);
  return 0;
}

int FilterBlurVertical(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                       int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t,
                       int64_t radius, uint8_t hasAlpha) {
  int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  if (ColumnPass(dst, dstWidth, PixelAddress(src, srcWidth, x0, y0), srcWidth, w, h,
                 EffectiveRadius(radius, w, h), hasAlpha ? ALL_CHANNELS : COLOUR_CHANNELS) != 0)
    return -1;
  FinishResult(dst, dstWidth, src, srcWidth, x0, y0, w, h, hasAlpha ? FINISH_NONE : FINISH_SOURCE_ALPHA);
  return 0;
}

int FilterAlphaShadow(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1, int32_t srcWidth, int32_t, int32_t dstWidth, int32_t,
                      int64_t radius) {
  return TwoPassBlur(dst, src, x0, y0, x1, y1, srcWidth, dstWidth, radius, ALPHA_CHANNEL, FINISH_BLACK);
}

int FilterAlphaBlur(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                    int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                    int32_t dstHeight, int64_t radius, uint8_t hasAlpha) {
  if (hasAlpha)
    return FilterAlphaShadow(dst, src, x0, y0, x1, y1, srcWidth, srcHeight, dstWidth, dstHeight, radius);
  return FilterBlurTwoPass(dst, src, x0, y0, x1, y1, srcWidth, srcHeight, dstWidth, dstHeight,
                           radius, 0);
}
