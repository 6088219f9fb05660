// The image writers, read back by outside tools and by the engine's own decoders.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "tests/images/image_fixtures.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

// Runs a shell command line (tests only) and returns what it printed.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// A picture with every channel varying and some transparent pixels.
std::vector<uint8_t> Picture(int width, int height) {
  std::vector<uint8_t> pixels((size_t)width * height * 4 + width * 4 + 4);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      uint8_t* p = &pixels[((size_t)y * width + x) * 4];
      p[0] = (uint8_t)(x * 29 + y), p[1] = (uint8_t)(y * 41 + x * 3), p[2] = (uint8_t)(x * y * 7 + 5);
      p[3] = (x + 2 * y) % 7 == 0 ? 0 : (uint8_t)(x * 13 + y * 17 + 1);
    }
  return pixels;
}

// The picture's B, G, R as a binary PPM (R, G, B).
std::string Ppm(const std::vector<uint8_t>& pixels, int width, int height) {
  std::string out = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (size_t i = 0; i < (size_t)width * height; i++) out += {(char)pixels[i * 4 + 2], (char)pixels[i * 4 + 1], (char)pixels[i * 4]};
  return out;
}

class WriteTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InstallMessageIds();
  }
  std::string Path(const char* name) const { return folder_.path() + "/" + name; }
  TempFolder folder_;
};

TEST_F(WriteTest, BmpHasItsHeaderFieldsAndBottomUpPaddedRows) {
  std::vector<uint8_t> one = {0x10, 0x20, 0x30, 0x40, 0, 0, 0, 0};
  ASSERT_EQ(WriteBmpFile(Path("one.bmp"), one.data(), 1, 1), 0);
  std::string file = ReadAll(Path("one.bmp"));
  ASSERT_EQ(file.size(), 58u);
  const uint8_t header[54] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24};
  EXPECT_EQ(memcmp(file.data(), header, 54), 0);
  EXPECT_EQ(file.substr(54), std::string("\x10\x20\x30\x00", 4));

  std::vector<uint8_t> pixels = Picture(3, 2);
  ASSERT_EQ(WriteBmpFile(Path("three.bmp"), pixels.data(), 3, 2), 0);
  file = ReadAll(Path("three.bmp"));
  ASSERT_EQ(file.size(), 54u + 24u);
  // The file's first row is the image's bottom row; rows are 12 bytes.
  for (int r = 0; r < 2; r++)
    for (int x = 0; x < 3; x++)
      for (int c = 0; c < 3; c++)
        EXPECT_EQ((uint8_t)file[54 + r * 12 + x * 3 + c], pixels[((1 - r) * 3 + x) * 4 + c]);
  EXPECT_EQ(file.substr(54 + 9, 3), std::string(3, '\0'));
  if (!HaveTool("bmptopnm")) GTEST_SKIP() << "bmptopnm is not installed";
  EXPECT_EQ(Capture("bmptopnm " + Path("three.bmp") + " 2>/dev/null"), Ppm(pixels, 3, 2));
}

TEST_F(WriteTest, PngReadsBackThroughOutsideToolsAndTheDecoder) {
  std::vector<uint8_t> pixels = Picture(37, 11);
  for (bool hasAlpha : {true, false}) {
    SCOPED_TRACE(hasAlpha ? "alpha" : "opaque");
    for (int level : {0, 9}) {
      std::string path = Path("out.png");
      ASSERT_EQ(WritePngFile(path, pixels.data(), 37, 11, hasAlpha, level), 0);
      std::string file = ReadAll(path);
      // gAMA holds 1 / 2.2 in units of 1/100000.
      size_t gama = file.find("gAMA");
      ASSERT_NE(gama, std::string::npos);
      const uint8_t* g = reinterpret_cast<const uint8_t*>(file.data()) + gama + 4;
      EXPECT_EQ((uint32_t)g[0] << 24 | g[1] << 16 | g[2] << 8 | g[3], 45455u);
      OwnedTarget back;
      ASSERT_EQ(DecodePngMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &back), 0);
      for (size_t i = 0; i < 37 * 11; i++) {
        ASSERT_EQ(memcmp(&back.mPixels[i * 4], &pixels[i * 4], 3), 0) << i;
        ASSERT_EQ(back.mPixels[i * 4 + 3], hasAlpha ? pixels[i * 4 + 3] : 255) << i;
      }
      if (HaveTool("pngcheck")) {
        EXPECT_EQ(std::system(("pngcheck -q " + path + " >/dev/null").c_str()), 0);
      }
    }
  }
}

TEST_F(WriteTest, JpegEqualsTheReferenceEncoderAtTheSameQuality) {
  if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg is not installed";
  std::vector<uint8_t> pixels = Picture(45, 23);
  std::ofstream(Path("in.ppm"), std::ios::binary) << Ppm(pixels, 45, 23);
  for (int quality : {1, 50, 75, 100}) {
    SCOPED_TRACE(quality);
    ASSERT_EQ(WriteJpegFile(Path("out.jpg"), pixels.data(), 45, 23, quality), 0);
    std::string reference = Capture("cjpeg -quality " + std::to_string(quality) + " -baseline " + Path("in.ppm"));
    EXPECT_EQ(ReadAll(Path("out.jpg")), reference);
  }
}

TEST_F(WriteTest, AFileThatCannotBeCreatedGivesTheBoxAndMinusOne) {
  std::vector<uint8_t> pixels = Picture(2, 2);
  std::string path = Path("missing/folder/x");
  EXPECT_EQ(WriteBmpFile(path, pixels.data(), 2, 2), -1);
  EXPECT_EQ(WritePngFile(path, pixels.data(), 2, 2, true, 6), -1);
  EXPECT_EQ(WriteJpegFile(path, pixels.data(), 2, 2, 80), -1);
  int boxes = 0;
  for (const std::string& call : HeadlessCalls()) boxes += call.find("File Create Error.") != std::string::npos;
  EXPECT_EQ(boxes, 3);
}

// A full disk part way through: every writer reports it, and the old file stays whole, with no
// temporary file left beside it.
TEST_F(WriteTest, AWriteThatFailsOnAFullDiskLeavesTheOldFileWholeAndIsReported) {
  std::vector<uint8_t> small = Picture(3, 2), large = Picture(64, 48);
  using Writer = int (*)(const std::string&, const std::vector<uint8_t>&, int, int);
  const Writer writers[] = {
      [](const std::string& p, const std::vector<uint8_t>& px, int w, int h) { return WriteBmpFile(p, px.data(), w, h); },
      [](const std::string& p, const std::vector<uint8_t>& px, int w, int h) {
        return WritePngFile(p, px.data(), w, h, true, 0);
      },
      [](const std::string& p, const std::vector<uint8_t>& px, int w, int h) {
        return WriteJpegFile(p, px.data(), w, h, 100);
      },
  };
  for (Writer write : writers) {
    HeadlessClearCalls();
    std::string path = Path("shot.img");
    ASSERT_EQ(write(path, small, 3, 2), 0);
    std::string before = ReadAll(path);
    PlatSimulateDiskFull(200);
    EXPECT_EQ(write(path, large, 64, 48), -2);
    PlatSimulateDiskFull(-1);
    EXPECT_EQ(ReadAll(path), before);
    std::vector<std::string> names;   // no temporary file is left
    ASSERT_TRUE(PlatListFolder(folder_.path(), &names));
    EXPECT_EQ(names, std::vector<std::string>{"shot.img"});
    int boxes = 0;
    for (const std::string& call : HeadlessCalls()) boxes += call.find("File Write Error.") != std::string::npos;
    EXPECT_EQ(boxes, 1);
  }
}

TEST_F(WriteTest, AFailedPngSaveIsReportedAndLeavesTheLayerUnchanged) {
  LayerRecord record{};
  std::vector<uint8_t> pixels = Picture(4, 3);
  record.mPixels = pixels.data();
  record.mWidth = 4;
  record.mHeight = 3;
  std::vector<uint8_t> before = pixels;
  g_ExeFolderReal = folder_.path();
  EXPECT_EQ(SaveImagePng(&record, "no\\such\\folder\\x.png", 6), -1);
  EXPECT_EQ(pixels, before);
  // A zero-width image makes the encoder itself fail.
  record.mWidth = 0;
  EXPECT_EQ(SaveImagePng(&record, "zero.png", 6), -2);
  EXPECT_EQ(pixels, before);
  // A saved layer without alpha is opaque in memory as well.
  record.mWidth = 4;
  EXPECT_EQ(SaveImagePng(&record, "ok.png", 6), 0);
  for (size_t i = 0; i < 12; i++) {
    EXPECT_EQ(pixels[i * 4 + 3], 255);
    EXPECT_EQ(memcmp(&pixels[i * 4], &before[i * 4], 3), 0);
  }
  g_ExeFolderReal.clear();
}

TEST_F(WriteTest, AReadOnlyGameFolderSendsTheImageToTheUsersFolderForTheGame) {
  TempFolder data;
  std::string game = folder_.path() + "/Game One";
  ASSERT_TRUE(PlatCreateFolder(game));
  const char* oldData = getenv("XDG_DATA_HOME");
  std::string keep = oldData ? oldData : "";
  setenv("XDG_DATA_HOME", (data.path() + "/share").c_str(), 1);
  std::vector<uint8_t> pixels = Picture(3, 2);
  LayerRecord record{};
  record.mPixels = pixels.data();
  record.mWidth = 3;
  record.mHeight = 2;
  g_ExeFolderReal = game;
  g_ReadOnlyFolder = 1;
  EXPECT_EQ(SaveImageBmp(&record, "shots\\one.bmp"), 0);
  g_ReadOnlyFolder = 0;
  g_ExeFolderReal.clear();
  if (oldData) setenv("XDG_DATA_HOME", keep.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(ReadAll(data.path() + "/share/kivor/Game One/shots/one.bmp").size(), 54u + 2 * 12);
  EXPECT_FALSE(PlatFolderExists(game + "/shots"));
}

}  // namespace
