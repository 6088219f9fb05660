// The layer command, layer deletion and the layer query, run from assembled scripts: every
// property the layer command sets is read back by the query, and hostile input is refused.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "layers/layer.h"
#include "render/render.h"
#include "tests/layers/layer_fixture.h"

namespace {

using LayerCommandTest = LayerScriptTest;

struct ReadBackCase {
  const char* script;   // "wait frames=1" lets the layer update run between commands
  int64_t expected;     // in r
};

// Layers made with an empty image name get the blank image, so no file is needed.
const ReadBackCase kReadBack[] = {
    {"layer name=\"a\" file=\"\" priority=5\nlayerquery name=\"a\" exists=1 out=r", 1},
    {"layerquery name=\"nothere\" exists=1 out=r", 0},
    {"layer name=\"bg\" number=3 file=\"\"\nlayerquery name=\"bg.3\" priority=1 out=r", 3},
    {"layer name=\"bg\" number=3 file=\"\" priority=9\nlayerquery name=\"bg\" number=3 priority=1 out=r", 9},
    {"layer name=\"a\" file=\"\" priority=5\nlayer name=\"a\" priority-=10\nlayerquery name=\"a\" priority=1 out=r", 1},
    {"layer name=\"a\" file=\"\" priority=5\nlayer name=\"a\" priority=0\nlayerquery name=\"a\" priority=1 out=r", 0},
    {"layer name=\"a\" file=\"\" priority=1 visible=0\nlayerquery name=\"a\" visible=1 out=r", 1},
    {"layer name=\"a\" file=\"\" priority=1 visible=0\nwait frames=1\nlayerquery name=\"a\" visible=1 out=r", 0},
    {"layer name=\"a\" file=\"\" priority=1 opacity=300\nwait frames=1\nlayerquery name=\"a\" opacity=1 out=r", 300},
    {"layer name=\"a\" file=\"\" priority=1 opacity=200\nwait frames=1\nlayer name=\"a\" opacity+=300\n"
     "wait frames=1\nlayerquery name=\"a\" opacity=1 out=r", 256},
    {"layer name=\"a\" file=\"\" priority=1 opacity=100\nwait frames=1\nlayer name=\"a\" opacity+=10\n"
     "layer name=\"a\" opacity+=10\nwait frames=1\nlayerquery name=\"a\" opacity=1 out=r", 110},
    {"layer name=\"a\" file=\"\" priority=1 x=15\nlayerquery name=\"a\" x100=1 out=r", 1500},
    {"layer name=\"a\" file=\"\" priority=1 x100=1234\nlayerquery name=\"a\" x=1 out=r", 12},
    {"layer name=\"a\" file=\"\" priority=1 x100=-150\nlayerquery name=\"a\" x=1 out=r", -1},
    {"layer name=\"a\" file=\"\" priority=1 x=5\nlayer name=\"a\" x*=-3\nlayerquery name=\"a\" x=1 out=r", -15},
    {"layer name=\"a\" file=\"\" priority=1 y=4294967301\nlayerquery name=\"a\" y=1 out=r", 5},
    // The 1/100 y is 100 times y computed in 32 bits: 3000000000 wraps to 3000000000 - 2^32.
    {"layer name=\"a\" file=\"\" priority=1 y=30000000\nlayerquery name=\"a\" y100=1 out=r", -1294967296},
    {"layer name=\"a\" file=\"\" priority=1 y=-30000000\nlayerquery name=\"a\" y100=1 out=r", 1294967296},
    {"layer name=\"a\" file=\"\" priority=1 y=21474836\nlayerquery name=\"a\" y100=1 out=r", 2147483600},
    {"layer name=\"a\" file=\"\" priority=1 y100=777\nlayerquery name=\"a\" y=1 out=r", 7},
    {"layer name=\"a\" file=\"\" priority=1 rule=100\nlayer name=\"a\" rule-=500\nlayerquery name=\"a\" rule=1 out=r", 0},
    {"layer name=\"a\" file=\"\" priority=1 sharpness=65537\nlayerquery name=\"a\" sharpness=1 out=r", 1},
    {"layer name=\"a\" file=\"\" priority=1 blend=18\nlayerquery name=\"a\" blend=1 out=r", 18},
    {"layer name=\"a\" file=\"\" priority=1\nlayerquery name=\"a\" width=1 out=r", 1},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayerquery name=\"g/\" width=1 out=r", 30},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayer name=\"g/\" height=45\nlayerquery name=\"g/\" height=1 out=r", 45},
    // A group canvas stores the low 32 bits of its sizes, whatever their sign.
    {"layer name=\"g/\" width=4294967301 height=3 priority=1\nlayerquery name=\"g/\" width=1 out=r", 5},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayer name=\"g/\" width=4294967301\n"
     "layerquery name=\"g/\" width=1 out=r", 5},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayer name=\"g/\" width=-4294967295\n"
     "layerquery name=\"g/\" width=1 out=r", 1},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayer name=\"g/\" height=-4294967294\n"
     "layerquery name=\"g/\" height=1 out=r", 2},
    {"layer name=\"g/\" width=30 height=20 priority=1\nlayer name=\"g/\" height=4294967295\n"
     "layerquery name=\"g/\" height=1 out=r", -1},
    {"layer name=\"a\" file=\"\" priority=1 scalex=5000\nlayer name=\"a\" scalex/=0\nlayerquery name=\"a\" scalex=1 out=r", 5000},
    {"layer name=\"a\" file=\"\" priority=1 scaley+=1\nlayerquery name=\"a\" scaley=1 out=r", 10001},
    {"layer name=\"a\" file=\"\" priority=1 emotex=-4\nlayerquery name=\"a\" emotex=1 out=r", -4},
    {"layer name=\"a\" file=\"\" priority=1 emotey=8\nlayerquery name=\"a\" emotey=1 out=r", 8},
    {"layer name=\"a\" file=\"\" priority=1 userc=123456789012\nlayerquery name=\"a\" userc=1 out=r", 123456789012},
    {"layer name=\"a\" file=\"\" priority=1 usera=-2\nlayerquery name=\"a\" usera=1 out=r", -2},
    {"layer name=\"a\" file=\"\" priority=1 userb=3\nlayer name=\"a\" userb*=9223372036854775807\n"
     "layerquery name=\"a\" userb=1 out=r", 9223372036854775805},
    {"layer name=\"a\" file=\"\" priority=1\nlayerquery name=\"a\" gpukind=1 out=r", 0},
    {"layer name=\"a\" file=\"\" priority=1\nlayerquery name=\"a\" out=r", 0},
    // The first selector in the query's own order decides: opacity comes before x.
    {"layer name=\"a\" file=\"\" priority=1 x=3\nlayerquery name=\"a\" x=1 opacity=1 out=r", 256},
    // A layer of the same name in another folder is another layer.
    {"layer name=\"g/\" width=4 height=4 priority=1\nlayer name=\"g/a\" file=\"\" priority=1 x=9\n"
     "layer name=\"a\" file=\"\" priority=1 x=2\nlayerquery name=\"g/a\" x=1 out=r", 9},
    {"layer name=\"a\" file=\"\" priority=1\nlayerdelete name=\"a\"\nlayerquery name=\"a\" exists=1 out=r", 0},
    {"layer name=\"g/\" width=4 height=4 priority=1\nlayer name=\"g/a\" file=\"\" priority=1\n"
     "layerdelete name=\"g/\"\nlayerquery name=\"g/\" exists=1 out=r", 0},
    {"layer name=\"a\" file=\"\" priority=1\nlayer name=\"b\" share=\"a\" priority=2 x=40\nlayerdelete name=\"a\"\n"
     "layerquery name=\"b\" x=1 out=r", 40},
    {"layer name=\"a\" file=\"\" priority=1 x=6\nlayer name=\"b\" share=\"a\" priority=2\n"
     "layer name=\"b\" x+=1\nlayerquery name=\"a\" x=1 out=r", 7},
    {"layerdelete name=\"nothere\"\nlayerquery name=\"nothere\" exists=1 out=r", 0},
};

TEST_F(LayerCommandTest, QueryReadsBackWhatTheLayerCommandSet) {
  for (const ReadBackCase& c : kReadBack) {
    SCOPED_TRACE(c.script);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunScript(c.script));
    EXPECT_EQ(ShownMessage(), 0);
    EXPECT_EQ(g_QuitFlag.load(), 0);
    EXPECT_EQ(Int("r"), c.expected);
  }
}

TEST_F(LayerCommandTest, MissingLayerClearsTheResultOfAnyType) {
  ASSERT_TRUE(RunScript("layerquery name=\"x\" width=1 out=r\nlayerquery name=\"x\" width=1 out=s\n"
                        "layerquery name=\"x\" width=1 out=f"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("r"), 0);
  EXPECT_EQ(Text("s"), "");
  EXPECT_EQ(Real("f"), 0.0);
}

TEST_F(LayerCommandTest, MaskAndSecondSourceNamesAreStoredCutOnACharacterBoundary) {
  // 259 ASCII bytes and then a double-byte character that does not fit in the 261-byte buffer.
  std::string longName(259, 'm');
  longName += "\x82\xa0";
  ASSERT_TRUE(RunScript("layer name=\"a\" file=\"\" priority=1 maskname=\"rule\" masknumber=4\n"
                        "layerquery name=\"a\" maskname=1 out=s\n"
                        "layer name=\"b\" file=\"\" priority=1 second=\"" + longName + "\" maskname=\"" + longName + "\""));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Text("s"), "rule.4");
  LayerRecord* b = GetLayerRecord(Layer("W0/b"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(b->mSecondSourceName), std::string(259, 'm'));
  EXPECT_EQ(std::string(b->mMaskName), std::string(259, 'm'));
}

TEST_F(LayerCommandTest, FieldsWithoutQuerySelectorsTakeTheirOperators) {
  ASSERT_TRUE(RunScript("layer name=\"a\" file=\"\" priority=1 tone=16777215 saturation=300 crossfade=-5\n"
                        "layer name=\"a\" tone+=1 saturation+=1 crossfade-=1 keepbuffer=1 userbyte=258\n"
                        "layer name=\"a\" pivotx=12 pivoty-=3 rotation1=4500 rotation3=-90\n"
                        "layer name=\"b\" file=\"\" priority=2 rotation1=9223372036854775807\n"
                        "layer name=\"b\" rotation1-=1\n"
                        "layer name=\"a\" offscreen=1"));
  EXPECT_EQ(ShownMessage(), 0);
  NameNode* node = Layer("W0/a");
  LayerRecord* r = GetLayerRecord(node);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mTone, 0x1000000u);
  EXPECT_EQ(r->mSaturation, 256);
  EXPECT_EQ(r->mCrossFade, 0);
  EXPECT_EQ(r->mKeepBufferOnShrink, 1);
  EXPECT_EQ(r->mUserByte, 2);
  EXPECT_EQ(r->mPivotX, 12);
  EXPECT_EQ(r->mPivotY, -3);
  EXPECT_EQ(r->mRotation[2], -90.0f);
  EXPECT_EQ(r->mRotation[0], 4500.0f);
  // Past the 64-bit range the float is taken as the largest integer, not converted wildly.
  EXPECT_EQ(GetLayerRecord(Layer("W0/b"))->mRotation[0], 9223372036854775807.0f);
  EXPECT_EQ(g_OffscreenLayerNode, node);
}

TEST_F(LayerCommandTest, LeafCanvasCropsOrPadsTheLoadedImageWithOpaqueBlack) {
  ASSERT_TRUE(RunScript("layer name=\"a\" file=\"\" priority=1 width=3 height=2"));
  EXPECT_EQ(ShownMessage(), 0);
  LayerRecord* r = GetLayerRecord(Layer("W0/a"));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mWidth, 3);
  EXPECT_EQ(r->mHeight, 2);
  const uint32_t expected[] = {0x00808080, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000};
  for (int i = 0; i < 6; i++) {
    const uint8_t* p = r->mPixels + i * 4;
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    EXPECT_EQ(v, expected[i]) << i;
  }
}

TEST_F(LayerCommandTest, GroupCanvasOfZeroKeepsItsPixelsAndAHugeOneChangesNothing) {
  ASSERT_TRUE(RunScript("layer name=\"g/\" width=8 height=4 priority=1\nlayer name=\"g/\" width=0 height=0"));
  LayerRecord* g = GetLayerRecord(Layer("W0/g", NAME_LOOKUP_GROUP));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->mWidth, 0);
  EXPECT_EQ(g->mHeight, 0);
  EXPECT_NE(g->mPixels, nullptr);
  TearDown();
  SetUp();
  ASSERT_TRUE(RunScript("layer name=\"g/\" width=8 height=4 priority=1\nlayer name=\"g/\" width=9000"));
  EXPECT_EQ(g_QuitFlag.load(), 1);
  g = GetLayerRecord(Layer("W0/g", NAME_LOOKUP_GROUP));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->mWidth, 8);
  EXPECT_EQ(g->mHeight, 4);
}

// Games make empty groups and narrow ones taller than an image may be; both are kept and
// drawn like any other group.
TEST_F(LayerCommandTest, EmptyAndTallNarrowGroupsAreMadeAndDrawn) {
  ASSERT_TRUE(RunScript("layer name=\"e/\" width=0 height=0 priority=1\n"
                        "layer name=\"e/a\" file=\"\" priority=1\n"
                        "layer name=\"t/\" width=10 height=9000 priority=2\n"
                        "layer name=\"t/a\" file=\"\" priority=1 y=8990\n"
                        "layerquery name=\"t/\" height=1 out=r"));
  EXPECT_EQ(g_QuitFlag.load(), 0);
  EXPECT_EQ(ShownMessage(), 0) << LastErrorDialogText();
  EXPECT_EQ(Int("r"), 9000);
  LayerRecord* e = GetLayerRecord(Layer("W0/e", NAME_LOOKUP_GROUP));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->mWidth, 0);
  EXPECT_EQ(e->mHeight, 0);
  EXPECT_NE(e->mPixels, nullptr);
  LayerRecord* t = GetLayerRecord(Layer("W0/t", NAME_LOOKUP_GROUP));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->mWidth, 10);
  EXPECT_EQ(t->mHeight, 9000);
  MarkRootWhollyDirty(&window_);
  EXPECT_EQ(DrawWindow(&window_), 0);
  EXPECT_EQ(g_QuitFlag.load(), 0);
}

struct RefusalCase {
  const char* script;
  int message;         // negative: a message with a built-in text
  bool makesNothing;   // no layer "a" or group "g" is left behind
};

TEST_F(LayerCommandTest, HostileRequestsGiveTheirMessagesAndLeaveNoHalfMadeLayer) {
  const RefusalCase cases[] = {
      {"layer name=\"a\" x=1", 101230, true},
      {"layer name=\"a\" file=\"\"", 100240, true},
      {"layer name=\"a\" file=\"\" priority=-1", 100240, true},
      {"layer name=\"a\" share=\"nothere\" priority=1", 101250, true},
      {"layer name=\"g/\" file=\"\" width=2 height=2 priority=1", 101280, true},
      {"layer name=\"g/\" width=2 height=2 priority=1\nlayer name=\"g/\" file=\"x\"", 101280, false},
      {"layer name=\"a\" file=\"\" priority=1\nlayer name=\"a\" width=5 height=5", 100244, false},
      {"layer name=\"a\" file=\"\" priority=1 width=5", 100243, false},
      {"layer name=\"a\" file=\"\" priority=1 width=8193 height=1", -100010, false},
      {"layer name=\"a\" file=\"\" priority=1 width=4294967297 height=1", -100010, false},
      {"layer name=\"g/\" width=8193 height=1 priority=1", -100010, true},
      {"layer name=\"g/\" width=1 height=-1 priority=1", -100010, true},
      {"layer name=\"no/a\" file=\"\" priority=1", 100230, true},
      {"layer name=\"a b/c\" file=\"\" priority=1", 100242, true},
      {"layer name=\"a\" file=\"\" priority=1\nlayerquery name=\"a\" colour=1 px=0 out=r", 101295, false},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.script);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunScript(c.script));
    EXPECT_EQ(g_QuitFlag.load(), 1);
    if (c.message > 0) EXPECT_EQ(ShownMessage(), c.message);
    else EXPECT_STREQ(LastErrorDialogText(), LookupMessageText(-c.message));
    for (NameNode* n = Layer("W0", NAME_LOOKUP_GROUP)->mFirstChild; n; n = n->mNext)
      EXPECT_NE(n->mPayload, nullptr) << n->mName;
    if (c.makesNothing) {
      EXPECT_EQ(Layer("W0/a"), nullptr);
      EXPECT_EQ(Layer("W0/g", NAME_LOOKUP_GROUP), nullptr);
    }
  }
}

TEST_F(LayerCommandTest, MissingLayerWithoutImageIsIgnoredWhenTheOptionIsOff) {
  g_EngineOptions[1] = 0;
  ASSERT_TRUE(RunScript("layer name=\"a\" x=1\nr = 5"));
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(Int("r"), 5);
  EXPECT_EQ(Layer("W0/a"), nullptr);
}

TEST_F(LayerCommandTest, MaskFromAnotherLayerCopiesItsBlueIntoAlpha) {
  ASSERT_TRUE(RunScript("layer name=\"a\" file=\"\" priority=1 width=2 height=1\n"
                        "layer name=\"m\" file=\"\" priority=2 width=2 height=1\nwait frames=1\n"
                        "layer name=\"a\" mask=\"m\"\nwait frames=1\n"
                        "layer name=\"small\" file=\"\" priority=3\nlayer name=\"a\" mask=\"small\"",
                        1));
  LayerRecord* m = GetLayerRecord(Layer("W0/m"));
  ASSERT_NE(m, nullptr);
  m->mPixels[0] = 0x40;
  m->mPixels[4] = 0xC0;
  RunPasses(1);
  LayerRecord* a = GetLayerRecord(Layer("W0/a"));
  EXPECT_EQ(a->mPixels[3], 0x40);
  EXPECT_EQ(a->mPixels[7], 0xC0);
  EXPECT_EQ(a->mHasAlpha, 1);
  RunPasses(1);
  EXPECT_EQ(g_QuitFlag.load(), 1);
}

TEST_F(LayerCommandTest, PixelQueriesReadUnderWindowPointsAndLayerCoordinates) {
  ASSERT_TRUE(RunScript("layer name=\"g/\" width=20 height=20 priority=1 x=100 y=50\n"
                        "layer name=\"g/p\" file=\"\" priority=1 width=10 height=12 x=5 y=6\nwait frames=1\n"
                        "layerquery name=\"g/p\" pixel=0 px=107 py=59 out=q[0]\n"
                        "layerquery name=\"g/p\" alpha=7 px=107 py=59 out=q[1]\n"
                        "layerquery name=\"g/p\" argb=-2 px=107 py=59 out=q[2]\n"
                        "layerquery name=\"g/p\" argb=0 px=104 py=59 out=q[3]\n"
                        "layerquery name=\"g/p\" pixel=0 out=q[4]\n"
                        "layerquery name=\"g/p\" colour=1 px=2 py=3 out=q[5]\n"
                        "layerquery name=\"g/p\" colour=1 px=10 py=3 out=q[6]\n"
                        "layerquery name=\"g/p\" pixel=0 px=640 py=0 out=q[7]",
                        1));
  WindowRecord last{};
  last.mWidth = 640;
  last.mHeight = 480;
  g_WindowRecords[3] = &last;
  LayerRecord* p = GetLayerRecord(Layer("W0/g/p"));
  ASSERT_NE(p, nullptr);
  uint8_t* px = p->mPixels + (3 * 10 + 2) * 4;   // (2, 3): window (107, 59)
  px[0] = 0x33;
  px[1] = 0x22;
  px[2] = 0x11;
  px[3] = 0x80;
  window_.mCursorX = 107;
  window_.mCursorY = 59;
  last.mCursorX = 107;
  last.mCursorY = 59;
  RunPasses(1);
  EXPECT_EQ(ShownMessage(), 0);
  g_WindowRecords[3] = nullptr;
  const int64_t expected[] = {0x112233, 0x80, int32_t(0x80112233u), -1, 0x112233, 0x112233, -1, -1};
  for (int i = 0; i < 8; i++) EXPECT_EQ(Int("q", i), expected[i]) << i;
}

TEST_F(LayerCommandTest, BoundsQueryFindsTheBoxOfNonTransparentPixels) {
  ASSERT_TRUE(RunScript("layer name=\"a\" file=\"\" priority=1 width=8 height=12\nwait frames=1\n"
                        "layerquery name=\"a\" box=1 px=1 out=q[0]\nlayerquery name=\"a\" box=1 px=2 out=q[1]\n"
                        "layerquery name=\"a\" box=1 px=3 out=q[2]\nlayerquery name=\"a\" box=1 px=4 out=q[3]\n"
                        "layerquery name=\"a\" box=1 px=5 out=q[4]\nwait frames=1\n"
                        "layerquery name=\"a\" box=1 px=2 out=q[5]",
                        1));
  LayerRecord* a = GetLayerRecord(Layer("W0/a"));
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 8 * 12; i++) a->mPixels[i * 4 + 3] = 0;
  a->mPixels[(9 * 8 + 5) * 4 + 3] = 1;
  a->mPixels[(4 * 8 + 6) * 4 + 3] = 255;
  RunPasses(1);
  for (int i = 0; i < 8 * 12; i++) a->mPixels[i * 4 + 3] = 0;
  RunPasses(1);
  const int64_t expected[] = {4, 9, 5, 6, 0, -1};
  for (int i = 0; i < 6; i++) EXPECT_EQ(Int("q", i), expected[i]) << i;
}

}  // namespace
