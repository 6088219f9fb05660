// Image decoding speed: PNG and JPEG into a layer against the same library driven directly,
// .kcg on one and two threads, and one frame-set frame at 1280 x 720 against a 60 Hz frame.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "files/files.h"
#include "layers/frame_set.h"
#include "layers/image_codecs.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "tools/lib/image_formats.h"

namespace {

constexpr int W = 1280, H = 720;

// A photograph-like picture: smooth gradients with some noise, partly transparent.
std::vector<uint8_t> Picture() {
  std::vector<uint8_t> p((size_t)W * H * 4 + W * 4 + 4);
  uint32_t seed = 1;
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      seed = seed * 1664525 + 1013904223;
      uint8_t* q = &p[((size_t)y * W + x) * 4];
      q[0] = (uint8_t)(x / 5 + (seed >> 29));
      q[1] = (uint8_t)(y / 3 + (seed >> 30));
      q[2] = (uint8_t)((x + y) / 8);
      q[3] = (uint8_t)(x < W / 2 ? 255 : y / 3);
    }
  return p;
}

std::string Folder() {
  static std::string folder = [] {
    std::string f = (std::filesystem::temp_directory_path() / "kivor-bench-images").string();
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& PngFile() {
  static std::string file = [] {
    std::vector<uint8_t> p = Picture();
    WritePngFile(Folder() + "/b.png", p.data(), W, H, true, 6);
    return ReadAll(Folder() + "/b.png");
  }();
  return file;
}

const std::string& JpegFile() {
  static std::string file = [] {
    std::vector<uint8_t> p = Picture();
    WriteJpegFile(Folder() + "/b.jpg", p.data(), W, H, 90);
    return ReadAll(Folder() + "/b.jpg");
  }();
  return file;
}

uint8_t* Allocate(DecodeTarget* target, int32_t width, int32_t height) {
  size_t bytes = (size_t)width * 4 * height + (size_t)width * 4 + 4;
  uint8_t* p = static_cast<uint8_t*>(realloc(target->mPixels, bytes));
  if (p) target->mPixels = p;
  return p;
}

void SetMegapixels(benchmark::State& state) {
  state.counters["Mpx/s"] = benchmark::Counter((double)W * H * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void DecodeWith(benchmark::State& state, int (*decoder)(const uint8_t*, size_t, DecodeTarget*), const std::string& file) {
  DecodeTarget target{};
  target.mAllocate = Allocate;
  target.mFileName = "bench";
  for (auto _ : state) {
    if (decoder(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &target) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(target.mPixels);
  }
  free(target.mPixels);
  SetMegapixels(state);
}

void BM_PngDecoder(benchmark::State& state) { DecodeWith(state, DecodePngMemory, PngFile()); }
void BM_JpegDecoder(benchmark::State& state) { DecodeWith(state, DecodeJpegMemory, JpegFile()); }

// libpng on its own: the simplified reading interface into a BGRA image.
void BM_PngLibraryDirect(benchmark::State& state) {
  const std::string& file = PngFile();
  std::vector<uint8_t> out((size_t)W * H * 4);
  for (auto _ : state) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, file.data(), file.size());
    image.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
  SetMegapixels(state);
}

// libjpeg on its own: the library's memory source, RGB rows into one buffer.
void BM_JpegLibraryDirect(benchmark::State& state) {
  const std::string& file = JpegFile();
  std::vector<uint8_t> out((size_t)W * H * 3);
  for (auto _ : state) {
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(file.data()), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = &out[(size_t)info.output_scanline * W * 3];
      jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(out.data());
  }
  SetMegapixels(state);
}

void BM_KcgCompressed(benchmark::State& state) {
  std::vector<uint8_t> p = Picture();
  static std::string file = MakeKcg(W, H, std::string(reinterpret_cast<char*>(p.data()), (size_t)W * H * 4), true);
  // The pixel workers: none (the halves one after the other) or two.
  g_WorkerCount = (uint8_t)state.range(0);
  if (g_WorkerCount == 2) StartWorkerThreads();
  DecodeWith(state, DecodeKcgMemory, file);
  StopWorkerThreads();
}

void BM_KcgRaw(benchmark::State& state) {
  std::vector<uint8_t> p = Picture();
  static std::string file = MakeKcg(W, H, std::string(reinterpret_cast<char*>(p.data()), (size_t)W * H * 4), false);
  DecodeWith(state, DecodeKcgMemory, file);
}

// One frame of a two-frame set shown into a layer, frames alternating as an animation does.
void BM_FrameSetFrame(benchmark::State& state) {
  PlatformInit("headless");
  g_ExeFolderReal = g_ProjectFolderReal = Folder();
  g_SourceOrderFlags[0] = 1;
  std::vector<FrameSetEntry> frames = {{JpegFile(), ""}, {JpegFile(), ""}};
  std::ofstream(Folder() + "/b.fs", std::ios::binary) << MakeFrameSet(frames, false, 0, 0, 0);
  static WindowRecord window{};
  window.mWidth = W;
  window.mHeight = H;
  g_WindowRecords[0] = &window;
  CreateLayerTreeRoot();
  NameNode* node = CreateNamedNode(g_LayerRoot, "W0/anim", false, 1);
  AttachNewLayerRecord(node);
  if (LoadFrameSet(node, "b.fs") != 0) state.SkipWithError("frame set not loaded");
  int64_t n = 0;
  for (auto _ : state) ShowFrameSetFrame(node, n++ & 1);
  // Time per frame as a share of one 60 Hz frame (16.7 ms).
  state.counters["share of frame"] =
      benchmark::Counter((double)state.iterations() * 16.7e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  g_WindowRecords[0] = nullptr;
}

}  // namespace

BENCHMARK(BM_PngDecoder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngLibraryDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegDecoder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegLibraryDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KcgRaw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KcgCompressed)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameSetFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
