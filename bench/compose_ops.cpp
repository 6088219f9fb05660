// Speed of the layer compositing operations on a 1280 x 720 target: laying a layer over it,
// a cross-fade, a soft-edged rule wipe and a canvas change.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "app/engine.h"
#include "app/hooks.h"
#include "layers/blend_tables.h"
#include "layers/compose_ops.h"
#include "layers/layer.h"
#include "platform/platform.h"

namespace {

constexpr int FRAME_W = 1280, FRAME_H = 720;

// Free-standing nodes holding records; the operations only read the payloads.
struct BenchLayer {
  NameNode mNode{};
  LayerRecord mRecord{};
};

BenchLayer* MakeLayer(int seed) {
  BenchLayer* l = new BenchLayer;
  l->mRecord.mWidth = FRAME_W;
  l->mRecord.mHeight = FRAME_H;
  l->mRecord.mOpacity = 256;
  l->mRecord.mPixels = AllocImageBuffer(nullptr, FRAME_W, FRAME_H, nullptr);
  for (size_t p = 0; p < size_t(FRAME_W) * FRAME_H * 4; p++) l->mRecord.mPixels[p] = uint8_t(p * 7 + seed * 13);
  l->mNode.mPayload = &l->mRecord;
  return l;
}

void SetUp() {
  static bool once = false;
  if (once) return;
  PlatformInit("headless");
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  once = true;
}

void BM_ComposeLayerOnto(benchmark::State& state) {
  SetUp();
  BenchLayer* s = MakeLayer(1);
  BenchLayer* t = MakeLayer(2);
  s->mRecord.mOpacity = int16_t(state.range(0));
  for (auto _ : state) ComposeLayerOnto(&s->mNode, &t->mNode, 0, 0);
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}
BENCHMARK(BM_ComposeLayerOnto)->Arg(256)->Arg(128);

void BM_ComposeThroughMask(benchmark::State& state) {
  SetUp();
  BenchLayer* s1 = MakeLayer(1);
  BenchLayer* s2 = MakeLayer(2);
  BenchLayer* t = MakeLayer(3);
  for (auto _ : state) ComposeThroughMask(&s1->mNode, &s2->mNode, &t->mNode, 0, 0, 100);
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}
BENCHMARK(BM_ComposeThroughMask);

void BM_RuleTransition(benchmark::State& state) {
  SetUp();
  BenchLayer* s1 = MakeLayer(1);
  BenchLayer* s2 = MakeLayer(2);
  BenchLayer* rule = MakeLayer(4);
  BenchLayer* t = MakeLayer(3);
  for (auto _ : state) RuleTransition(&s1->mNode, &s2->mNode, &rule->mNode, &t->mNode, 0, 0, 128, int32_t(state.range(0)));
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}
BENCHMARK(BM_RuleTransition)->Arg(256)->Arg(64);

void BM_ResizeCanvas(benchmark::State& state) {
  SetUp();
  BenchLayer* s = MakeLayer(1);
  BenchLayer* t = MakeLayer(2);
  for (auto _ : state) ResizeCanvas(&s->mNode, &t->mNode, 1, 16, 16, 16, 16);
  state.SetItemsProcessed(state.iterations() * FRAME_W * FRAME_H);
}
BENCHMARK(BM_ResizeCanvas);

}  // namespace

BENCHMARK_MAIN();
