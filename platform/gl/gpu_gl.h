// The OpenGL device (OpenGL 3.3 core through an SDL GL context) and the controls its tests
// and benchmarks use; the device itself is an ordinary record of platform/gpu.h.
#pragma once

#include <cstdint>

#include "platform/gpu.h"

extern PlatGpuDriver g_GlGpu;

// GL objects the device holds in a live context: made and not yet deleted.
struct GlGpuObjects {
  int textures, framebuffers, buffers, vertexArrays, programs, shaders;
  int textureRecords;   // PlatGpuTexture records not yet released, with or without GL names
};
GlGpuObjects GlGpuObjectCount();

// Whether a context can be made on this machine (made once and released; the answer is kept).
bool GlGpuContextAvailable();

// Loses the device as a driver reset does: the context and every object in it are gone;
// TestDevice answers PLAT_GPU_NOT_RESET when resettable, else PLAT_GPU_LOST, until the
// device is created again.
void GlGpuInjectLoss(bool resettable);
// The next `count` device creations fail (-1: every one until set again).
void GlGpuRefuseDevice(int count);
// Caps every device created from now on reports instead of the context's; its textures keep
// to the sizes. A null pointer goes back to the context's own caps.
void GlGpuSetCaps(const PlatGpuCaps* caps);
// Clears the controls above.
void GlGpuResetControls();

// The plain transfers the device's own are measured against: glTexSubImage2D of width x height
// B, G, R, A texels into one texture, and glReadPixels of the same size out of a framebuffer.
// Both need a device of at least that size; false without one.
bool GlGpuPlainUpload(const uint8_t* bgra, int width, int height);
bool GlGpuPlainReadBack(uint8_t* bgra, int width, int height);

// The device a windowed run uses, chosen by KIVOR_GPU: "gl" the OpenGL device, "soft" the
// software device, "off" none (every creation fails, so drawing falls back to the CPU); unset
// or anything else: OpenGL when its first device can be made, the software device otherwise.
PlatGpuDriver* PlatChosenGpu();
