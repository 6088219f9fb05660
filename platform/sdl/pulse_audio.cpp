// The sound server's own stream (PulseAudio, or PipeWire through pipewire-pulse): the output
// tried first on a desktop. It keeps a deep queue in the server, so a busy machine never leaves
// the server short, and yet a sound starts within 15 to 40 ms: the server lets a client write
// again over frames it holds but has not played, and a new sound is mixed into those.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/lazy/lazy_library.h"
#include "platform/sdl/sdl_driver.h"

namespace {

// The server is asked for a queue of four 2048-frame blocks (about 190 ms) and a new block
// whenever one has been played: three stay queued while the next is mixed.
constexpr int BLOCK_FRAMES = 2048;
constexpr int QUEUE_BLOCKS = 4;
constexpr int FRAME_BYTES = 4;   // 16-bit stereo
// A new sound is written this far ahead of the frame the server reads now: time for the
// rewritten frames to reach it before it reads them. PipeWire's pulse server, given frames
// closer than that, now and then plays one graph cycle of silence under them (in about one
// start of forty at 15 ms, one of several hundred at 30 ms); it gets the larger margin, also
// until the server has said what it is. Measured from the play command to the sink's monitor,
// a sound starts 10-19 ms after it on PulseAudio and 21-38 ms after it on PipeWire.
constexpr int START_AHEAD_MS = 15;
constexpr int START_AHEAD_PIPEWIRE_MS = 30;
// The most frames a start reaches back (the queue with room to spare).
constexpr int HISTORY_FRAMES = 32768;
constexpr int64_t OPEN_LIMIT_MS = 2500;
// A server that has neither asked for frames nor answered a question this long no longer
// plays the stream, whatever its state says. It is asked where it reads at least this often,
// so one that is alive but does not read yet (a sink still playing out what it rendered before
// the stream came) is not taken for gone.
constexpr int64_t STALL_MS = 1500;
constexpr pa_usec_t ASK_EVERY_US = 500000;

int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The live stream, published once it plays; Started and Close reach it only under g_Live.
std::mutex g_Live;
pa_threaded_mainloop* g_Loop = nullptr;
pa_context* g_Context = nullptr;
pa_stream* g_Stream = nullptr;

// Written on the server's thread, read by the watcher and the movie clock.
std::atomic<int64_t> g_LastHeardUs{0};   // the server's last request or answer
std::atomic<bool> g_Broken{false};
std::atomic<int> g_Rate{44100};
std::atomic<int> g_AheadMs{START_AHEAD_PIPEWIRE_MS};
std::atomic<int64_t> g_Written{0};      // frames written to the stream since it opened
std::atomic<int64_t> g_ReadAt{-1};      // frames the server had read at its last timing report
std::atomic<int64_t> g_ReadAtUs{0};     // when that report was made
std::atomic<int64_t> g_SinkFrames{0};   // frames the server had read but not yet played

// The server's thread only.
std::vector<int16_t> g_Block;
std::vector<int16_t> g_Again;
bool g_Keeping = false;
pa_time_event* g_Ask = nullptr;

void TimingKnown(pa_stream* s, int success, void*);

// The question carries the time it was asked: the answer's delay is the server's own.
void AskTiming(pa_stream* s) {
  void* asked = reinterpret_cast<void*>((intptr_t)NowUs());
  if (pa_operation* o = pa_stream_update_timing_info(s, TimingKnown, asked)) pa_operation_unref(o);
}

void Fill(pa_stream* s, size_t bytes, void*) {
  g_LastHeardUs = NowUs();
  if (!g_Keeping) {
    PlatAudioKeepHistory(HISTORY_FRAMES);
    g_Keeping = true;
  }
  size_t frames = bytes / FRAME_BYTES;
  while (frames > 0) {
    size_t n = std::min(frames, (size_t)BLOCK_FRAMES);
    g_Block.resize(n * 2);
    PlatAudioMix(g_Block.data(), (int)n);
    if (pa_stream_write(s, g_Block.data(), n * FRAME_BYTES, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
      g_Broken = true;
      return;
    }
    g_Written += (int64_t)n;
    frames -= n;
  }
  AskTiming(s);
}

// The server's read position now, from its last report moved on by the time since.
int64_t ReadNow() {
  int64_t at = g_ReadAt;
  if (at < 0) return -1;
  return at + (NowUs() - g_ReadAtUs) * g_Rate / 1000000;
}

void TimingKnown(pa_stream* s, int success, void* asked) {
  if (!success || s != g_Stream) return;
  int64_t now = NowUs();
  g_LastHeardUs = now;
  int64_t answerUs = std::max<int64_t>(0, now - (int64_t)reinterpret_cast<intptr_t>(asked));
  const pa_timing_info* t = pa_stream_get_timing_info(s);
  if (!t || t->read_index_corrupt) return;
  int rate = g_Rate;
  int64_t read = t->read_index / FRAME_BYTES;
  int64_t written = g_Written;
  // The report was made when the server answered; it has read on since.
  int64_t since = t->playing ? std::max<int64_t>(0, (int64_t)pa_timeval_age(&t->timestamp)) : 0;
  read += since * rate / 1000000;
  g_ReadAt = read;
  g_ReadAtUs = NowUs();
  g_SinkFrames = (int64_t)t->sink_usec * rate / 1000000;
  // Before the server plays the stream, a sound simply starts with the next block.
  // A server slow to answer is as slow to take the frames: its delay counts twice.
  int64_t aheadUs = (int64_t)g_AheadMs * 1000 + 2 * answerUs;
  int64_t back = t->playing ? written - read - aheadUs * rate / 1000000 : 0;
  back = std::clamp<int64_t>(back, 0, HISTORY_FRAMES);
  g_Again.resize((size_t)back * 2 + 2);
  int n = PlatAudioMixLate(g_Again.data(), (int)back);
  if (n > 0 && pa_stream_write(s, g_Again.data(), (size_t)n * FRAME_BYTES, nullptr, -(int64_t)n * FRAME_BYTES,
                               PA_SEEK_RELATIVE) < 0)
    g_Broken = true;
}

void StreamState(pa_stream* s, void*) {
  pa_stream_state_t st = pa_stream_get_state(s);
  if (s == g_Stream && (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED)) g_Broken = true;
}

void ServerKnown(pa_context*, const pa_server_info* info, void*) {
  bool pipewire = info && info->server_name && strstr(info->server_name, "PipeWire");
  g_AheadMs = pipewire ? START_AHEAD_PIPEWIRE_MS : START_AHEAD_MS;
}

void ContextState(pa_context* c, void*) {
  pa_context_state_t st = pa_context_get_state(c);
  if (st == PA_CONTEXT_FAILED || st == PA_CONTEXT_TERMINATED) g_Broken = true;
}

pa_stream* MakeStream(pa_context* context, int rate) {
  pa_sample_spec spec{PA_SAMPLE_S16LE, (uint32_t)rate, 2};
  pa_stream* stream = pa_stream_new(context, "Game sound", &spec, nullptr);
  if (!stream) return nullptr;
  pa_buffer_attr attr;
  attr.maxlength = (uint32_t)-1;
  attr.tlength = QUEUE_BLOCKS * BLOCK_FRAMES * FRAME_BYTES;
  // Playing starts with the first block: the server's own choice (the queue less one block and
  // a byte) is never reached when it asks for less than the whole queue at first.
  attr.prebuf = BLOCK_FRAMES * FRAME_BYTES;
  attr.minreq = BLOCK_FRAMES * FRAME_BYTES;
  attr.fragsize = (uint32_t)-1;
  pa_stream_set_state_callback(stream, StreamState, nullptr);
  pa_stream_set_write_callback(stream, Fill, nullptr);
  if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
    pa_stream_unref(stream);
    return nullptr;
  }
  return stream;
}

void DropStream(pa_stream* stream) {
  if (!stream) return;
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

void AskAgain(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void*) {
  if (g_Stream && pa_stream_get_state(g_Stream) == PA_STREAM_READY) AskTiming(g_Stream);
  pa_context_rttime_restart(g_Context, e, pa_rtclock_now() + ASK_EVERY_US);
}

// Waits with the loop locked until `state` answers 1 (ready) or -1 (failed), or the limit.
template <class State>
bool Await(pa_threaded_mainloop* loop, State state, int64_t untilUs) {
  for (;;) {
    int s = state();
    if (s != 0) return s > 0;
    if (NowUs() > untilUs) return false;
    pa_threaded_mainloop_unlock(loop);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pa_threaded_mainloop_lock(loop);
  }
}

void TearDown(pa_threaded_mainloop* loop, pa_context* context) {
  if (!loop) return;
  pa_threaded_mainloop_lock(loop);
  if (g_Ask) pa_threaded_mainloop_get_api(loop)->time_free(g_Ask);
  g_Ask = nullptr;
  DropStream(g_Stream);
  g_Stream = nullptr;
  if (context) {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_threaded_mainloop_unlock(loop);
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
}

bool PulseOpen(int* rate, bool fixedRate) {
  if (!LazyLibraryOpen(&g_LazyPulse)) return false;
  pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
  if (!loop) return false;
  if (pa_threaded_mainloop_start(loop) < 0) {
    pa_threaded_mainloop_free(loop);
    return false;
  }
  int64_t until = NowUs() + OPEN_LIMIT_MS * 1000;
  pa_threaded_mainloop_lock(loop);
  g_Broken = false;
  g_Keeping = false;
  g_Written = 0;
  g_ReadAt = -1;
  g_SinkFrames = 0;
  g_Rate = *rate;
  // A server is never started for the game: with none running, SDL's device is tried.
  pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(loop), "KIVOR");
  g_Context = context;
  bool ok = context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  if (ok) {
    pa_context_set_state_callback(context, ContextState, nullptr);
    ok = Await(loop, [&] {
      pa_context_state_t st = pa_context_get_state(context);
      return st == PA_CONTEXT_READY ? 1 : !PA_CONTEXT_IS_GOOD(st) ? -1 : 0;
    }, until);
  }
  if (ok) {
    g_AheadMs = START_AHEAD_PIPEWIRE_MS;
    if (pa_operation* o = pa_context_get_server_info(context, ServerKnown, nullptr)) pa_operation_unref(o);
    ok = (g_Stream = MakeStream(context, *rate)) != nullptr;
  }
  if (ok)
    ok = Await(loop, [&] {
      pa_stream_state_t st = pa_stream_get_state(g_Stream);
      return st == PA_STREAM_READY ? 1 : !PA_STREAM_IS_GOOD(st) ? -1 : 0;
    }, until);
  if (ok) g_Ask = pa_context_rttime_new(context, pa_rtclock_now() + ASK_EVERY_US, AskAgain, nullptr);
  g_LastHeardUs = NowUs();
  pa_threaded_mainloop_unlock(loop);
  if (!ok) {
    TearDown(loop, context);
    g_Context = nullptr;
    return false;
  }
  std::lock_guard<std::mutex> live(g_Live);
  g_Loop = loop;
  return true;
}

void PulseClose() {
  pa_threaded_mainloop* loop;
  pa_context* context;
  {
    std::lock_guard<std::mutex> live(g_Live);
    loop = g_Loop;
    context = g_Context;
    g_Loop = nullptr;
  }
  if (!loop) return;
  TearDown(loop, context);
  g_Context = nullptr;
  PlatAudioKeepHistory(0);
}

bool PulseLost() {
  std::lock_guard<std::mutex> live(g_Live);
  return !g_Loop || g_Broken || NowUs() - g_LastHeardUs > STALL_MS * 1000;
}

// A sound began: the server's report of where it reads tells how far back it can be placed.
void PulseStarted() {
  std::lock_guard<std::mutex> live(g_Live);
  if (!g_Loop || pa_threaded_mainloop_in_thread(g_Loop)) return;
  pa_threaded_mainloop_lock(g_Loop);
  if (g_Stream && pa_stream_get_state(g_Stream) == PA_STREAM_READY) AskTiming(g_Stream);
  pa_threaded_mainloop_unlock(g_Loop);
}

int PulseQueued() {
  int64_t read = ReadNow();
  if (read < 0) return 0;
  int64_t queued = g_Written - read + g_SinkFrames;
  return (int)std::clamp<int64_t>(queued, 0, HISTORY_FRAMES);
}

}  // namespace

PlatAudioOutput g_PulseAudioOutput = {"pulse", PulseOpen, PulseClose, PulseLost, PulseStarted, PulseQueued};
