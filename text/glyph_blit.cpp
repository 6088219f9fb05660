// The glyph blitters: a one-bit canvas glyph into BGRA pixels, one canvas pixel or one 4 x 4
// block (17 coverage levels) per cell pixel, with gradients, quarter turns and compositing.
#include <cstring>

#include "text/text.h"

namespace {

struct Rgb {
  int32_t c[3];   // red, green, blue
};

Rgb Channels(uint32_t colour) {
  return {{(int32_t)((colour >> 16) & 0xFF), (int32_t)((colour >> 8) & 0xFF), (int32_t)(colour & 0xFF)}};
}

// Kinds 1..8 after the glyph is turned, so that the gradient stays put on the layer.
const uint8_t kRotatedKind[4][9] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8},
    {0, 3, 4, 2, 1, 8, 5, 6, 7},
    {0, 2, 1, 4, 3, 7, 8, 5, 6},
    {0, 4, 3, 1, 2, 6, 7, 8, 5},
};

// Ink bits of canvas rows row..row+3, columns 4c..4c+3. Rows past the canvas hold no ink.
int InkCount(const GlyphCanvas& canvas, int64_t row, int32_t c) {
  int32_t rowBytes = canvas.mSide / 8;
  int32_t byte = c / 2;
  if (byte >= rowBytes) return 0;
  int n = 0;
  for (int64_t r = row; r < row + 4 && r < canvas.mSide; r++) {
    int32_t count = g_InkCountTable[canvas.mBits[r * rowBytes + byte]];
    n += (c & 1) ? (count & 0xFF) : (count >> 8);
  }
  return n;
}

bool InkBit(const GlyphCanvas& canvas, int64_t row, int32_t c) {
  if (c >= canvas.mSide) return false;
  uint8_t byte = canvas.mBits[row * (canvas.mSide / 8) + c / 8];
  return !(byte & (0x80u >> (c & 7)));
}

template <bool kAntialiased>
bool BlitGlyph(const GlyphCanvas& canvas, const PixelTarget& target, uint32_t colour1,
               uint32_t colour2, int32_t gradient, int32_t rotation, int32_t w, int32_t h,
               int64_t x, int64_t y, int32_t composite) {
  if (w <= 0 || h <= 0 || !target.mPixels || !canvas.mBits || canvas.mSide <= 0) return false;
  // Only quarter turns exist; other values draw upright.
  if (rotation < 0 || rotation > 3) rotation = 0;
  // A turned cell covers h columns and w rows: the whole footprint must lie inside.
  int64_t spanX = (rotation & 1) ? h : w, spanY = (rotation & 1) ? w : h;
  if (x < 0 || y < 0 || x + spanX > target.mWidth || y + spanY > target.mHeight) return false;
  if (colour2 == 0xFFFFFFFF) colour2 = colour1;
  uint8_t corners[4][3];
  GetGradientCorners(gradient, rotation, colour1, colour2, corners);
  // The row scale maps cell rows onto canvas rows; a cell far wider than tall keeps scale 1.
  int64_t k = (100 * (int64_t)h) / w;
  if (k < 1) k = 1;
  int64_t rowSpan = h > 1 ? h - 1 : 1, colSpan = w > 1 ? w - 1 : 1;
  int64_t pitch = (int64_t)target.mWidth * 4;
  for (int64_t r = 0; r < h; r++) {
    int64_t sr = ((kAntialiased ? 400 : 100) * r) / k;
    if (sr >= canvas.mSide) continue;
    Rgb left, right;
    for (int ch = 0; ch < 3; ch++) {
      left.c[ch] = (uint8_t)(corners[0][ch] + ((corners[2][ch] - corners[0][ch]) * r) / rowSpan);
      right.c[ch] = (uint8_t)(corners[1][ch] + ((corners[3][ch] - corners[1][ch]) * r) / rowSpan);
    }
    bool flat = memcmp(&left, &right, sizeof left) == 0;
    for (int32_t c = 0; c < w; c++) {
      int32_t colour[3];
      for (int ch = 0; ch < 3; ch++)
        colour[ch] = flat ? left.c[ch]
                          : (uint8_t)(left.c[ch] + ((right.c[ch] - left.c[ch]) * (int64_t)c) / colSpan);
      int64_t px, py;
      switch (rotation) {
        case 1: px = x + h - 1 - r; py = y + c; break;
        case 2: px = x + w - 1 - c; py = y + h - 1 - r; break;
        case 3: px = x + r; py = y + w - 1 - c; break;
        default: px = x + c; py = y + r; break;
      }
      uint8_t* d = target.mPixels + py * pitch + px * 4;
      if constexpr (kAntialiased) {
        int32_t a = g_CoverageAlpha[InkCount(canvas, sr, c)];
        if (!composite) {
          d[0] = (uint8_t)colour[2], d[1] = (uint8_t)colour[1], d[2] = (uint8_t)colour[0], d[3] = (uint8_t)a;
          continue;
        }
        int32_t da = d[3];
        int32_t na = (da + a - ((da * (a + 1)) >> 8)) & 0xFF;
        for (int ch = 0; ch < 3; ch++) {
          int32_t dv = d[2 - ch];
          d[2 - ch] = (uint8_t)(dv + ((colour[ch] - dv) * (a + 1)) / (na + 1));
        }
        d[3] = (uint8_t)na;
      } else {
        if (InkBit(canvas, sr, c)) {
          d[0] = (uint8_t)colour[2], d[1] = (uint8_t)colour[1], d[2] = (uint8_t)colour[0], d[3] = 255;
        } else if (!composite) {
          d[0] = 0, d[1] = 0, d[2] = 0, d[3] = 255;
        }
      }
    }
  }
  return true;
}

}  // namespace

void GetGradientCorners(int32_t gradient, int32_t rotation, uint32_t colour1, uint32_t colour2,
                        uint8_t corners[4][3]) {
  // Kinds beyond the table have no corners of their own; they draw in the first colour.
  int32_t kind = gradient >= 0 && gradient <= 8 ? gradient : 0;
  kind = kRotatedKind[rotation >= 0 && rotation <= 3 ? rotation : 0][kind];
  Rgb c1 = Channels(colour1), c2 = Channels(colour2), m;
  for (int ch = 0; ch < 3; ch++) m.c[ch] = c1.c[ch] + (c2.c[ch] - c1.c[ch]) / 2;
  const Rgb* pick[9][4] = {
      {&c1, &c1, &c1, &c1}, {&c1, &c1, &c2, &c2}, {&c2, &c2, &c1, &c1},
      {&c1, &c2, &c1, &c2}, {&c2, &c1, &c2, &c1}, {&c1, &m, &m, &c2},
      {&m, &c1, &c2, &m},   {&c2, &m, &m, &c1},   {&m, &c2, &c1, &m},
  };
  for (int corner = 0; corner < 4; corner++)
    for (int ch = 0; ch < 3; ch++) corners[corner][ch] = (uint8_t)pick[kind][corner]->c[ch];
}

bool BlitGlyphMonoTo(const GlyphCanvas& canvas, const PixelTarget& target, uint32_t colour1,
                     uint32_t colour2, int32_t gradient, int32_t rotation, int32_t w, int32_t h,
                     int64_t x, int64_t y, int32_t composite) {
  return BlitGlyph<false>(canvas, target, colour1, colour2, gradient, rotation, w, h, x, y, composite);
}

bool BlitGlyphAntialiasedTo(const GlyphCanvas& canvas, const PixelTarget& target,
                            uint32_t colour1, uint32_t colour2, int32_t gradient,
                            int32_t rotation, int32_t w, int32_t h, int64_t x, int64_t y,
                            int32_t composite) {
  return BlitGlyph<true>(canvas, target, colour1, colour2, gradient, rotation, w, h, x, y, composite);
}
