// The effect engine: picks the filter of an operation code, gives it a result buffer and
// installs the result in the layer itself or in a second layer; also the rectangle copies
// that carry a layer's properties and its E-mote player over to the second layer.
#include <cstring>

#include "app/engine.h"
#include "layers/image_filters.h"
#include "layers/image_filters_local.h"
#include "layers/layer.h"
#include "media/emote_player.h"

namespace {

// Threshold and the fills work on a whole image; every other filter makes a rectangle.
bool WorksOnWholeImage(int32_t code) {
  return code == FILTER_THRESHOLD || code == FILTER_FILL_1 || code == FILTER_FILL_2 ||
         code == FILTER_FILL_3;
}

bool IsKnownCode(int32_t code) {
  return (code >= FILTER_BRIGHTNESS && code <= FILTER_COLOUR_BALANCE) ||
         (code >= FILTER_THRESHOLD && code <= FILTER_NEGATIVE) || code == FILTER_SATURATION ||
         code == FILTER_FLIP_VERTICAL || code == FILTER_SEPIA || code == FILTER_SWIRL;
}

// The rectangle at the destination's top-left, one row copy each.
void CopyRectRows(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t srcWidth, int32_t dstWidth) {
  size_t bytes = size_t(x1 - x0 + 1) * 4;
  for (int32_t y = y0; y <= y1; y++)
    memcpy(PixelAddress(dst, dstWidth, 0, y - y0), PixelAddress(src, srcWidth, x0, y), bytes);
}

// Runs a rectangle filter from the layer's pixels into `dst` (rectangle-sized).
int RunRectFilter(int32_t code, uint8_t* dst, const LayerRecord* src, int32_t x0, int32_t y0,
                  int32_t x1, int32_t y1, int64_t a, int32_t b) {
  const uint8_t* s = src->mPixels;
  int32_t sw = src->mWidth, sh = src->mHeight, dw = x1 - x0 + 1, dh = y1 - y0 + 1;
  uint8_t alpha = src->mHasAlpha;
  switch (code) {
    case FILTER_BRIGHTNESS: return FilterBrightness(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_BOX_BLUR: return FilterBoxBlur(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, alpha);
    case FILTER_BLUR_HORIZONTAL: return FilterBlurHorizontal(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, alpha);
    case FILTER_BLUR_VERTICAL: return FilterBlurVertical(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, alpha);
    case FILTER_BLUR_TWO_PASS: return FilterBlurTwoPass(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, alpha);
    case FILTER_ALPHA_SHADOW: return FilterAlphaShadow(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_ALPHA_BLUR: return FilterAlphaBlur(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, alpha);
    case FILTER_COPY_WITH_PROPERTIES:
    case FILTER_COPY: CopyRectRows(dst, s, x0, y0, x1, y1, sw, dw); return 0;
    case FILTER_SHUFFLE: return FilterShuffle(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_MIRROR: return FilterMirror(dst, s, x0, y0, x1, y1, sw, sh, dw, dh);
    case FILTER_COLOUR_BALANCE: return FilterColourBalance(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_MOSAIC: return FilterMosaic(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_WAVE_HORIZONTAL: return FilterWave(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, b, 1);
    case FILTER_WAVE_VERTICAL: return FilterWave(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, b, 2);
    case FILTER_WAVE_BOTH: return FilterWave(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a, b, 3);
    case FILTER_NEGATIVE: return FilterNegative(dst, s, x0, y0, x1, y1, sw, sh, dw, dh);
    case FILTER_SATURATION: return FilterSaturation(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
    case FILTER_FLIP_VERTICAL: return FilterFlipVertical(dst, s, x0, y0, x1, y1, sw, sh, dw, dh);
    case FILTER_SEPIA: return FilterSepia(dst, s, x0, y0, x1, y1, sw, sh, dw, dh);
    case FILTER_SWIRL: return FilterSwirl(dst, s, x0, y0, x1, y1, sw, sh, dw, dh, a);
  }
  return 0;
}

// Threshold or fill over a whole image (the layer's own, or a copy of it). A fill's decision on
// the alpha flag goes to the flag of the record that receives the image.
void RunWholeImageFilter(int32_t code, uint8_t* pixels, int32_t width, int32_t height,
                         int32_t x0, int32_t y0, int32_t x1, int32_t y1, int64_t a, int32_t e,
                         uint8_t* hasAlpha) {
  if (code == FILTER_THRESHOLD) FilterThreshold(pixels, x0, y0, x1, y1, width, height, a);
  else FilterFillRect(pixels, x0, y0, x1, y1, width, height, a, e, hasAlpha);
}

void CopyName(char* dst, const char* src) {
  if (dst && src && dst != src) CopyTextBounded(dst, LAYER_NAME_BYTES, src);
}

// Everything that says where and how the layer is drawn, for the copy that keeps properties.
void CopyLayerProperties(LayerRecord* dst, const LayerRecord* src) {
  dst->mVisible = src->mVisible;
  dst->mOpacity = src->mOpacity;
  dst->mUserA = src->mUserA;
  dst->mUserB = src->mUserB;
  dst->mX = src->mX;
  dst->mY = src->mY;
  dst->mRuleProgress = src->mRuleProgress;
  dst->mEdgeSharpness = src->mEdgeSharpness;
  dst->mBlendMode = src->mBlendMode;
  dst->mHasAlpha = src->mHasAlpha;
  CopyName(dst->mMaskName, src->mMaskName);
  CopyName(dst->mSecondSourceName, src->mSecondSourceName);
  dst->mX100 = src->mX100;
  dst->mY100 = src->mY100;
  dst->mScaleX = src->mScaleX;
  dst->mScaleY = src->mScaleY;
  dst->mPivotX = src->mPivotX;
  dst->mPivotY = src->mPivotY;
  dst->mEmoteOffsetX = src->mEmoteOffsetX;
  dst->mEmoteOffsetY = src->mEmoteOffsetY;
  dst->mUserC = src->mUserC;
  memcpy(dst->mRotation, src->mRotation, sizeof dst->mRotation);
  dst->mSaturation = src->mSaturation;
  dst->mTone = src->mTone;
  dst->mUserByte = src->mUserByte;
  dst->mCrossFade = src->mCrossFade;
  FreeGifFrames(dst->mGifFrames);
  dst->mGifFrames = nullptr;
}

// An E-mote character goes with the copy: the destination takes the player, and the layer
// keeps a textured placeholder without one, so a second copy moves nothing.
void MoveEmotePlayer(int32_t code, LayerRecord* dst, LayerRecord* src) {
  if (src->mGpuKind != GPU_KIND_EMOTE || !src->mEmotePlayer || dst == src) return;
  if (dst->mEmotePlayer) ReleaseEmoteObject(dst);
  dst->mGpuKind = GPU_KIND_EMOTE;
  dst->mEmotePlayer = src->mEmotePlayer;
  CopyName(dst->mFileName, src->mFileName);
  for (LayerRecord*& slot : g_EmotePlayers)
    if (slot == src) slot = dst;
  src->mGpuKind = GPU_KIND_TEXTURED;
  src->mEmotePlayer = nullptr;
  if (src->mFileName) src->mFileName[0] = 0;
  if (code == FILTER_COPY) {
    dst->mEmoteFactor1 = dst->mEmoteFactor2 = dst->mEmoteFactor3 = 1.0f;
    dst->mEmoteEnabled = 1;
  }
  g_GpuRedrawRequest = 1;
}

int ApplyIntoDestination(int32_t code, NameNode* layer, NameNode* destination, int32_t x0,
                         int32_t y0, int32_t x1, int32_t y1, int64_t a, int32_t b, int32_t e) {
  LayerRecord* src = GetLayerRecord(layer);
  LayerRecord* dst = GetLayerRecord(destination);
  if (!dst) return 0;
  bool whole = WorksOnWholeImage(code);
  int32_t w = whole ? src->mWidth : x1 - x0 + 1;
  int32_t h = whole ? src->mHeight : y1 - y0 + 1;
  ImageBuffer* result = AllocImageBuffer(nullptr, w, h, "");
  if (!result) return -1;
  // The destination's alpha flag is decided below; a fill decides on its own copy, never on
  // the layer it was copied from.
  uint8_t hasAlpha = src->mHasAlpha;
  if (whole) {
    memcpy(result, src->mPixels, size_t(w) * size_t(h) * 4);
    RunWholeImageFilter(code, result, w, h, x0, y0, x1, y1, a, e, &hasAlpha);
  } else if (RunRectFilter(code, result, src, x0, y0, x1, y1, a, b) != 0) {
    FreeImageBuffer(result);
    return -1;
  }
  // Mark the old extent too, so a destination that shrank leaves nothing stale behind.
  InvalidateLayer(destination);
  FreeImageBuffer(dst->mPixels);
  dst->mPixels = result;
  dst->mWidth = w;
  dst->mHeight = h;
  InvalidateLayer(destination);
  if (code == FILTER_COPY_WITH_PROPERTIES && dst != src) CopyLayerProperties(dst, src);
  if (code == FILTER_COPY_WITH_PROPERTIES || code == FILTER_COPY) MoveEmotePlayer(code, dst, src);
  dst->mHasAlpha = hasAlpha;
  // The copy with properties may have moved the destination.
  if (code == FILTER_COPY_WITH_PROPERTIES) InvalidateLayer(destination);
  return 0;
}

int ApplyInPlace(int32_t code, NameNode* layer, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 int64_t a, int32_t b, int32_t e) {
  LayerRecord* r = GetLayerRecord(layer);
  if (WorksOnWholeImage(code)) {
    RunWholeImageFilter(code, r->mPixels, r->mWidth, r->mHeight, x0, y0, x1, y1, a, e, &r->mHasAlpha);
    InvalidateLayer(layer);
    return 0;
  }
  int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
  ImageBuffer* result = AllocImageBuffer(nullptr, w, h, "");
  if (!result) return -1;
  if (RunRectFilter(code, result, r, x0, y0, x1, y1, a, b) != 0) {
    FreeImageBuffer(result);
    return -1;
  }
  // The effect crops the layer to the rectangle: mark both the old and the new extent.
  InvalidateLayer(layer);
  FreeImageBuffer(r->mPixels);
  r->mPixels = result;
  r->mWidth = w;
  r->mHeight = h;
  InvalidateLayer(layer);
  return 0;
}

}  // namespace

int ApplyImageFilter(int32_t code, NameNode* layer, NameNode* destination, int32_t x0, int32_t y0,
                     int32_t x1, int32_t y1, int64_t a, int32_t b, int32_t intoDestination,
                     int32_t e) {
  LayerRecord* r = GetLayerRecord(layer);
  if (!r || !r->mPixels || r->mWidth < 1 || r->mHeight < 1 || !IsKnownCode(code)) return 0;
  // The caller clamps the rectangle; hold it to the image anyway, and an empty one does nothing.
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > r->mWidth - 1) x1 = r->mWidth - 1;
  if (y1 > r->mHeight - 1) y1 = r->mHeight - 1;
  if (x0 > x1 || y0 > y1) return 0;
  if (intoDestination) return ApplyIntoDestination(code, layer, destination, x0, y0, x1, y1, a, b, e);
  return ApplyInPlace(code, layer, x0, y0, x1, y1, a, b, e);
}
