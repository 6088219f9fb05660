// System variables (numbers 0-999): the key rule that scripts store key hold counters by. The
// three readers and the assignment branch are declared with the variables in script/vars.h.
#pragma once

#include <cstdint>

#include "script/task.h"

constexpr int32_t MSG_NOT_WRITABLE = 101150;     // fatal, located: assignment to a read-only number
constexpr int32_t MSG_NO_DROPPED_FILE = 107010;  // fatal, located: dropped file past the count

// Stores `value` into the hold counter of key slot `slot` by the key rule: a key that is up
// takes only a negative value (any other stores 0), a key that is down only a positive one.
// A script can so lengthen or shorten a press or a release but never turn one into the other.
void StoreSystemValue(int32_t slot, int64_t value);

// The integer call values of the running task's innermost frame: variable 50 (argument k), 53
// (k 0 the argument count, else whether argument k was given), 54 (return value k), 57 (k 0 the
// return count, else whether return value k was given); 0 for a k above the count. Also read
// in place by fused code.
inline bool IsCallValueVariable(int32_t v) { return v == 50 || v == 53 || v == 54 || v == 57; }
inline const CallFrame* InnermostFrame() {
  const ScriptTask* task = g_CurrentTask;
  return task ? task->mFrames[task->mCallDepth] : nullptr;
}
// Value k of frame f for a k of a slot (1 to CALL_VALUE_SLOTS - 1).
template <int V>
inline int64_t CallSlotValue(const CallFrame* f, int32_t k) {
  if (k > (V == 50 || V == 53 ? f->mArgCount : f->mReturnCount)) return 0;
  if constexpr (V == 50) return f->mIntArgs[k];
  else if constexpr (V == 53) return f->mArgGiven[k];
  else if constexpr (V == 54) return f->mIntReturns[k];
  else return f->mReturnGiven[k];
}
template <int V>
inline int64_t InnermostSlotValue(int32_t k) {
  const CallFrame* f = InnermostFrame();
  return f ? CallSlotValue<V>(f, k) : 0;
}
template <int V>
inline int64_t CallFrameValueIn(const CallFrame* f, int32_t k) {
  if (!f) return 0;
  if (k == 0 && (V == 53 || V == 57)) return V == 53 ? f->mArgCount : f->mReturnCount;
  return k >= 1 && k < CALL_VALUE_SLOTS ? CallSlotValue<V>(f, k) : 0;
}
inline int64_t CallFrameValue(int32_t v, int32_t k) {
  const CallFrame* f = InnermostFrame();
  switch (v) {
    case 50: return CallFrameValueIn<50>(f, k);
    case 53: return CallFrameValueIn<53>(f, k);
    case 54: return CallFrameValueIn<54>(f, k);
    default: return CallFrameValueIn<57>(f, k);
  }
}
