// Glyph rendering into a style slot's one-bit canvas, its measurement, and DrawTextChar with
// outlines and drop shadows.
#include <cstring>
#include <new>

#include "app/engine.h"
#include "layers/layer.h"
#include "platform/fonts.h"
#include "text/text.h"

namespace {

int32_t ClampCellWidth(int32_t width) {
  return width < 0 ? 0 : width > MAX_CELL_WIDTH ? MAX_CELL_WIDTH : width;
}

// Bytes of the character at `text`: a lead byte followed by the terminator is a lone byte.
int CharLength(const char* text) {
  return g_LeadByteTable[(uint8_t)text[0]] && text[1] != '\0' ? 2 : 1;
}

}  // namespace

int PrepareGlyphFont(int32_t cellWidth, int32_t cellHeight, int32_t bold, int32_t fontHeight,
                     int32_t side) {
  EnsureFontTable();
  GlyphSlot& slot = g_GlyphSlots[g_TextStyleSlot];
  int32_t fontIndex = g_TextStyles[g_TextStyleSlot].mFontIndex;
  if (slot.mBits && slot.mKeyWidth == cellWidth && slot.mKeyHeight == cellHeight &&
      slot.mKeyFontHeight == fontHeight && slot.mKeyBold == (int8_t)bold &&
      slot.mKeyFontIndex == fontIndex)
    return 0;
  PlatGlyphFontClose(slot.mFont);
  delete[] slot.mBits;
  slot = GlyphSlot{nullptr, nullptr, 0, 0, -1, -1, -1, -1, -1};
  size_t bytes = (size_t)side * (size_t)side / 8;
  slot.mBits = new (std::nothrow) uint8_t[bytes];
  if (!slot.mBits) return ReportError(100010, 1), -1;
  slot.mSide = side;
  slot.mByteSize = bytes;
  slot.mFont = PlatGlyphFontOpen(GetFontFaceName(fontIndex), fontHeight, bold != 0);
  // The key is stored only once the objects exist, so a failure is retried next time.
  slot.mKeyWidth = cellWidth;
  slot.mKeyHeight = cellHeight;
  slot.mKeyFontHeight = fontHeight;
  slot.mKeyBold = (int8_t)bold;
  slot.mKeyFontIndex = fontIndex;
  return 1;
}

GlyphCanvas CurrentGlyphCanvas() {
  const GlyphSlot& slot = g_GlyphSlots[g_TextStyleSlot];
  return {slot.mBits, slot.mSide};
}

int RenderGlyph(const char* text, int32_t cellWidth, int32_t cellHeight, int32_t bold,
                int32_t antialias, int32_t* advance, int32_t* height) {
  int32_t width = ClampCellWidth(cellWidth);
  int32_t side = g_GlyphCanvasSide[width];
  int32_t scale = antialias == 1 ? 4 : 1;
  *advance = 0;
  *height = 0;
  if (PrepareGlyphFont(width, cellHeight, bold, width * scale, side) < 0) return 0;
  GlyphSlot& slot = g_GlyphSlots[g_TextStyleSlot];
  memset(slot.mBits, 0xFF, slot.mByteSize);
  int length = CharLength(text);
  PlatGlyphDraw(slot.mFont, text, length, slot.mBits, side);
  int pitch = GetSlotFontPitch();
  if (pitch == 0) {
    *advance = length == 2 ? width : width / 2;
    *height = cellHeight;
    return 0;
  }
  if (pitch != 1) {
    *advance = width < 4 ? width : 4;
    *height = cellHeight < 4 ? cellHeight : 4;
    return 0;
  }
  // Proportional faces: the advance follows the rightmost ink, the height the topmost.
  int32_t right = 0, top = 0, rowBytes = side / 8;
  bool found = false;
  for (int32_t y = 0; y < side; y++) {
    const uint8_t* row = slot.mBits + (size_t)y * rowBytes;
    for (int32_t b = rowBytes - 1; b >= 0; b--) {
      if (row[b] == 0xFF) continue;
      int32_t bit = 7;
      while (row[b] & (0x80u >> bit)) bit--;
      if (b * 8 + bit > right) right = b * 8 + bit;
      if (!found) top = side - y, found = true;
      break;
    }
  }
  int32_t a = right / scale + 4, hgt = top / scale + 4;
  *advance = a < width ? a : width;
  *height = hgt < cellHeight ? hgt : cellHeight;
  return 0;
}

int32_t DrawTextCharTo(const PixelTarget& target, const char* text, uint32_t colour1,
                       uint32_t colour2, int32_t gradient, int32_t rotation, int32_t cellWidth,
                       int32_t cellHeight, int32_t bold, int32_t antialias, int32_t edge,
                       int64_t x, int64_t y, int32_t composite, bool* drawn) {
  // The canvas holds at most the widest cell; wider cells draw at that width.
  int32_t width = ClampCellWidth(cellWidth);
  int32_t advance = 0, height = 0;
  RenderGlyph(text, width, cellHeight, bold, antialias, &advance, &height);
  GlyphCanvas canvas = CurrentGlyphCanvas();
  auto blit = antialias == 1 ? BlitGlyphAntialiasedTo : BlitGlyphMonoTo;
  int64_t offsets[9][2];
  int copies = 0;
  if (edge <= 0) {
    offsets[copies][0] = 0, offsets[copies++][1] = 0;
  } else if (edge <= 10) {
    for (int dx = 1; dx >= -1; dx--)
      for (int dy = -1; dy <= 1; dy++) offsets[copies][0] = dx * edge, offsets[copies++][1] = dy * edge;
  } else {
    int64_t d = edge - 10;
    offsets[0][0] = d, offsets[0][1] = 0;
    offsets[1][0] = 0, offsets[1][1] = d;
    offsets[2][0] = d, offsets[2][1] = d;
    copies = 3;
  }
  bool any = false;
  for (int i = 0; i < copies && canvas.mBits; i++)
    any |= blit(canvas, target, colour1, colour2, gradient, rotation, width, cellHeight,
                x + offsets[i][0], y + offsets[i][1], composite);
  if (drawn) *drawn = any;
  return advance;
}

int32_t DrawTextChar(const char* text, uint32_t colour1, uint32_t colour2, int32_t gradient,
                     int32_t rotation, int32_t cellWidth, int32_t cellHeight, int32_t bold,
                     int32_t antialias, int32_t edge, int64_t x, int64_t y, int32_t composite,
                     NameNode* layer) {
  LayerRecord* r = GetLayerRecord(layer);
  PixelTarget target{r ? r->mPixels : nullptr, r ? r->mWidth : 0, r ? r->mHeight : 0};
  if (r) r->mHasAlpha = 1;
  bool drawn = false;
  int32_t advance = DrawTextCharTo(target, text, colour1, colour2, gradient, rotation, cellWidth,
                                   cellHeight, bold, antialias, edge, x, y, composite, &drawn);
  if (drawn) InvalidateLayer(layer);
  return advance;
}
