// Window surfaces kept by the backends: sizing and the stretching copy of presented pictures.
#include "platform/canvas.h"

#include <cstring>

void CanvasResize(PlatCanvas* c, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (c->width == width && c->height == height && !c->pixels.empty()) return;
  c->width = width;
  c->height = height;
  c->pixels.assign((size_t)width * 4 * (size_t)height, 0);
}

void CanvasBlit(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                int dh) {
  if (!bgra || width <= 0 || height <= 0 || dw <= 0 || dh <= 0 || pitch < width * 4) return;
  int y0 = dy < 0 ? 0 : dy;
  int y1 = (int64_t)dy + dh > c->height ? c->height : dy + dh;
  int x0 = dx < 0 ? 0 : dx;
  int x1 = (int64_t)dx + dw > c->width ? c->width : dx + dw;
  if (x0 >= x1 || y0 >= y1) return;
  bool same = dw == width && dh == height;
  for (int y = y0; y < y1; y++) {
    int sy = (int)((int64_t)(y - dy) * height / dh);
    const uint8_t* src = bgra + (size_t)sy * pitch;
    uint8_t* dst = c->pixels.data() + ((size_t)y * c->width + x0) * 4;
    if (same) {
      memcpy(dst, src + (size_t)(x0 - dx) * 4, (size_t)(x1 - x0) * 4);
      continue;
    }
    for (int x = x0; x < x1; x++, dst += 4) {
      int sx = (int)((int64_t)(x - dx) * width / dw);
      memcpy(dst, src + (size_t)sx * 4, 4);
    }
  }
}
