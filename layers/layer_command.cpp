// The layer command: creating layers and changing everything a layer record holds.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "layers/layer_args.h"

namespace {

enum : int {
  P_NAME = 1, P_NUMBER = 2, P_VISIBLE = 3, P_OPACITY = 4, P_X = 5, P_Y = 6, P_PRIORITY = 7,
  P_WIDTH = 8, P_HEIGHT = 9, P_TEXTURE_OPTION = 12, P_TEXTURE = 13, P_OFFSCREEN = 14,
  P_GPU_REFRESH = 15, P_X100 = 16, P_Y100 = 17, P_SCALE_X = 18, P_SCALE_Y = 19, P_ROTATION1 = 20,
  P_PIVOT_X = 23, P_PIVOT_Y = 24, P_EMOTE_X = 25, P_EMOTE_Y = 26, P_USER_C = 27, P_SATURATION = 28,
  P_TONE = 29, P_USER_BYTE = 30, P_SECOND_SOURCE = 31, P_CROSS_FADE = 32, P_KEEP_BUFFER = 33,
  P_IMAGE = 34, P_SHARE = 35, P_MASK_FROM = 36, P_RULE = 38, P_MASK_NAME = 39, P_MASK_NUMBER = 40,
  P_EDGE = 41, P_BLEND = 42, P_USER_A = 44, P_USER_B = 45,
};

constexpr int32_t TEXTURE_TILE_LIMIT_X = 512;
constexpr int32_t TEXTURE_TILE_LIMIT_Y = 256;

// A leaf canvas size: script values become 32-bit sizes without wrapping into range, so
// 2^32 + 5 is refused as too wide rather than taken as 5.
int32_t SaturateToInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return int32_t(v);
}

// A group canvas size, and y in pixels: the low 32 bits of the value, whatever their sign.
int32_t Low32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

int64_t Times100(int64_t v) { return int64_t(uint64_t(v) * 100u); }

// Rotations are floats that scripts combine as integers; values past the 64-bit range (or
// not numbers at all) are taken as the nearest representable integer instead of overflowing.
int64_t FloatToInt64(float f) {
  if (std::isnan(f)) return 0;
  if (f >= 9.2233720368547758e18f) return INT64_MAX;
  if (f <= -9.2233720368547758e18f) return INT64_MIN;
  return int64_t(f);
}

// Applies the parameter's operator to a 64-bit field; true when the value changed.
bool ApplyTo(int param, int64_t* field) {
  if (!ArgGiven(param)) return false;
  int64_t v = ApplyAssignOp(ArgOperator(param), *field, ArgInt(param));
  if (v == *field) return false;
  *field = v;
  return true;
}

template <typename T>
bool ApplyClampedTo(int param, T* field, int64_t min, int64_t max) {
  if (!ArgGiven(param)) return false;
  T v = T(ApplyAssignOpClamped(ArgOperator(param), int64_t(*field), ArgInt(param), min, max));
  if (v == *field) return false;
  *field = v;
  return true;
}

void MarkOldArea(NameNode* node) {
  if (node->mIsGroup) MarkLayerDirty(node);
  else InvalidateLayer(node);
}

// Group canvas: a size with both sides positive gets a new cleared buffer first, so a refused
// size leaves the layer as it was; a side below 1 is only stored.
int ResizeGroupCanvas(NameNode* node, LayerRecord* r, int32_t width, int32_t height) {
  MarkLayerDirty(node);
  if (width < 1 || height < 1) {
    r->mWidth = width;
    r->mHeight = height;
    return 0;
  }
  ImageBuffer* pixels = AllocImageBuffer(r->mPixels, width, height, nullptr);
  if (!pixels) return -1;
  r->mPixels = pixels;
  r->mWidth = width;
  r->mHeight = height;
  r->mWholeDirty = 1;
  r->mDirtyValid = 1;
  r->mDirtyRect[0] = 0;
  r->mDirtyRect[1] = 0;
  r->mDirtyRect[2] = width - 1;
  r->mDirtyRect[3] = height - 1;
  memset(pixels, 0, size_t(width) * 4 * size_t(height));
  MarkLayerDirty(node);
  ApplyPendingLayerStateAll();
  RecomposeLayer(node);
  return 0;
}

// Leaf canvas: opaque black of the new size with the top-left of the loaded image on it.
int ResizeLeafCanvas(NameNode* node, LayerRecord* r, int32_t width, int32_t height) {
  InvalidateLayer(node);
  ImageBuffer* pixels = AllocImageBuffer(nullptr, width, height, nullptr);
  if (!pixels) return -1;
  // One row is filled and copied down: a large canvas costs a block copy a row.
  if (width > 0 && height > 0) {
    uint32_t* first = reinterpret_cast<uint32_t*>(pixels);
    for (int32_t x = 0; x < width; x++) first[x] = 0xFF000000u;
    for (int32_t y = 1; y < height; y++) memcpy(pixels + size_t(y) * width * 4, first, size_t(width) * 4);
  }
  if (r->mPixels && r->mWidth > 0 && r->mHeight > 0) {
    int32_t w = width < r->mWidth ? width : r->mWidth;
    int32_t h = height < r->mHeight ? height : r->mHeight;
    for (int32_t y = 0; y < h; y++)
      memcpy(pixels + size_t(y) * width * 4, r->mPixels + size_t(y) * r->mWidth * 4, size_t(w) * 4);
  }
  FreeImageBuffer(r->mPixels);
  r->mPixels = pixels;
  r->mWidth = width;
  r->mHeight = height;
  InvalidateLayer(node);
  return 0;
}

// The other layer's blue channel becomes this layer's alpha. -1 when the sizes differ.
int TakeMaskFrom(LayerRecord* r, const char* name) {
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, name, g_LayerFolder, false) < 0) return -1;
  LayerRecord* mask = GetLayerRecord(FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_LEAF));
  if (!mask) return 0;
  if (mask->mWidth != r->mWidth || mask->mHeight != r->mHeight) {
    ShowErrorBox("", ToCp932Text("レイヤ画像とマスクレイヤ画像のサイズが異なります。").c_str());
    g_QuitFlag = 1;
    return -1;
  }
  if (!mask->mPixels || !r->mPixels || r->mWidth < 1 || r->mHeight < 1) return 0;
  size_t count = size_t(r->mWidth) * size_t(r->mHeight);
  for (size_t i = 0; i < count; i++) r->mPixels[i * 4 + 3] = mask->mPixels[i * 4];
  r->mHasAlpha = 1;
  return 0;
}

bool ApplyRotation(int param, float* field) {
  if (!ArgGiven(param)) return false;
  int64_t old = FloatToInt64(*field);
  int64_t v = ApplyAssignOp(ArgOperator(param), old, ArgInt(param));
  *field = float(v);
  return v != old;
}

// A layer the script names that does not exist yet. Returns the node to go on with, or null
// with *result holding what the command returns.
NameNode* CreateMissingLayer(const char* path, bool group, int64_t priority, int* result) {
  *result = -1;
  if (group) {
    if (ArgGiven(P_IMAGE) || ArgGiven(P_SHARE)) {
      ReportScriptErrorF(101280, 1, CurrentCommandName());
      return nullptr;
    }
    if (!ArgGiven(P_WIDTH) || !ArgGiven(P_HEIGHT) || priority == -1) {
      *result = 0;
      return nullptr;
    }
    if (!CreateImageLayer(path, Low32(ArgInt(P_WIDTH)), Low32(ArgInt(P_HEIGHT)), priority))
      return nullptr;
    return FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_GROUP);
  }
  if (!ArgGiven(P_IMAGE) && !ArgGiven(P_SHARE)) {
    if (g_EngineOptions[1]) {
      ReportScriptErrorF(101230, 1, CurrentCommandName(), path);
      return nullptr;
    }
    *result = 0;
    return nullptr;
  }
  if (priority == -1) {
    ReportScriptErrorF(100240, 1, CurrentCommandName());
    return nullptr;
  }
  // The record to share is found before the node is made, so a failure leaves no node
  // without a record in the tree.
  LayerRecord* shared = nullptr;
  if (!ArgGiven(P_IMAGE)) {
    const char* from = ArgText(P_SHARE);
    if (!from[0]) return nullptr;
    char sharePath[OBJECT_PATH_BYTES];
    if (NormalizeObjectPath(sharePath, from, g_LayerFolder, false) < 0) return nullptr;
    shared = GetLayerRecord(FindNodeByPath(g_LayerRoot, sharePath, NAME_LOOKUP_LEAF));
    if (!shared) {
      ReportScriptErrorF(101250, 1, CurrentCommandName(), sharePath);
      return nullptr;
    }
  }
  NameNode* node = CreateNamedNode(g_LayerRoot, path, false, priority);
  if (!node) return nullptr;
  if (shared ? !ShareLayerRecord(node, shared) : !AttachNewLayerRecord(node)) {
    FreeLayerNode(node);
    return nullptr;
  }
  return node;
}

}  // namespace

int CmdLayer() {
  if (DecodeLayerArguments(CMD_LAYER) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerArgument(path);
  if (kind < 0) return -1;
  bool group = kind == 1;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, group ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);

  int64_t priority = ArgGiven(P_NUMBER) ? ArgInt(P_NUMBER) : -1;
  bool changed = false;
  if (ArgGiven(P_PRIORITY)) {
    priority = ApplyAssignOpAtLeast(ArgOperator(P_PRIORITY), node ? node->mOrderKey : 1, ArgInt(P_PRIORITY), 1);
    if (node) changed = SetNodePriority(node, priority) != 0;
  }
  if (!node) {
    int result;
    node = CreateMissingLayer(path, group, priority, &result);
    if (!node) return result;
  }
  LayerRecord* r = GetLayerRecord(node);
  if (!r) return 0;

  if (ApplyClampedTo(P_SATURATION, &r->mSaturation, 0, 256)) changed = true;
  if (ArgGiven(P_IMAGE)) {
    if (node->mIsGroup) {
      ReportScriptErrorF(101280, 1, CurrentCommandName());
      return -1;
    }
    InvalidateLayer(node);
    if (LoadImageIntoLayer(r, ArgText(P_IMAGE)) != 0) {
      g_QuitFlag = 1;
      return -1;
    }
    changed = true;
  }
  if (ArgGiven(P_MASK_FROM) && ArgText(P_MASK_FROM)[0] && TakeMaskFrom(r, ArgText(P_MASK_FROM)) != 0) return -1;
  if (ArgGiven(P_MASK_NAME)) {
    char name[LAYER_NAME_BYTES];
    if (ArgGiven(P_MASK_NUMBER)) AppendLayerNumber(name, sizeof name, ArgText(P_MASK_NAME), ArgInt(P_MASK_NUMBER));
    else CopyTextBounded(name, sizeof name, ArgText(P_MASK_NAME));
    CopyTextBounded(r->mMaskName, LAYER_NAME_BYTES, name);
  }
  if (ArgGiven(P_VISIBLE)) {
    r->mPendingVisible = uint8_t(ArgInt(P_VISIBLE));
    r->mPendingVisibleSet = 1;
  }
  if (ArgGiven(P_OPACITY)) {
    r->mPendingOpacity = int16_t(ApplyAssignOpClamped(ArgOperator(P_OPACITY), r->mOpacity, ArgInt(P_OPACITY), 0, 256));
    r->mPendingOpacitySet = 1;
  }

  if (ArgGiven(P_X)) {
    int64_t v = ApplyAssignOp(ArgOperator(P_X), r->mX, ArgInt(P_X));
    if (v != r->mX) {
      MarkOldArea(node);
      r->mX = v;
      r->mX100 = Times100(v);
      changed = true;
    }
  }
  if (ArgGiven(P_X100)) {
    int64_t v = ApplyAssignOp(ArgOperator(P_X100), r->mX100, ArgInt(P_X100));
    if (v != r->mX100) {
      MarkOldArea(node);
      r->mX100 = v;
      r->mX = v / 100;
      changed = true;
    }
  }
  if (ArgGiven(P_Y)) {
    // y keeps 32 bits, and so does its 1/100 twin: 100 times y, wrapped to 32 bits.
    int64_t v = Low32(ApplyAssignOp(ArgOperator(P_Y), r->mY, ArgInt(P_Y)));
    if (v != r->mY) {
      MarkOldArea(node);
      r->mY = v;
      r->mY100 = Low32(Times100(v));
      changed = true;
    }
  }
  if (ArgGiven(P_Y100)) {
    int64_t v = ApplyAssignOp(ArgOperator(P_Y100), r->mY100, ArgInt(P_Y100));
    if (v != r->mY100) {
      MarkOldArea(node);
      r->mY100 = v;
      r->mY = v / 100;
      changed = true;
    }
  }

  if (node->mIsGroup) {
    if (ArgGiven(P_WIDTH) && ResizeGroupCanvas(node, r, Low32(ArgInt(P_WIDTH)), r->mHeight) != 0)
      return -1;
    if (ArgGiven(P_HEIGHT) && ResizeGroupCanvas(node, r, r->mWidth, Low32(ArgInt(P_HEIGHT))) != 0)
      return -1;
  } else if (ArgGiven(P_WIDTH) || ArgGiven(P_HEIGHT)) {
    if (!ArgGiven(P_IMAGE)) {
      ReportScriptErrorF(100244, 1, CurrentCommandName());
      return -1;
    }
    if (!ArgGiven(P_WIDTH) || !ArgGiven(P_HEIGHT)) {
      ReportScriptErrorF(100243, 1, CurrentCommandName());
      return -1;
    }
    if (ResizeLeafCanvas(node, r, SaturateToInt32(ArgInt(P_WIDTH)), SaturateToInt32(ArgInt(P_HEIGHT))) != 0)
      return -1;
  }

  if (ApplyClampedTo(P_RULE, &r->mRuleProgress, 0, 256)) changed = true;
  if (ArgGiven(P_EDGE)) {
    int16_t v = int16_t(ArgInt(P_EDGE));
    if (v != r->mEdgeSharpness) changed = true;
    r->mEdgeSharpness = v;
  }
  // Blend modes index the blend tables: a mode outside them is not taken.
  if (ArgGiven(P_BLEND) && ArgInt(P_BLEND) >= 0 && ArgInt(P_BLEND) < BLEND_MODE_COUNT) {
    uint8_t v = uint8_t(ArgInt(P_BLEND));
    if (v != r->mBlendMode) changed = true;
    r->mBlendMode = v;
  }

  if (ArgGiven(P_TEXTURE) && ArgInt(P_TEXTURE) == 1 && g_GpuSceneMode) {
    if (r->mGpuKind == GPU_KIND_CPU) r->mGpuKind = GPU_KIND_TEXTURED;
    int option = ArgGiven(P_TEXTURE_OPTION) ? int(ArgInt(P_TEXTURE_OPTION) - 1) : 0;
    if (UploadLayerTextures(r, option, TEXTURE_TILE_LIMIT_X, TEXTURE_TILE_LIMIT_Y) != 0) return -1;
    changed = true;
  }
  if (ArgGiven(P_OFFSCREEN)) {
    if (ArgInt(P_OFFSCREEN) == 1) g_OffscreenLayerNode = node;
    else if (ArgInt(P_OFFSCREEN) == 0) g_OffscreenLayerNode = nullptr;
  }

  if (ApplyTo(P_SCALE_X, &r->mScaleX)) changed = true;
  if (ApplyTo(P_SCALE_Y, &r->mScaleY)) changed = true;
  for (int i = 0; i < 3; i++)
    if (ApplyRotation(P_ROTATION1 + i, &r->mRotation[i])) changed = true;
  if (ApplyTo(P_PIVOT_X, &r->mPivotX)) changed = true;
  if (ApplyTo(P_PIVOT_Y, &r->mPivotY)) changed = true;
  if (ApplyTo(P_EMOTE_X, &r->mEmoteOffsetX)) changed = true;
  if (ApplyTo(P_EMOTE_Y, &r->mEmoteOffsetY)) changed = true;
  if (ApplyTo(P_USER_C, &r->mUserC)) changed = true;
  if (ApplyClampedTo(P_TONE, &r->mTone, 0, 0x1000000)) changed = true;
  if (ArgGiven(P_USER_BYTE)) {
    uint8_t v = uint8_t(ArgInt(P_USER_BYTE));
    if (v != r->mUserByte) changed = true;
    r->mUserByte = v;
  }
  if (ArgGiven(P_SECOND_SOURCE)) {
    CopyTextBounded(r->mSecondSourceName, LAYER_NAME_BYTES, ArgText(P_SECOND_SOURCE));
    changed = true;
  }
  if (ApplyClampedTo(P_CROSS_FADE, &r->mCrossFade, 0, 256)) changed = true;
  if (ApplyClampedTo(P_KEEP_BUFFER, &r->mKeepBufferOnShrink, 0, 1)) changed = true;

  if (ArgGiven(P_GPU_REFRESH) && g_GpuSceneMode) {
    ApplyPendingLayerStateAll();
    RenderGpuScene();
    changed = true;
  }
  ApplyTo(P_USER_A, &r->mUserA);
  ApplyTo(P_USER_B, &r->mUserB);

  if (changed) {
    g_GpuRedrawRequest = 1;
    InvalidateLayer(node);
  }
  return 0;
}
