// Script threads: task start, end and query, and the task state text that restarts a thread.
#include "script/threads.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/layer.h"
#include "script/nametree.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_TASK_START = 84;
constexpr int CMD_TASK_END = 85;
constexpr int CMD_TASK_QUERY = 86;
constexpr int MAX_STATE_DEPTH = TASK_STACK_SLOTS - 1;

constexpr int32_t MSG_NO_MEMORY = 100010;
constexpr int32_t MSG_GROUP_TASK = 101293;
constexpr int32_t MSG_NO_TASK = 101400;
constexpr int32_t MSG_END_MAIN_TASK = 101420;
constexpr int32_t MSG_UNKNOWN_STATE_FILE = 102130;
constexpr int32_t MSG_MISSING_LABEL = 108180;

constexpr uint8_t kStateMagic[8] = {1, 2, 3, 4, 5, 6, 7, 8};

const char* CommandName(int code) { return g_CommandDefs[code].mName ? g_CommandDefs[code].mName : ""; }

// ---------------------------------------------------------------------------------------------
// State text: every number as letters 'a' + nibble, most significant nibble first.

void PutLetters(char* out, size_t* pos, uint32_t value, int letters) {
  for (int i = letters - 1; i >= 0; i--) out[(*pos)++] = (char)('a' + ((value >> (4 * i)) & 15));
}

struct StateReader {
  const char* text;
  size_t length;
  size_t pos;
  // The next `letters` letters as a number; false when the text ends first. Letters are
  // not checked: a wrong letter only gives a wrong number, which the bounds below catch.
  bool Take(int letters, uint32_t* out) {
    if (length - pos < (size_t)letters) return false;
    uint32_t v = 0;
    for (int i = 0; i < letters; i++) v = v << 4 | ((uint8_t)(text[pos + i] - 'a') & 15);
    pos += letters;
    *out = v;
    return true;
  }
};

// A decoded state before it is applied to a task.
struct DecodedState {
  uint8_t blockDepth, callDepth, loopDepth;
  BlockRecord blocks[MAX_STATE_DEPTH];
  struct {
    uint8_t blockDepth, loopDepth;
    int32_t returnPosition;
    uint16_t scriptFile;
  } frames[MAX_STATE_DEPTH];
  LoopRecord loops[MAX_STATE_DEPTH];
  uint32_t messageMark1;
  int32_t commandIndex;
  int32_t scriptFile;
};

// Script file n linked, or null when it cannot be.
const ScriptFileRecord* LinkedFile(int32_t n) {
  if (LoadScriptFile(n) != 1 || !g_ScriptFiles[n] || !g_ScriptFiles[n]->mLinked) return nullptr;
  return g_ScriptFiles[n];
}

// A resume or return position: a command of the file, or its end, where a task stands after
// the file's last command yielded (the runner then reports the end of the script).
bool PositionInFile(const ScriptFileRecord* file, int32_t position) {
  return file && position >= 0 && position <= file->mCommandCount;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

int32_t FindScriptFileNoCase(const char* name, size_t length) {
  for (int32_t n = 0; n < g_ScriptFileCount; n++) {
    const char* candidate = g_ScriptFileNames ? g_ScriptFileNames[n] : nullptr;
    if (!candidate || strlen(candidate) != length) continue;
    size_t i = 0;
    while (i < length && LowerAscii(candidate[i]) == LowerAscii(name[i])) i++;
    if (i == length) return n;
  }
  return -1;
}

template <typename T>
bool EnsureStackRecord(T** slot) {
  if (*slot) return true;
  *slot = static_cast<T*>(calloc(1, sizeof(T)));
  if (*slot) return true;
  ReportError(MSG_NO_MEMORY, 1);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Shared pieces of the three commands.

// Normalises the task name argument at `pos` into `path`. 0 leaf, 1 group, -1 error (reported).
int32_t TaskPath(int pos, char* path) {
  return NormalizeObjectPath(path, g_ArgString[pos] ? g_ArgString[pos] : "", g_TaskFolder, false);
}

bool NamedArgument(int pos) { return pos != 0 && g_ArgString[pos] && g_ArgString[pos][0] != 0; }

// The reference that argument `pos` names, false when not given or not an element.
bool OutputReference(int pos, int32_t* v, int32_t* element) {
  if (pos == 0 || g_ArgRefElement[pos] < 0 || g_ArgRefElement[pos] > INT32_MAX) return false;
  *v = g_ArgReference[pos];
  *element = (int32_t)g_ArgRefElement[pos];
  return true;
}

bool ElementInside(const VarRecord* var, int32_t element) { return element >= 0 && element < var->mCount; }

int32_t LineAt(const ScriptTask* task, int32_t command) {
  if (!task->mLines || command < 0 || command >= task->mCommandCount) return 0;
  return (int32_t)task->mLines[command];
}

const char* ScriptFileName(int32_t n) {
  if (!g_ScriptFileNames || n < 0 || n >= g_ScriptFileCount || !g_ScriptFileNames[n]) return "";
  return g_ScriptFileNames[n];
}

void ClearTaskParameters(ScriptTask* task) {
  for (int k = 0; k < CALL_VALUE_SLOTS; k++) {
    task->mIntParams[k] = 0;
    task->mRealParams[k] = 0.0;
    if (task->mStringParams[k]) task->mStringParams[k][0] = 0;
  }
}

// Applies the priority argument at `pos` to `key`; the arithmetic forms never go below 1.
int64_t ApplyPriority(int pos, int64_t key) {
  return ApplyAssignOpAtLeast(g_ArgOperator[pos], key, g_ArgInteger[pos], 1);
}

}  // namespace

int32_t EncodeTaskState(char* buffer, size_t size, const ScriptTask* task) {
  if (!buffer || !task) return -1;
  const char* name = ScriptFileName(task->mScriptFile);
  size_t nameLength = strlen(name);
  int blocks = task->mBlockDepth, calls = task->mCallDepth, loops = task->mLoopDepth;
  if (blocks > MAX_STATE_DEPTH || calls > MAX_STATE_DEPTH || loops > MAX_STATE_DEPTH) return -1;
  uint64_t need = 8 + 2 + 18ull * blocks + 2 + 20ull * calls + 2 + 34ull * loops + 24 + nameLength;
  if (need > size) return -1;
  size_t pos = 0;
  memcpy(buffer, kStateMagic, sizeof kStateMagic);
  pos += sizeof kStateMagic;
  PutLetters(buffer, &pos, (uint32_t)blocks, 2);
  for (int d = 0; d < blocks; d++) {
    const BlockRecord* b = task->mBlocks[d];
    PutLetters(buffer, &pos, b ? b->mLoopDepth : 0, 2);
    PutLetters(buffer, &pos, b ? (uint32_t)b->mOpener : 0, 8);
    PutLetters(buffer, &pos, b ? (uint32_t)b->mEnd : 0, 8);
  }
  PutLetters(buffer, &pos, (uint32_t)calls, 2);
  for (int d = 0; d < calls; d++) {
    const CallFrame* f = task->mFrames[d];
    PutLetters(buffer, &pos, f ? f->mBlockDepth : 0, 2);
    PutLetters(buffer, &pos, f ? f->mLoopDepth : 0, 2);
    PutLetters(buffer, &pos, f ? (uint32_t)f->mReturnPosition : 0, 8);
    PutLetters(buffer, &pos, f ? f->mScriptFile : 0, 8);
  }
  PutLetters(buffer, &pos, (uint32_t)loops, 2);
  for (int d = 0; d < loops; d++) {
    const LoopRecord* l = task->mLoops[d];
    PutLetters(buffer, &pos, l ? l->mBlockDepth : 0, 2);
    PutLetters(buffer, &pos, l ? (uint32_t)l->mStart : 0, 8);
    PutLetters(buffer, &pos, l ? (uint32_t)l->mEnd : 0, 8);
    PutLetters(buffer, &pos, l ? (uint32_t)l->mCounter : 0, 8);
    PutLetters(buffer, &pos, l ? (uint32_t)l->mLimit : 0, 8);
  }
  PutLetters(buffer, &pos, task->mMessageMark1, 8);
  PutLetters(buffer, &pos, (uint32_t)task->mCommandIndex, 8);
  PutLetters(buffer, &pos, (uint32_t)nameLength, 8);
  memcpy(buffer + pos, name, nameLength);
  pos += nameLength;
  return (int32_t)pos;
}

int32_t DecodeTaskState(const char* text, size_t length, ScriptTask* task) {
  if (!text || !task) return 0;
  if (length < sizeof kStateMagic || memcmp(text, kStateMagic, sizeof kStateMagic) != 0) {
    ReportError(MSG_BAD_TASK_STATE, 1);
    return 0;
  }
  // The text comes from save data: every depth, position and length is bounded before the
  // task is touched, and a text that breaks off anywhere is refused whole.
  static DecodedState s;
  memset(&s, 0, sizeof s);
  StateReader r{text, length, sizeof kStateMagic};
  uint32_t v = 0, w = 0, x = 0, y = 0, z = 0;
  bool ok = r.Take(2, &v) && v <= MAX_STATE_DEPTH;
  s.blockDepth = (uint8_t)v;
  for (int d = 0; ok && d < s.blockDepth; d++) {
    ok = r.Take(2, &v) && r.Take(8, &w) && r.Take(8, &x) && v <= MAX_STATE_DEPTH;
    s.blocks[d] = BlockRecord{(uint8_t)v, (int32_t)w, (int32_t)x};
  }
  ok = ok && r.Take(2, &v) && v <= MAX_STATE_DEPTH;
  s.callDepth = (uint8_t)v;
  for (int d = 0; ok && d < s.callDepth; d++) {
    ok = r.Take(2, &v) && r.Take(2, &w) && r.Take(8, &x) && r.Take(8, &y) && v <= MAX_STATE_DEPTH &&
         w <= MAX_STATE_DEPTH;
    s.frames[d].blockDepth = (uint8_t)v;
    s.frames[d].loopDepth = (uint8_t)w;
    s.frames[d].returnPosition = (int32_t)x;
    s.frames[d].scriptFile = (uint16_t)y;   // the last four letters of the field
  }
  ok = ok && r.Take(2, &v) && v <= MAX_STATE_DEPTH;
  s.loopDepth = (uint8_t)v;
  for (int d = 0; ok && d < s.loopDepth; d++) {
    ok = r.Take(2, &v) && r.Take(8, &w) && r.Take(8, &x) && r.Take(8, &y) && r.Take(8, &z) &&
         v <= MAX_STATE_DEPTH;
    s.loops[d] = LoopRecord{(uint8_t)v, (int32_t)w, (int32_t)x, (int64_t)(int32_t)y, (int64_t)(int32_t)z};
  }
  uint32_t nameLength = 0;
  ok = ok && r.Take(8, &s.messageMark1) && r.Take(8, &v) && r.Take(8, &nameLength) &&
       nameLength <= length - r.pos;
  if (!ok) {
    ReportError(MSG_BAD_TASK_STATE, 1);
    return 0;
  }
  s.commandIndex = (int32_t)v;
  size_t kept = nameLength < TASK_STATE_NAME_BYTES ? nameLength : TASK_STATE_NAME_BYTES;
  char name[TASK_STATE_NAME_BYTES + 1];
  memcpy(name, text + r.pos, kept);
  name[kept] = 0;
  r.pos += nameLength;
  s.scriptFile = FindScriptFileNoCase(name, strlen(name));
  if (s.scriptFile < 0) {
    ReportErrorF(MSG_UNKNOWN_STATE_FILE, 1, CommandName(CMD_TASK_START), name);
    return 0;
  }
  // Positions the task goes to are bounded by their files: where it resumes, and where each
  // return lands. Block and loop records are taken as they stand: a jump into a block or loop
  // keeps whatever record its depth had, and a return leaves records made in the file it came
  // from, so a record names no command a decoder could check. The block and loop commands
  // follow a record only onto a command of its own kind, which is what stops a forged one.
  bool sound = PositionInFile(LinkedFile(s.scriptFile), s.commandIndex);
  for (int d = 0; sound && d < s.callDepth; d++) {
    int32_t caller = s.frames[d].scriptFile;
    sound = caller < g_ScriptFileCount && PositionInFile(LinkedFile(caller), s.frames[d].returnPosition);
  }
  if (!sound) {
    ReportError(MSG_BAD_TASK_STATE, 1);
    return 0;
  }
  // Leaving a block or loop restores the depths its record kept: their records must exist too.
  int blockRecords = s.blockDepth, loopRecords = s.loopDepth;
  for (int d = 0; d < s.blockDepth; d++)
    if (s.blocks[d].mLoopDepth > loopRecords) loopRecords = s.blocks[d].mLoopDepth;
  for (int d = 0; d < s.loopDepth; d++)
    if (s.loops[d].mBlockDepth > blockRecords) blockRecords = s.loops[d].mBlockDepth;
  for (int d = 0; d <= blockRecords; d++)
    if (!EnsureStackRecord(&task->mBlocks[d])) return 0;
  for (int d = 0; d <= s.callDepth; d++)
    if (!EnsureStackRecord(&task->mFrames[d])) return 0;
  for (int d = 0; d <= loopRecords; d++)
    if (!EnsureStackRecord(&task->mLoops[d])) return 0;
  task->mBlockDepth = s.blockDepth;
  for (int d = 0; d < s.blockDepth; d++) *task->mBlocks[d] = s.blocks[d];
  task->mCallDepth = s.callDepth;
  for (int d = 0; d < s.callDepth; d++) {
    CallFrame* f = task->mFrames[d];
    f->mBlockDepth = s.frames[d].blockDepth;
    f->mLoopDepth = s.frames[d].loopDepth;
    f->mReturnPosition = s.frames[d].returnPosition;
    f->mScriptFile = s.frames[d].scriptFile;
    // The call's line is not kept in the text: the line table of the caller's file has it.
    const ScriptFileRecord* caller = g_ScriptFiles[f->mScriptFile];
    int32_t site = f->mReturnPosition - 1;
    f->mLine = caller->mLines && site >= 0 && site < caller->mCommandCount ? (int32_t)caller->mLines[site] : 0;
  }
  task->mLoopDepth = s.loopDepth;
  for (int d = 0; d < s.loopDepth; d++) *task->mLoops[d] = s.loops[d];
  task->mMessageMark1 = s.messageMark1;
  task->mCommandIndex = s.commandIndex;
  task->mScriptFile = (uint16_t)s.scriptFile;
  return (int32_t)r.pos;
}

int CmdTaskStart() {
  if (DecodeCommandArguments(CMD_TASK_START) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  path[0] = 0;
  NameNode* node = g_CurrentTaskNode;
  int namePos = ParamPosition(0);
  if (NamedArgument(namePos)) {
    int32_t kind = TaskPath(namePos, path);
    if (kind < 0) return -1;
    if (kind == 1) {
      ReportScriptErrorF(MSG_GROUP_TASK, 1, CommandName(CMD_TASK_START), path);
      return -1;
    }
    node = FindNodeByPath(g_TaskRoot, path, NAME_LOOKUP_LEAF);
  } else if (node) {
    CopyTextBounded(path, sizeof path, node->mName ? node->mName : "");
  }
  int priorityPos = ParamPosition(3);
  int64_t key = 1;
  if (priorityPos) {
    key = ApplyPriority(priorityPos, node ? (int64_t)(int32_t)node->mOrderKey : 1);
    if (node) SetNodePriority(node, key);
  }
  int labelPos = ParamPosition(34);
  if (!node && (!labelPos || !NamedArgument(namePos))) {
    ReportScriptErrorF(MSG_NO_TASK, 1, CommandName(CMD_TASK_START), path);
    return -1;
  }
  ScriptTask* task = node ? static_cast<ScriptTask*>(node->mPayload) : nullptr;
  if (labelPos) {
    const char* label = g_ArgString[labelPos] ? g_ArgString[labelPos] : "";
    int32_t index = FindLabel(label, strlen(label));
    if (index < 0) {
      ReportScriptErrorF(MSG_MISSING_LABEL, 1, label);
      return -1;
    }
    if (!node) {
      node = CreateTreeNode(g_TaskRoot, path, false, key);
      if (!node) return -1;
    }
    if (!task && !(task = AttachTaskRecord(node))) return -1;
    const LabelRecord& at = g_Labels.mRecords[index];
    task->mCommandIndex = at.mPosition;
    if (!SwitchTaskFile(task, at.mScriptFile)) return -1;
    ClearTaskParameters(task);
    for (int k = 1; k <= 10; k++) {
      int p = ParamPosition(3 + k);
      if (p) task->mIntParams[k] = g_ArgInteger[p];
      int q = ParamPosition(13 + k);
      if (q) task->mRealParams[k] = (double)g_ArgInteger[q];
    }
  }
  if (!task) {
    ReportScriptErrorF(MSG_NO_TASK, 1, CommandName(CMD_TASK_START), path);
    return -1;
  }
  if (int p = ParamPosition(1)) task->mRunFlag1 = (uint8_t)g_ArgInteger[p];
  if (int p = ParamPosition(2)) task->mRunFlag2 = (uint8_t)g_ArgInteger[p];
  if (int p = ParamPosition(35)) {
    const char* state = g_ArgString[p] ? g_ArgString[p] : "";
    uint16_t before = task->mScriptFile;
    if (DecodeTaskState(state, strlen(state), task) == 0) return -1;
    if ((task->mScriptFile != before || !task->mHandlers) && !SwitchTaskFile(task, task->mScriptFile)) return -1;
  }
  if (ParamPosition(37)) {
    g_ExtraPassRequest = 1;
    if (priorityPos) SetNodePriority(node, ApplyPriority(priorityPos, key));
  }
  return 0;
}

int CmdTaskEnd() {
  if (DecodeCommandArguments(CMD_TASK_END) != 0) return -1;
  int namePos = ParamPosition(0);
  NameNode* running = g_CurrentTaskNode;
  if (!NamedArgument(namePos)) {
    const ScriptTask* task = g_CurrentTask;
    if (!running || !task || task->mIsMain) {
      ReportScriptErrorF(MSG_END_MAIN_TASK, 1, CommandName(CMD_TASK_END));
      return -1;
    }
    EndTaskNode(running);
    return -1;
  }
  char path[OBJECT_PATH_BYTES];
  if (TaskPath(namePos, path) < 0) return -1;
  if (strcmp(path, "SYSTEM") == 0) {
    ReportScriptErrorF(MSG_END_MAIN_TASK, 1, CommandName(CMD_TASK_END));
    return -1;
  }
  NameNode* node = FindNodeByPath(g_TaskRoot, path, NAME_LOOKUP_LEAF);
  if (!node) {
    ReportScriptErrorF(MSG_NO_TASK, 1, CommandName(CMD_TASK_END), path);
    return -1;
  }
  EndTaskNode(node);
  // A task that shares the running task's name ends the running task's turn as well.
  bool sameName = running && running->mName && node->mName && strcmp(running->mName, node->mName) == 0;
  return sameName ? -1 : 0;
}

int CmdTaskQuery() {
  if (DecodeCommandArguments(CMD_TASK_QUERY) != 0) return -1;
  int32_t v, element;
  if (!OutputReference(ParamPosition(1), &v, &element)) return 0;
  VarRecord* var = GetVariable(v);
  if (!var) return 0;
  NameNode* node = g_CurrentTaskNode;
  int namePos = ParamPosition(0);
  if (NamedArgument(namePos)) {
    char path[OBJECT_PATH_BYTES];
    if (TaskPath(namePos, path) < 0) return -1;
    node = FindNodeByPath(g_TaskRoot, path, NAME_LOOKUP_LEAF);
  }
  const ScriptTask* task = node ? static_cast<const ScriptTask*>(node->mPayload) : nullptr;
  if (!task) {
    if (!ElementInside(var, element)) return 0;
    if (var->mType == VAR_STRING) StoreStringElement(v, element, "");
    else if (var->mType == VAR_INT || var->mType == VAR_REAL) StoreIntElement(v, element, 0);
    return 0;
  }
  int32_t command = task == g_CurrentTask ? g_CurrentCommand : task->mCommandIndex - 1;
  int32_t line = LineAt(task, command);
  int32_t outerFile = task->mScriptFile, outerLine = line;
  if (task->mCallDepth > 0 && task->mFrames[0]) {
    outerFile = task->mFrames[0]->mScriptFile;
    outerLine = task->mFrames[0]->mLine;
  }
  const int selectors[] = {2, 3, 4, 5, 6, 9, 8, 11, 12, 13, 16, 17, 18, 7};
  for (int id : selectors) {
    if (!ParamPosition(id)) continue;
    if (id == 6 || id == 9) {
      if (var->mType == VAR_STRING)
        StoreStringElement(v, element, ScriptFileName(id == 6 ? task->mScriptFile : outerFile));
      return 0;
    }
    int64_t value = 0;
    switch (id) {
      case 2: value = 1; break;
      case 3: value = task->mRunFlag1; break;
      case 4: value = task->mRunFlag2; break;
      case 5: value = node->mOrderKey; break;
      case 8: value = line; break;
      case 11: value = outerLine; break;
      case 12: value = task->mMessageMark1; break;
      case 13: value = task->mMessageMark2; break;
      case 16: value = task->mBlockDepth; break;
      case 17: value = task->mCallDepth; break;
      case 18: value = task->mLoopDepth; break;
      default: value = task->mScriptFile; break;
    }
    StoreIntElement(v, element, value);
    return 0;
  }
  if (ParamPosition(10)) StoreIntElement(v, element, outerFile);
  if (ParamPosition(19)) {
    static char state[TASK_STATE_MAX_BYTES];
    int32_t length = EncodeTaskState(state, sizeof state, task);
    // A text value holds fewer bytes than the deepest state: such a state is refused rather
    // than stored cut, which could never be restored.
    if (length < 0 || length >= TEXT_VALUE_BYTES) {
      ReportScriptError(MSG_TASK_STATE_TOO_LONG, 1);
      return -1;
    }
    StoreStringElementN(v, element, state, (size_t)length);
  }
  return 0;
}
