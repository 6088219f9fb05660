// The image-processing command run from assembled scripts: layer lookup and creation, the
// order in which selectors win, the checks that refuse a call, and the operations it runs.
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "layers/layer.h"
#include "tests/layers/layer_fixture.h"
#include "text/text.h"

namespace {

const char* const kProcessMessages =
    "message 101281 \"E101281 %s %s\"\n"
    "message 101282 \"E101282 %s %s\"\n"
    "message 101283 \"E101283 %s %s\"\n"
    "message 101284 \"E101284 %s %s\"\n"
    "message 101291 \"E101291 %s %s\"\n"
    "message 101296 \"E101296 %s %s\"\n"
    "message 101297 \"E101297 %s %s\"\n"
    "message 101298 \"E101298 %s %s\"\n"
    "global int r = 7\n"
    "file main.txt\n"
    "*SYSTEM_START\n";

class ImageProcessTest : public LayerScriptTest {
 protected:
  // Runs `body` once, then an endless wait.
  bool Run(const std::string& body) {
    if (!Boot(std::string(kProcessMessages) + body + "\nloop -1\nwait frames=1\nendloop\n")) return false;
    RunPasses(1);
    return true;
  }
  // A layer under "W0" of w x h pixels, each `pixel`.
  NameNode* MakeLayer(const char* name, int32_t w, int32_t h, uint32_t pixel) {
    std::string path = std::string("W0/") + name;
    NameNode* node = CreateNamedNode(g_LayerRoot, path.c_str(), false, 5);
    LayerRecord* r = AttachNewLayerRecord(node);
    r->mPixels = AllocImageBuffer(nullptr, w, h, nullptr);
    r->mWidth = w;
    r->mHeight = h;
    for (int32_t i = 0; i < w * h; i++) memcpy(r->mPixels + i * 4, &pixel, 4);
    return node;
  }
  uint32_t Pixel(const char* name, int32_t x, int32_t y) {
    LayerRecord* r = GetLayerRecord(Layer((std::string("W0/") + name).c_str()));
    uint32_t p;
    memcpy(&p, r->mPixels + (size_t(y) * r->mWidth + x) * 4, 4);
    return p;
  }
};

struct RefusalCase {
  const char* script;
  int message;
};

TEST_F(ImageProcessTest, RefusedCallsGiveTheirMessageAndChangeNothing) {
  const RefusalCase cases[] = {
      {"imageprocess layer1=\"a\" layer2=\"b\" a=-1 op36=1", 101000},
      {"imageprocess layer1=\"a\" layer2=\"b\" a=257 op47=1", 101000},
      {"imageprocess layer1=\"a\" layer2=\"b\" a=2 op49=1", 101000},
      {"imageprocess layer1=\"a\" layer2=\"b\" a=16777216 op37=1", 101000},
      {"imageprocess layer1=\"a\" a=16 op45=1", 101000},
      {"imageprocess layer1=\"a\" layer2=\"b\" op29=1 heightc=500", 101000},
      {"imageprocess layer1=\"a\" layer2=\"b\" op31=1 width=8193 height=5", 101000},
      {"imageprocess layer1=\"a\" op34=1 x1=0", 101282},
      {"imageprocess layer1=\"a\" op51=1 y2=3", 101283},
      {"imageprocess layer1=\"a\" op58=1 x2=3", 101284},
      {"imageprocess layer1=\"a\" layer2=\"b\" op71=1 y1=0", 101281},
      {"imageprocess layer1=\"a\" op72=1", 101297},
      {"imageprocess layer1=\"a\" op69=1", 101296},
      {"imageprocess layer1=\"a\" op70=1", 101296},
      {"imageprocess layer1=\"a\" op39=1", 101298},
      {"imageprocess layer1=\"a\" op40=1", 101298},
      {"imageprocess layer1=\"a\" op41=1", 101298},
      {"imageprocess layer1=\"a\" op42=1", 101298},
      {"imageprocess layer1=\"a\" op43=1", 101298},
      {"imageprocess layer1=\"a\" op44=1", 101298},
      {"imageprocess layer1=\"a\" layer2=\"g/\" op39=1", 101291},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.script);
    TearDown();
    SetUp();
    MakeLayer("a", 4, 4, 0xFF102030);
    MakeLayer("b", 4, 4, 0x00000000);
    ASSERT_TRUE(Run(c.script));
    EXPECT_EQ(ShownMessage(), c.message);
    EXPECT_EQ(g_QuitFlag, 1);
    EXPECT_EQ(Pixel("b", 0, 0), 0u);
    EXPECT_EQ(GetLayerRecord(Layer("W0/a"))->mWidth, 4);
    g_QuitFlag = 0;
  }
}

TEST_F(ImageProcessTest, ComposeLaysTheFirstLayerOntoTheSecondAtAnUnclampedPosition) {
  MakeLayer("a", 4, 4, 0xFF102030);
  MakeLayer("b", 4, 4, 0x00000000);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"b\" x1=-3 y1=2 op39=1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Pixel("b", 0, 2), 0xFF102030u);
  EXPECT_EQ(Pixel("b", 0, 1), 0u);
  EXPECT_EQ(Pixel("b", 1, 2), 0u);
  EXPECT_TRUE(GetLayerRecord(Layer("W0/b"))->mHasAlpha);
}

TEST_F(ImageProcessTest, TheFirstGivenSelectorWinsInTheCommandsOwnOrder) {
  MakeLayer("a", 4, 4, 0xFF102030);
  MakeLayer("b", 4, 4, 0x00000000);
  // The saturation filter comes before composing: b receives a's grey copy, not a laid on it.
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"b\" op39=1 op36=1 a=0"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Pixel("b", 0, 0), 0xFF202020u);
}

TEST_F(ImageProcessTest, LayerNumbersAreAppendedAndMissingSecondLayersAreCreated) {
  MakeLayer("a.2", 3, 2, 0xFF102030);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" number1=2 layer2=\"made\" number2=7 op46=1 left=1"));
  EXPECT_EQ(ShownMessage(), 0);
  NameNode* made = Layer("W0/made.7");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->mOrderKey, 1);
  LayerRecord* r = GetLayerRecord(made);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mWidth, 4);
  EXPECT_EQ(r->mHeight, 2);
  EXPECT_EQ(Pixel("made.7", 0, 0), g_TransparentFill);
  EXPECT_EQ(Pixel("made.7", 1, 1), 0xFF102030u);
  EXPECT_EQ(GetLayerRecord(Layer("W0/a.2"))->mWidth, 3);
}

TEST_F(ImageProcessTest, AMissingFirstLayerDoesNothing) {
  ASSERT_TRUE(Run("imageprocess layer1=\"nothere\" layer2=\"b\" op46=1 left=1\nr = 1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("r"), 1);
  EXPECT_EQ(Layer("W0/b"), nullptr);
}

TEST_F(ImageProcessTest, ThirdLayerWithoutASecondIsRefused) {
  MakeLayer("a", 2, 2, 0xFF102030);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer3=\"c\" op41=1\nr = 1"));
  EXPECT_EQ(Int("r"), 7);
  EXPECT_EQ(Layer("W0/c"), nullptr);
}

TEST_F(ImageProcessTest, RuleWipeAndCrossFadeWriteIntoTheLastNamedLayer) {
  MakeLayer("s1", 2, 2, 0xFF111111);
  MakeLayer("s2", 2, 2, 0xFF999999);
  MakeLayer("rule", 2, 2, 0xFF000000);
  ASSERT_TRUE(Run("imageprocess layer1=\"s1\" layer2=\"s2\" layer3=\"rule\" layer4=\"out\" op42=1 a=255\n"
                  "imageprocess layer1=\"s1\" layer2=\"s2\" layer3=\"fade\" op41=1 a=255"));
  EXPECT_EQ(ShownMessage(), 0);
  // Created outputs have no pixels yet: the operations leave them alone beyond the alpha flag.
  EXPECT_TRUE(GetLayerRecord(Layer("W0/out"))->mHasAlpha);
  EXPECT_TRUE(GetLayerRecord(Layer("W0/fade"))->mHasAlpha);
  TearDown();
  SetUp();
  MakeLayer("s1", 2, 2, 0xFF111111);
  MakeLayer("s2", 2, 2, 0xFF999999);
  MakeLayer("rule", 2, 2, 0xFF000000);
  MakeLayer("out", 2, 2, 0);
  MakeLayer("fade", 2, 2, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"s1\" layer2=\"s2\" layer3=\"rule\" layer4=\"out\" op42=1 a=255\n"
                  "imageprocess layer1=\"s1\" layer2=\"s2\" layer3=\"fade\" op41=1 a=255"));
  EXPECT_EQ(Pixel("out", 1, 1), 0xFF999999u);
  EXPECT_EQ(Pixel("fade", 0, 1), 0xFF999999u);
}

TEST_F(ImageProcessTest, TrimDifferencesAndSwapRunFromTheCommand) {
  NameNode* a = MakeLayer("a", 5, 5, 0);
  memset(GetLayerRecord(a)->mPixels + (2 * 5 + 3) * 4, 0x7F, 4);
  MakeLayer("b", 5, 5, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"t\" op45=1 a=15\n"
                  "imageprocess layer1=\"a\" layer2=\"b\" op43=1\n"
                  "imageprocess layer1=\"a\" layer2=\"b\" op71=1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(GetLayerRecord(Layer("W0/t"))->mWidth, 1);
  EXPECT_EQ(Pixel("t", 0, 0), 0x7F7F7F7Fu);
  // After the swap the names changed places: "a" holds what b became.
  EXPECT_EQ(Pixel("a", 3, 2), 0x7F7F7F7Fu);
  EXPECT_EQ(Pixel("a", 0, 0), 0u);
  EXPECT_EQ(Pixel("b", 3, 2), 0x7F7F7F7Fu);
}

TEST_F(ImageProcessTest, TextWithoutItsTextEndsTheTurnAndTheStyleSlotIsReset) {
  MakeLayer("a", 4, 4, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" op67=3 op68=1\nr = 1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_TextStyleSlot, 0);
  // The refused call ended the turn; the next frame's turn goes on after it.
  EXPECT_EQ(Int("r"), 7);
  RunPasses(1);
  EXPECT_EQ(Int("r"), 1);
}

TEST_F(ImageProcessTest, AGroupIsComposedFirstSoTheOperationSeesWhatItShows) {
  InitPixelKernels();
  InitProductTables();
  InitBlendTables();
  NameNode* group = CreateNamedNode(g_LayerRoot, "W0/g", true, 5);
  LayerRecord* g = AttachNewLayerRecord(group);
  g->mPixels = AllocImageBuffer(nullptr, 4, 4, nullptr);
  g->mWidth = g->mHeight = 4;
  memset(g->mPixels, 0, 4 * 4 * 4);
  NameNode* child = CreateNamedNode(g_LayerRoot, "W0/g/c", false, 1);
  LayerRecord* c = AttachNewLayerRecord(child);
  c->mPixels = AllocImageBuffer(nullptr, 2, 2, nullptr);
  c->mWidth = c->mHeight = 2;
  memset(c->mPixels, 0xFF, 2 * 2 * 4);
  c->mX = 1;
  MakeLayer("b", 4, 4, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"g/\" layer2=\"b\" op39=1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Pixel("b", 1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel("b", 2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel("b", 0, 0), 0u);
  EXPECT_EQ(Pixel("b", 3, 3), 0u);
}

TEST_F(ImageProcessTest, FillsWithAnAlphaModeAndThePasteMarkTheSecondLayer) {
  MakeLayer("a", 2, 2, 0);
  MakeLayer("b", 2, 2, 0);
  MakeLayer("c", 2, 2, 0);
  g_GpuRedrawRequest = 0;
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"b\" op64=2\n"
                  "imageprocess layer1=\"a\" layer2=\"c\" op63=1\n"
                  "imageprocess layer1=\"a\" layer2=\"c\" op73=1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(GetLayerRecord(Layer("W0/b"))->mHasAlpha, 1);
  EXPECT_EQ(GetLayerRecord(Layer("W0/c"))->mHasAlpha, 0);
  EXPECT_EQ(g_GpuRedrawRequest, 1);
}

class ImageProcessTextTest : public ImageProcessTest {
 protected:
  void SetUp() override {
    ImageProcessTest::SetUp();
    BuildFontTable();
    if (GetFontCount() == 0) GTEST_SKIP() << "no fonts installed";
    TextStyle& style = g_TextStyles[2];
    style.mWidth = style.mHeight = 24;
    style.mColour1 = 0xFFFFFF;
    style.mColour2 = 0xFFFFFFFF;
    style.mComposite = 1;
  }
  void TearDown() override {
    ReleaseGdiObjects();
    ImageProcessTest::TearDown();
  }
  // Columns of the layer that hold any pixel with a non-zero alpha.
  int InkColumns(const char* name, int32_t from, int32_t to) {
    int n = 0;
    for (int32_t x = from; x < to; x++)
      for (int32_t y = 0; y < 32; y++)
        if (Pixel(name, x, y) >> 24) {
          n++;
          break;
        }
    return n;
  }
};

TEST_F(ImageProcessTextTest, TextIsDrawnWithTheChosenSlotThenComposedOntoTheSecondLayer) {
  MakeLayer("a", 64, 32, 0);
  MakeLayer("b", 64, 32, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"b\" text=\"II\" op67=2 op68=1 op39=1"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_TextStyleSlot, 0);
  // Two characters side by side, each within its half-width advance of 12 pixels.
  EXPECT_GT(InkColumns("a", 0, 12), 0);
  EXPECT_GT(InkColumns("a", 12, 24), 0);
  EXPECT_EQ(InkColumns("a", 24, 64), 0);
  for (int32_t x = 0; x < 64; x++)
    for (int32_t y = 0; y < 32; y++) ASSERT_EQ(Pixel("b", x, y) >> 24, Pixel("a", x, y) >> 24) << x << "," << y;
}

TEST_F(ImageProcessTextTest, ThePenStartsInsideTheLayerUnlessAComposeKeepsThePosition) {
  MakeLayer("a", 64, 32, 0);
  MakeLayer("b", 64, 32, 0);
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" text=\"I\" op67=2 op68=1 x1=-50\n"
                  "imageprocess layer1=\"b\" layer2=\"c\" text=\"I\" op67=2 op68=1 op43=1 x1=-50"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_GT(InkColumns("a", 0, 12), 0);
  EXPECT_EQ(InkColumns("b", 0, 64), 0);
}

TEST_F(ImageProcessTest, HostileValuesStayInsideTheImages) {
  const char* const scripts[] = {
      "imageprocess layer1=\"a\" layer2=\"b\" op39=1 x1=-9223372036854775807 y1=2",
      "imageprocess layer1=\"a\" layer2=\"b\" op40=1 x1=4294967295 y1=-4294967296",
      "imageprocess layer1=\"a\" layer2=\"b\" layer3=\"c\" op41=1 a=-9223372036854775807 x1=-4294967294",
      "imageprocess layer1=\"a\" layer2=\"b\" layer3=\"c\" layer4=\"d\" op42=1 a=100 b=2147483647 x1=2",
      "imageprocess layer1=\"a\" layer2=\"b\" layer3=\"c\" layer4=\"d\" op42=1 a=9 b=-2147483648 y1=-3",
      "imageprocess layer1=\"a\" layer2=\"b\" op43=1 x1=9223372036854775807",
      "imageprocess layer1=\"a\" layer2=\"b\" op46=1 left=9223372036854775807 right=-9223372036854775807",
      "imageprocess layer1=\"a\" op46=1 top=-9223372036854775807 bottom=9223372036854775807 left=-1",
      "imageprocess layer1=\"a\" layer2=\"b\" op45=1 a=15",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    TearDown();
    SetUp();
    MakeLayer("a", 6, 5, 0x80FFFFFF);
    MakeLayer("b", 3, 7, 0x40102030);
    MakeLayer("c", 2, 2, 0xFF000000);
    MakeLayer("d", 9, 9, 0);
    ASSERT_TRUE(Run(script));
    EXPECT_EQ(ShownMessage(), 0);
    EXPECT_EQ(g_QuitFlag, 0);
  }
}

TEST_F(ImageProcessTest, ScalingAndRotationReceiveTheSizeAngleAndMethod) {
  NameNode* a = MakeLayer("a", 4, 4, 0);
  for (int32_t i = 0; i < 16; i++) GetLayerRecord(a)->mPixels[i * 4] = uint8_t(i + 1);
  // The nearest-neighbour selector's own value does not change the method.
  ASSERT_TRUE(Run("imageprocess layer1=\"a\" layer2=\"half\" op29=5 width=2 height=2\n"
                  "imageprocess layer1=\"a\" layer2=\"third\" op31=1 widthc=300 heightc=300\n"
                  "imageprocess layer1=\"a\" layer2=\"turned\" op34=1 a=180"));
  EXPECT_EQ(ShownMessage(), 0);
  LayerRecord* half = GetLayerRecord(Layer("W0/half"));
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->mWidth, 2);
  EXPECT_EQ(half->mHeight, 2);
  EXPECT_EQ(Pixel("half", 0, 0) & 0xFF, 1u);
  // Bicubic over the whole image at a smaller size still starts at the first pixel.
  EXPECT_EQ(GetLayerRecord(Layer("W0/third"))->mWidth, 3);
  EXPECT_EQ(Pixel("third", 0, 0) & 0xFF, 1u);
  LayerRecord* turned = GetLayerRecord(Layer("W0/turned"));
  ASSERT_NE(turned, nullptr);
  EXPECT_EQ(turned->mWidth, 4);
  EXPECT_EQ(Pixel("turned", 0, 0) & 0xFF, 16u);
  EXPECT_EQ(Pixel("turned", 3, 3) & 0xFF, 1u);
  EXPECT_EQ(GetLayerRecord(a)->mWidth, 4);
}

}  // namespace
