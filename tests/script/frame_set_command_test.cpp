// The frame-set commands run from a script: attach and show, query the counters, release.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window.h"
#include "layers/frame_set.h"
#include "layers/image_codecs.h"
#include "layers/layer.h"
#include "tests/script/script_fixture.h"
#include "tools/lib/image_formats.h"

namespace {

class FrameSetCommandTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    window_.mWidth = 64;
    window_.mHeight = 64;
    g_WindowRecords[0] = &window_;
    ASSERT_EQ(CreateLayerTreeRoot(), 0);
    node_ = CreateNamedNode(g_LayerRoot, "W0/anim.2", false, 1);
    ASSERT_NE(node_, nullptr);
    ASSERT_NE(AttachNewLayerRecord(node_), nullptr);
    std::vector<FrameSetEntry> frames;
    for (int i = 0; i < 3; i++) frames.push_back({Jpeg(8 + 8 * i, 8), ""});
    folder_.Write("fs/anim.fs", MakeFrameSet(frames, false, 11, 22, 33));
  }
  void TearDown() override {
    FreeLayerSubtree(g_LayerRoot);
    g_LayerRoot = nullptr;
    g_WindowRecords[0] = nullptr;
    ScriptTest::TearDown();
  }
  std::string Jpeg(int width, int height) {
    std::vector<uint8_t> pixels((size_t)width * height * 4 + 64, 0x60);
    std::string path = folder_.path() + "/frame.jpg";
    EXPECT_EQ(WriteJpegFile(path, pixels.data(), width, height, 90), 0);
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  WindowRecord window_{};
  NameNode* node_ = nullptr;
};

TEST_F(FrameSetCommandTest, AttachShowQueryAndRelease) {
  ASSERT_TRUE(Boot(R"(
message 101250 "E101250 %s %s"
global int count = -1
global int second = -1
global int untouched = 5
global real cleared = 5.0
file main.txt
*SYSTEM_START
framesetlayer name="anim" number=2 file="FS/Anim.fs" frame=99
framesetquery name="anim" number=2 out=count count=1
framesetquery name="anim" number=2 out=second header2=1
framesetquery name="anim" number=2 out=untouched
framesetrelease name="anim" number=2
framesetquery name="anim" number=2 out=cleared count=1
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("count"), 3);
  EXPECT_EQ(Int("second"), 22);
  EXPECT_EQ(Int("untouched"), 5);
  EXPECT_DOUBLE_EQ(Real("cleared"), 0.0);
  LayerRecord* record = GetLayerRecord(node_);
  // Frame 99 is the last frame, and the layer keeps it after the release.
  EXPECT_EQ(record->mWidth, 24);
  EXPECT_EQ(record->mFrameSet, nullptr);
}

TEST_F(FrameSetCommandTest, AMissingLayerIsFatal) {
  ASSERT_TRUE(Boot(R"(
message 101250 "E101250 %s %s"
file main.txt
*SYSTEM_START
framesetlayer name="nothing" frame=0
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 101250);
  EXPECT_EQ(g_QuitFlag, 1);
}

TEST_F(FrameSetCommandTest, AQueryIntoTextWithoutASetIsFatal) {
  ASSERT_TRUE(Boot(R"(
global str text = "x"
file main.txt
*SYSTEM_START
framesetquery name="anim" number=2 out=text count=1
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 101140);
}

}  // namespace
