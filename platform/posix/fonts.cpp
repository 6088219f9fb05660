// Installed fonts through fontconfig and one-bit glyph drawing through FreeType, with the
// Windows face-name aliases and a built-in box face for machines without fonts.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/fonts.h"
#include "platform/platform.h"

const char* const PLAT_BUILTIN_FACE = "KIVOR Builtin";

namespace {

// Windows face names that games ask for, and the installed family that stands in for each.
// This is the only place that knows them.
struct FaceAlias {
  const char* windowsUtf8;
  const char* family;
};
const FaceAlias kAliases[] = {
    {"ＭＳ ゴシック", "IPAGothic"},   {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"ＭＳ 明朝", "IPAMincho"},       {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"MS Gothic", "IPAGothic"},       {"MS PGothic", "IPAPGothic"},
    {"MS Mincho", "IPAMincho"},       {"MS PMincho", "IPAPMincho"},
    {"MS UI Gothic", "IPAPGothic"},
};

struct FontFile {
  std::string path;
  int index;
  bool fixedPitch;
};

// One FreeType library serves the glyph code of the frame step and the backend's own widgets,
// which draw on the main thread: every entry point below holds this lock.
std::mutex g_FontLock;
FT_Library g_FtLibrary;
bool g_FtTried;
// Faces stay open once used: a few fonts at most, and reopening one costs a file parse.
std::map<std::string, FT_Face> g_OpenFaces;

bool FtReady() {
  if (!g_FtTried) {
    g_FtTried = true;
    if (FT_Init_FreeType(&g_FtLibrary) != 0) g_FtLibrary = nullptr;
  }
  return g_FtLibrary != nullptr;
}

bool ToUtf8(const char* cp932, std::string* out) {
  return PlatCp932ToUtf8(cp932, strlen(cp932), out);
}

const char* AliasTarget(const std::string& utf8) {
  for (const FaceAlias& a : kAliases)
    if (utf8 == a.windowsUtf8) return a.family;
  return nullptr;
}

bool PatternHasLang(FcPattern* p, const char* lang) {
  FcLangSet* langs = nullptr;
  if (FcPatternGetLangSet(p, FC_LANG, 0, &langs) != FcResultMatch) return false;
  return FcLangSetHasLang(langs, (const FcChar8*)lang) != FcLangDifferentLang;
}

bool PatternFixed(FcPattern* p) {
  int spacing = FC_PROPORTIONAL;
  if (FcPatternGetInteger(p, FC_SPACING, 0, &spacing) != FcResultMatch) return false;
  return spacing == FC_MONO || spacing == FC_DUAL || spacing == FC_CHARCELL;
}

struct FamilyInfo {
  bool japanese = false, latin = false, fixedPitch = false;
};

// Every installed family by its first (untranslated) name, with the scripts it covers.
std::map<std::string, FamilyInfo> InstalledFamilies() {
  std::map<std::string, FamilyInfo> families;
  if (!FcInit()) return families;
  FcPattern* all = FcPatternCreate();
  FcObjectSet* fields = FcObjectSetBuild(FC_FAMILY, FC_LANG, FC_SPACING, nullptr);
  FcFontSet* set = FcFontList(nullptr, all, fields);
  for (int i = 0; set && i < set->nfont; i++) {
    FcChar8* family = nullptr;
    if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch) continue;
    FamilyInfo& info = families[(const char*)family];
    info.japanese = info.japanese || PatternHasLang(set->fonts[i], "ja");
    info.latin = info.latin || PatternHasLang(set->fonts[i], "en");
    info.fixedPitch = info.fixedPitch || PatternFixed(set->fonts[i]);
  }
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(fields);
  FcPatternDestroy(all);
  return families;
}

void AddRows(std::vector<PlatFontFace>* out, const std::string& utf8Name, const FamilyInfo& info) {
  std::string name;
  if (!PlatUtf8ToCp932(utf8Name.data(), utf8Name.size(), &name) || name.empty()) return;
  if (info.japanese) out->push_back({name, 1, (uint8_t)info.fixedPitch});
  if (info.latin || !info.japanese) out->push_back({name, 0, (uint8_t)info.fixedPitch});
}

// The file of the family (alias resolved), or of the closest Japanese face. False when
// fontconfig knows no font at all.
bool FindFontFile(const std::string& utf8Name, bool bold, FontFile* out) {
  if (!FcInit()) return false;
  const char* target = AliasTarget(utf8Name);
  FcPattern* want = FcPatternCreate();
  FcPatternAddString(want, FC_FAMILY, (const FcChar8*)(target ? target : utf8Name.c_str()));
  FcPatternAddString(want, FC_LANG, (const FcChar8*)"ja");
  FcPatternAddInteger(want, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(want, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, want, FcMatchPattern);
  FcDefaultSubstitute(want);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, want, &result);
  FcPatternDestroy(want);
  if (!match) return false;
  FcChar8* file = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
  if (ok) {
    out->path = (const char*)file;
    out->index = 0;
    FcPatternGetInteger(match, FC_INDEX, 0, &out->index);
    out->fixedPitch = PatternFixed(match);
  }
  FcPatternDestroy(match);
  return ok;
}

FT_Face OpenFace(const FontFile& file) {
  std::string key = file.path + '#' + std::to_string(file.index);
  auto found = g_OpenFaces.find(key);
  if (found != g_OpenFaces.end()) return found->second;
  FT_Face face = nullptr;
  if (FT_New_Face(g_FtLibrary, file.path.c_str(), file.index, &face) != 0) return nullptr;
  if (!FT_IS_SCALABLE(face)) {
    FT_Done_Face(face);
    return nullptr;
  }
  g_OpenFaces[key] = face;
  return face;
}

// Code page 932 bytes of one character to its Unicode code point; 0 when they are none.
uint32_t CodePoint(const char* text, int length) {
  static iconv_t cd = iconv_open("UTF-32LE", "CP932");
  if (cd == (iconv_t)-1 || length < 1 || length > 2) return 0;
  char in[2] = {text[0], length == 2 ? text[1] : '\0'};
  char outBytes[8] = {};
  char* src = in;
  size_t srcLeft = (size_t)length;
  char* dst = outBytes;
  size_t dstLeft = sizeof outBytes;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == (size_t)-1 || dstLeft != 4) return 0;
  return (uint32_t)(uint8_t)outBytes[0] | (uint32_t)(uint8_t)outBytes[1] << 8 |
         (uint32_t)(uint8_t)outBytes[2] << 16 | (uint32_t)(uint8_t)outBytes[3] << 24;
}

void ClearBit(uint8_t* bits, int side, int x, int y) {
  if (x < 0 || y < 0 || x >= side || y >= side) return;
  bits[(size_t)y * (side / 8) + x / 8] &= (uint8_t)~(0x80u >> (x & 7));
}

// The built-in face: a hollow box a half cell (single byte) or a whole cell wide, so text
// keeps its layout and stays countable when no font exists. Spaces draw nothing.
void DrawBuiltinBox(int cellHeight, int length, uint32_t code, uint8_t* bits, int side) {
  if (code == 0x20 || code == 0x3000) return;
  int width = length == 2 ? cellHeight : cellHeight / 2;
  int margin = std::max(1, cellHeight / 10);
  int stroke = std::max(1, cellHeight / 16);
  int left = margin, right = width - margin - 1, top = margin, bottom = cellHeight - margin - 1;
  for (int y = top; y <= bottom; y++)
    for (int x = left; x <= right; x++)
      if (x < left + stroke || x > right - stroke || y < top + stroke || y > bottom - stroke)
        ClearBit(bits, side, x, y);
}

}  // namespace

struct PlatGlyphFont {
  FT_Face face;       // shared with other fonts of the same file; null for the built-in face
  FT_Size size;       // this font's own size object on the face
  int cellHeight;
  bool bold;
  int ascent;         // pixels from the cell top to the baseline
};

void PlatListFontFaces(std::vector<PlatFontFace>* out) {
  std::lock_guard<std::mutex> lock(g_FontLock);
  out->clear();
  std::map<std::string, FamilyInfo> families = InstalledFamilies();
  for (const FaceAlias& a : kAliases) {
    auto target = families.find(a.family);
    if (target != families.end()) AddRows(out, a.windowsUtf8, target->second);
  }
  for (const auto& [name, info] : families) AddRows(out, name, info);
  if (out->empty()) out->push_back({PLAT_BUILTIN_FACE, 1, 1});
}

PlatGlyphFont* PlatGlyphFontOpen(const char* faceCp932, int cellHeight, bool bold) {
  std::lock_guard<std::mutex> lock(g_FontLock);
  PlatGlyphFont* font = new PlatGlyphFont{};
  font->cellHeight = std::max(1, cellHeight);
  font->bold = bold;
  std::string utf8;
  FontFile file;
  if (!FtReady() || !ToUtf8(faceCp932, &utf8) || utf8 == PLAT_BUILTIN_FACE ||
      !FindFontFile(utf8, bold, &file))
    return font;
  FT_Face face = OpenFace(file);
  if (!face || FT_New_Size(face, &font->size) != 0) return font;
  FT_Activate_Size(font->size);
  // A positive font height on Windows asks for the whole cell, which Windows measures from
  // the face's own ascent and descent (the OS/2 "win" metrics when the face has them).
  long ascent = face->ascender, descent = -face->descender;
  const TT_OS2* os2 = (const TT_OS2*)FT_Get_Sfnt_Table(face, FT_SFNT_OS2);
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0)
    ascent = os2->usWinAscent, descent = os2->usWinDescent;
  if (ascent + descent <= 0) ascent = face->units_per_EM, descent = 0;
  FT_F26Dot6 em = (FT_F26Dot6)((int64_t)font->cellHeight * 64 * face->units_per_EM / (ascent + descent));
  if (FT_Set_Char_Size(face, 0, em > 0 ? em : 1, 72, 72) != 0) {
    FT_Done_Size(font->size);
    font->size = nullptr;
    return font;
  }
  font->ascent = (int)(((int64_t)font->cellHeight * ascent * 2 + (ascent + descent)) / (2 * (ascent + descent)));
  font->face = face;
  return font;
}

void PlatGlyphFontClose(PlatGlyphFont* font) {
  if (!font) return;
  std::lock_guard<std::mutex> lock(g_FontLock);
  if (font->size) FT_Done_Size(font->size);
  delete font;
}

bool PlatGlyphFontIsBuiltin(const PlatGlyphFont* font) { return font->face == nullptr; }

bool PlatGlyphDraw(PlatGlyphFont* font, const char* text, int length, uint8_t* bits, int side) {
  std::lock_guard<std::mutex> lock(g_FontLock);
  uint32_t code = CodePoint(text, length);
  if (code == 0 && !(length == 1 && text[0] == 0)) return false;
  if (side <= 0 || side % 8 != 0) return false;
  if (!font->face) {
    DrawBuiltinBox(font->cellHeight, length, code, bits, side);
    return true;
  }
  FT_Face face = font->face;
  FT_Activate_Size(font->size);
  FT_UInt index = FT_Get_Char_Index(face, code);
  if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP) != 0) return true;
  FT_GlyphSlot slot = face->glyph;
  if (font->bold && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    // Windows thickens synthetic bold by about a pixel per 24 pixels of height.
    FT_Pos strength = std::max<FT_Pos>(64, (FT_Pos)font->cellHeight * 64 / 24);
    FT_Outline_EmboldenXY(&slot->outline, strength, 0);
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return true;
  const FT_Bitmap& bitmap = slot->bitmap;
  int left = slot->bitmap_left, top = font->ascent - slot->bitmap_top;
  int rowBytes = side / 8, srcBytes = ((int)bitmap.width + 7) / 8;
  for (unsigned row = 0; row < bitmap.rows; row++) {
    int y = top + (int)row;
    if (y < 0 || y >= side) continue;
    const uint8_t* src = bitmap.buffer + (ptrdiff_t)row * bitmap.pitch;
    uint8_t* dst = bits + (size_t)y * rowBytes;
    // Whole source bytes are shifted into place; the bits past the glyph's width are 0.
    for (int b = 0; b < srcBytes; b++) {
      if (!src[b]) continue;
      int x = left + b * 8;
      if (x < 0) {
        for (int k = 0; k < 8; k++)
          if (src[b] & (0x80u >> k)) ClearBit(bits, side, x + k, y);
        continue;
      }
      int shift = x & 7, at = x >> 3;
      if (at < rowBytes) dst[at] &= (uint8_t)~(src[b] >> shift);
      if (shift && at + 1 < rowBytes) dst[at + 1] &= (uint8_t)~(src[b] << (8 - shift));
    }
  }
  return true;
}

// fontconfig keeps pieces of its parsed configuration for the whole life of the process and
// never frees them; the leak checker of sanitized builds is told not to count them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
