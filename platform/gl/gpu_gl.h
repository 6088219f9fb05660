// The OpenGL device (OpenGL 3.3 core, or OpenGL ES 3.0 where only that exists, through an SDL
// GL context) and the controls its tests and benchmarks use; the device itself is an ordinary
// record of platform/gpu.h.
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
// Devices made from now on ask only for OpenGL ES 3.0, as on a driver without desktop OpenGL.
void GlGpuUseOnlyEs(bool only);
// Whether the current device runs on an OpenGL ES context.
bool GlGpuIsEs();
// Devices made from now on are taken as KIVOR_GPU=gl takes them, whatever draws them.
void GlGpuTakeAsNamed(bool named);
// Clears the controls above.
void GlGpuResetControls();

// The plain transfers the device's own are measured against: glTexSubImage2D of width x height
// B, G, R, A texels into one texture, and glReadPixels of the same size out of a framebuffer.
// Both need a device of at least that size; false without one.
bool GlGpuPlainUpload(const uint8_t* bgra, int width, int height);
bool GlGpuPlainReadBack(uint8_t* bgra, int width, int height);

// Presentation through the device, for the SDL backend's window. A picture of width x height
// B, G, R, A texels (rows packed) is copied to the window's drawable from row `top` down, and
// the menu bar (barWidth x barHeight, or none) over the top rows; then the window is swapped
// with vertical sync where the driver gives it. The window must have been made for OpenGL with
// SDL's default pixel format. False, and nothing shown, without a device, while it is lost, or
// while another thread has the context: the caller shows the picture again later. Any thread
// may present; the context is let go afterwards, for whichever thread calls next.
struct SDL_Window;
struct GlGpuPicture {
  const uint8_t* bgra;
  int width, height, top;
  const uint8_t* bar;
  int barWidth, barHeight;
};
bool GlGpuPresent(SDL_Window* window, const GlGpuPicture& picture);
// Whether an OpenGL device exists (lost or not) that a window can present through.
bool GlGpuCanPresent();
// The window whose frames go through the device, or none (PlatGpuPresentsFrames answers from it).
void GlGpuSetPresentWindow(SDL_Window* window);
// The swap interval of the last presentation: 1 vertical sync, 0 none (refused), -1 none yet.
int GlGpuSwapInterval();
// Presentations made by the device in this process.
int GlGpuPresentations();
// Whether the windows of this run want the OpenGL device to present them (start-up expects a
// device and KIVOR_GPU is not "soft" or "off").
bool GlGpuWanted();

// Whether KIVOR_GPU names the OpenGL device ("gl"), or a test control takes it as named: it is
// then taken whatever draws it, so a software rasterizer is not reported as such in its caps.
bool GlGpuNamed();

// The device a windowed run uses, chosen by KIVOR_GPU: "gl" the OpenGL device, "soft" the
// software device, "off" none (every creation fails, so drawing falls back to the CPU); unset
// or anything else: OpenGL when its first device can be made, the software device otherwise.
PlatGpuDriver* PlatChosenGpu();
