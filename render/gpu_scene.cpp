// The GPU scene: the textured layers of the main window drawn as quads into the back buffer
// and read back into the offscreen layer; device loss and the reset; the scene capture.
#include <cmath>

#include "app/window.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "render/gpu.h"
#include "render/gpu_local.h"
#include "render/render.h"

namespace {

bool IsEmoteLayer(const LayerRecord* r) { return r->mGpuKind == GPU_KIND_EMOTE && g_EmoteAvailable; }

NameNode* MainRootLayer() { return g_WindowRecords[0] ? g_WindowRecords[0]->mRootLayer : nullptr; }

// The signed fractional part, in steps of 1/65536.
float Fraction(float a) { return std::trunc((a - std::trunc(a)) * 65536.0f) / 65536.0f; }

// Modes whose diffuse colour carries the opacity; the others draw with opaque black.
bool DiffuseCarriesOpacity(int mode) {
  switch (mode) {
    case 0: case 1: case 2: case 3: case 5: case 6: case 7: case 9: case 98: case 100: return true;
    default: return false;
  }
}

constexpr PlatGpuStage Stage(uint8_t colourOp, uint8_t c1, uint8_t c2, uint8_t alphaOp, uint8_t a1, uint8_t a2) {
  return PlatGpuStage{colourOp, c1, c2, alphaOp, a1, a2};
}
constexpr PlatGpuStage kStageOff = Stage(PLAT_TOP_DISABLE, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_DISABLE,
                                         PLAT_TA_TEXTURE, PLAT_TA_CURRENT);
constexpr PlatGpuStage kModulateTexDiffuse = Stage(PLAT_TOP_MODULATE, PLAT_TA_TEXTURE, PLAT_TA_DIFFUSE,
                                                   PLAT_TOP_MODULATE, PLAT_TA_TEXTURE, PLAT_TA_DIFFUSE);
constexpr PlatGpuStage kModulateDiffuseTex = Stage(PLAT_TOP_MODULATE, PLAT_TA_DIFFUSE, PLAT_TA_TEXTURE,
                                                   PLAT_TOP_MODULATE, PLAT_TA_DIFFUSE, PLAT_TA_TEXTURE);

// Sets the blend states of a mode. Modes without states of their own leave the previous
// draw's states in force.
bool SetBlendStates(PlatGpuDriver* gpu, int mode, int32_t o) {
  PlatGpuDrawState s;
  gpu->GetDrawState(&s);
  auto blend = [&s](uint8_t src, uint8_t dst, uint8_t op) {
    s.srcBlend = src;
    s.destBlend = dst;
    s.blendOp = op;
  };
  switch (mode) {
    case 0:
      s.textureFactor = uint32_t(o) << 24;
      s.stage[0] = Stage(PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_MODULATE, PLAT_TA_TEXTURE,
                         PLAT_TA_TFACTOR);
      s.stage[1] = Stage(PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_DISABLE, PLAT_TA_TEXTURE,
                         PLAT_TA_TFACTOR);
      blend(PLAT_BLEND_SRCALPHA, PLAT_BLEND_INVSRCALPHA, PLAT_BLENDOP_ADD);
      break;
    case 1:
      s.stage[0] = Stage(PLAT_TOP_SELECTARG1, PLAT_TA_TEXTURE, PLAT_TA_CURRENT, PLAT_TOP_MODULATE, PLAT_TA_TEXTURE,
                         PLAT_TA_DIFFUSE);
      s.stage[1] = kStageOff;
      blend(PLAT_BLEND_SRCALPHA, PLAT_BLEND_ONE, PLAT_BLENDOP_ADD);
      break;
    case 2:
      s.stage[0] = kModulateDiffuseTex;
      s.stage[1] = kStageOff;
      blend(PLAT_BLEND_SRCALPHA, PLAT_BLEND_ONE, PLAT_BLENDOP_REVSUBTRACT);
      break;
    case 3:
      if (!gpu->SetTexture(1, g_D3D.mWhiteTexture)) return false;
      s.textureFactor = 0xFFFFFFFF;
      s.stage[0] = kModulateDiffuseTex;
      s.stage[1] = Stage(PLAT_TOP_BLENDCURRENTALPHA, PLAT_TA_CURRENT, PLAT_TA_TEXTURE, PLAT_TOP_SELECTARG1,
                         PLAT_TA_CURRENT, PLAT_TA_TEXTURE);
      blend(PLAT_BLEND_ZERO, PLAT_BLEND_SRCCOLOR, PLAT_BLENDOP_ADD);
      break;
    case 5:
      if (!gpu->SetTexture(1, g_D3D.mBlackTexture)) return false;
      s.stage[0] = kModulateTexDiffuse;
      s.stage[1] = Stage(PLAT_TOP_BLENDCURRENTALPHA, PLAT_TA_CURRENT, PLAT_TA_TEXTURE, PLAT_TOP_SELECTARG1,
                         PLAT_TA_CURRENT, PLAT_TA_TEXTURE);
      blend(PLAT_BLEND_INVDESTCOLOR, PLAT_BLEND_ONE, PLAT_BLENDOP_ADD);
      break;
    case 6:
      s.stage[0] = kModulateTexDiffuse;
      s.stage[1] = kStageOff;
      blend(PLAT_BLEND_ONE, PLAT_BLEND_ONE, PLAT_BLENDOP_MAX);
      break;
    case 7:
      s.textureFactor = 0xFFFFFFFF;
      s.stage[0] = kModulateTexDiffuse;
      s.stage[1] = Stage(PLAT_TOP_BLENDCURRENTALPHA, PLAT_TA_CURRENT, PLAT_TA_TFACTOR, PLAT_TOP_SELECTARG1,
                         PLAT_TA_CURRENT, PLAT_TA_TFACTOR);
      blend(PLAT_BLEND_ONE, PLAT_BLEND_ONE, PLAT_BLENDOP_MIN);
      break;
    case 9:
      s.stage[0] = kModulateTexDiffuse;
      s.stage[1] = kStageOff;
      blend(PLAT_BLEND_INVDESTCOLOR, PLAT_BLEND_INVSRCCOLOR, PLAT_BLENDOP_ADD);
      break;
    default:
      return true;
  }
  gpu->SetDrawState(&s);
  return true;
}

// Rotates a corner by yaw (about y), pitch (about x) and roll (about z), roll first.
void RotateCorner(D3DVertex* v, float yaw, float pitch, float roll) {
  float x = v->mX, y = v->mY, z = v->mZ;
  float cr = std::cos(roll), sr = std::sin(roll);
  float x1 = x * cr - y * sr, y1 = x * sr + y * cr;
  float cp = std::cos(pitch), sp = std::sin(pitch);
  float y2 = y1 * cp - z * sp, z2 = y1 * sp + z * cp;
  float cy = std::cos(yaw), sy = std::sin(yaw);
  v->mX = x1 * cy + z2 * sy;
  v->mY = y2;
  v->mZ = -x1 * sy + z2 * cy;
}

PlatGpuTexture* Tile(const LayerRecord* r, int slot) {
  return r ? static_cast<PlatGpuTexture*>(r->mTextures[slot]) : nullptr;
}

// A layer named by a mask or second-source path, or null for none; -1 in *error when the
// path cannot be made.
LayerRecord* FindNamedLayer(const char* name, int* error) {
  if (!name || !name[0]) return nullptr;
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, name, g_LayerFolder, false) < 0) {
    *error = -1;
    return nullptr;
  }
  return GetLayerRecord(FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_LEAF));
}

// A character layer draws its model into its own texture (slot 0) before the texture is
// drawn like any other layer's.
void DrawEmoteModel(LayerRecord* c) {
  PlatGpuDriver* gpu = g_D3D.mD3D;
  if ((c->mTone & 0xFFFFFF) != 0x808080 && c->mEmotePlayer)
    g_EmoteFunctions.SetColor(c->mEmotePlayer, (c->mTone << 8) | 0xFF, 0.0f, 0.0f);
  PlatGpuTexture* target = Tile(c, 0);
  if (!gpu->SetRenderTarget(target)) return;
  gpu->Clear(0x00808080);
  float w = (float)g_DeviceSurfaceSize.width, h = (float)g_DeviceSurfaceSize.height;
  SetEmotePosition(c, -c->mEmoteOffsetX / 200.0f, c->mEmoteOffsetY / 200.0f);
  SetEmoteScale(c, c->mScaleX / 10000.0f);
  SetEmoteRotation(c, -c->mRotation[2] * 3.14159265f / 180.0f / 100.0f);
  SetupEmoteCamera(gpu, w, h, c->mX100 / 100.0f - c->mEmoteOffsetX / 200.0f - w / 2.0f,
                   c->mY100 / 100.0f - c->mEmoteOffsetY / 200.0f - h / 2.0f, 0.0f);
  ProgressEmotePending(c);
  BindEmoteTarget(target);
  DrawEmotePlayer(c);
  gpu->SetRenderTarget(nullptr);
}

int DrawGpuLayerTree(NameNode* node, int depth) {
  const LayerRecord* r = GetLayerRecord(node);
  if (!r || !r->mPixels || depth > MAX_GROUP_DEPTH) return 0;
  for (NameNode* child = node->mFirstChild; child; child = child->mNext) {
    if (child->mIsGroup && DrawGpuLayerTree(child, depth + 1) != 0) return -1;
    LayerRecord* c = GetLayerRecord(child);
    if (!c || c->mGpuKind == GPU_KIND_CPU || !c->mVisible || !c->mPixels) continue;
    if (IsEmoteLayer(c)) DrawEmoteModel(c);
    int error = 0;
    LayerRecord* mask = FindNamedLayer(c->mMaskName, &error);
    LayerRecord* second = FindNamedLayer(c->mSecondSourceName, &error);
    if (error) return -1;
    DrawGpuLayer(c, mask, second, 1, int8_t(c->mBlendMode));
  }
  return 0;
}

void EndEffect() {
  PlatGpuEffect none{PLAT_GPU_NO_PASS, 1.0f, 0.0f, 0.0f};
  g_D3D.mD3D->SetEffect(&none);
}

}  // namespace

void SetSpriteVertex(D3DVertex* v, uint32_t diffuse, float x, float y, float z, float u, float w) {
  *v = D3DVertex{x, y, z, diffuse, u, w};
}

void TransformQuad(D3DVertex* quad, float tx, float ty, float tz) {
  for (int i = 0; i < 4; i++) {
    quad[i].mX += tx;
    quad[i].mY += ty;
    quad[i].mZ += tz;
  }
}

int DrawGpuLayer(LayerRecord* layer, LayerRecord* mask, LayerRecord* second, int opacitySwitch, int blendMode) {
  if (!layer || !layer->mTextures[0] || !g_D3D.mDevice) return 0;
  PlatGpuDriver* gpu = g_D3D.mD3D;
  float x = layer->mX100 / 100.0f, y = layer->mY100 / 100.0f;
  float sx = layer->mScaleX / 100.0f, sy = layer->mScaleY / 100.0f;
  float r1 = layer->mRotation[0] / 100.0f, r2 = layer->mRotation[1] / 100.0f, r3 = layer->mRotation[2] / 100.0f;
  float px = layer->mPivotX / 100.0f, py = layer->mPivotY / 100.0f;
  if (IsEmoteLayer(layer)) {
    x = y = 0.0f;
    sx = sy = 100.0f;
    r1 = r2 = r3 = 0.0f;
  }
  int32_t o = opacitySwitch ? (layer->mOpacity < 0 ? 0 : layer->mOpacity > 255 ? 255 : layer->mOpacity) : 0;
  uint32_t diffuse = DiffuseCarriesOpacity(blendMode) ? uint32_t(o) * 0x01010101u : 0xFF000000u;
  PlatGpuEffect effect{PLAT_GPU_NO_PASS, layer->mOpacity / 256.0f, 0.0f, 0.0f};
  LayerRecord* stage1 = nullptr;
  if (mask && layer->mEdgeSharpness >= 1 && g_D3D.mEffectLoaded) {
    int32_t edge = layer->mEdgeSharpness;
    effect = {PLAT_GPU_PASS_RULE, layer->mOpacity / 256.0f, layer->mRuleProgress * (256.0f / edge + 128.0f) / 65536.0f,
              float(edge)};
    stage1 = mask;
  } else if (second && g_D3D.mEffectLoaded) {
    effect = {PLAT_GPU_PASS_CROSSFADE, layer->mOpacity / 256.0f, layer->mCrossFade / 256.0f, 0.0f};
    stage1 = second;
  }
  gpu->SetEffect(&effect);
  gpu->SetTexture(2, nullptr);
  const float degrees = 0.0174532924f;
  float top = y - 0.5f;
  for (int r = 0; r < layer->TYNUM; r++) {
    float bottom = top + layer->mTileHeights[r] * sy / 100.0f;
    float left = x - 0.5f;
    for (int c = 0; c < layer->TXNUM; c++) {
      int32_t tw = layer->mTileWidths[c], th = layer->mTileHeights[r];
      float right = left + tw * sx / 100.0f;
      int slot = r * layer->TXNUM + c;
      // A tile whose texture could not be made is left out, not drawn untextured.
      if (!Tile(layer, slot)) {
        left = right;
        continue;
      }
      float uLeft = Fraction(left) / tw / 4.0f, uRight = 1.0f + Fraction(right) / tw / 4.0f;
      float vTop = Fraction(top) / th / 4.0f, vBottom = 1.0f + Fraction(bottom) / th / 4.0f;
      D3DVertex quad[4];
      SetSpriteVertex(&quad[0], diffuse, left, bottom, 0.0f, uLeft, vBottom);
      SetSpriteVertex(&quad[1], diffuse, right, bottom, 0.0f, uRight, vBottom);
      SetSpriteVertex(&quad[2], diffuse, left, top, 0.0f, uLeft, vTop);
      SetSpriteVertex(&quad[3], diffuse, right, top, 0.0f, uRight, vTop);
      TransformQuad(quad, -px, -py, 0.0f);
      for (D3DVertex& v : quad) RotateCorner(&v, r1 * degrees, r2 * degrees, r3 * degrees);
      TransformQuad(quad, px, py, 0.0f);
      if (!gpu->SetTexture(0, Tile(layer, slot))) return EndEffect(), -1;
      if (!gpu->SetTexture(1, Tile(stage1, slot))) return EndEffect(), -1;
      if (!SetBlendStates(gpu, blendMode, o)) return EndEffect(), -1;
      // The effect binds its second texture itself, over any a blend state chose.
      if (effect.pass != PLAT_GPU_NO_PASS && !gpu->SetTexture(1, Tile(stage1, slot))) return EndEffect(), -1;
      PlatGpuVertex corners[4];
      for (int i = 0; i < 4; i++) corners[i] = {quad[i].mX, quad[i].mY, quad[i].mZ, quad[i].mDiffuse, quad[i].mU, quad[i].mV};
      if (!gpu->DrawQuad(corners)) return EndEffect(), -1;
      left = right;
    }
    top = bottom;
  }
  EndEffect();
  return 0;
}

int TransOffscreen(PlatGpuTexture* surface, uint8_t* pixels, int32_t width, int32_t height) {
  if (!g_D3D.mDevice || !pixels || width < 1 || height < 1) return 0;
  // The surfaces keep the size of the time the device was made.
  int32_t w = width < g_DeviceSurfaceSize.width ? width : g_DeviceSurfaceSize.width;
  int32_t h = height < g_DeviceSurfaceSize.height ? height : g_DeviceSurfaceSize.height;
  g_D3D.mD3D->ReadBack(surface, pixels, w, h, width * 4);
  return 0;
}

int DeviceReset() {
  ReleaseRenderTargets();
  ReleaseDirect3D();
  if (InitDirect3D() != 0) {
    ReleaseRenderTargets();
    ReleaseDirect3D();
    ApplyCpuFallback();
    ShowErrorBox("", ToCp932Text("GPU描画が出来ませんでした。CPU描画に移行します。").c_str());
    return -1;
  }
  // A failed upload stops the reloading; the layers after it get textures at their next upload.
  WalkLayerTextures(MainRootLayer(), 2);
  return 0;
}

int RebuildDevice() {
  // The characters' players live on the device: their state is kept across the rebuild.
  if (g_EmoteAvailable) {
    SaveEmoteStates();
    ReleaseEmotePlayers();
    ReleaseEmoteDriver();
  }
  if (DeviceReset() != 0) return -1;
  if (g_EmoteAvailable) {
    RefreshEmoteCamera(g_D3D.mD3D);
    g_GpuRedrawRequest = 1;
  }
  return 0;
}

int RenderGpuScene() {
  if (!g_OffscreenLayerNode) return 0;
  // Without a device (a drawing method without one, or after the fall-back) there is no scene.
  if (!g_D3D.mDevice || !g_D3D.mEffectLoaded) return 0;
  bool reset = g_D3D.mD3D->TestDevice() == PLAT_GPU_NOT_RESET || g_DeviceResetRequest;
  g_DeviceResetRequest = 0;
  if (reset && RebuildDevice() != 0) return 0;
  PlatGpuDriver* gpu = g_D3D.mD3D;
  gpu->SetRenderTarget(nullptr);
  ClearRenderTarget();
  ApplySamplerFilters();
  DrawGpuLayerTree(MainRootLayer(), 0);
  EndEffect();
  LayerRecord* off = GetLayerRecord(g_OffscreenLayerNode);
  const WindowRecord* main = g_WindowRecords[0];
  if (!off || !main) return 0;
  if (off->mWidth != main->mWidth || off->mHeight != main->mHeight) {
    ShowErrorBox("",
                 ToCp932Text("転送先バッファとオフスクリーンバッファのサイズが異なります。\r\n(%d, %d) --- (%d, %d)").c_str(),
                 off->mWidth, off->mHeight, main->mWidth, main->mHeight);
    return 0;
  }
  TransOffscreen(nullptr, off->mPixels, main->mWidth, main->mHeight);
  return 0;
}

void CaptureScene(NameNode* source, NameNode* target) {
  LayerRecord* s = GetLayerRecord(source);
  LayerRecord* t = GetLayerRecord(target);
  const WindowRecord* main = g_WindowRecords[0];
  if (!g_D3D.mDevice || !g_D3D.mBackBuffer || !s || !t || !main) return;
  PlatGpuDriver* gpu = g_D3D.mD3D;
  if (!gpu->SetRenderTarget(g_D3D.mCaptureTexture)) return;
  ClearRenderTarget();
  ApplySamplerFilters();
  DrawGpuLayer(s, nullptr, nullptr, 1, int8_t(s->mBlendMode));
  EndEffect();
  ImageBuffer* pixels = AllocImageBuffer(nullptr, main->mWidth, main->mHeight, nullptr);
  if (pixels) {
    FreeImageBuffer(t->mPixels);
    t->mPixels = pixels;
    t->mWidth = main->mWidth;
    t->mHeight = main->mHeight;
    MarkLayerDirty(target);
    TransOffscreen(g_D3D.mCaptureTexture, pixels, main->mWidth, main->mHeight);
  }
  gpu->SetRenderTarget(nullptr);
}
