// Presentation: which path each window and mode takes, where the picture lands, the letterbox,
// and the one black paint of a window that shows nothing.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

class PresentTest : public GameWindowTest {
 protected:
  void SetUp() override {
    GameWindowTest::SetUp();
    root_ = GetLayerRecord(main_->mRootLayer);
    ASSERT_NE(root_, nullptr);
    // Left half blue, right half red, so both scaling and placement show.
    for (int y = 0; y < 480; y++)
      for (int x = 0; x < 640; x++) {
        uint32_t v = x < 320 ? 0xFF0000FF : 0xFFFF0000;
        memcpy(root_->mPixels + ((size_t)y * 640 + x) * 4, &v, 4);
      }
  }
  void Present(WindowRecord* w) {
    MarkRootWhollyDirty(w);
    MergePresentRect(GetLayerRecord(w->mRootLayer));
    PresentWindow(w);
  }
  LayerRecord* root_ = nullptr;
};

TEST_F(PresentTest, WindowedRootOfTheOutputSizeIsShownOneToOne) {
  Present(main_);
  HeadlessWindowState w = HeadlessWindow(0);
  ASSERT_EQ(w.frameWidth, 640);
  EXPECT_EQ(PixelOf(w.frame, 640, 319, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelOf(w.frame, 640, 320, 479), 0xFFFF0000u);
  EXPECT_EQ(main_->mDrawn, 1);
}

TEST_F(PresentTest, WindowedScaledOutputUsesTheChosenScaler) {
  struct Case {
    uint8_t bilinear;
    bool blends;
  };
  const Case cases[] = {{0, false}, {1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bilinear ? "bilinear" : "nearest");
    g_BilinearScaling = c.bilinear;
    ASSERT_EQ(ResizeOutputBuffer(640, 480, 1280, 960), 0);
    g_Platform->SetWindowSize(0, 1280, 960);
    g_ClientAreaSize = {1280, 960};
    Present(main_);
    HeadlessWindowState w = HeadlessWindow(0);
    ASSERT_EQ(w.frameWidth, 1280);
    EXPECT_EQ(PixelOf(w.frame, 1280, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelOf(w.frame, 1280, 1279, 959), 0xFFFF0000u);
    bool blended = false;
    for (int x = 600; x < 680; x++) {
      uint32_t v = PixelOf(w.frame, 1280, x, 100);
      if (v != 0xFF0000FFu && v != 0xFFFF0000u) blended = true;
    }
    EXPECT_EQ(blended, c.blends);
  }
}

TEST_F(PresentTest, SubWindowIsShownUnscaledAtItsRootPositionAndLeavesTheLetterboxAlone) {
  WindowRecord* sub = g_WindowRecords[1];
  sub->mWidth = 64;
  sub->mHeight = 32;
  SetupWindowRecord(sub, "sub");
  ASSERT_TRUE(CreateGameWindow(sub, "sub"));
  ASSERT_NE(CreateImageLayer("W1", 64, 32, 0), nullptr);
  sub->mRootLayer = FindNodeByPath(g_LayerRoot, "W1", NAME_LOOKUP_GROUP);
  LayerRecord* r = GetLayerRecord(sub->mRootLayer);
  ASSERT_NE(r, nullptr);
  r->mX = 4;
  memset(r->mPixels, 0x7F, 64 * 32 * 4);
  g_LetterboxOffset = {11, 22};
  Present(sub);
  HeadlessWindowState w = HeadlessWindow(1);
  ASSERT_EQ(w.frameWidth, 64);
  EXPECT_EQ(PixelOf(w.frame, 64, 3, 0), 0u);
  EXPECT_EQ(PixelOf(w.frame, 64, 4, 0), 0x7F7F7F7Fu);
  EXPECT_EQ(g_LetterboxOffset.width, 11);
  EXPECT_EQ(g_LetterboxOffset.height, 22);
}

TEST_F(PresentTest, FullScreenFitModeZeroStretchesToTheOutputAndCentres) {
  g_FitMode = 0;
  g_ChangeDisplayMode = 0;
  ASSERT_EQ(SetFullScreen(1), 1);
  // One to one: the output is the game size, centred in the 1920 x 1080 screen.
  EXPECT_EQ(g_OutputSize.width, 640);
  Present(main_);
  EXPECT_EQ(g_LetterboxOffset.width, 640);
  EXPECT_EQ(g_LetterboxOffset.height, 300);
  HeadlessWindowState w = HeadlessWindow(0);
  ASSERT_EQ(w.frameWidth, 1920);
  EXPECT_EQ(PixelOf(w.frame, 1920, 639, 300), 0u);
  EXPECT_EQ(PixelOf(w.frame, 1920, 640, 300), 0xFF0000FFu);
  EXPECT_EQ(PixelOf(w.frame, 1920, 1279, 779), 0xFFFF0000u);
  EXPECT_EQ(PixelOf(w.frame, 1920, 1280, 779), 0u);
}

TEST_F(PresentTest, AWindowThatShowsNothingIsPaintedBlackOnce) {
  Present(main_);
  int before = HeadlessWindow(0).presents;
  main_->mVisible = 0;
  PresentWindow(main_);
  PresentWindow(main_);
  HeadlessWindowState w = HeadlessWindow(0);
  EXPECT_EQ(w.presents, before + 1);
  EXPECT_EQ(PixelOf(w.frame, 640, 0, 0), 0u);
  EXPECT_EQ(PixelOf(w.frame, 640, 639, 479), 0u);
  EXPECT_EQ(main_->mDrawn, 0);
}

TEST_F(PresentTest, NothingIsPresentedForAnEmptyRedrawnRectangleOrNoOutput) {
  ResetDirtyRectsAll();
  root_->mChanged = 1;
  PresentWindow(main_);
  EXPECT_EQ(HeadlessWindow(0).presents, 0);
  MarkRootWhollyDirty(main_);
  MergePresentRect(root_);
  g_OutputSize = {0, 480};
  PresentWindow(main_);
  EXPECT_EQ(HeadlessWindow(0).presents, 0);
}

}  // namespace
