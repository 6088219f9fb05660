// Numbered messages: text precedence, the quit flag, one dialog per run, bounded formatting,
// the located prefix and the debug log.
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string Cp932(const char* utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8, strlen(utf8), &out));
  return out;
}

std::string Utf8(const std::string& cp932) {
  std::string out;
  EXPECT_TRUE(PlatCp932ToUtf8(cp932.data(), cp932.size(), &out));
  return out;
}

int DialogCount() {
  int n = 0;
  for (const std::string& call : HeadlessCalls()) n += call.rfind("ChoiceBox ", 0) == 0;
  return n;
}

class Messages : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    g_MessageTable.count = 0;
    g_ScriptLocation = nullptr;
    g_DebugMode = 0;
  }
  void TearDown() override {
    g_MessageTable.count = 0;
    g_ScriptLocation = nullptr;
    HeadlessTest::TearDown();
  }
  void AddTableText(int32_t id, const std::string& text) {
    texts_.push_back(text);
    g_MessageTable.ids[g_MessageTable.count] = id;
    g_MessageTable.texts[g_MessageTable.count] = texts_.back().c_str();
    g_MessageTable.count++;
  }
  std::deque<std::string> texts_;
};

TEST_F(Messages, LookupPrefersBuiltinThenTableThenInternalError) {
  AddTableText(104060, "project's own 104060");
  AddTableText(500001, "project text");
  AddTableText(500001, "second entry of the same id");
  EXPECT_EQ(Utf8(LookupMessageText(104060)), "[%s]ファイルが\n存在しません。");
  EXPECT_STREQ(LookupMessageText(500001), "project text");
  EXPECT_EQ(Utf8(LookupMessageText(777777)),
            "[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。");
}

// Ids the engine chose for faults of its own have texts, so a game whose table lacks them
// still says what went wrong; a project text of the same id wins over them.
TEST_F(Messages, IdsOfTheEnginesOwnHaveTextsThatTheTableOverrides) {
  const std::string unknown = LookupMessageText(777777);
  for (int32_t id : {105010, 108180, 160020, 900060, 900080, 900190}) {
    SCOPED_TRACE(id);
    ASSERT_NE(LookupMessageText(id), nullptr);
    EXPECT_NE(LookupMessageText(id), unknown);
    EXPECT_GT(strlen(LookupMessageText(id)), 0u);
  }
  ReportErrorF(108180, 1, "SYSTEM_START");
  EXPECT_EQ(Utf8(LastErrorDialogText()), "ラベル[SYSTEM_START]が\n見つかりません。");
  AddTableText(108180, "project's own label text");
  EXPECT_STREQ(LookupMessageText(108180), "project's own label text");
}

TEST_F(Messages, FormattedMessageShowsItsArgumentInTheBuiltinText) {
  AddTableText(104060, "ignored %d");
  ReportErrorF(104060, 1, "bg\\title.png");
  EXPECT_EQ(Utf8(LastErrorDialogText()), "[bg\\title.png]ファイルが\n存在しません。");
}

TEST_F(Messages, OnlyTheFirstMessageOfARunIsShownAndEachSetsTheQuitFlag) {
  ReportError(100010, 1);
  EXPECT_EQ(g_QuitFlag, 1);
  ReportError(100010, 1);
  EXPECT_EQ(g_QuitFlag, 1);
  EXPECT_EQ(DialogCount(), 1);
  ReportError(100010, 0);   // a later non-fatal message clears the flag
  EXPECT_EQ(g_QuitFlag, 0);
  EXPECT_EQ(DialogCount(), 1);
}

TEST_F(Messages, UnformattedTableTextWithConversionsIsCopiedNotFormatted) {
  AddTableText(500002, "100%% sure, %s and %n are plain text here");
  ReportError(500002, 0);
  EXPECT_STREQ(LastErrorDialogText(), "100% sure, %s and %n are plain text here");
}

TEST_F(Messages, LongArgumentsAreCutAtTheBuffer) {
  std::string huge(5000, 'x');
  ReportErrorF(104010, 0, huge.c_str());
  EXPECT_LT(strlen(LastErrorDialogText()), (size_t)MESSAGE_TEXT_BYTES);
}

TEST_F(Messages, LocatedMessageNamesTheRunningScriptLine) {
  g_ScriptLocation = [](const char** file, int32_t* line) {
    *file = "kvs\\start%s.kvs";   // a '%' in a file name must not be read as a conversion
    *line = 42;
    return true;
  };
  ReportScriptErrorF(104060, 1, "a.png");
  EXPECT_EQ(Utf8(LastErrorDialogText()),
            "[対象ファイル]\nkvs\\start%s.kvs\n\n[場所]\n42 行目\n\n[内容]\n\n[a.png]ファイルが\n存在しません。");
  EXPECT_STREQ(g_ErrorFile, "kvs\\start%s.kvs");
  EXPECT_EQ(g_ErrorLine, 42);
}

TEST_F(Messages, LocatedMessageWithoutARunningTaskHasNoPrefix) {
  g_ScriptLocation = [](const char**, int32_t*) { return false; };
  ReportScriptError(100010, 0);
  EXPECT_EQ(Utf8(LastErrorDialogText()), "メモリ不足です。");
  EXPECT_EQ(g_ErrorFile, nullptr);
}

TEST_F(Messages, DebugModeOffersTheEditButtonOnlyWithAFile) {
  g_DebugMode = 1;
  g_ScriptLocation = [](const char** file, int32_t* line) {
    *file = "x.kvs";
    *line = 1;
    return true;
  };
  HeadlessQueueAnswer(1);   // Exit
  ReportScriptError(100010, 1);
  std::vector<std::string> calls = HeadlessCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("編集(&E),終了(&X)"), std::string::npos);
}

// Boxes take their texts in the engine's code page: our own Japanese texts must be converted
// before they are shown, or the player reads mojibake.
TEST_F(Messages, BoxTextsOfOurOwnReachTheHostReadable) {
  HeadlessClearCalls();
  ShowErrorBox(ToCp932Text("エラー").c_str(), ToCp932Text("ＣＧサイズが大きすぎます。X=%d, Y=%d").c_str(), 9000, 1);
  ResizeScreenBuffer(9001, 2);
  int found = 0;
  for (const std::string& line : HeadlessCalls()) {
    if (line.find("ChoiceBox") != 0) continue;
    if (line.find("エラー") != std::string::npos && line.find("X=9000, Y=1") != std::string::npos) found |= 1;
    if (line.find("ＣＧサイズが大きすぎます。X=9001, Y=2") != std::string::npos) found |= 2;
  }
  EXPECT_EQ(found, 3);
  ResizeScreenBuffer(64, 48);
}

TEST_F(Messages, UnassignedCommandIsFatal) {
  EXPECT_EQ(CmdUnassigned(), -1);
  EXPECT_EQ(g_QuitFlag, 1);
  EXPECT_NE(Utf8(LastErrorDialogText()).find("[内部エラー]"), std::string::npos);
}

class DebugLog : public Messages {
 protected:
  void SetUp() override {
    Messages::SetUp();
    savedFolder_ = g_ExeFolderReal;
    g_ExeFolderReal = folder_.path();
    g_DebugLogHeaderDone = 0;
  }
  void TearDown() override {
    g_ExeFolderReal = savedFolder_;
    Messages::TearDown();
  }
  std::string Log() {
    std::ifstream in(folder_.path() + "/debuglog.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  TempFolder folder_;
  std::string savedFolder_;
};

TEST_F(DebugLog, OneDatedHeaderPerRunBeforeTheFirstLine) {
  AppendDebugLog("first");
  AppendDebugLog("second");
  std::string log = Log();
  const std::string separator = "//----------------------------------------------------------------------------\n";
  ASSERT_EQ(log.rfind(separator, 0), 0u);
  EXPECT_NE(log.find(Cp932("//■")), std::string::npos);
  EXPECT_NE(log.find(" time="), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 13), "first\nsecond\n");
  EXPECT_EQ(log.find(separator, separator.size() + 1) + separator.size(), log.size() - 13);
}

TEST_F(DebugLog, LargeLogGetsTheWarningBeforeEveryLine) {
  folder_.Write("debuglog.txt", std::string(10485760, 'z'));
  g_DebugLogHeaderDone = 1;
  AppendDebugLog("a");
  AppendDebugLog("b");
  std::string tail = Log().substr(10485760);
  std::string warning = Cp932("log が 10MB を超えました。");
  size_t first = tail.find(warning);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(tail.find(warning, first + 1), std::string::npos);
  EXPECT_EQ(tail.substr(tail.size() - 2), "b\n");
}

}  // namespace
