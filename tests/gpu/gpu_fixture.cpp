// The GPU test fixture: scene-mode settings, layers with patterned images and the boxes shown.
#include "tests/gpu/gpu_fixture.h"

#include "app/hooks.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "media/emote.h"
#include "platform/headless/headless.h"

void GpuTest::SetUp() {
  GameWindowTest::SetUp();
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  g_TextureTileLimit = {512, 256};
  g_TextureFormat = PLAT_GPU_FORMAT_ARGB8;
  g_SamplerFilters[0] = g_SamplerFilters[1] = 0;
  g_DeviceResetRequest = 0;
  g_GpuRedrawRequest = 0;
  HeadlessClearCalls();
}

void GpuTest::TearDown() {
  ShutdownDirect3D();
  g_GpuSceneMode = g_GpuDrawing = 0;
  g_GpuFilterLevel = 0;
  g_OffscreenLayerNode = nullptr;
  g_EmoteAvailable = 0;
  StopWorkerThreads();
  GameWindowTest::TearDown();
}

void GpuTest::UseSceneMode() {
  g_GpuSceneMode = 1;
  g_GpuDrawing = 0;
  g_GpuFilterLevel = 3;
  g_BilinearScaling = 1;
}

NameNode* GpuTest::AddImage(const char* name, int64_t key, int32_t x, int32_t y, int32_t w, int32_t h, bool alpha,
                            uint32_t (*pixel)(int32_t, int32_t)) {
  NameNode* node = AddLayer(name, false, key, w, h, 0);
  LayerRecord* r = GetLayerRecord(node);
  for (int32_t py = 0; py < h; py++)
    for (int32_t px = 0; px < w; px++) {
      uint32_t v = pixel(px, py);
      if (!alpha) v |= 0xFF000000u;
      memcpy(r->mPixels + ((size_t)py * w + px) * 4, &v, 4);
    }
  r->mHasAlpha = alpha;
  r->mX = x;
  r->mY = y;
  r->mX100 = x * 100;
  r->mY100 = y * 100;
  return node;
}

NameNode* GpuTest::AddOffscreen() {
  NameNode* node = AddLayer("offscreen", false, 100, main_->mWidth, main_->mHeight, 0);
  GetLayerRecord(node)->mVisible = 0;
  g_OffscreenLayerNode = node;
  return node;
}

std::vector<std::string> GpuTest::Boxes() {
  std::vector<std::string> boxes;
  for (const std::string& call : HeadlessCalls())
    if (call.rfind("ChoiceBox ", 0) == 0) {
      std::string rest = call.substr(10);
      boxes.push_back(rest.substr(0, rest.rfind('|')));
    }
  HeadlessClearCalls();
  return boxes;
}

std::vector<uint8_t> ReadTexture(void* texture, int32_t width, int32_t height) {
  std::vector<uint8_t> texels((size_t)width * height * 4, 0xCD);
  PlatGpu()->ReadBack(static_cast<PlatGpuTexture*>(texture), texels.data(), width, height, width * 4);
  return texels;
}
