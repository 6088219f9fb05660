// Window records of the four game windows and the events the window code turns into flags.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/engine.h"
#include "platform/platform.h"

struct NameNode;
struct LayerRecord;

enum : uint8_t {
  WINDOW_CLOSE_SCRIPT = 0,
  WINDOW_CLOSE_ASK = 1,
  WINDOW_CLOSE_QUIT = 2,
  WINDOW_CLOSE_WINDOW = 3,
};

constexpr int WINDOW_TITLE_BYTES = 261;
constexpr int WINDOW_MENU_PATH_BYTES = 256;
constexpr int DROPPED_PATH_BYTES = 521;
constexpr uint32_t MAX_DROPPED_FILES = 65536;
constexpr int SYSMENU_RESET_SIZE = 30001;

struct WindowRecord {
  int32_t mIndex;
  int32_t mX, mY;                // requested desktop position of a sub window
  int32_t mWidth, mHeight;       // game (logical) size
  int32_t mAlpha;
  uint8_t mVisible;
  uint8_t mClassRegistered;
  uint8_t mCloseMode;
  uint8_t mMaximizeAllowed;
  uint8_t mMinimizeAllowed;
  char mTitle[WINDOW_TITLE_BYTES];          // code page 932
  NameNode* mRootLayer;
  char mMenuPath[WINDOW_MENU_PATH_BYTES];
  uint8_t mDrawn;
  uint8_t mHasWindow;            // the platform window of this slot exists
  uint8_t mActive;                // through WindowIsActive / SetWindowActive
  // The cursor in game coordinates, as the frame step's input tick last took it.
  int32_t mCursorX, mCursorY;
  uint8_t mCursorOutside, mCursorFarOutside;
  uint8_t mCursorShowOnMove, mCursorShowOnClick, mCursorShowOnWheel;
  uint8_t mCursorHidden;
  uint32_t mCursorIdleSince;
  uint8_t mMinimized;            // the window is minimised (never the active one then)
};

// A window's active byte is written where its events are handled (and by the frame step for
// a window that it opens or that is minimised) and read by the frame step and the sound thread.
inline uint8_t WindowIsActive(const WindowRecord* w) {
  return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(w->mActive)).load(std::memory_order_acquire);
}
inline void SetWindowActive(WindowRecord* w, uint8_t active) {
  std::atomic_ref<uint8_t>(w->mActive).store(active, std::memory_order_release);
}

extern WindowRecord* g_WindowRecords[4];
// Mouse movement and the wheel since the last input poll (the thread that pumps events).
extern uint8_t g_MouseMoved;
extern uint16_t g_WheelDelta;

// Window events that scripts read and reset: set by the thread that pumps events, read and
// cleared by the scripts on the thread of the frame step.
extern std::atomic<uint8_t> g_MaximizeClicked;     // window index + 1
extern std::atomic<uint8_t> g_MinimizeClicked;
extern std::atomic<uint8_t> g_CloseRequested;
extern std::atomic<uint8_t> g_CaptionDoubleClicked;
extern std::atomic<int64_t> g_MenuCommand;
extern std::atomic<int32_t> g_LastKeyDown;
extern std::atomic<uint8_t> g_MouseClick;          // 1 left, 2 right, 4 middle

// The paths of the last drop (code page 932, folders end in '\'). Replaced as a whole by each
// drop under g_CriticalSection; readers on other threads take the lock. Scripts may lower
// mCount; mStored is how many paths the list owns.
struct DroppedFileList {
  uint32_t mCount;
  uint32_t mStored;
  char (*mPaths)[DROPPED_PATH_BYTES];
};
extern DroppedFileList g_DroppedFiles;

// Size state of the main window.
extern uint8_t g_WindowMaximized;
extern uint8_t g_MaximizedBySysCommand;
extern int32_t g_SizesBeforeMaximize[4];    // client width, height, output width, height
extern uint8_t g_RestorePending;
extern uint8_t g_FrameChangePending;
extern int32_t g_OldFrameSize[2];
extern int32_t g_CurrentMonitor;
extern uint8_t g_WindowResizable;           // the project lets the user resize the main window

// A movie's end reported to the main thread, for the game-logic thread's next frame.
extern std::atomic<uint8_t> g_MovieEndPosted;

// Caption drag by a layer: a click on a non-black pixel of the layer moves the window.
struct DragLayerState {
  uint8_t mOn;
  LayerRecord* mRecord;
  NameNode* mNode;
};
extern DragLayerState g_DragLayer;
// Window index + 1 of a caption drag for the input tick to begin, 0 none (the frame step's).
extern uint8_t g_CaptionDragRequest;

void InitWindowRecord(WindowRecord* w, int index);
// Record defaults for a window about to open; returns 0.
int SetupWindowRecord(WindowRecord* w, const char* title);
// Opens the record's platform window at its game size; false on failure.
bool CreateGameWindow(WindowRecord* w, const char* title);
void CreateMenuBarWindow();
// Turns one platform event into window state and flags (the thread that pumps events). With
// the game-logic thread, the events that change window records, sizes or pictures (a close, the
// focus, minimise, maximise, size, move, expose, the tray icon) are posted to the frame step
// instead, which handles them in TakePostedWindowEvents: the records have one owner.
void HandlePlatformEvent(const PlatEventRecord& e);
// What the caption's maximise and restore do to the window state, for the window command that
// asks for them (the frame step's thread): a host need not report a change it was asked for.
void OnMaximizeRequest(WindowRecord* w);
void OnRestoreRequest(WindowRecord* w);
// Handles the window events posted since the last call (the frame step's thread).
void TakePostedWindowEvents();
// Drops posted window events not taken yet (a new run, tests).
void ForgetPostedWindowEvents();
// Presents the window again at once from its current picture and marks its root changed.
void InvalidateScreen(WindowRecord* w);
// Drops the caption-drag references to a layer node that is being freed.
void ForgetDragLayer(NameNode* node);
// Frees the stored dropped paths.
void FreeDroppedFiles();
