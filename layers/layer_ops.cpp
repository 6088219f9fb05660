// Operations the layer commands share: assignment operators on 64-bit properties, node and
// group-layer creation, image loading into a record, priorities, layer swaps, recomposition.
#include <cstring>
#include <utility>

#include "app/engine.h"
#include "layers/layer.h"

namespace {

int64_t Wrap(uint64_t v) { return static_cast<int64_t>(v); }

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_add_overflow(a, b, &r)) return r;
  return b > 0 ? INT64_MAX : INT64_MIN;
}

int64_t SaturatingSub(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_sub_overflow(a, b, &r)) return r;
  return b < 0 ? INT64_MAX : INT64_MIN;
}

int64_t SaturatingMul(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_mul_overflow(a, b, &r)) return r;
  return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
}

// Only INT64_MIN / -1 leaves the range; callers have excluded a zero divisor.
int64_t SaturatingDiv(int64_t a, int64_t b) {
  if (a == INT64_MIN && b == -1) return INT64_MAX;
  return a / b;
}

}  // namespace

int64_t ApplyAssignOp(int32_t op, int64_t current, int64_t operand) {
  uint64_t c = static_cast<uint64_t>(current);
  uint64_t o = static_cast<uint64_t>(operand);
  switch (op) {
    case ASSIGN_SET: return operand;
    case ASSIGN_ADD: return Wrap(c + o);
    case ASSIGN_SUB: return Wrap(c - o);
    case ASSIGN_MUL: return Wrap(c * o);
    case ASSIGN_DIV:
      if (operand == 0) return current;
      if (operand == -1) return Wrap(0 - c);
      return current / operand;
    default: return current;
  }
}

// The bounded forms saturate instead of wrapping, so a huge operand lands on the bound
// rather than on the far side of it.
int64_t ApplyAssignOpClamped(int32_t op, int64_t current, int64_t operand, int64_t min, int64_t max) {
  int64_t v;
  switch (op) {
    case ASSIGN_SET: return operand;
    case ASSIGN_ADD:
      v = SaturatingAdd(current, operand);
      return v > max ? max : v;
    case ASSIGN_SUB:
      v = SaturatingSub(current, operand);
      return v < min ? min : v;
    case ASSIGN_MUL: v = SaturatingMul(current, operand); break;
    case ASSIGN_DIV:
      if (operand == 0) return current;
      v = SaturatingDiv(current, operand);
      break;
    default: return current;
  }
  if (v > max) v = max;
  if (v < min) v = min;
  return v;
}

int64_t ApplyAssignOpAtLeast(int32_t op, int64_t current, int64_t operand, int64_t min) {
  int64_t v;
  switch (op) {
    case ASSIGN_SET: return operand;
    case ASSIGN_ADD: return SaturatingAdd(current, operand);
    case ASSIGN_SUB: v = SaturatingSub(current, operand); break;
    case ASSIGN_MUL: v = SaturatingMul(current, operand); break;
    case ASSIGN_DIV:
      if (operand == 0) return current;
      v = SaturatingDiv(current, operand);
      break;
    default: return current;
  }
  return v < min ? min : v;
}

NameNode* CreateNamedNode(NameNode* root, const char* path, bool group, int64_t priority) {
  if (!path) {
    ReportError(900020, 1);
    return nullptr;
  }
  return CreateTreeNode(root, path, group, priority);
}

LayerRecord* CreateImageLayer(const char* path, int32_t width, int32_t height, int64_t priority) {
  if (!path) {
    ReportError(900020, 1);
    return nullptr;
  }
  if (!FindParentNode(path, g_LayerRoot)) return nullptr;
  // The canvas comes first, so a refused size leaves no half-made layer in the tree.
  ImageBuffer* pixels = AllocImageBuffer(nullptr, width, height, nullptr);
  if (!pixels) return nullptr;
  NameNode* node = CreateTreeNode(g_LayerRoot, path, true, priority);
  LayerRecord* r = node ? AttachNewLayerRecord(node) : nullptr;
  if (!r) {
    FreeImageBuffer(pixels);
    if (node) FreeLayerNode(node);
    return nullptr;
  }
  r->mWidth = width;
  r->mHeight = height;
  r->mPixels = pixels;
  memset(pixels, 0, size_t(width) * 4 * size_t(height));
  r->mWholeDirty = 1;
  r->mDirtyValid = 1;
  r->mDirtyRect[0] = 0;
  r->mDirtyRect[1] = 0;
  r->mDirtyRect[2] = width - 1;
  r->mDirtyRect[3] = height - 1;
  MarkLayerDirty(node);
  return r;
}

int LoadImageIntoLayer(LayerRecord* record, const char* fileName) {
  record->mFileName[0] = '\0';
  if (!fileName || !fileName[0]) return SetBlankImage(record, fileName);
  return LoadLayerImage(record, fileName);
}

int SetNodePriority(NameNode* node, int64_t priority) {
  if (!node || node->mOrderKey == priority) return 0;
  NameNode* parent = node->mParent;
  if (!parent) {
    node->mOrderKey = priority;
    return 1;
  }
  UnlinkNode(node);
  node->mPrev = node->mNext = nullptr;
  InsertChildByPriority(parent, node, priority);
  return 1;
}

int SwapNodePriorities(NameNode* a, NameNode* b) {
  if (!a || !b || a->mOrderKey == b->mOrderKey) return 0;
  int64_t oldA = a->mOrderKey;
  SetNodePriority(a, b->mOrderKey);
  SetNodePriority(b, oldA);
  return 1;
}

int SwapLayers(NameNode* a, NameNode* b, int mode) {
  if (!a || !b) return 0;
  InvalidateLayer(a);
  InvalidateLayer(b);
  SwapNodePriorities(a, b);
  char* name = a->mName;
  a->mName = b->mName;
  b->mName = name;
  int32_t length = a->mNameLength;
  a->mNameLength = b->mNameLength;
  b->mNameLength = length;
  // The names move, the kinds stay: bit 31 of the hash belongs to the node, not the name.
  uint32_t hashA = a->mHash & 0x7FFFFFFFu;
  a->mHash = (b->mHash & 0x7FFFFFFFu) | (a->mHash & 0x80000000u);
  b->mHash = hashA | (b->mHash & 0x80000000u);
  LayerRecord* ra = GetLayerRecord(a);
  LayerRecord* rb = GetLayerRecord(b);
  if (mode != 1 && mode != 2) return 0;
  if (!ra || !rb || ra == rb) return 0;
  std::swap(ra->mX, rb->mX);
  std::swap(ra->mY, rb->mY);
  std::swap(ra->mX100, rb->mX100);
  std::swap(ra->mY100, rb->mY100);
  if (mode == 2) {
    std::swap(ra->mVisible, rb->mVisible);
    std::swap(ra->mOpacity, rb->mOpacity);
    std::swap(ra->mRuleProgress, rb->mRuleProgress);
    std::swap(ra->mEdgeSharpness, rb->mEdgeSharpness);
    std::swap(ra->mBlendMode, rb->mBlendMode);
  }
  return 0;
}

void RecomposeLayer(NameNode* node) { ComposeLayerTree(node, 1); }
