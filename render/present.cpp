// Presentation: each changed window's picture onto its platform window, the main window's
// scaled to the output size and centred in full screen or while maximised.
#include <algorithm>
#include <cstring>

#include "app/fullscreen.h"
#include "app/window.h"
#include "layers/layer.h"
#include "layers/pixel_kernels.h"
#include "platform/gpu.h"
#include "render/gpu.h"
#include "render/render.h"

Size2 g_LetterboxOffset;

namespace {

enum ScaleKind { SCALE_NONE, SCALE_NEAREST, SCALE_BILINEAR };

void ScaleRootIntoScreen(const LayerRecord* root, ScaleKind kind) {
  int32_t w = root->mWidth, h = root->mHeight;
  if (kind == SCALE_BILINEAR) {
    if (g_CpuFeatures[CPU_SSE] && g_AllowSse)
      ScaleBilinearThreaded(g_ScreenBuffer, root->mPixels, 0, 0, 100 * (w - 1), 100 * (h - 1), w, h,
                            g_OutputSize.width * 100, g_OutputSize.height * 100);
    else
      ScaleBilinear(g_ScreenBuffer, root->mPixels, 0, 0, 100 * (w - 1), 100 * (h - 1), w, h,
                    g_OutputSize.width * 100, g_OutputSize.height * 100);
  } else {
    ScaleNearest(g_ScreenBuffer, root->mPixels, 0, 0, w - 1, h - 1, w, h, g_OutputSize.width, g_OutputSize.height);
  }
}

// An unscaled picture goes out whole only when the backend no longer holds the last one: what
// changed since is the redrawn rectangle, as composition wrote only there.
void PresentRoot(int slot, const LayerRecord* root, int x, int y) {
  const int64_t* r = root->mRedrawnRect;
  int64_t x0 = std::max<int64_t>(r[0], 0), y0 = std::max<int64_t>(r[1], 0);
  int64_t x1 = std::min<int64_t>(r[2] + 1, root->mWidth), y1 = std::min<int64_t>(r[3] + 1, root->mHeight);
  PlatRect changed{(int)x0, (int)y0, (int)std::max<int64_t>(x1 - x0, 0), (int)std::max<int64_t>(y1 - y0, 0)};
  g_Platform->PresentFrameChanges(slot, root->mPixels, root->mWidth, root->mHeight, root->mWidth * 4, x, y, changed);
}

}  // namespace

void PresentFrame(WindowRecord* w, LayerRecord* root) {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  if (g_QuitFlag || !w || !root || !root->mPixels) return;
  if (root->mRedrawnRect[2] < root->mRedrawnRect[0] || root->mRedrawnRect[3] < root->mRedrawnRect[1]) return;
  if (g_OutputSize.width <= 0 || g_OutputSize.height <= 0) return;
  int32_t rw = root->mWidth, rh = root->mHeight;
  if (rw <= 0 || rh <= 0) return;
  int slot = w->mIndex;
  if (slot != 0) return PresentRoot(slot, root, (int)root->mX, (int)root->mY);
  bool scaledArea = g_FullScreen || g_WindowMaximized;
  if (scaledArea) {
    g_LetterboxOffset = {(g_ClientAreaSize.width - g_OutputSize.width) / 2,
                         (g_ClientAreaSize.height - g_OutputSize.height) / 2};
  } else {
    g_LetterboxOffset = {0, 0};
  }
  ScaleKind kind;
  if (scaledArea) {
    if ((g_FitMode != 0 && g_BilinearScaling) || (g_WindowMaximized && !g_FullScreen)) kind = SCALE_BILINEAR;
    else if (g_FitMode != 0) kind = SCALE_NEAREST;
    else kind = SCALE_NONE;
  } else if (rw == g_OutputSize.width && rh == g_OutputSize.height) {
    return PresentRoot(0, root, (int)root->mX, (int)root->mY);
  } else {
    kind = g_BilinearScaling ? SCALE_BILINEAR : SCALE_NEAREST;
  }
  int ox = g_LetterboxOffset.width, oy = g_LetterboxOffset.height;
  if (kind == SCALE_NONE) {
    // Stretched by the window system on the way to the screen.
    g_Platform->PresentFrame(0, root->mPixels, rw, rh, rw * 4, ox, oy, g_OutputSize.width, g_OutputSize.height);
    return;
  }
  // The buffer must have the output size before a scaler writes into it.
  if (!ScreenBufferReady()) return;
  ScaleRootIntoScreen(root, kind);
  g_Platform->PresentFrame(0, g_ScreenBuffer, g_OutputSize.width, g_OutputSize.height, g_OutputSize.width * 4, ox,
                           oy, g_OutputSize.width, g_OutputSize.height);
}

int PresentWindow(WindowRecord* w) {
  // The main window's frames may go through the device: a lost one is made again first, outside
  // the screen lock, since a failed rebuild shows its box.
  if (w->mIndex == 0) RebuildLostPresenter();
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  LayerRecord* root = GetLayerRecord(w->mRootLayer);
  if (!w->mVisible || !root || !root->mVisible) {
    if (w->mDrawn) {
      // A window that shows nothing is painted black once.
      w->mDrawn = 0;
      static const uint8_t kBlack[4] = {0, 0, 0, 0};
      g_Platform->PresentFrame(w->mIndex, kBlack, 1, 1, 4, 0, 0, w->mWidth / 4 * 4 + 4, w->mHeight);
    }
    return g_QuitFlag;
  }
  if (root->mChanged) {
    w->mDrawn = 1;
    PresentFrame(w, root);
  }
  // The frame is on its way: the device is free for whichever thread shows a window next.
  PlatGpuLeaveThread();
  return g_QuitFlag;
}

void InvalidateScreen(WindowRecord* w) {
  std::lock_guard<std::recursive_mutex> lock(g_ScreenLock);
  LayerRecord* root = w ? GetLayerRecord(w->mRootLayer) : nullptr;
  if (!root) return;
  root->mRedrawnRect[0] = root->mRedrawnRect[1] = 0;
  root->mRedrawnRect[2] = root->mWidth - 1;
  root->mRedrawnRect[3] = root->mHeight - 1;
  PresentFrame(w, root);
  root->mChanged = 1;
}
