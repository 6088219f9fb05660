// The client-area picture that both backends keep per window, as a window surface would.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct PlatCanvas {
  std::vector<uint8_t> pixels;   // BGRA, rows of width * 4 bytes
  int width = 0, height = 0;
  // The place and size of the last picture copied in unstretched, while the canvas still holds
  // it: the same picture presented there again needs only its changed part copied.
  PlatRect placed{};
  bool placedHeld = false;
};

// Sets the canvas to a new size, all black; a canvas of the same size is left alone.
void CanvasResize(PlatCanvas* c, int width, int height);
// Copies a picture into the rectangle dx, dy, dw x dh, stretched by nearest pixel and clipped.
void CanvasBlit(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                int dh);
// Copies an unstretched picture to dx, dy: only its `changed` part (picture pixels) when the
// canvas holds the last picture copied to the same place at the same size, else all of it.
void CanvasBlitChanges(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                       const PlatRect& changed);
