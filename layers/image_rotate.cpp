// Turning a layer's image about its centre: the two rotation routines and the layer operation.
#include <cmath>
#include <cstring>

#include "app/engine.h"
#include "layers/image_scale.h"
#include "layers/layer.h"
#include "render/render.h"

namespace {

enum : int32_t { METHOD_ROTATE_CLEAR = 11, METHOD_ROTATE_OVER = 12 };

// What a rotation does with the destination pixels whose source lies outside the picture.
enum class Outside { CLEAR, KEEP };

int64_t ReduceAngle(int64_t angle) {
  int64_t a = angle % 360;
  return a < 0 ? a + 360 : a;
}

// Destination (x, y) shows source (sx, sy) with sx = (cx * 65536 + C * (x - cx) - S * (y - cy))
// / 65536 and sy = (cy * 65536 + S * (x - cx) + C * (y - cy)) / 65536, truncating toward zero,
// so a positive angle turns the picture counter-clockwise on screen. Both numerators move by a
// constant along a row, so the pixels whose source lies inside the picture form one span per
// row; only those are drawn, and the rest are cleared or kept.
void Rotate(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int64_t angle, Outside outside) {
  if (!dst || !src || width < 1 || height < 1) return;
  size_t rowBytes = (size_t)width * 4;
  int64_t a = ReduceAngle(angle);
  if (a == 0) {
    memcpy(dst, src, rowBytes * height);
    return;
  }
  if (a == 180) {
    for (int32_t y = 0; y < height; y++) {
      const uint8_t* in = src + (size_t)(height - 1 - y) * rowBytes;
      uint8_t* out = dst + (size_t)y * rowBytes;
      for (int32_t x = 0; x < width; x++) memcpy(out + (size_t)x * 4, in + (size_t)(width - 1 - x) * 4, 4);
    }
    return;
  }
  // The quarter turns clear the sides with either method.
  bool clear = outside == Outside::CLEAR || a == 90 || a == 270;
  double theta = (double)a * 3.1415926535 / 180.0;
  int64_t c = (int64_t)(65536.0 * cos(theta));
  int64_t s = (int64_t)(65536.0 * sin(theta));
  int64_t cx = width / 2, cy = height / 2;
  const int64_t limitX = (int64_t)width * 65536, limitY = (int64_t)height * 65536;
  for (int32_t y = 0; y < height; y++) {
    uint8_t* out = dst + (size_t)y * rowBytes;
    int64_t nx = cx * 65536 - c * cx - s * (y - cy);
    int64_t ny = cy * 65536 - s * cx + c * (y - cy);
    for (int32_t x = 0; x < width; x++, nx += c, ny += s) {
      // Truncation toward zero maps -65535..-1 to 0 as well, hence the open lower bound.
      bool inside = nx > -65536 && nx < limitX && ny > -65536 && ny < limitY;
      if (inside) {
        int64_t sx = nx / 65536, sy = ny / 65536;
        memcpy(out + (size_t)x * 4, src + ((size_t)sy * width + (size_t)sx) * 4, 4);
      } else if (clear) {
        memset(out + (size_t)x * 4, 0, 4);
      }
    }
  }
}

}  // namespace

void RotateImageMethod1(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int64_t angle) {
  Rotate(dst, src, width, height, angle, Outside::CLEAR);
}

void RotateImageMethod2(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int64_t angle) {
  Rotate(dst, src, width, height, angle, Outside::KEEP);
}

int RotateLayerImage(NameNode* first, NameNode* second, int32_t, int32_t, int32_t, int32_t, int64_t angle,
                     int32_t intoSecond, int32_t method) {
  LayerRecord* source = GetLayerRecord(first);
  if (!source || !source->mPixels || source->mWidth < 1 || source->mHeight < 1) return -1;
  NameNode* outNode = intoSecond ? second : first;
  LayerRecord* out = GetLayerRecord(outNode);
  if (!out) return -1;
  int32_t w = source->mWidth, h = source->mHeight;
  size_t bytes = (size_t)w * h * 4;
  bool reuse = intoSecond && out->mWidth == w && out->mHeight == h && out->mPixels;
  uint8_t* target = reuse ? out->mPixels : AllocImageBuffer(nullptr, w, h, source->mFileName);
  if (!target) return -1;
  // A fresh buffer has no old pixels for the second method to keep: it starts cleared.
  if (!reuse) memset(target, 0, bytes);
  // Turning a buffer into itself would read pixels already overwritten: read from a copy.
  uint8_t* copy = nullptr;
  const uint8_t* from = source->mPixels;
  if (target == source->mPixels) {
    copy = AllocImageBuffer(nullptr, w, h, source->mFileName);
    if (!copy) return -1;
    memcpy(copy, source->mPixels, bytes);
    from = copy;
  }
  if (method == METHOD_ROTATE_CLEAR) RotateImageMethod1(target, from, w, h, angle);
  if (method == METHOD_ROTATE_OVER) RotateImageMethod2(target, from, w, h, angle);
  FreeImageBuffer(copy);
  // The old picture's area needs redrawing too when the second layer changes size.
  InvalidateLayer(outNode);
  if (!reuse) {
    FreeImageBuffer(out->mPixels);
    out->mPixels = target;
    out->mWidth = w;
    out->mHeight = h;
  }
  out->mHasAlpha = angle % 180 == 0 ? source->mHasAlpha : 1;
  InvalidateLayer(outNode);
  return 0;
}
