// Lanczos-2 resampling: the windowed-sinc weights of one pass and the two separable passes.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_scale.h"
#include "layers/layer.h"

namespace {

// The table of one pass: column i (0..output count) holds the weights of its taps, tap t at
// i + t * (output count + 1), in 1/65536. It lives for one resample.
int32_t* g_LanczosWeights;
size_t g_LanczosCapacity;   // entries allocated
int64_t g_LanczosTaps;
double g_LanczosScale;
double g_LanczosSupport;
double g_LanczosInverse;

// A table larger than this many entries is refused rather than attempted.
constexpr uint64_t MAX_LANCZOS_ENTRIES = (uint64_t)1 << 26;

void FreeLanczosWeights() {
  free(g_LanczosWeights);
  g_LanczosWeights = nullptr;
  g_LanczosCapacity = 0;
}

// The window of output index i: its centre in source pixels and the first and last tap.
struct LanczosWindow {
  double centre;
  int64_t left, right;
};

LanczosWindow WindowOf(int64_t i) {
  LanczosWindow win;
  win.centre = (double)i / g_LanczosScale;
  win.left = (int64_t)floor(win.centre - g_LanczosSupport);
  win.right = (int64_t)ceil(win.centre + g_LanczosSupport);
  return win;
}

// One pass over `lines` lines: reads `count` pixels `srcStep` bytes apart from each line
// (lines `srcLine` bytes apart) and writes `outCount` pixels `dstStep` apart likewise.
void ResamplePass(uint8_t* dst, const uint8_t* src, int64_t lines, int64_t count, int64_t outCount,
                  size_t srcLine, size_t srcStep, size_t dstLine, size_t dstStep) {
  const int64_t stride = outCount + 1;
  for (int64_t line = 0; line < lines; line++) {
    const uint8_t* in = src + (size_t)line * srcLine;
    uint8_t* out = dst + (size_t)line * dstLine;
    for (int64_t j = 0; j < outCount; j++) {
      LanczosWindow win = WindowOf(j);
      int64_t from = win.left < 0 ? 0 : win.left;
      int64_t to = win.right > count - 1 ? count - 1 : win.right;
      if (to - win.left > g_LanczosTaps + 2) to = win.left + g_LanczosTaps + 2;
      int64_t sum[4] = {0, 0, 0, 0};
      int64_t divisor = 0;
      for (int64_t k = from; k <= to; k++) {
        int64_t weight = g_LanczosWeights[j + (k - win.left) * stride];
        const uint8_t* p = in + (size_t)k * srcStep;
        for (int c = 0; c < 4; c++) sum[c] += weight * p[c];
        divisor += weight;
      }
      // The weights of a window in the image always add up to about 65536; a degenerate
      // window must still not divide by zero or flip the sign.
      if (divisor <= 0) divisor = 1;
      uint8_t* q = out + (size_t)j * dstStep;
      for (int c = 0; c < 4; c++) {
        int64_t v = sum[c] / divisor;
        q[c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
}

}  // namespace

double Sinc(double x) {
  // Pi as the single-precision constant the weights have always been built with.
  const double pi = 3.1415927410125732;
  if (x == 0.0) return 1.0;
  return sin(pi * x) / (pi * x);
}

double Lanczos2(double x) {
  double ax = fabs(x);
  if (ax >= 2.0) return 0.0;
  return Sinc(ax) * Sinc(ax / 2.0);
}

bool BuildLanczosWeights(bool horizontal, int32_t srcWidth, int32_t srcHeight, int32_t outWidth,
                         int32_t outHeight) {
  int64_t n = horizontal ? srcWidth : srcHeight;
  int64_t m = horizontal ? outWidth : outHeight;
  if (n < 1 || m < 1) return false;
  // Corner to corner; a single output has no second corner and takes the plain ratio.
  g_LanczosScale = n == 1 || m == 1 ? (double)m / (double)n : (double)(m - 1) / (double)(n - 1);
  // Shrinking widens the window to 2 / scale source pixels so every source pixel counts.
  // Enlarging keeps it at two source pixels: narrowed by the scale, its zeros would fall on
  // whole source pixels and leave outputs between them with no weight at all (black).
  double filter = g_LanczosScale < 1.0 ? g_LanczosScale : 1.0;
  g_LanczosSupport = 2.0 / filter;
  g_LanczosInverse = 1.0 / filter;
  g_LanczosTaps = (int64_t)(1.0 + 4.0 / filter);
  uint64_t entries = (uint64_t)(m + 1) * (uint64_t)(g_LanczosTaps + 3);
  if (entries > MAX_LANCZOS_ENTRIES) return false;
  if (entries > g_LanczosCapacity) {
    int32_t* grown = (int32_t*)realloc(g_LanczosWeights, entries * sizeof(int32_t));
    if (!grown) return false;
    g_LanczosWeights = grown;
    g_LanczosCapacity = entries;
  }
  memset(g_LanczosWeights, 0, entries * sizeof(int32_t));
  for (int64_t i = 0; i <= m; i++) {
    LanczosWindow win = WindowOf(i);
    int64_t last = win.right - win.left;
    if (last > g_LanczosTaps + 2) last = g_LanczosTaps + 2;
    for (int64_t t = 0; t <= last; t++) {
      double x = ((win.centre - (double)win.left) - (double)t) / g_LanczosInverse;
      g_LanczosWeights[i + t * (m + 1)] = (int32_t)(Lanczos2(x) / g_LanczosInverse * 65536.0);
    }
  }
  return true;
}

int ResampleLanczos(uint8_t* dst, const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t outWidth,
                    int32_t outHeight) {
  if (!dst || !src || srcWidth < 1 || srcHeight < 1 || outWidth < 1 || outHeight < 1) return -1;
  // Columns first: outWidth x srcHeight in between.
  uint8_t* between = AllocImageBuffer(nullptr, outWidth, srcHeight, nullptr);
  if (!between) return -1;
  int result = 0;
  if (!BuildLanczosWeights(true, srcWidth, srcHeight, outWidth, outHeight)) {
    result = -1;
  } else {
    ResamplePass(between, src, srcHeight, srcWidth, outWidth, (size_t)srcWidth * 4, 4, (size_t)outWidth * 4, 4);
    if (!BuildLanczosWeights(false, srcWidth, srcHeight, outWidth, outHeight)) {
      result = -1;
    } else {
      ResamplePass(dst, between, outWidth, srcHeight, outHeight, 4, (size_t)outWidth * 4, 4,
                   (size_t)outWidth * 4);
    }
  }
  if (result != 0) ReportError(100010, 1);
  FreeImageBuffer(between);
  FreeLanczosWeights();
  return result;
}
