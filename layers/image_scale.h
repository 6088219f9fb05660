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

// The resamplers behind ScaleLayerImage. Each writes every pixel of a whole output picture of
// outWidth x outHeight pixels (rows of outWidth * 4 bytes) from a source picture of
// srcWidth x srcHeight; source and destination never overlap. Outputs whose source lies
// outside the image are 0.

// Cubic convolution (a = -1) of the inclusive pixel rectangle x0..x1, y0..y1, left-aligned:
// output pixel 0 samples source pixel (x0, y0).
void ScaleBicubic(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                  int32_t srcWidth, int32_t srcHeight, int32_t outWidth, int32_t outHeight);
// Bilinear with 2 x 2 supersampling on the pixel workers; rectangle and output size in 1/100
// pixel, placed as the presentation's bilinear scaler places them.
void ScaleOnWorkers(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t srcWidth, int32_t srcHeight, int32_t outWidth100, int32_t outHeight100);
// Separable Lanczos-2 resampling of the whole source, corner to corner. 0, or -1 after message
// 100010 (fatal) when its temporary image or weight table cannot be made.
int ResampleLanczos(uint8_t* dst, const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t outWidth,
                    int32_t outHeight);
// Fills the weight table of one pass (horizontal: widths, else heights) in 1/65536; false when
// the table cannot be allocated.
bool BuildLanczosWeights(bool horizontal, int32_t srcWidth, int32_t srcHeight, int32_t outWidth,
                         int32_t outHeight);
double Sinc(double x);
double Lanczos2(double x);

// Turn a width x height picture by `angle` degrees about its centre (nearest pixel) into a
// destination of the same size. Method 1 clears every destination pixel whose source lies
// outside the picture; method 2 leaves those as they were, except at 90 and 270 degrees, where
// it clears them too.
void RotateImageMethod1(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int64_t angle);
void RotateImageMethod2(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height, int64_t angle);
