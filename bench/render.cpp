// Composition and presentation scaling speed: a 1280 x 720 frame of 20 layers of mixed blend
// modes composed wholly dirty, and 1280 x 720 -> 1920 x 1080 scaling, on 1, 2 and 4 workers.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "platform/platform.h"
#include "render/render.h"

namespace {

constexpr int FRAME_W = 1280, FRAME_H = 720;

void SetUpEngine(int workers) {
  static bool once = false;
  if (!once) {
    PlatformInit("headless");
    InitPixelKernels();
    InitProductTables();
    InitBlendTables();
    once = true;
  }
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)workers;
  StartWorkerThreads();
}

// The main window's tree with 20 layers: an opaque background, then layers of several blend
// modes, some with alpha and partial opacity, overlapping across the frame.
WindowRecord* BuildScene() {
  static WindowRecord* main = nullptr;
  if (main) return main;
  CreateWindowRecords();
  main = g_WindowRecords[0];
  main->mWidth = FRAME_W;
  main->mHeight = FRAME_H;
  CreateLayerTreeRoot();
  static const uint8_t kModes[] = {BLEND_NORMAL, BLEND_ADD, BLEND_MULTIPLY, BLEND_SCREEN, BLEND_OVERLAY,
                                   BLEND_SOFT_LIGHT, BLEND_DARKEN, BLEND_LIGHTEN, BLEND_DIFFERENCE, BLEND_NORMAL};
  for (int i = 0; i < 20; i++) {
    std::string path = "W0/l" + std::to_string(i);
    NameNode* n = CreateNamedNode(g_LayerRoot, path.c_str(), false, i);
    LayerRecord* r = AttachNewLayerRecord(n);
    int w = i == 0 ? FRAME_W : 400 + 37 * i, h = i == 0 ? FRAME_H : 300 + 17 * i;
    r->mPixels = AllocImageBuffer(nullptr, w, h, nullptr);
    r->mWidth = w;
    r->mHeight = h;
    for (size_t p = 0; p < (size_t)w * h * 4; p++) r->mPixels[p] = (uint8_t)(p * 7 + i * 13);
    r->mX = i == 0 ? 0 : (i * 53) % (FRAME_W - w + 1);
    r->mY = i == 0 ? 0 : (i * 29) % (FRAME_H - h + 1);
    r->mBlendMode = i == 0 ? BLEND_NORMAL : kModes[i % 10];
    r->mHasAlpha = i > 0 && i % 3 == 0;
    r->mOpacity = i > 0 && i % 4 == 0 ? 180 : 256;
  }
  return main;
}

void BM_ComposeFrame(benchmark::State& state) {
  SetUpEngine((int)state.range(0));
  WindowRecord* main = BuildScene();
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

}  // namespace

BENCHMARK_MAIN();
