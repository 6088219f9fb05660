// The input tick: key, mouse, wheel and joystick slots with their hold and press counters, the
// keyboard snapshot of the active window, and the cursor's visibility.
#include "app/input.h"

#include <cstring>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/window.h"
#include "platform/platform.h"
#include "render/render.h"

KeyStateTable g_KeyState;
// Filled before start-up too, so a tick that runs before InitKeyEdgeTable calls no null slot.
KeyEdgeHandler g_KeyEdgeHandlers[4] = {OnKeyStillUp, OnKeyPressed, OnKeyReleased, OnKeyHeld};
const uint8_t g_PolledKeys[117] = {
    8,   9,   13,  16,  17,  18,  19,  27,  32,  33,  34,  35,  36,  37,  38,  39,  40,  44,  45,  46,
    47,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  65,  66,  67,  68,  69,  70,  71,  72,  73,
    74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  96,  97,  98,
    99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118,
    119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 144, 145, 160,
    161, 162, 163, 164, 165, 186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 226};

uint8_t g_KeyPollingEnabled = 1;
uint8_t g_MousePollingEnabled = 1;
uint8_t g_JoystickPollingEnabled;
int32_t g_JoystickCount;
JoystickReading g_JoystickInfo[MAX_JOYSTICKS];
uint32_t g_JoystickButtonMasks[32];

uint8_t g_CursorShown = 1;
uint8_t g_CursorRequest;
uint8_t g_CursorAutoHide = 1;
uint32_t g_CursorAutoHideDelay = 2500;
uint8_t g_CustomCursor;

uint8_t g_KeyboardSnapshot[256];

namespace {

constexpr uint8_t DOWN = 0x80;
constexpr int32_t AXIS_CENTRE = 0x7FFF;

uint8_t g_PressedSincePoll[256];   // went down since the last input poll
uint8_t g_ReleaseAfterPoll[256];   // released before any poll saw it down

bool Held(int slot) { return g_KeyState.mHoldFrames[slot] > 0; }

// Mouse buttons, wheel and movement of the active window.
void TickMouse() {
  if (!g_MousePollingEnabled) return;
  int active = g_ActiveWindowIndex;
  if (active >= 0 && active < 4 && g_WindowRecords[active]) {
    static const int kMouseSlots[] = {1, 2, 4, 5, 6, 7};
    if (g_WindowRecords[active]->mCursorFarOutside) {
      // Over the letterbox a held button stays held, but nothing new starts there.
      for (int s : kMouseSlots)
        if (!Held(s)) g_KeyState.mKeyDown[s] = 0;
    } else {
      int16_t wheel = (int16_t)g_WheelDelta;
      g_KeyState.mKeyDown[KEY_SLOT_WHEEL_AWAY] = wheel > 0 ? DOWN : 0;
      g_KeyState.mKeyDown[KEY_SLOT_WHEEL_TOWARD] = wheel < 0 ? DOWN : 0;
      g_KeyState.mKeyDown[KEY_SLOT_MOUSE_MOVED] = g_MouseMoved;
    }
  }
  for (int s = 1; s <= 7; s++) RunKeyEdgeHandler(s);
}

void TickKeys() {
  if (!g_KeyPollingEnabled) return;
  uint8_t any = 0;
  for (uint8_t vk : g_PolledKeys) {
    RunKeyEdgeHandler(vk);
    any |= g_KeyState.mKeyDown[vk] & DOWN;
  }
  // Slot 0 reads "some polled key" without its own down byte being written.
  g_KeyEdgeHandlers[g_KeyState.mKeyEdge[0] + (any >> 7)](0);
}

void TickCursorAutoHide() {
  WindowRecord* main = g_WindowRecords[0];
  if (!main) return;
  if (g_CursorAutoHide && !main->mCursorHidden && Held(0)) {
    main->mCursorHidden = 1;
    main->mCursorIdleSince = PlatGetTicks();
  }
  if (!main->mCursorHidden) return;
  if (main->mCursorIdleSince + g_CursorAutoHideDelay < g_FrameTime && g_CursorShown == 1) {
    g_CursorRequest = 2;
    g_CursorShown = 0;
  }
  if (!g_CursorAutoHide) return;
  bool show = main->mCursorFarOutside || g_MenuBarShown ||
              (Held(KEY_SLOT_MOUSE_MOVED) && main->mCursorShowOnMove) ||
              ((Held(1) || Held(2) || Held(4)) && main->mCursorShowOnClick) ||
              ((Held(KEY_SLOT_WHEEL_AWAY) || Held(KEY_SLOT_WHEEL_TOWARD)) && main->mCursorShowOnWheel);
  if (show) {
    main->mCursorHidden = 0;
    PrepareModalUi();
  }
}

}  // namespace

void OnKeyStillUp(int slot) { g_KeyState.mHoldFrames[slot] -= 1; }

void OnKeyPressed(int slot) {
  g_KeyState.mHoldFrames[slot] = 1;
  g_KeyState.mKeyEdge[slot] = 2;
  g_KeyState.mPressCount[slot] += 1;
}

void OnKeyReleased(int slot) {
  g_KeyState.mHoldFrames[slot] = -1;
  g_KeyState.mKeyEdge[slot] = 0;
}

void OnKeyHeld(int slot) { g_KeyState.mHoldFrames[slot] += 1; }

void RunKeyEdgeHandler(int slot) {
  // mKeyEdge only ever holds 0 or 2, so the index stays inside the table.
  g_KeyEdgeHandlers[(g_KeyState.mKeyEdge[slot] & 2) + (g_KeyState.mKeyDown[slot] >> 7)](slot);
}

void InitKeyEdgeTable() {
  g_KeyEdgeHandlers[0] = OnKeyStillUp;
  g_KeyEdgeHandlers[1] = OnKeyPressed;
  g_KeyEdgeHandlers[2] = OnKeyReleased;
  g_KeyEdgeHandlers[3] = OnKeyHeld;
}

void ResetInputState() {
  memset(&g_KeyState, 0, sizeof g_KeyState);
  memset(g_KeyboardSnapshot, 0, sizeof g_KeyboardSnapshot);
  memset(g_PressedSincePoll, 0, sizeof g_PressedSincePoll);
  memset(g_ReleaseAfterPoll, 0, sizeof g_ReleaseAfterPoll);
  g_KeyPollingEnabled = 1;
  g_MousePollingEnabled = 1;
  g_JoystickPollingEnabled = 0;
  g_JoystickCount = 0;
  memset(g_JoystickInfo, 0, sizeof g_JoystickInfo);
  g_CursorShown = 1;
  g_CursorRequest = 0;
  g_CursorAutoHide = 1;
  g_CursorAutoHideDelay = 2500;
  g_CustomCursor = 0;
  g_MouseMoved = 0;
  g_WheelDelta = 0;
  InitKeyEdgeTable();
}

void NoteKeyEvent(int vk, bool down) {
  if (vk <= 0 || vk > 255) return;
  // A press released before the next input poll (a touchpad tap, a synthetic click) is still
  // seen down by that poll once; its release takes effect at the poll after.
  if (down) g_PressedSincePoll[vk] = 1;
  else if (g_PressedSincePoll[vk]) {
    g_ReleaseAfterPoll[vk] = 1;
    return;
  }
  g_ReleaseAfterPoll[vk] = 0;
  g_KeyboardSnapshot[vk] = down ? DOWN : 0;
  // The generic shift, control and alt keys follow their left and right keys.
  g_KeyboardSnapshot[16] = (g_KeyboardSnapshot[160] | g_KeyboardSnapshot[161]) & DOWN;
  g_KeyboardSnapshot[17] = (g_KeyboardSnapshot[162] | g_KeyboardSnapshot[163]) & DOWN;
  g_KeyboardSnapshot[18] = (g_KeyboardSnapshot[164] | g_KeyboardSnapshot[165]) & DOWN;
}

void PollActiveWindowInput() {
  g_ActiveWindowIndex = -1;
  for (int i = 0; i < 4; i++) {
    if (g_WindowRecords[i] && g_WindowRecords[i]->mActive) {
      g_ActiveWindowIndex = i;
      break;
    }
  }
  if (g_ActiveWindowIndex < 0) {
    memset(g_KeyState.mKeyDown, 0, sizeof g_KeyState.mKeyDown);
    memset(g_KeyboardSnapshot, 0, sizeof g_KeyboardSnapshot);
    return;
  }
  memcpy(g_KeyState.mKeyDown, g_KeyboardSnapshot, 256);
  memset(g_PressedSincePoll, 0, sizeof g_PressedSincePoll);
  for (int vk = 1; vk < 256; vk++) {
    if (!g_ReleaseAfterPoll[vk]) continue;
    g_ReleaseAfterPoll[vk] = 0;
    NoteKeyEvent(vk, false);
  }
  int mx = 0, my = 0;
  g_Platform->GetCursorPosition(&mx, &my);
  for (int i = 0; i < 4; i++) {
    WindowRecord* w = g_WindowRecords[i];
    if (!w) continue;
    PlatRect r;
    if (!w->mHasWindow || !g_Platform->GetWindowRect(i, &r)) {
      w->mCursorX = w->mCursorY = 0;
      w->mCursorOutside = w->mCursorFarOutside = 1;
      continue;
    }
    int64_t x = mx - r.x, y = my - r.y;
    int64_t marginX = 0, marginY = 0;
    if (i == 0) {
      x -= g_LetterboxOffset.width;
      y -= g_LetterboxOffset.height;
      marginX = g_LetterboxOffset.width;
      marginY = g_LetterboxOffset.height;
      if (g_OutputSize.width > 0 && g_OutputSize.height > 0) {
        x = x * w->mWidth / g_OutputSize.width;
        y = y * w->mHeight / g_OutputSize.height;
        marginX = marginX * w->mWidth / g_OutputSize.width;
        marginY = marginY * w->mHeight / g_OutputSize.height;
      }
    }
    w->mCursorX = (int32_t)x;
    w->mCursorY = (int32_t)y;
    w->mCursorOutside = x < 0 || y < 0 || x >= w->mWidth || y >= w->mHeight;
    w->mCursorFarOutside =
        w->mCursorOutside && (x < -marginX || y < -marginY || x >= w->mWidth + marginX || y >= w->mHeight + marginY);
  }
}

void UpdateInputState() {
  TickMouse();
  g_MouseMoved = 0;
  g_WheelDelta = 0;
  TickKeys();
  if (g_JoystickPollingEnabled) PollJoysticks();
  TickCursorAutoHide();
  ApplyCursorRequest();
  // A minimised window is never the active one.
  for (int i = 0; i < 4; i++) {
    WindowRecord* w = g_WindowRecords[i];
    if (w && w->mHasWindow && w->mMinimized) w->mActive = 0;
  }
  CheckInactivePause();
  uint8_t drag = g_CaptionDragRequest;
  if (drag >= 1 && drag <= 4) {
    g_Platform->BeginWindowDrag(drag - 1);
    g_CaptionDragRequest = 0;
  }
}

int InitJoysticks() {
  int n = g_Platform->JoystickCount();
  if (n <= 0) {
    g_JoystickCount = n;
    return 0;
  }
  g_JoystickCount = n < MAX_JOYSTICKS ? n : MAX_JOYSTICKS;
  memset(g_JoystickInfo, 0, sizeof g_JoystickInfo);
  for (int i = 0; i < 32; i++) g_JoystickButtonMasks[i] = 1u << i;
  return 1;
}

void PollJoysticks() {
  if (!g_JoysticksPresent) return;
  int count = g_JoystickCount < MAX_JOYSTICKS ? g_JoystickCount : MAX_JOYSTICKS;
  for (int j = 0; j < count; j++) {
    PlatJoystickState s;
    // A joystick that cannot be read keeps its last values.
    if (g_Platform->ReadJoystick(j, &s)) g_JoystickInfo[j] = {s.x, s.y, s.buttons};
    const JoystickReading& r = g_JoystickInfo[j];
    uint8_t* down = g_KeyState.mKeyDown + KEY_SLOT_JOYSTICKS + KEY_SLOTS_PER_JOYSTICK * j;
    // No dead zone: only the exact centre counts as centred.
    down[0] = r.mY < (uint32_t)AXIS_CENTRE ? DOWN : 0;
    down[1] = r.mY > (uint32_t)AXIS_CENTRE ? DOWN : 0;
    down[2] = r.mX < (uint32_t)AXIS_CENTRE ? DOWN : 0;
    down[3] = r.mX > (uint32_t)AXIS_CENTRE ? DOWN : 0;
    for (int i = 0; i < 32; i++) down[4 + i] = (r.mButtons & (1u << i)) ? DOWN : 0;
    for (int s = 0; s < KEY_SLOTS_PER_JOYSTICK; s++) RunKeyEdgeHandler(KEY_SLOT_JOYSTICKS + KEY_SLOTS_PER_JOYSTICK * j + s);
  }
}

void PrepareModalUi() {
  if (g_CursorShown != 0) return;
  if (g_WindowRecords[0]) g_WindowRecords[0]->mCursorHidden = 0;
  g_CursorRequest = 1;
  g_CursorShown = 1;
}

void ApplyCursorRequest() {
  if (g_CursorRequest == 1) g_Platform->ShowCursor(true);
  else if (g_CursorRequest == 2) g_Platform->ShowCursor(false);
  g_CursorRequest = 0;
}
