// The SDL backend's own widgets on a real X display: the message box and the text-input box
// answer clicks and keys sent by xdotool, a box opened while another is open is shown on top of
// it and both answer. Each parent test starts this program again on a virtual X server to run
// its child. Skipped cleanly where xvfb-run or xdotool is missing.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

// Runs one disabled child test of this program under a virtual X server, at most five minutes. Each
// test starts looking for a free server number at a number of its own, so tests running at the
// same time never share a server.
int RunChildUnderXvfb(const char* child, int display) {
  // X and SDL keep allocations until exit; the child's run is about behaviour, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_XVFB_DESKTOP", "1", 1);
  int turn = TakeDesktopTestTurn();
  int status = PlatStartProcess({"timeout", "300", "xvfb-run", "-a", "-n", std::to_string(display), "-s", "-screen 0 800x600x24",
                                 PlatExecutablePath(), std::string("--gtest_filter=") + child,
                                 "--gtest_also_run_disabled_tests"},
                                true);
  PlatLockRelease(turn);
  unsetenv("KIVOR_XVFB_DESKTOP");
  return status;
}

bool XvfbToolsPresent() { return ProgramOnPath("xvfb-run") && ProgramOnPath("xdotool") && ProgramOnPath("timeout"); }

// Starts an xdotool script in the background; `$id` holds the window whose name is `window`.
// X delivers events in the order they were sent, so the steps need no pauses between them: what
// a key opens is open before the next key is read.
int Drive(const std::string& window, const std::string& steps) {
  // The keys go where the focus is: the script gives it to the window and waits until it is there.
  std::string script = FindXWindowStep("id", window) + "for i in $(seq 600); do xdotool windowfocus $id 2>/dev/null; " +
                       "[ \"$(xdotool getwindowfocus)\" = \"$id\" ] && break; sleep 0.1; done; " + steps;
  return PlatStartWatchedProcess({"/bin/sh", "-c", script});
}

// Waits for a script to end, at most a minute.
void WaitFor(int process) {
  for (int i = 0; i < 6000 && !PlatProcessEnded(process); i++) PlatSleep(10);
}

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

bool ChildRuns() { return getenv("KIVOR_XVFB_DESKTOP") != nullptr; }

void OpenGameWindow() {
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 320, 240, "game"));
  g_Platform->ShowWindow(0, true);
}

TEST(SdlBoxes, TheTextInputBoxTakesTypedTextAndLeavesOnlyWithEnter) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_TextInput", 171), 0);
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
  int driver = Drive("Click", ClickButton("Click", 1, 2));
  EXPECT_EQ(g_Platform->ChoiceBox("Click", huge.c_str(), kOkCancel, 2, 0, 1), 1);
  WaitFor(driver);
  PlatformQuit();
}

TEST(SdlBoxes, ABoxOpenedWhileAnotherIsOpenShowsOnTopAndBothAnswer) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlBoxesChild.DISABLED_NestedBoxes", 191), 0);
}

TEST(SdlBoxesChild, DISABLED_NestedBoxes) {
  if (!ChildRuns()) GTEST_SKIP();
  OpenGameWindow();
  static const char* const kOkCancel[] = {"OK", "Cancel"};
  // The second box comes from another thread while the first waits on the main thread.
  int second = -1;
  std::thread other([&] {
    // Once the first box is up.
    PlatStartProcess({"/bin/sh", "-c", FindXWindowStep("first", "First")}, true);
    int driver = Drive("Second", ClickButton("Second", 1, 2));
    second = g_Platform->ChoiceBox("Second", "two", kOkCancel, 2, 0, 1);
    WaitFor(driver);
  });
  // The first box is clicked once the second has come and gone (missing from three searches in a
  // row: one search can fail while a window is being destroyed).
  int driver = Drive("First", FindXWindowStep("second", "Second") +
                                  "gone=0; while [ $gone -lt 3 ]; do sleep 0.1; "
                                  "if xdotool search --onlyvisible --name '^Second$' 2>/dev/null | grep -q .; "
                                  "then gone=0; else gone=$((gone+1)); fi; done; " +
                                  ClickButton("First", 0, 2));
  int first = g_Platform->ChoiceBox("First", "one", kOkCancel, 2, 1, 1);
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
  OpenGameWindow();
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

TEST(SdlMenus, PopUpMenusOfManyItemsAndDeepSubMenusAnswerKeys) {
  if (!XvfbToolsPresent()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlMenusChild.DISABLED_PopUps", 211), 0);
}

TEST(SdlMenusChild, DISABLED_PopUps) {
  if (!ChildRuns()) GTEST_SKIP();
  OpenGameWindow();
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

TEST(SdlTray, TheTrayIconRegistersOnTheSessionBusAndReportsClicks) {
  if (!XvfbToolsPresent() || !ProgramOnPath("dbus-run-session") ||
      system("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
    GTEST_SKIP() << "dbus-run-session or Python's D-Bus modules are missing";
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_XVFB_DESKTOP", "1", 1);
  int turn = TakeDesktopTestTurn();
  int status = PlatStartProcess({"timeout", "300", "dbus-run-session", "--", "xvfb-run", "-a", "-n", "231", "-s",
                                 "-screen 0 800x600x24", PlatExecutablePath(), "--gtest_filter=SdlTrayChild.DISABLED_Tray",
                                 "--gtest_also_run_disabled_tests"},
                                true);
  PlatLockRelease(turn);
  unsetenv("KIVOR_XVFB_DESKTOP");
  EXPECT_EQ(status, 0);
}

TEST(SdlTrayChild, DISABLED_Tray) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(PlatformInit("sdl"));
  ASSERT_TRUE(g_Platform->CreateWindow(0, 320, 240, "game"));
  // A bus without a tray: showing fails.
  EXPECT_FALSE(g_PlatformDesktop->ShowTrayIcon(nullptr, "tip"));
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
  // The tray clicks the icon: the primary click, then the menu click.
  std::vector<int> buttons;
  for (int i = 0; i < 2000 && buttons.size() < 2; i++) {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_TRAY) buttons.push_back(e.button);
    PlatSleep(5);
  }
  EXPECT_EQ(buttons, (std::vector<int>{0, 1}));
  WaitFor(watcher);
  std::ifstream in(report);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "tip=ゲーム\nsize=16\nfirst=255,30,20,10\n");
  g_PlatformDesktop->RemoveTrayIcon();
  PlatformQuit();
}

}  // namespace
