// The font table of installed faces, the eight text style slots and the glyph lookup tables.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/fonts.h"
#include "platform/platform.h"
#include "text/text.h"

char** g_FontFaces;
uint8_t* g_FontScript;
uint8_t* g_FontPitch;
int32_t g_FontCount;

TextStyle g_TextStyles[TEXT_STYLE_SLOTS];
GlyphSlot g_GlyphSlots[TEXT_STYLE_SLOTS];
int32_t g_TextStyleSlot;

int32_t g_InkCountTable[256];
uint8_t g_CoverageAlpha[32];
int32_t g_GlyphCanvasSide[MAX_CELL_WIDTH + 1];

namespace {

// The faces a slot starts with, the first installed one winning: what games were made with.
const char* const kDefaultFacesUtf8[] = {"ＭＳ ゴシック", "標準ゴシック", "ＭＳ Ｐゴシック",
                                         "ＭＳ 明朝", "標準明朝"};

// Listing the installed faces loads fontconfig and sets it up, which reads every configuration
// file and costs tens of milliseconds. The first frame has it started on a thread of its own
// once that frame is shown (before, it would only take the processor from the first picture),
// and the table is filled from its list at the first use of a font; a first frame with text
// lists them at once. Both live on the thread that runs the frames.
std::thread* g_FaceLister;
std::vector<PlatFontFace> g_ListedFaces;   // written by the lister until it is joined
bool g_FontTableBuilt;

void FreeFontTable() {
  for (int32_t i = 0; i < g_FontCount; i++) delete[] g_FontFaces[i];
  delete[] g_FontFaces;
  delete[] g_FontScript;
  delete[] g_FontPitch;
  g_FontFaces = nullptr;
  g_FontScript = g_FontPitch = nullptr;
  g_FontCount = 0;
}

void CollectFontFace(const PlatFontFace& face) {
  size_t length = face.name.size();
  char* name = new char[length + 1];
  memcpy(name, face.name.c_str(), length + 1);
  g_FontFaces[g_FontCount] = name;
  g_FontScript[g_FontCount] = face.japanese ? 0 : 1;
  g_FontPitch[g_FontCount] = face.fixedPitch ? 0 : 1;
  g_FontCount++;
}

int CountBits0(uint32_t nibble) {
  int count = 0;
  for (int b = 0; b < 4; b++)
    if (!(nibble & (1u << b))) count++;
  return count;
}

}  // namespace

void InitGlyphTables() {
  for (int i = 0; i < 256; i++) g_InkCountTable[i] = CountBits0(i >> 4) * 256 + CountBits0(i & 15);
  for (int i = 0; i < 32; i++) g_CoverageAlpha[i] = (uint8_t)(18 * i < 255 ? 18 * i : 255);
  for (int s = 0; s <= MAX_CELL_WIDTH; s++) g_GlyphCanvasSide[s] = ((32 + 4 * s) & ~31) + 32;
  for (TextStyle& style : g_TextStyles) {
    int32_t font = style.mFontIndex;
    style = TextStyle{font, 20, 20, 0, 0xFFFFFF, 0xFFFFFF, 1, 0, 1, 0};
  }
}

namespace {

// Takes the face list into the table and gives every slot the default face.
void FillFontTable(const std::vector<PlatFontFace>& faces) {
  FreeFontTable();
  g_FontFaces = new char*[faces.size()];
  g_FontScript = new uint8_t[faces.size()];
  g_FontPitch = new uint8_t[faces.size()];
  for (const PlatFontFace& face : faces) CollectFontFace(face);
  int32_t defaultRow = 0;
  for (const char* utf8 : kDefaultFacesUtf8) {
    std::string name;
    int32_t row = 0;
    if (!PlatUtf8ToCp932(utf8, strlen(utf8), &name)) continue;
    while (row < g_FontCount && strcmp(g_FontFaces[row], name.c_str()) != 0) row++;
    if (row < g_FontCount) {
      defaultRow = row;
      break;
    }
  }
  for (TextStyle& style : g_TextStyles) style.mFontIndex = defaultRow;
  g_FontTableBuilt = true;
}

void JoinFaceLister() {
  if (!g_FaceLister) return;
  g_FaceLister->join();
  delete g_FaceLister;
  g_FaceLister = nullptr;
}

}  // namespace

void StartFontTable() {
  if (g_FontTableBuilt || g_FaceLister) return;
  g_ListedFaces.clear();
  g_FaceLister = new (std::nothrow) std::thread([] { PlatListFontFaces(&g_ListedFaces); });
  // A program that ends before its first text waits for the lister at exit, so the list is
  // never destroyed while the lister still fills it.
  static bool joinAtExit = std::atexit([] { JoinFaceLister(); }) == 0;
  (void)joinAtExit;
}

void EnsureFontTable() {
  if (g_FontTableBuilt) return;
  if (!g_FaceLister) {
    BuildFontTable();
    return;
  }
  JoinFaceLister();
  FillFontTable(g_ListedFaces);
  g_ListedFaces = std::vector<PlatFontFace>();
}

void EndFontLister() {
  if (!g_FaceLister) return;
  JoinFaceLister();
  g_ListedFaces = std::vector<PlatFontFace>();
}

void BuildFontTable() {
  JoinFaceLister();
  std::vector<PlatFontFace> faces;
  PlatListFontFaces(&faces);
  InitGlyphTables();
  FillFontTable(faces);
  SelectTextStyleSlot(0);
}

void ReleaseGdiObjects() {
  for (GlyphSlot& slot : g_GlyphSlots) {
    PlatGlyphFontClose(slot.mFont);
    delete[] slot.mBits;
    slot = GlyphSlot{nullptr, nullptr, 0, 0, -1, -1, -1, -1, -1};
  }
}

int GetFontCount() {
  EnsureFontTable();
  return g_FontCount;
}

const char* GetFontFaceName(int32_t row) {
  EnsureFontTable();
  return row >= 0 && row < g_FontCount ? g_FontFaces[row] : "";
}

int GetFontScript(int32_t row) {
  EnsureFontTable();
  return row >= 0 && row < g_FontCount ? g_FontScript[row] : 1;
}

int SelectTextStyleSlot(int32_t slot) {
  if (slot >= 0 && slot < TEXT_STYLE_SLOTS) g_TextStyleSlot = slot;
  return 0;
}

int SetSlotFontIndex(int32_t row) {
  EnsureFontTable();
  if (row < 0 || row >= g_FontCount) return 0;
  g_TextStyles[g_TextStyleSlot].mFontIndex = row;
  return 1;
}

int SelectSlotFontByName(const char* name) {
  EnsureFontTable();
  for (int32_t row = 0; row < g_FontCount; row++)
    if (strcmp(g_FontFaces[row], name) == 0) return SetSlotFontIndex(row);
  return 0;
}

int32_t GetSlotFontIndex() {
  EnsureFontTable();
  return g_TextStyles[g_TextStyleSlot].mFontIndex;
}

const char* GetSlotFaceName() { return GetFontFaceName(GetSlotFontIndex()); }

int GetSlotFontPitch() {
  EnsureFontTable();
  int32_t row = GetSlotFontIndex();
  return row >= 0 && row < g_FontCount ? g_FontPitch[row] : 255;
}
