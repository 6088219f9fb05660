// Window events with the game-logic thread: the main thread pumps while the frames run on their
// own thread, and a close, an expose, the close question's cursor and a caption drag reach the
// frame step without either thread touching what the other owns. ThreadSanitizer builds check
// the sharing; every build checks what the player sees.
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "app/input.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

class GameThreadWindowTest : public GameWindowTest {
 protected:
  void SetUp() override {
    GameWindowTest::SetUp();
    InitPixelKernels();
    InitProductTables();
    InitBlendTables();
    g_SkipDrawing = 0;
    g_FirstFrameDone = 0;
    g_LastImageLoadTime = 0;
    g_FramePeriodAccumulator = 0;
    g_QuitFlag = 0;
    g_CursorAutoHide = 0;
    sub_ = g_WindowRecords[1];
    sub_->mWidth = 64;
    sub_->mHeight = 48;
    SetupWindowRecord(sub_, "sub");
    ASSERT_TRUE(CreateGameWindow(sub_, "sub"));
    g_WindowSlotState[1] = 1;
    ASSERT_NE(CreateImageLayer("W1", 64, 48, 0), nullptr);
    sub_->mRootLayer = FindNodeByPath(g_LayerRoot, "W1", NAME_LOOKUP_GROUP);
    ASSERT_NE(sub_->mRootLayer, nullptr);
    GetLayerRecord(sub_->mRootLayer)->mIsWindowRoot = 1;
    // Both windows start active; only the main one keeps the focus.
    SetWindowActive(sub_, 0);
    g_GameThreadMode = 1;
  }
  void TearDown() override {
    EndGameThread();
    g_GameThreadMode = 0;
    g_GameThreadFinished = 0xFF;
    g_QuitFlag = 0;
    g_KeepRunningInactive = 1;
    g_InactivePause = 0;
    ForgetPostedWindowEvents();
    StopWorkerThreads();
    GameWindowTest::TearDown();
  }

  // One pass of the main loop's own work: the events, then the input poll.
  static void MainPass() {
    PumpMessages();
    PollActiveWindowInput();
    PlatSleep(1);
  }
  // Runs main-loop passes until the condition holds (the test's time-out ends a hang).
  static void PumpUntil(const std::function<bool()>& done) {
    while (!done()) MainPass();
  }
  // Exposes the window and waits until the game-logic thread has presented it again.
  static void ExposeAndWaitForPresent(int slot) {
    int before = HeadlessWindow(slot).presents;
    HeadlessPushEvent(MakeEvent(PLAT_EVENT_EXPOSED, slot));
    PumpUntil([&] { return HeadlessWindow(slot).presents > before; });
  }
  static bool CalledWith(const std::string& part) {
    const std::vector<std::string> calls = HeadlessCalls();
    return std::any_of(calls.begin(), calls.end(), [&](const std::string& c) { return c.find(part) != std::string::npos; });
  }
  static size_t CallIndex(const std::string& part) {
    const std::vector<std::string> calls = HeadlessCalls();
    for (size_t i = 0; i < calls.size(); i++)
      if (calls[i].find(part) != std::string::npos) return i;
    return calls.size();
  }

  WindowRecord* sub_ = nullptr;
};

TEST_F(GameThreadWindowTest, ASubWindowClosedWhileTheGameThreadDrawsGoesAndTheGameGoesOn) {
  sub_->mCloseMode = WINDOW_CLOSE_WINDOW;
  StartGameThread();
  // Exposes of both windows while the frames run: each is repainted by the game-logic thread.
  for (int i = 0; i < 20; i++) {
    ExposeAndWaitForPresent(1);
    ExposeAndWaitForPresent(0);
  }
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_EXPOSED, 1));
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_CLOSE, 1));
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_EXPOSED, 1));
  PumpUntil([] { return !HeadlessWindow(1).exists; });
  // The main window is still drawn by the running game.
  for (int i = 0; i < 5; i++) ExposeAndWaitForPresent(0);
  EXPECT_TRUE(HeadlessWindow(0).exists);
  EXPECT_FALSE(CalledWith("終了します。よろしいですか？"));
  // The player ends the program: the game-logic thread ends before the main window goes.
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_QUIT, -1));
  RunMainLoop();
  EXPECT_FALSE(HeadlessWindow(0).exists);
  EXPECT_EQ(main_->mCloseMode, WINDOW_CLOSE_QUIT);
  EXPECT_EQ(sub_->mHasWindow, 0);
  EXPECT_EQ(g_WindowSlotState[1], -1);
  EXPECT_EQ(g_Running.load(), 0);
}

TEST_F(GameThreadWindowTest, TheCloseQuestionShowsTheHiddenCursorAndAYesEndsTheGame) {
  main_->mCloseMode = WINDOW_CLOSE_ASK;
  main_->mCursorHidden = 1;
  g_CursorShown = 0;
  g_Platform->ShowCursor(false);
  StartGameThread();
  ExposeAndWaitForPresent(0);
  HeadlessClearCalls();
  // "No": the question is asked with the cursor shown, and the game goes on.
  HeadlessQueueAnswer(1);
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_CLOSE, 0));
  PumpUntil([] { return CalledWith("終了します。よろしいですか？"); });
  EXPECT_LT(CallIndex("ShowCursor 1"), CallIndex("終了します。よろしいですか？"));
  EXPECT_TRUE(HeadlessCursorShown());
  ExposeAndWaitForPresent(0);
  EXPECT_TRUE(HeadlessWindow(0).exists);
  // "Yes": the game-logic thread closes the main window, which ends the main loop.
  HeadlessClearCalls();
  HeadlessQueueAnswer(0);
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_CLOSE, 0));
  RunMainLoop();
  EXPECT_TRUE(CalledWith("終了します。よろしいですか？"));
  EXPECT_FALSE(HeadlessWindow(0).exists);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  EXPECT_EQ(g_ModalSuspend.load(), 0);
  EXPECT_EQ(g_CursorShown, 1);
}

TEST_F(GameThreadWindowTest, APressOnTheDragLayerBeginsTheDragFromTheGameThread) {
  NameNode* grip = AddLayer("grip", false, 5, 40, 20, 0xFFFFFFFF);
  ASSERT_NE(grip, nullptr);
  g_DragLayer = {1, GetLayerRecord(grip), grip};
  PlatRect client{};
  ASSERT_TRUE(g_Platform->GetWindowRect(0, &client));
  HeadlessSetCursorPosition(client.x + 10, client.y + 10);
  StartGameThread();
  ExposeAndWaitForPresent(0);
  HeadlessClearCalls();
  PlatEventRecord press = MakeEvent(PLAT_EVENT_MOUSE_DOWN, 0);
  press.x = press.y = 10;
  HeadlessPushEvent(press);
  PumpUntil([] { return CalledWith("BeginWindowDrag 0"); });
  PlatEventRecord release = press;
  release.type = PLAT_EVENT_MOUSE_UP;
  HeadlessPushEvent(release);
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_QUIT, -1));
  RunMainLoop();
  EXPECT_EQ(g_CaptionDragRequest, 0);
  g_DragLayer = DragLayerState{};
}

// A script instruction waits out the inactive pause on the game-logic thread; the focus that
// ends it is a window event the main thread posts while that thread waits.
TEST_F(GameThreadWindowTest, TheFocusPostedDuringAnInactivePauseEndsIt) {
  g_KeepRunningInactive = 0;
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_FOCUS_LOST, 0));
  MainPass();
  TakePostedWindowEvents();
  ASSERT_EQ(WindowIsActive(main_), 0);
  BeginInactivePause();
  std::atomic<int> answer{-1};
  std::thread paused([&] { answer = PausePump(); });
  HeadlessPushEvent(MakeEvent(PLAT_EVENT_FOCUS_GAINED, 0));
  PumpUntil([&] { return answer != -1; });
  paused.join();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(g_InactivePause.load(), 0);
  EXPECT_EQ(WindowIsActive(main_), 1);
}

}  // namespace
