// The SDL2 backend: real windows, events, message boxes.
#pragma once

#include "platform/audio.h"
#include "platform/platform.h"

extern PlatformDriver g_SdlDriver;
extern PlatformMediaDriver g_SdlMediaDriver;
extern PlatformDesktop g_SdlDesktop;

// Why the last Init found SDL but could not start its video (a display that cannot be opened);
// empty when it started, or when SDL itself is missing.
const std::string& SdlVideoFailure();

// The SDL window of a slot, null while it has none (main thread).
struct SDL_Window;
SDL_Window* SdlWindowOfSlot(int slot);

// Puts a window's client picture (BGRA, tightly packed) into its streaming texture, with the
// movie playing over that window laid on top (main thread).
struct SDL_Texture;
void SdlUploadCanvas(int slot, SDL_Texture* texture, const uint8_t* pixels, int width, int height);

// An input method's events as SDL reports them, queued for whichever window has the keyboard
// (for tests that stand in for an input method): the text being composed with its caret (in
// characters), and the text it commits. Any thread.
void SdlQueueTextEditing(const char* utf8, int caret);
void SdlQueueTextInput(const char* utf8);

// Windows virtual-key code of an SDL scancode (0 when the key has none).
int SdlScancodeToVirtualKey(int scancode);

// The sound devices PlatAudioOpen tries when the SDL driver runs: a stream on the desktop's
// sound server (PulseAudio or PipeWire), then SDL's own device.
extern PlatAudioOutput g_PulseAudioOutput;
extern PlatAudioOutput g_SdlAudioOutput;
// True while an open of the device has not returned (a sound server that never answers): SDL's
// sound is then left as it is when SDL stops, since the open still works inside it.
bool SdlAudioOpening();
