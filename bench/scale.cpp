// Layer scaling speed: every method from 1280 x 720 to 1920 x 1080 and back down, through
// ScaleLayerImage into a second layer of the output size, on 1 and 4 workers; and rotation.
#include <benchmark/benchmark.h>

#include <string>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "app/workers.h"
#include "layers/image_scale.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "platform/platform.h"

namespace {

void SetUpEngine(int workers) {
  static bool once = false;
  if (!once) {
    PlatformInit("headless");
    InitPixelKernels();
    CreateWindowRecords();
    g_WindowRecords[0]->mWidth = 1920;
    g_WindowRecords[0]->mHeight = 1080;
    CreateLayerTreeRoot();
    g_AllowSse = 1;
    once = true;
  }
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)workers;
  StartWorkerThreads();
}

// A layer under "W0" of the given size with a fixed pattern, made once per name.
NameNode* PatternLayer(const char* name, int32_t w, int32_t h) {
  std::string path = std::string("W0/") + name;
  NameNode* node = FindNodeByPath(g_LayerRoot, path.c_str(), NAME_LOOKUP_ANY);
  if (node) return node;
  node = CreateNamedNode(g_LayerRoot, path.c_str(), false, 1);
  LayerRecord* r = AttachNewLayerRecord(node);
  r->mPixels = AllocImageBuffer(nullptr, w, h, nullptr);
  r->mWidth = w;
  r->mHeight = h;
  for (size_t i = 0; i < (size_t)w * h * 4; i++) r->mPixels[i] = (uint8_t)(i * 31 + i / 4099);
  return node;
}

// range(0): method; range(1): workers; range(2): 1 to enlarge, 0 to shrink.
void BM_ScaleLayer(benchmark::State& state) {
  int32_t method = (int32_t)state.range(0);
  SetUpEngine((int)state.range(1));
  bool up = state.range(2) != 0;
  int32_t sw = up ? 1280 : 1920, sh = up ? 720 : 1080, dw = up ? 1920 : 1280, dh = up ? 1080 : 720;
  NameNode* src = PatternLayer(up ? "small" : "large", sw, sh);
  NameNode* dst = PatternLayer(up ? "large_out" : "small_out", dw, dh);
  for (auto _ : state) {
    ScaleLayerImage(src, dst, 0, 0, 100 * (sw - 1), 100 * (sh - 1), 100 * dw, 100 * dh, 1, method);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
  StopWorkerThreads();
}
BENCHMARK(BM_ScaleLayer)
    ->ArgNames({"method", "workers", "up"})
    ->ArgsProduct({{10, 21, 31, 41, 51}, {1, 4}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// range(0): method 11 or 12; the angle is oblique so every row needs its span.
void BM_RotateLayer(benchmark::State& state) {
  SetUpEngine(1);
  NameNode* src = PatternLayer("small", 1280, 720);
  NameNode* dst = PatternLayer("turned", 1280, 720);
  for (auto _ : state) {
    RotateLayerImage(src, dst, 0, 0, 1279, 719, 30, 1, (int32_t)state.range(0));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1280 * 720);
  StopWorkerThreads();
}
BENCHMARK(BM_RotateLayer)->Arg(11)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
