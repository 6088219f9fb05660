// Changing a layer's canvas: trimming transparent borders and growing or cutting each side,
// in place or into a second layer.
#include <cstdint>

#include "app/engine.h"
#include "layers/compose_ops.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"

namespace {

// A side of a new canvas that no buffer can take goes to AllocImageBuffer as a value it
// refuses with its box, so the box shows the size asked for as far as an int shows it.
int32_t SaturateSide(__int128 side) { return side > INT32_MAX ? INT32_MAX : int32_t(side); }

// Puts a new buffer and size into the result layer, releasing what it held.
void InstallCanvas(NameNode* node, LayerRecord* r, ImageBuffer* pixels, int32_t width, int32_t height) {
  FreeImageBuffer(r->mPixels);
  r->mPixels = pixels;
  r->mWidth = width;
  r->mHeight = height;
  InvalidateLayer(node);
}

// Bounding box (left, top, right, bottom) of the pixels whose alpha is not 0; false when
// there are none.
bool OpaqueBox(const LayerRecord* r, int32_t box[4]) {
  box[0] = r->mWidth, box[1] = r->mHeight, box[2] = -1, box[3] = -1;
  for (int32_t y = 0; y < r->mHeight; y++) {
    const uint8_t* row = r->mPixels + size_t(y) * size_t(r->mWidth) * 4;
    for (int32_t x = 0; x < r->mWidth; x++) {
      if (row[x * 4 + 3] == 0) continue;
      if (x < box[0]) box[0] = x;
      if (x > box[2]) box[2] = x;
      if (y < box[1]) box[1] = y;
      box[3] = y;
    }
  }
  return box[2] >= 0;
}

}  // namespace

void CopyClippedRows(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     int32_t srcWidth, int32_t, int32_t left, int32_t top, int32_t dstWidth) {
  if (x1 < x0 || y1 < y0) return;
  size_t n = size_t(x1 - x0 + 1) * 4;
  size_t dx = size_t(left > 0 ? left : 0), dy = size_t(top > 0 ? top : 0);
  for (int32_t y = y0; y <= y1; y++)
    g_PixelKernels.copy(dst + ((dy + size_t(y - y0)) * size_t(dstWidth) + dx) * 4,
                        src + (size_t(y) * size_t(srcWidth) + size_t(x0)) * 4, n);
}

int TrimTransparentBorder(NameNode* layer, NameNode* destination, int32_t intoDestination, int32_t sides) {
  NameNode* resultNode = intoDestination ? destination : layer;
  LayerRecord* src = GetLayerRecord(layer);
  LayerRecord* out = GetLayerRecord(resultNode);
  if (!src || !out) return 0;
  InvalidateLayer(resultNode);
  if (!src->mPixels || src->mWidth < 1 || src->mHeight < 1) return 0;
  int32_t box[4];
  // A wholly transparent image has nothing to trim to, so it is kept whole.
  if (!OpaqueBox(src, box)) box[0] = 0, box[1] = 0, box[2] = src->mWidth - 1, box[3] = src->mHeight - 1;
  if (!(sides & 8)) box[1] = 0;
  if (!(sides & 4)) box[3] = src->mHeight - 1;
  if (!(sides & 2)) box[0] = 0;
  if (!(sides & 1)) box[2] = src->mWidth - 1;
  int32_t width = box[2] - box[0] + 1, height = box[3] - box[1] + 1;
  bool reuse = intoDestination && out->mPixels && out->mWidth == width && out->mHeight == height;
  ImageBuffer* pixels = reuse ? out->mPixels : AllocImageBuffer(nullptr, width, height, src->mFileName);
  if (!pixels) return -1;
  out->mHasAlpha = src->mHasAlpha;
  // A destination sharing the layer's buffer can only be reused with the whole image as the
  // box, which copies each row onto itself.
  CopyRect(pixels, src->mPixels, box[0], box[1], box[2], box[3], src->mWidth, src->mHeight, width);
  if (reuse) return 0;
  InstallCanvas(resultNode, out, pixels, width, height);
  return 0;
}

int ResizeCanvas(NameNode* layer, NameNode* destination, int32_t intoDestination, int64_t left, int64_t right,
                 int64_t top, int64_t bottom) {
  NameNode* resultNode = intoDestination ? destination : layer;
  LayerRecord* src = GetLayerRecord(layer);
  LayerRecord* out = GetLayerRecord(resultNode);
  if (!src || !out) return 0;
  InvalidateLayer(resultNode);
  if (!src->mPixels || src->mWidth < 1 || src->mHeight < 1) return 0;
  int32_t w = src->mWidth, h = src->mHeight;
  // Script amounts are any 64-bit values; their sums are taken exactly.
  __int128 newWidth = __int128(w) + left + right, newHeight = __int128(h) + top + bottom;
  if (newWidth <= 0 || newHeight <= 0) {
    ShowErrorBox("", "%s", ToCp932Text("リサイズ後のサイズが不正です。").c_str());
    return -1;
  }
  int32_t nw = SaturateSide(newWidth), nh = SaturateSide(newHeight);
  ImageBuffer* pixels = AllocImageBuffer(nullptr, nw, nh, src->mFileName);
  if (!pixels) return -1;
  g_PixelKernels.fillPixels(pixels, size_t(nw) * size_t(nh) * 4, g_TransparentFill);
  uint8_t hasAlpha = (left > 0 || right > 0 || top > 0 || bottom > 0) ? 1 : src->mHasAlpha;
  // The old image lands at (left, top) of the new canvas: the part of it inside the canvas
  // starts at source column max(-left, 0) and destination column max(left, 0) and runs as far
  // as both the image and the canvas reach (likewise for rows).
  int64_t sx = left < 0 ? (left < -int64_t(w) ? int64_t(w) : -left) : 0;
  int64_t sy = top < 0 ? (top < -int64_t(h) ? int64_t(h) : -top) : 0;
  int64_t dx = left > nw ? nw : (left > 0 ? left : 0);
  int64_t dy = top > nh ? nh : (top > 0 ? top : 0);
  int64_t cols = w - sx < nw - dx ? w - sx : nw - dx;
  int64_t rows = h - sy < nh - dy ? h - sy : nh - dy;
  if (cols > 0 && rows > 0)
    CopyClippedRows(pixels, src->mPixels, int32_t(sx), int32_t(sy), int32_t(sx + cols - 1), int32_t(sy + rows - 1),
                    w, h, int32_t(dx), int32_t(dy), nw);
  out->mHasAlpha = hasAlpha;
  InstallCanvas(resultNode, out, pixels, nw, nh);
  return 0;
}
