// Drawing for the SDL backend's widgets: filled and outlined rectangles and text lines drawn with
// our font service (the installed Japanese gothic face), glyphs cached per character.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/fonts.h"
#include "platform/icon_theme.h"
#include "platform/sdl/sdl_widgets.h"

namespace {

// One drawn character: its advance and a 16 x 16 one-bit picture (bit set = ink).
struct Glyph {
  int advance;
  uint16_t rows[16];
};

std::mutex g_GlyphLock;   // the cache and the font; widgets draw on the main thread only, but cheaply safe
PlatGlyphFont* g_Font;
std::unordered_map<uint32_t, Glyph> g_Glyphs;
constexpr size_t MAX_CACHED_GLYPHS = 8192;

PlatGlyphFont* Font() {
  if (!g_Font) {
    std::string face;
    if (!PlatUtf8ToCp932("ＭＳ ゴシック", strlen("ＭＳ ゴシック"), &face)) face = "MS Gothic";
    g_Font = PlatGlyphFontOpen(face.c_str(), WIDGET_CELL, false);
  }
  return g_Font;
}

// The glyph of a code point through its code page 932 bytes; characters the code page lacks
// are shown as '?', as the engine will store them.
const Glyph& GlyphOf(uint32_t cp) {
  auto found = g_Glyphs.find(cp);
  if (found != g_Glyphs.end()) return found->second;
  if (g_Glyphs.size() >= MAX_CACHED_GLYPHS) g_Glyphs.clear();
  char utf8[5] = {};
  int n = 0;
  if (cp < 0x80) utf8[n++] = (char)cp;
  else if (cp < 0x800) utf8[n++] = (char)(0xC0 | cp >> 6), utf8[n++] = (char)(0x80 | (cp & 0x3F));
  else if (cp < 0x10000)
    utf8[n++] = (char)(0xE0 | cp >> 12), utf8[n++] = (char)(0x80 | (cp >> 6 & 0x3F)), utf8[n++] = (char)(0x80 | (cp & 0x3F));
  else
    utf8[n++] = (char)(0xF0 | cp >> 18), utf8[n++] = (char)(0x80 | (cp >> 12 & 0x3F)),
    utf8[n++] = (char)(0x80 | (cp >> 6 & 0x3F)), utf8[n++] = (char)(0x80 | (cp & 0x3F));
  std::string bytes;
  if (!PlatUtf8ToCp932(utf8, (size_t)n, &bytes) || bytes.empty() || bytes.size() > 2) bytes = "?";
  Glyph g{};
  g.advance = bytes.size() == 2 ? WIDGET_CELL : WIDGET_HALF;
  uint8_t bits[32];
  memset(bits, 0xFF, sizeof bits);
  if ((uint8_t)bytes[0] >= 0x20) PlatGlyphDraw(Font(), bytes.data(), (int)bytes.size(), bits, 16);
  for (int y = 0; y < 16; y++) g.rows[y] = (uint16_t)~(bits[y * 2] << 8 | bits[y * 2 + 1]);
  return g_Glyphs.emplace(cp, g).first->second;
}

}  // namespace

void WidgetResize(WidgetCanvas* c, int width, int height, uint32_t colour) {
  c->width = std::max(0, width);
  c->height = std::max(0, height);
  c->pixels.assign((size_t)c->width * c->height, colour);
}

void WidgetFill(WidgetCanvas* c, int x, int y, int width, int height, uint32_t colour) {
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(c->width, x + width), y1 = std::min(c->height, y + height);
  for (int yy = y0; yy < y1; yy++)
    std::fill(c->pixels.begin() + (ptrdiff_t)yy * c->width + x0, c->pixels.begin() + (ptrdiff_t)yy * c->width + x1,
              colour);
}

void WidgetFrame(WidgetCanvas* c, int x, int y, int width, int height, uint32_t colour) {
  WidgetFill(c, x, y, width, 1, colour);
  WidgetFill(c, x, y + height - 1, width, 1, colour);
  WidgetFill(c, x, y, 1, height, colour);
  WidgetFill(c, x + width - 1, y, 1, height, colour);
}

void WidgetDrawPicture(WidgetCanvas* c, int x, int y, int width, int height, const PlatIcon& picture) {
  if (picture.width <= 0 || picture.height <= 0 || picture.argb.size() < (size_t)picture.width * picture.height) return;
  for (int row = 0; row < height; row++) {
    int yy = y + row;
    if (yy < 0 || yy >= c->height) continue;
    const uint32_t* source = &picture.argb[(size_t)(row * picture.height / height) * picture.width];
    for (int col = 0; col < width; col++) {
      int xx = x + col;
      if (xx < 0 || xx >= c->width) continue;
      uint32_t p = source[col * picture.width / width];
      uint32_t a = p >> 24;
      uint32_t& q = c->pixels[(size_t)yy * c->width + xx];
      uint32_t out = 0xFF000000;
      for (int shift = 0; shift < 24; shift += 8) {
        uint32_t over = p >> shift & 0xFF, under = q >> shift & 0xFF;
        out |= ((over * a + under * (255 - a) + 127) / 255) << shift;
      }
      q = out;
    }
  }
}

WidgetLabel WidgetParseLabel(const std::string& utf8) {
  WidgetLabel label;
  for (size_t i = 0; i < utf8.size(); i++) {
    if (utf8[i] != '&') {
      label.text += utf8[i];
      continue;
    }
    if (i + 1 >= utf8.size()) break;
    if (utf8[i + 1] == '&') {
      label.text += '&';
      i++;
      continue;
    }
    if (label.mnemonicAt < 0) {
      label.mnemonicAt = (int)label.text.size();
      size_t at = i + 1;
      uint32_t cp = WidgetNextCodePoint(utf8, &at);
      label.accessKey = cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    }
  }
  return label;
}

int WidgetTextWidth(const std::string& utf8, int limit) {
  std::lock_guard<std::mutex> lock(g_GlyphLock);
  int width = 0;
  for (size_t i = 0; i < utf8.size() && width < limit;) {
    uint32_t cp = WidgetNextCodePoint(utf8, &i);
    if (cp < 0x20) continue;
    width += GlyphOf(cp).advance;
  }
  return width;
}

int WidgetDrawText(WidgetCanvas* c, int x, int y, const std::string& utf8, uint32_t colour, int clipRight,
                   int underlineAt) {
  std::lock_guard<std::mutex> lock(g_GlyphLock);
  clipRight = std::min(clipRight, c->width);
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    uint32_t cp = WidgetNextCodePoint(utf8, &i);
    if (cp < 0x20) continue;
    const Glyph& g = GlyphOf(cp);
    if (x + g.advance > clipRight) break;
    for (int row = 0; row < 16; row++) {
      int yy = y + row;
      if (yy < 0 || yy >= c->height || !g.rows[row]) continue;
      for (int k = 0; k < 16; k++)
        if (g.rows[row] & (0x8000u >> k) && x + k >= 0 && x + k < clipRight)
          c->pixels[(size_t)yy * c->width + x + k] = colour;
    }
    if ((int)start == underlineAt) WidgetFill(c, x, y + WIDGET_CELL - 1, g.advance, 1, colour);
    x += g.advance;
  }
  return x;
}

std::vector<std::string> WidgetWrapText(const std::string& utf8, int width, int maxLines) {
  std::vector<std::string> lines(1);
  int lineWidth = 0;
  bool cut = false;
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    uint32_t cp = WidgetNextCodePoint(utf8, &i);
    if (cp == '\r') continue;
    int advance = cp < 0x20 ? 0 : WidgetTextWidth(utf8.substr(start, i - start));
    if (cp == '\n' || (lineWidth + advance > width && lineWidth > 0)) {
      if ((int)lines.size() >= maxLines) {
        cut = true;
        break;
      }
      lines.emplace_back();
      lineWidth = 0;
      if (cp == '\n') continue;
    }
    lines.back().append(utf8, start, i - start);
    lineWidth += advance;
  }
  if (cut) {
    std::string& last = lines.back();
    while (!last.empty() && WidgetTextWidth(last + "...") > width) {
      size_t end = last.size() - 1;
      while (end > 0 && ((uint8_t)last[end] & 0xC0) == 0x80) end--;
      last.erase(end);
    }
    last += "...";
  }
  return lines;
}

void WidgetPresent(SDL_Window* window, const WidgetCanvas& c) {
  SDL_Surface* target = SDL_GetWindowSurface(window);
  if (!target || c.width <= 0 || c.height <= 0) return;
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(c.pixels.data()), c.width,
                                                           c.height, 32, c.width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!source) return;
  SDL_BlitSurface(source, nullptr, target, nullptr);
  SDL_FreeSurface(source);
  SDL_UpdateWindowSurface(window);
}

SDL_Rect WidgetDisplayBounds(int x, int y) {
  SDL_Rect r{0, 0, 640, 480};
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; i++) {
    SDL_Rect b;
    if (SDL_GetDisplayUsableBounds(i, &b) != 0 && SDL_GetDisplayBounds(i, &b) != 0) continue;
    if (i == 0) r = b;
    SDL_Point p{x, y};
    if (SDL_PointInRect(&p, &b)) return b;
  }
  return r;
}
