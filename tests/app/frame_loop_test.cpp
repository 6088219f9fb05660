// The main loop and the frame step: the first frame shows the main window, a quit request
// closes it and ends the loop, and the game-logic thread hands its quit to the main thread.
#include <thread>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/window.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"

namespace {

class FrameLoop : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    ASSERT_EQ(CreateWindowRecords(), 0);
    WindowRecord* main = g_WindowRecords[0];
    main->mWidth = 64;
    main->mHeight = 48;
    ASSERT_TRUE(CreateGameWindow(main, "t"));
    g_WindowSlotState[0] = 1;
    g_Running = 1;
    g_FirstFrameDone = 0;
    g_SkipDrawing = 0;
    g_GameThreadMode = 0;
    g_LastImageLoadTime = 0;
    g_FramePeriodAccumulator = 0;
  }
  void TearDown() override {
    g_QuitFlag = 0;
    g_Running = 1;
    g_GameThreadMode = 0;
    g_GameThreadFinished = 0xFF;
    HeadlessTest::TearDown();
  }
};

TEST_F(FrameLoop, FirstFrameShowsTheMainWindowOnce) {
  EXPECT_FALSE(HeadlessWindow(0).shown);
  EXPECT_EQ(RunFrame(), 0);
  EXPECT_TRUE(HeadlessWindow(0).shown);
  EXPECT_EQ(PlatGetTicks(), 16u);   // the frame waited out its period
  g_Platform->ShowWindow(0, false);
  EXPECT_EQ(RunFrame(), 0);
  EXPECT_FALSE(HeadlessWindow(0).shown);
}

TEST_F(FrameLoop, HiddenProjectWindowIsNotShown) {
  g_WindowRecords[0]->mVisible = 0;
  RunFrame();
  EXPECT_FALSE(HeadlessWindow(0).shown);
}

TEST_F(FrameLoop, QuitFlagEndsTheFrameAndTheCloseEndsTheLoop) {
  g_QuitFlag = 1;
  EXPECT_EQ(RunFrame(), 1);
  RequestQuit();
  RunMainLoop();   // pumps the posted close, which destroys the main window
  EXPECT_EQ(g_Running, 0);
  EXPECT_FALSE(HeadlessWindow(0).exists);
  EXPECT_EQ(g_WindowRecords[0]->mCloseMode, WINDOW_CLOSE_QUIT);
}

TEST_F(FrameLoop, ClosingTheMainWindowEndsTheLoop) {
  PlatEventRecord close{};
  close.type = PLAT_EVENT_CLOSE;
  close.window = 0;
  HeadlessPushEvent(close);
  RunMainLoop();
  EXPECT_EQ(g_Running, 0);
  EXPECT_EQ(g_QuitFlag, 1);
}

TEST_F(FrameLoop, ModalSuspendRunsNothing) {
  g_ModalSuspend = 1;
  uint64_t frames = g_FrameCounter;
  EXPECT_EQ(RunFrame(), 0);
  EXPECT_EQ(g_FrameCounter, frames + 1);
  EXPECT_FALSE(HeadlessWindow(0).shown);
  g_ModalSuspend = 0;
}

TEST_F(FrameLoop, GameThreadRunsFramesAndReportsFinished) {
  g_GameThreadMode = 1;
  StartGameThread();
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    EXPECT_NE(g_GameThreadFinished, 0xFF);   // cleared before the thread exists
  }
  while (!HeadlessWindow(0).shown) std::this_thread::yield();   // the first frame ran
  g_QuitFlag = 1;   // the next frame returns 1 and the thread asks the main thread to quit
  RunMainLoop();
  Shutdown();
  EXPECT_EQ(g_GameThreadFinished, 1);
  EXPECT_EQ(g_Running, 0);
}

}  // namespace
