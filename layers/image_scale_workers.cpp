// Bilinear scaling with 2 x 2 supersampling: the submitter and the body of its worker job.
#include <cstring>
#include <vector>

#include "app/workers.h"
#include "layers/image_scale.h"
#include "layers/pixel_kernels.h"
#include "render/scale_local.h"

namespace {

// One axis of the doubled grid: position of half-step k in 1/256 source pixel, counted from
// the start's whole pixel `q`. The fraction of the start enters the numerator when shrinking
// and is added after the division when enlarging, as the 1x grid does.
struct HalfStepAxis {
  int64_t q, span, den, a, b;
};

HalfStepAxis MakeHalfStepAxis(int32_t v0, int32_t v1, int32_t out100) {
  HalfStepAxis axis{};
  axis.q = v0 / 100;
  int64_t f = ((int64_t)(v0 - 100 * axis.q) << 8) / 100;
  axis.span = (int64_t)v1 - v0;
  axis.den = 2 * (int64_t)out100 - 100 != 0 ? 2 * (int64_t)out100 - 100 : 100;
  bool enlarging = out100 >= axis.span;
  axis.a = enlarging ? 0 : f;
  axis.b = enlarging ? f : 0;
  return axis;
}

int64_t HalfStepPosition(const HalfStepAxis& axis, int64_t step) {
  return axis.span * (256 * step + axis.a) / axis.den + axis.b;
}

int64_t Clamp(int64_t v, int64_t size) { return v < 0 ? 0 : v >= size ? size - 1 : v; }

// One supersample: the bilinear mix at source rows (upper, lower) with weight w of the lower,
// and columns (left, right) with weight c of the right, for channel ch.
inline uint32_t Sample(const uint8_t* upper, const uint8_t* lower, uint32_t w, size_t left, size_t right,
                       uint32_t c, int ch) {
  uint32_t top = (upper[left + ch] * (256 - c) + upper[right + ch] * c) >> 8;
  uint32_t bottom = (lower[left + ch] * (256 - c) + lower[right + ch] * c) >> 8;
  return (top * (256 - w) + bottom * w) >> 8;
}

// Rows [word 2, word 3) of the output. Each output pixel averages four samples: two rows on
// the doubled row grid (half-steps 2i and 2i + 1) by two columns from the submitter's doubled
// column table, whose entries carry the sharpened weight in their low byte. Every source index
// is clamped to the image, so a bad record never reads outside it.
void JobResample(WorkerJob* job) {
  uint8_t* dst = job->mWord14;
  const uint8_t* src = job->mWord15;
  int32_t srcWidth = job->mWord10, srcHeight = job->mWord11;
  int32_t outWidth = job->mWord12 / 100;
  int32_t firstColumn = job->mWord4, endColumn = job->mWord5;
  const std::vector<int64_t>& cols = g_ScaleTables.mColumnPos;
  if (!dst || !src || srcWidth <= 0 || srcHeight <= 0 || outWidth <= 0) return;
  if (firstColumn < 0 || endColumn > outWidth || (size_t)endColumn * 2 > cols.size()) return;
  if (endColumn < firstColumn) endColumn = firstColumn;
  HalfStepAxis rows = MakeHalfStepAxis(job->mWord7, job->mWord9, job->mWord13);
  int64_t qx = job->mWord6 / 100;
  size_t rowBytes = (size_t)srcWidth * 4;
  for (int32_t r = job->mWord2; r < job->mWord3; r++) {
    uint8_t* out = dst + (size_t)r * outWidth * 4;
    g_PixelKernels.zeroFill(out, (size_t)firstColumn * 4);
    g_PixelKernels.zeroFill(out + (size_t)endColumn * 4, (size_t)(outWidth - endColumn) * 4);
    const uint8_t* upper[2];
    const uint8_t* lower[2];
    uint32_t w[2];
    for (int k = 0; k < 2; k++) {
      int64_t p = HalfStepPosition(rows, 2 * (int64_t)r + k);
      int64_t sy = rows.q + (p >> 8);
      upper[k] = src + (size_t)Clamp(sy, srcHeight) * rowBytes;
      lower[k] = src + (size_t)Clamp(sy + 1, srcHeight) * rowBytes;
      w[k] = (uint32_t)(p & 255);
    }
    for (int32_t x = firstColumn; x < endColumn; x++) {
      size_t left[2], right[2];
      uint32_t c[2];
      for (int k = 0; k < 2; k++) {
        int64_t e = cols[2 * (size_t)x + k];
        int64_t sx = qx + (e >> 8);
        left[k] = (size_t)Clamp(sx, srcWidth) * 4;
        right[k] = (size_t)Clamp(sx + 1, srcWidth) * 4;
        c[k] = (uint32_t)(e & 255);
      }
      uint8_t* pixel = out + (size_t)x * 4;
      for (int ch = 0; ch < 4; ch++) {
        uint32_t column[2];
        for (int k = 0; k < 2; k++) {
          uint32_t s0 = Sample(upper[0], lower[0], w[0], left[k], right[k], c[k], ch);
          uint32_t s1 = Sample(upper[1], lower[1], w[1], left[k], right[k], c[k], ch);
          column[k] = (s0 + s1 + 1) >> 1;
        }
        pixel[ch] = (uint8_t)((column[0] + column[1] + 1) >> 1);
      }
    }
  }
}

}  // namespace

void ScaleOnWorkers(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t srcWidth, int32_t srcHeight, int32_t outWidth100, int32_t outHeight100) {
  int32_t w = outWidth100 / 100, h = outHeight100 / 100;
  if (!dst || !src || w <= 0 || h <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  // Scaling runs only on the thread of the frame step, so the body is plugged in while every
  // worker is idle.
  static bool registered = false;
  if (!registered) registered = SetWorkerJobBody(JOB_RESAMPLE, JobResample);
  BuildSharpenTable();

  // The 1x grid, as the presentation's bilinear scaler places it, decides which outputs have a
  // source at all.
  int32_t firstRow, endRow, firstColumn, endColumn;
  BuildBilinearAxis(y0, y1, outHeight100, srcHeight, &g_ScaleTables.mRowPos, &firstRow, &endRow);
  BuildBilinearAxis(x0, x1, outWidth100, srcWidth, &g_ScaleTables.mColumnPos, &firstColumn, &endColumn);
  if (firstRow >= endRow || firstColumn >= endColumn) {
    g_PixelKernels.zeroFill(dst, (size_t)w * h * 4);
    return;
  }
  g_PixelKernels.zeroFill(dst, (size_t)firstRow * w * 4);
  g_PixelKernels.zeroFill(dst + (size_t)endRow * w * 4, (size_t)(h - endRow) * w * 4);

  // The columns again on a grid of twice the output width, each entry's weight sharpened.
  HalfStepAxis axis = MakeHalfStepAxis(x0, x1, outWidth100);
  int32_t halfSteps = (int32_t)(2 * (int64_t)outWidth100 / 100);
  std::vector<int64_t>& cols = g_ScaleTables.mColumnPos;
  cols.resize(halfSteps);
  for (int32_t k = 0; k < halfSteps; k++) {
    int64_t p = HalfStepPosition(axis, k);
    cols[k] = (p & ~(int64_t)255) | g_Sharpen[p & 255];
  }

  WorkerJob job{};
  job.mWord1 = JOB_RESAMPLE;
  job.mWord4 = firstColumn;
  job.mWord5 = endColumn;
  job.mWord6 = x0;
  job.mWord7 = y0;
  job.mWord8 = x1;
  job.mWord9 = y1;
  job.mWord10 = srcWidth;
  job.mWord11 = srcHeight;
  job.mWord12 = outWidth100;
  job.mWord13 = outHeight100;
  job.mWord14 = dst;
  job.mWord15 = src;
  SubmitBandedJob(job, firstRow, endRow);
}
