// Device loss: a resettable device or a requested reset rebuilds the device and reloads the
// GPU layers' images and textures; a lost device draws nothing; a failed rebuild falls back
// to the CPU for the rest of the run and frames go on being drawn.
#include <cstring>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "files/files.h"
#include "layers/image_codecs.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/gpu/gpu_fixture.h"
#include "tests/support/loose_files.h"

namespace {

constexpr uint32_t FILE_PIXEL = 0xFF204060u;
constexpr uint32_t MEMORY_PIXEL = 0xFF00C000u;

class ResetTest : public GpuTest {
 protected:
  void SetUp() override {
    GpuTest::SetUp();
    UseLooseFolder(folder_.path());
    std::vector<uint32_t> image(32 * 32, FILE_PIXEL);
    ASSERT_EQ(WriteBmpFile(folder_.path() + "/pic.bmp", reinterpret_cast<uint8_t*>(image.data()), 32, 32), 0);
    UseSceneMode();
    ASSERT_EQ(StartDirect3D(), 0);
    // One layer from a file, one drawn by the script, and the offscreen layer.
    fromFile_ = AddLayer("file", false, 1, 0, 0, 0);
    LayerRecord* f = GetLayerRecord(fromFile_);
    ASSERT_EQ(LoadLayerImage(f, "pic.bmp"), 0);
    // The name a character's layer keeps for its reload (the loader stores it for those).
    strcpy(f->mFileName, "pic.bmp");
    drawn_ = AddImage("drawn", 2, 100, 0, 16, 16, false, [](int32_t, int32_t) { return MEMORY_PIXEL; });
    for (NameNode* n : {fromFile_, drawn_}) {
      GetLayerRecord(n)->mGpuKind = GPU_KIND_TEXTURED;
      ASSERT_EQ(UploadLayerTextures(GetLayerRecord(n), 0, 512, 256), 0);
    }
    // The script then draws into both layers' pixels, which the textures do not show yet.
    memset(f->mPixels, 0xFF, 4);
    memset(GetLayerRecord(drawn_)->mPixels, 0xFF, 4);
    off_ = AddOffscreen();
  }
  void TearDown() override {
    g_ExeFolderReal.clear();
    g_ProjectFolderReal.clear();
    GpuTest::TearDown();
  }
  uint32_t Offscreen(int x, int y) {
    return PixelOf(std::vector<uint8_t>(GetLayerRecord(off_)->mPixels, GetLayerRecord(off_)->mPixels + 640 * 480 * 4),
                   640, x, y);
  }
  TempFolder folder_;
  NameNode* fromFile_ = nullptr;
  NameNode* drawn_ = nullptr;
  NameNode* off_ = nullptr;
};

TEST_F(ResetTest, AResettableDeviceIsRebuiltWithImagesReloadedAndTexturesUploadedAgain) {
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(Offscreen(0, 0), FILE_PIXEL);
  EXPECT_EQ(Offscreen(100, 0), MEMORY_PIXEL);
  int created = HeadlessGpuCalls().createDevice;
  HeadlessGpuLoseDevice(true);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created + 1);
  EXPECT_EQ(g_GpuSceneMode, 1);
  // The named layer is loaded from its file again; the drawn one is uploaded from its pixels.
  EXPECT_EQ(PixelOf(std::vector<uint8_t>(GetLayerRecord(fromFile_)->mPixels, GetLayerRecord(fromFile_)->mPixels + 4), 1,
                    0, 0),
            FILE_PIXEL);
  EXPECT_EQ(Offscreen(0, 0), FILE_PIXEL);
  EXPECT_EQ(Offscreen(31, 31), FILE_PIXEL);
  EXPECT_EQ(Offscreen(100, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Offscreen(101, 0), MEMORY_PIXEL);
  EXPECT_NE(g_D3D.mWhiteTexture, nullptr);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResetTest, ARequestedResetWaitsForTheNextGpuFrame) {
  g_DeviceResetRequest = 1;
  int created = HeadlessGpuCalls().createDevice;
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(g_DeviceResetRequest, 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created + 1);
  EXPECT_EQ(Offscreen(0, 0), FILE_PIXEL);
  EXPECT_EQ(Offscreen(100, 0), 0xFFFFFFFFu);
}

TEST_F(ResetTest, SwitchingToFullScreenRebuildsTheDeviceAtTheNextGpuFrame) {
  g_ChangeDisplayMode = 1;
  ASSERT_EQ(SetFullScreen(1), 1);
  ASSERT_EQ(g_FullScreen, 1);
  EXPECT_EQ(g_DeviceResetRequest, 1);
  int created = HeadlessGpuCalls().createDevice;
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created + 1);
  // The device keeps the game's logical size whatever the display shows.
  EXPECT_EQ(g_DeviceSurfaceSize.width, 640);
  EXPECT_EQ(Offscreen(0, 0), FILE_PIXEL);
  ASSERT_EQ(SetFullScreen(0), 1);
  EXPECT_EQ(g_DeviceResetRequest, 1);
}

TEST_F(ResetTest, ALostDeviceThatCannotBeResetYetIsDrawnIntoWithoutEffect) {
  ASSERT_EQ(RenderGpuScene(), 0);
  HeadlessGpuLoseDevice(false);
  int created = HeadlessGpuCalls().createDevice;
  int draws = HeadlessGpuCalls().drawQuad;
  memset(GetLayerRecord(off_)->mPixels, 0x11, 4);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(HeadlessGpuCalls().createDevice, created);
  EXPECT_GT(HeadlessGpuCalls().drawQuad, draws);
  // Nothing could be read back: the offscreen layer keeps its picture.
  EXPECT_EQ(Offscreen(0, 0), 0x11111111u);
}

TEST_F(ResetTest, AFailedRebuildFallsBackToTheCpuForTheRestOfTheRun) {
  ASSERT_EQ(RenderGpuScene(), 0);
  uint32_t lastPicture = Offscreen(100, 0);
  HeadlessGpuLoseDevice(true);
  HeadlessGpuRefuseDevice(-1);
  ASSERT_EQ(RenderGpuScene(), 0);
  EXPECT_EQ(g_GpuSceneMode, 0);
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_BilinearScaling, 1);
  EXPECT_EQ(g_D3D.mDevice, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], "|GPU描画が出来ませんでした。CPU描画に移行します。");
  // No texture survives the fall-back, and no later frame asks the device for anything.
  EXPECT_EQ(GetLayerRecord(drawn_)->mTextures[0], nullptr);
  HeadlessGpuRefuseDevice(0);
  HeadlessGpuCounts before = HeadlessGpuCalls();
  // The offscreen layer is shown by the CPU with its last picture; a CPU layer is drawn too.
  GetLayerRecord(off_)->mVisible = 1;
  NameNode* cpu = AddLayer("cpu", false, 200, 8, 8, 0xFF0000FFu);
  GetLayerRecord(cpu)->mX = 300;
  for (int frame = 0; frame < 2; frame++) {
    g_GpuRedrawRequest = 1;
    MarkRootWhollyDirty(main_);
    ASSERT_EQ(DrawWindow(main_), 0);
    ASSERT_EQ(PresentWindow(main_), 0);
  }
  HeadlessGpuCounts after = HeadlessGpuCalls();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  HeadlessWindowState w = HeadlessWindow(0);
  ASSERT_EQ(w.frameWidth, 640);
  EXPECT_EQ(PixelOf(w.frame, 640, 300, 0) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(PixelOf(w.frame, 640, 100, 0) & 0xFFFFFF, lastPicture & 0xFFFFFF);
  // The layer command's paste and the capture find no device.
  EXPECT_EQ(PasteSprite(cpu, drawn_), -1);
  CaptureScene(drawn_, cpu);
  EXPECT_EQ(GetLayerRecord(cpu)->mWidth, 8);
}

}  // namespace
