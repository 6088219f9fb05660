// Blurs and shadows through the effect engine, against a direct sum over every window: the
// windows shrink at the rectangle's edges, averages truncate after each pass, and the alpha
// bytes follow the layer's alpha flag.
#include <algorithm>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "layers/image_filters.h"
#include "tests/filters/filter_fixture.h"

namespace {

class BlurTest : public FilterTest {};

uint32_t Channel(uint32_t p, int c) { return (p >> (8 * c)) & 0xFF; }

// One pass, summing each window directly: along rows when `rows`, else along columns. The image
// is w x h; only the channels first..last are averaged, the others are copied.
Pixels DirectPass(const Pixels& in, int32_t w, int32_t h, int64_t r, bool rows, int first, int last) {
  Pixels out(in.size());
  for (int32_t y = 0; y < h; y++) {
    for (int32_t x = 0; x < w; x++) {
      int64_t pos = rows ? x : y, len = rows ? w : h;
      int64_t lo = std::max<int64_t>(0, pos - r), hi = std::min<int64_t>(len - 1, pos + r);
      uint32_t result = in[size_t(y) * w + x];
      for (int c = first; c <= last; c++) {
        uint64_t sum = 0;
        for (int64_t i = lo; i <= hi; i++)
          sum += Channel(rows ? in[size_t(y) * w + size_t(i)] : in[size_t(i) * w + x], c);
        result = (result & ~(0xFFu << (8 * c))) | uint32_t(sum / uint64_t(hi - lo + 1)) << (8 * c);
      }
      out[size_t(y) * w + x] = result;
    }
  }
  return out;
}

Pixels Expected(int32_t code, const Pixels& rect, int32_t w, int32_t h, int64_t radius, bool hasAlpha) {
  int64_t r = radius <= 0 ? 1 : std::min<int64_t>(radius, 1 << 20);
  bool shadow = code == FILTER_ALPHA_SHADOW || (code == FILTER_ALPHA_BLUR && hasAlpha);
  int first = shadow ? 3 : 0, last = shadow || hasAlpha ? 3 : 2;
  Pixels out = rect;
  if (code != FILTER_BLUR_VERTICAL) out = DirectPass(out, w, h, r, true, first, last);
  if (code != FILTER_BLUR_HORIZONTAL) out = DirectPass(out, w, h, r, false, first, last);
  for (size_t i = 0; i < out.size(); i++) {
    if (shadow) out[i] &= 0xFF000000u;
    else if (!hasAlpha) out[i] = (out[i] & 0xFFFFFF) | (rect[i] & 0xFF000000u);
  }
  return out;
}

TEST_F(BlurTest, EveryBlurMatchesDirectWindowSumsOnWholeLayersAndEdgeRectangles) {
  const int32_t W = 9, H = 7;
  Pixels image = RandomPixels(W * H, 21);
  struct Rect {
    int32_t x0, y0, x1, y1;
  };
  const Rect rects[] = {{0, 0, 8, 6}, {0, 0, 0, 6}, {8, 0, 8, 6}, {0, 6, 8, 6}, {6, 5, 8, 6}, {3, 2, 5, 4}, {4, 4, 4, 4}};
  const int64_t radii[] = {-4, 0, 1, 2, 3, 7, 100, INT64_MAX};
  for (int32_t code = FILTER_BOX_BLUR; code <= FILTER_ALPHA_BLUR; code++) {
    for (uint8_t hasAlpha : {0, 1}) {
      for (const Rect& rc : rects) {
        for (int64_t r : radii) {
          SCOPED_TRACE("code " + std::to_string(code) + " alpha " + std::to_string(hasAlpha) + " rect " +
                       std::to_string(rc.x0) + "," + std::to_string(rc.y0) + " r " + std::to_string(r));
          FreeLayerChildren(w0_);
          NameNode* layer = AddLayer("a", W, H, image, hasAlpha);
          NameNode* dest = AddLayer("d", 2, 2, RandomPixels(4, 1));
          ASSERT_EQ(ApplyImageFilter(code, layer, dest, rc.x0, rc.y0, rc.x1, rc.y1, r, 0, 1, 0), 0);
          int32_t w = rc.x1 - rc.x0 + 1, h = rc.y1 - rc.y0 + 1;
          ASSERT_EQ(GetLayerRecord(dest)->mWidth, w);
          ASSERT_EQ(GetLayerRecord(dest)->mHeight, h);
          EXPECT_EQ(Read(dest), Expected(code, CutRect(image, W, rc.x0, rc.y0, rc.x1, rc.y1), w, h, r, hasAlpha));
          EXPECT_EQ(Read(layer), image);
        }
      }
    }
  }
  EXPECT_EQ(ShownMessageId(), 0);
}

TEST_F(BlurTest, WideWindowsStillTruncateExactly) {
  // Windows of up to 2001 pixels, where the averages of long sums are computed.
  const int32_t W = 2001;
  Pixels image = RandomPixels(W * 2, 33);
  for (int64_t r : {int64_t(700), int64_t(1000), int64_t(5000)}) {
    SCOPED_TRACE(r);
    FreeLayerChildren(w0_);
    NameNode* layer = AddLayer("a", W, 2, image, 1);
    ASSERT_EQ(ApplyImageFilter(FILTER_BLUR_HORIZONTAL, layer, nullptr, 0, 0, W - 1, 1, r, 0, 0, 0), 0);
    EXPECT_EQ(Read(layer), Expected(FILTER_BLUR_HORIZONTAL, image, W, 2, r, true));
  }
}

TEST_F(BlurTest, ARowPassAveragesShrinkingWindows) {
  // 0, 30, 60 in every colour: windows of 2, 3 and 2 pixels give 15, 30, 45.
  const Pixels row = {0xFF000000, 0xFF1E1E1E, 0xFF3C3C3C};
  struct Case {
    int64_t radius;
    Pixels expected;
  };
  const Case cases[] = {
      {1, {0xFF0F0F0F, 0xFF1E1E1E, 0xFF2D2D2D}},
      {0, {0xFF0F0F0F, 0xFF1E1E1E, 0xFF2D2D2D}},
      {-9, {0xFF0F0F0F, 0xFF1E1E1E, 0xFF2D2D2D}},
      {2, {0xFF1E1E1E, 0xFF1E1E1E, 0xFF1E1E1E}},
      {INT64_MAX, {0xFF1E1E1E, 0xFF1E1E1E, 0xFF1E1E1E}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.radius);
    FreeLayerChildren(w0_);
    NameNode* layer = AddLayer("a", 3, 1, row, 0);
    ASSERT_EQ(ApplyImageFilter(FILTER_BLUR_HORIZONTAL, layer, nullptr, 0, 0, 2, 0, c.radius, 0, 0, 0), 0);
    EXPECT_EQ(Read(layer), c.expected);
  }
  // A one-pixel-wide rectangle: every row window holds one pixel.
  FreeLayerChildren(w0_);
  Pixels column = RandomPixels(5, 4);
  NameNode* layer = AddLayer("a", 1, 5, column, 1);
  ASSERT_EQ(ApplyImageFilter(FILTER_BLUR_HORIZONTAL, layer, nullptr, 0, 0, 0, 4, 3, 0, 0, 0), 0);
  EXPECT_EQ(Read(layer), column);
}

TEST_F(BlurTest, AnOpaqueLayerWithoutAlphaKeepsItsAlphaAndItsShadowIsBlack) {
  Pixels image = RandomPixels(16, 8);
  for (uint32_t& p : image) p |= 0xFF000000u;
  NameNode* layer = AddLayer("a", 4, 4, image, 0);
  NameNode* blurred = AddLayer("b", 1, 1, {0});
  NameNode* shadow = AddLayer("s", 1, 1, {0});
  ASSERT_EQ(ApplyImageFilter(FILTER_BOX_BLUR, layer, blurred, 0, 0, 3, 3, 2, 0, 1, 0), 0);
  ASSERT_EQ(ApplyImageFilter(FILTER_ALPHA_SHADOW, layer, shadow, 0, 0, 3, 3, 2, 0, 1, 0), 0);
  for (uint32_t p : Read(blurred)) EXPECT_EQ(p >> 24, 0xFFu);
  EXPECT_EQ(Read(shadow), Pixels(16, 0xFF000000u));
  EXPECT_EQ(GetLayerRecord(shadow)->mHasAlpha, 0);
}

}  // namespace
