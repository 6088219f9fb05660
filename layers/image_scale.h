// Scaling a layer's image by one of the resampling methods, and rotating it about its centre.
#pragma once

#include <cstdint>

#include "script/nametree.h"

// Scales the rectangle x0..x1, y0..y1 (1/100 pixel) of the first layer's image to
// outWidth100 x outHeight100 (1/100 pixel), into the second layer when intoSecond is set,
// else into the first. Returns 0, or -1 after a message.
int ScaleLayerImage(NameNode* first, NameNode* second, int64_t x0, int64_t y0, int64_t x1,
                    int64_t y1, int64_t outWidth100, int64_t outHeight100, int32_t intoSecond,
                    int32_t method);

// Turns the first layer's image about its centre by `angle` degrees, keeping the canvas
// size; the rectangle is not used. Returns 0, or -1 after a message.
int RotateLayerImage(NameNode* first, NameNode* second, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1, int64_t angle, int32_t intoSecond, int32_t method);
