// The sound subsystem's exports: the per-sound record, the command ring that the script side
// posts into, the sound thread's pass, streaming playback and the sound data decoders.
#pragma once

#include <cstddef>
#include <cstdint>

struct NameNode;
struct PlatSoundBuffer;

// ---------------------------------------------------------------------------------------------
// Records.

enum : uint8_t {
  SOUND_STATE_IDLE = 0,
  SOUND_STATE_LOADED = 1,
  SOUND_STATE_RAMPING = 2,
  SOUND_STATE_PLAYING = 3,
  SOUND_STATE_FADING_OUT = 4,
};

enum : uint8_t { SOUND_FORMAT_OGG = 1, SOUND_FORMAT_WAVE = 2 };
enum : uint8_t { SOUND_DATA_PCM = 0, SOUND_DATA_OGG = 1, SOUND_DATA_CONVERTED = 2 };

constexpr int SOUND_NAME_BYTES = 261;
constexpr int SOUND_CARRY_BYTES = 4096;
constexpr int SOUND_CHUNK_BYTES = 4096;
constexpr int64_t SOUND_MASTER_KEY = 999999999;
constexpr int32_t SOUND_VOLUME_FULL = 256;

// The PCM format of a sound's buffer (tag 1).
struct SoundWaveFormat {
  uint16_t mTag;
  uint16_t mChannels;
  uint32_t mRate;
  uint32_t mBytesPerSecond;
  uint16_t mBlockAlign;
  uint16_t mBits;
};

// The payload of every sound and group node. Times are PlatGetTicks milliseconds; volumes run
// 0..256. Written by the sound thread under g_CriticalSection, read by queries under it.
struct OggStream;

struct SoundRecord {
  char mName[SOUND_NAME_BYTES];   // file name; empty: nothing to play
  uint8_t mFormat;                // SOUND_FORMAT_*
  uint8_t mEnabled;               // 1 on; anything else silences the node and its subtree
  uint8_t mDataKind;              // SOUND_DATA_*
  uint8_t mState;                 // SOUND_STATE_*
  uint8_t mPaused;
  int32_t mLoopsWanted;           // passes to play before stopping, 0 endless
  int32_t mLoopsDone;
  int32_t mLoopCount;             // passes the decoder may still start, 0 endless
  int64_t mPlayedBytes;           // stream byte position of the play cursor
  int64_t mLengthMs;
  int32_t mStartMs;
  int32_t mLoopStartMs;
  uint32_t mPauseTime;            // 0 while not paused
  int32_t mLoopEndMs;
  int32_t mWrapLoopStartMs;       // loop bounds the decoder used at its last jump back
  int32_t mWrapLoopEndMs;         // 0 none
  int32_t mPan;                   // 0..512, 256 centre
  int32_t mPitch;                 // 0..512, 256 the file's own rate
  int32_t mVolume;
  int32_t mRampFrom;
  int32_t mTargetVolume;
  int32_t mPrevTarget;
  int32_t mFadeMs;
  int32_t mSlope;                 // volume units x 1024 per ms
  uint32_t mRampStartTime;
  uint32_t mRampEndTime;          // 0 while the ramp runs
  uint8_t* mImage;                // the whole file (or the converted PCM), owned
  uint64_t mImageHeld;            // what mImage counts against the script memory budget
  uint8_t* mStaging;              // half the buffer + SOUND_CARRY_BYTES, owned
  uint8_t* mCarry;                // SOUND_CARRY_BYTES, owned
  int32_t mWriteOffset;           // 0 or half the buffer: where the next fill goes
  uint32_t mLastPlayCursor;
  int32_t mStreamPos;             // decoder position from the stream start, negative in silence
  uint8_t mHalf;                  // 1 or 2: the half filled last
  int32_t mDecoderPos;            // Ogg: PCM sample; WAV: byte offset in the PCM data
  int32_t mCarryBytes;
  int64_t mSilenceBytes;          // leading silence still to emit
  int64_t mBytesPerSecond;
  PlatSoundBuffer* mBuffer;       // owned
  int32_t mMemPos;                // read position of the Ogg memory reader
  OggStream* mOggStream;          // Ogg: the decoder kept open between refills, owned
  int32_t mImageSize;
  const uint8_t* mPcm;            // WAV: start of the PCM data inside mImage
  int32_t mPcmSize;
  uint32_t mBufferBytes;          // one second of PCM
  SoundWaveFormat mWaveFormat;
};

// A zeroed record with the defaults (volume, targets 256, pan 256, enabled); null after the
// fatal message 100010. The caller stores it as the node's payload.
SoundRecord* CreateSoundRecord(NameNode* node);
// Frees what a record owns (buffer, areas, image) and the record itself.
void FreeSoundRecord(SoundRecord* r);

// ---------------------------------------------------------------------------------------------
// The command ring and the sound thread.

enum SoundOpcode : uint8_t {
  SOUND_OP_LOAD = 1,
  SOUND_OP_PLAY = 2,
  SOUND_OP_PAUSE = 3,
  SOUND_OP_FADE_OUT = 4,
  SOUND_OP_SET_VOLUME = 5,
  SOUND_OP_SET_TARGET_VOLUME = 6,
  SOUND_OP_SET_LOOP_COUNT = 7,
  SOUND_OP_SET_LOOP_END = 8,
  SOUND_OP_SET_START = 9,
  SOUND_OP_SET_LOOP_START = 10,
  SOUND_OP_SET_PAN = 11,
  SOUND_OP_SET_PITCH = 12,
  SOUND_OP_NOP = 13,
  SOUND_OP_UNLOAD = 14,
};

constexpr int SOUND_RING_SLOTS = 1024;
constexpr int SOUND_RING_NAME_BYTES = 256;

extern NameNode** g_SoundRingNode;
extern uint8_t* g_SoundRingOpcode;
extern char (*g_SoundRingName)[SOUND_RING_NAME_BYTES];
extern int32_t* g_SoundRingValue;
extern uint8_t* g_SoundRingDone;
extern int32_t g_SoundRingRead;
extern int32_t g_SoundRingWrite;
extern uint8_t g_SoundsPausedInBackground;
extern uint8_t g_SoundDevice;     // 1 while the sound output is open

int InitSoundCommandRing();
// Posts one entry, wakes the sound thread and returns the slot. A full ring reports 110200
// once and then runs the thread's passes itself until a slot is free, so no entry is lost; -1
// when the sound thread has finished or the run is quitting.
int PostSoundCommand(NameNode* node, uint8_t opcode, int32_t value, const char* name);
// Until the slot is done, runs the sound thread's passes on the calling thread rather than
// sleeping until the thread gets to it. False when the thread has not started or has
// finished, the run is quitting, or a pass fails (its box is shown).
bool WaitSoundCommand(int slot);
// Until the record is idle: the passes while entries are posted, then polls 1 ms apart for
// the thread's passes to end the sound (a fade-out, the last pass played).
bool WaitSoundIdle(SoundRecord* r);
// The same until every posted entry is done: what the script reads next reflects everything
// it has asked for, without waiting on the sound thread.
bool SettleSoundCommands();

int StartSoundThread();
// One pass of the sound thread over its ring and its sounds (steps under the lock):
// 0 go on, 1 the run is quitting, negative a sound error code. Tests call it directly.
int RunSoundPass();
int RunSoundCommands();
void ReleaseAllSounds();
int CreateSoundMasterNode();
// The box of a sound error code, shown once; it sets the quit flag.
void ShowSoundError(int code);
// The text that box shows for a code (UTF-8).
const char* SoundErrorText(int code);

// ---------------------------------------------------------------------------------------------
// Streaming playback (sound thread, under the lock).

int CreateStreamBuffer(SoundRecord* r, int channels, int rate, int bytesPerSecond, int blockAlign, int bits);
int RefillSoundBuffers(NameNode* first);
int FillNextHalf(SoundRecord* r);
int TrackSoundPositions(NameNode* first);
void UpdateVolumeRamps(NameNode* first);
// DirectSound-style conversions of the record scales (volume 0..256, pan and pitch 0..512).
int32_t VolumeToHundredthsDb(int32_t v);
int32_t PanToHundredthsDb(int32_t p);
uint32_t PitchToFrequency(int32_t p, uint32_t rate);
void SetBufferVolume(NameNode* node, int32_t v);
int32_t GetEffectiveVolume(NameNode* node);
void ApplyNodeVolume(NameNode* node, int32_t v);
void ApplyGroupVolume(NameNode* first);
void ApplySoundPan(SoundRecord* r, int32_t p);
void ApplySoundPitch(SoundRecord* r, int32_t p);
void SetQuietVolume(NameNode* node);
uint8_t IsSoundChainEnabled(NameNode* node);
uint8_t IsSoundChainPaused(NameNode* node);
int ApplySoundPause(NameNode* node, int mode);
int ApplySoundPauseToList(NameNode* first, int mode);
int SetSubtreePause(NameNode* node, int mode);
int PauseSound(NameNode* node);
int ResumeSound(NameNode* node);
int SeekSound(SoundRecord* r, int32_t ms);
int SeekWaveMs(SoundRecord* r, int32_t ms);
// The stream positions shared by both formats' seeks (length clamp, leading silence).
int32_t ApplySeekPosition(SoundRecord* r, int32_t ms);
int64_t LoopEndBytes(const SoundRecord* r);
// The part of the fill loop both formats share; `produce` writes up to `chunk` bytes at
// `dest` and returns how many (negative: an error code); `wrap` seeks to the loop start.
struct SoundProducer {
  int (*produce)(SoundRecord* r, void* state, uint8_t* dest, int32_t chunk);
  int (*wrap)(SoundRecord* r, void* state);
  void* state;
};
int RunFillLoop(SoundRecord* r, const SoundProducer& p);
int WriteHalf(SoundRecord* r);
void ReleaseSoundBuffers(SoundRecord* r);
// Closes the decoder an Ogg sound keeps between refills (nothing when none is open).
void CloseOggStream(SoundRecord* r);
void UnloadSound(SoundRecord* r);
void StopSoundBuffer(SoundRecord* r);
int PlaySoundBuffer(SoundRecord* r);
// Visits `first`, its siblings and everything below them, each group before its children;
// stops at and returns the first negative result of `visit`.
int ForEachSoundNode(NameNode* first, int (*visit)(NameNode* node, void* context), void* context);

// ---------------------------------------------------------------------------------------------
// Sound data from memory (sound thread, under the lock).

int LoadSoundFile(SoundRecord* r, int64_t orderKey);
int OpenSoundData(SoundRecord* r);
int OpenOggSound(SoundRecord* r);
int OpenWaveSound(SoundRecord* r);
int FillHalfFromOgg(SoundRecord* r);
int FillHalfFromWave(SoundRecord* r);
int SeekOggStart(SoundRecord* r, int32_t ms);
// Finds the "fmt " and "data" chunks of a RIFF WAVE image of `size` bytes, bounded by both the
// image and the RIFF size. 1 found, 0 not a RIFF WAVE or a "fmt " chunk under 14 bytes.
int FindWaveChunks(const uint8_t* image, size_t size, const uint8_t** format, uint32_t* formatSize,
                   const uint8_t** data, uint32_t* dataSize);
// True when vorbisfile may be given `image`: it holds at least one Ogg page, every page the
// library could find in it (whole, with a matching checksum) is version 0 with known flags,
// no page lies inside another, and each stream's pages run on in sequence from its first page
// to its last, each continued flag matching the packet the page before left open. Every path
// that opens a decoder on a sound's image checks it first. `chained`, when given, tells
// whether a stream begins after another stream's data: the image is a chain of several links.
bool CheckOggPages(const uint8_t* image, size_t size, bool* chained = nullptr);
// The master node's image: 0.5 s of 8-bit silence at 8000 Hz.
constexpr int SILENT_WAVE_BYTES = 4044;
extern const uint8_t* const g_SilentWave;

// ---------------------------------------------------------------------------------------------
// Commands (script side).

int CmdSound();
int CmdSoundDelete();
int CmdSoundQuery();
int DeleteSound(NameNode* node);
int DeleteSoundChildren(NameNode* group);
int DeleteSoundGroup(NameNode* group);
int32_t GetLeftOutputLevel(SoundRecord* r);
int32_t GetRightOutputLevel(SoundRecord* r);
