// Presentation: which path each window and mode takes, where the picture lands, the letterbox,
// and the one black paint of a window that shows nothing.
#include <cstring>
#include <string>
#include <vector>

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

// What the window shows after a picture B is presented with only `changed` said to differ from
// what was presented before it (A, or the situation the case sets up).
struct ChangesCase {
  const char* name;
  void (*before)(const std::vector<uint8_t>& a);
  bool onlyChangedCopied;   // else the whole of B is copied
};

constexpr PlatRect kTile = {100, 50, 128, 128};

const ChangesCase kChangesCases[] = {
    {"the same place and size",
     [](const std::vector<uint8_t>& a) { g_Platform->PresentFrame(0, a.data(), 640, 480, 640 * 4, 0, 0, 640, 480); },
     true},
    {"a new window size since",
     [](const std::vector<uint8_t>& a) {
       g_Platform->PresentFrame(0, a.data(), 640, 480, 640 * 4, 0, 0, 640, 480);
       g_Platform->SetWindowSize(0, 600, 400);
       g_Platform->SetWindowSize(0, 640, 480);
     },
     false},
    {"another place",
     [](const std::vector<uint8_t>& a) { g_Platform->PresentFrame(0, a.data(), 640, 480, 640 * 4, 4, 0, 640, 480); },
     false},
    {"a stretched picture",
     [](const std::vector<uint8_t>& a) { g_Platform->PresentFrame(0, a.data(), 320, 240, 640 * 4, 0, 0, 640, 480); },
     false},
    {"nothing presented yet", [](const std::vector<uint8_t>&) {}, false},
};

TEST_F(PresentTest, APictureWhoseChangesAreNamedIsCopiedOnlyWhereItChangedWhileTheWindowHoldsTheLastOne) {
  std::vector<uint8_t> a(640 * 480 * 4), b(640 * 480 * 4);
  for (size_t i = 0; i < a.size(); i += 4) {
    uint32_t va = 0xFF102030, vb = 0xFFC0B0A0;
    memcpy(&a[i], &va, 4);
    memcpy(&b[i], &vb, 4);
  }
  for (const ChangesCase& c : kChangesCases) {
    SCOPED_TRACE(c.name);
    g_Platform->DestroyWindow(0);
    ASSERT_TRUE(g_Platform->CreateWindow(0, 640, 480, "changes"));
    c.before(a);
    g_Platform->PresentFrameChanges(0, b.data(), 640, 480, 640 * 4, 0, 0, kTile);
    HeadlessWindowState w = HeadlessWindow(0);
    ASSERT_EQ(w.frameWidth, 640);
    EXPECT_EQ(PixelOf(w.frame, 640, kTile.x, kTile.y), 0xFFC0B0A0u);
    EXPECT_EQ(PixelOf(w.frame, 640, kTile.x + kTile.width - 1, kTile.y + kTile.height - 1), 0xFFC0B0A0u);
    uint32_t outside = c.onlyChangedCopied ? 0xFF102030u : 0xFFC0B0A0u;
    EXPECT_EQ(PixelOf(w.frame, 640, kTile.x - 1, kTile.y), outside);
    EXPECT_EQ(PixelOf(w.frame, 640, kTile.x + kTile.width, kTile.y + kTile.height), outside);
    EXPECT_EQ(PixelOf(w.frame, 640, 639, 479), outside);
  }
}

TEST_F(PresentTest, OnlyTheRedrawnRectangleOfAnUnscaledWindowGoesToTheScreen) {
  Present(main_);
  // The root changes everywhere behind the compositor's back; only the redrawn rectangle is
  // said to have changed, so only it may reach the window.
  for (size_t i = 0; i < 640 * 480; i++) {
    uint32_t v = 0xFF00FF00;
    memcpy(root_->mPixels + i * 4, &v, 4);
  }
  root_->mChanged = 1;
  root_->mRedrawnRect[0] = kTile.x;
  root_->mRedrawnRect[1] = kTile.y;
  root_->mRedrawnRect[2] = kTile.x + kTile.width - 1;
  root_->mRedrawnRect[3] = kTile.y + kTile.height - 1;
  PresentWindow(main_);
  HeadlessWindowState w = HeadlessWindow(0);
  EXPECT_EQ(PixelOf(w.frame, 640, kTile.x, kTile.y), 0xFF00FF00u);
  EXPECT_EQ(PixelOf(w.frame, 640, kTile.x + kTile.width - 1, kTile.y + kTile.height - 1), 0xFF00FF00u);
  EXPECT_EQ(PixelOf(w.frame, 640, kTile.x - 1, kTile.y), 0xFF0000FFu);
  EXPECT_EQ(PixelOf(w.frame, 640, kTile.x, kTile.y + kTile.height), 0xFF0000FFu);
  EXPECT_EQ(PixelOf(w.frame, 640, 639, 479), 0xFFFF0000u);
  // A repaint presents the whole root.
  InvalidateScreen(main_);
  EXPECT_EQ(PixelOf(HeadlessWindow(0).frame, 640, 639, 479), 0xFF00FF00u);
}

}  // namespace
