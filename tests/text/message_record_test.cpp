// The message record: appending characters, values and control entries, limits and clearing.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "text/text.h"

namespace {

std::string Cp932(const char* utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8, strlen(utf8), &out)) << utf8;
  return out;
}

std::string Codes() { return std::string((const char*)g_Message->mCode); }

class MessageRecordTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    if (!g_Message) CreateMessageRecord();
    g_Message->mFinished = 1;
    ClearMessage();
    g_Message->mCharDelay = 45;
    g_Message->mShown = 1;
    g_Message->mEndNewLine = g_Message->mEndNewPage = g_Message->mEndClickWait = 1;
  }
};

TEST_F(MessageRecordTest, TextGetsOneEntryPerCharacterWithTheLiveStyle) {
  g_Message->mColour1 = 0x123456;
  g_Message->mWidth = 24;
  std::string text = Cp932("あA") + "\x82";   // ends in a lone lead byte
  ASSERT_EQ(AppendMessageText(text.data(), (int32_t)text.size()), 0);
  EXPECT_EQ(Codes(), "211");
  EXPECT_EQ(g_Message->mTextLength, 4);
  EXPECT_EQ(g_Message->mText[4], '\0');
  const int16_t delays[3] = {45, 22, 22};
  for (int e = 0; e < 3; e++) {
    EXPECT_EQ(g_Message->mDelay[e], delays[e]) << e;
    EXPECT_EQ(g_Message->mEntryColour1[e], 0x123456u);
    EXPECT_EQ(g_Message->mCellWidth[e], 24);
  }
}

TEST_F(MessageRecordTest, TextLimitsCountTheTerminator) {
  struct Case {
    bool value;
    int32_t length;
    int result;
  } cases[] = {{false, 8190, 0}, {false, 8191, -1}, {true, 8189, 0}, {true, 8190, -1}};
  for (const Case& c : cases) {
    g_Message->mFinished = 1;
    ClearMessage();
    g_QuitFlag = 0;
    // Values are built in pieces of at most 1024 bytes.
    std::string bytes(c.length, 'x');
    int result = 0;
    if (c.value) {
      for (int32_t at = 0; at < c.length && result == 0; at += 1000)
        result = AppendMessageValue(bytes.data() + at, std::min(1000, c.length - at));
    } else {
      result = AppendMessageText(bytes.data(), c.length);
    }
    EXPECT_EQ(result, c.result) << c.length;
    EXPECT_EQ(g_QuitFlag != 0, c.result != 0) << "overflow is fatal";
    EXPECT_LE(g_Message->mTextLength, MESSAGE_TEXT_LIMIT);
  }
}

TEST_F(MessageRecordTest, ValuesKeepDoubleBytesAndTurnControlBytesIntoSpaces) {
  std::string value = "a\tb\n" + Cp932("字");
  ASSERT_EQ(AppendMessageValue(value.data(), (int32_t)value.size()), 0);
  EXPECT_EQ(std::string(g_Message->mText), "a b " + Cp932("字"));
  EXPECT_EQ(Codes(), "11112");
  std::string tooLong(1025, 'v');
  EXPECT_EQ(AppendMessageValue(tooLong.data(), 1025), -1);
  EXPECT_EQ(g_Message->mTextLength, 6);
}

TEST_F(MessageRecordTest, BlockEndAppendsItsStepsInOrder) {
  struct Case {
    int8_t shown;
    int32_t click, newLine, newPage;
    const char* codes;
    uint8_t finished;
  } cases[] = {
      {1, 1, 1, 1, "CRPE", 0}, {1, 0, 1, 0, "RE", 0}, {0, 1, 1, 1, "E", 1}, {2, 1, 0, 0, "CE", 0},
  };
  for (const Case& c : cases) {
    g_Message->mFinished = 1;
    ClearMessage();
    g_Message->mShown = c.shown;
    g_Message->mEndClickWait = c.click;
    g_Message->mEndNewLine = c.newLine;
    g_Message->mEndNewPage = c.newPage;
    g_Message->mHeight = 30;
    ASSERT_EQ(CloseMessageBlock(), 0);
    EXPECT_EQ(Codes(), c.codes);
    EXPECT_EQ(g_Message->mFinished, c.finished);
    const char* r = strchr(c.codes, 'R');
    if (r) EXPECT_EQ(g_Message->mCellHeight[r - c.codes], 30);
    EXPECT_EQ(g_Message->mCellHeight[0] == 30, c.codes[0] == 'R') << "only the new line stores a size";
  }
}

TEST_F(MessageRecordTest, ControlEntriesStopAtTheLastSlot) {
  for (int32_t i = 0; i < MESSAGE_ENTRY_LIMIT; i++) ASSERT_EQ(AppendMessageControl(MSG_CODE_END, false), 0);
  EXPECT_EQ(AppendMessageControl(MSG_CODE_CLICK, true), -1);
  EXPECT_EQ(g_Message->mEntryCount, MESSAGE_ENTRY_LIMIT);
  EXPECT_EQ(g_Message->mCode[MESSAGE_ENTRY_LIMIT], 0);
  EXPECT_EQ(AppendMessageText("x", 1), -1);
}

TEST_F(MessageRecordTest, ClearActsOnlyOnAFinishedMessage) {
  ASSERT_EQ(AppendMessageText("ab", 2), 0);
  g_Message->mCursorX = 40;
  ClearMessage();
  EXPECT_EQ(g_Message->mEntryCount, 2);
  g_Message->mFinished = 1;
  g_Message->mRestartTiming = 0;
  ClearMessage();
  EXPECT_EQ(g_Message->mEntryCount, 0);
  EXPECT_EQ(g_Message->mTextLength, 0);
  EXPECT_EQ(g_Message->mCode[0], 0);
  EXPECT_EQ(g_Message->mFinished, 0);
  EXPECT_EQ(g_Message->mRestartTiming, 1);
  EXPECT_EQ(g_Message->mCursorX, 40) << "the pen stays";
}

// Closing a block with no record (its allocation failed at start-up) must end the run with a
// message, not dereference a null record or leave the task waiting for ever.
TEST_F(MessageRecordTest, ClosingWithoutARecordIsAFatalMessage) {
  MessageRecord* kept = g_Message;
  g_Message = nullptr;
  g_QuitFlag = 0;
  int result = CloseMessageBlock();
  g_Message = kept;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(g_QuitFlag, 1);
}

}  // namespace
