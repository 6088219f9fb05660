// Movie speed: decoding, converting to BGRA and presenting 1080p H.264 and MPEG-2 against the
// ffmpeg tool decoding the same file with as many threads in the same run, and the CPU time
// the player spends on each second of a 720p movie with sound.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/audio.h"
#include "platform/canvas.h"
#include "platform/headless/headless.h"
#include "platform/movie/movie_decoder.h"
#include "platform/platform.h"

namespace {

constexpr int SECONDS = 5, FPS = 30;

std::string Ffmpeg() {
  const char* path = getenv("PATH");
  std::istringstream in(path ? path : "");
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && PlatIsProgramFile(dir + "/ffmpeg")) return dir + "/ffmpeg";
  return std::string();
}

std::string Folder() {
  static std::string folder;
  if (folder.empty()) {
    folder = "/tmp/kivor_movie_bench_" + std::to_string(PlatProcessorCount());
    PlatCreateFolder(folder);
  }
  return folder;
}

// A movie of the test pattern made once per run: `name` in the bench folder, "" on failure.
std::string Movie(const std::string& name, const std::string& size, double seconds, const std::vector<std::string>& codec) {
  std::string path = Folder() + "/" + name;
  if (PlatFileExists(path)) return path;
  std::vector<std::string> argv = {Ffmpeg(), "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc2=size=" + size + ":rate=" + std::to_string(FPS) + ":duration=" +
                                       std::to_string(seconds),
                                   "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" +
                                       std::to_string(seconds)};
  argv.insert(argv.end(), codec.begin(), codec.end());
  argv.push_back(path);
  return PlatStartProcess(argv, true) == 0 ? path : std::string();
}

const std::vector<std::string> kH264 = {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac"};
const std::vector<std::string> kMpeg2 = {"-c:v", "mpeg2video", "-q:v", "4", "-c:a", "mp2", "-f", "vob"};

double Seconds(const std::vector<std::string>& argv) {
  auto t0 = std::chrono::steady_clock::now();
  PlatStartProcess(argv, true);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The ffmpeg tool's decoding rate in pictures per second with `threads` threads: the whole
// movie less a one-picture movie of the same kind, so its start-up does not count.
double FfmpegRate(const std::string& longMovie, const std::string& shortMovie, int threads) {
  auto run = [&](const std::string& m) {
    return Seconds({Ffmpeg(), "-nostdin", "-loglevel", "error", "-threads", std::to_string(threads), "-i", m, "-an",
                    "-f", "null", "-"});
  };
  double best = 1e9;
  for (int i = 0; i < 3; i++) best = std::min(best, run(longMovie) - run(shortMovie));
  return (SECONDS * FPS - 1) / std::max(best, 1e-6);
}

// Every picture of the movie decoded, converted to BGRA at its size and put into a window's
// surface, as the player and the present path do.
void BM_DecodeConvertPresent(benchmark::State& state, const std::vector<std::string>* codec, const char* kind,
                             const char* ext) {
  if (Ffmpeg().empty()) return state.SkipWithError("the ffmpeg tool is not installed");
  const int threads = int(state.range(0));
  std::string movie = Movie(std::string(kind) + "_1080p" + ext, "1920x1080", SECONDS, *codec);
  std::string one = Movie(std::string(kind) + "_1080p_one" + ext, "1920x1080", 1.0 / FPS, *codec);
  if (movie.empty() || one.empty()) return state.SkipWithError("the movie could not be made");
  PlatCanvas window;
  CanvasResize(&window, 1920, 1080);
  std::vector<uint8_t> picture(size_t(1920) * 1080 * 4);
  int64_t pictures = 0;
  for (auto _ : state) {
    MovieDecoder d;
    if (!d.Open(movie.c_str(), threads, 48000, nullptr)) return state.SkipWithError(d.Error().c_str());
    for (MovieStep s; (s = d.Step(true)) != MOVIE_STEP_END && s != MOVIE_STEP_ERROR;) {
      if (s != MOVIE_STEP_VIDEO) continue;
      d.ConvertVideo(picture.data(), 1920 * 4, 1920, 1080);
      CanvasBlit(&window, picture.data(), 1920, 1080, 1920 * 4, 0, 0, 1920, 1080);
      pictures++;
    }
  }
  state.SetItemsProcessed(pictures);
  state.counters["fps"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
  state.counters["ffmpeg_fps"] = FfmpegRate(movie, one, threads);
}

// The player itself on the headless backend, its clock moved picture by picture and the window
// read each time: the process's CPU time (every thread) for each second of 720p movie.
void BM_Player720pCpuPerMovieSecond(benchmark::State& state) {
  if (Ffmpeg().empty()) return state.SkipWithError("the ffmpeg tool is not installed");
  std::string movie = Movie("h264_720p.mp4", "1280x720", SECONDS, kH264);
  if (movie.empty()) return state.SkipWithError("the movie could not be made");
  PlatformInit("headless");
  HeadlessReset();
  PlatAudioOpen(48000);
  g_Platform->CreateWindow(0, 1280, 720, "bench");
  double cpu = 0;
  for (auto _ : state) {
    HeadlessSetTicks(0);
    std::clock_t c0 = std::clock();
    if (!g_PlatformMedia->MovieOpen(0, movie.c_str(), 0, 0, 1280, 720, 0)) return state.SkipWithError("no movie");
    std::vector<int16_t> sound(48000 / FPS * 2);
    for (int i = 1; i <= SECONDS * FPS; i++) {
      HeadlessSetTicks(uint32_t(i * 1000 / FPS));
      benchmark::DoNotOptimize(HeadlessWindow(0).frame.data());
      PlatAudioMix(sound.data(), 48000 / FPS);
    }
    g_PlatformMedia->MovieClose();
    cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
  }
  state.counters["cpu_ms_per_movie_s"] = cpu * 1000.0 / (double(state.iterations()) * SECONDS);
  PlatAudioClose();
  HeadlessReset();
}

void Threads(benchmark::internal::Benchmark* b) {
  int n = std::max(1, PlatProcessorCount());
  b->Arg(1);
  if (n > 1) b->Arg(n);
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_CAPTURE(BM_DecodeConvertPresent, h264, &kH264, "h264", ".mp4")->Apply(Threads);
BENCHMARK_CAPTURE(BM_DecodeConvertPresent, mpeg2, &kMpeg2, "mpeg2", ".mpg")->Apply(Threads);
BENCHMARK(BM_Player720pCpuPerMovieSecond)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
