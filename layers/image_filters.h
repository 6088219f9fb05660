// The effect engine: colour and spatial filters, fills, rectangle copies, blurs and shadows
// applied to a rectangle of a layer, in place or into a second layer.
#pragma once

#include <cstdint>

#include "script/nametree.h"

// Runs filter `code` over the inclusive rectangle x0..x1, y0..y1 of the layer (already
// clamped to it by the caller). With intoDestination set the result goes to `destination`'s
// layer, else it replaces the layer's own image. `e` is the fill mode of the fill codes.
// Returns 0, or -1 after a message.
int ApplyImageFilter(int32_t code, NameNode* layer, NameNode* destination, int32_t x0, int32_t y0,
                     int32_t x1, int32_t y1, int64_t a, int32_t b, int32_t intoDestination,
                     int32_t e);
