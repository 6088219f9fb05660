// The headless backend's GPU device: the software device (or another a test chooses) with test
// controls (refused creation, chosen caps, a lost device) and a count of every call.
#include "platform/gpu.h"
#include "platform/headless/headless.h"

namespace {

HeadlessGpuCounts g_Counts;
PlatGpuDriver* g_Inner = &g_SoftwareGpu;
int g_RefuseCreations = 0;
PlatGpuCaps g_Caps{4096, 4096, 30};
bool g_CapsSet = false;
int g_Lost = PLAT_GPU_READY;

bool Lost() { return g_Lost != PLAT_GPU_READY; }

bool HCreateDevice(int width, int height, PlatGpuCaps* caps) {
  g_Counts.createDevice++;
  if (g_RefuseCreations != 0) {
    if (g_RefuseCreations > 0) g_RefuseCreations--;
    g_Inner->ReleaseDevice();
    return false;
  }
  if (!g_Inner->CreateDevice(width, height, caps)) return false;
  g_Lost = PLAT_GPU_READY;
  if (g_CapsSet) *caps = g_Caps;
  return true;
}

void HReleaseDevice() {
  g_Counts.releaseDevice++;
  g_Inner->ReleaseDevice();
}

int HTestDevice() {
  g_Counts.testDevice++;
  int status = g_Inner->TestDevice();
  return status == PLAT_GPU_READY ? g_Lost : status;
}

PlatGpuTexture* HCreateTexture(int width, int height, int format, bool renderTarget) {
  g_Counts.createTexture++;
  if (Lost()) return nullptr;
  if (g_CapsSet && (width > g_Caps.maxTextureWidth || height > g_Caps.maxTextureHeight)) return nullptr;
  return g_Inner->CreateTexture(width, height, format, renderTarget);
}

void HReleaseTexture(PlatGpuTexture* t) {
  if (t) g_Counts.releaseTexture++;
  g_Inner->ReleaseTexture(t);
}

bool HWriteTexture(PlatGpuTexture* t, const uint8_t* bgra, int pitch, bool dither) {
  g_Counts.writeTexture++;
  return Lost() ? true : g_Inner->WriteTexture(t, bgra, pitch, dither);
}

bool HSetRenderTarget(PlatGpuTexture* t) {
  g_Counts.setRenderTarget++;
  return g_Inner->SetRenderTarget(t);
}

void HClear(uint32_t argb) {
  g_Counts.clear++;
  if (!Lost()) g_Inner->Clear(argb);
}

bool HSetTexture(int stage, PlatGpuTexture* t) { return g_Inner->SetTexture(stage, t); }
void HSetSamplerFilter(int stage, uint8_t mag, uint8_t min) { g_Inner->SetSamplerFilter(stage, mag, min); }
void HSetDrawState(const PlatGpuDrawState* s) { g_Inner->SetDrawState(s); }
void HGetDrawState(PlatGpuDrawState* s) { g_Inner->GetDrawState(s); }
void HSetEffect(const PlatGpuEffect* e) { g_Inner->SetEffect(e); }

// A lost device takes draws and does nothing with them.
bool HDrawQuad(const PlatGpuVertex* corners) {
  g_Counts.drawQuad++;
  return Lost() ? true : g_Inner->DrawQuad(corners);
}

bool HReadBack(PlatGpuTexture* target, uint8_t* bgra, int width, int height, int pitch) {
  g_Counts.readBack++;
  return Lost() ? false : g_Inner->ReadBack(target, bgra, width, height, pitch);
}

}  // namespace

PlatGpuDriver g_HeadlessGpu = {
    "headless",       HCreateDevice,  HReleaseDevice, HTestDevice,  HCreateTexture, HReleaseTexture,
    HWriteTexture,    HSetRenderTarget, HClear,       HSetTexture,  HSetSamplerFilter, HSetDrawState,
    HGetDrawState,    HSetEffect,     HDrawQuad,      HReadBack,
};

HeadlessGpuCounts HeadlessGpuCalls() { return g_Counts; }

void HeadlessGpuRefuseDevice(int count) { g_RefuseCreations = count; }

void HeadlessGpuSetCaps(const PlatGpuCaps& caps) {
  g_Caps = caps;
  g_CapsSet = true;
}

void HeadlessGpuLoseDevice(bool resettable) {
  if (g_Inner->TestDevice() == PLAT_GPU_READY) g_Lost = resettable ? PLAT_GPU_NOT_RESET : PLAT_GPU_LOST;
}

void HeadlessGpuUseDevice(PlatGpuDriver* device) {
  g_Inner->ReleaseDevice();
  g_Inner = device ? device : &g_SoftwareGpu;
}

void HeadlessGpuReset() {
  g_Inner->ReleaseDevice();
  g_Inner = &g_SoftwareGpu;
  g_Counts = HeadlessGpuCounts{};
  g_RefuseCreations = 0;
  g_CapsSet = false;
  g_Lost = PLAT_GPU_READY;
}
