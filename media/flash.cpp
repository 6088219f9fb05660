// Flash content in a child area of the main window: commands 23-25, the player control on the
// platform's Flash service, and the area's repositioning.
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "app/window.h"
#include "layers/layer_args.h"
#include "media/media.h"
#include "platform/platform.h"
#include "render/render.h"

char g_FlashFileName[FLASH_NAME_BYTES];
MediaRect g_FlashRect;
int g_FlashWindow;
uint8_t g_FlashPlaying;
int32_t g_FlashTotalFrames;
int32_t g_FlashUserValue;
int32_t g_FlashActive;

namespace {

enum : int { CMD_FLASH = 23, CMD_FLASH_STOP = 24, CMD_FLASH_QUERY = 25 };
enum : int { F_FILE = 1, F_PLAY = 2, F_X = 3, F_Y = 4, F_WIDTH = 5, F_HEIGHT = 6, F_USER = 7 };
enum : int {
  Q_PLAYING = 1, Q_ROOT = 2, Q_X = 3, Q_Y = 4, Q_WIDTH = 5, Q_HEIGHT = 6, Q_FRAME = 7, Q_USER = 8, Q_TOTAL = 9,
  Q_TARGET = 10,
};

// The player is looked for once per run; a failure is final.
bool g_PlayerLookedFor;
bool g_PlayerLoaded;

Size2 GameSize() {
  const WindowRecord* w = g_WindowRecords[0];
  return w ? Size2{w->mWidth, w->mHeight} : Size2{0, 0};
}

int32_t Scale(int32_t v, int32_t num, int32_t den) { return den != 0 ? int32_t(int64_t(v) * num / den) : v; }

std::string Utf8(const char* cp932) {
  std::string out;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &out)) return std::string();
  return out;
}

std::string Cp932(const char* utf8) {
  std::string out;
  if (!PlatUtf8ToCp932(utf8, strlen(utf8), &out)) return std::string(utf8);
  return out;
}

// Hosts the stored file in a new child area. The state holds one area and one control, so a
// movie already hosted is released first.
void StartFlash(int32_t userValue) {
  ReleaseFlashControl();
  DestroyFlashWindow();
  Size2 game = GameSize();
  int32_t x = g_LetterboxOffset.width + g_FlashRect.x;
  int32_t y = g_LetterboxOffset.height + g_FlashRect.y;
  int32_t w = Scale(g_FlashRect.width, g_OutputSize.width, game.width);
  int32_t h = Scale(g_FlashRect.height, g_OutputSize.height, game.height);
  g_FlashWindow = g_PlatformMedia->FlashOpenWindow(0, x, y, w, h);
  if (!g_FlashWindow) {
    ShowErrorBox("", Cp932("ウィンドウを生成できませんでした。").c_str());
    return;
  }
  std::string path;
  PlatResolvePath(g_ProjectFolderReal, g_FlashFileName, &path);
  g_FlashTotalFrames = CreateFlashControl(g_FlashWindow, path.c_str());
  g_FlashUserValue = userValue;
  g_FlashPlaying = 1;
}

}  // namespace

int32_t CreateFlashControl(int window, const char* pathUtf8) {
  if (!g_PlayerLookedFor) {
    g_PlayerLookedFor = true;
    g_PlayerLoaded = g_PlatformMedia->LoadFlashPlayer();
    if (!g_PlayerLoaded) return ShowErrorBox("", Cp932("ATL.DLLが見つかりませんでした。").c_str()), 0;
  }
  if (!g_PlayerLoaded) return 0;
  int32_t total = 0;
  if (!g_PlatformMedia->FlashCreateControl(window, pathUtf8, &total)) return 0;
  g_FlashActive += 1;
  return total;
}

int IsFlashPlaying() { return g_FlashActive > 0 && g_PlatformMedia->FlashIsPlaying() ? 1 : 0; }

int32_t GetFlashCurrentFrame() { return g_FlashActive > 0 ? g_PlatformMedia->FlashCurrentFrame() : 0; }

int64_t GetFlashRootVariable(const char* name) {
  if (g_FlashActive <= 0) return 0;
  int64_t value = 0;
  if (g_PlatformMedia->FlashGetVariable(Utf8(name).c_str(), &value)) return value;
  char text[1024];
  snprintf(text, sizeof text,
           Cp932("変数 %s が見つかりませんでした。\r\nルートの変数になっているか、また整数が格納されているか、\r\n確認してください。").c_str(),
           name);
  PlatMessageBox("", Utf8(text).c_str(), PLAT_MB_OK);
  return 0;
}

int RepositionFlashWindow(double scaleX, double scaleY) {
  if (!g_FlashWindow) return 0;
  Size2 game = GameSize();
  int32_t ox = (g_ClientAreaSize.width - g_OutputSize.width) / 2;
  int32_t oy = (g_ClientAreaSize.height - g_OutputSize.height) / 2;
  int32_t x = int32_t(g_FlashRect.x * scaleX + ox);
  int32_t y = int32_t(g_FlashRect.y * scaleY + oy);
  int32_t w = game.width != 0 ? int32_t(double(g_FlashRect.width) * g_OutputSize.width / game.width) : g_FlashRect.width;
  int32_t h = game.height != 0 ? int32_t(double(g_FlashRect.height) * g_OutputSize.height / game.height) : g_FlashRect.height;
  g_PlatformMedia->FlashMoveWindow(g_FlashWindow, x, y, w, h);
  return 0;
}

void ReleaseFlashControl() {
  if (g_FlashActive <= 0) return;
  g_FlashActive -= 1;
  g_PlatformMedia->FlashReleaseControl();
}

void DestroyFlashWindow() {
  if (g_FlashWindow) g_PlatformMedia->FlashCloseWindow(g_FlashWindow);
  g_FlashWindow = 0;
}

int CmdFlash() {
  if (DecodeLayerArguments(CMD_FLASH) != 0) return -1;
  const int params[4] = {F_X, F_Y, F_WIDTH, F_HEIGHT};
  int32_t* fields[4] = {&g_FlashRect.x, &g_FlashRect.y, &g_FlashRect.width, &g_FlashRect.height};
  for (int i = 0; i < 4; i++)
    if (ArgGiven(params[i])) *fields[i] = int32_t(ApplyAssignOp(ArgOperator(params[i]), *fields[i], ArgInt(params[i])));
  int32_t userValue = ArgGiven(F_USER) ? int32_t(ArgInt(F_USER)) : 0;
  if (ArgGiven(F_FILE)) {
    char name[FLASH_NAME_BYTES];
    CopyTextBounded(name, sizeof name, ArgText(F_FILE));
    NormalizeMediaFileName(name);
    Size2 game = GameSize();
    if (!ArgGiven(F_X)) g_FlashRect.x = 0;
    if (!ArgGiven(F_Y)) g_FlashRect.y = 0;
    if (!ArgGiven(F_WIDTH)) g_FlashRect.width = game.width;
    if (!ArgGiven(F_HEIGHT)) g_FlashRect.height = game.height;
    if (OpenableProjectFile(name).empty()) return ReportScriptErrorF(104060, 1, name), -1;
    memcpy(g_FlashFileName, name, sizeof name);
    g_FlashPlaying = 0;
  }
  if (ArgGiven(F_PLAY) && ArgInt(F_PLAY) == 1) StartFlash(userValue);
  return 0;
}

int CmdFlashStop() {
  if (DecodeLayerArguments(CMD_FLASH_STOP) != 0) return -1;
  ReleaseFlashControl();
  DestroyFlashWindow();
  g_FlashFileName[0] = 0;
  g_FlashPlaying = 0;
  g_FlashUserValue = 0;
  g_FlashTotalFrames = 0;
  return 0;
}

int CmdFlashQuery() {
  if (DecodeLayerArguments(CMD_FLASH_QUERY) != 0) return -1;
  for (int s = Q_PLAYING; s <= Q_TOTAL; s++) {
    if (!ArgGiven(s)) continue;
    int64_t v = 0;
    switch (s) {
      case Q_PLAYING: v = IsFlashPlaying(); break;
      case Q_ROOT: v = GetFlashRootVariable("kivoru"); break;
      case Q_X: v = g_FlashRect.x; break;
      case Q_Y: v = g_FlashRect.y; break;
      case Q_WIDTH: v = g_FlashRect.width; break;
      case Q_HEIGHT: v = g_FlashRect.height; break;
      case Q_FRAME: v = g_FlashPlaying ? GetFlashCurrentFrame() : 0; break;
      case Q_USER: v = g_FlashPlaying ? g_FlashUserValue : 0; break;
      default: v = g_FlashPlaying ? g_FlashTotalFrames : 0; break;
    }
    StoreResultInt(Q_TARGET, v);
    return 0;
  }
  return 0;
}

void ResetMediaState() {
  ReleaseMovieGraph();
  CloseMciMovie();
  g_MovieRect = MediaRect{};
  g_MovieVolume = 256;
  g_MovieFileName[0] = 0;
  g_MoviePlaying = 0;
  g_MciMovieOpen = 0;
  while (g_FlashActive > 0) ReleaseFlashControl();
  DestroyFlashWindow();
  g_FlashFileName[0] = 0;
  g_FlashRect = MediaRect{};
  g_FlashPlaying = 0;
  g_FlashTotalFrames = 0;
  g_FlashUserValue = 0;
  g_PlayerLookedFor = false;
  g_PlayerLoaded = false;
}
