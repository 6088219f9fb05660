// RotateLayerImage: plain copies at whole turns, the half turn's mirror, quarter turns and an
// oblique angle against the fixed-point mapping, what each method does beside the turned
// picture, where the result goes and the alpha flag it gets.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "layers/image_scale.h"
#include "tests/scale/scale_fixture.h"

namespace {

// The turned picture by the fixed-point mapping with cos and sin in 1/65536, drawing only the
// pixels whose source lies inside; the others keep `background`.
Picture RefRotate(const Picture& src, int64_t c, int64_t s, const Picture& background) {
  Picture out = background;
  int64_t cx = src.w / 2, cy = src.h / 2;
  for (int32_t y = 0; y < src.h; y++)
    for (int32_t x = 0; x < src.w; x++) {
      int64_t nx = cx * 65536 + c * (x - cx) - s * (y - cy);
      int64_t ny = cy * 65536 + s * (x - cx) + c * (y - cy);
      int64_t sx = nx / 65536, sy = ny / 65536;
      if (nx <= -65536 || ny <= -65536 || sx >= src.w || sy >= src.h) continue;
      memcpy(out.bytes.data() + ((size_t)y * src.w + x) * 4, src.bytes.data() + ((size_t)sy * src.w + sx) * 4, 4);
    }
  return out;
}

class RotateLayerTest : public ScaleLayerTest {
 protected:
  // Turns a fresh layer holding `src` in place and returns its picture.
  Picture Rotated(const Picture& src, int64_t angle, int32_t method) {
    NameNode* a = AddLayer(("r" + std::to_string(serial_++)).c_str(), src);
    EXPECT_EQ(RotateLayerImage(a, nullptr, 0, 0, src.w - 1, src.h - 1, angle, 0, method), 0);
    return ImageOf(a);
  }
  int serial_ = 0;
};

TEST_F(RotateLayerTest, WholeTurnsCopyThePicture) {
  Picture src = NoisePicture(9, 6, 1);
  for (int64_t angle : {0, 360, -720, 3600})
    for (int32_t method : {11, 12}) EXPECT_EQ(Rotated(src, angle, method).bytes, src.bytes) << angle;
}

TEST_F(RotateLayerTest, AHalfTurnMirrorsBothAxes) {
  for (Picture src : {NoisePicture(20, 12, 2), NoisePicture(7, 5, 3)}) {
    for (int64_t angle : {180, -180, 540}) {
      for (int32_t method : {11, 12}) {
        Picture got = Rotated(src, angle, method);
        for (int y = 0; y < src.h; y++)
          for (int x = 0; x < src.w; x++)
            ASSERT_EQ(got.At(x, y), src.At(src.w - 1 - x, src.h - 1 - y)) << angle << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(RotateLayerTest, QuarterTurnsClearBesideThePictureWithEitherMethod) {
  Picture src = NoisePicture(20, 12, 4);
  Picture cleared = UniformPicture(20, 12, 0);
  Picture left = RefRotate(src, 0, 65536, cleared);
  Picture right = RefRotate(src, 0, -65536, cleared);
  // Counter-clockwise on screen: right of the centre shows what lay below it.
  EXPECT_EQ(left.At(10 + 3, 6), src.At(10, 6 + 3));
  for (int32_t method : {11, 12}) {
    EXPECT_EQ(Rotated(src, 90, method).bytes, left.bytes) << method;
    EXPECT_EQ(Rotated(src, 270, method).bytes, right.bytes) << method;
    EXPECT_EQ(Rotated(src, -90, method).bytes, right.bytes) << method;
  }
  // Into a second layer of the same size, whose old pixels the sides do not keep.
  NameNode* a = AddLayer("a", src);
  NameNode* b = AddLayer("b", UniformPicture(20, 12, 0xEEEEEEEE));
  ASSERT_EQ(RotateLayerImage(a, b, 0, 0, 19, 11, 90, 1, 12), 0);
  EXPECT_EQ(ImageOf(b).bytes, left.bytes);
}

TEST_F(RotateLayerTest, AnObliqueTurnDrawsExactlyThePixelsWithASourceInside) {
  // 30 degrees: cos and sin in 1/65536 are 56755 and 32767.
  Picture src = NoisePicture(20, 12, 5);
  Picture old = UniformPicture(20, 12, 0xEEEEEEEE);
  Picture cleared = RefRotate(src, 56755, 32767, UniformPicture(20, 12, 0));
  EXPECT_EQ(cleared.At(10, 6), src.At(10, 6));
  EXPECT_EQ(Rotated(src, 30, 11).bytes, cleared.bytes);
  // A new picture has no old pixels: what the second method leaves is cleared too.
  EXPECT_EQ(Rotated(src, 30, 12).bytes, cleared.bytes);
  // Into an existing buffer the first method clears beside the picture and the second keeps it.
  NameNode* a = AddLayer("a", src);
  NameNode* b1 = AddLayer("b1", old);
  NameNode* b2 = AddLayer("b2", old);
  ASSERT_EQ(RotateLayerImage(a, b1, 0, 0, 19, 11, 30, 1, 11), 0);
  ASSERT_EQ(RotateLayerImage(a, b2, 0, 0, 19, 11, 30, 1, 12), 0);
  EXPECT_EQ(ImageOf(b1).bytes, cleared.bytes);
  EXPECT_EQ(ImageOf(b2).bytes, RefRotate(src, 56755, 32767, old).bytes);
}

TEST_F(RotateLayerTest, SmallTurnsOfTallAndWidePicturesStayInsideTheirRows) {
  // Under the address sanitizer any span beyond a row's end would fail here.
  for (Picture src : {NoisePicture(3, 40, 6), NoisePicture(40, 3, 7), NoisePicture(1, 1, 8), NoisePicture(16, 16, 9)}) {
    for (int64_t angle : {1, 20, 45, 89, 91, 179, 181, 269, 271, 359, -1}) {
      double theta = (double)((angle % 360 + 360) % 360) * 3.1415926535 / 180.0;
      Picture want = RefRotate(src, (int64_t)(65536.0 * cos(theta)), (int64_t)(65536.0 * sin(theta)),
                               UniformPicture(src.w, src.h, 0));
      EXPECT_EQ(Rotated(src, angle, 11).bytes, want.bytes) << src.w << "x" << src.h << " by " << angle;
    }
  }
}

TEST_F(RotateLayerTest, TheSecondLayerTakesTheSizeAndTheAlphaFlagFollowsTheAngle) {
  NameNode* a = AddLayer("a", NoisePicture(8, 5, 10));
  NameNode* b = AddLayer("b", NoisePicture(30, 2, 11));
  GetLayerRecord(a)->mHasAlpha = 0;
  ASSERT_EQ(RotateLayerImage(a, b, 0, 0, 7, 4, 180, 1, 11), 0);
  EXPECT_EQ(GetLayerRecord(b)->mWidth, 8);
  EXPECT_EQ(GetLayerRecord(b)->mHeight, 5);
  EXPECT_EQ(GetLayerRecord(b)->mHasAlpha, 0);
  ASSERT_EQ(RotateLayerImage(a, b, 0, 0, 7, 4, 45, 1, 11), 0);
  EXPECT_EQ(GetLayerRecord(b)->mHasAlpha, 1);
  EXPECT_EQ(GetLayerRecord(a)->mHasAlpha, 0);
}

TEST_F(RotateLayerTest, ALayerTurnedIntoItselfReadsItsOriginalPixels) {
  Picture src = NoisePicture(11, 11, 12);
  Picture want = Rotated(src, 90, 11);
  NameNode* a = AddLayer("self", src);
  ASSERT_EQ(RotateLayerImage(a, a, 0, 0, 10, 10, 90, 1, 11), 0);
  EXPECT_EQ(ImageOf(a).bytes, want.bytes);
}

TEST_F(RotateLayerTest, UnknownMethodsAndMissingImagesDrawNothing) {
  Picture src = NoisePicture(5, 4, 13);
  NameNode* a = AddLayer("a", src);
  NameNode* b = AddLayer("b", NoisePicture(5, 4, 14));
  Picture before = ImageOf(b);
  ASSERT_EQ(RotateLayerImage(a, b, 0, 0, 4, 3, 30, 1, 13), 0);
  EXPECT_EQ(ImageOf(b).bytes, before.bytes);
  NameNode* empty = AddLayer("empty", Picture{});
  EXPECT_EQ(RotateLayerImage(empty, b, 0, 0, 0, 0, 30, 1, 11), -1);
  EXPECT_EQ(RotateLayerImage(a, nullptr, 0, 0, 0, 0, 30, 1, 11), -1);
  EXPECT_EQ(ImageOf(a).bytes, src.bytes);
}

}  // namespace
