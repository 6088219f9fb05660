// Composing one layer's pixels into another's: laying over, cross-fades, rule wipes and the
// pixel-exact comparisons, all row by row through the pixel kernels on the calling thread.
#include "layers/compose_ops.h"

#include <cstdlib>
#include <cstring>

#include "layers/blend_tables.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"

namespace {

// A source's pixels as an operation reads them. When the source shares its buffer with the
// target, the rows would be read after the same operation wrote them (shifted by the
// placement), so such a source is read from a private copy taken first.
struct SourcePixels {
  const uint8_t* mPixels = nullptr;
  uint8_t* mCopy = nullptr;
  ~SourcePixels() { free(mCopy); }
};

bool TakeSource(SourcePixels* out, const LayerRecord* source, const LayerRecord* target) {
  out->mPixels = source->mPixels;
  if (source->mPixels != target->mPixels) return true;
  size_t bytes = size_t(source->mWidth) * size_t(source->mHeight) * 4;
  out->mCopy = static_cast<uint8_t*>(malloc(bytes + 4));
  if (!out->mCopy) return false;
  memcpy(out->mCopy, source->mPixels, bytes);
  out->mPixels = out->mCopy;
  return true;
}

bool HasImage(const LayerRecord* r) { return r && r->mPixels && r->mWidth > 0 && r->mHeight > 0; }

uint8_t* TargetRow(const LayerRecord* t, const ClipResult& c, int32_t i) {
  return t->mPixels + (size_t(c.mDestY + i) * size_t(t->mWidth) + size_t(c.mDestX)) * 4;
}

const uint8_t* SourceRow(const uint8_t* pixels, int32_t width, const ClipResult& c, int32_t i) {
  return pixels + (size_t(c.mSourceY + i) * size_t(width) + size_t(c.mSourceX)) * 4;
}

// Narrows a clip so that an extra image read at the first source's coordinates stays inside
// itself (callers pass images at least as large; a smaller one is cut rather than overrun).
void ClipToExtraSource(ClipResult* c, const LayerRecord* extra) {
  if (extra->mWidth - c->mSourceX < c->mWidth) c->mWidth = extra->mWidth - c->mSourceX;
  if (extra->mHeight - c->mSourceY < c->mHeight) c->mHeight = extra->mHeight - c->mSourceY;
}

bool Overlaps(const ClipResult& c) { return c.mWidth > 0 && c.mHeight > 0; }

uint32_t ReadPixel(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The shared body of ComposeLayerOnto and ComposeOntoAlpha: rows of one kernel call each.
template <typename Row>
int ComposeRows(LayerRecord* s, LayerRecord* t, int64_t x, int64_t y, Row row) {
  if (!HasImage(s) || !HasImage(t)) return 0;
  ClipResult c = ClipComposeRect(t, s, x, y);
  if (!Overlaps(c)) return 0;
  SourcePixels src;
  if (!TakeSource(&src, s, t)) return 0;
  size_t n = size_t(c.mWidth) * 4;
  for (int32_t i = 0; i < c.mHeight; i++) row(TargetRow(t, c, i), SourceRow(src.mPixels, s->mWidth, c, i), n);
  return 0;
}

// KeepDifferences and KeepMatches: each overlapping target pixel against the source pixel.
int ComparePixels(NameNode* source, NameNode* target, int64_t x, int64_t y, bool keepDifferences) {
  LayerRecord* s = GetLayerRecord(source);
  LayerRecord* t = GetLayerRecord(target);
  if (!t) return 0;
  t->mHasAlpha = 1;
  if (!HasImage(s) || !HasImage(t)) return 0;
  ClipResult c = ClipComposeRect(t, s, x, y);
  if (!Overlaps(c)) return 0;
  SourcePixels src;
  if (!TakeSource(&src, s, t)) return 0;
  for (int32_t i = 0; i < c.mHeight; i++) {
    uint8_t* d = TargetRow(t, c, i);
    const uint8_t* sr = SourceRow(src.mPixels, s->mWidth, c, i);
    for (int32_t j = 0; j < c.mWidth; j++, d += 4, sr += 4) {
      uint32_t sp = ReadPixel(sr);
      bool equal = ReadPixel(d) == sp;
      uint32_t out = keepDifferences ? (equal ? 0 : sp) : (equal ? ReadPixel(d) : 0);
      for (int k = 0; k < 4; k++) d[k] = uint8_t(out >> (8 * k));
    }
  }
  return 0;
}

// Copies rows of one source into the target over the clip (progress at either end of a wipe).
void CopySourceRows(LayerRecord* t, const uint8_t* pixels, int32_t width, const ClipResult& c) {
  size_t n = size_t(c.mWidth) * 4;
  for (int32_t i = 0; i < c.mHeight; i++) g_PixelKernels.copy(TargetRow(t, c, i), SourceRow(pixels, width, c, i), n);
}

}  // namespace

ClipResult ClipComposeRect(const LayerRecord* target, const LayerRecord* source, int64_t x, int64_t y) {
  const int64_t bounds[4] = {0, 0, int64_t(target->mWidth) - 1, int64_t(target->mHeight) - 1};
  return ClipRectToArea(x, y, source->mWidth, source->mHeight, bounds);
}

int ComposeLayerOnto(NameNode* source, NameNode* target, int64_t x, int64_t y) {
  LayerRecord* s = GetLayerRecord(source);
  LayerRecord* t = GetLayerRecord(target);
  if (!s || !t || s->mOpacity <= 0) return 0;
  t->mHasAlpha = 1;
  if (s->mOpacity >= 256)
    return ComposeRows(s, t, x, y, [](uint8_t* d, const uint8_t* sr, size_t n) { g_PixelKernels.composeOverAlpha(d, sr, n); });
  int32_t op = s->mOpacity;
  return ComposeRows(s, t, x, y, [op](uint8_t* d, const uint8_t* sr, size_t n) {
    g_PixelKernels.composeOverAlphaOpacity(d, sr, op, n);
  });
}

int ComposeOntoAlpha(NameNode* source, NameNode* target, int64_t x, int64_t y) {
  LayerRecord* s = GetLayerRecord(source);
  LayerRecord* t = GetLayerRecord(target);
  if (!s || !t) return 0;
  t->mHasAlpha = 1;
  int32_t factor = ClampOpacity(t->mOpacity);
  if (s->mOpacity >= 256) {
    return ComposeRows(s, t, x, y, [factor](uint8_t* d, const uint8_t* sr, size_t n) {
      g_PixelKernels.composeOverScaledAlpha(d, sr, factor, n);
    });
  }
  int32_t op = ClampOpacity(s->mOpacity);
  return ComposeRows(s, t, x, y, [factor, op](uint8_t* d, const uint8_t* sr, size_t n) {
    g_PixelKernels.composeOverAlphaTwoFactor(d, sr, factor, op, n);
  });
}

int ComposeThroughMask(NameNode* source1, NameNode* source2, NameNode* target, int64_t x, int64_t y,
                       int64_t weight) {
  LayerRecord* s1 = GetLayerRecord(source1);
  LayerRecord* s2 = GetLayerRecord(source2);
  LayerRecord* t = GetLayerRecord(target);
  if (!t) return 0;
  t->mHasAlpha = 1;
  if (!HasImage(s1) || !HasImage(s2) || !HasImage(t)) return 0;
  // A negative weight would leave the kernel's 0..256 range; it fades as little as 0 does.
  int32_t a = int32_t((weight < 0 ? 0 : weight > 255 ? 255 : weight) + 1);
  ClipResult c = ClipComposeRect(t, s1, x, y);
  ClipToExtraSource(&c, s2);
  if (!Overlaps(c)) return 0;
  SourcePixels p1, p2;
  if (!TakeSource(&p1, s1, t) || !TakeSource(&p2, s2, t)) return 0;
  size_t n = size_t(c.mWidth) * 4;
  for (int32_t i = 0; i < c.mHeight; i++)
    g_PixelKernels.crossFadeTwo(TargetRow(t, c, i), SourceRow(p1.mPixels, s1->mWidth, c, i),
                                SourceRow(p2.mPixels, s2->mWidth, c, i), a, n);
  return 0;
}

void BuildRuleWeights(int32_t a, int32_t v) {
  for (int32_t i = 0; i < 256; i++) {
    if (v == 256) {
      g_RuleWeights[i] = i >= 256 - a ? 256 : 0;
      continue;
    }
    // Any sharpness a script gives is accepted, so the sum wraps in 32 bits as a plain int
    // sum would, without the undefined overflow.
    uint32_t w = uint32_t(int32_t(uint32_t(i) * uint32_t(v)) >> 1) + uint32_t(v >> 1) * uint32_t(a) -
                 128u * uint32_t(v) + uint32_t(a);
    int32_t sw = int32_t(w);
    g_RuleWeights[i] = (sw < 255 ? sw : 255) + 1;
  }
}

void RuleTransitionRow(const uint8_t* source1, const uint8_t* source2, const uint8_t* rule, uint8_t* target,
                       int32_t, int32_t, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = g_RuleWeights[rule[p]];
    if (w <= 1) {
      memcpy(target + p, source2 + p, 4);
      continue;
    }
    for (int k = 0; k < 4; k++) {
      int32_t s1 = source1[p + k], s2 = source2[p + k];
      target[p + k] = uint8_t(s2 - (((s2 - s1) * w) >> 8));
    }
  }
}

int RuleTransition(NameNode* source1, NameNode* source2, NameNode* rule, NameNode* target, int64_t x,
                   int64_t y, int64_t progress, int32_t sharpness) {
  LayerRecord* s1 = GetLayerRecord(source1);
  LayerRecord* s2 = GetLayerRecord(source2);
  LayerRecord* r = GetLayerRecord(rule);
  LayerRecord* t = GetLayerRecord(target);
  if (!t) return 0;
  t->mHasAlpha = 1;
  // The first source's size places the wipe even at the far end, where only source 2 is read.
  if (!HasImage(t) || !s1) return 0;
  ClipResult c = ClipComposeRect(t, s1, x, y);
  if (progress <= 0) {
    if (!HasImage(s1) || !Overlaps(c)) return 0;
    SourcePixels p1;
    if (TakeSource(&p1, s1, t)) CopySourceRows(t, p1.mPixels, s1->mWidth, c);
    return 0;
  }
  int32_t q = 256 - int32_t(progress < 255 ? progress : 255);
  if (!HasImage(s2)) return 0;
  ClipToExtraSource(&c, s2);
  if (q <= 1) {
    if (!Overlaps(c)) return 0;
    SourcePixels p2;
    if (TakeSource(&p2, s2, t)) CopySourceRows(t, p2.mPixels, s2->mWidth, c);
    return 0;
  }
  if (!HasImage(s1) || !HasImage(r)) return 0;
  ClipToExtraSource(&c, r);
  if (!Overlaps(c)) return 0;
  SourcePixels p1, p2, pr;
  if (!TakeSource(&p1, s1, t) || !TakeSource(&p2, s2, t) || !TakeSource(&pr, r, t)) return 0;
  BuildRuleWeights(q, sharpness);
  size_t n = size_t(c.mWidth) * 4;
  for (int32_t i = 0; i < c.mHeight; i++)
    RuleTransitionRow(SourceRow(p1.mPixels, s1->mWidth, c, i), SourceRow(p2.mPixels, s2->mWidth, c, i),
                      SourceRow(pr.mPixels, r->mWidth, c, i), TargetRow(t, c, i), q, sharpness, n);
  return 0;
}

int KeepDifferences(NameNode* source, NameNode* target, int64_t x, int64_t y) {
  return ComparePixels(source, target, x, y, true);
}

int KeepMatches(NameNode* source, NameNode* target, int64_t x, int64_t y) {
  return ComparePixels(source, target, x, y, false);
}

void CopyRect(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              int32_t srcWidth, int32_t, int32_t dstWidth) {
  if (x1 < x0 || y1 < y0) return;
  size_t n = size_t(x1 - x0 + 1) * 4;
  for (int32_t y = y0; y <= y1; y++)
    g_PixelKernels.copy(dst + size_t(y - y0) * size_t(dstWidth) * 4,
                        src + (size_t(y) * size_t(srcWidth) + size_t(x0)) * 4, n);
}
