// Fused command code: the integer assignments, conditions, block and loop ends and resolved
// jumps of a linked script file, pre-decoded at link time into ops that one loop runs without
// a handler call, an argument walk or a variable lookup per command. Every other command, and
// every command whose ops cannot be taken now, runs through its handler as before.
#pragma once

#include <cstdint>

struct ScriptFileRecord;
struct ScriptTask;

// One op. Expression ops are those of integer programs; each command ends with an op of its
// own that carries the command out and goes on to the next one.
struct FusedOp {
  uint8_t mCode;
  uint8_t mReads;        // bit 0: mVariable is read or written, bit 1: mRight is read
  uint16_t mVariable, mRight;
  int32_t mTarget;       // a command position (the alternative of a condition)
  int32_t mEnd;          // the block end of a condition
  int64_t mValue;        // a literal; in the command's own op the variable its evaluation refers
                         // to last (-1 none), or a jump's label index
  int64_t* mSlot;        // element 0 of mVariable, looked up for the current variable shapes
  int64_t* mRightSlot;   // element 0 of mRight
};

// The fused form of one command. mRun is mOps while the variables the ops name hold plain
// integers, else an op that calls the handler; both are looked up again whenever the variable
// shapes have changed since mEpoch.
struct FusedCommand {
  const FusedOp* mRun;
  FusedOp* mOps;   // null: the command always runs through its handler
  uint64_t mEpoch;
};

// Builds the file's fused commands after linking; the handlers must be in place. false when
// memory ran out: the file then runs through its handlers alone.
bool FuseScriptFile(ScriptFileRecord* file);

// Whether fused code may run now: not in development mode (which counts every handler call),
// not while scripts pause for an inactive window, with the normal opcode table, outside a
// declaration, and with the standard integer evaluators and assignment operators.
bool FusedTurnAllowed();

// Runs the task's commands from mCommandIndex through fused code while it is allowed. Returns
// the result of the last handler it called when that ended the turn (or raised the quit flag);
// 0 when the turn goes on in the plain loop for at least one command. `steps` counts the
// commands of the turn, as the plain loop does.
int RunFusedCommands(ScriptTask* task, uint32_t* steps);
