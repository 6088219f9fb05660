// Script threads through assembled scripts: task start with priorities and parameters, end
// and query, the task state text that restarts a thread where it was, and hostile states.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "script/nametree.h"
#include "script/task.h"
#include "script/threads.h"
#include "script/vars.h"
#include "tests/script/script_fixture.h"

namespace {

const char* const kMessages =
    "message 101293 \"E101293 %s %s\"\n"
    "message 101400 \"E101400 %s %s\"\n"
    "message 101420 \"E101420 %s\"\n"
    "message 101300 \"E101300 %s %s %s\"\n"
    "message 102130 \"E102130 %s %s\"\n"
    "message 108120 \"E108120\"\n"
    "message 900000 \"E900000\"\n";

class ThreadsTest : public ScriptTest {
 protected:
  bool BootListing(const std::string& listing) { return Boot(std::string(kMessages) + listing); }
  // A task started from here, as the start command would, without a listing line for it.
  NameNode* StartTask(const char* name, const char* label) {
    NameNode* node = CreateTreeNode(g_TaskRoot, name, false, 1);
    ScriptTask* task = node ? AttachTaskRecord(node) : nullptr;
    int32_t index = FindLabel(label, strlen(label));
    if (!task || index < 0 || !SwitchTaskFile(task, g_Labels.mRecords[index].mScriptFile)) return nullptr;
    task->mCommandIndex = g_Labels.mRecords[index].mPosition;
    return node;
  }
  ScriptTask* Task(const char* name) {
    NameNode* node = FindNodeByPath(g_TaskRoot, name, NAME_LOOKUP_LEAF);
    return node ? static_cast<ScriptTask*>(node->mPayload) : nullptr;
  }
};

TEST_F(ThreadsTest, StartSetsPrioritiesAndParameters) {
  ASSERT_TRUE(BootListing(R"(
global int p[5] = 0
file main.txt
*SYSTEM_START
taskstart name="A" label="WORKER"
taskstart name="B" label="WORKER" priority+=5 i3=42 r2=7
taskquery name="A" out=p[0] priority=1
taskquery name="B" out=p[1] priority=1
taskstart name="C" label="WORKER" priority=3
taskstart name="C" priority-=10
taskquery name="C" out=p[2] priority=1
taskstart name="D" label="WORKER" priority=3
taskstart name="D" priority/=0
taskquery name="D" out=p[3] priority=1
taskstart name="D" priority*=2 again=1
taskquery name="D" out=p[4] priority=1
wait frames=1000
*WORKER
wait frames=1000
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  const int64_t expected[] = {1, 6, 1, 3, 12};
  for (int k = 0; k < 5; k++) EXPECT_EQ(Int("p", k), expected[k]) << k;
  ScriptTask* b = Task("B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->mIntParams[3], 42);
  EXPECT_DOUBLE_EQ(b->mRealParams[2], 7.0);
  EXPECT_EQ(g_ExtraPassRequest, 1);
}

TEST_F(ThreadsTest, EndedTaskStopsRunningAndQueriesAsMissing) {
  ASSERT_TRUE(BootListing(R"(
global int count = 0
global int mark = 0
global int q[3] = 9
file main.txt
*SYSTEM_START
wait frames=3
taskquery name="W" out=q[0] exists=1
taskend name="W"
taskquery name="W" out=q[1] exists=1
taskquery name="W" out=q[2] line=1
mark = count
wait frames=1000
*WORKER
count += 1
wait frames=1
jump WORKER
)"));
  NameNode* worker = StartTask("W", "WORKER");
  ASSERT_NE(worker, nullptr);
  RunPasses(8);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_GT(Int("mark"), 0);
  EXPECT_EQ(Int("count"), Int("mark"));
  EXPECT_EQ(Int("q", 0), 1);
  EXPECT_EQ(Int("q", 1), 0);
  EXPECT_EQ(Int("q", 2), 0);
}

// A game that starts and ends helper tasks all the time must not keep their memory: the
// leak check of the test build fails this test if an ended task is never freed, and the
// address check fails it if one is freed while a pass still stands on it.
TEST_F(ThreadsTest, EndedTasksAreFreedAfterThePass) {
  ASSERT_TRUE(BootListing(R"(
global int started = 0
global int ran = 0
file main.txt
*SYSTEM_START
loop 40
  taskstart name="H" label="HELPER"
  started += 1
  wait frames=2
  taskend name="H"
endloop
taskstart name="S" label="SELF"
wait frames=2
wait frames=1000
*HELPER
ran += 1
wait frames=1000
*SELF
ran += 100
taskend
)"));
  RunPasses(130);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("started"), 40);
  EXPECT_EQ(Int("ran"), 140);
  EXPECT_EQ(Task("H"), nullptr);
  EXPECT_EQ(Task("S"), nullptr);
}

TEST_F(ThreadsTest, RefusedStartsAndEnds) {
  struct Case {
    const char* command;
    int message;
  };
  const Case cases[] = {
      {"taskend name=\"SYSTEM\"", 101420},
      {"taskend", 101420},
      {"taskend name=\"nope\"", 101400},
      {"taskstart name=\"nope\"", 101400},
      {"taskstart name=\"group/\" label=\"WORKER\"", 101293},
      {"taskstart name=\"X\" label=\"NOLABEL\"", 108180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ClearMessage();
    ASSERT_TRUE(BootListing(std::string("file main.txt\n*SYSTEM_START\n") + c.command +
                            "\nwait frames=1000\n*WORKER\nwait frames=1000\n"));
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message);
  }
}

TEST_F(ThreadsTest, StateTextRestartsAThreadInsideItsBlocksLoopsAndCalls) {
  ASSERT_TRUE(BootListing(R"(
global int steps = 0
global int trace = 0
global int before[3] = 0
global int after[3] = 0
global str saved = ""
file main.txt
*SYSTEM_START
wait frames=2
taskquery name="T" out=saved state=1
taskquery name="T" out=before[0] blocks=1
taskquery name="T" out=before[1] calls=1
taskquery name="T" out=before[2] loops=1
taskend name="T"
taskstart name="U" label="PARKED" state=saved
taskquery name="U" out=after[0] blocks=1
taskquery name="U" out=after[1] calls=1
taskquery name="U" out=after[2] loops=1
wait frames=1000
*PARKED
wait frames=1000
file worker.txt
*WORKER
if 1
  loop 3
    call SUB
    trace += 1
  endloop
endif
wait frames=1000
*SUB
loop 2
  steps += 1
  wait frames=1
endloop
return
)"));
  NameNode* first = StartTask("T", "WORKER");
  ASSERT_NE(first, nullptr);
  RunPasses(12);
  EXPECT_EQ(ShownMessage(), 0);
  const int64_t depths[] = {1, 1, 2};
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(Int("before", k), depths[k]) << k;
    EXPECT_EQ(Int("after", k), depths[k]) << k;
  }
  // One step ran in T; U took over inside the subroutine's loop and finished the work.
  EXPECT_EQ(Int("steps"), 6);
  EXPECT_EQ(Int("trace"), 3);
  ScriptTask* u = Task("U");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->mBlockDepth, 0);
  EXPECT_EQ(u->mCallDepth, 0);
  EXPECT_EQ(u->mLoopDepth, 0);
}

// Commands by index: 0 wait, 1 if (block end 7), 2 loop (end 4), 3 wait, 4 end-loop, 5 else,
// 6 wait, 7 end-if, 8 wait, 9 call, 10 wait, 11 return.
const char* const kStructures = R"(
file main.txt
*SYSTEM_START
wait frames=1
if 1
  loop -1
    wait frames=1
  endloop
else
  wait frames=1
endif
wait frames=1
call SUB
wait frames=1
*SUB
return
)";

class TaskStateTest : public ThreadsTest {
 protected:
  void SetUp() override {
    ThreadsTest::SetUp();
    ASSERT_TRUE(BootListing(kStructures));
    task_ = SystemTask();
    ASSERT_NE(task_, nullptr);
  }
  std::string Encode(const ScriptTask* task) {
    char buffer[TASK_STATE_MAX_BYTES];
    int32_t n = EncodeTaskState(buffer, sizeof buffer, task);
    return n < 0 ? std::string() : std::string(buffer, (size_t)n);
  }
  ScriptTask* task_ = nullptr;
};

TEST_F(TaskStateTest, EncodingHasTheDocumentedLengthAndSurvivesDecoding) {
  task_->mBlockDepth = 1;
  task_->mBlocks[0]->mLoopDepth = 1;
  task_->mBlocks[0]->mOpener = 1;
  task_->mBlocks[0]->mEnd = 7;
  task_->mLoopDepth = 1;
  task_->mLoops[0]->mStart = 3;
  task_->mLoops[0]->mEnd = 4;
  task_->mLoops[0]->mLimit = -1;
  task_->mLoops[0]->mCounter = int64_t(1) << 31;
  task_->mMessageMark1 = 0xDEADBEEF;
  task_->mCommandIndex = 2;
  std::string state = Encode(task_);
  // 8 + 2 + 18 + 2 + 2 + 34 + 24 + the 8 bytes of "main.txt".
  EXPECT_EQ(state.size(), 98u);
  ScriptTask copy{};
  ASSERT_EQ(DecodeTaskState(state.data(), state.size(), &copy), 98);
  EXPECT_EQ(copy.mBlockDepth, 1);
  EXPECT_EQ(copy.mBlocks[0]->mEnd, 7);
  EXPECT_EQ(copy.mLoopDepth, 1);
  EXPECT_EQ(copy.mLoops[0]->mLimit, -1);
  EXPECT_EQ(copy.mLoops[0]->mCounter, INT32_MIN);   // only the low 32 bits are kept
  EXPECT_EQ(copy.mMessageMark1, 0xDEADBEEFu);
  EXPECT_EQ(copy.mCommandIndex, 2);
  EXPECT_EQ(copy.mScriptFile, task_->mScriptFile);
  for (int d = 0; d < TASK_STACK_SLOTS; d++) {
    free(copy.mBlocks[d]);
    free(copy.mFrames[d]);
    free(copy.mLoops[d]);
  }
}

TEST_F(TaskStateTest, HostileStatesAreRefusedAndLeaveTheTaskAlone) {
  task_->mCommandIndex = 1;
  const std::string good = Encode(task_);
  ASSERT_EQ(good.size(), 8u + 2 + 2 + 2 + 24 + 8);
  auto withLetters = [&](size_t at, const char* letters) {
    std::string s = good;
    s.replace(at, strlen(letters), letters);
    return s;
  };
  const size_t tail = 8 + 2 + 2 + 2;   // mark, command index, name length follow the depths
  struct Case {
    const char* what;
    std::string state;
    int message;
  };
  const Case cases[] = {
      {"no magic", "\x01\x02\x04" + good.substr(3), 900000},
      {"empty", "", 900000},
      {"block depth 64", withLetters(8, "ea"), 900000},
      {"call depth 255", withLetters(10, "pp"), 900000},
      {"loop depth 64 with no records", withLetters(12, "ea"), 900000},
      {"cut inside the name", good.substr(0, good.size() - 1), 900000},
      {"name length past the text", withLetters(tail + 16, "pppppppp"), 900000},
      {"command index past the file", withLetters(tail + 8, "aaaaaapp"), 900000},
      {"negative command index", withLetters(tail + 8, "pppppppp"), 900000},
      {"unknown script file", good.substr(0, good.size() - 8) + "nothere!", 102130},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearMessage();
    EXPECT_EQ(DecodeTaskState(c.state.data(), c.state.size(), task_), 0);
    EXPECT_EQ(ShownMessage(), c.message);
    EXPECT_EQ(task_->mCommandIndex, 1);
    EXPECT_EQ(task_->mBlockDepth, 0);
    EXPECT_EQ(task_->mCallDepth, 0);
    EXPECT_EQ(task_->mLoopDepth, 0);
  }
  ClearMessage();
  EXPECT_EQ(DecodeTaskState(good.data(), good.size(), task_), (int32_t)good.size());
  EXPECT_EQ(ShownMessage(), 0);
}

// A state is bounded, not second-guessed: the task resumes at a command of its file (or at its
// end, where a task stands whose last command yielded), each return lands inside its caller's
// file, and the depths stay within the stacks. Block and loop records are taken as they stand,
// since a jump into a block or loop keeps whatever record its depth had and a return leaves
// records that point into the file it came from; the block and loop commands stop a task
// whose record leads anywhere but to their own kind of command.
TEST_F(TaskStateTest, StatePositionsAreBoundedByTheirFilesAndRecordsAreTakenAsTheyStand) {
  struct Case {
    const char* what;
    int32_t command, opener, end, loopStart, loopEnd, returnTo;
    uint16_t caller;     // 0: the file of the task; else a file number the list does not hold
    int64_t counter, limit;
    bool accepted;
  } cases[] = {
      {"in the loop, inside a call", 3, 1, 7, 3, 4, 10, 0, 2, -1, true},
      {"a counted loop", 3, 1, 7, 3, 4, 10, 0, 2, 5, true},
      {"records a jump into a block and a loop left at zero", 3, 0, 0, 0, 0, 10, 0, 0, 0, true},
      {"a block end at the else resumed at", 5, 1, 5, 3, 4, 10, 0, 1, -1, true},
      {"a block end at a plain command", 3, 1, 6, 3, 4, 10, 0, 1, -1, true},
      {"records from another file, past this one's end", 3, 900, 950, 920, 940, 10, 0, 1, 7, true},
      {"a counter below zero (a count past 2^31 keeps its low 32 bits)", 3, 1, 7, 3, 4, 10, 0, -5, 5, true},
      {"a return that lands after no call", 3, 1, 7, 3, 4, 9, 0, 1, -1, true},
      {"resume at the end of the file", 12, 1, 7, 3, 4, 10, 0, 1, -1, true},
      {"return to the end of the file", 3, 1, 7, 3, 4, 12, 0, 1, -1, true},
      {"resume past the end of the file", 13, 1, 7, 3, 4, 10, 0, 1, -1, false},
      {"resume before the first command", -1, 1, 7, 3, 4, 10, 0, 1, -1, false},
      {"return past the end of the caller's file", 3, 1, 7, 3, 4, 13, 0, 1, -1, false},
      {"return to a negative position", 3, 1, 7, 3, 4, -2, 0, 1, -1, false},
      {"return into a file the list does not hold", 3, 1, 7, 3, 4, 10, 9999, 1, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptTask source = *task_;
    BlockRecord block{1, c.opener, c.end};
    LoopRecord loop{1, c.loopStart, c.loopEnd, c.counter, c.limit};
    CallFrame frame{};
    frame.mReturnPosition = c.returnTo;
    frame.mScriptFile = c.caller ? c.caller : task_->mScriptFile;
    source.mBlockDepth = 1;
    source.mBlocks[0] = &block;
    source.mLoopDepth = 1;
    source.mLoops[0] = &loop;
    source.mCallDepth = 1;
    source.mFrames[0] = &frame;
    source.mCommandIndex = c.command;
    std::string state = Encode(&source);
    ASSERT_FALSE(state.empty());
    ClearMessage();
    task_->mBlockDepth = task_->mLoopDepth = task_->mCallDepth = 0;
    int32_t used = DecodeTaskState(state.data(), state.size(), task_);
    EXPECT_EQ(used, c.accepted ? (int32_t)state.size() : 0);
    EXPECT_EQ(ShownMessage(), c.accepted ? 0 : 900000);
    EXPECT_EQ(task_->mBlockDepth, c.accepted ? 1 : 0);
    if (!c.accepted) continue;
    EXPECT_EQ(task_->mBlocks[0]->mEnd, c.end);
    EXPECT_EQ(task_->mLoops[0]->mStart, c.loopStart);
    EXPECT_EQ(task_->mLoops[0]->mCounter, c.counter);
    EXPECT_EQ(task_->mFrames[0]->mReturnPosition, c.returnTo);
    EXPECT_EQ(task_->mCommandIndex, c.command);
  }
}

// A restored record a block or loop command leaves by, pointing anywhere but where its kind of
// command stands, stops the task with a message instead of circling for ever without a wait.
TEST_F(TaskStateTest, LeavingByARecordThatPointsElsewhereStopsTheTask) {
  struct Case {
    const char* what;
    int32_t command;     // else (5) or end-loop (4)
    BlockRecord block;
    LoopRecord loop;
    int message;
  } cases[] = {
      {"else to a block end at itself", 5, {0, 1, 5}, {0, 3, 4, 1, -1}, 101300},
      {"end-loop to a start after no loop", 4, {0, 1, 7}, {1, 4, 4, 1, -1}, 108120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearMessage();
    ASSERT_NE(task_->mBlocks[0], nullptr);
    ASSERT_NE(task_->mLoops[0], nullptr);
    *task_->mBlocks[0] = c.block;
    *task_->mLoops[0] = c.loop;
    task_->mBlockDepth = 1;
    task_->mLoopDepth = 1;
    task_->mCommandIndex = c.command;
    task_->mWaitFrames = 0;
    RunPasses(1);
    EXPECT_EQ(ShownMessage(), c.message);
  }
}

// Worker scripts that wait at every kind of place a task can stand: in loops and blocks entered
// by a jump, after a return from inside a loop of another file, at the bottom of 63 nested
// calls, part-way through counted loops. Each logs what it does and ends at DONE with its depths.
const char* const kWorkers = R"(
global str log = ""
global str saved = ""
global int done = 0
global int lc@48 = 0
global int depth = 0
global int tries = 0
global int qb = 0
global int qc = 0
global int ql = 0
file w1.txt
*A_START
log = log + "a"
jump A_IN
loop 3
  log = log + "x"
*A_IN
  log = log + "b" + str(lc)
  wait frames=1
  log = log + "c"
endloop
log = log + "d"
jump DONE
*B_START
jump B_IN
if 0
  log = log + "x"
*B_IN
  log = log + "b"
  wait frames=1
  log = log + "c"
endif
log = log + "d"
jump DONE
*I_START
jump I_IN
loop 2
  if 1
    log = log + "x"
*I_IN
    log = log + "y" + str(lc)
    wait frames=1
  endif
endloop
log = log + "z"
jump DONE
*C_START
loop 4
  log = log + "o" + str(lc)
  wait frames=1
  if lc == 2
    jump C_OUT
  endif
*C_BACK
  log = log + "k"
endloop
log = log + "e"
jump DONE
*C_OUT
log = log + "p"
jump C_BACK
*D_START
log = log + "s"
call D_SUB
log = log + "r" + str(lc)
wait frames=1
log = log + "t"
loop 2
  log = log + "u" + str(lc)
  wait frames=1
endloop
jump DONE
*E_START
depth = 0
call E_DEEP
log = log + "e" + str(depth)
jump DONE
*E_DEEP
depth += 1
jump ("E_STEP" + str(depth < 63))
*E_STEP1
call E_DEEP
jump ("E_BACK" + str(depth % 21 == 0))
*E_STEP0
log = log + "z" + str(depth)
wait frames=1
jump ("E_BACK" + str(depth % 21 == 0))
*E_BACK1
log = log + "w" + str(depth)
wait frames=1
*E_BACK0
depth -= 1
return
*F_START
loop 3
  loop 2
    log = log + str(lc)
    wait frames=1
    if lc == 1
      continue
    endif
    log = log + "n"
  endloop
  log = log + "m" + str(lc)
endloop
loop -1
  log = log + "q" + str(lc)
  wait frames=1
  if lc >= 3
    break
  endif
endloop
log = log + "f"
jump DONE
*G_START
tries = 0
if 1
  tries += 1
  log = log + "g" + str(tries)
  wait frames=1
  if tries < 3
    repeatblock 2
  endif
  log = log + "h"
endif
log = log + "i"
jump DONE
*H_START
loop 2
  if 1
    call H_SUB
    log = log + "h" + str(lc)
  endif
endloop
log = log + "j"
jump DONE
*J_START
if 1
  call J_SUB
  log = log + "k"
endif
log = log + "l"
jump DONE
*DONE
taskquery out=qb blocks=1
taskquery out=qc calls=1
taskquery out=ql loops=1
log = log + "|" + str(qb) + str(qc) + str(ql)
done = 1
*DONE_PARK
wait frames=100000
jump DONE_PARK
file w2.txt
*D_SUB
loop 5
  log = log + "v" + str(lc)
  wait frames=1
  if lc == 3
    return
  endif
endloop
return
*H_SUB
loop 2
  log = log + "i" + str(lc)
  wait frames=1
endloop
return
*J_SUB
jump J_IN
loop 3
  log = log + "x"
*J_IN
  log = log + "j" + str(lc)
  wait frames=1
endloop
return
)";

// The main task starts the worker "T"; with a delay it takes T's state after that many passes,
// ends T and starts "U" from the state.
std::string WorkerGame(const char* label, int delay) {
  std::string main = std::string("file main.txt\n*SYSTEM_START\ntaskstart name=\"T\" label=\"") + label + "\"\n";
  if (delay > 0)
    main += "wait frames=" + std::to_string(delay) +
            "\ntaskquery name=\"T\" out=saved state=1\ntaskend name=\"T\"\n"
            "taskstart name=\"U\" label=\"PARKED\" state=saved\n";
  main += "wait frames=100000\n*PARKED\nwait frames=100000\n";
  return std::string(kWorkers) + main;
}

TEST_F(ThreadsTest, StatesTakenAnywhereResumeAsTheTaskWouldHaveGoneOn) {
  struct Case {
    const char* what;
    const char* label;
    const char* log;   // what the worker logs when nothing interrupts it
  } cases[] = {
      {"a loop body entered by a jump (its record still at zero)", "A_START", "ab0cd|000"},
      {"an if block entered by a jump", "B_START", "bcd|000"},
      {"a block inside a loop, both entered by a jump", "I_START", "y0z|000"},
      {"a loop left by a jump and entered again part-way", "C_START", "o1ko2pko3ko4ke|000"},
      {"after a return from inside a loop and a block of another file", "D_START", "sv1v2v3r3tu1u2|000"},
      {"63 nested calls deep", "E_START", "z63w63w42w21e0|000"},
      {"counted loops part-way, continue and break", "F_START", "12nm112nm212nm3q1q2q3f|000"},
      {"a block repeated from an inner block", "G_START", "g1g2g3hi|000"},
      {"a call from a loop and a block into a loop of another file", "H_START", "i1i2h1i1i2h2j|000"},
      {"a jump inside a subroutine into a loop of its file", "J_START", "j0kl|000"},
  };
  constexpr int kMostPasses = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The task that runs on undisturbed, and how many passes it takes.
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
    ClearMessage();
    ASSERT_TRUE(BootListing(WorkerGame(c.label, 0)));
    int passes = 0;
    while (Int("done") == 0 && passes < kMostPasses) RunPasses(1), passes++;
    EXPECT_STREQ(LastErrorDialogText(), "");
    EXPECT_EQ(Text("log"), c.log);
    // The same work interrupted after every pass: the state text carries it on in a new task.
    for (int delay = 1; delay <= passes + 1; delay++) {
      SCOPED_TRACE("state taken after " + std::to_string(delay) + " passes");
      ASSERT_TRUE(ResetScriptEngine(folder_.path()));
      ClearMessage();
      ASSERT_TRUE(BootListing(WorkerGame(c.label, delay)));
      for (int k = 0; k < kMostPasses && (Int("done") == 0 || k <= delay) && !g_QuitFlag; k++) RunPasses(1);
      EXPECT_STREQ(LastErrorDialogText(), "");
      EXPECT_FALSE(Text("saved").empty());
      EXPECT_EQ(Text("log"), c.log);
      EXPECT_EQ(Task("T"), nullptr);
      EXPECT_NE(Task("U"), nullptr);
    }
  }
}

}  // namespace
