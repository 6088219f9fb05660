// A whole start: an assembled project packed into a game folder boots through the engine's
// entry point, runs the task "SYSTEM" from "SYSTEM_START" over several frames and ends.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/game_start_fixture.h"
#include "tools/lib/assembler.h"

namespace {

using BootTest = GameStartTest;

TEST_F(BootTest, APackedProjectRunsItsSystemTaskAcrossFrames) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(
config width=320 height=240 title="Boot"
message 900050 "E900050"
global int total = 0
global str line = ""
file start.txt
*SYSTEM_START
loop 3
  total += 7
  wait frames=1
endloop
call REPORT total
unassigned17
file report.txt
*REPORT
line = "total=" + str(total)
enginecall code=51 text=line
return
)",
                              &set))
      << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  EXPECT_EQ(Run(), EXIT_ERROR);   // the run ends on a fatal numbered message
  // The script ran to its last command: the report went to the debug log, and the end came
  // from the unassigned command, located in the first script file.
  EXPECT_NE(DebugLog().find("total=21"), std::string::npos) << DebugLog();
  std::string dialog = LastErrorDialogText();
  EXPECT_NE(dialog.find("E900050"), std::string::npos) << dialog;
  EXPECT_NE(dialog.find("start.txt"), std::string::npos) << dialog;
  EXPECT_GE(g_FrameCounter, 4u);
}

}  // namespace
