// The engine-call command: its version answer by target type, and the comment dialog's answer
// and text.
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "tests/support/script_fixture.h"

namespace {

class EngineCallTest : public ScriptTest {};

TEST_F(EngineCallTest, VersionAnswerGoesIntoNumbersAndRefusesTexts) {
  ASSERT_TRUE(Boot(R"(
global int i[3] = 0
global real r = 0.0
global str s = "x"
file main.txt
*SYSTEM_START
enginecall code=1 result=i[2]
enginecall code=1 result=r
enginecall code=7 result=i[0]
wait frames=1
enginecall code=1 result=s
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Int("i", 2), 502);
  EXPECT_EQ(Int("i", 0), 0);
  EXPECT_DOUBLE_EQ(Real("r"), 502.0);
  EXPECT_EQ(ShownMessage(), 0);
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 101140);
  EXPECT_EQ(Text("s"), "x");
}

TEST_F(EngineCallTest, CommentDialogAnswersAndKeepsItsText) {
  for (int answer : {0, 1}) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(R"(
global str note = "first note"
global str back = ""
global int ok = -1
file main.txt
*SYSTEM_START
enginecall code=10201 text=note result=ok
enginecall code=10205 result=back
wait frames=1
)"));
    HeadlessQueueAnswer(answer);
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 0);
    EXPECT_EQ(Int("ok"), answer == 0 ? 1 : 0) << answer;
    if (answer == 0) {
      EXPECT_EQ(Text("back"), "first note");
    }
  }
}

}  // namespace
