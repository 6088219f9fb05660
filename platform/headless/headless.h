// Controls of the headless backend for tests and for headless runs: the clock, injected
// events, scripted dialog answers, the record of calls and each window's last picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/platform.h"

extern PlatformDriver g_HeadlessDriver;

// The null sound output, also the fall-back when no sound device opens. Nothing is consumed
// on its own: a test takes mixed frames with PlatAudioMix (platform/audio.h).
extern PlatAudioOutput g_NullAudioOutput;

// The clock. By default it is a fake clock that only moves when told to or when the thread
// that owns it sleeps (sleeping then advances it at once, so paced loops run at full speed and
// deterministically). Sleeps on other threads really sleep and leave the fake clock alone.
void HeadlessSetTicks(uint32_t ms);
void HeadlessAdvanceTicks(uint32_t ms);
void HeadlessUseRealClock(bool real);
void HeadlessClaimClock();   // the calling thread becomes the one whose sleeps advance time

// Events that PollEvent will hand out, in order.
void HeadlessPushEvent(const PlatEventRecord& e);

// Answers (button indexes) for the next dialogs, in order; without one a dialog takes its
// default button.
void HeadlessQueueAnswer(int buttonIndex);

// Every backend call, one line each ("ChoiceBox <caption>|<text>|<label>,<label>", "CreateWindow 0 640x480 <title>", ...).
std::vector<std::string> HeadlessCalls();
void HeadlessClearCalls();

struct HeadlessWindowState {
  bool exists = false;
  bool shown = false;
  int width = 0, height = 0;
  std::string title;
  int frameWidth = 0, frameHeight = 0;
  std::vector<uint8_t> frame;   // BGRA, tightly packed rows, last presented picture
  int presents = 0;
};
HeadlessWindowState HeadlessWindow(int slot);

// The desktop mode the backend reports (1920 x 1080, 32 bits, 60 Hz after a reset).
void HeadlessSetDesktopMode(int width, int height, int bitsPerPixel, int refreshRate);

// Fixed host facts in place of the host's own (null returns to the host's).
void HeadlessSetLocalTime(const PlatLocalTime* t);
void HeadlessSetMemoryStatus(const PlatMemoryStatus* m);

// The pointer's desktop position that GetCursorPosition reports (the desktop's middle after a
// reset).
void HeadlessSetCursorPosition(int x, int y);

// Forgets windows, events, answers, calls and fixed host facts, and sets the fake clock to 0.
void HeadlessReset();
