// The main loop, the frame step, frame pacing, the inactive pause and the game-logic thread.
#include <chrono>
#include <thread>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/menus.h"
#include "app/window.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "media/media.h"
#include "platform/platform.h"

std::atomic<uint8_t> g_Running{1};
std::atomic<uint8_t> g_ModalSuspend;
uint64_t g_FrameCounter;
uint64_t g_ScriptPassCounter;
int32_t g_FrameRate = 60;
int32_t g_FrameSkip = 1;
uint32_t g_FramePeriodAccumulator;
uint32_t g_LastImageLoadTime;
uint32_t g_FrameTime;
uint32_t g_SecondStartTime;
uint32_t g_SecondLoops;
uint32_t g_SecondDrawn;
uint32_t g_FramesPerSecond[2];
uint8_t g_SkipDrawing;
uint8_t g_NextSkipDrawing;
uint8_t g_FirstFrameDone;
int32_t g_ExtraPassRequest;
uint8_t g_DesktopRedrawCountdown;
int32_t g_FrameStyleCountdown;
std::atomic<uint8_t> g_InactivePause;
std::atomic<uint8_t> g_KeepRunningInactive{1};
uint64_t g_PauseStartTime;
uint32_t g_ScriptTimers[4];
uint8_t g_ScriptTimerRunning[4] = {1, 1, 1, 1};
uint32_t g_ScriptTimerPausedAt[4];
int32_t g_ActiveWindowIndex = -1;
uint8_t g_GameThreadMode;

namespace {

// A quit request asks the main thread to close the main window; the frame step may run on
// the game-logic thread, so the request is a flag the main thread's pump acts on.
std::atomic<uint8_t> g_ClosePosted;
std::atomic<uint8_t> g_QuitSignalAnswered;
std::thread g_GameThread;
// True on the game-logic thread, which owns the window records and the frame step's state.
thread_local bool t_OnGameThread;

void CloseMainWindow() {
  // The game-logic thread ends first: from then on the records are the main thread's. The quit
  // request that thread posts as it ends is answered by this close.
  EndGameThread();
  g_ClosePosted = 0;
  WindowRecord* main = g_WindowRecords[0];
  if (main) main->mCloseMode = WINDOW_CLOSE_QUIT;
  if (main && main->mHasWindow) {
    g_Platform->DestroyWindow(0);
    main->mHasWindow = 0;
  }
  g_WindowSlotState[0] = -1;
  // The destroyed main window ends the message loop.
  g_Running = 0;
}

// The display is gone and the backend is about to end the process: the frames stop at the end
// of the turn they are in, so what that turn writes (a save) is written whole, and the threads
// that ended are joined, as at shutdown. The loss may meet the game-logic thread itself, which
// stops as the process ends; another thread waits for it, a few seconds at most (it may itself
// wait for the main thread, which is here), and leaves the frame step's state alone when it does
// not end. Not through PlatSleep: the main thread's waits take SDL work that the lost display
// would never finish.
void StopFramesOnDisplayLoss() {
  g_QuitFlag = 1;
  if (!t_OnGameThread && g_GameThread.joinable()) {
    bool finished = false;
    for (int waited = 0; waited < 5000 && !finished; waited++) {
      {
        std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
        finished = g_GameThreadFinished != 0;
      }
      if (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!finished) return;
    g_GameThread.join();
  }
  EndFontLister();
}

void GameThreadProc() {
  t_OnGameThread = true;
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    g_GameThreadFinished = 0;
  }
  RunFramesUntilQuit();
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  g_GameThreadFinished = 1;
}

}  // namespace

bool SetFrameRate(int32_t fps) {
  if (fps < MIN_FRAME_RATE || fps > MAX_FRAME_RATE) return false;
  g_FrameRate = fps;
  return true;
}

void PumpMessages() {
  PlatEventRecord e;
  while (g_Platform->PollEvent(&e)) {
    // A backend that ends the run itself says with which status.
    if (e.type == PLAT_EVENT_QUIT && e.key > 0) g_ExitStatus = e.key;
    HandlePlatformEvent(e);
  }
  // SIGTERM and SIGINT end the game as a quit request does: without a question, cleanly.
  if (PlatQuitSignal() && !g_QuitSignalAnswered.exchange(1)) RequestQuit();
  if (g_ClosePosted.exchange(0)) CloseMainWindow();
}

void EndGameThread() {
  if (!g_GameThread.joinable() || g_GameThread.get_id() == std::this_thread::get_id()) return;
  for (;;) {
    // Raised again on every look: a non-fatal message on the thread clears it.
    g_QuitFlag = 1;
    {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      if (g_GameThreadFinished != 0) break;
    }
    PlatSleep(1);
  }
  g_GameThread.join();
}

void AnswerWindowDuringLongTurn() {
  // With the game-logic thread the main thread pumps on, and the window events it posted are
  // this thread's to answer.
  if (g_GameThreadMode) TakePostedWindowEvents();
  else PumpMessages();
}

void RunMainLoop() {
  g_QuitSignalAnswered = 0;
  PlatSetDisplayLostHandler(StopFramesOnDisplayLoss);
  for (;;) {
    PumpMessages();
    if (!g_Running) break;
    if (g_QuitFlag) {
      PlatSleep(1);
      continue;
    }
    PollActiveWindowInput();
    if (g_GameThreadMode) {
      PlatSleep(1);
    } else if (RunFrame() != 0) {
      RequestQuit();
    }
  }
  EndGameThread();
  // The loop is over: a quit the ending thread posted has nothing left to close.
  g_ClosePosted = 0;
}

void RequestQuit() {
  g_QuitFlag = 1;
  // While the game-logic thread runs the record is its own; the main thread's close sets the
  // mode once that thread has ended.
  if (g_WindowRecords[0] && (!g_GameThreadMode || t_OnGameThread)) g_WindowRecords[0]->mCloseMode = WINDOW_CLOSE_QUIT;
  g_ClosePosted = 1;
}

int RunFrame() {
  g_FrameCounter++;
  if (g_ModalSuspend) return 0;
  if (g_QuitFlag) return 1;
  if (g_MovieEndPosted.exchange(0)) OnMovieEnd();
  if (g_GameThreadMode) {
    TakePostedWindowEvents();
    if (g_QuitFlag) return 1;
  }
  if (g_DesktopRedrawCountdown) g_DesktopRedrawCountdown--;
  if (g_FrameStyleCountdown) g_FrameStyleCountdown--;
  UpdateInputState();
  uint32_t moviesStarted = g_MovieStarts;
  do {
    g_ExtraPassRequest = 0;
    g_ScriptPassCounter++;
    if (RunScriptTasks() != 0) g_QuitFlag = 1;
    if (g_QuitFlag) return 1;
  } while (g_ExtraPassRequest);
  ApplyPendingLayerStateAll();
  // A playing movie covers the main window: the game picture is neither drawn nor shown. The
  // frame that starts one still is, so the movie plays over what its scripts left.
  bool covered = MovieCoversWindow() != 0 && g_MovieStarts == moviesStarted;
  if (!g_SkipDrawing && !covered) {
    for (int i = 0; i < 4; i++)
      if (g_WindowRecords[i] && DrawWindow(g_WindowRecords[i]) != 0) return 1;
  }
  bool firstFrame = !g_FirstFrameDone;
  if (!g_FirstFrameDone) {
    g_FirstFrameDone = 1;
    WindowRecord* main = g_WindowRecords[0];
    if (main && main->mVisible == 1 && main->mHasWindow) g_Platform->ShowWindow(0, true);
  }
  g_NextSkipDrawing = (uint8_t)WaitFrame();
  if (g_EmoteAvailable && IsEmoteAnimating()) g_GpuRedrawRequest = 1;
  UpdateFullScreenMenuBar();
  if (!g_SkipDrawing && !covered) {
    for (int i = 0; i < 4; i++)
      if (g_WindowRecords[i] && PresentWindow(g_WindowRecords[i]) != 0) return 1;
    CountDrawnFrame();
    ResetDirtyRectsAll();
  }
  // The installed faces are listed on the side from now: before, the listing would only have
  // taken the processor from the first picture.
  if (firstFrame) StartFontTable();
  ShowRequestedPopupMenu();
  g_SkipDrawing = g_NextSkipDrawing;
  return g_QuitFlag;
}

int WaitFrame() {
  // The rate is kept in 1..1000 by SetFrameRate; guard anyway so no path divides by zero.
  int32_t rate = g_FrameRate >= MIN_FRAME_RATE && g_FrameRate <= MAX_FRAME_RATE ? g_FrameRate : 60;
  uint32_t period = (uint32_t)(65536000 / rate);
  uint32_t now = PlatGetTicks();
  g_FrameTime = now;
  g_FramePeriodAccumulator = (g_FramePeriodAccumulator & 0xFFFF) + period;
  uint32_t due = g_FramePeriodAccumulator >> 16;
  uint32_t elapsed = now - g_LastImageLoadTime;
  AdvanceEmotePlayers(elapsed);
  int skip = 0;
  if (elapsed < due) {
    PlatSleep(due - elapsed);
    g_LastImageLoadTime += due;
    g_FrameTime = PlatGetTicks();
  } else {
    uint32_t late = elapsed - due;
    if (late >= 250) late = 0;
    skip = (late >= 3 * due && (g_FrameSkip & 0xFF)) ? 1 : 0;
    g_FrameTime = g_LastImageLoadTime = now + late;
  }
  if (g_FrameTime / 1000 != g_SecondStartTime / 1000) {
    g_FramesPerSecond[0] = g_SecondLoops;
    g_FramesPerSecond[1] = g_SecondDrawn;
    g_SecondDrawn = 0;
    g_SecondStartTime = g_FrameTime;
    g_SecondLoops = 0;
  }
  g_SecondLoops++;
  return skip;
}

void CountDrawnFrame() { g_SecondDrawn++; }

void NoteImageLoadTime() { g_LastImageLoadTime = PlatGetTicks(); }

void CheckInactivePause() {
  if (g_KeepRunningInactive) {
    g_InactivePause = 0;
    return;
  }
  WindowRecord* main = g_WindowRecords[0];
  if (!main) return;
  uint8_t active = WindowIsActive(main);
  if (!active && !g_InactivePause) BeginInactivePause();
  else if (active && g_InactivePause) EndInactivePause();
}

void BeginInactivePause() {
  g_InactivePause = 1;
  g_PauseStartTime = PlatGetTicks();
}

void EndInactivePause() {
  uint32_t d = PlatGetTicks() - (uint32_t)g_PauseStartTime;
  for (int i = 0; i < 4; i++)
    if (g_ScriptTimerRunning[i]) g_ScriptTimers[i] += d;
  g_InactivePause = 0;
  g_PauseStartTime = 0;
}

int PausePump() {
  while (g_InactivePause == 1) {
    CheckInactivePause();
    // The focus that ends the pause comes as a window event.
    if (g_GameThreadMode) TakePostedWindowEvents();
    else PumpMessages();
    if (!g_Running || g_QuitFlag) return 1;
    if (g_InactivePause != 1) break;
    PlatSleep(10);
  }
  return 0;
}

void StartGameThread() {
  if (!g_GameThreadMode) return;
  // The finished flag leaves "not started" before the thread exists, so Shutdown always
  // waits for a thread that was started.
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    g_GameThreadFinished = 0;
  }
  g_GameThread = std::thread(GameThreadProc);
}

void RunFramesUntilQuit() {
  while (RunFrame() == 0) {
  }
  RequestQuit();
}
