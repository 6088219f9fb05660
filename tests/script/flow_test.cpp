// Flow control through assembled scripts: blocks, loops, calls and returns, jumps between
// files, the depth limits, waits and the label test.
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"

namespace {

class FlowTest : public ScriptTest {};

TEST_F(FlowTest, NestedBlocksTakeTheRightBranches) {
  ASSERT_TRUE(Boot(R"(
global int out[6] = 0
global int k = 0
file main.txt
*SYSTEM_START
loop 6
  if k == 0
    out[k] = 10
  elseif k == 1
    out[k] = 11
  elseif k == 2
    if 1 == 1
      out[k] = 12
    else
      out[k] = -1
    endif
  else
    if k > 4
      out[k] = 15
    endif
    if k == 3
      out[k] = 13
    elseif k == 4
      out[k] = 14
    endif
  endif
  k += 1
endloop
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  const int64_t expected[] = {10, 11, 12, 13, 14, 15};
  for (int k = 0; k < 6; k++) EXPECT_EQ(Int("out", k), expected[k]) << k;
  EXPECT_EQ(SystemTask()->mBlockDepth, 0);
  EXPECT_EQ(SystemTask()->mLoopDepth, 0);
}

TEST_F(FlowTest, LoopCountsBreaksAndContinues) {
  ASSERT_TRUE(Boot(R"(
global int three = 0
global int none = 0
global int endless = 0
global int outer = 0
global int inner = 0
global int odd = 0
global int i = 0
file main.txt
*SYSTEM_START
loop 3
  three += 1
endloop
loop 0
  none += 1
endloop
loop -1
  endless += 1
  if endless == 7
    break
  endif
endloop
loop 5
  outer += 1
  loop 5
    inner += 1
    if inner == 3
      break 2
    endif
  endloop
endloop
i = 0
loop 10
  i += 1
  if i % 2 == 0
    continue
  endif
  odd += 1
endloop
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("three"), 3);
  EXPECT_EQ(Int("none"), 0);
  EXPECT_EQ(Int("endless"), 7);
  EXPECT_EQ(Int("outer"), 1);
  EXPECT_EQ(Int("inner"), 3);
  EXPECT_EQ(Int("odd"), 5);
  EXPECT_EQ(SystemTask()->mLoopDepth, 0);
  EXPECT_EQ(SystemTask()->mBlockDepth, 0);
}

TEST_F(FlowTest, CallsPassValuesAndReturnToTheRightPlace) {
  ASSERT_TRUE(Boot(R"(
global int trail = 0
file main.txt
*SYSTEM_START
trail = 1
call SUB 7, 2.5, "txt"
trail = trail * 10 + 3
wait frames=1
*SUB
trail = trail * 10 + 2
return 9, "back"
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("trail"), 123);
  ScriptTask* task = SystemTask();
  EXPECT_EQ(task->mCallDepth, 0);
  const CallFrame* callee = task->mFrames[1];
  ASSERT_NE(callee, nullptr);
  EXPECT_EQ(callee->mArgCount, 3);
  EXPECT_EQ(callee->mIntArgs[1], 7);
  EXPECT_DOUBLE_EQ(callee->mRealArgs[2], 2.5);
  EXPECT_STREQ(callee->mTextArgs[3], "txt");
  EXPECT_EQ(callee->mArgGiven[1] + callee->mArgGiven[2] + callee->mArgGiven[3], 3);
  const CallFrame* caller = task->mFrames[0];
  EXPECT_EQ(caller->mReturnCount, 2);
  EXPECT_EQ(caller->mIntReturns[1], 9);
  EXPECT_STREQ(caller->mTextReturns[2], "back");
}

TEST_F(FlowTest, CallFromInsideABlockKeepsTheCallersDepths) {
  ASSERT_TRUE(Boot(R"(
global int depth = 0
file main.txt
*SYSTEM_START
if 1
  if 1
    call SUB
  endif
endif
wait frames=1
*SUB
return
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(SystemTask()->mBlockDepth, 0);
  EXPECT_EQ(SystemTask()->mFrames[0]->mBlockDepth, 2);
}

TEST_F(FlowTest, JumpsBetweenFilesLoadEachFileOnce) {
  ASSERT_TRUE(Boot(R"(
global int hops = 0
global str where = "OTHER_B"
file main.txt
*SYSTEM_START
jump OTHER_A
*BACK
hops += 100
jump (where)
*DONE
wait frames=1
file other.txt
*OTHER_A
hops += 1
jump BACK
*OTHER_B
hops += 10
jump DONE
)"));
  // A literal label is resolved when the file is linked; one read from a variable is not.
  const ScriptFileRecord* main = g_ScriptFiles[0];
  ASSERT_TRUE(main && main->mLinked);
  int resolved = 0, unresolved = 0;
  for (int i = 0; i < main->mCommandCount; i++) {
    if (main->mCommandCodes[i] != 34) continue;
    if (main->mArgRecords[i][0].mExprLength & ~LABEL_INDEX_MASK) resolved++;
    else unresolved++;
  }
  EXPECT_EQ(resolved, 1);
  EXPECT_EQ(unresolved, 1);
  EXPECT_EQ(g_ScriptFiles[1], nullptr);
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("hops"), 111);
  const ScriptFileRecord* other = g_ScriptFiles[1];
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(LoadScriptFile(1), 1);
  EXPECT_EQ(g_ScriptFiles[1], other);
}

TEST_F(FlowTest, MissingLabelsAndMissingFilesStopTheTask) {
  struct Case {
    const char* body;
    int message;
  } cases[] = {
      {"jump NOWHERE\n", 108180},
      {"dim str w = \"NOWHERE\"\njump (w)\n", 108180},
      {"call NOWHERE\n", 108180},
      {"jump GONE\nfile gone.txt\n*GONE\nwait frames=1\n", 0},
  };
  for (const Case& c : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Write(std::string("file main.txt\n*SYSTEM_START\n") + c.body));
    PlatDeleteFile(folder_.path() + "/kvbin/kvt00001.kbn");
    ASSERT_EQ(BootScripts(), 0);
    RunPasses(2);
    EXPECT_EQ(g_QuitFlag, 1) << c.body;
    if (c.message) {
      EXPECT_EQ(ShownMessage(), c.message) << c.body;
    } else {
      EXPECT_NE(std::string(LastErrorDialogText()).find("kvt00001.kbn"), std::string::npos);
    }
  }
}

TEST_F(FlowTest, The64thLevelIsRefusedAndTheTaskStaysSound) {
  struct Case {
    const char* open;
    const char* close;
    int message;
  } cases[] = {
      {"if 1", "endif", 101600},
      {"loop 1", "endloop", 101600},
  };
  for (const Case& c : cases) {
    for (int levels : {63, 64}) {
      ClearMessage();
      ResetScriptSet();
      std::string body;
      for (int k = 0; k < levels; k++) body += std::string(c.open) + "\n";
      body += "reached = 1\n";
      for (int k = 0; k < levels; k++) body += std::string(c.close) + "\n";
      ASSERT_TRUE(Boot("global int reached = 0\nfile main.txt\n*SYSTEM_START\n" + body + "wait frames=1\n"));
      RunPasses(1);
      EXPECT_EQ(ShownMessage(), levels == 64 ? c.message : 0) << c.open << " " << levels;
      EXPECT_EQ(Int("reached"), levels == 64 ? 0 : 1) << c.open << " " << levels;
      ScriptTask* task = SystemTask();
      EXPECT_LE(task->mBlockDepth, 63);
      EXPECT_LE(task->mLoopDepth, 63);
    }
  }
}

TEST_F(FlowTest, The64thCallIsRefused) {
  ASSERT_TRUE(Boot(R"(
global int depth = 0
file main.txt
*SYSTEM_START
call DEEPER
wait frames=1
*DEEPER
depth += 1
call DEEPER
return
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 101600);
  EXPECT_EQ(Int("depth"), 63);
  EXPECT_EQ(SystemTask()->mCallDepth, 63);
}

TEST_F(FlowTest, BlockStructureErrorsGive101300) {
  const char* const cases[] = {"else\n", "endif\n", "breakblock\n", "repeatblock\n", "break\n",
                               "continue\n", "return\n", "if 1\nbreakblock 5\nendif\n", "loop 2\nbreak 3\nendloop\n"};
  for (const char* body : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(std::string("file main.txt\n*SYSTEM_START\n") + body + "wait frames=1\n"));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), 101300) << body;
  }
  ClearMessage();
  ResetScriptSet();
  ASSERT_TRUE(Boot("file main.txt\n*SYSTEM_START\nendloop\n"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 108120);
}

TEST_F(FlowTest, BreakAndRepeatBlockMoveToTheRightCommand) {
  ASSERT_TRUE(Boot(R"(
global int tries = 0
global int after = 0
file main.txt
*SYSTEM_START
if 1
  tries += 1
  if tries < 4
    repeatblock 2
  endif
  if 1
    breakblock 2
  endif
  after = -1
endif
after += 1
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("tries"), 4);
  EXPECT_EQ(Int("after"), 1);
  EXPECT_EQ(SystemTask()->mBlockDepth, 0);
}

TEST_F(FlowTest, WaitsResumeOnTimeAndNegativeMillisecondsNeverStall) {
  ASSERT_TRUE(Boot(R"(
global int step = 0
file main.txt
*SYSTEM_START
step = 1
wait frames=3
step = 3
wait ms=-1
step = 4
wait ms=100
step = 5
wait frames=0 ms=0
step = 6
wait frames=1000
)"));
  RunPasses(1);
  EXPECT_EQ(Int("step"), 1);
  RunPasses(2);
  EXPECT_EQ(Int("step"), 1);
  RunPasses(1);
  EXPECT_EQ(Int("step"), 3);
  RunPasses(1);
  EXPECT_EQ(Int("step"), 4);
  RunPasses(3);
  EXPECT_EQ(Int("step"), 4);
  HeadlessAdvanceTicks(100);
  RunPasses(1);
  EXPECT_EQ(Int("step"), 6);
  EXPECT_EQ(ShownMessage(), 0);
}

// The frame count keeps its low 32 bits, sign and all, and the runner counts it down by one a
// pass until it reaches 0: a count of N resumes the task N passes later, and a negative count
// is a wait of 2^32 minus its size, which parks the task for as long as a game runs.
TEST_F(FlowTest, FrameWaitsKeepTheLowThirtyTwoBitsOfTheirCount) {
  struct Case {
    const char* frames;
    int resumesAtPass;   // the pass that runs the command after the wait; 0: still parked
  } cases[] = {
      {"0", 1},           {"1", 2},  {"3", 4},  {"4294967297", 2}, {"-4294967296", 1},
      {"-1", 0},          {"-5", 0}, {"2147483648", 0}, {"-2147483648", 0},
  };
  constexpr int kPasses = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    ASSERT_TRUE(Boot(std::string("global int step = 0\nfile main.txt\n*SYSTEM_START\nstep = 1\nwait frames=") +
                     c.frames + "\nstep = 2\nwait frames=1000\n"));
    int resumed = 0;
    for (int pass = 1; pass <= kPasses && resumed == 0; pass++) {
      RunPasses(1);
      if (Int("step") == 2) resumed = pass;
    }
    EXPECT_EQ(resumed, c.resumesAtPass);
    EXPECT_EQ(ShownMessage(), 0);
  }
}

TEST_F(FlowTest, LabelExistsStoresOneOrZero) {
  ASSERT_TRUE(Boot(R"(
global int yes = 5
global int no = 5
global int untouched = 5
global real r = 5.0
file main.txt
*SYSTEM_START
labelexists label="SYSTEM_START" out=yes test=1
labelexists label="MISSING" out=no test=1
labelexists label="SYSTEM_START" out=untouched
labelexists label="SYSTEM_START" out=r test=0
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("yes"), 1);
  EXPECT_EQ(Int("no"), 0);
  EXPECT_EQ(Int("untouched"), 5);
  EXPECT_DOUBLE_EQ(Real("r"), 1.0);
}

TEST_F(FlowTest, AnotherTaskThatReturnsAtDepthZeroLeavesTheTree) {
  ASSERT_TRUE(Boot(R"(
global int ran = 0
file main.txt
*SYSTEM_START
wait frames=1
*WORKER
ran += 1
return
)"));
  NameNode* node = CreateTreeNode(g_TaskRoot, "worker", false, 1);
  ScriptTask* worker = AttachTaskRecord(node);
  ASSERT_NE(worker, nullptr);
  int32_t label = FindLabel("WORKER", 6);
  ASSERT_GE(label, 0);
  ASSERT_TRUE(SwitchTaskFile(worker, g_Labels.mRecords[label].mScriptFile));
  worker->mCommandIndex = g_Labels.mRecords[label].mPosition;
  int children = g_TaskRoot->mChildCount;
  RunPasses(1);
  EXPECT_EQ(Int("ran"), 1);
  EXPECT_EQ(g_TaskRoot->mChildCount, children - 1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(FindNodeByPath(g_TaskRoot, "worker", NAME_LOOKUP_LEAF), nullptr);
}

}  // namespace
