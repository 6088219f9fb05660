// Typewriter output: character timing on the clock, click waits, skipping, pages, line breaks
// and the release of the waiting task, drawn into a real layer with the installed fonts.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/input.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "script/task.h"
#include "tests/support/engine_fixture.h"
#include "text/text.h"

namespace {

std::string Cp932(const char* utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8, strlen(utf8), &out)) << utf8;
  return out;
}

constexpr int KEY_LEFT_BUTTON = 1;
constexpr int KEY_CONTROL = 17;

class MessageOutputTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    ResetInputState();
    BuildFontTable();
    if (!g_Message) CreateMessageRecord();
    MessageRecord* m = g_Message;
    m->mFinished = 1;
    ClearMessage();
    m->mShown = 1;
    m->mCharDelay = 0;
    m->mCursorX = m->mCursorY = 0;
    m->mWaitingClick = 0;
    m->mWidth = m->mHeight = 20;
    m->mEndNewLine = m->mEndNewPage = m->mEndClickWait = 0;
    g_MessageInstant = 0;
    MakeLayer(200, 100);
    task_ = ScriptTask{};
    HeadlessSetTicks(1000);
  }
  void TearDown() override {
    g_Message->mLayer = nullptr;
    if (layer_) FreeLayerNode(layer_);
    layer_ = nullptr;
    ReleaseGdiObjects();
    ResetInputState();
    HeadlessTest::TearDown();
  }
  void MakeLayer(int32_t width, int32_t height) {
    if (layer_) FreeLayerNode(layer_);
    layer_ = AllocTreeRoot();
    LayerRecord* r = AttachNewLayerRecord(layer_);
    r->mPixels = AllocImageBuffer(nullptr, width, height, nullptr);
    r->mWidth = width;
    r->mHeight = height;
    memset(r->mPixels, 0, (size_t)width * height * 4);
    g_Message->mLayer = layer_;
  }
  // Appends text and closes the block; the task waits for it as after the block-end command.
  void Say(const std::string& text) {
    if (!text.empty()) ASSERT_EQ(AppendMessageText(text.data(), (int32_t)text.size()), 0);
    ASSERT_EQ(CloseMessageBlock(), 0);
    task_.mWaitingForMessage = 1;
  }
  void Pass() { AdvanceMessage(&task_); }
  void Hold(int key, int64_t frames) { g_KeyState.mHoldFrames[key] = frames; }
  int CharsShown() const { return g_Message->mTextPos; }
  bool AnyInkBelow(int32_t row) const {
    LayerRecord* r = GetLayerRecord(layer_);
    for (int32_t y = row; y < r->mHeight; y++)
      for (int32_t x = 0; x < r->mWidth; x++)
        if (r->mPixels[((size_t)y * r->mWidth + x) * 4 + 3]) return true;
    return false;
  }

  NameNode* layer_ = nullptr;
  ScriptTask task_{};
};

TEST_F(MessageOutputTest, CharactersFollowTheirDelayWithoutDrift) {
  g_Message->mCharDelay = 40;
  g_Message->mEndClickWait = 1;   // holds the finished text for counting
  Say(Cp932("吾輩は猫である名前はまだ無い"));   // 14 double-byte characters, 40 ms each
  struct Step {
    uint32_t now;
    int shown;
  } steps[] = {{1000, 1}, {1039, 1}, {1040, 2}, {1100, 3}, {1200, 6}, {1300, 8}, {1301, 8}, {1520, 14}};
  for (const Step& s : steps) {
    HeadlessSetTicks(s.now);
    Pass();
    EXPECT_EQ(CharsShown(), 2 * s.shown) << "at " << s.now;
  }
  EXPECT_EQ(g_Message->mWaitingClick, 1);
}

TEST_F(MessageOutputTest, SingleByteCharactersTakeHalfTheDelay) {
  g_Message->mCharDelay = 40;
  Say("abcdef");
  HeadlessSetTicks(1000);
  Pass();
  HeadlessSetTicks(1060);
  Pass();
  EXPECT_EQ(CharsShown(), 4);
}

TEST_F(MessageOutputTest, AClickShowsTheRestAtOnce) {
  g_Message->mCharDelay = 100;
  g_Message->mEndClickWait = 1;
  Say(Cp932("あいうえお") + "Hello");
  Pass();
  EXPECT_EQ(CharsShown(), 2);
  Hold(KEY_LEFT_BUTTON, 1);
  Pass();
  EXPECT_EQ(CharsShown(), 2) << "the click takes effect at the next pass";
  Hold(KEY_LEFT_BUTTON, 2);
  Pass();
  EXPECT_EQ(CharsShown(), 15);
  EXPECT_EQ(g_Message->mWaitingClick, 1);
  EXPECT_EQ(g_MessageInstant, 0) << "instant output ends at a click wait";
}

TEST_F(MessageOutputTest, AClickWaitHoldsTheTaskUntilTheNextPress) {
  g_Message->mEndClickWait = 1;
  std::string first = Cp932("最初");
  ASSERT_EQ(AppendMessageText(first.data(), (int32_t)first.size()), 0);
  ASSERT_EQ(AppendMessageControl(MSG_CODE_CLICK, true), 0);
  Say("next");
  Pass();
  EXPECT_EQ(CharsShown(), 4);
  EXPECT_EQ(g_Message->mWaitingClick, 1);
  for (int i = 0; i < 3; i++) Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 1);
  Hold(KEY_LEFT_BUTTON, 1);
  Pass();   // passes the first wait
  Hold(KEY_LEFT_BUTTON, 2);
  Pass();   // draws "next" and stops at the block end's wait: a held key passes nothing more
  EXPECT_EQ(CharsShown(), 8);
  EXPECT_EQ(g_Message->mWaitingClick, 1);
  EXPECT_EQ(task_.mWaitingForMessage, 1);
  Hold(KEY_LEFT_BUTTON, -1);
  Pass();
  Hold(KEY_LEFT_BUTTON, 1);
  Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 1);
  Hold(KEY_LEFT_BUTTON, 2);
  Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 0) << "the pass after the last wait ends the message";
  EXPECT_EQ(g_Message->mEntryCount, 0) << "the finished message is cleared";
}

TEST_F(MessageOutputTest, AHeldSkipKeyPassesEveryClickWait) {
  g_Message->mCharDelay = 500;
  for (const char* part : {"one", "two"}) {
    ASSERT_EQ(AppendMessageText(part, 3), 0);
    ASSERT_EQ(AppendMessageControl(MSG_CODE_CLICK, true), 0);
  }
  Say("three");
  Hold(KEY_CONTROL, 5);
  int passes = 0;
  while (task_.mWaitingForMessage && passes < 10) Pass(), passes++;
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(CharsShown(), 0) << "cleared after finishing";
}

TEST_F(MessageOutputTest, LineBreaksKeepForbiddenCharactersOffLineEdges) {
  if (GetSlotFontPitch() != 0) GTEST_SKIP() << "no fixed-pitch Japanese face is installed";
  // A 200-pixel layer, cells of 20, a fixed-pitch face: one cell is left at x 158.
  struct Case {
    int32_t penX;
    const char* utf8;
    int32_t endX, endY, textPos;
  } cases[] = {
      {158, "字", 20, 20, 2},       // wraps: 158 + 40 + 2 reaches the edge
      {158, "。字", 20, 20, 4},     // the full stop hangs in the last cell, the next wraps
      {120, "「", 20, 20, 2},       // an opening bracket never ends a line
      {120, "！？", 160, 0, 4},     // the pair stays together at the line end
      {120, "字", 140, 0, 2},
      {178, "A", 10, 20, 1},        // single bytes are tested with the full cell
  };
  for (const Case& c : cases) {
    g_Message->mFinished = 1;
    ClearMessage();
    g_Message->mCursorX = c.penX;
    g_Message->mCursorY = 0;
    Say(Cp932(c.utf8));
    Pass();
    EXPECT_EQ(task_.mWaitingForMessage, 0) << c.utf8;
    EXPECT_EQ(g_Message->mCursorX, c.endX) << c.utf8;
    EXPECT_EQ(g_Message->mCursorY, c.endY) << c.utf8;
  }
}

TEST_F(MessageOutputTest, TheLastLineDropsTheRestOfTheText) {
  if (GetSlotFontPitch() != 0) GTEST_SKIP() << "no fixed-pitch Japanese face is installed";
  MakeLayer(100, 44);
  // Four characters of 20 per line (100 - 2): the third line would reach the bottom.
  std::string text = Cp932("一二三四五六七八九十壱弐");
  ASSERT_EQ(AppendMessageText(text.data(), (int32_t)text.size()), 0);
  ASSERT_EQ(AppendMessageControl(MSG_CODE_CLICK, true), 0);
  Say("");
  Pass();
  EXPECT_EQ(g_Message->mTextPos, g_Message->mTextLength);
  EXPECT_EQ(g_Message->mWaitingClick, 1) << "the dropped characters are consumed";
  EXPECT_LT(g_Message->mCursorY, 44);
  EXPECT_FALSE(AnyInkBelow(40));
}

TEST_F(MessageOutputTest, HiddenMessagesAndMissingLayersDrawNothing) {
  g_Message->mShown = 0;
  Say(Cp932("見えない"));
  Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 0);
  EXPECT_EQ(g_Message->mEntryCount, 0);
  EXPECT_FALSE(AnyInkBelow(0));

  g_Message->mShown = 1;
  NameNode* layer = g_Message->mLayer;
  g_Message->mLayer = nullptr;
  Say("abc");
  for (int i = 0; i < 3; i++) Pass();
  EXPECT_EQ(g_Message->mCurrentEntry, 0);
  EXPECT_EQ(task_.mWaitingForMessage, 1);
  g_Message->mLayer = layer;
  Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 0);
  EXPECT_TRUE(AnyInkBelow(0));
}

TEST_F(MessageOutputTest, ANewPageClearsTheLayerAndAnEmptyRecordReleasesTheTask) {
  ASSERT_EQ(AppendMessageText("ab", 2), 0);
  ASSERT_EQ(AppendMessageControl(MSG_CODE_CLICK, true), 0);
  ASSERT_EQ(AppendMessageControl(MSG_CODE_PAGE, true), 0);
  Say("");
  Pass();
  EXPECT_TRUE(AnyInkBelow(0));
  Hold(KEY_LEFT_BUTTON, 1);
  Pass();
  Hold(KEY_LEFT_BUTTON, 2);
  Pass();
  EXPECT_FALSE(AnyInkBelow(0));
  EXPECT_EQ(g_Message->mCursorX, 0);
  EXPECT_EQ(task_.mWaitingForMessage, 0);

  task_.mWaitingForMessage = 1;
  Pass();
  EXPECT_EQ(task_.mWaitingForMessage, 0);
  EXPECT_EQ(g_Message->mFinished, 0) << "an empty record is not marked finished";
}

}  // namespace
