// ScaleLayerImage on layers: where the result goes, which buffers are reused, what the layer
// takes over, and the sizes and rectangles it refuses.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "layers/image_scale.h"
#include "platform/headless/headless.h"
#include "tests/scale/scale_fixture.h"

namespace {

using ScaleLayerImageTest = ScaleLayerTest;

TEST_F(ScaleLayerImageTest, InPlaceScalingReplacesTheImageAndMarksTheNewArea) {
  NameNode* a = AddLayer("a", NoisePicture(4, 4, 1));
  Picture want = RefNearest(ImageOf(a), 0, 0, 3, 3, 40, 30);
  GetLayerRecord(w0_)->mDirtyCount = 0;
  ASSERT_EQ(ScaleLayerImage(a, nullptr, 0, 0, 300, 300, 4000, 3000, 0, 10), 0);
  EXPECT_EQ(ImageOf(a).bytes, want.bytes);
  const LayerRecord* parent = GetLayerRecord(w0_);
  EXPECT_EQ(parent->mChanged, 1);
  EXPECT_EQ(parent->mDirtyRect[2], 39);
  EXPECT_EQ(parent->mDirtyRect[3], 29);
}

TEST_F(ScaleLayerImageTest, ANewPictureTakesTheFirstLayersAlphaFlag) {
  for (uint8_t alpha : {0, 1}) {
    NameNode* a = AddLayer(alpha ? "a1" : "a0", NoisePicture(6, 6, 2));
    NameNode* b = AddLayer(alpha ? "b1" : "b0", NoisePicture(2, 2, 3));
    GetLayerRecord(a)->mHasAlpha = alpha;
    GetLayerRecord(b)->mHasAlpha = !alpha;
    ASSERT_EQ(ScaleLayerImage(a, b, 0, 0, 500, 500, 300, 300, 1, 31), 0);
    EXPECT_EQ(GetLayerRecord(b)->mHasAlpha, alpha);
    EXPECT_EQ(GetLayerRecord(a)->mWidth, 6);
  }
}

TEST_F(ScaleLayerImageTest, ASecondLayerOfTheOutputSizeIsWrittenInItsOwnBuffer) {
  NameNode* a = AddLayer("a", NoisePicture(10, 10, 4));
  NameNode* b = AddLayer("b", NoisePicture(5, 5, 5));
  LayerRecord* rb = GetLayerRecord(b);
  const uint8_t* buffer = rb->mPixels;
  rb->mHasAlpha = 1;
  ASSERT_EQ(ScaleLayerImage(a, b, 0, 0, 900, 900, 500, 500, 1, 10), 0);
  EXPECT_EQ(rb->mPixels, buffer);
  EXPECT_EQ(rb->mHasAlpha, 1);
  EXPECT_EQ(ImageOf(b).bytes, RefNearest(ImageOf(a), 0, 0, 9, 9, 5, 5).bytes);
}

TEST_F(ScaleLayerImageTest, AKeptBufferTakesASmallerResultAndOnlyTheSizeChanges) {
  NameNode* a = AddLayer("a", NoisePicture(20, 20, 6));
  NameNode* b = AddLayer("b", NoisePicture(100, 100, 7));
  NameNode* c = AddLayer("c", NoisePicture(100, 100, 8));
  GetLayerRecord(b)->mKeepBufferOnShrink = 1;
  const uint8_t* kept = GetLayerRecord(b)->mPixels;
  const uint8_t* replaced = GetLayerRecord(c)->mPixels;
  for (NameNode* out : {b, c}) ASSERT_EQ(ScaleLayerImage(a, out, 0, 0, 1900, 1900, 5000, 5000, 1, 41), 0);
  EXPECT_EQ(GetLayerRecord(b)->mPixels, kept);
  EXPECT_NE(GetLayerRecord(c)->mPixels, replaced);
  Picture want = RefSupersample(ImageOf(a), 0, 0, 1900, 1900, 5000, 5000);
  for (NameNode* out : {b, c}) {
    EXPECT_EQ(GetLayerRecord(out)->mWidth, 50);
    EXPECT_EQ(GetLayerRecord(out)->mHeight, 50);
    EXPECT_EQ(ImageOf(out).bytes, want.bytes);
  }
}

TEST_F(ScaleLayerImageTest, ALayerScaledIntoItselfReadsItsOriginalPixels) {
  // Shifted one pixel right: writing in place would smear the first column across the row.
  Picture src = NoisePicture(12, 9, 9);
  Picture want = RefNearest(src, -1, 0, 10, 8, 12, 9);
  for (int32_t method : {10, 31}) {
    NameNode* a = AddLayer(("a" + std::to_string(method)).c_str(), src);
    ASSERT_EQ(ScaleLayerImage(a, a, -100, 0, 1000, 800, 1200, 900, 1, method), 0);
    Picture reference = method == 10 ? want : RefBicubic(src, -1, 0, 10, 8, 12, 9);
    EXPECT_EQ(ImageOf(a).bytes, reference.bytes);
  }
}

TEST_F(ScaleLayerImageTest, AnUnknownMethodLeavesANewPictureClearedAndAReusedOneAlone) {
  NameNode* a = AddLayer("a", NoisePicture(8, 8, 10));
  NameNode* b = AddLayer("b", NoisePicture(4, 4, 11));
  Picture before = ImageOf(b);
  ASSERT_EQ(ScaleLayerImage(a, b, 0, 0, 700, 700, 400, 400, 1, 22), 0);
  EXPECT_EQ(ImageOf(b).bytes, before.bytes);
  ASSERT_EQ(ScaleLayerImage(a, nullptr, 0, 0, 700, 700, 300, 200, 0, 22), 0);
  Picture cleared = ImageOf(a);
  EXPECT_EQ(cleared.w, 3);
  EXPECT_EQ(cleared.h, 2);
  EXPECT_EQ(cleared.bytes, std::vector<uint8_t>(3 * 2 * 4, 0));
}

TEST_F(ScaleLayerImageTest, SizesAndRectanglesOutsideTheLimitsAreRefused) {
  struct Case {
    const char* name;
    int64_t x0, y0, x1, y1, w100, h100;
    int result;
    int message;          // 100010 or 0
    const char* box;      // the size box's text, or null
  };
  const Case cases[] = {
      {"8192 wide", 0, 0, 300, 300, 819200, 100, 0, 0, nullptr},
      {"8192 high", 0, 0, 300, 300, 100, 819299, 0, 0, nullptr},
      {"8193 wide", 0, 0, 300, 300, 819300, 200, -1, 100010, "ＣＧサイズが大きすぎます。X=8193, Y=2"},
      {"8193 high", 0, 0, 300, 300, 500, 819300, -1, 100010, "ＣＧサイズが大きすぎます。X=5, Y=8193"},
      {"huge size", 0, 0, 300, 300, INT64_MAX, 100, -1, 100010, "ＣＧサイズが大きすぎます。X=2147483647, Y=1"},
      {"zero width", 0, 0, 300, 300, 99, 500, -1, 0, nullptr},
      {"zero height", 0, 0, 300, 300, 500, 0, -1, 0, nullptr},
      {"negative size", 0, 0, 300, 300, -500, 500, -1, 0, nullptr},
      {"reversed columns", 300, 0, 0, 300, 500, 500, -1, 0, nullptr},
      {"reversed rows", 0, 300, 300, 0, 500, 500, -1, 0, nullptr},
      {"huge rectangle", 0, 0, 100000000000LL, 300, 500, 500, -1, 0, nullptr},
      {"far negative corner", -1600001, 0, 300, 300, 500, 500, -1, 0, nullptr},
      {"corners at the limit", -1600000, -1600000, 1600000, 1600000, 500, 500, 0, 0, nullptr},
  };
  Picture src = NoisePicture(4, 4, 12);
  for (const Case& c : cases) {
    for (int32_t method : {10, 21, 31, 41, 51}) {
      SCOPED_TRACE(std::string(c.name) + ", method " + std::to_string(method));
      ResetMessageState();
      HeadlessClearCalls();
      g_QuitFlag = 0;
      NameNode* a = AddLayer(("a" + std::string(c.name) + std::to_string(method)).c_str(), src);
      EXPECT_EQ(ScaleLayerImage(a, nullptr, c.x0, c.y0, c.x1, c.y1, c.w100, c.h100, 0, method), c.result);
      EXPECT_EQ(ShownMessageId(), c.message);
      EXPECT_EQ(g_QuitFlag.load(), c.message ? 1 : 0);
      if (c.box) {
        EXPECT_TRUE(BoxShown(c.box));
      }
      if (c.result != 0) {
        EXPECT_EQ(ImageOf(a).bytes, src.bytes);
      }
    }
  }
}

TEST_F(ScaleLayerImageTest, LayersWithoutAnImageAreRefused) {
  NameNode* empty = AddLayer("empty", Picture{});
  NameNode* a = AddLayer("a", NoisePicture(3, 3, 13));
  EXPECT_EQ(ScaleLayerImage(empty, a, 0, 0, 200, 200, 300, 300, 1, 10), -1);
  EXPECT_EQ(ScaleLayerImage(nullptr, a, 0, 0, 200, 200, 300, 300, 1, 10), -1);
  EXPECT_EQ(ScaleLayerImage(a, nullptr, 0, 0, 200, 200, 300, 300, 1, 10), -1);
  EXPECT_EQ(GetLayerRecord(a)->mWidth, 3);
  // A new record is 1 x 1 without pixels: a 1 x 1 result gets a buffer of its own.
  NameNode* fresh = AddLayer("fresh", Picture{});
  ASSERT_EQ(ScaleLayerImage(a, fresh, 100, 100, 100, 100, 100, 100, 1, 10), 0);
  EXPECT_EQ(ImageOf(fresh).At(0, 0), ImageOf(a).At(1, 1));
}

}  // namespace
