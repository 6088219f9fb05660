// The picture scalers: sample positions of nearest scaling, bilinear weights and sharpening,
// identity scaling, zero fill outside the source, and no read past the image.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace
