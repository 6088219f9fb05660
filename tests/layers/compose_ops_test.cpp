// The layer compositing operations, rule wipes, pixel comparisons, trimming and canvas changes,
// called directly on layers of a small tree.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layers/blend_tables.h"
#include "layers/compose_ops.h"
#include "platform/headless/headless.h"
#include "tests/layers/layer_fixture.h"

namespace {

class ComposeOpsTest : public LayerTreeTest {
 protected:
  // A layer whose pixel (x, y) is `base` + y * 16 + x, so any moved pixel is recognisable.
  NameNode* Patterned(const char* path, int32_t w, int32_t h, uint32_t base) {
    NameNode* node = AddLayer(path, false, 1, w, h);
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) SetPixel(node, x, y, base + uint32_t(y * 16 + x));
    return node;
  }
  NameNode* Filled(const char* path, int32_t w, int32_t h, uint32_t pixel) {
    NameNode* node = AddLayer(path, false, 1, w, h);
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) SetPixel(node, x, y, pixel);
    return node;
  }
  std::vector<uint32_t> Pixels(NameNode* node) {
    std::vector<uint32_t> out;
    LayerRecord* r = GetLayerRecord(node);
    for (int32_t y = 0; y < r->mHeight; y++)
      for (int32_t x = 0; x < r->mWidth; x++) out.push_back(PixelAt(node, x, y));
    return out;
  }
  bool BoxShown(const char* text) {
    for (const std::string& call : HeadlessCalls())
      if (call.find(text) != std::string::npos) return true;
    return false;
  }
};

struct ClipCase {
  int64_t x, y;
  int32_t sx, sy, dx, dy, w, h;   // w or h of 0: no overlap
};

TEST_F(ComposeOpsTest, ClipKeepsOnlyTheOverlapWhereverTheSourceIsPlaced) {
  LayerRecord target{}, source{};
  target.mWidth = 10, target.mHeight = 8;
  source.mWidth = 4, source.mHeight = 3;
  const ClipCase cases[] = {
      {0, 0, 0, 0, 0, 0, 4, 3},
      {-2, -1, 2, 1, 0, 0, 2, 2},
      {8, 6, 0, 0, 8, 6, 2, 2},
      {10, 0, 0, 0, 0, 0, 0, 0},
      {-4, 0, 0, 0, 0, 0, 0, 0},
      {0, 8, 0, 0, 0, 0, 0, 0},
      // Far-off positions neither overflow nor wrap into a small overlap.
      {INT64_MIN, 0, 0, 0, 0, 0, 0, 0},
      {INT64_MAX, INT64_MAX, 0, 0, 0, 0, 0, 0},
      {-(int64_t(1) << 32) + 2, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const ClipCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + ", " + std::to_string(c.y));
    ClipResult r = ClipComposeRect(&target, &source, c.x, c.y);
    if (c.w == 0) {
      EXPECT_TRUE(r.mWidth <= 0 || r.mHeight <= 0);
      continue;
    }
    EXPECT_EQ(r.mSourceX, c.sx);
    EXPECT_EQ(r.mSourceY, c.sy);
    EXPECT_EQ(r.mDestX, c.dx);
    EXPECT_EQ(r.mDestY, c.dy);
    EXPECT_EQ(r.mWidth, c.w);
    EXPECT_EQ(r.mHeight, c.h);
  }
}

TEST_F(ComposeOpsTest, ComposingPartlyOutsideChangesOnlyTheOverlap) {
  NameNode* source = Patterned("s", 4, 3, 0xFF000000);
  NameNode* target = AddLayer("t", false, 1, 6, 5);   // all zero: transparent black
  ComposeLayerOnto(source, target, -2, -1);
  // Over a transparent target an opaque source is copied exactly.
  for (int32_t y = 0; y < 5; y++)
    for (int32_t x = 0; x < 6; x++) {
      uint32_t want = x < 2 && y < 2 ? 0xFF000000u + uint32_t((y + 1) * 16 + x + 2) : 0;
      EXPECT_EQ(PixelAt(target, x, y), want) << x << "," << y;
    }
  EXPECT_EQ(GetLayerRecord(target)->mHasAlpha, 1);
  std::vector<uint32_t> before = Pixels(target);
  ComposeLayerOnto(source, target, 6, 0);
  ComposeOntoAlpha(source, target, 0, -3);
  EXPECT_EQ(Pixels(target), before);
}

TEST_F(ComposeOpsTest, SourceOpacityZeroLeavesComposeAloneButStillScalesTheTargetAlpha) {
  NameNode* source = Filled("s", 2, 2, 0xFF102030);
  NameNode* target = Filled("t", 2, 2, 0xC8405060);   // alpha 200
  GetLayerRecord(source)->mOpacity = 0;
  GetLayerRecord(target)->mOpacity = 128;
  ComposeLayerOnto(source, target, 0, 0);
  EXPECT_EQ(PixelAt(target, 1, 1), 0xC8405060u);
  EXPECT_EQ(GetLayerRecord(target)->mHasAlpha, 0);
  ComposeOntoAlpha(source, target, 0, 0);
  EXPECT_EQ(GetLayerRecord(target)->mHasAlpha, 1);
  EXPECT_EQ(PixelAt(target, 0, 0), 0x64405060u);   // alpha 200 * 128 / 256, colour kept
  // The target's opacity is not used up: the next call scales again.
  ComposeOntoAlpha(source, target, 0, 0);
  EXPECT_EQ(PixelAt(target, 0, 0) >> 24, 50u);
}

TEST_F(ComposeOpsTest, ComposingALayerOntoItselfReadsTheOriginalPixels) {
  NameNode* layer = Patterned("a", 4, 1, 0xFF000000);
  ComposeLayerOnto(layer, layer, 1, 0);
  // Each pixel takes its left neighbour as it was before the call, not as rewritten.
  EXPECT_EQ(PixelAt(layer, 0, 0), 0xFF000000u);
  EXPECT_EQ(PixelAt(layer, 1, 0), 0xFF000000u);
  EXPECT_EQ(PixelAt(layer, 2, 0), 0xFF000001u);
  EXPECT_EQ(PixelAt(layer, 3, 0), 0xFF000002u);
}

TEST_F(ComposeOpsTest, CrossFadeAtFullWeightGivesTheSecondSourceExactly) {
  NameNode* s1 = Filled("s1", 3, 2, 0x10203040);
  NameNode* s2 = Patterned("s2", 3, 2, 0x80000000);
  for (int64_t weight : {int64_t(255), int64_t(300), INT64_MAX}) {
    NameNode* t = AddLayer(("t" + std::to_string(weight)).c_str(), false, 1, 3, 2);
    ComposeThroughMask(s1, s2, t, 0, 0, weight);
    EXPECT_EQ(Pixels(t), Pixels(s2)) << weight;
    EXPECT_EQ(GetLayerRecord(t)->mHasAlpha, 1);
  }
  // Weight 0 (and anything below) still moves 1/256 of the way: equal sources stay equal.
  NameNode* same = Filled("same", 3, 2, 0x10203040);
  NameNode* t = AddLayer("tlow", false, 1, 3, 2);
  ComposeThroughMask(s1, same, t, 0, 0, -5);
  EXPECT_EQ(Pixels(t), Pixels(s1));
  // A smaller second source is cut to, not read past.
  NameNode* small = Filled("small", 1, 1, 0xFFFFFFFF);
  NameNode* t2 = AddLayer("t2", false, 1, 3, 2);
  ComposeThroughMask(s1, small, t2, 0, 0, 255);
  EXPECT_EQ(PixelAt(t2, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(t2, 1, 0), 0u);
}

TEST_F(ComposeOpsTest, RuleWeightsFollowProgressAndSharpness) {
  BuildRuleWeights(0, 256);
  EXPECT_EQ(g_RuleWeights[255], 0);
  BuildRuleWeights(256, 256);
  EXPECT_EQ(g_RuleWeights[0], 256);
  BuildRuleWeights(128, 256);
  EXPECT_EQ(g_RuleWeights[127], 0);
  EXPECT_EQ(g_RuleWeights[128], 256);
  // Soft edge: ((i * 128) >> 1) + 64 * 100 - 128 * 128 + 100, at most 255, plus 1; no floor.
  BuildRuleWeights(100, 128);
  EXPECT_EQ(g_RuleWeights[0], -9883);
  EXPECT_EQ(g_RuleWeights[157], 165);
  EXPECT_EQ(g_RuleWeights[255], 256);
  // Any sharpness a script gives is taken without overflow.
  BuildRuleWeights(200, INT32_MIN);
  BuildRuleWeights(2, INT32_MAX);
  for (int32_t w : g_RuleWeights) EXPECT_LE(w, 256);
}

TEST_F(ComposeOpsTest, RuleTransitionWipesFromTheFirstSourceToTheSecond) {
  NameNode* s1 = Filled("s1", 16, 2, 0xFF111111);
  NameNode* s2 = Filled("s2", 16, 2, 0xFF999999);
  NameNode* rule = AddLayer("rule", false, 1, 16, 2);
  for (int32_t y = 0; y < 2; y++)
    for (int32_t x = 0; x < 16; x++) SetPixel(rule, x, y, 0xFF000000u | uint32_t(x * 16 + y));   // B = grey level
  struct Case {
    int64_t progress;
    int32_t sharpness;
    int32_t lastSecond;   // pixels x <= lastSecond show source 2, the rest source 1
  };
  const Case cases[] = {
      {0, 256, -1}, {-7, 0, -1}, {255, 256, 15}, {400, 0, 15},
      {128, 256, 7},   // grey levels below 128 (x < 8) show source 2
      {1, 256, 0},     // only the darkest level (x = 0, y = 0; B = 0 and 1 are both below 2)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.progress) + "/" + std::to_string(c.sharpness));
    NameNode* t = AddLayer(("t" + std::to_string(c.progress)).c_str(), false, 1, 16, 2);
    RuleTransition(s1, s2, rule, t, 0, 0, c.progress, c.sharpness);
    EXPECT_EQ(GetLayerRecord(t)->mHasAlpha, 1);
    for (int32_t x = 0; x < 16; x++) EXPECT_EQ(PixelAt(t, x, 0), x <= c.lastSecond ? 0xFF999999u : 0xFF111111u) << x;
  }
  // A soft edge blends byte by byte: s2 - ((s2 - s1) * w >> 8), w by the pixel's grey level.
  NameNode* t = AddLayer("soft", false, 1, 16, 2);
  RuleTransition(s1, s2, rule, t, 0, 0, 100, 4);
  BuildRuleWeights(156, 4);
  int32_t w = g_RuleWeights[6 * 16];
  ASSERT_GT(w, 1);
  ASSERT_LT(w, 256);
  uint8_t byte = uint8_t(0x99 - (((0x99 - 0x11) * w) >> 8));
  EXPECT_EQ(PixelAt(t, 6, 0), 0xFF000000u | uint32_t(byte) * 0x010101u);
}

TEST_F(ComposeOpsTest, KeepDifferencesAndMatchesComparePixelForPixel) {
  NameNode* a = Patterned("a", 4, 4, 0xFF000000);
  KeepDifferences(a, a, 0, 0);
  for (uint32_t p : Pixels(a)) EXPECT_EQ(p, 0u);
  EXPECT_EQ(GetLayerRecord(a)->mHasAlpha, 1);

  // Against itself shifted by one, each pixel meets its neighbour as it was before the call.
  NameNode* shifted = Filled("shifted", 4, 1, 0xFF0000AA);
  SetPixel(shifted, 3, 0, 0xFF0000BB);
  KeepDifferences(shifted, shifted, 1, 0);
  EXPECT_EQ(PixelAt(shifted, 0, 0), 0xFF0000AAu);
  EXPECT_EQ(PixelAt(shifted, 1, 0), 0u);
  EXPECT_EQ(PixelAt(shifted, 2, 0), 0u);
  EXPECT_EQ(PixelAt(shifted, 3, 0), 0xFF0000AAu);

  NameNode* src = Patterned("src", 4, 4, 0xFF000000);
  NameNode* diff = Patterned("diff", 4, 4, 0xFF000000);
  NameNode* same = Patterned("same", 4, 4, 0xFF000000);
  SetPixel(diff, 2, 1, 0x12345678);
  SetPixel(same, 2, 1, 0x12345678);
  KeepDifferences(src, diff, 0, 0);
  KeepMatches(src, same, 0, 0);
  for (int32_t y = 0; y < 4; y++)
    for (int32_t x = 0; x < 4; x++) {
      bool changed = x == 2 && y == 1;
      uint32_t original = 0xFF000000u + uint32_t(y * 16 + x);
      EXPECT_EQ(PixelAt(diff, x, y), changed ? original : 0u);
      EXPECT_EQ(PixelAt(same, x, y), changed ? 0u : original);
    }
}

TEST_F(ComposeOpsTest, TrimCropsTheSidesAskedForToTheVisiblePixels) {
  NameNode* layer = AddLayer("a", false, 1, 8, 9);
  SetPixel(layer, 3, 5, 0x01ABCDEF);
  GetLayerRecord(layer)->mHasAlpha = 1;
  std::vector<uint32_t> whole = Pixels(layer);

  NameNode* copy = AddLayer("copy", false, 1);
  ASSERT_EQ(TrimTransparentBorder(layer, copy, 1, 0), 0);
  EXPECT_EQ(GetLayerRecord(copy)->mWidth, 8);
  EXPECT_EQ(Pixels(copy), whole);
  EXPECT_EQ(GetLayerRecord(copy)->mHasAlpha, 1);

  NameNode* side = AddLayer("side", false, 1);
  ASSERT_EQ(TrimTransparentBorder(layer, side, 1, 8 | 2), 0);   // top and left only
  EXPECT_EQ(GetLayerRecord(side)->mWidth, 5);
  EXPECT_EQ(GetLayerRecord(side)->mHeight, 4);
  EXPECT_EQ(PixelAt(side, 0, 0), 0x01ABCDEFu);

  // A destination of the right size keeps its buffer.
  NameNode* sized = AddLayer("sized", false, 1, 1, 1);
  ImageBuffer* kept = GetLayerRecord(sized)->mPixels;
  ASSERT_EQ(TrimTransparentBorder(layer, sized, 1, 15), 0);
  EXPECT_EQ(GetLayerRecord(sized)->mPixels, kept);
  EXPECT_EQ(PixelAt(sized, 0, 0), 0x01ABCDEFu);

  ASSERT_EQ(TrimTransparentBorder(layer, nullptr, 0, 15), 0);
  EXPECT_EQ(GetLayerRecord(layer)->mWidth, 1);
  EXPECT_EQ(GetLayerRecord(layer)->mHeight, 1);
  EXPECT_EQ(PixelAt(layer, 0, 0), 0x01ABCDEFu);

  // Nothing visible: nothing to trim to, the image stays whole.
  NameNode* clear = AddLayer("clear", false, 1, 3, 2);
  ASSERT_EQ(TrimTransparentBorder(clear, nullptr, 0, 15), 0);
  EXPECT_EQ(GetLayerRecord(clear)->mWidth, 3);
  EXPECT_EQ(GetLayerRecord(clear)->mHeight, 2);
}

struct CanvasCase {
  int64_t left, right, top, bottom;
  int32_t width, height;
  int32_t shiftX, shiftY;   // new (x, y) shows old (x - shiftX, y - shiftY) where that exists
  uint8_t hasAlpha;
};

TEST_F(ComposeOpsTest, CanvasChangeMovesTheImageAndFillsNewAreaWithTransparentGrey) {
  const CanvasCase cases[] = {
      {0, 0, 0, 0, 4, 3, 0, 0, 0},
      {10, 0, 0, 0, 14, 3, 10, 0, 1},
      {-2, -1, 0, 2, 1, 5, -2, 0, 1},
      {0, 0, -1, -1, 4, 1, 0, -1, 0},
      {3, -5, 1, 0, 2, 4, 3, 1, 1},
      // Far-off amounts that cancel out: the image lands wholly outside.
      {INT64_MAX, -INT64_MAX, INT64_MIN + 3, INT64_MAX, 4, 5, 1 << 20, 0, 1},
  };
  for (const CanvasCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.left) + " " + std::to_string(c.right) + " " + std::to_string(c.top) + " " +
                 std::to_string(c.bottom));
    NameNode* layer = Patterned(("a" + std::to_string(c.left) + std::to_string(c.top)).c_str(), 4, 3, 0x40000000);
    ImageBuffer* old = GetLayerRecord(layer)->mPixels;
    ASSERT_EQ(ResizeCanvas(layer, nullptr, 0, c.left, c.right, c.top, c.bottom), 0);
    LayerRecord* r = GetLayerRecord(layer);
    EXPECT_NE(r->mPixels, old);
    ASSERT_EQ(r->mWidth, c.width);
    ASSERT_EQ(r->mHeight, c.height);
    EXPECT_EQ(r->mHasAlpha, c.hasAlpha);
    for (int32_t y = 0; y < c.height; y++)
      for (int32_t x = 0; x < c.width; x++) {
        int64_t ox = int64_t(x) - c.shiftX, oy = int64_t(y) - c.shiftY;
        bool inside = ox >= 0 && ox < 4 && oy >= 0 && oy < 3;
        EXPECT_EQ(PixelAt(layer, x, y), inside ? 0x40000000u + uint32_t(oy * 16 + ox) : g_TransparentFill) << x << "," << y;
      }
  }
}

TEST_F(ComposeOpsTest, CanvasChangeRefusesImpossibleSizesAndKeepsTheLayer) {
  NameNode* layer = Patterned("a", 4, 3, 0x40000000);
  std::vector<uint32_t> before = Pixels(layer);
  HeadlessClearCalls();
  EXPECT_EQ(ResizeCanvas(layer, nullptr, 0, -5, 0, 0, 0), -1);
  EXPECT_TRUE(BoxShown("リサイズ後のサイズが不正です。"));
  EXPECT_EQ(g_QuitFlag, 0);
  HeadlessClearCalls();
  EXPECT_EQ(ResizeCanvas(layer, nullptr, 0, 9000, 0, 0, 0), -1);
  EXPECT_TRUE(BoxShown("ＣＧサイズが大きすぎます。X=9004, Y=3"));
  EXPECT_EQ(g_QuitFlag, 1);
  g_QuitFlag = 0;
  EXPECT_EQ(GetLayerRecord(layer)->mWidth, 4);
  EXPECT_EQ(Pixels(layer), before);
  // Into a second layer: the first keeps its image.
  NameNode* out = AddLayer("out", false, 1);
  ASSERT_EQ(ResizeCanvas(layer, out, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(GetLayerRecord(out)->mWidth, 5);
  EXPECT_EQ(PixelAt(out, 1, 0), 0x40000000u);
  EXPECT_EQ(Pixels(layer), before);
}

}  // namespace
