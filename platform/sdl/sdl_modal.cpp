// Modal loops of the SDL backend's widgets and the hand-over of widget work from other threads
// to the main thread, which owns SDL's windows and events.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/sdl/sdl_widgets.h"

namespace {

struct Job {
  const std::function<void()>* run;
  bool taken = false, done = false;
};

std::mutex g_JobLock;
std::condition_variable g_JobChanged;
std::deque<Job*> g_Jobs;

// The window an event belongs to, 0 for none.
Uint32 EventWindowId(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_TEXTEDITING: return e.edit.windowID;
    case SDL_TEXTEDITING_EXT: return e.editExt.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    default: return 0;
  }
}

}  // namespace

bool SdlRunOnMainThread(const std::function<void()>& run) {
  if (SdlOnMainThread()) {
    run();
    return true;
  }
  Job job{&run};
  std::unique_lock<std::mutex> lock(g_JobLock);
  g_Jobs.push_back(&job);
  // The main thread pumps events every millisecond or so while the program runs; one that does
  // not take the job soon is ending the program, and the caller uses another way.
  if (!g_JobChanged.wait_for(lock, std::chrono::seconds(10), [&] { return job.taken; })) {
    for (auto it = g_Jobs.begin(); it != g_Jobs.end(); ++it)
      if (*it == &job) {
        g_Jobs.erase(it);
        break;
      }
    return false;
  }
  g_JobChanged.wait(lock, [&] { return job.done; });
  return true;
}

void SdlRunMainThreadJobs() {
  for (;;) {
    Job* job;
    {
      std::lock_guard<std::mutex> lock(g_JobLock);
      if (g_Jobs.empty()) return;
      job = g_Jobs.front();
      g_Jobs.pop_front();
      job->taken = true;
    }
    g_JobChanged.notify_all();
    (*job->run)();
    {
      std::lock_guard<std::mutex> lock(g_JobLock);
      job->done = true;
    }
    g_JobChanged.notify_all();
  }
}

bool WidgetEventFor(SDL_Window* window, const SDL_Event& e) {
  bool keyboard = e.type == SDL_KEYDOWN || e.type == SDL_KEYUP || e.type == SDL_TEXTINPUT || e.type == SDL_TEXTEDITING ||
                  e.type == SDL_TEXTEDITING_EXT;
  return keyboard || EventWindowId(e) == SDL_GetWindowID(window);
}

void WidgetRunModal(const std::function<bool(const SDL_Event&)>& handle, const bool* done) {
  std::vector<SDL_Event> held;
  // A quit signal leaves the widget as its way out would (no choice), so the game can end.
  while (!*done && !PlatQuitSignal()) {
    SdlRunMainThreadJobs();
    SDL_Event e;
    if (!SDL_WaitEventTimeout(&e, 30)) continue;
    bool taken = handle(e);
    // A long composed text comes in memory of its own, which the handler has copied if it wanted.
    if (e.type == SDL_TEXTEDITING_EXT) SDL_free(e.editExt.text);
    if (taken) continue;
    Uint32 id = EventWindowId(e);
    if (e.type == SDL_QUIT || (e.type == SDL_WINDOWEVENT && SdlSlotOfWindowId(id) >= 0)) {
      if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) SdlRepaintGameWindows();
      // Quit, close and window changes reach the engine once the modal widget is gone.
      held.push_back(e);
      continue;
    }
    if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) SDL_free(e.drop.file);
  }
  for (SDL_Event& e : held) SDL_PushEvent(&e);
}
