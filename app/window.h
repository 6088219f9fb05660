// Window records of the four game windows and the events the window code turns into flags.
#pragma once

#include <cstdint>

#include "app/engine.h"
#include "platform/platform.h"

struct NameNode;

enum : uint8_t {
  WINDOW_CLOSE_SCRIPT = 0,
  WINDOW_CLOSE_ASK = 1,
  WINDOW_CLOSE_QUIT = 2,
  WINDOW_CLOSE_WINDOW = 3,
};

struct WindowRecord {
  int32_t mIndex;
  int32_t mX, mY;
  int32_t mWidth, mHeight;       // game (logical) size
  int32_t mAlpha;
  uint8_t mVisible;
  uint8_t mClassRegistered;
  uint8_t mCloseMode;
  uint8_t mMaximizeAllowed;
  uint8_t mMinimizeAllowed;
  char mTitle[261];              // code page 932
  NameNode* mRootLayer;
  char mMenuPath[256];
  uint8_t mDrawn;
  uint8_t mHasWindow;            // the platform window of this slot exists
  uint8_t mActive;
  int32_t mCursorX, mCursorY;
  uint8_t mCursorOutside, mCursorFarOutside;
  uint8_t mCursorShowOnMove, mCursorShowOnClick, mCursorShowOnWheel;
  uint8_t mCursorHidden;
  uint32_t mCursorIdleSince;
};

extern WindowRecord* g_WindowRecords[4];
extern uint8_t g_MouseMoved;
extern uint16_t g_WheelDelta;

void InitWindowRecord(WindowRecord* w, int index);
void SetupWindowRecord(WindowRecord* w, const char* title);
// Opens the record's platform window at its game size; false on failure.
bool CreateGameWindow(WindowRecord* w, const char* title);
void CreateMenuBarWindow();
// Turns one platform event into window state and flags (main thread).
void HandlePlatformEvent(const PlatEventRecord& e);
