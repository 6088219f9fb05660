// The effect engine itself: where a result goes (in place, cropping the layer, or into a second
// layer), what it marks dirty, the copies that carry a layer's properties and its E-mote player,
// and every operation over rectangles at the image's edges with extreme values.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "layers/image_filters.h"
#include "media/emote_player.h"
#include "render/render.h"
#include "tests/filters/filter_fixture.h"

namespace {

class EffectEngineTest : public FilterTest {};

const int32_t kAllCodes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, 20, 21, 22, 23, 24, 25, 26, 27, 29, 37, 38, 39};

TEST_F(EffectEngineTest, ALayerWithoutPixelsAnUnknownCodeOrAnEmptyRectangleChangeNothing) {
  NameNode* empty = AddLayer("e", 0, 0, {});
  NameNode* dest = AddLayer("d", 2, 1, {1, 2});
  for (int32_t code : kAllCodes) EXPECT_EQ(ApplyImageFilter(code, empty, dest, 0, 0, 0, 0, 5, 0, 1, 1), 0);
  EXPECT_EQ(ApplyImageFilter(1, nullptr, dest, 0, 0, 0, 0, 5, 0, 1, 1), 0);
  NameNode* layer = AddLayer("a", 2, 2, {1, 2, 3, 4});
  for (int32_t code : {0, 13, 28, 40, -1}) EXPECT_EQ(ApplyImageFilter(code, layer, dest, 0, 0, 1, 1, 5, 0, 1, 1), 0);
  EXPECT_EQ(ApplyImageFilter(1, layer, dest, 1, 0, 0, 1, 5, 0, 1, 1), 0);
  EXPECT_EQ(ApplyImageFilter(1, layer, nullptr, 0, 5, 1, 9, 5, 0, 0, 1), 0);
  EXPECT_EQ(Read(dest), Pixels({1, 2}));
  EXPECT_EQ(Read(layer), Pixels({1, 2, 3, 4}));
  EXPECT_EQ(ShownMessageId(), 0);
}

TEST_F(EffectEngineTest, InPlaceCropsTheLayerToTheRectangleAndMarksBothExtents) {
  Pixels image = RandomPixels(8 * 6, 2);
  NameNode* layer = AddLayer("a", 8, 6, image);
  LayerRecord* r = GetLayerRecord(layer);
  r->mX = 10;
  r->mY = 20;
  ResetDirtyRects(g_LayerRoot);
  ASSERT_EQ(ApplyImageFilter(FILTER_BRIGHTNESS, layer, nullptr, 2, 1, 4, 3, 128, 0, 0, 0), 0);
  EXPECT_EQ(r->mWidth, 3);
  EXPECT_EQ(r->mHeight, 3);
  EXPECT_EQ(Read(layer), CutRect(image, 8, 2, 1, 4, 3));
  LayerRecord* root = GetLayerRecord(w0_);
  ASSERT_TRUE(root->mDirtyValid);
  EXPECT_EQ(root->mDirtyRect[0], 10);
  EXPECT_EQ(root->mDirtyRect[1], 20);
  EXPECT_EQ(root->mDirtyRect[2], 17);
  EXPECT_EQ(root->mDirtyRect[3], 25);
}

TEST_F(EffectEngineTest, IntoADestinationReplacesItsImageAndFlagAndLeavesTheLayer) {
  Pixels image = RandomPixels(5 * 4, 3);
  NameNode* layer = AddLayer("a", 5, 4, image, 1);
  NameNode* dest = AddLayer("d", 30, 30, Pixels(900, 7), 0);
  GetLayerRecord(dest)->mX = 100;
  ResetDirtyRects(g_LayerRoot);
  ASSERT_EQ(ApplyImageFilter(FILTER_NEGATIVE, layer, dest, 3, 2, 4, 3, 0, 0, 1, 0), 0);
  Pixels expected = CutRect(image, 5, 3, 2, 4, 3);
  for (uint32_t& p : expected) p ^= 0x00FFFFFF;
  EXPECT_EQ(Read(dest), expected);
  EXPECT_EQ(GetLayerRecord(dest)->mHasAlpha, 1);
  EXPECT_EQ(GetLayerRecord(dest)->mX, 100);   // only the copy with properties moves it
  EXPECT_EQ(Read(layer), image);
  // The destination's old extent is marked too.
  EXPECT_EQ(GetLayerRecord(w0_)->mDirtyRect[2], 129);
  // The layer itself as the destination: the result replaces its image.
  ASSERT_EQ(ApplyImageFilter(FILTER_NEGATIVE, layer, layer, 3, 2, 4, 3, 0, 0, 1, 0), 0);
  EXPECT_EQ(Read(layer), expected);
}

TEST_F(EffectEngineTest, TheCopyWithPropertiesTakesTheLayersDrawingStateAndThePlainCopyDoesNot) {
  NameNode* layer = AddLayer("a", 3, 2, RandomPixels(6, 4), 1);
  LayerRecord* s = GetLayerRecord(layer);
  s->mVisible = 0;
  s->mOpacity = 77;
  s->mUserA = -5;
  s->mUserB = 6;
  s->mX = 12;
  s->mY = -13;
  s->mRuleProgress = 99;
  s->mEdgeSharpness = 3;
  s->mBlendMode = 9;
  strcpy(s->mMaskName, "rule");
  strcpy(s->mSecondSourceName, "other");
  s->mX100 = 1234;
  s->mY100 = -1300;
  s->mScaleX = 5000;
  s->mScaleY = 15000;
  s->mPivotX = 11;
  s->mPivotY = 22;
  s->mEmoteOffsetX = 33;
  s->mEmoteOffsetY = 44;
  s->mUserC = 55;
  s->mRotation[0] = 1.5f;
  s->mRotation[2] = -2.5f;
  s->mSaturation = 200;
  s->mTone = 0x102030;
  s->mUserByte = 8;
  s->mCrossFade = 100;
  for (int32_t code : {FILTER_COPY_WITH_PROPERTIES, FILTER_COPY}) {
    SCOPED_TRACE(code);
    NameNode* dest = AddLayer(code == FILTER_COPY ? "plain" : "props", 1, 1, {0}, 0);
    LayerRecord* d = GetLayerRecord(dest);
    ASSERT_EQ(ApplyImageFilter(code, layer, dest, 1, 0, 2, 1, 0, 0, 1, 0), 0);
    EXPECT_EQ(Read(dest), CutRect(Read(layer), 3, 1, 0, 2, 1));
    EXPECT_EQ(d->mHasAlpha, 1);
    bool props = code == FILTER_COPY_WITH_PROPERTIES;
    EXPECT_EQ(d->mVisible, props ? 0 : 1);
    EXPECT_EQ(d->mOpacity, props ? 77 : 256);
    EXPECT_EQ(d->mUserA, props ? -5 : 0);
    EXPECT_EQ(d->mUserB, props ? 6 : 0);
    EXPECT_EQ(d->mX, props ? 12 : 0);
    EXPECT_EQ(d->mY, props ? -13 : 0);
    EXPECT_EQ(d->mRuleProgress, props ? 99 : 256);
    EXPECT_EQ(d->mEdgeSharpness, props ? 3 : 0);
    EXPECT_EQ(d->mBlendMode, props ? 9 : 0);
    EXPECT_STREQ(d->mMaskName, props ? "rule" : "");
    EXPECT_STREQ(d->mSecondSourceName, props ? "other" : "");
    EXPECT_EQ(d->mX100, props ? 1234 : 0);
    EXPECT_EQ(d->mY100, props ? -1300 : 0);
    EXPECT_EQ(d->mScaleX, props ? 5000 : 10000);
    EXPECT_EQ(d->mScaleY, props ? 15000 : 10000);
    EXPECT_EQ(d->mPivotX, props ? 11 : 0);
    EXPECT_EQ(d->mPivotY, props ? 22 : 0);
    EXPECT_EQ(d->mEmoteOffsetX, props ? 33 : 0);
    EXPECT_EQ(d->mEmoteOffsetY, props ? 44 : 0);
    EXPECT_EQ(d->mUserC, props ? 55 : 0);
    EXPECT_EQ(d->mRotation[0], props ? 1.5f : 0.0f);
    EXPECT_EQ(d->mRotation[2], props ? -2.5f : 0.0f);
    EXPECT_EQ(d->mSaturation, props ? 200 : 128);
    EXPECT_EQ(d->mTone, props ? 0x102030u : 0x808080u);
    EXPECT_EQ(d->mUserByte, props ? 8 : 0);
    EXPECT_EQ(d->mCrossFade, props ? 100 : 0);
  }
}

TEST_F(EffectEngineTest, ACopyMovesTheEmotePlayerOnceAndThePlainCopyResetsItsFactors) {
  int player = 0;   // stands for a player handle; never called through
  for (int32_t code : {FILTER_COPY_WITH_PROPERTIES, FILTER_COPY}) {
    SCOPED_TRACE(code);
    FreeLayerChildren(w0_);
    NameNode* layer = AddLayer("chara", 2, 2, RandomPixels(4, 5), 1);
    LayerRecord* s = GetLayerRecord(layer);
    s->mGpuKind = GPU_KIND_EMOTE;
    s->mEmotePlayer = &player;
    strcpy(s->mFileName, "chara.psb");
    g_EmotePlayers[5] = s;
    NameNode* first = AddLayer("first", 1, 1, {0});
    NameNode* second = AddLayer("second", 1, 1, {0});
    LayerRecord* d = GetLayerRecord(first);
    d->mEmoteFactor1 = d->mEmoteFactor2 = d->mEmoteFactor3 = 0.25f;
    d->mEmoteEnabled = 0;
    ASSERT_EQ(ApplyImageFilter(code, layer, first, 0, 0, 1, 1, 0, 0, 1, 0), 0);
    EXPECT_EQ(d->mGpuKind, GPU_KIND_EMOTE);
    EXPECT_EQ(d->mEmotePlayer, &player);
    EXPECT_STREQ(d->mFileName, "chara.psb");
    EXPECT_EQ(s->mGpuKind, GPU_KIND_TEXTURED);
    EXPECT_EQ(s->mEmotePlayer, nullptr);
    EXPECT_STREQ(s->mFileName, "");
    EXPECT_EQ(g_EmotePlayers[5], d);   // the player table follows the player
    bool plain = code == FILTER_COPY;
    EXPECT_EQ(d->mEmoteFactor1, plain ? 1.0f : 0.25f);
    EXPECT_EQ(d->mEmoteFactor3, plain ? 1.0f : 0.25f);
    EXPECT_EQ(d->mEmoteEnabled, plain ? 1 : 0);
    // The layer holds no player any more: a second copy moves none.
    ASSERT_EQ(ApplyImageFilter(code, layer, second, 0, 0, 1, 1, 0, 0, 1, 0), 0);
    EXPECT_EQ(GetLayerRecord(second)->mEmotePlayer, nullptr);
    EXPECT_EQ(GetLayerRecord(second)->mGpuKind, GPU_KIND_CPU);
    EXPECT_EQ(d->mEmotePlayer, &player);
    EXPECT_EQ(g_EmotePlayers[5], d);
    d->mEmotePlayer = nullptr;
    g_EmotePlayers[5] = nullptr;
  }
}

TEST_F(EffectEngineTest, EveryOperationHandlesRectanglesAtTheEdgesWithExtremeValues) {
  const int32_t W = 7, H = 5;
  Pixels image = RandomPixels(W * H, 17);
  struct Rect {
    int32_t x0, y0, x1, y1;
  };
  const Rect rects[] = {{0, 0, 6, 4}, {0, 0, 0, 0}, {6, 4, 6, 4}, {6, 0, 6, 4}, {0, 4, 6, 4}, {5, 3, 6, 4}, {-3, -3, 99, 99}};
  const int64_t values[] = {0, 1, -1, 255, INT64_MAX, INT64_MIN};
  for (int32_t code : kAllCodes) {
    bool whole = code == 19 || code == 24 || code == 25 || code == 26;
    for (const Rect& rc : rects) {
      for (int64_t a : values) {
        for (int32_t into : {0, 1}) {
          SCOPED_TRACE("code " + std::to_string(code) + " rect " + std::to_string(rc.x0) + "," +
                       std::to_string(rc.y0) + " a " + std::to_string(a) + " into " + std::to_string(into));
          FreeLayerChildren(w0_);
          NameNode* layer = AddLayer("a", W, H, image, 0);
          NameNode* dest = AddLayer("d", 1, 1, {0});
          ASSERT_EQ(ApplyImageFilter(code, layer, dest, rc.x0, rc.y0, rc.x1, rc.y1, a, int32_t(a), into, 3), 0);
          int32_t x0 = std::max(rc.x0, 0), y0 = std::max(rc.y0, 0);
          int32_t x1 = std::min(rc.x1, W - 1), y1 = std::min(rc.y1, H - 1);
          NameNode* out = into ? dest : layer;
          EXPECT_EQ(GetLayerRecord(out)->mWidth, whole ? W : x1 - x0 + 1);
          EXPECT_EQ(GetLayerRecord(out)->mHeight, whole ? H : y1 - y0 + 1);
          if (into) {
            EXPECT_EQ(Read(layer), image);
          }
          if (code == FILTER_COPY) {
            EXPECT_EQ(Read(out), CutRect(image, W, x0, y0, x1, y1));
          }
        }
      }
    }
  }
  EXPECT_EQ(ShownMessageId(), 0);
  EXPECT_EQ(g_QuitFlag.load(), 0);
}

}  // namespace
