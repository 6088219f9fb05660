// The GIF decoder on files built here: frames, positions, interlace, transparency, extensions
// of any layout, and LZW streams that misbehave.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/images/image_fixtures.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/image_formats.h"

namespace {

// A string literal with its embedded zero bytes.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::vector<uint8_t> Palette(int entries) {
  std::vector<uint8_t> p;
  for (int i = 0; i < entries; i++) p.insert(p.end(), {(uint8_t)(i * 3), (uint8_t)(i * 5), (uint8_t)(i * 7)});
  return p;
}

GifImageSpec Image(int left, int top, int width, int height, uint8_t seed) {
  GifImageSpec image;
  image.left = left, image.top = top, image.width = width, image.height = height;
  for (int i = 0; i < width * height; i++) image.indexes.push_back((uint8_t)(seed + i * 11));
  return image;
}

uint32_t PixelAt(const OwnedTarget& t, int x, int y) {
  const uint8_t* p = t.mPixels + ((size_t)y * t.mWidth + x) * 4;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// What palette index k of Palette() looks like as an opaque B, G, R, A pixel.
uint32_t Colour(uint8_t k) { return (uint32_t)(uint8_t)(k * 7) | (uint32_t)(uint8_t)(k * 5) << 8 | (uint32_t)(uint8_t)(k * 3) << 16 | 0xFF000000u; }

int Decode(const std::string& bytes, OwnedTarget* target) {
  return DecodeGifMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), target);
}

class GifTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InstallMessageIds();
  }
};

TEST_F(GifTest, AllFramesAreKeptAndFrameZeroIsDrawnAtItsPlace) {
  GifSpec layout;
  layout.screenWidth = 100, layout.screenHeight = 100;
  layout.globalPalette = Palette(256);
  layout.images = {Image(5, 7, 10, 10, 1), Image(0, 0, 3, 2, 50), Image(90, 90, 20, 20, 99)};
  OwnedTarget t;
  ASSERT_EQ(Decode(MakeGif(layout), &t), 0);
  ASSERT_EQ(t.mGifFrameCount, 3);
  EXPECT_EQ(t.mWidth, 100);
  EXPECT_EQ(t.mHeight, 100);
  for (int i = 0; i < 3; i++) {
    const GifFrame* f = t.mGifFrames[i];
    EXPECT_EQ(f->mLeft, layout.images[i].left);
    EXPECT_EQ(f->mWidth, layout.images[i].width);
    EXPECT_EQ(0, memcmp(f->mIndexes, layout.images[i].indexes.data(), layout.images[i].indexes.size()));
  }
  // Frame 0 covers rows 7..16 and columns 5..14; nothing else is drawn.
  EXPECT_EQ(PixelAt(t, 5, 7), Colour(1));
  EXPECT_EQ(PixelAt(t, 14, 16), Colour((uint8_t)(1 + 99 * 11)));
  EXPECT_EQ(PixelAt(t, 4, 7) >> 24, 0u);
  EXPECT_EQ(PixelAt(t, 15, 16) >> 24, 0u);
  EXPECT_EQ(PixelAt(t, 5, 17) >> 24, 0u);
  EXPECT_EQ(t.mHasAlpha, 0);

  // Drawing a frame that reaches past the screen is clipped to it.
  RenderGifFrame(&t, 2);
  EXPECT_EQ(PixelAt(t, 99, 99), Colour((uint8_t)(99 + (9 * 20 + 9) * 11)));
}

TEST_F(GifTest, InterlacedRowsLandInDisplayOrder) {
  GifSpec layout;
  layout.screenWidth = 3, layout.screenHeight = 19;
  layout.globalPalette = Palette(256);
  GifImageSpec image = Image(0, 0, 3, 19, 0);
  for (int y = 0; y < 19; y++)
    for (int x = 0; x < 3; x++) image.indexes[y * 3 + x] = (uint8_t)(y * 10 + x);
  image.interlaced = true;
  layout.images = {image};
  OwnedTarget t;
  ASSERT_EQ(Decode(MakeGif(layout), &t), 0);
  for (int y = 0; y < 19; y++) EXPECT_EQ(PixelAt(t, 2, y), Colour((uint8_t)(y * 10 + 2))) << y;
}

TEST_F(GifTest, TheTransparentIndexGivesAlphaZero) {
  GifSpec layout;
  layout.screenWidth = 4, layout.screenHeight = 1;
  layout.globalPalette = Palette(4);
  GifImageSpec image = Image(0, 0, 4, 1, 0);
  image.indexes = {0, 1, 2, 3};
  image.hasControl = true, image.transparent = true, image.transparentIndex = 2;
  layout.images = {image};
  OwnedTarget t;
  ASSERT_EQ(Decode(MakeGif(layout), &t), 0);
  EXPECT_EQ(t.mHasAlpha, 1);
  EXPECT_EQ(PixelAt(t, 1, 0), Colour(1));
  EXPECT_EQ(PixelAt(t, 2, 0) >> 24, 0u);
  EXPECT_EQ(PixelAt(t, 3, 0), Colour(3));
}

TEST_F(GifTest, ExtensionsOfAnyLayoutAreSkipped) {
  struct Case {
    const char* what;
    std::string blocks;
  } cases[] = {
      {"comment in three sub-blocks", Raw("\x21\xFE\x03" "abc\x02" "de\x01" "f\x00")},
      {"unknown extension label", Raw("\x21\x42\x02xy\x00")},
      {"application extension with two data sub-blocks", Raw("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x05\x00\x02zz\x00")},
      {"plain text with a long body", Raw("\x21\x01\x0C" "0123456789AB\x04" "text\x03" "xyz\x00")},
      {"graphic control with a longer block", Raw("\x21\xF9\x06\x00\x00\x00\x00\x00\x00\x00")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GifSpec layout;
    layout.screenWidth = 2, layout.screenHeight = 2;
    layout.globalPalette = Palette(4);
    layout.extraBlocks = c.blocks;
    GifImageSpec image = Image(0, 0, 2, 2, 0);
    image.indexes = {3, 2, 1, 0};
    layout.images = {image};
    OwnedTarget t;
    ASSERT_EQ(Decode(MakeGif(layout), &t), 0);
    EXPECT_EQ(PixelAt(t, 0, 0), Colour(3));
    EXPECT_EQ(PixelAt(t, 1, 1), Colour(0));
  }
}

// An image descriptor for a 1 x n frame followed by raw LZW data (root size 2).
std::string RawFrame(int width, const std::string& subBlocks) {
  BinaryWriter w;
  w.Bytes("GIF89a", 6);
  w.U16((uint16_t)width);
  w.U16(1);
  w.U8(0x81);  // global table of 4 entries
  w.U8(0);
  w.U8(0);
  w.Bytes(Raw("\0\0\0\x10\x10\x10\x20\x20\x20\x30\x30\x30"));
  w.U8(0x2C);
  w.U16(0), w.U16(0), w.U16((uint16_t)width), w.U16(1);
  w.U8(0);
  w.U8(2);
  w.Bytes(subBlocks);
  w.U8(0x3B);
  return w.Data();
}

TEST_F(GifTest, BadCodesAndRunawayStreamsNeverFail) {
  // Root size 2: clear 4, end 5, 3-bit codes. Each case must decode without a crash and keep
  // the screen size; the pixels after the fault are left as they were.
  std::string endless;
  // 2000 bytes of 0xFF: codes 7 (undefined right after the first literal) over and over.
  for (int i = 0; i < 8; i++) endless += std::string("\xFF") + std::string(255, '\xFF');
  endless += '\0';
  // Literals only, never a clear code: the table fills to 4096 and must stop growing there.
  std::string literals;
  {
    uint32_t bits = 0;
    int count = 0, size = 3, next = 6;
    std::string data;
    auto put = [&](int code) {
      bits |= (uint32_t)code << count;
      count += size;
      while (count >= 8) data += (char)(bits & 0xFF), bits >>= 8, count -= 8;
    };
    put(4);
    for (int i = 0; i < 6000; i++) {
      put(i % 4);
      if (i > 0 && next < 4096) {
        next++;
        if (next >= (1 << size) && size < 12) size++;
      }
    }
    if (count) data += (char)(bits & 0xFF);
    for (size_t i = 0; i < data.size(); i += 255) {
      std::string chunk = data.substr(i, 255);
      literals += (char)chunk.size();
      literals += chunk;
    }
    literals += '\0';
  }
  struct Case {
    const char* what;
    int width;
    std::string data;
  } cases[] = {
      {"undefined codes", 40, Raw("\x02\xFF\xFF\x00")},
      {"endless undefined codes", 3000, endless},
      {"table full without a clear code", 6000, literals},
      {"data cut before the terminator", 10, Raw("\x05\x8C\x2D\x99")},
      {"no data at all", 10, Raw("\x00")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OwnedTarget t;
    ASSERT_EQ(Decode(RawFrame(c.width, c.data), &t), 0);
    EXPECT_EQ(t.mWidth, c.width);
  }
  // The literal stream decodes to its literals all the way, across the full table.
  OwnedTarget t;
  ASSERT_EQ(Decode(RawFrame(6000, literals), &t), 0);
  for (int i = 0; i < 6000; i += 997) EXPECT_EQ(t.mGifFrames[0]->mIndexes[i], i % 4) << i;
}

TEST_F(GifTest, OversizedFramesAndScreensAreRefused) {
  GifSpec layout;
  layout.screenWidth = 0x9000, layout.screenHeight = 4;
  OwnedTarget wide;
  EXPECT_NE(Decode(MakeGif(layout), &wide), 0);
  EXPECT_EQ(ShownMessageId(), 100091);

  ResetMessageState();
  GifSpec frame;
  frame.screenWidth = 4, frame.screenHeight = 4;
  frame.globalPalette = Palette(4);
  GifImageSpec big = Image(0, 0, 1, 1, 0);
  frame.images = {big};
  std::string bytes = MakeGif(frame);
  // The image descriptor's width field (after 13 header bytes, 12 palette bytes, 0x2C, left, top).
  size_t at = 13 + 12 + 1 + 4;
  bytes[at] = (char)0xFF, bytes[at + 1] = (char)0xFF;
  bytes[at + 2] = (char)0xFF, bytes[at + 3] = (char)0xFF;
  OwnedTarget t;
  EXPECT_NE(Decode(bytes, &t), 0);
  EXPECT_EQ(ShownMessageId(), 100091);

  // Many empty frames of the largest size: the file cannot make the decoder take gigabytes.
  GifSpec many;
  many.screenWidth = 4, many.screenHeight = 4;
  many.globalPalette = Palette(4);
  std::string descriptor = Raw("\x2C\x00\x00\x00\x00\x00\x20\x00\x20\x00\x02\x00");  // 8192 x 8192, no data
  many.trailer = false;
  std::string huge = MakeGif(many);
  for (int i = 0; i < 64; i++) huge += descriptor;
  OwnedTarget h;
  EXPECT_NE(Decode(huge, &h), 0);
  EXPECT_LE(h.mGifFrameCount, 2);
}

// Logical screens up to 8192 on a side load whatever the file holds: a small file may carry a
// small frame on the largest screen. The screen around frame 0 is transparent, and every
// transparent pixel, inside frame 0 or around it, comes out in the fill colour.
TEST_F(GifTest, ScreensUpToTheLargestSizeLoadWhateverTheFileHolds) {
  const struct {
    int width, height;
    bool frame;   // a 2 x 1 frame at (3, 2) whose second pixel is transparent
  } cases[] = {{2048, 2048, true}, {8192, 8192, true}, {8192, 8192, false}, {8192, 1, false}, {1, 8192, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + (c.frame ? " with a frame" : ""));
    ResetMessageState();
    GifSpec layout;
    layout.screenWidth = c.width, layout.screenHeight = c.height;
    layout.globalPalette = Palette(4);
    if (c.frame) {
      GifImageSpec image = Image(3, 2, 2, 1, 0);
      image.indexes = {2, 1};
      image.hasControl = true, image.transparent = true, image.transparentIndex = 1;
      layout.images = {image};
    }
    std::string bytes = MakeGif(layout);
    EXPECT_LT(bytes.size(), 64u);
    OwnedTarget t;
    ASSERT_EQ(Decode(bytes, &t), 0);
    EXPECT_EQ(ShownMessageId(), 0);
    EXPECT_EQ(t.mWidth, c.width);
    EXPECT_EQ(t.mHeight, c.height);
    EXPECT_EQ(PixelAt(t, 0, 0), g_TransparentFill);
    EXPECT_EQ(PixelAt(t, c.width - 1, c.height - 1), g_TransparentFill);
    if (c.frame && c.width > 4 && c.height > 2) {
      EXPECT_EQ(PixelAt(t, 3, 2), Colour(2));
      EXPECT_EQ(PixelAt(t, 4, 2), g_TransparentFill);
      EXPECT_EQ(PixelAt(t, 5, 2), g_TransparentFill);
      EXPECT_EQ(t.mHasAlpha, 1);
    }
  }
}

// Encoders that start from a larger minimum code size (9 to 11) still write codes of 12 bits at
// most; such files are valid and decode like any other. 12 would need 13-bit codes.
TEST_F(GifTest, MinimumCodeSizesUpToElevenDecode) {
  for (int root = 8; root <= 12; root++) {
    SCOPED_TRACE(root);
    ResetMessageState();
    GifSpec layout;
    layout.screenWidth = 70, layout.screenHeight = 40;
    layout.globalPalette = Palette(256);
    // 2800 pixels: more than one table's worth of literals even for root size 11.
    GifImageSpec image = Image(0, 0, 70, 40, 3);
    image.minCodeSize = root;
    layout.images = {image};
    OwnedTarget t;
    int rc = Decode(MakeGif(layout), &t);
    EXPECT_EQ(ShownMessageId(), 0);
    if (root == 12) {
      EXPECT_NE(rc, 0);
      continue;
    }
    ASSERT_EQ(rc, 0);
    for (int i = 0; i < 70 * 40; i += 37) EXPECT_EQ(PixelAt(t, i % 70, i / 70), Colour(image.indexes[i])) << i;
    EXPECT_EQ(PixelAt(t, 69, 39), Colour(image.indexes[70 * 40 - 1]));
  }
}

// A screen without pixels is a broken file (the loader then gives its own message), not a
// screen that is too large.
TEST_F(GifTest, AZeroSizedScreenIsRefusedAsABrokenFile) {
  const int sizes[][2] = {{0, 0}, {0, 4}, {4, 0}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    ResetMessageState();
    GifSpec layout;
    layout.screenWidth = size[0], layout.screenHeight = size[1];
    layout.globalPalette = Palette(4);
    layout.images = {Image(0, 0, 1, 1, 0)};
    OwnedTarget t;
    EXPECT_NE(Decode(MakeGif(layout), &t), 0);
    EXPECT_EQ(ShownMessageId(), 0);
  }
}

}  // namespace
