// The SDL backend's movies and Flash content. None of our libraries decodes video and the host
// has no Flash player, so movies never open and no Flash control is made; the Flash child area
// itself exists only as a handle, since nothing would ever be drawn into it.
#include "platform/sdl/sdl_driver.h"

namespace {

int g_FlashHandles;

bool SMovieOpen(int, const char*, int, int, int, int, int) { return false; }
void SMovieSetRect(int, int, int, int) {}
void SMovieSetVolume(int) {}
void SMovieNothing() {}
bool SMovieIsPlaying() { return false; }
uint32_t SMoviePosition() { return 0; }
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

PlatformMediaDriver g_SdlMediaDriver = {
    SMovieOpen,       SMovieSetRect,       SMovieSetVolume,      SMovieNothing,   SMovieNothing,
    SMovieIsPlaying,  SMoviePosition,      SFlashOpenWindow,     SFlashMoveWindow, SFlashCloseWindow,
    SLoadFlashPlayer, SFlashCreateControl, SFlashReleaseControl, SFlashIsPlaying, SFlashCurrentFrame,
    SFlashGetVariable,
};
