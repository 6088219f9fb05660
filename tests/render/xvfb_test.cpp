// The picture on a real X display: a frame composed and presented through the SDL backend on a
// virtual X server shows, in a screenshot of that server, exactly the composed pixels that the
// headless backend keeps; after a layer moves, only the redrawn rectangle is copied to the
// window. Skipped cleanly where xvfb-run or ImageMagick's import is missing.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/window.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "render/render.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int SCREEN_W = 320, SCREEN_H = 240;

TEST(XvfbScreenshot, SdlWindowShowsTheComposedPixels) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import")) GTEST_SKIP() << "xvfb-run or import is not installed";
  TempFolder folder;
  setenv("KIVOR_XVFB_SHOT", (folder.path() + "/shot.rgb").c_str(), 1);
  // X and SDL keep allocations until exit; the child's run is about pixels, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  int status = PlatStartProcess({KIVOR_XVFB_RUN, "-a", "-n", "151", "-s", screen, PlatExecutablePath(),
                                 "--gtest_filter=XvfbChild.DISABLED_PresentsTheSceneOnTheDisplay",
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_XVFB_SHOT");
  EXPECT_EQ(status, 0);
}

// Runs inside the virtual X server, started by the test above.
TEST(XvfbChild, DISABLED_PresentsTheSceneOnTheDisplay) {
  const char* shot = getenv("KIVOR_XVFB_SHOT");
  if (!shot) GTEST_SKIP() << "runs only under the screenshot test";
  ASSERT_TRUE(PlatformInit("sdl"));
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  ASSERT_EQ(CreateWindowRecords(), 0);
  WindowRecord* main = g_WindowRecords[0];
  main->mWidth = 64;
  main->mHeight = 48;
  SetupWindowRecord(main, "shot");
  g_DesktopSize = {SCREEN_W, SCREEN_H, 24, 60};
  g_ClientAreaSize = g_OutputSize = {64, 48};
  ResizeScreenBuffer(64, 48);
  ASSERT_TRUE(CreateGameWindow(main, "shot"));
  g_Platform->ShowWindow(0, true);
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
  // An opaque ground, an additive square and a layer with alpha.
  struct Part {
    const char* path;
    int x, y, w, h;
    uint32_t bgra;
    uint8_t mode, alpha;
  };
  const Part parts[] = {{"W0/bg", 0, 0, 64, 48, 0xFF204080, BLEND_NORMAL, 0},
                        {"W0/add", 8, 8, 30, 20, 0xFF303030, BLEND_ADD, 0},
                        {"W0/alpha", 30, 20, 20, 20, 0xFFF0E0D0, BLEND_NORMAL, 1}};
  int key = 1;
  for (const Part& p : parts) {
    NameNode* n = CreateNamedNode(g_LayerRoot, p.path, false, key++);
    ASSERT_NE(n, nullptr);
    LayerRecord* r = AttachNewLayerRecord(n);
    r->mPixels = AllocImageBuffer(nullptr, p.w, p.h, nullptr);
    r->mWidth = p.w, r->mHeight = p.h, r->mX = p.x, r->mY = p.y;
    r->mBlendMode = p.mode;
    r->mHasAlpha = p.alpha;
    for (int i = 0; i < p.w * p.h; i++) {
      uint32_t v = p.bgra;
      // Every other column of the alpha layer is fully transparent.
      if (p.alpha && i % 2) v &= 0x00FFFFFF;
      memcpy(r->mPixels + (size_t)i * 4, &v, 4);
    }
    InvalidateLayer(n);
  }
  LayerRecord* root = GetLayerRecord(main->mRootLayer);
  ASSERT_EQ(DrawWindow(main), 0);
  ASSERT_EQ(PresentWindow(main), 0);
  PlatRect rect;
  ASSERT_TRUE(g_Platform->GetWindowRect(0, &rect));
  // The server draws asynchronously: a few rounds of pumping, showing the window again and
  // looking, until the screen shows `expected`; the pixels that differ at the last look.
  auto look = [&](const std::vector<uint8_t>& expected, void (*showAgain)(WindowRecord*)) {
    int mismatches = -1;
    // A busy machine may take long: the rounds go on for up to a minute.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (mismatches != 0 && std::chrono::steady_clock::now() < deadline) {
      PlatEventRecord e;
      while (g_Platform->PollEvent(&e)) {
      }
      showAgain(main);
      EXPECT_EQ(PlatStartProcess({"import", "-window", "root", "-depth", "8", std::string("rgb:") + shot}, true), 0);
      std::ifstream in(shot, std::ios::binary);
      std::vector<uint8_t> rgb((size_t)SCREEN_W * SCREEN_H * 3);
      in.read(reinterpret_cast<char*>(rgb.data()), (std::streamsize)rgb.size());
      if ((size_t)in.gcount() != rgb.size()) return -1;
      mismatches = 0;
      for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) {
          const uint8_t* s = rgb.data() + ((size_t)(rect.y + y) * SCREEN_W + rect.x + x) * 3;
          const uint8_t* p = expected.data() + ((size_t)y * 64 + x) * 4;
          if (s[0] != p[2] || s[1] != p[1] || s[2] != p[0]) mismatches++;
        }
    }
    return mismatches;
  };
  EXPECT_EQ(look(std::vector<uint8_t>(root->mPixels, root->mPixels + 64 * 48 * 4), InvalidateScreen), 0);

  // The additive square moves: only the redrawn rectangle goes to the window. The bottom rows
  // of the root are changed behind the compositor's back; the window keeps showing them as
  // they were, so what reaches the screen is the moved square on the old picture.
  std::vector<uint8_t> shown(root->mPixels, root->mPixels + 64 * 48 * 4);
  for (int i = 44 * 64; i < 48 * 64; i++) memset(root->mPixels + (size_t)i * 4, 0xEE, 4);
  NameNode* add = FindNodeByPath(g_LayerRoot, "W0/add", NAME_LOOKUP_LEAF);
  ASSERT_NE(add, nullptr);
  InvalidateLayer(add);
  GetLayerRecord(add)->mX += 4;
  InvalidateLayer(add);
  ASSERT_EQ(DrawWindow(main), 0);
  ASSERT_EQ(PresentWindow(main), 0);
  for (int y = 0; y < 44; y++) memcpy(shown.data() + (size_t)y * 64 * 4, root->mPixels + (size_t)y * 64 * 4, 64 * 4);
  // Shown again without anything copied: nothing is said to have changed.
  auto showAgain = [](WindowRecord* w) {
    LayerRecord* r = GetLayerRecord(w->mRootLayer);
    g_Platform->PresentFrameChanges(0, r->mPixels, 64, 48, 64 * 4, 0, 0, PlatRect{0, 0, 0, 0});
  };
  EXPECT_EQ(look(shown, showAgain), 0);
  g_Platform->DestroyWindow(0);
  PlatformQuit();
}

}  // namespace
