// Controls of the headless backend for tests and for headless runs: the clock, injected
// events, scripted dialog answers, the record of calls and each window's last picture.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/gpu.h"
#include "platform/platform.h"

extern PlatformDriver g_HeadlessDriver;
extern PlatformDesktop g_HeadlessDesktop;

// The null sound output, also the stand-in while no sound device plays. It takes mixed frames
// on the platform's clock (game time here, real time with SDL), so sounds end on time, unless
// frames are taken by hand: then only PlatAudioMix calls (platform/audio.h) take them, which is
// how tests listen. HeadlessReset switches taking by hand on; a program starts with it off.
extern PlatAudioOutput g_NullAudioOutput;
void HeadlessSetAudioByHand(bool byHand);

// The clock. By default it is a fake clock that only moves when told to or when the thread
// that owns it sleeps (sleeping then advances it at once, so paced loops run at full speed and
// deterministically). A sleep of exactly 1 ms on it is a poll for another thread and also
// really sleeps, so the clock keeps the pace of the thread waited for. Sleeps on other threads
// really sleep and leave the fake clock alone.
void HeadlessSetTicks(uint32_t ms);
void HeadlessAdvanceTicks(uint32_t ms);
void HeadlessUseRealClock(bool real);
void HeadlessClaimClock();   // the calling thread becomes the one whose sleeps advance time

// Events that PollEvent will hand out, in order.
void HeadlessPushEvent(const PlatEventRecord& e);

// A timed input script, for headless runs of a game. One event a line, '#' starts a comment:
//   MS quit               the user asks the program to end
//   MS close W            window slot W's close button
//   MS click W X Y        the pointer moves to client pixel X, Y of window W and clicks (left)
//   MS key W CODE         a key (virtual-key code 1-255) is pressed and released in window W
//   MS keydown W CODE     a key is pressed and held (until a keyup line)
//   MS keyup W CODE       a held key is released
//   MS text TEXT          the next text-input box is answered with TEXT: the rest of the line,
//                         as typed (UTF-8; a '#' there is part of the text)
//   MS button N           the next message box is answered with its button N, counted from 1
//                         in the order the box shows them
//   MS shot W FILE        window W's picture as shown at that time is written to FILE as PNG
// What follows a press on one line (the release of a click or key) is handed out a
// millisecond after the press, so the game sees the press in one loop pass.
// MS is the clock time in milliseconds from which PollEvent hands the event out; times never
// go backwards. A box waits for its answer: a box opened before its text or button line's time
// takes that line's answer and moves the clock on to it, and a line whose time came before any
// box opened answers the next box of its kind; a box with no such line left takes its default.
// When the backend starts it loads the script named by the KIVOR_INPUT_SCRIPT environment
// variable; that name and the FILE of a shot line, when relative, are taken from the folder the
// program was started in. A script that cannot be read or parsed is reported on stderr, and the
// run then ends with HEADLESS_BAD_SCRIPT_STATUS. A run with a script prints to
// standard output the time of its first presented frame on the steady clock (CLOCK_MONOTONIC)
// with the processor time spent until then, and when the backend stops, what the run did. A run with no input left to come that goes on
// for five minutes of game time without any is taken to wait for input it will never get: the
// backend says so on stderr and asks the program to end with HEADLESS_NO_INPUT_STATUS.
constexpr int HEADLESS_NO_INPUT_STATUS = 3;
constexpr int HEADLESS_BAD_SCRIPT_STATUS = 2;
struct HeadlessTimedEvent {
  enum Kind : uint8_t { EVENTS, TEXT_ANSWER, BUTTON_ANSWER, SHOT };
  uint32_t at;
  std::vector<PlatEventRecord> events;   // one line's events, in order
  Kind kind = EVENTS;
  int number = 0;      // the button index (from 0) of an answer, the window slot of a shot
  std::string text;    // the text typed, the picture's path
};
bool HeadlessParseInputScript(const std::string& text, std::vector<HeadlessTimedEvent>* out, std::string* error);
void HeadlessSetInputScript(const std::vector<HeadlessTimedEvent>& script);

// Answers (button indexes) for the next dialogs, in order; without one a dialog takes its
// default button, except that the same box raised again straight after (same caption, text
// and buttons) takes its cancel button, so an unattended run is never asked the same for ever.
void HeadlessQueueAnswer(int buttonIndex);
// Texts (UTF-8) the next text-input dialogs answer, in order; without one a dialog answers its
// default text.
void HeadlessQueueTextAnswer(const std::string& utf8);

// The clipboard's text (UTF-8); null leaves it without text (as after a reset).
void HeadlessSetClipboard(const char* utf8);

// Every backend call, one line each ("ChoiceBox <caption>|<text>|<label>,<label>", followed by
// "|icon N" for a box with an icon, "CreateWindow 0 640x480 <title>", ...).
std::vector<std::string> HeadlessCalls();
void HeadlessClearCalls();

struct HeadlessWindowState {
  bool exists = false;
  bool shown = false;
  int width = 0, height = 0;    // client size
  int x = 0, y = 0;             // client position on the desktop
  std::string title;
  bool fullScreen = false;
  bool resizable = false;
  int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  int frameWidth = 0, frameHeight = 0;
  std::vector<uint8_t> frame;   // BGRA, tightly packed rows: the whole client area as shown
  int presents = 0;
};
HeadlessWindowState HeadlessWindow(int slot);

// Called with the window's new state after every presented frame, on the presenting thread and
// under the backend's lock: it may read engine state and the clock but must call nothing else
// of this backend.
// Lets end-to-end tests check every frame of a run, not only the last one.
using HeadlessPresentObserver = std::function<void(int slot, const HeadlessWindowState& window)>;
void HeadlessSetPresentObserver(HeadlessPresentObserver observer);

// The desktop mode the backend reports (1920 x 1080, 32 bits, 60 Hz after a reset). It also
// sets the one monitor (at 0, 0) and its mode list to that mode.
void HeadlessSetDesktopMode(int width, int height, int bitsPerPixel, int refreshRate);
void HeadlessSetMonitors(const std::vector<PlatRect>& monitors);
void HeadlessSetDisplayModes(const std::vector<PlatDisplayMode>& modes);   // of every monitor
void HeadlessRefuseModeChange(bool refuse);

// Virtual joysticks: the count the system reports and each one's next reading (a joystick
// without a reading cannot be read).
void HeadlessSetJoystickCount(int count);
void HeadlessSetJoystick(int index, uint32_t x, uint32_t y, uint32_t buttons);

bool HeadlessCursorShown();

// Fixed host facts in place of the host's own (null returns to the host's).
void HeadlessSetLocalTime(const PlatLocalTime* t);
void HeadlessSetMemoryStatus(const PlatMemoryStatus* m);

// The pointer's desktop position that GetCursorPosition reports (the desktop's middle after a
// reset).
void HeadlessSetCursorPosition(int x, int y);

// Movies and Flash content (the media driver below). Movies play on the same FFmpeg player as
// under SDL, on the backend's clock: whenever a window's picture or the movie's end is read,
// the player first catches up with the clock, so HeadlessWindow shows exactly the movie picture
// due at that game time (laid over the window's picture at the movie's rectangle), and
// PollEvent hands out PLAT_EVENT_MOVIE_END when the movie's time has run out. The movie's sound
// goes to a mixer voice that tests take with PlatAudioMix (platform/movie/movie_player.h tells
// how much is waiting). Any file while movies are refused fails to open.
// For fault injection a fake player stands in instead (off after a reset): it plays any existing
// file for the set length (1000 ms after a reset) and draws nothing.
extern PlatformMediaDriver g_HeadlessMediaDriver;
void HeadlessUseFakeMovies(bool fake);
void HeadlessSetMovieLength(uint32_t ms);
void HeadlessRefuseMovies(bool refuse);
// The Flash player the backend pretends to have (none after a reset, as on a real host).
struct HeadlessFlashPlayer {
  bool present = false;        // LoadFlashPlayer answers this
  bool windowFails = false;    // FlashOpenWindow fails
  bool controlFails = false;   // FlashCreateControl fails
  int32_t totalFrames = 0;
  bool playing = false;
  int32_t currentFrame = 0;
  std::map<std::string, int64_t> variables;   // root variables that hold integers
};
void HeadlessSetFlashPlayer(const HeadlessFlashPlayer& player);
// Desktop services: the answers of pop-up menus (the chosen item id, 0 for none; without one a
// pop-up is cancelled), and what the menus, the tray icon and the window attributes were set to.
void HeadlessQueueMenuChoice(uint32_t id);
struct HeadlessDesktopWindow {
  bool minimized = false;
  bool maximized = false;        // maximised at the program's request (never reported back)
  int zOrder = -1;               // last PLAT_Z_* asked for, -1 never
  bool maximizeBox = true;
  int flashCount = 0, flashInterval = 0;
  std::vector<PlatRect> shape;   // empty: the whole window
  std::vector<PlatMenuItem> menuBar;
  bool framed = true;
};
HeadlessDesktopWindow HeadlessDesktopState(int slot);
struct HeadlessTrayState {
  bool shown = false;
  bool customIcon = false;
  std::vector<uint8_t> icon;     // 16 x 16 BGRA when customIcon
  std::string tip;
  std::vector<PlatMenuItem> menu;   // the tray menu's description, kept while the icon comes and goes
  int menuShown = -1;               // the menu of it the tray shows
};
HeadlessTrayState HeadlessTray();

// The GPU device: the software device of platform/gpu.h (or one a test chooses) with controls
// and a count of calls.
extern PlatGpuDriver g_HeadlessGpu;
struct HeadlessGpuCounts {
  int createDevice, releaseDevice, testDevice, createTexture, releaseTexture, writeTexture, setRenderTarget,
      clear, drawQuad, readBack, setTransform;
};
HeadlessGpuCounts HeadlessGpuCalls();
// The next `count` device creations fail (-1: every one until set again).
void HeadlessGpuRefuseDevice(int count);
// The caps every device created from now on reports; its textures keep to their sizes.
void HeadlessGpuSetCaps(const PlatGpuCaps& caps);
// Loses the device: resettable answers PLAT_GPU_NOT_RESET, else PLAT_GPU_LOST, until the
// device is created again. While lost, draws, clears and writes do nothing, texture creation
// and read-back fail.
void HeadlessGpuLoseDevice(bool resettable);
// The device the controls wrap from now on (null: the software device); the current one is
// released first.
void HeadlessGpuUseDevice(PlatGpuDriver* device);
// Releases the device, goes back to the software device, clears the controls and the counts
// (HeadlessReset does it too).
void HeadlessGpuReset();

// Forgets windows, events, answers, calls, fixed host facts, media and the GPU device, sets the
// fake clock to 0 and leaves sound frames to be taken by hand.
void HeadlessReset();
