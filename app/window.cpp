// The window records, opening the game windows and what the window events do to engine state:
// close modes, minimise and maximise, aspect-ratio sizing, monitors, drops and caption drags.
#include "app/window.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/menus.h"
#include "media/media.h"
#include "render/gpu.h"
#include "render/render.h"
#include "script/script_set.h"

WindowRecord* g_WindowRecords[4];
uint8_t g_MouseMoved;
uint16_t g_WheelDelta;
std::atomic<uint8_t> g_MaximizeClicked;
std::atomic<uint8_t> g_MinimizeClicked;
std::atomic<uint8_t> g_CloseRequested;
std::atomic<uint8_t> g_CaptionDoubleClicked;
std::atomic<int64_t> g_MenuCommand;
std::atomic<int32_t> g_LastKeyDown;
std::atomic<uint8_t> g_MouseClick;
DroppedFileList g_DroppedFiles;
uint8_t g_WindowMaximized;
uint8_t g_MaximizedBySysCommand;
int32_t g_SizesBeforeMaximize[4];
uint8_t g_RestorePending;
uint8_t g_FrameChangePending;
int32_t g_OldFrameSize[2];
int32_t g_CurrentMonitor;
uint8_t g_WindowResizable;
DragLayerState g_DragLayer;
std::atomic<uint8_t> g_MovieEndPosted;
uint8_t g_CaptionDragRequest;

namespace {

// Game width over game height; 1.0 for a game height of 0 or less.
double AspectRatio(const WindowRecord* w) {
  return w->mHeight > 0 ? (double)w->mWidth / (double)w->mHeight : 1.0;
}

int RoundHalfUp(double v) { return (int)(v + 0.5); }

// No window system makes a client side longer than this (X counts in 16 bits).
constexpr int MAX_CLIENT_SIDE = 65535;

std::string ToUtf8(const char* cp932) {
  std::string utf8;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &utf8)) utf8 = cp932;
  return utf8;
}

// The size limits a user drag may reach: the largest game-shaped client on the desktop and a
// quarter of the smaller game side.
void ApplySizeLimits(WindowRecord* w) {
  if (g_FullScreen || g_WindowMaximized || g_OutputSize.width == 0 || g_OutputSize.height == 0) return;
  double r = AspectRatio(w);
  int maxW = g_DesktopSize.width, maxH = (int)(g_DesktopSize.width / r);
  if (maxH > g_DesktopSize.height) {
    maxW = (int)(g_DesktopSize.height * r);
    maxH = g_DesktopSize.height;
  }
  int m = maxW < maxH ? maxW : maxH;
  int q = (w->mWidth < w->mHeight ? w->mWidth : w->mHeight) / 4;
  g_Platform->SetWindowSizeLimits(0, (int)(q * r), q, (int)(m * r), m);
}

void OnCloseWindow(WindowRecord* w) {
  if (w->mIndex == 0 && w->mCloseMode != WINDOW_CLOSE_WINDOW) EndGameThread();
  g_WindowSlotState[w->mIndex] = -1;
  if (w->mHasWindow) g_Platform->DestroyWindow(w->mIndex);
  w->mHasWindow = 0;
  SetWindowActive(w, 0);
  w->mMinimized = 0;
  // The tray icon and the menu bar go with the main window (the bar stays for a window-only close).
  if (w->mIndex == 0) RemoveTrayIcon();
  if (w->mIndex == 0 && w->mCloseMode != WINDOW_CLOSE_WINDOW) DestroyMenuSet(MENU_SET_BAR);
  // Destroying a window whose closing is not a window-only close ends the message loop.
  if (w->mCloseMode != WINDOW_CLOSE_WINDOW) g_Running = 0;
}

// The close box: returns true when the window is to close.
bool OnCloseBox(WindowRecord* w) {
  switch (w->mCloseMode) {
    case WINDOW_CLOSE_SCRIPT:
      g_CloseRequested = 1;
      return false;
    case WINDOW_CLOSE_ASK: {
      g_ModalSuspend = 1;
      PrepareModalUi();
      ApplyCursorRequest();
      int answer = PlatMessageBox(ToUtf8(g_WindowRecords[0]->mTitle).c_str(), "終了します。よろしいですか？",
                                  PLAT_MB_YESNO, PLAT_ICON_INFORMATION);
      g_ModalSuspend = 0;
      if (answer != PLAT_ID_YES) return false;
      g_QuitFlag = 1;
      return true;
    }
    case WINDOW_CLOSE_QUIT:
      g_QuitFlag = 1;
      return true;
    default:
      return true;
  }
}

void OnMaximized(WindowRecord* w) {
  g_MaximizeClicked = (uint8_t)(w->mIndex + 1);
  if (!w->mMaximizeAllowed) {
    g_Platform->RestoreWindow(w->mIndex);
    return;
  }
  if (w->mIndex != 0 || g_FullScreen || g_WindowMaximized) return;
  g_MaximizedBySysCommand = 1;
  g_Platform->SetWindowResizable(0, true);
  // A maximised window fills the work area: the limits of a user drag no longer hold.
  g_Platform->SetWindowSizeLimits(0, 0, 0, 0, 0);
  g_WindowMaximized = 1;
  g_SizesBeforeMaximize[0] = g_ClientAreaSize.width;
  g_SizesBeforeMaximize[1] = g_ClientAreaSize.height;
  g_SizesBeforeMaximize[2] = g_OutputSize.width;
  g_SizesBeforeMaximize[3] = g_OutputSize.height;
}

void OnRestored(WindowRecord* w) {
  bool wasMinimized = w->mMinimized;
  w->mMinimized = 0;
  if (w->mIndex != 0 || g_FullScreen) return;
  if (g_MaximizedBySysCommand) {
    g_MaximizedBySysCommand = 0;
    if (!g_WindowResizable) g_Platform->SetWindowResizable(0, false);
  }
  if (wasMinimized || !g_WindowMaximized) return;
  g_RestorePending = 0;
  g_WindowMaximized = 0;
  g_ClientAreaSize = {g_SizesBeforeMaximize[0], g_SizesBeforeMaximize[1]};
  g_OutputSize = {g_SizesBeforeMaximize[2], g_SizesBeforeMaximize[3]};
  memset(g_SizesBeforeMaximize, 0, sizeof g_SizesBeforeMaximize);
  ResizeScreenBuffer(g_OutputSize.width, g_OutputSize.height);
  g_Platform->SetWindowSize(0, g_ClientAreaSize.width, g_ClientAreaSize.height);
  ApplySizeLimits(w);
}

// Movies and Flash content follow the main window's picture, by client size / game size.
void RepositionMediaWindows(const WindowRecord* w) {
  double sx = w->mWidth != 0 ? double(g_ClientAreaSize.width) / w->mWidth : 1.0;
  double sy = w->mHeight != 0 ? double(g_ClientAreaSize.height) / w->mHeight : 1.0;
  RepositionFlashWindow(sx, sy);
  RepositionMovieWindow(sx, sy);
}

// An edge or corner drag of the main window's client to `width` x `height`: the other side
// follows the game's shape r. The host does not say which edge moved, so the last client size
// tells: a side that alone changed is the dragged edge, and the other side moves by the
// difference to the shape, growing or shrinking; two changed sides are a corner, which only
// ever grows the rectangle to the shape.
void FollowDraggedEdge(double r, int* width, int* height) {
  int w = *width, h = *height;
  int dx = RoundHalfUp(h * r) - w;
  int dy = RoundHalfUp(w / r) - h;
  bool widthMoved = w != g_ClientAreaSize.width, heightMoved = h != g_ClientAreaSize.height;
  if (widthMoved && !heightMoved) *height = h + dy;
  else if (heightMoved && !widthMoved) *width = w + dx;
  else if (dx > 0) *width = w + dx;
  else *height = h + dy;
}

// The window's client area has a new size.
void OnSize(WindowRecord* w, int width, int height) {
  if (!g_FullScreen && g_FrameStyleCountdown > 0) return;
  if (w->mIndex != 0) {
    // A sub window always keeps its game size.
    if (width != w->mWidth || height != w->mHeight) g_Platform->SetWindowSize(w->mIndex, w->mWidth, w->mHeight);
    return;
  }
  if (g_FullScreen || g_WindowMaximized) {
    if (width == g_ClientAreaSize.width && height == g_ClientAreaSize.height) return;
    if (width <= 0 || height <= 0) return;
    g_ClientAreaSize = {width, height};
    ResizeOutputBuffer(w->mWidth, w->mHeight, width, height);
    InvalidateScreen(w);
    RepositionMediaWindows(w);
    return;
  }
  // The user resized the window: keep the game's shape, within the desktop.
  if (width <= 0 || height <= 0 || width > MAX_CLIENT_SIDE || height > MAX_CLIENT_SIDE) return;
  double r = AspectRatio(w);
  int cw = width, ch = height;
  FollowDraggedEdge(r, &cw, &ch);
  if (cw > g_DesktopSize.width) cw = g_DesktopSize.width;
  if (ch > g_DesktopSize.height) ch = g_DesktopSize.height;
  double c = ch != 0 ? (double)cw / ch : 1.0;
  if (c > r) cw = RoundHalfUp(r * ch);
  else ch = RoundHalfUp(cw / r);
  if (cw <= 0 || ch <= 0) return;
  if (cw != width || ch != height) g_Platform->SetWindowSize(0, cw, ch);
  if (cw == g_OutputSize.width && ch == g_OutputSize.height && cw == g_ClientAreaSize.width &&
      ch == g_ClientAreaSize.height)
    return;
  {
    std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
    g_ClientAreaSize = {cw, ch};
    g_OutputSize = {cw, ch};
    ResizeScreenBuffer(cw, ch);
  }
  InvalidateScreen(w);
  RepositionMediaWindows(w);
}

void OnMoveWindow() {
  RefreshMonitorTable();
  int i = FindWindowMonitor(0);
  g_DesktopSize.width = g_MonitorTable.mWidth[i];
  g_DesktopSize.height = g_MonitorTable.mHeight[i];
  if (i != g_CurrentMonitor) {
    g_CurrentMonitor = i;
    // Another monitor may belong to another adapter: the GPU device is made again there.
    if ((g_GpuDrawing || g_GpuSceneMode) && !g_FullScreen && !g_WindowMaximized && g_ChangeDisplayMode)
      g_DeviceResetRequest = 1;
  }
  ApplySizeLimits(g_WindowRecords[0]);
}

// Host paths arrive as UTF-8 with '/'; scripts see code page 932 with '\', folders ending in '\'.
void OnDropFiles(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  FreeDroppedFiles();
  uint32_t count = 0;
  for (size_t p = 0; p < text.size() && count < MAX_DROPPED_FILES;) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    if (e > p) count++;
    p = e + 1;
  }
  if (count == 0) return;
  g_DroppedFiles.mPaths = static_cast<char (*)[DROPPED_PATH_BYTES]>(calloc(count, DROPPED_PATH_BYTES));
  if (!g_DroppedFiles.mPaths) return;
  uint32_t stored = 0;
  for (size_t p = 0; p < text.size() && stored < count;) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    if (e > p) {
      std::string real = text.substr(p, e - p);
      std::string cp932;
      if (!PlatUtf8ToCp932(real.data(), real.size(), &cp932)) cp932 = real;
      for (char& ch : cp932)
        if (ch == '/') ch = '\\';
      if (PlatFolderExists(real) && (cp932.empty() || cp932.back() != '\\')) cp932 += '\\';
      CopyTextBounded(g_DroppedFiles.mPaths[stored], DROPPED_PATH_BYTES, cp932.c_str());
      stored++;
    }
    p = e + 1;
  }
  g_DroppedFiles.mCount = g_DroppedFiles.mStored = stored;
}

void OnMouseDown(const PlatEventRecord& e) {
  static const uint8_t kKeys[] = {1, 2, 4};
  int index = e.window, button = e.button;
  if (button < 0 || button > 2) return;
  g_MouseClick = kKeys[button];
  NoteKeyEvent(kKeys[button], true);
  if (button != 0) return;
  // The drag layer belongs to the frame step: with the game-logic thread the press goes to the
  // input tick, which tests it against the layer. Without it the press is tested at its own
  // point: the last poll may have been taken before the pointer got there.
  if (g_GameThreadMode) {
    NoteDragPress(index);
    return;
  }
  NoteClientCursor(g_WindowRecords[index], e.x, e.y);
  if (DragLayerHit(g_WindowRecords[index])) g_CaptionDragRequest = (uint8_t)(index + 1);
}

// Events whose handling reads or changes window records, sizes, pictures or the cursor. With
// the game-logic thread they belong to the frame step, which takes them at its next frame; the
// rest (input, drops, the movie's end, menu choices) stay with the thread that pumps events.
bool ForFrameStep(PlatEventType type) {
  switch (type) {
    case PLAT_EVENT_CLOSE:
    case PLAT_EVENT_FOCUS_GAINED:
    case PLAT_EVENT_FOCUS_LOST:
    case PLAT_EVENT_MINIMIZED:
    case PLAT_EVENT_MAXIMIZED:
    case PLAT_EVENT_RESTORED:
    case PLAT_EVENT_RESIZED:
    case PLAT_EVENT_MOVED:
    case PLAT_EVENT_EXPOSED:
    case PLAT_EVENT_TRAY: return true;
    default: return false;
  }
}

// The window events handed from the main thread to the game-logic thread's frame step. A frame
// step that stalls (a long turn) must not let the queue grow without end: a repeated size, move
// or expose of one window replaces the one waiting, and past the cap new events are dropped.
constexpr size_t MAX_POSTED_WINDOW_EVENTS = 256;
std::mutex g_PostedWindowEventLock;
std::vector<PlatEventRecord> g_PostedWindowEvents;   // under g_PostedWindowEventLock

void PostWindowEvent(const PlatEventRecord& e) {
  std::lock_guard<std::mutex> lock(g_PostedWindowEventLock);
  bool replaces = e.type == PLAT_EVENT_RESIZED || e.type == PLAT_EVENT_MOVED || e.type == PLAT_EVENT_EXPOSED;
  if (replaces && !g_PostedWindowEvents.empty()) {
    PlatEventRecord& last = g_PostedWindowEvents.back();
    if (last.type == e.type && last.window == e.window) {
      last = e;
      return;
    }
  }
  if (g_PostedWindowEvents.size() < MAX_POSTED_WINDOW_EVENTS) g_PostedWindowEvents.push_back(e);
}

// What a window event does to the window's record and the engine's state, on the thread that
// owns them (the frame step's with the game-logic thread).
void HandleWindowEvent(WindowRecord* w, const PlatEventRecord& e) {
  switch (e.type) {
    case PLAT_EVENT_CLOSE:
      if (OnCloseBox(w)) OnCloseWindow(w);
      break;
    case PLAT_EVENT_FOCUS_GAINED:
      SetWindowActive(w, 1);
      InvalidateScreen(w);
      break;
    case PLAT_EVENT_FOCUS_LOST:
      SetWindowActive(w, 0);
      InvalidateScreen(w);
      break;
    case PLAT_EVENT_MINIMIZED:
      g_MinimizeClicked = (uint8_t)(w->mIndex + 1);
      if (w->mMinimizeAllowed) w->mMinimized = 1;
      else g_Platform->RestoreWindow(w->mIndex);
      break;
    case PLAT_EVENT_MAXIMIZED: OnMaximized(w); break;
    case PLAT_EVENT_RESTORED: OnRestored(w); break;
    case PLAT_EVENT_RESIZED: OnSize(w, e.x, e.y); break;
    case PLAT_EVENT_MOVED:
      if (w->mIndex == 0) OnMoveWindow();
      break;
    case PLAT_EVENT_EXPOSED: InvalidateScreen(w); break;
    case PLAT_EVENT_TRAY:
      if (w->mIndex != 0) break;
      if (e.button == 0 && e.clicks < 2) OnTrayNotify(1);
      else if (e.button == 1 || e.clicks >= 2) OnTrayNotify(2);
      break;
    default: break;
  }
}

}  // namespace

void InitWindowRecord(WindowRecord* w, int index) {
  memset(w, 0, sizeof *w);
  w->mIndex = index;
  w->mAlpha = 256;
  w->mCloseMode = WINDOW_CLOSE_ASK;
  w->mMinimizeAllowed = 1;
  w->mMaximizeAllowed = index == 0 ? 1 : 0;
  w->mVisible = 1;
  w->mCursorShowOnMove = w->mCursorShowOnClick = w->mCursorShowOnWheel = 1;
  g_MouseMoved = 0;
  g_WheelDelta = 0;
}

int CreateWindowRecords() {
  for (int i = 0; i < 4; i++) {
    g_WindowSlotState[i] = -1;
    if (!g_WindowRecords[i]) g_WindowRecords[i] = new (std::nothrow) WindowRecord;
    if (!g_WindowRecords[i]) return -1;
    InitWindowRecord(g_WindowRecords[i], i);
  }
  return 0;
}

int SetupWindowRecord(WindowRecord* w, const char* title) {
  if (title != w->mTitle) CopyTextBounded(w->mTitle, sizeof w->mTitle, title ? title : "");
  if (w->mIndex != 0) w->mVisible = 1;
  w->mAlpha = 256;
  w->mCloseMode = WINDOW_CLOSE_ASK;
  w->mMinimizeAllowed = 1;
  w->mMaximizeAllowed = w->mIndex == 0 ? 1 : 0;
  w->mCursorShowOnMove = w->mCursorShowOnClick = w->mCursorShowOnWheel = 1;
  return 0;
}

bool CreateGameWindow(WindowRecord* w, const char* title) {
  if (w->mIndex < 0 || w->mIndex > 3 || w->mWidth <= 0 || w->mHeight <= 0) return false;
  if (!g_Platform->CreateWindow(w->mIndex, w->mWidth, w->mHeight, ToUtf8(title).c_str())) return false;
  w->mHasWindow = 1;
  w->mClassRegistered = 1;
  // A project without frames opens its main window as a bare pop-up: no caption, no border,
  // and so no sizing border either.
  bool framed = w->mIndex != 0 || g_ProjectFramedWindows != 0;
  if (!framed) g_PlatformDesktop->SetWindowFrame(0, false);
  g_Platform->SetWindowResizable(w->mIndex, w->mIndex == 0 && framed && g_WindowResizable);
  // Sub windows of the window command start where it asks; the main window centred.
  PlatRect desk;
  if (w->mIndex != 0) {
    g_Platform->SetWindowPosition(w->mIndex, w->mX, w->mY);
  } else if (g_Platform->GetMonitors(&desk, 1) > 0) {
    // A game larger than the screen starts at its corner, so the frame and its caption stay
    // on screen where the player can take them.
    int x = desk.x + desk.width / 2 - w->mWidth / 2, y = desk.y + desk.height / 2 - w->mHeight / 2;
    g_Platform->SetWindowPosition(0, x > desk.x ? x : desk.x, y > desk.y ? y : desk.y);
  }
  // A new window takes the focus as it would on the desktop.
  SetWindowActive(w, 1);
  if (w->mIndex == 0) ApplySizeLimits(w);
  return true;
}

void CreateMenuBarWindow() {
  g_MenuBarShown = 0;
  g_MenuBarHeight = 20;
}

void HandlePlatformEvent(const PlatEventRecord& e) {
  if (e.type == PLAT_EVENT_QUIT) {
    RequestQuit();
    return;
  }
  if (e.window < 0 || e.window >= 4 || !g_WindowRecords[e.window]) return;
  // Keys released while another program has the focus are never seen.
  if (e.type == PLAT_EVENT_FOCUS_LOST) memset(g_KeyboardSnapshot, 0, sizeof g_KeyboardSnapshot);
  WindowRecord* w = g_WindowRecords[e.window];
  if (g_GameThreadMode) {
    // The records are the game-logic thread's: whether the window still exists is its to say.
    if (ForFrameStep(e.type)) {
      PostWindowEvent(e);
      return;
    }
  } else {
    if (!w->mHasWindow) return;
    if (ForFrameStep(e.type)) {
      HandleWindowEvent(w, e);
      return;
    }
  }
  switch (e.type) {
    case PLAT_EVENT_KEY_DOWN:
      g_LastKeyDown = e.key;
      NoteKeyEvent(e.key, true);
      break;
    case PLAT_EVENT_KEY_UP: NoteKeyEvent(e.key, false); break;
    case PLAT_EVENT_MOUSE_MOVE: g_MouseMoved = 128; break;
    case PLAT_EVENT_MOUSE_DOWN: OnMouseDown(e); break;
    case PLAT_EVENT_MOUSE_UP:
      if (e.button >= 0 && e.button <= 2) NoteKeyEvent(e.button == 0 ? 1 : e.button == 1 ? 2 : 4, false);
      break;
    case PLAT_EVENT_WHEEL: {
      int v = e.wheel > 32767 ? 32767 : e.wheel < -32768 ? -32768 : e.wheel;
      g_WheelDelta = (uint16_t)(int16_t)v;
      break;
    }
    case PLAT_EVENT_DROP_FILE: OnDropFiles(e.text); break;
    case PLAT_EVENT_MOVIE_END:
      if (e.window != 0) break;
      // The movie's state is the scripts': with the game-logic thread its frame step takes it.
      if (g_GameThreadMode) g_MovieEndPosted = 1;
      else OnMovieEnd();
      break;
    case PLAT_EVENT_MENU_COMMAND: g_MenuCommand = e.key & 0xFFFF; break;
    default: break;
  }
}

void TakePostedWindowEvents() {
  std::vector<PlatEventRecord> events;
  {
    std::lock_guard<std::mutex> lock(g_PostedWindowEventLock);
    if (g_PostedWindowEvents.empty()) return;
    events.swap(g_PostedWindowEvents);
  }
  for (const PlatEventRecord& e : events) {
    WindowRecord* w = g_WindowRecords[e.window];
    // A window closed since the event was posted takes no more of them.
    if (w && w->mHasWindow) HandleWindowEvent(w, e);
  }
}

void ForgetPostedWindowEvents() {
  std::lock_guard<std::mutex> lock(g_PostedWindowEventLock);
  g_PostedWindowEvents.clear();
}

void OnMaximizeRequest(WindowRecord* w) {
  if (w) OnMaximized(w);
}

void OnRestoreRequest(WindowRecord* w) {
  if (w) OnRestored(w);
}

void FreeDroppedFiles() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  free(g_DroppedFiles.mPaths);
  g_DroppedFiles = DroppedFileList{};
}

void ForgetDragLayer(NameNode* node) {
  if (!node || g_DragLayer.mNode != node) return;
  g_DragLayer = DragLayerState{};
}
