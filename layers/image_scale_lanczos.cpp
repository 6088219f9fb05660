// Lanczos-2 resampling: the windowed-sinc weights of one pass and the two separable passes.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/image_scale.h"
#include "layers/layer.h"

namespace {

// The table of one pass: column i (0..output count) holds the weights of its taps, tap t at
// i + t * (output count + 1), in 1/65536. It lives for one resample. With the window's scale at
// most 1 each weight is at most 65536 and a window's weights add up to under 7 * 65536 in
// size, so sums of weight * byte stay well inside 32 bits.
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

// The taps of one output of a pass: source pixels from..to, their weights at
// g_LanczosWeights[first + (k - from) * stride], and what they add up to.
struct LanczosTaps {
  int64_t from, to, first;
  int32_t divisor;
};

inline uint8_t ClampedQuotient(int32_t sum, int32_t divisor) {
  int32_t v = sum / divisor;
  return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The taps of every output, from the table; null when there is no memory.
LanczosTaps* CollectTaps(int64_t count, int64_t outCount) {
  LanczosTaps* taps = (LanczosTaps*)malloc((size_t)outCount * sizeof(LanczosTaps));
  if (!taps) return nullptr;
  const int64_t stride = outCount + 1;
  for (int64_t j = 0; j < outCount; j++) {
    LanczosWindow win = WindowOf(j);
    LanczosTaps& t = taps[j];
    t.from = win.left < 0 ? 0 : win.left;
    t.to = win.right > count - 1 ? count - 1 : win.right;
    if (t.to - win.left > g_LanczosTaps + 2) t.to = win.left + g_LanczosTaps + 2;
    t.first = j + (t.from - win.left) * stride;
    int64_t divisor = 0;
    for (int64_t k = t.from; k <= t.to; k++) divisor += g_LanczosWeights[t.first + (k - t.from) * stride];
    // The weights of a window in the image add up to about 65536; a degenerate window must
    // still not divide by zero or flip the sign.
    t.divisor = divisor <= 0 ? 1 : (int32_t)divisor;
  }
  return taps;
}

// Along each of `lines` rows of `count` pixels into rows of `outCount` pixels.
bool ResampleRows(uint8_t* dst, const uint8_t* src, int64_t lines, int64_t count, int64_t outCount) {
  LanczosTaps* taps = CollectTaps(count, outCount);
  if (!taps) return false;
  const int64_t stride = outCount + 1;
  for (int64_t line = 0; line < lines; line++) {
    const uint8_t* in = src + (size_t)(line * count * 4);
    uint8_t* out = dst + (size_t)(line * outCount * 4);
    for (int64_t j = 0; j < outCount; j++, out += 4) {
      const LanczosTaps& t = taps[j];
      int32_t sum[4] = {0, 0, 0, 0};
      const int32_t* weight = g_LanczosWeights + t.first;
      for (int64_t k = t.from; k <= t.to; k++, weight += stride) {
        const uint8_t* p = in + k * 4;
        for (int c = 0; c < 4; c++) sum[c] += *weight * p[c];
      }
      for (int c = 0; c < 4; c++) out[c] = ClampedQuotient(sum[c], t.divisor);
    }
  }
  free(taps);
  return true;
}

// Down the columns of a picture `width` pixels wide, from `count` rows to `outCount` rows. Each
// output row adds whole source rows into one line of sums, so memory is read row by row.
bool ResampleColumns(uint8_t* dst, const uint8_t* src, int64_t width, int64_t count, int64_t outCount) {
  LanczosTaps* taps = CollectTaps(count, outCount);
  int32_t* sums = (int32_t*)malloc((size_t)width * 4 * sizeof(int32_t));
  if (!taps || !sums) {
    free(taps);
    free(sums);
    return false;
  }
  const int64_t stride = outCount + 1;
  const int64_t rowBytes = width * 4;
  for (int64_t j = 0; j < outCount; j++) {
    const LanczosTaps& t = taps[j];
    memset(sums, 0, (size_t)rowBytes * sizeof(int32_t));
    const int32_t* weight = g_LanczosWeights + t.first;
    for (int64_t k = t.from; k <= t.to; k++, weight += stride) {
      const uint8_t* row = src + (size_t)(k * rowBytes);
      int32_t w = *weight;
      for (int64_t i = 0; i < rowBytes; i++) sums[i] += w * row[i];
    }
    uint8_t* out = dst + (size_t)(j * rowBytes);
    for (int64_t i = 0; i < rowBytes; i++) out[i] = ClampedQuotient(sums[i], t.divisor);
  }
  free(taps);
  free(sums);
  return true;
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
  // The width first: outWidth x srcHeight in between.
  uint8_t* between = AllocImageBuffer(nullptr, outWidth, srcHeight, nullptr);
  if (!between) return -1;
  bool done = BuildLanczosWeights(true, srcWidth, srcHeight, outWidth, outHeight) &&
              ResampleRows(between, src, srcHeight, srcWidth, outWidth) &&
              BuildLanczosWeights(false, srcWidth, srcHeight, outWidth, outHeight) &&
              ResampleColumns(dst, between, outWidth, srcHeight, outHeight);
  int result = done ? 0 : -1;
  if (result != 0) ReportError(100010, 1);
  FreeImageBuffer(between);
  FreeLanczosWeights();
  return result;
}
