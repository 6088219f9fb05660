// The scaling tests' layer tree, pictures, pool control and reference scalers.
#include "tests/scale/scale_fixture.h"

#include <cmath>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/workers.h"
#include "layers/pixel_kernels.h"
#include "platform/headless/headless.h"

uint32_t Picture::At(int32_t x, int32_t y) const {
  uint32_t v;
  memcpy(&v, bytes.data() + ((size_t)y * w + x) * 4, 4);
  return v;
}

Picture NoisePicture(int32_t w, int32_t h, uint32_t seed) {
  Picture p{w, h, std::vector<uint8_t>((size_t)w * h * 4)};
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& b : p.bytes) {
    state = state * 1103515245u + 12345u;
    b = (uint8_t)(state >> 16);
  }
  return p;
}

Picture UniformPicture(int32_t w, int32_t h, uint32_t bgra) {
  Picture p{w, h, std::vector<uint8_t>((size_t)w * h * 4)};
  for (size_t i = 0; i < p.bytes.size(); i += 4) memcpy(&p.bytes[i], &bgra, 4);
  return p;
}

void ScaleLayerTest::SetUp() {
  LayerWindowTest::SetUp();
  InitPixelKernels();
}

void ScaleLayerTest::TearDown() {
  StopWorkerThreads();
  LayerWindowTest::TearDown();
}

NameNode* ScaleLayerTest::AddLayer(const char* name, const Picture& picture) {
  NameNode* node = AddBareLayer(name);
  if (!node) return nullptr;
  LayerRecord* r = static_cast<LayerRecord*>(node->mPayload);
  EXPECT_NE(r, nullptr);
  if (r && picture.w > 0 && picture.h > 0) {
    r->mPixels = AllocImageBuffer(nullptr, picture.w, picture.h, nullptr);
    r->mWidth = picture.w;
    r->mHeight = picture.h;
    memcpy(r->mPixels, picture.bytes.data(), picture.bytes.size());
  }
  return node;
}

Picture ScaleLayerTest::ImageOf(NameNode* node) const {
  const LayerRecord* r = GetLayerRecord(node);
  Picture p{r->mWidth, r->mHeight, {}};
  p.bytes.assign(r->mPixels, r->mPixels + (size_t)r->mWidth * r->mHeight * 4);
  return p;
}

void ScaleLayerTest::UseWorkers(int32_t workers) {
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)workers;
  if (workers > 0) StartWorkerThreads();
}

bool ScaleLayerTest::BoxShown(const char* text) const {
  for (const std::string& call : HeadlessCalls())
    if (call.find(text) != std::string::npos) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------
// References.

namespace {

Picture Blank(int32_t w, int32_t h) { return Picture{w, h, std::vector<uint8_t>((size_t)w * h * 4, 0)}; }

const uint8_t* PixelOf(const Picture& p, int64_t x, int64_t y) { return p.bytes.data() + ((size_t)y * p.w + x) * 4; }

uint8_t* PixelOf(Picture& p, int64_t x, int64_t y) { return p.bytes.data() + ((size_t)y * p.w + x) * 4; }

int64_t Clamp(int64_t v, int64_t size) { return v < 0 ? 0 : v >= size ? size - 1 : v; }

uint8_t Sharpen(int64_t k) {
  int v = (int)((k - 128) * 1.25 + 128);
  return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A bilinear axis: position of output (or half-step) i in 1/256 pixel from the start's pixel.
struct Axis {
  int64_t q, span, den, a, b;
  int64_t Position(int64_t i) const { return span * (256 * i + a) / den + b; }
};

Axis MakeAxis(int32_t v0, int32_t v1, int32_t out100, int64_t gridOut100) {
  Axis axis;
  axis.q = v0 / 100;
  int64_t f = (int64_t)(v0 - 100 * axis.q) * 256 / 100;
  axis.span = (int64_t)v1 - v0;
  axis.den = gridOut100 - 100 == 0 ? 100 : gridOut100 - 100;
  bool enlarging = out100 >= axis.span;
  axis.a = enlarging ? 0 : f;
  axis.b = enlarging ? f : 0;
  return axis;
}

bool Inside(const Axis& axis, int64_t i, int64_t size) {
  int64_t s = axis.q + (axis.Position(i) >> 8);
  return s >= 0 && s < size;
}

int32_t CubicWeight(int64_t distance) {
  double h = distance / 256.0;
  double k = h <= 1 ? 1 - 2 * h * h + h * h * h : 4 - 8 * h + 5 * h * h - h * h * h;
  return (int32_t)(256 * k);
}

double RefLanczosKernel(double x) {
  const double pi = 3.1415927410125732;
  auto sinc = [pi](double v) { return v == 0 ? 1.0 : sin(pi * v) / (pi * v); };
  x = fabs(x);
  return x >= 2 ? 0 : sinc(x) * sinc(x / 2);
}

// One Lanczos pass along lines of `n` pixels to `m`.
void LanczosLine(const uint8_t* in, size_t inStep, int64_t n, uint8_t* out, size_t outStep, int64_t m) {
  double s = n == 1 || m == 1 ? (double)m / n : (double)(m - 1) / (n - 1);
  double filter = s < 1 ? s : 1;
  double r = 2 / filter, inv = 1 / filter;
  for (int64_t j = 0; j < m; j++) {
    double c = j / s;
    int64_t left = (int64_t)floor(c - r), right = (int64_t)ceil(c + r);
    int64_t sum[4] = {0, 0, 0, 0}, divisor = 0;
    for (int64_t k = left; k <= right; k++) {
      if (k < 0 || k >= n) continue;
      int64_t w = (int32_t)(RefLanczosKernel(((c - left) - (double)(k - left)) / inv) / inv * 65536);
      for (int ch = 0; ch < 4; ch++) sum[ch] += w * in[k * inStep + ch];
      divisor += w;
    }
    if (divisor <= 0) divisor = 1;
    for (int ch = 0; ch < 4; ch++) {
      int64_t v = sum[ch] / divisor;
      out[j * outStep + ch] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
}

}  // namespace

Picture RefNearest(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, int32_t h) {
  Picture out = Blank(w, h);
  int32_t stepX = (int32_t)(((int64_t)(x1 - x0 + 1) << 16) / w);
  int32_t stepY = (int32_t)(((int64_t)(y1 - y0 + 1) << 16) / h);
  for (int32_t y = 0; y < h; y++) {
    int64_t sy = y0 + (int64_t)(((uint32_t)y * (uint32_t)stepY) >> 16);
    for (int32_t x = 0; x < w; x++) {
      int64_t sx = x0 + (int64_t)(((uint32_t)x * (uint32_t)stepX) >> 16);
      if (sx < 0 || sx >= src.w || sy < 0 || sy >= src.h) continue;
      memcpy(PixelOf(out, x, y), PixelOf(src, sx, sy), 4);
    }
  }
  return out;
}

Picture RefBilinear(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w100, int32_t h100,
                    bool threaded) {
  Picture out = Blank(w100 / 100, h100 / 100);
  Axis ax = MakeAxis(x0, x1, w100, w100), ay = MakeAxis(y0, y1, h100, h100);
  for (int32_t y = 0; y < out.h; y++) {
    if (!Inside(ay, y, src.h)) continue;
    int64_t py = ay.Position(y), sy = ay.q + (py >> 8);
    uint32_t fy = threaded ? (uint32_t)(py & 255) : Sharpen(py & 255);
    for (int32_t x = 0; x < out.w; x++) {
      if (!Inside(ax, x, src.w)) continue;
      int64_t px = ax.Position(x), sx = ax.q + (px >> 8);
      uint32_t fx = Sharpen(px & 255);
      const uint8_t* p00 = PixelOf(src, sx, sy);
      const uint8_t* p01 = PixelOf(src, Clamp(sx + 1, src.w), sy);
      const uint8_t* p10 = PixelOf(src, sx, Clamp(sy + 1, src.h));
      const uint8_t* p11 = PixelOf(src, Clamp(sx + 1, src.w), Clamp(sy + 1, src.h));
      for (int c = 0; c < 4; c++) {
        uint32_t top = p00[c] * (256 - fx) + p01[c] * fx;
        uint32_t bottom = p10[c] * (256 - fx) + p11[c] * fx;
        PixelOf(out, x, y)[c] = (uint8_t)(threaded ? ((top * (256 - fy)) >> 16) + ((bottom * fy) >> 16)
                                                   : (((top >> 8) * (256 - fy) + (bottom >> 8) * fy) >> 8));
      }
    }
  }
  return out;
}

Picture RefBicubic(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, int32_t h) {
  Picture out = Blank(w, h);
  int64_t imageBytes = (int64_t)src.w * 4 * src.h;
  for (int32_t y = 0; y < h; y++) {
    int64_t py = (((int64_t)y * 65536) / h) * (y1 - y0 + 1) >> 8;
    int64_t by = y0 + (py >> 8), fy = py & 255;
    if (by < 0 || by >= src.h) continue;
    for (int32_t x = 0; x < w; x++) {
      int64_t px = (((int64_t)x * 65536) / w) * (x1 - x0 + 1) >> 8;
      int64_t bx = x0 + (px >> 8), fx = px & 255;
      if (bx < 0 || bx >= src.w) continue;
      int32_t sum[4] = {0, 0, 0, 0}, weights = 0;
      for (int m = 0; m < 4; m++)
        for (int n = 0; n < 4; n++) {
          int64_t offset = (by - 1 + m) * src.w * 4 + (bx - 1 + n) * 4;
          if (offset < 0 || offset >= imageBytes) continue;
          int32_t weight = CubicWeight(llabs(256 * (m - 1) - fy)) * CubicWeight(llabs(256 * (n - 1) - fx)) / 256;
          for (int c = 0; c < 4; c++) sum[c] += weight * src.bytes[offset + c];
          weights += weight;
        }
      if (weights == 0) weights = 1;
      for (int c = 0; c < 4; c++) {
        int32_t v = sum[c] / weights;
        PixelOf(out, x, y)[c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return out;
}

Picture RefSupersample(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w100,
                       int32_t h100) {
  Picture out = Blank(w100 / 100, h100 / 100);
  Axis ax = MakeAxis(x0, x1, w100, w100), ay = MakeAxis(y0, y1, h100, h100);
  Axis hx = MakeAxis(x0, x1, w100, 2 * (int64_t)w100), hy = MakeAxis(y0, y1, h100, 2 * (int64_t)h100);
  for (int32_t y = 0; y < out.h; y++) {
    if (!Inside(ay, y, src.h)) continue;
    for (int32_t x = 0; x < out.w; x++) {
      if (!Inside(ax, x, src.w)) continue;
      for (int c = 0; c < 4; c++) {
        uint32_t columns[2];
        for (int kx = 0; kx < 2; kx++) {
          int64_t px = hx.Position(2 * x + kx);
          int64_t sx = hx.q + (px >> 8);
          uint32_t cw = Sharpen(px & 255);
          uint32_t rows[2];
          for (int ky = 0; ky < 2; ky++) {
            int64_t py = hy.Position(2 * y + ky);
            int64_t sy = hy.q + (py >> 8);
            uint32_t rw = (uint32_t)(py & 255);
            auto at = [&](int64_t col, int64_t row) { return PixelOf(src, Clamp(col, src.w), Clamp(row, src.h))[c]; };
            uint32_t top = (at(sx, sy) * (256 - cw) + at(sx + 1, sy) * cw) >> 8;
            uint32_t bottom = (at(sx, sy + 1) * (256 - cw) + at(sx + 1, sy + 1) * cw) >> 8;
            rows[ky] = (top * (256 - rw) + bottom * rw) >> 8;
          }
          columns[kx] = (rows[0] + rows[1] + 1) >> 1;
        }
        PixelOf(out, x, y)[c] = (uint8_t)((columns[0] + columns[1] + 1) >> 1);
      }
    }
  }
  return out;
}

Picture RefLanczos(const Picture& src, int32_t w, int32_t h) {
  Picture between = Blank(w, src.h);
  for (int32_t y = 0; y < src.h; y++) LanczosLine(PixelOf(src, 0, y), 4, src.w, PixelOf(between, 0, y), 4, w);
  Picture out = Blank(w, h);
  for (int32_t x = 0; x < w; x++)
    LanczosLine(PixelOf(between, x, 0), (size_t)w * 4, src.h, PixelOf(out, x, 0), (size_t)w * 4, h);
  return out;
}
