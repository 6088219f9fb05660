// The GPU device's set-up and release: the device at the main window's size, the caps check,
// the render targets and solid-colour textures, the built-in effect, and the CPU fall-back.
#include <cstring>
#include <vector>

#include "app/window.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "render/gpu.h"
#include "render/gpu_local.h"

D3DContext g_D3D;
Size2 g_DeviceSurfaceSize;
Size2 g_MaxTextureSize = {256, 256};
uint8_t g_DeviceResetRequest;

namespace {

PlatGpuCaps g_DeviceCaps;
// The caps check runs at start-up; a refused card is never asked again, since the run falls
// back to the CPU for good.
bool g_CapsPassed = false;
// The sampler filters in force, per sampler (magnification, minification).
uint8_t g_SamplerState[2][2];

int CreateD3DDevice() {
  const WindowRecord* main = g_WindowRecords[0];
  g_DeviceSurfaceSize = main ? Size2{main->mWidth, main->mHeight} : Size2{0, 0};
  if (!g_D3D.mD3D->CreateDevice(g_DeviceSurfaceSize.width, g_DeviceSurfaceSize.height, &g_DeviceCaps)) {
    ShowErrorBox(nullptr, ToCp932Text("[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。").c_str());
    g_D3D.mD3D = nullptr;
    return -1;
  }
  g_D3D.mDevice = 1;
  for (auto& sampler : g_SamplerState) sampler[0] = sampler[1] = PLAT_FILTER_POINT;
  return 0;
}

// A texture of the window's logical size filled with one colour; null when it cannot be made.
PlatGpuTexture* CreateSolidTexture(uint32_t bgra) {
  int32_t w = g_DeviceSurfaceSize.width, h = g_DeviceSurfaceSize.height;
  PlatGpuTexture* t = g_D3D.mD3D->CreateTexture(w, h, g_TextureFormat, false);
  if (!t) return nullptr;
  std::vector<uint32_t> row((size_t)w, bgra);
  std::vector<uint8_t> texels((size_t)w * h * 4);
  for (int32_t y = 0; y < h; y++) memcpy(texels.data() + (size_t)y * w * 4, row.data(), (size_t)w * 4);
  if (g_D3D.mD3D->WriteTexture(t, texels.data(), w * 4, false)) return t;
  g_D3D.mD3D->ReleaseTexture(t);
  return nullptr;
}

void ReleaseTexture(PlatGpuTexture** t) {
  if (*t) PlatGpu()->ReleaseTexture(*t);
  *t = nullptr;
}

uint8_t SamplerFilter(int32_t setting, uint8_t current) {
  if (setting == 0) return PLAT_FILTER_POINT;
  if (setting == 1 || setting == 2) return PLAT_FILTER_LINEAR;
  return current;
}

}  // namespace

int CreateDirect3D() {
  g_D3D.mD3D = PlatGpu();
  if (CreateD3DDevice() != 0) return -1;
  g_D3D.mBackBuffer = 1;
  return 0;
}

int CheckDeviceCaps() {
  if (g_CapsPassed) return 0;
  g_MaxTextureSize = {g_DeviceCaps.maxTextureWidth, g_DeviceCaps.maxTextureHeight};
  // A device that draws on the processor is slower than the CPU compositor: unfit like a card
  // without shaders, though its shaders are complete, so the shader box would not be true.
  if (g_DeviceCaps.softwareRasterizer) return 1;
  if (g_DeviceCaps.pixelShaderRank < 20) {
    ShowErrorBox(ToCp932Text("環境チェック").c_str(),
                 ToCp932Text("ご使用のビデオカードはピクセルシェーダー2.0以降に対応していません。\n"
                             "推奨環境（AGP または PCI Express の DirectX 9.0 対応ビデオカード・チップセット）"
                             "を満たしていない可能性があります。\n"
                             "設定ツールで描画方法を「CPU（バイリニア）」にして、もう一度起動してください。")
                     .c_str());
    return 1;
  }
  g_CapsPassed = true;
  return 0;
}

int SetupRenderStates() {
  int32_t w = g_DeviceSurfaceSize.width, h = g_DeviceSurfaceSize.height;
  g_D3D.mRenderTexture = g_D3D.mD3D->CreateTexture(w, h, g_TextureFormat, true);
  if (!g_D3D.mRenderTexture)
    return ShowErrorBox(nullptr, ToCp932Text("Render テクスチャを生成できませんでした。").c_str()), -1;
  g_D3D.mCaptureTexture = g_D3D.mD3D->CreateTexture(w, h, g_TextureFormat, true);
  if (!g_D3D.mCaptureTexture)
    return ShowErrorBox(nullptr, ToCp932Text("GetSS テクスチャを生成できませんでした。").c_str()), -1;
  if (!g_GpuSceneMode) return 0;
  g_D3D.mWhiteTexture = CreateSolidTexture(0xFFFFFFFF);
  if (!g_D3D.mWhiteTexture) ShowErrorBox("", "WHITETEXBUF ERROR.");
  g_D3D.mBlackTexture = CreateSolidTexture(0xFF000000);
  if (!g_D3D.mBlackTexture) ShowErrorBox("", "BLACKTEXBUF ERROR.");
  return 0;
}

// The effect's passes are the device's own; there is nothing to compile.
int LoadBuiltinEffect() {
  g_D3D.mEffectLoaded = 1;
  return 0;
}

int InitDirect3D() {
  if (CreateDirect3D() != 0) return 1;
  if (g_EmoteAvailable) {
    RefreshEmoteCamera(g_D3D.mD3D);
    InitEmoteDriver(g_D3D.mD3D);
  }
  if (CheckDeviceCaps() != 0) return 1;
  if (SetupRenderStates() != 0) {
    ReleaseRenderTargets();
    if (g_D3D.mD3D) g_D3D.mD3D->ReleaseDevice();
    g_D3D.mDevice = 0;
    g_D3D.mBackBuffer = 0;
    g_D3D.mD3D = nullptr;
    return -1;
  }
  if (LoadBuiltinEffect() != 0) return 1;
  return 0;
}

void ReleaseEffect() { g_D3D.mEffectLoaded = 0; }

void ReleaseSceneTextures() {
  ReleaseTexture(&g_D3D.mWhiteTexture);
  ReleaseTexture(&g_D3D.mBlackTexture);
  const WindowRecord* main = g_WindowRecords[0];
  if (main) WalkLayerTextures(main->mRootLayer, 1);
}

void ReleaseRenderTargets() {
  ReleaseTexture(&g_D3D.mCaptureTexture);
  ReleaseTexture(&g_D3D.mRenderTexture);
}

void ReleaseDirect3D() {
  if (g_GpuSceneMode) ReleaseSceneTextures();
  ReleaseEffect();
  g_D3D.mBackBuffer = 0;
  if (g_D3D.mDevice && g_D3D.mD3D) g_D3D.mD3D->ReleaseDevice();
  g_D3D.mDevice = 0;
  g_D3D.mD3D = nullptr;
}

void ClearRenderTarget() {
  if (g_D3D.mDevice) g_D3D.mD3D->Clear(0);
}

void ApplySamplerFilters() {
  if (!g_D3D.mDevice) return;
  for (int s = 0; s < 2; s++) {
    g_SamplerState[s][0] = SamplerFilter(g_SamplerFilters[0], g_SamplerState[s][0]);
    g_SamplerState[s][1] = SamplerFilter(g_SamplerFilters[1], g_SamplerState[s][1]);
    g_D3D.mD3D->SetSamplerFilter(s, g_SamplerState[s][0], g_SamplerState[s][1]);
  }
}

void ApplyCpuFallback() {
  g_GpuFilterLevel = 0;
  g_BilinearScaling = 1;
  g_GpuDrawing = 0;
  g_GpuSceneMode = 0;
}

int StartDirect3D() {
  // Start-up checks the card; a device made again after a reset does not.
  g_CapsPassed = false;
  int result = InitDirect3D();
  // Start-up runs on the main thread, the frames may run on the game-logic thread: the device
  // is handed over here.
  PlatGpuLeaveThread();
  if (result == 0) return 0;
  // Nothing uses the device once drawing has moved to the CPU.
  ReleaseRenderTargets();
  ReleaseDirect3D();
  ApplyCpuFallback();
  if (result < 0) {
    g_QuitFlag = 1;
    return -1;
  }
  ShowErrorBox("", ToCp932Text("GPU描画が出来ませんでした。CPU描画に移行します。").c_str());
  return 0;
}

void ShutdownDirect3D() {
  if (!g_GpuSceneMode && !g_GpuDrawing) return;
  ReleaseRenderTargets();
  ReleaseDirect3D();
}

void RebuildLostPresenter() {
  if (!g_D3D.mDevice || !g_D3D.mD3D || !PlatGpuPresentsFrames()) return;
  if (g_D3D.mD3D->TestDevice() == PLAT_GPU_NOT_RESET) RebuildDevice();
}
