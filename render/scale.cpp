// The three picture scalers of presentation and layer scaling: nearest pixel and bilinear,
// with position tables computed once per call and rows handed out in bands.
#include <cstring>
#include <vector>

#include "app/workers.h"
#include "render/render.h"
#include "render/scale_local.h"

ScaleTables g_ScaleTables;
uint8_t g_Sharpen[256];

static bool g_SharpenBuilt;

// Pulls weights away from the middle a little, so an enlarged picture keeps its edges.
void BuildSharpenTable() {
  if (g_SharpenBuilt) return;
  for (int k = 0; k < 256; k++) {
    int v = (int)((k - 128) * 1.25 + 128);
    g_Sharpen[k] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  g_SharpenBuilt = true;
}

// Positions in 1/256 source pixel of `count` outputs along one axis, from a start and end in
// 1/100 pixel and an output length in 1/100 pixel; [first, end) is the range that falls inside
// 0..size - 1.
void BuildBilinearAxis(int32_t v0, int32_t v1, int32_t out100, int32_t size, std::vector<int64_t>* pos,
                       int32_t* first, int32_t* end) {
  int32_t count = out100 / 100;
  int64_t q = v0 / 100;
  int64_t f = ((int64_t)(v0 - 100 * q) << 8) / 100;
  int64_t span = (int64_t)v1 - v0;
  int64_t den = out100 - 100 != 0 ? out100 - 100 : 100;
  int64_t a = out100 >= span ? 0 : f;
  int64_t b = out100 >= span ? f : 0;
  pos->resize(count > 0 ? count : 0);
  *first = count;
  *end = count;
  bool inside = false;
  for (int32_t i = 0; i < count; i++) {
    int64_t p = span * (256 * (int64_t)i + a) / den + b;
    (*pos)[i] = p;
    int64_t s = q + (p >> 8);
    bool in = s >= 0 && s < size;
    if (in && !inside && *first == count) *first = i;
    if (!in && inside) {
      *end = i;
      break;
    }
    inside = in;
  }
  if (*first == count) *end = count;
}

namespace {

void ZeroRows(uint8_t* dst, int32_t outWidth, int32_t from, int32_t to) {
  if (to > from) memset(dst + (size_t)from * outWidth * 4, 0, (size_t)(to - from) * outWidth * 4);
}

// Fills the column tables of the bilinear scalers; false when no output pixel is in range.
bool PrepareBilinear(ScaleJobArgs* a, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t outWidth100,
                     int32_t outHeight100) {
  BuildSharpenTable();
  std::vector<int64_t>& cols = g_ScaleTables.mColumnPos;
  BuildBilinearAxis(x0, x1, outWidth100, a->mSrcWidth, &cols, &a->mFirstColumn, &a->mEndColumn);
  BuildBilinearAxis(y0, y1, outHeight100, a->mSrcHeight, &g_ScaleTables.mRowPos, &a->mFirstRow, &a->mEndRow);
  g_ScaleTables.mColumnSource.resize(cols.size());
  g_ScaleTables.mColumnNext.resize(cols.size());
  g_ScaleTables.mColumnWeightLanes.resize(cols.size() * 4);
  for (int32_t i = a->mFirstColumn; i < a->mEndColumn; i++) {
    int64_t sx = x0 / 100 + (cols[i] >> 8);
    g_ScaleTables.mColumnSource[i] = (int32_t)sx;
    g_ScaleTables.mColumnNext[i] = (int32_t)(sx + 1 < a->mSrcWidth ? sx + 1 : sx);
    for (int c = 0; c < 4; c++) g_ScaleTables.mColumnWeightLanes[(size_t)i * 4 + c] = g_Sharpen[cols[i] & 0xFF];
  }
  a->mRowOrigin = y0 / 100;
  return a->mFirstColumn < a->mEndColumn && a->mFirstRow < a->mEndRow;
}

}  // namespace

void ScaleNearest(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t srcWidth,
                  int32_t srcHeight, int32_t outWidth, int32_t outHeight) {
  if (!dst || !src || outWidth <= 0 || outHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  int32_t stepX = (int32_t)(((int64_t)(x1 - x0 + 1) << 16) / outWidth);
  int32_t stepY = (int32_t)(((int64_t)(y1 - y0 + 1) << 16) / outHeight);
  ScaleJobArgs a{};
  a.mDst = dst;
  a.mSrc = src;
  a.mSrcWidth = srcWidth;
  a.mSrcHeight = srcHeight;
  a.mOutWidth = outWidth;
  a.mColumnOrigin = x0;
  a.mRowOrigin = y0;
  auto build = [](std::vector<int32_t>* table, int32_t count, int32_t step, int32_t origin, int32_t size,
                  int32_t* first, int32_t* end) {
    table->resize(count);
    uint32_t sum = 0;
    *first = count;
    *end = count;
    for (int32_t i = 0; i < count; i++) {
      (*table)[i] = (int32_t)(sum >> 16);
      int64_t s = origin + (int64_t)(sum >> 16);
      if (s >= 0 && *first == count) *first = i;
      if (s >= size && *end == count) *end = i;
      sum += (uint32_t)step;
    }
    if (*end < *first) *end = *first;
  };
  build(&g_ScaleTables.mColumnSource, outWidth, stepX, x0, srcWidth, &a.mFirstColumn, &a.mEndColumn);
  build(&g_ScaleTables.mRowSource, outHeight, stepY, y0, srcHeight, &a.mFirstRow, &a.mEndRow);
  ZeroRows(dst, outWidth, 0, a.mFirstRow);
  ZeroRows(dst, outWidth, a.mEndRow, outHeight);
  RunScaleBands(JOB_SCALE_NEAREST, a);
}

namespace {

// The arguments of a bilinear scale to outWidth x outHeight (1/100 pixel) with the rows
// outside the source cleared; false when there is nothing to draw (the whole output cleared
// where there is one).
bool BeginBilinear(ScaleJobArgs* a, uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                   int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight) {
  int32_t w = outWidth / 100, h = outHeight / 100;
  if (!dst || !src || w <= 0 || h <= 0 || srcWidth <= 0 || srcHeight <= 0) return false;
  *a = ScaleJobArgs{};
  a->mDst = dst;
  a->mSrc = src;
  a->mSrcWidth = srcWidth;
  a->mSrcHeight = srcHeight;
  a->mOutWidth = w;
  if (!PrepareBilinear(a, x0, y0, x1, y1, outWidth, outHeight)) {
    ZeroRows(dst, w, 0, h);
    return false;
  }
  ZeroRows(dst, w, 0, a->mFirstRow);
  ZeroRows(dst, w, a->mEndRow, h);
  return true;
}

}  // namespace

void ScaleBilinear(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight) {
  ScaleJobArgs a;
  if (!BeginBilinear(&a, dst, src, x0, y0, x1, y1, srcWidth, srcHeight, outWidth, outHeight)) return;
  ScaleBilinearSharpRows(a);
}

void ScaleBilinearThreaded(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight) {
  ScaleJobArgs a;
  if (!BeginBilinear(&a, dst, src, x0, y0, x1, y1, srcWidth, srcHeight, outWidth, outHeight)) return;
  RunScaleBands(JOB_SCALE_BILINEAR, a);
}
