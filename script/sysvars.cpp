// System variables: the integer, real and text readers by number and element, and the
// assignment of the few numbers a script may write (window events, keys, folders, message).
#include "script/sysvars.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/window.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "text/text.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr int32_t JOYSTICK_BUTTONS = 32;
constexpr int32_t JOYSTICK_AXES = 4;

// ---------------------------------------------------------------------------------------------
// Sources.

int64_t LocalTimeField(int32_t k) {
  if (k >= 0 && k < 8) {
    PlatLocalTime t = PlatGetLocalTime();
    const int fields[8] = {t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute, t.second, t.milliseconds};
    return fields[k];
  }
  if (k >= 8 && k < 16) {
    const LocalTime& t = g_StartLocalTime;
    const int fields[8] = {t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute, t.second, t.milliseconds};
    return fields[k - 8];
  }
  return 0;
}

// A timer a script has paused reads the time it stood at when paused.
int64_t ScriptTimer(int32_t k) {
  uint32_t now = g_ScriptTimerRunning[k - 1] ? PlatGetTicks() : g_ScriptTimerPausedAt[k - 1];
  return (uint32_t)(now - g_ScriptTimers[k - 1]);
}

int64_t MemoryFact(int32_t v) {
  PlatMemoryStatus m = PlatGetMemoryStatus();
  if (v == 5) return (int64_t)m.totalPhysical;
  if (v == 7) return (int64_t)m.availablePhysical;
  if (m.totalPhysical == 0 || m.availablePhysical > m.totalPhysical) return 0;
  return (int64_t)((m.totalPhysical - m.availablePhysical) * 100 / m.totalPhysical);
}

int64_t DesktopFact(int32_t v) {
  int width = 0, height = 0, bits = 0, refresh = 0;
  g_Platform->GetDesktopMode(&width, &height, &bits, &refresh);
  return v == 104 ? bits : v == 105 ? width : height;
}

// The innermost call frame of the running task: it holds the arguments of the current call
// and the values the last return into it brought back.
const CallFrame* CurrentFrame() {
  const ScriptTask* task = g_CurrentTask;
  return task ? task->mFrames[task->mCallDepth] : nullptr;
}

bool ValueIndex(int32_t k, uint8_t count) { return k >= 1 && k < CALL_VALUE_SLOTS && k <= count; }

int64_t InnermostLoopCounter() {
  const ScriptTask* task = g_CurrentTask;
  if (!task || task->mLoopDepth == 0 || !task->mLoops[task->mLoopDepth - 1]) return 0;
  return task->mLoops[task->mLoopDepth - 1]->mCounter;
}

bool TaskParamIndex(int32_t k) { return k >= 0 && k < CALL_VALUE_SLOTS && g_CurrentTask; }

// Cursor of window `index` (0-3) in game coordinates.
int64_t CursorOf(int index, bool y) {
  const WindowRecord* w = g_WindowRecords[index];
  if (!w) return 0;
  return y ? w->mCursorY : w->mCursorX;
}

// Key slots that scripts name. A joystick number past the last joystick names no slot (-1).
int32_t AxisSlot(int32_t joystick, int32_t axis) {
  if (joystick < 0 || joystick >= MAX_JOYSTICKS) return -1;
  return KEY_SLOT_JOYSTICKS + KEY_SLOTS_PER_JOYSTICK * joystick + axis;
}

int32_t ButtonSlot(int32_t k) {
  if (k < 0) return -1;
  return AxisSlot(k / JOYSTICK_BUTTONS, JOYSTICK_AXES + k % JOYSTICK_BUTTONS);
}

int32_t MappedSlot(int32_t entry) { return g_KeyMap[entry]; }

int64_t Hold(int32_t slot) { return slot >= 0 && slot < KEY_SLOTS ? g_KeyState.mHoldFrames[slot] : 0; }
int64_t Presses(int32_t slot) { return slot >= 0 && slot < KEY_SLOTS ? g_KeyState.mPressCount[slot] : 0; }

// The key slot whose hold counter (press counter with `press`) variable v element k names.
int32_t KeyVariableSlot(int32_t v, int32_t k, bool* press) {
  *press = false;
  if (v == 134) return k >= 1 && k < KEY_SLOTS ? k : -1;
  if (v >= 137 && v <= 265) return MappedSlot(v - 137);
  if (v >= 266 && v <= 269) return AxisSlot(k, v - 266);
  if (v == 270) return ButtonSlot(k);
  *press = true;
  if (v >= 271 && v <= 399) return MappedSlot(v - 271);
  if (v >= 400 && v <= 403) return AxisSlot(k, v - 400);
  if (v == 404) return ButtonSlot(k);
  return -1;
}

uint32_t DroppedCount() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  return g_DroppedFiles.mCount;
}

void ReadDroppedFile(int32_t k, char* buffer) {
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    if (k >= 0 && (uint32_t)k < g_DroppedFiles.mCount && (uint32_t)k < g_DroppedFiles.mStored && g_DroppedFiles.mPaths) {
      CopyTextBounded(buffer, TEXT_VALUE_BYTES, g_DroppedFiles.mPaths[k]);
      return;
    }
  }
  // The message's box is shown on the main thread, which takes this lock for a drop: never
  // wait for it while holding the lock.
  ReportScriptError(MSG_NO_DROPPED_FILE, 1);
}

const char* CallText(int32_t v, int32_t k) {
  const CallFrame* f = CurrentFrame();
  if (!f) return "";
  if (v == 52) return ValueIndex(k, f->mArgCount) && f->mArgGiven[k] && f->mTextArgs[k] ? f->mTextArgs[k] : "";
  return ValueIndex(k, f->mReturnCount) && f->mReturnGiven[k] && f->mTextReturns[k] ? f->mTextReturns[k] : "";
}

// Copies a script's text into the message record, cut to the record's limits; output never
// reads past what was stored.
void StoreMessageText(const char* text, bool codes) {
  MessageRecord* m = g_Message;
  if (!m) return;
  if (!codes && m->mText) {
    CopyTextBounded(m->mText, MESSAGE_TEXT_LIMIT + 1, text);
    m->mTextLength = (int32_t)strlen(m->mText);
    if (m->mTextPos > m->mTextLength) m->mTextPos = m->mTextLength;
  } else if (codes && m->mCode) {
    size_t n = strnlen(text, MESSAGE_ENTRY_LIMIT);
    memcpy(m->mCode, text, n);
    m->mCode[n] = 0;
    m->mEntryCount = (int32_t)n;
    if (m->mCurrentEntry > m->mEntryCount) m->mCurrentEntry = m->mEntryCount;
  }
}

int NotWritable() {
  ReportScriptError(MSG_NOT_WRITABLE, 1);
  return -1;
}

int AssignSystemInt(int32_t v, int32_t k, int64_t value) {
  bool press;
  int32_t slot = KeyVariableSlot(v, k, &press);
  if (slot >= 0) {
    if (press) g_KeyState.mPressCount[slot] = value;
    else StoreSystemValue(slot, value);
    return 0;
  }
  switch (v) {
    case 15: {
      // The count may only shrink the list: every counted path must be one the list holds.
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      uint32_t n = (uint32_t)value;
      g_DroppedFiles.mCount = n < g_DroppedFiles.mStored ? n : g_DroppedFiles.mStored;
      return 0;
    }
    case 107: g_MaximizeClicked = (uint8_t)value; return 0;
    case 108: g_MinimizeClicked = (uint8_t)value; return 0;
    case 109: g_CloseRequested = (uint8_t)value; return 0;
    case 110: g_CaptionDoubleClicked = (uint8_t)value; return 0;
    case 122: g_MenuCommand = value; return 0;
    case 135: g_LastKeyDown = (int32_t)value; return 0;
    case 136: g_MouseClick = (uint8_t)value; return 0;
    default: break;
  }
  // Key variables whose element names no slot (a joystick past the last, key 0) change nothing.
  if (v == 134 || (v >= 137 && v <= 270) || (v >= 271 && v <= 404)) return 0;
  return NotWritable();
}

}  // namespace

void StoreSystemValue(int32_t slot, int64_t value) {
  if (slot < 0 || slot >= KEY_SLOTS) return;
  bool down = g_KeyState.mKeyEdge[slot] != 0;
  g_KeyState.mHoldFrames[slot] = down ? (value > 0 ? value : 0) : (value < 0 ? value : 0);
}

int64_t ReadSystemIntVariable(int32_t v, int32_t k) {
  // The loop counter and the call values are read in the loops of many scripts: they come
  // before the key variables (whose numbers they are not).
  switch (v) {
    case 48: return InnermostLoopCounter();
    case 50:
    case 53:
    case 54:
    case 57: return CallFrameValue(v, k);
    default: break;
  }
  bool press;
  int32_t slot = KeyVariableSlot(v, k, &press);
  if (slot >= 0) return press ? Presses(slot) : Hold(slot);
  if (v >= 405 && v <= 532) return MappedSlot(v - 405);
  if (v >= 533 && v <= 536) {
    int32_t s = AxisSlot(k, v - 533);
    return s < 0 ? 0 : s;
  }
  if (v == 537) {
    int32_t s = ButtonSlot(k);
    return s < 0 ? 0 : s;
  }
  switch (v) {
    case 0: return LocalTimeField(k);
    case 1: return k == 0 ? (int64_t)PlatGetTicks() : k >= 1 && k <= 4 ? ScriptTimer(k) : 0;
    case 2: return g_OsVersionCode;
    case 3: return g_DirectXVersion;
    case 4: return g_SoundEnabled;
    case 5:
    case 6:
    case 7: return MemoryFact(v);
    case 9: return g_ReadOnlyFolder;
    case 11: return g_DebugMode;
    case 13: return g_CommandArgCount;
    case 15: return DroppedCount();
    case 48: return InnermostLoopCounter();
    case 49: return 999;
    case 58: return TaskParamIndex(k) ? g_CurrentTask->mIntParams[k] : 0;
    case 98: return 480;
    case 99: return (int64_t)g_FrameCounter;
    case 100: return (int64_t)g_ScriptPassCounter;
    case 101: return ScriptTimer(1);
    case 102: return g_SaveLocation;
    case 103: return g_GpuSceneMode;
    case 104:
    case 105:
    case 106: return DesktopFact(v);
    case 107: return g_MaximizeClicked;
    case 108: return g_MinimizeClicked;
    case 109: return g_CloseRequested;
    case 110: return g_CaptionDoubleClicked;
    case 111: return g_UserFlag10;
    case 114: return g_ProjectValue;
    case 116: return g_TaskRoot ? g_TaskRoot->mChildCount : 0;
    case 122: return g_MenuCommand;
    case 123:
    case 124: return CursorOf(0, false);
    case 125:
    case 126:
    case 127: return CursorOf(v - 124, false);
    case 128:
    case 129: return CursorOf(0, true);
    case 130:
    case 131:
    case 132: return CursorOf(v - 129, true);
    case 135: return g_LastKeyDown;
    case 136: return g_MouseClick;
    default: return 0;
  }
}

double ReadSystemRealVariable(int32_t v, int32_t k) {
  const CallFrame* f = CurrentFrame();
  switch (v) {
    case 10: return PI;
    case 51: return f && ValueIndex(k, f->mArgCount) ? f->mRealArgs[k] : 0.0;
    case 55: return f && ValueIndex(k, f->mReturnCount) ? f->mRealReturns[k] : 0.0;
    case 59: return TaskParamIndex(k) ? g_CurrentTask->mRealParams[k] : 0.0;
    default: return 0.0;
  }
}

int ReadSystemStringVariable(int32_t v, int32_t k, char* buffer) {
  buffer[0] = 0;
  const char* text = "";
  switch (v) {
    case 12: text = k >= 0 && k < COMMAND_ARG_SLOTS ? g_CommandArgs[k] : ""; break;
    case 14: ReadDroppedFile(k, buffer); return 0;
    case 52:
    case 56: text = CallText(v, k); break;
    case 60:
      text = TaskParamIndex(k) && g_CurrentTask->mStringParams[k] ? g_CurrentTask->mStringParams[k] : "";
      break;
    case 93: text = g_ExeFolder; break;
    case 94: text = g_ProjectFolder; break;
    case 95: text = g_SaveFolder; break;
    case 96: text = g_AppDataFolder; break;
    case 97: text = g_DocumentsFolder; break;
    case 112: text = g_Message && g_Message->mText ? g_Message->mText : ""; break;
    case 113: text = g_Message && g_Message->mCode ? reinterpret_cast<const char*>(g_Message->mCode) : ""; break;
    case 115: text = g_CurrentTaskNode && g_CurrentTaskNode->mName ? g_CurrentTaskNode->mName : ""; break;
    case 117:
      buffer[0] = (char)(k > 0 && k < 256 ? k : 0);
      buffer[1] = 0;
      return 0;
    case 118: text = g_LayerFolder; break;
    case 119: text = g_SoundFolder; break;
    case 120: text = g_TaskFolder; break;
    case 121: text = g_MenuFolder; break;
    default: break;
  }
  CopyTextBounded(buffer, TEXT_VALUE_BYTES, text);
  return 0;
}

int AssignSystemVariable(int32_t v, int32_t element, const CommandArgument* value) {
  const VarRecord* var = GetVariable(v);
  if (!var) return NotWritable();
  if (var->mType == VAR_INT) {
    int64_t n = EvalArgumentInt(value);
    if (g_QuitFlag) return -1;
    return AssignSystemInt(v, element, n);
  }
  if (var->mType != VAR_STRING) return 0;   // real system variables take no value
  static char* text;
  if (!text && !(text = static_cast<char*>(malloc(TEXT_VALUE_BYTES)))) {
    ReportScriptError(100010, 1);
    return -1;
  }
  text[0] = 0;
  EvalArgumentString(value, text, TEXT_VALUE_BYTES, false);
  if (g_QuitFlag) return -1;
  switch (v) {
    case 112: StoreMessageText(text, false); return 0;
    case 113: StoreMessageText(text, true); return 0;
    case 118: CopyTextBounded(g_LayerFolder, OBJECT_PATH_BYTES, text); return 0;
    case 121: CopyTextBounded(g_MenuFolder, OBJECT_PATH_BYTES, text); return 0;
    default: return NotWritable();
  }
}
