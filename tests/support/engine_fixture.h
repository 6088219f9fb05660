// Test fixture helpers: a fresh headless platform and engine state per test, temporary folders.
#pragma once

#include <string>

#include <gtest/gtest.h>

// A folder under the test's temporary area, created empty; removed by the fixture.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  // Writes `bytes` to `name` (relative, '/' separated; folders are created).
  void Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// True when `program` is found in one of the folders of PATH (tests of outside tools skip
// cleanly without them).
bool ProgramOnPath(const char* program);

// A shell step that waits (at most two minutes) until a visible X window whose name is exactly
// `name` exists, and leaves its id in the shell variable `var`. xdotool's own --sync search
// walks the window tree and gives up with BadWindow when a window is destroyed under it, so the
// search is simply asked again.
std::string FindXWindowStep(const std::string& var, const std::string& name);

// The system's language for the boxes' labels while it lives: LANG set to `lang`, LC_ALL and
// LC_MESSAGES unset; the three are put back as they were after.
class ScopedLanguage {
 public:
  explicit ScopedLanguage(const char* lang);
  ~ScopedLanguage();

 private:
  std::string saved_[3];
  bool had_[3] = {};
};

// Runs one disabled child test of this program (`child`, a gtest filter) on a virtual X server
// of 800 x 600 pixels, at most five minutes; xvfb-run takes the first free server number from
// `display` on. Gives the child's exit status.
int RunTestChildUnderXvfb(const std::string& child, int display);

// What a shell command printed on its standard output.
std::string ProgramOutput(const std::string& shellCommand);

// The tests that script a virtual desktop take their turns while this lives: two at once on a
// busy machine starve each other. The turn is a lock on a file next to the built runtime, so the
// test programs of one build share it whatever private folders each test process has. Waits up
// to four minutes, then goes ahead without the turn (and says so): a queue of such tests must
// not run into the test runner's time limit.
class DesktopTestTurn {
 public:
  DesktopTestTurn();
  ~DesktopTestTurn();
  DesktopTestTurn(const DesktopTestTurn&) = delete;
  DesktopTestTurn& operator=(const DesktopTestTurn&) = delete;

 private:
  int fd_ = -1;
};

// Resets the headless backend (clock at 0, no events, no answers) and the once-per-run
// message state before each test.
class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
