// The window commands: opening sub windows, titles, stacking, minimise and restore, close
// modes, the shown layer, the window shape, hiding and the window query.
#include <string>
#include <vector>

#include "app/fullscreen.h"
#include "app/window_commands.h"
#include "platform/headless/headless.h"
#include "render/gpu.h"
#include "tests/windows/desktop_command_fixture.h"

namespace {

class WindowCommandTest : public DesktopCommandTest {};

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : HeadlessCalls())
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

TEST_F(WindowCommandTest, SubWindowOpensAt128By128WithItsTitleAndNeedsATitle) {
  Run("window window=2 title=\"Sub\"\n");
  EXPECT_EQ(Shown(), 0);
  HeadlessWindowState w = HeadlessWindow(2);
  EXPECT_TRUE(w.exists);
  EXPECT_TRUE(w.shown);
  EXPECT_EQ(w.width, 128);
  EXPECT_EQ(w.height, 128);
  EXPECT_EQ(w.title, "Sub");
  EXPECT_EQ(g_WindowSlotState[2], 1);
  Run("window window=3 width=200\n");
  EXPECT_EQ(Shown(), 101320);
  EXPECT_FALSE(HeadlessWindow(3).exists);
  EXPECT_EQ(g_WindowSlotState[3], -1);
}

TEST_F(WindowCommandTest, EmptyTitleShowsABlank) {
  Run("window window=1 title=\"\" width=300 height=100\n");
  EXPECT_EQ(HeadlessWindow(1).title, " ");
  EXPECT_EQ(std::string(g_WindowRecords[1]->mTitle), " ");
  EXPECT_EQ(HeadlessWindow(1).width, 300);
}

TEST_F(WindowCommandTest, ZOrderLeavesTheTopmostBandFirstAndBehindMainIsRefusedForTheMainWindow) {
  struct Case {
    int order;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {1, {"SetWindowZOrder 1 1"}},
      {0, {"SetWindowZOrder 1 4", "SetWindowZOrder 1 0"}},
      {2, {"SetWindowZOrder 1 4", "SetWindowZOrder 1 2"}},
      {3, {"SetWindowZOrder 1 4", "SetWindowZOrder 1 3"}},
      {7, {"SetWindowZOrder 1 4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    Run("window window=1 title=\"S\"\n");
    HeadlessClearCalls();
    Run("window window=1 zorder=" + std::to_string(c.order) + "\n");
    EXPECT_EQ(CallsStartingWith("SetWindowZOrder"), c.calls);
  }
  Run("window window=0 zorder=3\n");
  EXPECT_EQ(Shown(), 101310);
}

TEST_F(WindowCommandTest, MinimiseTwoOnlyMinimisesOneAlsoHidesZeroRestores) {
  struct Case {
    int value;
    bool minimized, shown;
  };
  const Case cases[] = {{2, true, true}, {1, true, false}, {0, false, true}};
  g_Platform->ShowWindow(0, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Run("window window=0 minimize=" + std::to_string(c.value) + "\nwindowquery window=0 out=r minimized=1\n");
    EXPECT_EQ(HeadlessDesktopState(0).minimized, c.minimized);
    EXPECT_EQ(HeadlessWindow(0).shown, c.shown);
    EXPECT_EQ(Int("r"), c.minimized ? 1 : 0);
  }
}

TEST_F(WindowCommandTest, RestoringAsksForADeviceResetOnlyWhenDisplayModesMayChange) {
  for (uint8_t allowed : {uint8_t(0), uint8_t(1)}) {
    SCOPED_TRACE(allowed);
    g_ChangeDisplayMode = allowed;
    g_DeviceResetRequest = 0;
    g_WindowMaximized = 1;
    Run("window window=0 minimize=0\n");
    EXPECT_EQ(g_DeviceResetRequest, allowed);
    EXPECT_EQ(g_WindowMaximized, 0);
  }
  g_DeviceResetRequest = 0;
}

TEST_F(WindowCommandTest, FullScreenKeepsTheMainWindowMenuBar) {
  Run("menuitem path=\"bar/\" caption=\"B\" priority=1\n"
      "menuitem path=\"bar/a\" caption=\"A\" priority=1\n"
      "window window=0 menu=\"bar/\"\n");
  HeadlessClearCalls();
  Run("window window=0 fullscreen=1\n");
  EXPECT_EQ(g_FullScreen, 1);
  EXPECT_EQ(g_MenuBarAvailable, 1);
  EXPECT_FALSE(CallsStartingWith("SetMenuBar 0 A").empty());
  Run("window window=0 fullscreen=0\n");
  EXPECT_EQ(g_FullScreen, 0);
  EXPECT_EQ(g_MenuBarAvailable, 1);
}

TEST_F(WindowCommandTest, CloseModeOutsideZeroToTwoIsAnErrorOnlyForTheMainWindow) {
  Run("window window=1 title=\"S\" closemode=3\n");
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(g_WindowRecords[1]->mCloseMode, 3);
  Run("window window=0 closemode=3\n");
  EXPECT_EQ(Shown(), 101310);
  Run("window window=0 closemode=2\n");
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(main_->mCloseMode, 2);
}

TEST_F(WindowCommandTest, HidingTheMainWindowIsRefusedAndASubWindowKeepsItsVisibleFlag) {
  Run("window window=1 title=\"S\"\nhidewindow window=1\n");
  EXPECT_FALSE(HeadlessWindow(1).shown);
  EXPECT_EQ(g_WindowRecords[1]->mVisible, 1);
  Run("hidewindow window=0\n");
  EXPECT_EQ(Shown(), 101330);
}

TEST_F(WindowCommandTest, ShownLayerMustBeAGroupOfSomeSize) {
  AddLayer("scene", true, 1, 64, 32, 0xFF000000);
  NameNode* flat = AddLayer("flat", true, 2, 0, 0, 0);
  GetLayerRecord(flat)->mWidth = 0;
  GetLayerRecord(flat)->mHeight = 0;
  AddLayer("leaf", false, 3, 8, 8, 0xFF000000);
  Run("window window=1 title=\"S\" layer=\"scene/\"\n");
  EXPECT_EQ(Shown(), 0);
  ASSERT_NE(g_WindowRecords[1]->mRootLayer, nullptr);
  EXPECT_EQ(std::string(g_WindowRecords[1]->mRootLayer->mName), "scene");
  EXPECT_EQ(GetLayerRecord(g_WindowRecords[1]->mRootLayer)->mIsWindowRoot, 1);
  Run("window window=1 layer=\"leaf/\"\n");
  EXPECT_EQ(Shown(), 101250);
  Run("window window=1 layer=\"flat/\"\n");
  EXPECT_EQ(g_WindowRecords[1]->mRootLayer, nullptr);
  std::vector<std::string> boxes = CallsStartingWith("ChoiceBox");
  ASSERT_FALSE(boxes.empty());
  EXPECT_NE(boxes.back().find("0x0"), std::string::npos);
  EXPECT_EQ(g_QuitFlag, 1);
}

TEST_F(WindowCommandTest, ShapeKeepsNonBlackRunsWhateverTheirAlpha) {
  NameNode* node = AddLayer("shape", false, 1, 4, 2, 0xFF000000);
  LayerRecord* r = GetLayerRecord(node);
  // Row 0: black, red (alpha 0), red, black; row 1: all blue.
  const uint32_t row0[] = {0xFF000000, 0x00FF0000, 0xFFFF0000, 0xFF000000};
  for (int x = 0; x < 4; x++) memcpy(r->mPixels + x * 4, &row0[x], 4);
  for (int x = 0; x < 4; x++) memcpy(r->mPixels + 16 + x * 4, "\xff\x00\x00\x00", 4);
  Run("window window=0 region=\"shape\"\n");
  EXPECT_EQ(Shown(), 0);
  std::vector<PlatRect> shape = HeadlessDesktopState(0).shape;
  ASSERT_EQ(shape.size(), 2u);
  EXPECT_EQ(shape[0].x, 1);
  EXPECT_EQ(shape[0].y, 0);
  EXPECT_EQ(shape[0].width, 2);
  EXPECT_EQ(shape[1].x, 0);
  EXPECT_EQ(shape[1].y, 1);
  EXPECT_EQ(shape[1].width, 4);
}

TEST_F(WindowCommandTest, ShapeOfTooManyRunsIsRefusedAndEndsTheTurn) {
  // 2000 single-pixel runs: every other pixel of a 4000 x 1 line.
  NameNode* node = AddLayer("dots", false, 1, 4000, 1, 0xFF000000);
  LayerRecord* r = GetLayerRecord(node);
  for (int x = 0; x < 4000; x += 2) r->mPixels[x * 4] = 0xFF;
  Run("window window=0 region=\"dots\"\nr = 5\n");
  EXPECT_EQ(Shown(), 0);
  EXPECT_TRUE(CallsStartingWith("SetWindowShape").empty());
  EXPECT_EQ(Int("r"), -7);
  Pass();
  EXPECT_EQ(Int("r"), 5);
}

TEST_F(WindowCommandTest, QueryOfAMovedWindowReturnsItsNewLeftAndUpdatesTheRecord) {
  Run("window window=1 title=\"S\" width=100 height=50\n");
  g_Platform->SetWindowPosition(1, 321, 45);
  Run("windowquery window=1 out=r x=1\n");
  EXPECT_EQ(Int("r"), 321);
  EXPECT_EQ(g_WindowRecords[1]->mX, 321);
  struct Case {
    const char* query;
    int64_t r;
    double f;
    std::string s;
  };
  const Case cases[] = {
      {"windowquery window=1 out=r exists=1 alpha=1", 1, -7.0, "old"},
      {"windowquery window=1 out=f exists=1", -7, 1.0, "old"},
      {"windowquery window=1 out=r width=1 height=1", 100, -7.0, "old"},
      {"windowquery window=1 out=r clientheight=1", 50, -7.0, "old"},
      {"windowquery window=1 out=s title=1", -7, -7.0, "S"},
      {"windowquery window=1 out=r title=1", -7, -7.0, "old"},
      {"windowquery window=1 out=r", -7, -7.0, "old"},
      {"windowquery window=3 out=r exists=1", 0, -7.0, "old"},
      {"windowquery window=3 out=f exists=1", -7, 0.0, "old"},
      {"windowquery window=3 out=s title=1", -7, -7.0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    Run(std::string(c.query) + "\n");
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(Int("r"), c.r);
    EXPECT_EQ(Real("f"), c.f);
    EXPECT_EQ(Text("s"), c.s);
  }
}

// The command works as the caption's button: the window's state is set by the command itself
// (a host need not report a maximise it was asked for, and refuses one for a window that may not
// be resized), and the same command again restores.
TEST_F(WindowCommandTest, MaximiseAndRestoreFollowTheMainWindowState) {
  Run("window window=0 maximize=1\nwindowquery window=0 out=r maximized=1\n");
  EXPECT_EQ(Int("r"), 1);
  EXPECT_EQ(g_MaximizeClicked, 1);
  EXPECT_TRUE(HeadlessDesktopState(0).maximized);
  // A maximised window is not held to the sizes a user drag may reach.
  EXPECT_EQ(HeadlessWindow(0).maxWidth, 0);
  EXPECT_EQ(HeadlessWindow(0).maxHeight, 0);
  Run("window window=0 maximize=1\nwindowquery window=0 out=r maximized=1\n");
  EXPECT_EQ(Int("r"), 0);
  EXPECT_FALSE(HeadlessDesktopState(0).maximized);
  EXPECT_EQ(g_ClientAreaSize.width, 640);
  EXPECT_EQ(HeadlessWindow(0).width, 640);
  EXPECT_EQ(HeadlessWindow(0).height, 480);
  // A project without a sizing border gets its fixed size back, limits and all.
  EXPECT_FALSE(HeadlessWindow(0).resizable);
  EXPECT_EQ(HeadlessWindow(0).maxWidth, 1440);
  EXPECT_EQ(HeadlessWindow(0).maxHeight, 1080);
}

TEST_F(WindowCommandTest, AWindowThatMayNotMaximiseReportsTheClickAndStaysAsItIs) {
  Run("window window=0 maxallowed=0\nwindow window=0 maximize=1\nwindowquery window=0 out=r maximized=1\n");
  EXPECT_EQ(Int("r"), 0);
  EXPECT_EQ(g_MaximizeClicked, 1);
  EXPECT_FALSE(HeadlessDesktopState(0).maximized);
  EXPECT_FALSE(HeadlessWindow(0).resizable);
}

TEST_F(WindowCommandTest, FlashMaximiseBoxResizableAndForegroundReachTheHost) {
  Run("window window=0 flash=3 flashtime=250 maxbox=0 resizable=1 foreground=1\n");
  EXPECT_EQ(HeadlessDesktopState(0).flashCount, 3);
  EXPECT_EQ(HeadlessDesktopState(0).flashInterval, 250);
  EXPECT_FALSE(HeadlessDesktopState(0).maximizeBox);
  EXPECT_TRUE(HeadlessWindow(0).resizable);
  EXPECT_EQ(g_WindowResizable, 1);
  EXPECT_EQ(CallsStartingWith("RaiseWindow 0").size(), 1u);
  HeadlessClearCalls();
  // The same box state again changes nothing.
  Run("window window=0 maxbox=0\n");
  EXPECT_TRUE(CallsStartingWith("SetMaximizeBox").empty());
}

TEST_F(WindowCommandTest, ClientWidthFollowsTheGameShapeWithinTheDesktop) {
  Run("window window=0 clientwidth=5000\n");
  EXPECT_EQ(HeadlessWindow(0).width, 1440);
  EXPECT_EQ(HeadlessWindow(0).height, 1080);
  EXPECT_EQ(g_ClientAreaSize.width, 1440);
}

TEST_F(WindowCommandTest, DragLayerMustBeALeafLayer) {
  NameNode* node = AddLayer("handle", false, 1, 4, 4, 0xFFFFFFFF);
  Run("window window=0 drag=\"handle\"\n");
  EXPECT_EQ(g_DragLayer.mOn, 1);
  EXPECT_EQ(g_DragLayer.mNode, node);
  Run("window window=0 drag=\"nothing\"\n");
  EXPECT_EQ(Shown(), 101250);
}

}  // namespace
