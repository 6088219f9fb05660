// The window records, opening the game windows and the window events' effect on engine state.
#include <cstring>
#include <string>

#include "app/window.h"

WindowRecord* g_WindowRecords[4];
uint8_t g_MouseMoved;
uint16_t g_WheelDelta;

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

void SetupWindowRecord(WindowRecord* w, const char* title) {
  CopyTextBounded(w->mTitle, sizeof w->mTitle, title ? title : "");
}

bool CreateGameWindow(WindowRecord* w, const char* title) {
  std::string utf8;
  if (!PlatCp932ToUtf8(title, strlen(title), &utf8)) utf8 = title;
  if (!g_Platform->CreateWindow(w->mIndex, w->mWidth, w->mHeight, utf8.c_str())) return false;
  w->mHasWindow = 1;
  // A new window takes the focus as it would on the desktop.
  w->mActive = 1;
  return true;
}

void CreateMenuBarWindow() {}

void HandlePlatformEvent(const PlatEventRecord& e) {
  WindowRecord* w = e.window >= 0 && e.window < 4 ? g_WindowRecords[e.window] : nullptr;
  switch (e.type) {
    case PLAT_EVENT_QUIT:
      RequestQuit();
      break;
    case PLAT_EVENT_CLOSE:
      if (w && w->mIndex == 0) RequestQuit();
      break;
    case PLAT_EVENT_FOCUS_GAINED:
      if (w) w->mActive = 1;
      break;
    case PLAT_EVENT_FOCUS_LOST:
      if (w) w->mActive = 0;
      break;
    default:
      break;
  }
}
