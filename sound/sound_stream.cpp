// Streaming playback: buffers refilled half by half, loops, leading silence, position tracking,
// volume ramps, the volume/pan/pitch conversions along group chains, pause, resume and seeking.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/memory_budget.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "sound/sound.h"

namespace {

SoundRecord* RecordOf(NameNode* node) { return node ? static_cast<SoundRecord*>(node->mPayload) : nullptr; }

// The nameless root ends every chain: it has no parent.
bool IsNamed(NameNode* node) { return node && node->mParent; }

bool IsActive(const SoundRecord* r) {
  return r->mState == SOUND_STATE_RAMPING || r->mState == SOUND_STATE_PLAYING || r->mState == SOUND_STATE_FADING_OUT;
}

uint8_t SilenceByte(const SoundRecord* r) { return r->mWaveFormat.mBits == 8 ? 0x80 : 0x00; }

uint32_t HalfBytes(const SoundRecord* r) { return r->mBufferBytes / 2; }

// Progress of the play cursor since the last reading, with the wrap of the looping buffer.
int64_t CursorProgress(SoundRecord* r, uint32_t cursor) {
  int64_t progress = (int64_t)cursor - (int64_t)r->mLastPlayCursor;
  if (progress < 0) progress += r->mBufferBytes;
  r->mLastPlayCursor = cursor;
  return progress;
}

int32_t HundredthsDbOf(int32_t v) {
  if (v <= 0) return PLAT_VOLUME_SILENT;
  double db = std::trunc(4000.0 * std::log10(v / 256.0));
  if (db > 0) return 0;
  if (db < PLAT_VOLUME_SILENT) return PLAT_VOLUME_SILENT;
  return (int32_t)db;
}

int32_t SampleMagnitude(SoundRecord* r, int channel) {
  const SoundWaveFormat& f = r->mWaveFormat;
  if (!r->mBuffer || (f.mChannels != 1 && f.mChannels != 2) || (f.mBits != 8 && f.mBits != 16)) return -1;
  uint32_t play;
  if (!PlatSoundBufferGetCursors(r->mBuffer, &play, nullptr)) return -1;
  uint8_t frame[4];
  uint32_t frameBytes = (uint32_t)(f.mBits / 8 * f.mChannels);
  if (!PlatSoundBufferRead(r->mBuffer, play, frame, frameBytes)) return -1;
  const uint8_t* s = frame + (f.mChannels == 2 ? channel * (f.mBits / 8) : 0);
  int32_t v = f.mBits == 8 ? s[0] - 128 : (int16_t)(s[0] | (s[1] << 8));
  // As a signed 16-bit value: the one sample -32768 has no positive magnitude there.
  return (int16_t)(v < 0 ? -v : v);
}

uint32_t NowNonZero() {
  uint32_t now = PlatGetTicks();
  return now ? now : 1;   // 0 means "not paused" in the record
}

}  // namespace

int ForEachSoundNode(NameNode* first, int (*visit)(NameNode* node, void* context), void* context) {
  for (NameNode* n = first; n; n = n->mNext) {
    int result = visit(n, context);
    if (result < 0) return result;
    if (n->mIsGroup) {
      result = ForEachSoundNode(n->mFirstChild, visit, context);
      if (result < 0) return result;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Buffers.

namespace {

// The mixer plays 8- and 16-bit mono or stereo frames at rates it can resample. The buffer and
// the staging area are sized from these values, which come from the file's header: they are
// checked before anything is allocated, with or without an output device.
bool IsPlayableFormat(int channels, int rate, int blockAlign, int bits) {
  return (channels == 1 || channels == 2) && (bits == 8 || bits == 16) && blockAlign == channels * bits / 8 &&
         rate >= (int)PLAT_FREQUENCY_MIN && rate <= (int)PLAT_FREQUENCY_MAX;
}

}  // namespace

int CreateStreamBuffer(SoundRecord* r, int channels, int rate, int bytesPerSecond, int blockAlign, int bits) {
  r->mWaveFormat = {1, (uint16_t)channels, (uint32_t)rate, (uint32_t)bytesPerSecond, (uint16_t)blockAlign, (uint16_t)bits};
  if (!IsPlayableFormat(channels, rate, blockAlign, bits)) return -1120;
  r->mBytesPerSecond = (int64_t)blockAlign * rate;
  r->mBufferBytes = (uint32_t)r->mBytesPerSecond;
  if (r->mCarry) return -1060;
  r->mCarry = static_cast<uint8_t*>(calloc(1, SOUND_CARRY_BYTES));
  if (!r->mCarry) return -1070;
  if (r->mStaging) return -1080;
  r->mStaging = static_cast<uint8_t*>(calloc(1, (size_t)HalfBytes(r) + SOUND_CARRY_BYTES));
  if (!r->mStaging) return -1090;
  if (!g_SoundDevice) return 0;
  r->mBuffer = PlatSoundBufferCreate(channels, bits, (uint32_t)rate, r->mBufferBytes);
  return r->mBuffer ? 0 : -1120;
}

void StopSoundBuffer(SoundRecord* r) {
  if (g_SoundDevice && r->mBuffer) PlatSoundBufferStop(r->mBuffer);
}

void ReleaseSoundBuffers(SoundRecord* r) {
  StopSoundBuffer(r);
  CloseOggStream(r);
  PlatSoundBufferRelease(r->mBuffer);
  r->mBuffer = nullptr;
  free(r->mStaging);
  r->mStaging = nullptr;
  free(r->mCarry);
  r->mCarry = nullptr;
}

void UnloadSound(SoundRecord* r) {
  ReleaseSoundBuffers(r);
  free(r->mImage);
  GiveScriptMemory(r->mImageHeld);
  r->mImageHeld = 0;
  r->mImage = nullptr;
  r->mImageSize = 0;
  r->mPcm = nullptr;
  r->mPcmSize = 0;
  r->mStartMs = 0;
  r->mLoopStartMs = 0;
}

int PlaySoundBuffer(SoundRecord* r) {
  if (!r->mBuffer) return -1;
  return PlatSoundBufferPlay(r->mBuffer, true) ? 0 : -2;
}

// ---------------------------------------------------------------------------------------------
// Filling halves.

int64_t LoopEndBytes(const SoundRecord* r) { return (int64_t)r->mLoopEndMs * r->mBytesPerSecond / 1000; }

int RunFillLoop(SoundRecord* r, const SoundProducer& p) {
  const int32_t half = (int32_t)HalfBytes(r);
  const int32_t align = r->mWaveFormat.mBlockAlign ? r->mWaveFormat.mBlockAlign : 1;
  if (!r->mStaging || !r->mCarry) return -3030;
  int32_t carry = r->mCarryBytes;
  if (carry < 0 || carry > SOUND_CARRY_BYTES) carry = 0;
  memcpy(r->mStaging, r->mCarry, (size_t)carry);
  int32_t filled = carry;
  int64_t sinceJump = 0;
  // A jump back that yields nothing before the next end would repeat for ever: such a stream
  // (empty data, loop end at or before the loop start) plays silence for the rest of the half.
  bool jumpedEmpty = false;
  while (filled < half) {
    if (r->mSilenceBytes > 0) {
      int64_t n = r->mSilenceBytes < half - filled ? r->mSilenceBytes : half - filled;
      memset(r->mStaging + filled, SilenceByte(r), (size_t)n);
      r->mSilenceBytes -= n;
      filled += (int32_t)n;
      continue;
    }
    int64_t end = LoopEndBytes(r);
    int64_t pos = (int64_t)r->mStreamPos + sinceJump;
    int64_t chunk = pos + SOUND_CHUNK_BYTES < end ? SOUND_CHUNK_BYTES : (end - pos) / align * align;
    int got = 0;
    if (chunk > 0) got = p.produce(r, p.state, r->mStaging + filled, (int32_t)chunk);
    if (got < 0) return got;
    filled += got;
    sinceJump += got;
    if (got > 0) {
      jumpedEmpty = false;
      continue;
    }
    if (r->mLoopCount == 1 || jumpedEmpty) {
      memset(r->mStaging + filled, SilenceByte(r), (size_t)(half - filled));
      filled = half;
      break;
    }
    r->mLoopCount = r->mLoopCount - 1 > 0 ? r->mLoopCount - 1 : 0;
    r->mWrapLoopEndMs = r->mLoopEndMs;
    r->mWrapLoopStartMs = r->mLoopStartMs;
    if (r->mLoopStartMs >= r->mLoopEndMs) r->mLoopStartMs = 0;
    int result = p.wrap(r, p.state);
    if (result < 0) return result;
    sinceJump = 0;
    jumpedEmpty = true;
  }
  r->mStreamPos = (int32_t)(r->mStreamPos + sinceJump);
  r->mCarryBytes = filled - half;
  if (r->mCarryBytes > 0) memcpy(r->mCarry, r->mStaging + half, (size_t)r->mCarryBytes);
  else r->mCarryBytes = 0;
  return 0;
}

int WriteHalf(SoundRecord* r) {
  if (!r->mBuffer) return 0;
  return PlatSoundBufferWrite(r->mBuffer, (uint32_t)r->mWriteOffset, r->mStaging, HalfBytes(r)) ? 0 : -3030;
}

namespace {

int ProduceWave(SoundRecord* r, void*, uint8_t* dest, int32_t chunk) {
  int64_t left = (int64_t)r->mPcmSize - r->mDecoderPos;
  if (!r->mPcm || r->mDecoderPos < 0 || left <= 0) return 0;
  int32_t n = chunk < left ? chunk : (int32_t)left;
  memcpy(dest, r->mPcm + r->mDecoderPos, (size_t)n);
  r->mDecoderPos += n;
  return n;
}

int WrapWave(SoundRecord* r, void*) { return SeekWaveMs(r, r->mLoopStartMs); }

}  // namespace

int FillHalfFromWave(SoundRecord* r) {
  SoundProducer p = {ProduceWave, WrapWave, nullptr};
  int result = RunFillLoop(r, p);
  if (result < 0) return result;
  return WriteHalf(r) < 0 ? -3030 : 0;
}

int FillNextHalf(SoundRecord* r) {
  return r->mFormat == SOUND_FORMAT_OGG ? FillHalfFromOgg(r) : FillHalfFromWave(r);
}

namespace {

int RefillNode(NameNode* node, void*) {
  SoundRecord* r = RecordOf(node);
  if (!r || r->mState == SOUND_STATE_IDLE) return 0;
  if (g_QuitFlag) {
    SetQuietVolume(node);
    r->mState = SOUND_STATE_IDLE;
    return 0;
  }
  if (!IsActive(r) || r->mPaused || g_SoundsPausedInBackground || r->mPauseTime) return 0;
  if (!r->mBuffer) return g_SoundDevice ? -330 : 0;
  uint32_t play, write;
  if (!PlatSoundBufferGetCursors(r->mBuffer, &play, &write)) return -340;
  uint32_t half = HalfBytes(r);
  if (r->mHalf == 1 && write < half) {
    r->mWriteOffset = (int32_t)half;
    r->mHalf = 2;
  } else if (r->mHalf == 2 && write > half) {
    r->mWriteOffset = 0;
    r->mHalf = 1;
  } else {
    return 0;
  }
  return FillNextHalf(r);
}

int TrackNode(NameNode* node, void*) {
  SoundRecord* r = RecordOf(node);
  if (!r || r->mState == SOUND_STATE_IDLE) return 0;
  if (g_QuitFlag) {
    SetQuietVolume(node);
    r->mState = SOUND_STATE_IDLE;
    return 0;
  }
  if (!IsActive(r) || r->mPaused || g_SoundsPausedInBackground || r->mPauseTime) return 0;
  if (!r->mBuffer) return g_SoundDevice ? -310 : 0;
  if (r->mBytesPerSecond <= 0) return 0;
  uint32_t play;
  if (!PlatSoundBufferGetCursors(r->mBuffer, &play, nullptr)) return -320;
  int64_t next = r->mPlayedBytes + CursorProgress(r, play);
  bool wrapped = r->mWrapLoopEndMs != 0;
  int64_t start = wrapped ? r->mWrapLoopStartMs : r->mLoopStartMs;
  int64_t end = wrapped ? r->mWrapLoopEndMs : r->mLoopEndMs;
  if (next * 1000 / r->mBytesPerSecond < end) {
    r->mPlayedBytes = next;
    return 0;
  }
  r->mWrapLoopEndMs = 0;
  r->mWrapLoopStartMs = 0;
  if (r->mLoopsDone + 1 == r->mLoopsWanted) {
    r->mLoopsDone = 0;
    r->mLoopsWanted = 0;
    r->mPlayedBytes = 0;
    UnloadSound(r);
    r->mState = SOUND_STATE_IDLE;
    return 0;
  }
  r->mLoopsDone += 1;
  r->mPlayedBytes = start * r->mBytesPerSecond / 1000;
  return 0;
}

int RampNode(NameNode* node, void*) {
  SoundRecord* r = RecordOf(node);
  if (!r || (r->mState != SOUND_STATE_RAMPING && r->mState != SOUND_STATE_FADING_OUT)) return 0;
  uint32_t now = PlatGetTicks();
  if (r->mPaused || g_SoundsPausedInBackground || r->mPauseTime) {
    // The ramp stands still while the sound is paused: its start moves with the clock.
    if (r->mPauseTime) {
      r->mRampStartTime += now - r->mPauseTime;
      r->mPauseTime = now ? now : 1;
    }
    return 0;
  }
  int32_t elapsed = (int32_t)(now - r->mRampStartTime);
  if (r->mState == SOUND_STATE_RAMPING && elapsed < 0) {
    SetQuietVolume(node);
    return 0;
  }
  int64_t v = r->mRampFrom + (int64_t)elapsed * r->mSlope / 1024;
  // A zero slope counts as rising: a ramp that starts below its target stays where it is (as
  // games that retarget a fade-in, or ask for a tiny step over a long fade, have always heard
  // it) until the next play or fade-out; one at or above its target ends at once.
  if ((r->mSlope >= 0 && v >= r->mTargetVolume) || (r->mSlope < 0 && v <= r->mTargetVolume)) {
    v = r->mTargetVolume;
    r->mRampEndTime = now ? now : 1;
  }
  ApplyNodeVolume(node, (int32_t)v);
  r->mVolume = (int32_t)v;
  if (!r->mRampEndTime) return 0;
  r->mRampEndTime = 0;
  if (r->mState == SOUND_STATE_RAMPING) {
    r->mState = SOUND_STATE_PLAYING;
    return 0;
  }
  r->mVolume = SOUND_VOLUME_FULL;
  r->mRampFrom = 0;
  r->mTargetVolume = SOUND_VOLUME_FULL;
  r->mPrevTarget = SOUND_VOLUME_FULL;
  r->mState = SOUND_STATE_IDLE;
  UnloadSound(r);
  return 0;
}

}  // namespace

int RefillSoundBuffers(NameNode* first) { return ForEachSoundNode(first, RefillNode, nullptr); }
int TrackSoundPositions(NameNode* first) { return ForEachSoundNode(first, TrackNode, nullptr); }
void UpdateVolumeRamps(NameNode* first) { ForEachSoundNode(first, RampNode, nullptr); }

// ---------------------------------------------------------------------------------------------
// Volume, pan and pitch.

int32_t VolumeToHundredthsDb(int32_t v) { return HundredthsDbOf(v); }

int32_t PanToHundredthsDb(int32_t p) {
  if (p < 0 || p > 512) return 0;
  int32_t c = p <= 256 ? p : 512 - p;
  int32_t a = c == 0 ? PLAT_VOLUME_SILENT : HundredthsDbOf(c);
  return p <= 256 ? a : -a;
}

uint32_t PitchToFrequency(int32_t p, uint32_t rate) {
  if (p < 0 || p > 512) p = 256;
  int64_t hz = (int64_t)rate + (int64_t)(p - 256) * (int64_t)(rate / 2) / 256;
  return (uint32_t)hz;
}

void SetBufferVolume(NameNode* node, int32_t v) {
  SoundRecord* r = RecordOf(node);
  if (!r || !r->mBuffer) return;
  PlatSoundBufferSetVolume(r->mBuffer, VolumeToHundredthsDb(v));
}

// Volumes above 256 cannot sound louder than full; past this bound they only risk overflow.
constexpr int64_t VOLUME_PRODUCT_LIMIT = 1 << 24;

int32_t GetEffectiveVolume(NameNode* node) {
  SoundRecord* r = RecordOf(node);
  int64_t v = r ? (r->mEnabled == 1 ? r->mVolume : 0) : SOUND_VOLUME_FULL;
  if (IsNamed(node->mParent)) v = (v * GetEffectiveVolume(node->mParent)) >> 8;
  return (int32_t)(v < 0 ? 0 : v > VOLUME_PRODUCT_LIMIT ? VOLUME_PRODUCT_LIMIT : v);
}

void ApplyGroupVolume(NameNode* first) {
  for (NameNode* n = first; n; n = n->mNext) {
    if (n->mIsGroup) ApplyGroupVolume(n->mFirstChild);
    else SetBufferVolume(n, GetEffectiveVolume(n));
  }
}

void ApplyNodeVolume(NameNode* node, int32_t v) {
  if (!g_SoundDevice || !node) return;
  if (node->mIsGroup) {
    ApplyGroupVolume(node->mFirstChild);
    return;
  }
  // A disabled sound stays silent whatever volume it is given.
  SoundRecord* r = RecordOf(node);
  if (r && r->mEnabled != 1) v = 0;
  int64_t out = IsNamed(node->mParent) ? ((int64_t)v * GetEffectiveVolume(node->mParent)) >> 8 : v;
  SetBufferVolume(node, (int32_t)(out > VOLUME_PRODUCT_LIMIT ? VOLUME_PRODUCT_LIMIT : out));
}

void SetQuietVolume(NameNode* node) {
  if (node->mIsGroup) {
    ApplyGroupVolume(node->mFirstChild);
    return;
  }
  int32_t q = IsNamed(node->mParent) ? (GetEffectiveVolume(node->mParent) * 2) >> 8 : 2;
  SetBufferVolume(node, q);
}

void ApplySoundPan(SoundRecord* r, int32_t p) {
  if (!g_SoundDevice || !r->mBuffer) return;
  PlatSoundBufferSetPan(r->mBuffer, PanToHundredthsDb(p));
}

void ApplySoundPitch(SoundRecord* r, int32_t p) {
  if (!r->mBuffer) return;
  PlatSoundBufferSetFrequency(r->mBuffer, PitchToFrequency(p, r->mWaveFormat.mRate));
}

// ---------------------------------------------------------------------------------------------
// Pause and resume.

uint8_t IsSoundChainEnabled(NameNode* node) {
  uint8_t on = 0xFF;
  for (NameNode* n = node; IsNamed(n); n = n->mParent)
    if (SoundRecord* r = RecordOf(n)) on &= r->mEnabled;
  return on;
}

uint8_t IsSoundChainPaused(NameNode* node) {
  uint8_t paused = 0;
  for (NameNode* n = node; IsNamed(n); n = n->mParent)
    if (SoundRecord* r = RecordOf(n)) paused |= r->mPaused;
  return paused;
}

int PauseSound(NameNode* node) {
  SoundRecord* r = RecordOf(node);
  if (!r || r->mState <= SOUND_STATE_LOADED || r->mPauseTime != 0) return 0;
  if (g_QuitFlag) {
    if (g_SoundDevice) SetQuietVolume(node);
    r->mState = SOUND_STATE_IDLE;
    return 0;
  }
  if (!r->mBuffer) return -410;
  uint32_t play;
  if (!PlatSoundBufferGetCursors(r->mBuffer, &play, nullptr)) return -420;
  r->mPlayedBytes += CursorProgress(r, play);
  ReleaseSoundBuffers(r);
  r->mPauseTime = NowNonZero();
  return 0;
}

int ResumeSound(NameNode* node) {
  SoundRecord* r = RecordOf(node);
  if (!r || r->mState <= SOUND_STATE_LOADED || r->mPauseTime == 0) return 0;
  r->mHalf = 1;
  r->mStartMs = r->mBytesPerSecond > 0 ? (int32_t)(r->mPlayedBytes * 1000 / r->mBytesPerSecond) : 0;
  r->mPlayedBytes = 0;
  r->mLastPlayCursor = 0;
  r->mCarryBytes = 0;
  r->mSilenceBytes = 0;
  int32_t loopEnd = r->mLoopEndMs;
  int result = OpenSoundData(r);
  if (result < 0) return result;
  r->mLoopEndMs = loopEnd;
  if (r->mStartMs >= r->mLoopEndMs) r->mStartMs = 0;
  if ((result = SeekSound(r, r->mStartMs)) < 0) return result;
  r->mPlayedBytes = r->mStreamPos;
  r->mHalf = 1;
  r->mWriteOffset = 0;
  if ((result = FillNextHalf(r)) < 0) return result;
  ApplyNodeVolume(node, r->mTargetVolume);
  ApplySoundPan(r, r->mPan);
  ApplySoundPitch(r, r->mPitch);
  if (!r->mBuffer) {
    if (g_SoundDevice) return -430;
  } else if (PlaySoundBuffer(r) < 0) {
    return -440;
  }
  r->mPauseTime = 0;
  return 0;
}

int ApplySoundPause(NameNode* node, int mode) {
  if (mode == 1) return PauseSound(node);
  if (mode == 0 && IsSoundChainEnabled(node) == 1 && IsSoundChainPaused(node) == 0) return ResumeSound(node);
  return 0;
}

int ApplySoundPauseToList(NameNode* first, int mode) {
  struct Mode {
    int mode;
  } m = {mode};
  return ForEachSoundNode(first, [](NameNode* n, void* c) { return ApplySoundPause(n, static_cast<Mode*>(c)->mode); }, &m);
}

int SetSubtreePause(NameNode* node, int mode) {
  int result = ApplySoundPause(node, mode);
  if (result < 0 || !node->mIsGroup) return result;
  return ApplySoundPauseToList(node->mFirstChild, mode);
}

// ---------------------------------------------------------------------------------------------
// Seeking.

int32_t ApplySeekPosition(SoundRecord* r, int32_t ms) {
  if (ms >= r->mLengthMs) ms = (int32_t)(r->mLengthMs - 10);
  int64_t align = r->mWaveFormat.mBlockAlign ? r->mWaveFormat.mBlockAlign : 1;
  if (ms < 0) {
    int64_t silence = r->mSilenceBytes + (-(int64_t)ms) * r->mBytesPerSecond / 1000;
    r->mSilenceBytes = silence / align * align;
  }
  r->mStreamPos = (int32_t)((int64_t)ms * r->mBytesPerSecond / 1000);
  return ms;
}

int SeekWaveMs(SoundRecord* r, int32_t ms) {
  ms = ApplySeekPosition(r, ms);
  int64_t align = r->mWaveFormat.mBlockAlign ? r->mWaveFormat.mBlockAlign : 1;
  int64_t at = (int64_t)(ms > 0 ? ms : 0) * r->mBytesPerSecond / 1000 / align * align;
  if (at >= r->mPcmSize) at = r->mPcmSize - align;
  r->mDecoderPos = (int32_t)(at > 0 ? at : 0);
  return 0;
}

int SeekSound(SoundRecord* r, int32_t ms) {
  return r->mFormat == SOUND_FORMAT_OGG ? SeekOggStart(r, ms) : SeekWaveMs(r, ms);
}

// ---------------------------------------------------------------------------------------------
// Output levels: the magnitude of the sample under the play cursor, -1 when there is none.

int32_t GetLeftOutputLevel(SoundRecord* r) { return SampleMagnitude(r, 0); }
int32_t GetRightOutputLevel(SoundRecord* r) { return SampleMagnitude(r, 1); }
