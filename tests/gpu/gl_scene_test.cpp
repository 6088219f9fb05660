// The GPU scene on the OpenGL device: every blend mode gives the software device's frame
// within one level, tiles have the layer-texture sizes, the read-back layer is the scene, a
// lost context is rebuilt with its textures, a failed rebuild and a missing context fall back
// to the CPU, oversized layers get their message, and no GL object outlives the device.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "media/emote.h"
#include "platform/gl/gpu_gl.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/gpu/gpu_fixture.h"

namespace {

uint32_t Ground(int32_t x, int32_t y) {
  return uint32_t((x * 3) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 | uint32_t((x + y) & 0xFF);
}
uint32_t Sprite(int32_t x, int32_t y) {
  return uint32_t((x * 7 + y * 3) & 0xFF) << 24 | uint32_t((y * 11) & 0xFF) << 16 | uint32_t((x * 2) & 0xFF) << 8 |
         uint32_t((255 - x) & 0xFF);
}

bool AllGone(const GlGpuObjects& o) {
  return o.textures == 0 && o.framebuffers == 0 && o.buffers == 0 && o.vertexArrays == 0 && o.programs == 0 &&
         o.shaders == 0 && o.textureRecords == 0;
}

class GlSceneTest : public GpuTest {
 protected:
  void SetUp() override {
    if (!GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
    GpuTest::SetUp();
    GlGpuResetControls();
    // Taken as named, the device is used also where it draws on the processor, as under test.
    GlGpuTakeAsNamed(true);
    HeadlessGpuUseDevice(&g_GlGpu);
    UseSceneMode();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    GpuTest::TearDown();
    HeadlessGpuUseDevice(nullptr);
    GlGpuResetControls();
    // Everything the scene made went with the device.
    EXPECT_TRUE(AllGone(GlGpuObjectCount()));
  }
  void MakeGpuLayer(NameNode* n) {
    GetLayerRecord(n)->mGpuKind = GPU_KIND_TEXTURED;
    ASSERT_EQ(UploadLayerTextures(GetLayerRecord(n), 0, 512, 256), 0);
  }
  std::vector<uint8_t> Offscreen() {
    const uint8_t* p = GetLayerRecord(off_)->mPixels;
    return std::vector<uint8_t>(p, p + 640 * 480 * 4);
  }
  NameNode* off_ = nullptr;
};

int WorstColourDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int* at) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); i++) {
    int d = std::abs(int(a[i]) - int(b[i]));
    if (d > worst) worst = d, *at = int(i);
  }
  return worst;
}

TEST_F(GlSceneTest, EveryBlendModeAtFullAndPartialOpacityWithAndWithoutAlphaGivesTheSoftwareFrame) {
  // Modes 4, 8 and 10 set no states of their own and draw with those the ground layer left.
  const int8_t modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  NameNode* ground = AddImage("ground", 1, 0, 0, 640, 480, false, Ground);
  NameNode* withAlpha = AddImage("alpha", 2, 37, 41, 200, 150, true, Sprite);
  NameNode* opaque = AddImage("opaque", 3, 301, 97, 200, 150, false, Sprite);
  off_ = AddOffscreen();
  struct Frame {
    int8_t mode;
    int16_t opacity;
    std::vector<uint8_t> pixels[2];
  };
  std::vector<Frame> frames;
  for (int8_t mode : modes)
    for (int16_t opacity : {256, 128}) frames.push_back(Frame{mode, opacity, {}});
  PlatGpuDriver* devices[] = {&g_SoftwareGpu, &g_GlGpu};
  for (int d = 0; d < 2; d++) {
    ShutdownDirect3D();
    HeadlessGpuUseDevice(devices[d]);
    UseSceneMode();
    ASSERT_EQ(StartDirect3D(), 0);
    for (NameNode* n : {ground, withAlpha, opaque}) MakeGpuLayer(n);
    for (Frame& f : frames) {
      for (NameNode* n : {withAlpha, opaque}) {
        GetLayerRecord(n)->mBlendMode = uint8_t(f.mode);
        GetLayerRecord(n)->mOpacity = f.opacity;
      }
      ASSERT_EQ(RenderGpuScene(), 0);
      f.pixels[d] = Offscreen();
    }
  }
  for (const Frame& f : frames) {
    int at = 0;
    int worst = WorstColourDifference(f.pixels[0], f.pixels[1], &at);
    EXPECT_LE(worst, 1) << "mode " << int(f.mode) << " opacity " << f.opacity << " at pixel " << (at / 4) % 640 << ", "
                        << (at / 4) / 640 << " channel " << at % 4 << ": software " << int(f.pixels[0][at])
                        << ", OpenGL " << int(f.pixels[1][at]);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(GlSceneTest, TilesHaveTheLayerTextureSizesAndHoldTheImageWithTransparentPadding) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* big = AddImage("big", 1, 0, 0, 800, 600, true, Sprite);
  MakeGpuLayer(big);
  LayerRecord* r = GetLayerRecord(big);
  ASSERT_EQ(r->TXNUM, 2);
  ASSERT_EQ(r->TYNUM, 3);
  EXPECT_EQ(r->mTileWidths[0], 512);
  EXPECT_EQ(r->mTileWidths[1], 512);
  EXPECT_EQ(r->mTileHeights[0], 256);
  EXPECT_EQ(r->mTileHeights[2], 128);
  // The bottom-right tile: 288 image columns and 88 image rows, transparent black past them.
  std::vector<uint8_t> tile = ReadTexture(r->mTextures[5], 512, 128);
  EXPECT_EQ(PixelOf(tile, 512, 0, 0), Sprite(512, 512));
  EXPECT_EQ(PixelOf(tile, 512, 287, 87), Sprite(799, 599));
  EXPECT_EQ(PixelOf(tile, 512, 288, 0), 0u);
  EXPECT_EQ(PixelOf(tile, 512, 0, 88), 0u);
  EXPECT_EQ(PixelOf(tile, 512, 511, 127), 0u);
  NameNode* small = AddImage("small", 2, 0, 0, 10, 10, false, Ground);
  MakeGpuLayer(small);
  EXPECT_EQ(GetLayerRecord(small)->mTileWidths[0], 16);
  EXPECT_EQ(GetLayerRecord(small)->mTileHeights[0], 16);
  EXPECT_EQ(GlGpuObjectCount().textureRecords, 4 + 6 + 1);
}

TEST_F(GlSceneTest, TheReadBackLayerIsTheSceneRowForRow) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* ground = AddImage("ground", 1, 0, 0, 640, 480, false, Ground);
  NameNode* sprite = AddImage("sprite", 2, 600, 450, 100, 60, false, Sprite);
  MakeGpuLayer(ground);
  MakeGpuLayer(sprite);
  off_ = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  std::vector<uint8_t> frame = Offscreen();
  // Opaque layers at whole pixels: every pixel is one image's own, the sprite cut at the edge.
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 5) {
      uint32_t want = x >= 600 && y >= 450 ? Sprite(x - 600, y - 450) | 0xFF000000u : Ground(x, y) | 0xFF000000u;
      ASSERT_EQ(PixelOf(frame, 640, x, y), want) << x << ", " << y;
    }
  EXPECT_EQ(PixelOf(frame, 640, 639, 479), Sprite(39, 29) | 0xFF000000u);
}

TEST_F(GlSceneTest, TheSpritePasteAndTheSceneCaptureRunOnTheDevice) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* a = AddImage("a", 1, 5, 6, 8, 8, false, [](int32_t, int32_t) { return 0x00336699u; });
  NameNode* b = AddImage("b", 2, 0, 0, 8, 8, true, [](int32_t x, int32_t) { return 0x80112233u + uint32_t(x); });
  NameNode* other = AddImage("other", 3, 0, 0, 640, 480, false, Ground);
  for (NameNode* n : {a, other}) MakeGpuLayer(n);
  NameNode* target = AddLayer("target", false, 4, 10, 10, 0);
  CaptureScene(a, target);
  LayerRecord* t = GetLayerRecord(target);
  ASSERT_EQ(t->mWidth, 640);
  std::vector<uint8_t> shot(t->mPixels, t->mPixels + 640 * 480 * 4);
  EXPECT_EQ(PixelOf(shot, 640, 4, 6), 0u);
  EXPECT_EQ(PixelOf(shot, 640, 5, 6), 0xFF336699u);
  EXPECT_EQ(PixelOf(shot, 640, 12, 13), 0xFF336699u);
  EXPECT_EQ(PixelOf(shot, 640, 13, 13), 0u);
  // The paste refills a's texture with b's pixels; the 16 x 16 tile keeps its padding.
  ASSERT_EQ(PasteSprite(b, a), 0);
  std::vector<uint8_t> tile = ReadTexture(GetLayerRecord(a)->mTextures[0], 16, 16);
  EXPECT_EQ(PixelOf(tile, 16, 0, 0), 0x80112233u);
  EXPECT_EQ(PixelOf(tile, 16, 7, 7), 0x8011223Au);
  EXPECT_EQ(PixelOf(tile, 16, 8, 0), 0u);
}

TEST_F(GlSceneTest, ACharacterLayersTextureIsARenderTargetClearedAndDrawnAtTheOrigin) {
  ASSERT_EQ(StartDirect3D(), 0);
  g_EmoteAvailable = 1;
  NameNode* e = AddImage("e", 1, 0, 0, 2, 2, true, [](int32_t, int32_t) { return 0xFF0000FFu; });
  LayerRecord* r = GetLayerRecord(e);
  r->mGpuKind = GPU_KIND_EMOTE;
  r->mX100 = 5000;
  ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  NameNode* after = AddImage("after", 2, 0, 0, 4, 4, false, [](int32_t, int32_t) { return 0x00123456u; });
  MakeGpuLayer(after);
  off_ = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  // The model's texture was the render target, cleared to transparent grey; the scene went
  // back to the back buffer for the layers after it.
  std::vector<uint8_t> texels = ReadTexture(r->mTextures[0], 640, 480);
  EXPECT_EQ(PixelOf(texels, 640, 300, 200), 0x00808080u);
  std::vector<uint8_t> frame = Offscreen();
  EXPECT_EQ(PixelOf(frame, 640, 3, 3), 0xFF123456u);
  EXPECT_EQ(PixelOf(frame, 640, 100, 100), 0u);
}

TEST_F(GlSceneTest, AnInjectedLossReloadsTheTexturesAndTheNextFrameIsRight) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* ground = AddImage("ground", 1, 0, 0, 640, 480, false, Ground);
  NameNode* sprite = AddImage("sprite", 2, 37, 41, 200, 150, true, Sprite);
  MakeGpuLayer(ground);
  MakeGpuLayer(sprite);
  off_ = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  std::vector<uint8_t> before = Offscreen();
  GlGpuObjects objects = GlGpuObjectCount();
  int created = HeadlessGpuCalls().createDevice;
  GlGpuInjectLoss(true);
  memset(GetLayerRecord(off_)->mPixels, 0x11, 640 * 480 * 4);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created + 1);
  EXPECT_EQ(g_GpuSceneMode, 1);
  EXPECT_EQ(Offscreen(), before);
  // The same objects again, in the new context.
  GlGpuObjects after = GlGpuObjectCount();
  EXPECT_EQ(memcmp(&objects, &after, sizeof objects), 0);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(GlSceneTest, AReadBackOfALostDeviceLeavesTheOffscreenLayerAsItWas) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* ground = AddImage("ground", 1, 0, 0, 640, 480, false, Ground);
  MakeGpuLayer(ground);
  off_ = AddOffscreen();
  GlGpuInjectLoss(false);
  memset(GetLayerRecord(off_)->mPixels, 0x11, 640 * 480 * 4);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(PixelOf(Offscreen(), 640, 5, 5), 0x11111111u);
  EXPECT_EQ(g_GpuSceneMode, 1);
  // Once the driver lets it be reset, the next frame rebuilds and draws.
  GlGpuInjectLoss(true);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(PixelOf(Offscreen(), 640, 5, 5), Ground(5, 5) | 0xFF000000u);
}

TEST_F(GlSceneTest, AFailedRebuildFallsBackToTheCpuForGoodWithNoGlObjectLeft) {
  ASSERT_EQ(StartDirect3D(), 0);
  NameNode* ground = AddImage("ground", 1, 0, 0, 640, 480, false, Ground);
  MakeGpuLayer(ground);
  off_ = AddOffscreen();
  ASSERT_EQ(RenderGpuScene(), 0);
  GlGpuInjectLoss(true);
  GlGpuRefuseDevice(-1);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(g_GpuSceneMode, 0);
  EXPECT_EQ(g_D3D.mDevice, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "|GPU描画が出来ませんでした。CPU描画に移行します。");
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
  // A context could be made again now, but nothing asks for one.
  GlGpuRefuseDevice(0);
  int created = HeadlessGpuCalls().createDevice;
  g_GpuRedrawRequest = 1;
  MarkRootWhollyDirty(main_);
  ASSERT_EQ(DrawWindow(main_), 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created);
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

TEST_F(GlSceneTest, GpuDrawingWithoutAContextFallsBackToTheCpuWithItsMessage) {
  g_GpuSceneMode = 0;
  g_GpuDrawing = 1;
  GlGpuRefuseDevice(-1);
  ASSERT_EQ(StartDirect3D(), 0);
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_D3D.mDevice, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "Error|[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。");
  EXPECT_EQ(boxes[1], "|GPU描画が出来ませんでした。CPU描画に移行します。");
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

TEST_F(GlSceneTest, ADeviceBelowTheShaderLevelIsRefusedAndReleased) {
  PlatGpuCaps weak{4096, 4096, 14};
  GlGpuSetCaps(&weak);
  ASSERT_EQ(StartDirect3D(), 0);
  EXPECT_EQ(g_GpuSceneMode, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].substr(0, boxes[0].find('|')), "環境チェック");
  EXPECT_TRUE(AllGone(GlGpuObjectCount()));
}

TEST_F(GlSceneTest, AHugeLayerGetsItsMessageAndNoTexture) {
  ASSERT_EQ(StartDirect3D(), 0);
  GlGpuObjects before = GlGpuObjectCount();
  // 16384 x 16384 is past what an image may be: no pixels, so nothing to upload.
  EXPECT_EQ(AllocImageBuffer(nullptr, 16384, 16384, nullptr), nullptr);
  std::vector<std::string> boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0], "|ＣＧサイズが大きすぎます。X=16384, Y=16384");
  // The largest image, under the configured tile limits, needs too many tile rows.
  NameNode* huge = AddLayer("huge", false, 1, 0, 0, 0);
  LayerRecord* r = GetLayerRecord(huge);
  r->mPixels = AllocImageBuffer(nullptr, 8192, 8192, nullptr);
  ASSERT_NE(r->mPixels, nullptr);
  r->mWidth = r->mHeight = 8192;
  r->mGpuKind = GPU_KIND_TEXTURED;
  EXPECT_EQ(UploadLayerTextures(r, 0, 512, 256), -1);
  boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("TYNUM Overflow Error."), std::string::npos);
  EXPECT_EQ(r->mTextures[0], nullptr);
  GlGpuObjects after = GlGpuObjectCount();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
}

}  // namespace
