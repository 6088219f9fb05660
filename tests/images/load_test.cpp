// Loading image files into layer records: the decoder by file type, the transparent-pixel
// rule, the blank image for a missing file, refused types and failed loads.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "files/files.h"
#include "layers/image_codecs.h"
#include "tests/images/image_fixtures.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/loose_files.h"
#include "tools/lib/image_formats.h"

namespace {

class LoadTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InstallMessageIds();
    UseLooseFolder(folder_.path());
    record_ = static_cast<LayerRecord*>(calloc(1, sizeof(LayerRecord)));
    record_->mWidth = record_->mHeight = 1;
  }
  void TearDown() override {
    FreeImageBuffer(record_->mPixels);
    FreeGifFrames(record_->mGifFrames);
    free(record_);
    g_ExeFolderReal.clear();
    g_ProjectFolderReal.clear();
    HeadlessTest::TearDown();
  }
  uint32_t Pixel(int x, int y) const {
    const uint8_t* p = record_->mPixels + ((size_t)y * record_->mWidth + x) * 4;
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
  }

  TempFolder folder_;
  LayerRecord* record_ = nullptr;
};

TEST_F(LoadTest, EveryFileTypeReachesItsDecoderAndTransparentPixelsTurnGrey) {
  struct Case {
    const char* fixture;
    const char* name;   // as the script names it: no extension, probed in the project's order
  } cases[] = {
      {"png_rgba8.png", "cg/a"}, {"jpeg_420.jpg", "cg/b"}, {"bmp_8.bmp", "cg/c"}, {"gif_transparent.gif", "cg/d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    std::string file = ReadFixture(c.fixture);
    std::string ext = std::string(c.fixture).substr(strlen(c.fixture) - 4);
    folder_.Write(std::string(c.name) + ext, file);
    ASSERT_EQ(LoadLayerImage(record_, c.name), 0);
    std::string reference = ReadFixture(std::string(c.fixture).substr(0, strlen(c.fixture) - 4) + ".ref");
    ASSERT_EQ(record_->mWidth, 13);
    ASSERT_EQ(record_->mHeight, 7);
    // The layer's own pixels already follow the rule the references were made with.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record_->mPixels), 13 * 7 * 4), reference.substr(8));
  }
  // .kcg files come from packs, whose entries carry their type code.
  std::string kcg = MakeKcg(2, 1, std::string("\x10\x20\x30\x00\x11\x21\x31\x01", 8), true);
  ASSERT_EQ(DecodeImageIntoLayer(record_, FILE_TYPE_KCG, reinterpret_cast<const uint8_t*>(kcg.data()), kcg.size(), "e"), 0);
  EXPECT_EQ(Pixel(0, 0), g_TransparentFill);
  EXPECT_EQ(Pixel(1, 0), 0x01312111u);
  EXPECT_EQ(record_->mHasAlpha, 1);
}

TEST_F(LoadTest, AMissingFileGivesTheBlankImageWithoutAMessage) {
  ASSERT_EQ(LoadLayerImage(record_, "cg/nothing"), 0);
  EXPECT_EQ(record_->mWidth, 1);
  EXPECT_EQ(record_->mHeight, 1);
  EXPECT_EQ(Pixel(0, 0), g_TransparentFill);
  EXPECT_EQ(record_->mHasAlpha, 0);
  EXPECT_STREQ(LastErrorDialogText(), "");
}

TEST_F(LoadTest, FailedLoadsGiveTheirMessages) {
  struct Case {
    const char* file;
    uint8_t type;
    std::string bytes;
    int messageId;
  } cases[] = {
      {"x.psd", FILE_TYPE_PSD, "8BPS whatever", 100220},
      {"x.jpg", FILE_TYPE_JPG, "\xFF\xD8 not really", 100210},
      {"x.gif", FILE_TYPE_GIF, std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00\x07", 14), 100215},
      {"x.bmp", FILE_TYPE_BMP, "BM", 100070},
      {"x.wav", FILE_TYPE_WAV, "RIFF", 100030},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ResetMessageState();
    g_QuitFlag = 0;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_NE(DecodeImageIntoLayer(record_, c.type, data, c.bytes.size(), c.file), 0);
    EXPECT_EQ(ShownMessageId(c.file), c.messageId);
    EXPECT_EQ(g_QuitFlag, 1);
  }
  // The same through the file lookup, for the types it probes.
  ResetMessageState();
  folder_.Write("cg/broken.jpg", "\xFF\xD8 not really");
  EXPECT_NE(LoadLayerImage(record_, "cg/broken"), 0);
  EXPECT_EQ(ShownMessageId("cg\\broken.jpg"), 100210);
}

TEST_F(LoadTest, AFileShorterThanItsHeaderSaysFailsBeforeTheLayerChanges) {
  // 8192 x 8192 passes the size checks but the file holds no pixels: the load fails before
  // the layer's image or size change.
  folder_.Write("big.png", ReadFixture("png_rgb8.png"));
  ASSERT_EQ(LoadLayerImage(record_, "big.png"), 0);
  std::string kcg = MakeKcg(8192, 8192, "", false);
  EXPECT_NE(DecodeImageIntoLayer(record_, FILE_TYPE_KCG, reinterpret_cast<const uint8_t*>(kcg.data()), kcg.size(), "big"), 0);
  EXPECT_EQ(record_->mWidth, 13);
  EXPECT_EQ(record_->mHeight, 7);
}

}  // namespace
