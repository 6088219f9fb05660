// The SDL backend's own widgets on a real X display: the message box and the text-input box
// answer clicks and keys sent by xdotool, a box opened while another is open is shown on top of
// it and both answer. Each parent test starts this program again on a virtual X server to run
// its child. Skipped cleanly where xvfb-run or xdotool is missing.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/sdl/sdl_driver.h"
#include "tests/support/engine_fixture.h"
#include "tests/windows/xvfb_child.h"

namespace {

// A box's button row: the buttons of `count` at width 76 each, 8 apart, centred at the bottom.
// The box named `window` is looked up again and clicked until it is gone: the id found first
// may belong to a window the box replaced while it was sized to its text.
std::string ClickButton(const std::string& window, int index, int count) {
  int offset = index * 84 + 38 - (count * 84 - 8) / 2;
  std::string find = "xdotool search --onlyvisible --name '^" + window + "$' 2>/dev/null | head -1";
  return "for i in $(seq 120); do id=$(" + find + "); [ -z \"$id\" ] && break; "
         "eval $(xdotool getwindowgeometry --shell $id 2>/dev/null) && "
         "xdotool mousemove --window $id $((WIDTH/2+" + std::to_string(offset) + ")) $((HEIGHT-24)) click 1; "
         "sleep 0.5; done; ";
}

TEST(SdlBoxes, TheTextInputBoxTakesTypedTextAndLeavesOnlyWithEnter) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_TextInput", 171), 0);
}

TEST(SdlBoxesChild, DISABLED_TextInput) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  // Escape does not leave the box; Backspace, typing and Enter do what an edit line does.
  int driver = Drive("Name entry", "xdotool key End BackSpace; xdotool type --delay 30 'Taro'; "
                                   "xdotool key Escape; xdotool type --delay 30 '!'; xdotool key Return");
  std::string text;
  ASSERT_TRUE(g_Platform->TextInputBox("Name entry", "名前を入力してください", "ab", 0, &text));
  WaitFor(driver);
  EXPECT_EQ(text, "aTaro!");
  // A maximum length counts the bytes the engine will store: two double-byte characters fill
  // four bytes, and nothing more gets in.
  driver = Drive("Short entry", "xdotool type --delay 30 'xy'; xdotool key Return");
  ASSERT_TRUE(g_Platform->TextInputBox("Short entry", "", "太郎x", 4, &text));
  WaitFor(driver);
  EXPECT_EQ(text, "太郎");
  PlatformQuit();
}

TEST(SdlBoxes, AMessageBoxAnswersKeysAndClicks) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_MessageBox", 181), 0);
}

TEST(SdlBoxesChild, DISABLED_MessageBox) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
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
    EXPECT_EQ(g_Platform->ChoiceBox(caption.c_str(), "続けますか？", kYesNoCancel, 3, 0, 2, PLAT_ICON_NONE), c.answer) << c.steps;
    WaitFor(driver);
  }
  // A click on the second of two buttons; a text of 8 KB of broken characters is cut to the screen.
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  std::string huge(8192, '\xFF');
  int driver = Drive("Click", ClickButton("Click", 1, 2));
  EXPECT_EQ(g_Platform->ChoiceBox("Click", huge.c_str(), kOkCancel, 2, 0, 1, PLAT_ICON_NONE), 1);
  WaitFor(driver);
  PlatformQuit();
}

TEST(SdlBoxes, ABoxOpenedWhileAnotherIsOpenShowsOnTopAndBothAnswer) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_NestedBoxes", 191), 0);
}

TEST(SdlBoxesChild, DISABLED_NestedBoxes) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  // The second box comes from another thread while the first waits on the main thread.
  int second = -1;
  std::thread other([&] {
    // Once the first box is up.
    PlatStartProcess({"/bin/sh", "-c", FindXWindowStep("first", "First")}, true);
    int driver = Drive("Second", ClickButton("Second", 1, 2));
    second = g_Platform->ChoiceBox("Second", "two", kOkCancel, 2, 0, 1, PLAT_ICON_NONE);
    WaitFor(driver);
  });
  // The first box is clicked once the second has come and gone (missing from three searches in a
  // row: one search can fail while a window is being destroyed).
  int driver = Drive("First", FindXWindowStep("second", "Second") +
                                  "gone=0; while [ $gone -lt 3 ]; do sleep 0.1; "
                                  "if xdotool search --onlyvisible --name '^Second$' 2>/dev/null | grep -q .; "
                                  "then gone=0; else gone=$((gone+1)); fi; done; " +
                                  ClickButton("First", 0, 2));
  int first = g_Platform->ChoiceBox("First", "one", kOkCancel, 2, 1, 1, PLAT_ICON_NONE);
  other.join();
  WaitFor(driver);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  PlatformQuit();
}

// ---------------------------------------------------------------------------------------------
// Menus.

// File (Save, Load greyed, a line, Exit checked, More > Deep), Edit (Undo) and a plain Help.
std::vector<PlatMenuItem> SampleMenus() {
  return {
      {0, 1, 10, 0, 1, 0, "&File"},   {0, 2, 20, 0, 1, 0, "&Edit"},    {0, -1, 300, 0, 1, 0, "&Help"},
      {1, -1, 101, 0, 1, 0, "&Save"}, {1, -1, 102, 0, 0, 0, "&Load"},  {1, -1, 0, 1, 0, 0, ""},
      {1, -1, 103, 0, 1, 1, "E&xit"}, {1, 3, 104, 0, 1, 0, "&More"},   {3, -1, 111, 0, 1, 0, "Deep"},
      {2, -1, 201, 0, 1, 0, "&Undo"},
  };
}

// Polls the game window's events until a menu command arrives (its id), or gives 0 once the
// script has ended and ten more seconds have passed for its last events (at most a minute).
uint32_t WaitForMenuCommand(int process) {
  uint32_t start = PlatGetTicks(), ended = 0;
  bool scriptEnded = false;
  while (PlatGetTicks() - start < 60000 && (!scriptEnded || PlatGetTicks() - ended < 10000)) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_MENU_COMMAND) {
        WaitFor(process);
        return (uint32_t)e.key;
      }
    if (!scriptEnded && PlatProcessEnded(process)) {
      scriptEnded = true;
      ended = PlatGetTicks();
    }
    PlatSleep(5);
  }
  return 0;
}

// Takes the whole screen (800 x 600, R, G, B) while the game window's events go on being
// answered, so a menu opening meanwhile is drawn; false when no picture could be taken.
bool TakeScreen(const std::string& path, std::vector<uint8_t>* rgb) {
  PlatEventRecord e;
  while (g_Platform->PollEvent(&e)) {
  }
  int shot = PlatStartWatchedProcess({"/bin/sh", "-c", "exec import -window root -depth 8 'rgb:" + path + "'"});
  for (int i = 0; i < 6000 && !PlatProcessEnded(shot); i++) {
    while (g_Platform->PollEvent(&e)) {
    }
    PlatSleep(5);
  }
  rgb->assign((size_t)800 * 600 * 3, 0);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(rgb->data()), (std::streamsize)rgb->size());
  return (size_t)in.gcount() == rgb->size();
}

// Counts pixels of a colour and dark (ink) pixels in a rectangle of a screenshot.
void CountPixels(const std::vector<uint8_t>& rgb, int x0, int y0, int w, int h, uint32_t face, int* faces, int* inks) {
  *faces = *inks = 0;
  for (int y = y0; y < y0 + h; y++)
    for (int x = x0; x < x0 + w; x++) {
      if (x < 0 || y < 0 || x >= 800 || y >= 600) continue;
      const uint8_t* p = &rgb[((size_t)y * 800 + x) * 3];
      uint32_t v = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
      if (v == (face & 0xFFFFFF)) ++*faces;
      else if (p[0] < 64 && p[1] < 64 && p[2] < 64) ++*inks;
    }
}

TEST(SdlMenus, TheMenuBarShowsItsMenusAndReportsTheChosenIds) {
  if (!XvfbToolsPresent() || !ProgramOnPath("import")) GTEST_SKIP() << "xvfb-run, xdotool or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("SdlMenusChild.DISABLED_MenuBar", 201), 0);
}

TEST(SdlMenusChild, DISABLED_MenuBar) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  std::vector<PlatMenuItem> menus = SampleMenus();
  g_PlatformDesktop->SetMenuBar(0, menus.data(), (int)menus.size());
  g_Platform->SetWindowTitle(0, "Game");
  // The window is mapped and grew by the bar: the client area keeps the game size.
  ASSERT_EQ(PlatStartProcess({"/bin/sh", "-c", FindXWindowStep("id", "Game") + "[ -n \"$id\" ]"}, true), 0);
  PlatRect client{};
  for (uint32_t start = PlatGetTicks(); PlatGetTicks() - start < 30000; PlatSleep(10)) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e)) {
    }
    if (g_Platform->GetWindowRect(0, &client) && client.width == 320 && client.height == 240) break;
  }
  EXPECT_EQ(client.width, 320);
  EXPECT_EQ(client.height, 240);
  TempFolder folder;
  std::string shot = folder.path() + "/menu.rgb";
  // A click opens File. The drop-down is a window of its own, mapped and drawn some time after
  // the click: the screen is taken until the bar and the drop-down both show (at most a minute).
  int driver = Drive("Game", "xdotool mousemove --window $id 15 10 click 1");
  WaitFor(driver);
  std::vector<uint8_t> rgb;
  int barFaces = 0, barInks = 0, dropFaces = 0, dropInks = 0;
  for (uint32_t start = PlatGetTicks(); PlatGetTicks() - start < 60000;) {
    if (!TakeScreen(shot, &rgb)) continue;
    // The bar: a light ground with dark captions (the open File slot is highlighted).
    CountPixels(rgb, client.x + 60, client.y - 20, 200, 20, 0xF0F0F0, &barFaces, &barInks);
    // The drop-down below File, over the game picture (black): ground and captions.
    CountPixels(rgb, client.x + 2, client.y + 24, 60, 60, 0xF0F0F0, &dropFaces, &dropInks);
    if (barFaces > 2000 && barInks > 20 && dropFaces > 1500 && dropInks > 20) break;
  }
  EXPECT_GT(barFaces, 2000);
  EXPECT_GT(barInks, 20);
  EXPECT_GT(dropFaces, 1500);
  EXPECT_GT(dropInks, 20);
  // A click on Save chooses it.
  EXPECT_EQ(WaitForMenuCommand(Drive("Game", "xdotool mousemove --window $id 30 32 click 1")), 101u);
  struct Case {
    const char* steps;
    uint32_t id;
  };
  const Case cases[] = {
      // Alt+F opens File at Save; Down passes the greyed Load (selectable) and the line to Exit.
      {"xdotool key alt+f Down Down Return", 103},
      {"xdotool key alt+e u", 201},                                           // an access key in the menu
      {"xdotool key alt+f m Return", 111},                                    // a sub-menu
      // A greyed item chooses nothing; Escape leaves; a plain bar item is chosen by a click.
      {"xdotool key alt+f l Escape; xdotool mousemove --window $id 110 10 click 1", 300},
  };
  // The pointer stays away from the menus while keys choose.
  for (const Case& c : cases)
    EXPECT_EQ(WaitForMenuCommand(Drive("Game", std::string("xdotool mousemove 790 590; ") + c.steps)), c.id) << c.steps;
  // Mouse positions under the bar reach the engine in client coordinates.
  driver = Drive("Game", "xdotool mousemove --window $id 50 70 click 1");
  int clickY = -1;
  for (int i = 0; i < 12000 && clickY < 0; i++) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_MOUSE_DOWN) clickY = e.y;
    PlatSleep(5);
  }
  WaitFor(driver);
  EXPECT_EQ(clickY, 50);
  PlatformQuit();
}

TEST(SdlMenus, ANarrowMenuBarKeepsTheAccessKeysOfItsOverflowedItems) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlMenusChild.DISABLED_NarrowBar", 205), 0);
}

// At 160 pixels the bar shows "ファイル(F) >>": View and Help lie in the overflow drop-down, and
// Alt with their keys opens their menus there instead of reaching the game as keys.
TEST(SdlMenusChild, DISABLED_NarrowBar) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  g_Platform->SetWindowTitle(0, "Narrow");
  g_Platform->SetWindowSize(0, 160, 120);
  std::vector<PlatMenuItem> menus = {
      {0, 1, 10, 0, 1, 0, "ファイル(&F)"}, {0, 2, 20, 0, 1, 0, "表示(&V)"},  {0, -1, 30, 0, 1, 0, "ヘルプ(&H)"},
      {1, -1, 101, 0, 1, 0, "開く(&O)"},   {2, -1, 201, 0, 1, 0, "拡大(&Z)"}, {2, -1, 202, 0, 1, 0, "縮小(&S)"},
  };
  g_PlatformDesktop->SetMenuBar(0, menus.data(), (int)menus.size());
  struct Case {
    const char* steps;
    uint32_t id;
  };
  const Case cases[] = {
      {"xdotool key alt+v Down Return", 202},   // View's menu opens at its first item
      {"xdotool key alt+v s", 202},             // and takes its access keys
      {"xdotool key alt+h", 30},                // a plain overflowed item is chosen at once
      {"xdotool key alt+f Return", 101},        // the item that fits is as before
  };
  for (const Case& c : cases) {
    int driver = Drive("Narrow", std::string("xdotool mousemove 790 590; ") + c.steps);
    uint32_t id = 0, start = PlatGetTicks();
    bool keyReachedGame = false;
    while (id == 0 && PlatGetTicks() - start < 60000) {
      PlatEventRecord e;
      while (g_Platform->PollEvent(&e)) {
        if (e.type == PLAT_EVENT_MENU_COMMAND) id = (uint32_t)e.key;
        if (e.type == PLAT_EVENT_KEY_DOWN && (e.key == 'V' || e.key == 'H' || e.key == 'S')) keyReachedGame = true;
      }
      PlatSleep(5);
    }
    WaitFor(driver);
    EXPECT_EQ(id, c.id) << c.steps;
    EXPECT_FALSE(keyReachedGame) << c.steps;
  }
  PlatformQuit();
}

TEST(SdlMenus, PopUpMenusOfManyItemsAndDeepSubMenusAnswerKeys) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlMenusChild.DISABLED_PopUps", 211), 0);
}

TEST(SdlMenusChild, DISABLED_PopUps) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  g_Platform->SetWindowTitle(0, "Game");
  std::vector<PlatMenuItem> menus = SampleMenus();
  // Menu 5: 2,000 items with ids 1..2000, one with an 8 KB caption and one with broken bytes.
  for (uint32_t i = 1; i <= 2000; i++) menus.push_back({5, -1, i, 0, 1, 0, "item " + std::to_string(i)});
  std::string long8k;
  while (long8k.size() < 8192) long8k += "あ";
  menus[menus.size() - 2].caption = long8k;
  menus[menus.size() - 3].caption = "\xFF\x80\xE3 broken";
  // Menus 10..25: each opens the next, 16 deep, the last holds "Bottom". (Each sub-menu is a
  // window with a drawing context of its own, slow to make on a loaded machine.)
  for (int m = 10; m < 26; m++) menus.push_back({m, m + 1, (uint32_t)(5000 + m), 0, 1, 0, "Level " + std::to_string(m)});
  menus.push_back({26, -1, 999, 0, 1, 0, "Bottom"});
  // Menu 6 opens menu 6: a description that contains itself.
  menus.push_back({6, 6, 60, 0, 1, 0, "Self"});
  menus.push_back({6, -1, 61, 0, 1, 0, "Plain"});
  struct Case {
    int menu;
    const char* steps;
    uint32_t id;
  };
  std::string rights;
  for (int i = 0; i < 16; i++) rights += " Right";
  const std::string deep = "xdotool key Down" + rights + " Return";
  const Case cases[] = {
      {1, "xdotool key Down Down Down Return", 103},                   // the line is passed over
      {1, "xdotool key Escape", 0},
      {5, "xdotool key Up Return", 2000},                             // Up from nothing: the last of 2,000
      {5, "xdotool key Up Up Return", 1999},                          // the 8 KB caption, cut to the screen
      {5, "xdotool key Up Up Up Return", 1998},                       // broken bytes shown as '?'
      {10, deep.c_str(), 999},
      {6, "xdotool key Down Return", 60},                             // a menu in itself is a plain item
      {1, "xdotool mousemove --window $id 300 230 click 1", 0},       // a click elsewhere chooses nothing
  };
  for (const Case& c : cases) {
    int driver = Drive("Game", std::string("xdotool mousemove 790 590; ") + c.steps);
    EXPECT_EQ(g_PlatformDesktop->PopupMenu(0, menus.data(), (int)menus.size(), c.menu, 200, 150), c.id) << c.steps;
    WaitFor(driver);
  }
  // The pop-up as it shows, drawn: a window the window manager leaves alone (override redirect),
  // so it never takes the keyboard from the game window.
  TempFolder folder;
  std::string seen = folder.path() + "/popup.txt";
  int driver = Drive("Game", "xdotool mousemove 790 590; for i in $(seq 600); do "
                             "p=$(xwininfo -root -children | awk '/[+]200[+]150 +[+]200[+]150/ {print $1; exit}'); "
                             "[ -n \"$p\" ] && xwininfo -id $p | grep -q IsViewable && break; sleep 0.1; done; "
                             "xwininfo -id $p > " + seen + "; xdotool key Escape");
  EXPECT_EQ(g_PlatformDesktop->PopupMenu(0, menus.data(), (int)menus.size(), 1, 200, 150), 0u);
  WaitFor(driver);
  std::ifstream in(seen);
  std::string info((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(info.find("Override Redirect State: yes"), std::string::npos) << info;
  PlatformQuit();
}

// ---------------------------------------------------------------------------------------------
// Window styles and the tray icon.

TEST(SdlWindowStyles, AFramelessWindowHasNoDecorationsAndAShape) {
  if (!XvfbToolsPresent() || !ProgramOnPath("xprop") || !ProgramOnPath("xwininfo"))
    GTEST_SKIP() << "xvfb-run, xdotool, xprop or xwininfo is missing";
  EXPECT_EQ(RunChildUnderXvfb("SdlWindowStylesChild.DISABLED_Frameless", 221), 0);
}

// No window manager runs under the virtual server, so the frame is checked where a manager reads
// it: the window's Motif hints ask for no decorations, and the window is exactly the game size.
TEST(SdlWindowStylesChild, DISABLED_Frameless) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 320, 240, "Frameless"));
  g_PlatformDesktop->SetWindowFrame(0, false);
  g_Platform->SetWindowResizable(0, false);
  g_Platform->ShowWindow(0, true);
  PlatEventRecord e;
  while (g_Platform->PollEvent(&e)) {
  }
  std::string id = ProgramOutput(FindXWindowStep("id", "Frameless") + "[ -n \"$id\" ] && echo $id");
  ASSERT_FALSE(id.empty());
  id.pop_back();
  // Functions and decorations given: all functions, no decorations.
  std::string hints = ProgramOutput("xprop -id " + id + " _MOTIF_WM_HINTS");
  EXPECT_NE(hints.find("= 0x3, 0x1, 0x0"), std::string::npos) << hints;
  std::string geometry = ProgramOutput("xwininfo -id " + id);
  EXPECT_NE(geometry.find("Width: 320"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Height: 240"), std::string::npos) << geometry;
  // The region command's shape: two rectangles of the client area.
  const PlatRect shape[] = {{0, 0, 100, 50}, {20, 60, 30, 30}};
  g_PlatformDesktop->SetWindowShape(0, shape, 2);
  std::string shaped = ProgramOutput("xwininfo -shape -id " + id);
  EXPECT_NE(shaped.find("Window shape extents:  100x90+0+0"), std::string::npos) << shaped;
  g_PlatformDesktop->SetWindowShape(0, nullptr, 0);
  shaped = ProgramOutput("xwininfo -shape -id " + id);
  EXPECT_NE(shaped.find("No window shape defined"), std::string::npos) << shaped;
  // Without the maximise box the Motif hints take the maximise function away.
  g_PlatformDesktop->SetMaximizeBox(0, false);
  hints = ProgramOutput("xprop -id " + id + " _MOTIF_WM_HINTS");
  EXPECT_NE(hints.find("= 0x3, 0x11, 0x0"), std::string::npos) << hints;
  PlatformQuit();
}

TEST(SdlEnd, TheBackendEndsQuietlyAfterAnotherProgramDestroyedTheWindowItWakes) {
  if (!XvfbToolsPresent() || !ProgramOnPath("xwininfo")) GTEST_SKIP() << "xvfb-run, xdotool or xwininfo is missing";
  EXPECT_EQ(RunChildUnderXvfb("SdlEndChild.DISABLED_WakeUpRefused", 225), 0);
}

// Another program destroys an open box's window. An event handed in from another thread wakes
// the box's wait with a message to that window, which the server refuses on SDL's second
// connection; the refusal is read only as that connection closes at the backend's end. It ends
// nothing: the child goes on to its end with status 0.
TEST(SdlEndChild, DISABLED_WakeUpRefused) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(OpenGameWindow());
  PlatCatchQuitSignals(true);
  std::thread other([] {
    PlatStartProcess({"/bin/sh", "-c",
                      FindXWindowStep("id", "Doomed") +
                          "[ -n \"$id\" ] && xdotool windowclose $id && for i in $(seq 600); do "
                          "xwininfo -id $id >/dev/null 2>&1 || exit 0; sleep 0.1; done; exit 1"},
                     true);
    for (int i = 0; i < 20; i++) {
      SdlQueueTextInput("x");
      PlatSleep(50);
    }
    // The box ends as on a quit signal.
    raise(SIGTERM);
  });
  std::string text;
  g_Platform->TextInputBox("Doomed", "", "", 0, &text);
  other.join();
  EXPECT_EQ(PlatQuitSignal(), SIGTERM);
  PlatformQuit();
  PlatCatchQuitSignals(false);
}

TEST(SdlTray, TheTrayIconRegistersOnTheSessionBusAndReportsClicks) {
  if (!XvfbToolsPresent() || !ProgramOnPath("dbus-run-session") ||
      system("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
    GTEST_SKIP() << "dbus-run-session or Python's D-Bus modules are missing";
  EXPECT_EQ(RunChildUnderXvfb("SdlTrayChild.DISABLED_Tray", 231, {"dbus-run-session", "--"}), 0);
}

// The stand-in tray never answers the registration, and goes away at the end without a word.
TEST(SdlTrayChild, DISABLED_Tray) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 320, 240, "game"));
  // A bus without a tray: showing fails.
  EXPECT_FALSE(g_PlatformDesktop->ShowTrayIcon(nullptr, "tip"));
  // Menu 1: the tray menu, with a line, a sub-menu of 2,002 items, a checked, a greyed and a
  // broken caption, an item that opens its own menu, and a chain 100 menus deep.
  std::vector<PlatMenuItem> menus = {
      {1, -1, 101, 0, 1, 0, "&Open"},    {1, -1, 0, 1, 0, 0, ""},          {1, 2, 102, 0, 1, 0, "Sub"},
      {1, -1, 103, 0, 1, 1, "Check_me"}, {1, -1, 104, 0, 0, 0, "Grey"},    {1, 1, 105, 0, 1, 0, "Self"},
      {1, -1, 106, 0, 1, 0, "\xFF broken"}, {1, -1, 107, 0, 1, 0, "&&Last"}, {1, 3, 108, 0, 1, 0, "Deep"},
      {2, -1, 201, 0, 1, 0, "First"},    {2, -1, 202, 0, 1, 0, "Second"},
  };
  for (uint32_t i = 0; i < 2000; i++) menus.push_back({2, -1, 1000 + i, 0, 1, 0, "item " + std::to_string(i)});
  for (int m = 3; m < 103; m++) menus.push_back({m, m + 1, (uint32_t)(5000 + m), 0, 1, 0, "Level " + std::to_string(m)});
  menus.push_back({103, -1, 999, 0, 1, 0, "Bottom"});
  g_PlatformDesktop->SetTrayMenu(menus.data(), (int)menus.size(), 1);
  TempFolder folder;
  std::string report = folder.path() + "/tray.txt";
  int watcher = PlatStartWatchedProcess(
      {"/usr/bin/python3", std::string(KIVOR_SOURCE_DIR) + "/tests/windows/fake_tray_watcher.py", report});
  std::vector<uint8_t> icon(16 * 16 * 4, 0);
  icon[0] = 10, icon[1] = 20, icon[2] = 30, icon[3] = 255;   // B, G, R, A of the first pixel
  bool shown = false;
  for (int i = 0; i < 200 && !shown; i++) {
    shown = g_PlatformDesktop->ShowTrayIcon(icon.data(), "ゲーム");
    if (!shown) PlatSleep(50);
  }
  ASSERT_TRUE(shown);
  // The tray clicks the icon (the primary click, then the secondary and the menu click), and
  // chooses "Second" in the menu it read, all while our registration waits for its answer.
  std::vector<int> buttons;
  uint32_t chosen = 0;
  for (uint32_t start = PlatGetTicks(); PlatGetTicks() - start < 60000 && !PlatProcessEnded(watcher);) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e)) {
      if (e.type == PLAT_EVENT_TRAY) buttons.push_back(e.button);
      if (e.type == PLAT_EVENT_MENU_COMMAND && e.window == 0) chosen = (uint32_t)e.key;
    }
    PlatSleep(5);
  }
  // What came last, after the stand-in went.
  for (int i = 0; i < 20; i++) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_MENU_COMMAND && e.window == 0) chosen = (uint32_t)e.key;
    PlatSleep(5);
  }
  EXPECT_EQ(buttons, (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(chosen, 202u);
  std::ifstream in(report);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "tip=ゲーム\nsize=16\nfirst=255,30,20,10\nmenu=/MenuBar itemismenu=0\nversion=3\n"
            "bad=refused,refused,refused,refused,refused,refused,refused,refused,refused\n"
            "groups=4242/77777\n"
            // The root, 9 items, 2,002 in the sub-menu and 15 levels: the bus carries 16 levels of
            // menus, the last without its items.
            "nodes=2027 depth=16\n"
            "top=_Open|-|Sub>|Check__me*|Grey~|Self|? broken|&Last|Deep>\n"
            "shallow=0,label\nlabel=_Open\n");
  // The bus still works for a tray that comes later.
  EXPECT_TRUE(g_PlatformDesktop->ShowTrayIcon(nullptr, "again"));
  g_PlatformDesktop->RemoveTrayIcon();
  PlatformQuit();
}

// ---------------------------------------------------------------------------------------------
// The tray menu in a real panel.

// xfce4-panel's settings: one panel along the top holding only the tray.
const char* const kPanelSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

TEST(SdlTray, TheTrayMenuOpensInXfcesPanelOnARightClickAndReportsTheChosenItem) {
  if (!XvfbToolsPresent() || !ProgramOnPath("dbus-run-session") || !ProgramOnPath("xfce4-panel") ||
      !ProgramOnPath("openbox") || !ProgramOnPath("import"))
    GTEST_SKIP() << "dbus-run-session, xfce4-panel, openbox or import is missing";
  // The panel and its settings service read their settings from the session's configuration
  // folder, which the bus hands on to the services it starts.
  TempFolder config;
  config.Write("xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml", kPanelSettings);
  EXPECT_EQ(RunChildUnderXvfb("SdlTrayChild.DISABLED_XfcePanel", 261,
                              {"env", "XDG_CONFIG_HOME=" + config.path(), "dbus-run-session", "--"}),
            0);
}

// Where the panel shows the icon (a magenta square): the middle of its magenta pixels in the
// panel's strip along the top, false while there are none.
bool FindTrayIcon(const std::string& path, int* x, int* y) {
  if (PlatStartProcess({"import", "-window", "root", "-crop", "800x48+0+0", "-depth", "8", "rgb:" + path}, true) != 0)
    return false;
  std::ifstream in(path, std::ios::binary);
  std::string rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long sx = 0, sy = 0, n = 0;
  for (size_t i = 0; i + 2 < rgb.size() && i / 3 < (size_t)800 * 48; i += 3)
    if ((uint8_t)rgb[i] == 255 && (uint8_t)rgb[i + 1] == 0 && (uint8_t)rgb[i + 2] == 255) {
      sx += (long)(i / 3 % 800), sy += (long)(i / 3 / 800), n++;
    }
  if (n < 16) return false;
  *x = (int)(sx / n), *y = (int)(sy / n);
  return true;
}

// Whether a menu is open under the panel: the screen below it is black but for menus.
bool MenuOpenBelowPanel(const std::string& path) {
  if (PlatStartProcess({"import", "-window", "root", "-crop", "300x200+0+40", "-depth", "8", "rgb:" + path}, true) != 0)
    return false;
  std::ifstream in(path, std::ios::binary);
  std::string rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t light = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) light += (uint8_t)rgb[i] > 128 && (uint8_t)rgb[i + 1] > 128;
  return light > 2000;
}

TEST(SdlTrayChild, DISABLED_XfcePanel) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(StartWindowManager());
  ASSERT_GE(PlatStartWatchedProcess({"/bin/sh", "-c", "exec xfce4-panel --disable-wm-check >/dev/null 2>&1"}), 0);
  ASSERT_TRUE(OpenGameWindow());
  std::vector<PlatMenuItem> menus = {
      {1, -1, 11, 0, 1, 0, "&First"}, {1, -1, 12, 0, 1, 0, "&Second"}, {1, -1, 0, 1, 0, 0, ""},
      {1, 2, 13, 0, 1, 0, "More"},    {2, -1, 21, 0, 1, 0, "Inner"},
  };
  g_PlatformDesktop->SetTrayMenu(menus.data(), (int)menus.size(), 1);
  std::vector<uint8_t> icon(16 * 16 * 4);
  for (size_t i = 0; i < icon.size(); i += 4) icon[i] = 255, icon[i + 1] = 0, icon[i + 2] = 255, icon[i + 3] = 255;
  // The panel's tray comes up some time after the panel.
  bool shown = false;
  for (uint32_t start = PlatGetTicks(); !shown && PlatGetTicks() - start < 60000; PlatSleep(100))
    shown = g_PlatformDesktop->ShowTrayIcon(icon.data(), "Tray");
  ASSERT_TRUE(shown);
  TempFolder folder;
  std::string shot = folder.path() + "/panel.rgb";
  std::vector<PlatEventRecord> events;
  auto pump = [&] {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_TRAY || e.type == PLAT_EVENT_MENU_COMMAND) events.push_back(e);
  };
  int x = 0, y = 0;
  bool found = false;
  for (uint32_t start = PlatGetTicks(); !found && PlatGetTicks() - start < 60000; PlatSleep(100)) {
    pump();
    found = FindTrayIcon(shot, &x, &y);
  }
  ASSERT_TRUE(found);
  std::string at = std::to_string(x) + " " + std::to_string(y);
  // A left click activates the item: the window comes to the front.
  int driver = PlatStartWatchedProcess({"/bin/sh", "-c", "xdotool mousemove " + at + " click 1"});
  for (uint32_t start = PlatGetTicks(); events.empty() && PlatGetTicks() - start < 60000; PlatSleep(10)) pump();
  WaitFor(driver);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, PLAT_EVENT_TRAY);
  EXPECT_EQ(events[0].button, 0);
  events.clear();
  // A right click opens the menu the panel draws from ours; the keys choose its second item.
  driver = PlatStartWatchedProcess({"/bin/sh", "-c", "xdotool mousemove " + at + " click 3"});
  bool open = false;
  for (uint32_t start = PlatGetTicks(); !open && PlatGetTicks() - start < 60000; PlatSleep(50)) {
    pump();
    open = MenuOpenBelowPanel(shot);
  }
  WaitFor(driver);
  EXPECT_TRUE(open);
  driver = PlatStartWatchedProcess({"/bin/sh", "-c", "xdotool key Down Down Return"});
  uint32_t chosen = 0;
  for (uint32_t start = PlatGetTicks(); chosen == 0 && PlatGetTicks() - start < 60000; PlatSleep(10)) {
    pump();
    for (const PlatEventRecord& e : events)
      if (e.type == PLAT_EVENT_MENU_COMMAND && e.window == 0) chosen = (uint32_t)e.key;
  }
  WaitFor(driver);
  EXPECT_EQ(chosen, 12u);
  // The panel showed the menu itself: no click asked the engine for its own.
  for (const PlatEventRecord& e : events) EXPECT_NE(e.type, PLAT_EVENT_TRAY);
  g_PlatformDesktop->RemoveTrayIcon();
  PlatformQuit();
}

}  // namespace
