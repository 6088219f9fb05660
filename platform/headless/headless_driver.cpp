// The headless backend: no display, everything recorded for tests, a clock tests can drive.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <sstream>
#include <mutex>
#include <thread>

#include "platform/canvas.h"
#include "platform/headless/headless.h"
#include "platform/headless/headless_local.h"
#include "platform/movie/movie_player.h"

namespace {

std::mutex g_Lock;  // guards everything below but the clock
std::atomic<uint32_t> g_Ticks{0};
std::atomic<bool> g_RealClock{false};
std::thread::id g_ClockOwner = std::this_thread::get_id();
std::deque<PlatEventRecord> g_Events;
std::deque<HeadlessTimedEvent> g_Scripted;   // timed input not yet due
size_t g_ScriptedLines;                        // lines of the loaded script, 0 without one
bool g_FirstPresentSaid;                       // a scripted run has told when its first frame came
std::deque<int> g_Answers;
// The last unscripted box, kept until a scripted answer or a different box comes.
std::string g_LastDefaultBox;
std::deque<std::string> g_TextAnswers;
bool g_ClipboardHasText;
std::string g_Clipboard;
std::vector<std::string> g_Calls;
HeadlessWindowState g_Windows[4];
PlatCanvas g_Canvas[4];
// The window's frame is not the canvas as last presented (with the movie due now over it): without
// a movie over it or anyone watching the presents, the copy waits until the picture is asked for.
bool g_FrameBehind[4];
int g_SavedSize[4][4];   // x, y, width, height before full screen
std::vector<PlatRect> g_Monitors;
std::vector<PlatDisplayMode> g_Modes;
bool g_RefuseModeChange;
int g_JoystickCount;
PlatJoystickState g_Joysticks[16];
bool g_JoystickReadable[16];
bool g_CursorShown = true;
int g_Cursor[2] = {960, 540};   // the pointer's desktop position, following injected mouse events
HeadlessPresentObserver g_PresentObserver;
// A run left with no input to come ends once this much game time has passed without any (the
// game is taken to wait for what it will never get). Counted from the clock owner's sleeps, so
// a test that sets the clock by hand never trips it.
constexpr uint32_t IDLE_END_MS = 300000;
std::atomic<uint32_t> g_IdleMs{0};
bool g_IdleEndSent;

uint32_t RealTicks() {
  using namespace std::chrono;
  return (uint32_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Record(const std::string& line) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Calls.push_back(line);
}

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

uint32_t HGetTicks();

// A name given from outside (the environment, the input script) is taken from the folder the
// program was started in, not from the game folder it moved to.
std::string FromStartFolder(const std::string& path) {
  return path.empty() || path[0] == '/' ? path : PlatStartFolder() + "/" + path;
}

bool HInit() {
  const char* name = getenv("KIVOR_INPUT_SCRIPT");
  if (!name || !*name) return true;
  std::string path = FromStartFolder(name);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<HeadlessTimedEvent> script;
  std::string error;
  if (!in) error = "cannot read it";
  if (error.empty() && HeadlessParseInputScript(text.str(), &script, &error)) {
    HeadlessSetInputScript(script);
    printf("headless: input script %s, %zu events\n", path.c_str(), script.size());
    fflush(stdout);
    return true;
  }
  // A run meant to follow a script does not go on without it: it would only wait for input.
  fprintf(stderr, "headless: input script %s: %s; ending the run\n", path.c_str(), error.c_str());
  PlatEventRecord quit{};
  quit.type = PLAT_EVENT_QUIT;
  quit.window = -1;
  quit.key = HEADLESS_BAD_SCRIPT_STATUS;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Events.push_back(quit);
  return true;
}

// After a scripted run, says what it did: the input used, the windows and frames shown.
void HQuit() {
  std::lock_guard<std::mutex> g(g_Lock);
  if (!g_ScriptedLines) return;
  printf("headless: ran %u ms of game time; %zu of %zu scripted events delivered\n", HGetTicks(),
         g_ScriptedLines - g_Scripted.size(), g_ScriptedLines);
  for (int i = 0; i < 4; i++)
    if (g_Windows[i].exists || g_Windows[i].presents)
      printf("headless: window %d \"%s\" %dx%d, %d frames presented\n", i, g_Windows[i].title.c_str(),
             g_Windows[i].width, g_Windows[i].height, g_Windows[i].presents);
  fflush(stdout);
}

uint32_t HGetTicks() { return g_RealClock ? RealTicks() : g_Ticks.load(); }

void HSleep(uint32_t ms) {
  if (!g_RealClock && std::this_thread::get_id() == g_ClockOwner) {
    g_Ticks += ms;
    g_IdleMs += ms;
    // One millisecond is how the engine polls for another thread (the sound thread's answer,
    // a finished flag): that wait passes in real time too, or the fake clock would race ahead
    // by thousands of milliseconds while the other thread does its work.
    if (ms == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    HeadlessAudioKeepUp(g_Ticks);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A box waits for its answer: with none queued, the script's next answer of the box's kind is
// taken, and the clock moves on to that line's time if it lies ahead; under the lock.
void TakeScriptedAnswer(HeadlessTimedEvent::Kind kind) {
  std::deque<int>* buttons = kind == HeadlessTimedEvent::BUTTON_ANSWER ? &g_Answers : nullptr;
  if (buttons ? !g_Answers.empty() : !g_TextAnswers.empty()) return;
  for (auto it = g_Scripted.begin(); it != g_Scripted.end(); ++it) {
    if (it->kind != kind) continue;
    if (buttons) buttons->push_back(it->number);
    else g_TextAnswers.push_back(it->text);
    if (!g_RealClock && (int32_t)(it->at - g_Ticks.load()) > 0) g_Ticks = it->at;
    g_Scripted.erase(it);
    return;
  }
}

int HChoiceBox(const char* caption, const char* text, const char* const* labels, int count, int defaultIndex,
               int cancelIndex, int icon) {
  PlatEchoBox(caption, text);
  std::string line = std::string("ChoiceBox ") + (caption ? caption : "") + "|" + (text ? text : "") + "|";
  for (int i = 0; i < count; i++) line += std::string(i ? "," : "") + labels[i];
  if (icon != PLAT_ICON_NONE) line += "|icon " + std::to_string(icon);
  Record(line);
  std::lock_guard<std::mutex> g(g_Lock);
  TakeScriptedAnswer(HeadlessTimedEvent::BUTTON_ANSWER);
  if (!g_Answers.empty()) {
    g_LastDefaultBox.clear();
    int a = g_Answers.front();
    g_Answers.pop_front();
    if (a >= 0 && a < count) return a;
    return cancelIndex;
  }
  // Nobody is there to answer: a box raised again straight after its default answer (the error
  // box's Edit, a question asked until it is declined) takes its way out instead, so an
  // unattended run goes on or ends rather than asking the same thing for ever.
  if (line == g_LastDefaultBox && cancelIndex >= 0 && cancelIndex < count) return cancelIndex;
  g_LastDefaultBox = line;
  return defaultIndex;
}

bool HCreateWindow(int slot, int width, int height, const char* title) {
  Record("CreateWindow " + std::to_string(slot) + " " + std::to_string(width) + "x" +
         std::to_string(height) + " " + (title ? title : ""));
  if (!ValidSlot(slot) || width <= 0 || height <= 0) return false;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot] = HeadlessWindowState{};
  g_FrameBehind[slot] = false;
  g_Windows[slot].exists = true;
  g_Windows[slot].width = width;
  g_Windows[slot].height = height;
  g_Windows[slot].title = title ? title : "";
  CanvasResize(&g_Canvas[slot], width, height);
  return true;
}

// The window's client size changed: the surface starts black again.
void Resize(int slot, int width, int height) {
  g_Windows[slot].width = width;
  g_Windows[slot].height = height;
  CanvasResize(&g_Canvas[slot], width, height);
  g_Windows[slot].frameWidth = width;
  g_Windows[slot].frameHeight = height;
  g_Windows[slot].frame = g_Canvas[slot].pixels;
  g_FrameBehind[slot] = false;
}

void HDestroyWindow(int slot) {
  Record("DestroyWindow " + std::to_string(slot));
  if (!ValidSlot(slot)) return;
  HeadlessDesktopForget(slot);
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot] = HeadlessWindowState{};
  g_Canvas[slot] = PlatCanvas{};
  g_FrameBehind[slot] = false;
}

void HShowWindow(int slot, bool show) {
  Record("ShowWindow " + std::to_string(slot) + (show ? " 1" : " 0"));
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot].shown = show && g_Windows[slot].exists;
}

void HSetWindowTitle(int slot, const char* title) {
  Record("SetWindowTitle " + std::to_string(slot) + " " + (title ? title : ""));
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot].title = title ? title : "";
}

void HSetWindowSize(int slot, int width, int height) {
  Record("SetWindowSize " + std::to_string(slot) + " " + std::to_string(width) + "x" + std::to_string(height));
  if (!ValidSlot(slot) || width <= 0 || height <= 0) return;
  std::lock_guard<std::mutex> g(g_Lock);
  if (g_Windows[slot].exists) Resize(slot, width, height);
}

// The window's frame from its canvas, with the movie due now over it; g_Lock held. A frame with
// a movie picture in it is made again when it is next asked for.
void ShowCanvas(int slot) {
  HeadlessWindowState& w = g_Windows[slot];
  const PlatCanvas& c = g_Canvas[slot];
  w.frame.resize(c.pixels.size());
  bool movie = !c.pixels.empty() &&
               PlatMovieCompose(slot, c.pixels.data(), w.frame.data(), c.width, c.height, c.width * 4, true);
  if (!movie) w.frame = c.pixels;
  g_FrameBehind[slot] = movie;
}

// What every presented picture does after it reached the canvas; g_Lock held.
void Presented(int slot) {
  HeadlessWindowState& w = g_Windows[slot];
  w.frameWidth = g_Canvas[slot].width;
  w.frameHeight = g_Canvas[slot].height;
  g_FrameBehind[slot] = !g_PresentObserver && !PlatMovieIsOpen();
  if (!g_FrameBehind[slot]) ShowCanvas(slot);
  w.presents++;
  // A scripted run says when its first picture came, on the steady clock that a launcher of the
  // program reads too, so start-up is measured from outside the process; and how much processor
  // time the process had spent by then, all threads together.
  if (g_ScriptedLines && !g_FirstPresentSaid) {
    g_FirstPresentSaid = true;
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    double cpuMs = 1000.0 * (double)std::clock() / CLOCKS_PER_SEC;
    printf("headless: first frame presented at %.3f ms of the steady clock, after %.3f ms of processor time\n", ms,
           cpuMs);
    fflush(stdout);
  }
  if (g_PresentObserver) g_PresentObserver(slot, w);
}

void HPresentFrame(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                   int dh) {
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_Lock);
  if (!g_Windows[slot].exists) return;
  CanvasBlit(&g_Canvas[slot], bgra, width, height, pitch, dx, dy, dw, dh);
  Presented(slot);
}

void HPresentFrameChanges(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                          const PlatRect& changed) {
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_Lock);
  if (!g_Windows[slot].exists) return;
  CanvasBlitChanges(&g_Canvas[slot], bgra, width, height, pitch, dx, dy, changed);
  Presented(slot);
}

int g_DesktopMode[4] = {1920, 1080, 32, 60};

void HGetDesktopMode(int* width, int* height, int* bitsPerPixel, int* refreshRate) {
  std::lock_guard<std::mutex> g(g_Lock);
  *width = g_DesktopMode[0];
  *height = g_DesktopMode[1];
  *bitsPerPixel = g_DesktopMode[2];
  *refreshRate = g_DesktopMode[3];
}

// Fixed host facts that tests stand in for the host's own; unset, the host answers.
bool g_FixedTimeSet = false;
PlatLocalTime g_FixedTime;
bool g_FixedMemorySet = false;
PlatMemoryStatus g_FixedMemory;

PlatLocalTime HGetLocalTime() {
  {
    std::lock_guard<std::mutex> g(g_Lock);
    if (g_FixedTimeSet) return g_FixedTime;
  }
  return PlatHostLocalTime();
}

PlatMemoryStatus HGetMemoryStatus() {
  {
    std::lock_guard<std::mutex> g(g_Lock);
    if (g_FixedMemorySet) return g_FixedMemory;
  }
  return PlatHostMemoryStatus();
}

// The window as it is seen now; under the lock.
HeadlessWindowState WindowNow(int slot) {
  if (!ValidSlot(slot)) return HeadlessWindowState{};
  HeadlessWindowState& w = g_Windows[slot];
  // A movie over the window is seen as it is due now, whether or not the game presented since.
  if (w.exists && PlatMovieIsOpen()) {
    w.frameWidth = g_Canvas[slot].width;
    w.frameHeight = g_Canvas[slot].height;
    ShowCanvas(slot);
  } else if (g_FrameBehind[slot]) {
    ShowCanvas(slot);
  }
  return w;
}

// A scripted screenshot: the window's picture as seen now, as PNG; under the lock.
void WriteShot(const HeadlessTimedEvent& line) {
  HeadlessWindowState w = WindowNow(line.number);
  std::string path = FromStartFolder(line.text), why;
  if (!w.exists) why = "there is no such window";
  else if (w.frame.size() < (size_t)w.frameWidth * w.frameHeight * 4) why = "the window shows no picture";
  if (why.empty() && HeadlessWritePicture(path, w.frame.data(), w.frameWidth, w.frameHeight, &why)) return;
  fprintf(stderr, "headless: shot of window %d at %u ms not written to %s: %s\n", line.number, line.at, path.c_str(),
          why.c_str());
}

bool HPollEvent(PlatEventRecord* out) {
  std::lock_guard<std::mutex> g(g_Lock);
  uint32_t now = HGetTicks();
  while (!g_Scripted.empty() && g_Scripted.front().at <= now) {
    HeadlessTimedEvent line = std::move(g_Scripted.front());
    g_Scripted.pop_front();
    if (line.kind == HeadlessTimedEvent::TEXT_ANSWER) g_TextAnswers.push_back(line.text);
    if (line.kind == HeadlessTimedEvent::BUTTON_ANSWER) g_Answers.push_back(line.number);
    if (line.kind == HeadlessTimedEvent::SHOT) WriteShot(line);
    if (line.kind != HeadlessTimedEvent::EVENTS) continue;
    // The game takes one input snapshot per loop pass after draining every event, so a press
    // and its release handed out together would never be seen: what follows a press waits a
    // millisecond, which puts it into a later pass.
    size_t k = 0;
    while (k < line.events.size()) {
      PlatEventType type = line.events[k].type;
      g_Events.push_back(line.events[k++]);
      if (type == PLAT_EVENT_MOUSE_DOWN || type == PLAT_EVENT_KEY_DOWN) break;
    }
    if (k < line.events.size()) {
      g_Scripted.push_front({now + 1, std::vector<PlatEventRecord>(line.events.begin() + (long)k, line.events.end())});
      break;
    }
  }
  int movieSlot;
  if (HeadlessMovieEnded(&movieSlot)) {
    PlatEventRecord end{};
    end.type = PLAT_EVENT_MOVIE_END;
    end.window = movieSlot;
    g_Events.push_back(end);
  }
  if (g_Events.empty() && g_Scripted.empty() && !g_IdleEndSent && g_IdleMs >= IDLE_END_MS) {
    g_IdleEndSent = true;
    fprintf(stderr, "headless: no input for %u ms of game time and none to come (%s); ending the run\n",
            g_IdleMs.load(), g_ScriptedLines ? "the input script has ended" : "no KIVOR_INPUT_SCRIPT was given");
    PlatEventRecord quit{};
    quit.type = PLAT_EVENT_QUIT;
    quit.window = -1;
    quit.key = HEADLESS_NO_INPUT_STATUS;
    g_Events.push_back(quit);
  }
  if (g_Events.empty()) return false;
  *out = g_Events.front();
  g_Events.pop_front();
  g_IdleMs = 0;
  bool mouse = out->type == PLAT_EVENT_MOUSE_MOVE || out->type == PLAT_EVENT_MOUSE_DOWN || out->type == PLAT_EVENT_MOUSE_UP;
  if (mouse && ValidSlot(out->window)) {
    g_Cursor[0] = g_Windows[out->window].x + out->x;
    g_Cursor[1] = g_Windows[out->window].y + out->y;
  }
  return true;
}

bool HGetWindowRect(int slot, PlatRect* out) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (!ValidSlot(slot) || !g_Windows[slot].exists) return false;
  const HeadlessWindowState& w = g_Windows[slot];
  *out = {w.x, w.y, w.width, w.height};
  return true;
}

void HSetWindowPosition(int slot, int x, int y) {
  Record("SetWindowPosition " + std::to_string(slot) + " " + std::to_string(x) + "," + std::to_string(y));
  std::lock_guard<std::mutex> g(g_Lock);
  if (!ValidSlot(slot)) return;
  g_Windows[slot].x = x;
  g_Windows[slot].y = y;
}

void HSetWindowSizeLimits(int slot, int minWidth, int minHeight, int maxWidth, int maxHeight) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (!ValidSlot(slot)) return;
  HeadlessWindowState& w = g_Windows[slot];
  w.minWidth = minWidth, w.minHeight = minHeight, w.maxWidth = maxWidth, w.maxHeight = maxHeight;
}

void HSetWindowResizable(int slot, bool resizable) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (ValidSlot(slot)) g_Windows[slot].resizable = resizable;
}

void HRestoreWindow(int slot) {
  Record("RestoreWindow " + std::to_string(slot));
  HeadlessDesktopRestored(slot);
}
void HRaiseWindow(int slot) { Record("RaiseWindow " + std::to_string(slot)); }
void HBeginWindowDrag(int slot) { Record("BeginWindowDrag " + std::to_string(slot)); }

int HGetMonitors(PlatRect* out, int max) {
  std::lock_guard<std::mutex> g(g_Lock);
  for (int i = 0; i < max && i < (int)g_Monitors.size(); i++) out[i] = g_Monitors[i];
  return (int)g_Monitors.size();
}

int HGetWindowMonitor(int slot) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (!ValidSlot(slot)) return 0;
  const HeadlessWindowState& w = g_Windows[slot];
  int cx = w.x + w.width / 2, cy = w.y + w.height / 2;
  for (size_t i = 0; i < g_Monitors.size(); i++) {
    const PlatRect& m = g_Monitors[i];
    if (cx >= m.x && cx < m.x + m.width && cy >= m.y && cy < m.y + m.height) return (int)i;
  }
  return 0;
}

int HGetDisplayModes(int monitor, PlatDisplayMode* out, int max) {
  std::lock_guard<std::mutex> g(g_Lock);
  for (int i = 0; i < max && i < (int)g_Modes.size(); i++) out[i] = g_Modes[i];
  return (int)g_Modes.size();
}

bool HSetFullScreen(int slot, bool on, const PlatDisplayMode* mode) {
  std::string line = "SetFullScreen " + std::to_string(slot) + (on ? " 1" : " 0");
  if (mode)
    line += " " + std::to_string(mode->width) + "x" + std::to_string(mode->height) + "x" +
            std::to_string(mode->bitsPerPixel);
  Record(line);
  std::lock_guard<std::mutex> g(g_Lock);
  if (!ValidSlot(slot) || !g_Windows[slot].exists) return false;
  HeadlessWindowState& w = g_Windows[slot];
  if (on) {
    if (mode && g_RefuseModeChange) return false;
    if (!w.fullScreen) {
      int* saved = g_SavedSize[slot];
      saved[0] = w.x, saved[1] = w.y, saved[2] = w.width, saved[3] = w.height;
    }
    PlatRect m = g_Monitors.empty() ? PlatRect{0, 0, g_DesktopMode[0], g_DesktopMode[1]} : g_Monitors[0];
    w.fullScreen = true;
    w.x = m.x, w.y = m.y;
    if (mode) Resize(slot, mode->width, mode->height);
    else Resize(slot, m.width, m.height);
    return true;
  }
  if (!w.fullScreen) return true;
  w.fullScreen = false;
  const int* saved = g_SavedSize[slot];
  w.x = saved[0], w.y = saved[1];
  Resize(slot, saved[2], saved[3]);
  return true;
}

void HShowCursor(bool show) {
  Record(std::string("ShowCursor ") + (show ? "1" : "0"));
  std::lock_guard<std::mutex> g(g_Lock);
  g_CursorShown = show;
}

void HSetCursorShape(int shape) { Record("SetCursorShape " + std::to_string(shape)); }

bool HSetCustomCursor(const uint8_t* bgra, int width, int height, int hotX, int hotY) {
  Record("SetCustomCursor " + std::to_string(width) + "x" + std::to_string(height) + " " + std::to_string(hotX) +
         "," + std::to_string(hotY));
  return bgra && width > 0 && height > 0;
}

void HWarpMouse(int slot, int x, int y) {
  Record("WarpMouse " + std::to_string(slot) + " " + std::to_string(x) + "," + std::to_string(y));
}

int HJoystickCount() {
  std::lock_guard<std::mutex> g(g_Lock);
  return g_JoystickCount;
}

bool HReadJoystick(int index, PlatJoystickState* out) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (index < 0 || index >= 16 || index >= g_JoystickCount || !g_JoystickReadable[index]) return false;
  *out = g_Joysticks[index];
  return true;
}

bool HGetCursorPosition(int* x, int* y) {
  std::lock_guard<std::mutex> g(g_Lock);
  *x = g_Cursor[0];
  *y = g_Cursor[1];
  return true;
}

bool HSetClipboardText(const char* utf8) {
  Record(std::string("SetClipboardText ") + (utf8 ? utf8 : ""));
  std::lock_guard<std::mutex> g(g_Lock);
  g_ClipboardHasText = true;
  g_Clipboard = utf8 ? utf8 : "";
  return true;
}

bool HGetClipboardText(std::string* out) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (!g_ClipboardHasText) return false;
  *out = g_Clipboard;
  return true;
}

bool HTextInputBox(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                   std::string* out) {
  // A headless run has nobody to show the box to but the reader of stderr: the prompt and the
  // answer taken go there, as every box's text does.
  PlatEchoBox(caption, prompt);
  Record(std::string("TextInputBox ") + (caption ? caption : "") + "|" + (prompt ? prompt : "") + "|" +
         (defaultText ? defaultText : "") + "|" + std::to_string(maxLength));
  {
    std::lock_guard<std::mutex> g(g_Lock);
    TakeScriptedAnswer(HeadlessTimedEvent::TEXT_ANSWER);
    if (g_TextAnswers.empty()) {
      *out = defaultText ? defaultText : "";
    } else {
      *out = g_TextAnswers.front();
      g_TextAnswers.pop_front();
    }
  }
  // The box takes no more than maxLength bytes of the text as the engine stores it (code page
  // 932), as the SDL box lets no more be typed, whatever the script of answers says.
  if (maxLength > 0) {
    size_t end = 0, used = 0;
    while (end < out->size()) {
      size_t next = end + 1;
      while (next < out->size() && ((uint8_t)(*out)[next] & 0xC0) == 0x80) next++;
      std::string cp932;
      size_t bytes = PlatUtf8ToCp932(out->data() + end, next - end, &cp932) ? cp932.size() : 2;
      if (used + bytes > (size_t)maxLength) break;
      used += bytes;
      end = next;
    }
    out->resize(end);
  }
  PlatEchoAnswer(caption, out->c_str());
  return true;
}

}  // namespace

PlatformDriver g_HeadlessDriver = {
    "headless",      HInit,          HQuit,           HGetTicks,      HSleep,        HChoiceBox,
    HCreateWindow,   HDestroyWindow, HShowWindow,     HSetWindowTitle, HSetWindowSize, HPresentFrame,
    HPresentFrameChanges,
    HGetDesktopMode, HPollEvent,     HGetWindowRect,  HSetWindowPosition, HSetWindowSizeLimits,
    HSetWindowResizable, HRestoreWindow, HRaiseWindow, HBeginWindowDrag, HGetMonitors,  HGetWindowMonitor,
    HGetDisplayModes, HSetFullScreen, HShowCursor,   HSetCursorShape, HSetCustomCursor, HWarpMouse,
    HJoystickCount, HReadJoystick,
    HGetLocalTime,   HGetMemoryStatus, HGetCursorPosition,
    HSetClipboardText, HGetClipboardText, HTextInputBox, &g_HeadlessGpu,
};

void HeadlessRecordCall(const std::string& line) { Record(line); }

void HeadlessSetClipboard(const char* utf8) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_ClipboardHasText = utf8 != nullptr;
  g_Clipboard = utf8 ? utf8 : "";
}

void HeadlessQueueTextAnswer(const std::string& utf8) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_TextAnswers.push_back(utf8);
}

void HeadlessSetCursorPosition(int x, int y) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Cursor[0] = x;
  g_Cursor[1] = y;
}

void HeadlessSetTicks(uint32_t ms) { g_Ticks = ms; }
void HeadlessAdvanceTicks(uint32_t ms) { g_Ticks += ms; }
void HeadlessUseRealClock(bool real) { g_RealClock = real; }
void HeadlessClaimClock() {
  std::lock_guard<std::mutex> g(g_Lock);
  g_ClockOwner = std::this_thread::get_id();
}

void HeadlessPushEvent(const PlatEventRecord& e) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Events.push_back(e);
}

void HeadlessQueueAnswer(int buttonIndex) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Answers.push_back(buttonIndex);
}

std::vector<std::string> HeadlessCalls() {
  std::lock_guard<std::mutex> g(g_Lock);
  return g_Calls;
}

void HeadlessClearCalls() {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Calls.clear();
}

HeadlessWindowState HeadlessWindow(int slot) {
  std::lock_guard<std::mutex> g(g_Lock);
  return WindowNow(slot);
}

void HeadlessSetDesktopMode(int width, int height, int bitsPerPixel, int refreshRate) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_DesktopMode[0] = width;
  g_DesktopMode[1] = height;
  g_DesktopMode[2] = bitsPerPixel;
  g_DesktopMode[3] = refreshRate;
  g_Monitors = {PlatRect{0, 0, width, height}};
  g_Modes = {PlatDisplayMode{width, height, bitsPerPixel, refreshRate}};
}

void HeadlessSetMonitors(const std::vector<PlatRect>& monitors) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Monitors = monitors;
}

void HeadlessSetDisplayModes(const std::vector<PlatDisplayMode>& modes) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Modes = modes;
}

void HeadlessRefuseModeChange(bool refuse) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_RefuseModeChange = refuse;
}

void HeadlessSetJoystickCount(int count) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_JoystickCount = count;
}

void HeadlessSetJoystick(int index, uint32_t x, uint32_t y, uint32_t buttons) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (index < 0 || index >= 16) return;
  g_Joysticks[index] = {x, y, buttons};
  g_JoystickReadable[index] = true;
}

bool HeadlessCursorShown() {
  std::lock_guard<std::mutex> g(g_Lock);
  return g_CursorShown;
}

void HeadlessSetLocalTime(const PlatLocalTime* t) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_FixedTimeSet = t != nullptr;
  if (t) g_FixedTime = *t;
}

void HeadlessSetMemoryStatus(const PlatMemoryStatus* m) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_FixedMemorySet = m != nullptr;
  if (m) g_FixedMemory = *m;
}

void HeadlessSetInputScript(const std::vector<HeadlessTimedEvent>& script) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Scripted.assign(script.begin(), script.end());
  g_ScriptedLines = script.size();
  g_IdleMs = 0;
}

void HeadlessSetPresentObserver(HeadlessPresentObserver observer) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_PresentObserver = std::move(observer);
}

void HeadlessReset() {
  HeadlessDesktopReset();
  HeadlessGpuReset();
  std::lock_guard<std::mutex> g(g_Lock);
  g_PresentObserver = nullptr;
  g_Scripted.clear();
  g_ScriptedLines = 0;
  g_FirstPresentSaid = false;
  g_IdleMs = 0;
  g_IdleEndSent = false;
  g_FixedTimeSet = false;
  g_FixedMemorySet = false;
  g_DesktopMode[0] = 1920;
  g_DesktopMode[1] = 1080;
  g_DesktopMode[2] = 32;
  g_DesktopMode[3] = 60;
  g_Cursor[0] = 960;
  g_Cursor[1] = 540;
  g_Events.clear();
  g_Answers.clear();
  g_LastDefaultBox.clear();
  g_TextAnswers.clear();
  g_ClipboardHasText = false;
  g_Clipboard.clear();
  g_Calls.clear();
  HeadlessResetMedia();
  for (HeadlessWindowState& w : g_Windows) w = HeadlessWindowState{};
  for (PlatCanvas& c : g_Canvas) c = PlatCanvas{};
  for (bool& behind : g_FrameBehind) behind = false;
  g_Monitors = {PlatRect{0, 0, 1920, 1080}};
  g_Modes = {PlatDisplayMode{1920, 1080, 32, 60}, PlatDisplayMode{1280, 720, 32, 60},
             PlatDisplayMode{1024, 768, 32, 60}, PlatDisplayMode{640, 480, 32, 60}};
  g_RefuseModeChange = false;
  g_JoystickCount = 0;
  for (bool& r : g_JoystickReadable) r = false;
  g_CursorShown = true;
  g_Ticks = 0;
  g_RealClock = false;
  g_ClockOwner = std::this_thread::get_id();
  HeadlessSetAudioByHand(true);
}
