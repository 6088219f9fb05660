// Pixel kernel speed: fills and copies against the C library, the blends of a full frame against
// pixman, and a full-frame compose job on 1, 2 and 4 workers. Each "ours" figure is printed with
// its ratio to the baseline measured in the same run (above 1 = faster than the baseline). On a
// busy machine run it with --benchmark_repetitions=5: the ratios then compare medians.
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <pixman.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "platform/platform.h"
#include "bench/support/bench_support.h"

namespace {

constexpr int FRAME_W = 1920, FRAME_H = 1080;

// The same start-up steps as the game: the settings decide the kernel level.
void SetUpEngineTables() {
  static bool done = false;
  if (done) return;
  done = true;
  PlatformInit("headless");
  LoadEngineSettings();
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t v = rng();
    memcpy(bytes.data() + i, &v, n - i < 4 ? n - i : 4);
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Fill and copy.

void BM_OursZeroFill(benchmark::State& state) {
  SetUpEngineTables();
  std::vector<uint8_t> buf(state.range(0));
  for (auto _ : state) {
    g_PixelKernels.zeroFill(buf.data(), buf.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_BaseZeroFill(benchmark::State& state) {
  std::vector<uint8_t> buf(state.range(0));
  for (auto _ : state) {
    memset(buf.data(), 0, buf.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_OursFillPixels(benchmark::State& state) {
  SetUpEngineTables();
  std::vector<uint8_t> buf(state.range(0));
  for (auto _ : state) {
    g_PixelKernels.fillPixels(buf.data(), buf.size(), 0xFF808080u);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_BaseFillPixels(benchmark::State& state) {
  std::vector<uint8_t> buf(state.range(0));
  for (auto _ : state) {
    memset(buf.data(), 0x80, buf.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_OursCopy(benchmark::State& state) {
  SetUpEngineTables();
  std::vector<uint8_t> src = RandomBytes(state.range(0), 1), dst(state.range(0));
  for (auto _ : state) {
    g_PixelKernels.copy(dst.data(), src.data(), dst.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_BaseCopy(benchmark::State& state) {
  std::vector<uint8_t> src = RandomBytes(state.range(0), 1), dst(state.range(0));
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), dst.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
#define FILL_SIZES ->Arg(4 << 10)->Arg(256 << 10)->Arg(8 << 20)
BENCHMARK(BM_OursZeroFill) FILL_SIZES;
BENCHMARK(BM_BaseZeroFill) FILL_SIZES;
BENCHMARK(BM_OursFillPixels) FILL_SIZES;
BENCHMARK(BM_BaseFillPixels) FILL_SIZES;
BENCHMARK(BM_OursCopy) FILL_SIZES;
BENCHMARK(BM_BaseCopy) FILL_SIZES;

// ---------------------------------------------------------------------------------------------
// Full-frame blends. Sources have random alpha, so no shortcut for whole transparent or opaque
// runs is taken: this is the slowest case for the kernels.

struct Frame {
  std::vector<uint8_t> dst = RandomBytes((size_t)FRAME_W * FRAME_H * 4, 2);
  std::vector<uint8_t> src = RandomBytes((size_t)FRAME_W * FRAME_H * 4, 3);
};

// Repeated passes over one destination make its alpha opaque after a few; with `fresh` each
// pass starts again from the random destination (the copy is timed on both sides).
template <typename Row>
void RunFrameRows(benchmark::State& state, Row row, bool fresh = false) {
  SetUpEngineTables();
  Frame f;
  const std::vector<uint8_t> start = f.dst;
  size_t stride = FRAME_W * 4;
  for (auto _ : state) {
    if (fresh) memcpy(f.dst.data(), start.data(), start.size());
    for (int y = 0; y < FRAME_H; y++) row(f.dst.data() + y * stride, f.src.data() + y * stride, stride);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}

void BM_OursAlphaBlend(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.alphaBlend(d, s, n); });
}
void BM_OursAlphaBlendOpacity(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.alphaBlendOpacity(d, s, 200, n); });
}
void BM_OursCrossFade(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.crossFade(d, s, 100, n); });
}
void BM_OursAdd(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.add(d, s, n); });
}
void BM_OursComposeOverAlpha(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.composeOverAlpha(d, s, n); });
}
void BM_OursComposeOverMixedAlpha(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.composeOverAlpha(d, s, n); }, true);
}
void BM_OursFrameCopy(benchmark::State& state) {
  RunFrameRows(state, [](uint8_t* d, const uint8_t* s, size_t n) { g_PixelKernels.copy(d, s, n); });
}

// pixman works on premultiplied pixels; each baseline is the nearest operation it offers.
void RunPixman(benchmark::State& state, pixman_op_t op, pixman_format_code_t srcFormat,
               pixman_format_code_t dstFormat, int opacity, bool fresh = false) {
  Frame f;
  const std::vector<uint8_t> start = f.dst;
  pixman_image_t* src = pixman_image_create_bits(srcFormat, FRAME_W, FRAME_H, (uint32_t*)f.src.data(), FRAME_W * 4);
  pixman_image_t* dst = pixman_image_create_bits(dstFormat, FRAME_W, FRAME_H, (uint32_t*)f.dst.data(), FRAME_W * 4);
  pixman_image_t* mask = nullptr;
  if (opacity < 256) {
    pixman_color_t c = {0, 0, 0, (uint16_t)(opacity * 257)};
    mask = pixman_image_create_solid_fill(&c);
  }
  for (auto _ : state) {
    if (fresh) memcpy(f.dst.data(), start.data(), start.size());
    pixman_image_composite32(op, src, mask, dst, 0, 0, 0, 0, 0, 0, FRAME_W, FRAME_H);
    benchmark::ClobberMemory();
  }
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(src);
  pixman_image_unref(dst);
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}

// OVER onto a destination with alpha, as pixman's own OVER is used.
void BM_BaseAlphaBlend(benchmark::State& s) { RunPixman(s, PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 256); }
void BM_BaseAlphaBlendOpacity(benchmark::State& s) { RunPixman(s, PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 200); }
void BM_BaseCrossFade(benchmark::State& s) { RunPixman(s, PIXMAN_OP_OVER, PIXMAN_x8r8g8b8, PIXMAN_x8r8g8b8, 100); }
void BM_BaseAdd(benchmark::State& s) { RunPixman(s, PIXMAN_OP_ADD, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 256); }
void BM_BaseComposeOverAlpha(benchmark::State& s) { RunPixman(s, PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 256); }
void BM_BaseComposeOverMixedAlpha(benchmark::State& s) {
  RunPixman(s, PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 256, true);
}
void BM_BaseFrameCopy(benchmark::State& s) { RunPixman(s, PIXMAN_OP_SRC, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, 256); }

BENCHMARK(BM_OursAlphaBlend);
BENCHMARK(BM_BaseAlphaBlend);
BENCHMARK(BM_OursAlphaBlendOpacity);
BENCHMARK(BM_BaseAlphaBlendOpacity);
BENCHMARK(BM_OursCrossFade);
BENCHMARK(BM_BaseCrossFade);
BENCHMARK(BM_OursAdd);
BENCHMARK(BM_BaseAdd);
BENCHMARK(BM_OursComposeOverAlpha);
BENCHMARK(BM_BaseComposeOverAlpha);
BENCHMARK(BM_OursComposeOverMixedAlpha);
BENCHMARK(BM_BaseComposeOverMixedAlpha);
BENCHMARK(BM_OursFrameCopy);
BENCHMARK(BM_BaseFrameCopy);

// ---------------------------------------------------------------------------------------------
// A full-frame compose job (alpha layer, normal mode, partial opacity) on the worker pool.

void RunComposeJob(benchmark::State& state, int32_t code, uint8_t mode);
void BM_ComposeJobWorkers(benchmark::State& state) { RunComposeJob(state, JOB_COMPOSE_ALPHA, BLEND_NORMAL); }
// The same on the plain soft-light rows, which are bound by arithmetic rather than by memory.
void BM_ComposeJobWorkersSoftLight(benchmark::State& state) { RunComposeJob(state, JOB_COMPOSE, BLEND_SOFT_LIGHT); }

void RunComposeJob(benchmark::State& state, int32_t code, uint8_t mode) {
  SetUpEngineTables();
  Frame f;
  LayerRecord target = {}, child = {};
  target.mWidth = child.mWidth = FRAME_W;
  target.mHeight = child.mHeight = FRAME_H;
  target.mPixels = f.dst.data();
  child.mPixels = f.src.data();
  child.mOpacity = 200;
  child.mBlendMode = mode;
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)state.range(0);
  StartWorkerThreads();
  WorkerJob job = {};
  job.mWord1 = code;
  job.mWord16 = FRAME_W;
  job.mWord22 = &target;
  job.mWord23 = &child;
  for (auto _ : state) {
    SubmitBandedJob(job, 0, FRAME_H);
    benchmark::ClobberMemory();
  }
  StopWorkerThreads();
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}
BENCHMARK(BM_ComposeJobWorkers)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();
BENCHMARK(BM_ComposeJobWorkersSoftLight)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();

// Prints each "Ours" figure against its "Base" twin, and the worker scaling against one worker.
class RatioReporter : public MedianReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\nkernel level installed: %d\n", g_KernelLevel);
    printf("speed against the baseline of the same run (above 1 = faster):\n");
    for (const auto& [name, time] : Medians()) {
      size_t at = name.find("BM_Ours");
      if (at == std::string::npos) continue;
      std::string base = name;
      base.replace(at, 7, "BM_Base");
      if (double b = Median(base); b > 0) printf("  %-36s %.2f\n", name.c_str() + 7, b / time);
    }
    for (const char* job : {"BM_ComposeJobWorkers", "BM_ComposeJobWorkersSoftLight"}) {
      double one = Median(std::string(job) + "/1/real_time");
      if (one <= 0) continue;
      for (const char* n : {"2", "4"}) {
        double many = Median(std::string(job) + "/" + n + "/real_time");
        if (many > 0) printf("  %s, %s workers against 1: %.2f\n", job + 3, n, one / many);
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
