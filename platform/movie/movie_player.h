// The movie player both backends share: one movie at a time, decoded on a thread of its own,
// its pictures converted over the parent window's client picture as it is shown and its sound
// in a mixer voice.
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
// Writes window `slot`'s picture, width x height, into `dest` (BGRA, rows of `pitch` bytes):
// the client picture the backend keeps (`under`, rows of width * 4 bytes; it may be `dest`
// itself) with the movie's picture due now over the movie's rectangle. Where the rectangle lies
// inside the window the decoded picture is converted straight into `dest`, elsewhere through a
// picture of the player's own; only what the movie leaves uncovered is copied from `under`.
// False, and `dest` untouched, when no movie is open over that window. `settle` as above.
bool PlatMovieCompose(int slot, const uint8_t* under, uint8_t* dest, int width, int height, int pitch, bool settle);
// Stereo frames of the movie's sound written to its mixer voice and not yet played.
uint32_t PlatMovieSoundAhead();

// The pictures the player holds: at most PLAT_MOVIE_QUEUE decoded pictures waiting and the one
// shown, each within the decoder's bounds (platform/movie/movie_decoder.h), and a converted
// picture of its own (at most 4096 x 2304) only while the rectangle does not lie inside its
// window. For tests: the most of each held at once since the movie opened, and the pixels of the
// largest decoded picture taken.
constexpr int PLAT_MOVIE_QUEUE = 3;
struct PlatMovieHolding {
  int decoded, converted;
  int64_t largestPicture;
};
PlatMovieHolding PlatMovieHeld();
