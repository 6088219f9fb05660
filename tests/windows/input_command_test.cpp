// The input commands run from a script: polling switches and the cursor command's mode, delay,
// triggers, position, shape and layer cursor.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/format_keys.h"
#include "app/hooks.h"
#include "app/input.h"
#include "files/files.h"
#include "platform/headless/headless.h"
#include "script/eval.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "tests/support/window_fixture.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/assembler.h"

namespace {

class InputCommandTest : public GameWindowTest {
 protected:
  void SetUp() override {
    GameWindowTest::SetUp();
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
  }
  void TearDown() override {
    ReleaseScriptEngine();
    GameWindowTest::TearDown();
  }
  void Run(const std::string& body) {
    std::string listing = "message 100230 \"E100230 %s\"\nfile main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n";
    ASSERT_TRUE(AssembleListing(listing, &set_)) << set_.error;
    ASSERT_TRUE(WriteLooseSet(folder_.path(), set_));
    ASSERT_EQ(BootScripts(), 0);
    g_ScriptPassCounter++;
    RunScriptTasks();
    EXPECT_EQ(std::string(LastErrorDialogText()), "");
  }
  TempFolder folder_;
  AssembledSet set_;
};

TEST_F(InputCommandTest, TurningMousePollingOffHidesTheCursorAndOnShowsIt) {
  struct Case {
    const char* line;
    uint8_t keys, joysticks, mouse, shown;
  };
  const Case cases[] = {
      {"inputsettings keys=0 joysticks=1\n", 0, 1, 1, 1},
      {"inputsettings mouse=0\n", 1, 0, 0, 0},
      {"inputsettings mouse=0\ninputsettings mouse=1\n", 1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ResetInputState();
    Run(c.line);
    EXPECT_EQ(g_KeyPollingEnabled, c.keys);
    EXPECT_EQ(g_JoystickPollingEnabled, c.joysticks);
    EXPECT_EQ(g_MousePollingEnabled, c.mouse);
    EXPECT_EQ(g_CursorShown, c.shown);
    ApplyCursorRequest();
    EXPECT_EQ(HeadlessCursorShown(), c.shown == 1);
  }
}

TEST_F(InputCommandTest, MouseSlotsStayAsTheyWereWhileMousePollingIsOff) {
  Run("inputsettings mouse=0\n");
  PlatEventRecord down = MakeEvent(PLAT_EVENT_MOUSE_DOWN);
  Send(down);
  InputFrame();
  EXPECT_EQ(g_KeyState.mHoldFrames[1], 0);
}

TEST_F(InputCommandTest, CursorCommandSetsModeDelayTriggersShapeAndPosition) {
  Run("cursor mode=0 delay=700 showmove=0 showclick=0 showwheel=0 shape=11 x=30 y=40\n");
  EXPECT_EQ(g_CursorAutoHide, 0);
  EXPECT_EQ(g_CursorShown, 0);
  EXPECT_EQ(g_CursorAutoHideDelay, 700u);
  EXPECT_EQ(main_->mCursorShowOnMove, 0);
  EXPECT_EQ(main_->mCursorShowOnClick, 0);
  EXPECT_EQ(main_->mCursorShowOnWheel, 0);
  EXPECT_EQ(main_->mCursorX, 30);
  EXPECT_EQ(main_->mCursorY, 40);
  bool shape = false, warped = false;
  for (const std::string& c : HeadlessCalls()) {
    if (c == "SetCursorShape 11") shape = true;
    if (c.rfind("WarpMouse 0 ", 0) == 0 && c.find(",40") != std::string::npos) warped = true;
  }
  EXPECT_TRUE(shape);
  EXPECT_TRUE(warped);
  Run("cursor mode=2\n");
  EXPECT_EQ(g_CursorShown, 1);
  EXPECT_EQ(g_CursorAutoHide, 0);
}

TEST_F(InputCommandTest, CursorFromALayerUsesTheLayerSizeAndHotSpot) {
  ASSERT_NE(AddLayer("arrow", false, 1, 16, 24, 0xFFFFFFFF), nullptr);
  Run("cursor layer=\"arrow\" hotx=65539 hoty=2\n");
  bool made = false;
  for (const std::string& c : HeadlessCalls())
    if (c == "SetCustomCursor 16x24 3,2") made = true;
  EXPECT_TRUE(made);
  EXPECT_EQ(g_CustomCursor, 1);
}

}  // namespace
