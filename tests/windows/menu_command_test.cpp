// The menu commands and the menus built from the menu tree: the menu bar's items, pop-up and
// tray menus with their choices, item keys, queries, deletion and the tray icon.
#include <cstring>
#include <string>
#include <vector>

#include "app/fullscreen.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/windows/desktop_command_fixture.h"

namespace {

class MenuCommandTest : public DesktopCommandTest {};

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : HeadlessCalls())
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

// Items of menu `menu` of a description, as "caption" or "-" for a separator, with sub-menus
// in brackets, "~" for greyed and "*" for checked.
std::string Describe(const std::vector<PlatMenuItem>& items, int menu) {
  std::string out;
  for (const PlatMenuItem& it : items) {
    if (it.menu != menu) continue;
    if (!out.empty()) out += ",";
    out += it.separator ? "-" : it.caption + ":" + std::to_string(it.id);
    if (!it.enabled) out += "~";
    if (it.checked) out += "*";
    if (it.submenu >= 0) out += "[" + Describe(items, it.submenu) + "]";
  }
  return out;
}

TEST_F(MenuCommandTest, MenuBarListsVisibleItemsByKeyWithSubMenusSeparatorsAndStates) {
  Run("menuitem path=\"bar/\" caption=\"Bar\" priority=1\n"
      "menuitem path=\"bar/save\" caption=\"Save\" priority=3 id=0x100000003\n"
      "menuitem path=\"bar/load\" caption=\"Load\" priority=2 id=2 checked=1\n"
      "menuitem path=\"bar/hidden\" caption=\"Hidden\" priority=4 visible=0 id=9\n"
      "menuitem path=\"bar/line\" caption=\"\" priority=5\n"
      "menuitem path=\"bar/empty/\" caption=\"Empty\" priority=6 id=6 enabled=0\n"
      "menuitem path=\"bar/sub/\" caption=\"Sub\" priority=7 id=7\n"
      "menuitem path=\"bar/sub/a\" caption=\"A\" priority=1 id=71\n"
      "menuitem path=\"bar/blank/\" caption=\"\" priority=8\n"
      "menuitem path=\"bar/blank/x\" caption=\"X\" priority=1\n"
      "window window=0 menu=\"bar/\"\n");
  EXPECT_EQ(Shown(), 0);
  HeadlessDesktopWindow d = HeadlessDesktopState(0);
  // Hidden items take no position; the empty folder is a plain item; an empty caption is a
  // separator even with children; ids keep their low 32 bits.
  EXPECT_EQ(Describe(d.menuBar, 0), "Load:2*,Save:3,-~,Empty:6~,Sub:7[A:71],-~");
  EXPECT_EQ(std::string(main_->mMenuPath), "M0/bar");
  EXPECT_EQ(g_MenuBarAvailable, 1);
}

TEST_F(MenuCommandTest, NewItemsNeedACaptionAndThenAnOrderKey) {
  struct Case {
    const char* line;
    int message;
  };
  const Case cases[] = {
      {"menuitem path=\"x\" priority=1\n", 100260},
      {"menuitem path=\"x\" caption=\"X\"\n", 100240},
      {"menuitem path=\"x\" caption=\"X\" priority=1\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    DeleteMenuSubtree(g_MenuRoot);
    ASSERT_EQ(CreateMenuTreeRoot(), 0);
    Run(c.line);
    EXPECT_EQ(Shown(), c.message);
    EXPECT_EQ(Menu("M0/x") != nullptr, c.message == 0);
  }
}

TEST_F(MenuCommandTest, OrderKeyOperatorsKeepKeysAtLeastOneExceptByAssignment) {
  struct Case {
    const char* change;
    int64_t key;
  };
  const Case cases[] = {
      {"priority=0", 0}, {"priority-=10", 1}, {"priority+=3", 8}, {"priority*=0", 1},
      {"priority/=0", 5}, {"priority/=2", 2},  {"priority=-4", -4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    DeleteMenuSubtree(g_MenuRoot);
    ASSERT_EQ(CreateMenuTreeRoot(), 0);
    Run(std::string("menuitem path=\"a\" caption=\"A\" priority=5\n"
                    "menuitem path=\"b\" caption=\"B\" priority=3\n"
                    "menuitem path=\"a\" ") + c.change + "\nmenuquery out=r path=\"a\" priority=1\n");
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(Int("r"), c.key);
    // The item is sorted again among its siblings.
    NameNode* folder = Menu("M0");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(std::string(folder->mFirstChild->mName), c.key <= 3 ? "a" : "b");
  }
}

TEST_F(MenuCommandTest, QueryReturnsTheFirstGivenSelectorAndClearsForMissingItems) {
  struct Case {
    const char* query;
    int64_t r;
    std::string s;
  };
  const Case cases[] = {
      {"menuquery out=r path=\"a\" exists=1 id=1", 1, "old"},
      {"menuquery out=r path=\"a\" id=1 visible=1", 0, "old"},
      {"menuquery out=r path=\"a\" enabled=1", 256, "old"},
      {"menuquery out=r path=\"a\" checked=1 id=1", 1, "old"},
      {"menuquery out=r path=\"a\" id=1", 0x123456789LL, "old"},
      {"menuquery out=r path=\"a\" caption=1", -7, "old"},
      {"menuquery out=s path=\"a\" caption=1", -7, "Caption"},
      {"menuquery out=r path=\"nothing\" id=1", 0, "old"},
      {"menuquery out=s path=\"nothing\" caption=1", -7, ""},
      {"menuquery out=r path=\"a\"", -7, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    DeleteMenuSubtree(g_MenuRoot);
    ASSERT_EQ(CreateMenuTreeRoot(), 0);
    Run(std::string("menuitem path=\"a\" caption=\"Caption\" priority=2 visible=0 checked=1 id=0x123456789\n") +
        c.query + "\n");
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(Int("r"), c.r);
    EXPECT_EQ(Text("s"), c.s);
  }
}

TEST_F(MenuCommandTest, ExistsQueryIntoATextVariableIsATypeError) {
  Run("menuitem path=\"a\" caption=\"A\" priority=1\nmenuquery out=s path=\"a\" exists=1\n");
  EXPECT_EQ(Shown(), 101140);
}

TEST_F(MenuCommandTest, DeletingAFolderFreesItsWholeSubtreeAndTheRootIsOnlyEmptied) {
  Run("menuitem path=\"f/\" caption=\"F\" priority=1\n"
      "menuitem path=\"f/g/\" caption=\"G\" priority=1\n"
      "menuitem path=\"f/g/leaf\" caption=\"L\" priority=1\n"
      "menuitem path=\"f/other\" caption=\"O\" priority=2\n"
      "menuitem path=\"keep\" caption=\"K\" priority=2\n"
      "menudelete path=\"f/\"\n"
      "menudelete path=\"missing\"\n"
      "menuquery out=r path=\"keep\" exists=1\n");
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(Menu("M0/f"), nullptr);
  EXPECT_EQ(Int("r"), 1);
}

TEST_F(MenuCommandTest, PopupShowsTheFolderAtTheCursorAndReportsTheChoiceOrZero) {
  g_LetterboxOffset = {10, 20};
  HeadlessSetCursorPosition(300, 400);
  struct Case {
    bool choose;
    uint32_t id;
    int64_t command;
  };
  const Case cases[] = {{true, 0x10042, 0x42}, {false, 0, 0}};
  for (const Case& c : cases) {
    HeadlessClearCalls();
    if (c.choose) HeadlessQueueMenuChoice(c.id);
    g_MenuCommand = 99;
    DeleteMenuSubtree(g_MenuRoot);
    ASSERT_EQ(CreateMenuTreeRoot(), 0);
    Run("menuitem path=\"pop/\" caption=\"P\" priority=1\n"
        "menuitem path=\"pop/one\" caption=\"One\" priority=1 id=0x10042\n"
        "popupmenu path=\"pop/\" show=0\n");
    EXPECT_EQ(g_PopupMenuRequest, 0);
    Run("popupmenu path=\"pop/\" show=1\n");
    EXPECT_EQ(g_PopupMenuRequest, MENU_SET_POPUP);
    ShowRequestedPopupMenu();
    EXPECT_EQ(g_PopupMenuRequest, 0);
    EXPECT_EQ(g_MenuCommand, c.command);
    EXPECT_EQ(CallsStartingWith("PopupMenu"), std::vector<std::string>{"PopupMenu 0 290,380 One"});
  }
}

TEST_F(MenuCommandTest, MenuBarChoicesBecomeTheMenuCommand) {
  PlatEventRecord e = MakeEvent(PLAT_EVENT_MENU_COMMAND);
  e.key = 0x20005;
  Send(e);
  EXPECT_EQ(g_MenuCommand, 5);
}

TEST_F(MenuCommandTest, MissingMenuBarFolderIsAnError) {
  Run("window window=0 menu=\"nowhere/\"\n");
  EXPECT_EQ(Shown(), 101250);
}

// 130 folders with one item each need more than the 127 menus a set can hold.
TEST_F(MenuCommandTest, ASetOfTooManyMenusIsNotAttachedAsMenuBarButShownAsFarAsFilledAsPopup) {
  NameNode* big = CreateTreeNode(g_MenuRoot, "M0/big", true, 1);
  ASSERT_NE(AttachMenuItemRecord(big, "Big"), nullptr);
  for (int i = 0; i < 130; i++) {
    std::string folder = "M0/big/f" + std::to_string(1000 + i);
    NameNode* f = CreateTreeNode(g_MenuRoot, folder.c_str(), true, i + 1);
    ASSERT_NE(AttachMenuItemRecord(f, "F"), nullptr);
    NameNode* leaf = CreateTreeNode(g_MenuRoot, (folder + "/x").c_str(), false, 1);
    ASSERT_NE(AttachMenuItemRecord(leaf, "X"), nullptr);
  }
  HeadlessClearCalls();
  EXPECT_EQ(BuildWindowMenuBar("M0/big", main_), 0);
  EXPECT_TRUE(CallsStartingWith("SetMenuBar").empty());
  EXPECT_EQ(g_MenuBarAvailable, 0);
  Run("popupmenu path=\"big/\" show=1\n");
  ShowRequestedPopupMenu();
  EXPECT_EQ(CallsStartingWith("PopupMenu").size(), 1u);
}

TEST_F(MenuCommandTest, TrayIconTakesA16By16LayerElseShowsTheSizeBoxAndUsesTheProgramIcon) {
  AddLayer("icon", false, 1, 16, 16, 0x80112233);
  AddLayer("big", false, 2, 32, 32, 0xFF000000);
  Run("trayicon show=1 tip=\"Tip\" icon=\"icon\"\n");
  HeadlessTrayState t = HeadlessTray();
  EXPECT_TRUE(t.shown);
  EXPECT_TRUE(t.customIcon);
  ASSERT_EQ(t.icon.size(), 16u * 16 * 4);
  EXPECT_EQ(PixelOf(t.icon, 16, 15, 15), 0x80112233u);
  EXPECT_EQ(t.tip, "Tip");
  HeadlessClearCalls();
  // The tip stays from the last call that gave one.
  Run("trayicon show=1 icon=\"big\"\n");
  t = HeadlessTray();
  EXPECT_FALSE(t.customIcon);
  EXPECT_EQ(t.tip, "Tip");
  std::vector<std::string> boxes = CallsStartingWith("ChoiceBox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("ICON ERR."), std::string::npos);
  EXPECT_NE(boxes[0].find("16x16"), std::string::npos);
  // A missing icon layer makes the command do nothing at all.
  Run("trayicon show=0 icon=\"none\"\n");
  EXPECT_TRUE(HeadlessTray().shown);
}

TEST_F(MenuCommandTest, LongTipIsCutTo63BytesAndRemovingTwiceDoesNothingTheSecondTime) {
  Run("trayicon show=1 tip=\"" + std::string(80, 't') + "\"\n");
  EXPECT_EQ(HeadlessTray().tip, std::string(63, 't'));
  HeadlessClearCalls();
  Run("trayicon show=0\ntrayicon show=0\n");
  EXPECT_FALSE(HeadlessTray().shown);
  EXPECT_EQ(CallsStartingWith("RemoveTrayIcon").size(), 1u);
}

TEST_F(MenuCommandTest, TrayClicksRaiseTheWindowAndRightClickShowsTheTrayMenu) {
  Run("menuitem path=\"tray/\" caption=\"T\" priority=1\n"
      "menuitem path=\"tray/quit\" caption=\"Quit\" priority=1 id=77\n"
      "trayicon show=1 menu=\"tray/\"\n");
  HeadlessQueueMenuChoice(77);
  PlatEventRecord left = MakeEvent(PLAT_EVENT_TRAY);
  Send(left);
  EXPECT_EQ(g_PopupMenuRequest, 0);
  PlatEventRecord right = MakeEvent(PLAT_EVENT_TRAY);
  right.button = 1;
  Send(right);
  EXPECT_EQ(g_PopupMenuRequest, MENU_SET_TRAY);
  ShowRequestedPopupMenu();
  EXPECT_EQ(g_MenuCommand, 77);
  EXPECT_EQ(CallsStartingWith("RaiseWindow 0").size(), 2u);
}

// A tray that draws menus itself is handed the tray menu when the command builds it, and the item
// chosen there comes back as the main window's menu command.
TEST_F(MenuCommandTest, TheTrayMenuIsHandedToTheTrayAndItsChoiceIsTheMenuCommand) {
  Run("menuitem path=\"tray/\" caption=\"T\" priority=1\n"
      "menuitem path=\"tray/open\" caption=\"Open\" priority=1 id=76\n"
      "menuitem path=\"tray/quit\" caption=\"Quit\" priority=2 id=0x10077\n"
      "trayicon show=1 menu=\"tray/\"\n");
  HeadlessTrayState t = HeadlessTray();
  ASSERT_GE(t.menuShown, 0);
  EXPECT_EQ(Describe(t.menu, t.menuShown), "Open:76,Quit:65655");
  PlatEventRecord chosen = MakeEvent(PLAT_EVENT_MENU_COMMAND);
  chosen.key = 0x10077;
  Send(chosen);
  EXPECT_EQ(g_MenuCommand, 0x77);
  // The menu stays with the tray while the icon is taken away and shown again.
  Run("trayicon show=0\ntrayicon show=1\n");
  EXPECT_EQ(Describe(HeadlessTray().menu, HeadlessTray().menuShown), "Open:76,Quit:65655");
}

TEST_F(MenuCommandTest, ClosingTheMainWindowRemovesTheTrayIconAndTheMenuBar) {
  Run("menuitem path=\"bar/\" caption=\"B\" priority=1\n"
      "menuitem path=\"bar/a\" caption=\"A\" priority=1\n"
      "window window=0 menu=\"bar/\" closemode=2\n"
      "trayicon show=1\n");
  ASSERT_FALSE(HeadlessDesktopState(0).menuBar.empty());
  Send(MakeEvent(PLAT_EVENT_CLOSE));
  EXPECT_FALSE(HeadlessTray().shown);
  EXPECT_EQ(g_MenuHandles[MENU_SET_BAR].mItems.size(), 0u);
  g_Running = 1;
}

}  // namespace
