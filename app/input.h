// The key-state table that scripts and message output read, the input tick and the cursor.
#pragma once

#include <cstdint>

struct WindowRecord;

constexpr int KEY_SLOTS = 1024;
constexpr int KEY_SLOT_WHEEL_AWAY = 5;     // wheel turned away from the user
constexpr int KEY_SLOT_WHEEL_TOWARD = 6;
constexpr int KEY_SLOT_MOUSE_MOVED = 7;
constexpr int KEY_SLOT_JOYSTICKS = 384;    // joystick j owns 36 slots from 384 + 36 j
constexpr int KEY_SLOTS_PER_JOYSTICK = 36;
constexpr int KEY_NONE = 1023;             // the key number that stands for no key
constexpr int MAX_JOYSTICKS = 16;

// One slot per key: 0-255 virtual keys (slot 0 = any polled key; 1, 2, 4 the mouse buttons),
// 5-7 wheel and mouse movement, then the joysticks.
struct KeyStateTable {
  uint8_t mKeyDown[KEY_SLOTS];        // bit 7 = down
  uint8_t mKeyEdge[KEY_SLOTS];        // 0 up, 2 down, as the edge handlers last saw it
  int64_t mHoldFrames[KEY_SLOTS];     // 1.. frames held, -1.. frames up, 0 never changed
  int64_t mPressCount[KEY_SLOTS];
};
extern KeyStateTable g_KeyState;

typedef void (*KeyEdgeHandler)(int slot);
extern KeyEdgeHandler g_KeyEdgeHandlers[4];
extern const uint8_t g_PolledKeys[117];

extern uint8_t g_KeyPollingEnabled;
extern uint8_t g_MousePollingEnabled;
extern uint8_t g_JoystickPollingEnabled;
extern int32_t g_JoystickCount;
struct JoystickReading {
  uint32_t mX, mY, mButtons;
};
extern JoystickReading g_JoystickInfo[MAX_JOYSTICKS];
extern uint32_t g_JoystickButtonMasks[32];

extern uint8_t g_CursorShown;
extern uint8_t g_CursorRequest;            // 0 none, 1 show, 2 hide
extern uint8_t g_CursorAutoHide;
extern uint32_t g_CursorAutoHideDelay;     // milliseconds
extern uint8_t g_CustomCursor;             // a cursor made from a layer is in use

// The window procedure's input for the next tick, and the keys and buttons down as the
// keyboard snapshot sees them (the main thread keeps it from the platform's events).
extern uint8_t g_KeyboardSnapshot[256];
extern int32_t g_MouseClientX, g_MouseClientY;   // last mouse position in the active window
extern uint8_t g_MouseInWindow;

void OnKeyStillUp(int slot);
void OnKeyPressed(int slot);
void OnKeyReleased(int slot);
void OnKeyHeld(int slot);
void RunKeyEdgeHandler(int slot);
void PollJoysticks();
void ApplyCursorRequest();
// The script commands of input polling and of the cursor.
int CmdInputSettings();
int CmdCursor();

// Forgets every key state and the switches' settings (start-up, tests).
void ResetInputState();
// Keeps the keyboard snapshot in step with a key or button event (main thread).
void NoteKeyEvent(int virtualKey, bool down);
// Without the game-logic thread: the window's cursor from a point of its client area that an
// event reported (a press may come before the next poll sees the pointer there).
void NoteClientCursor(WindowRecord* w, int x, int y);
// With the game-logic thread: a left press in window `index` that the next input tick tests
// against the caption-drag layer (main thread).
void NoteDragPress(int index);
