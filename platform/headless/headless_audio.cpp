// The null sound output: takes mixed frames on the platform's clock, so sounds play out and end
// on time where no device plays them, or leaves them to a test that takes frames itself.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_local.h"

namespace {

// At most this much clock time is taken per step: a headless clock that jumps ahead (a sleep of
// the thread that owns it) is caught up with in steps the sound thread's refills keep pace with.
constexpr uint32_t STEP_LIMIT_MS = 50;
constexpr auto STEP_WAIT = std::chrono::milliseconds(5);
// How far game time may run ahead of the frames taken, and the longest real wait for them.
constexpr uint32_t LEAD_LIMIT_MS = 100;
constexpr auto KEEP_UP_LIMIT = std::chrono::milliseconds(2000);

std::atomic<bool> g_ByHand{false};
// Never destroyed: a program may end (exit) with the output open.
std::mutex& g_Lock = *new std::mutex;
std::condition_variable& g_Wake = *new std::condition_variable;
std::thread* g_Thread;
bool g_Stop;
// While the thread follows the clock: the clock time up to which frames are taken.
bool g_Following;
uint32_t g_TakenUpTo;
std::condition_variable& g_Taken = *new std::condition_variable;

void TakeFrames(int rate, uint32_t (*ticks)()) {
  uint32_t last = ticks();
  uint64_t msTaken = 0, framesTaken = 0;
  std::vector<int16_t> scratch;
  std::unique_lock<std::mutex> hold(g_Lock);
  while (!g_Wake.wait_for(hold, STEP_WAIT, [] { return g_Stop; })) {
    uint32_t now = ticks();
    int32_t ms = (int32_t)(now - last);
    g_Following = !g_ByHand;
    // A clock set back (a test's reset) or frames taken by hand: count from now on.
    if (ms <= 0 || g_ByHand) {
      if (ms < 0 || g_ByHand) last = now;
      g_TakenUpTo = last;
      g_Taken.notify_all();
      continue;
    }
    if ((uint32_t)ms > STEP_LIMIT_MS) ms = STEP_LIMIT_MS;
    last += (uint32_t)ms;
    msTaken += (uint32_t)ms;
    uint64_t due = msTaken * (uint64_t)rate / 1000;
    int frames = (int)(due - framesTaken);
    framesTaken = due;
    if (frames <= 0) continue;
    scratch.resize((size_t)frames * 2);
    hold.unlock();
    PlatAudioMix(scratch.data(), frames);
    hold.lock();
    g_TakenUpTo = last;
    g_Taken.notify_all();
  }
  g_Following = false;
  g_Taken.notify_all();
}

void NullClose() {
  std::thread* ending;
  {
    std::lock_guard<std::mutex> g(g_Lock);
    g_Stop = true;
    ending = g_Thread;
    g_Thread = nullptr;
  }
  g_Wake.notify_all();
  if (!ending) return;
  ending->join();
  delete ending;
}

bool NullOpen(int* rate, bool) {
  if (*rate <= 0) return false;
  // A program that ends with the output open stops the thread before the mixer's buffers go.
  static bool stopAtExit = atexit(NullClose) == 0;
  (void)stopAtExit;
  std::lock_guard<std::mutex> g(g_Lock);
  if (g_Thread) return true;
  g_Stop = false;
  int r = *rate;
  uint32_t (*ticks)() = g_Platform->GetTicks;
  g_Thread = new std::thread([r, ticks] { TakeFrames(r, ticks); });
  return true;
}

}  // namespace

void HeadlessAudioKeepUp(uint32_t now) {
  std::unique_lock<std::mutex> hold(g_Lock);
  g_Taken.wait_for(hold, KEEP_UP_LIMIT, [now] {
    return !g_Following || g_Stop || (int32_t)(now - g_TakenUpTo) <= (int32_t)LEAD_LIMIT_MS;
  });
}

PlatAudioOutput g_NullAudioOutput = {"null", NullOpen, NullClose, nullptr, nullptr, nullptr};

void HeadlessSetAudioByHand(bool byHand) { g_ByHand = byHand; }
