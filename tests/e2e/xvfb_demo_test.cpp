// The built demo in a real window: the runtime started with the SDL backend on a virtual X
// server shows the title screen, and screenshots of that server hold the blended pixels and,
// a little later, the first message's text; after a scripted click, the second message's.
// Skipped cleanly where xvfb-run, ImageMagick's import, xdotool or timeout is missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/title_images.h"

namespace {

constexpr int SCREEN_W = 800, SCREEN_H = 600;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// Known pixels of the title on a grid above the message box: the background, the band
// multiplied over it and the glow added on top, each exactly as composed. The window may sit
// anywhere on the screen: every place whose first grid pixel matches is tried, and the fewest
// wrong pixels of any place are kept in `best` when lower.
void FindTitle(const std::vector<uint8_t>& rgb, int* best, int* bestX, int* bestY) {
  static const std::vector<uint8_t> title = ExpectedTitle();
  auto wrongAt = [&](int ox, int oy) {
    int wrong = 0;
    for (int y = 4; y < 340; y += 12)
      for (int x = 3; x < TITLE_SCREEN_WIDTH; x += 20) {
        const uint8_t* s = &rgb[((size_t)(oy + y) * SCREEN_W + ox + x) * 3];
        const uint8_t* t = &title[((size_t)y * TITLE_SCREEN_WIDTH + x) * 3];
        wrong += s[0] != t[2] || s[1] != t[1] || s[2] != t[0];
      }
    return wrong;
  };
  for (int oy = 0; oy + TITLE_SCREEN_HEIGHT <= SCREEN_H && *best != 0; oy++)
    for (int ox = 0; ox + TITLE_SCREEN_WIDTH <= SCREEN_W && *best != 0; ox++) {
      const uint8_t* s = &rgb[((size_t)(oy + 4) * SCREEN_W + ox + 3) * 3];
      const uint8_t* t = &title[((size_t)4 * TITLE_SCREEN_WIDTH + 3) * 3];
      if (s[0] != t[2] || s[1] != t[1] || s[2] != t[0]) continue;
      int wrong = wrongAt(ox, oy);
      if (*best < 0 || wrong < *best) *best = wrong, *bestX = ox, *bestY = oy;
    }
}

// Runs one disabled child test of this program on a virtual X server (at most five minutes):
// the child then drives the runtime and looks at the screen itself, as often as it needs.
int RunChildUnderXvfb(const char* child, int display) {
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  return PlatStartProcess({"timeout", "300", KIVOR_XVFB_RUN, "-a", "-n", std::to_string(display), "-s", screen,
                           PlatExecutablePath(), std::string("--gtest_filter=") + child, "--gtest_also_run_disabled_tests"},
                          true);
}

// The whole screen, R, G, B per pixel; false when it could not be taken.
bool TakeScreen(const std::string& path, std::vector<uint8_t>* rgb) {
  if (PlatStartProcess({"import", "-window", "root", "-depth", "8", "rgb:" + path}, true) != 0) return false;
  rgb->assign((size_t)SCREEN_W * SCREEN_H * 3, 0);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(rgb->data()), (std::streamsize)rgb->size());
  return (size_t)in.gcount() == rgb->size();
}

// The message box of the demo, below the title's checked pixels, in a window placed at (x, y).
int WhiteInBox(const std::vector<uint8_t>& shot, int x0, int y0) {
  int white = 0;
  for (int y = 350; y < 460; y++)
    for (int x = 20; x < 620; x++) {
      const uint8_t* p = &shot[((size_t)(y0 + y) * SCREEN_W + x0 + x) * 3];
      white += p[0] > 200 && p[1] > 200 && p[2] > 200;
    }
  return white;
}

int ChangedInBox(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int x0, int y0) {
  int changed = 0;
  for (int y = 350; y < 460; y++)
    for (int x = 20; x < 620; x++) {
      size_t at = ((size_t)(y0 + y) * SCREEN_W + x0 + x) * 3;
      changed += a[at] != b[at] || a[at + 1] != b[at + 1] || a[at + 2] != b[at + 2];
    }
  return changed;
}

bool BeforeDeadline(std::chrono::steady_clock::time_point deadline) { return std::chrono::steady_clock::now() < deadline; }

TEST(XvfbDemo, TheTitleScreenShowsInAnSdlWindow) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import") || !ProgramOnPath("xdotool") || !ProgramOnPath("timeout"))
    GTEST_SKIP() << "xvfb-run, import, xdotool or timeout is not installed";
  std::string pack = BuiltDemoPack();
  ASSERT_FALSE(pack.empty()) << "the demo game is built by the kivor_demo target";
  TempFolder game;
  game.Write("data.kpk", pack);
  setenv("KIVOR_XVFB_DEMO_GAME", game.path().c_str(), 1);
  // X and SDL keep allocations until exit: the run is about pixels, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  EXPECT_EQ(RunChildUnderXvfb("XvfbDemoChild.DISABLED_TitleAndMessages", 131), 0);
  unsetenv("KIVOR_XVFB_DEMO_GAME");
}

// Each step waits for what it needs to see, screenshot after screenshot, within one generous
// deadline, so a slow start on a busy machine changes only how long the run takes.
TEST(XvfbDemoChild, DISABLED_TitleAndMessages) {
  const char* game = getenv("KIVOR_XVFB_DEMO_GAME");
  if (!game) GTEST_SKIP();
  TempFolder work;
  const std::string shotPath = work.path() + "/screen.rgb";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(200);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("KIVOR_PLATFORM", "sdl", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    std::string runtime = std::string(KIVOR_BINARY_DIR) + "/kivor";
    execl(runtime.c_str(), runtime.c_str(), "--game", game, (char*)nullptr);
    _exit(127);
  }
  struct Ender {
    pid_t pid;
    ~Ender() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } ender{pid};
  // The window is mapped.
  ASSERT_EQ(PlatStartProcess({"/bin/sh", "-c", FindXWindowStep("id", "KIVOR demo") + "[ -n \"$id\" ]"}, true), 0);
  // The title has faded in and the first message is typed whole into the box below it: the
  // title's pixels are exact and the box holds text that no longer changes between two shots.
  std::vector<uint8_t> rgb, previous, settled;
  int best = -1, bestX = 0, bestY = 0;
  while (settled.empty() && BeforeDeadline(deadline)) {
    if (!TakeScreen(shotPath, &rgb)) continue;
    best = -1;
    FindTitle(rgb, &best, &bestX, &bestY);
    if (best == 0 && WhiteInBox(rgb, bestX, bestY) > 100 && !previous.empty() &&
        ChangedInBox(rgb, previous, bestX, bestY) == 0)
      settled = rgb;
    previous = best == 0 ? rgb : std::vector<uint8_t>{};
    PlatSleep(200);
  }
  ASSERT_FALSE(settled.empty()) << "no title with a finished message; closest place " << bestX << "," << bestY
                                << " with " << best << " wrong pixels";
  // The first page waits whole for its click: a real click through the X server brings the
  // next page, also in white.
  ASSERT_EQ(PlatStartProcess({"xdotool", "search", "--onlyvisible", "--name", "^KIVOR demo$", "mousemove", "--window", "%1",
                              "320", "400", "click", "1"},
                             true),
            0);
  int white = 0, changed = 0;
  while (BeforeDeadline(deadline) && (white <= 100 || changed <= 200)) {
    PlatSleep(100);
    if (!TakeScreen(shotPath, &rgb)) continue;
    white = WhiteInBox(rgb, bestX, bestY);
    changed = ChangedInBox(rgb, settled, bestX, bestY);
  }
  EXPECT_GT(white, 100) << "no message text after the click";
  EXPECT_GT(changed, 200) << "the click did not bring the next page";
}

}  // namespace
