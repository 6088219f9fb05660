// Movie playback over the main window: commands 62-65, the two back ends on the platform's
// movie service, the end notification and the window's repositioning.
#include <cmath>
#include <cstring>

#include "app/engine.h"
#include "app/window.h"
#include "layers/layer_args.h"
#include "media/media.h"
#include "platform/platform.h"
#include "render/render.h"

MediaRect g_MovieRect;
int32_t g_MovieVolume = 256;
char g_MovieFileName[MOVIE_NAME_BYTES];
uint8_t g_MoviePlaying;
int32_t g_MciMovieOpen;
uint32_t g_MovieStarts;

namespace {

enum : int { CMD_MOVIE = 62, CMD_MOVIE_STOP = 63, CMD_MOVIE_QUERY = 64, CMD_MOVIE_RESERVED = 65 };
enum : int { M_FILE = 1, M_PLAY = 2, M_X = 3, M_Y = 4, M_WIDTH = 5, M_HEIGHT = 6, M_VOLUME = 7 };
enum : int { Q_KIND = 7, Q_TARGET = 8 };

constexpr int32_t SILENT = -10000;

bool g_MovieGraphOpen;     // the graph player holds a movie
std::string g_MovieRealPath;

bool GraphBackend() { return g_MovieBackend == 1; }

Size2 GameSize() {
  const WindowRecord* w = g_WindowRecords[0];
  return w ? Size2{w->mWidth, w->mHeight} : Size2{0, 0};
}

// The command-string player's 0..1000 as the attenuation the platform takes.
int32_t LinearToAttenuation(int32_t level) {
  if (level <= 0) return SILENT;
  if (level >= 1000) return 0;
  int32_t a = int32_t(2000.0 * std::log10(level / 1000.0));
  return a < SILENT ? SILENT : a;
}

void SetDShowMovieVolume(int32_t volume) {
  if (g_MovieGraphOpen) g_PlatformMedia->MovieSetVolume(DShowMovieVolume(volume));
}

void SetMciMovieVolume(int32_t volume) {
  if (g_MciMovieOpen) g_PlatformMedia->MovieSetVolume(LinearToAttenuation(MciMovieVolume(volume)));
}

// 0, -1 for an empty name, -2 when the platform cannot play the movie.
int OpenDShowMovie(const MediaRect& r, int32_t volume) {
  ReleaseMovieGraph();
  if (!g_MovieFileName[0]) return -1;
  if (!g_PlatformMedia->MovieOpen(0, g_MovieRealPath.c_str(), r.x, r.y, r.width, r.height, DShowMovieVolume(volume)))
    return -2;
  g_MovieGraphOpen = true;
  return 0;
}

int OpenMciMovie(const MediaRect& r) {
  CloseMciMovie();
  if (!g_PlatformMedia->MovieOpen(0, g_MovieRealPath.c_str(), r.x, r.y, r.width, r.height, 0)) return 0;
  g_MciMovieOpen = 1;
  return 1;
}

int32_t Scale(int32_t v, int32_t num, int32_t den) { return den != 0 ? int32_t(int64_t(v) * num / den) : v; }

// Where the movie goes in the client area: the game rectangle moved by the letterbox offsets
// and scaled to the output size. The command-string player in fit mode 2 instead fits the
// game's shape into the client area itself.
MediaRect MovieWindowRect() {
  Size2 game = GameSize();
  Size2 out = g_OutputSize;
  Size2 offset = g_LetterboxOffset;
  if (!GraphBackend() && g_FitMode == 2) {
    int64_t cw = g_ClientAreaSize.width, ch = g_ClientAreaSize.height;
    int64_t gw = game.width != 0 ? game.width : 1, gh = game.height;
    if (ch > cw * gh / gw) out = {int32_t(cw), int32_t(cw * gh / gw)};
    else out = {int32_t(gh != 0 ? ch * gw / gh : cw), int32_t(ch)};
    offset = {int32_t((cw - out.width) / 2), int32_t((ch - out.height) / 2)};
  }
  return {offset.width + g_MovieRect.x, offset.height + g_MovieRect.y, Scale(g_MovieRect.width, out.width, game.width),
          Scale(g_MovieRect.height, out.height, game.height)};
}

void ApplyRectArguments(MediaRect* r) {
  const int params[4] = {M_X, M_Y, M_WIDTH, M_HEIGHT};
  int32_t* fields[4] = {&r->x, &r->y, &r->width, &r->height};
  for (int i = 0; i < 4; i++)
    if (ArgGiven(params[i])) *fields[i] = int32_t(ApplyAssignOp(ArgOperator(params[i]), *fields[i], ArgInt(params[i])));
}

// A new file covers the whole game area unless the script placed it.
void DefaultRect(MediaRect* r) {
  Size2 game = GameSize();
  if (!ArgGiven(M_X)) r->x = 0;
  if (!ArgGiven(M_Y)) r->y = 0;
  if (!ArgGiven(M_WIDTH)) r->width = game.width;
  if (!ArgGiven(M_HEIGHT)) r->height = game.height;
}

// 1 for an MPEG-1 system stream, 2 for an MPEG-2 program stream, 255 for anything else,
// 0 for a file that does not open.
int64_t MpegKind(const char* name) {
  char normal[MOVIE_NAME_BYTES];
  CopyTextBounded(normal, sizeof normal, name);
  NormalizeMediaFileName(normal);
  std::string real = OpenableProjectFile(normal);
  PlatFile* f = real.empty() ? nullptr : PlatFileOpen(real, "rb");
  if (!f) return 0;
  uint8_t head[5];
  size_t got = PlatFileRead(f, head, sizeof head);
  PlatFileClose(f);
  if (got < sizeof head || head[0] != 0 || head[1] != 0 || head[2] != 1 || head[3] != 0xBA) return 255;
  if ((head[4] & 0xF0) == 0x20) return 1;
  if ((head[4] & 0xC0) == 0x40) return 2;
  return 255;
}

}  // namespace

void NormalizeMediaFileName(char* name) {
  ToLowerAscii(name);
  for (uint8_t* p = reinterpret_cast<uint8_t*>(name); *p;) {
    if (g_LeadByteTable[*p] && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '/') *p = '\\';
    p++;
  }
}

std::string OpenableProjectFile(const char* name) {
  std::string real;
  if (!name[0] || !PlatResolvePath(g_ProjectFolderReal, name, &real)) return std::string();
  PlatFile* f = PlatFileOpen(real, "rb");
  if (!f) return std::string();
  PlatFileClose(f);
  return real;
}

int32_t DShowMovieVolume(int32_t volume) {
  if (volume == 0) return SILENT;
  double a = 4000.0 * std::log10(double(volume) / 256.0);
  if (std::isnan(a) || a < SILENT) return SILENT;
  return a > 0 ? 0 : int32_t(a);
}

int32_t MciMovieVolume(int32_t volume) { return int32_t(int64_t(volume) * 1000 / 256); }

void ReleaseMovieGraph() {
  if (g_MovieGraphOpen) g_PlatformMedia->MovieClose();
  g_MovieGraphOpen = false;
}

void CloseMciMovie() {
  if (g_MciMovieOpen) g_PlatformMedia->MovieClose();
}

void OnMovieEnd() {
  if (GraphBackend()) {
    if (!g_MovieGraphOpen) return;
    ReleaseMovieGraph();
    g_MoviePlaying = 0;
    return;
  }
  // The command-string player keeps its movie open, and the game picture off, until stopped.
  if (g_MciMovieOpen) g_MoviePlaying = 0;
}

int MovieCoversWindow() { return GraphBackend() ? g_MoviePlaying != 0 : g_MciMovieOpen != 0; }

void RepositionMovieWindow(double scaleX, double scaleY) {
  if (!g_MoviePlaying) return;
  if (!GraphBackend()) {
    MediaRect r = MovieWindowRect();
    g_PlatformMedia->MovieSetRect(r.x, r.y, r.width, r.height);
    return;
  }
  if (!g_MovieGraphOpen) return;
  Size2 game = GameSize();
  double ox = (g_ClientAreaSize.width - g_OutputSize.width) / 2;
  double oy = (g_ClientAreaSize.height - g_OutputSize.height) / 2;
  double w = game.width != 0 ? double(g_MovieRect.width) * g_OutputSize.width / game.width : g_MovieRect.width;
  double h = game.height != 0 ? double(g_MovieRect.height) * g_OutputSize.height / game.height : g_MovieRect.height;
  g_PlatformMedia->MovieSetRect(int32_t(g_MovieRect.x * scaleX + ox), int32_t(g_MovieRect.y * scaleY + oy), int32_t(w),
                                int32_t(h));
}

int CmdMovie() {
  if (DecodeLayerArguments(CMD_MOVIE) != 0) return -1;
  ApplyRectArguments(&g_MovieRect);
  if (ArgGiven(M_FILE)) {
    char name[MOVIE_NAME_BYTES];
    CopyTextBounded(name, sizeof name, ArgText(M_FILE));
    NormalizeMediaFileName(name);
    DefaultRect(&g_MovieRect);
    std::string real = OpenableProjectFile(name);
    if (real.empty()) return ReportScriptErrorF(104060, 1, name), -1;
    memcpy(g_MovieFileName, name, sizeof name);
    g_MovieRealPath = real;
    g_MoviePlaying = 0;
  }
  if (ArgGiven(M_VOLUME)) {
    g_MovieVolume = int32_t(ArgInt(M_VOLUME));
    if (GraphBackend()) SetDShowMovieVolume(g_MovieVolume);
    else SetMciMovieVolume(g_MovieVolume);
  }
  if (!ArgGiven(M_PLAY)) return 0;
  if (ArgInt(M_PLAY) == 1) {
    MediaRect r = MovieWindowRect();
    if (!GraphBackend()) {
      if (OpenMciMovie(r)) {
        SetMciMovieVolume(g_MovieVolume);
        g_MoviePlaying = 1;
        g_MovieStarts++;
      }
      return 0;
    }
    int result = OpenDShowMovie(r, g_MovieVolume);
    if (result == -1) return ReportScriptError(101510, 0), -1;
    if (result == -2) return ReportScriptError(101520, 0), -1;
    g_MoviePlaying = 1;
    g_MovieStarts++;
  } else if (ArgInt(M_PLAY) == 0) {
    if (GraphBackend() ? g_MovieGraphOpen : g_MciMovieOpen != 0) g_PlatformMedia->MoviePause();
    g_MoviePlaying = 0;
  }
  return 0;
}

int CmdMovieStop() {
  if (DecodeLayerArguments(CMD_MOVIE_STOP) != 0) return -1;
  if (GraphBackend()) ReleaseMovieGraph();
  else CloseMciMovie();
  g_MovieFileName[0] = 0;
  g_MovieRealPath.clear();
  g_MoviePlaying = 0;
  g_MovieVolume = 256;
  g_MciMovieOpen = 0;
  return 0;
}

int CmdMovieQuery() {
  if (DecodeLayerArguments(CMD_MOVIE_QUERY) != 0) return -1;
  int64_t values[Q_KIND] = {g_MoviePlaying, g_MovieRect.x, g_MovieRect.y, g_MovieRect.width, g_MovieRect.height,
                            g_MovieVolume, 0};
  for (int s = 1; s <= Q_KIND; s++) {
    if (!ArgGiven(s)) continue;
    StoreResultInt(Q_TARGET, s == Q_KIND ? MpegKind(ArgText(Q_KIND)) : values[s - 1]);
    return 0;
  }
  return 0;
}

int CmdMovieReserved65() { return DecodeLayerArguments(CMD_MOVIE_RESERVED) != 0 ? -1 : 0; }
