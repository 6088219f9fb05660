// What several benches share: the 20-layer 1280 x 720 frame of mixed blend modes, and a console
// reporter that keeps each benchmark's median time for the ratios printed at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct LayerRecord;
struct WindowRecord;

constexpr int BENCH_FRAME_W = 1280, BENCH_FRAME_H = 720, BENCH_FRAME_LAYERS = 20;

// The main window's tree with 20 layers: an opaque background, then layers of several blend
// modes, some with alpha and partial opacity, overlapping across the frame. Built once; the
// layers are listed in `layers` when given. Needs the headless platform and the layer tables.
WindowRecord* BuildBenchScene(std::vector<LayerRecord*>* layers = nullptr);

// With --benchmark_repetitions the medians stand for their benchmark.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;

 protected:
  // The benchmark's median real time, 0 when it did not run.
  double Median(const std::string& name) const;
  const std::map<std::string, double>& Medians() const { return times_; }

 private:
  std::map<std::string, double> times_;
};
