// The layer command in scene mode: its texture argument makes the layer a GPU layer with
// textures, and its offscreen argument names the layer that receives the GPU frame.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/window.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "render/gpu.h"
#include "render/gpu_local.h"
#include "tests/support/script_fixture.h"

namespace {

class LayerCommandGpuTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    window_.mWidth = 640;
    window_.mHeight = 480;
    g_WindowRecords[0] = &window_;
    memset(g_EngineOptions, 1, sizeof g_EngineOptions);
    ASSERT_EQ(CreateLayerTreeRoot(), 0);
    window_.mRootLayer = FindNodeByPath(g_LayerRoot, "W0", NAME_LOOKUP_ANY);
    g_GpuSceneMode = 1;
    g_TextureTileLimit = {512, 256};
    ASSERT_EQ(StartDirect3D(), 0);
  }
  void TearDown() override {
    ShutdownDirect3D();
    g_GpuSceneMode = 0;
    FreeLayerSubtree(g_LayerRoot);
    g_LayerRoot = nullptr;
    g_WindowRecords[0] = nullptr;
    g_OffscreenLayerNode = nullptr;
    g_GpuRedrawRequest = 0;
    ScriptTest::TearDown();
  }
  WindowRecord window_{};
};

TEST_F(LayerCommandGpuTest, TheTextureArgumentUploadsAndTheOffscreenArgumentNamesTheTarget) {
  std::string messages;
  for (int id : {100230, 100240, 100242, 100243, 100244, 101230, 101250, 101280, 101295})
    messages += "message " + std::to_string(id) + " \"E" + std::to_string(id) + " %s %s\"\n";
  ASSERT_TRUE(Boot(messages + "file main.txt\n*SYSTEM_START\n"
                   "layer name=\"a\" file=\"\" priority=1 width=600 height=300 texture=1\n"
                   "layer name=\"off\" file=\"\" priority=2 width=640 height=480 offscreen=1\n"
                   "loop -1\nwait frames=1\nendloop\n"));
  RunPasses(1);
  ASSERT_EQ(g_QuitFlag, 0) << ShownMessage() << " " << LastErrorDialogText();
  LayerRecord* a = GetLayerRecord(FindNodeByPath(g_LayerRoot, "W0/a", NAME_LOOKUP_LEAF));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->mGpuKind, GPU_KIND_TEXTURED);
  EXPECT_EQ(a->TXNUM, 2);
  EXPECT_EQ(a->TYNUM, 2);
  EXPECT_NE(a->mTextures[3], nullptr);
  EXPECT_EQ(g_OffscreenLayerNode, FindNodeByPath(g_LayerRoot, "W0/off", NAME_LOOKUP_LEAF));
  EXPECT_EQ(g_GpuRedrawRequest, 1);
}

}  // namespace
