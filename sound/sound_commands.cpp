// The sound commands: create, load, set up, play, fade, pause and resume sounds and groups;
// delete them; query one property. They change playback only through the ring.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/audio.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "sound/sound.h"

namespace {

constexpr int CMD_SOUND = 78;
constexpr int CMD_SOUND_DELETE = 79;
constexpr int CMD_SOUND_QUERY = 80;

// Argument n of the current command (numbered from 1), 0 when the script left it out.
int Arg(int n) { return ParamPosition(n - 1); }
int32_t ArgInt(int pos) { return (int32_t)g_ArgInteger[pos]; }

SoundRecord* RecordOf(NameNode* node) { return static_cast<SoundRecord*>(node->mPayload); }

const char* CommandName(int code) {
  return code < g_CommandDefCount && g_CommandDefs[code].mName ? g_CommandDefs[code].mName : "";
}

// The node the command names: arguments 1 and 2 joined and normalised against the current
// sound folder. Returns false after a failed normalisation; `node` is null when it is missing.
struct SoundName {
  char path[OBJECT_PATH_BYTES];
  bool group;
  NameNode* node;
};

bool FindSoundByArguments(SoundName* out) {
  int name = Arg(1), number = Arg(2);
  char joined[OBJECT_PATH_BYTES];
  const char* text = name && g_ArgString[name] ? g_ArgString[name] : "";
  if (number) snprintf(joined, sizeof joined, "%s.%d", text, ArgInt(number));
  else CopyTextBounded(joined, sizeof joined, text);
  int32_t kind = NormalizeObjectPath(out->path, joined, g_SoundFolder, false);
  if (kind < 0) return false;
  out->group = kind == 1 && !number;
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  out->node = FindNodeByPath(g_SoundRoot, out->path, out->group ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);
  return true;
}

// A new sound or group with its record; linked under the lock, since the sound thread walks
// the tree during its passes.
NameNode* CreateSoundNode(const SoundName& name) {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  NameNode* node = CreateTreeNode(g_SoundRoot, name.path, name.group, 1);
  if (!node) return nullptr;
  if (!CreateSoundRecord(node)) {
    UnlinkNode(node);
    FreeNodeShell(node);
    return nullptr;
  }
  return node;
}

uint8_t StateOf(SoundRecord* r) {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  return r->mState;
}

// Posts and, when asked, waits for the entry; false when the run is ending under the wait.
bool PostAndWait(NameNode* node, uint8_t op, int32_t value, const char* name, bool wait) {
  int slot = PostSoundCommand(node, op, value, name);
  if (slot < 0) return false;
  return !wait || WaitSoundCommand(slot);
}

// Argument 4: unload what the sound holds, resolve the file and load it. 1 loaded, 0 no such
// file (not an error), -1 error.
int AssignSoundFile(NameNode* node, SoundRecord* r, int fileArg) {
  if (StateOf(r) != SOUND_STATE_IDLE && !PostAndWait(node, SOUND_OP_UNLOAD, 0, nullptr, true)) return -1;
  char name[TEXT_VALUE_BYTES];
  CopyTextBounded(name, sizeof name, g_ArgString[fileArg] ? g_ArgString[fileArg] : "");
  char resolved[MAX_PATH_BYTES + 1] = {0};
  FileLocation location{};
  int found = ResolveResourceFile(&location, resolved, name, RESOURCE_SOUND);
  if (found < 0) return -1;
  if (found > 0) return 0;
  uint8_t format = location.mType == FILE_TYPE_WAV ? SOUND_FORMAT_WAVE : location.mType == FILE_TYPE_OGG ? SOUND_FORMAT_OGG : 0;
  if (!format) {
    ReportScriptErrorF(100030, 1, CommandName(CMD_SOUND), resolved);
    return -1;
  }
  // The ring carries at most 255 bytes of name; a longer one cannot be loaded as it is.
  if (strlen(resolved) >= SOUND_RING_NAME_BYTES) {
    ReportScriptErrorF(104010, 1, resolved);
    return -1;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    r->mFormat = format;
  }
  return PostAndWait(node, SOUND_OP_LOAD, 0, resolved, true) ? 1 : -1;
}

}  // namespace

int CmdSound() {
  if (DecodeCommandArguments(CMD_SOUND) != 0) return -1;
  if (!g_SoundEnabled) return 0;
  SoundName name;
  if (!FindSoundByArguments(&name)) return -1;
  int file = Arg(4);
  NameNode* node = name.node;
  if (!node) {
    if (!name.group && !file) return 0;
    if (name.group && file) {
      ReportScriptErrorF(101292, 1, CommandName(CMD_SOUND));
      return -1;
    }
    if (!(node = CreateSoundNode(name))) return -1;
  }
  SoundRecord* r = RecordOf(node);
  if (file) {
    int loaded = AssignSoundFile(node, r, file);
    if (loaded <= 0) return loaded;
  }
  if (int a = Arg(3)) {
    int32_t volume;
    {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      r->mEnabled = (uint8_t)ArgInt(a);
      volume = r->mVolume;
    }
    if (!PostAndWait(node, SOUND_OP_SET_VOLUME, volume, nullptr, false)) return -1;
  }
  struct Setting {
    int arg;
    uint8_t op;
  };
  const Setting settings[] = {{8, SOUND_OP_SET_START},     {9, SOUND_OP_SET_LOOP_START}, {10, SOUND_OP_SET_LOOP_END},
                              {11, SOUND_OP_SET_LOOP_COUNT}, {13, SOUND_OP_SET_PAN},       {14, SOUND_OP_SET_PITCH},
                              {15, SOUND_OP_NOP}};
  for (const Setting& s : settings) {
    int a = Arg(s.arg);
    if (!a) continue;
    if (s.arg == 11) {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      r->mLoopsWanted = ArgInt(a);
    }
    if (!PostAndWait(node, s.op, ArgInt(a), nullptr, false)) return -1;
  }
  int play = Arg(5);
  if (int a = Arg(12))
    if (!PostAndWait(node, play ? SOUND_OP_SET_TARGET_VOLUME : SOUND_OP_SET_VOLUME, ArgInt(a), nullptr, false)) return -1;
  // Neither a play nor a fade-out waits: the woken sound thread starts it within the
  // millisecond, and a later query or waiting command first finishes what is still posted.
  if (play) {
    int fade = Arg(7) ? ArgInt(Arg(7)) : 0;
    if (!PostAndWait(node, ArgInt(play) == 1 ? SOUND_OP_PLAY : SOUND_OP_FADE_OUT, fade, nullptr, false)) return -1;
  }
  if (int a = Arg(6))
    if (!PostAndWait(node, SOUND_OP_PAUSE, ArgInt(a) == 1 ? 1 : 0, nullptr, true)) return -1;
  return 0;
}

int DeleteSound(NameNode* node) {
  // The ring runs in order: once this entry is done, nothing earlier still names the node,
  // and no later entry can, since the node is no longer in the tree.
  if (!PostAndWait(node, SOUND_OP_UNLOAD, 0, nullptr, true)) return -1;
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    UnlinkNode(node);
  }
  FreeSoundRecord(RecordOf(node));
  FreeNodeShell(node);
  return 0;
}

int DeleteSoundChildren(NameNode* group) {
  for (NameNode* child = group->mFirstChild; child;) {
    NameNode* next = child->mNext;
    if (child->mIsGroup && DeleteSoundChildren(child) < 0) return -1;
    if (DeleteSound(child) < 0) return -1;
    child = next;
  }
  return 0;
}

int DeleteSoundGroup(NameNode* group) {
  if (DeleteSoundChildren(group) < 0) return -1;
  return DeleteSound(group);
}

int CmdSoundDelete() {
  if (DecodeCommandArguments(CMD_SOUND_DELETE) != 0) return -1;
  SoundName name;
  if (!FindSoundByArguments(&name)) return -1;
  if (!name.node) return 0;
  int result = name.group ? DeleteSoundGroup(name.node) : DeleteSound(name.node);
  return result < 0 ? -1 : 0;
}

namespace {

// One property as the query stores it (arguments 3-24); false for the file name, which is text.
bool QueryValue(SoundRecord* r, int arg, int64_t* value) {
  switch (arg) {
    case 3: *value = r->mFormat > 0 ? 1 : 0; return true;
    case 4: *value = r->mEnabled; return true;
    case 5: *value = r->mState >= SOUND_STATE_RAMPING ? 1 : 0; return true;
    case 6: *value = r->mPaused; return true;
    case 7: *value = r->mVolume; return true;
    case 8: *value = r->mPan; return true;
    case 9: *value = r->mPitch; return true;
    case 11: *value = r->mFormat; return true;
    case 12: *value = r->mStartMs; return true;
    case 13: *value = r->mLoopStartMs; return true;
    case 14: *value = r->mLoopEndMs; return true;
    case 15: *value = r->mLoopsWanted; return true;
    case 16: *value = r->mLoopsDone; return true;
    case 17: *value = r->mBytesPerSecond ? r->mPlayedBytes * 1000 / r->mBytesPerSecond : 0; return true;
    case 18: *value = r->mLengthMs; return true;
    case 19: *value = r->mWaveFormat.mChannels; return true;
    case 20: *value = r->mWaveFormat.mBits; return true;
    case 21: *value = r->mWaveFormat.mRate; return true;
    case 22: *value = GetLeftOutputLevel(r); return true;
    case 23: *value = GetRightOutputLevel(r); return true;
    case 24: *value = r->mDataKind; return true;
    default: return false;
  }
}

}  // namespace

int CmdSoundQuery() {
  if (DecodeCommandArguments(CMD_SOUND_QUERY) != 0) return -1;
  SoundName name;
  if (!FindSoundByArguments(&name)) return -1;
  int target = Arg(25);
  if (!target) return 0;
  int32_t v = g_ArgReference[target];
  int64_t at = g_ArgRefElement[target];
  const VarRecord* var = GetVariable(v);
  if (!var || at < 0 || at >= var->mCount) return 0;
  int32_t element = (int32_t)at;
  if (!name.node) {
    if (var->mType == VAR_INT) StoreIntElement(v, element, 0);
    else if (var->mType == VAR_REAL) StoreRealElement(v, element, 0.0);
    else if (var->mType == VAR_STRING) StoreStringElement(v, element, "");
    return 0;
  }
  SoundRecord* r = RecordOf(name.node);
  // The answer reflects every command before this one, also those that did not wait.
  SettleSoundCommands();
  for (int a = 3; a <= 9; a++) {
    if (!Arg(a)) continue;
    int64_t value;
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    QueryValue(r, a, &value);
    StoreIntElement(v, element, value);
    return 0;
  }
  const int order[] = {11, 10, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  for (int a : order) {
    if (!Arg(a)) continue;
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    if (a == 10) {
      StoreStringElement(v, element, r->mName);
      continue;
    }
    if (a == 17 && r->mBytesPerSecond == 0 && var->mType == VAR_STRING) {
      ReportScriptError(101140, 1);
      return -1;
    }
    int64_t value;
    QueryValue(r, a, &value);
    StoreIntElement(v, element, value);
  }
  return 0;
}
