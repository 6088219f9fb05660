// The SDL backend's movies and Flash content. Movies play on the shared FFmpeg player, laid
// over the window's picture as it goes to the screen; the host has no Flash player, so no Flash
// control is made and the Flash child area exists only as a handle, since nothing would ever
// be drawn into it.
#include <SDL.h>

#include <cstring>

#include "platform/movie/movie_player.h"
#include "platform/sdl/sdl_driver.h"

namespace {

int g_FlashHandles;

bool SMovieOpen(int slot, const char* path, int x, int y, int width, int height, int volume) {
  return PlatMovieOpen(slot, path, PlatRect{x, y, width, height}, volume);
}
void SMovieSetRect(int x, int y, int width, int height) { PlatMovieSetRect(PlatRect{x, y, width, height}); }
int SFlashOpenWindow(int, int, int, int, int) { return ++g_FlashHandles; }
void SFlashMoveWindow(int, int, int, int, int) {}
void SFlashCloseWindow(int) {}
bool SLoadFlashPlayer() { return false; }
bool SFlashCreateControl(int, const char*, int32_t*) { return false; }
void SFlashReleaseControl() {}
bool SFlashIsPlaying() { return false; }
int32_t SFlashCurrentFrame() { return 0; }
bool SFlashGetVariable(const char*, int64_t*) { return false; }

}  // namespace

void SdlUploadCanvas(int slot, SDL_Texture* texture, const uint8_t* pixels, int width, int height) {
  if (!PlatMovieIsOpen()) {
    SDL_UpdateTexture(texture, nullptr, pixels, width * 4);
    return;
  }
  void* locked;
  int pitch;
  if (SDL_LockTexture(texture, nullptr, &locked, &pitch) != 0) return;
  uint8_t* rows = static_cast<uint8_t*>(locked);
  // The movie's picture is converted straight into the texture.
  if (!PlatMovieCompose(slot, pixels, rows, width, height, pitch, false))
    for (int y = 0; y < height; y++) memcpy(rows + size_t(y) * pitch, pixels + size_t(y) * width * 4, size_t(width) * 4);
  SDL_UnlockTexture(texture);
}

PlatformMediaDriver g_SdlMediaDriver = {
    SMovieOpen,       SMovieSetRect,       PlatMovieSetVolume,   PlatMoviePause,  PlatMovieClose,
    PlatMovieIsPlaying, PlatMoviePosition, SFlashOpenWindow,     SFlashMoveWindow, SFlashCloseWindow,
    SLoadFlashPlayer, SFlashCreateControl, SFlashReleaseControl, SFlashIsPlaying, SFlashCurrentFrame,
    SFlashGetVariable,
};
