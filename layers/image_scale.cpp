// Scaling a layer's image: the dispatcher over the five methods, buffer reuse, and bicubic.
#include "layers/image_scale.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "render/render.h"
#include "render/scale_local.h"

namespace {

enum : int32_t {
  METHOD_NEAREST = 10,
  METHOD_BILINEAR = 21,
  METHOD_BICUBIC = 31,
  METHOD_SUPERSAMPLE = 41,
  METHOD_LANCZOS = 51,
};

// Corners further out than this (1/100 pixel) are refused: every source is at most 8192 pixels,
// and the scalers' fixed-point steps stay within 32 bits for any span inside these bounds.
constexpr int64_t MAX_CORNER_100 = 1600000;

int32_t g_BicubicWeights[513];
int32_t g_BicubicTapDistance[4][256];
bool g_BicubicBuilt;

// The cubic convolution kernel with a = -1, in 1/256, at distances 0..2 pixels in 1/256.
void BuildBicubicTables() {
  if (g_BicubicBuilt) return;
  for (int k = 0; k <= 512; k++) {
    double h = k / 256.0;
    double v = h <= 1.0 ? 1.0 - 2.0 * h * h + h * h * h : 4.0 - 8.0 * h + 5.0 * h * h - h * h * h;
    g_BicubicWeights[k] = (int32_t)(256.0 * v);
  }
  for (int m = 0; m < 4; m++)
    for (int f = 0; f < 256; f++) g_BicubicTapDistance[m][f] = abs(256 * (m - 1) - f);
  g_BicubicBuilt = true;
}

// Left-aligned positions in 1/256 pixel of `count` outputs over a span of `span` pixels.
void BuildBicubicAxis(std::vector<int64_t>* pos, int32_t count, int64_t span) {
  pos->resize(count);
  for (int32_t i = 0; i < count; i++) (*pos)[i] = (((int64_t)i * 65536) / count) * span >> 8;
}

// Index of the first output from which the source reaches `size`; outputs from there on are 0.
int32_t FirstBeyond(const std::vector<int64_t>& pos, int64_t origin, int64_t size) {
  for (size_t i = 0; i < pos.size(); i++)
    if (origin + (pos[i] >> 8) >= size) return (int32_t)i;
  return (int32_t)pos.size();
}

bool KnownMethod(int32_t method) {
  return method == METHOD_NEAREST || method == METHOD_BILINEAR || method == METHOD_BICUBIC ||
         method == METHOD_SUPERSAMPLE || method == METHOD_LANCZOS;
}

bool CornersInRange(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  for (int64_t v : {x0, y0, x1, y1})
    if (v < -MAX_CORNER_100 || v > MAX_CORNER_100) return false;
  return x1 >= x0 && y1 >= y0;
}

// 0, or -1 when the method could not run (its message is given).
int RunMethod(int32_t method, uint8_t* dst, const LayerRecord* src, int32_t x0, int32_t y0, int32_t x1,
              int32_t y1, int32_t out100W, int32_t out100H, int32_t w, int32_t h) {
  switch (method) {
    case METHOD_NEAREST:
      ScaleNearest(dst, src->mPixels, x0 / 100, y0 / 100, x1 / 100, y1 / 100, src->mWidth, src->mHeight, w, h);
      break;
    case METHOD_BILINEAR:
      if (g_CpuFeatures[CPU_SSE] && g_AllowSse)
        ScaleBilinearThreaded(dst, src->mPixels, x0, y0, x1, y1, src->mWidth, src->mHeight, out100W, out100H);
      else
        ScaleBilinear(dst, src->mPixels, x0, y0, x1, y1, src->mWidth, src->mHeight, out100W, out100H);
      break;
    case METHOD_BICUBIC:
      ScaleBicubic(dst, src->mPixels, x0 / 100, y0 / 100, x1 / 100, y1 / 100, src->mWidth, src->mHeight, w, h);
      break;
    case METHOD_SUPERSAMPLE:
      ScaleOnWorkers(dst, src->mPixels, x0, y0, x1, y1, src->mWidth, src->mHeight, out100W, out100H);
      break;
    case METHOD_LANCZOS:
      return ResampleLanczos(dst, src->mPixels, src->mWidth, src->mHeight, w, h);
  }
  return 0;
}

}  // namespace

void ScaleBicubic(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                  int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight) {
  if (!dst || !src || outWidth <= 0 || outHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  BuildBicubicTables();
  std::vector<int64_t>& rows = g_ScaleTables.mRowPos;
  std::vector<int64_t>& cols = g_ScaleTables.mColumnPos;
  BuildBicubicAxis(&rows, outHeight, (int64_t)y1 - y0 + 1);
  BuildBicubicAxis(&cols, outWidth, (int64_t)x1 - x0 + 1);
  int32_t rowEnd = FirstBeyond(rows, y0, srcHeight);
  int32_t colEnd = FirstBeyond(cols, x0, srcWidth);
  const int64_t rowBytes = (int64_t)srcWidth * 4;
  const int64_t imageBytes = rowBytes * srcHeight;
  for (int32_t i = 0; i < outHeight; i++) {
    uint8_t* out = dst + (size_t)i * outWidth * 4;
    int64_t baseRow = y0 + (rows[i] >> 8);
    if (i >= rowEnd || baseRow < 0) {
      g_PixelKernels.zeroFill(out, (size_t)outWidth * 4);
      continue;
    }
    int32_t fy = (int32_t)(rows[i] & 255);
    for (int32_t j = 0; j < outWidth; j++, out += 4) {
      int64_t baseCol = x0 + (cols[j] >> 8);
      if (j >= colEnd || baseCol < 0) {
        memset(out, 0, 4);
        continue;
      }
      int32_t fx = (int32_t)(cols[j] & 255);
      int32_t sum[4] = {0, 0, 0, 0};
      int32_t weightSum = 0;
      for (int m = 0; m < 4; m++) {
        int32_t wy = g_BicubicWeights[g_BicubicTapDistance[m][fy]];
        int64_t rowOffset = (baseRow - 1 + m) * rowBytes;
        for (int n = 0; n < 4; n++) {
          // Taps are bounded by the whole image, not by the row: a tap beside the row's end
          // reads the neighbouring row's pixel, as the kernel has always done.
          int64_t offset = rowOffset + (baseCol - 1 + n) * 4;
          if (offset < 0 || offset > imageBytes - 1) continue;
          int32_t weight = wy * g_BicubicWeights[g_BicubicTapDistance[n][fx]] / 256;
          const uint8_t* p = src + offset;
          for (int c = 0; c < 4; c++) sum[c] += weight * p[c];
          weightSum += weight;
        }
      }
      if (weightSum == 0) weightSum = 1;
      for (int c = 0; c < 4; c++) {
        int32_t v = sum[c] / weightSum;
        out[c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
}

int ScaleLayerImage(NameNode* first, NameNode* second, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                    int64_t outWidth100, int64_t outHeight100, int32_t intoSecond, int32_t method) {
  LayerRecord* source = GetLayerRecord(first);
  if (!source || !source->mPixels || source->mWidth < 1 || source->mHeight < 1) return -1;
  NameNode* outNode = intoSecond ? second : first;
  LayerRecord* out = GetLayerRecord(outNode);
  if (!out) return -1;
  if (!CornersInRange(x0, y0, x1, y1)) return -1;
  if (outWidth100 < 100 || outHeight100 < 100) return -1;
  int64_t w64 = outWidth100 / 100, h64 = outHeight100 / 100;
  if (w64 > MAX_IMAGE_SIDE || h64 > MAX_IMAGE_SIDE) {
    auto shown = [](int64_t v) { return (int)(v > INT32_MAX ? INT32_MAX : v); };
    ShowErrorBox("", ToCp932Text("ＣＧサイズが大きすぎます。X=%d, Y=%d").c_str(), shown(w64), shown(h64));
    ReportError(100010, 1);
    return -1;
  }
  int32_t w = (int32_t)w64, h = (int32_t)h64;
  InvalidateLayer(outNode);

  // A layer without pixels (a new record is 1 x 1 with none) has no buffer to reuse.
  bool reusable = intoSecond && out->mPixels;
  bool reuseSame = reusable && w == out->mWidth && h == out->mHeight;
  bool reuseLarger = !reuseSame && reusable && out->mKeepBufferOnShrink == 1 && w < out->mWidth &&
                     h < out->mHeight;
  bool reuse = reuseSame || reuseLarger;
  uint8_t* target = reuse ? out->mPixels : nullptr;
  uint8_t* fresh = nullptr;
  // A layer scaled into its own buffer would overwrite pixels it has yet to read, so it is
  // scaled into a fresh one and copied back.
  if (!reuse || (target == source->mPixels && KnownMethod(method))) {
    fresh = AllocImageBuffer(nullptr, w, h, source->mFileName);
    if (!fresh) return -1;
    // An unknown method writes nothing; a new picture then starts cleared, not as stale memory.
    if (!KnownMethod(method)) memset(fresh, 0, (size_t)w * h * 4);
  }
  if (RunMethod(method, fresh ? fresh : target, source, (int32_t)x0, (int32_t)y0, (int32_t)x1, (int32_t)y1,
                (int32_t)outWidth100, (int32_t)outHeight100, w, h) != 0) {
    FreeImageBuffer(fresh);
    return -1;
  }
  if (reuse) {
    if (fresh) {
      memcpy(target, fresh, (size_t)w * h * 4);
      FreeImageBuffer(fresh);
    }
    if (reuseSame) return 0;
  } else {
    FreeImageBuffer(out->mPixels);
    out->mPixels = fresh;
    out->mHasAlpha = source->mHasAlpha;
  }
  out->mWidth = w;
  out->mHeight = h;
  InvalidateLayer(outNode);
  return 0;
}
