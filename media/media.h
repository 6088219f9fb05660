// Movies and Flash content over the main window: the script commands, the state they keep,
// and what the window procedure, the frame step and shutdown ask of them.
#pragma once

#include <cstdint>
#include <string>

// The E-mote commands (the players themselves: media/emote_player.h).
int CmdEmote();
int CmdEmoteQuery();

struct MediaRect {
  int32_t x, y, width, height;   // game coordinates of the main window
};

// Movies. One at a time, through the back end the user setting chooses (g_MovieBackend:
// 1 the graph player, 0 the command-string player); both run on the platform's movie service.
constexpr int MOVIE_NAME_BYTES = 520;
extern MediaRect g_MovieRect;
extern int32_t g_MovieVolume;                 // 0..256
extern char g_MovieFileName[MOVIE_NAME_BYTES];
extern uint8_t g_MoviePlaying;
extern int32_t g_MciMovieOpen;                // the command-string player's movie is open

int CmdMovie();
int CmdMovieStop();
int CmdMovieQuery();
int CmdMovieReserved65();

// Volume 0..256 as each back end takes it: the graph player's attenuation in 1/100 dB
// (-10000..0) and the command-string player's 0..1000.
int32_t DShowMovieVolume(int32_t volume);
int32_t MciMovieVolume(int32_t volume);
void ReleaseMovieGraph();
void CloseMciMovie();
// The platform reports that the movie played to its end (main window).
void OnMovieEnd();
// 1 while a movie covers the main window, so the frame neither draws nor presents.
int MovieCoversWindow();
// Movies the scripts have started playing (command 62 with play 1 that opened one).
extern uint32_t g_MovieStarts;
// The main window's client area changed: scale factors output (or client) size / game size.
void RepositionMovieWindow(double scaleX, double scaleY);

// Flash content in a child area of the main window.
constexpr int FLASH_NAME_BYTES = 261;
extern char g_FlashFileName[FLASH_NAME_BYTES];
extern MediaRect g_FlashRect;
extern int g_FlashWindow;                     // the child area's handle, 0 = none
extern uint8_t g_FlashPlaying;
extern int32_t g_FlashTotalFrames;
extern int32_t g_FlashUserValue;
extern int32_t g_FlashActive;                 // live controls, 0 or 1

int CmdFlash();
int CmdFlashStop();
int CmdFlashQuery();

// The movie's total frames, or 0 when no control was made.
int32_t CreateFlashControl(int window, const char* pathUtf8);
int IsFlashPlaying();
int32_t GetFlashCurrentFrame();
int64_t GetFlashRootVariable(const char* name);
int RepositionFlashWindow(double scaleX, double scaleY);
void ReleaseFlashControl();
// Shutdown: the child area goes after the control.
void DestroyFlashWindow();

// Back to the state of a fresh start: no movie, no Flash content, the Flash player not yet
// looked for. Releases what is still open.
void ResetMediaState();

// A script's file name as both players keep it: ASCII letters lower-cased and '/' outside
// double-byte characters turned into '\', in place.
void NormalizeMediaFileName(char* name);
// The real path of a loose file below the project folder that opens for reading, or "".
std::string OpenableProjectFile(const char* name);
