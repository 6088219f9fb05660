// The window commands: creating a sub window and changing any window's size, title, state,
// stacking, caption buttons, close mode, shown layer, menu bar, shape and drag layer; hiding a
// sub window; reading window information.
#include "app/window_commands.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/menus.h"
#include "app/window.h"
#include "layers/layer_args.h"
#include "platform/platform.h"
#include "render/gpu.h"
#include "render/render.h"
#include "script/nametree.h"

namespace {

enum : int { CMD_WINDOW = 94, CMD_HIDE_WINDOW = 95, CMD_WINDOW_QUERY = 96 };

enum : int {
  A_WINDOW = 1, A_TITLE, A_ALPHA, A_VISIBLE, A_X, A_Y, A_ZORDER, A_WIDTH, A_HEIGHT, A_CLIENT_WIDTH,
  A_CLIENT_HEIGHT, A_FOREGROUND, A_MAXIMIZE_BOX, A_FULL_SCREEN, A_MINIMIZE, A_MAXIMIZE, A_MAXIMIZE_ALLOWED,
  A_MINIMIZE_ALLOWED, A_CLOSE_MODE, A_FLASH, A_FLASH_INTERVAL, A_LAYER, A_MENU, A_REGION, A_DRAG, A_RESIZABLE,
};

constexpr int32_t DEFAULT_SUB_WINDOW_SIDE = 128;
constexpr int32_t MAX_WINDOW_SIDE = 8192;

// The caption's maximise button, per window: shown when a window opens.
uint8_t g_MaximizeBoxShown[4] = {1, 1, 1, 1};

std::string ToUtf8(const char* cp932) {
  std::string utf8;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &utf8)) utf8 = cp932;
  return utf8;
}

bool IsOpen(const WindowRecord* w) { return g_WindowSlotState[w->mIndex] == 1 && w->mHasWindow; }

// The window system reports a size or move of its own windows at once; so does this.
void NoteWindowEvent(WindowRecord* w, PlatEventType type, int x, int y) {
  PlatEventRecord e{};
  e.type = type;
  e.window = w->mIndex;
  e.x = x;
  e.y = y;
  HandlePlatformEvent(e);
}

void ResizeClient(WindowRecord* w, int width, int height) {
  if (width <= 0 || height <= 0 || width > MAX_WINDOW_SIDE || height > MAX_WINDOW_SIDE) return;
  g_Platform->SetWindowSize(w->mIndex, width, height);
  NoteWindowEvent(w, PLAT_EVENT_RESIZED, width, height);
}

// A client side from arguments 10 and 11: the other side follows the game's shape.
void ApplyClientSize(WindowRecord* w, bool byWidth, int64_t value) {
  if (!IsOpen(w)) return;
  if (byWidth) {
    int64_t c = value < g_DesktopSize.width ? value : g_DesktopSize.width;
    if (w->mWidth > 0) ResizeClient(w, (int)c, (int)(c * w->mHeight / w->mWidth));
  } else {
    int64_t c = value < g_DesktopSize.height ? value : g_DesktopSize.height;
    if (w->mHeight > 0) ResizeClient(w, (int)(c * w->mWidth / w->mHeight), (int)c);
  }
}

// A layer argument normalised against the layer folder and looked up as `mode`; null after
// message 101250 or a refused path.
NameNode* FindLayerArgument(int param, uint8_t mode) {
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, ArgText(param), g_LayerFolder, false) < 0) return nullptr;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, mode);
  if (!node || !GetLayerRecord(node)) {
    ReportScriptErrorF(101250, 1, CurrentCommandName(), path);
    return nullptr;
  }
  return node;
}

int OpenSubWindow(WindowRecord* w, bool takeWidth, bool takeHeight) {
  w->mX = w->mY = 0;
  w->mWidth = takeWidth ? (int32_t)ArgInt(A_WIDTH) : DEFAULT_SUB_WINDOW_SIDE;
  w->mHeight = takeHeight ? (int32_t)ArgInt(A_HEIGHT) : DEFAULT_SUB_WINDOW_SIDE;
  if (!ArgGiven(A_TITLE)) return ReportScriptErrorF(101320, 1, CurrentCommandName()), -1;
  // A side the window system could not make fails like a refused window.
  if (w->mWidth > MAX_WINDOW_SIDE || w->mHeight > MAX_WINDOW_SIDE) return -1;
  const char* title = ArgText(A_TITLE)[0] ? ArgText(A_TITLE) : " ";
  if (!CreateGameWindow(w, title)) return -1;
  if (w->mIndex > 0) g_Platform->ShowWindow(w->mIndex, true);
  SetupWindowRecord(w, title);
  g_MaximizeBoxShown[w->mIndex] = 1;
  g_WindowSlotState[w->mIndex] = 1;
  return 0;
}

// Argument 7: 1 topmost; otherwise out of the topmost band, then 0 top, 2 bottom, 3 right
// behind the main window.
int ApplyZOrder(WindowRecord* w, int64_t v) {
  if (w->mIndex == 0 && v == 3) {
    ReportScriptErrorF(101310, 1, CurrentCommandName(), CurrentParameterName(A_ZORDER), (int)v);
    return -1;
  }
  if (!IsOpen(w)) return 0;
  if (v == 1) {
    g_PlatformDesktop->SetWindowZOrder(w->mIndex, PLAT_Z_TOPMOST);
    return 0;
  }
  g_PlatformDesktop->SetWindowZOrder(w->mIndex, PLAT_Z_NOT_TOPMOST);
  if (v == 0) g_PlatformDesktop->SetWindowZOrder(w->mIndex, PLAT_Z_TOP);
  else if (v == 2) g_PlatformDesktop->SetWindowZOrder(w->mIndex, PLAT_Z_BOTTOM);
  else if (v == 3) g_PlatformDesktop->SetWindowZOrder(w->mIndex, PLAT_Z_BEHIND_MAIN);
  return 0;
}

// Argument 22: the group layer the window shows.
int ApplyRootLayer(WindowRecord* w) {
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, ArgText(A_LAYER), g_LayerFolder, false) < 0) return -1;
  if (LayerRecord* old = GetLayerRecord(w->mRootLayer)) old->mIsWindowRoot = 0;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_GROUP);
  LayerRecord* r = GetLayerRecord(node);
  if (!r) return ReportScriptErrorF(101250, 1, CurrentCommandName(), path), -1;
  w->mRootLayer = node;
  r->mIsWindowRoot = 1;
  InvalidateLayer(node);
  if (r->mWidth == 0 || r->mHeight == 0) {
    ShowErrorBox("", ToCp932Text("サイズが 0x0 のレイヤセットを表示対象に指定することは出来ません。").c_str());
    r->mIsWindowRoot = 0;
    w->mRootLayer = nullptr;
    g_QuitFlag = 1;
    return -1;
  }
  MarkRootWhollyDirty(w);
  return 0;
}

// Argument 15: 2 minimises; another positive value minimises and hides (off the taskbar);
// 0 restores.
void ApplyMinimize(WindowRecord* w, int64_t v) {
  if (v < 0 || !IsOpen(w)) return;
  if (v >= 1) {
    g_PlatformDesktop->MinimizeWindow(w->mIndex);
    if (v != 2) g_Platform->ShowWindow(w->mIndex, false);
    return;
  }
  g_Platform->RestoreWindow(w->mIndex);
  g_Platform->ShowWindow(w->mIndex, true);
  g_RestorePending = 0;
  g_WindowMaximized = 0;
  if (g_ChangeDisplayMode) g_DeviceResetRequest = 1;
  InvalidateScreen(w);
}

// Argument 16 works as the caption's button: the window's own handling first (the flags, the
// sizing border a window manager needs before it maximises), then the host's maximise or
// restore, which need not be reported back.
void ApplyMaximize(WindowRecord* w) {
  if (!IsOpen(w)) return;
  if (!g_WindowMaximized) {
    OnMaximizeRequest(w);
    if (w->mMaximizeAllowed) g_PlatformDesktop->MaximizeWindow(w->mIndex);
    return;
  }
  g_Platform->RestoreWindow(w->mIndex);
  OnRestoreRequest(w);
  g_DesktopRedrawCountdown = 1;
}

void ApplyResizable(WindowRecord* w, int64_t value) {
  uint8_t flag = (uint8_t)value;
  if (flag == g_WindowResizable) return;
  g_WindowResizable = flag;
  if (g_FullScreen) return;
  // The host measures client areas only, so the frame the client keeps its place in is empty.
  g_OldFrameSize[0] = g_OldFrameSize[1] = 0;
  g_FrameChangePending = 1;
  if (IsOpen(w)) g_Platform->SetWindowResizable(w->mIndex, flag != 0);
  if (g_GpuDrawing && g_ChangeDisplayMode) g_DeviceResetRequest = 1;
}

}  // namespace

int FlashTaskbarButton(WindowRecord* w, int32_t count, int32_t intervalMs) {
  if (!w || !IsOpen(w)) return -1;
  g_PlatformDesktop->FlashWindow(w->mIndex, count, intervalMs);
  return 0;
}

void PaintWindowBlack(WindowRecord* w) {
  if (!w || !w->mHasWindow) return;
  static const uint8_t kBlack[4] = {0, 0, 0, 0};
  g_Platform->PresentFrame(w->mIndex, kBlack, 1, 1, 4, 0, 0, g_ClientAreaSize.width, g_ClientAreaSize.height);
}

int SetWindowRegionFromLayer(WindowRecord* w, const LayerRecord* layer) {
  if (!w || !IsOpen(w) || !layer || !layer->mPixels || layer->mWidth <= 0 || layer->mHeight <= 0) return -1;
  std::vector<PlatRect> rects;
  for (int32_t y = 0; y < layer->mHeight; y++) {
    const uint8_t* row = layer->mPixels + (size_t)y * (size_t)layer->mWidth * 4;
    for (int32_t x = 0; x < layer->mWidth;) {
      const uint8_t* p = row + (size_t)x * 4;
      if ((p[0] | p[1] | p[2]) == 0) {
        x++;
        continue;
      }
      int32_t start = x;
      while (x < layer->mWidth && (row[(size_t)x * 4] | row[(size_t)x * 4 + 1] | row[(size_t)x * 4 + 2]) != 0) x++;
      if ((int)rects.size() >= MAX_REGION_RECTS) return -1;
      rects.push_back({start, y, x - start, 1});
    }
  }
  g_PlatformDesktop->SetWindowShape(w->mIndex, rects.data(), (int)rects.size());
  return 0;
}

int CmdWindow() {
  if (DecodeLayerArguments(CMD_WINDOW) != 0) return -1;
  int64_t index = ArgGiven(A_WINDOW) ? ArgInt(A_WINDOW) : 0;
  WindowRecord* w = index >= 0 && index <= 3 ? g_WindowRecords[index] : nullptr;
  if (!w) return -1;

  // Sizes are left alone in full screen and while the main window is maximised.
  bool sizable = !g_FullScreen && !g_WindowMaximized;
  bool takeWidth = sizable && ArgGiven(A_WIDTH), takeHeight = sizable && ArgGiven(A_HEIGHT);
  if (sizable && ArgGiven(A_CLIENT_WIDTH)) ApplyClientSize(w, true, ArgInt(A_CLIENT_WIDTH));
  if (sizable && ArgGiven(A_CLIENT_HEIGHT)) ApplyClientSize(w, false, ArgInt(A_CLIENT_HEIGHT));
  if ((takeWidth || takeHeight) && IsOpen(w)) {
    int32_t width = takeWidth ? (int32_t)ArgInt(A_WIDTH) : w->mWidth;
    int32_t height = takeHeight ? (int32_t)ArgInt(A_HEIGHT) : w->mHeight;
    // A game size the window system could not show is refused; the window keeps its size.
    bool usable = width > 0 && height > 0 && width <= MAX_WINDOW_SIDE && height <= MAX_WINDOW_SIDE;
    if (usable && (width != w->mWidth || height != w->mHeight)) {
      w->mWidth = width;
      w->mHeight = height;
      ResizeClient(w, width, height);
    }
  }
  if (!IsOpen(w) && OpenSubWindow(w, takeWidth, takeHeight) != 0) return -1;

  if (ArgGiven(A_TITLE)) {
    const char* title = ArgText(A_TITLE)[0] ? ArgText(A_TITLE) : " ";
    CopyTextBounded(w->mTitle, sizeof w->mTitle, title);
    g_Platform->SetWindowTitle(w->mIndex, ToUtf8(w->mTitle).c_str());
  }
  if (ArgGiven(A_ALPHA)) w->mAlpha = (int32_t)ArgInt(A_ALPHA);
  if (ArgGiven(A_VISIBLE)) {
    uint8_t visible = (uint8_t)ArgInt(A_VISIBLE);
    if (visible != w->mVisible) {
      w->mVisible = visible;
      g_Platform->ShowWindow(w->mIndex, visible > 0);
    }
  }
  if (ArgGiven(A_X) || ArgGiven(A_Y)) {
    if (ArgGiven(A_X)) w->mX = (int32_t)ArgInt(A_X);
    if (ArgGiven(A_Y)) w->mY = (int32_t)ArgInt(A_Y);
    g_Platform->SetWindowPosition(w->mIndex, w->mX, w->mY);
    NoteWindowEvent(w, PLAT_EVENT_MOVED, w->mX, w->mY);
  }
  if (ArgGiven(A_ZORDER) && ApplyZOrder(w, ArgInt(A_ZORDER)) != 0) return -1;
  if (ArgGiven(A_MAXIMIZE_ALLOWED)) w->mMaximizeAllowed = (uint8_t)ArgInt(A_MAXIMIZE_ALLOWED);
  if (ArgGiven(A_MINIMIZE_ALLOWED)) w->mMinimizeAllowed = (uint8_t)ArgInt(A_MINIMIZE_ALLOWED);
  if (ArgGiven(A_CLOSE_MODE)) {
    int64_t mode = ArgInt(A_CLOSE_MODE);
    w->mCloseMode = (uint8_t)mode;
    if (w->mIndex == 0 && (mode < 0 || mode > 2)) {
      ReportScriptErrorF(101310, 1, CurrentCommandName(), CurrentParameterName(A_CLOSE_MODE), (int)mode);
      return -1;
    }
  }
  if (ArgGiven(A_FLASH))
    FlashTaskbarButton(w, (int32_t)ArgInt(A_FLASH), ArgGiven(A_FLASH_INTERVAL) ? (int32_t)ArgInt(A_FLASH_INTERVAL) : 0);
  if (ArgGiven(A_LAYER) && ApplyRootLayer(w) != 0) return -1;
  if (ArgGiven(A_MENU)) {
    w->mMenuPath[0] = 0;
    const char* menu = ArgText(A_MENU);
    if (menu[0] && NormalizeObjectPath(w->mMenuPath, menu, g_MenuFolder, false) < 0) {
      w->mMenuPath[0] = 0;
      return -1;
    }
    if (BuildWindowMenuBar(w->mMenuPath, w) != 0) return -1;
  }
  if (ArgGiven(A_REGION)) {
    NameNode* node = FindLayerArgument(A_REGION, NAME_LOOKUP_LEAF);
    if (!node) return -1;
    // The shape always belongs to the main window.
    if (SetWindowRegionFromLayer(g_WindowRecords[0], GetLayerRecord(node)) != 0) return 1;
  }
  if (ArgGiven(A_DRAG)) {
    NameNode* node = FindLayerArgument(A_DRAG, NAME_LOOKUP_LEAF);
    if (!node) return -1;
    g_DragLayer = {1, GetLayerRecord(node), node};
  }
  if (ArgGiven(A_MAXIMIZE_BOX) && !g_FullScreen) {
    uint8_t shown = ArgInt(A_MAXIMIZE_BOX) == 1 ? 1 : 0;
    if (shown != g_MaximizeBoxShown[w->mIndex]) {
      g_MaximizeBoxShown[w->mIndex] = shown;
      g_PlatformDesktop->SetMaximizeBox(w->mIndex, shown != 0);
    }
  }
  if (ArgGiven(A_FOREGROUND) && ArgInt(A_FOREGROUND) == 1) g_Platform->RaiseWindow(w->mIndex);
  if (ArgGiven(A_FULL_SCREEN) && w->mIndex == 0) {
    if (SetFullScreen((uint8_t)ArgInt(A_FULL_SCREEN)) == 1) MarkRootWhollyDirty(w);
  }
  if (ArgGiven(A_MINIMIZE)) ApplyMinimize(w, ArgInt(A_MINIMIZE));
  if (ArgGiven(A_MAXIMIZE)) ApplyMaximize(w);
  if (ArgGiven(A_RESIZABLE)) ApplyResizable(w, ArgInt(A_RESIZABLE));
  return 0;
}

int CmdHideWindow() {
  if (DecodeLayerArguments(CMD_HIDE_WINDOW) != 0) return -1;
  if (!ArgGiven(A_WINDOW)) return 0;
  int64_t index = ArgInt(A_WINDOW);
  if (index == 0) {
    ReportScriptErrorF(101330, 1, CurrentCommandName(), CurrentParameterName(A_WINDOW), (int)index);
    return -1;
  }
  WindowRecord* w = index > 0 && index <= 3 ? g_WindowRecords[index] : nullptr;
  // The record keeps its visible flag: the window can be shown again as it was.
  if (w && IsOpen(w)) g_Platform->ShowWindow(w->mIndex, false);
  return 0;
}

int CmdWindowQuery() {
  enum : int {
    Q_TARGET = 2, Q_EXISTS, Q_ALPHA, Q_VISIBLE, Q_ACTIVE, Q_TITLE, Q_LEFT, Q_TOP, Q_UNUSED_10, Q_WIDTH, Q_HEIGHT,
    Q_CLIENT_WIDTH, Q_CLIENT_HEIGHT, Q_MONITOR, Q_FULL_SCREEN, Q_MAXIMIZED, Q_MINIMIZED,
  };
  static const int kOrder[] = {Q_EXISTS, Q_ALPHA, Q_VISIBLE, Q_ACTIVE, Q_TITLE, Q_LEFT, Q_TOP, Q_WIDTH, Q_HEIGHT,
                               Q_CLIENT_WIDTH, Q_CLIENT_HEIGHT, Q_FULL_SCREEN, Q_MAXIMIZED, Q_MONITOR, Q_MINIMIZED};
  if (DecodeLayerArguments(CMD_WINDOW_QUERY) != 0) return -1;
  int64_t index = ArgGiven(A_WINDOW) ? ArgInt(A_WINDOW) : 0;
  WindowRecord* w = index >= 0 && index <= 3 ? g_WindowRecords[index] : nullptr;
  if (!w || !IsOpen(w)) {
    ClearResult(Q_TARGET);
    return 0;
  }
  int selector = 0;
  for (int s : kOrder) {
    if (ArgGiven(s)) {
      selector = s;
      break;
    }
  }
  PlatRect rect{};
  bool haveRect = g_Platform->GetWindowRect(w->mIndex, &rect);
  switch (selector) {
    case Q_EXISTS: StoreResultInt(Q_TARGET, 1); break;
    case Q_ALPHA: StoreResultInt(Q_TARGET, w->mAlpha); break;
    case Q_VISIBLE: StoreResultInt(Q_TARGET, w->mVisible); break;
    case Q_ACTIVE: StoreResultInt(Q_TARGET, WindowIsActive(w)); break;
    case Q_TITLE:
      if (TargetIsText(Q_TARGET)) StoreResultText(Q_TARGET, w->mTitle);
      break;
    case Q_LEFT:
      if (haveRect) w->mX = rect.x;
      StoreResultInt(Q_TARGET, w->mX);
      break;
    case Q_TOP:
      if (haveRect) w->mY = rect.y;
      StoreResultInt(Q_TARGET, w->mY);
      break;
    case Q_WIDTH: StoreResultInt(Q_TARGET, w->mWidth); break;
    case Q_HEIGHT: StoreResultInt(Q_TARGET, w->mHeight); break;
    case Q_CLIENT_WIDTH: StoreResultInt(Q_TARGET, haveRect ? rect.width : 0); break;
    case Q_CLIENT_HEIGHT: StoreResultInt(Q_TARGET, haveRect ? rect.height : 0); break;
    case Q_FULL_SCREEN: StoreResultInt(Q_TARGET, g_FullScreen); break;
    case Q_MAXIMIZED: StoreResultInt(Q_TARGET, g_WindowMaximized); break;
    case Q_MONITOR: StoreResultInt(Q_TARGET, g_CurrentMonitor); break;
    case Q_MINIMIZED: StoreResultInt(Q_TARGET, g_PlatformDesktop->IsWindowMinimized(w->mIndex) ? 1 : 0); break;
    default: break;
  }
  return 0;
}
