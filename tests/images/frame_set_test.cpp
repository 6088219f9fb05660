// Frame sets attached to layers: unscrambling, frame choice, size changes, masks into alpha,
// and files whose tables point outside themselves.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window.h"
#include "files/files.h"
#include "layers/frame_set.h"
#include "tests/images/image_fixtures.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/image_formats.h"

namespace {

class FrameSetTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    InstallMessageIds();
    g_ExeFolderReal = folder_.path();
    g_ProjectFolderReal = folder_.path();
    FreePackIndex();
    g_SourceOrderFlags[0] = 1;
    g_MemoryFiles = nullptr;
    g_MemoryFileCount = 0;
    memset(g_PreloadCache, 0, sizeof g_PreloadCache);
    window_.mWidth = 640;
    window_.mHeight = 480;
    g_WindowRecords[0] = &window_;
    ASSERT_EQ(CreateLayerTreeRoot(), 0);
    node_ = CreateNamedNode(g_LayerRoot, "W0/anim", false, 1);
    ASSERT_NE(node_, nullptr);
    record_ = AttachNewLayerRecord(node_);
    ASSERT_NE(record_, nullptr);
  }
  void TearDown() override {
    FreeLayerSubtree(g_LayerRoot);
    g_LayerRoot = nullptr;
    g_WindowRecords[0] = nullptr;
    g_ExeFolderReal.clear();
    g_ProjectFolderReal.clear();
    HeadlessTest::TearDown();
  }

  // A flat-coloured JPEG written by the engine's writer (grey when `grey`).
  std::string Jpeg(int width, int height, uint8_t level, bool grey = false) {
    std::vector<uint8_t> pixels((size_t)width * height * 4, level);
    std::string path = folder_.path() + "/tmp.jpg";
    EXPECT_EQ(WriteJpegFile(path, pixels.data(), width, height, 95), 0);
    std::string bytes = ReadFixtureAt(path);
    if (!grey) return bytes;
    // A one-component JPEG for masks, written by the reference encoder.
    std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
                      std::string((size_t)width * height, (char)level);
    folder_.Write("mask.pgm", pgm);
    std::string command = "cjpeg -quality 100 " + folder_.path() + "/mask.pgm > " + folder_.path() + "/mask.jpg";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return ReadFixtureAt(folder_.path() + "/mask.jpg");
  }
  static std::string ReadFixtureAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  uint8_t Channel(int x, int y, int c) const { return record_->mPixels[((size_t)y * record_->mWidth + x) * 4 + c]; }

  TempFolder folder_;
  WindowRecord window_{};
  NameNode* node_ = nullptr;
  LayerRecord* record_ = nullptr;
};

TEST_F(FrameSetTest, FramesAreChosenClampedAndDecodedIntoTheLayer) {
  std::vector<FrameSetEntry> frames = {{Jpeg(16, 8, 40), ""}, {Jpeg(16, 8, 120), ""}, {Jpeg(32, 24, 200), ""}};
  folder_.Write("anim.fs", MakeFrameSet(frames, false, 7, -8, 9));
  ASSERT_EQ(LoadFrameSet(node_, "anim.fs"), 0);
  ASSERT_NE(record_->mFrameSet, nullptr);
  EXPECT_EQ(record_->mFrameSet->mFrameCount, 3);
  EXPECT_EQ(record_->mFrameSet->mHeaderValues[1], -8);
  struct Case {
    int64_t frame;
    int width;
    uint8_t level;
  } cases[] = {{-5, 16, 40}, {1, 16, 120}, {2, 32, 200}, {99, 32, 200}, {0, 16, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    ShowFrameSetFrame(node_, c.frame);
    ASSERT_EQ(record_->mWidth, c.width);
    EXPECT_NEAR(Channel(c.width - 1, 3, 1), c.level, 2);
    EXPECT_EQ(Channel(0, 0, 3), 255);
    EXPECT_EQ(record_->mHasAlpha, 0);
  }
}

TEST_F(FrameSetTest, MasksBecomeTheAlphaOfTheirFrame) {
  if (std::system("command -v cjpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "cjpeg is not installed";
  std::vector<FrameSetEntry> frames = {{Jpeg(8, 8, 90), Jpeg(8, 8, 30, true)}, {Jpeg(8, 8, 90), Jpeg(4, 4, 200, true)}};
  folder_.Write("masked.fs", MakeFrameSet(frames, true, 0, 0, 0));
  ASSERT_EQ(LoadFrameSet(node_, "masked.fs"), 0);
  ShowFrameSetFrame(node_, 0);
  EXPECT_EQ(record_->mHasAlpha, 1);
  EXPECT_NEAR(Channel(5, 5, 3), 30, 1);
  // A smaller mask writes only where it overlaps its frame.
  ShowFrameSetFrame(node_, 1);
  EXPECT_NEAR(Channel(3, 3, 3), 200, 1);
  EXPECT_EQ(Channel(6, 6, 3), 255);
}

TEST_F(FrameSetTest, TablesOutsideTheFileAreRefusedAndKeepThePreviousSet) {
  std::vector<FrameSetEntry> frames = {{Jpeg(4, 4, 10), ""}};
  std::string good = MakeFrameSet(frames, false, 1, 2, 3);
  folder_.Write("good.fs", good);
  ASSERT_EQ(LoadFrameSet(node_, "good.fs"), 0);
  FrameSetRecord* kept = record_->mFrameSet;
  auto patch = [](std::string s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = (char)(v >> (8 * i));
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"short header", good.substr(0, 20)},
      {"negative count", patch(good, 8, 0xFFFFFFFFu)},
      {"count beyond the tables", patch(good, 8, 100000)},
      {"offset past the end", patch(good, 32, 0x7FFFFFF0u)},
      {"colour length past the end", patch(good, 36, (uint32_t)good.size())},
      {"mask length past the end", patch(patch(good, 12, 1), 40, 0x7FFFFFFFu)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetMessageState();
    folder_.Write("bad.fs", c.bytes);
    EXPECT_EQ(LoadFrameSet(node_, "bad.fs"), -1);
    EXPECT_EQ(ShownMessageId("bad.fs"), 104010);
    EXPECT_EQ(record_->mFrameSet, kept);
  }
  // A missing file: the lookup's message is shown first, and the set stays.
  ResetMessageState();
  EXPECT_EQ(LoadFrameSet(node_, "none.fs"), -1);
  EXPECT_EQ(ShownMessageId("none.fs"), 104060);
  EXPECT_EQ(record_->mFrameSet, kept);
}

// A set of `offsets.size()` frames with the given offsets and colour and mask lengths, padded
// with zero bytes to `fileSize`.
std::string RawFrameSet(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& colours,
                        const std::vector<uint32_t>& masks, size_t fileSize) {
  std::string s(32, '\0');
  auto put = [&s](size_t at, uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4, '\0');
    for (int i = 0; i < 4; i++) s[at + i] = (char)(v >> (8 * i));
  };
  uint32_t count = (uint32_t)offsets.size();
  put(8, count);
  put(12, 1);
  for (uint32_t i = 0; i < count; i++) {
    put(32 + 4 * i, offsets[i]);
    put(32 + 4 * (count + i), colours[i]);
    put(32 + 4 * (2 * count + i), masks[i]);
  }
  s.resize(fileSize, '\0');
  return s;
}

TEST_F(FrameSetTest, FramesOverlappingTheTablesOrEachOtherAreRefusedBeforeAnyUnscrambling) {
  // Frames are unscrambled in place: a frame over the tables would rewrite the offsets and
  // lengths of the frames after it, and two frames over the same bytes would garble both.
  struct Case {
    const char* what;
    std::string bytes;
    int result;
  } cases[] = {
      {"first frame over the whole 68-byte file", RawFrameSet({0, 0, 0}, {68, 4, 4}, {0, 0, 0}, 68), -1},
      {"colour part over the header", RawFrameSet({8}, {4}, {0}, 64), -1},
      {"mask part reaching back into the tables", RawFrameSet({40}, {0}, {8}, 64), -1},
      {"last table entry covered", RawFrameSet({40, 52}, {8, 4}, {0, 0}, 64), -1},
      {"two frames over the same bytes", RawFrameSet({56, 56}, {8, 8}, {0, 0}, 72), -1},
      {"a mask running into the next frame", RawFrameSet({56, 62}, {4, 8}, {4, 0}, 72), -1},
      {"a frame inside another", RawFrameSet({56, 60}, {16, 2}, {0, 0}, 72), -1},
      {"frames side by side", RawFrameSet({64, 56}, {4, 8}, {4, 0}, 72), 0},
      {"empty frames anywhere", RawFrameSet({0, 8, 68}, {0, 0, 10}, {0, 0, 0}, 78), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeFrameSet(record_);
    ResetMessageState();
    folder_.Write("raw.fs", c.bytes);
    EXPECT_EQ(LoadFrameSet(node_, "raw.fs"), c.result);
    if (c.result < 0) {
      EXPECT_EQ(ShownMessageId("raw.fs"), 104010);
      EXPECT_EQ(record_->mFrameSet, nullptr);
      continue;
    }
    ASSERT_NE(record_->mFrameSet, nullptr);
    // The tables are as the file gave them, and each frame shows (as a bad JPEG) without harm.
    EXPECT_EQ(memcmp(record_->mFrameSet->mFile, c.bytes.data(), 32 + 12 * (size_t)record_->mFrameSet->mFrameCount), 0);
    for (int i = 0; i < record_->mFrameSet->mFrameCount; i++) ShowFrameSetFrame(node_, i);
  }
}

TEST_F(FrameSetTest, ACorruptFrameFailsAloneAndLaterFramesStillDecode) {
  std::string bad = Jpeg(8, 8, 50);
  bad.resize(bad.size() / 3);
  bad[bad.size() / 2] ^= 0x5A;
  std::vector<FrameSetEntry> frames = {{Jpeg(8, 8, 50), ""}, {"not a jpeg at all", ""}, {bad, ""}, {Jpeg(8, 8, 150), ""}};
  folder_.Write("mixed.fs", MakeFrameSet(frames, false, 0, 0, 0));
  ASSERT_EQ(LoadFrameSet(node_, "mixed.fs"), 0);
  ShowFrameSetFrame(node_, 1);
  ShowFrameSetFrame(node_, 2);
  ShowFrameSetFrame(node_, 3);
  ASSERT_EQ(record_->mWidth, 8);
  EXPECT_NEAR(Channel(4, 4, 0), 150, 2);
  FreeFrameSet(record_);
  EXPECT_EQ(record_->mFrameSet, nullptr);
  // The last frame stays shown after the release.
  EXPECT_NEAR(Channel(4, 4, 0), 150, 2);
}

}  // namespace
