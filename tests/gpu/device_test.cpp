// Device set-up and release: the mode flags of each drawing method, the device a GPU mode
// makes, the fall-back to the CPU when the device cannot be used, and a failed render target.
#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "tests/gpu/gpu_fixture.h"

namespace {

const char* const kFallbackBox = "|GPU描画が出来ませんでした。CPU描画に移行します。";

// Start-up went on drawing on the CPU: no quit, the flags of the fall-back, no device.
void ExpectCpuDrawing() {
  EXPECT_EQ(g_QuitFlag, 0);
  EXPECT_EQ(g_GpuSceneMode, 0);
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_GpuFilterLevel, 0);
  EXPECT_EQ(g_BilinearScaling, 1);
  EXPECT_EQ(g_D3D.mDevice, 0);
}

TEST_F(GpuTest, EachDrawingMethodSetsItsModeFlagsAndOnlyGpuMethodsMakeADevice) {
  struct Case {
    uint32_t method;
    int32_t filter;
    uint8_t bilinear, drawing;
  } cases[] = {{0, 3, 1, 1}, {1, 2, 1, 1}, {2, 1, 1, 0}, {3, 0, 0, 0}, {7, 0, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    uint32_t words[32] = {};
    words[8] = c.method;
    ApplyEngineSettingsWords(words, true);
    EXPECT_EQ(g_GpuFilterLevel, c.filter);
    EXPECT_EQ(g_BilinearScaling, c.bilinear);
    EXPECT_EQ(g_GpuDrawing, c.drawing);
    EXPECT_EQ(g_GpuSceneMode, 0);
    HeadlessGpuReset();
    // Start-up asks for a device exactly when a GPU flag is set.
    if (g_GpuSceneMode || g_GpuDrawing) {
      ASSERT_EQ(StartDirect3D(), 0);
    }
    EXPECT_EQ(HeadlessGpuCalls().createDevice, c.drawing);
    EXPECT_EQ(g_D3D.mDevice, c.drawing);
    if (c.drawing) {
      // The device keeps the main window's logical size and the caps the card reports.
      EXPECT_EQ(g_DeviceSurfaceSize.width, 640);
      EXPECT_EQ(g_DeviceSurfaceSize.height, 480);
      EXPECT_NE(g_D3D.mCaptureTexture, nullptr);
      // Without the scene mode there are no solid-colour textures.
      EXPECT_EQ(g_D3D.mWhiteTexture, nullptr);
      ShutdownDirect3D();
      EXPECT_EQ(g_D3D.mDevice, 0);
      EXPECT_EQ(g_D3D.mCaptureTexture, nullptr);
    }
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(GpuTest, ADeviceThatCannotBeMadeFallsBackToTheCpuWithItsBoxes) {
  UseSceneMode();
  HeadlessGpuRefuseDevice(-1);
  EXPECT_EQ(StartDirect3D(), 0);
  ExpectCpuDrawing();
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "Error|[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。");
  EXPECT_EQ(boxes[1], kFallbackBox);
}

TEST_F(GpuTest, ACardWithoutPixelShaderTwoIsRefusedAndTheRunGoesOnOnTheCpu) {
  g_GpuDrawing = 1;
  g_GpuFilterLevel = 3;
  HeadlessGpuSetCaps({4096, 4096, 14});
  EXPECT_EQ(StartDirect3D(), 0);
  EXPECT_EQ(g_GpuDrawing, 0);
  EXPECT_EQ(g_D3D.mDevice, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].rfind("環境チェック|", 0), 0u);
  EXPECT_EQ(boxes[1], kFallbackBox);
}

TEST_F(GpuTest, ASoftwareRasterizerIsRefusedWithoutTheShaderBoxAndTheRunGoesOnOnTheCpu) {
  struct Case {
    bool scene;
  } cases[] = {{false}, {true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scene);
    HeadlessGpuReset();
    HeadlessClearCalls();
    if (c.scene) {
      UseSceneMode();
    } else {
      g_GpuDrawing = 1;
      g_GpuFilterLevel = 3;
    }
    // Complete shaders and large textures: only the rasterizer makes the device unfit.
    HeadlessGpuSetCaps({8192, 8192, 30, true});
    EXPECT_EQ(StartDirect3D(), 0);
    ExpectCpuDrawing();
    EXPECT_EQ(HeadlessGpuCalls().releaseDevice, HeadlessGpuCalls().createDevice);
    std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kFallbackBox);
  }
}

TEST_F(GpuTest, ARenderTargetThatCannotBeMadeEndsTheRun) {
  UseSceneMode();
  // Textures may not be as large as the window.
  HeadlessGpuSetCaps({512, 512, 30});
  EXPECT_EQ(StartDirect3D(), -1);
  EXPECT_EQ(g_QuitFlag, 1);
  EXPECT_EQ(g_GpuSceneMode, 0);
  EXPECT_EQ(g_D3D.mDevice, 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Error|Render テクスチャを生成できませんでした。");
}

TEST_F(GpuTest, SceneModeMakesTheSolidColourTexturesAndShutdownReleasesEverything) {
  UseSceneMode();
  ASSERT_EQ(StartDirect3D(), 0);
  ASSERT_NE(g_D3D.mWhiteTexture, nullptr);
  ASSERT_NE(g_D3D.mBlackTexture, nullptr);
  NameNode* a = AddImage("a", 1, 0, 0, 20, 20, false, [](int32_t, int32_t) { return 0x00112233u; });
  GetLayerRecord(a)->mGpuKind = GPU_KIND_TEXTURED;
  ASSERT_EQ(UploadLayerTextures(GetLayerRecord(a), 0, 512, 256), 0);
  int released = HeadlessGpuCalls().releaseTexture;
  ShutdownDirect3D();
  // White, black, the render texture, the capture texture and the layer's one tile.
  EXPECT_EQ(HeadlessGpuCalls().releaseTexture - released, 5);
  EXPECT_EQ(GetLayerRecord(a)->mTextures[0], nullptr);
  EXPECT_EQ(HeadlessGpuCalls().releaseDevice, 1);
}

}  // namespace
