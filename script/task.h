// Script tasks and the task runner: the task record with its block, loop and call stacks, the
// runner's passes over the task tree, and the argument slots that command decoding fills.
#pragma once

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
// The values and references that the evaluations of the current command's argument records
// gave, by position 1..count: an integer parameter's value, a text parameter's text (null: the
// evaluation gave none, and the buffer keeps what it held).
struct DecodedArgument {
  int64_t mInt;
  const char* mText;
  uint32_t mTextLength;
  int32_t mRefVariable;
  int64_t mRefElement;
  uint8_t mRefBare;
};
// Fills the argument slots from `values` exactly as decoding the current command (`code`)
// would, when every check passes and every text buffer exists; else writes nothing and gives
// false, and the command is decoded (and its check reported) the usual way.
bool CommitDecodedArguments(int code, const DecodedArgument* values);
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
// Runs one pass over the children of `node`.
int RunTaskChildren(NameNode* node);
// The located-message hook: the running task's script file name and current line.
bool CurrentScriptLocation(const char** file, int32_t* line);

// Flow-control commands.
int CmdJump();
// The call and return commands after their arguments are decoded (fused code decodes them its
// own way, then does the rest here).
int CallDecoded();
int ReturnDecoded();
// The if command's block, opened at `command` with its records `args` (the record of the next
// depth is made when missing; false after 100010); and the jump to its alternative or end when
// its condition does not hold.
bool EnterIfBlock(ScriptTask* task, int32_t command, const CommandArgument* args);
void SkipIfBranch(ScriptTask* task, const CommandArgument* args);
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
