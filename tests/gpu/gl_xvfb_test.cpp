// The GPU path on a real X display: the OpenGL device draws the scene and presents the main
// window itself (through GLX on the virtual X server, swapped with vertical sync where offered),
// and the screenshot equals, within one level, the screenshot of the same scene drawn by the
// software device and shown through the SDL renderer; with output scaling, with the menu bar,
// after a device loss, and after a failed rebuild sends the window back to the CPU presenter.
// Skipped cleanly where xvfb-run or ImageMagick's import is missing, or no OpenGL context can
// be made.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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
// The output size of the scaled cases.
constexpr int OUT_W = 100, OUT_H = 76;

// What a child run shows: the plain window, the window scaled to the output size (bilinear, or
// nearest with the menu bar above it), and the plain window after a device loss and after a
// failed rebuild, and with the frames drawn and presented on a thread of their own, as in
// game-thread mode, while the main thread pumps and repaints. The scaled scenes leave out the layer at partial opacity: the two devices
// round it apart by one level, which the sharpening of the bilinear scaler would widen.
struct ShotCase {
  const char* name;
  bool scaled, bilinear, menuBar, blended;
};
const ShotCase kCases[] = {
    {"plain", false, true, false, true},   {"scaled", true, true, false, false}, {"bar", true, false, true, false},
    {"loss", false, true, false, true},    {"fallback", false, true, false, true},
    {"thread", false, true, false, true},
};

const ShotCase* CaseNamed(const char* name) {
  for (const ShotCase& c : kCases)
    if (name && !strcmp(c.name, name)) return &c;
  return nullptr;
}

// The window's client area (with the menu bar above it) as the X server shows it, R, G, B, on
// the device KIVOR_GPU names.
std::vector<uint8_t> ShotOn(const char* device, const ShotCase& c, const std::string& folder) {
  std::string shot = folder + "/" + device + "-" + c.name + ".rgb";
  setenv("KIVOR_XVFB_SHOT", shot.c_str(), 1);
  setenv("KIVOR_XVFB_CASE", c.name, 1);
  setenv("KIVOR_GPU", device, 1);
  // X, SDL and the GL driver keep allocations until exit; the child's run is about pixels.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  int status = PlatStartProcess({KIVOR_XVFB_RUN, "-a", "-n", "161", "-s", screen, PlatExecutablePath(),
                                 "--gtest_filter=GlXvfbChild.DISABLED_PresentsTheGpuSceneOnTheDisplay",
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_XVFB_SHOT");
  unsetenv("KIVOR_XVFB_CASE");
  unsetenv("KIVOR_GPU");
  EXPECT_EQ(status, 0) << "the child on " << device << ", " << c.name;
  std::ifstream in(shot, std::ios::binary);
  std::vector<uint8_t> rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(rgb.empty()) << "the shot on " << device << ", " << c.name;
  return rgb;
}

int WorstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.size(); i++) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

TEST(GlXvfbScreenshot, TheDevicePresentsWhatTheCpuPathShows) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import")) GTEST_SKIP() << "xvfb-run or import is not installed";
  if (!GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
  TempFolder folder;
  std::vector<uint8_t> cpu[3];
  for (int i = 0; i < 3; i++) cpu[i] = ShotOn("soft", kCases[i], folder.path());
  for (const ShotCase& c : kCases) {
    std::vector<uint8_t> gl = ShotOn("gl", c, folder.path());
    const std::vector<uint8_t>& expected = &c < kCases + 3 ? cpu[&c - kCases] : cpu[0];
    EXPECT_LE(WorstDifference(gl, expected), 1) << c.name;
  }
  // The ground's colour at the top left of the plain window: the scene, not a black window.
  ASSERT_GE(cpu[0].size(), 3u);
  EXPECT_EQ(cpu[0][0], 0x20);
  EXPECT_EQ(cpu[0][1], 0x40);
  EXPECT_EQ(cpu[0][2], 0x80);
  // The bar's shot is taller than the scaled one by the bar, and differs from it there.
  EXPECT_GT(cpu[2].size(), cpu[1].size());
}

// Boxes of the child are answered at once (the failed rebuild shows one).
std::vector<std::string> g_ChildBoxes;
int AnswerBox(const char*, const char* text, const char* const*, int, int, int cancelIndex, int) {
  g_ChildBoxes.push_back(text ? text : "");
  return cancelIndex;
}

// A child's start: the SDL platform with its boxes answered at once, the tables, and the main
// window's record of W x H; null when the platform or the records cannot be made.
WindowRecord* StartChild(const char* title) {
  if (!PlatformInit("sdl")) return nullptr;
  g_Platform->ChoiceBox = AnswerBox;
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  if (CreateWindowRecords() != 0) return nullptr;
  WindowRecord* main = g_WindowRecords[0];
  main->mWidth = W;
  main->mHeight = H;
  SetupWindowRecord(main, title);
  return main;
}

// The client area and the menu bar above it, R, G, B rows, from the root window's shot.
std::vector<uint8_t> LookAtWindow(const std::string& file, const PlatRect& client, int barHeight) {
  std::vector<uint8_t> rgb((size_t)SCREEN_W * SCREEN_H * 3);
  EXPECT_EQ(PlatStartProcess({"import", "-window", "root", "-depth", "8", "rgb:" + file}, true), 0);
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(rgb.data()), (std::streamsize)rgb.size());
  EXPECT_EQ((size_t)in.gcount(), rgb.size());
  std::vector<uint8_t> out;
  for (int y = client.y - barHeight; y < client.y + client.height; y++)
    for (int x = client.x; x < client.x + client.width; x++) {
      bool inside = x >= 0 && y >= 0 && x < SCREEN_W && y < SCREEN_H;
      const uint8_t* p = rgb.data() + ((size_t)y * SCREEN_W + x) * 3;
      for (int k = 0; k < 3; k++) out.push_back(inside ? p[k] : 0);
    }
  return out;
}

// Runs inside the virtual X server, started by the test above.
TEST(GlXvfbChild, DISABLED_PresentsTheGpuSceneOnTheDisplay) {
  const char* shot = getenv("KIVOR_XVFB_SHOT");
  const char* device = getenv("KIVOR_GPU");
  const ShotCase* c = CaseNamed(getenv("KIVOR_XVFB_CASE"));
  if (!shot || !device || !c) GTEST_SKIP() << "runs only under the screenshot test";
  bool onGl = strcmp(device, "gl") == 0;
  WindowRecord* main = StartChild("gpu shot");
  ASSERT_NE(main, nullptr);
  g_DesktopSize = {SCREEN_W, SCREEN_H, 24, 60};
  Size2 output = c->scaled ? Size2{OUT_W, OUT_H} : Size2{W, H};
  g_ClientAreaSize = g_OutputSize = output;
  ResizeScreenBuffer(output.width, output.height);
  g_BilinearScaling = c->bilinear;
  ASSERT_TRUE(CreateGameWindow(main, "gpu shot"));
  if (c->menuBar) {
    PlatMenuItem items[2] = {{0, -1, 1, 0, 1, 0, "&File"}, {0, -1, 2, 0, 1, 0, "&View"}};
    g_PlatformDesktop->SetMenuBar(0, items, 2);
  }
  g_Platform->SetWindowSize(0, output.width, output.height);
  g_Platform->ShowWindow(0, true);
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
  g_GpuSceneMode = 1;
  g_GpuFilterLevel = 3;
  g_TextureTileLimit = {512, 256};
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
  ASSERT_EQ(StartDirect3D(), 0);
  ASSERT_EQ(g_D3D.mDevice, 1);
  EXPECT_STREQ(PlatGpu()->name, onGl ? "opengl" : "software");
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
    if (p.opacity != 256 && !c->blended) continue;
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
  PlatEventRecord e;
  if (!strcmp(c->name, "thread")) {
    // Start-up let the device go; the frame thread takes it, and the main thread presents in
    // between when the window must be repainted.
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread frames([&] {
      for (int frame = 0; frame < 4; frame++) {
        g_GpuRedrawRequest = 1;
        if (DrawWindow(main) != 0 || PresentWindow(main) != 0) failures++;
      }
      done = true;
    });
    while (!done) {
      while (g_Platform->PollEvent(&e)) {
      }
      InvalidateScreen(main);
    }
    frames.join();
    EXPECT_EQ(failures, 0);
  } else {
    ASSERT_EQ(DrawWindow(main), 0);
    ASSERT_EQ(PresentWindow(main), 0);
  }
  while (g_Platform->PollEvent(&e)) {
  }
  // The loss comes between two frames; the next frame rebuilds the device (or falls back to
  // the CPU for good) before it is shown.
  GlGpuObjects before = GlGpuObjectCount();
  int presented = GlGpuPresentations();
  if (onGl && (!strcmp(c->name, "loss") || !strcmp(c->name, "fallback"))) {
    EXPECT_GT(presented, 0);
    if (!strcmp(c->name, "fallback")) GlGpuRefuseDevice(-1);
    GlGpuInjectLoss(true);
    root->mChanged = 1;
    root->mRedrawnRect[0] = root->mRedrawnRect[1] = 0;
    root->mRedrawnRect[2] = W - 1;
    root->mRedrawnRect[3] = H - 1;
    ASSERT_EQ(PresentWindow(main), 0);
    // The frame after it draws the scene on the new device as the first one did.
    g_GpuRedrawRequest = 1;
    ASSERT_EQ(DrawWindow(main), 0);
    ASSERT_EQ(PresentWindow(main), 0);
  }
  PlatRect rect;
  ASSERT_TRUE(g_Platform->GetWindowRect(0, &rect));
  EXPECT_EQ(rect.width, output.width);
  EXPECT_EQ(rect.height, output.height);
  int barHeight = c->menuBar ? 20 : 0;   // the height of a menu row
  // What the client area must show: the root, or the frame scaled to the output size.
  const uint8_t* expected = c->scaled ? g_ScreenBuffer : root->mPixels;
  // The server draws asynchronously: a few rounds of pumping, presenting and looking, until
  // the screen shows the composed pixels.
  std::vector<uint8_t> rgb;
  int mismatches = -1;
  // A busy machine may take long: the rounds go on for up to a minute.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (mismatches != 0 && std::chrono::steady_clock::now() < deadline) {
    while (g_Platform->PollEvent(&e)) {
    }
    InvalidateScreen(main);
    rgb = LookAtWindow(std::string(shot) + ".screen", rect, barHeight);
    mismatches = 0;
    for (int y = 0; y < output.height; y++)
      for (int x = 0; x < output.width; x++) {
        const uint8_t* s = rgb.data() + ((size_t)(barHeight + y) * output.width + x) * 3;
        const uint8_t* p = expected + ((size_t)y * output.width + x) * 4;
        if (s[0] != p[2] || s[1] != p[1] || s[2] != p[0]) mismatches++;
      }
  }
  EXPECT_EQ(mismatches, 0);
  std::ofstream out(shot, std::ios::binary);
  out.write(reinterpret_cast<const char*>(rgb.data()), (std::streamsize)rgb.size());
  out.close();
  if (!onGl) {
    EXPECT_EQ(GlGpuPresentations(), 0) << "the software device never presents";
  } else if (!strcmp(c->name, "fallback")) {
    // The failed creation's box and the fall-back box, the CPU for good, nothing of the device
    // left, and the SDL renderer shows the window again.
    ASSERT_EQ(g_ChildBoxes.size(), 2u);
    EXPECT_EQ(g_ChildBoxes[1], "GPU描画が出来ませんでした。CPU描画に移行します。");
    EXPECT_EQ(g_GpuSceneMode, 0);
    EXPECT_EQ(g_D3D.mDevice, 0);
    GlGpuObjects left = GlGpuObjectCount();
    EXPECT_EQ(left.textures + left.framebuffers + left.buffers + left.vertexArrays + left.programs + left.shaders, 0);
    EXPECT_FALSE(PlatGpuPresentsFrames());
    GlGpuResetControls();
  } else {
    EXPECT_TRUE(PlatGpuPresentsFrames());
    EXPECT_GT(GlGpuPresentations(), presented) << "frames go through the device";
    EXPECT_TRUE(GlGpuSwapInterval() == 0 || GlGpuSwapInterval() == 1);
    // A rebuilt device holds what the first one held: nothing of the lost one is left over.
    GlGpuObjects after = GlGpuObjectCount();
    EXPECT_EQ(after.textures, before.textures);
    EXPECT_EQ(after.framebuffers, before.framebuffers);
    EXPECT_EQ(after.programs, before.programs);
    EXPECT_EQ(after.textureRecords, before.textureRecords);
    EXPECT_TRUE(g_ChildBoxes.empty());
  }
  ShutdownDirect3D();
  g_Platform->DestroyWindow(0);
  PlatformQuit();
}

// The device set-up on the virtual X server, whose OpenGL is always Mesa drawing on the
// processor: by default the capability check finds it unfit and the run takes the CPU path;
// named by KIVOR_GPU=gl it is taken as it is.
TEST(GlXvfbChoice, ASoftwareOpenGlIsUnfitUnlessNamed) {
  if (!ProgramOnPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  for (const char* named : {"", "gl"}) {
    SCOPED_TRACE(named);
    if (named[0]) setenv("KIVOR_GPU", named, 1);
    else unsetenv("KIVOR_GPU");
    setenv("KIVOR_XVFB_CHOICE", "1", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    int status = PlatStartProcess({KIVOR_XVFB_RUN, "-a", "-n", "171", "-s", "-screen 0 320x240x24", PlatExecutablePath(),
                                   "--gtest_filter=GlXvfbChild.DISABLED_SetsUpTheDeviceKivorGpuAllows",
                                   "--gtest_also_run_disabled_tests"},
                                  true);
    unsetenv("KIVOR_XVFB_CHOICE");
    unsetenv("KIVOR_GPU");
    EXPECT_EQ(status, 0);
  }
}

// Runs inside the virtual X server, started by the test above.
TEST(GlXvfbChild, DISABLED_SetsUpTheDeviceKivorGpuAllows) {
  if (!getenv("KIVOR_XVFB_CHOICE")) GTEST_SKIP() << "runs only under the choice test";
  bool named = getenv("KIVOR_GPU") != nullptr;
  WindowRecord* main = StartChild("gpu choice");
  ASSERT_NE(main, nullptr);
  g_ClientAreaSize = g_OutputSize = {W, H};
  ASSERT_TRUE(CreateGameWindow(main, "gpu choice"));
  if (!named && !GlGpuContextAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
  g_GpuSceneMode = 1;
  g_GpuFilterLevel = 3;
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
  ASSERT_EQ(StartDirect3D(), 0);
  EXPECT_EQ(g_QuitFlag, 0);
  if (named) {
    EXPECT_EQ(g_D3D.mDevice, 1);
    EXPECT_STREQ(PlatGpu()->name, "opengl");
    EXPECT_EQ(g_GpuSceneMode, 1);
    EXPECT_TRUE(g_ChildBoxes.empty());
  } else {
    EXPECT_EQ(g_D3D.mDevice, 0);
    EXPECT_EQ(g_GpuSceneMode, 0);
    EXPECT_EQ(g_GpuFilterLevel, 0);
    EXPECT_FALSE(PlatGpuPresentsFrames());
    ASSERT_EQ(g_ChildBoxes.size(), 1u);
    EXPECT_EQ(g_ChildBoxes[0], "GPU描画が出来ませんでした。CPU描画に移行します。");
    GlGpuObjects left = GlGpuObjectCount();
    EXPECT_EQ(left.textures + left.framebuffers + left.buffers + left.vertexArrays + left.programs + left.shaders, 0);
  }
  ShutdownDirect3D();
  g_Platform->DestroyWindow(0);
  PlatformQuit();
}

}  // namespace
