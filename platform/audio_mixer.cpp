// The backend-independent sound mixer: streaming buffers, their cursors, gains and resampling,
// the frames an output may ask for again, and the choice between the sound server's stream,
// SDL's device and the null output as the device comes and goes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/sdl/sdl_driver.h"

struct PlatSoundBuffer {
  std::vector<uint8_t> data;
  int channels;
  int bits;
  uint32_t blockAlign;
  uint32_t frames;
  uint32_t frequency;
  uint64_t position;     // frames in 32.32 fixed point
  bool playing;
  bool looping;
  int32_t volume;
  int32_t pan;
  int32_t gainLeft;      // 1.0 = 65536
  int32_t gainRight;
  bool late;             // started while the output can still place it in its queued frames
  uint64_t lateSince;    // the mixed-frame count when it started
};

namespace {

// Guards the buffer list and every buffer's fields; the output thread holds it while mixing.
std::mutex g_MixLock;
std::vector<PlatSoundBuffer*> g_Buffers;
std::atomic<int> g_Rate{44100};
std::vector<int32_t> g_Sum;
std::atomic<const PlatAudioOutput*> g_Output{nullptr};
// The sums of the last mixed frames (a ring of g_HistoryFrames stereo frames), kept while the
// output may ask for them again, and the frames mixed since it began to keep them.
std::vector<int32_t> g_History;
int g_HistoryFrames = 0;
uint64_t g_Mixed = 0;

int32_t GainOf(int32_t hundredthsDb) {
  if (hundredthsDb <= PLAT_VOLUME_SILENT) return 0;
  if (hundredthsDb >= 0) return 65536;
  return (int32_t)std::lround(65536.0 * std::pow(10.0, hundredthsDb / 2000.0));
}

// A negative pan attenuates the right channel, a positive one the left, as the volume does.
void UpdateGains(PlatSoundBuffer* b) {
  int64_t g = GainOf(b->volume);
  int64_t left = b->pan > 0 ? GainOf(-b->pan) : 65536;
  int64_t right = b->pan < 0 ? GainOf(b->pan) : 65536;
  b->gainLeft = (int32_t)((g * left) >> 16);
  b->gainRight = (int32_t)((g * right) >> 16);
}

template <int BITS>
inline int32_t SampleAt(const uint8_t* p) {
  if constexpr (BITS == 8) return ((int32_t)p[0] - 128) << 8;
  else return (int16_t)(p[0] | (p[1] << 8));
}

// Adds one buffer to the sum with linear interpolation; at the buffer's own rate (step 1.0)
// the fraction stays 0 and the samples pass through unchanged.
template <int BITS, int CHANNELS>
void MixVoice(PlatSoundBuffer* b, int32_t* sum, int frames) {
  const uint8_t* data = b->data.data();
  const uint32_t align = b->blockAlign;
  const uint32_t count = b->frames;
  const uint64_t step = ((uint64_t)b->frequency << 32) / (uint64_t)g_Rate;
  const int64_t gl = b->gainLeft, gr = b->gainRight;
  uint64_t pos = b->position;
  for (int i = 0; i < frames; i++) {
    uint32_t index = (uint32_t)(pos >> 32);
    if (index >= count) {
      if (!b->looping) {
        b->playing = false;
        pos = 0;
        break;
      }
      pos %= (uint64_t)count << 32;
      index = (uint32_t)(pos >> 32);
    }
    uint32_t next = index + 1;
    if (next >= count) next = b->looping ? 0 : index;
    int32_t frac = (int32_t)((pos >> 16) & 0xFFFF);
    const uint8_t* a = data + (size_t)index * align;
    const uint8_t* c = data + (size_t)next * align;
    int32_t l0 = SampleAt<BITS>(a), l1 = SampleAt<BITS>(c);
    int32_t left = l0 + (int32_t)(((int64_t)(l1 - l0) * frac) >> 16);
    int32_t right = left;
    if constexpr (CHANNELS == 2) {
      int32_t r0 = SampleAt<BITS>(a + BITS / 8), r1 = SampleAt<BITS>(c + BITS / 8);
      right = r0 + (int32_t)(((int64_t)(r1 - r0) * frac) >> 16);
    }
    sum[2 * i] += (int32_t)((left * gl) >> 16);
    sum[2 * i + 1] += (int32_t)((right * gr) >> 16);
    pos += step;
  }
  if (b->playing && (uint32_t)(pos >> 32) >= count) {
    if (b->looping) pos %= (uint64_t)count << 32;
    else b->playing = false, pos = 0;
  }
  b->position = pos;
}

void MixBuffer(PlatSoundBuffer* b, int32_t* sum, int frames) {
  if (frames <= 0 || !b->playing) return;
  if (b->bits == 8) {
    if (b->channels == 1) MixVoice<8, 1>(b, sum, frames);
    else MixVoice<8, 2>(b, sum, frames);
  } else {
    if (b->channels == 1) MixVoice<16, 1>(b, sum, frames);
    else MixVoice<16, 2>(b, sum, frames);
  }
}

void Clip(const int32_t* sum, int16_t* out, size_t samples) {
  for (size_t i = 0; i < samples; i++) {
    int32_t s = sum[i];
    out[i] = (int16_t)(s > 32767 ? 32767 : s < -32768 ? -32768 : s);
  }
}

// A held-back buffer the output has not placed within a quarter second starts where the mixer
// is: an output that never asks must not lose it.
bool StillLate(const PlatSoundBuffer* b) { return b->late && g_Mixed - b->lateSince < (uint64_t)g_Rate / 4; }

bool ValidRange(const PlatSoundBuffer* b, uint32_t offset, uint32_t bytes) {
  return b && offset < b->data.size() && bytes <= b->data.size();
}

// The output in use and the device's watcher. The watcher thread opens the SDL device, watches
// it while it plays, and when it is lost hands the frames to the null output and opens it again
// later; an open may hang for ever (a sound server without its session manager), so nobody
// waits on the watcher for long.
constexpr auto OPEN_LIMIT = std::chrono::milliseconds(3000);
constexpr auto WATCH_STEP = std::chrono::milliseconds(100);
constexpr auto RETRY_WAIT = std::chrono::milliseconds(3000);
constexpr auto STOP_LIMIT = std::chrono::milliseconds(1500);

struct DeviceWatch {
  bool stop = false;       // the output is being closed
  bool decided = false;    // PlatAudioOpen has returned: the rate stays
  bool opened = false;     // the first open gave a device in time
  bool finished = false;   // the thread is leaving
};

// Never destroyed: a watcher stuck in an open outlives everything, even the program's end.
std::mutex& g_OutputLock = *new std::mutex;   // guards the watch and the switches between outputs
std::condition_variable& g_OutputChanged = *new std::condition_variable;
std::shared_ptr<DeviceWatch> g_Watch;
std::thread* g_Watcher;

void UseNullOutput() {
  int rate = g_Rate;
  g_NullAudioOutput.Open(&rate, true);
  g_Output = &g_NullAudioOutput;
}

// The devices an open tries, in order: a stream on the desktop's sound server, which can start
// a sound inside the frames it already holds, then SDL's device (ALSA on a machine without a
// server). A player who names SDL's driver gets SDL. Once one has opened, only it is tried
// again, so that a server that comes back is found rather than a bare card behind it.
std::vector<const PlatAudioOutput*> DevicesToTry(const PlatAudioOutput* chosen) {
  if (chosen) return {chosen};
  if (getenv("SDL_AUDIODRIVER")) return {&g_SdlAudioOutput};
  return {&g_PulseAudioOutput, &g_SdlAudioOutput};
}

void WatchDevice(std::shared_ptr<DeviceWatch> w) {
  const PlatAudioOutput* chosen = nullptr;
  std::unique_lock<std::mutex> hold(g_OutputLock);
  bool lost = false;
  while (!w->stop) {
    bool fixedRate = w->decided;
    int got = g_Rate;
    const PlatAudioOutput* opened = nullptr;
    hold.unlock();
    for (const PlatAudioOutput* candidate : DevicesToTry(chosen)) {
      got = g_Rate;
      if (candidate->Open(&got, fixedRate)) {
        opened = candidate;
        break;
      }
    }
    hold.lock();
    if (opened && (w->stop || (w->decided && got != g_Rate))) {
      hold.unlock();
      opened->Close();
      hold.lock();
      continue;
    }
    if (!opened) {
      if (!w->decided) {
        w->decided = true;
        g_OutputChanged.notify_all();
      }
      g_OutputChanged.wait_for(hold, RETRY_WAIT, [&] { return w->stop; });
      continue;
    }
    const PlatAudioOutput& device = *opened;
    chosen = opened;
    if (!w->decided) {
      g_Rate = got;
      w->decided = w->opened = true;
      g_OutputChanged.notify_all();
    } else {
      g_NullAudioOutput.Close();
      fprintf(stderr, lost ? "kivor: the sound device is back\n" : "kivor: a sound device opened; sound is on\n");
    }
    g_Output = &device;
    while (!w->stop && !device.Lost()) g_OutputChanged.wait_for(hold, WATCH_STEP);
    if (!w->stop) {
      // The voices go on against the null output's clock from where the device left them.
      UseNullOutput();
      lost = true;
      fprintf(stderr, "kivor: the sound device was lost; sound comes back when it does\n");
    }
    hold.unlock();
    device.Close();
    hold.lock();
  }
  w->finished = true;
  g_OutputChanged.notify_all();
}

}  // namespace

int PlatAudioOpen(int rate) {
  PlatAudioClose();
  if (rate < 8000 || rate > 192000) rate = 44100;
  g_Rate = rate;
  std::unique_lock<std::mutex> hold(g_OutputLock);
  if (strcmp(g_Platform->name, "sdl") != 0) {
    UseNullOutput();
    return g_Rate;
  }
  auto w = std::make_shared<DeviceWatch>();
  g_Watch = w;
  g_Watcher = new std::thread(WatchDevice, w);
  // The wait ends early for a quit signal: a player ending a game that hangs at its start.
  auto limit = std::chrono::steady_clock::now() + OPEN_LIMIT;
  while (!w->decided && std::chrono::steady_clock::now() < limit && PlatQuitSignal() == 0)
    g_OutputChanged.wait_for(hold, std::chrono::milliseconds(50));
  if (!w->opened) {
    bool answered = w->decided;
    w->decided = true;
    UseNullOutput();
    fprintf(stderr, answered ? "kivor: no sound device opened; sound is off until one does\n"
                             : "kivor: the sound device did not answer; sound is off until it does\n");
  }
  return g_Rate;
}

void PlatAudioClose() {
  std::unique_lock<std::mutex> hold(g_OutputLock);
  if (g_Watch) {
    std::shared_ptr<DeviceWatch> w = g_Watch;
    w->stop = true;
    g_OutputChanged.notify_all();
    // A watcher stuck in an open is left to it; it closes what it gets and leaves.
    if (g_OutputChanged.wait_for(hold, STOP_LIMIT, [&] { return w->finished; })) g_Watcher->join();
    else g_Watcher->detach();
    delete g_Watcher;
    g_Watcher = nullptr;
    g_Watch.reset();
  }
  g_NullAudioOutput.Close();
  g_Output = nullptr;
}

bool PlatAudioIsOpen() { return g_Output != nullptr; }
int PlatAudioRate() { return g_Rate; }
const char* PlatAudioOutputName() {
  const PlatAudioOutput* o = g_Output;
  return o ? o->name : "";
}

int PlatAudioQueuedFrames() {
  const PlatAudioOutput* o = g_Output;
  return o && o->Queued ? o->Queued() : 0;
}

void PlatAudioMix(int16_t* out, int frames) {
  if (frames <= 0) return;
  std::lock_guard<std::mutex> g(g_MixLock);
  g_Sum.assign((size_t)frames * 2, 0);
  for (PlatSoundBuffer* b : g_Buffers) {
    if (StillLate(b)) continue;
    b->late = false;
    MixBuffer(b, g_Sum.data(), frames);
  }
  if (g_HistoryFrames > 0) {
    // Copied into the ring in at most two pieces; a block longer than the ring keeps its end.
    int keep = frames < g_HistoryFrames ? frames : g_HistoryFrames;
    const int32_t* from = g_Sum.data() + (size_t)(frames - keep) * 2;
    size_t at = (size_t)((g_Mixed + (uint64_t)(frames - keep)) % (uint64_t)g_HistoryFrames);
    size_t first = std::min((size_t)keep, (size_t)g_HistoryFrames - at);
    memcpy(g_History.data() + at * 2, from, first * 2 * sizeof(int32_t));
    memcpy(g_History.data(), from + first * 2, ((size_t)keep - first) * 2 * sizeof(int32_t));
  }
  g_Mixed += (uint64_t)frames;
  Clip(g_Sum.data(), out, (size_t)frames * 2);
}

void PlatAudioKeepHistory(int frames) {
  std::lock_guard<std::mutex> g(g_MixLock);
  g_HistoryFrames = frames > 0 ? frames : 0;
  g_History.assign((size_t)g_HistoryFrames * 2, 0);
  g_Mixed = 0;
  for (PlatSoundBuffer* b : g_Buffers) b->late = false;
}

int PlatAudioMixLate(int16_t* out, int back) {
  std::lock_guard<std::mutex> g(g_MixLock);
  if (back < 0) back = 0;
  if (back > g_HistoryFrames) back = g_HistoryFrames;
  if ((uint64_t)back > g_Mixed) back = (int)g_Mixed;
  bool any = false;
  for (PlatSoundBuffer* b : g_Buffers) any = any || b->late;
  if (!any || back == 0) {
    // Whatever is held back starts with the next frames mixed.
    for (PlatSoundBuffer* b : g_Buffers) b->late = false;
    return 0;
  }
  size_t at = (size_t)((g_Mixed - (uint64_t)back) % (uint64_t)g_HistoryFrames);
  int first = (int)std::min((size_t)back, (size_t)g_HistoryFrames - at);
  for (PlatSoundBuffer* b : g_Buffers) {
    if (!b->late) continue;
    b->late = false;
    MixBuffer(b, g_History.data() + at * 2, first);
    MixBuffer(b, g_History.data(), back - first);
  }
  Clip(g_History.data() + at * 2, out, (size_t)first * 2);
  Clip(g_History.data(), out + (size_t)first * 2, (size_t)(back - first) * 2);
  return back;
}

PlatSoundBuffer* PlatSoundBufferCreate(int channels, int bits, uint32_t rate, uint32_t bytes) {
  if (channels < 1 || channels > 2 || (bits != 8 && bits != 16)) return nullptr;
  uint32_t align = (uint32_t)(channels * bits / 8);
  if (bytes == 0 || bytes % align != 0 || rate < PLAT_FREQUENCY_MIN || rate > PLAT_FREQUENCY_MAX) return nullptr;
  PlatSoundBuffer* b = new (std::nothrow) PlatSoundBuffer{};
  if (!b) return nullptr;
  // Fresh buffers hold silence of their own format.
  b->data.assign(bytes, bits == 8 ? 0x80 : 0);
  b->channels = channels;
  b->bits = bits;
  b->blockAlign = align;
  b->frames = bytes / align;
  b->frequency = rate;
  UpdateGains(b);
  std::lock_guard<std::mutex> g(g_MixLock);
  g_Buffers.push_back(b);
  return b;
}

void PlatSoundBufferRelease(PlatSoundBuffer* b) {
  if (!b) return;
  {
    std::lock_guard<std::mutex> g(g_MixLock);
    for (size_t i = 0; i < g_Buffers.size(); i++)
      if (g_Buffers[i] == b) {
        g_Buffers.erase(g_Buffers.begin() + (ptrdiff_t)i);
        break;
      }
  }
  delete b;
}

bool PlatSoundBufferPlay(PlatSoundBuffer* b, bool looping) {
  if (!b) return false;
  bool started;
  {
    std::lock_guard<std::mutex> g(g_MixLock);
    started = !b->playing;
    if (started && g_HistoryFrames > 0) {
      b->late = true;
      b->lateSince = g_Mixed;
    }
    b->playing = true;
    b->looping = looping;
  }
  // Told outside the lock: the output takes the lock itself to place the sound.
  const PlatAudioOutput* o = g_Output;
  if (started && o && o->Started) o->Started();
  return true;
}

void PlatSoundBufferStop(PlatSoundBuffer* b) {
  if (!b) return;
  std::lock_guard<std::mutex> g(g_MixLock);
  b->playing = false;
  b->late = false;
}

bool PlatSoundBufferIsPlaying(PlatSoundBuffer* b) {
  if (!b) return false;
  std::lock_guard<std::mutex> g(g_MixLock);
  return b->playing;
}

bool PlatSoundBufferGetCursors(PlatSoundBuffer* b, uint32_t* play, uint32_t* write) {
  if (!b) return false;
  std::lock_guard<std::mutex> g(g_MixLock);
  uint32_t cursor = (uint32_t)(b->position >> 32) * b->blockAlign;
  if (cursor >= b->data.size()) cursor = 0;
  if (play) *play = cursor;
  if (write) *write = cursor;
  return true;
}

bool PlatSoundBufferWrite(PlatSoundBuffer* b, uint32_t offset, const void* src, uint32_t bytes) {
  std::lock_guard<std::mutex> g(g_MixLock);
  if (!ValidRange(b, offset, bytes)) return false;
  size_t first = b->data.size() - offset < bytes ? b->data.size() - offset : bytes;
  memcpy(b->data.data() + offset, src, first);
  memcpy(b->data.data(), (const uint8_t*)src + first, bytes - first);
  return true;
}

bool PlatSoundBufferRead(PlatSoundBuffer* b, uint32_t offset, void* dest, uint32_t bytes) {
  std::lock_guard<std::mutex> g(g_MixLock);
  if (!ValidRange(b, offset, bytes)) return false;
  size_t first = b->data.size() - offset < bytes ? b->data.size() - offset : bytes;
  memcpy(dest, b->data.data() + offset, first);
  memcpy((uint8_t*)dest + first, b->data.data(), bytes - first);
  return true;
}

void PlatSoundBufferSetVolume(PlatSoundBuffer* b, int32_t volume) {
  if (!b) return;
  std::lock_guard<std::mutex> g(g_MixLock);
  b->volume = volume < PLAT_VOLUME_SILENT ? PLAT_VOLUME_SILENT : volume > 0 ? 0 : volume;
  UpdateGains(b);
}

void PlatSoundBufferSetPan(PlatSoundBuffer* b, int32_t pan) {
  if (!b) return;
  std::lock_guard<std::mutex> g(g_MixLock);
  b->pan = pan < PLAT_PAN_LEFT ? PLAT_PAN_LEFT : pan > PLAT_PAN_RIGHT ? PLAT_PAN_RIGHT : pan;
  UpdateGains(b);
}

void PlatSoundBufferSetFrequency(PlatSoundBuffer* b, uint32_t hz) {
  if (!b) return;
  std::lock_guard<std::mutex> g(g_MixLock);
  b->frequency = hz < PLAT_FREQUENCY_MIN ? PLAT_FREQUENCY_MIN : hz > PLAT_FREQUENCY_MAX ? PLAT_FREQUENCY_MAX : hz;
}

int32_t PlatSoundBufferGetVolume(PlatSoundBuffer* b) {
  if (!b) return PLAT_VOLUME_SILENT;
  std::lock_guard<std::mutex> g(g_MixLock);
  return b->volume;
}

int32_t PlatSoundBufferGetPan(PlatSoundBuffer* b) {
  if (!b) return 0;
  std::lock_guard<std::mutex> g(g_MixLock);
  return b->pan;
}

uint32_t PlatSoundBufferGetFrequency(PlatSoundBuffer* b) {
  if (!b) return 0;
  std::lock_guard<std::mutex> g(g_MixLock);
  return b->frequency;
}
