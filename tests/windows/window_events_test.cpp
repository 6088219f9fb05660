// What window events do: close modes, sub-window size, the main window's aspect-ratio sizing,
// maximise and restore, dropped files, caption drags by a layer, and bad window numbers.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/input.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

using WindowEventTest = GameWindowTest;

PlatEventRecord Resized(int window, int width, int height) {
  PlatEventRecord e = MakeEvent(PLAT_EVENT_RESIZED, window);
  e.x = width;
  e.y = height;
  return e;
}

bool Called(const std::string& line) {
  for (const std::string& c : HeadlessCalls())
    if (c == line) return true;
  return false;
}

TEST_F(WindowEventTest, CloseBoxFollowsTheWindowsCloseMode) {
  struct Case {
    uint8_t mode;
    int answer;   // button index for the question, -1 for none asked
    bool closes, quits, loopEnds, reported;
  };
  const Case cases[] = {
      {WINDOW_CLOSE_SCRIPT, -1, false, false, false, true},
      {WINDOW_CLOSE_ASK, 1, false, false, false, false},
      {WINDOW_CLOSE_ASK, 0, true, true, true, false},
      {WINDOW_CLOSE_QUIT, -1, true, true, true, false},
      {WINDOW_CLOSE_WINDOW, -1, true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.answer));
    if (!main_->mHasWindow) ASSERT_TRUE(CreateGameWindow(main_, "game"));
    g_WindowSlotState[0] = 1;
    g_QuitFlag = 0;
    g_Running = 1;
    g_CloseRequested = 0;
    main_->mCloseMode = c.mode;
    HeadlessClearCalls();
    if (c.answer >= 0) HeadlessQueueAnswer(c.answer);
    Send(MakeEvent(PLAT_EVENT_CLOSE));
    bool asked = false;
    for (const std::string& line : HeadlessCalls())
      if (line.find("終了します。よろしいですか？") != std::string::npos) asked = true;
    EXPECT_EQ(asked, c.mode == WINDOW_CLOSE_ASK);
    EXPECT_EQ(HeadlessWindow(0).exists, !c.closes);
    EXPECT_EQ(g_WindowSlotState[0], c.closes ? -1 : 1);
    EXPECT_EQ(g_QuitFlag.load(), c.quits ? 1 : 0);
    EXPECT_EQ(g_Running.load(), c.loopEnds ? 0 : 1);
    EXPECT_EQ(g_CloseRequested, c.reported ? 1 : 0);
    EXPECT_EQ(g_ModalSuspend.load(), 0);
  }
}

// The close question is a Yes/No box with the information icon, its buttons in the system's
// language with access keys, so N answers No on either.
TEST_F(WindowEventTest, TheCloseQuestionAsksYesOrNoInTheSystemsLanguage) {
  struct Case {
    const char* lang;
    const char* buttons;
  };
  const Case cases[] = {
      {"ja_JP.UTF-8", "|はい(&Y),いいえ(&N)|icon 1"},
      {"en_US.UTF-8", "|&Yes,&No|icon 1"},
      {"C", "|&Yes,&No|icon 1"},
  };
  for (const Case& c : cases) {
    ScopedLanguage language(c.lang);
    main_->mCloseMode = WINDOW_CLOSE_ASK;
    HeadlessClearCalls();
    HeadlessQueueAnswer(1);
    Send(MakeEvent(PLAT_EVENT_CLOSE));
    std::string suffix = std::string("終了します。よろしいですか？") + c.buttons;
    bool asked = false;
    for (const std::string& line : HeadlessCalls())
      asked |= line.size() >= suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
    EXPECT_TRUE(asked) << c.lang;
    EXPECT_EQ(g_QuitFlag.load(), 0) << c.lang;
  }
}

TEST_F(WindowEventTest, SubWindowSnapsBackToItsGameSize) {
  WindowRecord* sub = g_WindowRecords[1];
  sub->mWidth = 320;
  sub->mHeight = 200;
  SetupWindowRecord(sub, "sub");
  ASSERT_TRUE(CreateGameWindow(sub, "sub"));
  Send(Resized(1, 500, 300));
  EXPECT_TRUE(Called("SetWindowSize 1 320x200"));
  EXPECT_EQ(g_OutputSize.width, 640);   // the main window's sizes are not touched
}

// The host does not say which edge was dragged: the side that changed from the last client
// size is the dragged edge, and the other side follows the game's shape, growing or shrinking
// with it; a corner (both sides changed) only ever grows the rectangle to the shape. Then the
// desktop caps the client, keeping the shape. Each case starts from the 640 x 480 client.
TEST_F(WindowEventTest, DraggingAnEdgeOrACornerKeepsTheGameShape) {
  struct Case {
    const char* what;
    int width, height;
    int wantWidth, wantHeight;
  };
  const Case cases[] = {
      {"right edge out", 800, 480, 800, 600},
      {"right edge in", 560, 480, 560, 420},
      {"bottom edge down", 640, 600, 800, 600},
      {"bottom edge up", 640, 360, 480, 360},
      {"corner, too wide: the height grows", 800, 500, 800, 600},
      {"corner, too tall: the width grows", 700, 700, 933, 700},
      {"corner inwards, too wide: still grown to the shape", 600, 400, 600, 450},
      {"corner at the shape", 801, 601, 801, 601},
      {"edge past the desktop", 2000, 480, 1440, 1080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_ClientAreaSize = g_OutputSize = {640, 480};
    HeadlessClearCalls();
    Send(Resized(0, c.width, c.height));
    EXPECT_EQ(g_OutputSize.width, c.wantWidth);
    EXPECT_EQ(g_OutputSize.height, c.wantHeight);
    EXPECT_EQ(g_ClientAreaSize.width, c.wantWidth);
    EXPECT_EQ(g_ClientAreaSize.height, c.wantHeight);
    if (c.width != c.wantWidth || c.height != c.wantHeight) {
      EXPECT_TRUE(Called("SetWindowSize 0 " + std::to_string(c.wantWidth) + "x" + std::to_string(c.wantHeight)));
    }
    EXPECT_TRUE(ScreenBufferReady());
  }
  // The size the window was given comes back from the host and changes nothing more.
  HeadlessClearCalls();
  Send(Resized(0, 1440, 1080));
  EXPECT_EQ(g_ClientAreaSize.width, 1440);
  EXPECT_EQ(g_ClientAreaSize.height, 1080);
  EXPECT_FALSE(Called("SetWindowSize 0 1440x1080"));
}

// A game larger than the screen would be centred off its top-left corner: the frame and its
// caption stay on screen instead.
TEST_F(WindowEventTest, TheMainWindowIsCentredButNeverPlacedOffTheScreensCorner) {
  struct Case {
    PlatRect monitor;
    int gameWidth, gameHeight;
    std::string place;
  };
  const Case cases[] = {
      {{0, 0, 1920, 1080}, 640, 480, "640,300"},
      {{0, 0, 800, 600}, 1024, 768, "0,0"},
      {{100, 50, 800, 600}, 1024, 400, "100,150"},
      {{0, 0, 800, 600}, 600, 900, "100,0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.place);
    HeadlessSetMonitors({c.monitor});
    g_Platform->DestroyWindow(0);
    main_->mHasWindow = 0;
    main_->mWidth = c.gameWidth;
    main_->mHeight = c.gameHeight;
    HeadlessClearCalls();
    ASSERT_TRUE(CreateGameWindow(main_, "game"));
    EXPECT_TRUE(Called("SetWindowPosition 0 " + c.place));
  }
}

TEST_F(WindowEventTest, GameHeightOfZeroNeverDividesByZero) {
  main_->mHeight = 0;
  Send(Resized(0, 300, 200));
  ResizeOutputBuffer(0, 0, 800, 600);
  SUCCEED();
}

TEST_F(WindowEventTest, MaximiseFitsThePictureAndRestoreBringsTheSizesBack) {
  HeadlessClearCalls();
  Send(MakeEvent(PLAT_EVENT_MAXIMIZED));
  EXPECT_EQ(g_MaximizeClicked, 1);
  EXPECT_EQ(g_WindowMaximized, 1);
  Send(Resized(0, 1920, 1040));
  // Fit inside keeps 4:3: the height binds.
  EXPECT_EQ(g_OutputSize.width, 1386);
  EXPECT_EQ(g_OutputSize.height, 1040);
  EXPECT_EQ(g_ClientAreaSize.width, 1920);
  Send(MakeEvent(PLAT_EVENT_RESTORED));
  EXPECT_EQ(g_WindowMaximized, 0);
  EXPECT_EQ(g_OutputSize.width, 640);
  EXPECT_EQ(g_OutputSize.height, 480);
  EXPECT_EQ(g_ClientAreaSize.width, 640);
  EXPECT_TRUE(ScreenBufferReady());
}

TEST_F(WindowEventTest, SubWindowRefusesToMaximiseButReportsTheClick) {
  WindowRecord* sub = g_WindowRecords[2];
  sub->mWidth = 100;
  sub->mHeight = 100;
  SetupWindowRecord(sub, "sub");
  ASSERT_TRUE(CreateGameWindow(sub, "sub"));
  HeadlessClearCalls();
  Send(MakeEvent(PLAT_EVENT_MAXIMIZED, 2));
  EXPECT_EQ(g_MaximizeClicked, 3);
  EXPECT_TRUE(Called("RestoreWindow 2"));
  EXPECT_EQ(g_WindowMaximized, 0);
}

TEST_F(WindowEventTest, DroppedFilesReplaceTheListAndFoldersEndInABackslash) {
  TempFolder folder;
  folder.Write("a.txt", "x");
  std::filesystem::create_directories(folder.path() + "/sub");
  PlatEventRecord e = MakeEvent(PLAT_EVENT_DROP_FILE);
  e.text = folder.path() + "/a.txt\n" + folder.path() + "/sub";
  Send(e);
  ASSERT_EQ(g_DroppedFiles.mCount, 2u);
  std::string first = g_DroppedFiles.mPaths[0], second = g_DroppedFiles.mPaths[1];
  EXPECT_NE(first.find("\\a.txt"), std::string::npos);
  EXPECT_EQ(first.find('/'), std::string::npos);
  EXPECT_EQ(second.back(), '\\');
  EXPECT_NE(second.find("\\sub\\"), std::string::npos);
  e.text = "";
  Send(e);
  EXPECT_EQ(g_DroppedFiles.mCount, 0u);
  EXPECT_EQ(g_DroppedFiles.mPaths, nullptr);
}

TEST_F(WindowEventTest, CaptionDragStartsOnlyOnANonBlackPixelOfTheDragLayer) {
  NameNode* grip = AddLayer("grip", false, 1, 40, 20, 0xFF000000);   // opaque black
  ASSERT_NE(grip, nullptr);
  LayerRecord* r = GetLayerRecord(grip);
  r->mX = 10;
  r->mY = 5;
  // One pixel of fully transparent blue, one of white.
  uint32_t blue = 0x000000FF, white = 0xFFFFFFFF;
  memcpy(r->mPixels + ((size_t)2 * 40 + 3) * 4, &blue, 4);
  memcpy(r->mPixels + ((size_t)4 * 40 + 6) * 4, &white, 4);
  g_DragLayer = {1, r, grip};
  struct Case {
    int x, y;
    bool drags;
  };
  const Case cases[] = {{13, 7, true}, {16, 9, true}, {11, 6, false}, {5, 3, false}, {60, 30, false}};
  // The pointer is polled far from the press: the press's own point is what is tested.
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    HeadlessClearCalls();
    PlatEventRecord move = MakeEvent(PLAT_EVENT_MOUSE_MOVE);
    move.x = 600 - c.x;
    move.y = 400 - c.y;
    Send(move);
    PollActiveWindowInput();
    PlatEventRecord down = MakeEvent(PLAT_EVENT_MOUSE_DOWN);
    down.x = c.x;
    down.y = c.y;
    Send(down);
    EXPECT_EQ(g_CaptionDragRequest, c.drags ? 1 : 0);
    UpdateInputState();
    EXPECT_EQ(Called("BeginWindowDrag 0"), c.drags);
    EXPECT_EQ(g_CaptionDragRequest, 0);
    PlatEventRecord up = MakeEvent(PLAT_EVENT_MOUSE_UP);
    Send(up);
  }
  // Freeing the layer drops the drag references.
  FreeLayerNode(grip);
  EXPECT_EQ(g_DragLayer.mOn, 0);
  EXPECT_EQ(g_DragLayer.mNode, nullptr);
}

TEST_F(WindowEventTest, EventsForWindowsThatDoNotExistAreIgnored) {
  const int windows[] = {-5, -1, 3, 4, 99};
  for (int w : windows) {
    Send(MakeEvent(PLAT_EVENT_CLOSE, w));
    Send(Resized(w, 10, 10));
    Send(MakeEvent(PLAT_EVENT_MAXIMIZED, w));
  }
  EXPECT_TRUE(HeadlessWindow(0).exists);
  EXPECT_EQ(g_MaximizeClicked, 0);
  EXPECT_EQ(g_OutputSize.width, 640);
}

TEST_F(WindowEventTest, WindowsOfNoSizeOrBadNumberAreNotCreated) {
  WindowRecord bad{};
  InitWindowRecord(&bad, 1);
  const int sizes[][2] = {{0, 10}, {10, 0}, {-4, 10}};
  for (const auto& s : sizes) {
    bad.mWidth = s[0];
    bad.mHeight = s[1];
    EXPECT_FALSE(CreateGameWindow(&bad, "x"));
  }
  bad.mWidth = bad.mHeight = 10;
  bad.mIndex = 4;
  EXPECT_FALSE(CreateGameWindow(&bad, "x"));
}

}  // namespace
