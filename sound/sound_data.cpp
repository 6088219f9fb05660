// Sound data from memory: loading a sound's file, Ogg Vorbis through vorbisfile with our own
// memory callbacks, RIFF WAVE through a bounded chunk walk, and non-PCM WAV converted to
// 16-bit PCM through libsndfile.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/memory_budget.h"
#include "files/files.h"
#include "platform/audio.h"
#include "sound/sound.h"

namespace {

uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }

void PutLe16(uint8_t* p, uint16_t v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8); }
void PutLe32(uint8_t* p, uint32_t v) { PutLe16(p, (uint16_t)v), PutLe16(p + 2, (uint16_t)(v >> 16)); }

// "RIFF", 4036, "WAVE", "fmt " 16: PCM, mono, 8000 Hz, 8000 bytes/s, align 1, 8 bits; "data"
// 4000 bytes of 8-bit silence.
struct SilentWave {
  uint8_t bytes[SILENT_WAVE_BYTES];
  SilentWave() {
    memcpy(bytes, "RIFF", 4);
    PutLe32(bytes + 4, SILENT_WAVE_BYTES - 8);
    memcpy(bytes + 8, "WAVEfmt ", 8);
    PutLe32(bytes + 16, 16);
    PutLe16(bytes + 20, 1);
    PutLe16(bytes + 22, 1);
    PutLe32(bytes + 24, 8000);
    PutLe32(bytes + 28, 8000);
    PutLe16(bytes + 32, 1);
    PutLe16(bytes + 34, 8);
    memcpy(bytes + 36, "data", 4);
    PutLe32(bytes + 40, 4000);
    memset(bytes + 44, 0x80, 4000);
  }
};
const SilentWave g_SilentWaveImage;

// ---------------------------------------------------------------------------------------------
// vorbisfile reading from the record's image.

// Reads and seeks over the record's image at a read position `pos` of the caller's.
size_t ReadImage(const SoundRecord* r, int32_t* pos, void* dest, size_t size, size_t count) {
  if (!r->mImage || *pos < 0 || *pos >= r->mImageSize) return 0;
  size_t left = (size_t)(r->mImageSize - *pos);
  size_t want = size * count;
  if (count != 0 && want / count != size) want = left;
  size_t n = want < left ? want : left;
  memcpy(dest, r->mImage + *pos, n);
  *pos += (int32_t)n;
  return n;
}

// Seeking past the end is allowed (the next read gives 0); before the start is not.
int SeekImage(const SoundRecord* r, int32_t* pos, ogg_int64_t offset, int origin) {
  int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? *pos : origin == SEEK_END ? r->mImageSize : -1;
  if (base < 0 || offset < -base || offset > 0x7FFFFFFF - base) return -1;
  int64_t at = base + offset;
  *pos = (int32_t)at;
  return 0;
}

size_t OggMemRead(void* dest, size_t size, size_t count, void* source) {
  SoundRecord* r = static_cast<SoundRecord*>(source);
  return ReadImage(r, &r->mMemPos, dest, size, count);
}

int OggMemSeek(void* source, ogg_int64_t offset, int origin) {
  SoundRecord* r = static_cast<SoundRecord*>(source);
  return SeekImage(r, &r->mMemPos, offset, origin);
}

int OggMemClose(void*) { return 1; }

long OggMemTell(void* source) { return static_cast<SoundRecord*>(source)->mMemPos; }

const ov_callbacks g_OggMemCallbacks = {OggMemRead, OggMemSeek, OggMemClose, OggMemTell};

}  // namespace

// The decoder a playing Ogg sound keeps between refills, with a read position of its own so a
// decoder opened for a look at the file (OpenOggSound) never moves it.
struct OggStream {
  OggVorbis_File vf;
  SoundRecord* record;
  int32_t pos;
};

namespace {

size_t OggStreamRead(void* dest, size_t size, size_t count, void* source) {
  OggStream* s = static_cast<OggStream*>(source);
  return ReadImage(s->record, &s->pos, dest, size, count);
}

int OggStreamSeek(void* source, ogg_int64_t offset, int origin) {
  OggStream* s = static_cast<OggStream*>(source);
  return SeekImage(s->record, &s->pos, offset, origin);
}

long OggStreamTell(void* source) { return static_cast<OggStream*>(source)->pos; }

const ov_callbacks g_OggStreamCallbacks = {OggStreamRead, OggStreamSeek, OggMemClose, OggStreamTell};

// The record's open decoder, opened on first use; null when the image does not open.
OggVorbis_File* StreamDecoder(SoundRecord* r) {
  if (r->mOggStream) return &r->mOggStream->vf;
  OggStream* s = static_cast<OggStream*>(calloc(1, sizeof(OggStream)));
  if (!s) return nullptr;
  s->record = r;
  if (!CheckOggPages(r->mImage, r->mImageSize > 0 ? (size_t)r->mImageSize : 0) ||
      ov_open_callbacks(s, &s->vf, nullptr, 0, g_OggStreamCallbacks) != 0) {
    free(s);
    return nullptr;
  }
  r->mOggStream = s;
  return &s->vf;
}

// 0, -1030 when the image does not open, -1045 for a chain of several links: those are
// refused before the library reads them, as it loses memory on a later link whose headers
// are broken.
int OpenOggDecoder(SoundRecord* r, OggVorbis_File* vf) {
  r->mMemPos = 0;
  bool chained = false;
  if (!CheckOggPages(r->mImage, r->mImageSize > 0 ? (size_t)r->mImageSize : 0, &chained)) return -1030;
  if (chained) return -1045;
  return ov_open_callbacks(r, vf, nullptr, 0, g_OggMemCallbacks) == 0 ? 0 : -1030;
}

int SeekOggMs(SoundRecord* r, int32_t ms, OggVorbis_File* vf) {
  ms = ApplySeekPosition(r, ms);
  if (ov_time_seek(vf, (ms > 0 ? ms : 0) / 1000.0) != 0) return -2020;
  r->mDecoderPos = (int32_t)ov_pcm_tell(vf);
  return 0;
}

int ProduceOgg(SoundRecord* r, void* state, uint8_t* dest, int32_t chunk) {
  if (chunk < 32) return 0;
  int section = 0;
  long got = ov_read(static_cast<OggVorbis_File*>(state), reinterpret_cast<char*>(dest), chunk, 0, 2, 1, &section);
  if (got == OV_HOLE) return -90001;
  if (got == OV_EBADLINK) return -90002;
  if (got < 0) return (int)got;
  return (int)got;
}

int WrapOgg(SoundRecord* r, void* state) { return SeekOggMs(r, r->mLoopStartMs, static_cast<OggVorbis_File*>(state)); }

// ---------------------------------------------------------------------------------------------
// libsndfile reading from memory, for WAV data that is not plain 8- or 16-bit PCM.

struct MemFile {
  const uint8_t* data;
  sf_count_t size;
  sf_count_t pos;
};

sf_count_t MemLength(void* user) { return static_cast<MemFile*>(user)->size; }

sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
  MemFile* m = static_cast<MemFile*>(user);
  sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
  // Offsets come from chunk sizes in the file: the sum must not overflow either way.
  if (offset < -base || offset > INT64_MAX - base) return -1;
  m->pos = base + offset;
  return m->pos;
}

sf_count_t MemRead(void* dest, sf_count_t count, void* user) {
  MemFile* m = static_cast<MemFile*>(user);
  if (count <= 0 || m->pos >= m->size) return 0;
  sf_count_t n = count < m->size - m->pos ? count : m->size - m->pos;
  memcpy(dest, m->data + m->pos, (size_t)n);
  m->pos += n;
  return n;
}

sf_count_t MemWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemTell(void* user) { return static_cast<MemFile*>(user)->pos; }

// A float sample at full scale as a 16-bit one. A float file may hold any value, NaN and
// infinities too: they are clamped before the conversion, which is undefined for them.
int16_t FloatToSample(float f) {
  float v = f * 32768.0f;
  if (std::isnan(v)) return 0;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return (int16_t)std::nearbyint(v);
}

// The converted data grows with what the file really yields, up to `limit` bytes, so a
// header that claims more frames than the data holds costs nothing.
bool ReserveConverted(uint8_t** out, size_t* capacity, size_t needed, size_t limit) {
  if (needed <= *capacity) return true;
  size_t grown = *capacity ? *capacity : (size_t)1 << 16;
  while (grown < needed) grown *= 2;
  if (grown > limit) grown = limit;
  if (grown < needed) return false;
  uint8_t* more = static_cast<uint8_t*>(realloc(*out, grown));
  if (!more) return false;
  *out = more;
  *capacity = grown;
  return true;
}

// Replaces the image with its data converted to 16-bit PCM of the same channels and rate.
int ConvertWaveToPcm(SoundRecord* r) {
  SF_VIRTUAL_IO io = {MemLength, MemSeek, MemRead, MemWrite, MemTell};
  MemFile mem = {r->mImage, r->mImageSize, 0};
  SF_INFO info{};
  SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &mem);
  if (!sf) return -10200;
  // Only a format the mixer plays is worth converting; the bounds also keep the sizes below
  // far inside 64 bits.
  if (info.channels < 1 || info.channels > 2 || info.samplerate < (int)PLAT_FREQUENCY_MIN ||
      info.samplerate > (int)PLAT_FREQUENCY_MAX || info.frames < 0) {
    sf_close(sf);
    return -10200;
  }
  // No WAV encoding expands its data sixteen-fold: a larger frame count is a false header.
  const int64_t frameBytes = (int64_t)info.channels * 2;
  if (info.frames > 0x7FFFFFFF / frameBytes || info.frames * frameBytes > (int64_t)r->mImageSize * 16 + (1 << 20)) {
    sf_close(sf);
    return -10220;
  }
  const size_t limit = (size_t)(info.frames * frameBytes);
  uint8_t* out = nullptr;
  size_t capacity = 0;
  // Read as floats at full scale: 16-bit sources come back exact, wider and floating-point
  // ones are rounded and clamped.
  float block[4096];
  const sf_count_t blockFrames = (sf_count_t)(sizeof block / sizeof block[0]) / info.channels;
  sf_count_t frames = 0;
  while (frames < info.frames) {
    sf_count_t want = info.frames - frames < blockFrames ? info.frames - frames : blockFrames;
    sf_count_t got = sf_readf_float(sf, block, want);
    if (got <= 0) break;
    if (got > want) got = want;
    size_t at = (size_t)(frames * frameBytes);
    if (!ReserveConverted(&out, &capacity, at + (size_t)(got * frameBytes), limit)) {
      free(out);
      sf_close(sf);
      return -10220;
    }
    for (sf_count_t i = 0; i < got * info.channels; i++) PutLe16(out + at + (size_t)i * 2, (uint16_t)FloatToSample(block[i]));
    frames += got;
  }
  sf_close(sf);
  // An image with no frames at all still gets an area of its own, so the record never keeps
  // pointing into the freed file.
  if (!out && !(out = static_cast<uint8_t*>(malloc(1)))) return -10220;
  uint64_t held = (uint64_t)(frames * frameBytes);
  if (!TakeScriptMemory(held)) {
    free(out);
    return -10220;
  }
  free(r->mImage);
  GiveScriptMemory(r->mImageHeld);
  r->mImageHeld = held;
  r->mImage = out;
  r->mImageSize = (int32_t)(frames * frameBytes);
  r->mPcm = out;
  r->mPcmSize = r->mImageSize;
  r->mDataKind = SOUND_DATA_CONVERTED;
  r->mWaveFormat = {1, (uint16_t)info.channels, (uint32_t)info.samplerate, (uint32_t)(info.samplerate * frameBytes),
                    (uint16_t)frameBytes, 16};
  return 0;
}

// Length, loop end and buffer for PCM data in the record's format.
int FinishWave(SoundRecord* r) {
  const SoundWaveFormat& f = r->mWaveFormat;
  // A last partial frame would shift every frame after a jump back: it is dropped.
  if (f.mBlockAlign) r->mPcmSize -= r->mPcmSize % f.mBlockAlign;
  double perSecond = (double)f.mBlockAlign * f.mRate;
  r->mLengthMs = perSecond > 0 ? (int64_t)std::trunc(r->mPcmSize / perSecond * 1000.0) : 0;
  r->mLoopEndMs = (int32_t)r->mLengthMs;
  return CreateStreamBuffer(r, f.mChannels, (int)f.mRate, (int)f.mBytesPerSecond, f.mBlockAlign, f.mBits);
}

struct ChunkWalk {
  const uint8_t* image;
  size_t end;   // the smaller of the image and the RIFF size
};

ChunkWalk BeginChunkWalk(const uint8_t* image, size_t size) {
  uint64_t riffEnd = 8 + (uint64_t)Le32(image + 4);
  return {image, riffEnd < size ? (size_t)riffEnd : size};
}

// The first chunk with `id`: its body and its size bounded by the walk's end.
bool FindChunk(const ChunkWalk& w, const char* id, const uint8_t** body, uint32_t* size) {
  uint64_t at = 12;
  while (at + 8 <= w.end) {
    uint64_t length = Le32(w.image + at + 4);
    uint64_t start = at + 8;
    if (memcmp(w.image + at, id, 4) == 0) {
      *body = w.image + start;
      *size = (uint32_t)(start + length <= w.end ? length : w.end - start);
      return true;
    }
    at = start + length + (length & 1);
  }
  return false;
}

}  // namespace

const uint8_t* const g_SilentWave = g_SilentWaveImage.bytes;

int FindWaveChunks(const uint8_t* image, size_t size, const uint8_t** format, uint32_t* formatSize,
                   const uint8_t** data, uint32_t* dataSize) {
  *format = nullptr, *formatSize = 0, *data = nullptr, *dataSize = 0;
  if (!image || size < 12 || memcmp(image, "RIFF", 4) != 0 || memcmp(image + 8, "WAVE", 4) != 0) return 0;
  ChunkWalk w = BeginChunkWalk(image, size);
  uint64_t at = 12;
  while (at + 8 <= w.end && (!*format || !*data)) {
    uint64_t length = Le32(image + at + 4);
    uint64_t start = at + 8;
    uint32_t bounded = (uint32_t)(start + length <= w.end ? length : w.end - start);
    if (!*format && memcmp(image + at, "fmt ", 4) == 0) {
      if (bounded < 14) return 0;
      *format = image + start, *formatSize = bounded;
    } else if (!*data && memcmp(image + at, "data", 4) == 0) {
      *data = image + start, *dataSize = bounded;
    }
    at = start + length + (length & 1);
  }
  return 1;
}

int LoadSoundFile(SoundRecord* r, int64_t orderKey) {
  if (r->mImage) return -1010;
  if (orderKey == SOUND_MASTER_KEY) {
    r->mImage = static_cast<uint8_t*>(malloc(SILENT_WAVE_BYTES));
    if (!r->mImage) return -1020;
    memcpy(r->mImage, g_SilentWave, SILENT_WAVE_BYTES);
    r->mImageSize = SILENT_WAVE_BYTES;
  } else {
    FileLocation location{};
    if (LocateFile(&location, r->mName, false) <= 0) return -1020;
    if (ReadLocatedFile(&location, r->mName) != 0 || !location.mData) {
      free(location.mData);
      return -1020;
    }
    if (location.mSize > 0x7FFFFFFF) {
      free(location.mData);
      return -1020;
    }
    // A sound file stays in memory while the slot holds it, counted with what scripts hold.
    if (!TakeScriptMemory(location.mSize)) {
      free(location.mData);
      return -1020;
    }
    r->mImage = location.mData;
    r->mImageSize = (int32_t)location.mSize;
    r->mImageHeld = location.mSize;
  }
  r->mDataKind = SOUND_DATA_PCM;
  return OpenSoundData(r);
}

int OpenSoundData(SoundRecord* r) {
  if (!g_SoundEnabled) return 0;
  // Converted data no longer has its file around it: it is re-opened as it stands.
  if (r->mDataKind == SOUND_DATA_CONVERTED && r->mImage) return FinishWave(r);
  return r->mFormat == SOUND_FORMAT_OGG ? OpenOggSound(r) : OpenWaveSound(r);
}

int OpenOggSound(SoundRecord* r) {
  OggVorbis_File vf;
  int result = OpenOggDecoder(r, &vf);
  if (result != 0) return result;
  vorbis_info* info = nullptr;
  if (!ov_seekable(&vf)) result = -1040;
  else if (ov_streams(&vf) != 1) result = -1045;
  else if (!(info = ov_info(&vf, -1))) result = -1050;
  // Buffers hold mono or stereo; a stream of more channels cannot be played as it is.
  else if (info->channels < 1 || info->channels > 2) result = -1050;
  // The buffer is sized from the rate: it must be one the mixer plays.
  else if (info->rate < (long)PLAT_FREQUENCY_MIN || info->rate > (long)PLAT_FREQUENCY_MAX) result = -1050;
  if (result < 0) {
    ov_clear(&vf);
    return result;
  }
  // The length comes from the last page's granule position, which may claim any size: beyond
  // the 64-bit range it stays at the largest length.
  double totalMs = std::trunc(ov_time_total(&vf, -1) * 1000.0);
  r->mLengthMs = totalMs > 0 ? (totalMs < 9.0e18 ? (int64_t)totalMs : INT64_MAX) : 0;
  r->mLoopEndMs = (int32_t)r->mLengthMs;
  r->mDataKind = SOUND_DATA_OGG;
  int channels = info->channels;
  int rate = (int)info->rate;
  ov_clear(&vf);
  return CreateStreamBuffer(r, channels, rate, channels * rate * 2, channels * 2, 16);
}

// The decoder stays open from refill to refill and is sought only when the position it stands
// at is not where the next fill starts (a seek, or a jump back at the loop end moved it).
int FillHalfFromOgg(SoundRecord* r) {
  OggVorbis_File* vf = StreamDecoder(r);
  if (!vf) return -3010;
  if (ov_pcm_tell(vf) != r->mDecoderPos && ov_pcm_seek(vf, r->mDecoderPos) != 0) {
    CloseOggStream(r);
    return -3020;
  }
  SoundProducer p = {ProduceOgg, WrapOgg, vf};
  int result = RunFillLoop(r, p);
  if (result < 0) {
    CloseOggStream(r);
    return result;
  }
  r->mDecoderPos = (int32_t)ov_pcm_tell(vf);
  return WriteHalf(r) < 0 ? -3030 : 0;
}

int SeekOggStart(SoundRecord* r, int32_t ms) {
  OggVorbis_File* vf = StreamDecoder(r);
  if (!vf) return -2010;
  if (SeekOggMs(r, ms, vf) < 0) {
    CloseOggStream(r);
    return -2020;
  }
  return 0;
}

void CloseOggStream(SoundRecord* r) {
  OggStream* s = r->mOggStream;
  if (!s) return;
  ov_clear(&s->vf);
  free(s);
  r->mOggStream = nullptr;
}

int OpenWaveSound(SoundRecord* r) {
  if (!r->mImage || r->mImageSize < 0) return -10030;
  size_t size = (size_t)r->mImageSize;
  if (size < 12 || memcmp(r->mImage, "RIFF", 4) != 0) return -10040;
  if (memcmp(r->mImage + 8, "WAVE", 4) != 0) return -10050;
  ChunkWalk w = BeginChunkWalk(r->mImage, size);
  const uint8_t* fmt;
  const uint8_t* data;
  uint32_t fmtSize, dataSize;
  if (!FindChunk(w, "fmt ", &fmt, &fmtSize)) return -10060;
  if (!FindChunk(w, "data", &data, &dataSize)) return -10080;
  uint16_t tag = fmtSize >= 2 ? Le16(fmt) : 0;
  uint16_t bits = fmtSize >= 16 ? Le16(fmt + 14) : 0;
  if (tag == 1 && (!FindWaveChunks(r->mImage, size, &fmt, &fmtSize, &data, &dataSize) || fmtSize < 16 || !data))
    return -10090;
  // 8- and 16-bit PCM plays straight from the image; every other encoding is converted.
  if (tag == 1 && (bits == 8 || bits == 16)) {
    r->mDataKind = SOUND_DATA_PCM;
    r->mWaveFormat = {1, Le16(fmt + 2), Le32(fmt + 4), Le32(fmt + 8), Le16(fmt + 12), bits};
    r->mPcm = data;
    r->mPcmSize = (int32_t)(dataSize & 0x7FFFFFFF);
  } else {
    int result = ConvertWaveToPcm(r);
    if (result < 0) return result;
  }
  return FinishWave(r);
}
