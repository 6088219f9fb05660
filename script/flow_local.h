// The steps of the flow commands that fused code carries out in its own loop: else, end-if, loop
// end, and the call and return commands once their arguments are decoded. The handlers run the
// same inline steps, so both ways do exactly the same.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "script/eval.h"
#include "script/task.h"
#include "script/vars.h"

// The command codes the flow messages name, and the open levels of each task stack.
constexpr int FLOW_ELSE_IF = 11, FLOW_CALL = 35, FLOW_IF = 36, FLOW_END_IF = 40, FLOW_LOOP = 47, FLOW_RETURN = 68;
constexpr int FLOW_MAX_LEVELS = TASK_STACK_SLOTS - 1;
constexpr int FLOW_MAX_VALUES = CALL_VALUE_SLOTS - 1;

// The flow messages (flow.cpp), each then -1: 101600 with command `code`'s name twice and 64;
// 101300 with three command names; 108180 with the label text; 108120; 100010.
int ReportTooDeep(int code);
int ReportStructure(int a, int b, int c);
int ReportMissingLabel(const char* text);
int ReportLoopEnd();
int ReportNoStackMemory();
// Grows (never shrinks) an owned text buffer to hold `text`; a missing text empties it. false
// after 100010.
bool CopyFrameString(char** slot, size_t* capacity, const char* text);

// A stack record that is made, zero-filled, when missing; false after 100010.
template <typename T>
inline bool EnsureRecord(T** slot) {
  if (*slot) return true;
  *slot = static_cast<T*>(calloc(1, sizeof(T)));
  return *slot || ReportNoStackMemory() == 0;
}

// Whether command `position` of the task's file is run by `kind`. Block and loop records are
// followed only onto the command they were made for: a record left over from a jump into a
// structure, or one that points elsewhere, could otherwise send the task round a circle of
// its own jumps for ever.
inline bool LandsOn(const ScriptTask* task, int64_t position, CommandHandler kind) {
  return task->mHandlers && position >= 0 && position < task->mCommandCount && task->mHandlers[position] == kind;
}

// Moves the task to `label`'s position, switching files when the label's differs.
inline bool GoToLabel(ScriptTask* task, const LabelRecord& label) {
  task->mCommandIndex = label.mPosition;
  if (label.mScriptFile != task->mScriptFile || !task->mHandlers) return SwitchTaskFile(task, label.mScriptFile);
  return true;
}

// Fills values 1..count of a frame from the decoded parameters: integer ids first + k, real
// ids realBase + k (evaluated here), text ids textBase + k.
inline bool FillValues(int count, int intBase, int realBase, int textBase, int64_t* ints, double* reals,
                       char** texts, size_t* capacities, uint8_t* given) {
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

// The call command once decoded. `namedLabel` is the label that the call's label text names
// when that text is a constant already looked up, else -1.
inline int CallDecoded(int32_t namedLabel) {
  ScriptTask* task = g_CurrentTask;
  int depth = task->mCallDepth;
  if (depth >= FLOW_MAX_LEVELS) return ReportTooDeep(FLOW_CALL);
  if (!EnsureRecord(&task->mFrames[depth + 1])) return -1;
  CallFrame* frame = task->mFrames[depth + 1];
  int values = task->mCallCounts[g_CurrentCommand];
  if (values > FLOW_MAX_VALUES) values = FLOW_MAX_VALUES;
  frame->mArgCount = (uint8_t)values;
  int labelPos = ParamPosition(0);
  bool onlyLabel = g_CurrentArgCount == 1 && labelPos == 1;
  if (!onlyLabel && !FillValues(values, 0, 16, 32, frame->mIntArgs, frame->mRealArgs, frame->mTextArgs,
                                frame->mTextArgCapacity, frame->mArgGiven))
    return -1;
  if (!labelPos) return ReportMissingLabel("");
  const CommandArgument& record = task->mArgRecords[g_CurrentCommand][labelPos - 1];
  int32_t index = record.mKind | record.mOperator << 8;
  if (index == 0 && namedLabel >= 0) {
    index = namedLabel;
  } else if (index == 0) {
    const char* text = g_ArgString[labelPos] ? g_ArgString[labelPos] : "";
    index = FindLabel(text, strlen(text));
    if (index < 0) return ReportMissingLabel(text);
  } else if (index >= g_Labels.mCount) {
    return ReportMissingLabel("");
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

// The return command once decoded.
inline int ReturnDecoded() {
  ScriptTask* task = g_CurrentTask;
  if (task->mCallDepth == 0) {
    if (task->mIsMain) return ReportStructure(FLOW_RETURN, FLOW_RETURN, FLOW_CALL);
    EndTaskNode(g_CurrentTaskNode);
    return -1;
  }
  CallFrame* frame = task->mFrames[task->mCallDepth - 1];
  int values = task->mCallCounts[g_CurrentCommand];
  if (values > FLOW_MAX_VALUES) values = FLOW_MAX_VALUES;
  frame->mReturnCount = (uint8_t)values;
  if (g_CurrentArgCount > 0 && !FillValues(values, -1, 15, 31, frame->mIntReturns, frame->mRealReturns,
                                           frame->mTextReturns, frame->mTextReturnCapacity, frame->mReturnGiven))
    return -1;
  task->mCallDepth--;
  task->mCommandIndex = frame->mReturnPosition;
  if (frame->mScriptFile != task->mScriptFile) return SwitchTaskFile(task, frame->mScriptFile) ? 0 : -1;
  return 0;
}

// The else command: reached when a branch ends, it goes to the end of the innermost block.
inline int ElseStep(ScriptTask* task) {
  if (task->mBlockDepth == 0) return ReportStructure(FLOW_ELSE_IF, FLOW_ELSE_IF, FLOW_IF);
  int32_t end = task->mBlocks[task->mBlockDepth - 1]->mEnd;
  if (!LandsOn(task, end, CmdEndIf)) return ReportStructure(FLOW_ELSE_IF, FLOW_ELSE_IF, FLOW_IF);
  task->mCommandIndex = end;
  return 0;
}

// The end-if command closes the innermost block.
inline int EndIfStep(ScriptTask* task) {
  if (task->mBlockDepth == 0) return ReportStructure(FLOW_END_IF, FLOW_END_IF, FLOW_IF);
  task->mBlockDepth--;
  task->mBlocks[task->mBlockDepth]->mEnd = 0;
  return 0;
}

// The loop end: another pass from the loop's start while the count allows, else the loop is
// left.
inline int LoopEndStep(ScriptTask* task) {
  if (task->mLoopDepth == 0) return ReportLoopEnd();
  LoopRecord* loop = task->mLoops[task->mLoopDepth - 1];
  if (loop->mLimit == -1 || loop->mCounter < loop->mLimit) {
    if (!LandsOn(task, (int64_t)loop->mStart - 1, CmdLoop)) return ReportLoopEnd();
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
