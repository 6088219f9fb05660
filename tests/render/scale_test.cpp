// The picture scalers: sample positions of nearest scaling, bilinear weights and sharpening,
// identity scaling, zero fill outside the source, and no read past the image.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "render/render.h"

namespace {

// A picture whose pixel (x, y) holds x in B and G (low, high byte), y in R and 0xFF in A,
// exactly as large as an image buffer's pixels (no spare row).
std::vector<uint8_t> Coordinates(int w, int h) {
  std::vector<uint8_t> p((size_t)w * h * 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* q = p.data() + ((size_t)y * w + x) * 4;
      q[0] = (uint8_t)x;
      q[1] = (uint8_t)(x >> 8);
      q[2] = (uint8_t)y;
      q[3] = 0xFF;
    }
  return p;
}

uint32_t At(const std::vector<uint8_t>& p, int w, int x, int y) {
  uint32_t v;
  memcpy(&v, p.data() + ((size_t)y * w + x) * 4, 4);
  return v;
}

TEST(ScaleNearest, SamplesTheSourceColumnsOfTheFixedPointStep) {
  std::vector<uint8_t> src = Coordinates(640, 2);
  std::vector<uint8_t> dst(480 * 2 * 4, 0xCD);
  ScaleNearest(dst.data(), src.data(), 0, 0, 639, 1, 640, 2, 480, 2);
  struct Case {
    int outColumn, srcColumn;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 5}, {240, 319}, {479, 638}};
  for (const Case& c : cases) EXPECT_EQ(At(dst, 480, c.outColumn, 1) & 0xFFFF, (uint32_t)c.srcColumn) << c.outColumn;
}

TEST(ScaleNearest, OutputOutsideTheSourceIsZero) {
  // A rectangle that starts left of and above the image: those outputs have no source.
  std::vector<uint8_t> src = Coordinates(4, 4);
  std::vector<uint8_t> dst(8 * 8 * 4, 0xCD);
  ScaleNearest(dst.data(), src.data(), -2, -2, 5, 5, 4, 4, 8, 8);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
      uint32_t want = inside ? At(src, 4, x - 2, y - 2) : 0;
      EXPECT_EQ(At(dst, 8, x, y), want) << x << "," << y;
    }
}

TEST(ScaleBilinear, BothFormsReproduceAPictureScaledToItsOwnSize) {
  const int w = 37, h = 23;
  std::vector<uint8_t> src = Coordinates(w, h);
  for (auto scale : {ScaleBilinear, ScaleBilinearThreaded}) {
    std::vector<uint8_t> dst((size_t)w * h * 4, 0xCD);
    scale(dst.data(), src.data(), 0, 0, 100 * (w - 1), 100 * (h - 1), w, h, 100 * w, 100 * h);
    EXPECT_EQ(dst, src);
  }
}

TEST(ScaleBilinear, TwoPixelsToThreeBlendTheMiddleAndCopyTheEnds) {
  // Blue 0 and 200: the middle output sits at 128/256 between them.
  uint8_t src[8] = {0, 10, 20, 255, 200, 30, 20, 255};
  for (auto scale : {ScaleBilinear, ScaleBilinearThreaded}) {
    uint8_t dst[12];
    memset(dst, 0xCD, sizeof dst);
    scale(dst, src, 0, 0, 100, 0, 2, 1, 300, 100);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 10);
    EXPECT_EQ(dst[4], 100);
    EXPECT_EQ(dst[5], 20);
    EXPECT_EQ(dst[6], 20);
    EXPECT_EQ(dst[7], 255);
    EXPECT_EQ(dst[8], 200);
    EXPECT_EQ(dst[9], 30);
  }
}

TEST(ScaleBilinear, SharpeningPullsWeightsAwayFromTheMiddle) {
  // Two pixels, blue 0 and 255, to five: quarter steps. Sharpened, the weight 64 becomes 48 and
  // 192 becomes 208; the middle stays 128.
  uint8_t src[8] = {0, 0, 0, 0, 255, 0, 0, 0};
  uint8_t dst[5 * 4];
  ScaleBilinear(dst, src, 0, 0, 100, 0, 2, 1, 500, 100);
  const int want[5] = {0, 47, 127, 207, 255};
  for (int i = 0; i < 5; i++) EXPECT_EQ(dst[i * 4], want[i]) << i;
}

TEST(Scalers, DoNothingForOutputsOfNoSize) {
  uint8_t src[4] = {1, 2, 3, 4};
  uint8_t dst[4] = {9, 9, 9, 9};
  ScaleNearest(dst, src, 0, 0, 0, 0, 1, 1, 0, 5);
  ScaleBilinear(dst, src, 0, 0, 0, 0, 1, 1, 50, 100);
  ScaleBilinearThreaded(dst, src, 0, 0, 0, 0, 1, 1, 100, -100);
  EXPECT_EQ(dst[0], 9);
}

TEST(Scalers, EnlargingFillsEveryOutputPixelFromInsideTheImage) {
  // Under the address sanitizer a read past the 3 x 3 source (no spare row here) would fail.
  std::vector<uint8_t> src = Coordinates(3, 3);
  std::vector<uint8_t> dst(200 * 150 * 4, 0xCD);
  ScaleBilinearThreaded(dst.data(), src.data(), 0, 0, 200, 200, 3, 3, 20000, 15000);
  EXPECT_EQ(At(dst, 200, 199, 149), At(src, 3, 2, 2));
  ScaleBilinear(dst.data(), src.data(), 0, 0, 200, 200, 3, 3, 20000, 15000);
  EXPECT_EQ(At(dst, 200, 0, 0), At(src, 3, 0, 0));
  EXPECT_EQ(At(dst, 200, 199, 149), At(src, 3, 2, 2));
}

// The scalers against the per-pixel arithmetic on random pictures: enlarging and
// shrinking, odd widths, rectangles reaching outside the source, with and without workers.
struct ScaleCase {
  int srcW, srcH, outW, outH;
  int x0, y0, x1, y1;   // nearest: whole pixels; bilinear: the same times 100, plus `frac`
  int frac;
};

const ScaleCase SCALE_CASES[] = {
    {37, 23, 67, 41, 0, 0, 36, 22, 0},     {64, 48, 17, 9, 0, 0, 63, 47, 0},   {5, 4, 1, 1, 0, 0, 4, 3, 0},
    {9, 7, 33, 29, -3, -2, 11, 9, 37},     {1, 1, 13, 5, 0, 0, 0, 0, 0},       {66, 3, 65, 7, 2, 0, 60, 2, 55},
    {20, 20, 3, 67, 5, 5, 14, 14, 99},     {3, 9, 64, 2, 0, 0, 2, 8, 0},
};

std::vector<uint8_t> RandomPicture(int w, int h, uint32_t seed) {
  std::vector<uint8_t> p((size_t)w * h * 4);
  for (size_t i = 0; i < p.size(); i++) p[i] = (uint8_t)((seed += 0x9E3779B9u) >> 24);
  return p;
}

int Sharp(int k) {
  int v = (int)((k - 128) * 1.25 + 128);
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

// Positions in 1/256 pixel along one axis, and the whole pixel they count from.
std::vector<int64_t> BilinearPositions(int v0, int v1, int out100, int64_t* origin) {
  int64_t q = v0 / 100, f = ((int64_t)(v0 - 100 * q) << 8) / 100, span = (int64_t)v1 - v0;
  int64_t den = out100 - 100 != 0 ? out100 - 100 : 100;
  int64_t a = out100 >= span ? 0 : f, b = out100 >= span ? f : 0;
  std::vector<int64_t> pos(out100 / 100);
  for (size_t i = 0; i < pos.size(); i++) pos[i] = span * (256 * (int64_t)i + a) / den + b;
  *origin = q;
  return pos;
}

TEST(Scalers, EveryFormFollowsThePerPixelArithmetic) {
  for (int workers : {0, 3}) {
    if (workers) {
      g_WorkerCount = (uint8_t)workers;
      StartWorkerThreads();
    }
    for (const ScaleCase& c : SCALE_CASES) {
      std::vector<uint8_t> src = RandomPicture(c.srcW, c.srcH, (uint32_t)(c.srcW * 131 + c.outW));
      std::string where = std::to_string(c.srcW) + "x" + std::to_string(c.srcH) + " to " + std::to_string(c.outW) + "x" +
                          std::to_string(c.outH) + " workers " + std::to_string(workers);
      // Nearest.
      std::vector<uint8_t> got((size_t)c.outW * c.outH * 4, 0xCD), want(got.size(), 0);
      ScaleNearest(got.data(), src.data(), c.x0, c.y0, c.x1, c.y1, c.srcW, c.srcH, c.outW, c.outH);
      uint32_t stepX = (uint32_t)(((int64_t)(c.x1 - c.x0 + 1) << 16) / c.outW);
      uint32_t stepY = (uint32_t)(((int64_t)(c.y1 - c.y0 + 1) << 16) / c.outH);
      for (int y = 0; y < c.outH; y++)
        for (int x = 0; x < c.outW; x++) {
          int64_t sx = c.x0 + (int64_t)(((uint32_t)x * stepX) >> 16), sy = c.y0 + (int64_t)(((uint32_t)y * stepY) >> 16);
          if (sx >= 0 && sx < c.srcW && sy >= 0 && sy < c.srcH)
            memcpy(want.data() + ((size_t)y * c.outW + x) * 4, src.data() + ((size_t)sy * c.srcW + sx) * 4, 4);
        }
      EXPECT_EQ(got, want) << "nearest " << where;
      // Bilinear on the workers: sharpened column weights, plain row weights.
      int bx0 = c.x0 * 100 + c.frac, by0 = c.y0 * 100 + c.frac, bx1 = c.x1 * 100, by1 = c.y1 * 100;
      std::fill(got.begin(), got.end(), 0xCD);
      std::fill(want.begin(), want.end(), 0);
      ScaleBilinearThreaded(got.data(), src.data(), bx0, by0, bx1, by1, c.srcW, c.srcH, c.outW * 100, c.outH * 100);
      int64_t qx, qy;
      std::vector<int64_t> px = BilinearPositions(bx0, bx1, c.outW * 100, &qx);
      std::vector<int64_t> py = BilinearPositions(by0, by1, c.outH * 100, &qy);
      for (int y = 0; y < c.outH; y++)
        for (int x = 0; x < c.outW; x++) {
          int64_t sx = qx + (px[x] >> 8), sy = qy + (py[y] >> 8);
          if (sx < 0 || sx >= c.srcW || sy < 0 || sy >= c.srcH) continue;
          int64_t sx1 = sx + 1 < c.srcW ? sx + 1 : sx, sy1 = sy + 1 < c.srcH ? sy + 1 : sy;
          uint32_t fx = (uint32_t)Sharp((int)(px[x] & 0xFF)), fy = (uint32_t)(py[y] & 0xFF);
          auto at = [&](int64_t xx, int64_t yy, int ch) { return (uint32_t)src[((size_t)yy * c.srcW + xx) * 4 + ch]; };
          for (int ch = 0; ch < 4; ch++) {
            uint32_t top = at(sx, sy, ch) * (256 - fx) + at(sx1, sy, ch) * fx;
            uint32_t bottom = at(sx, sy1, ch) * (256 - fx) + at(sx1, sy1, ch) * fx;
            want[((size_t)y * c.outW + x) * 4 + ch] = (uint8_t)(((top * (256 - fy)) >> 16) + ((bottom * fy) >> 16));
          }
        }
      EXPECT_EQ(got, want) << "bilinear " << where;
      // Bilinear on one thread: both weights sharpened, each product taken from the top byte.
      std::fill(got.begin(), got.end(), 0xCD);
      std::fill(want.begin(), want.end(), 0);
      ScaleBilinear(got.data(), src.data(), bx0, by0, bx1, by1, c.srcW, c.srcH, c.outW * 100, c.outH * 100);
      for (int y = 0; y < c.outH; y++)
        for (int x = 0; x < c.outW; x++) {
          int64_t sx = qx + (px[x] >> 8), sy = qy + (py[y] >> 8);
          if (sx < 0 || sx >= c.srcW || sy < 0 || sy >= c.srcH) continue;
          int64_t sx1 = sx + 1 < c.srcW ? sx + 1 : sx, sy1 = sy + 1 < c.srcH ? sy + 1 : sy;
          uint32_t fx = (uint32_t)Sharp((int)(px[x] & 0xFF)), fy = (uint32_t)Sharp((int)(py[y] & 0xFF));
          auto at = [&](int64_t xx, int64_t yy, int ch) { return (uint32_t)src[((size_t)yy * c.srcW + xx) * 4 + ch]; };
          for (int ch = 0; ch < 4; ch++) {
            uint32_t top = at(sx, sy, ch) * (256 - fx) + at(sx1, sy, ch) * fx;
            uint32_t bottom = at(sx, sy1, ch) * (256 - fx) + at(sx1, sy1, ch) * fx;
            want[((size_t)y * c.outW + x) * 4 + ch] = (uint8_t)(((top >> 8) * (256 - fy) + (bottom >> 8) * fy) >> 8);
          }
        }
      EXPECT_EQ(got, want) << "single-thread bilinear " << where;
    }
    StopWorkerThreads();
  }
}

}  // namespace
