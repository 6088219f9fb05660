// Layer textures: tiles cut by the device, configured and layer limits, the transparent
// margin of the last tiles, the overflow refusals, the sprite paste and the re-upload.
#include <cstring>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "tests/gpu/gpu_fixture.h"

namespace {

uint32_t Pattern(int32_t x, int32_t y) { return 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x5A; }

uint32_t TexelAt(const std::vector<uint8_t>& t, int32_t w, int32_t x, int32_t y) {
  uint32_t v;
  memcpy(&v, t.data() + ((size_t)y * w + x) * 4, 4);
  return v;
}

class TextureTest : public GpuTest {
 protected:
  void SetUp() override {
    GpuTest::SetUp();
    UseSceneMode();
    ASSERT_EQ(StartDirect3D(), 0);
  }
};

TEST_F(TextureTest, TilesFollowTheLimitsAndTheLastOnesEndInTransparentBlack) {
  HeadlessGpuSetCaps({4096, 4096, 30});
  LayerRecord* r = GetLayerRecord(AddImage("a", 1, 0, 0, 800, 600, false, Pattern));
  ASSERT_EQ(UploadLayerTextures(r, 3, 512, 256), 0);
  ASSERT_EQ(r->TXNUM, 2);
  ASSERT_EQ(r->TYNUM, 3);
  EXPECT_EQ(r->mTileWidths[0], 512);
  EXPECT_EQ(r->mTileWidths[1], 512);
  EXPECT_EQ(r->mTileHeights[0], 256);
  EXPECT_EQ(r->mTileHeights[1], 256);
  EXPECT_EQ(r->mTileHeights[2], 128);
  EXPECT_EQ(r->mTextureOption, 0);
  EXPECT_EQ(r->mTileLimitX, 512);
  EXPECT_EQ(r->mTileLimitY, 256);
  // The pivot lands in the middle, in 1/100 pixel.
  EXPECT_EQ(r->mPivotX, 40000);
  EXPECT_EQ(r->mPivotY, 30000);
  for (int slot = 0; slot < 6; slot++) EXPECT_NE(r->mTextures[slot], nullptr);
  EXPECT_EQ(r->mTextures[6], nullptr);
  // The bottom-right tile (column 1, row 2) starts at 512, 512 of the image: 288 columns and
  // 88 rows of image, the rest transparent black.
  std::vector<uint8_t> t = ReadTexture(r->mTextures[2 * 2 + 1], 512, 128);
  EXPECT_EQ(TexelAt(t, 512, 0, 0), Pattern(512, 512));
  EXPECT_EQ(TexelAt(t, 512, 287, 87), Pattern(799, 599));
  EXPECT_EQ(TexelAt(t, 512, 288, 0), 0u);
  EXPECT_EQ(TexelAt(t, 512, 0, 88), 0u);
  EXPECT_EQ(TexelAt(t, 512, 511, 127), 0u);
}

TEST_F(TextureTest, TileSizesAreTheSmallestPowerOfTwoWithinEveryLimit) {
  struct Case {
    int32_t width, height, deviceMax, configX, configY, limitX, limitY;
    int tx, ty;
    int32_t firstW, lastW, firstH, lastH;
  } cases[] = {
      {10, 10, 4096, 512, 256, 512, 256, 1, 1, 16, 16, 16, 16},
      {300, 100, 4096, 512, 256, 0, 0, 1, 1, 512, 512, 128, 128},      // the configured limits alone
      {3000, 40, 1024, 0, 0, 0, 0, 3, 1, 1024, 1024, 64, 64},          // the device's maximum alone
      {600, 600, 4096, 512, 256, 100, 300, 6, 3, 100, 100, 256, 128},  // a limit that is no power of two
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    g_MaxTextureSize = {c.deviceMax, c.deviceMax};
    g_TextureTileLimit = {c.configX, c.configY};
    NameNode* node = AddImage("a", 1, 0, 0, c.width, c.height, false, Pattern);
    LayerRecord* r = GetLayerRecord(node);
    ASSERT_EQ(UploadLayerTextures(r, 0, c.limitX, c.limitY), 0);
    EXPECT_EQ(r->TXNUM, c.tx);
    EXPECT_EQ(r->TYNUM, c.ty);
    EXPECT_EQ(r->mTileWidths[0], c.firstW);
    EXPECT_EQ(r->mTileWidths[c.tx - 1], c.lastW);
    EXPECT_EQ(r->mTileHeights[0], c.firstH);
    EXPECT_EQ(r->mTileHeights[c.ty - 1], c.lastH);
    FreeLayerSubtree(node);
  }
  g_MaxTextureSize = {4096, 4096};
  g_TextureTileLimit = {512, 256};
}

TEST_F(TextureTest, ThirtyTwoTilesOnAnAxisAreRefusedWithTheOverflowBoxes) {
  LayerRecord* wide = GetLayerRecord(AddImage("wide", 1, 0, 0, 16 * 32, 16, false, Pattern));
  EXPECT_EQ(UploadLayerTextures(wide, 0, 16, 16), -1);
  LayerRecord* tall = GetLayerRecord(AddImage("tall", 2, 0, 0, 16, 16 * 40, false, Pattern));
  EXPECT_EQ(UploadLayerTextures(tall, 0, 16, 16), -1);
  // 31 x 31 tiles fit the overflow checks but not the 256 texture slots.
  LayerRecord* big = GetLayerRecord(AddImage("big", 3, 0, 0, 16 * 31, 16 * 31, false, Pattern));
  EXPECT_EQ(UploadLayerTextures(big, 0, 16, 16), -1);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "Error|TXNUM Overflow Error.");
  EXPECT_EQ(boxes[1], "|TYNUM Overflow Error. SX = 16, SY = 640, mRest = 128");
  EXPECT_EQ(boxes[2], "Error|TXNUM Overflow Error.");
  for (void* t : big->mTextures) EXPECT_EQ(t, nullptr);
}

TEST_F(TextureTest, ANewUploadReleasesTheOldTilesAndCarriesTheNewPixels) {
  LayerRecord* r = GetLayerRecord(AddImage("a", 1, 0, 0, 40, 30, false, Pattern));
  ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  int released = HeadlessGpuCalls().releaseTexture;
  // The script draws into the layer: the next upload takes the changed pixels.
  uint32_t red = 0xFFFF0000u;
  memcpy(r->mPixels + (5 * 40 + 7) * 4, &red, 4);
  ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  EXPECT_EQ(HeadlessGpuCalls().releaseTexture - released, 1);
  ASSERT_NE(r->mTextures[0], nullptr);
  std::vector<uint8_t> t = ReadTexture(r->mTextures[0], 64, 32);
  EXPECT_EQ(TexelAt(t, 64, 7, 5), red);
  EXPECT_EQ(TexelAt(t, 64, 8, 5), Pattern(8, 5));
}

TEST_F(TextureTest, ASpritePasteFillsTheOwnersTexturesWithTheSourcesPixels) {
  NameNode* owner = AddImage("owner", 1, 0, 0, 600, 40, false, Pattern);
  LayerRecord* o = GetLayerRecord(owner);
  ASSERT_EQ(UploadLayerTextures(o, 0, 512, 256), 0);
  void* before[2] = {o->mTextures[0], o->mTextures[1]};
  o->mPivotX = 1234;
  // A smaller source: only its own pixels are read; the rest of each tile is transparent.
  NameNode* source = AddImage("source", 2, 0, 0, 520, 10, false, [](int32_t, int32_t) { return 0xFF0000FFu; });
  int created = HeadlessGpuCalls().createTexture;
  ASSERT_EQ(PasteSprite(source, owner), 0);
  EXPECT_EQ(HeadlessGpuCalls().createTexture, created);
  EXPECT_EQ(o->mTextures[0], before[0]);
  EXPECT_EQ(o->mTextures[1], before[1]);
  EXPECT_EQ(o->mPivotX, 1234);
  std::vector<uint8_t> right = ReadTexture(o->mTextures[1], 128, 64);
  EXPECT_EQ(TexelAt(right, 128, 7, 9), 0xFF0000FFu);
  EXPECT_EQ(TexelAt(right, 128, 8, 9), 0u);
  EXPECT_EQ(TexelAt(right, 128, 0, 10), 0u);
  // An owner without textures has nothing to fill.
  NameNode* bare = AddImage("bare", 3, 0, 0, 20, 20, false, Pattern);
  EXPECT_EQ(PasteSprite(source, bare), -1);
  EXPECT_EQ(GetLayerRecord(bare)->mTextures[0], nullptr);
}

TEST_F(TextureTest, SixteenBitTexturesKeepFourBitsAChannel) {
  ShutdownDirect3D();
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB4;
  g_TextureFilterChoice = 0;
  UseSceneMode();
  ASSERT_EQ(StartDirect3D(), 0);
  LayerRecord* r = GetLayerRecord(AddImage("a", 1, 0, 0, 4, 4, true, [](int32_t, int32_t) { return 0x80123456u; }));
  ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  std::vector<uint8_t> t = ReadTexture(r->mTextures[0], 16, 16);
  // Each channel rounds to the nearest of the 16 levels n x 17.
  EXPECT_EQ(TexelAt(t, 16, 0, 0), 0x88113355u);
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
}

}  // namespace
