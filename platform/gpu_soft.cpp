// The software GPU device: textures and render targets in memory, a quad rasteriser with the
// fixed texture stages, blend states and the built-in effect passes, in float arithmetic.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/gpu.h"

struct PlatGpuTexture {
  int width = 0, height = 0;
  int format = PLAT_GPU_FORMAT_ARGB8;
  bool renderTarget = false;
  uint32_t generation = 0;   // the device that made it
  std::vector<uint8_t> texels;   // B, G, R, A
};

namespace {

constexpr int MAX_SIDE = 4096;

struct Colour {
  float b, g, r, a;
};

struct Device {
  bool exists = false;
  uint32_t generation = 0;
  PlatGpuTexture backBuffer;
  PlatGpuTexture* target = nullptr;   // null: the back buffer
  PlatGpuTexture* stageTexture[3] = {};
  uint8_t filter[3][2] = {};          // mag, min per stage
  PlatGpuDrawState state{};
  PlatGpuEffect effect{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
};

Device g_Device;

// The states a fresh device starts with: texture times diffuse, alpha from the texture,
// the source replacing what lies below.
PlatGpuDrawState DefaultDrawState() {
  PlatGpuDrawState s{};
  s.stage[0] = {PLAT_TOP_MODULATE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE,
                PLAT_TA_CURRENT};
  s.stage[1] = {PLAT_TOP_DISABLE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_DISABLE, PLAT_TA_TEXTURE,
                PLAT_TA_CURRENT};
  s.textureFactor = 0xFFFFFFFF;
  s.srcBlend = PLAT_BLEND_ONE;
  s.destBlend = PLAT_BLEND_ZERO;
  s.blendOp = PLAT_BLENDOP_ADD;
  return s;
}

bool Usable(const PlatGpuTexture* t) { return t && t->generation == g_Device.generation && g_Device.exists; }
bool Drawing() { return g_Device.exists; }

Colour FromArgb(uint32_t v) {
  return {float(v & 0xFF) / 255.0f, float((v >> 8) & 0xFF) / 255.0f, float((v >> 16) & 0xFF) / 255.0f,
          float(v >> 24) / 255.0f};
}

Colour Texel(const PlatGpuTexture* t, int x, int y) {
  x = std::clamp(x, 0, t->width - 1);
  y = std::clamp(y, 0, t->height - 1);
  const uint8_t* p = t->texels.data() + ((size_t)y * t->width + x) * 4;
  return {p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f, p[3] / 255.0f};
}

Colour Lerp(const Colour& a, const Colour& b, float f) {
  return {a.b + (b.b - a.b) * f, a.g + (b.g - a.g) * f, a.r + (b.r - a.r) * f, a.a + (b.a - a.a) * f};
}

// Clamp addressing in both directions; texel centres lie at (i + 0.5) / size.
Colour Sample(const PlatGpuTexture* t, float u, float v, uint8_t filter) {
  float tx = u * t->width, ty = v * t->height;
  if (filter == PLAT_FILTER_POINT) return Texel(t, (int)std::floor(tx), (int)std::floor(ty));
  tx -= 0.5f;
  ty -= 0.5f;
  int x0 = (int)std::floor(tx), y0 = (int)std::floor(ty);
  float fx = tx - x0, fy = ty - y0;
  Colour top = Lerp(Texel(t, x0, y0), Texel(t, x0 + 1, y0), fx);
  Colour bottom = Lerp(Texel(t, x0, y0 + 1), Texel(t, x0 + 1, y0 + 1), fx);
  return Lerp(top, bottom, fy);
}

float Saturate(float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; }

Colour SaturateAll(Colour c) { return {Saturate(c.b), Saturate(c.g), Saturate(c.r), Saturate(c.a)}; }

struct PixelInput {
  Colour diffuse;
  float u, v;
};

Colour StageArg(uint8_t arg, const Colour& texture, bool hasTexture, const Colour& diffuse, const Colour& current) {
  switch (arg) {
    case PLAT_TA_TEXTURE: return hasTexture ? texture : current;
    case PLAT_TA_DIFFUSE: return diffuse;
    case PLAT_TA_TFACTOR: return FromArgb(g_Device.state.textureFactor);
    default: return current;
  }
}

float StageOp(uint8_t op, float a1, float a2, float currentAlpha) {
  switch (op) {
    case PLAT_TOP_SELECTARG1: return a1;
    case PLAT_TOP_MODULATE: return a1 * a2;
    case PLAT_TOP_BLENDCURRENTALPHA: return a1 * currentAlpha + a2 * (1.0f - currentAlpha);
    default: return a1;
  }
}

Colour RunStages(const PixelInput& in) {
  Colour current = in.diffuse;
  for (int s = 0; s < 2; s++) {
    const PlatGpuStage& st = g_Device.state.stage[s];
    if (st.colourOp == PLAT_TOP_DISABLE) break;
    const PlatGpuTexture* t = g_Device.stageTexture[s];
    Colour tex{};
    if (t) tex = Sample(t, in.u, in.v, g_Device.filter[s][0]);
    Colour c1 = StageArg(st.colourArg1, tex, t, in.diffuse, current);
    Colour c2 = StageArg(st.colourArg2, tex, t, in.diffuse, current);
    Colour next;
    next.b = StageOp(st.colourOp, c1.b, c2.b, current.a);
    next.g = StageOp(st.colourOp, c1.g, c2.g, current.a);
    next.r = StageOp(st.colourOp, c1.r, c2.r, current.a);
    if (st.alphaOp == PLAT_TOP_DISABLE) {
      next.a = current.a;
    } else {
      Colour a1 = StageArg(st.alphaArg1, tex, t, in.diffuse, current);
      Colour a2 = StageArg(st.alphaArg2, tex, t, in.diffuse, current);
      next.a = StageOp(st.alphaOp, a1.a, a2.a, current.a);
    }
    current = SaturateAll(next);
  }
  return current;
}

Colour EffectSample(int stage, float u, float v) {
  const PlatGpuTexture* t = g_Device.stageTexture[stage];
  return t ? Sample(t, u, v, PLAT_FILTER_LINEAR) : Colour{0, 0, 0, 0};
}

Colour RunEffect(const PixelInput& in) {
  const PlatGpuEffect& e = g_Device.effect;
  Colour s1 = EffectSample(0, in.u, in.v);
  Colour s2 = EffectSample(1, in.u, in.v);
  if (e.pass == PLAT_GPU_PASS_CROSSFADE) {
    Colour c = Lerp(s1, s2, e.fade);
    c.a *= e.alphaValue;
    return SaturateAll(c);
  }
  s1.a *= Saturate((e.fade - 0.5f * s2.r) * e.fade2) * e.alphaValue;
  return SaturateAll(s1);
}

float Factor(uint8_t f, float src, float srcAlpha, float dst) {
  switch (f) {
    case PLAT_BLEND_ZERO: return 0.0f;
    case PLAT_BLEND_ONE: return 1.0f;
    case PLAT_BLEND_SRCALPHA: return srcAlpha;
    case PLAT_BLEND_INVSRCALPHA: return 1.0f - srcAlpha;
    case PLAT_BLEND_SRCCOLOR: return src;
    case PLAT_BLEND_INVSRCCOLOR: return 1.0f - src;
    case PLAT_BLEND_DESTCOLOR: return dst;
    default: return 1.0f - dst;
  }
}

uint8_t BlendChannel(float src, float srcAlpha, uint8_t dstByte) {
  const PlatGpuDrawState& s = g_Device.state;
  float dst = dstByte / 255.0f, out;
  switch (s.blendOp) {
    case PLAT_BLENDOP_MIN: out = std::min(src, dst); break;
    case PLAT_BLENDOP_MAX: out = std::max(src, dst); break;
    case PLAT_BLENDOP_REVSUBTRACT:
      out = dst * Factor(s.destBlend, src, srcAlpha, dst) - src * Factor(s.srcBlend, src, srcAlpha, dst);
      break;
    default: out = src * Factor(s.srcBlend, src, srcAlpha, dst) + dst * Factor(s.destBlend, src, srcAlpha, dst); break;
  }
  return (uint8_t)std::lround(Saturate(out) * 255.0f);
}

PlatGpuTexture* Target() { return g_Device.target ? g_Device.target : &g_Device.backBuffer; }

void ShadePixel(PlatGpuTexture* target, int x, int y, const PixelInput& in) {
  Colour c = g_Device.effect.pass == PLAT_GPU_NO_PASS ? RunStages(in) : RunEffect(in);
  uint8_t* p = target->texels.data() + ((size_t)y * target->width + x) * 4;
  p[0] = BlendChannel(c.b, c.a, p[0]);
  p[1] = BlendChannel(c.g, c.a, p[1]);
  p[2] = BlendChannel(c.r, c.a, p[2]);
  p[3] = BlendChannel(c.a, c.a, p[3]);
}

// Edge function of a -> b at p; positive on the inside of a counter-clockwise triangle in
// screen coordinates once the winding is normalised.
double Edge(const PlatGpuVertex& a, const PlatGpuVertex& b, double px, double py) {
  return (double(b.x) - a.x) * (py - a.y) - (double(b.y) - a.y) * (px - a.x);
}

// Top-left rule: a pixel centre on an edge belongs to the triangle when the edge is a top edge
// (horizontal, the triangle below it) or a left edge.
bool OwnsEdge(const PlatGpuVertex& a, const PlatGpuVertex& b) {
  double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  return (dy == 0.0 && dx > 0.0) || dy < 0.0;
}

void DrawTriangle(PlatGpuVertex a, PlatGpuVertex b, PlatGpuVertex c) {
  double area = Edge(a, b, c.x, c.y);
  if (area == 0.0 || !std::isfinite(area)) return;
  if (area < 0.0) {
    std::swap(b, c);
    area = -area;
  }
  PlatGpuTexture* target = Target();
  double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
  double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
  int x0 = (int)std::max(0.0, std::ceil(std::max(minX, -1.0))), x1 = (int)std::min(double(target->width - 1), std::floor(std::min(maxX, 1e7)));
  int y0 = (int)std::max(0.0, std::ceil(std::max(minY, -1.0))), y1 = (int)std::min(double(target->height - 1), std::floor(std::min(maxY, 1e7)));
  bool ownBC = OwnsEdge(b, c), ownCA = OwnsEdge(c, a), ownAB = OwnsEdge(a, b);
  Colour da = FromArgb(a.diffuse), db = FromArgb(b.diffuse), dc = FromArgb(c.diffuse);
  for (int y = y0; y <= y1; y++) {
    for (int x = x0; x <= x1; x++) {
      double w0 = Edge(b, c, x, y), w1 = Edge(c, a, x, y), w2 = Edge(a, b, x, y);
      if (w0 < 0 || w1 < 0 || w2 < 0) continue;
      if ((w0 == 0 && !ownBC) || (w1 == 0 && !ownCA) || (w2 == 0 && !ownAB)) continue;
      float l0 = float(w0 / area), l1 = float(w1 / area), l2 = float(w2 / area);
      PixelInput in;
      in.u = a.u * l0 + b.u * l1 + c.u * l2;
      in.v = a.v * l0 + b.v * l1 + c.v * l2;
      in.diffuse = {da.b * l0 + db.b * l1 + dc.b * l2, da.g * l0 + db.g * l1 + dc.g * l2,
                    da.r * l0 + db.r * l1 + dc.r * l2, da.a * l0 + db.a * l1 + dc.a * l2};
      ShadePixel(target, x, y, in);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The slots.

void SoftReleaseDevice() {
  g_Device.exists = false;
  g_Device.backBuffer.texels = std::vector<uint8_t>();
  g_Device.target = nullptr;
  for (PlatGpuTexture*& t : g_Device.stageTexture) t = nullptr;
}

bool SoftCreateDevice(int width, int height, PlatGpuCaps* caps) {
  SoftReleaseDevice();
  if (width < 1 || height < 1 || width > 8192 || height > 8192) return false;
  g_Device.generation++;
  g_Device.backBuffer.width = width;
  g_Device.backBuffer.height = height;
  g_Device.backBuffer.renderTarget = true;
  g_Device.backBuffer.generation = g_Device.generation;
  g_Device.backBuffer.texels.assign((size_t)width * height * 4, 0);
  g_Device.state = DefaultDrawState();
  g_Device.effect = PlatGpuEffect{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
  memset(g_Device.filter, PLAT_FILTER_POINT, sizeof g_Device.filter);
  g_Device.exists = true;
  *caps = PlatGpuCaps{MAX_SIDE, MAX_SIDE, 30};
  return true;
}

int SoftTestDevice() { return g_Device.exists ? PLAT_GPU_READY : PLAT_GPU_NO_DEVICE; }

PlatGpuTexture* SoftCreateTexture(int width, int height, int format, bool renderTarget) {
  if (!Drawing() || width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE) return nullptr;
  PlatGpuTexture* t = new PlatGpuTexture;
  t->width = width;
  t->height = height;
  t->format = format == PLAT_GPU_FORMAT_ARGB4 ? PLAT_GPU_FORMAT_ARGB4 : PLAT_GPU_FORMAT_ARGB8;
  t->renderTarget = renderTarget;
  t->generation = g_Device.generation;
  t->texels.assign((size_t)width * height * 4, 0);
  return t;
}

void SoftReleaseTexture(PlatGpuTexture* t) {
  if (!t) return;
  if (g_Device.target == t) g_Device.target = nullptr;
  for (PlatGpuTexture*& s : g_Device.stageTexture)
    if (s == t) s = nullptr;
  delete t;
}

bool SoftWriteTexture(PlatGpuTexture* t, const uint8_t* bgra, int pitch, bool dither) {
  if (!Usable(t) || !bgra || pitch < t->width * 4) return false;
  for (int y = 0; y < t->height; y++)
    memcpy(t->texels.data() + (size_t)y * t->width * 4, bgra + (size_t)y * pitch, (size_t)t->width * 4);
  if (t->format == PLAT_GPU_FORMAT_ARGB4) PlatGpuQuantizeTo4Bits(t->texels.data(), t->width, t->height, dither);
  return true;
}

bool SoftSetRenderTarget(PlatGpuTexture* t) {
  if (!g_Device.exists) return false;
  if (t && (!Usable(t) || !t->renderTarget)) return false;
  g_Device.target = t;
  return true;
}

void SoftClear(uint32_t argb) {
  if (!Drawing()) return;
  PlatGpuTexture* t = Target();
  uint8_t px[4] = {uint8_t(argb), uint8_t(argb >> 8), uint8_t(argb >> 16), uint8_t(argb >> 24)};
  for (size_t i = 0; i < t->texels.size(); i += 4) memcpy(t->texels.data() + i, px, 4);
}

bool SoftSetTexture(int stage, PlatGpuTexture* t) {
  if (stage < 0 || stage > 2 || !g_Device.exists) return false;
  if (t && !Usable(t)) return false;
  g_Device.stageTexture[stage] = t;
  return true;
}

void SoftSetSamplerFilter(int stage, uint8_t mag, uint8_t min) {
  if (stage < 0 || stage > 2) return;
  g_Device.filter[stage][0] = mag == PLAT_FILTER_POINT ? PLAT_FILTER_POINT : PLAT_FILTER_LINEAR;
  g_Device.filter[stage][1] = min == PLAT_FILTER_POINT ? PLAT_FILTER_POINT : PLAT_FILTER_LINEAR;
}

void SoftSetDrawState(const PlatGpuDrawState* s) { g_Device.state = *s; }
void SoftGetDrawState(PlatGpuDrawState* s) { *s = g_Device.state; }
void SoftSetEffect(const PlatGpuEffect* e) { g_Device.effect = *e; }

bool SoftDrawQuad(const PlatGpuVertex* v) {
  if (!g_Device.exists) return false;
  DrawTriangle(v[0], v[1], v[2]);
  DrawTriangle(v[1], v[2], v[3]);
  return true;
}

bool SoftReadBack(PlatGpuTexture* target, uint8_t* bgra, int width, int height, int pitch) {
  if (!Drawing() || !bgra) return false;
  const PlatGpuTexture* t = target ? target : &g_Device.backBuffer;
  if (target && (!Usable(target) || !target->renderTarget)) return false;
  if (width < 0 || height < 0 || width > t->width || height > t->height || pitch < width * 4) return false;
  for (int y = 0; y < height; y++)
    memcpy(bgra + (size_t)y * pitch, t->texels.data() + (size_t)y * t->width * 4, (size_t)width * 4);
  return true;
}

}  // namespace

PlatGpuDriver g_SoftwareGpu = {
    "software",       SoftCreateDevice, SoftReleaseDevice, SoftTestDevice,       SoftCreateTexture,
    SoftReleaseTexture, SoftWriteTexture, SoftSetRenderTarget, SoftClear,          SoftSetTexture,
    SoftSetSamplerFilter, SoftSetDrawState, SoftGetDrawState, SoftSetEffect,      SoftDrawQuad,
    SoftReadBack,
};

// 4 bits a channel, rounded to the nearest level; with dithering the error moves on to the
// right and the next row (Floyd and Steinberg's weights).
void PlatGpuQuantizeTo4Bits(uint8_t* bgra, int width, int height, bool dither) {
  int w = width;
  std::vector<float> error(dither ? (size_t)(w + 2) * 2 * 4 : 0, 0.0f);
  for (int y = 0; y < height; y++) {
    float* here = dither ? error.data() + (size_t)(y & 1) * (w + 2) * 4 : nullptr;
    float* below = dither ? error.data() + (size_t)((y + 1) & 1) * (w + 2) * 4 : nullptr;
    if (dither) std::fill(below, below + (size_t)(w + 2) * 4, 0.0f);
    for (int x = 0; x < w; x++) {
      uint8_t* p = bgra + ((size_t)y * w + x) * 4;
      for (int c = 0; c < 4; c++) {
        float want = p[c] + (dither ? here[(x + 1) * 4 + c] : 0.0f);
        int level = std::clamp((int)std::lround(want / 17.0f), 0, 15);
        p[c] = (uint8_t)(level * 17);
        if (!dither) continue;
        float e = want - p[c];
        here[(x + 2) * 4 + c] += e * 7 / 16;
        below[x * 4 + c] += e * 3 / 16;
        below[(x + 1) * 4 + c] += e * 5 / 16;
        below[(x + 2) * 4 + c] += e * 1 / 16;
      }
    }
  }
}
