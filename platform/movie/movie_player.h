// The movie player both backends share: one movie at a time, decoded on a thread of its own,
// its pictures laid over the parent window's client picture and its sound in a mixer voice.
// Any thread may call these; the backends call them from their media driver and present path.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Opens the file (UTF-8 path) and plays it at once over window `slot` at `rect` (client
// pixels), the sound at `volume` (1/100 dB, -10000..0). The movie's time starts when its first
// picture is ready (waited for, at most a few seconds). False when it cannot be played.
bool PlatMovieOpen(int slot, const char* pathUtf8, const PlatRect& rect, int32_t volume);
void PlatMovieSetRect(const PlatRect& rect);
void PlatMovieSetVolume(int32_t volume);
void PlatMoviePause();   // stops where it is; the picture stays
void PlatMovieClose();   // ends the thread and the voice; nothing when none is open
bool PlatMovieIsOpen();
bool PlatMovieIsPlaying();
uint32_t PlatMoviePosition();   // milliseconds played

// True once when the movie has played to its end (it then stays open, stopped, showing its
// last picture); `slot` receives the parent window.
// `settle`: first wait (bounded) until the decoder has caught up with the clock, so the answer
// is the one due at this clock time even when the clock runs ahead of real time (the headless
// backend's fake clock).
bool PlatMovieTakeEnd(int* slot, bool settle);
// True when window `slot` must be shown again: a new picture is due, the rectangle moved, or a
// movie opened or closed over it. Clears the request.
bool PlatMovieNeedsShow(int slot);
// Lays the picture due now over a window's client picture (BGRA, rows of `pitch` bytes);
// false when no movie is open over that window. `settle` as above.
bool PlatMovieOverlay(int slot, uint8_t* bgra, int width, int height, int pitch, bool settle);
// Stereo frames of the movie's sound written to its mixer voice and not yet played.
uint32_t PlatMovieSoundAhead();
