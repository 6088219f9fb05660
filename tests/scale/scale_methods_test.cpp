// The five scaling methods through ScaleLayerImage: each against its reference, identity and
// exact 2x scalings with known pixels, flat pictures staying flat, and the same pixels on any
// number of workers.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "layers/image_scale.h"
#include "layers/pixel_kernels.h"
#include "tests/scale/scale_fixture.h"

namespace {

struct Rect100 {
  int32_t x0, y0, x1, y1;
};

Rect100 Whole(const Picture& p) { return {0, 0, 100 * (p.w - 1), 100 * (p.h - 1)}; }

class ScaleMethodTest : public ScaleLayerTest {
 protected:
  // Scales `src` into a fresh second layer by `method` and returns the result.
  Picture Scale(const Picture& src, Rect100 r, int32_t w100, int32_t h100, int32_t method) {
    NameNode* a = AddLayer(("a" + std::to_string(serial_)).c_str(), src);
    NameNode* b = AddLayer(("b" + std::to_string(serial_)).c_str(), Picture{});
    serial_++;
    EXPECT_EQ(ScaleLayerImage(a, b, r.x0, r.y0, r.x1, r.y1, w100, h100, 1, method), 0);
    return ImageOf(b);
  }
  static Picture Reference(const Picture& src, Rect100 r, int32_t w100, int32_t h100, int32_t method) {
    int32_t w = w100 / 100, h = h100 / 100;
    switch (method) {
      case 10: return RefNearest(src, r.x0 / 100, r.y0 / 100, r.x1 / 100, r.y1 / 100, w, h);
      case 21: return RefBilinear(src, r.x0, r.y0, r.x1, r.y1, w100, h100, g_AllowSse != 0);
      case 31: return RefBicubic(src, r.x0 / 100, r.y0 / 100, r.x1 / 100, r.y1 / 100, w, h);
      case 41: return RefSupersample(src, r.x0, r.y0, r.x1, r.y1, w100, h100);
      default: return RefLanczos(src, w, h);
    }
  }
  void SetUp() override {
    ScaleLayerTest::SetUp();
    g_CpuFeatures[CPU_SSE] = 1;
    g_AllowSse = 1;
  }
  int serial_ = 0;
};

struct MethodCase {
  const char* name;
  int32_t srcW, srcH;
  bool whole;        // the whole image, corner to corner
  Rect100 rect;      // else this rectangle
  int32_t w100, h100;
};

const MethodCase kMethodCases[] = {
    {"identity", 16, 12, true, {}, 1600, 1200},
    {"double", 8, 6, true, {}, 1600, 1200},
    {"half", 16, 12, true, {}, 800, 600},
    {"odd sizes with fractional corners", 13, 7, false, {37, 12, 1150, 590}, 2950, 550},
    {"fractional output size", 9, 9, true, {}, 1475, 420},
    {"rectangle partly outside the image", 13, 7, false, {-300, -250, 1500, 900}, 2000, 1500},
    {"rectangle inside, shrinking", 30, 20, false, {510, 320, 2290, 1675}, 700, 900},
    {"one pixel to many", 1, 1, true, {}, 500, 300},
    {"one row to a column", 9, 1, true, {}, 100, 700},
};

TEST_F(ScaleMethodTest, EveryMethodMatchesItsReference) {
  for (uint8_t sse : {0, 1}) {
    g_AllowSse = sse;
    for (int32_t method : {10, 21, 31, 41, 51}) {
      if (method != 21 && sse == 0) continue;
      for (const MethodCase& c : kMethodCases) {
        SCOPED_TRACE(std::string(c.name) + ", method " + std::to_string(method) + ", sse " + std::to_string(sse));
        Picture src = NoisePicture(c.srcW, c.srcH, (uint32_t)(c.srcW * 31 + c.srcH));
        Rect100 r = c.whole ? Whole(src) : c.rect;
        Picture got = Scale(src, r, c.w100, c.h100, method);
        Picture want = Reference(src, r, c.w100, c.h100, method);
        ASSERT_EQ(got.w, want.w);
        ASSERT_EQ(got.h, want.h);
        EXPECT_EQ(got.bytes, want.bytes);
      }
    }
  }
}

TEST_F(ScaleMethodTest, ScalingToTheOwnSizeReproducesTheImage) {
  // Supersampling averages half steps and is no identity; every other method is. Bicubic
  // positions are whole pixels only where the size divides 65536.
  for (Picture src : {NoisePicture(4, 4, 1), NoisePicture(16, 8, 3), NoisePicture(23, 17, 2)}) {
    for (uint8_t sse : {0, 1}) {
      g_AllowSse = sse;
      for (int32_t method : {10, 21, 31, 51}) {
        if (method == 31 && src.w == 23) continue;
        SCOPED_TRACE("method " + std::to_string(method) + " at " + std::to_string(src.w));
        EXPECT_EQ(Scale(src, Whole(src), 100 * src.w, 100 * src.h, method).bytes, src.bytes);
      }
    }
  }
}

TEST_F(ScaleMethodTest, ExactDoublingAndHalvingKeepTheSampledPixels) {
  Picture small = NoisePicture(8, 4, 3);
  Picture big = NoisePicture(16, 8, 4);
  for (int32_t method : {10, 31}) {
    SCOPED_TRACE(method);
    // Left-aligned: output pixel 2x of a doubling sits exactly on source pixel x, and output
    // pixel x of a halving on source pixel 2x.
    Picture up = Scale(small, Whole(small), 1600, 800, method);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 16; x++)
        if (method == 10 || (x % 2 == 0 && y % 2 == 0)) {
          EXPECT_EQ(up.At(x, y), small.At(x / 2, y / 2)) << x << "," << y;
        }
    Picture down = Scale(big, Whole(big), 800, 400, method);
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 8; x++) EXPECT_EQ(down.At(x, y), big.At(2 * x, 2 * y)) << x << "," << y;
  }
}

TEST_F(ScaleMethodTest, BicubicHalfStepsUseTheCubicWithMinusOne) {
  // One row, blue 0, 90, 180, 240, doubled: odd outputs sit half a pixel right of a source
  // pixel, where the kernel gives 160 to the two near taps and -32 to the two far ones. Taps
  // outside the image drop out of both the sum and the divisor.
  Picture src = UniformPicture(4, 1, 0);
  const uint8_t blue[4] = {0, 90, 180, 240};
  for (int x = 0; x < 4; x++) src.bytes[x * 4] = blue[x];
  Picture got = Scale(src, Whole(src), 800, 100, 31);
  const int want[8] = {
      0,   (160 * 0 + 160 * 90 - 32 * 180) / 288,
      90,  (-32 * 0 + 160 * 90 + 160 * 180 - 32 * 240) / 256,
      180, (-32 * 90 + 160 * 180 + 160 * 240) / 288,
      240, (-32 * 180 + 160 * 240) / 128,
  };
  for (int x = 0; x < 8; x++) EXPECT_EQ(got.bytes[x * 4], want[x]) << x;
}

TEST_F(ScaleMethodTest, AFlatPictureStaysFlatWithEveryMethod) {
  // The banded bilinear form shifts its two halves separately and may lose one; the single
  // thread form is the one that keeps a flat colour exactly.
  g_AllowSse = 0;
  const uint32_t colour = 0xC8329BE1;
  const int32_t sizes[][4] = {{5, 3, 17, 11}, {40, 30, 7, 9}, {3, 8, 1, 1}, {64, 2, 3, 40}};
  for (const auto& s : sizes) {
    Picture src = UniformPicture(s[0], s[1], colour);
    for (int32_t method : {10, 21, 31, 41, 51}) {
      SCOPED_TRACE("method " + std::to_string(method) + " to " + std::to_string(s[2]));
      Picture got = Scale(src, Whole(src), 100 * s[2], 100 * s[3], method);
      for (int y = 0; y < got.h; y++)
        for (int x = 0; x < got.w; x++)
          ASSERT_EQ(got.At(x, y), colour) << "method " << method << " at " << x << "," << y << " of " << s[2];
    }
  }
}

TEST_F(ScaleMethodTest, WorkerBandsGiveTheSamePixelsForAnyPoolSize) {
  Picture src = NoisePicture(37, 29, 5);
  const Rect100 r = {-150, 40, 3390, 2705};
  for (int32_t method : {10, 21, 41}) {
    Picture want = Reference(src, r, 5300, 4100, method);
    for (int32_t workers : {0, 1, 2, 3, 4}) {
      UseWorkers(workers);
      EXPECT_EQ(Scale(src, r, 5300, 4100, method).bytes, want.bytes) << "method " << method << ", " << workers;
    }
  }
}

TEST_F(ScaleMethodTest, LanczosWeightsFollowTheTwoLobeWindow) {
  EXPECT_DOUBLE_EQ(Lanczos2(0), 1.0);
  EXPECT_NEAR(Lanczos2(1), 0.0, 1e-6);
  EXPECT_EQ(Lanczos2(2), 0.0);
  EXPECT_EQ(Lanczos2(-2.5), 0.0);
  EXPECT_NEAR(Lanczos2(0.5), Lanczos2(-0.5), 1e-12);
  EXPECT_NEAR(Lanczos2(0.5), (2 / 3.14159265) * (0.70710678 / (3.14159265 / 4)), 1e-5);
  EXPECT_DOUBLE_EQ(Sinc(0), 1.0);
}

}  // namespace
