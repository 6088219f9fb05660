// Every box's caption and text also reach stderr as one UTF-8 line, so a player whose desktop
// cannot show a box still reads why the game stopped; a box nobody can answer takes its default.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

using BoxEcho = HeadlessTest;

std::string EchoOf(const char* caption, const char* text, int buttons = PLAT_MB_OK) {
  testing::internal::CaptureStderr();
  PlatMessageBox(caption, text, buttons);
  return testing::internal::GetCapturedStderr();
}

TEST_F(BoxEcho, EachBoxIsOneLineWithItsCaption) {
  struct Case {
    const char* caption;
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"エラー", "ウィンドウが生成できませんでした。", "[エラー] ウィンドウが生成できませんでした。\n"},
      // Line breaks, however many and of whichever kind, read as one separator; none at the ends.
      {"KIVOR Debug Info.", "\n[対象ファイル]\r\nstart.txt\n\n\n[場所]\n3 行目\n",
       "[KIVOR Debug Info.] [対象ファイル] / start.txt / [場所] / 3 行目\n"},
      // Control bytes become spaces, broken UTF-8 (a lone trail byte, a cut sequence, an
      // overlong '/', a surrogate) question marks; a null caption or text is empty.
      {"a\tb", "x\x80y\xE3\x81z\xC0\xAFw\xED\xA0\x80.", "[a b] x?y??z??w???.\n"},
      {nullptr, nullptr, "[] \n"},
      {"", "終了します。よろしいですか？", "[] 終了します。よろしいですか？\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(EchoOf(c.caption, c.text), c.line) << (c.text ? c.text : "(null)");
}

TEST_F(BoxEcho, BoxesOfEveryKindAreEchoedAndTakeTheScriptedOrDefaultAnswer) {
  testing::internal::CaptureStderr();
  HeadlessQueueAnswer(1);
  EXPECT_EQ(PlatMessageBox("Q", "one", PLAT_MB_YESNO), PLAT_ID_NO);
  EXPECT_EQ(PlatMessageBox("Q", "two", PLAT_MB_OKCANCEL), PLAT_ID_OK);   // nobody answered: the default
  EXPECT_EQ(PlatMessageBox("Q", "three", PLAT_MB_YESNOCANCEL), PLAT_ID_YES);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Q] one\n[Q] two\n[Q] three\n");
}

TEST_F(BoxEcho, AFatalMessageOfTheGameReachesStderr) {
  g_MessageTable.count = 0;
  testing::internal::CaptureStderr();
  std::string name;
  ASSERT_TRUE(PlatUtf8ToCp932("画像.png", strlen("画像.png"), &name));
  ReportErrorF(104060, 1, name.c_str());
  std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_NE(echoed.find("[画像.png]ファイルが / 存在しません。\n"), std::string::npos) << echoed;
  // The box's line follows the one that names the message.
  EXPECT_EQ(echoed.rfind("kivor: message 104060 (fatal)\n[KIVOR Debug Info.] ", 0), 0u) << echoed;
}

TEST_F(BoxEcho, ATextInputBoxEchoesItsPromptAndTheAnswerItTook) {
  struct Case {
    const char* queued;   // the answer typed, null for none
    const char* defaultText;
    int maxLength;
    const char* answer;
    const char* echoed;
  };
  const Case cases[] = {
      {"太郎", "名無し", 0, "太郎", "[名前] 名前を入力してください\n[名前] > 太郎\n"},
      // Nobody typed: the default text is the answer, and the echo says so.
      {nullptr, "名無し", 0, "名無し", "[名前] 名前を入力してください\n[名前] > 名無し\n"},
      // The box takes no more than its length in the bytes the engine stores (two a kanji), and
      // the echo shows what it took.
      {"山田太郎", "", 5, "山田", "[名前] 名前を入力してください\n[名前] > 山田\n"},
      {"ab山", "", 3, "ab", "[名前] 名前を入力してください\n[名前] > ab\n"},
      // A typed line break cannot split the answer's line.
      {"a\nb", "", 0, "a\nb", "[名前] 名前を入力してください\n[名前] > a / b\n"},
  };
  for (const Case& c : cases) {
    if (c.queued) HeadlessQueueTextAnswer(c.queued);
    testing::internal::CaptureStderr();
    std::string answer;
    ASSERT_TRUE(g_Platform->TextInputBox("名前", "名前を入力してください", c.defaultText, c.maxLength, &answer));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.echoed) << c.answer;
    EXPECT_EQ(answer, c.answer);
  }
}

}  // namespace
