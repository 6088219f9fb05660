// The GPU scene: a frame read back into the offscreen layer matches the CPU compositor's
// frame of the same layers; placement and scale; the offscreen size check; the scene capture.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "media/emote.h"
#include "media/emote_player.h"
#include "platform/gpu.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/gpu/gpu_fixture.h"

namespace {

uint32_t Background(int32_t x, int32_t y) { return uint32_t((x * 3) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 | uint32_t((x + y) & 0xFF); }
uint32_t Foreground(int32_t x, int32_t y) {
  return uint32_t((x * 7 + y * 3) & 0xFF) << 24 | uint32_t((y * 11) & 0xFF) << 16 | uint32_t((x * 2) & 0xFF) << 8 |
         uint32_t((255 - x) & 0xFF);
}

class SceneTest : public GpuTest {
 protected:
  void SetUp() override {
    GpuTest::SetUp();
    UseSceneMode();
    ASSERT_EQ(StartDirect3D(), 0);
  }
  const uint8_t* Pixels(NameNode* n) { return GetLayerRecord(n)->mPixels; }
  void MakeGpuLayer(NameNode* n) {
    GetLayerRecord(n)->mGpuKind = GPU_KIND_TEXTURED;
    ASSERT_EQ(UploadLayerTextures(GetLayerRecord(n), 0, 512, 256), 0);
  }
};

TEST_F(SceneTest, AGpuFrameOfTwoLayersMatchesTheCpuCompositorsFrame) {
  // The CPU rows weigh the source by (w + 1) / 256 and truncate; the GPU takes opacity and
  // alpha in 255ths and rounds: blends through a partial alpha may differ by 2. The modes
  // whose GPU states ignore the texture's alpha are compared with opaque images; the CPU's
  // additive blend through alpha adds at most the room left below white, the GPU's clamps,
  // so add is compared without alpha.
  struct Case {
    uint8_t mode;
    int16_t opacity;
    bool alpha;
    int tolerance;
  } cases[] = {
      {0, 128, true, 2}, {0, 256, true, 2}, {0, 128, false, 1}, {1, 256, false, 0}, {3, 256, true, 2},
      {5, 256, true, 1}, {6, 256, false, 0}, {7, 256, false, 0}, {9, 256, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " opacity " << c.opacity);
    NameNode* bg = AddImage("bg", 1, 0, 0, 640, 480, false, Background);
    NameNode* fg = AddImage("fg", 2, 37, 41, 200, 150, c.alpha, Foreground);
    GetLayerRecord(fg)->mBlendMode = c.mode;
    GetLayerRecord(fg)->mOpacity = c.opacity;
    NameNode* off = AddOffscreen();
    MarkRootWhollyDirty(main_);
    ASSERT_EQ(DrawWindow(main_), 0);
    std::vector<uint8_t> cpu(GetLayerRecord(main_->mRootLayer)->mPixels,
                             GetLayerRecord(main_->mRootLayer)->mPixels + 640 * 480 * 4);
    MakeGpuLayer(bg);
    MakeGpuLayer(fg);
    ASSERT_EQ(RenderGpuScene(), 0);
    int worst = 0, worstAt = 0;
    for (int i = 0; i < 640 * 480 * 4; i++) {
      if (i % 4 == 3) continue;
      int d = std::abs(int(Pixels(off)[i]) - int(cpu[i]));
      if (d > worst) worst = d, worstAt = i;
    }
    EXPECT_LE(worst, c.tolerance) << "at pixel " << (worstAt / 4) % 640 << ", " << (worstAt / 4) / 640 << " channel " << worstAt % 4
                        << " gpu " << int(Pixels(off)[worstAt]) << " cpu " << int(cpu[worstAt]);
    FreeLayerSubtree(bg);
    FreeLayerSubtree(fg);
    FreeLayerSubtree(off);
  }
}

TEST_F(SceneTest, WithoutAnOffscreenLayerTheSceneMakesNoDeviceCall) {
  NameNode* a = AddImage("a", 1, 0, 0, 64, 64, false, Background);
  MakeGpuLayer(a);
  g_DeviceResetRequest = 1;
  HeadlessGpuCounts before = HeadlessGpuCalls();
  g_GpuRedrawRequest = 1;
  ASSERT_EQ(DrawWindow(main_), 0);
  EXPECT_EQ(g_GpuRedrawRequest, 0);
  HeadlessGpuCounts after = HeadlessGpuCalls();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  // The reset waits for the offscreen layer.
  EXPECT_EQ(g_DeviceResetRequest, 1);
}

TEST_F(SceneTest, PositionInHundredthsAndScaleAboutTheTopLeftCorner) {
  NameNode* a = AddImage("a", 1, 0, 0, 4, 2, false, [](int32_t x, int32_t y) { return uint32_t(0x10 * (x + 4 * y + 1)); });
  LayerRecord* r = GetLayerRecord(a);
  r->mX100 = 1000;
  r->mY100 = 2000;
  r->mScaleX = 20000;
  r->mScaleY = 30000;
  MakeGpuLayer(a);
  NameNode* off = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  auto at = [&](int x, int y) {
    uint32_t v;
    memcpy(&v, Pixels(off) + ((size_t)y * 640 + x) * 4, 4);
    return v;
  };
  EXPECT_EQ(at(9, 20), 0u);
  EXPECT_EQ(at(10, 20), 0xFF000010u);
  EXPECT_EQ(at(11, 22), 0xFF000010u);
  EXPECT_EQ(at(12, 20), 0xFF000020u);
  EXPECT_EQ(at(17, 25), 0xFF000080u);
  EXPECT_EQ(at(18, 25), 0u);
  EXPECT_EQ(at(10, 26), 0u);
}

TEST_F(SceneTest, ATileWithoutItsTextureIsLeftOut) {
  NameNode* a = AddImage("a", 1, 0, 0, 600, 20, false, [](int32_t, int32_t) { return 0x00405060u; });
  MakeGpuLayer(a);
  LayerRecord* r = GetLayerRecord(a);
  ASSERT_EQ(r->TXNUM, 2);
  PlatGpu()->ReleaseTexture(static_cast<PlatGpuTexture*>(r->mTextures[1]));
  r->mTextures[1] = nullptr;
  NameNode* off = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  std::vector<uint8_t> frame(Pixels(off), Pixels(off) + 640 * 480 * 4);
  EXPECT_EQ(PixelOf(frame, 640, 511, 5), 0xFF405060u);
  EXPECT_EQ(PixelOf(frame, 640, 512, 5), 0u);
}

TEST_F(SceneTest, AnOffscreenLayerOfAnotherSizeGetsTheBoxEveryFrameAndNothing) {
  NameNode* a = AddImage("a", 1, 0, 0, 64, 64, false, Background);
  MakeGpuLayer(a);
  NameNode* off = AddLayer("off", false, 5, 320, 240, 0x01020304);
  g_OffscreenLayerNode = off;
  for (int frame = 0; frame < 2; frame++) {
    ASSERT_EQ(RenderGpuScene(), 0);
    std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "|転送先バッファとオフスクリーンバッファのサイズが異なります。\r\n(320, 240) --- (640, 480)");
  }
  EXPECT_EQ(PixelOf(std::vector<uint8_t>(Pixels(off), Pixels(off) + 4), 1, 0, 0), 0x01020304u);
}

TEST_F(SceneTest, ACrossFadeAndARuleDrawThroughTheEffectPasses) {
  NameNode* a = AddImage("a", 1, 0, 0, 16, 16, false, [](int32_t, int32_t) { return 0x000000C8u; });
  NameNode* b = AddImage("b", 2, 0, 0, 16, 16, false, [](int32_t, int32_t) { return 0x00000064u; });
  MakeGpuLayer(a);
  MakeGpuLayer(b);
  GetLayerRecord(b)->mVisible = 0;
  LayerRecord* r = GetLayerRecord(a);
  strcpy(r->mSecondSourceName, "b");
  r->mCrossFade = 64;
  NameNode* off = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  // 200 x 3/4 + 100 x 1/4.
  EXPECT_NEAR(Pixels(off)[0], 175, 1);
  // A rule whose mask is white everywhere: at progress 128, sharpness 1 the rule alpha is
  // saturate(128 x 384 / 65536 - 0.5) = 0.25.
  NameNode* m = AddImage("m", 3, 0, 0, 16, 16, false, [](int32_t, int32_t) { return 0x00FFFFFFu; });
  MakeGpuLayer(m);
  GetLayerRecord(m)->mVisible = 0;
  r->mSecondSourceName[0] = '\0';
  strcpy(r->mMaskName, "m");
  r->mRuleProgress = 128;
  r->mEdgeSharpness = 1;
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_NEAR(Pixels(off)[0], 50, 1);
  // Sharpness 0: drawn plainly, the mask is not read.
  r->mEdgeSharpness = 0;
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(Pixels(off)[0], 200);
}

TEST_F(SceneTest, CaptureDrawsOneLayerAloneIntoTheTargetAtTheWindowSize) {
  NameNode* a = AddImage("a", 1, 5, 6, 8, 8, false, [](int32_t, int32_t) { return 0x00336699u; });
  NameNode* other = AddImage("other", 2, 0, 0, 640, 480, false, Background);
  MakeGpuLayer(a);
  MakeGpuLayer(other);
  NameNode* target = AddLayer("target", false, 3, 10, 10, 0);
  CaptureScene(a, target);
  LayerRecord* t = GetLayerRecord(target);
  ASSERT_EQ(t->mWidth, 640);
  ASSERT_EQ(t->mHeight, 480);
  std::vector<uint8_t> pixels(t->mPixels, t->mPixels + 640 * 480 * 4);
  EXPECT_EQ(PixelOf(pixels, 640, 4, 6), 0u);
  EXPECT_EQ(PixelOf(pixels, 640, 5, 6), 0xFF336699u);
  EXPECT_EQ(PixelOf(pixels, 640, 12, 13), 0xFF336699u);
  EXPECT_EQ(PixelOf(pixels, 640, 13, 13), 0u);
  EXPECT_EQ(t->mChanged, 1);
  // Without a device nothing happens.
  ShutdownDirect3D();
  NameNode* untouched = AddLayer("untouched", false, 4, 10, 10, 0x11223344);
  CaptureScene(a, untouched);
  EXPECT_EQ(GetLayerRecord(untouched)->mWidth, 10);
}

TEST_F(SceneTest, ACharacterLayerHasOneWindowSizedTextureDrawnAtTheOriginUnscaled) {
  g_EmoteAvailable = 1;
  NameNode* e = AddImage("e", 1, 0, 0, 2, 2, true, [](int32_t, int32_t) { return 0xFF0000FFu; });
  LayerRecord* r = GetLayerRecord(e);
  r->mGpuKind = GPU_KIND_EMOTE;
  r->mX100 = 5000;
  r->mScaleX = r->mScaleY = 30000;
  ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  EXPECT_EQ(r->TXNUM, 1);
  EXPECT_EQ(r->TYNUM, 1);
  EXPECT_EQ(r->mTileWidths[0], 640);
  EXPECT_EQ(r->mTileHeights[0], 480);
  // No pixels are copied: the model is drawn into the texture by the bridge.
  std::vector<uint8_t> texels = ReadTexture(r->mTextures[0], 640, 480);
  EXPECT_EQ(PixelOf(texels, 640, 0, 0), 0u);
  NameNode* after = AddImage("after", 2, 0, 0, 4, 4, false, [](int32_t, int32_t) { return 0x00123456u; });
  MakeGpuLayer(after);
  NameNode* off = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  // The model's texture is cleared to transparent grey before the model is drawn, and the
  // scene goes back to the back buffer for the layers after it.
  texels = ReadTexture(r->mTextures[0], 640, 480);
  EXPECT_EQ(PixelOf(texels, 640, 300, 200), 0x00808080u);
  std::vector<uint8_t> frame(Pixels(off), Pixels(off) + 640 * 480 * 4);
  EXPECT_EQ(PixelOf(frame, 640, 3, 3), 0xFF123456u);
  EXPECT_EQ(PixelOf(frame, 640, 100, 100), 0u);
  // The model was placed by the layer's camera, which the device holds for the bridge: the
  // render size, and the layer's position less half of it.
  float held[3][16];
  for (int which = 0; which < 3; which++) ASSERT_TRUE(PlatGpu()->GetTransform(which, held[which]));
  SetupEmoteCamera(PlatGpu(), 640, 480, 50.0f - 320.0f, -240.0f, 0.0f);
  EXPECT_EQ(memcmp(held[PLAT_GPU_WORLD], g_EmoteCamera.mWorld, sizeof held[0]), 0);
  EXPECT_EQ(memcmp(held[PLAT_GPU_VIEW], g_EmoteCamera.mView, sizeof held[0]), 0);
  EXPECT_EQ(memcmp(held[PLAT_GPU_PROJECTION], g_EmoteCamera.mProjection, sizeof held[0]), 0);
  EXPECT_FLOAT_EQ(held[PLAT_GPU_PROJECTION][0], 0.75f);
}

}  // namespace
