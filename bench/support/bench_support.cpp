// The benches' shared 20-layer frame and median-keeping reporter.
#include "bench/support/bench_support.h"

#include "app/window.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "script/nametree.h"

WindowRecord* BuildBenchScene(std::vector<LayerRecord*>* layers) {
  static WindowRecord* main = nullptr;
  static std::vector<LayerRecord*> built;
  if (!main) {
    CreateWindowRecords();
    main = g_WindowRecords[0];
    main->mWidth = BENCH_FRAME_W;
    main->mHeight = BENCH_FRAME_H;
    CreateLayerTreeRoot();
    static const uint8_t kModes[] = {BLEND_NORMAL, BLEND_ADD, BLEND_MULTIPLY, BLEND_SCREEN, BLEND_OVERLAY,
                                     BLEND_SOFT_LIGHT, BLEND_DARKEN, BLEND_LIGHTEN, BLEND_DIFFERENCE, BLEND_NORMAL};
    for (int i = 0; i < BENCH_FRAME_LAYERS; i++) {
      std::string path = "W0/l" + std::to_string(i);
      NameNode* n = CreateNamedNode(g_LayerRoot, path.c_str(), false, i);
      LayerRecord* r = AttachNewLayerRecord(n);
      int w = i == 0 ? BENCH_FRAME_W : 400 + 37 * i, h = i == 0 ? BENCH_FRAME_H : 300 + 17 * i;
      r->mPixels = AllocImageBuffer(nullptr, w, h, nullptr);
      r->mWidth = w;
      r->mHeight = h;
      for (size_t p = 0; p < (size_t)w * h * 4; p++) r->mPixels[p] = (uint8_t)(p * 7 + i * 13);
      r->mX = i == 0 ? 0 : (i * 53) % (BENCH_FRAME_W - w + 1);
      r->mY = i == 0 ? 0 : (i * 29) % (BENCH_FRAME_H - h + 1);
      r->mX100 = r->mX * 100;
      r->mY100 = r->mY * 100;
      r->mBlendMode = i == 0 ? (uint8_t)BLEND_NORMAL : kModes[i % 10];
      r->mHasAlpha = i > 0 && i % 3 == 0;
      r->mOpacity = i > 0 && i % 4 == 0 ? 180 : 256;
      built.push_back(r);
    }
  }
  if (layers) *layers = built;
  return main;
}

void MedianReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
    times_[run.run_name.str()] = run.GetAdjustedRealTime();
  }
}

double MedianReporter::Median(const std::string& name) const {
  auto it = times_.find(name);
  return it == times_.end() ? 0.0 : it->second;
}
