// Layer records and image buffers: creation, sharing and release of records, pixel buffer
// allocation, the blank image, transparent-pixel normalisation, dirty marking, pending state.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/memory_budget.h"
#include "app/window.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "platform/platform.h"

NameNode* g_OffscreenLayerNode;

namespace {

// Image buffers carry a hidden prefix holding their byte size, so a resize can keep the
// contents without help from the caller; the pixels themselves start on a 64-byte boundary.
constexpr size_t IMAGE_ALIGN = 64;

uint8_t* ImageBase(ImageBuffer* buffer) { return buffer - IMAGE_ALIGN; }

uint64_t ImageBytes(ImageBuffer* buffer) {
  uint64_t bytes;
  memcpy(&bytes, ImageBase(buffer), sizeof bytes);
  return bytes;
}

// All live images together stay within a gigabyte, four images of the largest size, and within
// the script memory budget with everything else; past that an allocation fails like one the
// system refused, so a script that asks for layer after layer of the largest size gets the
// no-memory message instead of the machine's whole memory.
constexpr uint64_t MOST_LIVE_IMAGE_BYTES = uint64_t(1) << 30;
std::atomic<uint64_t> g_LiveImageBytes{0};

void GiveImageBytes(uint64_t bytes) {
  g_LiveImageBytes.fetch_sub(bytes);
  GiveScriptMemory(bytes);
}

ImageBuffer* AllocAligned(uint64_t bytes) {
  uint64_t total = (bytes + IMAGE_ALIGN + IMAGE_ALIGN - 1) / IMAGE_ALIGN * IMAGE_ALIGN;
  if (g_LiveImageBytes.fetch_add(bytes) + bytes > MOST_LIVE_IMAGE_BYTES) {
    g_LiveImageBytes.fetch_sub(bytes);
    return nullptr;
  }
  if (!TakeScriptMemory(bytes)) {
    g_LiveImageBytes.fetch_sub(bytes);
    return nullptr;
  }
  uint8_t* base = static_cast<uint8_t*>(std::aligned_alloc(IMAGE_ALIGN, total));
  if (!base) {
    GiveImageBytes(bytes);
    return nullptr;
  }
  memcpy(base, &bytes, sizeof bytes);
  return base + IMAGE_ALIGN;
}

void FreeRecord(LayerRecord* r) {
  free(r->mMaskName);
  free(r->mSecondSourceName);
  free(r->mFileName);
  free(r->mEmoteSavedVariables);
  free(r->mEmoteMotion);
  free(r->mEmoteTimeline);
  free(r);
}

// Window records keep the node they show; a record shared by several nodes stays a window
// root while any window still shows one of them.
void ForgetWindowRoot(NameNode* node, LayerRecord* record) {
  uint8_t stillShown = 0;
  for (WindowRecord* w : g_WindowRecords) {
    if (!w) continue;
    if (w->mRootLayer == node) w->mRootLayer = nullptr;
    if (record && w->mRootLayer && w->mRootLayer->mPayload == record) stillShown = 1;
  }
  if (record) record->mIsWindowRoot = stillShown;
}

}  // namespace

int CreateLayerRecord(NameNode* node) {
  LayerRecord* r = static_cast<LayerRecord*>(calloc(1, sizeof(LayerRecord)));
  if (r) {
    r->mMaskName = static_cast<char*>(calloc(1, LAYER_NAME_BYTES));
    r->mSecondSourceName = static_cast<char*>(calloc(1, LAYER_NAME_BYTES));
    r->mFileName = static_cast<char*>(calloc(1, LAYER_NAME_BYTES));
  }
  if (!r || !r->mMaskName || !r->mSecondSourceName || !r->mFileName) {
    if (r) FreeRecord(r);
    ReportError(100010, 1);
    return 1;
  }
  r->mRedrawnRect[0] = r->mRedrawnRect[1] = 999999999;
  r->mRedrawnRect[2] = r->mRedrawnRect[3] = -999999999;
  r->mWidth = 1;
  r->mHeight = 1;
  r->mOpacity = 256;
  r->mRuleProgress = 256;
  r->mVisible = 1;
  r->mScaleX = 10000;
  r->mScaleY = 10000;
  r->mSaturation = 128;
  r->mTone = 0x808080;
  r->mEmoteFactor1 = r->mEmoteFactor2 = r->mEmoteFactor3 = 1.0f;
  r->mEmoteEnabled = 1;
  node->mPayload = r;
  r->mRefCount += 1;
  return 0;
}

LayerRecord* AttachNewLayerRecord(NameNode* node) {
  if (!node) return nullptr;
  if (CreateLayerRecord(node) != 0) return nullptr;
  return GetLayerRecord(node);
}

int AttachSharedRecord(NameNode* node, LayerRecord* record) {
  if (!node || !record) return 0;
  node->mPayload = record;
  record->mRefCount += 1;
  return 0;
}

LayerRecord* ShareLayerRecord(NameNode* node, LayerRecord* record) {
  if (!node) return nullptr;
  AttachSharedRecord(node, record);
  return record;
}

ImageBuffer* AllocImageBuffer(ImageBuffer* old, int32_t width, int32_t height, const char* fileName) {
  if (width > MAX_IMAGE_SIDE) {
    ShowErrorBox("", ToCp932Text("ＣＧサイズが大きすぎます。X=%d, Y=%d").c_str(), width, height);
    ReportError(100010, 1);
    return nullptr;
  }
  // The height is not limited here: empty (0 x 0) and tall, narrow group canvases are common.
  // A negative side, or more rows and pixels than the largest image holds, cannot be
  // allocated and is refused like a failed allocation; a row counts as a pixel at least, so an
  // empty canvas cannot claim billions of rows.
  uint64_t row = uint64_t(width) * 4;
  uint64_t cells = uint64_t(width > 1 ? width : 1) * uint64_t(height > 1 ? height : 1);
  bool possible = width >= 0 && height >= 0 && cells <= uint64_t(MAX_IMAGE_SIDE) * MAX_IMAGE_SIDE;
  uint64_t bytes = possible ? row + row * uint64_t(height) + 4 : 0;
  ImageBuffer* buffer = possible ? AllocAligned(bytes) : nullptr;
  if (!buffer) {
    if (fileName) ReportErrorF(104030, 1, fileName);
    else ReportError(100010, 1);
    return nullptr;
  }
  if (old) {
    uint64_t keep = ImageBytes(old);
    memcpy(buffer, old, keep < bytes ? keep : bytes);
    FreeImageBuffer(old);
  }
  return buffer;
}

void FreeImageBuffer(ImageBuffer* buffer) {
  if (!buffer) return;
  GiveImageBytes(ImageBytes(buffer));
  free(ImageBase(buffer));
}

void FillTransparentPixelsIn(uint8_t* pixels, int32_t width, int32_t left, int32_t top, int32_t right,
                             int32_t bottom) {
  for (int32_t y = top; y < bottom; y++) {
    uint8_t* p = pixels + (size_t(y) * size_t(width) + size_t(left)) * 4;
    for (int32_t x = left; x < right; x++, p += 4) {
      if (p[3] == 0) {
        p[0] = g_TransparentFill & 0xFF;
        p[1] = (g_TransparentFill >> 8) & 0xFF;
        p[2] = (g_TransparentFill >> 16) & 0xFF;
      }
    }
  }
}

void FillTransparentPixels(LayerRecord* record) {
  if (!record || !record->mPixels || record->mWidth < 1 || record->mHeight < 1) return;
  FillTransparentPixelsIn(record->mPixels, record->mWidth, 0, 0, record->mWidth, record->mHeight);
}

int SetBlankImage(LayerRecord* record, const char* fileName) {
  record->mHasAlpha = 0;
  ImageBuffer* buffer = AllocImageBuffer(record->mPixels, 1, 1, fileName);
  if (!buffer) return -1;
  record->mPixels = buffer;
  record->mWidth = 1;
  record->mHeight = 1;
  memset(buffer, 0, 4);
  FillTransparentPixels(record);
  NoteImageLoadTime();
  return 0;
}

int MarkLayerDirty(NameNode* node) {
  for (NameNode* n = node; n && n->mPayload; n = n->mParent) {
    LayerRecord* r = GetLayerRecord(n);
    int64_t x = int32_t(r->mX);
    int64_t y = int32_t(r->mY);
    int64_t right = x + r->mWidth - 1;
    int64_t bottom = y + r->mHeight - 1;
    r->mChanged = 1;
    if (r->mDirtyCount == 0) {
      r->mDirtyRect[0] = 0;
      r->mDirtyRect[1] = 0;
      r->mDirtyRect[2] = right;
      r->mDirtyRect[3] = bottom;
    } else {
      if (x < r->mDirtyRect[0]) r->mDirtyRect[0] = x;
      if (y < r->mDirtyRect[1]) r->mDirtyRect[1] = y;
      if (right > r->mDirtyRect[2]) r->mDirtyRect[2] = right;
      if (bottom > r->mDirtyRect[3]) r->mDirtyRect[3] = bottom;
    }
    r->mDirtyValid = 1;
    r->mDirtyCount += 1;
  }
  return 0;
}

void ApplyPendingLayerState(NameNode* first) {
  for (NameNode* n = first; n; n = n->mNext) {
    LayerRecord* r = GetLayerRecord(n);
    if (!r) continue;
    bool changed = false;
    if (r->mPendingVisibleSet) {
      r->mPendingVisibleSet = 0;
      if (r->mPendingVisible != r->mVisible) {
        r->mVisible = r->mPendingVisible;
        changed = true;
      }
    }
    if (r->mPendingOpacitySet) {
      r->mPendingOpacitySet = 0;
      if (r->mPendingOpacity != r->mOpacity) {
        r->mOpacity = r->mPendingOpacity;
        changed = true;
      }
    }
    if (changed) {
      g_GpuRedrawRequest = 1;
      InvalidateLayer(n);
    }
    if (n->mIsGroup) ApplyPendingLayerState(n->mFirstChild);
  }
}

void ApplyPendingLayerStateAll() {
  if (g_LayerRoot) ApplyPendingLayerState(g_LayerRoot->mFirstChild);
}

void FreeLayerNode(NameNode* node) {
  if (!node) return;
  LayerRecord* r = GetLayerRecord(node);
  ForgetWindowRoot(node, r);
  if (ForgetMessageLayer(node) && r) r->mIsMessageLayer = 0;
  if (g_OffscreenLayerNode == node) g_OffscreenLayerNode = nullptr;
  ForgetDragLayer(node);
  if (node->mParent) UnlinkNode(node);
  if (r) {
    if (r->mRefCount > 0) r->mRefCount -= 1;
    if (r->mRefCount == 0) {
      ReleaseLayerTextures(r);
      FreeImageBuffer(r->mPixels);
      r->mPixels = nullptr;
      FreeFrameSet(r);
      FreeGifFrames(r->mGifFrames);
      r->mGifFrames = nullptr;
      if (g_EmoteAvailable) {
        ReleaseEmoteObject(r);
        g_GpuRedrawRequest = 1;
      }
      r->mGpuKind = GPU_KIND_CPU;
      FreeRecord(r);
    }
    node->mPayload = nullptr;
  }
  FreeNodeShell(node);
}

void FreeLayerChildren(NameNode* node) {
  NameNode* child = node->mFirstChild;
  while (child) {
    if (child->mIsGroup) FreeLayerChildren(child);
    NameNode* next = child->mNext;
    FreeLayerNode(child);
    child = next;
  }
}

void FreeLayerSubtree(NameNode* node) {
  if (!node) return;
  FreeLayerChildren(node);
  FreeLayerNode(node);
}

int CreateLayerTreeRoot() {
  NameNode* root = AllocTreeRoot();
  if (!root) return -1;
  WindowRecord* main = g_WindowRecords[0];
  int32_t width = main ? main->mWidth : 1;
  int32_t height = main ? main->mHeight : 1;
  if (CreateLayerRecord(root) != 0) {
    FreeNodeShell(root);
    return -1;
  }
  LayerRecord* rootRecord = GetLayerRecord(root);
  rootRecord->mWidth = width;
  rootRecord->mHeight = height;
  g_LayerRoot = root;
  CopyTextBounded(g_LayerFolder, sizeof g_LayerFolder, "W0");
  if (!CreateImageLayer(g_LayerFolder, width, height, 0)) return -1;
  NameNode* w0 = FindNodeByPath(root, g_LayerFolder, NAME_LOOKUP_GROUP);
  if (main && w0) {
    main->mRootLayer = w0;
    GetLayerRecord(w0)->mIsWindowRoot = 1;
  }
  return 0;
}
