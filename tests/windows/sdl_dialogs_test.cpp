// The SDL backend's boxes on a real desktop (a virtual X server with the window manager openbox):
// message and input boxes are dialogs of the game window without minimise and maximise buttons,
// the four box icons are the icon theme's pictures, the buttons are labelled in the system's
// language with access keys, and the input box's field edits as a text field does, shows an
// input method's text being composed at its caret and takes the text it commits.
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

constexpr int ICON_AT = 20;     // the icon's top-left corner in a box
constexpr int ICON_SIDE = 48;
constexpr uint32_t FACE = 0xF0F0F0;

bool DesktopToolsPresent() {
  return XvfbToolsPresent() && ProgramOnPath("openbox") && ProgramOnPath("xprop") && ProgramOnPath("xwininfo") &&
         ProgramOnPath("import") && ProgramOnPath("convert");
}

// A window's picture: its client area as R, G, B rows.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
    const uint8_t* p = &rgb[((size_t)y * width + x) * 3];
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The X id of the visible window named exactly `name` ("" when none comes within two minutes).
std::string WindowId(const std::string& name) {
  std::string id = ProgramOutput(FindXWindowStep("id", name) + "echo $id");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

bool TakeShot(const std::string& id, const std::string& path, Shot* shot) {
  std::string geometry = ProgramOutput("xwininfo -id " + id + " 2>/dev/null");
  size_t w = geometry.find("Width: "), h = geometry.find("Height: ");
  if (w == std::string::npos || h == std::string::npos) return false;
  shot->width = atoi(geometry.c_str() + w + 7);
  shot->height = atoi(geometry.c_str() + h + 8);
  if (PlatStartProcess({"import", "-window", id, "-depth", "8", "rgb:" + path}, true) != 0) return false;
  std::string bytes = ReadFile(path);
  if (bytes.size() != (size_t)shot->width * shot->height * 3) return false;
  shot->rgb.assign(bytes.begin(), bytes.end());
  return true;
}

// The theme's 48-pixel icon laid over the box's ground by ImageMagick, R, G, B rows.
std::vector<uint8_t> ExpectedIcon(const std::string& name, const std::string& folder) {
  std::string out = folder + "/" + name + ".rgb";
  PlatStartProcess({"convert", "/usr/share/icons/Adwaita/48x48/legacy/" + name + ".png", "-background", "#F0F0F0",
                    "-flatten", "-depth", "8", "rgb:" + out},
                   true);
  std::string bytes = ReadFile(out);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Whether the box's icon area shows the picture (each channel within 2 of it: the two blends
// round differently).
bool ShowsIcon(const Shot& shot, const std::vector<uint8_t>& icon) {
  if (icon.size() != (size_t)ICON_SIDE * ICON_SIDE * 3) return false;
  for (int y = 0; y < ICON_SIDE; y++)
    for (int x = 0; x < ICON_SIDE; x++) {
      uint32_t got = shot.At(ICON_AT + x, ICON_AT + y);
      const uint8_t* want = &icon[((size_t)y * ICON_SIDE + x) * 3];
      for (int c = 0; c < 3; c++)
        if (abs((int)(got >> (16 - 8 * c) & 0xFF) - want[c]) > 2) return false;
    }
  return true;
}

// Takes the window's picture until `ready` says it is drawn (at most 30 s); false when it never is.
template <typename Ready>
bool ShotWhen(const std::string& id, const std::string& path, Shot* shot, Ready ready) {
  for (uint32_t start = PlatGetTicks(); PlatGetTicks() - start < 30000; PlatSleep(100))
    if (TakeShot(id, path, shot) && ready(*shot)) return true;
  return false;
}

// What the window manager and the window say about a box: its type, owner and allowed actions.
std::string Properties(const std::string& id) {
  return ProgramOutput("xprop -id " + id + " _NET_WM_WINDOW_TYPE WM_TRANSIENT_FOR _MOTIF_WM_HINTS _NET_WM_ALLOWED_ACTIONS 2>&1");
}

void ExpectDialogOf(const std::string& props, const std::string& ownerId) {
  EXPECT_NE(props.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << props;
  char hex[32];
  snprintf(hex, sizeof hex, "0x%lx", strtoul(ownerId.c_str(), nullptr, 10));
  EXPECT_NE(props.find(std::string("WM_TRANSIENT_FOR(WINDOW): window id # ") + hex), std::string::npos) << props;
  // The caption's buttons: functions move and close only (4 + 32), decorations a border, a
  // title and the window menu (2 + 8 + 16), so managers that follow the hints draw no minimise
  // or maximise button (openbox draws its buttons on every titled window whatever the hints).
  EXPECT_NE(props.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x24, 0x1a"), std::string::npos) << props;
  // The manager took them: it offers closing and moving, neither resizing nor maximising (it
  // keeps minimising in its own window menu whatever the hints say; the box comes back).
  EXPECT_NE(props.find("_NET_WM_ACTION_CLOSE"), std::string::npos) << props;
  EXPECT_NE(props.find("_NET_WM_ACTION_MOVE"), std::string::npos) << props;
  EXPECT_EQ(props.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << props;
  EXPECT_EQ(props.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << props;
}

TEST(SdlDialogs, BoxesAreDialogsWithTheThemesIconsAndButtonsInTheSystemsLanguage) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, xdotool, openbox, xprop, xwininfo or ImageMagick is missing";
  if (!PlatFileExists("/usr/share/icons/Adwaita/48x48/legacy/dialog-warning.png"))
    GTEST_SKIP() << "adwaita-icon-theme is not installed";
  EXPECT_EQ(RunChildUnderXvfb("SdlDialogsChild.DISABLED_MessageBoxes", 241), 0);
}

TEST(SdlDialogsChild, DISABLED_MessageBoxes) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(StartWindowManager());
  ASSERT_TRUE(OpenGameWindow());
  std::string gameId = WindowId("game");
  ASSERT_FALSE(gameId.empty());
  TempFolder folder;
  std::string shotPath = folder.path() + "/box.rgb";
  static const char* const kIcons[] = {"dialog-information", "dialog-question", "dialog-warning", "dialog-error"};
  for (int icon = PLAT_ICON_INFORMATION; icon <= PLAT_ICON_ERROR; icon++) {
    std::string caption = "Icon " + std::to_string(icon);
    std::vector<uint8_t> expected = ExpectedIcon(kIcons[icon - 1], folder.path());
    bool shown = false;
    std::string props;
    std::thread look([&] {
      std::string id = WindowId(caption);
      Shot shot;
      shown = ShotWhen(id, shotPath, &shot, [&](const Shot& s) { return ShowsIcon(s, expected); });
      props = Properties(id);
      WaitFor(Drive(caption, "xdotool key Return"));
    });
    EXPECT_EQ(PlatMessageBox(caption.c_str(), "アイコン", PLAT_MB_OK, icon), PLAT_ID_OK);
    look.join();
    EXPECT_TRUE(shown) << kIcons[icon - 1];
    ExpectDialogOf(props, gameId);
  }
  // Minimised by the window manager (which offers it on every window), a box comes back.
  std::string back = folder.path() + "/back";
  int driver = Drive("Stay", "xdotool windowminimize $id; sleep 0.2; for i in $(seq 300); do "
                             "xwininfo -id $id | grep -q IsViewable && echo back > " + back + " && break; sleep 0.1; done; "
                             "xdotool windowfocus $id; sleep 0.2; xdotool key Return");
  EXPECT_EQ(PlatMessageBox("Stay", "ここにいます", PLAT_MB_OK), PLAT_ID_OK);
  WaitFor(driver);
  EXPECT_EQ(ReadFile(back), "back\n");
  // The close question's box in either language looks exactly like a box given the labels
  // themselves, and N answers it No.
  struct Language {
    const char* lang;
    const char* yes;
    const char* no;
  };
  const Language languages[] = {{"ja_JP.UTF-8", "はい(&Y)", "いいえ(&N)"}, {"C.UTF-8", "&Yes", "&No"}};
  std::vector<uint8_t> information = ExpectedIcon("dialog-information", folder.path());
  for (const Language& l : languages) {
    ScopedLanguage language(l.lang);
    Shot asked, given;
    std::thread look([&] {
      ShotWhen(WindowId("Asked"), shotPath, &asked, [&](const Shot& s) { return ShowsIcon(s, information); });
      WaitFor(Drive("Asked", "xdotool key n"));
      ShotWhen(WindowId("Given"), shotPath, &given, [&](const Shot& s) { return ShowsIcon(s, information); });
      WaitFor(Drive("Given", "xdotool key y"));
    });
    EXPECT_EQ(PlatMessageBox("Asked", "終了します。よろしいですか？", PLAT_MB_YESNO, PLAT_ICON_INFORMATION), PLAT_ID_NO)
        << l.lang;
    const char* labels[] = {l.yes, l.no};
    EXPECT_EQ(g_Platform->ChoiceBox("Given", "終了します。よろしいですか？", labels, 2, 0, 1, PLAT_ICON_INFORMATION), 0)
        << l.lang;
    look.join();
    EXPECT_GT(asked.width, 0) << l.lang;
    EXPECT_EQ(asked.width, given.width) << l.lang;
    EXPECT_EQ(asked.height, given.height) << l.lang;
    EXPECT_TRUE(asked.rgb == given.rgb) << l.lang;
  }
  PlatformQuit();
}

// ---------------------------------------------------------------------------------------------
// The text-input box.

// The field of a box without a prompt: its top edge, the first character's left edge, and the
// advance of a single-byte and a double-byte character.
constexpr int FIELD_Y = 40, TEXT_X = 16, HALF = 7, FULL = 14;
constexpr int TEXT_Y = FIELD_Y + 4, CELL = 14;
constexpr uint32_t SELECT = 0x3070C0;

// Whether the caret (a one-pixel column of ink as tall as a character) stands at x.
bool CaretAt(const Shot& s, int x) {
  for (int y = TEXT_Y; y < TEXT_Y + CELL; y++)
    if (s.At(x, y) != 0) return false;
  return true;
}

// The columns of the composed text's underline on the row under the characters.
int UnderlineFrom(const Shot& s, int* end) {
  int from = -1;
  *end = -1;
  for (int x = 0; x < s.width; x++)
    if (s.At(x, TEXT_Y + CELL) == SELECT) {
      if (from < 0) from = x;
      *end = x + 1;
    }
  return from;
}

TEST(SdlDialogs, TheTextInputBoxEditsLikeATextFieldAndTakesAnInputMethodsText) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, xdotool, openbox, xprop, xwininfo or ImageMagick is missing";
  EXPECT_EQ(RunChildUnderXvfb("SdlDialogsChild.DISABLED_TextField", 251), 0);
}

TEST(SdlDialogsChild, DISABLED_TextField) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(StartWindowManager());
  ASSERT_TRUE(OpenGameWindow());
  std::string gameId = WindowId("game");
  ASSERT_FALSE(gameId.empty());
  TempFolder folder;
  std::string shotPath = folder.path() + "/field.rgb";
  // Keys: Ctrl+A and typing replace the default; Home; Shift+Left selects, Ctrl+X cuts, Ctrl+V
  // pastes; Shift+Home and Ctrl+C copy; Right ends the selection at its end.
  std::string props;
  int driver = -1;
  std::thread look([&] {
    props = Properties(WindowId("Keys"));
    driver = Drive("Keys", "xdotool key ctrl+a; xdotool type --delay 30 'Taro'; xdotool key Home; "
                           "xdotool type --delay 30 'Mr '; xdotool key End shift+Left shift+Left shift+Left shift+Left "
                           "ctrl+x Home ctrl+v End shift+Home ctrl+c Right; xdotool type --delay 30 'x'; "
                           "xdotool key Return");
  });
  std::string text;
  ASSERT_TRUE(g_Platform->TextInputBox("Keys", "", "名無し", 0, &text));
  look.join();
  WaitFor(driver);
  EXPECT_EQ(text, "TaroMr x");
  std::string clipboard;
  EXPECT_TRUE(g_Platform->GetClipboardText(&clipboard));
  EXPECT_EQ(clipboard, "TaroMr ");
  ExpectDialogOf(props, gameId);

  // The mouse: a drag from between b and c to between f and g selects "cdef", which shows on the
  // selection's ground; typing replaces it.
  std::string drag = "xdotool mousemove --window $id " + std::to_string(TEXT_X + 2 * HALF) + " 47 mousedown 1 " +
                     "mousemove --window $id " + std::to_string(TEXT_X + 4 * HALF) + " 47 " +
                     "mousemove --window $id " + std::to_string(TEXT_X + 6 * HALF) + " 47 mouseup 1";
  bool selectionShown = false;
  std::thread select([&] {
    std::string id = WindowId("Mouse");
    WaitFor(Drive("Mouse", drag));
    Shot shot;
    // The row just above the characters is the selection's ground from c to f, and only there.
    selectionShown = ShotWhen(id, shotPath, &shot, [](const Shot& s) {
      for (int x = TEXT_X; x < TEXT_X + 8 * HALF; x++)
        if ((s.At(x, TEXT_Y - 1) == SELECT) != (x >= TEXT_X + 2 * HALF && x < TEXT_X + 6 * HALF)) return false;
      return true;
    });
    WaitFor(Drive("Mouse", "xdotool type --delay 30 'X'; xdotool key Return"));
  });
  ASSERT_TRUE(g_Platform->TextInputBox("Mouse", "", "abcdefgh", 0, &text));
  select.join();
  EXPECT_TRUE(selectionShown);
  EXPECT_EQ(text, "abXgh");

  // An input method: with the caret between a and b, the text being composed shows at the caret,
  // underlined, and pushes b along; its confirm puts the committed text there.
  bool caretMoved = false;
  int underlineFrom = -1, underlineEnd = -1;
  uint32_t bAfter = 0;
  std::thread method([&] {
    std::string id = WindowId("Compose");
    WaitFor(Drive("Compose", "xdotool key Left"));
    Shot shot;
    caretMoved = ShotWhen(id, shotPath, &shot, [](const Shot& s) { return CaretAt(s, TEXT_X + HALF); });
    SdlQueueTextEditing("かな", 0);
    ShotWhen(id, shotPath, &shot, [&](const Shot& s) { return UnderlineFrom(s, &underlineEnd) >= 0; });
    underlineFrom = UnderlineFrom(shot, &underlineEnd);
    // b now starts after the two composed characters: its cell has ink, the caret's old place
    // after b none.
    for (int y = TEXT_Y; y < TEXT_Y + CELL; y++)
      for (int x = TEXT_X + HALF + 2 * FULL; x < TEXT_X + 2 * HALF + 2 * FULL; x++) bAfter += shot.At(x, y) == 0;
    SdlQueueTextInput("仮名");
    WaitFor(Drive("Compose", "xdotool key Return"));
  });
  ASSERT_TRUE(g_Platform->TextInputBox("Compose", "", "ab", 0, &text));
  method.join();
  EXPECT_TRUE(caretMoved);
  EXPECT_EQ(underlineFrom, TEXT_X + HALF);
  EXPECT_EQ(underlineEnd, TEXT_X + HALF + 2 * FULL);
  EXPECT_GT(bAfter, 5u);
  EXPECT_EQ(text, "a仮名b");

  // A composed text longer than an event's own buffer arrives whole.
  std::thread longer([&] {
    WindowId("Long");
    SdlQueueTextEditing("あいうえおかきくけこさしすせそ", 15);
    SdlQueueTextInput("終");
    WaitFor(Drive("Long", "xdotool key Return"));
  });
  ASSERT_TRUE(g_Platform->TextInputBox("Long", "", "", 0, &text));
  longer.join();
  EXPECT_EQ(text, "終");
  PlatformQuit();
}

// A real input method: the ibus daemon with its plain engine, whose Ctrl+Shift+U takes a
// character by its code, composing "u3042" until Space confirms it.
TEST(SdlDialogs, TheTextInputBoxTakesTheTextOfARealInputMethod) {
  if (!DesktopToolsPresent() || !ProgramOnPath("ibus-daemon") || !ProgramOnPath("ibus") ||
      !ProgramOnPath("dbus-run-session"))
    GTEST_SKIP() << "ibus, dbus-run-session or the desktop tools are missing";
  TempFolder config;
  EXPECT_EQ(RunChildUnderXvfb("SdlDialogsChild.DISABLED_InputMethod", 271,
                              {"env", "XDG_CONFIG_HOME=" + config.path(), "dbus-run-session", "--"}),
            0);
}

TEST(SdlDialogsChild, DISABLED_InputMethod) {
  if (!ChildRuns()) GTEST_SKIP();
  ASSERT_TRUE(StartWindowManager());
  // The daemon and its engine, before SDL starts and looks for an input method.
  ASSERT_GE(PlatStartWatchedProcess({"/bin/sh", "-c", "exec ibus-daemon --panel=disable --xim >/dev/null 2>&1"}), 0);
  ASSERT_EQ(PlatStartProcess({"/bin/sh", "-c",
                              "for i in $(seq 600); do ibus engine xkb:us::eng >/dev/null 2>&1 && exit 0; sleep 0.1; "
                              "done; exit 1"},
                             true),
            0);
  ASSERT_TRUE(OpenGameWindow());
  TempFolder folder;
  std::string shotPath = folder.path() + "/field.rgb";
  int underlineFrom = -1, underlineEnd = -1;
  std::thread method([&] {
    std::string id = WindowId("Method");
    WaitFor(Drive("Method", "xdotool key ctrl+shift+u; xdotool type --delay 100 3042"));
    // Composing "u3042": five characters underlined.
    Shot shot;
    ShotWhen(id, shotPath, &shot, [&](const Shot& s) {
      int from = UnderlineFrom(s, &underlineEnd);
      return from >= 0 && underlineEnd - from >= 5 * HALF;
    });
    underlineFrom = UnderlineFrom(shot, &underlineEnd);
    WaitFor(Drive("Method", "xdotool key space; sleep 0.5; xdotool key Return"));
  });
  std::string text;
  ASSERT_TRUE(g_Platform->TextInputBox("Method", "", "x", 0, &text));
  method.join();
  // The committed character follows x. (SDL waits 300 ms for the daemon to take each key; on a
  // loaded machine a digit it took too late is typed as well, before the composed text.)
  ASSERT_GE(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 1), "x");
  EXPECT_EQ(text.substr(text.size() - 3), "あ");
  // The text being composed showed at the caret, after what was typed before it, underlined.
  EXPECT_EQ(underlineFrom, TEXT_X + HALF * (int)(text.size() - 3));
  EXPECT_EQ(underlineEnd - underlineFrom, 5 * HALF);
  PlatformQuit();
}

}  // namespace
