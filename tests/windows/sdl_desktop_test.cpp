// The SDL backend's own widgets on a real X display: the message box and the text-input box
// answer clicks and keys sent by xdotool, a box opened while another is open is shown on top of
// it and both answer. Each parent test starts this program again on a virtual X server to run
// its child. Skipped cleanly where xvfb-run or xdotool is missing.
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

// Runs one disabled child test of this program under a virtual X server, at most a minute.
int RunChildUnderXvfb(const char* child) {
  // X and SDL keep allocations until exit; the child's run is about behaviour, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_XVFB_DESKTOP", "1", 1);
  int status = PlatStartProcess({"timeout", "60", "xvfb-run", "-a", "-n", "171", "-s", "-screen 0 800x600x24",
                                 PlatExecutablePath(), std::string("--gtest_filter=") + child,
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_XVFB_DESKTOP");
  return status;
}

bool XvfbToolsPresent() { return ProgramOnPath("xvfb-run") && ProgramOnPath("xdotool") && ProgramOnPath("timeout"); }

// Starts an xdotool script in the background; `$id` holds the window whose name is `window`.
int Drive(const std::string& window, const std::string& steps) {
  std::string script = "id=$(xdotool search --sync --onlyvisible --name '^" + window + "$' | head -1); sleep 0.3; " +
                       "xdotool windowfocus $id 2>/dev/null; sleep 0.2; " + steps;
  return PlatStartWatchedProcess({"/bin/sh", "-c", script});
}

void WaitFor(int process) {
  for (int i = 0; i < 2000 && !PlatProcessEnded(process); i++) PlatSleep(10);
}

// A box's button row: the buttons of `count` at width 76 each, 8 apart, centred at the bottom.
std::string ClickButton(int index, int count) {
  int offset = index * 84 + 38 - (count * 84 - 8) / 2;
  return "eval $(xdotool getwindowgeometry --shell $id); xdotool mousemove --window $id $((WIDTH/2+" +
         std::to_string(offset) + ")) $((HEIGHT-24)) click 1; ";
}

bool ChildRuns() { return getenv("KIVOR_XVFB_DESKTOP") != nullptr; }

void OpenGameWindow() {
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 320, 240, "game"));
  g_Platform->ShowWindow(0, true);
}

TEST(SdlBoxes, TheTextInputBoxTakesTypedTextAndLeavesOnlyWithEnter) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_TextInput"), 0);
}

TEST(SdlBoxesChild, DISABLED_TextInput) {
  if (!ChildRuns()) GTEST_SKIP();
  OpenGameWindow();
  // Escape does not leave the box; Backspace, typing and Enter do what an edit line does.
  int driver = Drive("Name entry", "xdotool key End BackSpace; xdotool type --delay 30 'Taro'; "
                                   "xdotool key Escape; xdotool type --delay 30 '!'; xdotool key Return");
  std::string text;
  ASSERT_TRUE(g_Platform->TextInputBox("Name entry", "名前を入力してください", "ab", 0, &text));
  WaitFor(driver);
  EXPECT_EQ(text, "aTaro!");
  // A maximum length counts the bytes the engine will store: two double-byte characters fit
  // four bytes, the third does not.
  driver = Drive("Short entry", "xdotool key BackSpace BackSpace; xdotool type --delay 30 '太郎x'; "
                                "xdotool key Return");
  ASSERT_TRUE(g_Platform->TextInputBox("Short entry", "", "", 4, &text));
  WaitFor(driver);
  EXPECT_EQ(text, "太郎");
  PlatformQuit();
}

TEST(SdlBoxes, AMessageBoxAnswersKeysAndClicks) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_MessageBox"), 0);
}

TEST(SdlBoxesChild, DISABLED_MessageBox) {
  if (!ChildRuns()) GTEST_SKIP();
  OpenGameWindow();
  static const char* const kYesNoCancel[] = {"はい(&Y)", "いいえ(&N)", "キャンセル"};
  struct Case {
    const char* steps;
    int answer;
  };
  const Case cases[] = {
      {"xdotool key n", 1},                  // the access key of いいえ(&N)
      {"xdotool key Escape", 2},             // Escape chooses the cancel button
      {"xdotool key Tab Tab Return", 2},     // Tab moves from the default button
      {"xdotool key Return", 0},             // Enter takes the default button
  };
  int n = 0;
  for (const Case& c : cases) {
    // Each box has a name of its own, so the script never finds the one before.
    std::string caption = "Question " + std::to_string(++n);
    int driver = Drive(caption, c.steps);
    EXPECT_EQ(g_Platform->ChoiceBox(caption.c_str(), "続けますか？", kYesNoCancel, 3, 0, 2), c.answer) << c.steps;
    WaitFor(driver);
  }
  // A click on the second of two buttons; a text of 8 KB of broken characters is cut to the screen.
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  std::string huge(8192, '\xFF');
  int driver = Drive("Click", ClickButton(1, 2));
  EXPECT_EQ(g_Platform->ChoiceBox("Click", huge.c_str(), kOkCancel, 2, 0, 1), 1);
  WaitFor(driver);
  PlatformQuit();
}

TEST(SdlBoxes, ABoxOpenedWhileAnotherIsOpenShowsOnTopAndBothAnswer) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_NestedBoxes"), 0);
}

TEST(SdlBoxesChild, DISABLED_NestedBoxes) {
  if (!ChildRuns()) GTEST_SKIP();
  OpenGameWindow();
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  // The second box comes from another thread while the first waits on the main thread.
  int second = -1;
  std::thread other([&] {
    int driver = Drive("Second", ClickButton(1, 2));
    second = g_Platform->ChoiceBox("Second", "two", kOkCancel, 2, 0, 1);
    WaitFor(driver);
  });
  int driver = Drive("First", "xdotool search --sync --onlyvisible --name '^Second$' >/dev/null; "
                              "while xdotool search --onlyvisible --name '^Second$' >/dev/null; do sleep 0.1; done; " +
                                  ClickButton(0, 2));
  int first = g_Platform->ChoiceBox("First", "one", kOkCancel, 2, 1, 1);
  other.join();
  WaitFor(driver);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  PlatformQuit();
}

}  // namespace
