// The game window on a real desktop: the runtime started with the SDL backend on a virtual X
// server under the openbox window manager, driven by xdotool and checked through xwininfo, xprop
// and screenshots. Maximise, restore and the window query; the picture centred in the maximised
// window and in full screen on 1080p and 4K screens, with clicks mapped back through the same
// offset; a frameless window moved by a drag on its drag layer and kept out of the taskbar; the
// frame kept on a screen smaller than the game; edge drags that keep the game's shape; the close
// box in each close mode and both thread modes; and the end of a run whose display is lost or
// cannot be opened. Skipped cleanly where a tool is missing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/title_images.h"

namespace {

using Clock = std::chrono::steady_clock;

bool ChildRuns() { return getenv("KIVOR_XVFB_WINDOW") != nullptr; }

bool DesktopToolsPresent() {
  for (const char* tool : {"xvfb-run", "Xvfb", "openbox", "xdotool", "xwininfo", "xprop", "import", "timeout"})
    if (!ProgramOnPath(tool)) return false;
  return true;
}

// Runs one disabled child test of this program on a virtual X server of the given size (at most
// ten minutes); each test starts looking for a free server number at a number of its own.
int RunChildUnderXvfb(const char* child, int display, int width, int height) {
  // X and SDL keep allocations until exit: the runs are about behaviour, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  setenv("KIVOR_XVFB_WINDOW", "1", 1);
  DesktopTestTurn turn;
  std::string screen = "-screen 0 " + std::to_string(width) + "x" + std::to_string(height) + "x24";
  int status = PlatStartProcess({"timeout", "600", KIVOR_XVFB_RUN, "-a", "-n", std::to_string(display), "-s", screen,
                                 PlatExecutablePath(), std::string("--gtest_filter=") + child,
                                 "--gtest_also_run_disabled_tests"},
                                true);
  unsetenv("KIVOR_XVFB_WINDOW");
  return status;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Starts a program with its standard error in `errPath` (standard output dropped) and the
// environment changed by `env` (an empty value removes the name); its id. Spawned as a whole:
// this process has threads (a sanitizer's among them), so nothing may run between a fork and
// the new program.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& errPath,
            const std::map<std::string, std::string>& env = {}) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; e++) {
    std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [name, value] : env)
    if (!value.empty()) environment.push_back(name + "=" + value);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &files, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// Waits for a program to end, at most `seconds`: its wait status, or -1 when it did not end (it
// is then ended).
int WaitForEnd(pid_t pid, int seconds) {
  for (auto deadline = Clock::now() + std::chrono::seconds(seconds); Clock::now() < deadline;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    PlatSleep(20);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Polls `done` every 50 ms until it holds or `seconds` have passed.
bool WaitUntil(int seconds, const std::function<bool()>& done) {
  for (auto deadline = Clock::now() + std::chrono::seconds(seconds); Clock::now() < deadline; PlatSleep(50))
    if (done()) return true;
  return done();
}

// The window manager for one child's desktop: running once the root window names it, ended
// with the child.
class WindowManager {
 public:
  WindowManager() {
    pid_ = Spawn({"openbox", "--sm-disable"}, folder_.path() + "/openbox.txt");
    if (!WaitUntil(120, [] {
          return ProgramOutput("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos;
        }))
      ADD_FAILURE() << "no window manager: " << ReadFile(folder_.path() + "/openbox.txt");
  }
  ~WindowManager() {
    kill(pid_, SIGTERM);
    WaitForEnd(pid_, 30);
  }

 private:
  TempFolder folder_;
  pid_t pid_;
};

// The game picture: a white ring, a black square at 16..79 and blue elsewhere.
std::string Picture(int width, int height) {
  return MakeBmp24(width, height, [&](int x, int y, uint8_t bgr[3]) {
    bool ring = x == 0 || y == 0 || x == width - 1 || y == height - 1;
    bool square = x >= 16 && x < 80 && y >= 16 && y < 80;
    bgr[0] = ring ? 255 : square ? 0 : 200;
    bgr[1] = ring ? 255 : square ? 0 : 80;
    bgr[2] = ring ? 255 : square ? 0 : 40;
  });
}

// A game whose script answers keys: M maximise (and restore), F full screen, W window mode, H
// hide and show again, I a line with the window's state, C one with the cursor's game point, P
// a line, Q the end; every click and every close it is given is noted too. Lines go to the
// game folder's debuglog.txt.
struct GameSpec {
  int width = 640, height = 480;
  std::string config;   // more project settings
  std::string setup;    // commands before the game is ready
  bool gpu = false;     // the user settings choose GPU drawing (the OpenGL device presents)
};

// User settings of 32 words, each one no setting knows (so each keeps its default), but for
// the drawing method: GPU drawing.
std::string GpuDrawingSettings() {
  std::string words;
  for (int i = 0; i < 32; i++) words += i == 8 ? std::string(4, '\0') : std::string(4, '\xFF');
  return words;
}

std::string Listing(const GameSpec& g) {
  return "config width=" + std::to_string(g.width) + " height=" + std::to_string(g.height) + " title=\"Win\" show=1 " +
         g.config + R"(
global int lastkey@135
global int click@136
global int mx@123
global int my@128
global int closed@109
global int m = 0
global int f = 0
global int cw = 0
global int ch = 0
global str note = ""
file start.txt
*SYSTEM_START
layer name="bg" file="bg.bmp" priority=0 visible=1
)" + g.setup + R"(
wait frames=2
note = "win: ready"
enginecall code=51 text=note
*LOOP
wait frames=1
if click != 0
  note = "win: click " + str(mx) + "," + str(my)
  enginecall code=51 text=note
  click = 0
endif
if closed != 0
  closed = 0
  note = "win: close"
  enginecall code=51 text=note
endif
if lastkey == 77
  window window=0 maximize=1
endif
if lastkey == 70
  window window=0 fullscreen=1
endif
if lastkey == 87
  window window=0 fullscreen=0
endif
if lastkey == 73
  windowquery window=0 out=m maximized=1
  windowquery window=0 out=f fullscreen=1
  windowquery window=0 out=cw clientwidth=1
  windowquery window=0 out=ch clientheight=1
  note = "win: info " + str(m) + " " + str(f) + " " + str(cw) + "x" + str(ch)
  enginecall code=51 text=note
endif
if lastkey == 72
  window window=0 minimize=1
  wait frames=30
  window window=0 minimize=0
  note = "win: shown"
  enginecall code=51 text=note
endif
if lastkey == 67
  note = "win: cursor " + str(mx) + "," + str(my)
  enginecall code=51 text=note
endif
if lastkey == 80
  note = "win: ping"
  enginecall code=51 text=note
endif
if lastkey == 81
  end
endif
lastkey = 0
jump LOOP
)";
}

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The runtime playing one game in a folder of its own.
class Game {
 public:
  explicit Game(const GameSpec& spec) : spec_(spec) {}
  ~Game() {
    if (pid_ > 0) WaitForEnd(pid_, 0);
  }

  // Builds the game and starts the runtime on it (`display` empty: the one this program has).
  bool Start(const std::string& display = "", bool platformGiven = true) {
    AssembledSet set;
    if (!AssembleListing(Listing(spec_), &set)) {
      ADD_FAILURE() << set.error;
      return false;
    }
    set.files["bg.bmp"] = Picture(spec_.width, spec_.height);
    if (!WritePackedSet(folder_.path(), set)) return false;
    if (spec_.gpu) folder_.Write("kvcfg.dat", GpuDrawingSettings());
    std::map<std::string, std::string> env = {{"SDL_AUDIODRIVER", "dummy"},
                                              {"KIVOR_PLATFORM", platformGiven ? "sdl" : ""}};
    if (!display.empty()) env["DISPLAY"] = display;
    // Mesa's software rasterizer, all a test machine may have, is taken only when named.
    if (spec_.gpu) env["KIVOR_GPU"] = "gl";
    pid_ = Spawn({std::string(KIVOR_BINARY_DIR) + "/kivor", "--game", folder_.path()}, folder_.path() + "/stderr.txt",
                 env);
    return pid_ > 0;
  }

  // The `n`th line (from 1) of the debug log that starts with `prefix`, waited for a minute at
  // most; empty when it did not come.
  std::string Line(const std::string& prefix, int n = 1) {
    std::string found;
    WaitUntil(60, [&] {
      std::istringstream log(ReadFile(folder_.path() + "/debuglog.txt"));
      std::string line;
      int seen = 0;
      while (std::getline(log, line))
        if (line.rfind(prefix, 0) == 0 && ++seen == n) {
          found = line;
          return true;
        }
      return false;
    });
    if (found.empty()) ADD_FAILURE() << "no line " << n << " \"" << prefix << "\"; the runtime said: " << Stderr();
    return found;
  }
  int Count(const std::string& prefix) {
    std::istringstream log(ReadFile(folder_.path() + "/debuglog.txt"));
    std::string line;
    int seen = 0;
    while (std::getline(log, line)) seen += line.rfind(prefix, 0) == 0;
    return seen;
  }

  // Start and Ready.
  bool Begin() { return Start() && Ready(); }

  // The game window's X id, once it shows and the script is ready.
  bool Ready() {
    if (Line("win: ready").empty()) return false;
    WaitUntil(60, [&] {
      id_ = ProgramOutput("xdotool search --onlyvisible --name '^Win$' 2>/dev/null | head -1");
      while (!id_.empty() && id_.back() == '\n') id_.pop_back();
      return !id_.empty();
    });
    return !id_.empty();
  }

  // Keys to the game window, once it has the focus. The window manager is asked first to make
  // it the active window: its own keys (Alt+F4) act on the window it thinks active.
  void Keys(const std::string& keys) { KeysTo(id_, keys); }
  static void KeysTo(const std::string& id, const std::string& keys) {
    PlatStartProcess({"/bin/sh", "-c",
                      "timeout 10 xdotool windowactivate --sync " + id + " 2>/dev/null; for i in $(seq 300); do "
                      "xdotool windowfocus " + id + " 2>/dev/null; [ \"$(xdotool getwindowfocus)\" = " + id +
                          " ] && break; sleep 0.1; done; xdotool key " + keys},
                     true);
  }

  // The client area on the screen.
  Rect Client() const {
    std::string info = ProgramOutput("xwininfo -id " + id_ + " 2>/dev/null");
    Rect r;
    auto field = [&](const char* name) {
      size_t at = info.find(name);
      return at == std::string::npos ? -1 : atoi(info.c_str() + at + strlen(name));
    };
    r.x = field("Absolute upper-left X:");
    r.y = field("Absolute upper-left Y:");
    r.width = field("Width:");
    r.height = field("Height:");
    return r;
  }
  bool WaitForClient(int width, int height) {
    return WaitUntil(60, [&] {
      Rect r = Client();
      return r.width == width && r.height == height;
    });
  }

  // A key whose answer is the next line starting with `prefix`: that line. A key may be taken
  // late or missed while the window manager moves the focus on a busy machine: the key is
  // pressed again when no answer came in ten seconds (six times at most).
  std::string Ask(const std::string& key, const std::string& prefix) {
    int n = Count(prefix) + 1;
    for (int i = 0; i < 6; i++) {
      Keys(key);
      if (WaitUntil(10, [&] { return Count(prefix) >= n; })) break;
    }
    return Line(prefix, n);
  }
  // A key that changes the window, pressed again as Ask does until `done` holds; whether it did.
  bool Press(const std::string& key, const std::function<bool()>& done) {
    for (int i = 0; i < 6; i++) {
      Keys(key);
      if (WaitUntil(15, done)) return true;
    }
    return false;
  }
  bool PressUntilClient(const std::string& key, int width, int height) {
    return Press(key, [&] {
      Rect r = Client();
      return r.width == width && r.height == height;
    });
  }

  // Q ends the game; its exit status.
  int Quit() {
    Press("q", [&] { return !Running(); });
    return Exit();
  }

  // The exit status once the runtime ended (a minute at most), -1 when it did not end.
  int Exit() {
    if (pid_ > 0) status_ = WaitForEnd(pid_, 60);
    pid_ = -1;
    return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  // Whether the runtime still runs (an ended one is waited for, and Exit gives its status).
  bool Running() {
    if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  std::string Stderr() const { return ReadFile(folder_.path() + "/stderr.txt"); }
  pid_t Pid() const { return pid_; }
  const std::string& Id() const { return id_; }
  const std::string& Folder() const { return folder_.path(); }

 private:
  GameSpec spec_;
  TempFolder folder_;
  pid_t pid_ = -1;
  int status_ = -1;
  std::string id_;
};

// The whole screen, R, G, B per pixel; empty when it could not be taken.
std::vector<uint8_t> Screen(const std::string& folder, int width, int height) {
  std::string path = folder + "/screen.rgb";
  if (PlatStartProcess({"import", "-window", "root", "-depth", "8", "rgb:" + path}, true) != 0) return {};
  std::string bytes = ReadFile(path);
  if (bytes.size() != (size_t)width * height * 3) return {};
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Where the picture lies along a line of the client area: the first and last of `count` pixels
// from (x, y) on, a step (dx, dy) apart, that are not black (the letterbox around the picture is
// black), as screen columns for a row and screen rows for a column.
struct Span {
  int first = -1, last = -1;
};
Span PictureAlong(const std::vector<uint8_t>& rgb, int screenWidth, int x, int y, int dx, int dy, int count) {
  Span s;
  for (int i = 0; i < count; i++, x += dx, y += dy) {
    const uint8_t* p = &rgb[((size_t)y * screenWidth + x) * 3];
    if (!(p[0] | p[1] | p[2])) continue;
    if (s.first < 0) s.first = dx ? x : y;
    s.last = dx ? x : y;
  }
  return s;
}

// The picture of a game of `gw` x `gh` in a client area, as the fit-inside rule makes it: the
// side that binds fills the area, the other keeps the shape, and the rest is shared evenly.
Rect FittedPicture(int gw, int gh, const Rect& area) {
  Rect p;
  if ((double)area.height > (double)gh * area.width / gw) {
    p.width = area.width;
    p.height = (int)((int64_t)gh * area.width / gw);
  } else {
    p.width = (int)((int64_t)gw * area.height / gh);
    p.height = area.height;
  }
  p.x = area.x + (area.width - p.width) / 2;
  p.y = area.y + (area.height - p.height) / 2;
  return p;
}

// Screenshots are taken until the picture lies where `want` says (a minute at most); the last
// spans found are checked. Then the pointer inside the picture reaches the script as the game
// point it covers, and so does a click there. (The game point comes with the next poll of the
// pointer, which with the game-logic thread may follow the click by a frame: the point is
// waited for first.)
void ExpectPictureAndClicks(Game& game, const Rect& want, int screenWidth, int screenHeight, int clicks) {
  Span row, column;
  WaitUntil(60, [&] {
    std::vector<uint8_t> rgb = Screen(game.Folder(), screenWidth, screenHeight);
    if (rgb.empty()) return false;
    Rect client = game.Client();
    row = PictureAlong(rgb, screenWidth, client.x, want.y + want.height / 2, 1, 0, client.width);
    column = PictureAlong(rgb, screenWidth, want.x + want.width / 2, client.y, 0, 1, client.height);
    return row.first == want.x && row.last == want.x + want.width - 1 && column.first == want.y &&
           column.last == want.y + want.height - 1;
  });
  EXPECT_EQ(row.first, want.x);
  EXPECT_EQ(row.last, want.x + want.width - 1);
  EXPECT_EQ(column.first, want.y);
  EXPECT_EQ(column.last, want.y + want.height - 1);
  // A point three quarters across and a quarter down the picture.
  int sx = want.x + want.width * 3 / 4, sy = want.y + want.height / 4;
  int gx = (int)((int64_t)(sx - want.x) * 640 / want.width), gy = (int)((int64_t)(sy - want.y) * 480 / want.height);
  std::string point = std::to_string(gx) + "," + std::to_string(gy);
  PlatStartProcess({"xdotool", "mousemove", std::to_string(sx), std::to_string(sy)}, true);
  std::string seen;
  WaitUntil(60, [&] { return (seen = game.Ask("c", "win: cursor ")) == "win: cursor " + point; });
  EXPECT_EQ(seen, "win: cursor " + point);
  PlatStartProcess({"xdotool", "click", "1"}, true);
  EXPECT_EQ(game.Line("win: click ", clicks), "win: click " + point);
}

// ---------------------------------------------------------------------------------------------
// Maximise, restore, the query and the letterbox.

// On a 1920 x 1080 and a 3840 x 2160 screen, in both thread modes and through the OpenGL device
// too: the maximise command fills the work area and the query says so, the same command
// restores, and the picture is centred in the maximised window and in full screen.
void MaximiseAndFullScreen(int screenWidth, int screenHeight, bool gameThread, bool gpu) {
  SCOPED_TRACE(std::string(gameThread ? "game-logic thread" : "one thread") + (gpu ? ", GPU drawing" : ""));
  WindowManager wm;
  GameSpec spec;
  spec.config = gameThread ? "gamethread=1" : "";
  spec.gpu = gpu;
  Game game(spec);
  ASSERT_TRUE(game.Begin());
  ASSERT_TRUE(game.WaitForClient(640, 480));
  Rect windowed = game.Client();
  EXPECT_EQ(game.Ask("i", "win: info "), "win: info 0 0 640x480");

  // The window manager fills the screen's width and what its title bar leaves of the height.
  ASSERT_TRUE(game.Press("m", [&] { return game.Client().width == screenWidth; }));
  Rect maximized = game.Client();
  EXPECT_EQ(game.Ask("i", "win: info "),
            "win: info 1 0 " + std::to_string(maximized.width) + "x" + std::to_string(maximized.height));
  EXPECT_GT(maximized.height, screenHeight * 9 / 10);
  ExpectPictureAndClicks(game, FittedPicture(640, 480, maximized), screenWidth, screenHeight, 1);

  // The same command again restores the window where it was.
  ASSERT_TRUE(game.PressUntilClient("m", 640, 480));
  EXPECT_EQ(game.Ask("i", "win: info "), "win: info 0 0 640x480");
  EXPECT_TRUE(WaitUntil(30, [&] {
    Rect r = game.Client();
    return r.x == windowed.x && r.y == windowed.y;
  }));

  ASSERT_TRUE(game.PressUntilClient("f", screenWidth, screenHeight));
  ExpectPictureAndClicks(game, FittedPicture(640, 480, Rect{0, 0, screenWidth, screenHeight}), screenWidth,
                         screenHeight, 2);
  ASSERT_TRUE(game.PressUntilClient("w", 640, 480));
  EXPECT_EQ(game.Quit(), 0) << game.Stderr();
}

TEST(DesktopWindow, MaximiseRestoresAndTheLetterboxIsCentredAt1080p) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, Xvfb, openbox, xdotool, xwininfo, xprop or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("DesktopWindowChild.DISABLED_Maximise1080", 241, 1920, 1080), 0);
}

TEST(DesktopWindowChild, DISABLED_Maximise1080) {
  if (!ChildRuns()) GTEST_SKIP();
  MaximiseAndFullScreen(1920, 1080, false, false);
  MaximiseAndFullScreen(1920, 1080, true, false);
}

TEST(DesktopWindow, TheLetterboxIsCentredAt4K) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, Xvfb, openbox, xdotool, xwininfo, xprop or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("DesktopWindowChild.DISABLED_Maximise4K", 251, 3840, 2160), 0);
}

TEST(DesktopWindowChild, DISABLED_Maximise4K) {
  if (!ChildRuns()) GTEST_SKIP();
  MaximiseAndFullScreen(3840, 2160, false, false);
  MaximiseAndFullScreen(3840, 2160, true, true);
}

// ---------------------------------------------------------------------------------------------
// Frames, drags and edges on an 800 x 600 screen.

TEST(DesktopWindow, FramesDragsAndEdgesOnASmallScreen) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, Xvfb, openbox, xdotool, xwininfo, xprop or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("DesktopWindowChild.DISABLED_SmallScreen", 261, 800, 600), 0);
}

// Left, right, top and bottom of the frame around the client area.
std::vector<int> FrameExtents(const std::string& id) {
  std::string text = ProgramOutput("xprop -id " + id + " _NET_FRAME_EXTENTS");
  std::vector<int> v;
  size_t at = text.find('=');
  while (at != std::string::npos && v.size() < 4) {
    v.push_back(atoi(text.c_str() + at + 1));
    at = text.find(',', at + 1);
  }
  return v;
}

// Presses the left button at a client point and, once the script has the press (the next
// input tick hands a drag to the window manager then), moves by (dx, dy) in steps and lets go.
// `clicks` is the count of clicks the script had noted before.
void DragBy(Game& game, int x, int y, int dx, int dy, int clicks) {
  PlatStartProcess({"xdotool", "mousemove", "--window", game.Id(), std::to_string(x), std::to_string(y), "mousedown",
                    "1"},
                   true);
  EXPECT_FALSE(game.Line("win: click ", clicks + 1).empty());
  std::string steps = "sleep 0.5; ";
  for (int i = 0; i < 4; i++)
    steps += "xdotool mousemove_relative -- " + std::to_string(dx / 4) + " " + std::to_string(dy / 4) + "; sleep 0.2; ";
  steps += "sleep 0.5; xdotool mouseup 1";
  PlatStartProcess({"/bin/sh", "-c", steps}, true);
}

// A frameless window with a drag layer, on this desktop (with or without a window manager):
// out of the taskbar, also after it was hidden and shown again; a drag that starts on black
// moves nothing, one that starts on another colour moves the window with the pointer, and the
// button comes back up for the next click.
void FramelessWindowDrags(bool gameThread) {
  SCOPED_TRACE(gameThread ? "frameless, game-logic thread" : "frameless, one thread");
  GameSpec spec;
  spec.width = 320;
  spec.height = 240;
  spec.config = std::string("framed=0") + (gameThread ? " gamethread=1" : "");
  spec.setup = "window window=0 drag=\"bg\"\n";
  Game game(spec);
  ASSERT_TRUE(game.Begin());
  auto outOfTaskbar = [&] {
    return ProgramOutput("xprop -id " + game.Id() + " _NET_WM_STATE").find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos;
  };
  EXPECT_TRUE(outOfTaskbar());
  ASSERT_TRUE(game.WaitForClient(320, 240));
  Rect start = game.Client();
  // A drag that starts on the black square moves nothing; the press still reaches the script.
  DragBy(game, 40, 40, 80, 60, 0);
  Rect after = game.Client();
  EXPECT_EQ(after.x, start.x);
  EXPECT_EQ(after.y, start.y);
  // On any other colour the window moves with the pointer.
  DragBy(game, 200, 150, 80, 60, 1);
  EXPECT_TRUE(WaitUntil(30, [&] {
    Rect r = game.Client();
    return r.x == start.x + 80 && r.y == start.y + 60;
  }));
  // The button came back up: the next click is a click of its own.
  PlatStartProcess({"xdotool", "mousemove", "--window", game.Id(), "100", "120", "click", "1"}, true);
  EXPECT_EQ(game.Line("win: click ", 3), "win: click 100,120");
  // Hidden and shown again, it is still out of the taskbar.
  EXPECT_FALSE(game.Ask("h", "win: shown").empty());
  EXPECT_TRUE(WaitUntil(30, [&] { return ProgramOutput("xwininfo -id " + game.Id()).find("IsViewable") != std::string::npos; }));
  EXPECT_TRUE(outOfTaskbar());
  EXPECT_EQ(game.Quit(), 0) << game.Stderr();
}

TEST(DesktopWindowChild, DISABLED_SmallScreen) {
  if (!ChildRuns()) GTEST_SKIP();
  WindowManager wm;
  {
    SCOPED_TRACE("a window another program destroys");
    Game game(GameSpec{});
    ASSERT_TRUE(game.Begin());
    // The runtime's next requests about the window fail on the server; that ends nothing.
    PlatStartProcess({"xdotool", "windowclose", game.Id()}, true);
    EXPECT_FALSE(WaitUntil(5, [&] { return !game.Running(); })) << game.Stderr();
  }
  {
    SCOPED_TRACE("a game larger than the screen");
    GameSpec spec;
    spec.width = 1024;
    spec.height = 768;
    Game game(spec);
    ASSERT_TRUE(game.Begin());
    std::vector<int> frame;
    ASSERT_TRUE(WaitUntil(60, [&] { return (frame = FrameExtents(game.Id())).size() == 4 && frame[2] > 0; }));
    Rect client = game.Client();
    // The frame's top-left corner, and with it the caption, is on the screen.
    EXPECT_GE(client.x - frame[0], 0);
    EXPECT_GE(client.y - frame[2], 0);
    EXPECT_EQ(game.Quit(), 0) << game.Stderr();
  }
  FramelessWindowDrags(false);
  FramelessWindowDrags(true);
  {
    SCOPED_TRACE("edges of a resizable window");
    GameSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.config = "sizing=1";
    Game game(spec);
    ASSERT_TRUE(game.Begin());
    ASSERT_TRUE(game.WaitForClient(320, 240));
    struct Step {
      int width, height;      // the size the window is dragged to
      int wantWidth, wantHeight;
    };
    const Step steps[] = {
        {480, 240, 480, 360},   // the right edge out: the bottom follows down
        {480, 300, 400, 300},   // the bottom edge up: the right side follows in
        {360, 300, 360, 270},   // the right edge in: the bottom follows up
        {360, 330, 440, 330},   // the bottom edge down: the right side follows out
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
      PlatStartProcess({"xdotool", "windowsize", game.Id(), std::to_string(s.width), std::to_string(s.height)}, true);
      EXPECT_TRUE(game.WaitForClient(s.wantWidth, s.wantHeight));
      EXPECT_EQ(game.Ask("i", "win: info "),
                "win: info 0 0 " + std::to_string(s.wantWidth) + "x" + std::to_string(s.wantHeight));
    }
    EXPECT_EQ(game.Quit(), 0) << game.Stderr();
  }
}

// Without a window manager to hand the drag to, the window follows the pointer itself.
TEST(DesktopWindow, AFramelessWindowMovesByItsDragLayerWithoutAWindowManager) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, Xvfb, openbox, xdotool, xwininfo, xprop or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("DesktopWindowChild.DISABLED_NoManager", 265, 800, 600), 0);
}

TEST(DesktopWindowChild, DISABLED_NoManager) {
  if (!ChildRuns()) GTEST_SKIP();
  FramelessWindowDrags(false);
}

// ---------------------------------------------------------------------------------------------
// The close box.

TEST(DesktopWindow, TheCloseBoxFollowsTheCloseModeInBothThreadModes) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "xvfb-run, Xvfb, openbox, xdotool, xwininfo, xprop or import is missing";
  EXPECT_EQ(RunChildUnderXvfb("DesktopWindowChild.DISABLED_CloseModes", 271, 800, 600), 0);
}

// The question box: the visible window named like the game that is not the game window; empty
// while there is none.
std::string QuestionBox(const Game& game) {
  std::istringstream ids(ProgramOutput("xdotool search --onlyvisible --name '^Win$' 2>/dev/null"));
  std::string id, box;
  while (std::getline(ids, id))
    if (!id.empty() && id != game.Id()) box = id;
  return box;
}

// Alt+F4 to the game window until `done` holds: each press is given ten seconds to take
// effect, as a window manager on a busy machine may take its keys late (six presses at most).
bool CloseUntil(Game& game, const std::function<bool()>& done) {
  for (int i = 0; i < 6; i++) {
    game.Keys("alt+F4");
    if (WaitUntil(10, done)) return true;
  }
  return false;
}

TEST(DesktopWindowChild, DISABLED_CloseModes) {
  if (!ChildRuns()) GTEST_SKIP();
  WindowManager wm;
  for (bool gameThread : {false, true}) {
    std::string threads = gameThread ? "gamethread=1" : "";
    {
      SCOPED_TRACE(std::string("close mode 0, ") + (gameThread ? "game-logic thread" : "one thread"));
      Game game(GameSpec{640, 480, threads, "window window=0 closemode=0\n"});
      ASSERT_TRUE(game.Begin());
      // Each close reaches the script, and the game goes on.
      EXPECT_TRUE(CloseUntil(game, [&] { return game.Count("win: close") >= 1; }));
      EXPECT_TRUE(CloseUntil(game, [&] { return game.Count("win: close") >= 2; }));
      EXPECT_EQ(game.Ask("p", "win: ping"), "win: ping");
      EXPECT_TRUE(game.Running());
      EXPECT_EQ(game.Quit(), 0) << game.Stderr();
    }
    {
      SCOPED_TRACE(std::string("close mode 1, ") + (gameThread ? "game-logic thread" : "one thread"));
      Game game(GameSpec{640, 480, threads, ""});
      ASSERT_TRUE(game.Begin());
      // The question: No (Escape) goes on, Yes (Enter) ends the game.
      ASSERT_TRUE(CloseUntil(game, [&] { return !QuestionBox(game).empty(); }));
      EXPECT_NE(game.Stderr().find("終了します。よろしいですか？"), std::string::npos);
      Game::KeysTo(QuestionBox(game), "Escape");
      EXPECT_TRUE(WaitUntil(60, [&] { return QuestionBox(game).empty(); }));
      EXPECT_EQ(game.Ask("p", "win: ping"), "win: ping");
      EXPECT_EQ(game.Count("win: close"), 0);
      EXPECT_TRUE(game.Running());
      ASSERT_TRUE(CloseUntil(game, [&] { return !QuestionBox(game).empty(); }));
      Game::KeysTo(QuestionBox(game), "Return");
      EXPECT_EQ(game.Exit(), 0) << game.Stderr();
    }
    {
      SCOPED_TRACE(std::string("close mode 2, ") + (gameThread ? "game-logic thread" : "one thread"));
      Game game(GameSpec{640, 480, threads, "window window=0 closemode=2\n"});
      ASSERT_TRUE(game.Begin());
      EXPECT_TRUE(CloseUntil(game, [&] { return !game.Running(); }));
      EXPECT_EQ(game.Exit(), 0) << game.Stderr();
      EXPECT_EQ(game.Count("win: close"), 0);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Displays lost and displays that cannot be opened.

// The X server ends under a running game, in both thread modes: the game ends with status 1
// and a line, not with an abort.
TEST(DesktopWindow, ALostDisplayEndsTheGameWithALineAndStatusOne) {
  if (!DesktopToolsPresent()) GTEST_SKIP() << "Xvfb or xdotool is missing";
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  DesktopTestTurn turn;
  for (bool gameThread : {false, true}) {
    SCOPED_TRACE(gameThread ? "game-logic thread" : "one thread");
    TempFolder work;
    // The server picks a free display number and writes it out.
    pid_t server = Spawn({"/bin/sh", "-c",
                          "exec Xvfb -displayfd 1 -nolisten tcp -screen 0 640x480x24 >'" + work.path() + "/display'"},
                         work.path() + "/xvfb.txt");
    std::string number;
    ASSERT_TRUE(WaitUntil(60, [&] {
      number = ReadFile(work.path() + "/display");
      return !number.empty() && number.back() == '\n';
    }));
    number.pop_back();
    GameSpec spec;
    spec.config = gameThread ? "gamethread=1" : "";
    Game game(spec);
    ASSERT_TRUE(game.Start(":" + number));
    ASSERT_FALSE(game.Line("win: ready").empty());
    kill(server, SIGTERM);
    WaitForEnd(server, 30);
    int status = WaitForEnd(game.Pid(), 60);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_NE(game.Stderr().find("kivor: the connection to the display was lost"), std::string::npos) << game.Stderr();
  }
}

// A display that cannot be opened ends the start with status 1 and a line, and does not keep
// the game's lock: a second start says the same, not that the game is running.
TEST(DesktopWindow, ADisplayThatCannotBeOpenedEndsTheStart) {
  int number = 29000;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
         std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
    number++;
  std::string display = ":" + std::to_string(number);
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  Game game(GameSpec{});
  for (int start = 0; start < 2; start++) {
    SCOPED_TRACE(start);
    ASSERT_TRUE(game.Start(display, false));
    EXPECT_EQ(game.Exit(), 1);
    std::string said = game.Stderr();
    EXPECT_NE(said.find("kivor: cannot open the display " + display), std::string::npos) << said;
    EXPECT_EQ(said.find("already running"), std::string::npos) << said;
  }
}

}  // namespace
