// Sound output service: a mixer of streaming buffers with play and write cursors, volume in
// 1/100 dB, pan and playback frequency, summed into one stereo 16-bit output.
#pragma once

#include <cstdint>

// An output that consumes mixed frames. It calls PlatAudioMix from its own thread. Open may
// block (a sound server that does not answer); it takes the wished rate and, unless
// `fixedRate`, may change it to the one it got; false when there is no device. Lost, where the
// output has it, says that the device stopped taking frames (it went away, or its callback
// stalled); the output is then closed and opened again later. Started, where the output has
// it, hears that a buffer began to play (any thread, no lock held): an output that can rewrite
// the frames it has queued places the new sound there with PlatAudioMixLate. Queued, where it
// has it, tells how many mixed frames are still on their way to the speaker.
struct PlatAudioOutput {
  const char* name;
  bool (*Open)(int* rate, bool fixedRate);
  void (*Close)();
  bool (*Lost)();
  void (*Started)();
  int (*Queued)();
};

// Opens the sound output at about `rate` Hz and returns the rate in use. With the SDL platform
// the device is opened on a thread of its own: the call waits for it a few seconds at most
// (less when a quit signal comes), and without a device by then it goes on with the null
// output and says on stderr that sound is off. The null output takes frames on the platform
// clock, so sounds still end on time. A device that opens late, or comes back after it was
// lost, takes over from the null output at the same rate; voices keep their positions. On other
// platforms the null output plays. Always leaves an output open. Call from the main thread.
int PlatAudioOpen(int rate);
// Stops and closes the output. Buffers stay valid and must still be released. A device still
// opening is left behind, so a sound server that hangs never holds up the end.
void PlatAudioClose();
bool PlatAudioIsOpen();
int PlatAudioRate();
// The output taking frames now: "pulse" (a stream on a PulseAudio or PipeWire server), "sdl"
// (SDL's own device, which SDL_AUDIODRIVER chooses) or "null".
const char* PlatAudioOutputName();
// Mixed frames not heard yet (queued in the device or the sound server); 0 when unknown.
int PlatAudioQueuedFrames();

// Mixes `frames` interleaved stereo frames of every playing buffer into `out`, advancing their
// play cursors. The output calls it; a test calls it by hand (HeadlessSetAudioByHand).
void PlatAudioMix(int16_t* out, int frames);

// Frames that can be given late. An output that queues far ahead of the speaker keeps the sums
// of its last `frames` mixed frames (0 keeps none). A buffer that starts while they are kept is
// held back from PlatAudioMix until the output places it with PlatAudioMixLate, or until a
// quarter second of frames has been mixed without it (it then starts at the end of the queue).
void PlatAudioKeepHistory(int frames);
// Mixes every held-back buffer into the last `back` mixed frames (clamped to those kept) and
// writes those frames again into `out`; the number of frames written. The output sends them
// in place of the ones it queued before.
int PlatAudioMixLate(int16_t* out, int back);

// A buffer of PCM (`channels` 1 or 2, `bits` 8 unsigned or 16 signed little-endian) holding
// `bytes` bytes (a whole number of frames), played at `rate` Hz and resampled to the output.
// Every buffer function may be called from any thread; a buffer belongs to its creator, who
// releases it once. Create returns null for a format it cannot play or when out of memory.
struct PlatSoundBuffer;
constexpr int32_t PLAT_VOLUME_SILENT = -10000;   // 1/100 dB; 0 is full volume
constexpr int32_t PLAT_PAN_LEFT = -10000;        // right channel silenced
constexpr int32_t PLAT_PAN_RIGHT = 10000;        // left channel silenced
constexpr uint32_t PLAT_FREQUENCY_MIN = 100;
constexpr uint32_t PLAT_FREQUENCY_MAX = 200000;

PlatSoundBuffer* PlatSoundBufferCreate(int channels, int bits, uint32_t rate, uint32_t bytes);
void PlatSoundBufferRelease(PlatSoundBuffer* b);
// Starts playing from the play cursor; a looping buffer wraps to its start, another one stops
// at its end with the play cursor back at 0.
bool PlatSoundBufferPlay(PlatSoundBuffer* b, bool looping);
void PlatSoundBufferStop(PlatSoundBuffer* b);   // keeps the play cursor where it is
bool PlatSoundBufferIsPlaying(PlatSoundBuffer* b);
// Byte offsets: `play` is the next byte the mixer reads; everything from `write` on up to
// `play` (wrapping) may be rewritten. Here the two coincide: the mixer copies as it reads.
bool PlatSoundBufferGetCursors(PlatSoundBuffer* b, uint32_t* play, uint32_t* write);
// Copies into or out of the buffer at `offset`, wrapping past its end; false when the range is
// longer than the buffer or the offset lies outside it.
bool PlatSoundBufferWrite(PlatSoundBuffer* b, uint32_t offset, const void* src, uint32_t bytes);
bool PlatSoundBufferRead(PlatSoundBuffer* b, uint32_t offset, void* dest, uint32_t bytes);
// Volume -10000..0 and pan -10000..10000 in 1/100 dB (values outside are clamped); frequency
// in Hz, clamped to PLAT_FREQUENCY_MIN..MAX.
void PlatSoundBufferSetVolume(PlatSoundBuffer* b, int32_t volume);
void PlatSoundBufferSetPan(PlatSoundBuffer* b, int32_t pan);
void PlatSoundBufferSetFrequency(PlatSoundBuffer* b, uint32_t hz);
int32_t PlatSoundBufferGetVolume(PlatSoundBuffer* b);
int32_t PlatSoundBufferGetPan(PlatSoundBuffer* b);
uint32_t PlatSoundBufferGetFrequency(PlatSoundBuffer* b);
