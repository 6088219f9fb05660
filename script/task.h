// Script tasks and the task runner: the task record with its block, loop and call stacks, the
// runner's passes over the task tree, and the argument slots that command decoding fills.
#pragma once

#include <atomic>
#include <cstdint>

#include "script/eval.h"
#include "script/fused.h"
#include "script/script_set.h"

struct NameNode;

constexpr int TASK_STACK_SLOTS = 64;   // 63 open levels each; the 64th is refused
constexpr int CALL_VALUE_SLOTS = 17;   // values 1-16; slot 0 unused

// A turn past this many commands is taken for a loop without a wait; from then on, every
// LONG_TURN_POLL_STEPS commands the window is answered (a power of two). Counted in commands,
// not time, so a headless run on its own clock behaves the same.
constexpr uint32_t LONG_TURN_STEPS = 1u << 20;
constexpr uint32_t LONG_TURN_POLL_STEPS = 1u << 16;

struct BlockRecord {
  uint8_t mLoopDepth;
  int32_t mOpener;
  int32_t mEnd;
};

struct LoopRecord {
  uint8_t mBlockDepth;
  int32_t mStart;
  int32_t mEnd;
  int64_t mCounter;
  int64_t mLimit;   // -1 endless
};

struct CallFrame {
  uint8_t mBlockDepth, mLoopDepth;
  int32_t mReturnPosition;
  uint16_t mScriptFile;
  int32_t mLine;
  int64_t mIntArgs[CALL_VALUE_SLOTS];
  double mRealArgs[CALL_VALUE_SLOTS];
  char* mTextArgs[CALL_VALUE_SLOTS];
  size_t mTextArgCapacity[CALL_VALUE_SLOTS];
  int64_t mIntReturns[CALL_VALUE_SLOTS];
  double mRealReturns[CALL_VALUE_SLOTS];
  char* mTextReturns[CALL_VALUE_SLOTS];
  size_t mTextReturnCapacity[CALL_VALUE_SLOTS];
  uint8_t mArgCount;
  uint8_t mArgGiven[CALL_VALUE_SLOTS];
  uint8_t mReturnCount;
  uint8_t mReturnGiven[CALL_VALUE_SLOTS];
};

struct ScriptTask {
  uint64_t mPassStamp;
  uint8_t mIsMain;
  uint8_t mWaitingForMessage;
  uint32_t mMessageMark1, mMessageMark2;
  uint8_t mRunFlag1, mRunFlag2;
  int32_t mWaitFrames;
  uint32_t mWaitUntil;
  int32_t mCommandIndex;
  // The current script file's linked arrays, copied from its record.
  int32_t mCommandCount;
  CommandHandler* mHandlers;
  uint8_t* mCallCounts;
  uint8_t* mArgCounts;
  CommandArgument** mArgRecords;
  uint8_t* mExpressions;
  uint32_t mExpressionSize;
  uint32_t* mLines;
  FusedCommand* mFused;
  uint16_t mScriptFile;
  uint8_t mBlockDepth;
  BlockRecord* mBlocks[TASK_STACK_SLOTS];
  uint8_t mCallDepth;
  CallFrame* mFrames[TASK_STACK_SLOTS];
  uint8_t mLoopDepth;
  LoopRecord* mLoops[TASK_STACK_SLOTS];
  int64_t mIntParams[CALL_VALUE_SLOTS];
  double mRealParams[CALL_VALUE_SLOTS];
  char* mStringParams[CALL_VALUE_SLOTS];
};

extern ScriptTask* g_CurrentTask;
extern NameNode* g_CurrentTaskNode;
extern int32_t g_CurrentCommand;
extern int g_LastYield;
// Development mode's escape: commands counted, and the desktop corners the pointer was seen in.
extern uint64_t g_DebugCommandCounter;
extern uint8_t g_DebugCornerBits;

// Argument slots, by argument position 1-255 (g_ParamSlot by parameter id).
extern uint8_t g_ParamSlot[MAX_COMMAND_PARAMS];
extern uint8_t g_ArgParamId[MAX_COMMAND_ARGS + 1];
extern uint8_t g_ArgKind[MAX_COMMAND_ARGS + 1];
extern uint8_t g_ArgOperator[MAX_COMMAND_ARGS + 1];
extern uint32_t g_ArgExprLength[MAX_COMMAND_ARGS + 1];
extern uint32_t g_ArgExprOffset[MAX_COMMAND_ARGS + 1];
extern int64_t g_ArgInteger[MAX_COMMAND_ARGS + 1];
extern char* g_ArgString[MAX_COMMAND_ARGS + 1];       // TEXT_VALUE_BYTES each, kept
extern const uint8_t* g_ArgCode[MAX_COMMAND_ARGS + 1];
extern int32_t g_ArgReference[MAX_COMMAND_ARGS + 1];
extern int64_t g_ArgRefElement[MAX_COMMAND_ARGS + 1];
extern uint8_t g_ArgRefFlag[MAX_COMMAND_ARGS + 1];
extern uint8_t g_CurrentArgCount;

// The position that carries parameter `id`, 0 when the script did not give it.
inline int ParamPosition(int id) { return id >= 0 && id < MAX_COMMAND_PARAMS ? g_ParamSlot[id] : 0; }

int DecodeCommandArguments(int code);
// The same, but text parameters always use the text evaluator of entry 3.
int DecodeCallArguments(int code);
// Decoding, piece by piece, for code that decodes a command its own way and must leave the
// slots exactly as DecodeCommandArguments would: the table of positions by parameter id
// cleared (only the ids the last decode gave a position are non-zero), the slots of position p
// that every record fills, whether a value passes a check kind, and a code parameter's
// expression (null when it lies outside the task's expression segment).
extern uint8_t g_GivenParamIds[MAX_COMMAND_ARGS];
extern int g_GivenParamCount;
inline void ClearParamSlots() {
  for (int k = 0; k < g_GivenParamCount; k++) g_ParamSlot[g_GivenParamIds[k]] = 0;
  g_GivenParamCount = 0;
}
inline void FillArgumentSlot(int p, const CommandArgument& a) {
  if (g_GivenParamCount < MAX_COMMAND_ARGS) g_GivenParamIds[g_GivenParamCount++] = a.mParamId;
  g_ArgParamId[p] = a.mParamId;
  g_ArgKind[p] = a.mKind;
  g_ArgOperator[p] = a.mOperator;
  g_ArgExprLength[p] = a.mExprLength;
  g_ArgExprOffset[p] = a.mExprOffset;
  g_ParamSlot[a.mParamId] = (uint8_t)p;
  // A position's code pointer belongs to this command only, so no stale pointer meets a new
  // record's length.
  g_ArgCode[p] = nullptr;
}
bool ArgumentCheckPasses(uint8_t kind, int64_t value);
const uint8_t* ArgumentCode(const CommandArgument& a);

// Decoding noted but not written. Fused code writes the values of a decode (integers, texts
// that are not literals, references) as decoding does, and notes the rest: the records of the
// command last decoded, and per position its record, its code pointer and its literal text.
// WritePendingSlots writes what was noted, so the slots hold exactly what decoding would have
// left; it runs before any handler (DecodeCommandArguments makes sure) and wherever fused code
// leaves its loop.
extern bool g_SlotsPending;
extern bool g_PendingCommand;   // a whole command's decode was noted
extern const CommandArgument* g_PendingRecords;
extern uint8_t g_PendingRecordCount;
extern const CommandArgument* g_PendingRecord[MAX_COMMAND_ARGS + 1];
extern const uint8_t* g_PendingCode[MAX_COMMAND_ARGS + 1];
extern const char* g_PendingText[MAX_COMMAND_ARGS + 1];
extern uint32_t g_PendingTextLength[MAX_COMMAND_ARGS + 1];
extern int g_PendingTop;   // the highest position noted
inline void NoteDecodedCommand(const CommandArgument* records, uint8_t count) {
  g_SlotsPending = true;
  g_PendingCommand = true;
  g_PendingRecords = records;
  g_PendingRecordCount = count;
}
inline void NoteDecodedRecord(int p, const CommandArgument* record, const uint8_t* code) {
  g_SlotsPending = true;
  g_PendingRecord[p] = record;
  g_PendingCode[p] = code;
  if (p > g_PendingTop) g_PendingTop = p;
}
void WritePendingSlots();
int CmdReserved0();

// The expression of an argument record of the current task: false (after a message) when the
// record points outside the file's expression segment.
bool ArgumentExpression(const CommandArgument* a, const uint8_t** expr, uint32_t* length);
// Evaluates an argument record by its evaluator kind; an unknown kind reports and gives 0.
// The byte walk of EvalArgumentInt.
int64_t EvalArgumentIntBytes(const CommandArgument* a);
inline int64_t EvalArgumentInt(const CommandArgument* a) {
  int64_t value;
  if (a->mProgram && (a->mKind == 1 || a->mKind == 3) && g_IntEvaluators[a->mKind] == EvalIntegerExpr &&
      RunArgumentProgram(a->mProgram, &value))
    return value;
  return EvalArgumentIntBytes(a);
}
double EvalArgumentReal(const CommandArgument* a, int offset);   // offset 5 or 10
int32_t EvalArgumentString(const CommandArgument* a, char* buffer, size_t size, bool entry3);

// The current command's argument records and count.
CommandArgument* CurrentArguments(uint8_t* count);

ScriptTask* AttachTaskRecord(NameNode* node);
// Takes a task's node out of the tree for good (a second call is harmless). It no longer runs
// or can be found; its memory goes when the task pass that may stand on it has ended.
void EndTaskNode(NameNode* node);
void FreeEndedTasks();
// Frees a task record with its stacks, and a node with its subtree and their records.
void FreeTaskRecord(ScriptTask* task);
void FreeTaskTree(NameNode* node);
// Frees the whole task tree and every ended task (shutdown).
void FreeAllTasks();
// Makes sure the stack records up to the task's block and loop depths exist, so depths taken
// from a label never reach a missing record. A depth of 64 or more gives 101600 (false).
bool EnsureTaskStacks(ScriptTask* task);
// Points a task at script file n (loading and linking it when needed). false when the file
// could not be linked: a fatal message is given and the task must not run.
bool SwitchTaskFile(ScriptTask* task, int32_t n);
// The linked arrays of `file` (number n) copied into the task.
inline void AttachTaskFile(ScriptTask* task, int32_t n, const ScriptFileRecord* file) {
  task->mScriptFile = (uint16_t)n;
  task->mCommandCount = file->mCommandCount;
  task->mHandlers = file->mHandlers;
  task->mCallCounts = file->mCallCounts;
  task->mArgCounts = file->mArgCounts;
  task->mArgRecords = file->mArgRecords;
  task->mExpressions = file->mExpressions;
  task->mExpressionSize = file->mExpressionSize;
  task->mLines = file->mLines;
  // Stored on its own, not merged with the store before it: fused code reads it back at once,
  // and a load from part of a wider store waits on some processors.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  task->mFused = file->mFused;
}
// SwitchTaskFile without a call when file n is linked already, as it is for most calls and
// returns between files.
inline bool SwitchToTaskFile(ScriptTask* task, int32_t n) {
  const ScriptFileRecord* file = n >= 0 && n < g_ScriptFileCount && g_ScriptFiles ? g_ScriptFiles[n] : nullptr;
  if (!file || !file->mLinked) return SwitchTaskFile(task, n);
  AttachTaskFile(task, n, file);
  return true;
}
// Runs one pass over the children of `node`.
int RunTaskChildren(NameNode* node);
// The located-message hook: the running task's script file name and current line.
bool CurrentScriptLocation(const char** file, int32_t* line);

// Flow-control commands.
int CmdJump();
// The if command at `command` with its records `args`: the record of the block it opens at the
// task's block depth; and, once the block is open, where it goes when its condition does not
// hold (the next alternative, else the block end).
inline void RecordIfBlock(ScriptTask* task, int32_t command, const CommandArgument* args) {
  BlockRecord* block = task->mBlocks[task->mBlockDepth];
  block->mOpener = command;
  block->mLoopDepth = task->mLoopDepth;
  block->mEnd = (int32_t)args[2].mExprLength;
}
inline int32_t IfSkipTarget(const ScriptTask* task, const CommandArgument* args) {
  int32_t next = (int32_t)args[1].mExprLength;
  return next ? next : task->mBlocks[task->mBlockDepth - 1]->mEnd;
}
// The else-if command once its condition is known (`count` records, block depth above 0).
int ElseIfDecided(ScriptTask* task, const CommandArgument* args, uint8_t count, bool holds);
int CmdCall();
int CmdReturn();
int CmdIf();
int CmdElseIf();
int CmdElse();
int CmdEndIf();
int CmdBreakBlock();
int CmdRepeatBlock();
int CmdLoop();
int CmdLoopEnd();
int CmdBreakLoop();
int CmdContinueLoop();
int CmdLabelExists();
int CmdWait();
