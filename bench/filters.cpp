// Effect speed on a 1280 x 720 image: a few colour and spatial filters, and the blurs and the
// shadow at a small and a large radius (their cost per pixel should not grow with the radius).
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "layers/image_filters.h"

namespace {

constexpr int32_t W = 1280, H = 720;

const std::vector<uint8_t>& Source() {
  static std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(size_t(W) * H * 4);
    std::mt19937 rng(7);
    for (uint8_t& b : p) b = uint8_t(rng());
    return p;
  }();
  return pixels;
}

template <typename F>
void RunFilter(benchmark::State& state, F filter) {
  const std::vector<uint8_t>& src = Source();
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    filter(dst.data(), src.data());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * W * H);
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
}

void BM_Brightness(benchmark::State& state) {
  RunFilter(state, [](uint8_t* d, const uint8_t* s) { FilterBrightness(d, s, 0, 0, W - 1, H - 1, W, H, W, H, 160); });
}
void BM_Saturation(benchmark::State& state) {
  RunFilter(state, [&](uint8_t* d, const uint8_t* s) {
    FilterSaturation(d, s, 0, 0, W - 1, H - 1, W, H, W, H, state.range(0));
  });
}
void BM_Sepia(benchmark::State& state) {
  RunFilter(state, [](uint8_t* d, const uint8_t* s) { FilterSepia(d, s, 0, 0, W - 1, H - 1, W, H, W, H); });
}
void BM_Mosaic(benchmark::State& state) {
  RunFilter(state, [](uint8_t* d, const uint8_t* s) { FilterMosaic(d, s, 0, 0, W - 1, H - 1, W, H, W, H, 16); });
}
void BM_Wave(benchmark::State& state) {
  RunFilter(state, [](uint8_t* d, const uint8_t* s) { FilterWave(d, s, 0, 0, W - 1, H - 1, W, H, W, H, 12, 30, 3); });
}
void BM_Swirl(benchmark::State& state) {
  RunFilter(state, [](uint8_t* d, const uint8_t* s) { FilterSwirl(d, s, 0, 0, W - 1, H - 1, W, H, W, H, 900); });
}
void BM_BoxBlur(benchmark::State& state) {
  RunFilter(state, [&](uint8_t* d, const uint8_t* s) {
    FilterBoxBlur(d, s, 0, 0, W - 1, H - 1, W, H, W, H, state.range(0), 1);
  });
}
void BM_BlurHorizontal(benchmark::State& state) {
  RunFilter(state, [&](uint8_t* d, const uint8_t* s) {
    FilterBlurHorizontal(d, s, 0, 0, W - 1, H - 1, W, H, W, H, state.range(0), 0);
  });
}
void BM_BlurVertical(benchmark::State& state) {
  RunFilter(state, [&](uint8_t* d, const uint8_t* s) {
    FilterBlurVertical(d, s, 0, 0, W - 1, H - 1, W, H, W, H, state.range(0), 0);
  });
}
void BM_AlphaShadow(benchmark::State& state) {
  RunFilter(state, [&](uint8_t* d, const uint8_t* s) {
    FilterAlphaShadow(d, s, 0, 0, W - 1, H - 1, W, H, W, H, state.range(0));
  });
}

}  // namespace

BENCHMARK(BM_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Saturation)->Arg(40)->Arg(220)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sepia)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mosaic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swirl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxBlur)->Arg(2)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurHorizontal)->Arg(2)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurVertical)->Arg(2)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlphaShadow)->Arg(2)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
