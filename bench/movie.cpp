// Movie speed: the player decoding 1080p H.264, MPEG-2 and VP9 and showing every picture
// converted to BGRA in the window's picture, as fast as the pictures come, against FFmpeg's
// libraries driven directly on the same file in the same run (every picture decoded with as
// many threads and converted to BGRA, as `ffmpeg -pix_fmt bgra -f null` does); and the CPU time
// the player spends on each second of a 720p movie with sound.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

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
#include "platform/movie/movie_player.h"
#include "platform/platform.h"

namespace {

constexpr int SECONDS = 5, FPS = 30;
constexpr int OUT_W = 1920, OUT_H = 1080;
// Rounds of the player and the libraries, taken in turns; the ratio is their median.
constexpr int ROUNDS = 5;

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
// With `sound`, a tone plays along.
std::string Movie(const std::string& name, const std::string& size, double seconds, const std::vector<std::string>& codec,
                  bool sound) {
  std::string path = Folder() + "/" + name;
  if (PlatFileExists(path)) return path;
  std::vector<std::string> argv = {Ffmpeg(), "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc2=size=" + size + ":rate=" + std::to_string(FPS) + ":duration=" +
                                       std::to_string(seconds)};
  if (sound) {
    for (const char* a : {"-f", "lavfi", "-i"}) argv.push_back(a);
    argv.push_back("sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds));
  }
  argv.insert(argv.end(), codec.begin(), codec.end());
  argv.push_back(path);
  return PlatStartProcess(argv, true) == 0 ? path : std::string();
}

struct Codec {
  const char* name;
  const char* file;
  std::vector<std::string> args;
};
const Codec kH264 = {"h264", "h264_1080p.mp4", {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p"}};
const Codec kMpeg2 = {"mpeg2", "mpeg2_1080p.mpg", {"-c:v", "mpeg2video", "-q:v", "4", "-f", "vob"}};
const Codec kVp9 = {"vp9", "vp9_1080p.webm",
                    {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1"}};

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void KeepBuffer(void*, uint8_t*) {}

// FFmpeg's libraries on their own: the file decoded on as many threads as the player's decoder
// takes, each picture converted to BGRA into one buffer in the decoding loop. The time of the
// whole file; `pictures` counts what was converted.
double LibavSeconds(const std::string& path, int* pictures) {
  auto t0 = std::chrono::steady_clock::now();
  *pictures = 0;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return 0;
  avformat_find_stream_info(format, nullptr);
  int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = index >= 0 ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!c) return avformat_close_input(&format), 0;
  avcodec_parameters_to_context(c, format->streams[index]->codecpar);
  c->thread_count = 0;
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  avcodec_open2(c, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  AVFrame* target = av_frame_alloc();
  std::vector<uint8_t> bgra(size_t(OUT_W) * OUT_H * 4);
  SwsContext* scaler = nullptr;
  auto convert = [&] {
    if (!scaler) {
      scaler = sws_alloc_context();
      av_opt_set_int(scaler, "srcw", frame->width, 0);
      av_opt_set_int(scaler, "srch", frame->height, 0);
      av_opt_set_int(scaler, "src_format", frame->format, 0);
      av_opt_set_int(scaler, "dstw", OUT_W, 0);
      av_opt_set_int(scaler, "dsth", OUT_H, 0);
      av_opt_set_int(scaler, "dst_format", AV_PIX_FMT_BGRA, 0);
      av_opt_set_int(scaler, "sws_flags", SWS_BILINEAR, 0);
      // A converter the library refuses converts nothing, and the row then counts no pictures.
      if (sws_init_context(scaler, nullptr, nullptr) < 0) return;
    }
    target->buf[0] = av_buffer_create(bgra.data(), bgra.size(), KeepBuffer, nullptr, 0);
    target->data[0] = bgra.data();
    target->linesize[0] = OUT_W * 4;
    target->width = OUT_W;
    target->height = OUT_H;
    target->format = AV_PIX_FMT_BGRA;
    if (sws_scale_frame(scaler, target, frame) >= 0) ++*pictures;
    av_frame_unref(target);
  };
  auto drain = [&] {
    while (avcodec_receive_frame(c, frame) == 0) {
      convert();
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(c, packet) >= 0) drain();
    av_packet_unref(packet);
  }
  avcodec_send_packet(c, nullptr);
  drain();
  sws_freeContext(scaler);
  av_frame_free(&target);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&c);
  avformat_close_input(&format);
  benchmark::DoNotOptimize(bgra.data());
  return SecondsSince(t0);
}

// The player over a 1920 x 1080 headless window: its clock moved to each picture's time and
// that picture shown, composed into the window's picture as the backends show it. The time of
// the whole movie; `pictures` counts what was shown.
double PlayerSeconds(const std::string& path, int* pictures) {
  *pictures = 0;
  PlatCanvas window;
  CanvasResize(&window, OUT_W, OUT_H);
  std::vector<uint8_t> shown(window.pixels.size());
  HeadlessSetTicks(0);
  auto t0 = std::chrono::steady_clock::now();
  if (!PlatMovieOpen(0, path.c_str(), PlatRect{0, 0, OUT_W, OUT_H}, 0)) return 0;
  int slot;
  for (int i = 0;; i++) {
    HeadlessSetTicks(uint32_t((i * 1000 + 500) / FPS));
    if (PlatMovieTakeEnd(&slot, true)) break;
    if (PlatMovieCompose(0, window.pixels.data(), shown.data(), OUT_W, OUT_H, OUT_W * 4, true)) ++*pictures;
  }
  PlatMovieClose();
  benchmark::DoNotOptimize(shown.data());
  return SecondsSince(t0);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The player's speed as a share of the libraries' (1.0: as fast; the aim is at least 0.95),
// the median of rounds taken in turns, each pair timing the same file.
void BM_PlayerAgainstLibav(benchmark::State& state, const Codec* codec) {
  if (Ffmpeg().empty()) return state.SkipWithError("the ffmpeg tool is not installed");
  std::string movie = Movie(codec->file, std::to_string(OUT_W) + "x" + std::to_string(OUT_H), SECONDS, codec->args, false);
  if (movie.empty()) return state.SkipWithError("the movie could not be made");
  PlatformInit("headless");
  HeadlessReset();
  std::vector<double> speed, player, libav;
  int shown = 0, converted = 0;
  for (auto _ : state) {
    for (int round = 0; round < ROUNDS; round++) {
      double a, b;
      if (round % 2) {
        b = PlayerSeconds(movie, &shown);
        a = LibavSeconds(movie, &converted);
      } else {
        a = LibavSeconds(movie, &converted);
        b = PlayerSeconds(movie, &shown);
      }
      if (a <= 0 || b <= 0) return state.SkipWithError("the movie did not play");
      speed.push_back(a / b);
      player.push_back(b);
      libav.push_back(a);
    }
  }
  state.counters["pictures"] = shown;
  state.counters["libav_pictures"] = converted;
  state.counters["player_ms"] = Median(player) * 1000.0;
  state.counters["libav_ms"] = Median(libav) * 1000.0;
  state.counters["speed_vs_libav"] = Median(speed);
  HeadlessReset();
}

// The player itself on the headless backend, its clock moved picture by picture and the window
// read each time: the process's CPU time (every thread) for each second of 720p movie.
void BM_Player720pCpuPerMovieSecond(benchmark::State& state) {
  if (Ffmpeg().empty()) return state.SkipWithError("the ffmpeg tool is not installed");
  std::string movie = Movie("h264_720p.mp4", "1280x720", SECONDS,
                            {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac"}, true);
  if (movie.empty()) return state.SkipWithError("the movie could not be made");
  PlatformInit("headless");
  HeadlessReset();
  HeadlessSetAudioByHand(true);
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

BENCHMARK_CAPTURE(BM_PlayerAgainstLibav, h264, &kH264)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlayerAgainstLibav, mpeg2, &kMpeg2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlayerAgainstLibav, vp9, &kVp9)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Player720pCpuPerMovieSecond)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
