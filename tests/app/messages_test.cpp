// Numbered messages: text precedence, the quit flag, one dialog per run, bounded formatting,
// the located prefix and the debug log.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
  for (int32_t id : {105010, 108180, 160020, 900060, 900080, 900190, 901000, 901020}) {
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

// A game's table text may ask for more, or other, arguments than the caller passes: only the
// passed ones are used, each as what it is, and nothing is read or written beyond them.
TEST_F(Messages, TableTextsTakeOnlyTheArgumentsPassed) {
  AddTableText(500003, "[%s] [%s] %n%d|%p");
  ReportErrorF(500003, 0, "a.png");
  EXPECT_STREQ(LastErrorDialogText(), "[a.png] [] |%p");
}

TEST(MessageFormat, ConversionsOfTypedArguments) {
  const MessageArg text = ToMessageArg("abcdef"), big = ToMessageArg((long long)0x100000005LL),
                   neg = ToMessageArg(-7), real = ToMessageArg(2.5), chr = ToMessageArg(65), five = ToMessageArg(5);
  struct Case {
    const char* format;
    std::vector<MessageArg> args;
    const char* expected;
  } cases[] = {
      {"%d %i %u", {neg, neg, neg}, "-7 -7 4294967289"},
      {"%d %lld %I64d %hd", {big, big, big, ToMessageArg(70000)}, "5 4294967301 4294967301 4464"},
      {"%5d|%-5d|%05d|%+d", {neg, neg, neg, five}, "   -7|-7   |-0007|+5"},
      {"%x %X %o %#x", {ToMessageArg(255), ToMessageArg(255), ToMessageArg(8), ToMessageArg(255)}, "ff FF 10 0xff"},
      {"%.3s|%8s|%-4s|", {text, ToMessageArg("ab"), ToMessageArg("ab")}, "abc|      ab|ab  |"},
      {"%f %.1e %g", {real, real, real}, "2.500000 2.5e+00 2.5"},
      {"%c%c", {chr, ToMessageArg("BC")}, "ABC"},
      {"%s %s %d", {five, real, text}, "5 2.5 abcdef"},    // kinds that do not match print as what they are
      {"%d", {ToMessageArg(2.9)}, "2"},
      {"%f", {five}, "5.000000"},
      {"%*d|%-*d|%.*s", {ToMessageArg(4), five, ToMessageArg(3), five, ToMessageArg(2), text}, "   5|5  |ab"},
      {"100%% %y %", {}, "100% %y %"},
      {"%s", {ToMessageArg((const char*)nullptr)}, ""},
      {"%n%n%s", {text}, "abcdef"},
      {"%s %s %s", {text}, "abcdef  "},
  };
  for (const Case& c : cases) {
    char out[256];
    size_t n = FormatMessageText(out, sizeof out, c.format, c.args.data(), (int)c.args.size());
    EXPECT_STREQ(out, c.expected) << c.format;
    EXPECT_EQ(n, strlen(c.expected)) << c.format;
  }
}

// Fields a text asks for are bounded, and the output never passes the buffer.
TEST(MessageFormat, FieldsAndOutputAreBounded) {
  const MessageArg one = ToMessageArg(1);
  char out[2048];
  FormatMessageText(out, sizeof out, "%999999999999d|%.99999999f|%*d", std::vector<MessageArg>{one, one, ToMessageArg(INT64_MIN), one}.data(), 4);
  EXPECT_LT(strlen(out), 1000u);
  char small[8];
  memset(small, 'Z', sizeof small);
  EXPECT_EQ(FormatMessageText(small, sizeof small, "%s and more", &one, 1), 7u);
  EXPECT_STREQ(small, "1 and m");
  EXPECT_EQ(FormatMessageText(small, 0, "x", nullptr, 0), 0u);
  EXPECT_EQ(small[0], '1');
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

// Unattended, the error box of a development run must not take Edit for ever: the box raised
// again straight after its default answer takes Exit, and the report returns.
TEST_F(Messages, UnattendedDebugErrorBoxEndsAfterOneEdit) {
  g_DebugMode = 1;
  g_ScriptLocation = [](const char** file, int32_t* line) {
    *file = "x.kvs";
    *line = 3;
    return true;
  };
  const char* visual = getenv("VISUAL");
  std::string keptVisual = visual ? visual : "";
  setenv("VISUAL", "true", 1);   // the editor the Edit button starts does nothing
  ReportScriptError(100010, 1);
  if (visual) setenv("VISUAL", keptVisual.c_str(), 1);
  else unsetenv("VISUAL");
  EXPECT_EQ(DialogCount(), 2);
  EXPECT_EQ(g_QuitFlag, 1);
}

// Unscripted boxes: the first takes its default, the same box again takes its cancel button
// for as long as it repeats; a different box or a scripted answer starts afresh.
TEST_F(Messages, HeadlessRepeatedBoxTakesItsCancelButton) {
  static const char* const kYesNo[] = {"Yes", "No"};
  struct Step {
    const char* text;
    int queued;   // -1: unscripted
    int answer;
  } steps[] = {{"a", -1, 0}, {"a", -1, 1}, {"a", -1, 1}, {"b", -1, 0}, {"a", -1, 0},
               {"a", 0, 0},  {"a", -1, 0}, {"a", -1, 1}};
  for (const Step& s : steps) {
    if (s.queued >= 0) HeadlessQueueAnswer(s.queued);
    EXPECT_EQ(g_Platform->ChoiceBox("c", s.text, kYesNo, 2, 0, 1, PLAT_ICON_NONE), s.answer) << s.text << " " << s.queued;
  }
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

// The box shows what the game's table says, perhaps no more than the unknown-id text; stderr
// and the debug log name the id that was raised, whatever the table holds.
TEST_F(DebugLog, TheShownMessageIsNamedByItsIdOnStderrAndInTheLog) {
  AddTableText(101520, Cp932("動画を\n再生できません。"));
  AddTableText(101530, Cp932("\n\n前後の改行\n"));
  struct Case {
    int32_t id;
    int fatal;
    const char* box;     // what the box says (UTF-8)
    const char* named;   // the line on stderr
    const char* logged;  // the line in the debug log (UTF-8)
  };
  const Case cases[] = {
      {123456, 1, "エラー文字列の指定ミスです。", "kivor: message 123456 (fatal)\n",
       "message 123456 (fatal): [内部エラー] / エラー文字列の指定ミスです。 / システム開発者までお問い合わせください。\n"},
      {101520, 0, "動画を\n再生できません。", "kivor: message 101520 (not fatal)\n",
       "message 101520 (not fatal): 動画を / 再生できません。\n"},
      {101530, 1, "前後の改行", "kivor: message 101530 (fatal)\n", "message 101530 (fatal): 前後の改行\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ResetMessageState();
    PlatDeleteFile(folder_.path() + "/debuglog.txt");
    g_DebugLogHeaderDone = 1;
    testing::internal::CaptureStderr();
    ReportError(c.id, c.fatal);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(Utf8(LastErrorDialogText()).find(c.box), std::string::npos);
    EXPECT_EQ(std::string(LastErrorDialogText()).find(std::to_string(c.id)), std::string::npos);
    EXPECT_EQ(err.rfind(c.named, 0), 0u) << err;
    EXPECT_EQ(Utf8(Log()), c.logged);
  }
  // Only the message shown is named: a later one of the same run shows nothing.
  testing::internal::CaptureStderr();
  ReportError(900050, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Utf8(Log()), cases[2].logged);
}

}  // namespace
