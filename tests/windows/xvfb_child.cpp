// Running a test's child on a virtual X server, and the xdotool and shell steps that drive it.
#include "tests/windows/xvfb_child.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

bool XvfbToolsPresent() { return ProgramOnPath("xvfb-run") && ProgramOnPath("xdotool") && ProgramOnPath("timeout"); }

int RunChildUnderXvfb(const char* child, int display, const std::vector<std::string>& wrapper, const char* screen) {
  // X and SDL keep allocations until exit; the child's run is about behaviour, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_XVFB_DESKTOP", "1", 1);
  DesktopTestTurn turn;
  std::vector<std::string> argv = {"timeout", "300"};
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  for (const std::string& a : {std::string(KIVOR_XVFB_RUN), std::string("-a"), std::string("-n"), std::to_string(display),
                               std::string("-s"), "-screen 0 " + std::string(screen), PlatExecutablePath(),
                               std::string("--gtest_filter=") + child, std::string("--gtest_also_run_disabled_tests")})
    argv.push_back(a);
  int status = PlatStartProcess(argv, true);
  unsetenv("KIVOR_XVFB_DESKTOP");
  return status;
}

bool ChildRuns() { return getenv("KIVOR_XVFB_DESKTOP") != nullptr; }

int Drive(const std::string& window, const std::string& steps) {
  // The keys go where the focus is: the script gives it to the window and waits until it is there.
  std::string script = FindXWindowStep("id", window) + "for i in $(seq 600); do xdotool windowfocus $id 2>/dev/null; " +
                       "[ \"$(xdotool getwindowfocus)\" = \"$id\" ] && break; sleep 0.1; done; " + steps;
  return PlatStartWatchedProcess({"/bin/sh", "-c", script});
}

void WaitFor(int process) {
  for (int i = 0; i < 6000 && !PlatProcessEnded(process); i++) PlatSleep(10);
}

bool StartWindowManager() {
  if (!ProgramOnPath("openbox") || !ProgramOnPath("xprop")) return false;
  if (PlatStartWatchedProcess({"/bin/sh", "-c", "exec openbox --sm-disable 2>/dev/null"}) < 0) return false;
  // A manager announces itself on the root window once it manages windows.
  return PlatStartProcess({"/bin/sh", "-c",
                           "for i in $(seq 600); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | "
                           "grep -q 'window id' && exit 0; sleep 0.1; done; exit 1"},
                          true) == 0;
}

bool OpenGameWindow(const char* title) {
  if (!PlatformInit("sdl") || !g_Platform->CreateWindow(0, 320, 240, title)) return false;
  g_Platform->ShowWindow(0, true);
  return true;
}
