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
// The frame of the call depth after the task's: refused at the 64th level (101600), else made
// when missing. 0, or -1 after a message.
int MakeCallFrame(ScriptTask* task);
// A return with no call to return from: the main task's is refused (101300), any other task
// ends. -1.
int ReturnFromDepthZero(ScriptTask* task);

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
  if (label.mScriptFile != task->mScriptFile || !task->mHandlers) return SwitchToTaskFile(task, label.mScriptFile);
  return true;
}

// Where value k of a call or a return comes from: an integer, a real's expression (evaluated
// as the frame is filled), a text, or nothing given.
enum : uint8_t { FRAME_VALUE_NONE, FRAME_VALUE_INT, FRAME_VALUE_REAL, FRAME_VALUE_TEXT };
struct FrameValue {
  uint8_t mFrom;
  int64_t mInt;
  const uint8_t* mCode;
  uint32_t mCodeLength;
  const char* mText;
};

// Value k of a frame, from where it comes. A value not given empties the text and reads 0.
inline bool FillFrameValue(int k, const FrameValue& v, int64_t* ints, double* reals, char** texts, size_t* capacities,
                           uint8_t* given) {
  given[k] = 1;
  switch (v.mFrom) {
    case FRAME_VALUE_INT:
      ints[k] = v.mInt;
      return true;
    case FRAME_VALUE_REAL:
      reals[k] = v.mCode ? EvalRealExpr(v.mCode, v.mCodeLength) : 0.0;
      return true;
    case FRAME_VALUE_TEXT:
      return CopyFrameString(&texts[k], &capacities[k], v.mText);
    default:
      ints[k] = 0;
      reals[k] = 0.0;
      if (!CopyFrameString(&texts[k], &capacities[k], nullptr)) return false;
      given[k] = 0;
      return true;
  }
}

// Where a value comes from after decoding: the integer parameter `intId` when given, else the
// real parameter `realId`, else the text parameter `textId`.
inline FrameValue DecodedFrameValue(int intId, int realId, int textId) {
  int p = ParamPosition(intId), q = ParamPosition(realId), t = ParamPosition(textId);
  if (p) return FrameValue{FRAME_VALUE_INT, g_ArgInteger[p], nullptr, 0, nullptr};
  if (q) return FrameValue{FRAME_VALUE_REAL, 0, g_ArgCode[q], g_ArgExprLength[q], nullptr};
  if (t) return FrameValue{FRAME_VALUE_TEXT, 0, nullptr, 0, g_ArgString[t]};
  return FrameValue{FRAME_VALUE_NONE, 0, nullptr, 0, nullptr};
}

// A call's frame: the frame of the next depth made when missing, given the values (from(k) for
// k 1..values; none when the call gives only its label). 0, or -1 after a message.
template <typename From>
inline int FillCallFrame(ScriptTask* task, int values, bool onlyLabel, From from) {
  int depth = task->mCallDepth;
  CallFrame* frame = depth < FLOW_MAX_LEVELS ? task->mFrames[depth + 1] : nullptr;
  if (!frame && MakeCallFrame(task) != 0) return -1;
  frame = task->mFrames[depth + 1];
  frame->mArgCount = (uint8_t)values;
  if (onlyLabel) return 0;
  for (int k = 1; k <= values; k++)
    if (!FillFrameValue(k, from(k), frame->mIntArgs, frame->mRealArgs, frame->mTextArgs, frame->mTextArgCapacity,
                        frame->mArgGiven))
      return -1;
  return 0;
}

// A call whose frame is filled goes to label `index`: where it was called from is kept in the
// frame of the current depth, and the depth is raised.
inline int EnterCall(ScriptTask* task, int32_t index) {
  CallFrame* site = task->mFrames[task->mCallDepth];
  site->mReturnPosition = g_CurrentCommand + 1;
  site->mScriptFile = task->mScriptFile;
  site->mLine = task->mLines ? (int32_t)task->mLines[g_CurrentCommand] : 0;
  site->mBlockDepth = task->mBlockDepth;
  site->mLoopDepth = task->mLoopDepth;
  task->mCallDepth++;
  return GoToLabel(task, g_Labels.mRecords[index]) ? 0 : -1;
}

// The values (1..values) a command gives; the count the command's byte 2 gives, 16 at most.
inline int FrameValueCount(const ScriptTask* task) {
  int values = task->mCallCounts[g_CurrentCommand];
  return values > FLOW_MAX_VALUES ? FLOW_MAX_VALUES : values;
}

// The call command once decoded. `namedLabel` is the label that the call's label text names
// when that text is a constant already looked up, else -1.
inline int CallDecoded(int32_t namedLabel) {
  ScriptTask* task = g_CurrentTask;
  int values = FrameValueCount(task);
  int labelPos = ParamPosition(0);
  auto from = [](int k) { return DecodedFrameValue(k, 16 + k, 32 + k); };
  if (FillCallFrame(task, values, g_CurrentArgCount == 1 && labelPos == 1, from) != 0) return -1;
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
  return EnterCall(task, index);
}

// The return command once its values are known (from(k) for k 1..values; none filled unless
// `fill`).
template <typename From>
inline int ReturnWithValues(ScriptTask* task, int values, bool fill, From from) {
  if (task->mCallDepth == 0) return ReturnFromDepthZero(task);
  CallFrame* frame = task->mFrames[task->mCallDepth - 1];
  frame->mReturnCount = (uint8_t)values;
  if (fill)
    for (int k = 1; k <= values; k++)
      if (!FillFrameValue(k, from(k), frame->mIntReturns, frame->mRealReturns, frame->mTextReturns,
                          frame->mTextReturnCapacity, frame->mReturnGiven))
        return -1;
  task->mCallDepth--;
  task->mCommandIndex = frame->mReturnPosition;
  if (frame->mScriptFile != task->mScriptFile) return SwitchToTaskFile(task, frame->mScriptFile) ? 0 : -1;
  return 0;
}

// The return command once decoded.
inline int ReturnDecoded() {
  ScriptTask* task = g_CurrentTask;
  auto from = [](int k) { return DecodedFrameValue(k - 1, 15 + k, 31 + k); };
  return ReturnWithValues(task, FrameValueCount(task), g_CurrentArgCount > 0, from);
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
