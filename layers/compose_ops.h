// Operations that change a layer's own pixels by combining it with other layers (laying over,
// cross-fades, rule wipes, pixel comparisons) and that trim or resize a layer's canvas.
#pragma once

#include <cstdint>

#include "render/render.h"
#include "script/nametree.h"

// The source's rectangle placed at (x, y) in the target, cut to the target's bounds. A width
// or height of 0 or less means the two do not overlap.
ClipResult ClipComposeRect(const LayerRecord* target, const LayerRecord* source, int64_t x, int64_t y);

// The composing operations take the nodes' records, work on the calling thread and always
// return 0; they leave the target's dirty marking to the caller. A missing record or pixel
// buffer makes them do nothing beyond the has-alpha change.

// Lays the source over the target at (x, y) through the source's alpha and opacity.
int ComposeLayerOnto(NameNode* source, NameNode* target, int64_t x, int64_t y);
// The same after scaling the target's alpha by the target's own opacity (every call).
int ComposeOntoAlpha(NameNode* source, NameNode* target, int64_t x, int64_t y);
// The target becomes the cross-fade from source 1 to source 2 by min(weight, 255) + 1 / 256.
int ComposeThroughMask(NameNode* source1, NameNode* source2, NameNode* target, int64_t x, int64_t y,
                       int64_t weight);
// The target becomes a wipe from source 1 to source 2 at `progress` (0..255) through the grey
// levels of the rule image, with the edge sharpness (256 a hard edge).
int RuleTransition(NameNode* source1, NameNode* source2, NameNode* rule, NameNode* target, int64_t x,
                   int64_t y, int64_t progress, int32_t sharpness);
// One row of RuleTransition through g_RuleWeights; progress and sharpness are carried only so
// the row has the shape of the compositor's rule rows. n is a byte count.
void RuleTransitionRow(const uint8_t* source1, const uint8_t* source2, const uint8_t* rule, uint8_t* target,
                       int32_t progress, int32_t sharpness, size_t n);
// Fills g_RuleWeights for a transition at a = 256 - progress and sharpness v, unscaled.
void BuildRuleWeights(int32_t a, int32_t v);
// Target pixels equal to the source pixel at the same place become 0, the others the source's.
int KeepDifferences(NameNode* source, NameNode* target, int64_t x, int64_t y);
// Target pixels equal to the source pixel at the same place stay, the others become 0.
int KeepMatches(NameNode* source, NameNode* target, int64_t x, int64_t y);

// Copies the inclusive rectangle x0..x1, y0..y1 of a source whose rows are srcWidth pixels to
// the top-left corner of a destination whose rows are dstWidth pixels. The caller keeps the
// rectangle inside the source and its size inside the destination.
void CopyRect(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              int32_t srcWidth, int32_t srcHeight, int32_t dstWidth);
// Copies the source columns x0..x1 and rows y0..y1 to (max(left, 0), max(top, 0)) of the
// destination; an empty range copies nothing.
void CopyClippedRows(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     int32_t srcWidth, int32_t srcHeight, int32_t left, int32_t top, int32_t dstWidth);

// Crops the layer to the bounding box of its pixels with a non-zero alpha on the sides named
// by `sides` (8 top, 4 bottom, 2 left, 1 right); into `destination` when intoDestination is
// set, else in place. 0, or -1 after a message.
int TrimTransparentBorder(NameNode* layer, NameNode* destination, int32_t intoDestination, int32_t sides);
// Grows (positive) or cuts (negative) each side of the canvas; new area is transparent grey.
// Into `destination` when intoDestination is set, else in place. 0, or -1 after a message.
int ResizeCanvas(NameNode* layer, NameNode* destination, int32_t intoDestination, int64_t left, int64_t right,
                 int64_t top, int64_t bottom);
