// Fused code: the expressions and the common commands of a linked script file compiled into ops
// that one direct-threaded loop runs without a handler call, an argument walk or a variable
// lookup per item. Integer, real and text values, array elements, system variables, blocks,
// loops, jumps, calls and returns are taken; every other command, and every command whose ops
// cannot be taken for the variables as they are now, runs through its handler as before. The
// argument programs of handlers' own evaluations are run by the same loop.
#pragma once

#include <cstdint>

struct CommandArgument;
struct ScriptFileRecord;
struct ScriptTask;

// One op. mCode is what was compiled; mRun what the op does for the variable shapes it was
// looked up for last (an op that reads "a variable" becomes a read of an integer, of a real,
// of a system variable...).
struct FusedOp {
  const void* mLabel;       // where the running loop carries out mRun
  uint16_t mCode;
  uint16_t mRun;
  uint16_t mVariable;       // the variable the op reads or writes
  uint16_t mRight;          // the right operand's variable in a form that reads two; a check kind
  uint8_t mCount;           // an element's subscripts; a decoded argument's position; a call's values
  uint8_t mFlags;           // FUSED_* flags (fused_local.h)
  uint8_t mRefElement;      // after an evaluation: where the references' element comes from
  uint8_t mRefBare;         // after an evaluation: the bare-reference flag it leaves
  uint8_t mRefSubscripts;   // after an evaluation: the subscript count it leaves
  int32_t mRefVariable;     // after an evaluation: the variable the references name, -1 as before
  int32_t mTarget;          // a command position; a call's label
  int32_t mEnd;             // a block end; a text literal's length; a known element; a record count
  int64_t mValue;           // an integer literal, a real literal's bits, a text's offset, a command code
  int64_t mLimit, mStride;  // looked up: the bound and stride of an element's one subscript
  void* mSlot;              // looked up: the storage of mVariable; a literal text; a command's records
  void* mRightSlot;         // looked up: mRight's storage; an element's variable record; a
                            // decoded record; a call's plan of values
};

// The ops of one command or argument program. mRun is mOps while every variable the ops name
// has the shape they were compiled for, else an op that hands the command to its handler (or
// an argument to the byte walk); both are looked up again whenever the variable shapes have
// changed since mEpoch.
struct FusedCommand {
  const FusedOp* mRun;
  FusedOp* mOps;   // null: always the handler
  uint64_t mEpoch;
};

// Compiles the file's commands and the integer programs of its argument records; after the
// file's variables exist (their types choose the forms). false when memory ran out: the file
// then runs through its handlers and the byte walk alone.
bool FuseScriptFile(ScriptFileRecord* file);
void FreeFusedCode(ScriptFileRecord* file);

// Whether fused code may run now: not in development mode (which counts every handler call),
// not while scripts pause for an inactive window, with the normal opcode table, outside a
// declaration, and with the standard evaluators and assignment operators.
bool FusedTurnAllowed();

// Runs the task's commands from mCommandIndex through fused code while it is allowed. Returns
// the result of the last handler it called when that ended the turn (or raised the quit flag);
// 0 when the turn goes on in the plain loop for at least one command. `steps` counts the
// commands of the turn, as the plain loop does.
int RunFusedCommands(ScriptTask* task, uint32_t* steps);

// An argument record's integer program (kinds 1 and 3): true with the value and the references
// the byte walk would leave; false, having changed nothing the walk would not change, when the
// program cannot run now.
bool RunArgumentProgram(FusedCommand* program, int64_t* value);

// An expression compiled alone, for a given evaluator mode (EVAL_MODE_*), and its result: a
// number in the mode's arithmetic, or a text (in the text modes; a numeric result there has
// none). For tests of the ops against the byte walk.
struct FusedResult {
  int64_t mInt;
  double mReal;
  const char* mText;   // null: no text
  uint32_t mTextLength;
};
FusedCommand* CompileExpressionProgram(const uint8_t* expr, uint32_t length, uint8_t mode);
bool RunExpressionProgram(FusedCommand* program, FusedResult* result);
void FreeExpressionProgram(FusedCommand* program);
