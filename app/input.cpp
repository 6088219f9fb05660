// The input tick: key, mouse, wheel and joystick slots with their hold and press counters, the
// keyboard snapshot of the active window, and the cursor's visibility.
#include "app/input.h"

#include <cstring>
#include <mutex>

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

// What an input poll saw, in the host's terms. Without the game-logic thread the poll applies
// it at once; with it the main thread polls on every pass of its loop and leaves the latest in
// g_PolledInput, which the input tick takes once per frame.
struct PolledInput {
  int32_t mActiveWindow;
  uint8_t mKeyDown[256];
  int32_t mMouseX, mMouseY;        // desktop
  uint8_t mHasRect[4];
  PlatRect mRect[4];               // client areas on the desktop
  uint8_t mMouseMoved;
  uint16_t mWheelDelta;
  uint8_t mDragPress;              // window index + 1 of a left press, 0 none
};

std::mutex g_PolledInputLock;
// Under g_PolledInputLock. A key down at any poll since the last take stays down for that take,
// as a tap between two polls does.
PolledInput g_PolledInput;
uint8_t g_PolledPressed[256];
bool g_PolledFresh;
uint8_t g_DragPress;               // main thread, until the next poll

// The frame step's own copies of the mouse's movement and wheel for this tick.
uint8_t g_TickMouseMoved;
uint16_t g_TickWheelDelta;

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
      int16_t wheel = (int16_t)g_TickWheelDelta;
      g_KeyState.mKeyDown[KEY_SLOT_WHEEL_AWAY] = wheel > 0 ? DOWN : 0;
      g_KeyState.mKeyDown[KEY_SLOT_WHEEL_TOWARD] = wheel < 0 ? DOWN : 0;
      g_KeyState.mKeyDown[KEY_SLOT_MOUSE_MOVED] = g_TickMouseMoved;
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
  g_DragPress = 0;
  g_TickMouseMoved = 0;
  g_TickWheelDelta = 0;
  {
    std::lock_guard<std::mutex> lock(g_PolledInputLock);
    g_PolledInput = PolledInput{};
    memset(g_PolledPressed, 0, sizeof g_PolledPressed);
    g_PolledFresh = false;
  }
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

namespace {

// The game coordinates of a window's cursor from a point of its client area: the main window's
// picture lies at the letterbox offset, scaled to the output size.
void SetGameCursor(WindowRecord* w, int64_t x, int64_t y) {
  int64_t marginX = 0, marginY = 0;
  if (w->mIndex == 0) {
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

// The game coordinates of the cursor in every window, from a poll's desktop facts.
void ApplyCursor(const PolledInput& in) {
  for (int i = 0; i < 4; i++) {
    WindowRecord* w = g_WindowRecords[i];
    if (!w) continue;
    if (!w->mHasWindow || !in.mHasRect[i]) {
      w->mCursorX = w->mCursorY = 0;
      w->mCursorOutside = w->mCursorFarOutside = 1;
      continue;
    }
    SetGameCursor(w, (int64_t)in.mMouseX - in.mRect[i].x, (int64_t)in.mMouseY - in.mRect[i].y);
  }
}

// The active window, the key-down bytes and the cursor as the frame step sees them.
void ApplyPolledInput(const PolledInput& in) {
  g_ActiveWindowIndex = in.mActiveWindow;
  if (in.mActiveWindow < 0) {
    memset(g_KeyState.mKeyDown, 0, sizeof g_KeyState.mKeyDown);
    return;
  }
  memcpy(g_KeyState.mKeyDown, in.mKeyDown, 256);
  ApplyCursor(in);
}

// The input tick's share of the game-logic thread's polls: the latest one, when one came since
// the last tick, with the mouse's movement, the wheel and a drag press kept since then.
void TakePolledInput() {
  PolledInput in;
  {
    std::lock_guard<std::mutex> lock(g_PolledInputLock);
    if (!g_PolledFresh) return;
    in = g_PolledInput;
    for (int vk = 0; vk < 256; vk++) in.mKeyDown[vk] |= g_PolledPressed[vk];
    memset(g_PolledPressed, 0, sizeof g_PolledPressed);
    g_PolledInput.mMouseMoved = 0;
    g_PolledInput.mWheelDelta = 0;
    g_PolledInput.mDragPress = 0;
    g_PolledFresh = false;
  }
  {
    // The output size changes with the window on the main thread, under the screen lock.
    std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
    ApplyPolledInput(in);
  }
  g_TickMouseMoved = in.mMouseMoved;
  g_TickWheelDelta = in.mWheelDelta;
  int press = in.mDragPress - 1;
  if (press >= 0 && press < 4 && g_WindowRecords[press] && DragLayerHit(g_WindowRecords[press]))
    g_CaptionDragRequest = (uint8_t)(press + 1);
}

// A minimised window is never the active one. The minimised byte is the window events', which
// the frame step's thread handles in either mode.
void DeactivateMinimizedWindows() {
  for (int i = 0; i < 4; i++) {
    WindowRecord* w = g_WindowRecords[i];
    if (w && w->mHasWindow && w->mMinimized) SetWindowActive(w, 0);
  }
}

}  // namespace

void NoteClientCursor(WindowRecord* w, int x, int y) {
  if (!w) return;
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  SetGameCursor(w, x, y);
}

void NoteDragPress(int index) {
  if (index >= 0 && index < 4) g_DragPress = (uint8_t)(index + 1);
}

void PollActiveWindowInput() {
  PolledInput in{};
  in.mActiveWindow = -1;
  for (int i = 0; i < 4; i++) {
    if (g_WindowRecords[i] && WindowIsActive(g_WindowRecords[i])) {
      in.mActiveWindow = i;
      break;
    }
  }
  if (in.mActiveWindow < 0) {
    memset(g_KeyboardSnapshot, 0, sizeof g_KeyboardSnapshot);
  } else {
    memcpy(in.mKeyDown, g_KeyboardSnapshot, 256);
    memset(g_PressedSincePoll, 0, sizeof g_PressedSincePoll);
    for (int vk = 1; vk < 256; vk++) {
      if (!g_ReleaseAfterPoll[vk]) continue;
      g_ReleaseAfterPoll[vk] = 0;
      NoteKeyEvent(vk, false);
    }
    g_Platform->GetCursorPosition(&in.mMouseX, &in.mMouseY);
    for (int i = 0; i < 4; i++) in.mHasRect[i] = g_WindowRecords[i] && g_Platform->GetWindowRect(i, &in.mRect[i]);
  }
  if (!g_GameThreadMode) {
    ApplyPolledInput(in);
    return;
  }
  std::lock_guard<std::mutex> lock(g_PolledInputLock);
  uint8_t moved = g_PolledInput.mMouseMoved, drag = g_PolledInput.mDragPress;
  uint16_t wheel = g_PolledInput.mWheelDelta;
  g_PolledInput = in;
  g_PolledInput.mMouseMoved = g_MouseMoved ? g_MouseMoved : moved;
  g_PolledInput.mWheelDelta = g_WheelDelta ? g_WheelDelta : wheel;
  g_PolledInput.mDragPress = g_DragPress ? g_DragPress : drag;
  g_MouseMoved = 0;
  g_WheelDelta = 0;
  g_DragPress = 0;
  if (in.mActiveWindow < 0) memset(g_PolledPressed, 0, sizeof g_PolledPressed);
  else
    for (int vk = 0; vk < 256; vk++) g_PolledPressed[vk] |= in.mKeyDown[vk];
  g_PolledFresh = true;
}

void UpdateInputState() {
  if (g_GameThreadMode) {
    TakePolledInput();
  } else {
    g_TickMouseMoved = g_MouseMoved;
    g_TickWheelDelta = g_WheelDelta;
    g_MouseMoved = 0;
    g_WheelDelta = 0;
  }
  TickMouse();
  g_TickMouseMoved = 0;
  g_TickWheelDelta = 0;
  TickKeys();
  if (g_JoystickPollingEnabled) PollJoysticks();
  TickCursorAutoHide();
  ApplyCursorRequest();
  DeactivateMinimizedWindows();
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
