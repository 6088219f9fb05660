// The headless backend: no display, everything recorded for tests, a clock tests can drive.
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/headless/headless.h"

namespace {

std::mutex g_Lock;  // guards everything below but the clock
std::atomic<uint32_t> g_Ticks{0};
std::atomic<bool> g_RealClock{false};
std::thread::id g_ClockOwner = std::this_thread::get_id();
std::deque<PlatEventRecord> g_Events;
std::deque<int> g_Answers;
std::vector<std::string> g_Calls;
HeadlessWindowState g_Windows[4];

uint32_t RealTicks() {
  using namespace std::chrono;
  return (uint32_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Record(const std::string& line) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_Calls.push_back(line);
}

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

bool HInit() { return true; }
void HQuit() {}

uint32_t HGetTicks() { return g_RealClock ? RealTicks() : g_Ticks.load(); }

void HSleep(uint32_t ms) {
  if (!g_RealClock && std::this_thread::get_id() == g_ClockOwner) {
    g_Ticks += ms;
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int HChoiceBox(const char* caption, const char* text, const char* const* labels, int count, int defaultIndex,
               int cancelIndex) {
  std::string line = std::string("ChoiceBox ") + (caption ? caption : "") + "|" + (text ? text : "") + "|";
  for (int i = 0; i < count; i++) line += std::string(i ? "," : "") + labels[i];
  Record(line);
  std::lock_guard<std::mutex> g(g_Lock);
  if (!g_Answers.empty()) {
    int a = g_Answers.front();
    g_Answers.pop_front();
    if (a >= 0 && a < count) return a;
    return cancelIndex;
  }
  return defaultIndex;
}

bool HCreateWindow(int slot, int width, int height, const char* title) {
  Record("CreateWindow " + std::to_string(slot) + " " + std::to_string(width) + "x" +
         std::to_string(height) + " " + (title ? title : ""));
  if (!ValidSlot(slot) || width <= 0 || height <= 0) return false;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot] = HeadlessWindowState{};
  g_Windows[slot].exists = true;
  g_Windows[slot].width = width;
  g_Windows[slot].height = height;
  g_Windows[slot].title = title ? title : "";
  return true;
}

void HDestroyWindow(int slot) {
  Record("DestroyWindow " + std::to_string(slot));
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_Lock);
  g_Windows[slot] = HeadlessWindowState{};
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
  g_Windows[slot].width = width;
  g_Windows[slot].height = height;
}

void HPresentFrame(int slot, const uint8_t* bgra, int width, int height, int pitch) {
  if (!ValidSlot(slot) || !bgra || width <= 0 || height <= 0 || pitch < width * 4) return;
  std::lock_guard<std::mutex> g(g_Lock);
  HeadlessWindowState& w = g_Windows[slot];
  if (!w.exists) return;
  w.frameWidth = width;
  w.frameHeight = height;
  w.frame.resize((size_t)width * 4 * height);
  for (int y = 0; y < height; y++)
    std::copy(bgra + (size_t)y * pitch, bgra + (size_t)y * pitch + (size_t)width * 4,
              w.frame.begin() + (size_t)y * width * 4);
  w.presents++;
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

bool HPollEvent(PlatEventRecord* out) {
  std::lock_guard<std::mutex> g(g_Lock);
  if (g_Events.empty()) return false;
  *out = g_Events.front();
  g_Events.pop_front();
  return true;
}

int g_Cursor[2] = {960, 540};

bool HGetCursorPosition(int* x, int* y) {
  std::lock_guard<std::mutex> g(g_Lock);
  *x = g_Cursor[0];
  *y = g_Cursor[1];
  return true;
}

}  // namespace

PlatformDriver g_HeadlessDriver = {
    "headless",      HInit,          HQuit,           HGetTicks,      HSleep,        HChoiceBox,
    HCreateWindow,   HDestroyWindow, HShowWindow,     HSetWindowTitle, HSetWindowSize, HPresentFrame,
    HGetDesktopMode, HPollEvent,     HGetLocalTime,   HGetMemoryStatus, HGetCursorPosition,
};

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
  return ValidSlot(slot) ? g_Windows[slot] : HeadlessWindowState{};
}

void HeadlessSetDesktopMode(int width, int height, int bitsPerPixel, int refreshRate) {
  std::lock_guard<std::mutex> g(g_Lock);
  g_DesktopMode[0] = width;
  g_DesktopMode[1] = height;
  g_DesktopMode[2] = bitsPerPixel;
  g_DesktopMode[3] = refreshRate;
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

void HeadlessReset() {
  std::lock_guard<std::mutex> g(g_Lock);
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
  g_Calls.clear();
  for (HeadlessWindowState& w : g_Windows) w = HeadlessWindowState{};
  g_Ticks = 0;
  g_RealClock = false;
  g_ClockOwner = std::this_thread::get_id();
}
