// A movie on a real X display: under a virtual X server the SDL backend shows the movie's
// picture, exactly as FFmpeg decodes it, at the movie rectangle over the window's picture, posts
// the end once, and the window shows the game's pictures again after it. Skipped cleanly where
// xvfb-run, ImageMagick's import or the ffmpeg tool is missing.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int SCREEN_W = 320, SCREEN_H = 240;
constexpr int W = 64, H = 48, FPS = 5, FRAMES = 8;
constexpr int WIN_W = 96, WIN_H = 72;
constexpr PlatRect kRect = {20, 10, W, H};
constexpr uint8_t kGround[4] = {0x30, 0x70, 0x10, 0xFF};
constexpr uint8_t kAfter[4] = {0x90, 0x20, 0x50, 0xFF};

std::string ToolPath(const char* name) {
  const char* path = getenv("PATH");
  std::istringstream in(path ? path : "");
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && PlatIsProgramFile(dir + "/" + name)) return dir + "/" + name;
  return std::string();
}

TEST(MovieXvfb, SdlWindowShowsTheMovieOverItsPictureAndGoesOnAfterTheEnd) {
  std::string ffmpeg = ToolPath("ffmpeg");
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("import") || ffmpeg.empty())
    GTEST_SKIP() << "xvfb-run, import or ffmpeg is not installed";
  TempFolder folder;
  std::string movie = folder.path() + "/op.mp4";
  std::string size = std::to_string(W) + "x" + std::to_string(H);
  ASSERT_EQ(PlatStartProcess({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "testsrc=size=" + size + ":rate=" + std::to_string(FPS) + ":duration=" +
                                  std::to_string(double(FRAMES) / FPS),
                              "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=1.6", "-c:v",
                              "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", movie},
                             true),
            0);
  ASSERT_EQ(PlatStartProcess({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", movie, "-fps_mode", "passthrough",
                              "-f", "rawvideo", "-pix_fmt", "bgra", movie + ".bgra"},
                             true),
            0);
  setenv("KIVOR_MOVIE_XVFB", movie.c_str(), 1);
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  std::string screen = "-screen 0 " + std::to_string(SCREEN_W) + "x" + std::to_string(SCREEN_H) + "x24";
  int status = PlatStartProcess({KIVOR_XVFB_RUN, "-a", "-n", "171", "-s", screen, PlatExecutablePath(),
                                 "--gtest_filter=MovieXvfbChild.DISABLED_PlaysOverTheWindow",
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_MOVIE_XVFB");
  EXPECT_EQ(status, 0);
}

// The screen's pixels (RGB), taken while the main thread waits, so the picture holds still.
std::vector<uint8_t> Screenshot(const std::string& file) {
  std::vector<uint8_t> rgb(size_t(SCREEN_W) * SCREEN_H * 3);
  if (PlatStartProcess({"import", "-window", "root", "-depth", "8", "rgb:" + file}, true) != 0) return {};
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
  if (size_t(in.gcount()) != rgb.size()) return {};
  return rgb;
}

bool PixelIs(const std::vector<uint8_t>& rgb, const PlatRect& win, int x, int y, const uint8_t* bgra) {
  const uint8_t* s = rgb.data() + (size_t(win.y + y) * SCREEN_W + win.x + x) * 3;
  return s[0] == bgra[2] && s[1] == bgra[1] && s[2] == bgra[0];
}

// The frame of the movie the rectangle shows exactly, -1 for none.
int ShownFrame(const std::vector<uint8_t>& rgb, const PlatRect& win, const std::string& frames) {
  for (int k = 0; size_t(k + 1) * W * H * 4 <= frames.size(); k++) {
    const uint8_t* f = reinterpret_cast<const uint8_t*>(frames.data()) + size_t(k) * W * H * 4;
    bool same = true;
    for (int y = 0; y < H && same; y++)
      for (int x = 0; x < W && same; x++) same = PixelIs(rgb, win, kRect.x + x, kRect.y + y, f + (size_t(y) * W + x) * 4);
    if (same) return k;
  }
  return -1;
}

bool OutsideIs(const std::vector<uint8_t>& rgb, const PlatRect& win, const uint8_t* bgra) {
  for (int y = 0; y < WIN_H; y++)
    for (int x = 0; x < WIN_W; x++) {
      bool inside = x >= kRect.x && x < kRect.x + W && y >= kRect.y && y < kRect.y + H;
      if (!inside && !PixelIs(rgb, win, x, y, bgra)) return false;
    }
  return true;
}

void Present(const uint8_t* bgra) {
  std::vector<uint8_t> pic(size_t(WIN_W) * WIN_H * 4);
  for (size_t i = 0; i < pic.size(); i++) pic[i] = bgra[i % 4];
  g_Platform->PresentFrame(0, pic.data(), WIN_W, WIN_H, WIN_W * 4, 0, 0, WIN_W, WIN_H);
}

// Pumps the window for `ms` of real time; returns the movie ends seen.
int Pump(int ms) {
  int ends = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_MOVIE_END && e.window == 0) ends++;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < until);
  return ends;
}

// Runs inside the virtual X server, started by the test above.
TEST(MovieXvfbChild, DISABLED_PlaysOverTheWindow) {
  const char* movie = getenv("KIVOR_MOVIE_XVFB");
  if (!movie) GTEST_SKIP() << "runs only under the screenshot test";
  std::string frames;
  {
    std::ifstream in(std::string(movie) + ".bgra", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    frames = s.str();
  }
  ASSERT_GE(frames.size(), size_t(W) * H * 4 * FRAMES);
  std::string shot = std::string(movie) + ".shot";
  ASSERT_TRUE(PlatformInit("sdl"));
  PlatAudioOpen(44100);
  ASSERT_TRUE(g_Platform->CreateWindow(0, WIN_W, WIN_H, "movie"));
  g_Platform->ShowWindow(0, true);
  Present(kGround);
  ASSERT_TRUE(g_PlatformMedia->MovieOpen(0, movie, kRect.x, kRect.y, kRect.width, kRect.height, -2000));
  PlatRect win;
  ASSERT_TRUE(g_Platform->GetWindowRect(0, &win));

  // While it plays, each look shows one of the movie's own pictures at the rectangle, later
  // ones as time goes on, with the window's picture around it.
  int ends = 0, first = -1, last = -1;
  for (int attempt = 0; attempt < 6; attempt++) {
    ends += Pump(120);
    std::vector<uint8_t> rgb = Screenshot(shot);
    ASSERT_FALSE(rgb.empty());
    int k = ShownFrame(rgb, win, frames);
    if (k < 0 || !OutsideIs(rgb, win, kGround)) continue;
    if (first < 0) first = k;
    EXPECT_GE(k, last);
    last = k;
  }
  EXPECT_GE(first, 0);
  EXPECT_GT(last, first);

  // The end comes once; the game's next picture then shows in the whole window.
  for (int i = 0; i < 100 && ends == 0; i++) ends += Pump(50);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(Pump(200), 0);
  g_PlatformMedia->MovieClose();
  Present(kAfter);
  bool after = false;
  for (int attempt = 0; attempt < 10 && !after; attempt++) {
    Pump(50);
    std::vector<uint8_t> rgb = Screenshot(shot);
    after = !rgb.empty() && OutsideIs(rgb, win, kAfter) && PixelIs(rgb, win, kRect.x + 5, kRect.y + 5, kAfter);
  }
  EXPECT_TRUE(after);
  g_Platform->DestroyWindow(0);
  PlatAudioClose();
  PlatformQuit();
}

}  // namespace
