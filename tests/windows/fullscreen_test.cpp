// Full screen on and off, the choice of display mode, the output size of each fit mode, the
// monitor table, and the centred picture with consistent buffers.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

using FullScreenTest = GameWindowTest;

bool CalledWith(const std::string& prefix) {
  for (const std::string& c : HeadlessCalls())
    if (c.rfind(prefix, 0) == 0) return true;
  return false;
}

TEST_F(FullScreenTest, OutputSizeFollowsTheFitMode) {
  struct Case {
    uint8_t fit;
    int gw, gh, aw, ah;
    int ow, oh;
  };
  const Case cases[] = {
      {1, 1280, 720, 1920, 1080, 1920, 1080}, {1, 1024, 768, 1920, 1080, 1440, 1080},
      {1, 1280, 720, 1920, 1200, 1920, 1080}, {2, 1024, 768, 1920, 1080, 1920, 1440},
      {3, 1024, 768, 1920, 1080, 1920, 1080}, {0, 2560, 1440, 1920, 1080, 960, 540},
      {0, 640, 480, 1920, 1080, 640, 480},    {1, 0, 0, 800, 600, 600, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("fit " + std::to_string(c.fit) + " " + std::to_string(c.gw) + "x" + std::to_string(c.gh));
    g_FitMode = c.fit;
    g_OutputSize = {1, 1};
    ResizeOutputBuffer(c.gw, c.gh, c.aw, c.ah);
    EXPECT_EQ(g_OutputSize.width, c.ow);
    EXPECT_EQ(g_OutputSize.height, c.oh);
    EXPECT_TRUE(ScreenBufferReady());
  }
}

TEST_F(FullScreenTest, TooWideOutputIsRefusedWithTheSizeBox) {
  g_FitMode = 2;
  ResizeOutputBuffer(100, 1, 9000, 1);
  EXPECT_EQ(g_ScreenBuffer, nullptr);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  EXPECT_TRUE(CalledWith("ChoiceBox |ＣＧサイズが大きすぎます。X=9000, Y=90"));
  EXPECT_FALSE(ScreenBufferReady() && g_OutputSize.width > MAX_OUTPUT_SIDE);
}

TEST_F(FullScreenTest, ModeChangeChoosesTheSmallestDesktopShapedModeThatHoldsTheGame) {
  main_->mWidth = 1280;
  main_->mHeight = 720;
  HeadlessSetDisplayModes({{1920, 1080, 32, 60}, {1600, 900, 32, 60}, {1280, 720, 16, 60}, {1280, 720, 32, 60},
                           {1024, 768, 32, 60}, {1280, 960, 32, 60}, {1024, 576, 32, 60}});
  EXPECT_EQ(SetFullScreen(1), 1);
  EXPECT_EQ(g_FullScreen, 1);
  EXPECT_TRUE(CalledWith("SetFullScreen 0 1 1280x720x32"));
  EXPECT_EQ(g_ClientAreaSize.width, 1280);
  EXPECT_EQ(g_ClientAreaSize.height, 720);
  EXPECT_EQ(g_OutputSize.width, 1280);
  EXPECT_EQ(g_OutputSize.height, 720);
  EXPECT_EQ(SetFullScreen(1), 0);
}

TEST_F(FullScreenTest, WithoutModeChangesTheMonitorKeepsItsModeAndThePictureIsCentred) {
  g_ChangeDisplayMode = 0;
  g_BilinearScaling = 0;
  LayerRecord* root = GetLayerRecord(main_->mRootLayer);
  for (int i = 0; i < 640 * 480; i++) memcpy(root->mPixels + i * 4, "\x10\x20\x30\xFF", 4);
  ASSERT_EQ(SetFullScreen(1), 1);
  EXPECT_TRUE(CalledWith("SetFullScreen 0 1"));
  EXPECT_EQ(g_OutputSize.width, 1440);
  EXPECT_EQ(g_OutputSize.height, 1080);
  MarkRootWhollyDirty(main_);
  MergePresentRect(root);
  PresentWindow(main_);
  EXPECT_EQ(g_LetterboxOffset.width, 240);
  EXPECT_EQ(g_LetterboxOffset.height, 0);
  HeadlessWindowState w = HeadlessWindow(0);
  ASSERT_EQ(w.frameWidth, 1920);
  ASSERT_EQ(w.frameHeight, 1080);
  EXPECT_EQ(PixelOf(w.frame, 1920, 239, 500), 0u);
  EXPECT_EQ(PixelOf(w.frame, 1920, 240, 0), 0xFF302010u);
  EXPECT_EQ(PixelOf(w.frame, 1920, 1679, 1079), 0xFF302010u);
  EXPECT_EQ(PixelOf(w.frame, 1920, 1680, 500), 0u);
  // Back to the window: the game size everywhere and a buffer to match.
  ASSERT_EQ(SetFullScreen(0), 1);
  EXPECT_EQ(g_FullScreen, 0);
  EXPECT_EQ(g_OutputSize.width, 640);
  EXPECT_EQ(g_ClientAreaSize.height, 480);
  EXPECT_EQ(HeadlessWindow(0).width, 640);
  EXPECT_EQ(HeadlessWindow(0).height, 480);
  EXPECT_TRUE(ScreenBufferReady());
  EXPECT_EQ(g_FrameStyleCountdown, 20);
}

TEST_F(FullScreenTest, NoMatchingModeOrARefusedChangeFallsBackToWindowMode) {
  struct Case {
    bool refuse;
    const char* box;
  };
  const Case cases[] = {{false, "PC環境が 1920 x 1080 解像度でのフルスクリーンに対応していません。"},
                        {true, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refuse ? "refused" : "no mode");
    g_QuitFlag = 0;
    ResetMessageState();
    HeadlessClearCalls();
    if (c.refuse) {
      HeadlessSetDisplayModes({{1920, 1080, 32, 60}, {1600, 900, 32, 60}});
      main_->mWidth = 1600;
      main_->mHeight = 900;
      HeadlessRefuseModeChange(true);
    } else {
      HeadlessSetDisplayModes({{1024, 768, 32, 60}, {1920, 1080, 16, 60}});
    }
    EXPECT_EQ(SetFullScreen(1), 1);
    EXPECT_EQ(g_FullScreen, 0);
    EXPECT_FALSE(HeadlessWindow(0).fullScreen);
    if (c.box) EXPECT_TRUE(CalledWith(std::string("ChoiceBox |") + c.box));
    else EXPECT_NE(std::string(LastErrorDialogText()).size(), 0u);
    EXPECT_EQ(g_QuitFlag.load(), 0);   // neither failure is fatal
    HeadlessRefuseModeChange(false);
    main_->mWidth = 640;
    main_->mHeight = 480;
  }
}

TEST_F(FullScreenTest, ASixteenthMonitorIsStoredButNotCounted) {
  std::vector<PlatRect> monitors;
  for (int i = 0; i < 17; i++) monitors.push_back({i * 100, 0, 100 + i, 50});
  HeadlessSetMonitors(monitors);
  RefreshMonitorTable();
  EXPECT_EQ(g_MonitorTable.mCount, 15);
  EXPECT_EQ(g_MonitorTable.mWidth[14], 114);
  EXPECT_EQ(g_MonitorTable.mWidth[15], 115);
  EXPECT_EQ(g_MonitorTable.mLeft[15], 1500);
}

TEST_F(FullScreenTest, WindowMonitorFallsBackToTheFirstMonitorWithASize) {
  HeadlessSetMonitors({{0, 0, 0, 0}, {0, 0, 1280, 1024}});
  RefreshMonitorTable();
  EXPECT_EQ(FindWindowMonitor(0), 1);
  EXPECT_EQ(FindWindowMonitor(3), 0);   // no window there
}

}  // namespace
