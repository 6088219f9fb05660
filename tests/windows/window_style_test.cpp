// The project's window styles: a frameless project opens its main window without a frame and
// without a sizing border, a resizable one with a sizing border that a maximise and restore
// leave in place, and the start-up takes the resizable switch from the project settings.
#include <string>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "script/script_set.h"
#include "tests/support/game_start_fixture.h"
#include "tests/support/window_fixture.h"
#include "tools/lib/assembler.h"

namespace {

using WindowStyleTest = GameWindowTest;

TEST_F(WindowStyleTest, TheProjectsFrameAndSizingFlagsShapeTheMainWindow) {
  struct Case {
    uint8_t framed, sizing;
    bool hasFrame, resizable;
  };
  const Case cases[] = {{1, 0, true, false}, {1, 1, true, true}, {0, 1, false, false}, {0, 0, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.framed) + "/" + std::to_string(c.sizing));
    g_Platform->DestroyWindow(0);
    main_->mHasWindow = 0;
    g_ProjectFramedWindows = c.framed;
    g_WindowResizable = c.sizing;
    ASSERT_TRUE(CreateGameWindow(main_, "game"));
    EXPECT_EQ(HeadlessDesktopState(0).framed, c.hasFrame);
    EXPECT_EQ(HeadlessWindow(0).resizable, c.resizable);
  }
  g_ProjectFramedWindows = 1;
  g_WindowResizable = 0;
}

TEST_F(WindowStyleTest, RestoringAResizableProjectKeepsItsSizingBorder) {
  g_WindowResizable = 1;
  g_Platform->SetWindowResizable(0, true);
  Send(MakeEvent(PLAT_EVENT_MAXIMIZED));
  EXPECT_EQ(g_WindowMaximized, 1);
  Send(MakeEvent(PLAT_EVENT_RESTORED));
  EXPECT_EQ(g_WindowMaximized, 0);
  EXPECT_TRUE(HeadlessWindow(0).resizable);
  g_WindowResizable = 0;
}

using WindowStyleStartTest = GameStartTest;

TEST_F(WindowStyleStartTest, TheStartTakesTheResizableSwitchFromTheProject) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(config width=320 height=240 title="Sized" sizing=1
file main.txt
*SYSTEM_START
end
)",
                              &set))
      << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  g_WindowResizable = 0;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(g_ProjectSizingBorder, 1);
  EXPECT_EQ(g_WindowResizable, 1);
  g_WindowResizable = 0;
}

}  // namespace
