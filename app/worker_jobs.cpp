// The pixel workers' job bodies: the four compose jobs, the split inflation of compressed
// images, and the table through which the scaling code plugs in its own bodies.
#include "app/worker_jobs.h"

#include <zlib.h>

#include <cstring>

#include "files/files.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"

// A job's rectangle must lie inside every image it touches; the submitter is trusted with the
// arithmetic but a bad record never writes or reads outside a buffer.
static bool InsideImage(const LayerRecord* layer, int64_t x, int64_t y, int64_t width, int64_t rows) {
  if (!layer || !layer->mPixels) return false;
  return x >= 0 && y >= 0 && x + width <= layer->mWidth && y + rows <= layer->mHeight;
}

static uint8_t* PixelAt(const LayerRecord* layer, int64_t x, int64_t y) {
  return layer->mPixels + (y * layer->mWidth + x) * 4;
}

// Blends rows [word 7, word 9) of the child into its parent through the row table of `code`.
static void JobComposeBody(WorkerJob* job) {
  int32_t code = job->mWord1;
  int64_t first = job->mWord7, end = job->mWord9, width = job->mWord16;
  if (end <= first || width <= 0) return;
  LayerRecord* target = job->mWord22;
  LayerRecord* child = job->mWord23;
  int64_t sx = job->mWord17, sy = job->mWord18, dx = job->mWord19, dy = job->mWord20;
  if (!InsideImage(target, dx, dy + first, width, end - first)) return;
  if (!InsideImage(child, sx, sy + first, width, end - first)) return;
  bool ruled = code == JOB_COMPOSE_MASK || code == JOB_COMPOSE_MASK_ALPHA;
  const LayerRecord* mask = job->mWord24;
  if (ruled) {
    if (!job->mWord25 || !mask || sx + width > mask->mWidth || sy + end > mask->mHeight) return;
  }
  size_t bytes = (size_t)width * 4;
  for (int64_t r = first; r < end; r++) {
    uint8_t* dst = PixelAt(target, dx, dy + r);
    const uint8_t* src = PixelAt(child, sx, sy + r);
    int32_t opacity = ClampOpacity(child->mOpacity);
    int32_t slot = BlendRowSlot(child->mBlendMode, opacity);
    switch (code) {
      case JOB_COMPOSE: g_BlendRowsPlain[slot](dst, src, opacity, bytes); break;
      case JOB_COMPOSE_ALPHA: g_BlendRowsAlpha[slot](dst, src, opacity, bytes); break;
      case JOB_COMPOSE_MASK:
      case JOB_COMPOSE_MASK_ALPHA: {
        const uint8_t* rule = job->mWord25 + ((sy + r) * mask->mWidth + sx) * 4;
        RuleRow row = code == JOB_COMPOSE_MASK ? g_BlendRowsRule[slot] : g_BlendRowsRuleAlpha[slot & ~1];
        row(dst, src, rule, child->mRuleProgress, child->mEdgeSharpness, bytes);
        break;
      }
    }
  }
}

// Workers 0 and 1 each inflate one half of a compressed image, which starts 56 bytes into the
// file. A body cannot fail, so a half whose size no stream of its length could give, or whose
// stream is broken or short, is left cleared rather than holding stale or partial bytes.
static void JobUncompressHalves(WorkerJob* job) {
  int32_t half = job->mWord0;
  if (half < 0 || half > 1 || !job->mWord14 || !job->mWord15) return;
  uint32_t raw = (uint32_t)(half == 0 ? job->mWord6 : job->mWord8);
  uint8_t* dst = job->mWord14 + (half == 0 ? 0 : (uint32_t)job->mWord6);
  const uint8_t* src = job->mWord15 + 56 + (half == 0 ? 0 : (uint32_t)job->mWord7);
  uLong length = (uLong)(uint32_t)(half == 0 ? job->mWord7 : job->mWord9);
  uLongf produced = raw;
  if (raw > InflateLimit(length) || uncompress(dst, &produced, src, length) != Z_OK || produced != raw) produced = 0;
  memset(dst + produced, 0, raw - produced);
}

struct JobSlot {
  int32_t code;
  WorkerJobBody body;
};
constexpr int JOB_SLOTS = 16;
static JobSlot g_JobBodies[JOB_SLOTS] = {
    {JOB_COMPOSE, JobComposeBody},          {JOB_COMPOSE_MASK, JobComposeBody},
    {JOB_COMPOSE_ALPHA, JobComposeBody},    {JOB_COMPOSE_MASK_ALPHA, JobComposeBody},
    {JOB_UNCOMPRESS_HALVES, JobUncompressHalves},
};

bool SetWorkerJobBody(int32_t code, WorkerJobBody body) {
  for (JobSlot& slot : g_JobBodies) {
    if (slot.body && slot.code != code) continue;
    slot.code = code;
    slot.body = body;
    return true;
  }
  return false;
}

void RunWorkerJobBody(WorkerJob* job) {
  for (const JobSlot& slot : g_JobBodies) {
    if (slot.body && slot.code == job->mWord1) return slot.body(job);
  }
}
