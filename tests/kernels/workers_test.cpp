// The pixel worker pool: the split into bands, the hand-off for every worker count, the compose
// jobs giving the same pixels whatever the number of workers, and the split inflation.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"

namespace {

constexpr int32_t JOB_RECORD_BAND = 9001;

struct SeenBand {
  std::atomic<int32_t> calls;
  int32_t first, end, marker;
};
SeenBand g_Seen[MAX_WORKERS];

void RecordBand(WorkerJob* job) {
  SeenBand& seen = g_Seen[job->mWord0];
  seen.first = job->mWord2;
  seen.end = job->mWord3;
  seen.marker = job->mWord21;
  seen.calls++;
}

void RestartPool(int32_t workers) {
  StopWorkerThreads();
  g_WorkerCount = (uint8_t)workers;
  if (workers > 0) StartWorkerThreads();
}

class WorkerPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitPixelKernels();
    InitProductTables();
    InitBlendTables();
    ASSERT_TRUE(SetWorkerJobBody(JOB_RECORD_BAND, RecordBand));
  }
  void TearDown() override { StopWorkerThreads(); }
  static void ClearSeen() {
    for (SeenBand& s : g_Seen) s.calls = 0, s.first = s.end = s.marker = -1;
  }
};

TEST_F(WorkerPoolTest, EachWorkerGetsItsBandOfRows) {
  struct Case {
    int32_t workers, first, end;
    std::vector<std::pair<int32_t, int32_t>> bands;
  } cases[] = {
      {1, 0, 10, {{0, 10}}},
      {3, 0, 10, {{0, 3}, {3, 6}, {6, 10}}},
      {4, 5, 12, {{5, 6}, {6, 8}, {8, 10}, {10, 12}}},
      {2, 7, 7, {{7, 7}, {7, 7}}},   // an empty band still goes through the whole hand-off
      {4, 0, 2, {{0, 0}, {0, 1}, {1, 1}, {1, 2}}},
  };
  for (const Case& c : cases) {
    RestartPool(c.workers);
    ASSERT_EQ(RunningWorkerCount(), c.workers);
    for (int round = 0; round < 3; round++) {
      ClearSeen();
      WorkerJob job = {};
      job.mWord1 = JOB_RECORD_BAND;
      job.mWord21 = round;
      SubmitBandedJob(job, c.first, c.end);
      for (int32_t j = 0; j < MAX_WORKERS; j++) {
        bool used = j < c.workers;
        EXPECT_EQ(g_Seen[j].calls.load(), used ? 1 : 0) << c.workers << " workers, worker " << j;
        if (!used) continue;
        EXPECT_EQ(g_Seen[j].first, c.bands[j].first) << c.workers << " workers, worker " << j;
        EXPECT_EQ(g_Seen[j].end, c.bands[j].second) << c.workers << " workers, worker " << j;
        EXPECT_EQ(g_Seen[j].marker, round);
      }
    }
  }
}

TEST_F(WorkerPoolTest, WithoutWorkersTheCallerRunsTheWholeRange) {
  RestartPool(0);
  ClearSeen();
  WorkerJob job = {};
  job.mWord1 = JOB_RECORD_BAND;
  SubmitBandedJob(job, 2, 9);
  EXPECT_EQ(g_Seen[0].calls.load(), 1);
  EXPECT_EQ(g_Seen[0].first, 2);
  EXPECT_EQ(g_Seen[0].end, 9);
  EXPECT_FALSE(SubmitToFirstTwoWorkers(job));
}

TEST_F(WorkerPoolTest, UnknownJobCodesFinishAtOnce) {
  RestartPool(3);
  WorkerJob job = {};
  job.mWord1 = 777;
  SubmitBandedJob(job, 0, 100);
  ClearSeen();
  job.mWord1 = JOB_RECORD_BAND;
  SubmitBandedJob(job, 0, 3);
  EXPECT_EQ(g_Seen[2].calls.load(), 1);
}

// A layer record over pixels owned by the test.
struct TestLayer {
  LayerRecord record = {};
  std::vector<uint8_t> pixels;
  TestLayer(int32_t w, int32_t h, std::mt19937& rng) : pixels((size_t)w * h * 4 + w * 4 + 4) {
    for (uint8_t& b : pixels) b = (uint8_t)rng();
    record.mWidth = w;
    record.mHeight = h;
    record.mPixels = pixels.data();
    record.mOpacity = 256;
  }
};

TEST_F(WorkerPoolTest, ComposeGivesTheSamePixelsWithAnyWorkerCount) {
  struct Case {
    int32_t code, mode, opacity, sharpness;
  } cases[] = {
      {JOB_COMPOSE, BLEND_NORMAL, 256, 0},      {JOB_COMPOSE, BLEND_ADD, 256, 0},
      {JOB_COMPOSE, BLEND_SOFT_LIGHT, 90, 0},   {JOB_COMPOSE_ALPHA, BLEND_NORMAL, 200, 0},
      {JOB_COMPOSE_ALPHA, BLEND_SCREEN, 256, 0}, {JOB_COMPOSE_MASK, BLEND_NORMAL, 256, 30},
      {JOB_COMPOSE_MASK, BLEND_OVERLAY, 256, 0}, {JOB_COMPOSE_MASK_ALPHA, BLEND_DIFFERENCE, 128, 0},
  };
  for (int32_t i = 0; i < 256; i++) g_RuleWeights[i] = i + 1;
  for (const Case& c : cases) {
    std::vector<uint8_t> results[5];
    for (int32_t workers = 0; workers <= 4; workers++) {
      std::mt19937 rng(5);
      TestLayer target(50, 40, rng), child(30, 25, rng), mask(30, 25, rng);
      child.record.mBlendMode = (uint8_t)c.mode;
      child.record.mOpacity = (int16_t)c.opacity;
      child.record.mRuleProgress = 100;
      child.record.mEdgeSharpness = (int16_t)c.sharpness;
      WorkerJob job = {};
      job.mWord1 = c.code;
      job.mWord16 = 27;   // width
      job.mWord17 = 2, job.mWord18 = 1;   // source x, y
      job.mWord19 = 20, job.mWord20 = 9;  // destination x, y
      job.mWord22 = &target.record;
      job.mWord23 = &child.record;
      job.mWord24 = &mask.record;
      job.mWord25 = mask.pixels.data();
      if (workers == 0) {
        // The expected picture, row by row on this thread.
        RestartPool(0);
        for (int32_t r = 0; r < 21; r++) {
          uint8_t* dst = target.pixels.data() + ((9 + r) * 50 + 20) * 4;
          const uint8_t* src = child.pixels.data() + ((1 + r) * 30 + 2) * 4;
          const uint8_t* rule = mask.pixels.data() + ((1 + r) * 30 + 2) * 4;
          int32_t slot = BlendRowSlot(c.mode, c.opacity);
          if (c.code == JOB_COMPOSE) g_BlendRowsPlain[slot](dst, src, c.opacity, 27 * 4);
          if (c.code == JOB_COMPOSE_ALPHA) g_BlendRowsAlpha[slot](dst, src, c.opacity, 27 * 4);
          if (c.code == JOB_COMPOSE_MASK) g_BlendRowsRule[slot](dst, src, rule, 100, c.sharpness, 27 * 4);
          if (c.code == JOB_COMPOSE_MASK_ALPHA) g_BlendRowsRuleAlpha[2 * c.mode](dst, src, rule, 100, c.sharpness, 27 * 4);
        }
      } else {
        RestartPool(workers);
        SubmitBandedJob(job, 0, 21);
      }
      results[workers] = target.pixels;
    }
    for (int32_t workers = 1; workers <= 4; workers++)
      EXPECT_TRUE(results[workers] == results[0]) << "job " << c.code << " mode " << c.mode << " with " << workers << " workers";
  }
}

TEST_F(WorkerPoolTest, ComposeOutsideAnImageWritesNothing) {
  RestartPool(2);
  std::mt19937 rng(1);
  TestLayer target(16, 16, rng), child(8, 8, rng);
  std::vector<uint8_t> before = target.pixels;
  struct Case {
    int32_t width, sx, sy, dx, dy, first, end;
  // Each band is checked on its own; every band of these reaches outside.
  } cases[] = {{8, 0, 0, 9, 0, 0, 8}, {8, 0, 0, 0, 15, 0, 8}, {8, 1, 0, 0, 0, 0, 8}, {8, 0, 5, 0, 0, 0, 8},
               {8, -1, 0, 0, 0, 0, 8}, {4, 0, 0, -2, 0, 0, 4}};
  for (const Case& c : cases) {
    WorkerJob job = {};
    job.mWord1 = JOB_COMPOSE;
    job.mWord16 = c.width;
    job.mWord17 = c.sx, job.mWord18 = c.sy, job.mWord19 = c.dx, job.mWord20 = c.dy;
    job.mWord22 = &target.record;
    job.mWord23 = &child.record;
    SubmitBandedJob(job, c.first, c.end);
    EXPECT_TRUE(target.pixels == before) << c.sx << "," << c.sy << " -> " << c.dx << "," << c.dy;
  }
}

TEST_F(WorkerPoolTest, TwoWorkersInflateOneHalfEach) {
  std::vector<uint8_t> image(10000);
  for (size_t i = 0; i < image.size(); i++) image[i] = (uint8_t)(i * 7 / 13);
  auto pack = [](const uint8_t* data, size_t n) {
    uLongf size = compressBound(n);
    std::vector<uint8_t> out(size);
    compress(out.data(), &size, data, n);
    out.resize(size);
    return out;
  };
  std::vector<uint8_t> part1 = pack(image.data(), 6000), part2 = pack(image.data() + 6000, 4000);
  std::vector<uint8_t> file(56, 0);
  file.insert(file.end(), part1.begin(), part1.end());
  file.insert(file.end(), part2.begin(), part2.end());
  WorkerJob job = {};
  job.mWord1 = JOB_UNCOMPRESS_HALVES;
  job.mWord6 = 6000, job.mWord7 = (int32_t)part1.size(), job.mWord8 = 4000, job.mWord9 = (int32_t)part2.size();
  job.mWord15 = file.data();
  for (int32_t workers : {1, 2, 4}) {
    RestartPool(workers);
    std::vector<uint8_t> out(10000, 0);
    job.mWord14 = out.data();
    EXPECT_EQ(SubmitToFirstTwoWorkers(job), workers >= 2);
    if (workers >= 2) {
      EXPECT_TRUE(out == image) << workers << " workers";
    }
  }
  // A half that cannot be inflated (a damaged stream, a size no stream of its length gives, a
  // stream shorter than its half) is cleared, never left partly written; the other stays whole.
  RestartPool(2);
  struct Case {
    const char* what;
    size_t damage;     // byte of part 2 to flip, or 0
    int32_t size2;     // part 2's declared size
    int32_t stored2;   // part 2's declared packed size
  } cases[] = {{"damaged", part2.size() / 2, 4000, (int32_t)part2.size()},
               {"beyond any ratio", 0, 4000, 3},
               {"short", 0, 4001, (int32_t)part2.size()}};
  for (const Case& c : cases) {
    std::vector<uint8_t> broken = file;
    if (c.damage) broken[56 + part1.size() + c.damage] ^= 0x5A;
    std::vector<uint8_t> out(6000 + c.size2, 0xEE);
    WorkerJob bad = job;
    bad.mWord15 = broken.data();
    bad.mWord14 = out.data();
    bad.mWord8 = c.size2;
    bad.mWord9 = c.stored2;
    ASSERT_TRUE(SubmitToFirstTwoWorkers(bad));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 6000, image.begin())) << c.what;
    EXPECT_TRUE(std::all_of(out.begin() + 6000, out.end(), [](uint8_t b) { return b == 0; })) << c.what;
  }
}

}  // namespace
