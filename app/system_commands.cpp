// The desktop-facing system commands: clipboard, message boxes and the text-input dialog,
// ending and restarting, option bytes, frame rate, the screen and script-timer command and the
// script file query.
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/window.h"
#include "media/emote.h"
#include "platform/platform.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

uint8_t g_ScreenSaverBlock = 1;

namespace {

constexpr int CMD_CLIPBOARD_COPY = 5;
constexpr int CMD_CLIPBOARD_PASTE = 6;
constexpr int CMD_RESERVED7 = 7;
constexpr int CMD_MESSAGE_BOX = 10;
constexpr int CMD_END = 14;
constexpr int CMD_SET_OPTIONS = 15;
constexpr int CMD_RESERVED16 = 16;
constexpr int CMD_FRAME_RATE = 29;
constexpr int CMD_SCREEN_AND_TIMERS = 82;
constexpr int CMD_SCRIPT_FILE_QUERY = 83;

constexpr size_t PASTE_LIMIT = 1024;
// Options 1-110 come from arguments 3-112 (parameter ids 2-111).
constexpr int OPTION_COUNT = 110;
static_assert(OPTION_COUNT < int(sizeof g_EngineOptions) && OPTION_COUNT + 2 <= MAX_COMMAND_PARAMS);

// Argument n of the current command (numbered from 1), 0 when the script left it out.
int Arg(int n) { return ParamPosition(n - 1); }
int64_t ArgInt(int pos) { return g_ArgInteger[pos]; }
const char* ArgText(int pos) { return pos && g_ArgString[pos] ? g_ArgString[pos] : ""; }

int32_t TargetElement(int pos) {
  int64_t e = g_ArgRefElement[pos];
  return e >= 0 && e <= INT32_MAX ? (int32_t)e : -1;
}

// A number into a target: a real element takes it as a real, anything else as an integer
// (a text element gives the wrong-type message there).
void StoreNumber(int pos, int64_t value) {
  const VarRecord* var = GetVariable(g_ArgReference[pos]);
  if (var && var->mType == VAR_REAL) StoreRealElement(g_ArgReference[pos], TargetElement(pos), (double)value);
  else StoreIntElement(g_ArgReference[pos], TargetElement(pos), value);
}

// Code page 932 to UTF-8 for the desktop. A text the table cannot read is converted character by
// character, with '?' for what stays unreadable, as the desktop's own conversion would show it.
std::string ToDesktopText(const char* cp932) {
  std::string out;
  size_t length = strlen(cp932);
  if (PlatCp932ToUtf8(cp932, length, &out)) return out;
  out.clear();
  for (size_t i = 0; i < length;) {
    size_t n = g_LeadByteTable[(uint8_t)cp932[i]] && i + 1 < length ? 2 : 1;
    std::string one;
    out += PlatCp932ToUtf8(cp932 + i, n, &one) ? one : "?";
    i += n;
  }
  return out;
}

// UTF-8 from the desktop to code page 932, with '?' for characters the code page lacks.
std::string FromDesktopText(const std::string& utf8) {
  std::string out;
  if (PlatUtf8ToCp932(utf8.data(), utf8.size(), &out)) return out;
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    uint8_t b = (uint8_t)utf8[i];
    size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (i + n > utf8.size()) n = utf8.size() - i;
    std::string one;
    out += PlatUtf8ToCp932(utf8.data() + i, n, &one) ? one : "?";
    i += n;
  }
  return out;
}

// The first `limit` bytes of a code page 932 text, cut before a character that would be split.
std::string CutText(const std::string& text, size_t limit) {
  size_t i = 0;
  while (i < text.size()) {
    size_t n = g_LeadByteTable[(uint8_t)text[i]] && i + 1 < text.size() ? 2 : 1;
    if (i + n > limit) break;
    i += n;
  }
  return text.substr(0, i);
}

int RunTextInputDialog() {
  PrepareModalUi();
  ApplyCursorRequest();
  int64_t maxLength = Arg(18) ? ArgInt(Arg(18)) : 0;
  if (maxLength < 0 || maxLength > TEXT_VALUE_BYTES - 1) maxLength = 0;
  std::string answer;
  if (!g_Platform->TextInputBox(ToDesktopText(ArgText(Arg(1))).c_str(), ToDesktopText(ArgText(Arg(2))).c_str(),
                                ToDesktopText(ArgText(Arg(10))).c_str(), (int)maxLength, &answer))
    return -1;
  // The dialog's edit control holds at most the maximum length and the result buffer 4096 bytes.
  std::string text = CutText(FromDesktopText(answer), maxLength > 0 ? (size_t)maxLength : TEXT_VALUE_BYTES - 1);
  if (int result = Arg(12)) StoreNumber(result, 1);
  if (int target = Arg(11)) StoreStringElement(g_ArgReference[target], TargetElement(target), text.c_str());
  return 0;
}

int RunMessageBox() {
  int buttons = PLAT_MB_OK;
  if (Arg(14)) buttons = PLAT_MB_OKCANCEL;
  if (Arg(15)) buttons = PLAT_MB_YESNO;
  if (Arg(16)) buttons = PLAT_MB_YESNOCANCEL;
  int64_t button = Arg(19) ? ArgInt(Arg(19)) : 1;
  int defaultIndex = button == 2 ? 1 : button == 3 ? 2 : 0;
  int64_t icon = Arg(20) ? ArgInt(Arg(20)) : 0;
  if (icon < PLAT_ICON_INFORMATION || icon > PLAT_ICON_ERROR) icon = PLAT_ICON_NONE;
  PrepareModalUi();
  ApplyCursorRequest();
  int answer = PlatMessageBox(ToDesktopText(ArgText(Arg(1))).c_str(), ToDesktopText(ArgText(Arg(2))).c_str(), buttons,
                              (int)icon, defaultIndex);
  int result = Arg(12);
  if (!result) return 0;
  // OK and Yes give 1, Cancel of an OK box and No give 2, Cancel of a Yes/No box gives 3.
  bool yesNo = buttons == PLAT_MB_YESNO || buttons == PLAT_MB_YESNOCANCEL;
  switch (answer) {
    case PLAT_ID_OK:
    case PLAT_ID_YES: StoreNumber(result, 1); break;
    case PLAT_ID_NO: StoreNumber(result, 2); break;
    case PLAT_ID_CANCEL: StoreNumber(result, yesNo ? 3 : 2); break;
    default: break;
  }
  return 0;
}

}  // namespace

// Ends the run at the end of this frame; a non-zero "restart" starts the program again after
// shutdown.
int CmdEnd() {
  if (DecodeCommandArguments(CMD_END) != 0) return -1;
  if (int restart = ParamPosition(0)) g_RestartRequested = (uint8_t)g_ArgInteger[restart];
  g_QuitFlag = 1;
  return 0;
}

int CmdClipboardCopy() {
  if (DecodeCommandArguments(CMD_CLIPBOARD_COPY) != 0) return -1;
  if (!Arg(1) || !Arg(2)) return 0;
  g_Platform->SetClipboardText(ToDesktopText(ArgText(Arg(2))).c_str());
  return 0;
}

// Stores the clipboard's text without control bytes, at most 1024 bytes of it (a double-byte
// character cut at the limit is kept whole). An empty clipboard ends the task's turn.
int CmdClipboardPaste() {
  if (DecodeCommandArguments(CMD_CLIPBOARD_PASTE) != 0) return -1;
  if (!Arg(1)) return 0;
  std::string utf8;
  if (!g_Platform->GetClipboardText(&utf8)) return -1;
  std::string text = FromDesktopText(utf8);
  size_t end = text.find('\0');
  if (end == std::string::npos) end = text.size();
  if (end > PASTE_LIMIT) end = PASTE_LIMIT;
  std::string kept;
  for (size_t i = 0; i < end; i++) {
    uint8_t b = (uint8_t)text[i];
    if (g_LeadByteTable[b] && i + 1 < text.size() && text[i + 1] != 0) {
      kept += text[i];
      kept += text[++i];
      continue;
    }
    if (b >= 1 && b <= 31) continue;
    kept += text[i];
  }
  if (int target = Arg(2)) StoreStringElement(g_ArgReference[target], TargetElement(target), kept.c_str());
  return 0;
}

int CmdReserved7() { return DecodeCommandArguments(CMD_RESERVED7) != 0 ? -1 : 0; }

int CmdReserved16() { return DecodeCommandArguments(CMD_RESERVED16) != 0 ? -1 : 0; }

int CmdMessageBox() {
  if (DecodeCommandArguments(CMD_MESSAGE_BOX) != 0) return -1;
  if (Arg(21)) return 0;
  return Arg(17) ? RunTextInputDialog() : RunMessageBox();
}

int CmdSetOptions() {
  if (DecodeCommandArguments(CMD_SET_OPTIONS) != 0) return -1;
  for (int n = 1; n <= OPTION_COUNT; n++)
    if (int a = Arg(n + 2)) g_EngineOptions[n] = (uint8_t)ArgInt(a);
  return 0;
}

// A new rate starts a new second of the frames-per-second count; a rate outside 1..1000 would
// stall or divide the pacing by zero and is refused.
int CmdFrameRate() {
  if (DecodeCommandArguments(CMD_FRAME_RATE) != 0) return -1;
  if (int a = Arg(1)) {
    int64_t rate = ArgInt(a);
    if (rate >= MIN_FRAME_RATE && rate <= MAX_FRAME_RATE && SetFrameRate((int32_t)rate)) {
      g_FramesPerSecond[0] = g_SecondLoops;
      g_FramesPerSecond[1] = g_SecondDrawn;
      g_SecondLoops = g_SecondDrawn = 0;
      g_SecondStartTime = PlatGetTicks();
    }
  }
  if (int a = Arg(2)) g_FrameSkip = (int32_t)ArgInt(a);
  return 0;
}

int CmdScreenAndTimers() {
  if (DecodeCommandArguments(CMD_SCREEN_AND_TIMERS) != 0) return -1;
  WindowRecord* main = g_WindowRecords[0];
  if (int a = Arg(1)) g_ScreenSaverBlock = (uint8_t)ArgInt(a);
  if (int a = Arg(2))
    if (main && WindowIsActive(main) == 1) g_KeepRunningInactive = (uint8_t)ArgInt(a);
  // Sizes are 32-bit; one the output buffer cannot hold is refused with its message when the
  // buffer is next made.
  int32_t w = Arg(3) ? (int32_t)ArgInt(Arg(3)) : 0, h = Arg(4) ? (int32_t)ArgInt(Arg(4)) : 0;
  if (w > 0 && h > 0 && main) {
    g_InitialWindowSize = {w, h};
    main->mWidth = w;
    main->mHeight = h;
    if (!g_FullScreen && !g_WindowMaximized) {
      g_ClientAreaSize = {w, h};
      g_OutputSize = {w, h};
    } else {
      ResizeOutputBuffer(w, h, g_ClientAreaSize.width, g_ClientAreaSize.height);
      PaintWindowBlack(main);
    }
  }
  uint32_t now = PlatGetTicks();
  for (int t = 0; t < 4; t++) {
    int a = Arg(5 + t);
    if (!a) continue;
    uint8_t value = (uint8_t)ArgInt(a);
    if (g_ScriptTimerRunning[t] && value == 0) {
      g_ScriptTimerRunning[t] = 0;
      g_ScriptTimerPausedAt[t] = now;
    } else if (!g_ScriptTimerRunning[t] && value == 1) {
      g_ScriptTimerRunning[t] = 1;
      g_ScriptTimers[t] += now - g_ScriptTimerPausedAt[t];
      g_ScriptTimerPausedAt[t] = 0;
    }
  }
  return 0;
}

int CmdScriptFileQuery() {
  if (DecodeCommandArguments(CMD_SCRIPT_FILE_QUERY) != 0) return -1;
  int out = Arg(6);
  if (!out) return 0;
  int32_t v = g_ArgReference[out], e = TargetElement(out);
  int64_t number = Arg(5) ? ArgInt(Arg(5)) : 0;
  bool inRange = Arg(5) && number >= 1 && number <= g_ScriptFileCount;
  if (Arg(2)) {
    StoreIntElement(v, e, g_ScriptFileCount);
  } else if (Arg(3)) {
    StoreIntElement(v, e, inRange && g_ScriptFileValues ? g_ScriptFileValues[number - 1] : 0);
  } else if (Arg(1)) {
    const char* name = inRange && g_ScriptFileNames ? g_ScriptFileNames[number - 1] : nullptr;
    StoreStringElement(v, e, name ? name : "");
  } else if (Arg(4)) {
    StoreIntElement(v, e, g_EmoteAvailable);
  } else {
    StoreIntElement(v, e, 0);
  }
  return 0;
}
