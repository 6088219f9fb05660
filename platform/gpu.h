// GPU device service: one drawing device with a window-sized back buffer, textures and render
// targets, textured quads under fixed blend states or the built-in effect passes, and read-back.
#pragma once

#include <cstdint>

// A texture of the device: 32-bit B, G, R, A texels (a 16-bit format keeps 4 bits a channel).
// Owned by whoever created it and released once with ReleaseTexture, also after the device
// that made it is gone; a texture of an earlier device cannot be bound or drawn into.
struct PlatGpuTexture;

// What TestDevice answers.
enum : int {
  PLAT_GPU_READY = 0,
  PLAT_GPU_LOST = 1,        // lost and not yet resettable: calls succeed but do nothing
  PLAT_GPU_NOT_RESET = 2,   // lost and resettable: release everything and create the device again
  PLAT_GPU_NO_DEVICE = 3,
};

// Texture formats, numbered as the settings name them.
enum : int { PLAT_GPU_FORMAT_ARGB8 = 21, PLAT_GPU_FORMAT_ARGB4 = 26 };

struct PlatGpuCaps {
  int maxTextureWidth, maxTextureHeight;
  int pixelShaderRank;   // 30 for 3.0 and above, 20 for 2.0, 14 for 1.4 ... 0 for none
  // The device draws on the processor (a software rasterizer such as Mesa's llvmpipe), slower
  // than the CPU compositor, and the user did not ask for it by name (KIVOR_GPU).
  bool softwareRasterizer;
};

// Texture-stage operations and arguments, blend factors and blend operations of the fixed
// pipeline. A stage whose colour operation is DISABLE ends the chain; an alpha DISABLE keeps
// the alpha of the stage before. Reading TEXTURE in a stage without a texture gives the
// stage's input (CURRENT) unchanged.
enum : uint8_t { PLAT_TOP_DISABLE, PLAT_TOP_SELECTARG1, PLAT_TOP_MODULATE, PLAT_TOP_BLENDCURRENTALPHA };
enum : uint8_t { PLAT_TA_TEXTURE, PLAT_TA_DIFFUSE, PLAT_TA_TFACTOR, PLAT_TA_CURRENT };
enum : uint8_t {
  PLAT_BLEND_ZERO, PLAT_BLEND_ONE, PLAT_BLEND_SRCALPHA, PLAT_BLEND_INVSRCALPHA, PLAT_BLEND_SRCCOLOR,
  PLAT_BLEND_INVSRCCOLOR, PLAT_BLEND_DESTCOLOR, PLAT_BLEND_INVDESTCOLOR,
};
enum : uint8_t { PLAT_BLENDOP_ADD, PLAT_BLENDOP_REVSUBTRACT, PLAT_BLENDOP_MIN, PLAT_BLENDOP_MAX };
// Sampler filters: point or linear (anisotropic draws as linear; textures have one level).
enum : uint8_t { PLAT_FILTER_POINT, PLAT_FILTER_LINEAR };

struct PlatGpuStage {
  uint8_t colourOp, colourArg1, colourArg2;
  uint8_t alphaOp, alphaArg1, alphaArg2;
};

// The render states a draw uses; they stay in force until set again.
struct PlatGpuDrawState {
  PlatGpuStage stage[2];
  uint32_t textureFactor;   // A, R, G, B from the high byte down
  uint8_t srcBlend, destBlend, blendOp;
};

// The built-in effect's passes replace the texture stages while one is begun:
//   pass 0 (cross-fade): colour = tex1 x (1 - fade) + tex2 x fade on all four channels, then
//          alpha x alphaValue;
//   pass 1 (rule): colour = tex1 with alpha = tex1.alpha x saturate((fade - 0.5 x tex2.red) x
//          fade2) x alphaValue.
// tex1 and tex2 are the textures of stages 0 and 1, sampled linearly; a missing one reads as 0.
enum : int { PLAT_GPU_NO_PASS = -1, PLAT_GPU_PASS_CROSSFADE = 0, PLAT_GPU_PASS_RULE = 1 };
struct PlatGpuEffect {
  int pass;
  float alphaValue, fade, fade2;
};

// One corner of a quad: pre-transformed position in pixels (pixel centres lie on whole
// numbers; z is ignored), diffuse colour A, R, G, B, and the texture coordinate.
struct PlatGpuVertex {
  float x, y, z;
  uint32_t diffuse;
  float u, v;
};

// The device's transforms, which models drawn by a renderer of their own (the E-mote bridge)
// are placed with; quads are pre-transformed and ignore them. Row-major 4x4 matrices in the
// Direct3D convention (row vectors, element (r, c) at [(r - 1) * 4 + c - 1]).
enum : int { PLAT_GPU_WORLD = 0, PLAT_GPU_VIEW = 1, PLAT_GPU_PROJECTION = 2 };

// The device. Every slot is filled; all run on the thread that runs the frame step.
struct PlatGpuDriver {
  const char* name;
  // Makes the device with a back buffer of width x height (transparent black) and fills the
  // caps; false when there is no usable device. An existing device is released first.
  bool (*CreateDevice)(int width, int height, PlatGpuCaps* caps);
  void (*ReleaseDevice)();
  int (*TestDevice)();   // PLAT_GPU_*
  // Null while the device is lost, without a device, or for a side outside 1..the caps.
  PlatGpuTexture* (*CreateTexture)(int width, int height, int format, bool renderTarget);
  void (*ReleaseTexture)(PlatGpuTexture* t);
  // Replaces every texel from `bgra` (rows of `pitch` bytes, top row first). With a 16-bit
  // format, `dither` spreads the rounding error to the neighbours. False on failure.
  bool (*WriteTexture)(PlatGpuTexture* t, const uint8_t* bgra, int pitch, bool dither);
  // Draws into a render-target texture from now on, or into the back buffer for null.
  bool (*SetRenderTarget)(PlatGpuTexture* t);
  void (*Clear)(uint32_t argb);   // the whole current render target
  // Binds a texture (or none) to stage 0..2; false for a texture the device cannot use.
  bool (*SetTexture)(int stage, PlatGpuTexture* t);
  void (*SetSamplerFilter)(int stage, uint8_t mag, uint8_t min);
  void (*SetDrawState)(const PlatGpuDrawState* s);
  void (*GetDrawState)(PlatGpuDrawState* s);
  void (*SetEffect)(const PlatGpuEffect* e);
  // Two triangles in strip order (0, 1, 2) and (1, 2, 3) under the current state; false when
  // it cannot be drawn.
  bool (*DrawQuad)(const PlatGpuVertex* corners);
  // Copies the top-left width x height of a render target (null: the back buffer) into
  // `bgra` (rows of `pitch` bytes). False when lost or when the area is larger than the target.
  bool (*ReadBack)(PlatGpuTexture* target, uint8_t* bgra, int width, int height, int pitch);
  // Sets or reads one of the three transforms (16 floats); a device starts with identities.
  // False for an unknown transform or without a device.
  bool (*SetTransform)(int which, const float* matrix);
  bool (*GetTransform)(int which, float* matrix);
};

// The software device that both backends use (platform/gpu_soft.cpp); the headless backend
// wraps it with test controls (platform/headless/headless.h).
extern PlatGpuDriver g_SoftwareGpu;

// Rounds width x height B, G, R, A texels (rows packed) to 4 bits a channel, as a 16-bit
// texture keeps them; every device stores the same levels.
void PlatGpuQuantizeTo4Bits(uint8_t* bgra, int width, int height, bool dither);

// The device of the chosen backend.
PlatGpuDriver* PlatGpu();

// A device with a context bound to one thread at a time (OpenGL) is let go by the calling
// thread, so the next call may come from another; nothing for a device without one.
void PlatGpuLeaveThread();
// Whether the main window's frames go to the screen through the device (the SDL backend with
// the OpenGL device); then a lost device must be made again before a frame can be shown.
bool PlatGpuPresentsFrames();
// Start-up says, before it makes the main window, whether the game will make a device (the
// project draws on the GPU). Only then is the window made for OpenGL so the device can present
// it: loading the OpenGL driver costs a start more than all the rest. Unsaid, it may.
void PlatGpuExpectDevice(bool expected);
