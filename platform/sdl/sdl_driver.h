// The SDL2 backend: real windows, events, message boxes.
#pragma once

#include "platform/audio.h"
#include "platform/platform.h"

extern PlatformDriver g_SdlDriver;
extern PlatformMediaDriver g_SdlMediaDriver;
extern PlatformDesktop g_SdlDesktop;

// The SDL window of a slot, null while it has none (main thread).
struct SDL_Window;
SDL_Window* SdlWindowOfSlot(int slot);

// Windows virtual-key code of an SDL scancode (0 when the key has none).
int SdlScancodeToVirtualKey(int scancode);

// The sound device; PlatAudioOpen picks it when the SDL driver runs.
extern PlatAudioOutput g_SdlAudioOutput;
