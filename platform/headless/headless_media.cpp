// The headless backend's movies and Flash content: the shared FFmpeg movie player (settled on
// the backend's clock), a fake movie player for fault injection that plays for a set length and
// posts its end, and a Flash player that tests script.
#include <map>
#include <mutex>

#include "platform/headless/headless.h"
#include "platform/headless/headless_local.h"
#include "platform/movie/movie_player.h"

namespace {

std::mutex g_MediaLock;

struct FakeMovie {
  bool open = false, playing = false;
  int slot = 0;
  uint32_t startedAt = 0;   // clock time of the last start
  uint32_t playedBefore = 0;   // milliseconds played before that start
};
FakeMovie g_Movie;
uint32_t g_MovieLength = 1000;
bool g_RefuseMovies;
bool g_FakeMovies;

HeadlessFlashPlayer g_Flash;
bool g_FlashControlLive;
int g_FlashWindows;   // handles handed out

uint32_t Now() { return g_HeadlessDriver.GetTicks(); }

uint32_t Played() {
  return g_Movie.playedBefore + (g_Movie.playing ? Now() - g_Movie.startedAt : 0);
}

std::string Rect(int x, int y, int w, int h) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" + std::to_string(h);
}

bool HMovieOpen(int slot, const char* path, int x, int y, int w, int h, int volume) {
  HeadlessRecordCall("MovieOpen " + std::to_string(slot) + " " + path + " " + Rect(x, y, w, h) + " " + std::to_string(volume));
  bool fake, refuse;
  {
    std::lock_guard<std::mutex> g(g_MediaLock);
    g_Movie = FakeMovie{};
    fake = g_FakeMovies;
    refuse = g_RefuseMovies;
  }
  if (refuse) return false;
  if (!fake) return PlatMovieOpen(slot, path, PlatRect{x, y, w, h}, volume);
  if (!PlatFileExists(path)) return false;
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_Movie.open = g_Movie.playing = true;
  g_Movie.slot = slot;
  g_Movie.startedAt = Now();
  return true;
}

void HMovieSetRect(int x, int y, int w, int h) {
  HeadlessRecordCall("MovieSetRect " + Rect(x, y, w, h));
  PlatMovieSetRect(PlatRect{x, y, w, h});
}

void HMovieSetVolume(int volume) {
  HeadlessRecordCall("MovieSetVolume " + std::to_string(volume));
  PlatMovieSetVolume(volume);
}

void HMoviePause() {
  HeadlessRecordCall("MoviePause");
  PlatMoviePause();
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_Movie.playedBefore = Played();
  g_Movie.playing = false;
}

void HMovieClose() {
  HeadlessRecordCall("MovieClose");
  PlatMovieClose();
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_Movie = FakeMovie{};
}

bool HMovieIsPlaying() {
  if (PlatMovieIsOpen()) return PlatMovieIsPlaying();
  std::lock_guard<std::mutex> g(g_MediaLock);
  return g_Movie.playing;
}

uint32_t HMoviePosition() {
  if (PlatMovieIsOpen()) return PlatMoviePosition();
  std::lock_guard<std::mutex> g(g_MediaLock);
  uint32_t p = Played();
  return p < g_MovieLength ? p : g_MovieLength;
}

int HFlashOpenWindow(int slot, int x, int y, int w, int h) {
  HeadlessRecordCall("FlashOpenWindow " + std::to_string(slot) + " " + Rect(x, y, w, h));
  std::lock_guard<std::mutex> g(g_MediaLock);
  return g_Flash.windowFails ? 0 : ++g_FlashWindows;
}

void HFlashMoveWindow(int handle, int x, int y, int w, int h) {
  HeadlessRecordCall("FlashMoveWindow " + std::to_string(handle) + " " + Rect(x, y, w, h));
}

void HFlashCloseWindow(int handle) { HeadlessRecordCall("FlashCloseWindow " + std::to_string(handle)); }

bool HLoadFlashPlayer() {
  HeadlessRecordCall("LoadFlashPlayer");
  std::lock_guard<std::mutex> g(g_MediaLock);
  return g_Flash.present;
}

bool HFlashCreateControl(int handle, const char* path, int32_t* totalFrames) {
  HeadlessRecordCall("FlashCreateControl " + std::to_string(handle) + " " + path);
  std::lock_guard<std::mutex> g(g_MediaLock);
  if (!g_Flash.present || g_Flash.controlFails) return false;
  g_FlashControlLive = true;
  *totalFrames = g_Flash.totalFrames;
  return true;
}

void HFlashReleaseControl() {
  HeadlessRecordCall("FlashReleaseControl");
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_FlashControlLive = false;
}

bool HFlashIsPlaying() {
  std::lock_guard<std::mutex> g(g_MediaLock);
  return g_FlashControlLive && g_Flash.playing;
}

int32_t HFlashCurrentFrame() {
  std::lock_guard<std::mutex> g(g_MediaLock);
  return g_FlashControlLive ? g_Flash.currentFrame : 0;
}

bool HFlashGetVariable(const char* name, int64_t* value) {
  HeadlessRecordCall(std::string("FlashGetVariable ") + name);
  std::lock_guard<std::mutex> g(g_MediaLock);
  auto it = g_Flash.variables.find(name);
  if (!g_FlashControlLive || it == g_Flash.variables.end()) return false;
  *value = it->second;
  return true;
}

}  // namespace

PlatformMediaDriver g_HeadlessMediaDriver = {
    HMovieOpen,       HMovieSetRect,    HMovieSetVolume,    HMoviePause,         HMovieClose,
    HMovieIsPlaying,  HMoviePosition,   HFlashOpenWindow,   HFlashMoveWindow,    HFlashCloseWindow,
    HLoadFlashPlayer, HFlashCreateControl, HFlashReleaseControl, HFlashIsPlaying, HFlashCurrentFrame,
    HFlashGetVariable,
};

void HeadlessSetMovieLength(uint32_t ms) {
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_MovieLength = ms;
}

void HeadlessRefuseMovies(bool refuse) {
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_RefuseMovies = refuse;
}

void HeadlessUseFakeMovies(bool fake) {
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_FakeMovies = fake;
}

void HeadlessSetFlashPlayer(const HeadlessFlashPlayer& player) {
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_Flash = player;
}

bool HeadlessMovieEnded(int* slot) {
  if (PlatMovieTakeEnd(slot, true)) return true;
  std::lock_guard<std::mutex> g(g_MediaLock);
  if (!g_Movie.playing || Played() < g_MovieLength) return false;
  g_Movie.playedBefore = g_MovieLength;
  g_Movie.playing = false;
  *slot = g_Movie.slot;
  return true;
}

void HeadlessResetMedia() {
  PlatMovieClose();
  std::lock_guard<std::mutex> g(g_MediaLock);
  g_Movie = FakeMovie{};
  g_MovieLength = 1000;
  g_RefuseMovies = false;
  g_FakeMovies = false;
  g_Flash = HeadlessFlashPlayer{};
  g_FlashControlLive = false;
  g_FlashWindows = 0;
}
