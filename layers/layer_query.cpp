// Layer deletion and the layer query: removing layers and groups, and reading a layer's
// properties, a pixel under a window point or at layer coordinates, or its opaque bounds.
#include <cstdint>

#include "app/engine.h"
#include "app/window.h"
#include "layers/layer_args.h"

namespace {

enum : int {
  Q_EXISTS = 3, Q_VISIBLE = 4, Q_OPACITY = 5, Q_X = 6, Q_Y = 7, Q_PRIORITY = 8, Q_RULE = 10,
  Q_MASK_NAME = 11, Q_EDGE = 12, Q_BLEND = 13, Q_WIDTH = 14, Q_HEIGHT = 15, Q_X100 = 16, Q_Y100 = 17,
  Q_SCALE_X = 18, Q_SCALE_Y = 19, Q_EMOTE_X = 20, Q_EMOTE_Y = 21, Q_USER_C = 22, Q_GPU_KIND = 23,
  Q_WINDOW_COLOUR = 24, Q_WINDOW_ALPHA = 25, Q_WINDOW_ARGB = 26, Q_PIXEL_COLOUR = 27, Q_BOUNDS = 28,
  Q_USER_A = 29, Q_USER_B = 30, Q_TARGET = 31, Q_POINT_X = 32, Q_POINT_Y = 33,
};

// The first of these that the script gives decides what the query returns.
const int kSelectorOrder[] = {Q_EXISTS, Q_VISIBLE, Q_OPACITY, Q_RULE, Q_MASK_NAME, Q_EDGE, Q_X, Q_Y,
                              Q_PRIORITY, Q_BLEND, Q_WIDTH, Q_HEIGHT, Q_X100, Q_Y100, Q_SCALE_X,
                              Q_SCALE_Y, Q_EMOTE_X, Q_EMOTE_Y, Q_USER_C, Q_GPU_KIND, Q_WINDOW_COLOUR,
                              Q_WINDOW_ALPHA, Q_WINDOW_ARGB, Q_PIXEL_COLOUR, Q_BOUNDS, Q_USER_A, Q_USER_B};

const uint8_t* PixelOf(const LayerRecord* r, int64_t x, int64_t y) {
  return r->mPixels + (uint64_t(y) * uint64_t(r->mWidth) + uint64_t(x)) * 4;
}

int64_t Rgb(const uint8_t* p) { return int64_t(p[2]) << 16 | int64_t(p[1]) << 8 | p[0]; }

// The pixel of the layer under a point of a window, with the layer placed by adding up its
// own and its named ancestors' positions. -1 for a point outside the window or the layer.
int64_t WindowPointPixel(NameNode* node, const LayerRecord* r, int selector) {
  int64_t index = ArgInt(selector);
  WindowRecord* w = g_WindowRecords[index < 0 ? 0 : index > 3 ? 3 : index];
  if (!w) return -1;
  int64_t x = ArgGiven(Q_POINT_X) ? ArgInt(Q_POINT_X) : w->mCursorX;
  int64_t y = ArgGiven(Q_POINT_Y) ? ArgInt(Q_POINT_Y) : w->mCursorY;
  if (x < 0 || y < 0 || x >= w->mWidth || y >= w->mHeight) return -1;
  int64_t left = 0, top = 0;
  for (NameNode* n = node; n && n->mParent; n = n->mParent) {
    const LayerRecord* a = GetLayerRecord(n);
    if (!a) return -1;
    left += int32_t(a->mX);
    top += int32_t(a->mY);
  }
  if (!r->mPixels || x < left || y < top || x > left + r->mWidth - 1 || y > top + r->mHeight - 1) return -1;
  const uint8_t* p = PixelOf(r, x - left, y - top);
  if (selector == Q_WINDOW_COLOUR) return Rgb(p);
  if (selector == Q_WINDOW_ALPHA) return p[3];
  return int32_t(uint32_t(p[3]) << 24 | uint32_t(Rgb(p)));
}

// One side of the box around the pixels whose alpha is not 0: 1 top, 2 bottom, 3 left,
// 4 right; -1 when there is no such pixel, 0 for another side number.
int64_t OpaqueBound(const LayerRecord* r, int64_t side) {
  if (side < 1 || side > 4) return 0;
  if (!r->mPixels || r->mWidth < 1 || r->mHeight < 1) return -1;
  int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = -1, maxY = -1;
  for (int32_t y = 0; y < r->mHeight; y++) {
    for (int32_t x = 0; x < r->mWidth; x++) {
      if (PixelOf(r, x, y)[3] == 0) continue;
      if (x < minX) minX = x;
      if (x > maxX) maxX = x;
      if (y < minY) minY = y;
      maxY = y;
    }
  }
  if (maxY < 0) return -1;
  const int64_t sides[] = {minY, maxY, minX, maxX};
  return sides[side - 1];
}

}  // namespace

int CmdLayerDelete() {
  if (DecodeLayerArguments(CMD_LAYER_DELETE) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerArgument(path);
  if (kind < 0) return -1;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, kind == 1 ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);
  if (!node || !node->mPayload) return 0;
  InvalidateLayer(node);
  if (kind == 1) FreeLayerSubtree(node);
  else FreeLayerNode(node);
  return 0;
}

int CmdLayerQuery() {
  if (DecodeLayerArguments(CMD_LAYER_QUERY) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerArgument(path);
  if (kind < 0) return -1;
  if (!ArgGiven(Q_TARGET)) return 0;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, kind == 1 ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);
  LayerRecord* r = GetLayerRecord(node);
  if (!r) {
    ClearResult(Q_TARGET);
    return 0;
  }
  int selector = 0;
  for (int s : kSelectorOrder) {
    if (ArgGiven(s)) {
      selector = s;
      break;
    }
  }
  int64_t v = 0;
  switch (selector) {
    case Q_EXISTS: v = 1; break;
    case Q_VISIBLE: v = int8_t(r->mVisible); break;
    case Q_OPACITY: v = r->mOpacity; break;
    case Q_X: v = r->mX; break;
    case Q_Y: v = r->mY; break;
    case Q_PRIORITY: v = node->mOrderKey; break;
    case Q_RULE: v = r->mRuleProgress; break;
    case Q_MASK_NAME: StoreResultText(Q_TARGET, r->mMaskName); return 0;
    case Q_EDGE: v = r->mEdgeSharpness; break;
    case Q_BLEND: v = int8_t(r->mBlendMode); break;
    case Q_WIDTH: v = r->mWidth; break;
    case Q_HEIGHT: v = r->mHeight; break;
    case Q_X100: v = r->mX100; break;
    case Q_Y100: v = r->mY100; break;
    case Q_SCALE_X: v = r->mScaleX; break;
    case Q_SCALE_Y: v = r->mScaleY; break;
    case Q_EMOTE_X: v = r->mEmoteOffsetX; break;
    case Q_EMOTE_Y: v = r->mEmoteOffsetY; break;
    case Q_USER_C: v = r->mUserC; break;
    case Q_GPU_KIND: v = int8_t(r->mGpuKind); break;
    case Q_WINDOW_COLOUR:
    case Q_WINDOW_ALPHA:
    case Q_WINDOW_ARGB: v = WindowPointPixel(node, r, selector); break;
    case Q_PIXEL_COLOUR: {
      if (!ArgGiven(Q_POINT_X) || !ArgGiven(Q_POINT_Y)) {
        ReportScriptErrorF(101295, 1, CurrentCommandName(), CurrentParameterName(Q_PIXEL_COLOUR));
        return -1;
      }
      int64_t x = ArgInt(Q_POINT_X), y = ArgInt(Q_POINT_Y);
      if (!r->mPixels || x < 0 || y < 0 || x >= r->mWidth || y >= r->mHeight) v = -1;
      else v = Rgb(PixelOf(r, x, y));
      break;
    }
    case Q_BOUNDS: v = OpaqueBound(r, ArgGiven(Q_POINT_X) ? ArgInt(Q_POINT_X) : 0); break;
    case Q_USER_A: v = r->mUserA; break;
    case Q_USER_B: v = r->mUserB; break;
    default: break;
  }
  StoreResultInt(Q_TARGET, v);
  return 0;
}
