// Full screen, display modes, the monitor table and the output size of the main window.
#pragma once

#include <cstdint>

#include "app/engine.h"

constexpr int MONITOR_SLOTS = 16;
constexpr int32_t MAX_OUTPUT_SIDE = 8192;

// Up to 16 monitors; the count stops at 15, so a sixteenth is stored but not counted.
struct MonitorTable {
  int32_t mLeft[MONITOR_SLOTS];
  int32_t mTop[MONITOR_SLOTS];
  int32_t mWidth[MONITOR_SLOTS];
  int32_t mHeight[MONITOR_SLOTS];
  int32_t mCount;
};

extern uint8_t g_FullScreen;
extern MonitorTable g_MonitorTable;
extern int32_t g_SizesBeforeFullScreen[4];   // client width, height, output width, height
extern int32_t g_FullScreenBits;
// The menu-bar window shown over the top of the screen in full screen.
extern uint8_t g_MenuBarShown;
extern uint8_t g_MenuBarAvailable;           // the main window has a menu bar to show there
extern int32_t g_MenuBarHeight;
// Guards g_ScreenBuffer and the sizes it is made for: the main thread resizes it on window
// events while the frame step may be scaling into it.
extern std::recursive_mutex g_ScreenLock;

// 1 when it switched, 0 when the state already was the one asked for.
int SetFullScreen(uint8_t on);
int SwitchToFullScreen();
int SwitchToWindowed();
int RestoreDesktopMode();
// 0, or -1 after going back to window mode.
int ChangeDisplayMode();
// Recomputes g_OutputSize for a game size shown in an area and resizes the buffer. Returns 0.
int ResizeOutputBuffer(int32_t gameWidth, int32_t gameHeight, int32_t areaWidth, int32_t areaHeight);
// Makes g_ScreenBuffer hold a picture of width x height (fatal messages on failure, null buffer).
void ResizeScreenBuffer(int32_t width, int32_t height);
// True when g_ScreenBuffer holds a picture of the output size, resizing it first if needed.
bool ScreenBufferReady();
void RefreshMonitorTable();
int FindWindowMonitor(int slot);
