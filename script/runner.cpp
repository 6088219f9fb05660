// The task runner: task records, passes over the task tree, the turn loop that calls command
// handlers, and the decoding of command arguments into the argument slots.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>


#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/fused.h"
#include "script/nametree.h"
#include "script/operators_local.h"
#include "script/task.h"
#include "script/vars.h"

ScriptTask* g_CurrentTask;
NameNode* g_CurrentTaskNode;

namespace {

// Tasks taken out of the tree, kept until the running pass has left them.
std::vector<NameNode*> g_EndedTasks;
int g_TaskPassDepth;

}  // namespace
int32_t g_CurrentCommand;
int g_LastYield;

uint8_t g_ParamSlot[MAX_COMMAND_PARAMS];
uint8_t g_ArgParamId[MAX_COMMAND_ARGS + 1];
uint8_t g_ArgKind[MAX_COMMAND_ARGS + 1];
uint8_t g_ArgOperator[MAX_COMMAND_ARGS + 1];
uint32_t g_ArgExprLength[MAX_COMMAND_ARGS + 1];
uint32_t g_ArgExprOffset[MAX_COMMAND_ARGS + 1];
int64_t g_ArgInteger[MAX_COMMAND_ARGS + 1];
char* g_ArgString[MAX_COMMAND_ARGS + 1];
const uint8_t* g_ArgCode[MAX_COMMAND_ARGS + 1];
int32_t g_ArgReference[MAX_COMMAND_ARGS + 1];
int64_t g_ArgRefElement[MAX_COMMAND_ARGS + 1];
uint8_t g_ArgRefFlag[MAX_COMMAND_ARGS + 1];
uint8_t g_CurrentArgCount;
uint64_t g_DebugCommandCounter;
uint8_t g_DebugCornerBits;

namespace {

constexpr int32_t MSG_NO_MEMORY = 100010;

struct CheckRange {
  int32_t min, max;
};
// Ranges of check kinds 3-23.
constexpr CheckRange kCheckRanges[] = {
    {0, 1},   {0, 2},    {0, 3},    {1, 3},    {0, 4},    {0, 8},     {1, 8},
    {0, 15},  {0, 18},   {0, 256},  {1, 256},  {0, 512},  {0, 1024},  {1, 1024},
    {128, 1024}, {0, 2048}, {1, 2048}, {0, 8192}, {1, 8192}, {16, 8192}, {128, 8192},
};

int32_t MainWindowSize(bool height) {
  const WindowRecord* main = g_WindowRecords[0];
  return main ? (height ? main->mHeight : main->mWidth) : 0;
}

}  // namespace

uint8_t g_GivenParamIds[MAX_COMMAND_ARGS];
int g_GivenParamCount;

bool ArgumentCheckPasses(uint8_t kind, int64_t value) {
  uint32_t low = (uint32_t)value;
  switch (kind) {
    case 0: return true;
    case 1:
    case 2: return value >= kind - 1;
    case 24: return low + 1u <= 0x1000000u;
    case 25: return low <= 0xFFFFFFu;
    case 26:
    case 27: return low <= (uint32_t)(MainWindowSize(kind == 27) - 1);
    case 28: return value >= 0 && value <= 3;
    default: {
      if (kind < 3 || kind > 23) return true;
      CheckRange r = kCheckRanges[kind - 3];
      return low - (uint32_t)r.min <= (uint32_t)(r.max - r.min);
    }
  }
}

const uint8_t* ArgumentCode(const CommandArgument& a) {
  const ScriptTask* task = g_CurrentTask;
  uint64_t end = (uint64_t)a.mExprOffset + a.mExprLength;
  return task->mExpressions && end <= task->mExpressionSize ? task->mExpressions + a.mExprOffset : nullptr;
}

namespace {

// Applies check kind `kind` of (command, parameter) to `value`; false after its message.
bool CheckArgument(int code, int id, uint8_t kind, int64_t value) {
  if (ArgumentCheckPasses(kind, value)) return true;
  const char* command = g_CommandDefs[code].mName ? g_CommandDefs[code].mName : "";
  const char* param = g_CommandDefs[code].mParamNames[id] ? g_CommandDefs[code].mParamNames[id] : "";
  long long shown = (long long)value;
  switch (kind) {
    case 1:
    case 2: ReportScriptErrorF(101010, 1, command, param, shown, kind - 1); break;
    case 24: ReportScriptErrorF(101020, 1, command, param, shown); break;
    case 25: ReportScriptErrorF(101030, 1, command, param, shown); break;
    case 26:
    case 27: {
      int32_t size = MainWindowSize(kind == 27);
      ReportScriptErrorF(101000, 1, command, param, shown, 0, size - 1);
      break;
    }
    case 28:
      if (value < 0) ReportScriptErrorF(101220, 1, command, param, shown);
      else ReportScriptErrorF(101210, 1, command, param, shown, 3);
      break;
    default: {
      CheckRange r = kCheckRanges[kind - 3];
      ReportScriptErrorF(101000, 1, command, param, shown, r.min, r.max);
      break;
    }
  }
  return false;
}

int BadKind() {
  ReportScriptError(MSG_BROKEN_COMMAND, 1);
  return 0;
}

int Decode(int code, bool callVariant) {
  WritePendingSlots();
  ClearParamSlots();
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  g_CurrentArgCount = count;
  if (code < 0 || code >= COMMAND_COUNT) return -1;
  const CommandDef& def = g_CommandDefs[code];
  for (int p = 1; p <= count; p++) {
    const CommandArgument& a = args[p - 1];
    uint8_t id = a.mParamId;
    // Linking refused records beyond their command's parameters; a handler that decodes with
    // another command's code is checked here too.
    if (id >= def.mParamCount) {
      ReportScriptError(MSG_BROKEN_COMMAND, 1);
      return -1;
    }
    FillArgumentSlot(p, a);
    uint8_t type = def.mValueTypes[id];
    if (type == VALUE_INTEGER) {
      g_ArgInteger[p] = EvalArgumentInt(&a);
      g_ArgReference[p] = g_RefVariable;
      g_ArgRefElement[p] = g_RefElement;
      g_ArgRefFlag[p] = g_RefBare;
    } else if (type == VALUE_STRING) {
      if (!g_ArgString[p]) {
        g_ArgString[p] = static_cast<char*>(malloc(TEXT_VALUE_BYTES));
        if (!g_ArgString[p]) {
          ReportScriptError(MSG_NO_MEMORY, 1);
          return -1;
        }
        g_ArgString[p][0] = 0;
      }
      EvalArgumentString(&a, g_ArgString[p], TEXT_VALUE_BYTES, callVariant);
      g_ArgReference[p] = g_RefVariable;
      g_ArgRefElement[p] = g_RefElement;
      g_ArgRefFlag[p] = g_RefBare;
    } else {
      // Code is evaluated (and checked) by the handler; some records only carry a position.
      g_ArgCode[p] = ArgumentCode(a);
    }
    if (!CheckArgument(code, id, def.mCheckKinds[id], g_ArgInteger[p])) return -1;
  }
  return 0;
}

// The debug escape: a pointer that has visited the four corners of the desktop, seen once every
// 1024 commands, offers to end the run.
void CheckDebugCorners() {
  if (++g_DebugCommandCounter % 1024 != 0) return;
  int x, y;
  if (!g_Platform->GetCursorPosition(&x, &y)) return;
  int32_t w = g_DesktopSize.width, h = g_DesktopSize.height;
  if (x <= 8 && y <= 8) g_DebugCornerBits |= 1;
  else if (x <= 8 && y >= h - 9) g_DebugCornerBits |= 2;
  else if (x >= w - 9 && y <= 8) g_DebugCornerBits |= 4;
  else if (x >= w - 9 && y >= h - 9) g_DebugCornerBits |= 8;
  if (g_DebugCornerBits != 15) return;
  g_DebugCornerBits = 0;
  if (PlatMessageBox("[デバッグ機能]", "マウスによる画面四隅への移動を検出しました。\n\n強制的に終了します。よろしいですか？",
                     PLAT_MB_YESNO) == PLAT_ID_YES)
    g_QuitFlag = 1;
}

// One turn of a task: commands run until a handler ends the turn or the quit flag rises. Fused
// code runs whenever it may; the plain loop takes the commands it hands back one at a time.
void RunTurn(ScriptTask* task) {
  int yield = 0;
  uint32_t steps = 0;
  while (!g_QuitFlag && yield == 0) {
    if (task->mFused && FusedTurnAllowed()) {
      yield = RunFusedCommands(task, &steps);
      if (yield != 0 || g_QuitFlag) break;
    }
    int32_t i = task->mCommandIndex;
    if (i < 0 || i >= task->mCommandCount || !task->mHandlers) {
      // Running off the end of a file (or a file that never linked) would read past its arrays.
      g_CurrentCommand = i >= 0 && i < task->mCommandCount ? i : 0;
      ReportScriptError(MSG_SCRIPT_ENDED, 1);
      yield = -1;
      break;
    }
    task->mCommandIndex = i + 1;
    g_CurrentCommand = i;
    if (!g_KeepRunningInactive && g_InactivePause && PausePump() != 0) {
      task->mCommandIndex = i;
      yield = 1;
      break;
    }
    yield = task->mHandlers[i]();
    if (g_DebugMode) CheckDebugCorners();
    // A turn this long is a loop without a wait: let the window be answered now and then.
    if (++steps >= LONG_TURN_STEPS && (steps & (LONG_TURN_POLL_STEPS - 1)) == 0) AnswerWindowDuringLongTurn();
  }
  g_LastYield = yield;
}

}  // namespace

bool ArgumentExpression(const CommandArgument* a, const uint8_t** expr, uint32_t* length) {
  const ScriptTask* task = g_CurrentTask;
  uint64_t end = (uint64_t)a->mExprOffset + a->mExprLength;
  if (!task || !task->mExpressions || end > task->mExpressionSize) {
    *expr = reinterpret_cast<const uint8_t*>("");
    *length = 0;
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return false;
  }
  *expr = task->mExpressions + a->mExprOffset;
  *length = a->mExprLength;
  return true;
}

int64_t EvalArgumentIntBytes(const CommandArgument* a) {
  const uint8_t* expr;
  uint32_t length;
  if (a->mKind < 1 || a->mKind > 4) return BadKind();
  if (!ArgumentExpression(a, &expr, &length)) return 0;
  return g_IntEvaluators[a->mKind](expr, length);
}

double EvalArgumentReal(const CommandArgument* a, int offset) {
  const uint8_t* expr;
  uint32_t length;
  int64_t value;
  if (a->mProgram && (a->mKind == 1 || a->mKind == 3) && g_RealEvaluators[a->mKind + offset] == EvalIntegerExprToReal &&
      RunArgumentProgram(a->mProgram, &value))
    return (double)value;
  if (a->mKind < 1 || a->mKind > 4) return BadKind();
  if (!ArgumentExpression(a, &expr, &length)) return 0.0;
  return g_RealEvaluators[a->mKind + offset](expr, length);
}

int32_t EvalArgumentString(const CommandArgument* a, char* buffer, size_t size, bool entry3) {
  const uint8_t* expr;
  uint32_t length;
  int kind = entry3 ? 3 : a->mKind;
  if (kind < 1 || kind > 4) return BadKind();
  if (!ArgumentExpression(a, &expr, &length)) return 0;
  return g_StringEvaluators[kind](buffer, size, expr, length);
}

CommandArgument* CurrentArguments(uint8_t* count) {
  ScriptTask* task = g_CurrentTask;
  int32_t i = g_CurrentCommand;
  if (!task || !task->mArgCounts || i < 0 || i >= task->mCommandCount) {
    *count = 0;
    return nullptr;
  }
  *count = task->mArgCounts[i];
  return task->mArgRecords[i];
}

bool g_SlotsPending;
bool g_PendingCommand;
const CommandArgument* g_PendingRecords;
uint8_t g_PendingRecordCount;
const CommandArgument* g_PendingRecord[MAX_COMMAND_ARGS + 1];
const uint8_t* g_PendingCode[MAX_COMMAND_ARGS + 1];
const char* g_PendingText[MAX_COMMAND_ARGS + 1];
uint32_t g_PendingTextLength[MAX_COMMAND_ARGS + 1];
int g_PendingTop;

void WritePendingSlots() {
  if (!g_SlotsPending) return;
  g_SlotsPending = false;
  for (int p = 1; p <= g_PendingTop; p++) {
    if (const CommandArgument* a = g_PendingRecord[p]) {
      g_ArgParamId[p] = a->mParamId;
      g_ArgKind[p] = a->mKind;
      g_ArgOperator[p] = a->mOperator;
      g_ArgExprLength[p] = a->mExprLength;
      g_ArgExprOffset[p] = a->mExprOffset;
      g_ArgCode[p] = g_PendingCode[p];
      g_PendingRecord[p] = nullptr;
    }
    if (const char* text = g_PendingText[p]) {
      // As the text evaluator copies a result: cut to fit.
      size_t n = FittingLength(text, g_PendingTextLength[p], TEXT_VALUE_BYTES - 1);
      memcpy(g_ArgString[p], text, n);
      g_ArgString[p][n] = 0;
      g_PendingText[p] = nullptr;
    }
  }
  g_PendingTop = 0;
  // The table of positions is the last decode's alone. A decode that was left to its handler
  // part of the way has noted no command: the handler's own decode sets the table.
  if (!g_PendingCommand) return;
  g_PendingCommand = false;
  ClearParamSlots();
  for (int p = 1; p <= g_PendingRecordCount; p++) {
    uint8_t id = g_PendingRecords[p - 1].mParamId;
    g_GivenParamIds[g_GivenParamCount++] = id;
    g_ParamSlot[id] = (uint8_t)p;
  }
  g_CurrentArgCount = g_PendingRecordCount;
}

int DecodeCommandArguments(int code) { return Decode(code, false); }
int DecodeCallArguments(int code) { return Decode(code, true); }

int CmdReserved0() { return DecodeCommandArguments(0) != 0 ? -1 : 0; }

ScriptTask* AttachTaskRecord(NameNode* node) {
  if (!node) return nullptr;
  ScriptTask* task = static_cast<ScriptTask*>(calloc(1, sizeof(ScriptTask)));
  BlockRecord* block = static_cast<BlockRecord*>(calloc(1, sizeof(BlockRecord)));
  CallFrame* frame = static_cast<CallFrame*>(calloc(1, sizeof(CallFrame)));
  LoopRecord* loop = static_cast<LoopRecord*>(calloc(1, sizeof(LoopRecord)));
  if (!task || !block || !frame || !loop) {
    free(task);
    free(block);
    free(frame);
    free(loop);
    ReportError(MSG_NO_MEMORY, 1);
    return nullptr;
  }
  task->mBlocks[0] = block;
  task->mFrames[0] = frame;
  task->mLoops[0] = loop;
  task->mRunFlag1 = task->mRunFlag2 = 1;
  node->mPayload = task;
  return task;
}

void FreeTaskRecord(ScriptTask* task) {
  if (!task) return;
  for (int d = 0; d < TASK_STACK_SLOTS; d++) {
    free(task->mBlocks[d]);
    free(task->mLoops[d]);
    if (CallFrame* f = task->mFrames[d]) {
      for (int k = 0; k < CALL_VALUE_SLOTS; k++) {
        free(f->mTextArgs[k]);
        free(f->mTextReturns[k]);
      }
      free(f);
    }
  }
  free(task);
}

void FreeTaskTree(NameNode* node) {
  if (!node) return;
  for (NameNode* c = node->mFirstChild; c;) {
    NameNode* next = c->mNext;
    FreeTaskTree(c);
    c = next;
  }
  FreeTaskRecord(static_cast<ScriptTask*>(node->mPayload));
  FreeNodeShell(node);
}

void EndTaskNode(NameNode* node) {
  if (!node || !node->mParent) return;
  UnlinkNode(node);
  node->mParent = nullptr;
  node->mPrev = node->mNext = nullptr;
  g_EndedTasks.push_back(node);
}

void FreeEndedTasks() {
  for (NameNode* node : g_EndedTasks) FreeTaskTree(node);
  g_EndedTasks.clear();
}

void FreeAllTasks() {
  FreeEndedTasks();
  FreeTaskTree(g_TaskRoot);
  g_TaskRoot = nullptr;
  g_CurrentTask = nullptr;
  g_CurrentTaskNode = nullptr;
}

bool SwitchTaskFile(ScriptTask* task, int32_t n) {
  task->mScriptFile = (uint16_t)n;
  ScriptFileRecord* file = LoadScriptFile(n) == 1 && n >= 0 && n < g_ScriptFileCount ? g_ScriptFiles[n] : nullptr;
  if (!file || !file->mLinked) {
    task->mCommandCount = 0;
    task->mHandlers = nullptr;
    task->mCallCounts = nullptr;
    task->mArgCounts = nullptr;
    task->mArgRecords = nullptr;
    task->mExpressions = nullptr;
    task->mExpressionSize = 0;
    task->mLines = nullptr;
    task->mFused = nullptr;
    char name[32];
    snprintf(name, sizeof name, "kvbin\\kvt%05d.kbn", (int)(uint16_t)n);
    ReportErrorF(104060, 1, name);
    return false;
  }
  AttachTaskFile(task, n, file);
  return true;
}

int RunTaskChildren(NameNode* node) {
  // Child k from the child count down to 1, as it stands when its turn comes: tasks that end,
  // start or move during the pass shift the children after them, and the walk follows.
  ChildWalk walk;
  for (OpenChildWalk(&walk, node); walk.mIndex >= 1; StepChildWalk(&walk)) {
    NameNode* child = walk.mAt;
    if (!child || !child->mPayload) continue;
    ScriptTask* task = static_cast<ScriptTask*>(child->mPayload);
    if ((task->mRunFlag1 & task->mRunFlag2) == 0) continue;
    if (child->mIsGroup) {
      RunTaskChildren(child);
      continue;
    }
    g_CurrentTask = task;
    g_CurrentTaskNode = child;
    if (task->mPassStamp == g_ScriptPassCounter) continue;
    task->mPassStamp = g_ScriptPassCounter;
    AdvanceMessage(task);
    if (task->mWaitingForMessage) continue;
    if (task->mWaitFrames != 0) task->mWaitFrames = (int32_t)((uint32_t)task->mWaitFrames - 1u);
    if (task->mWaitUntil != 0 && (int32_t)(task->mWaitUntil - PlatGetTicks()) <= 0) task->mWaitUntil = 0;
    if (task->mWaitFrames != 0 || task->mWaitUntil != 0) continue;
    RunTurn(task);
    if (g_QuitFlag) break;
  }
  CloseChildWalk(&walk);
  return 0;
}

int RunScriptTasks() {
  if (!g_TaskRoot) return 0;
  g_TaskPassDepth++;
  RunTaskChildren(g_TaskRoot);
  g_TaskPassDepth--;
  g_CurrentTask = nullptr;
  g_CurrentTaskNode = nullptr;
  // Ended tasks are freed only once no pass can still be standing on one of them.
  if (g_TaskPassDepth == 0) FreeEndedTasks();
  return 0;
}

bool CurrentScriptLocation(const char** file, int32_t* line) {
  const ScriptTask* task = g_CurrentTask;
  if (!task || !g_ScriptFileNames || task->mScriptFile >= g_ScriptFileCount) return false;
  *file = g_ScriptFileNames[task->mScriptFile];
  *line = task->mLines && g_CurrentCommand >= 0 && g_CurrentCommand < task->mCommandCount
              ? (int32_t)task->mLines[g_CurrentCommand]
              : 1;
  return true;
}

int CreateTaskTreeRoot() {
  g_ScriptLocation = CurrentScriptLocation;
  if (!g_TaskRoot) {
    NameNode* root = AllocTreeRoot();
    if (!root) return -1;
    if (!AttachTaskRecord(root)) {
      FreeNodeShell(root);
      return -1;
    }
    g_TaskRoot = root;
  }
  g_TaskFolder[0] = 0;
  // The empty current folder makes a nameless group beside "SYSTEM".
  if (!FindNodeByPath(g_TaskRoot, "", NAME_LOOKUP_GROUP)) {
    NameNode* folder = CreateTreeNode(g_TaskRoot, "", true, 100);
    if (!folder || !AttachTaskRecord(folder)) return -1;
  }
  if (FindNodeByPath(g_TaskRoot, "SYSTEM", NAME_LOOKUP_LEAF)) return 0;
  NameNode* system = CreateTreeNode(g_TaskRoot, "SYSTEM", false, 100);
  ScriptTask* task = AttachTaskRecord(system);
  if (!task) return -1;
  task->mIsMain = 1;
  return 0;
}
