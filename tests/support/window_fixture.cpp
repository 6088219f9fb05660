// The main-window fixture shared by the window, input and rendering tests.
#include "tests/support/window_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/input.h"
#include "platform/headless/headless.h"
#include "render/render.h"

PlatEventRecord MakeEvent(PlatEventType type, int window) {
  PlatEventRecord e;
  e.type = type;
  e.window = window;
  e.key = e.x = e.y = e.button = e.clicks = e.wheel = e.joystick = 0;
  return e;
}

uint32_t PixelOf(const std::vector<uint8_t>& bgra, int width, int x, int y) {
  const uint8_t* p = bgra.data() + ((size_t)y * width + x) * 4;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void GameWindowTest::SetUp() {
  HeadlessTest::SetUp();
  g_FullScreen = 0;
  g_WindowMaximized = 0;
  g_MaximizedBySysCommand = 0;
  g_RestorePending = 0;
  g_FrameStyleCountdown = 0;
  g_FitMode = 1;
  g_BilinearScaling = 1;
  g_AllowSse = 1;
  g_ChangeDisplayMode = 1;
  g_FullScreenBits = 32;
  g_WindowResizable = 0;
  g_MaximizeClicked = g_MinimizeClicked = g_CloseRequested = 0;
  g_MouseClick = 0;
  g_LastKeyDown = 0;
  g_DragLayer = DragLayerState{};
  g_CaptionDragRequest = 0;
  g_LetterboxOffset = {0, 0};
  g_FrameTime = 0;
  g_Running = 1;
  g_ModalSuspend = 0;
  g_JoysticksPresent = 0;
  g_DesktopSize = {1920, 1080, 32, 60};
  ASSERT_EQ(CreateWindowRecords(), 0);
  main_ = g_WindowRecords[0];
  main_->mWidth = 640;
  main_->mHeight = 480;
  SetupWindowRecord(main_, "game");
  g_ClientAreaSize = g_OutputSize = {640, 480};
  ResizeScreenBuffer(640, 480);
  ResetInputState();
  ASSERT_TRUE(CreateGameWindow(main_, "game"));
  g_WindowSlotState[0] = 1;
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
}

void GameWindowTest::TearDown() {
  FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  for (int i = 0; i < 4; i++) {
    if (g_WindowRecords[i] && g_WindowRecords[i]->mHasWindow) g_Platform->DestroyWindow(i);
    if (g_WindowRecords[i]) InitWindowRecord(g_WindowRecords[i], i);
    g_WindowSlotState[i] = -1;
  }
  FreeDroppedFiles();
  free(g_ScreenBuffer);
  g_ScreenBuffer = nullptr;
  g_FullScreen = 0;
  g_WindowMaximized = 0;
  HeadlessTest::TearDown();
}

void GameWindowTest::Send(PlatEventRecord e) {
  HeadlessPushEvent(e);
  PlatEventRecord got;
  while (g_Platform->PollEvent(&got)) HandlePlatformEvent(got);
}

void GameWindowTest::InputFrame() {
  PollActiveWindowInput();
  UpdateInputState();
}

NameNode* GameWindowTest::AddLayer(const char* path, bool group, int64_t key, int32_t width, int32_t height,
                                   uint32_t bgra) {
  std::string full = std::string("W0/") + path;
  NameNode* node = CreateNamedNode(g_LayerRoot, full.c_str(), group, key);
  if (!node) return nullptr;
  LayerRecord* r = AttachNewLayerRecord(node);
  if (!r) return nullptr;
  if (width > 0 && height > 0) {
    r->mPixels = AllocImageBuffer(nullptr, width, height, nullptr);
    r->mWidth = width;
    r->mHeight = height;
    for (int64_t i = 0; i < (int64_t)width * height; i++) memcpy(r->mPixels + i * 4, &bgra, 4);
  }
  return node;
}
