// The GPU scene on a real X display: the SDL backend's window shows the frame the OpenGL
// device drew and read back (through GLX on the virtual X server), and its screenshot equals,
// within one level, the screenshot of the same scene on the software device. Skipped cleanly
// where xvfb-run or ImageMagick's import is missing, or no OpenGL context can be made.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/window.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "platform/gl/gpu_gl.h"
#include "platform/platform.h"
#include "render/gpu.h"
#include "render/gpu_local.h"
#include "render/render.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int SCREEN_W = 320, SCREEN_H = 240, W = 64, H = 48;

// The window's pixels as the X server shows them, R, G, B, on the device KIVOR_GPU names.
std::vector<uint8_t> ShotOn(const char* device, const std::string& folder) {
  std::string shot = folder + "/" + device + ".rgb";
  setenv("KIVOR_XVFB_SHOT", shot.c_str(), 1);
  setenv("KIVOR_GPU", device, 1);
  // X, SDL and the GL driver keep allocations until exit; the child's run is about pixels.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  int status = PlatStartProcess({"xvfb-run", "-a", "-n", "161", "-s", screen, PlatExecutablePath(),
                                 "--gtest_filter=GlXvfbChild.DISABLED_PresentsTheGpuSceneOnTheDisplay",
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_XVFB_SHOT");
  unsetenv("KIVOR_GPU");
  EXPECT_EQ(status, 0) << "the child on " << device;
  std::vector<uint8_t> rgb((size_t)W * H * 3);
  std::ifstream in(shot, std::ios::binary);
  in.read(reinterpret_cast<char*>(rgb.data()), (std::streamsize)rgb.size());
  EXPECT_EQ((size_t)in.gcount(), rgb.size()) << "the shot on " << device;
  return rgb;
}

TEST(GlXvfbScreenshot, TheGpuPathOnOpenGlShowsTheSoftwareDevicesPicture) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import")) GTEST_SKIP() << "xvfb-run or import is not installed";
  if (!GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
  TempFolder folder;
  std::vector<uint8_t> gl = ShotOn("gl", folder.path());
  std::vector<uint8_t> soft = ShotOn("soft", folder.path());
  int worst = 0;
  for (size_t i = 0; i < gl.size(); i++) worst = std::max(worst, std::abs(int(gl[i]) - int(soft[i])));
  EXPECT_LE(worst, 1);
  // The ground's colour at the top left: the picture is the scene, not a black window.
  EXPECT_EQ(gl[0], 0x20);
  EXPECT_EQ(gl[1], 0x40);
  EXPECT_EQ(gl[2], 0x80);
}

// Runs inside the virtual X server, started by the test above.
TEST(GlXvfbChild, DISABLED_PresentsTheGpuSceneOnTheDisplay) {
  const char* shot = getenv("KIVOR_XVFB_SHOT");
  const char* device = getenv("KIVOR_GPU");
  if (!shot || !device) GTEST_SKIP() << "runs only under the screenshot test";
  ASSERT_TRUE(PlatformInit("sdl"));
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  ASSERT_EQ(CreateWindowRecords(), 0);
  WindowRecord* main = g_WindowRecords[0];
  main->mWidth = W;
  main->mHeight = H;
  SetupWindowRecord(main, "gpu shot");
  g_DesktopSize = {SCREEN_W, SCREEN_H, 24, 60};
  g_ClientAreaSize = g_OutputSize = {W, H};
  ResizeScreenBuffer(W, H);
  ASSERT_TRUE(CreateGameWindow(main, "gpu shot"));
  g_Platform->ShowWindow(0, true);
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
  g_GpuSceneMode = 1;
  g_GpuFilterLevel = 3;
  g_BilinearScaling = 1;
  g_TextureTileLimit = {512, 256};
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
  ASSERT_EQ(StartDirect3D(), 0);
  ASSERT_EQ(g_D3D.mDevice, 1);
  EXPECT_STREQ(PlatGpu()->name, strcmp(device, "gl") == 0 ? "opengl" : "software");
  // GPU layers: an opaque ground, an additive square, a layer with alpha at partial opacity,
  // and the offscreen layer the scene is read back into, drawn by the CPU compositor.
  struct Part {
    const char* path;
    int x, y, w, h;
    uint32_t bgra;
    uint8_t mode;
    bool alpha;
    int16_t opacity;
  };
  const Part parts[] = {{"W0/bg", 0, 0, W, H, 0xFF204080, 0, false, 256},
                        {"W0/add", 8, 8, 30, 20, 0xFF303030, 1, false, 256},
                        {"W0/alpha", 30, 20, 20, 20, 0xC0F0E0D0, 0, true, 160}};
  int key = 1;
  for (const Part& p : parts) {
    NameNode* n = CreateNamedNode(g_LayerRoot, p.path, false, key++);
    ASSERT_NE(n, nullptr);
    LayerRecord* r = AttachNewLayerRecord(n);
    r->mPixels = AllocImageBuffer(nullptr, p.w, p.h, nullptr);
    r->mWidth = p.w, r->mHeight = p.h;
    r->mX100 = p.x * 100, r->mY100 = p.y * 100;
    r->mBlendMode = p.mode;
    r->mHasAlpha = p.alpha;
    r->mOpacity = p.opacity;
    r->mGpuKind = GPU_KIND_TEXTURED;
    for (int i = 0; i < p.w * p.h; i++) memcpy(r->mPixels + (size_t)i * 4, &p.bgra, 4);
    ASSERT_EQ(UploadLayerTextures(r, 0, 512, 256), 0);
  }
  NameNode* off = CreateNamedNode(g_LayerRoot, "W0/offscreen", false, key++);
  LayerRecord* o = AttachNewLayerRecord(off);
  o->mPixels = AllocImageBuffer(nullptr, W, H, nullptr);
  o->mWidth = W, o->mHeight = H;
  g_OffscreenLayerNode = off;
  g_GpuRedrawRequest = 1;
  LayerRecord* root = GetLayerRecord(main->mRootLayer);
  ASSERT_EQ(DrawWindow(main), 0);
  ASSERT_EQ(PresentWindow(main), 0);
  PlatRect rect;
  ASSERT_TRUE(g_Platform->GetWindowRect(0, &rect));
  // The server draws asynchronously: a few rounds of pumping, presenting and looking, until
  // the screen shows the composed pixels.
  std::vector<uint8_t> rgb((size_t)SCREEN_W * SCREEN_H * 3);
  int mismatches = -1;
  // A busy machine may take long: the rounds go on for up to a minute.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (mismatches != 0 && std::chrono::steady_clock::now() < deadline) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e)) {
    }
    InvalidateScreen(main);
    std::string full = std::string(shot) + ".screen";
    ASSERT_EQ(PlatStartProcess({"import", "-window", "root", "-depth", "8", "rgb:" + full}, true), 0);
    std::ifstream in(full, std::ios::binary);
    in.read(reinterpret_cast<char*>(rgb.data()), (std::streamsize)rgb.size());
    ASSERT_EQ((size_t)in.gcount(), rgb.size());
    mismatches = 0;
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        const uint8_t* s = rgb.data() + ((size_t)(rect.y + y) * SCREEN_W + rect.x + x) * 3;
        const uint8_t* p = root->mPixels + ((size_t)y * W + x) * 4;
        if (s[0] != p[2] || s[1] != p[1] || s[2] != p[0]) mismatches++;
      }
  }
  EXPECT_EQ(mismatches, 0);
  std::ofstream out(shot, std::ios::binary);
  for (int y = 0; y < H; y++)
    out.write(reinterpret_cast<const char*>(rgb.data() + ((size_t)(rect.y + y) * SCREEN_W + rect.x) * 3), W * 3);
  out.close();
  ShutdownDirect3D();
  g_Platform->DestroyWindow(0);
  PlatformQuit();
}

}  // namespace
