// The sound thread: the command ring the script side posts into, the opcode handlers, the
// thread's passes with the background pause, the master node, start-up and the error box.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "sound/sound.h"

uint8_t g_SoundEnabled;
uint8_t g_SoundDevice;
uint8_t g_SoundsPausedInBackground;

NameNode** g_SoundRingNode;
uint8_t* g_SoundRingOpcode;
char (*g_SoundRingName)[SOUND_RING_NAME_BYTES];
int32_t* g_SoundRingValue;
uint8_t* g_SoundRingDone;
int32_t g_SoundRingRead;
int32_t g_SoundRingWrite;

namespace {

using SoundOpHandler = int (*)(int slot);
SoundOpHandler g_SoundOpHandlers[SOUND_OP_UNLOAD + 1];
uint8_t g_SoundErrorShown;     // under g_CriticalSection
int g_SoundPassError;          // the first failed pass's code; no later pass runs

// A post wakes the sound thread at once instead of leaving the entry to its next timed pass.
std::mutex g_SoundWakeLock;
std::condition_variable g_SoundWake;
bool g_SoundWakeRequested;

void WakeSoundThread() {
  {
    std::lock_guard<std::mutex> g(g_SoundWakeLock);
    g_SoundWakeRequested = true;
  }
  g_SoundWake.notify_one();
}

// The sound thread's rest between passes: `ms`, or less when a post comes first.
void RestUntilWoken(uint32_t ms) {
  std::unique_lock<std::mutex> g(g_SoundWakeLock);
  g_SoundWake.wait_for(g, std::chrono::milliseconds(ms), [] { return g_SoundWakeRequested; });
  g_SoundWakeRequested = false;
}

constexpr int SOUND_OUTPUT_RATE = 44100;

NameNode* SlotNode(int slot) { return g_SoundRingNode[slot]; }
SoundRecord* SlotRecord(int slot) { return static_cast<SoundRecord*>(g_SoundRingNode[slot]->mPayload); }

uint32_t Now() { return PlatGetTicks(); }

// Speed of a ramp in volume units x 1024 per ms; a fade of 0 ms reaches its target in 1 ms.
int32_t RampSlope(int64_t distance, int32_t fadeMs) {
  int64_t slope = distance * 1024;
  if (fadeMs != 0) slope /= fadeMs;
  return (int32_t)(slope > INT32_MAX ? INT32_MAX : slope < INT32_MIN ? INT32_MIN : slope);
}

// Silences a sound's buffer; for a group, re-applies what everything below it should sound.
void SilenceNode(NameNode* node) {
  if (node->mIsGroup) ApplyGroupVolume(node->mFirstChild);
  else SetBufferVolume(node, 0);
}

void ResetPlayback(SoundRecord* r) {
  r->mHalf = 1;
  r->mPlayedBytes = 0;
  r->mLastPlayCursor = 0;
  r->mCarryBytes = 0;
  r->mRampStartTime = Now();
  r->mRampEndTime = 0;
  r->mSilenceBytes = 0;
}

// Seeks to the start, fills the first half and starts the buffer with pan and pitch. A fade
// starts the buffer silent and the ramps raise it pass by pass. Without a fade the buffer
// starts at its volume: the output may take its first block before the next pass, and that
// block must already carry the sound's first frames.
int StartPlayback(NameNode* node, SoundRecord* r, int playFailure) {
  int result = SeekSound(r, r->mStartMs);
  if (result < 0) return result;
  r->mPlayedBytes = r->mStreamPos;
  r->mHalf = 1;
  r->mWriteOffset = 0;
  if ((result = FillNextHalf(r)) < 0) return result;
  if (r->mFadeMs == 0) {
    r->mRampFrom = r->mVolume = r->mTargetVolume;
    ApplyNodeVolume(node, r->mVolume);
  } else {
    r->mRampFrom = 0;
    SilenceNode(node);
  }
  ApplySoundPan(r, r->mPan);
  ApplySoundPitch(r, r->mPitch);
  if (!r->mBuffer) return -1;
  if (PlaySoundBuffer(r) < 0) return playFailure;
  r->mSlope = RampSlope(r->mTargetVolume, r->mFadeMs);
  r->mState = SOUND_STATE_RAMPING;
  return 1;
}

int SoundOpLoad(int slot) {
  NameNode* node = SlotNode(slot);
  SoundRecord* r = SlotRecord(slot);
  if (r->mState != SOUND_STATE_IDLE) {
    SilenceNode(node);
    UnloadSound(r);
    r->mState = SOUND_STATE_IDLE;
    return 0;
  }
  CopyTextBounded(r->mName, sizeof r->mName, g_SoundRingName[slot]);
  r->mLoopCount = 0;
  r->mHalf = 1;
  r->mPan = 256;
  r->mPitch = 256;
  r->mStartMs = r->mLoopStartMs = r->mLoopEndMs = 0;
  r->mPlayedBytes = 0;
  r->mWrapLoopStartMs = r->mWrapLoopEndMs = 0;
  int result = LoadSoundFile(r, node->mOrderKey);
  if (result < 0) return result;
  r->mState = SOUND_STATE_LOADED;
  return 1;
}

int SoundOpPlay(int slot) {
  NameNode* node = SlotNode(slot);
  SoundRecord* r = SlotRecord(slot);
  r->mFadeMs = g_SoundRingValue[slot];
  switch (r->mState) {
    case SOUND_STATE_IDLE: {
      if (!r->mName[0]) return 1;
      ResetPlayback(r);
      r->mStartMs = 0;
      int result = LoadSoundFile(r, node->mOrderKey);
      if (result < 0) return result;
      return StartPlayback(node, r, -110);
    }
    case SOUND_STATE_LOADED:
      ResetPlayback(r);
      if (r->mStartMs >= r->mLoopEndMs) r->mStartMs = 0;
      return StartPlayback(node, r, -120);
    case SOUND_STATE_RAMPING:
    case SOUND_STATE_PLAYING: {
      int64_t from = r->mState == SOUND_STATE_RAMPING ? r->mPrevTarget : r->mVolume;
      r->mRampStartTime = Now();
      r->mRampEndTime = 0;
      r->mRampFrom = r->mVolume;
      r->mSlope = RampSlope((int64_t)r->mTargetVolume - from, r->mFadeMs);
      r->mState = SOUND_STATE_RAMPING;
      return 1;
    }
    case SOUND_STATE_FADING_OUT: {
      // Start again from the beginning on the next pass, fading in to the volume it had.
      int32_t from = r->mRampFrom;
      r->mRampFrom = r->mTargetVolume;
      r->mTargetVolume = from;
      SilenceNode(node);
      UnloadSound(r);
      r->mState = SOUND_STATE_IDLE;
      return 0;
    }
    default:
      return 0;
  }
}

int SoundOpPause(int slot) {
  SlotRecord(slot)->mPaused = (uint8_t)g_SoundRingValue[slot];
  int result = SetSubtreePause(SlotNode(slot), g_SoundRingValue[slot]);
  return result < 0 ? result : 1;
}

int SoundOpFadeOut(int slot) {
  SoundRecord* r = SlotRecord(slot);
  if (r->mState == SOUND_STATE_IDLE || r->mState == SOUND_STATE_LOADED) return 1;
  r->mFadeMs = g_SoundRingValue[slot];
  int64_t from = r->mState == SOUND_STATE_RAMPING ? r->mPrevTarget : r->mVolume;
  r->mRampStartTime = Now();
  r->mRampEndTime = 0;
  r->mRampFrom = r->mVolume;
  r->mTargetVolume = 0;
  r->mSlope = RampSlope(-from, r->mFadeMs);
  r->mState = SOUND_STATE_FADING_OUT;
  return 1;
}

// Volumes below 0 mean silence; they are kept at 0 so the ramps and chains stay in range.
int32_t SlotVolume(int slot) { return g_SoundRingValue[slot] < 0 ? 0 : g_SoundRingValue[slot]; }

int SoundOpSetVolume(int slot) {
  SoundRecord* r = SlotRecord(slot);
  r->mVolume = r->mTargetVolume = r->mPrevTarget = SlotVolume(slot);
  ApplyNodeVolume(SlotNode(slot), r->mVolume);
  return 1;
}

int SoundOpSetTargetVolume(int slot) {
  SoundRecord* r = SlotRecord(slot);
  r->mPrevTarget = r->mTargetVolume;
  r->mTargetVolume = SlotVolume(slot);
  return 1;
}

int SoundOpSetLoopCount(int slot) {
  SoundRecord* r = SlotRecord(slot);
  if (r->mState != SOUND_STATE_IDLE) r->mLoopCount = g_SoundRingValue[slot];
  return 1;
}

int SoundOpSetLoopEnd(int slot) {
  SoundRecord* r = SlotRecord(slot);
  int32_t v = g_SoundRingValue[slot];
  if (r->mState != SOUND_STATE_IDLE) r->mLoopEndMs = v >= r->mLengthMs ? (int32_t)r->mLengthMs : v;
  return 1;
}

int SoundOpSetStart(int slot) {
  SoundRecord* r = SlotRecord(slot);
  int32_t v = g_SoundRingValue[slot];
  if (r->mState != SOUND_STATE_IDLE) r->mStartMs = v < r->mLengthMs ? v : 0;
  return 1;
}

int SoundOpSetLoopStart(int slot) {
  SoundRecord* r = SlotRecord(slot);
  int32_t v = g_SoundRingValue[slot];
  if (r->mState != SOUND_STATE_IDLE) r->mLoopStartMs = v < r->mLengthMs ? v : 0;
  return 1;
}

int SoundOpSetPan(int slot) {
  SoundRecord* r = SlotRecord(slot);
  if (r->mState == SOUND_STATE_IDLE) return 1;
  r->mPan = g_SoundRingValue[slot];
  ApplySoundPan(r, r->mPan);
  return 1;
}

int SoundOpSetPitch(int slot) {
  SoundRecord* r = SlotRecord(slot);
  if (r->mState == SOUND_STATE_IDLE) return 1;
  r->mPitch = g_SoundRingValue[slot];
  ApplySoundPitch(r, r->mPitch);
  return 1;
}

int SoundOpNop(int) { return 1; }

int SoundOpUnload(int slot) {
  SoundRecord* r = SlotRecord(slot);
  if (r->mState == SOUND_STATE_IDLE) return 1;
  r->mName[0] = 0;
  SilenceNode(SlotNode(slot));
  UnloadSound(r);
  r->mState = SOUND_STATE_IDLE;
  return 1;
}

// Pauses every sound while the game is in the background, as the inactive pause and the
// keep-running setting decide, and resumes them when it comes back.
int ApplyBackgroundPause() {
  NameNode* first = g_SoundRoot ? g_SoundRoot->mFirstChild : nullptr;
  // The frame step and the window's events change these while the pass runs: one look each.
  uint8_t active = g_WindowRecords[0] ? WindowIsActive(g_WindowRecords[0]) : 1;
  uint8_t pause = g_InactivePause, keepRunning = g_KeepRunningInactive;
  uint8_t& paused = g_SoundsPausedInBackground;
  int mode = -1;
  if (!keepRunning) {
    if (pause == 1) mode = 1;
    else if (!active && !paused) mode = 1;
    else if (!pause && active && paused) mode = 0;
  } else {
    if (pause == 1 && !paused) mode = 1;
    else if (!pause && paused) mode = 0;
  }
  if (mode < 0) return 0;
  paused = mode == 1 ? 1 : 0;
  return ApplySoundPauseToList(first, mode);
}

const char* const kTextNoBuffer = "エラー番号：%d\n\nサウンドバッファがありませんでした。";
const char* const kTextPlay = "エラー番号：%d\n\nサウンド再生エラーです。";
const char* const kTextCursor = "エラー番号：%d\n\nサウンド再生位置取得エラーです。";
const char* const kTextOggSeek = "エラー番号：%d\n\noggファイルをシークできませんでした。";
const char* const kTextOggOpen = "エラー番号：%d\n\noggファイルを正しく開けませんでした。";
const char* const kTextDsError = "エラー番号：%d\n\nDirectSoundバッファエラーです。";
const char* const kTextDsAlloc = "エラー番号：%d\n\nDirectSoundバッファが確保できませんでした。";
const char* const kTextDecode = "エラー番号：%d\n\noggデコードエラーです。";

struct SoundErrorEntry {
  int code;
  const char* text;
};

const SoundErrorEntry kSoundErrorTexts[] = {
    {-1, kTextNoBuffer},     {-310, kTextNoBuffer},   {-330, kTextNoBuffer},  {-410, kTextNoBuffer},
    {-430, kTextNoBuffer},   {-1010, kTextNoBuffer},  {-110, kTextPlay},      {-120, kTextPlay},
    {-440, kTextPlay},       {-320, kTextCursor},     {-340, kTextCursor},    {-420, kTextCursor},
    {-1020, "エラー番号：%d\n\nファイルが開けませんでした。"},
    {-1030, "エラー番号：%d\n\noggファイルとして正しく認識できませんでした。"},
    {-1040, "エラー番号：%d\n\nシークできないoggファイルでした。"},
    {-1045, "複数曲連結OGGには対応していません。"},
    {-1050, "エラー番号：%d\n\noggファイルの詳細を取得できませんでした。"},
    {-1060, kTextDsError},   {-1080, kTextDsError},   {-1070, kTextDsAlloc},  {-1090, kTextDsAlloc},
    {-1120, "エラー番号：%d\n\nDirectSoundバッファ作成エラーです。"},
    {-2020, kTextOggSeek},   {-3020, kTextOggSeek},   {-2010, kTextOggOpen},  {-3010, kTextOggOpen},
    {-3030, "エラー番号：%d\n\nサウンドバッファに書き込みできませんでした。"},
    {-3040, "エラー番号：%d\n\nサウンドバッファをロックできませんでした。"},
    {-3050, "エラー番号：%d\n\nサウンドバッファをアンロックできませんでした。"},
    {-90001, kTextDecode},   {-90002, kTextDecode},
};

const char* const kTextInternal =
    "エラー番号：%d\n\nサウンド関係で内部エラーが発生しました。処理を停止します。\n\n"
    "このエラーが発生した場合、宜しければエラー番号と一緒に\nシステム制作者までご報告いただけますと非常に助かります。";

void SoundThreadProc() {
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    g_SoundThreadFinished = 0;
  }
  for (;;) {
    bool pending;
    {
      // Posters move the ring's write index under the lock.
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      pending = g_SoundRingRead != g_SoundRingWrite;
    }
    RestUntilWoken(pending ? 3 : 20);
    int result = RunSoundPass();
    if (result < 0) ShowSoundError(result);
    if (result != 0) break;
  }
  ReleaseAllSounds();
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  g_SoundThreadFinished = 1;
}

// True while a waiter may still expect the sound thread to answer.
bool SoundThreadAnswers() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  return g_SoundThreadFinished == 0 && !g_QuitFlag && g_Running;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Records.

SoundRecord* CreateSoundRecord(NameNode* node) {
  SoundRecord* r = static_cast<SoundRecord*>(calloc(1, sizeof(SoundRecord)));
  if (!r) {
    ReportError(100010, 1);
    return nullptr;
  }
  r->mVolume = r->mTargetVolume = r->mPrevTarget = SOUND_VOLUME_FULL;
  r->mPan = 256;
  r->mPitch = 256;
  r->mEnabled = 1;
  r->mHalf = 1;
  if (node) node->mPayload = r;
  return r;
}

void FreeSoundRecord(SoundRecord* r) {
  if (!r) return;
  UnloadSound(r);
  free(r);
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown steps.

int CreateSoundTreeRoot() {
  if (!g_SoundRoot) {
    NameNode* root = AllocTreeRoot();
    if (!root) return -1;
    if (!CreateSoundRecord(root)) {
      FreeNodeShell(root);
      return -1;
    }
    g_SoundRoot = root;
  }
  CopyTextBounded(g_SoundFolder, sizeof g_SoundFolder, "S0");
  if (FindNodeByPath(g_SoundRoot, g_SoundFolder, NAME_LOOKUP_GROUP)) return 0;
  NameNode* folder = CreateTreeNode(g_SoundRoot, g_SoundFolder, true, 1);
  if (!folder || !CreateSoundRecord(folder)) return -1;
  return 0;
}

int InitDirectSound() {
  PlatAudioOpen(SOUND_OUTPUT_RATE);
  g_SoundDevice = 1;
  return 1;
}

void ReleaseDirectSound() {
  PlatAudioClose();
  g_SoundDevice = 0;
}

int InitSoundSystem() {
  if (InitSoundCommandRing() != 0) return -1;
  if (StartSoundThread() != 0) return -1;
  if (g_SoundEnabled && CreateSoundMasterNode() != 0) return -1;
  return 0;
}

int InitSoundCommandRing() {
  if (!g_SoundRingNode) {
    g_SoundRingNode = new (std::nothrow) NameNode*[SOUND_RING_SLOTS]();
    g_SoundRingOpcode = new (std::nothrow) uint8_t[SOUND_RING_SLOTS]();
    g_SoundRingName = new (std::nothrow) char[SOUND_RING_SLOTS][SOUND_RING_NAME_BYTES]();
    g_SoundRingValue = new (std::nothrow) int32_t[SOUND_RING_SLOTS]();
    g_SoundRingDone = new (std::nothrow) uint8_t[SOUND_RING_SLOTS]();
  }
  if (!g_SoundRingNode || !g_SoundRingOpcode || !g_SoundRingName || !g_SoundRingValue || !g_SoundRingDone) {
    ReportError(100010, 1);
    return -1;
  }
  g_SoundRingRead = g_SoundRingWrite = 0;
  g_SoundErrorShown = 0;
  g_SoundPassError = 0;
  g_SoundOpHandlers[SOUND_OP_LOAD] = SoundOpLoad;
  g_SoundOpHandlers[SOUND_OP_PLAY] = SoundOpPlay;
  g_SoundOpHandlers[SOUND_OP_PAUSE] = SoundOpPause;
  g_SoundOpHandlers[SOUND_OP_FADE_OUT] = SoundOpFadeOut;
  g_SoundOpHandlers[SOUND_OP_SET_VOLUME] = SoundOpSetVolume;
  g_SoundOpHandlers[SOUND_OP_SET_TARGET_VOLUME] = SoundOpSetTargetVolume;
  g_SoundOpHandlers[SOUND_OP_SET_LOOP_COUNT] = SoundOpSetLoopCount;
  g_SoundOpHandlers[SOUND_OP_SET_LOOP_END] = SoundOpSetLoopEnd;
  g_SoundOpHandlers[SOUND_OP_SET_START] = SoundOpSetStart;
  g_SoundOpHandlers[SOUND_OP_SET_LOOP_START] = SoundOpSetLoopStart;
  g_SoundOpHandlers[SOUND_OP_SET_PAN] = SoundOpSetPan;
  g_SoundOpHandlers[SOUND_OP_SET_PITCH] = SoundOpSetPitch;
  g_SoundOpHandlers[SOUND_OP_NOP] = SoundOpNop;
  g_SoundOpHandlers[SOUND_OP_UNLOAD] = SoundOpUnload;
  return 0;
}

int StartSoundThread() {
  {
    // Set before the thread exists, so a shutdown right after start-up waits for it.
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    g_SoundThreadFinished = 0;
  }
  // Shutdown waits for the finished flag, not for the thread object.
  std::thread(SoundThreadProc).detach();
  return 0;
}

int CreateSoundMasterNode() {
  NameNode* node;
  {
    // The sound thread is already walking the tree.
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    node = CreateTreeNode(g_SoundRoot, "ROOT", false, SOUND_MASTER_KEY);
    if (!node) return -1;
    SoundRecord* r = CreateSoundRecord(node);
    if (!r) return -1;
    CopyTextBounded(r->mName, sizeof r->mName, " ");
    r->mFormat = SOUND_FORMAT_WAVE;
  }
  if (PostSoundCommand(node, SOUND_OP_SET_VOLUME, 2, nullptr) < 0) return -1;
  if (PostSoundCommand(node, SOUND_OP_LOAD, 0, " ") < 0) return -1;
  if (PostSoundCommand(node, SOUND_OP_PLAY, 0, nullptr) < 0) return -1;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The ring.

namespace {

// Waits until `done` (looked at under the lock) holds. While entries are posted, the calling
// thread runs the sound thread's passes itself rather than sleeping until the thread's next
// one: every pass is the thread's own, so it makes no difference which thread runs it, and each
// pass finishes an entry or the first half of one that asks for another pass, so the ring
// empties. With nothing posted, what is awaited comes with time from the thread's passes, and
// the wait polls 1 ms apart. False when no thread can answer (not started, ended, the run
// quitting) or a pass fails, whose box is shown here.
template <typename Done>
bool RunPassesUntil(Done done) {
  for (;;) {
    int result = 0;
    bool posted;
    {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      if (done()) return true;
      if (!SoundThreadAnswers()) return false;
      posted = g_SoundRingRead != g_SoundRingWrite;
      if (posted) result = RunSoundPass();
    }
    if (result < 0) ShowSoundError(result);
    if (result != 0) return false;
    if (!posted) PlatSleep(1);
  }
}

}  // namespace

int PostSoundCommand(NameNode* node, uint8_t opcode, int32_t value, const char* name) {
  bool reported = false;
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      int32_t next = (g_SoundRingWrite + 1) % SOUND_RING_SLOTS;
      if (next != g_SoundRingRead) {
        int slot = g_SoundRingWrite;
        g_SoundRingNode[slot] = node;
        g_SoundRingOpcode[slot] = opcode;
        g_SoundRingValue[slot] = value;
        if (name) CopyTextBounded(g_SoundRingName[slot], SOUND_RING_NAME_BYTES, name);
        g_SoundRingDone[slot] = 0;
        g_SoundRingWrite = next;
        WakeSoundThread();
        return slot;
      }
    }
    if (!reported) {
      reported = true;
      ReportError(110200, 0);
    }
    if (!RunPassesUntil([] { return (g_SoundRingWrite + 1) % SOUND_RING_SLOTS != g_SoundRingRead; })) return -1;
  }
}

bool WaitSoundCommand(int slot) {
  if (slot < 0) return false;
  return RunPassesUntil([slot] { return g_SoundRingDone[slot] != 0; });
}

bool WaitSoundIdle(SoundRecord* r) {
  return RunPassesUntil([r] { return r->mState == SOUND_STATE_IDLE; });
}

bool SettleSoundCommands() {
  return RunPassesUntil([] { return g_SoundRingRead == g_SoundRingWrite; });
}

int RunSoundCommands() {
  while (g_SoundRingRead != g_SoundRingWrite) {
    int slot = g_SoundRingRead;
    uint8_t op = g_SoundRingOpcode[slot];
    // Entries without a node or with an unknown opcode have nothing to do.
    if (g_SoundRingNode[slot] && g_SoundRingNode[slot]->mPayload && op >= SOUND_OP_LOAD && op <= SOUND_OP_UNLOAD) {
      int result = g_SoundOpHandlers[op](slot);
      if (result < 0) return result;
      if (result == 0) return 0;
    }
    g_SoundRingDone[slot] = 1;
    g_SoundRingRead = (slot + 1) % SOUND_RING_SLOTS;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The thread.

int RunSoundPass() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  if (g_SoundPassError) return g_SoundPassError;
  NameNode* first = g_SoundRoot ? g_SoundRoot->mFirstChild : nullptr;
  int result = ApplyBackgroundPause();
  if (result >= 0) result = RunSoundCommands();
  if (result >= 0) {
    UpdateVolumeRamps(first);
    result = TrackSoundPositions(first);
  }
  if (result >= 0) result = RefillSoundBuffers(first);
  if (result < 0) return g_SoundPassError = result;
  return g_QuitFlag || !g_Running ? 1 : 0;
}

void ReleaseAllSounds() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  PlatSleep(20);
  ForEachSoundNode(g_SoundRoot ? g_SoundRoot->mFirstChild : nullptr,
                   [](NameNode* node, void*) {
                     if (SoundRecord* r = static_cast<SoundRecord*>(node->mPayload)) UnloadSound(r);
                     return 0;
                   },
                   nullptr);
}

const char* SoundErrorText(int code) {
  for (const SoundErrorEntry& t : kSoundErrorTexts)
    if (t.code == code) return t.text;
  return kTextInternal;
}

void ShowSoundError(int code) {
  {
    // The sound thread and a command that ran a pass itself may both come here.
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    if (g_SoundErrorShown) return;
    g_SoundErrorShown = 1;
  }
  char text[MESSAGE_TEXT_BYTES];
  snprintf(text, sizeof text, SoundErrorText(code), code < 0 ? -code : code);
  PlatMessageBox("DEBUG Message", text, PLAT_MB_OK);
  g_QuitFlag = 1;
}
