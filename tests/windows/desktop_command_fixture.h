// A running main window with the script engine, the menu tree and clean menu and tray state,
// for the tests of the menu, tray and window commands.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "app/menus.h"
#include "app/window.h"
#include "script/nametree.h"
#include "script/task.h"
#include "script/vars.h"
#include "tests/support/script_fixture.h"
#include "tests/support/window_fixture.h"
#include "tools/lib/assembler.h"

class DesktopCommandTest : public GameWindowTest {
 protected:
  void SetUp() override {
    GameWindowTest::SetUp();
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
    ASSERT_EQ(CreateMenuTreeRoot(), 0);
    g_PopupMenuRequest = 0;
    g_MenuCommand = 0;
    g_MenuBarAvailable = 0;
    g_TrayTip[0] = 0;
  }
  void TearDown() override {
    DestroyAllMenuSets();
    RemoveTrayIcon();
    DeleteMenuSubtree(g_MenuRoot);
    ReleaseScriptEngine();
    GameWindowTest::TearDown();
  }
  // Runs `body` as the start of the main script for one pass, with int r, real f and str s.
  void Run(const std::string& body) {
    std::string listing = std::string(kStandardMessages) + kMessages +
                          "global int r = -7\nglobal real f = -7.0\nglobal str s = \"old\"\n"
                          "file main.txt\n*SYSTEM_START\n" + body + "wait frames=1000\n";
    ASSERT_TRUE(AssembleListing(listing, &set_)) << set_.error;
    ASSERT_TRUE(WriteLooseSet(folder_.path(), set_));
    ResetMessageState();
    g_QuitFlag = 0;
    // A later run in the same test starts the main task afresh.
    NameNode* system = FindNodeByPath(g_TaskRoot, "SYSTEM", NAME_LOOKUP_LEAF);
    if (ScriptTask* task = system ? static_cast<ScriptTask*>(system->mPayload) : nullptr) {
      task->mWaitFrames = 0;
      task->mWaitUntil = 0;
      task->mCallDepth = 0;
      task->mPassStamp = 0;
    }
    ASSERT_EQ(BootScripts(), 0);
    Pass();
  }
  void Pass() {
    g_ScriptPassCounter++;
    RunScriptTasks();
  }
  int Var(const char* name) { return set_.variables.at(name); }
  int64_t Int(const char* name) { return ReadIntElement(Var(name), 0); }
  double Real(const char* name) { return ReadRealElement(Var(name), 0); }
  std::string Text(const char* name) {
    const char* t = ReadStringElement(Var(name), 0);
    return t ? t : "";
  }
  // The id of the numbered message shown ("E<id> ..."), 0 when none.
  int Shown() {
    std::string text = LastErrorDialogText();
    size_t at = text.find('E');
    while (at != std::string::npos && !(at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '9'))
      at = text.find('E', at + 1);
    return at == std::string::npos ? 0 : atoi(text.c_str() + at + 1);
  }
  NameNode* Menu(const char* path) {
    return FindNodeByPath(g_MenuRoot, path, NAME_LOOKUP_ANY);
  }

  static constexpr const char* kMessages =
      "message 100240 \"E100240 %s\"\n"
      "message 100260 \"E100260 %s %s\"\n"
      "message 101250 \"E101250 %s %s\"\n"
      "message 101310 \"E101310 %s %s %d\"\n"
      "message 101320 \"E101320 %s\"\n"
      "message 101330 \"E101330 %s %s %d\"\n";
  TempFolder folder_;
  AssembledSet set_;
};
