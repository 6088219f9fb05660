// The system commands run from scripts: clipboard text, message boxes and the text-input
// dialog, option bytes, the frame rate, the screen and script-timer command and the script
// file query.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "app/window.h"
#include "platform/headless/headless.h"
#include "script/script_set.h"
#include "tests/support/script_fixture.h"

namespace {

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

class SystemCommandTest : public ScriptTest {
 protected:
  // Runs `body` once as the main script's start.
  bool Run(const std::string& declarations, const std::string& body) {
    if (!Boot(declarations + "file main.txt\n*SYSTEM_START\n" + body + "\nwait frames=1\n")) return false;
    RunPasses(1);
    return true;
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& c : HeadlessCalls())
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
};

TEST_F(SystemCommandTest, ClipboardCopyHandsTheTextToTheDesktopAsUtf8) {
  ASSERT_TRUE(Run("global str s = \"\"\n", "s = \"" + Cp932("日本語 text") + "\"\nclipboardcopy copy=1 text=s"));
  std::string text;
  ASSERT_TRUE(g_Platform->GetClipboardText(&text));
  EXPECT_EQ(text, "日本語 text");
}

TEST_F(SystemCommandTest, ClipboardCopyWithoutItsSwitchLeavesTheClipboard) {
  HeadlessSetClipboard("before");
  ASSERT_TRUE(Run("", "clipboardcopy text=\"after\""));
  std::string text;
  ASSERT_TRUE(g_Platform->GetClipboardText(&text));
  EXPECT_EQ(text, "before");
}

TEST_F(SystemCommandTest, PasteDropsControlBytesAndConvertsToTheCodePage) {
  HeadlessSetClipboard("a\tb\r\nc\x01日本");
  ASSERT_TRUE(Run("global str s = \"x\"\n", "clipboardpaste paste=1 out=s"));
  EXPECT_EQ(Text("s"), "abc" + Cp932("日本"));
}

TEST_F(SystemCommandTest, PasteKeepsAtMost1024BytesAndAWholeDoubleByteCharacterAtTheLimit) {
  // 1023 ASCII bytes, then a double-byte character whose trail byte is the 1025th.
  std::string longText(1023, 'x');
  HeadlessSetClipboard((longText + "日" + "tail").c_str());
  ASSERT_TRUE(Run("global str s = \"\"\n", "clipboardpaste paste=1 out=s"));
  EXPECT_EQ(Text("s"), longText + Cp932("日"));
}

TEST_F(SystemCommandTest, PasteFromAnEmptyClipboardEndsTheTurnAndKeepsTheTarget) {
  HeadlessSetClipboard(nullptr);
  ASSERT_TRUE(Run("global str s = \"kept\"\nglobal int after = 0\n", "clipboardpaste paste=1 out=s\nafter = 1"));
  EXPECT_EQ(Text("s"), "kept");
  EXPECT_EQ(Int("after"), 0);
  RunPasses(1);
  EXPECT_EQ(Int("after"), 1);
  EXPECT_EQ(Text("s"), "kept");
}

struct BoxCase {
  const char* args;
  int answer;               // button index the user picks
  const char* labels;       // as the headless backend records them
  int64_t stored;           // -1: nothing stored
};

// The buttons are labelled in the system's language, with access keys; the icon argument
// names the box's icon.
TEST_F(SystemCommandTest, MessageBoxAnswersMapToTheScriptsNumbers) {
  const BoxCase english[] = {
      {"", 0, "OK", 1},
      {"okcancel=1", 1, "OK,Cancel", 2},
      {"yesno=1", 0, "&Yes,&No", 1},
      {"yesno=1", 1, "&Yes,&No", 2},
      {"yesnocancel=1", 2, "&Yes,&No,Cancel", 3},
      // The last given of the three kinds wins.
      {"okcancel=1 yesno=1", 1, "&Yes,&No", 2},
      {"yesnocancel=1 okcancel=1", 2, "&Yes,&No,Cancel", 3},
      {"icon=1", 0, "OK|icon 1", 1},
      {"yesno=1 icon=2", 0, "&Yes,&No|icon 2", 1},
      {"okcancel=1 icon=3", 1, "OK,Cancel|icon 3", 2},
      {"icon=4", 0, "OK|icon 4", 1},
      {"icon=5", 0, "OK", 1},   // not an icon
  };
  const BoxCase japanese[] = {
      {"okcancel=1", 1, "OK,キャンセル", 2},
      {"yesnocancel=1 icon=2", 1, "はい(&Y),いいえ(&N),キャンセル|icon 2", 2},
  };
  for (bool inJapanese : {false, true}) {
    ScopedLanguage language(inJapanese ? "ja_JP.UTF-8" : "C.UTF-8");
    const BoxCase* cases = inJapanese ? japanese : english;
    size_t count = inJapanese ? std::size(japanese) : std::size(english);
    for (size_t i = 0; i < count; i++) {
      const BoxCase& c = cases[i];
      ClearMessage();
      ResetScriptSet();
      HeadlessClearCalls();
      HeadlessQueueAnswer(c.answer);
      ASSERT_TRUE(Run("global int r = -1\nglobal real f = -1.0\n",
                      std::string("messagebox caption=\"Cap\" text=\"Body\" ") + c.args + " result=r"));
      EXPECT_EQ(Int("r"), c.stored) << c.args;
      std::vector<std::string> boxes = CallsStartingWith("ChoiceBox ");
      ASSERT_EQ(boxes.size(), 1u) << c.args;
      EXPECT_EQ(boxes[0], std::string("ChoiceBox Cap|Body|") + c.labels) << c.args;
    }
  }
}

TEST_F(SystemCommandTest, MessageBoxStoresIntoARealAsAReal) {
  HeadlessQueueAnswer(2);
  ASSERT_TRUE(Run("global real f = -1.0\n", "messagebox text=\"q\" yesnocancel=1 result=f"));
  EXPECT_DOUBLE_EQ(Real("f"), 3.0);
}

TEST_F(SystemCommandTest, MessageBoxIntoATextGivesTheWrongTypeMessage) {
  HeadlessQueueAnswer(0);
  ASSERT_TRUE(Run("global str s = \"x\"\n", "messagebox text=\"q\" result=s"));
  EXPECT_EQ(ShownMessage(), 101140);
  EXPECT_EQ(Text("s"), "x");
}

TEST_F(SystemCommandTest, MessageBoxDefaultButtonIsTheOneAnUnansweredBoxTakes) {
  ASSERT_TRUE(Run("global int r = -1\n", "messagebox text=\"q\" yesnocancel=1 defbutton=3 result=r"));
  EXPECT_EQ(Int("r"), 3);
  ResetScriptSet();
  ASSERT_TRUE(Run("global int r = -1\n", "messagebox text=\"q\" okcancel=1 defbutton=3 result=r"));
  EXPECT_EQ(Int("r"), 1);   // no third button: the first is the default
}

TEST_F(SystemCommandTest, ReservedArgumentMakesTheBoxDoNothing) {
  ASSERT_TRUE(Run("global int r = -1\n", "messagebox text=\"q\" reserved=1 result=r"));
  EXPECT_TRUE(CallsStartingWith("ChoiceBox ").empty());
  EXPECT_EQ(Int("r"), -1);
}

TEST_F(SystemCommandTest, InputDialogStoresTheEnteredTextAndOne) {
  HeadlessQueueTextAnswer("名前です");
  ASSERT_TRUE(Run("global str name = \"\"\nglobal int r = 0\n",
                  "messagebox caption=\"C\" text=\"Who?\" default=\"Anon\" dialog=1 maxlength=20 input=name result=r"));
  EXPECT_EQ(Text("name"), Cp932("名前です"));
  EXPECT_EQ(Int("r"), 1);
  std::vector<std::string> dialogs = CallsStartingWith("TextInputBox ");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0], "TextInputBox C|Who?|Anon|20");
}

TEST_F(SystemCommandTest, InputDialogKeepsToTheMaximumLengthAndCharacterBoundaries) {
  HeadlessQueueTextAnswer("ab日本");
  ASSERT_TRUE(Run("global str name = \"\"\n", "messagebox dialog=1 maxlength=5 input=name"));
  EXPECT_EQ(Text("name"), "ab" + Cp932("日"));
}

TEST_F(SystemCommandTest, InputDialogWithoutAnAnswerGivesItsDefaultText) {
  ASSERT_TRUE(Run("global str name = \"\"\n", "messagebox dialog=1 default=\"Anon\" input=name"));
  EXPECT_EQ(Text("name"), "Anon");
}

TEST_F(SystemCommandTest, SetOptionsWritesTheLowBytesOfTheGivenOptionsOnly) {
  memset(g_EngineOptions, 1, sizeof g_EngineOptions);
  ASSERT_TRUE(Run("", "setoptions option1=0 option5=258 option98=7"));
  EXPECT_EQ(g_EngineOptions[1], 0);
  EXPECT_EQ(g_EngineOptions[5], 2);
  EXPECT_EQ(g_EngineOptions[98], 7);
  EXPECT_EQ(g_EngineOptions[2], 1);
  EXPECT_EQ(g_EngineOptions[0], 1);
}

// The compiler declares the options command with parameter ids up to 111, and a script may
// give all 110 options in one command: more argument records than any other command has.
TEST_F(SystemCommandTest, SetOptionsTakesEveryOptionUpToTheLastInOneCommand) {
  uint8_t saved[sizeof g_EngineOptions];
  memcpy(saved, g_EngineOptions, sizeof saved);
  memset(g_EngineOptions, 1, sizeof g_EngineOptions);
  std::string all = "setoptions";
  for (int n = 1; n <= 110; n++) all += " option" + std::to_string(n) + "=" + std::to_string(n + 100);
  ASSERT_TRUE(Run("", all));
  EXPECT_EQ(ShownMessage(), 0);
  for (int n = 1; n <= 110; n++) EXPECT_EQ(g_EngineOptions[n], n + 100) << n;
  EXPECT_EQ(g_EngineOptions[0], 1);
  EXPECT_EQ(g_EngineOptions[111], 1);
  // Later tests of this program run with the options as they were.
  memcpy(g_EngineOptions, saved, sizeof saved);
}

TEST_F(SystemCommandTest, FrameRateStartsANewSecondAndRefusesARateThatWouldStallPacing) {
  int32_t rate = g_FrameRate, skip = g_FrameSkip;
  g_SecondLoops = 40;
  g_SecondDrawn = 38;
  HeadlessSetTicks(5000);
  ASSERT_TRUE(Run("", "framerate fps=30 skip=0"));
  EXPECT_EQ(g_FrameRate, 30);
  EXPECT_EQ(g_FrameSkip, 0);
  EXPECT_EQ(g_FramesPerSecond[0], 40u);
  EXPECT_EQ(g_FramesPerSecond[1], 38u);
  EXPECT_EQ(g_SecondLoops, 0u);
  EXPECT_EQ(g_SecondStartTime, 5000u);
  ResetScriptSet();
  ASSERT_TRUE(Run("", "framerate fps=0"));
  EXPECT_EQ(g_FrameRate, 30);
  g_FrameRate = rate;
  g_FrameSkip = skip;
}

TEST_F(SystemCommandTest, PausedTimerStandsStillAndResumesWithoutThePause) {
  HeadlessSetTicks(1000);
  for (uint32_t& t : g_ScriptTimers) t = 1000;
  for (uint8_t& r : g_ScriptTimerRunning) r = 1;
  ASSERT_TRUE(Boot(R"(global int ticks@1[6]
global int t[5] = 0
file main.txt
*SYSTEM_START
screen timer3=0
wait frames=1
t[1] = ticks[3]
screen timer3=1
t[2] = ticks[3]
t[3] = ticks[1]
wait frames=1
)"));
  RunPasses(1);
  HeadlessAdvanceTicks(2000);
  RunPasses(1);
  // Timer 3 stood still for the 2 s of the pause; timer 1 went on.
  EXPECT_EQ(Int("t", 1), 0);
  EXPECT_EQ(Int("t", 2), 0);
  EXPECT_EQ(Int("t", 3), 2000);
  HeadlessAdvanceTicks(500);
  EXPECT_EQ(g_ScriptTimers[2], 3000u);
  EXPECT_EQ(g_ScriptTimers[0], 1000u);
  EXPECT_EQ(g_ScriptTimerRunning[2], 1);
  EXPECT_EQ(g_ScriptTimerPausedAt[2], 0u);
}

TEST_F(SystemCommandTest, TimerValuesOtherThanZeroAndOneChangeNothing) {
  for (uint8_t& r : g_ScriptTimerRunning) r = 1;
  ASSERT_TRUE(Run("", "screen timer1=2 timer2=0\nscreen timer2=5"));
  EXPECT_EQ(g_ScriptTimerRunning[0], 1);
  EXPECT_EQ(g_ScriptTimerRunning[1], 0);
  for (uint8_t& r : g_ScriptTimerRunning) r = 1;
  for (uint32_t& p : g_ScriptTimerPausedAt) p = 0;
}

TEST_F(SystemCommandTest, GameSizeChangesOnlyWhenBothSidesAreGiven) {
  WindowRecord record{};
  record.mWidth = 640;
  record.mHeight = 480;
  record.mActive = 1;
  g_WindowRecords[0] = &record;
  g_FullScreen = 0;
  g_WindowMaximized = 0;
  g_ClientAreaSize = g_OutputSize = g_InitialWindowSize = {640, 480};
  ASSERT_TRUE(Run("", "screen width=800 height=0\nscreen width=0 height=600"));
  EXPECT_EQ(record.mWidth, 640);
  EXPECT_EQ(g_OutputSize.width, 640);
  ResetScriptSet();
  ASSERT_TRUE(Run("", "screen width=800 height=600 screensaver=0 keeprunning=0"));
  EXPECT_EQ(record.mWidth, 800);
  EXPECT_EQ(record.mHeight, 600);
  EXPECT_EQ(g_ClientAreaSize.width, 800);
  EXPECT_EQ(g_OutputSize.height, 600);
  EXPECT_EQ(g_InitialWindowSize.width, 800);
  EXPECT_EQ(g_ScreenSaverBlock, 0);
  EXPECT_EQ(g_KeepRunningInactive, 0);
  g_WindowRecords[0] = nullptr;
  g_ScreenSaverBlock = 1;
  g_KeepRunningInactive = 1;
}

TEST_F(SystemCommandTest, ScriptFileQueryAnswersTheFirstGivenSelector) {
  ASSERT_TRUE(Boot(R"(global int n[6] = -1
global str name[3] = "x"
file main.txt
*SYSTEM_START
scriptfilequery count=1 out=n[0]
scriptfilequery number=2 name=1 out=name[0]
scriptfilequery number=9 name=1 out=name[1]
scriptfilequery number=1 value=1 out=n[1]
scriptfilequery number=0 value=1 out=n[2]
scriptfilequery emote=1 out=n[3]
scriptfilequery out=n[4]
scriptfilequery name=1 count=1 number=1 out=n[5]
wait frames=1
file second.txt
*SECOND
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Int("n", 0), g_ScriptFileCount);
  ASSERT_GE(g_ScriptFileCount, 2);
  EXPECT_EQ(Text("name", 0), g_ScriptFileNames[1]);
  EXPECT_EQ(Text("name", 1), "");
  EXPECT_EQ(Int("n", 1), g_ScriptFileValues[0]);
  EXPECT_EQ(Int("n", 2), 0);
  EXPECT_EQ(Int("n", 3), 0);
  EXPECT_EQ(Int("n", 4), 0);
  EXPECT_EQ(Int("n", 5), g_ScriptFileCount);   // count comes before name
}

}  // namespace
