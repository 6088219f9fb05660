// Dirty rectangles: marking what a layer change covers on the layer's ancestors, merging what
// was composed into what is to be presented, and the reset after presentation.
#include <vector>

#include "app/hooks.h"
#include "app/window.h"
#include "layers/layer.h"
#include "render/render.h"

uint8_t g_GpuRedrawRequest;

namespace {

constexpr int64_t EMPTY_LOW = 999999999;
constexpr int64_t EMPTY_HIGH = -999999999;

void ResetOne(LayerRecord* r) {
  r->mRedrawnRect[0] = r->mRedrawnRect[1] = EMPTY_LOW;
  r->mRedrawnRect[2] = r->mRedrawnRect[3] = EMPTY_HIGH;
  r->mDirtyCount = 0;
  r->mDirtyValid = 0;
  r->mChanged = 0;
}

}  // namespace

int InvalidateLayer(NameNode* node) {
  for (NameNode* n = node; n && n->mParent; n = n->mParent) {
    LayerRecord* r = GetLayerRecord(n);
    LayerRecord* p = GetLayerRecord(n->mParent);
    if (!r || !p) break;
    // Each level marks the whole rectangle of the layer just passed, in its parent's terms.
    int64_t left = r->mX, top = r->mY;
    int64_t right = left + r->mWidth - 1, bottom = top + r->mHeight - 1;
    if (left >= p->mWidth || top >= p->mHeight || right < 0 || bottom < 0) continue;
    p->mChanged = 1;
    if (p->mDirtyCount == 0 || !p->mDirtyValid) {
      p->mDirtyRect[0] = left;
      p->mDirtyRect[1] = top;
      p->mDirtyRect[2] = right;
      p->mDirtyRect[3] = bottom;
      p->mDirtyValid = 1;
      p->mDirtyCount += 1;
    } else {
      if (left < p->mDirtyRect[0]) p->mDirtyRect[0] = left;
      if (top < p->mDirtyRect[1]) p->mDirtyRect[1] = top;
      if (right > p->mDirtyRect[2]) p->mDirtyRect[2] = right;
      if (bottom > p->mDirtyRect[3]) p->mDirtyRect[3] = bottom;
    }
  }
  return 0;
}

void MergePresentRect(LayerRecord* r) {
  if (r->mDirtyRect[0] < r->mRedrawnRect[0]) r->mRedrawnRect[0] = r->mDirtyRect[0];
  if (r->mDirtyRect[1] < r->mRedrawnRect[1]) r->mRedrawnRect[1] = r->mDirtyRect[1];
  if (r->mDirtyRect[2] > r->mRedrawnRect[2]) r->mRedrawnRect[2] = r->mDirtyRect[2];
  if (r->mDirtyRect[3] > r->mRedrawnRect[3]) r->mRedrawnRect[3] = r->mDirtyRect[3];
  if (r->mWholeDirty) {
    r->mWholeDirty = 0;
    r->mRedrawnRect[0] = r->mRedrawnRect[1] = 0;
    r->mRedrawnRect[2] = r->mWidth - 1;
    r->mRedrawnRect[3] = r->mHeight - 1;
  }
}

void ResetDirtyRects(NameNode* first) {
  // An explicit stack: the tree's depth is the script's to choose.
  std::vector<NameNode*> pending;
  for (NameNode* n = first; n; n = n->mNext) pending.push_back(n);
  while (!pending.empty()) {
    NameNode* n = pending.back();
    pending.pop_back();
    if (LayerRecord* r = GetLayerRecord(n)) ResetOne(r);
    if (n->mIsGroup)
      for (NameNode* c = n->mFirstChild; c; c = c->mNext) pending.push_back(c);
  }
}

void ResetDirtyRectsAll() {
  if (!g_LayerRoot) return;
  if (LayerRecord* r = GetLayerRecord(g_LayerRoot)) ResetOne(r);
  ResetDirtyRects(g_LayerRoot->mFirstChild);
}

void MarkRootWhollyDirty(WindowRecord* w) {
  LayerRecord* r = w ? GetLayerRecord(w->mRootLayer) : nullptr;
  if (!r) return;
  r->mChanged = r->mWholeDirty = r->mDirtyValid = 1;
  r->mDirtyRect[0] = r->mDirtyRect[1] = 0;
  r->mDirtyRect[2] = r->mWidth - 1;
  r->mDirtyRect[3] = r->mHeight - 1;
}

bool DragLayerHit(const WindowRecord* w) {
  if (!g_DragLayer.mOn || !g_DragLayer.mNode || !w) return false;
  LayerRecord* r = GetLayerRecord(g_DragLayer.mNode);
  if (!r || !r->mPixels) return false;
  int64_t cx = w->mCursorX, cy = w->mCursorY;
  if (cx < 0 || cy < 0 || cx >= r->mWidth || cy >= r->mHeight) return false;
  // The layer's place in window coordinates: its position plus every ancestor's.
  int64_t ax = 0, ay = 0;
  for (NameNode* n = g_DragLayer.mNode; n && n->mParent; n = n->mParent) {
    LayerRecord* a = GetLayerRecord(n);
    if (!a) break;
    ax += a->mX;
    ay += a->mY;
  }
  int64_t px = cx - ax, py = cy - ay;
  if (px < 0 || py < 0 || px >= r->mWidth || py >= r->mHeight) return false;
  const uint8_t* p = r->mPixels + ((size_t)py * r->mWidth + (size_t)px) * 4;
  // Any colour but black starts the drag; alpha plays no part.
  return p[0] + p[1] * 256 + p[2] * 65536 >= 1;
}
