// The OpenGL device's speed: the 20-layer 1280 x 720 frame through the GPU scene and read-back
// against the CPU compositor on the same layers, and the device's texture upload and read-back
// against plain glTexSubImage2D / glReadPixels of the same sizes. On Mesa's llvmpipe this
// measures the path, not a graphics card. Skipped where no OpenGL context can be made.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "platform/gl/gpu_gl.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "render/gpu.h"
#include "render/gpu_local.h"
#include "render/render.h"
#include "bench/support/bench_support.h"

namespace {

constexpr int FRAME_W = BENCH_FRAME_W, FRAME_H = BENCH_FRAME_H;

bool SetUpEngine() {
  static int ready = -1;
  if (ready >= 0) return ready == 1;
  PlatformInit("headless");
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  ready = GlGpuContextAvailable() ? 1 : 0;
  return ready == 1;
}

std::vector<LayerRecord*> g_Layers;

// The benches' 20-layer frame, and the offscreen layer the GPU frame is read back into.
WindowRecord* BuildScene() {
  static WindowRecord* main = nullptr;
  if (main) return main;
  main = BuildBenchScene(&g_Layers);
  NameNode* off = CreateNamedNode(g_LayerRoot, "W0/offscreen", false, 100);
  LayerRecord* o = AttachNewLayerRecord(off);
  o->mPixels = AllocImageBuffer(nullptr, FRAME_W, FRAME_H, nullptr);
  o->mWidth = FRAME_W;
  o->mHeight = FRAME_H;
  o->mVisible = 0;
  g_OffscreenLayerNode = off;
  return main;
}

void SetGpuKind(uint8_t kind) {
  for (LayerRecord* r : g_Layers) r->mGpuKind = kind;
}

void BM_GlSceneFrame(benchmark::State& state) {
  if (!SetUpEngine()) return state.SkipWithError("no OpenGL context can be made here");
  WindowRecord* main = BuildScene();
  HeadlessGpuUseDevice(&g_GlGpu);
  // Taken as named, so the device is measured also where it draws on the processor.
  GlGpuTakeAsNamed(true);
  g_GpuSceneMode = 1;
  g_GpuFilterLevel = 3;
  g_TextureTileLimit = {512, 256};
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
  if (StartDirect3D() != 0 || !g_D3D.mDevice) return state.SkipWithError("the OpenGL device could not be made");
  SetGpuKind(GPU_KIND_TEXTURED);
  for (LayerRecord* r : g_Layers) UploadLayerTextures(r, 0, 512, 256);
  // The first frame builds the driver's shader variants for every blend state.
  RenderGpuScene();
  for (auto _ : state) {
    RenderGpuScene();
    benchmark::ClobberMemory();
  }
  // The time per iteration is one frame drawn by the device and read back into the
  // offscreen layer (budget 16.7 ms at 60 fps).
  ShutdownDirect3D();
  g_GpuSceneMode = 0;
  SetGpuKind(GPU_KIND_CPU);
  HeadlessGpuUseDevice(nullptr);
  (void)main;
}
BENCHMARK(BM_GlSceneFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The anchor: the CPU compositor on the same 20 layers, on 1 and 4 workers.
void BM_CpuComposeFrame(benchmark::State& state) {
  if (!SetUpEngine()) return state.SkipWithError("no OpenGL context can be made here");
  WindowRecord* main = BuildScene();
  SetGpuKind(GPU_KIND_CPU);
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)state.range(0);
  StartWorkerThreads();
  for (auto _ : state) {
    MarkRootWhollyDirty(main);
    ComposeLayerTree(main->mRootLayer, 0);
    benchmark::ClobberMemory();
  }
  StopWorkerThreads();
}
BENCHMARK(BM_CpuComposeFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// A device of the frame's size for the transfer benchmarks; false without one.
bool TransferDevice() {
  if (!SetUpEngine()) return false;
  PlatGpuCaps caps;
  return g_GlGpu.TestDevice() == PLAT_GPU_READY || g_GlGpu.CreateDevice(FRAME_W, FRAME_H, &caps);
}

std::vector<uint8_t> Texels(int side) {
  std::vector<uint8_t> t((size_t)side * side * 4);
  for (size_t i = 0; i < t.size(); i++) t[i] = (uint8_t)(i * 31);
  return t;
}

// Upload of one side x side texture through the device's WriteTexture.
void BM_DeviceUpload(benchmark::State& state) {
  if (!TransferDevice()) return state.SkipWithError("no OpenGL context can be made here");
  int side = (int)state.range(0);
  std::vector<uint8_t> texels = Texels(side);
  PlatGpuTexture* t = g_GlGpu.CreateTexture(side, side, PLAT_GPU_FORMAT_ARGB8, true);
  for (auto _ : state) g_GlGpu.WriteTexture(t, texels.data(), side * 4, false);
  state.SetBytesProcessed(state.iterations() * (int64_t)texels.size());
  g_GlGpu.ReleaseTexture(t);
}
BENCHMARK(BM_DeviceUpload)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The anchor: plain glTexSubImage2D of the same size.
void BM_PlainUpload(benchmark::State& state) {
  if (!TransferDevice()) return state.SkipWithError("no OpenGL context can be made here");
  int side = (int)state.range(0);
  std::vector<uint8_t> texels = Texels(side);
  for (auto _ : state) GlGpuPlainUpload(texels.data(), side, side);
  state.SetBytesProcessed(state.iterations() * (int64_t)texels.size());
}
BENCHMARK(BM_PlainUpload)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Read-back of the whole 1280 x 720 back buffer through the device's ReadBack.
void BM_DeviceReadBack(benchmark::State& state) {
  if (!TransferDevice()) return state.SkipWithError("no OpenGL context can be made here");
  std::vector<uint8_t> frame((size_t)FRAME_W * FRAME_H * 4);
  for (auto _ : state) g_GlGpu.ReadBack(nullptr, frame.data(), FRAME_W, FRAME_H, FRAME_W * 4);
  state.SetBytesProcessed(state.iterations() * (int64_t)frame.size());
}
BENCHMARK(BM_DeviceReadBack)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The anchor: plain glReadPixels of the same size.
void BM_PlainReadBack(benchmark::State& state) {
  if (!TransferDevice()) return state.SkipWithError("no OpenGL context can be made here");
  std::vector<uint8_t> frame((size_t)FRAME_W * FRAME_H * 4);
  for (auto _ : state) GlGpuPlainReadBack(frame.data(), FRAME_W, FRAME_H);
  state.SetBytesProcessed(state.iterations() * (int64_t)frame.size());
}
BENCHMARK(BM_PlainReadBack)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
