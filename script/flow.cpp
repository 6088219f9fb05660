// Flow control: jumps, subroutine calls and returns, conditional blocks, loops, the label test
// and waits. Each task keeps a stack of blocks, loops and call frames of 63 open levels each.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "platform/platform.h"
#include "script/eval.h"
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
constexpr int MAX_CALL_VALUES = CALL_VALUE_SLOTS - 1;
constexpr size_t LABEL_TEXT_BYTES = 1024;

constexpr int32_t MSG_NO_MEMORY = 100010;
constexpr int32_t MSG_STRUCTURE = 101300;
constexpr int32_t MSG_TOO_DEEP = 101600;
constexpr int32_t MSG_LOOP_END = 108120;
constexpr int32_t MSG_MISSING_LABEL = 108180;
constexpr int32_t MSG_WRONG_TYPE = 101140;

const char* CommandName(int code) { return g_CommandDefs[code].mName ? g_CommandDefs[code].mName : ""; }

int TooDeep(int code) {
  ReportScriptErrorF(MSG_TOO_DEEP, 1, CommandName(code), CommandName(code), 64);
  return -1;
}

int Structure(int a, int b, int c) {
  ReportScriptErrorF(MSG_STRUCTURE, 1, CommandName(a), CommandName(b), CommandName(c));
  return -1;
}

int MissingLabel(const char* text) {
  ReportScriptErrorF(MSG_MISSING_LABEL, 1, text);
  return -1;
}

template <typename T>
bool EnsureRecord(T** slot) {
  if (*slot) return true;
  *slot = static_cast<T*>(calloc(1, sizeof(T)));
  if (*slot) return true;
  ReportScriptError(MSG_NO_MEMORY, 1);
  return false;
}

// A position stored in a record's length field, as the command index it names.
inline int32_t PositionOf(const CommandArgument& a) { return (int32_t)a.mExprLength; }

// Whether command `position` of the task's file is run by `kind`. Block and loop records are
// followed only onto the command they were made for: a record left over from a jump into a
// structure, or one that points elsewhere, could otherwise send the task round a circle of
// its own jumps for ever.
bool LandsOn(const ScriptTask* task, int64_t position, CommandHandler kind) {
  return task->mHandlers && position >= 0 && position < task->mCommandCount && task->mHandlers[position] == kind;
}

// The flat element of a reference, or -1 when it cannot name an element.
inline int32_t ElementOf(int64_t element) {
  return element >= 0 && element <= INT32_MAX ? (int32_t)element : -1;
}

// Grows (never shrinks) an owned text buffer to hold `text`; a missing text empties it.
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

// Moves the task to label `index`'s position, switching files when the label's differs.
bool GoToLabel(ScriptTask* task, const LabelRecord& label) {
  task->mCommandIndex = label.mPosition;
  if (label.mScriptFile != task->mScriptFile || !task->mHandlers) return SwitchTaskFile(task, label.mScriptFile);
  return true;
}

// Fills values 1..count of a frame from the decoded parameters: integer ids first + k, real
// ids realBase + k (evaluated here), text ids textBase + k.
bool FillValues(int count, int intBase, int realBase, int textBase, int64_t* ints, double* reals, char** texts,
                size_t* capacities, uint8_t* given) {
  for (int k = 1; k <= count; k++) {
    int p = ParamPosition(intBase + k);
    int q = ParamPosition(realBase + k);
    int t = ParamPosition(textBase + k);
    given[k] = 1;
    if (p) {
      ints[k] = g_ArgInteger[p];
    } else if (q) {
      reals[k] = g_ArgCode[q] ? EvalRealExpr(g_ArgCode[q], g_ArgExprLength[q]) : 0.0;
    } else if (t) {
      if (!CopyFrameString(&texts[k], &capacities[k], g_ArgString[t])) return false;
    } else {
      ints[k] = 0;
      reals[k] = 0.0;
      if (!CopyFrameString(&texts[k], &capacities[k], nullptr)) return false;
      given[k] = 0;
    }
  }
  return true;
}

}  // namespace

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

int CmdCall() { return DecodeCallArguments(CMD_CALL) != 0 ? -1 : CallDecoded(); }

int CallDecoded() {
  ScriptTask* task = g_CurrentTask;
  int depth = task->mCallDepth;
  if (depth >= MAX_OPEN_LEVELS) return TooDeep(CMD_CALL);
  if (!EnsureRecord(&task->mFrames[depth + 1])) return -1;
  CallFrame* frame = task->mFrames[depth + 1];
  int values = task->mCallCounts[g_CurrentCommand];
  if (values > MAX_CALL_VALUES) values = MAX_CALL_VALUES;
  frame->mArgCount = (uint8_t)values;
  int labelPos = ParamPosition(0);
  bool onlyLabel = g_CurrentArgCount == 1 && labelPos == 1;
  if (!onlyLabel && !FillValues(values, 0, 16, 32, frame->mIntArgs, frame->mRealArgs, frame->mTextArgs,
                                frame->mTextArgCapacity, frame->mArgGiven))
    return -1;
  if (!labelPos) return MissingLabel("");
  uint8_t n;
  const CommandArgument& record = CurrentArguments(&n)[labelPos - 1];
  int32_t index = record.mKind | record.mOperator << 8;
  if (index == 0) {
    const char* text = g_ArgString[labelPos] ? g_ArgString[labelPos] : "";
    index = FindLabel(text, strlen(text));
    if (index < 0) return MissingLabel(text);
  } else if (index >= g_Labels.mCount) {
    return MissingLabel("");
  }
  CallFrame* site = task->mFrames[depth];
  site->mReturnPosition = g_CurrentCommand + 1;
  site->mScriptFile = task->mScriptFile;
  site->mLine = task->mLines ? (int32_t)task->mLines[g_CurrentCommand] : 0;
  site->mBlockDepth = task->mBlockDepth;
  site->mLoopDepth = task->mLoopDepth;
  task->mCallDepth = (uint8_t)(depth + 1);
  return GoToLabel(task, g_Labels.mRecords[index]) ? 0 : -1;
}

int CmdReturn() { return DecodeCommandArguments(CMD_RETURN) != 0 ? -1 : ReturnDecoded(); }

int ReturnDecoded() {
  ScriptTask* task = g_CurrentTask;
  if (task->mCallDepth == 0) {
    if (task->mIsMain) return Structure(CMD_RETURN, CMD_RETURN, CMD_CALL);
    EndTaskNode(g_CurrentTaskNode);
    return -1;
  }
  CallFrame* frame = task->mFrames[task->mCallDepth - 1];
  int values = task->mCallCounts[g_CurrentCommand];
  if (values > MAX_CALL_VALUES) values = MAX_CALL_VALUES;
  frame->mReturnCount = (uint8_t)values;
  if (g_CurrentArgCount > 0 && !FillValues(values, -1, 15, 31, frame->mIntReturns, frame->mRealReturns,
                                           frame->mTextReturns, frame->mTextReturnCapacity, frame->mReturnGiven))
    return -1;
  task->mCallDepth--;
  task->mCommandIndex = frame->mReturnPosition;
  if (frame->mScriptFile != task->mScriptFile) return SwitchTaskFile(task, frame->mScriptFile) ? 0 : -1;
  return 0;
}

int CmdIf() {
  ScriptTask* task = g_CurrentTask;
  uint8_t count;
  CommandArgument* args = CurrentArguments(&count);
  if (count < 3) {
    ReportScriptError(MSG_BROKEN_COMMAND, 1);
    return -1;
  }
  if (task->mBlockDepth >= MAX_OPEN_LEVELS) return TooDeep(CMD_IF);
  if (!EnterIfBlock(task, g_CurrentCommand, args)) return -1;
  if (EvalArgumentInt(&args[0]) == 0) SkipIfBranch(task, args);
  return 0;
}

bool EnterIfBlock(ScriptTask* task, int32_t command, const CommandArgument* args) {
  int depth = task->mBlockDepth;
  BlockRecord* block = task->mBlocks[depth];
  block->mOpener = command;
  block->mLoopDepth = task->mLoopDepth;
  block->mEnd = PositionOf(args[2]);
  if (!EnsureRecord(&task->mBlocks[depth + 1])) return false;
  task->mBlockDepth = (uint8_t)(depth + 1);
  return true;
}

void SkipIfBranch(ScriptTask* task, const CommandArgument* args) {
  task->mCommandIndex = PositionOf(args[1]) ? PositionOf(args[1]) : task->mBlocks[task->mBlockDepth - 1]->mEnd;
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

int CmdElse() {
  ScriptTask* task = g_CurrentTask;
  if (task->mBlockDepth == 0) return Structure(CMD_ELSE_IF, CMD_ELSE_IF, CMD_IF);
  int32_t end = task->mBlocks[task->mBlockDepth - 1]->mEnd;
  if (!LandsOn(task, end, CmdEndIf)) return Structure(CMD_ELSE_IF, CMD_ELSE_IF, CMD_IF);
  task->mCommandIndex = end;
  return 0;
}

int CmdEndIf() {
  ScriptTask* task = g_CurrentTask;
  if (task->mBlockDepth == 0) return Structure(CMD_END_IF, CMD_END_IF, CMD_IF);
  task->mBlockDepth--;
  task->mBlocks[task->mBlockDepth]->mEnd = 0;
  return 0;
}

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

int CmdLoopEnd() {
  ScriptTask* task = g_CurrentTask;
  if (task->mLoopDepth == 0) {
    ReportScriptError(MSG_LOOP_END, 1);
    return -1;
  }
  LoopRecord* loop = task->mLoops[task->mLoopDepth - 1];
  if (loop->mLimit == -1 || loop->mCounter < loop->mLimit) {
    if (!LandsOn(task, (int64_t)loop->mStart - 1, CmdLoop)) {
      ReportScriptError(MSG_LOOP_END, 1);
      return -1;
    }
    loop->mCounter++;
    task->mCommandIndex = loop->mStart;
    task->mBlockDepth = loop->mBlockDepth;
    return 0;
  }
  task->mLoopDepth--;
  loop->mCounter = 0;
  loop->mLimit = 0;
  loop->mStart = 0;
  return 0;
}

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
  // A negative wait yields this turn only: it never stalls the task.
  if (frames && (int32_t)g_ArgInteger[frames] != 0) {
    int32_t n = (int32_t)g_ArgInteger[frames];
    task->mWaitFrames = n > 0 ? n : 0;
    return 1;
  }
  if (millis && g_ArgInteger[millis] != 0) {
    int64_t m = g_ArgInteger[millis];
    task->mWaitUntil = m > 0 ? PlatGetTicks() + (uint32_t)(m > INT32_MAX ? INT32_MAX : m) : 0;
    return 1;
  }
  return 0;
}
