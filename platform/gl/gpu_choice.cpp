// The choice of the GPU device for a windowed run (KIVOR_GPU), made once at set-up.
#include <cstdlib>
#include <cstring>

#include "platform/gl/gpu_gl.h"

namespace {

PlatGpuDriver g_Chosen;
bool g_DeviceExpected = true;
bool g_TakenAsNamed = false;

bool Refuse(int, int, PlatGpuCaps*) { return false; }

// The first creation settles the default choice for the rest of the run: textures of one
// device are never handed to the other.
bool CreateFirst(int width, int height, PlatGpuCaps* caps) {
  if (g_GlGpu.CreateDevice(width, height, caps)) {
    g_Chosen = g_GlGpu;
    return true;
  }
  g_GlGpu.ReleaseDevice();
  g_Chosen = g_SoftwareGpu;
  return g_SoftwareGpu.CreateDevice(width, height, caps);
}

}  // namespace

void PlatGpuExpectDevice(bool expected) { g_DeviceExpected = expected; }

bool GlGpuWanted() {
  const char* which = getenv("KIVOR_GPU");
  return g_DeviceExpected && (!which || (strcmp(which, "soft") != 0 && strcmp(which, "off") != 0));
}

void GlGpuTakeAsNamed(bool named) { g_TakenAsNamed = named; }

bool GlGpuNamed() {
  const char* which = getenv("KIVOR_GPU");
  return g_TakenAsNamed || (which && !strcmp(which, "gl"));
}

PlatGpuDriver* PlatChosenGpu() {
  const char* which = getenv("KIVOR_GPU");
  if (which && !strcmp(which, "soft")) return &g_SoftwareGpu;
  if (GlGpuNamed()) return &g_GlGpu;
  g_Chosen = g_GlGpu;
  if (which && !strcmp(which, "off")) {
    g_Chosen.name = "off";
    g_Chosen.CreateDevice = Refuse;
  } else {
    g_Chosen.CreateDevice = CreateFirst;
  }
  return &g_Chosen;
}
