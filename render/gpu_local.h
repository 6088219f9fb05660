// Internals shared by the GPU device set-up, the layer textures and the GPU scene.
#pragma once

#include <cstdint>

#include "app/engine.h"
#include "platform/gpu.h"

struct LayerRecord;
struct NameNode;

// What a texture build copies: the owner's size, pivot, option and tile limits, the layer
// whose pixels are copied and the layer whose textures receive them.
struct TexturePaste {
  int32_t mWidth, mHeight;
  float mPivotX, mPivotY;
  int32_t mOption;
  int32_t mTileLimitX, mTileLimitY;
  LayerRecord* mSource;
  LayerRecord* mOwner;
};

// The device and what is made with it; everything null or 0 while there is none.
struct D3DContext {
  PlatGpuDriver* mD3D;              // the device service, while it is open
  uint8_t mDevice;                  // a device exists
  uint8_t mBackBuffer;              // the back buffer may be drawn into and read back
  PlatGpuTexture* mWhiteTexture;    // opaque white and opaque black, window size (scene mode)
  PlatGpuTexture* mBlackTexture;
  PlatGpuTexture* mRenderTexture;   // made and released with the device; nothing draws into it
  PlatGpuTexture* mCaptureTexture;  // the scene capture's render target
  TexturePaste mPaste;
  uint8_t mEffectLoaded;            // the built-in effect's passes may be begun
};

// One corner of a draw: position, diffuse colour A, R, G, B and the texture coordinate.
struct D3DVertex {
  float mX, mY, mZ;
  uint32_t mDiffuse;
  float mU, mV;
};

extern D3DContext g_D3D;
extern Size2 g_DeviceSurfaceSize;
extern Size2 g_MaxTextureSize;
extern uint8_t g_NoHardwareVertexProcessing;

// Device set-up and release.
int CreateDirect3D();
int CheckDeviceCaps();
int SetupRenderStates();
int LoadBuiltinEffect();
void ReleaseDirect3D();
void ReleaseSceneTextures();
void ReleaseEffect();
// Releases the render targets that shutdown and the reset release before ReleaseDirect3D.
void ReleaseRenderTargets();
void ClearRenderTarget();
// Samplers 0 and 1 take the configured filters before a scene or a capture is drawn.
void ApplySamplerFilters();
void ApplyCpuFallback();

// Layer textures.
int BuildTextureTiles(int reuse);
// Mode 1 releases, mode 2 reloads and uploads the textures of every GPU layer below `node`.
int WalkLayerTextures(NameNode* node, int mode);
// Reloads one GPU layer's image from its file (when it has one) and uploads it again.
int ReloadLayerTextures(LayerRecord* record);

// The scene.
int DrawGpuLayer(LayerRecord* layer, LayerRecord* mask, LayerRecord* second, int opacitySwitch, int blendMode);
void SetSpriteVertex(D3DVertex* v, uint32_t diffuse, float x, float y, float z, float u, float w);
void TransformQuad(D3DVertex* quad, float tx, float ty, float tz);
int TransOffscreen(PlatGpuTexture* surface, uint8_t* pixels, int32_t width, int32_t height);
int DeviceReset();
