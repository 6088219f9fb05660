// The effect engine: colour and spatial filters, fills, rectangle copies, blurs and shadows
// applied to a rectangle of a layer, in place or into a second layer.
#pragma once

#include <cstdint>

#include "script/nametree.h"

// Operation codes of ApplyImageFilter.
enum : int32_t {
  FILTER_BRIGHTNESS = 1,
  FILTER_BOX_BLUR = 2,
  FILTER_BLUR_HORIZONTAL = 3,
  FILTER_BLUR_VERTICAL = 4,
  FILTER_BLUR_TWO_PASS = 5,
  FILTER_ALPHA_SHADOW = 6,
  FILTER_ALPHA_BLUR = 7,
  FILTER_COPY_WITH_PROPERTIES = 8,
  FILTER_COPY = 9,
  FILTER_SHUFFLE = 10,
  FILTER_MIRROR = 11,
  FILTER_COLOUR_BALANCE = 12,
  FILTER_THRESHOLD = 19,
  FILTER_MOSAIC = 20,
  FILTER_WAVE_HORIZONTAL = 21,
  FILTER_WAVE_VERTICAL = 22,
  FILTER_WAVE_BOTH = 23,
  FILTER_FILL_1 = 24,
  FILTER_FILL_2 = 25,
  FILTER_FILL_3 = 26,
  FILTER_NEGATIVE = 27,
  FILTER_SATURATION = 29,
  FILTER_FLIP_VERTICAL = 37,
  FILTER_SEPIA = 38,
  FILTER_SWIRL = 39,
};

// Runs filter `code` over the inclusive rectangle x0..x1, y0..y1 of the layer (already
// clamped to it by the caller). With intoDestination set the result goes to `destination`'s
// layer, else it replaces the layer's own image. `e` is the fill mode of the fill codes.
// Returns 0, or -1 after a message.
int ApplyImageFilter(int32_t code, NameNode* layer, NameNode* destination, int32_t x0, int32_t y0,
                     int32_t x1, int32_t y1, int64_t a, int32_t b, int32_t intoDestination,
                     int32_t e);

// ---------------------------------------------------------------------------------------------
// The filters. Unless a filter says otherwise it reads the inclusive rectangle x0..x1, y0..y1
// of `src` (srcWidth x srcHeight pixels, rectangle inside it) and writes a rectangle-sized
// result to `dst` (dstWidth = x1 - x0 + 1, dstHeight = y1 - y0 + 1); alpha is kept. Each
// pixel is read before it is written, so those filters that need no neighbours may run with
// dst == src when the rectangle is the whole image. They return 0, or -1 after a message.

// B, G, R + a - 128, clamped.
int FilterBrightness(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                     int32_t dstHeight, int64_t a);
int FilterNegative(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                   int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight);
// Each channel pulled toward 255 (its byte of 0xRRGGBB above 128) or toward 0 (below 128).
int FilterColourBalance(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                        int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                        int32_t dstHeight, int64_t colour);
// Toward grey below 128, away from it above, 128 unchanged (held to 0..256). The GPU read-back
// runs it in place over a whole captured frame.
int FilterSaturation(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                     int32_t dstHeight, int64_t a);
int FilterSepia(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                int32_t dstHeight);

// These two work on a whole image in place, inside the rectangle only.
// B, G, R become 255 where B + G + R >= 3a, else 0.
int FilterThreshold(uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t width, int32_t height, int64_t a);
// Mode 1: colour 0xRRGGBB, opaque; mode 2: only the alpha bytes, from the low byte; mode 3:
// the pixel 0xAARRGGBB. Modes 2 and 3 store in *hasAlpha whether the image still needs its
// alpha (0 only when the whole image became opaque); other modes leave it alone.
int FilterFillRect(uint8_t* pixels, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t width, int32_t height, int64_t value, int32_t mode, uint8_t* hasAlpha);

// The rectangle of the image mirrored left to right: result (x - x0, y) = source (W - 1 - x, y).
int FilterMirror(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                 int32_t dstHeight);
// The rectangle turned upside down within itself.
int FilterFlipVertical(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                       int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                       int32_t dstHeight);
// Mode 1 shifts rows sideways by a sine of the row, mode 2 columns up and down by a cosine of
// the column, mode 3 both; amplitude a pixels, phase b degrees.
int FilterWave(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
               int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
               int64_t amplitude, int32_t phase, int32_t mode);
// Turns the centre by angle / 10 degrees, less with the distance from it.
int FilterSwirl(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
                int64_t angle);
// Blocks of blockSize pixels on a grid centred on the rectangle, each the mean of its pixels.
int FilterMosaic(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                 int32_t dstHeight, int64_t blockSize);
// strength / 2 passes of random exchanges of the colours inside 2 x 2 blocks (C `rand`).
int FilterShuffle(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                  int32_t dstHeight, int64_t strength);

// Blurs and shadows (codes 2 to 7): box averages of radius r (0 or less counts as 1) whose
// window shrinks at the rectangle's edges. hasAlpha is the layer's flag: with it the alpha
// bytes are averaged like colours, without it the result keeps the source pixel's alpha.
int FilterBoxBlur(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                  int32_t dstHeight, int64_t radius, uint8_t hasAlpha);
int FilterBlurHorizontal(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                         int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                         int32_t dstHeight, int64_t radius, uint8_t hasAlpha);
int FilterBlurVertical(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                       int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                       int32_t dstHeight, int64_t radius, uint8_t hasAlpha);
int FilterBlurTwoPass(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                      int32_t dstHeight, int64_t radius, uint8_t hasAlpha);
// A black copy of the layer's shape with a soft edge: only alpha is averaged, B = G = R = 0.
int FilterAlphaShadow(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                      int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                      int32_t dstHeight, int64_t radius);
// The shadow for a layer with alpha, the two-pass blur for one without.
int FilterAlphaBlur(uint8_t* dst, const uint8_t* src, int32_t x0, int32_t y0, int32_t x1,
                    int32_t y1, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                    int32_t dstHeight, int64_t radius, uint8_t hasAlpha);
