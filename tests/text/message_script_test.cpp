// Message and text-style commands run from a packed, assembled project: typing speed on the
// headless clock, clicks, click waits, values, settings and their queries, style slots.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/window.h"
#include "files/files.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "tests/support/engine_fixture.h"
#include "text/text.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/assembler.h"

namespace {

// Message texts that start with their id, so a test can tell which one was shown.
const char* const kMessages =
    "message 101010 \"E101010 %s %s %lld %d\"\n"
    "message 101240 \"E101240 %s %s %lld %d\"\n"
    "message 101250 \"E101250 %s %s\"\n"
    "message 102000 \"E102000\"\n"
    "message 102030 \"E102030\"\n";

constexpr int KEY_LEFT_BUTTON = 1;

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

class MessageScriptTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    ResetInputState();
    BuildScrambleTables();
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
    // The main window's layer tree with a 400 x 200 message layer "W0/msg".
    window_.mWidth = 640;
    window_.mHeight = 480;
    g_WindowRecords[0] = &window_;
    ASSERT_EQ(CreateLayerTreeRoot(), 0);
    NameNode* node = CreateNamedNode(g_LayerRoot, "W0/msg", false, 1);
    ASSERT_NE(node, nullptr);
    LayerRecord* r = AttachNewLayerRecord(node);
    r->mPixels = AllocImageBuffer(nullptr, 400, 200, nullptr);
    r->mWidth = 400;
    r->mHeight = 200;
    memset(r->mPixels, 0, 400 * 200 * 4);
    msg_ = node;
    BuildFontTable();
    if (!g_Message) CreateMessageRecord();
    g_Message->mFinished = 1;
    ClearMessage();
    g_Message->mLayer = nullptr;
    g_Message->mCursorX = g_Message->mCursorY = 0;
    g_Message->mWaitingClick = 0;
    g_Message->mShown = 1;
    g_Message->mEndNewLine = g_Message->mEndNewPage = g_Message->mEndClickWait = 1;
    g_Message->mWidth = g_Message->mHeight = 20;
    g_Message->mColour1 = 0xFFFFFF;
    g_Message->mColour2 = 0xFFFFFFFF;
    g_MessageInstant = 0;
    HeadlessSetTicks(5000);
  }
  void TearDown() override {
    g_Message->mLayer = nullptr;
    ReleaseScriptEngine();
    FreeLayerSubtree(g_LayerRoot);
    g_LayerRoot = nullptr;
    g_WindowRecords[0] = nullptr;
    ReleaseGdiObjects();
    ResetInputState();
    HeadlessTest::TearDown();
  }
  // Assembles the listing (UTF-8, turned into code page 932), packs it and boots from the pack.
  bool Boot(const std::string& listingUtf8) {
    set_ = AssembledSet{};
    if (!AssembleListing(Cp932(std::string(kMessages) + listingUtf8), &set_)) {
      ADD_FAILURE() << set_.error;
      return false;
    }
    if (!WritePackedSet(folder_.path(), set_)) return ADD_FAILURE() << "pack not written", false;
    if (BuildPackIndex() != 0) return ADD_FAILURE() << "pack index: " << LastErrorDialogText(), false;
    if (BootScripts() != 0) return ADD_FAILURE() << "boot: " << LastErrorDialogText(), false;
    return true;
  }
  void Pass() {
    g_ScriptPassCounter++;
    RunScriptTasks();
  }
  int64_t Int(const char* name) { return ReadIntElement(set_.variables.at(name), 0); }
  std::string Text(const char* name) {
    const char* s = ReadStringElement(set_.variables.at(name), 0);
    return s ? s : "";
  }
  int ShownMessage() {
    std::string text = LastErrorDialogText();
    size_t at = text.rfind("E10");
    return at == std::string::npos ? 0 : atoi(text.c_str() + at + 1);
  }
  ScriptTask* SystemTask() {
    NameNode* node = FindNodeByPath(g_TaskRoot, "SYSTEM", NAME_LOOKUP_LEAF);
    return node ? static_cast<ScriptTask*>(node->mPayload) : nullptr;
  }

  TempFolder folder_;
  AssembledSet set_;
  WindowRecord window_{};
  NameNode* msg_ = nullptr;
};

TEST_F(MessageScriptTest, TypesJapaneseAndEnglishAtTheSetSpeed) {
  ASSERT_TRUE(Boot(R"(
global int after = 0
file main.txt
*SYSTEM_START
messageconfig layer="msg" delay=40 endnewpage=0
text "吾輩は猫である。Hello"
messageend
after = 1
wait frames=1000
)"));
  Pass();   // the script runs to the block end; output starts with the next pass
  // Eight double-byte characters of 40 ms, then five single bytes of 20 ms.
  struct Step {
    uint32_t ms;
    int bytes;
  } steps[] = {{0, 2}, {39, 2}, {40, 4}, {120, 8}, {280, 16}, {300, 17}, {379, 20}, {380, 21}};
  for (const Step& s : steps) {
    HeadlessSetTicks(5000 + s.ms);
    Pass();
    EXPECT_EQ(g_Message->mTextPos, s.bytes) << "after " << s.ms << " ms";
    EXPECT_EQ(Int("after"), 0);
  }
  EXPECT_EQ(g_Message->mWaitingClick, 1);
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(GetLayerRecord(msg_)->mIsMessageLayer, 1);
  // The block end's click wait: a click passes it and the task runs on in the next pass.
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = 1;
  Pass();
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = 2;
  Pass();
  EXPECT_EQ(Int("after"), 1);
  EXPECT_EQ(g_Message->mCursorX, 0) << "the new-line entry moved the pen";
  EXPECT_EQ(g_Message->mCursorY, 20);
}

TEST_F(MessageScriptTest, AClickShowsTheRestAndTheNextClickReleasesTheTask) {
  ASSERT_TRUE(Boot(R"(
global int after = 0
file main.txt
*SYSTEM_START
messageconfig layer="msg" delay=1000 endnewline=0 endnewpage=0
text "一二三四五"
messageend
after = 1
wait frames=1000
)"));
  Pass();
  Pass();
  EXPECT_EQ(g_Message->mTextPos, 2);
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = 1;
  Pass();
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = 2;
  Pass();
  EXPECT_EQ(g_Message->mTextPos, 10) << "the whole message is shown at once";
  for (int i = 0; i < 3; i++) Pass();
  EXPECT_EQ(Int("after"), 0) << "held keys pass no click wait";
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = -1;
  Pass();
  g_KeyState.mHoldFrames[KEY_LEFT_BUTTON] = 1;
  Pass();
  Pass();
  EXPECT_EQ(Int("after"), 1);
}

TEST_F(MessageScriptTest, ValuesAreWrittenAsText) {
  ASSERT_TRUE(Boot(R"(
global int n = -5
global str s = "a\tb"
file main.txt
*SYSTEM_START
messageconfig layer="msg" delay=0
messagevalue value=n
messagevalue value=1.5
messagevalue value=s
messageend
)"));
  Pass();
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(std::string(g_Message->mText), "-51.500000a b");
  EXPECT_EQ(std::string((const char*)g_Message->mCode).substr(0, 13), "1111111111111");
}

TEST_F(MessageScriptTest, SettingsAreStoredAndReadBack) {
  ASSERT_TRUE(Boot(R"(
global int v[4] = 0
file main.txt
*SYSTEM_START
messageconfig layer="msg" advance1=0 advance2=32 skip1=5000 delay=25 endnewline=0
messageconfigget endnewline=1 out=v[0]
messageconfigget endclick=1 cursorx=1 out=v[1]
messageconfigget shown=1 out=v[2]
messageconfig click=1 endclick=0
v[3] = 7
wait frames=1000
)"));
  Pass();
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_MessageAdvanceKeys[0], 1023) << "0 means no key";
  EXPECT_EQ(g_MessageAdvanceKeys[1], 32);
  EXPECT_EQ(g_MessageSkipKeys[0], 1023) << "keys outside the table mean no key";
  EXPECT_EQ(g_Message->mCharDelay, 25);
  const int64_t v[3] = {0, 0, 1};   // v[1]: the cursor x comes first of the selectors
  for (int i = 0; i < 3; i++) EXPECT_EQ(ReadIntElement(set_.variables.at("v"), i), v[i]) << i;
  // A click wait while shown ends the turn before the remaining settings are applied.
  EXPECT_EQ(g_Message->mEndClickWait, 1);
  EXPECT_EQ(ReadIntElement(set_.variables.at("v"), 3), 0);
  Pass();
  EXPECT_EQ(ReadIntElement(set_.variables.at("v"), 3), 7);
}

TEST_F(MessageScriptTest, AMissingMessageLayerIsFatal) {
  ASSERT_TRUE(Boot(R"(
file main.txt
*SYSTEM_START
messageconfig layer="nothere"
wait frames=1000
)"));
  Pass();
  EXPECT_EQ(ShownMessage(), 101250);
  EXPECT_NE(g_QuitFlag.load(), 0);
}

TEST_F(MessageScriptTest, StyleSlotsStartFromTheMessageStyle) {
  ASSERT_TRUE(Boot(R"(
global int w[2] = 0
global int c[2] = 0
global int count = 0
global int adv = 0
file main.txt
*SYSTEM_START
textstyle slot=3 width=30
textstyle slot=3 width+=4
textinfo width=1 out=w[0]
textstyle colour1=0xFFFFF0
textinfo colour1=1 out=c[0]
textstyle colour1+=0x20
textinfo colour1=1 out=c[1]
textinfo fontcount=1 out=count
textinfo advance=1 text="A" out=adv
wait frames=1000
)"));
  Pass();
  EXPECT_EQ(ShownMessage(), 0);
  EXPECT_EQ(g_TextStyles[3].mWidth, 24) << "the operator starts from the message style's 20";
  EXPECT_EQ(Int("w"), 20);
  EXPECT_EQ(g_TextStyles[0].mWidth, 20);
  EXPECT_EQ(ReadIntElement(set_.variables.at("c"), 0), 0xFFFFF0);
  EXPECT_EQ(ReadIntElement(set_.variables.at("c"), 1), 0xFFFFFF) << "'+=' caps";
  EXPECT_EQ(Int("count"), GetFontCount());
  EXPECT_EQ(Int("adv"), GetSlotFontPitch() == 0 ? 10 : Int("adv"));
  EXPECT_EQ(g_TextStyleSlot, 0);
}

TEST_F(MessageScriptTest, FontNumbersAreCheckedAndNamesReadBack) {
  struct Case {
    std::string number;
    int message;
  } cases[] = {{"0", 101010}, {std::to_string(GetFontCount() + 1), 101240}, {std::to_string(GetFontCount()), 0}};
  for (const Case& c : cases) {
    ResetMessageState();
    g_QuitFlag = 0;
    ResetScriptSet();
    if (g_TaskRoot) FreeTaskTree(g_TaskRoot);
    g_TaskRoot = nullptr;
    ASSERT_EQ(CreateTaskTreeRoot(), 0);
    ASSERT_TRUE(Boot(R"(
global str face = ""
file main.txt
*SYSTEM_START
textstyle font=)" + c.number + R"(
textinfo face=1 out=face
wait frames=1000
)"));
    Pass();
    EXPECT_EQ(ShownMessage(), c.message) << c.number;
    if (c.message == 0) {
      EXPECT_EQ(g_TextStyles[0].mFontIndex, GetFontCount() - 1);
      EXPECT_EQ(Text("face"), GetFontFaceName(GetFontCount() - 1));
    }
  }
}

}  // namespace
