// The font table, the style slots' default faces and glyph geometry with the installed fonts.
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fonts.h"
#include "platform/platform.h"
#include "text/text.h"

namespace {

std::string Cp932(const char* utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8, strlen(utf8), &out)) << utf8;
  return out;
}

int FindRow(const char* utf8) {
  std::string name = Cp932(utf8);
  for (int row = 0; row < GetFontCount(); row++)
    if (name == GetFontFaceName(row)) return row;
  return -1;
}

struct InkBox {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

InkBox MeasureInk(const GlyphCanvas& canvas) {
  InkBox box;
  for (int y = 0; y < canvas.mSide; y++)
    for (int x = 0; x < canvas.mSide; x++)
      if (!(canvas.mBits[y * (canvas.mSide / 8) + x / 8] & (0x80u >> (x & 7)))) {
        box.left = std::min(box.left, x), box.right = std::max(box.right, x);
        box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
        box.count++;
      }
  return box;
}

class GlyphFont : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildFontTable();
    if (FindRow("ＭＳ ゴシック") < 0 || FindRow("ＭＳ Ｐゴシック") < 0)
      GTEST_SKIP() << "the IPA fonts are not installed";
  }
  void TearDown() override {
    ReleaseGdiObjects();
    SelectTextStyleSlot(0);
  }
  void UseFace(const char* utf8) { ASSERT_TRUE(SelectSlotFontByName(Cp932(utf8).c_str())); }
};

TEST(GlyphTables, CanvasSideHoldsFourTimesTheCellWidthInWholeWords) {
  InitGlyphTables();
  const std::pair<int, int> cases[] = {{0, 64}, {20, 128}, {23, 128}, {24, 160}, {256, 1088}};
  for (auto [width, side] : cases) EXPECT_EQ(g_GlyphCanvasSide[width], side) << width;
  EXPECT_EQ(g_InkCountTable[0x00], 4 * 256 + 4);
  EXPECT_EQ(g_InkCountTable[0x0F], 4 * 256);
  EXPECT_EQ(g_InkCountTable[0xFE], 1);
}

TEST_F(GlyphFont, WindowsFacesAreListedPerScriptAndEverySlotStartsWithTheFirstDefault) {
  int gothic = FindRow("ＭＳ ゴシック");
  EXPECT_EQ(g_FontScript[gothic], 0);
  EXPECT_EQ(g_FontPitch[gothic], 0);
  EXPECT_EQ(g_FontPitch[FindRow("ＭＳ Ｐゴシック")], 1);
  // The same face is listed again for Latin text, after its Japanese row.
  int rows = 0;
  for (int row = 0; row < GetFontCount(); row++)
    if (Cp932("ＭＳ ゴシック") == GetFontFaceName(row)) rows++;
  EXPECT_EQ(rows, 2);
  for (int slot = 0; slot < TEXT_STYLE_SLOTS; slot++) EXPECT_EQ(g_TextStyles[slot].mFontIndex, gothic);
  EXPECT_EQ(g_TextStyleSlot, 0);
}

TEST_F(GlyphFont, FixedPitchAdvancesHalfAndWholeCells) {
  struct Case {
    const char* utf8;
    int width, antialias, advance;
  } cases[] = {{"A", 20, 0, 10}, {"あ", 20, 0, 20}, {"A", 20, 1, 10}, {"漢", 33, 1, 33}};
  for (const Case& c : cases) {
    std::string text = Cp932(c.utf8);
    int32_t advance = 0, height = 0;
    RenderGlyph(text.c_str(), c.width, 24, 0, c.antialias, &advance, &height);
    EXPECT_EQ(advance, c.advance) << c.utf8;
    EXPECT_EQ(height, 24) << c.utf8;
  }
}

TEST_F(GlyphFont, GlyphInkLiesInsideTheCellAtTheFontHeight) {
  // Antialiased glyphs are drawn at four times the cell width.
  const std::pair<int, int> cases[] = {{0, 20}, {1, 80}};
  for (auto [antialias, size] : cases) {
    std::string text = Cp932("国");
    int32_t advance = 0, height = 0;
    RenderGlyph(text.c_str(), 20, 20, 0, antialias, &advance, &height);
    InkBox box = MeasureInk(CurrentGlyphCanvas());
    EXPECT_GE(box.left, 0);
    EXPECT_GE(box.top, 0);
    EXPECT_LT(box.right, size);
    EXPECT_LT(box.bottom, size);
    EXPECT_GT(box.right - box.left, size * 6 / 10) << "a kanji fills most of its cell";
    EXPECT_GT(box.bottom - box.top, size * 6 / 10);
  }
}

TEST_F(GlyphFont, BaselineSitsBetweenCapitalsAndDescenders) {
  UseFace("ＭＳ Ｐゴシック");
  int32_t advance = 0, height = 0;
  RenderGlyph("H", 40, 40, 0, 0, &advance, &height);
  InkBox capital = MeasureInk(CurrentGlyphCanvas());
  RenderGlyph("p", 40, 40, 0, 0, &advance, &height);
  InkBox descender = MeasureInk(CurrentGlyphCanvas());
  EXPECT_GT(descender.bottom, capital.bottom);
  EXPECT_GT(capital.top, 0);
  EXPECT_LT(descender.bottom, 40);
}

TEST_F(GlyphFont, ProportionalAdvanceFollowsTheInk) {
  UseFace("ＭＳ Ｐゴシック");
  int32_t narrow = 0, wide = 0, blank = 0, height = 0;
  RenderGlyph("i", 40, 40, 0, 1, &narrow, &height);
  InkBox ink = MeasureInk(CurrentGlyphCanvas());
  EXPECT_EQ(narrow, ink.right / 4 + 4);
  EXPECT_EQ(height, std::min(40, (CurrentGlyphCanvas().mSide - ink.top) / 4 + 4));
  RenderGlyph("W", 40, 40, 0, 1, &wide, &height);
  EXPECT_LT(narrow, wide);
  EXPECT_LE(wide, 40);
  RenderGlyph(" ", 40, 40, 0, 1, &blank, &height);
  EXPECT_EQ(blank, 4);
}

TEST_F(GlyphFont, BoldAddsInkAndAChangedKeyRemakesTheFont) {
  std::string text = Cp932("永");
  int32_t advance = 0, height = 0;
  RenderGlyph(text.c_str(), 24, 24, 0, 0, &advance, &height);
  int regular = MeasureInk(CurrentGlyphCanvas()).count;
  EXPECT_EQ(PrepareGlyphFont(24, 24, 0, 24, g_GlyphCanvasSide[24]), 0);
  RenderGlyph(text.c_str(), 24, 24, 1, 0, &advance, &height);
  EXPECT_GT(MeasureInk(CurrentGlyphCanvas()).count, regular);
  EXPECT_EQ(PrepareGlyphFont(24, 24, 0, 24, g_GlyphCanvasSide[24]), 1);
}

TEST_F(GlyphFont, OddInputNeverReadsPastTheText) {
  // A lone lead byte before the terminator is one byte; huge and empty cells are clamped.
  const char lone[2] = {'\x82', '\0'};
  int32_t advance = -1, height = -1;
  RenderGlyph(lone, 20, 20, 0, 1, &advance, &height);
  EXPECT_GE(advance, 0);
  RenderGlyph("A", 100000, 20, 0, 0, &advance, &height);
  EXPECT_EQ(advance, MAX_CELL_WIDTH / 2);
  RenderGlyph("A", -5, 20, 0, 1, &advance, &height);
  EXPECT_EQ(advance, 0);
}

TEST_F(GlyphFont, OutlinesAndShadowsAreShiftedCopiesOfTheGlyph) {
  auto draw = [](int edge) {
    std::vector<uint8_t> pixels(64 * 64 * 4, 0);
    PixelTarget target{pixels.data(), 64, 64};
    bool drawn = false;
    int32_t advance = DrawTextCharTo(target, "I", 0xFFFFFF, 0xFFFFFFFF, 0, 0, 24, 24, 0, 0, edge, 20, 20, 1, &drawn);
    EXPECT_TRUE(drawn);
    EXPECT_EQ(advance, 12);
    std::set<std::pair<int, int>> ink;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++)
        if (pixels[(y * 64 + x) * 4 + 3]) ink.insert({x, y});
    return ink;
  };
  std::set<std::pair<int, int>> face = draw(0);
  ASSERT_FALSE(face.empty());
  auto shifted = [&](std::vector<std::pair<int, int>> offsets) {
    std::set<std::pair<int, int>> out;
    for (auto [dx, dy] : offsets)
      for (auto [x, y] : face) out.insert({x + dx, y + dy});
    return out;
  };
  EXPECT_EQ(draw(2), shifted({{2, -2}, {2, 0}, {2, 2}, {0, -2}, {0, 0}, {0, 2}, {-2, -2}, {-2, 0}, {-2, 2}}));
  EXPECT_EQ(draw(12), shifted({{2, 0}, {0, 2}, {2, 2}}));
}

TEST(BuiltinFace, DrawsABoxInsideTheCellWhenNoFontIsUsable) {
  PlatGlyphFont* font = PlatGlyphFontOpen(PLAT_BUILTIN_FACE, 20, false);
  ASSERT_TRUE(PlatGlyphFontIsBuiltin(font));
  std::vector<uint8_t> bits(32 * 32 / 8, 0xFF);
  ASSERT_TRUE(PlatGlyphDraw(font, "A", 1, bits.data(), 32));
  InkBox box = MeasureInk({bits.data(), 32});
  EXPECT_GE(box.left, 0);
  EXPECT_LT(box.right, 10);
  EXPECT_LT(box.bottom, 20);
  EXPECT_GT(box.count, 10);
  PlatGlyphFontClose(font);
}

}  // namespace

// Start-up only starts the listing; the first reader takes the list into the table. What it
// takes must be the table a build at once makes, slots and all.
TEST(FontTableStart, TheTableTakenAtTheFirstReadIsTheOneBuiltAtOnce) {
  StartFontTable();
  std::vector<std::string> lazy;
  for (int row = 0; row < GetFontCount(); row++) lazy.push_back(GetFontFaceName(row));
  std::vector<int32_t> lazySlots, lazyScripts;
  for (int slot = 0; slot < TEXT_STYLE_SLOTS; slot++) lazySlots.push_back(g_TextStyles[slot].mFontIndex);
  for (int row = 0; row < g_FontCount; row++) lazyScripts.push_back(g_FontScript[row]);
  BuildFontTable();
  std::vector<std::string> built;
  for (int row = 0; row < GetFontCount(); row++) built.push_back(GetFontFaceName(row));
  EXPECT_EQ(lazy, built);
  ASSERT_FALSE(built.empty());
  for (int slot = 0; slot < TEXT_STYLE_SLOTS; slot++) EXPECT_EQ(lazySlots[slot], g_TextStyles[slot].mFontIndex) << slot;
  for (int row = 0; row < g_FontCount; row++) EXPECT_EQ(lazyScripts[row], g_FontScript[row]) << row;
  ReleaseGdiObjects();
}
