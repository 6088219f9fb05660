// The movie player: a decoding thread filling a short queue of decoded pictures and a sound
// queue, a clock that follows the mixer's consumption of the movie's voice (or the platform's
// clock without a sound device), and the picture due now converted into the window's picture
// as it is shown.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/movie/movie_decoder.h"
#include "platform/movie/movie_player.h"

namespace {

// A rectangle that does not lie inside its window is converted into a picture of its own, at
// the rectangle's size but never larger than this (a script's rectangle may be absurd), and then
// stretched as it is laid.
constexpr int MAX_OUT_SIDE = 4096;
constexpr double MAX_OUT_PIXELS = 4096.0 * 2304.0;
constexpr auto SETTLE_LIMIT = std::chrono::seconds(5);
constexpr auto START_LIMIT = std::chrono::seconds(3);
constexpr auto IDLE_WAIT = std::chrono::milliseconds(5);
// The clock is moved to the sound's when they drift further apart than this.
constexpr double RESYNC_MS = 30.0;

struct Player {
  std::mutex lock;
  std::condition_variable changed;
  std::thread thread;
  std::atomic<bool> stop{false};
  bool open = false;
  int slot = 0;
  PlatRect rect{};
  int sourceWidth = 1, sourceHeight = 1;   // the movie's own frame size, from its opening
  int outWidth = 1, outHeight = 1;
  double frameMs = 40;
  bool needsShow[4] = {};

  std::deque<MoviePicture> queue;
  MoviePicture shown;          // empty until the first picture is due
  PlatMovieHolding held{};
  bool anyDecoded = false;
  bool blocked = false;        // the decoder can do nothing until a picture is taken
  bool decodeDone = false;
  double lastPictureMs = 0, soundEndMs = 0;

  bool started = false, playing = false, ended = false, endTaken = false;
  uint32_t anchorTicks = 0;
  double anchorMs = 0;

  // Sound: decoded samples wait in `fifo` until the ring of the looping mixer voice has room.
  PlatSoundBuffer* voice = nullptr;
  bool soundClock = false;     // a real device consumes the voice: its pace is the clock
  uint32_t rate = 44100, ringFrames = 0;
  std::deque<int16_t> fifo;
  size_t fifoLimit = 0;        // samples
  bool firstSound = true;
  uint64_t written = 0, consumed = 0;
  uint32_t lastCursor = 0;
  double writeMs = 0;          // movie time of the next frame written to the ring
};

Player g_Player;
MovieDecoder g_Decoder;   // the decoding thread's while it runs

// Conversion for the threads that show pictures, one at a time; apart from the player's lock so
// the decoding thread goes on meanwhile.
struct Converter {
  std::mutex lock;
  MovieScaler scaler{1};
  std::vector<uint8_t> picture;   // a rectangle's own picture, while it does not fit its window
};
Converter g_Converter;

double ClockAt(const Player& p, uint32_t now) {
  return p.started && p.playing ? p.anchorMs + double(uint32_t(now - p.anchorTicks)) : p.anchorMs;
}

double EndMs(const Player& p) { return std::max(p.lastPictureMs + p.frameMs, p.soundEndMs); }

void OutSize(Player& p) {
  double w = p.rect.width > 0 ? p.rect.width : p.sourceWidth;
  double h = p.rect.height > 0 ? p.rect.height : p.sourceHeight;
  double f = 1.0;
  f = std::min(f, MAX_OUT_SIDE / w);
  f = std::min(f, MAX_OUT_SIDE / h);
  if (w * h * f * f > MAX_OUT_PIXELS) f = std::min(f, std::sqrt(MAX_OUT_PIXELS / (w * h)));
  p.outWidth = std::max(1, int(w * f));
  p.outHeight = std::max(1, int(h * f));
}

void NoteHeld(Player& p) {
  int decoded = int(p.queue.size()) + (p.shown.Empty() ? 0 : 1);
  p.held.decoded = std::max(p.held.decoded, decoded);
}

// Pictures the clock has passed by a later one are never shown.
void DropSuperseded(Player& p, double clock) {
  while (p.queue.size() >= 2 && p.queue[1].Ms() <= clock) p.queue.pop_front();
}

// Follows the mixer's play cursor, clears what it played (so a starved voice plays silence,
// never old sound), moves waiting samples into the ring and keeps the clock on the sound as it
// is heard.
void FeedVoice(Player& p, uint32_t now) {
  if (!p.voice) return;
  uint32_t play = 0;
  PlatSoundBufferGetCursors(p.voice, &play, nullptr);
  uint32_t cursor = play / 4;
  uint32_t played = (cursor + p.ringFrames - p.lastCursor) % p.ringFrames;
  p.lastCursor = cursor;
  if (played) {
    std::vector<uint8_t> silence(size_t(played) * 4, 0);
    PlatSoundBufferWrite(p.voice, uint32_t(p.consumed % p.ringFrames) * 4, silence.data(), uint32_t(silence.size()));
    p.consumed += played;
  }
  // Starved: the sound's time stands still until samples come again.
  if (p.consumed > p.written) p.written = p.consumed;
  if (!p.soundClock && p.fifo.size() > p.fifoLimit) {
    size_t drop = (p.fifo.size() - p.fifoLimit) & ~size_t(1);
    p.fifo.erase(p.fifo.begin(), p.fifo.begin() + ptrdiff_t(drop));
    p.writeMs += double(drop / 2) * 1000.0 / p.rate;
  }
  uint64_t room = p.ringFrames - (p.written - p.consumed);
  size_t frames = std::min<size_t>(size_t(room), p.fifo.size() / 2);
  if (frames) {
    std::vector<int16_t> chunk(p.fifo.begin(), p.fifo.begin() + ptrdiff_t(frames * 2));
    PlatSoundBufferWrite(p.voice, uint32_t(p.written % p.ringFrames) * 4, chunk.data(), uint32_t(frames * 4));
    p.fifo.erase(p.fifo.begin(), p.fifo.begin() + ptrdiff_t(frames * 2));
    p.written += frames;
    p.writeMs += double(frames) * 1000.0 / p.rate;
  }
  if (p.soundClock && p.started && p.playing && played && p.written > p.consumed) {
    // The mixer's cursor runs ahead of the speaker by what the output still holds.
    double heardMs = double(PlatAudioQueuedFrames()) * 1000.0 / p.rate;
    double soundMs = std::max(0.0, p.writeMs - double(p.written - p.consumed) * 1000.0 / p.rate - heardMs);
    if (std::fabs(soundMs - ClockAt(p, now)) > RESYNC_MS) {
      p.anchorMs = soundMs;
      p.anchorTicks = now;
    }
  }
}

void MarkEnded(Player& p) {
  p.ended = true;
  p.playing = false;
  p.anchorMs = EndMs(p);
  if (p.voice) PlatSoundBufferStop(p.voice);
  p.changed.notify_all();
}

void CheckEnd(Player& p, uint32_t now) {
  if (!p.ended && p.started && p.playing && p.decodeDone && ClockAt(p, now) >= EndMs(p)) MarkEnded(p);
}

void AddSound(Player& p, const std::vector<int16_t>& samples, double ms) {
  // The first run starts at its own time: silence before it keeps it in step with the pictures.
  if (p.firstSound) {
    p.firstSound = false;
    size_t lead = size_t(ms * p.rate / 1000.0) * 2;
    p.fifo.insert(p.fifo.end(), lead, 0);
  }
  p.fifo.insert(p.fifo.end(), samples.begin(), samples.end());
  p.soundEndMs = std::max(p.soundEndMs, ms + double(samples.size() / 2) * 1000.0 / p.rate);
}

void DecodeLoop() {
  Player& p = g_Player;
  while (!p.stop) {
    uint32_t now = PlatGetTicks();
    std::unique_lock<std::mutex> l(p.lock);
    FeedVoice(p, now);
    CheckEnd(p, now);
    if (p.ended) break;
    double clock = ClockAt(p, now);
    DropSuperseded(p, clock);
    bool paused = p.started && !p.playing;
    bool soundFull = p.soundClock && p.fifo.size() >= p.fifoLimit;
    if (paused || soundFull || p.decodeDone || p.blocked) {
      p.blocked = false;
      p.changed.wait_for(l, IDLE_WAIT);
      continue;
    }
    bool pictureRoom = p.queue.size() < size_t(PLAT_MOVIE_QUEUE);
    l.unlock();

    MovieStep step = g_Decoder.Step(pictureRoom);
    MoviePicture picture;
    if (step == MOVIE_STEP_VIDEO) picture = g_Decoder.TakeVideo();
    l.lock();
    if (step == MOVIE_STEP_VIDEO) {
      p.lastPictureMs = std::max(p.lastPictureMs, g_Decoder.VideoMs());
      if (!picture.Empty()) {
        p.anyDecoded = true;
        p.held.largestPicture = std::max(p.held.largestPicture, int64_t(picture.Width()) * picture.Height());
        p.queue.push_back(std::move(picture));
        NoteHeld(p);
      }
    } else if (step == MOVIE_STEP_AUDIO) {
      p.anyDecoded = true;
      if (p.voice) AddSound(p, g_Decoder.Audio(), g_Decoder.AudioMs());
    } else if (step == MOVIE_STEP_BLOCKED) {
      // Blocked for want of room for a picture that was taken meanwhile: on at once.
      p.blocked = pictureRoom || p.queue.size() >= size_t(PLAT_MOVIE_QUEUE);
    } else {
      p.decodeDone = true;
    }
    p.changed.notify_all();
  }
}

// Whether the decoder has caught up with the clock: the picture due now is known.
bool Settled(const Player& p, uint32_t now) {
  if (!p.open || !p.started || !p.playing || p.decodeDone || p.ended) return true;
  return !p.queue.empty() && p.queue.back().Ms() > ClockAt(p, now);
}

void Settle(Player& p, std::unique_lock<std::mutex>& l, uint32_t now) {
  p.changed.wait_for(l, SETTLE_LIMIT, [&] { return Settled(p, now); });
}

// Copies a picture into the rectangle, stretched by nearest pixel and clipped to the target;
// the part of the target written.
PlatRect Lay(const uint8_t* bgra, int pw, int ph, const PlatRect& r, uint8_t* dest, int width, int height,
             int pitch) {
  if (r.width <= 0 || r.height <= 0 || pw <= 0 || ph <= 0) return PlatRect{};
  int64_t x0 = std::max<int64_t>(0, r.x), x1 = std::min<int64_t>(width, int64_t(r.x) + r.width);
  int64_t y0 = std::max<int64_t>(0, r.y), y1 = std::min<int64_t>(height, int64_t(r.y) + r.height);
  if (x0 >= x1 || y0 >= y1) return PlatRect{};
  for (int64_t y = y0; y < y1; y++) {
    int64_t sy = (y - r.y) * ph / r.height;
    const uint8_t* src = bgra + size_t(sy) * pw * 4;
    uint8_t* row = dest + size_t(y) * pitch;
    if (pw == r.width) {
      memcpy(row + x0 * 4, src + (x0 - r.x) * 4, size_t(x1 - x0) * 4);
      continue;
    }
    for (int64_t x = x0; x < x1; x++) memcpy(row + x * 4, src + ((x - r.x) * pw / r.width) * 4, 4);
  }
  return PlatRect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

// Draws the picture at the rectangle into the window's picture; the part written (none when
// there is no picture or it cannot be converted). With g_Converter's lock held.
PlatRect DrawPicture(const MoviePicture& picture, const PlatRect& r, int outWidth, int outHeight, uint8_t* dest,
                     int width, int height, int pitch) {
  Converter& c = g_Converter;
  if (picture.Empty() || r.width <= 0 || r.height <= 0) return PlatRect{};
  bool inside = r.x >= 0 && r.y >= 0 && int64_t(r.x) + r.width <= width && int64_t(r.y) + r.height <= height;
  if (inside) {
    c.picture = std::vector<uint8_t>();
    uint8_t* at = dest + size_t(r.y) * pitch + size_t(r.x) * 4;
    return c.scaler.Convert(picture, at, pitch, r.width, r.height) ? r : PlatRect{};
  }
  c.picture.resize(size_t(outWidth) * outHeight * 4);
  if (!c.scaler.Convert(picture, c.picture.data(), outWidth * 4, outWidth, outHeight)) return PlatRect{};
  return Lay(c.picture.data(), outWidth, outHeight, r, dest, width, height, pitch);
}

// Copies what the drawn part leaves of the window's picture from `under`.
void CopyUncovered(const uint8_t* under, uint8_t* dest, int width, int height, int pitch, const PlatRect& drawn) {
  size_t row = size_t(width) * 4;
  int top = drawn.width > 0 ? drawn.y : height, bottom = drawn.width > 0 ? drawn.y + drawn.height : height;
  for (int y = 0; y < height; y++) {
    const uint8_t* from = under + size_t(y) * row;
    uint8_t* to = dest + size_t(y) * pitch;
    if (y < top || y >= bottom) {
      memcpy(to, from, row);
      continue;
    }
    memcpy(to, from, size_t(drawn.x) * 4);
    size_t right = size_t(drawn.x + drawn.width) * 4;
    memcpy(to + right, from + right, row - right);
  }
}

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

}  // namespace

bool PlatMovieOpen(int slot, const char* path, const PlatRect& rect, int32_t volume) {
  PlatMovieClose();
  if (!ValidSlot(slot) || !path) return false;
  Player& p = g_Player;
  p.stop = false;
  uint32_t rate = uint32_t(PlatAudioRate());
  if (!g_Decoder.Open(path, 0, int(rate), &p.stop)) return false;
  {
    std::lock_guard<std::mutex> g(p.lock);
    p.queue.clear();
    p.shown = MoviePicture();
    p.held = PlatMovieHolding{};
    p.anyDecoded = p.decodeDone = p.blocked = false;
    p.lastPictureMs = p.soundEndMs = 0;
    p.started = p.playing = p.ended = p.endTaken = false;
    p.anchorMs = 0;
    p.slot = slot;
    p.rect = rect;
    p.frameMs = g_Decoder.FrameMs();
    p.sourceWidth = g_Decoder.Width();
    p.sourceHeight = g_Decoder.Height();
    OutSize(p);
    p.fifo.clear();
    p.firstSound = true;
    p.written = p.consumed = 0;
    p.lastCursor = 0;
    p.writeMs = 0;
    p.rate = rate;
    p.ringFrames = rate / 2;
    p.fifoLimit = size_t(rate) * 2 * 2;
    p.voice = g_Decoder.HasAudio() ? PlatSoundBufferCreate(2, 16, rate, p.ringFrames * 4) : nullptr;
    p.soundClock = p.voice && strcmp(PlatAudioOutputName(), "null") != 0;
    if (p.voice) PlatSoundBufferSetVolume(p.voice, volume);
    p.open = true;
  }
  p.thread = std::thread(DecodeLoop);
  std::unique_lock<std::mutex> l(p.lock);
  // The first picture and a little sound first, so the movie does not start late.
  p.changed.wait_for(l, START_LIMIT, [&] {
    bool sound = !p.voice || p.fifo.size() >= p.ringFrames || p.queue.size() >= size_t(PLAT_MOVIE_QUEUE);
    return p.decodeDone || (!p.queue.empty() && sound);
  });
  if (!p.anyDecoded && p.decodeDone) {
    l.unlock();
    PlatMovieClose();
    return false;
  }
  p.started = p.playing = true;
  p.anchorTicks = PlatGetTicks();
  FeedVoice(p, p.anchorTicks);
  if (p.voice) PlatSoundBufferPlay(p.voice, true);
  p.needsShow[slot] = true;
  p.changed.notify_all();
  return true;
}

void PlatMovieClose() {
  Player& p = g_Player;
  {
    std::lock_guard<std::mutex> g(p.lock);
    if (!p.open) return;
    p.stop = true;
    p.changed.notify_all();
  }
  if (p.thread.joinable()) p.thread.join();
  g_Decoder.Close();
  {
    std::lock_guard<std::mutex> g(p.lock);
    PlatSoundBufferRelease(p.voice);
    p.voice = nullptr;
    p.open = false;
    p.queue.clear();
    p.fifo.clear();
    p.shown = MoviePicture();
    p.needsShow[p.slot] = true;
  }
  std::lock_guard<std::mutex> c(g_Converter.lock);
  g_Converter.picture = std::vector<uint8_t>();
}

void PlatMovieSetRect(const PlatRect& rect) {
  Player& p = g_Player;
  std::lock_guard<std::mutex> g(p.lock);
  if (!p.open) return;
  p.rect = rect;
  OutSize(p);
  p.needsShow[p.slot] = true;
}

void PlatMovieSetVolume(int32_t volume) {
  Player& p = g_Player;
  std::lock_guard<std::mutex> g(p.lock);
  if (p.voice) PlatSoundBufferSetVolume(p.voice, volume);
}

void PlatMoviePause() {
  Player& p = g_Player;
  uint32_t now = PlatGetTicks();
  std::lock_guard<std::mutex> g(p.lock);
  if (!p.open || !p.playing) return;
  p.anchorMs = ClockAt(p, now);
  p.playing = false;
  if (p.voice) PlatSoundBufferStop(p.voice);
  p.changed.notify_all();
}

bool PlatMovieIsOpen() {
  std::lock_guard<std::mutex> g(g_Player.lock);
  return g_Player.open;
}

bool PlatMovieIsPlaying() {
  std::lock_guard<std::mutex> g(g_Player.lock);
  return g_Player.open && g_Player.playing && !g_Player.ended;
}

uint32_t PlatMoviePosition() {
  Player& p = g_Player;
  uint32_t now = PlatGetTicks();
  std::lock_guard<std::mutex> g(p.lock);
  if (!p.open) return 0;
  double ms = ClockAt(p, now);
  if (p.decodeDone) ms = std::min(ms, EndMs(p));
  return ms > 0 ? uint32_t(ms) : 0;
}

bool PlatMovieTakeEnd(int* slot, bool settle) {
  Player& p = g_Player;
  uint32_t now = PlatGetTicks();
  std::unique_lock<std::mutex> l(p.lock);
  if (!p.open || p.endTaken) return false;
  if (settle) Settle(p, l, now);
  CheckEnd(p, now);
  if (!p.ended) return false;
  p.endTaken = true;
  *slot = p.slot;
  return true;
}

bool PlatMovieNeedsShow(int slot) {
  Player& p = g_Player;
  if (!ValidSlot(slot)) return false;
  uint32_t now = PlatGetTicks();
  std::lock_guard<std::mutex> g(p.lock);
  if (p.needsShow[slot]) {
    p.needsShow[slot] = false;
    return true;
  }
  return p.open && p.slot == slot && !p.queue.empty() && p.queue.front().Ms() <= ClockAt(p, now);
}

bool PlatMovieCompose(int slot, const uint8_t* under, uint8_t* dest, int width, int height, int pitch, bool settle) {
  Player& p = g_Player;
  if (!under || !dest || width <= 0 || height <= 0 || pitch < width * 4) return false;
  uint32_t now = PlatGetTicks();
  MoviePicture picture;
  PlatRect rect;
  int outWidth, outHeight;
  {
    std::unique_lock<std::mutex> l(p.lock);
    if (!p.open || p.slot != slot) return false;
    if (settle) Settle(p, l, now);
    double clock = ClockAt(p, now);
    while (!p.queue.empty() && p.queue.front().Ms() <= clock) {
      p.shown = std::move(p.queue.front());
      p.queue.pop_front();
      p.changed.notify_all();
    }
    // The picture is shared, not copied: the decoding thread may drop it meanwhile.
    picture = p.shown.Share();
    rect = p.rect;
    outWidth = p.outWidth;
    outHeight = p.outHeight;
  }
  std::lock_guard<std::mutex> c(g_Converter.lock);
  PlatRect drawn = DrawPicture(picture, rect, outWidth, outHeight, dest, width, height, pitch);
  if (!g_Converter.picture.empty()) {
    std::lock_guard<std::mutex> g(p.lock);
    p.held.converted = 1;
  }
  if (under != dest) CopyUncovered(under, dest, width, height, pitch, drawn);
  return true;
}

uint32_t PlatMovieSoundAhead() {
  Player& p = g_Player;
  uint32_t now = PlatGetTicks();
  std::lock_guard<std::mutex> g(p.lock);
  if (!p.open || !p.voice) return 0;
  FeedVoice(p, now);
  return uint32_t(p.written - p.consumed);
}

PlatMovieHolding PlatMovieHeld() {
  std::lock_guard<std::mutex> g(g_Player.lock);
  return g_Player.held;
}
