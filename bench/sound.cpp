// Sound speed: mixing many resampled voices, Ogg decoding through the engine's memory callbacks
// and half-buffer refills against libvorbisfile reading the same file directly, and the time
// from a play to its buffer starting.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "sound/sound.h"
#include "tools/lib/binary_writer.h"

namespace {

constexpr int OUTPUT_RATE = 48000;

void BM_MixResampledVoices(benchmark::State& state) {
  PlatformInit("headless");
  HeadlessSetAudioByHand(true);
  PlatAudioOpen(OUTPUT_RATE);
  const int voices = (int)state.range(0);
  const uint32_t rates[] = {44100, 22050, 32000, 11025, 37800};
  std::vector<PlatSoundBuffer*> buffers;
  uint32_t x = 1;
  for (int v = 0; v < voices; v++) {
    uint32_t rate = rates[v % 5];
    std::vector<int16_t> pcm(rate * 2);
    for (int16_t& s : pcm) s = (int16_t)((x = x * 1664525u + 1013904223u) >> 20);
    PlatSoundBuffer* b = PlatSoundBufferCreate(2, 16, rate, rate * 4);
    PlatSoundBufferWrite(b, 0, pcm.data(), rate * 4);
    PlatSoundBufferSetVolume(b, -600);
    PlatSoundBufferSetPan(b, (v % 3 - 1) * 800);
    PlatSoundBufferPlay(b, true);
    buffers.push_back(b);
  }
  const int frames = 1024;
  std::vector<int16_t> out(frames * 2);
  for (auto _ : state) {
    PlatAudioMix(out.data(), frames);
    benchmark::DoNotOptimize(out.data());
  }
  // Seconds of output produced per second of work: the real-time factor.
  state.counters["realtime_x"] = benchmark::Counter((double)frames / OUTPUT_RATE, benchmark::Counter::kIsIterationInvariantRate);
  for (PlatSoundBuffer* b : buffers) PlatSoundBufferRelease(b);
  PlatAudioClose();
}
BENCHMARK(BM_MixResampledVoices)->Arg(32);

std::string g_OggPath;
std::string g_OggBytes;

// Ten seconds of stereo tones encoded once by oggenc; empty when it is not installed.
bool PrepareOgg() {
  if (!g_OggBytes.empty()) return true;
  const int rate = 44100, seconds = 10;
  BinaryWriter pcm;
  for (int i = 0; i < rate * seconds; i++) {
    pcm.U16((uint16_t)(int16_t)(8000 * ((i / 50) % 2 ? 1 : -1) + (i * 7) % 2000));
    pcm.U16((uint16_t)(int16_t)((i * 13) % 16000 - 8000));
  }
  BinaryWriter w;
  w.Bytes("RIFF");
  w.U32((uint32_t)(36 + pcm.Size()));
  w.Bytes("WAVEfmt ");
  w.U32(16);
  w.U16(1), w.U16(2), w.U32(rate), w.U32(rate * 4), w.U16(4), w.U16(16);
  w.Bytes("data");
  w.U32((uint32_t)pcm.Size());
  w.Bytes(pcm.Data());
  std::string base = (std::filesystem::temp_directory_path() / "kivor-bench-sound").string();
  if (FILE* f = fopen((base + ".wav").c_str(), "wb")) {
    fwrite(w.Data().data(), 1, w.Size(), f);
    fclose(f);
  }
  std::string cmd = "oggenc -Q -o '" + base + ".ogg' '" + base + ".wav'";
  if (std::system(cmd.c_str()) != 0) return false;
  remove((base + ".wav").c_str());
  g_OggPath = base + ".ogg";
  if (FILE* f = fopen(g_OggPath.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) g_OggBytes.append(buf, n);
    fclose(f);
  }
  return !g_OggBytes.empty();
}

// One whole decode of the file through the engine's load, start seek and half-buffer refills;
// the bytes produced, or -1 when the engine refused the file.
int64_t DecodeThroughEngine() {
  SoundRecord* r = CreateSoundRecord(nullptr);
  r->mImage = static_cast<uint8_t*>(malloc(g_OggBytes.size()));
  memcpy(r->mImage, g_OggBytes.data(), g_OggBytes.size());
  r->mImageSize = (int32_t)g_OggBytes.size();
  r->mFormat = SOUND_FORMAT_OGG;
  r->mLoopCount = 1;
  int64_t bytes = -1;
  if (OpenOggSound(r) >= 0 && SeekOggStart(r, 0) >= 0) {
    int64_t total = r->mLengthMs * r->mBytesPerSecond / 1000;
    bool failed = false;
    while (!failed && r->mStreamPos < total - (int64_t)r->mBufferBytes / 2) failed = FillHalfFromOgg(r) < 0;
    if (!failed) bytes = r->mStreamPos;
  }
  FreeSoundRecord(r);
  return bytes;
}

// The same file decoded by vorbisfile itself, read from the file in 4096-byte calls.
int64_t DecodeThroughLibrary() {
  OggVorbis_File vf;
  if (ov_fopen(g_OggPath.c_str(), &vf) != 0) return -1;
  static char out[4096];
  int64_t bytes = 0;
  int section;
  long n;
  while ((n = ov_read(&vf, out, (int)sizeof out, 0, 2, 1, &section)) > 0) bytes += n;
  ov_clear(&vf);
  return bytes;
}

void BM_OggDecodeEngineRefills(benchmark::State& state) {
  if (!PrepareOgg()) return state.SkipWithError("oggenc not installed");
  PlatformInit("headless");
  g_SoundDevice = 0;   // decode only: no output buffer behind the halves
  int64_t bytes = 0;
  for (auto _ : state) {
    int64_t n = DecodeThroughEngine();
    if (n < 0) return state.SkipWithError("engine refused the file");
    bytes += n;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_OggDecodeEngineRefills)->Unit(benchmark::kMillisecond);

void BM_OggDecodeLibraryDirect(benchmark::State& state) {
  if (!PrepareOgg()) return state.SkipWithError("oggenc not installed");
  int64_t bytes = 0;
  for (auto _ : state) {
    int64_t n = DecodeThroughLibrary();
    if (n < 0) return state.SkipWithError("ov_fopen failed");
    bytes += n;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_OggDecodeLibraryDirect)->Unit(benchmark::kMillisecond);

// Both in turn within each iteration, timed by CPU time so a busy machine does not tilt the
// ratio: the engine's speed as a fraction of vorbisfile's (1 is as fast).
void BM_OggEngineVsLibrary(benchmark::State& state) {
  if (!PrepareOgg()) return state.SkipWithError("oggenc not installed");
  PlatformInit("headless");
  g_SoundDevice = 0;
  double engine = 0, library = 0;
  int64_t engineBytes = 0, libraryBytes = 0;
  for (auto _ : state) {
    std::clock_t start = std::clock();
    engineBytes += DecodeThroughEngine();
    std::clock_t middle = std::clock();
    libraryBytes += DecodeThroughLibrary();
    std::clock_t end = std::clock();
    engine += (double)(middle - start) / CLOCKS_PER_SEC;
    library += (double)(end - middle) / CLOCKS_PER_SEC;
  }
  double n = (double)state.iterations();
  state.counters["engine_ms"] = engine * 1000 / n;
  state.counters["library_ms"] = library * 1000 / n;
  state.counters["speed_vs_library"] = ((double)engineBytes / engine) / ((double)libraryBytes / library);
}
BENCHMARK(BM_OggEngineVsLibrary)->Unit(benchmark::kMillisecond)->Iterations(20);

// A play as the script posts it, on a loaded 16-bit stereo click. The sounds live on the
// headless platform with the real clock; the click's file sits in a temporary game folder.
struct PlayBench {
  NameNode* node = nullptr;
  SoundRecord* record = nullptr;

  bool Prepare() {
    PlatformInit("headless");
    HeadlessUseRealClock(true);
    g_QuitFlag = 0;
    g_Running = 1;
    g_SoundEnabled = 1;
    g_KeepRunningInactive = 1;
    g_InactivePause = 0;
    std::string folder = (std::filesystem::temp_directory_path() / "kivor-bench-play").string();
    std::filesystem::create_directories(folder);
    BinaryWriter w;
    const int frames = 44100 * 30 / 1000;
    w.Bytes("RIFF");
    w.U32((uint32_t)(36 + frames * 4));
    w.Bytes("WAVEfmt ");
    w.U32(16);
    w.U16(1), w.U16(2), w.U32(44100), w.U32(44100 * 4), w.U16(4), w.U16(16);
    w.Bytes("data");
    w.U32((uint32_t)(frames * 4));
    for (int i = 0; i < frames * 2; i++) w.U16((uint16_t)(int16_t)((i * 977) % 20000 - 10000));
    if (FILE* f = fopen((folder + "/click.wav").c_str(), "wb")) {
      fwrite(w.Data().data(), 1, w.Size(), f);
      fclose(f);
    } else {
      return false;
    }
    g_ProjectFolderReal = folder;
    if (InitDirectSound() != 1 || InitSoundCommandRing() != 0 || CreateSoundTreeRoot() != 0) return false;
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    node = FindNodeByPath(g_SoundRoot, "S0/click", NAME_LOOKUP_LEAF);
    if (!node && (node = CreateTreeNode(g_SoundRoot, "S0/click", false, 1)) && !CreateSoundRecord(node)) node = nullptr;
    if (!node) return false;
    record = static_cast<SoundRecord*>(node->mPayload);
    record->mFormat = SOUND_FORMAT_WAVE;
    return true;
  }
  // Back to loaded and not playing, outside the timing; the pass runs here.
  bool Reload() {
    PostSoundCommand(node, SOUND_OP_UNLOAD, 0, nullptr);
    int slot = PostSoundCommand(node, SOUND_OP_LOAD, 0, "click.wav");
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    while (!g_SoundRingDone[slot])
      if (RunSoundPass() != 0) return false;
    return record->mState == SOUND_STATE_LOADED;
  }
  bool Started() {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    return record->mState >= SOUND_STATE_RAMPING;
  }
};

// The anchor: the work of starting the click (seek, first half, volume, buffer start), done by
// one pass on the calling thread.
void BM_PlayStartedByAPassInline(benchmark::State& state) {
  PlayBench b;
  if (!b.Prepare()) return state.SkipWithError("sound set-up failed");
  for (auto _ : state) {
    state.PauseTiming();
    if (!b.Reload()) return state.SkipWithError("reload failed");
    state.ResumeTiming();
    PostSoundCommand(b.node, SOUND_OP_PLAY, 0, nullptr);
    RunSoundPass();
  }
}
BENCHMARK(BM_PlayStartedByAPassInline)->Unit(benchmark::kMicrosecond);

// The same play handed to the running sound thread: the time from the post until the buffer
// plays, against the anchor the cost of the hand-off. The counter `post_us` is what the
// script's play command itself costs now that it does not wait.
void BM_PlayStartedByTheSoundThread(benchmark::State& state) {
  PlayBench b;
  if (!b.Prepare()) return state.SkipWithError("sound set-up failed");
  if (StartSoundThread() != 0) return state.SkipWithError("no sound thread");
  double posting = 0;
  for (auto _ : state) {
    if (!b.Reload()) return state.SkipWithError("reload failed");
    auto start = std::chrono::steady_clock::now();
    PostSoundCommand(b.node, SOUND_OP_PLAY, 0, nullptr);
    auto posted = std::chrono::steady_clock::now();
    while (!b.Started()) std::this_thread::yield();
    auto started = std::chrono::steady_clock::now();
    posting += std::chrono::duration<double>(posted - start).count();
    state.SetIterationTime(std::chrono::duration<double>(started - start).count());
  }
  state.counters["post_us"] = posting * 1e6 / (double)state.iterations();
  g_Running = 0;
  for (int i = 0; i < 10000; i++) {
    {
      std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
      if (g_SoundThreadFinished == 1) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
BENCHMARK(BM_PlayStartedByTheSoundThread)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
