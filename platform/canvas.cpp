// Window surfaces kept by the backends: sizing, the stretching copy of presented pictures and
// the copy of a picture's changed part.
#include "platform/canvas.h"

#include <cstring>

namespace {

void Copy(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw, int dh) {
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

}  // namespace

void CanvasResize(PlatCanvas* c, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (c->width == width && c->height == height && !c->pixels.empty()) return;
  c->width = width;
  c->height = height;
  c->pixels.assign((size_t)width * 4 * (size_t)height, 0);
  c->placedHeld = false;
}

void CanvasBlit(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                int dh) {
  if (!bgra || width <= 0 || height <= 0 || dw <= 0 || dh <= 0 || pitch < width * 4) return;
  Copy(c, bgra, width, height, pitch, dx, dy, dw, dh);
  c->placed = PlatRect{dx, dy, width, height};
  c->placedHeld = dw == width && dh == height;
}

void CanvasBlitChanges(PlatCanvas* c, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                       const PlatRect& changed) {
  const PlatRect& p = c->placed;
  if (!c->placedHeld || p.x != dx || p.y != dy || p.width != width || p.height != height)
    return CanvasBlit(c, bgra, width, height, pitch, dx, dy, width, height);
  if (!bgra || pitch < width * 4) return;
  int64_t x0 = changed.x < 0 ? 0 : changed.x, y0 = changed.y < 0 ? 0 : changed.y;
  int64_t x1 = (int64_t)changed.x + changed.width, y1 = (int64_t)changed.y + changed.height;
  if (x1 > width) x1 = width;
  if (y1 > height) y1 = height;
  if (x0 >= x1 || y0 >= y1) return;
  int w = (int)(x1 - x0), h = (int)(y1 - y0);
  Copy(c, bgra + (size_t)y0 * pitch + (size_t)x0 * 4, w, h, pitch, dx + (int)x0, dy + (int)y0, w, h);
}
