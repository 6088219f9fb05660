// Switching the main window between window mode and full screen, display modes, the monitor
// table, the output size and the buffer the scaled picture is made in.
#include "app/fullscreen.h"

#include <cstdlib>
#include <cstring>

#include "app/input.h"
#include "app/menus.h"
#include "app/window.h"
#include "platform/platform.h"
#include "render/gpu.h"
#include "render/render.h"

uint8_t g_FullScreen;
MonitorTable g_MonitorTable;
int32_t g_SizesBeforeFullScreen[4];
int32_t g_FullScreenBits = 32;
uint8_t g_MenuBarShown;
uint8_t g_MenuBarAvailable;
int32_t g_MenuBarHeight = 20;
std::recursive_mutex g_ScreenLock;

namespace {

Size2 g_ScreenBufferSize;     // what g_ScreenBuffer was last made for
constexpr int MAX_MODES = 512;

Size2 GameSize() {
  WindowRecord* main = g_WindowRecords[0];
  return main ? Size2{main->mWidth, main->mHeight} : Size2{0, 0};
}

// The monitor's slot, or the first slot with a size when that one has none.
int UsableMonitor(int i) {
  if (i < 0 || i >= MONITOR_SLOTS) i = 0;
  if (g_MonitorTable.mWidth[i] != 0 && g_MonitorTable.mHeight[i] != 0) return i;
  for (int j = 0; j < MONITOR_SLOTS; j++)
    if (g_MonitorTable.mWidth[j] != 0 && g_MonitorTable.mHeight[j] != 0) return j;
  return i;
}

void CentreCursorOnMonitor(int i) {
  PlatRect r;
  if (!g_Platform->GetWindowRect(0, &r)) return;
  int x = g_MonitorTable.mLeft[i] + g_MonitorTable.mWidth[i] / 2 - r.x;
  int y = g_MonitorTable.mTop[i] + g_MonitorTable.mHeight[i] / 2 - r.y;
  g_Platform->WarpMouse(0, x, y);
}

// Full screen at the chosen size; the platform changes the display mode only when it must.
bool EnterFullScreen(const PlatDisplayMode* mode, int monitor) {
  if (!mode || (mode->width == g_MonitorTable.mWidth[monitor] && mode->height == g_MonitorTable.mHeight[monitor]))
    return g_Platform->SetFullScreen(0, true, nullptr);
  return g_Platform->SetFullScreen(0, true, mode);
}

}  // namespace

void ResizeScreenBuffer(int32_t width, int32_t height) {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  if (width > MAX_OUTPUT_SIDE) {
    ShowErrorBox("", "ＣＧサイズが大きすぎます。X=%d, Y=%d", width, height);
    free(g_ScreenBuffer);
    g_ScreenBuffer = nullptr;
    g_ScreenBufferSize = {0, 0};
    ReportError(100010, 1);
    return;
  }
  int64_t w = width > 0 ? width : 0, h = height > 0 ? height : 0;
  size_t bytes = (size_t)(w * 4 + w * 4 * h + 4);
  uint8_t* buffer = static_cast<uint8_t*>(realloc(g_ScreenBuffer, bytes));
  if (!buffer) {
    free(g_ScreenBuffer);
    g_ScreenBuffer = nullptr;
    g_ScreenBufferSize = {0, 0};
    ReportError(104030, 1);
    return;
  }
  g_ScreenBuffer = buffer;
  g_ScreenBufferSize = {width, height};
}

bool ScreenBufferReady() {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  if (g_OutputSize.width <= 0 || g_OutputSize.height <= 0) return false;
  if (!g_ScreenBuffer || g_ScreenBufferSize.width != g_OutputSize.width ||
      g_ScreenBufferSize.height != g_OutputSize.height)
    ResizeScreenBuffer(g_OutputSize.width, g_OutputSize.height);
  return g_ScreenBuffer != nullptr;
}

int ResizeOutputBuffer(int32_t gw, int32_t gh, int32_t aw, int32_t ah) {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  // A game side of 0 would divide by zero; it counts as 1.
  int64_t gameW = gw > 0 ? gw : 1, gameH = gh > 0 ? gh : 1;
  int mode = (g_WindowMaximized && !g_FullScreen) ? 1 : g_FitMode;
  Size2 out = g_OutputSize;
  bool widthBound = (double)ah > (double)gameH * aw / (double)gameW;
  switch (mode) {
    case 1:
      out = widthBound ? Size2{aw, (int32_t)(gameH * aw / gameW)} : Size2{(int32_t)(gameW * ah / gameH), ah};
      break;
    case 2:
      out = widthBound ? Size2{(int32_t)(gameW * ah / gameH), ah} : Size2{aw, (int32_t)(gameH * aw / gameW)};
      break;
    case 3: out = {aw, ah}; break;
    case 0: out = {gw, gh}; break;
    default: break;
  }
  if (g_FitMode != 2 && (out.width > g_DesktopSize.width || out.height > g_DesktopSize.height))
    out = {g_DesktopSize.width / 2, g_DesktopSize.height / 2};
  if (out.width == g_OutputSize.width && out.height == g_OutputSize.height && g_ScreenBuffer) return 0;
  g_OutputSize = out;
  ResizeScreenBuffer(out.width, out.height);
  return 0;
}

void RefreshMonitorTable() {
  memset(&g_MonitorTable, 0, sizeof g_MonitorTable);
  PlatRect monitors[MONITOR_SLOTS];
  int n = g_Platform->GetMonitors(monitors, MONITOR_SLOTS);
  if (n <= 0) {
    g_MonitorTable.mWidth[0] = g_DesktopSize.width;
    g_MonitorTable.mHeight[0] = g_DesktopSize.height;
    return;
  }
  for (int i = 0; i < n && i < MONITOR_SLOTS; i++) {
    int slot = g_MonitorTable.mCount;
    g_MonitorTable.mLeft[slot] = monitors[i].x;
    g_MonitorTable.mTop[slot] = monitors[i].y;
    g_MonitorTable.mWidth[slot] = monitors[i].width;
    g_MonitorTable.mHeight[slot] = monitors[i].height;
    if (g_MonitorTable.mCount >= 15) break;
    g_MonitorTable.mCount++;
  }
}

int FindWindowMonitor(int slot) {
  WindowRecord* w = slot >= 0 && slot < 4 ? g_WindowRecords[slot] : nullptr;
  PlatRect r;
  if (!w || !w->mHasWindow || !g_Platform->GetWindowRect(slot, &r)) return 0;
  return UsableMonitor(g_Platform->GetWindowMonitor(slot));
}

int SetFullScreen(uint8_t on) {
  on = on ? 1 : 0;
  if (on == g_FullScreen) return 0;
  if (on) {
    g_FullScreen = 1;
    SwitchToFullScreen();
  } else {
    SwitchToWindowed();
    g_FullScreen = 0;
    g_WindowMaximized = 0;
  }
  return 1;
}

int SwitchToFullScreen() {
  RefreshMonitorTable();
  int monitor = FindWindowMonitor(0);
  g_DesktopSize.width = g_MonitorTable.mWidth[monitor];
  g_DesktopSize.height = g_MonitorTable.mHeight[monitor];
  g_SizesBeforeFullScreen[0] = g_ClientAreaSize.width;
  g_SizesBeforeFullScreen[1] = g_ClientAreaSize.height;
  g_SizesBeforeFullScreen[2] = g_OutputSize.width;
  g_SizesBeforeFullScreen[3] = g_OutputSize.height;
  Size2 game = GameSize();
  Size2 display = {g_DesktopSize.width, g_DesktopSize.height};
  if (g_ChangeDisplayMode) {
    // The smallest mode of the desktop's shape and depth that holds the game.
    int64_t aspect = g_DesktopSize.height > 0 ? (int64_t)g_DesktopSize.width * 1000 / g_DesktopSize.height : 0;
    static PlatDisplayMode modes[MAX_MODES];
    int n = g_Platform->GetDisplayModes(monitor, modes, MAX_MODES);
    bool found = false;
    for (int i = 0; i < n && i < MAX_MODES && aspect > 0; i++) {
      const PlatDisplayMode& m = modes[i];
      if (m.height <= 0 || (uint32_t)m.width * 1000u / (uint32_t)m.height != (uint64_t)aspect) continue;
      if (m.width < game.width || m.height < game.height || m.bitsPerPixel != g_FullScreenBits) continue;
      if (!found || (m.width < display.width && m.height < display.height)) display = {m.width, m.height};
      found = true;
    }
  }
  g_ClientAreaSize = display;
  ResizeOutputBuffer(game.width, game.height, display.width, display.height);
  if (ChangeDisplayMode() != 0) return 0;
  CentreCursorOnMonitor(monitor);
  g_MaximizedBySysCommand = 0;
  // In full screen the bar is shown by the menu-bar strip at the top of the screen.
  RebuildMainMenuBar();
  return 0;
}

int ChangeDisplayMode() {
  // A new display mode takes the GPU device's resources away: the next GPU frame rebuilds it.
  bool gpu = g_GpuDrawing || g_GpuSceneMode;
  if (gpu && g_ChangeDisplayMode) g_DeviceResetRequest = 1;
  int monitor = FindWindowMonitor(0);
  bool ok;
  bool matched = true;
  if (!g_ChangeDisplayMode) {
    ok = EnterFullScreen(nullptr, monitor);
  } else {
    static PlatDisplayMode modes[MAX_MODES];
    int n = g_Platform->GetDisplayModes(monitor, modes, MAX_MODES);
    const PlatDisplayMode* mode = nullptr;
    for (int i = 0; i < n && i < MAX_MODES && !mode; i++)
      if (modes[i].width == g_ClientAreaSize.width && modes[i].height == g_ClientAreaSize.height &&
          modes[i].bitsPerPixel == g_FullScreenBits)
        mode = &modes[i];
    matched = mode != nullptr;
    ok = matched && EnterFullScreen(mode, monitor);
  }
  if (ok) return 0;
  if (gpu) g_DeviceResetRequest = 0;
  g_FullScreen = 0;
  RestoreDesktopMode();
  if (!matched)
    ShowErrorBox("", "PC環境が %d x %d 解像度でのフルスクリーンに対応していません。", g_ClientAreaSize.width,
                 g_ClientAreaSize.height);
  else
    ReportError(105210, 0);
  return -1;
}

int RestoreDesktopMode() {
  g_Platform->SetFullScreen(0, false, nullptr);
  if (!g_QuitFlag) {
    g_Platform->SetWindowResizable(0, g_WindowResizable != 0);
    // The window code leaves size events alone while the frame settles.
    g_FrameStyleCountdown = 20;
  }
  if (g_WindowMaximized) g_Platform->RestoreWindow(0);
  if (!g_QuitFlag) RebuildMainMenuBar();
  return 0;
}

int SwitchToWindowed() {
  g_MenuBarShown = 0;
  memset(g_SizesBeforeFullScreen, 0, sizeof g_SizesBeforeFullScreen);
  Size2 game = GameSize();
  g_OutputSize = game;
  g_ClientAreaSize = game;
  RestoreDesktopMode();
  if ((g_GpuDrawing || g_GpuSceneMode) && g_ChangeDisplayMode) g_DeviceResetRequest = 1;
  g_Platform->SetWindowSize(0, game.width, game.height);
  ResizeScreenBuffer(g_OutputSize.width, g_OutputSize.height);
  RefreshMonitorTable();
  int monitor = FindWindowMonitor(0);
  g_DesktopSize.width = g_MonitorTable.mWidth[monitor];
  g_DesktopSize.height = g_MonitorTable.mHeight[monitor];
  CentreCursorOnMonitor(monitor);
  return 0;
}

void UpdateFullScreenMenuBar() {
  if (!g_FullScreen) {
    g_MenuBarShown = 0;
    return;
  }
  WindowRecord* main = g_WindowRecords[0];
  if (!main) return;
  if (main->mCursorY < g_MenuBarHeight && !g_MenuBarShown && g_MenuBarAvailable) g_MenuBarShown = 1;
  if (main->mCursorY >= g_MenuBarHeight && g_MenuBarShown) {
    g_MenuBarShown = 0;
    MarkRootWhollyDirty(main);
  }
}
