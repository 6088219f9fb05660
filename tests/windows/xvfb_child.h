// Running a test's child on a virtual X server: the parent starts this program again under
// xvfb-run with one disabled child test, which opens its windows there and drives them with
// xdotool scripts. Shared by the desktop tests of the SDL backend.
#pragma once

#include <string>
#include <vector>

// Whether xvfb-run, xdotool and timeout are installed (the tests skip cleanly without them).
bool XvfbToolsPresent();

// Runs one disabled child test of this program under a virtual X server of `screen` (xvfb-run's
// "WxHxD"), at most five minutes; `wrapper` goes before xvfb-run (dbus-run-session, say). Each
// test starts looking for a free server number at a number of its own, so tests running at the
// same time never share a server; the runs take turns, since two scripted desktops at once on a
// busy machine starve each other. Returns the child's exit status.
int RunChildUnderXvfb(const char* child, int display, const std::vector<std::string>& wrapper = {},
                      const char* screen = "800x600x24");

// Whether this process is such a child.
bool ChildRuns();

// Starts an xdotool script in the background; `$id` holds the window whose name is `window`,
// which has the keyboard focus when the steps start. X delivers events in the order they were
// sent, so the steps need no pauses between them: what a key opens is open before the next key
// is read.
int Drive(const std::string& window, const std::string& steps);

// Waits for a script to end, at most a minute.
void WaitFor(int process);

// Starts the window manager openbox on the child's display and waits until it manages windows;
// false when it is not installed or does not come up within a minute.
bool StartWindowManager();

// Starts the SDL backend and shows a 320 x 240 game window named `title` in slot 0.
bool OpenGameWindow(const char* title = "game");
