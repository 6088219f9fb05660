// The input tick: hold and press counters of keys, mouse buttons, wheel, movement and
// joysticks frame by frame, the letterbox rule for clicks, and cursor auto-hide.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/input.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

using InputTest = GameWindowTest;

PlatEventRecord Key(int vk, bool down) {
  PlatEventRecord e = MakeEvent(down ? PLAT_EVENT_KEY_DOWN : PLAT_EVENT_KEY_UP);
  e.key = vk;
  return e;
}

PlatEventRecord Button(int button, bool down, int x = 10, int y = 10) {
  PlatEventRecord e = MakeEvent(down ? PLAT_EVENT_MOUSE_DOWN : PLAT_EVENT_MOUSE_UP);
  e.button = button;
  e.x = x;
  e.y = y;
  return e;
}

PlatEventRecord Move(int x, int y) {
  PlatEventRecord e = MakeEvent(PLAT_EVENT_MOUSE_MOVE);
  e.x = x;
  e.y = y;
  return e;
}

PlatEventRecord Wheel(int amount) {
  PlatEventRecord e = MakeEvent(PLAT_EVENT_WHEEL);
  e.wheel = amount;
  return e;
}

int64_t Hold(int slot) { return g_KeyState.mHoldFrames[slot]; }

TEST_F(InputTest, KeyHoldCountersFollowPressAndReleaseFrameByFrame) {
  struct Frame {
    std::vector<PlatEventRecord> events;
    int64_t holdA, holdShift, anyKey;
  };
  const Frame frames[] = {
      {{}, -1, -1, -1},
      {{Key('A', true)}, 1, -2, 1},
      {{}, 2, -3, 2},
      {{Key(0xA0, true)}, 3, 1, 3},   // left shift also reads as the generic shift key 16
      {{Key('A', false)}, -1, 2, 4},
      {{Key(0xA0, false)}, -2, -1, -1},
      {{}, -3, -2, -2},
  };
  int frame = 0;
  for (const Frame& f : frames) {
    for (const PlatEventRecord& e : f.events) Send(e);
    InputFrame();
    SCOPED_TRACE("frame " + std::to_string(frame++));
    EXPECT_EQ(Hold('A'), f.holdA);
    EXPECT_EQ(Hold(16), f.holdShift);
    EXPECT_EQ(Hold(0), f.anyKey);
  }
  EXPECT_EQ(g_KeyState.mPressCount['A'], 1);
  EXPECT_EQ(g_KeyState.mPressCount[16], 1);
  EXPECT_EQ(g_KeyState.mPressCount[0], 1);
  EXPECT_EQ(g_LastKeyDown, 0xA0);
}

TEST_F(InputTest, MouseButtonsWheelAndMovementFillTheirSlotsForTheRightFrames) {
  struct Frame {
    std::vector<PlatEventRecord> events;
    int64_t left, right, away, toward, moved;
  };
  const Frame frames[] = {
      {{Button(0, true)}, 1, -1, -1, -1, -1},
      {{Wheel(120), Move(20, 20)}, 2, -2, 1, -2, 1},
      {{Wheel(-240)}, 3, -3, -1, 1, -1},   // the wheel slots are rebuilt every frame
      {{Button(0, false), Button(1, true)}, -1, 1, -2, -1, -2},
      {{}, -2, 2, -3, -2, -3},
  };
  int frame = 0;
  for (const Frame& f : frames) {
    for (const PlatEventRecord& e : f.events) Send(e);
    InputFrame();
    SCOPED_TRACE("frame " + std::to_string(frame++));
    EXPECT_EQ(Hold(1), f.left);
    EXPECT_EQ(Hold(2), f.right);
    EXPECT_EQ(Hold(KEY_SLOT_WHEEL_AWAY), f.away);
    EXPECT_EQ(Hold(KEY_SLOT_WHEEL_TOWARD), f.toward);
    EXPECT_EQ(Hold(KEY_SLOT_MOUSE_MOVED), f.moved);
  }
  EXPECT_EQ(g_MouseClick, 2);
  // Mouse buttons are not polled keys: slot 0 never saw a key.
  EXPECT_LT(Hold(0), 0);
}

TEST_F(InputTest, ClickFarOutsideTheGameAreaIsIgnoredWhileAHeldButtonStaysHeld) {
  // The main window sits centred on the desktop at 640, 300; client -640, -300 is the
  // desktop's corner, far outside the picture.
  Send(Move(-640, -300));
  Send(Button(0, true, -640, -300));
  InputFrame();
  EXPECT_TRUE(main_->mCursorFarOutside);
  EXPECT_LE(Hold(1), 0);
  Send(Button(0, false, -640, -300));
  Send(Move(100, 100));
  Send(Button(0, true, 100, 100));
  InputFrame();
  EXPECT_EQ(Hold(1), 1);
  EXPECT_EQ(main_->mCursorX, 100);
  EXPECT_EQ(main_->mCursorY, 100);
  Send(Move(-640, -300));
  InputFrame();
  EXPECT_EQ(Hold(1), 2);
}

TEST_F(InputTest, CursorPositionIsTakenOffTheLetterboxAndScaledToTheGameSize) {
  // A 640 x 480 game shown 1280 x 960 at 320, 60 inside a 1920 x 1080 area.
  g_OutputSize = {1280, 960};
  g_LetterboxOffset = {320, 60};
  struct Case {
    int x, y;
    int gameX, gameY;
    bool outside, far;
  };
  const Case cases[] = {
      {320, 60, 0, 0, false, false},    {1599, 1019, 639, 479, false, false},
      {100, 100, -110, 20, true, false}, {-50, 100, -185, 20, true, true},
  };
  for (const Case& c : cases) {
    Send(Move(c.x, c.y));
    PollActiveWindowInput();
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(main_->mCursorX, c.gameX);
    EXPECT_EQ(main_->mCursorY, c.gameY);
    EXPECT_EQ(main_->mCursorOutside, c.outside);
    EXPECT_EQ(main_->mCursorFarOutside, c.far);
  }
}

// A tap (press and release before the next poll, as touchpads and synthetic clicks send
// them) must still count as one press, and a quick re-press must stay down.
TEST_F(InputTest, APressReleasedBeforeThePollIsSeenOnce) {
  Send(Key('A', true));
  Send(Key('A', false));
  Send(Button(0, true));   // the left button, key 1
  Send(Button(0, false));
  InputFrame();
  EXPECT_EQ(Hold('A'), 1);
  EXPECT_EQ(Hold(1), 1);
  InputFrame();
  EXPECT_EQ(Hold('A'), -1);
  EXPECT_EQ(Hold(1), -1);
  Send(Key('B', true));
  Send(Key('B', false));
  Send(Key('B', true));
  InputFrame();
  InputFrame();
  EXPECT_EQ(Hold('B'), 2);
}

TEST_F(InputTest, NoActiveWindowClearsEveryKeyAndTheSnapshot) {
  Send(Key('Z', true));
  InputFrame();
  EXPECT_EQ(Hold('Z'), 1);
  Send(MakeEvent(PLAT_EVENT_FOCUS_LOST));
  InputFrame();
  EXPECT_EQ(g_ActiveWindowIndex, -1);
  EXPECT_EQ(Hold('Z'), -1);
  // The release happened elsewhere; coming back must not find the key still down.
  Send(MakeEvent(PLAT_EVENT_FOCUS_GAINED));
  InputFrame();
  EXPECT_EQ(Hold('Z'), -2);
}

TEST_F(InputTest, JoystickAxesCountOnlyTheExactCentreAsCentred) {
  HeadlessSetJoystickCount(2);
  g_JoysticksPresent = (uint8_t)InitJoysticks();
  ASSERT_EQ(g_JoysticksPresent, 1);
  g_JoystickPollingEnabled = 1;
  const int base = KEY_SLOT_JOYSTICKS + KEY_SLOTS_PER_JOYSTICK;   // joystick 1
  struct Case {
    uint32_t x, y, buttons;
    bool up, down, left, right, button1, button32;
  };
  const Case cases[] = {
      {0x7FFF, 0x7FFF, 0, false, false, false, false, false, false},
      {0x8000, 0x7FFF, 0, false, false, false, true, false, false},
      {0x7FFE, 0, 1, true, false, true, false, true, false},
      {0xFFFF, 0xFFFF, 0x80000000u, false, true, false, true, false, true},
  };
  for (const Case& c : cases) {
    HeadlessSetJoystick(1, c.x, c.y, c.buttons);
    InputFrame();
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(Hold(base + 0) > 0, c.up);
    EXPECT_EQ(Hold(base + 1) > 0, c.down);
    EXPECT_EQ(Hold(base + 2) > 0, c.left);
    EXPECT_EQ(Hold(base + 3) > 0, c.right);
    EXPECT_EQ(Hold(base + 4) > 0, c.button1);
    EXPECT_EQ(Hold(base + 35) > 0, c.button32);
  }
  // Joystick 0 has no reading: it keeps its (zero) values, which read as up and left.
  EXPECT_GT(Hold(KEY_SLOT_JOYSTICKS + 0), 0);
  EXPECT_GT(Hold(KEY_SLOT_JOYSTICKS + 2), 0);
}

TEST_F(InputTest, JoysticksAreLeftAloneWhilePollingIsOff) {
  HeadlessSetJoystickCount(1);
  g_JoysticksPresent = (uint8_t)InitJoysticks();
  HeadlessSetJoystick(0, 0xFFFF, 0x7FFF, 1);
  InputFrame();
  EXPECT_EQ(Hold(KEY_SLOT_JOYSTICKS + 3), 0);
  EXPECT_EQ(Hold(KEY_SLOT_JOYSTICKS + 4), 0);
}

TEST_F(InputTest, KeyboardUseHidesTheCursorAfterTheDelayAndMovementShowsIt) {
  HeadlessSetTicks(1000);
  Send(Move(5, 5));   // over the game: a cursor outside the window would show at once
  InputFrame();
  Send(Key('A', true));
  g_FrameTime = 1000;
  InputFrame();
  EXPECT_EQ(main_->mCursorHidden, 1);
  EXPECT_EQ(g_CursorShown, 1);
  g_FrameTime = 3500;   // not yet past the 2500 ms delay
  InputFrame();
  EXPECT_TRUE(HeadlessCursorShown());
  g_FrameTime = 3501;
  InputFrame();
  EXPECT_EQ(g_CursorShown, 0);
  EXPECT_FALSE(HeadlessCursorShown());
  Send(Move(6, 6));
  g_FrameTime = 3600;
  InputFrame();
  EXPECT_EQ(g_CursorShown, 1);
  EXPECT_EQ(main_->mCursorHidden, 0);
  EXPECT_TRUE(HeadlessCursorShown());
}

TEST_F(InputTest, MovementDoesNotShowTheCursorWhenItsTriggerIsOff) {
  main_->mCursorShowOnMove = 0;
  Send(Move(5, 5));
  InputFrame();
  Send(Key('A', true));
  g_FrameTime = 0;
  InputFrame();
  g_FrameTime = 10000;
  InputFrame();
  ASSERT_EQ(g_CursorShown, 0);
  Send(Move(6, 6));
  InputFrame();
  EXPECT_EQ(g_CursorShown, 0);
  Send(Button(0, true));
  InputFrame();
  EXPECT_EQ(g_CursorShown, 1);
}

// With the game-logic thread the main thread polls on every pass of its loop and the frame
// step takes the latest poll once per frame; here both sides run in turn on one thread.
class GameThreadInputTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    g_GameThreadMode = 1;
  }
  void TearDown() override {
    g_GameThreadMode = 0;
    InputTest::TearDown();
  }
};

TEST_F(GameThreadInputTest, TheTickTakesWhatThePollsSawSinceTheLastFrame) {
  struct Step {
    std::vector<PlatEventRecord> events;
    int polls;                 // main-thread polls after the events
    bool tick;                 // a frame's input tick follows
    int64_t holdA, moved, away;
    int cursorX;
  };
  const Step steps[] = {
      // A tap between two polls, and a move, both before one frame: seen once by that frame.
      {{Key('A', true), Move(30, 40)}, 1, false, 0, 0, 0, 0},
      {{Key('A', false), Wheel(120)}, 3, true, 1, 1, 1, 30},
      // No poll since the last frame: the frame keeps what it had, movement and wheel are gone.
      {{}, 0, true, 2, -1, -1, 30},
      {{Move(50, 60)}, 2, true, -1, 1, -2, 50},
      {{Key('A', true)}, 1, true, 1, -1, -3, 50},
  };
  int step = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(step++));
    for (const PlatEventRecord& e : s.events) Send(e);
    for (int i = 0; i < s.polls; i++) PollActiveWindowInput();
    if (!s.tick) {
      // A poll alone changes nothing the frame step reads.
      EXPECT_EQ(main_->mCursorX, s.cursorX);
      EXPECT_EQ(g_KeyState.mKeyDown['A'], 0);
      continue;
    }
    UpdateInputState();
    EXPECT_EQ(Hold('A'), s.holdA);
    EXPECT_EQ(Hold(KEY_SLOT_MOUSE_MOVED), s.moved);
    EXPECT_EQ(Hold(KEY_SLOT_WHEEL_AWAY), s.away);
    EXPECT_EQ(main_->mCursorX, s.cursorX);
  }
  EXPECT_EQ(g_KeyState.mPressCount['A'], 2);
}

TEST_F(GameThreadInputTest, ADragPressIsTestedByTheTickAgainstTheLayer) {
  NameNode* grip = AddLayer("grip", false, 5, 40, 20, 0xFFFFFFFF);
  ASSERT_NE(grip, nullptr);
  g_DragLayer = {1, GetLayerRecord(grip), grip};
  Send(Move(10, 10));
  PollActiveWindowInput();
  UpdateInputState();
  HeadlessClearCalls();
  Send(Button(0, true));
  EXPECT_EQ(g_CaptionDragRequest, 0);   // the event handler leaves the layer alone
  PollActiveWindowInput();
  UpdateInputState();
  const std::vector<std::string> calls = HeadlessCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "BeginWindowDrag 0"), calls.end());
  EXPECT_EQ(g_CaptionDragRequest, 0);
  g_DragLayer = DragLayerState{};
}

// The two sides on their own threads, as the game runs them: ThreadSanitizer builds check the
// hand-over; every build checks that no press is lost.
TEST_F(GameThreadInputTest, PressesPolledOnTheMainThreadReachTheFrameThread) {
  constexpr int kPresses = 200;
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::thread frameThread([&] {
    while (!stop) {
      UpdateInputState();
      frames++;
      std::this_thread::yield();
    }
    UpdateInputState();
  });
  for (int i = 0; i < kPresses; i++) {
    Send(Key('A', true));
    Send(Move(i % 100, i % 50));
    PollActiveWindowInput();
    // Wait for a frame between press and release, so every press is a press of its own.
    for (int seen = frames; frames < seen + 2;) std::this_thread::yield();
    Send(Key('A', false));
    PollActiveWindowInput();
    for (int seen = frames; frames < seen + 2;) std::this_thread::yield();
  }
  stop = true;
  frameThread.join();
  EXPECT_EQ(g_KeyState.mPressCount['A'], kPresses);
}

TEST_F(InputTest, AMinimisedWindowIsNeverActive) {
  Send(MakeEvent(PLAT_EVENT_MINIMIZED));
  EXPECT_EQ(g_MinimizeClicked, 1);
  InputFrame();
  EXPECT_EQ(main_->mActive, 0);
}

}  // namespace
