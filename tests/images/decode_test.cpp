// The decoders against outside decoders on files made by outside encoders, and against
// hostile files.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "platform/headless/headless.h"
#include "tests/images/image_fixtures.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/image_formats.h"

namespace {

using Decoder = int (*)(const uint8_t*, size_t, DecodeTarget*);

int Decode(Decoder decoder, const std::string& bytes, OwnedTarget* target) {
  return decoder(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), target);
}

class DecodeTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InstallMessageIds();
  }
};

struct ReferenceCase {
  const char* file;
  Decoder decoder;
  bool hasAlpha;
};

TEST_F(DecodeTest, PixelsMatchOutsideDecoders) {
  const ReferenceCase cases[] = {
      {"png_rgb8.png", DecodePngMemory, false},
      {"png_rgba8.png", DecodePngMemory, true},
      {"png_rgba8_interlaced.png", DecodePngMemory, true},
      {"png_grey8.png", DecodePngMemory, false},
      {"png_grey4.png", DecodePngMemory, false},
      {"png_grey2.png", DecodePngMemory, false},
      {"png_grey1.png", DecodePngMemory, false},
      {"png_grey_alpha8.png", DecodePngMemory, true},
      {"png_rgb16.png", DecodePngMemory, false},
      {"png_rgba16.png", DecodePngMemory, true},
      {"png_grey16.png", DecodePngMemory, false},
      {"png_palette8.png", DecodePngMemory, false},
      {"png_palette4.png", DecodePngMemory, false},
      {"png_palette_interlaced.png", DecodePngMemory, false},
      // Transparency from a tRNS chunk is used when drawing, whatever the colour type.
      {"png_palette_trns.png", DecodePngMemory, true},
      {"png_rgb_trns.png", DecodePngMemory, true},
      {"png_grey_trns.png", DecodePngMemory, true},
      {"png_gamma.png", DecodePngMemory, false},
      {"jpeg_420.jpg", DecodeJpegMemory, false},
      {"jpeg_422.jpg", DecodeJpegMemory, false},
      {"jpeg_444.jpg", DecodeJpegMemory, false},
      {"jpeg_grey.jpg", DecodeJpegMemory, false},
      {"jpeg_progressive.jpg", DecodeJpegMemory, false},
      {"jpeg_restart.jpg", DecodeJpegMemory, false},
      {"bmp_24.bmp", DecodeBmpMemory, false},
      {"bmp_8.bmp", DecodeBmpMemory, false},
      {"bmp_4.bmp", DecodeBmpMemory, false},
      {"bmp_1.bmp", DecodeBmpMemory, false},
      {"bmp_4_v5.bmp", DecodeBmpMemory, false},
      {"bmp_32_v5.bmp", DecodeBmpMemory, true},
      {"gif_plain.gif", DecodeGifMemory, false},
      {"gif_interlaced.gif", DecodeGifMemory, false},
      {"gif_transparent.gif", DecodeGifMemory, true},
  };
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.file);
    std::string file = ReadFixture(c.file);
    std::string base = std::string(c.file).substr(0, strlen(c.file) - 4);
    std::string reference = ReadFixture(base + ".ref");
    ASSERT_FALSE(file.empty());
    ASSERT_FALSE(reference.empty());
    OwnedTarget target;
    ASSERT_EQ(Decode(c.decoder, file, &target), 0);
    EXPECT_EQ(target.Normalised(), reference);
    EXPECT_EQ(target.mHasAlpha != 0, c.hasAlpha);
  }
}

std::string Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t coloursUsed, const std::string& table,
                const std::string& rows, uint32_t pixelOffset = 0, uint32_t compression = 0) {
  BinaryWriter w;
  w.Bytes("BM", 2);
  w.U32(0);
  w.U32(0);
  w.U32(pixelOffset ? pixelOffset : (uint32_t)(54 + table.size()));
  w.U32(40);
  w.U32((uint32_t)width);
  w.U32((uint32_t)height);
  w.U16(1);
  w.U16(bits);
  w.U32(compression);
  w.U32(0);
  w.U32(0);
  w.U32(0);
  w.U32(coloursUsed);
  w.U32(0);
  w.Bytes(table);
  w.Bytes(rows);
  return w.Data();
}

TEST_F(DecodeTest, BmpIndexesBeyondTheColourTableAreOpaqueBlack) {
  std::string table;
  for (int i = 0; i < 16; i++) table += std::string{(char)(i * 10), (char)(i * 5), (char)i, 0};
  // One row of 4 pixels: indexes 3, 15, 16 and 255.
  OwnedTarget target;
  ASSERT_EQ(Decode(DecodeBmpMemory, Bmp(4, 1, 8, 16, table, std::string("\x03\x0F\x10\xFF", 4)), &target), 0);
  const uint8_t expected[16] = {30, 15, 3, 255, 150, 75, 15, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  EXPECT_EQ(memcmp(target.mPixels, expected, 16), 0);
}

TEST_F(DecodeTest, BmpRowsArePaddedAndStoredBottomUp) {
  // 24-bit, 3 pixels wide: rows of 12 bytes; the file's first row is the image's last.
  std::string rows = std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\0\0\0", 12) +
                     std::string("\x11\x12\x13\x14\x15\x16\x17\x18\x19\0\0\0", 12);
  OwnedTarget target;
  ASSERT_EQ(Decode(DecodeBmpMemory, Bmp(3, 2, 24, 0, "", rows), &target), 0);
  const uint8_t expected[24] = {0x11, 0x12, 0x13, 255, 0x14, 0x15, 0x16, 255, 0x17, 0x18, 0x19, 255,
                                1,    2,    3,    255, 4,    5,    6,    255, 7,    8,    9,    255};
  EXPECT_EQ(memcmp(target.mPixels, expected, 24), 0);
  EXPECT_EQ(target.mHasAlpha, 0);

  // 32-bit keeps its alpha bytes and uses them.
  OwnedTarget alpha;
  ASSERT_EQ(Decode(DecodeBmpMemory, Bmp(1, 1, 32, 0, "", std::string("\x10\x20\x30\x40", 4)), &alpha), 0);
  EXPECT_EQ(memcmp(alpha.mPixels, "\x10\x20\x30\x40", 4), 0);
  EXPECT_EQ(alpha.mHasAlpha, 1);
}

std::string Truncate(std::string s, size_t keep) { return s.substr(0, keep); }

std::string Patch32(std::string s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) s[at + i] = (char)(v >> (8 * i));
  return s;
}

std::string Patch16Be(std::string s, size_t at, uint16_t v) {
  s[at] = (char)(v >> 8), s[at + 1] = (char)v;
  return s;
}

struct HostileCase {
  const char* what;
  Decoder decoder;
  std::string bytes;
  int messageId;   // 0: only the failure is checked
};

TEST_F(DecodeTest, HostileFilesFailWithTheirMessage) {
  std::string bmp = Bmp(2, 2, 24, 0, "", std::string(16, '\x7F'));
  std::string png = ReadFixture("png_rgba8.png");
  std::string jpeg = ReadFixture("jpeg_420.jpg");
  std::string kcg = MakeKcg(2, 2, std::string(16, '\x55'), true);
  // PNG width at byte 16 (big-endian, in IHDR, whose CRC the decoder checks).
  std::string pngWide = png;
  pngWide[16] = 0, pngWide[17] = 0, pngWide[18] = 0x20, pngWide[19] = 0x01;
  // JPEG size in SOF0: height then width, after the marker FF C0, length and precision.
  size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  std::string jpegWide = Patch16Be(jpeg, sof + 7, 8193);
  std::string jpegHuge = Patch16Be(Patch16Be(jpeg, sof + 5, 8192), sof + 7, 8192);
  std::string jpegArithmetic = jpeg;
  jpegArithmetic[sof + 1] = (char)0xC9;
  // Pictures of the largest size that the few bytes of these files cannot stand for.
  std::string kcgHuge = Patch32(Patch32(kcg, 4, 8192), 8, 8192);
  const HostileCase cases[] = {
      {"bmp not BM", DecodeBmpMemory, "XM" + bmp.substr(2), 100070},
      {"bmp shorter than its headers", DecodeBmpMemory, bmp.substr(0, 30), 100070},
      {"bmp pixel offset 10", DecodeBmpMemory, Patch32(bmp, 10, 10), 100080},
      {"bmp width 8193", DecodeBmpMemory, Patch32(bmp, 18, 8193), 100091},
      {"bmp negative width", DecodeBmpMemory, Patch32(bmp, 18, 0xFFFFFFF0u), 100091},
      {"bmp height 8193", DecodeBmpMemory, Patch32(bmp, 22, 8193), 100091},
      {"bmp top-down", DecodeBmpMemory, Patch32(bmp, 22, 0xFFFFFFFEu), 100092},
      {"bmp run-length 8-bit", DecodeBmpMemory, Bmp(2, 2, 8, 0, std::string(1024, '\0'), std::string(8, 0), 0, 1), 100090},
      {"bmp rows past the end", DecodeBmpMemory, Truncate(bmp, bmp.size() - 1), 104010},
      {"bmp pixel offset past the end", DecodeBmpMemory, Patch32(bmp, 10, 0x7FFFFFF0u), 104010},
      {"bmp colour table past the end", DecodeBmpMemory, Bmp(4, 1, 8, 200, std::string(16, '\0'), "", 54), 104010},
      {"png truncated", DecodePngMemory, Truncate(png, png.size() / 2), 100200},
      {"png not a png", DecodePngMemory, "not a png file at all", 100200},
      {"png bad crc after width change", DecodePngMemory, pngWide, 100200},
      {"jpeg truncated header", DecodeJpegMemory, Truncate(jpeg, 40), 0},
      {"jpeg garbage", DecodeJpegMemory, "\xFF\xD8garbage garbage garbage", 0},
      {"jpeg width 8193", DecodeJpegMemory, jpegWide, 0},
      {"jpeg 8192 x 8192 in a small file", DecodeJpegMemory, jpegHuge, 0},
      {"jpeg arithmetic coding", DecodeJpegMemory, jpegArithmetic, 0},
      {"bmp 16-bit rows past the end", DecodeBmpMemory, Bmp(8192, 8192, 16, 0, "", std::string(64, '\0')), 104010},
      {"bmp bit count 0 rows past the end", DecodeBmpMemory, Bmp(8192, 8192, 0, 0, "", std::string(64, '\0')), 104010},
      {"kcg compressed parts smaller than zlib allows", DecodeKcgMemory, kcgHuge, 104010},
      {"kcg unknown compression without its pixels", DecodeKcgMemory, Patch32(kcgHuge, 16, 7), 104010},
      {"gif screen 0x9000 wide", DecodeGifMemory, MakeGif({0x9000, 1, {}, {}, "", true}), 100091},
      {"gif unknown block", DecodeGifMemory, MakeGif({1, 1, {}, {}, "\x07", true}), 0},
      {"kcg width 9000", DecodeKcgMemory, Patch32(kcg, 4, 9000), 100091},
      {"kcg negative height", DecodeKcgMemory, Patch32(kcg, 8, 0xFFFFFFFFu), 100091},
      {"kcg raw data past the end", DecodeKcgMemory, Truncate(MakeKcg(2, 2, std::string(16, 'x'), false), 60), 104010},
      {"kcg shorter than its header", DecodeKcgMemory, "KCG", 104010},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetMessageState();
    OwnedTarget target;
    EXPECT_NE(Decode(c.decoder, c.bytes, &target), 0);
    if (c.messageId) {
      EXPECT_EQ(ShownMessageId(), c.messageId);
    }
  }
}

// A BMP of a bit count without a decoder and a .kcg of an unknown compression load with
// transparent pixels, as long as the file holds what such a picture needs.
TEST_F(DecodeTest, FormatsWithoutADecoderLoadTransparentWhenTheFileHoldsThem) {
  std::string rows16(2 * 4, '\x7F');   // 2 x 2 at 16 bits: rows of 4 bytes
  std::string kcgOther = Patch32(MakeKcg(2, 2, std::string(16, '\x55'), false), 16, 7);
  const struct {
    const char* what;
    Decoder decoder;
    std::string bytes;
  } cases[] = {
      {"bmp 16-bit", DecodeBmpMemory, Bmp(2, 2, 16, 0, "", rows16)},
      {"kcg compression 7", DecodeKcgMemory, kcgOther},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OwnedTarget target;
    ASSERT_EQ(Decode(c.decoder, c.bytes, &target), 0);
    ASSERT_EQ(target.mWidth, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target.mPixels), 16), std::string(16, '\0'));
  }
}

TEST_F(DecodeTest, KcgPartSizesBeyondTheImageFailWithABox) {
  std::string pixels(64, '\x33');
  struct Case {
    const char* what;
    size_t field;
    uint32_t value;
    const char* box;
  } cases[] = {
      {"part 1 larger than the image", 32, 65, "Uncompress Status Error 1."},
      {"part 1 stored past the end", 36, 0x7FFFFFFF, "Uncompress Status Error 1."},
      {"part 2 beyond the image", 48, 64, "Uncompress Status Error 2."},
      {"part 2 stored past the end", 52, 0xFFFFFFFF, "Uncompress Status Error 2."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeadlessClearCalls();
    OwnedTarget target;
    EXPECT_NE(Decode(DecodeKcgMemory, Patch32(MakeKcg(4, 4, pixels, true), c.field, c.value), &target), 0);
    std::vector<std::string> calls = HeadlessCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_NE(calls.back().find(c.box), std::string::npos) << calls.back();
  }
}

TEST_F(DecodeTest, KcgRawAndCompressedGiveThePixelsOnOneOrTwoWorkers) {
  std::string pixels;
  for (int i = 0; i < 5 * 3 * 4; i++) pixels += (char)(i * 7);
  for (uint8_t workers : {0, 2}) {
    g_WorkerCount = workers;
    if (workers) StartWorkerThreads();
    for (bool compressed : {false, true}) {
      for (int64_t split : {(int64_t)-1, (int64_t)0, (int64_t)pixels.size(), (int64_t)13}) {
        SCOPED_TRACE(std::to_string(workers) + " workers, compressed " + std::to_string(compressed) + ", split " +
                     std::to_string(split));
        OwnedTarget target;
        ASSERT_EQ(Decode(DecodeKcgMemory, MakeKcg(5, 3, pixels, compressed, split), &target), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(target.mPixels), pixels.size()), pixels);
        EXPECT_EQ(target.mHasAlpha, 1);
      }
    }
    // A damaged half fails with its own box, whoever inflates it.
    for (int half : {0, 1}) {
      SCOPED_TRACE(std::to_string(workers) + " workers, damaged half " + std::to_string(half));
      std::string file = MakeKcg(5, 3, pixels, true);
      uint32_t part1Stored = ReadLe32(reinterpret_cast<const uint8_t*>(file.data()) + 36);
      file[KCG_HEADER_BYTES + (half ? part1Stored : 0) + 3] ^= 0x55;
      HeadlessClearCalls();
      OwnedTarget target;
      EXPECT_NE(Decode(DecodeKcgMemory, file, &target), 0);
      std::vector<std::string> calls = HeadlessCalls();
      ASSERT_FALSE(calls.empty());
      EXPECT_NE(calls.back().find(half ? "Uncompress Status Error 2." : "Uncompress Status Error 1."), std::string::npos);
    }
    StopWorkerThreads();
  }
  g_WorkerCount = 0;
}

TEST_F(DecodeTest, KcgWithAWrongMagicLoadsAfterTheBox) {
  std::string file = MakeKcg(1, 1, "\x01\x02\x03\x04", false);
  file[0] = 'X';
  OwnedTarget target;
  ASSERT_EQ(Decode(DecodeKcgMemory, file, &target), 0);
  EXPECT_EQ(memcmp(target.mPixels, "\x01\x02\x03\x04", 4), 0);
  std::vector<std::string> calls = HeadlessCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_NE(calls.back().find("File Check Error."), std::string::npos);
}

TEST_F(DecodeTest, TruncatedJpegKeepsTheRowsDecodedBeforeTheCut) {
  // A 64 x 64 picture, written by the engine's writer, then cut in the middle of its data.
  std::vector<uint8_t> pixels(64 * 64 * 4);
  for (size_t i = 0; i < pixels.size(); i++) pixels[i] = (uint8_t)((i * 37) ^ (i >> 7));
  TempFolder folder;
  std::string path = folder.path() + "/whole.jpg";
  ASSERT_EQ(WriteJpegFile(path, pixels.data(), 64, 64, 90), 0);
  std::ifstream in(path, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  OwnedTarget full, cut;
  ASSERT_EQ(Decode(DecodeJpegMemory, whole, &full), 0);
  ASSERT_EQ(Decode(DecodeJpegMemory, whole.substr(0, whole.size() * 6 / 10), &cut), 0);
  ASSERT_EQ(cut.mWidth, 64);
  ASSERT_EQ(cut.mHeight, 64);
  // The first MCU row (8 rows at 4:2:0 is half of one; take 8) came before the cut.
  EXPECT_EQ(memcmp(full.mPixels, cut.mPixels, 64 * 4 * 8), 0);
}

}  // namespace
