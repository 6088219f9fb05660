// The task runner: pass order, run flags, waits, the inactive pause, argument decoding with
// its check kinds, and located messages.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"

namespace {

class RunnerTest : public ScriptTest {
 protected:
  // A task node under `parent` that runs from `label`.
  ScriptTask* AddTask(NameNode* parent, const char* name, bool group, int64_t key, const char* label) {
    NameNode* node = CreateTreeNode(parent, name, group, key);
    EXPECT_NE(node, nullptr);
    ScriptTask* task = AttachTaskRecord(node);
    if (label) {
      int32_t index = FindLabel(label, strlen(label));
      EXPECT_GE(index, 0) << label;
      EXPECT_TRUE(SwitchTaskFile(task, g_Labels.mRecords[index].mScriptFile));
      task->mCommandIndex = g_Labels.mRecords[index].mPosition;
    }
    return task;
  }
};

const char* const kOrderProject = R"(
global str order = ""
file main.txt
*SYSTEM_START
order += "S"
wait frames=1000
*T1
order += "1"
wait frames=1
jump T1
*T3
order += "3"
wait frames=1
jump T3
*T5
order += "5"
wait frames=1
jump T5
)";

TEST_F(RunnerTest, LargerOrderKeysRunFirstAndEachTaskOncePerPass) {
  ASSERT_TRUE(Boot(kOrderProject));
  AddTask(g_TaskRoot, "t1", false, 1, "T1");
  AddTask(g_TaskRoot, "t5", false, 5, "T5");
  AddTask(g_TaskRoot, "t3", false, 3, "T3");
  RunPasses(1);
  EXPECT_EQ(Text("order"), "S531");
  // A repeated pass with the same counter runs nobody again.
  RunScriptTasks();
  EXPECT_EQ(Text("order"), "S531");
  RunPasses(2);
  EXPECT_EQ(Text("order"), "S531531531");
  EXPECT_EQ(ShownMessage(), 0);
}

TEST_F(RunnerTest, RunFlagsHideTasksAndWholeGroups) {
  ASSERT_TRUE(Boot(kOrderProject));
  ScriptTask* half = AddTask(g_TaskRoot, "t1", false, 1, "T1");
  half->mRunFlag2 = 0;
  ScriptTask* group = AddTask(g_TaskRoot, "g", true, 50, nullptr);
  AddTask(g_TaskRoot, "g/t5", false, 5, "T5");
  AddTask(g_TaskRoot, "t3", false, 3, "T3");
  group->mRunFlag1 = 2;
  group->mRunFlag2 = 1;   // 2 & 1 == 0
  RunPasses(1);
  EXPECT_EQ(Text("order"), "S3");
  group->mRunFlag1 = 1;
  half->mRunFlag2 = 1;
  RunPasses(1);
  EXPECT_EQ(Text("order"), "S3531");
}

// A listing whose tasks T1-T4, TA, TB and TN each add their letter to `order` once a pass;
// task `actor` also carries out `action`, in its first turn only.
std::string MidPassListing(const std::string& actor, const std::string& action) {
  std::string s = "global str order = \"\"\nglobal int acted = 0\nfile main.txt\n*SYSTEM_START\nwait frames=1000\n";
  for (std::string t : {"1", "2", "3", "4", "a", "b", "n"}) {
    s += "*T" + t + "\norder += \"" + t + "\"\n";
    if (t == actor) s += "if acted == 0\n  acted = 1\n  " + action + "\nendif\n";
    s += "wait frames=1\njump T" + t + "\n";
  }
  return s;
}

// A pass takes child k, from the child count at its start down to 1, as the k-th child stands
// when k's turn comes. Tasks t1-t4 have keys 1-4; "SYSTEM" and the nameless group (key 100)
// are children 5 and 6 and run no letter. Ending a task below shifts the children after it
// down a place; a start or a move below shifts them up; a task reached again is skipped.
TEST_F(RunnerTest, TasksThatEndStartAndMoveMidPassShiftThePositionsAfterThem) {
  struct Case {
    const char* what;
    const char* actor;
    const char* action;
    const char* twoPasses;
  } cases[] = {
      {"ends itself", "3", "taskend", "4321" "421"},
      // t3 ends t1: t3 becomes child 2 (already run), t2 child 1.
      {"ends a task not yet run", "3", "taskend name=\"t1\"", "432" "432"},
      {"ends the task right after it", "3", "taskend name=\"t2\"", "431" "431"},
      {"ends a task that has run", "3", "taskend name=\"t4\"", "4321" "321"},
      // n (key 1) goes before t1: t1 becomes child 2 and n child 1; t2 waits a pass.
      {"starts a task below", "3", "taskstart name=\"n\" label=\"Tn\"", "431n" "4321n"},
      {"starts a task above", "3", "taskstart name=\"n\" label=\"Tn\" priority=10", "4321" "n4321"},
      {"moves itself up", "3", "taskstart priority=50", "4321" "3421"},
      // t4 moves before t1: t1 becomes child 2, t4 child 1 (already run).
      {"moves a task that has run below", "3", "taskstart name=\"t4\" priority=1", "431" "3214"},
      {"moves itself below", "3", "taskstart priority=1", "431" "4213"},
      // Two ends below t4: "SYSTEM" becomes child 3 and t4 child 2, both already run.
      {"ends two tasks", "4", "taskend name=\"t1\"\n  taskend name=\"t2\"", "43" "43"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
    ASSERT_TRUE(Boot(MidPassListing(c.actor, c.action)));
    for (int k = 1; k <= 4; k++) AddTask(g_TaskRoot, ("t" + std::to_string(k)).c_str(), false, k, ("T" + std::to_string(k)).c_str());
    RunPasses(2);
    EXPECT_EQ(Text("order"), c.twoPasses);
    EXPECT_EQ(ShownMessage(), 0);
  }
  // Inside a group: b starts g/n (key 1), which goes before a; a waits a pass.
  ASSERT_TRUE(ResetScriptEngine(folder_.path()));
  ASSERT_TRUE(Boot(MidPassListing("b", "taskstart name=\"g/n\" label=\"Tn\"")));
  AddTask(g_TaskRoot, "t1", false, 1, "T1");
  AddTask(g_TaskRoot, "g", true, 5, nullptr);
  AddTask(g_TaskRoot, "g/a", false, 1, "Ta");
  AddTask(g_TaskRoot, "g/b", false, 2, "Tb");
  RunPasses(2);
  EXPECT_EQ(Text("order"), "bn1" "ban1");
}

TEST_F(RunnerTest, InactivePauseEndsTheTurnBeforeTheCommand) {
  ASSERT_TRUE(Boot(kOrderProject));
  ASSERT_EQ(CreateWindowRecords(), 0);
  g_KeepRunningInactive = 0;
  g_InactivePause = 1;
  g_QuitFlag = 0;
  g_Running = 0;   // the pause pump gives up at once: the turn ends, the command stays
  RunPasses(1);
  EXPECT_EQ(Text("order"), "");
  EXPECT_EQ(SystemTask()->mCommandIndex, 0);
  g_Running = 1;
  g_InactivePause = 0;
  g_KeepRunningInactive = 1;
  RunPasses(1);
  EXPECT_EQ(Text("order"), "S");
}

TEST_F(RunnerTest, CheckKindsTestTheLowBitsAndNameTheParameter) {
  ASSERT_EQ(CreateWindowRecords(), 0);
  g_WindowRecords[0]->mWidth = 640;
  g_WindowRecords[0]->mHeight = 480;
  struct Case {
    uint8_t kind;
    const char* value;
    int message;
  } cases[] = {
      {3, "4294967297", 0},   {3, "2", 101000},     {1, "0", 0},        {1, "-1", 101010},   {2, "0", 101010},
      {24, "-1", 0},          {24, "0xFFFFFF", 0},  {24, "0x1000000", 101020},               {25, "-1", 101030},
      {25, "0xFFFFFF", 0},    {26, "639", 0},       {26, "640", 101000}, {27, "480", 101000}, {28, "3", 0},
      {28, "-1", 101220},     {28, "4", 101210},    {17, "127", 101000}, {17, "128", 0},      {12, "257", 101000},
  };
  for (const Case& c : cases) {
    ClearMessage();
    ResetScriptSet();
    ASSERT_TRUE(Boot(std::string("file main.txt\n*SYSTEM_START\nwait frames=") + c.value + "\nwait frames=1000\n"));
    g_CommandDefs[93].mCheckKinds[0] = c.kind;
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message) << (int)c.kind << " " << c.value;
    if (c.message) {
      EXPECT_NE(std::string(LastErrorDialogText()).find("wait frames"), std::string::npos) << LastErrorDialogText();
    }
  }
}

TEST_F(RunnerTest, DecodingFillsSlotsByParameterId) {
  ASSERT_TRUE(Boot(R"(
global int v[4] = 0
file main.txt
*SYSTEM_START
enginecall text=v[2] code=1 result=v[3]
reserved0
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  // The engine call answers 502 into the element its result parameter names, whatever the
  // order the script gave the parameters in.
  EXPECT_EQ(Int("v", 3), 502);
  EXPECT_EQ(Int("v", 2), 0);
  // A command without argument records leaves every slot empty.
  g_CurrentTask = SystemTask();
  g_CurrentCommand = 1;
  EXPECT_EQ(DecodeCommandArguments(0), 0);
  EXPECT_EQ(g_CurrentArgCount, 0);
  for (int id = 0; id < MAX_COMMAND_PARAMS; id++) EXPECT_EQ(g_ParamSlot[id], 0) << id;
  g_CurrentTask = nullptr;
}

TEST_F(RunnerTest, LocatedMessagesNameTheScriptAndLine) {
  ASSERT_TRUE(Boot("file story/main.txt\n*SYSTEM_START\nwait frames=1\njump NOWHERE\n"));
  RunPasses(2);
  EXPECT_EQ(ShownMessage(), 108180);
  EXPECT_NE(std::string(LastErrorDialogText()).find("story/main.txt"), std::string::npos);
  // The listing's standard messages come first; the jump is on the listing's last line.
  EXPECT_STREQ(g_ErrorFile, "story/main.txt");
  EXPECT_GT(g_ErrorLine, 20);
}

TEST_F(RunnerTest, DevelopmentModeOffersToQuitAfterTheFourCorners) {
  // Each pass runs well over 1024 commands, so every pass looks at the pointer once or more.
  ASSERT_TRUE(Boot(R"(
global int n = 0
file main.txt
*SYSTEM_START
loop 700
  n += 1
endloop
wait frames=1
jump SYSTEM_START
)"));
  g_DesktopSize = {1920, 1080, 32, 60};
  g_DebugMode = 1;
  g_DebugCommandCounter = 0;
  g_DebugCornerBits = 0;
  HeadlessQueueAnswer(0);   // "Yes"
  const int corners[4][2] = {{0, 0}, {3, 1075}, {1915, 8}, {1919, 1079}};
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(g_QuitFlag, 0) << k;
    HeadlessSetCursorPosition(corners[k][0], corners[k][1]);
    RunPasses(1);
  }
  EXPECT_EQ(g_QuitFlag, 1);
  bool asked = false;
  for (const std::string& call : HeadlessCalls()) asked |= call.find("[デバッグ機能]") != std::string::npos;
  EXPECT_TRUE(asked);
  g_DebugMode = 0;
}

TEST_F(RunnerTest, WithoutDevelopmentModeNoCommandIsCounted) {
  ASSERT_TRUE(Boot("global int n = 0\nfile main.txt\n*SYSTEM_START\nloop 700\nn += 1\nendloop\nwait frames=1\n"));
  g_DebugCommandCounter = 0;
  RunPasses(1);
  EXPECT_EQ(g_DebugCommandCounter, 0u);
  EXPECT_EQ(Int("n"), 700);
}

TEST_F(RunnerTest, UnassignedCommandsEndTheRun) {
  ASSERT_TRUE(Boot("file main.txt\n*SYSTEM_START\nunassigned17\nwait frames=1\n"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 900050);
  EXPECT_EQ(g_QuitFlag, 1);
}

}  // namespace

namespace {

class EndCommandTest : public ScriptTest {};

TEST_F(EndCommandTest, EndQuitsAndRestartIsRemembered) {
  ASSERT_TRUE(Boot("file main.txt\n*SYSTEM_START\nend restart=1\n"));
  RunPasses(1);
  EXPECT_EQ(g_QuitFlag, 1);
  EXPECT_EQ(g_RestartRequested, 1);
  EXPECT_EQ(ShownMessage(), 0);
  g_RestartRequested = 0;
}

}  // namespace
