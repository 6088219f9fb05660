// Composition and presentation speed: a 1280 x 720 frame of 20 layers of mixed blend modes
// composed wholly dirty, and 1280 x 720 -> 1920 x 1080 scaling, on 1, 2 and 4 workers, the
// scalers against pixman's nearest and bilinear scaling in the same run; and one tile moved
// over that frame and presented, against presenting the whole picture. On a busy machine
// run it with --benchmark_repetitions=5: the ratios then compare medians.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "platform/platform.h"
#include "render/render.h"
#include "bench/support/bench_support.h"

namespace {

constexpr int FRAME_W = BENCH_FRAME_W, FRAME_H = BENCH_FRAME_H;

void SetUpEngine(int workers) {
  static bool once = false;
  if (!once) {
    // The same start-up steps as the game: the settings decide the kernel level.
    PlatformInit("headless");
    LoadEngineSettings();
    InitPixelKernels();
    InitProductTables();
    InitBlendTables();
    once = true;
  }
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)workers;
  StartWorkerThreads();
}

void BM_ComposeFrame(benchmark::State& state) {
  SetUpEngine((int)state.range(0));
  WindowRecord* main = BuildBenchScene();
  for (auto _ : state) {
    MarkRootWhollyDirty(main);
    ComposeLayerTree(main->mRootLayer, 0);
    benchmark::ClobberMemory();
  }
  // The time per iteration is the composition time of one frame (budget 16.7 ms at 60 fps).
  StopWorkerThreads();
}
BENCHMARK(BM_ComposeFrame)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void RunScale(benchmark::State& state, bool bilinear) {
  SetUpEngine((int)state.range(0));
  std::vector<uint8_t> src((size_t)FRAME_W * 4 * (FRAME_H + 1) + 4, 0x5A);
  for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i * 31);
  std::vector<uint8_t> dst((size_t)1920 * 1080 * 4 + 1920 * 4 + 4);
  for (auto _ : state) {
    if (bilinear)
      ScaleBilinearThreaded(dst.data(), src.data(), 0, 0, 100 * (FRAME_W - 1), 100 * (FRAME_H - 1), FRAME_W, FRAME_H,
                            192000, 108000);
    else
      ScaleNearest(dst.data(), src.data(), 0, 0, FRAME_W - 1, FRAME_H - 1, FRAME_W, FRAME_H, 1920, 1080);
    benchmark::ClobberMemory();
  }
  // Output pixels per second: read as megapixels per second.
  state.SetItemsProcessed(state.iterations() * 1920 * 1080);
  StopWorkerThreads();
}

void BM_ScaleNearest(benchmark::State& state) { RunScale(state, false); }
void BM_ScaleBilinear(benchmark::State& state) { RunScale(state, true); }
BENCHMARK(BM_ScaleNearest)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScaleBilinear)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The single-thread bilinear scaler that presentation takes when SSE is not allowed (and that
// layer scaling takes always), the same picture to the same size.
void BM_ScaleBilinearOneThread(benchmark::State& state) {
  SetUpEngine(1);
  std::vector<uint8_t> src((size_t)FRAME_W * 4 * (FRAME_H + 1) + 4);
  for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i * 31);
  std::vector<uint8_t> dst((size_t)1920 * 1080 * 4 + 1920 * 4 + 4);
  for (auto _ : state) {
    ScaleBilinear(dst.data(), src.data(), 0, 0, 100 * (FRAME_W - 1), 100 * (FRAME_H - 1), FRAME_W, FRAME_H, 192000,
                  108000);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1920 * 1080);
  StopWorkerThreads();
}
BENCHMARK(BM_ScaleBilinearOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// pixman scaling the same picture to the same size on one thread, with its nearest and its
// bilinear filter.
void RunPixmanScale(benchmark::State& state, pixman_filter_t filter) {
  std::vector<uint8_t> src((size_t)FRAME_W * 4 * FRAME_H);
  for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i * 31);
  std::vector<uint8_t> dst((size_t)1920 * 1080 * 4);
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, FRAME_W, FRAME_H, (uint32_t*)src.data(), FRAME_W * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, 1920, 1080, (uint32_t*)dst.data(), 1920 * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed((double)FRAME_W / 1920), pixman_double_to_fixed((double)FRAME_H / 1080));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, filter, nullptr, 0);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, 1920, 1080);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}
void BM_PixmanScaleNearest(benchmark::State& state) { RunPixmanScale(state, PIXMAN_FILTER_NEAREST); }
void BM_PixmanScaleBilinear(benchmark::State& state) { RunPixmanScale(state, PIXMAN_FILTER_BILINEAR); }
BENCHMARK(BM_PixmanScaleNearest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PixmanScaleBilinear)->Unit(benchmark::kMillisecond)->UseRealTime();

// A headless run moving one 128 x 128 tile over the 20-layer frame, 4 pixels a frame: the
// window is composed over the tile's old and new places and presented. Arg 0 presents as the
// runtime does, only the redrawn rectangle reaching the window; arg 1, the anchor, copies the
// whole picture to the window each frame.
void BM_MoveTile(benchmark::State& state) {
  SetUpEngine(2);
  WindowRecord* main = BuildBenchScene();
  static NameNode* tile = nullptr;
  if (!tile) {
    g_Platform->CreateWindow(0, FRAME_W, FRAME_H, "bench");
    tile = CreateNamedNode(g_LayerRoot, "W0/tile", false, 100);
    LayerRecord* r = AttachNewLayerRecord(tile);
    r->mPixels = AllocImageBuffer(nullptr, 128, 128, nullptr);
    r->mWidth = r->mHeight = 128;
    r->mY = 300;
    memset(r->mPixels, 0x9C, 128 * 128 * 4);
  }
  g_OutputSize = g_ClientAreaSize = {FRAME_W, FRAME_H};
  LayerRecord* root = GetLayerRecord(main->mRootLayer);
  LayerRecord* t = GetLayerRecord(tile);
  bool whole = state.range(0) == 1;
  MarkRootWhollyDirty(main);
  ComposeLayerTree(main->mRootLayer, 0);
  PresentFrame(main, root);
  for (auto _ : state) {
    InvalidateLayer(tile);
    t->mX = (t->mX + 4) % (FRAME_W - 128);
    InvalidateLayer(tile);
    ComposeLayerTree(main->mRootLayer, 0);
    if (whole) g_Platform->PresentFrame(0, root->mPixels, FRAME_W, FRAME_H, FRAME_W * 4, 0, 0, FRAME_W, FRAME_H);
    else PresentFrame(main, root);
    ResetDirtyRectsAll();
  }
  StopWorkerThreads();
}
BENCHMARK(BM_MoveTile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Prints the scalers on one worker (and the single-thread bilinear scaler) against pixman, and
// the frame and scalers on 2 and 4 workers against 1.
class RatioReporter : public MedianReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto time = [&](const std::string& name) { return Median(name); };
    printf("\nkernel level installed: %d\n", g_KernelLevel);
    printf("speed against the baseline of the same run (above 1 = faster):\n");
    for (const char* kind : {"Nearest", "Bilinear"}) {
      double base = time(std::string("BM_PixmanScale") + kind + "/real_time");
      for (const char* n : {"1", "2", "4"}) {
        double ours = time(std::string("BM_Scale") + kind + "/" + n + "/real_time");
        if (base > 0 && ours > 0) printf("  scale %-8s on %s worker(s) against pixman: %.2f\n", kind, n, base / ours);
      }
    }
    double bilinear = time("BM_PixmanScaleBilinear/real_time"), single = time("BM_ScaleBilinearOneThread/real_time");
    if (bilinear > 0 && single > 0) printf("  scale Bilinear on this thread (SSE off) against pixman: %.2f\n", bilinear / single);
    double part = time("BM_MoveTile/0/real_time"), whole = time("BM_MoveTile/1/real_time");
    if (part > 0 && whole > 0) printf("  a moved tile presented in part against the whole picture: %.2f\n", whole / part);
    for (const char* job : {"BM_ComposeFrame", "BM_ScaleNearest", "BM_ScaleBilinear"}) {
      double one = time(std::string(job) + "/1/real_time");
      for (const char* n : {"2", "4"}) {
        double many = time(std::string(job) + "/" + n + "/real_time");
        if (one > 0 && many > 0) printf("  %s, %s workers against 1: %.2f\n", job + 3, n, one / many);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
