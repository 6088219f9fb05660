// The input commands of the scripts: which input sources are polled, and the mouse cursor's
// mode, delay, re-show triggers, position, shape and a cursor made from a layer.
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/window.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "render/render.h"
#include "script/nametree.h"
#include "script/task.h"

namespace {

constexpr int CMD_INPUT_SETTINGS = 41;
constexpr int CMD_CURSOR = 61;

// Argument n of the current command (numbered from 1), 0 when the script left it out.
int Arg(int n) { return ParamPosition(n - 1); }
int64_t ArgInt(int pos) { return g_ArgInteger[pos]; }

void HideCursorNow() {
  g_CursorRequest = 2;
  g_CursorShown = 0;
}

// Moves the system cursor to the main window's client point for a game position, on the
// axis the command names; the other axis stays where the cursor is.
void MoveCursor(WindowRecord* main, bool horizontal, int64_t value) {
  PlatRect r;
  if (!main->mHasWindow || !g_Platform->GetWindowRect(0, &r)) return;
  int x = 0, y = 0;
  g_Platform->GetCursorPosition(&x, &y);
  x -= r.x;
  y -= r.y;
  if (horizontal) x = (int)(value + g_LetterboxOffset.width);
  else y = (int)(value + g_LetterboxOffset.height);
  g_Platform->WarpMouse(0, x, y);
}

}  // namespace

int CmdInputSettings() {
  if (DecodeCommandArguments(CMD_INPUT_SETTINGS) != 0) return -1;
  if (int a = Arg(1)) g_KeyPollingEnabled = (uint8_t)ArgInt(a);
  if (int a = Arg(2)) g_JoystickPollingEnabled = (uint8_t)ArgInt(a);
  if (int a = Arg(3)) {
    uint8_t value = (uint8_t)ArgInt(a);
    if (g_MousePollingEnabled == 1 && value == 0) {
      HideCursorNow();
    } else if (g_MousePollingEnabled == 0 && value == 1) {
      g_CursorRequest = 1;
      g_CursorShown = 1;
    }
    g_MousePollingEnabled = value;
  }
  return 0;
}

bool SetCursorFromLayer(LayerRecord* r, int hotX, int hotY) {
  if (!r || !r->mPixels || r->mWidth <= 0 || r->mHeight <= 0) {
    PlatMessageBox("", "CURSOR CreateDIBSection エラー", PLAT_MB_OK);
    return false;
  }
  if (!g_Platform->SetCustomCursor(r->mPixels, r->mWidth, r->mHeight, hotX, hotY)) {
    PlatMessageBox("", "CURSOR CreateIconIndirect エラー", PLAT_MB_OK);
    return false;
  }
  return true;
}

int CmdCursor() {
  if (DecodeCommandArguments(CMD_CURSOR) != 0) return -1;
  WindowRecord* main = g_WindowRecords[0];
  if (!main) return 0;
  if (int a = Arg(1)) {
    switch (ArgInt(a)) {
      case 0:
        if (g_CursorShown) HideCursorNow();
        main->mCursorHidden = 0;
        g_CursorAutoHide = 0;
        break;
      case 1:
        if (!main->mCursorHidden && !g_CursorShown) PrepareModalUi();
        g_CursorAutoHide = 1;
        break;
      case 2:
        PrepareModalUi();
        main->mCursorHidden = 0;
        g_CursorAutoHide = 0;
        break;
      default: break;
    }
  }
  if (int a = Arg(2)) g_CursorAutoHideDelay = (uint32_t)ArgInt(a);
  if (int a = Arg(3)) main->mCursorShowOnMove = (uint8_t)ArgInt(a);
  if (int a = Arg(4)) main->mCursorShowOnClick = (uint8_t)ArgInt(a);
  if (int a = Arg(5)) main->mCursorShowOnWheel = (uint8_t)ArgInt(a);
  if (int a = Arg(6)) {
    main->mCursorX = (int32_t)ArgInt(a);
    MoveCursor(main, true, ArgInt(a));
  }
  if (int a = Arg(7)) {
    main->mCursorY = (int32_t)ArgInt(a);
    MoveCursor(main, false, ArgInt(a));
  }
  if (int a = Arg(8)) {
    int64_t shape = ArgInt(a);
    g_Platform->SetCursorShape(shape >= 1 && shape <= 13 ? (int)shape : 0);
  }
  int hotX = Arg(9) ? (int)(ArgInt(Arg(9)) & 0xFFFF) : 0;
  int hotY = Arg(10) ? (int)(ArgInt(Arg(10)) & 0xFFFF) : 0;
  if (int a = Arg(11)) {
    char path[OBJECT_PATH_BYTES];
    if (NormalizeObjectPath(path, g_ArgString[a] ? g_ArgString[a] : "", g_LayerFolder, false) < 0) return -1;
    NameNode* node = FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_ANY);
    if (!node) return 0;
    g_CustomCursor = 0;
    if (SetCursorFromLayer(GetLayerRecord(node), hotX, hotY)) g_CustomCursor = 1;
  }
  return 0;
}
