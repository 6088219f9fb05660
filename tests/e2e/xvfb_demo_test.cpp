// The built demo in a real window: the runtime started with the SDL backend on a virtual X
// server shows the title screen, and screenshots of that server hold the blended pixels and,
// a little later, the first message's text; after a scripted click, the second message's.
// Skipped cleanly where xvfb-run, ImageMagick's import, xwininfo or xdotool is missing.
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

TEST(XvfbDemo, TheTitleScreenShowsInAnSdlWindow) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import") || !ProgramOnPath("xwininfo") ||
      !ProgramOnPath("xdotool"))
    GTEST_SKIP() << "xvfb-run, import, xwininfo or xdotool is not installed";
  std::string pack = BuiltDemoPack();
  ASSERT_FALSE(pack.empty()) << "the demo game is built by the kivor_demo target";
  TempFolder game, work;
  game.Write("data.kpk", pack);
  // The title has faded in a moment after the window appears; the game then waits at its first
  // message, whose box lies below the pixels checked here. Ten shots a second apart allow for
  // a slow start on a busy machine. X and SDL keep allocations until exit: the run is about pixels, not leaks.
  std::string shots = work.path() + "/shot";
  std::string script =
      "KIVOR_PLATFORM=sdl SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 " +
      Quoted(std::string(KIVOR_BINARY_DIR) + "/kivor") + " --game " + Quoted(game.path()) +
      " >/dev/null 2>&1 & pid=$!; i=0; while [ $i -lt 150 ] && ! xwininfo -root -tree 2>/dev/null | grep -q 'KIVOR demo'; "
      "do sleep 0.2; i=$((i+1)); done; status=0; for n in 1 2 3 4 5 6 7 8 9 10; do sleep 1; import -window root -depth 8 rgb:" +
      Quoted(shots) + "$n.rgb || status=1; done; "
      // The first page waits whole for its click: a real click through the X server goes on.
      "wid=$(xdotool search --name 'KIVOR demo' | head -n 1); "
      "xdotool mousemove --window \"$wid\" 320 400 click 1 || status=1; sleep 5; "
      "import -window root -depth 8 rgb:" + Quoted(shots) + "click.rgb || status=1; kill $pid; wait $pid; exit $status";
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  ASSERT_EQ(PlatStartProcess({"xvfb-run", "-a", "-n", "131", "-s", screen, "sh", "-c", script}, true), 0);
  int best = -1, bestX = 0, bestY = 0;
  std::vector<uint8_t> rgb((size_t)SCREEN_W * SCREEN_H * 3);
  for (int n = 1; n <= 10; n++) {
    std::ifstream in(shots + std::to_string(n) + ".rgb", std::ios::binary);
    in.read(reinterpret_cast<char*>(rgb.data()), (std::streamsize)rgb.size());
    ASSERT_EQ((size_t)in.gcount(), rgb.size());
    if (best != 0) FindTitle(rgb, &best, &bestX, &bestY);
  }
  ASSERT_EQ(best, 0) << "closest place " << bestX << "," << bestY;
  // By the last shot the first message stands in white in the black box below; after the
  // click the box holds another page, also in white.
  auto whiteInBox = [&](const std::vector<uint8_t>& shot) {
    int white = 0;
    for (int y = 350; y < 460; y++)
      for (int x = 20; x < 620; x++) {
        const uint8_t* p = &shot[((size_t)(bestY + y) * SCREEN_W + bestX + x) * 3];
        white += p[0] > 200 && p[1] > 200 && p[2] > 200;
      }
    return white;
  };
  EXPECT_GT(whiteInBox(rgb), 100) << "no message text in the box";
  std::vector<uint8_t> clicked(rgb.size());
  std::ifstream in(shots + "click.rgb", std::ios::binary);
  in.read(reinterpret_cast<char*>(clicked.data()), (std::streamsize)clicked.size());
  ASSERT_EQ((size_t)in.gcount(), clicked.size());
  EXPECT_GT(whiteInBox(clicked), 100) << "no message text after the click";
  int changed = 0;
  for (int y = 350; y < 460; y++)
    for (int x = 20; x < 620; x++) {
      size_t at = ((size_t)(bestY + y) * SCREEN_W + bestX + x) * 3;
      changed += rgb[at] != clicked[at] || rgb[at + 1] != clicked[at + 1] || rgb[at + 2] != clicked[at + 2];
    }
  EXPECT_GT(changed, 200) << "the click did not bring the next page";
}

}  // namespace
