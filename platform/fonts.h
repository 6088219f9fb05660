// The font service of the host boundary: installed faces for the font table, and one
// character drawn into a one-bit canvas the way the engine's glyph code expects it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One row of the installed-font list. A face that covers Japanese and Latin text is listed
// twice, once per script, the way the original system's font enumeration reports it.
struct PlatFontFace {
  std::string name;     // code page 932
  uint8_t japanese;     // 1: the row for the Japanese script; 0: any other script
  uint8_t fixedPitch;   // 1: every character advances a whole or half cell
};

// The installed faces: first the Windows face names whose stand-in is installed (see the alias
// table in platform/posix/fonts.cpp), then every installed family, sorted by name. When no
// font is installed at all the list holds only the built-in face PLAT_BUILTIN_FACE.
void PlatListFontFaces(std::vector<PlatFontFace>* out);
extern const char* const PLAT_BUILTIN_FACE;

// A face opened at one size. `cellHeight` is the pixel height of the character cell (ascent
// plus descent), as a positive font height asks for on Windows. Faces are looked up by name,
// Windows names through the alias table; a missing face falls back to the closest installed
// face that covers Japanese, and to the built-in face when nothing is installed. Never null.
// Owned by the caller; close with PlatGlyphFontClose. Any thread (the calls share one lock), but
// one font is used by one thread at a time.
struct PlatGlyphFont;
PlatGlyphFont* PlatGlyphFontOpen(const char* faceCp932, int cellHeight, bool bold);
void PlatGlyphFontClose(PlatGlyphFont* font);
// True when the font is the built-in stand-in (no installed face was usable).
bool PlatGlyphFontIsBuiltin(const PlatGlyphFont* font);

// Draws one character (one or two bytes of code page 932) with the cell's top-left corner at
// the canvas origin, as ink: the bits it covers are cleared to 0, all others are left alone.
// The canvas is `side` x `side` bits, rows of side / 8 bytes, the leftmost pixel in bit 7.
// Ink outside the canvas is clipped. False when the bytes are no character of code page 932
// (nothing is drawn then).
bool PlatGlyphDraw(PlatGlyphFont* font, const char* text, int length, uint8_t* bits, int side);
