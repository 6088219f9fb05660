// Test fixture helpers shared by every test program.
#include "tests/support/engine_fixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kivor-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::filesystem::path p = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

void HeadlessTest::SetUp() {
  PlatformInit("headless");
  HeadlessReset();
  ResetMessageState();
  g_QuitFlag = 0;
}

void HeadlessTest::TearDown() { HeadlessReset(); }

namespace {
const char* const kLanguageVariables[3] = {"LANG", "LC_ALL", "LC_MESSAGES"};
}  // namespace

ScopedLanguage::ScopedLanguage(const char* lang) {
  for (int i = 0; i < 3; i++) {
    const char* v = getenv(kLanguageVariables[i]);
    had_[i] = v != nullptr;
    saved_[i] = v ? v : "";
    if (i > 0) unsetenv(kLanguageVariables[i]);
  }
  setenv("LANG", lang, 1);
}

ScopedLanguage::~ScopedLanguage() {
  for (int i = 0; i < 3; i++) {
    if (had_[i]) setenv(kLanguageVariables[i], saved_[i].c_str(), 1);
    else unsetenv(kLanguageVariables[i]);
  }
}

bool ProgramOnPath(const char* program) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (std::filesystem::exists(dirs.substr(start, end - start) + "/" + program)) return true;
    start = end + 1;
  }
  return false;
}

int RunTestChildUnderXvfb(const std::string& child, int display) {
  return PlatStartProcess({"timeout", "300", KIVOR_XVFB_RUN, "-a", "-n", std::to_string(display), "-s", "-screen 0 800x600x24",
                           PlatExecutablePath(), "--gtest_filter=" + child, "--gtest_also_run_disabled_tests"},
                          true);
}

std::string FindXWindowStep(const std::string& var, const std::string& name) {
  return "for i in $(seq 1200); do " + var + "=$(xdotool search --onlyvisible --name '^" + name +
         "$' 2>/dev/null | head -1); [ -n \"$" + var + "\" ] && break; sleep 0.1; done; ";
}

std::string ProgramOutput(const std::string& shellCommand) {
  std::string text;
  FILE* p = popen(shellCommand.c_str(), "r");
  if (!p) return text;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p)) text += buffer;
  pclose(p);
  return text;
}

DesktopTestTurn::DesktopTestTurn() {
  std::string path = std::filesystem::path(KIVOR_PROGRAM).parent_path() / "desktop-tests.lock";
  // Close-on-exec: a program the test starts (a window manager may outlive it) must not keep
  // the turn.
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  for (uint32_t start = PlatGetTicks(); fd_ >= 0; PlatSleep(100)) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    if (PlatGetTicks() - start >= 240000) break;
  }
  fprintf(stderr, "no turn for the desktop tests (%s): going ahead alongside another\n", path.c_str());
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

DesktopTestTurn::~DesktopTestTurn() {
  if (fd_ >= 0) close(fd_);
}
