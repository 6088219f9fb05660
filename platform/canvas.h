// The client-area picture that both backends keep per window, as a window surface would.
#pragma once

#include <cstdint>
#include <vector>

struct PlatCanvas {
  std::vector<uint8_t> pixels;   // BGRA, rows of width * 4 bytes
  int width = 0, height = 0;
};

// Sets the canvas to a new size, all black; a canvas of the same size is left alone.
void CanvasResize(PlatCanvas* c, int width, int height);
// Copies a picture into the rectangle dx, dy, dw x dh, stretched by nearest pixel and clipped.
void CanvasBlit(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                int dh);
