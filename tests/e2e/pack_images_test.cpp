// Games that load every image format from their pack and loose, and query what the layers got.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/files.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/images/image_fixtures.h"
#include "tools/lib/assembler.h"
#include "tools/lib/image_formats.h"
#include "tools/lib/listing_text.h"
#include "tools/lib/pack_writer.h"

namespace {

// The same picture must come out whatever the source, the case of the name or its separators.
struct ImageCase {
  const char* label;
  const char* stored;   // the file's name in the game folder or in the pack
  const char* script;   // the name as the layer command gives it (listing text, escapes doubled)
  std::string bytes;
  int type;             // the pack entry's type code; -1 takes it from the extension
  bool loose;           // the case is also played with the file loose beside the pack
  // What the layer holds afterwards: its size and the colours (0xRRGGBB) of its top-left and
  // bottom-right pixels.
  int width, height;
  int64_t topLeft, bottomRight;
};

// The size and corner colours of a reference image (width, height, then B, G, R, A rows with
// the transparent-pixel rule applied), as the case expects them.
void FromReference(ImageCase* c, const std::string& refName) {
  std::string ref = ReadFixture(refName);
  ASSERT_GE(ref.size(), 8u) << refName;
  auto u32 = [&](size_t at) {
    return (int)((uint8_t)ref[at] | (uint8_t)ref[at + 1] << 8 | (uint8_t)ref[at + 2] << 16 | (uint8_t)ref[at + 3] << 24);
  };
  c->width = u32(0);
  c->height = u32(4);
  ASSERT_EQ(ref.size(), 8 + (size_t)c->width * c->height * 4) << refName;
  auto colour = [&](int x, int y) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(ref.data()) + 8 + ((size_t)y * c->width + x) * 4;
    return (int64_t)p[2] << 16 | p[1] << 8 | p[0];
  };
  c->topLeft = colour(0, 0);
  c->bottomRight = colour(c->width - 1, c->height - 1);
}

// The blank image a missing file gives: one pixel of the transparent fill.
constexpr int64_t BLANK = 0x808080;

// A .kcg of 5 x 3 pixels whose corners are known: top-left 0x102030, bottom-right 0x405060
// (both opaque), everything else transparent.
std::string KcgPixels() {
  std::string pixels(5 * 3 * 4, '\0');
  const char topLeft[4] = {0x30, 0x20, 0x10, (char)0xFF}, bottomRight[4] = {0x60, 0x50, 0x40, (char)0xFF};
  pixels.replace(0, 4, topLeft, 4);
  pixels.replace(pixels.size() - 4, 4, bottomRight, 4);
  return pixels;
}

std::vector<ImageCase> Cases() {
  std::vector<ImageCase> cases = {
      {"bmp24", "Pics/Photo.bmp", "PICS\\\\photo.BMP", ReadFixture("bmp_24.bmp"), -1, true},
      {"bmp32", "alpha.bmp", "alpha", ReadFixture("bmp_32_v5.bmp"), -1, true},
      {"png", "sub/b.png", "sub/B", ReadFixture("png_rgba8.png"), -1, true},
      {"jpeg", "c.jpg", "C.JPG", ReadFixture("jpeg_444.jpg"), -1, true},
      {"gif", "deep/er/d.gif", "Deep\\\\Er/d", ReadFixture("gif_plain.gif"), -1, true},
      // Double-byte names whose second bytes are backslashes (表 and ソ), the last one right
      // before the closing quote.
      {"double-byte", "画像/表ソ.png", "画像\\\\表ソ", ReadFixture("png_palette8.png"), -1, true},
      // An image name ending in .kcg is no name of an image kind: it is probed with the
      // project's extensions (e.kcg.png, ...), finds nothing and gives the blank image, loose or
      // packed alike.
      {"kcg-by-its-own-name", "e.kcg", "e.kcg", MakeKcg(5, 3, KcgPixels(), true), -1, true, 1, 1, BLANK, BLANK},
      {"kcg-without-extension", "g.kcg", "g", MakeKcg(5, 3, KcgPixels(), false), -1, true, 1, 1, BLANK, BLANK},
      // A .kcg reaches a layer as a pack entry of its type under an image kind's name.
      {"kcg-typed-in-pack", "f.png", "F", MakeKcg(5, 3, KcgPixels(), true), FILE_TYPE_KCG, false, 5, 3, 0x102030,
       0x405060},
      {"kcg-raw-typed-in-pack", "kcg/h.bmp", "kcg\\\\h.bmp", MakeKcg(5, 3, KcgPixels(), false), FILE_TYPE_KCG, false, 5,
       3, 0x102030, 0x405060},
      {"missing", "", "nothing/here", "", -1, true, 1, 1, BLANK, BLANK},
  };
  // The first six take their size and colours from the outside decoders' references.
  const char* refs[] = {"bmp_24.ref", "bmp_32_v5.ref", "png_rgba8.ref", "jpeg_444.ref", "gif_plain.ref",
                        "png_palette8.ref"};
  for (int i = 0; i < 6; i++) FromReference(&cases[i], refs[i]);
  return cases;
}

class PackImages : public EndToEndTest {
 protected:
  // Builds the game: its compiled set (and, packed, the images) in data.kpk; loose, the images
  // beside it. Each case loads its image into a layer of its own and writes what it got.
  void Build(const std::vector<ImageCase>& cases, bool packed) {
    std::string listing =
        "config width=128 height=64 title=\"Images\"\n"
        "global int w = 0\nglobal int h = 0\nglobal int tl = 0\nglobal int br = 0\nglobal str note = \"\"\n"
        "file start.txt\n*SYSTEM_START\n";
    int n = 0;
    for (const ImageCase& c : cases) {
      if (!packed && !c.loose) continue;
      std::string layer = "c" + std::to_string(++n);
      listing += "layer name=\"" + layer + "\" file=\"" + c.script + "\" priority=" + std::to_string(n) +
                 " visible=1\n"
                 "layerquery name=\"" + layer + "\" width=1 out=w\n"
                 "layerquery name=\"" + layer + "\" height=1 out=h\n"
                 "layerquery name=\"" + layer + "\" colour=1 px=0 py=0 out=tl\n"
                 "layerquery name=\"" + layer + "\" colour=1 px=w-1 py=h-1 out=br\n"
                 "note = \"image " + c.label + " \" + str(w) + \"x\" + str(h) + \" \" + str(tl) + \" \" + str(br)\n"
                 "enginecall code=51 text=note\n";
    }
    listing += "end\n";
    // Listings and pack names are code page 932, as kvasm and kvpack make them; loose names
    // stay as the host spells them.
    std::string cp932, error;
    ASSERT_TRUE(TextToCp932(listing, "images.txt", &cp932, &error)) << error;
    AssembledSet set;
    ASSERT_TRUE(AssembleListing(cp932, &set)) << set.error;
    std::vector<PackWriterFile> files;
    for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
    for (const ImageCase& c : cases) {
      if (!*c.stored) continue;
      if (packed) {
        std::string name;
        ASSERT_TRUE(NameToCp932(c.stored, &name)) << c.stored;
        PackWriterFile f{name, c.bytes};
        f.type = c.type;
        files.push_back(f);
      } else if (c.loose) {
        game_.Write(c.stored, c.bytes);
      }
    }
    ASSERT_TRUE(WritePackFile(game_.path() + "/data.kpk", files, PackWriterOptions{}, &error)) << error;
  }

  void PlayAndCompare(bool packed) {
    std::vector<ImageCase> cases = Cases();
    ASSERT_NO_FATAL_FAILURE(Build(cases, packed));
    ASSERT_EQ(Run(), 0) << DebugLog();
    std::vector<std::string> expected;
    for (const ImageCase& c : cases)
      if (packed || c.loose)
        expected.push_back("image " + std::string(c.label) + " " + std::to_string(c.width) + "x" +
                           std::to_string(c.height) + " " + std::to_string(c.topLeft) + " " +
                           std::to_string(c.bottomRight));
    std::vector<std::string> got = LogLines("image ");
    for (std::string& line : got)
      if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_EQ(got, expected);
  }
};

TEST_F(PackImages, EveryFormatLoadsFromThePackWithItsSizeAndPixels) { PlayAndCompare(true); }

TEST_F(PackImages, EveryFormatLoadsLooseAsItDoesFromThePack) { PlayAndCompare(false); }

}  // namespace
