// A whole start: an assembled project packed into a game folder boots through the engine's
// entry point, runs the task "SYSTEM" from "SYSTEM_START" over several frames and ends.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"

namespace {

class BootTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    setenv("KIVOR_PLATFORM", "headless", 1);
    cwd_ = PlatCurrentFolder();
  }
  void TearDown() override {
    PlatSetCurrentFolder(cwd_);
    HeadlessTest::TearDown();
  }
  int Run() {
    std::vector<std::string> args{"kivor", "--game", game_.path()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return EngineMain((int)args.size(), argv.data());
  }
  std::string DebugLog() {
    std::ifstream in(game_.path() + "/debuglog.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  TempFolder game_;
  std::string cwd_;
};

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
  EXPECT_EQ(Run(), 0);
  // The script ran to its last command: the report went to the debug log, and the end came
  // from the unassigned command, located in the first script file.
  EXPECT_NE(DebugLog().find("total=21"), std::string::npos) << DebugLog();
  std::string dialog = LastErrorDialogText();
  EXPECT_NE(dialog.find("E900050"), std::string::npos) << dialog;
  EXPECT_NE(dialog.find("start.txt"), std::string::npos) << dialog;
  EXPECT_GE(g_FrameCounter, 4u);
}

}  // namespace
