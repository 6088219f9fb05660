// Dirty rectangles: marking what a layer change covers on the layer's ancestors.
#include "layers/layer.h"

uint8_t g_GpuRedrawRequest;

int InvalidateLayer(NameNode* node) {
  for (NameNode* n = node; n && n->mParent; n = n->mParent) {
    LayerRecord* r = GetLayerRecord(n);
    LayerRecord* p = GetLayerRecord(n->mParent);
    if (!r || !p) break;
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
