// Rendering: dirty rectangles, the CPU compositor, presentation of the windows and the scalers.
#pragma once

#include <cstdint>

#include "app/engine.h"

struct NameNode;
struct LayerRecord;
struct WindowRecord;

// Where the main window's picture sits inside its display area (0, 0 in window mode). The
// input code takes it off the cursor position.
extern Size2 g_LetterboxOffset;

// The part of a child that falls in the target's dirty rectangle: source position in the
// child, destination position in the target and the size.
struct ClipResult {
  int32_t mSourceX, mSourceY;
  int32_t mDestX, mDestY;
  int32_t mWidth, mHeight;
};

// Groups nested deeper than this are not composed (their last picture stays), so a hostile
// layer tree cannot exhaust the stack.
constexpr int MAX_GROUP_DEPTH = 256;

int InvalidateLayer(NameNode* node);
void MergePresentRect(LayerRecord* record);
ClipResult ClipLayerToDirtyRect(const LayerRecord* target, const LayerRecord* child);
// A width x height rectangle placed at (x, y), cut to the inclusive area left, top, right,
// bottom; all zero when nothing of it lies inside.
ClipResult ClipRectToArea(int64_t x, int64_t y, int64_t width, int64_t height, const int64_t area[4]);
int ComposeLayerTree(NameNode* node, int nested);
// Fills g_RuleWeights for a layer drawn through a rule at its progress, sharpness and opacity.
void BuildCompositorRuleWeights(int32_t progress, int32_t sharpness, int32_t opacity);
// Clears the dirty state of a sibling list and everything below it.
void ResetDirtyRects(NameNode* first);
// Marks the window's root layer as wholly changed, so it is composed and presented again.
void MarkRootWhollyDirty(WindowRecord* w);
// True when the window's cursor lies on a non-black pixel of the caption-drag layer.
bool DragLayerHit(const WindowRecord* w);

int DrawWindow(WindowRecord* w);
int PresentWindow(WindowRecord* w);
void PresentFrame(WindowRecord* w, LayerRecord* root);

// Scale the inclusive source rectangle x0..x1, y0..y1 of a 32-bit picture onto a whole output
// picture. ScaleNearest takes whole pixels; the bilinear scalers take the rectangle and the
// output size in 1/100 pixel. Every output pixel is written; outputs of 0 or less do nothing.
// The bilinear scalers read the right and lower neighbour of each sample, clamped to the image.
void ScaleNearest(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                  int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight);
void ScaleBilinear(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight);
void ScaleBilinearThreaded(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight);
