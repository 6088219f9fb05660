// Flow control: jumps, subroutine calls and returns, conditional blocks, loops, the label test
// and waits. Each task keeps a stack of blocks, loops and call frames of 63 open levels each.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/flow_local.h"
#include "script/nametree.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_ELSE_IF = 11;
constexpr int CMD_JUMP = 34;
constexpr int CMD_CALL = 35;
constexpr int CMD_IF = 36;
constexpr int CMD_BREAK_BLOCK = 38;
constexpr int CMD_REPEAT_BLOCK = 39;
constexpr int CMD_END_IF = 40;
constexpr int CMD_LABEL_EXISTS = 44;
constexpr int CMD_LOOP = 47;
constexpr int CMD_BREAK_LOOP = 48;
constexpr int CMD_CONTINUE_LOOP = 49;
constexpr int CMD_RETURN = 68;
constexpr int CMD_WAIT = 93;
constexpr int MAX_OPEN_LEVELS = TASK_STACK_SLOTS - 1;
constexpr size_t LABEL_TEXT_BYTES = 1024;

constexpr int32_t MSG_NO_MEMORY = 100010;
constexpr int32_t MSG_STRUCTURE = 101300;
constexpr int32_t MSG_TOO_DEEP = 101600;
constexpr int32_t MSG_LOOP_END = 108120;
constexpr int32_t MSG_MISSING_LABEL = 108180;
constexpr int32_t MSG_WRONG_TYPE = 101140;

const char* CommandName(int code) { return g_CommandDefs[code].mName ? g_CommandDefs[code].mName : ""; }

int TooDeep(int code) { return ReportTooDeep(code); }
int Structure(int a, int b, int c) { return ReportStructure(a, b, c); }
int MissingLabel(const char* text) { return ReportMissingLabel(text); }

// A position stored in a record's length field, as the command index it names.
inline int32_t PositionOf(const CommandArgument& a) { return (int32_t)a.mExprLength; }

// The flat element of a reference, or -1 when it cannot name an element.
inline int32_t ElementOf(int64_t element) {
  return element >= 0 && element <= INT32_MAX ? (int32_t)element : -1;
}

}  // namespace

int ReportTooDeep(int code) {
  ReportScriptErrorF(MSG_TOO_DEEP, 1, CommandName(code), CommandName(code), 64);
  return -1;
}

int ReportStructure(int a, int b, int c) {
  ReportScriptErrorF(MSG_STRUCTURE, 1, CommandName(a), CommandName(b), CommandName(c));
  return -1;
}

int ReportMissingLabel(const char* text) {
  ReportScriptErrorF(MSG_MISSING_LABEL, 1, text);
  return -1;
}

int ReportLoopEnd() {
  ReportScriptError(MSG_LOOP_END, 1);
  return -1;
}

int ReportNoStackMemory() {
  ReportScriptError(MSG_NO_MEMORY, 1);
  return -1;
}

int MakeCallFrame(ScriptTask* task) {
  int depth = task->mCallDepth;
  if (depth >= MAX_OPEN_LEVELS) return TooDeep(CMD_CALL);
  return EnsureRecord(&task->mFrames[depth + 1]) ? 0 : -1;
}

int ReturnFromDepthZero(ScriptTask* task) {
  if (task->mIsMain) return Structure(CMD_RETURN, CMD_RETURN, CMD_CALL);
  EndTaskNode(g_CurrentTaskNode);
  return -1;
}

bool CopyFrameString(char** slot, size_t* capacity, const char* text) {
  size_t length = text ? strlen(text) : 0;
  if (!*slot || *capacity < length + 1) {
    char* buffer = static_cast<char*>(realloc(*slot, length + 1));
    if (!buffer) {
      ReportScriptError(MSG_NO_MEMORY, 1);
      return false;
    }
    *slot = buffer;
    *capacity = length + 1;
  }
  memcpy(*slot, text ? text : "", length);
  (*slot)[length] = 0;
  return true;
}

bool EnsureTaskStacks(ScriptTask* task) {
  if (task->mBlockDepth > MAX_OPEN_LEVELS) {
    task->mBlockDepth = MAX_OPEN_LEVELS;
    TooDeep(CMD_IF);
    return false;
  }
  if (task->mLoopDepth > MAX_OPEN_LEVELS) {
    task->mLoopDepth = MAX_OPEN_LEVELS;
    TooDeep(CMD_LOOP);
    return false;
  }
  for (int d = 0; d <= task->mBlockDepth; d++)
    if (!EnsureRecord(&task->mBlocks[d])) return false;
  for (int d = 0; d <= task->mLoopDepth; d++)
    if (!EnsureRecord(&task->mLoops[d])) return false;
  return true;
}

int CmdJump() {
  ScriptTask* task = g_CurrentTask;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count == 0) return MissingLabel("");
  int32_t index;
  static char text[LABEL_TEXT_BYTES];
  text[0] = 0;
  if (args[0].mExprLength & ~LABEL_INDEX_MASK) {
    index = (int32_t)(args[0].mExprLength & LABEL_INDEX_MASK);
    if (index >= g_Labels.mCount) return MissingLabel("");
  } else {
    int32_t length = EvalArgumentString(&args[0], text, sizeof text, true);
    index = FindLabel(text, (size_t)(length > 0 ? length : 0));
    if (index < 0) return MissingLabel(text);
  }
  const LabelRecord& label = g_Labels.mRecords[index];
  int blocks = label.mBlockDepth, loops = label.mLoopDepth;
  if (task->mCallDepth > 0) {
    const CallFrame* site = task->mFrames[task->mCallDepth - 1];
    blocks += site->mBlockDepth;
    loops += site->mLoopDepth;
  }
  // Depths that would reach the 64th level are refused before they can index the stacks.
  if (blocks > MAX_OPEN_LEVELS) return TooDeep(CMD_IF);
  if (loops > MAX_OPEN_LEVELS) return TooDeep(CMD_LOOP);
  task->mBlockDepth = (uint8_t)blocks;
  task->mLoopDepth = (uint8_t)loops;
  if (!EnsureTaskStacks(task)) return -1;
  return GoToLabel(task, label) ? 0 : -1;
}

int CmdCall() { return DecodeCallArguments(CMD_CALL) != 0 ? -1 : CallDecoded(-1); }

int CmdReturn() { return DecodeCommandArguments(CMD_RETURN) != 0 ? -1 : ReturnDecoded(); }

int CmdIf() {
  ScriptTask* task = g_CurrentTask;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count < 3) {
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return -1;
  }
  int depth = task->mBlockDepth;
  if (depth >= MAX_OPEN_LEVELS) return TooDeep(CMD_IF);
  RecordIfBlock(task, g_CurrentCommand, args);
  if (!EnsureRecord(&task->mBlocks[depth + 1])) return -1;
  task->mBlockDepth = (uint8_t)(depth + 1);
  if (EvalArgumentInt(&args[0]) == 0) task->mCommandIndex = IfSkipTarget(task, args);
  return 0;
}

int CmdElseIf() {
  ScriptTask* task = g_CurrentTask;
  if (task->mBlockDepth == 0) return Structure(CMD_ELSE_IF, CMD_ELSE_IF, CMD_IF);
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count == 0) return 0;
  return ElseIfDecided(task, args, count, EvalArgumentInt(&args[0]) != 0);
}

int ElseIfDecided(ScriptTask* task, const CommandArgument* args, uint8_t count, bool holds) {
  if (holds) return 0;
  int32_t next = count >= 2 ? PositionOf(args[1]) : 0;
  if (next) {
    task->mCommandIndex = next;
    return 0;
  }
  int32_t end = task->mBlocks[task->mBlockDepth - 1]->mEnd;
  if (!LandsOn(task, end, CmdEndIf)) return Structure(CMD_ELSE_IF, CMD_ELSE_IF, CMD_IF);
  task->mCommandIndex = end;
  return 0;
}

int CmdElse() { return ElseStep(g_CurrentTask); }

int CmdEndIf() { return EndIfStep(g_CurrentTask); }

namespace {

// The level count N of the break and repeat commands (parameter 0, default 1) and the depth
// c = depth - N + 1 it leads to; false when the command does nothing. c <= 0 is refused.
bool LevelTarget(int code, int depth, int* target) {
  if (DecodeCommandArguments(code) != 0) {
    *target = -1;
    return true;
  }
  int p = ParamPosition(0);
  int64_t n = p ? g_ArgInteger[p] : 1;
  if (n <= 0) return false;
  *target = n > depth ? 0 : depth - (int)n + 1;
  return true;
}

}  // namespace

int CmdBreakBlock() {
  ScriptTask* task = g_CurrentTask;
  int c;
  if (!LevelTarget(CMD_BREAK_BLOCK, task->mBlockDepth, &c)) return 0;
  if (c < 0) return -1;
  if (c == 0) return Structure(CMD_BREAK_BLOCK, CMD_BREAK_BLOCK, CMD_IF);
  const BlockRecord* block = task->mBlocks[c - 1];
  if (!LandsOn(task, block->mEnd, CmdEndIf)) return Structure(CMD_BREAK_BLOCK, CMD_BREAK_BLOCK, CMD_IF);
  task->mBlockDepth = (uint8_t)c;
  task->mCommandIndex = block->mEnd;
  task->mLoopDepth = block->mLoopDepth;
  return 0;
}

int CmdRepeatBlock() {
  ScriptTask* task = g_CurrentTask;
  int c;
  if (!LevelTarget(CMD_REPEAT_BLOCK, task->mBlockDepth, &c)) return 0;
  if (c < 0) return -1;
  if (c == 0) return Structure(0, 0, CMD_IF);
  const BlockRecord* block = task->mBlocks[c - 1];
  if (!LandsOn(task, block->mOpener, CmdIf)) return Structure(0, 0, CMD_IF);
  task->mCommandIndex = block->mOpener;
  task->mLoopDepth = block->mLoopDepth;
  task->mBlockDepth = (uint8_t)(c - 1);
  return 0;
}

int CmdLoop() {
  ScriptTask* task = g_CurrentTask;
  if (DecodeCommandArguments(CMD_LOOP) != 0) return -1;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count < 2) {
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return -1;
  }
  int depth = task->mLoopDepth;
  if (depth >= MAX_OPEN_LEVELS) return TooDeep(CMD_LOOP);
  LoopRecord* loop = task->mLoops[depth];
  loop->mStart = g_CurrentCommand + 1;
  loop->mBlockDepth = task->mBlockDepth;
  loop->mEnd = PositionOf(args[1]);
  loop->mCounter = 1;
  loop->mLimit = EvalArgumentInt(&args[0]);
  if (!EnsureRecord(&task->mLoops[depth + 1])) return -1;
  task->mLoopDepth = (uint8_t)(depth + 1);
  if (loop->mLimit == 0) {
    loop->mCounter = 0;
    task->mCommandIndex = loop->mEnd;
  }
  return 0;
}

int CmdLoopEnd() { return LoopEndStep(g_CurrentTask); }

int CmdBreakLoop() {
  ScriptTask* task = g_CurrentTask;
  int c;
  if (!LevelTarget(CMD_BREAK_LOOP, task->mLoopDepth, &c)) return 0;
  if (c < 0) return -1;
  if (c == 0) return Structure(CMD_BREAK_LOOP, CMD_BREAK_LOOP, CMD_LOOP);
  LoopRecord* loop = task->mLoops[c - 1];
  if (!LandsOn(task, loop->mEnd, CmdLoopEnd)) return Structure(CMD_BREAK_LOOP, CMD_BREAK_LOOP, CMD_LOOP);
  task->mLoopDepth = (uint8_t)c;
  task->mCommandIndex = loop->mEnd;
  task->mBlockDepth = loop->mBlockDepth;
  loop->mCounter = 0;
  loop->mLimit = 0;
  return 0;
}

int CmdContinueLoop() {
  ScriptTask* task = g_CurrentTask;
  int c;
  if (!LevelTarget(CMD_CONTINUE_LOOP, task->mLoopDepth, &c)) return 0;
  if (c < 0) return -1;
  if (c == 0) return Structure(CMD_CONTINUE_LOOP, CMD_CONTINUE_LOOP, CMD_LOOP);
  const LoopRecord* loop = task->mLoops[c - 1];
  if (!LandsOn(task, loop->mEnd, CmdLoopEnd)) return Structure(CMD_CONTINUE_LOOP, CMD_CONTINUE_LOOP, CMD_LOOP);
  task->mLoopDepth = (uint8_t)c;
  task->mCommandIndex = loop->mEnd;
  task->mBlockDepth = loop->mBlockDepth;
  return 0;
}

int CmdLabelExists() {
  if (DecodeCommandArguments(CMD_LABEL_EXISTS) != 0) return -1;
  int name = ParamPosition(0), out = ParamPosition(1);
  if (!ParamPosition(2) || !out) return 0;
  const char* text = name && g_ArgString[name] ? g_ArgString[name] : "";
  int64_t found = FindLabel(text, strlen(text)) >= 0 ? 1 : 0;
  const VarRecord* var = GetVariable(g_ArgReference[out]);
  int32_t element = ElementOf(g_ArgRefElement[out]);
  if (!var || (var->mType != VAR_INT && var->mType != VAR_REAL)) {
    ReportScriptError(MSG_WRONG_TYPE, 1);
    return -1;
  }
  if (element >= 0) StoreIntElement(g_ArgReference[out], element, found);
  return 0;
}

int CmdWait() {
  ScriptTask* task = g_CurrentTask;
  if (DecodeCommandArguments(CMD_WAIT) != 0) return -1;
  int frames = ParamPosition(0), millis = ParamPosition(1);
  // The counter keeps the low 32 bits as they are: a negative count is a very long wait
  // (-1 parks the task for 2^32 - 1 passes), which the runner counts down like any other.
  if (frames && (int32_t)g_ArgInteger[frames] != 0) {
    task->mWaitFrames = (int32_t)g_ArgInteger[frames];
    return 1;
  }
  if (millis && g_ArgInteger[millis] != 0) {
    int64_t m = g_ArgInteger[millis];
    task->mWaitUntil = m > 0 ? PlatGetTicks() + (uint32_t)(m > INT32_MAX ? INT32_MAX : m) : 0;
    return 1;
  }
  return 0;
}
