// The SDL2 sound output: one stereo 16-bit device whose callback runs the mixer.
#include <SDL.h>

#include "platform/sdl/sdl_driver.h"

namespace {

SDL_AudioDeviceID g_Device = 0;

void SDLCALL FillDevice(void*, Uint8* stream, int bytes) {
  PlatAudioMix(reinterpret_cast<int16_t*>(stream), bytes / 4);
}

bool SdlAudioOpen(int* rate) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want{}, got{};
  want.freq = *rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = FillDevice;
  g_Device = SDL_OpenAudioDevice(nullptr, 0, &want, &got, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (g_Device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  *rate = got.freq;
  SDL_PauseAudioDevice(g_Device, 0);
  return true;
}

void SdlAudioClose() {
  if (g_Device == 0) return;
  SDL_CloseAudioDevice(g_Device);
  g_Device = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

PlatAudioOutput g_SdlAudioOutput = {"sdl", SdlAudioOpen, SdlAudioClose};
