// The SDL2 sound output: one stereo 16-bit device whose callback runs the mixer, and the signs
// that it stopped (gone, or its callback stalled).
#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sdl/sdl_driver.h"

namespace {

// Frames a block. SDL asks PulseAudio (and pipewire-pulse) for a stream of one block of
// latency and mixes the next block only when the server wants it, so a busy machine that wakes
// the mixer late leaves the server short (a gap). The stream is asked to hold four blocks
// instead (about 190 ms; a player's PULSE_LATENCY_MSEC wins): three stay queued while the next
// is mixed, which keeps the servers fed with every core busy.
constexpr int BLOCK_FRAMES = 2048;
constexpr int STREAM_BLOCKS = 4;
// A callback this late means the device no longer takes frames, whatever its status says.
constexpr int64_t STALL_MS = 1500;

SDL_AudioDeviceID g_Device = 0;
std::atomic<int> g_QueuedFrames{0};
std::atomic<int64_t> g_LastFill{0};
std::atomic<bool> g_Opening{false};
// The driver that opened the first device: a reopen asks for it again, so that a sound server
// that comes back is found rather than a bare card behind it.
std::string g_DriverUsed;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SDLCALL FillDevice(void*, Uint8* stream, int bytes) {
  g_LastFill = NowMs();
  PlatAudioMix(reinterpret_cast<int16_t*>(stream), bytes / 4);
}

// ALSA reports every card it cannot find on stderr; a machine without sound is no news to the
// player. The library SDL will load is the one given a silent handler here.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}
void QuietAlsa() {
  static bool done = false;
  if (done) return;
  done = true;
  void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
  if (!alsa) return;
  using SetHandler = int (*)(void (*)(const char*, int, const char*, int, const char*, ...));
  auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
  if (set) set(SilentAlsaError);
}

bool OpenDevice(int* rate, bool fixedRate) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want{}, got{};
  want.freq = *rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = BLOCK_FRAMES;
  want.callback = FillDevice;
  g_Device = SDL_OpenAudioDevice(nullptr, 0, &want, &got, fixedRate ? 0 : SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (g_Device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  if (g_DriverUsed.empty() && SDL_GetCurrentAudioDriver()) g_DriverUsed = SDL_GetCurrentAudioDriver();
  *rate = got.freq;
  // What the speaker is behind the mixer: the server's stream latency through PulseAudio, one
  // block otherwise.
  const char* driver = SDL_GetCurrentAudioDriver();
  const char* latency = getenv("PULSE_LATENCY_MSEC");
  int queued = got.samples;
  if (driver && strcmp(driver, "pulseaudio") == 0 && latency) queued = (int)((int64_t)atoi(latency) * got.freq / 1000);
  g_QueuedFrames = queued > 0 ? queued : got.samples;
  g_LastFill = NowMs();
  SDL_PauseAudioDevice(g_Device, 0);
  return true;
}

bool SdlAudioOpen(int* rate, bool fixedRate) {
  QuietAlsa();
  // Read by the sound server's client library when the stream is made; set once, before any.
  static bool latencySet = false;
  if (!latencySet && !getenv("PULSE_LATENCY_MSEC")) {
    std::string ms = std::to_string(STREAM_BLOCKS * BLOCK_FRAMES * 1000 / *rate);
    setenv("PULSE_LATENCY_MSEC", ms.c_str(), 0);
  }
  latencySet = true;
  if (!g_DriverUsed.empty() && !getenv("SDL_AUDIODRIVER")) SDL_SetHint(SDL_HINT_AUDIODRIVER, g_DriverUsed.c_str());
  g_Opening = true;
  bool opened = OpenDevice(rate, fixedRate);
  g_Opening = false;
  return opened;
}

void SdlAudioClose() {
  if (g_Device == 0) return;
  SDL_CloseAudioDevice(g_Device);
  g_Device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlAudioLost() {
  if (g_Device == 0) return true;
  return SDL_GetAudioDeviceStatus(g_Device) == SDL_AUDIO_STOPPED || NowMs() - g_LastFill > STALL_MS;
}

int SdlAudioQueued() { return g_Device ? g_QueuedFrames.load() : 0; }

}  // namespace

PlatAudioOutput g_SdlAudioOutput = {"sdl", SdlAudioOpen, SdlAudioClose, SdlAudioLost, nullptr, SdlAudioQueued};

bool SdlAudioOpening() { return g_Opening; }
