// The CPU compositor: each window's dirty rectangle recomposed from the visible children of
// its root layer, groups first, all children of a target blended in one job on the pixel workers.
#include <atomic>
#include <cstring>
#include <vector>

#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/window.h"
#include "app/worker_jobs.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "render/render.h"

namespace {

void ZeroBytes(uint8_t* dst, size_t n) {
  if (g_PixelKernels.zeroFill) g_PixelKernels.zeroFill(dst, n);
  else memset(dst, 0, n);
}

int64_t Clamp(int64_t v, int64_t low, int64_t high) { return v < low ? low : v > high ? high : v; }

bool HasMaskName(const LayerRecord* r) { return r->mMaskName && r->mMaskName[0]; }

// A child that hides everything below it inside the rectangle.
bool CoversOpaquely(const LayerRecord* r, const int64_t* rect) {
  return r->mVisible && r->mBlendMode == 0 && r->mOpacity == 256 && !r->mHasAlpha &&
         (!HasMaskName(r) || r->mRuleProgress == 256) && r->mX <= rect[0] && r->mY <= rect[1] &&
         r->mX + r->mWidth - 1 >= rect[2] && r->mY + r->mHeight - 1 >= rect[3];
}

bool SkipChild(const LayerRecord* r, const int64_t* rect) {
  return !r->mVisible || r->mOpacity == 0 || (HasMaskName(r) && r->mRuleProgress == 0) || r->mX > rect[2] ||
         r->mY > rect[3] || r->mX + r->mWidth <= rect[0] || r->mY + r->mHeight <= rect[1] ||
         r->mGpuKind != GPU_KIND_CPU;
}

// The mask layer a child names, or null when it names none or none is there; -1 in *error
// when the name cannot be made into a path.
NameNode* FindMask(const LayerRecord* r, int* error) {
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, r->mMaskName, g_LayerFolder, false) < 0) {
    *error = -1;
    return nullptr;
  }
  return FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_LEAF);
}

// One step of a target's composition: clearing the rectangle, or one child's compose job
// (codes 101-104) over the target rows [mTop, mTop + mRows).
struct ComposeStep {
  WorkerJob mJob;     // job code 0 = clear mClearX .. + mClearBytes of each row
  int64_t mTop, mRows;
  int64_t mClearX;
  size_t mClearBytes;
};

// Everything one target gets in a frame, blended in a single job: the workers take chunks of
// a few target rows each and run every step over their chunk in order, so the rows of a chunk
// stay in the cache across all layers, no worker waits at a barrier between layers, and a
// worker that finishes early takes the next chunk. Each target row still sees the children in
// order, so the pixels are those of one job per child.
struct ComposeBatch {
  LayerRecord* mTarget = nullptr;
  int64_t mTop = 0, mEnd = 0;   // target rows the steps touch
  std::vector<ComposeStep> mSteps;
  bool mRuled = false;          // a step reads g_RuleWeights
};

constexpr int64_t COMPOSE_CHUNK_ROWS = 16;
constexpr int32_t JOB_COMPOSE_FRAME = 110;

// The batch being run and the next chunk to take; written by the submitter only while every
// worker is idle.
const ComposeBatch* g_RunningBatch;
std::atomic<int64_t> g_NextChunk;

void RunStepRows(const ComposeStep& step, const LayerRecord* target, int64_t from, int64_t to) {
  int64_t first = from > step.mTop ? from : step.mTop;
  int64_t end = to < step.mTop + step.mRows ? to : step.mTop + step.mRows;
  if (first >= end) return;
  if (step.mJob.mWord1 == 0) {
    for (int64_t y = first; y < end; y++) ZeroBytes(target->mPixels + ((size_t)y * target->mWidth + step.mClearX) * 4, step.mClearBytes);
    return;
  }
  WorkerJob job = step.mJob;
  job.mWord7 = (int32_t)(first - step.mTop);
  job.mWord9 = (int32_t)(end - step.mTop);
  RunWorkerJobBody(&job);
}

void JobComposeFrame(WorkerJob*) {
  const ComposeBatch& batch = *g_RunningBatch;
  int64_t chunks = (batch.mEnd - batch.mTop + COMPOSE_CHUNK_ROWS - 1) / COMPOSE_CHUNK_ROWS;
  for (int64_t c = g_NextChunk++; c < chunks; c = g_NextChunk++) {
    int64_t from = batch.mTop + c * COMPOSE_CHUNK_ROWS;
    int64_t to = from + COMPOSE_CHUNK_ROWS < batch.mEnd ? from + COMPOSE_CHUNK_ROWS : batch.mEnd;
    for (const ComposeStep& step : batch.mSteps) RunStepRows(step, batch.mTarget, from, to);
  }
}

// Runs the steps gathered so far and empties the batch.
void FlushBatch(ComposeBatch* batch) {
  if (batch->mSteps.empty()) return;
  static bool registered = false;
  if (!registered) {
    SetWorkerJobBody(JOB_COMPOSE_FRAME, JobComposeFrame);
    registered = true;
  }
  g_RunningBatch = batch;
  g_NextChunk = 0;
  WorkerJob job{};
  job.mWord1 = JOB_COMPOSE_FRAME;
  SubmitBandedJob(job, 0, 0);
  g_RunningBatch = nullptr;
  batch->mSteps.clear();
  batch->mRuled = false;
}

void AddStep(ComposeBatch* batch, const ComposeStep& step) {
  if (step.mRows <= 0) return;
  if (batch->mSteps.empty() || step.mTop < batch->mTop) batch->mTop = step.mTop;
  if (batch->mSteps.empty() || step.mTop + step.mRows > batch->mEnd) batch->mEnd = step.mTop + step.mRows;
  batch->mSteps.push_back(step);
}

int ComposeNode(NameNode* node, int nested, int depth);

// Adds one child's blend over the clipped rectangle to the target's batch. 0, or -1 after a
// failure.
int BlendChild(ComposeBatch* batch, NameNode* childNode, LayerRecord* target, LayerRecord* child) {
  ClipResult clip = ClipLayerToDirtyRect(target, child);
  if (clip.mWidth <= 0 || clip.mHeight <= 0) return 0;
  LayerRecord* mask = nullptr;
  if (HasMaskName(child)) {
    int error = 0;
    NameNode* maskNode = FindMask(child, &error);
    if (error) return -1;
    mask = GetLayerRecord(maskNode);
    if (mask && !mask->mPixels) mask = nullptr;
  }
  if (!child->mPixels) return 0;
  bool ruled = mask && child->mRuleProgress < 256;
  int32_t code = child->mHasAlpha ? (ruled ? JOB_COMPOSE_MASK_ALPHA : JOB_COMPOSE_ALPHA)
                                  : (ruled ? JOB_COMPOSE_MASK : JOB_COMPOSE);
  if (ruled) {
    if (mask->mWidth != child->mWidth || mask->mHeight != child->mHeight) {
      ReportScriptErrorF(100310, 1, childNode->mName, child->mWidth, child->mHeight, child->mMaskName, mask->mWidth,
                         mask->mHeight);
      return -1;
    }
    // One weight table serves the whole batch: the earlier ruled child runs first.
    if (batch->mRuled) FlushBatch(batch);
    BuildCompositorRuleWeights(child->mRuleProgress, child->mEdgeSharpness, child->mOpacity);
    batch->mRuled = true;
  }
  ComposeStep step{};
  WorkerJob& job = step.mJob;
  job.mWord1 = code;
  job.mWord16 = clip.mWidth;
  job.mWord17 = clip.mSourceX;
  job.mWord18 = clip.mSourceY;
  job.mWord19 = clip.mDestX;
  job.mWord20 = clip.mDestY;
  job.mWord22 = target;
  job.mWord23 = child;
  if (ruled) {
    job.mWord24 = mask;
    job.mWord25 = mask->mPixels;
  }
  step.mTop = clip.mDestY;
  step.mRows = clip.mHeight;
  AddStep(batch, step);
  return 0;
}

int ComposeNode(NameNode* node, int nested, int depth) {
  LayerRecord* t = GetLayerRecord(node);
  if (!t) return 0;
  // A composed group is blended into its parent as an opaque picture.
  t->mHasAlpha = nested ? 0 : 1;
  if (!t->mPixels || !t->mDirtyValid || t->mWidth <= 0 || t->mHeight <= 0) return 0;
  int64_t* rect = t->mDirtyRect;
  rect[0] = Clamp(rect[0], 0, t->mWidth - 1);
  rect[2] = Clamp(rect[2], 0, t->mWidth - 1);
  rect[1] = Clamp(rect[1], 0, t->mHeight - 1);
  rect[3] = Clamp(rect[3], 0, t->mHeight - 1);
  MergePresentRect(t);
  if (rect[2] < rect[0] || rect[3] < rect[1]) return 0;
  NameNode* start = nullptr;
  for (NameNode* c = node->mLastChild; c && !start; c = c->mPrev) {
    const LayerRecord* r = GetLayerRecord(c);
    if (r && CoversOpaquely(r, rect)) start = c;
  }
  ComposeBatch batch;
  batch.mTarget = t;
  if (!start) {
    ComposeStep clear{};
    clear.mTop = rect[1];
    clear.mRows = rect[3] - rect[1] + 1;
    clear.mClearX = rect[0];
    clear.mClearBytes = (size_t)(rect[2] - rect[0] + 1) * 4;
    AddStep(&batch, clear);
    start = node->mFirstChild;
  }
  for (NameNode* c = start; c; c = c->mNext) {
    LayerRecord* r = GetLayerRecord(c);
    if (!r) continue;
    // A group is composed before its blend is gathered; the steps gathered so far wait, as
    // none of them reads the group's pixels, unless one needs the rule weights that the
    // group's own children may rebuild. A failure inside a group is not passed on: its
    // message already set the quit flag.
    if (c->mIsGroup && depth < MAX_GROUP_DEPTH) {
      if (batch.mRuled) FlushBatch(&batch);
      ComposeNode(c, 1, depth + 1);
    }
    if (SkipChild(r, rect)) continue;
    if (BlendChild(&batch, c, t, r) != 0) {
      FlushBatch(&batch);
      return -1;
    }
  }
  FlushBatch(&batch);
  return 0;
}

}  // namespace

ClipResult ClipRectToArea(int64_t x, int64_t y, int64_t width, int64_t height, const int64_t area[4]) {
  // Far-off positions must neither overflow nor wrap into a small overlap when narrowed to 32
  // bits: a rectangle starting past the area is out before any sum is formed.
  if (x > area[2] || y > area[3] || width <= 0 || height <= 0) return ClipResult{};
  int64_t dx = x > area[0] ? x : area[0];
  int64_t dy = y > area[1] ? y : area[1];
  int64_t right = x + width - 1 < area[2] ? x + width - 1 : area[2];
  int64_t bottom = y + height - 1 < area[3] ? y + height - 1 : area[3];
  if (right < dx || bottom < dy) return ClipResult{};
  ClipResult c;
  c.mDestX = (int32_t)dx;
  c.mDestY = (int32_t)dy;
  c.mWidth = (int32_t)(right - dx + 1);
  c.mHeight = (int32_t)(bottom - dy + 1);
  c.mSourceX = (int32_t)(dx - x);
  c.mSourceY = (int32_t)(dy - y);
  return c;
}

ClipResult ClipLayerToDirtyRect(const LayerRecord* target, const LayerRecord* child) {
  return ClipRectToArea(child->mX, child->mY, child->mWidth, child->mHeight, target->mDirtyRect);
}

void BuildCompositorRuleWeights(int32_t p, int32_t v, int32_t o) {
  for (int32_t i = 0; i < 256; i++) {
    int32_t w;
    if (v == 256) {
      w = i >= 256 - p ? 256 : 0;
    } else {
      w = ((i * v) >> 1) + (v >> 1) * p - 128 * v + p;
      w = (w < 255 ? w : 255) + 1;
    }
    g_RuleWeights[i] = (w * o) >> 8;
  }
}

int ComposeLayerTree(NameNode* node, int nested) {
  if (!node) return 0;
  return ComposeNode(node, nested, 0);
}

int DrawWindow(WindowRecord* w) {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  LayerRecord* root = GetLayerRecord(w->mRootLayer);
  if (!w->mVisible || !root || !root->mVisible) return g_QuitFlag;
  if (w->mIndex == 0 && g_GpuSceneMode && g_GpuRedrawRequest) {
    g_GpuRedrawRequest = 0;
    MarkRootWhollyDirty(w);
    ApplyPendingLayerStateAll();
    RenderGpuScene();
  }
  w->mDrawn = 1;
  if (root->mChanged && ComposeLayerTree(w->mRootLayer, 0) != 0) return -1;
  return g_QuitFlag;
}
