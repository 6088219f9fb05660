// How a run ends as seen from outside: the command line's own options, the exit status and the
// message on stderr of every kind of end, quit signals, and a loop without a wait that must
// still answer the window.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/game_start_fixture.h"
#include "tests/support/runtime_process.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/assembler.h"

namespace {

class ExitStatus : public GameStartTest {
 protected:
  void TearDown() override {
    ReleaseScriptEngine();
    GameStartTest::TearDown();
  }
  void WriteGame(const std::string& listing) {
    AssembledSet set;
    ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
    ASSERT_TRUE(WritePackedSet(game_.path(), set));
  }
  // Runs the engine in this process and returns its status; `err` gets what it wrote to stderr.
  int RunCaptured(const std::vector<std::string>& args, std::string* err) {
    testing::internal::CaptureStderr();
    int status = RunEngine(args);
    *err = testing::internal::GetCapturedStderr();
    return status;
  }
};

struct EndCase {
  const char* name;
  const char* listing;   // null: no game at all; "" with a pack of junk bytes
  int status;
  const char* says;      // a part of the stderr text ("" for nothing in particular)
};

const EndCase kEndCases[] = {
    {"normal end", "config width=160 height=48\nfile start.txt\n*SYSTEM_START\nend\n", EXIT_NORMAL, ""},
    {"fatal numbered message", "config width=160 height=48\nfile start.txt\n*SYSTEM_START\nwait frames=1\n", EXIT_ERROR,
     "KIVOR Debug Info."},
    {"garbage pack", "", EXIT_ERROR, ""},
    {"empty game folder", nullptr, EXIT_USAGE, "no game found in"},
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

// A parameterised case's name as a test name: its words joined by underscores.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!isalnum((unsigned char)ch)) ch = '_';
  return name;
}

// One run per test: a run keeps its trees until the next one replaces them.
class EndOfRun : public ExitStatus, public testing::WithParamInterface<EndCase> {};

TEST_P(EndOfRun, HasItsStatusAndItsWord) {
  const EndCase& c = GetParam();
  if (c.listing && *c.listing) WriteGame(c.listing);
  else if (c.listing) game_.Write("data.kpk", std::string(300, '\x5a'));
  std::string err;
  EXPECT_EQ(RunCaptured({"kivor", "--game", game_.path()}, &err), c.status);
  EXPECT_NE(err.find(c.says), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Each, EndOfRun, testing::ValuesIn(kEndCases),
                         CaseName<EndCase>);

struct SizeCase {
  const char* name;
  int width, height;
  int status;
  const char* says;   // a part of the box's text on stderr ("" for a game that starts)
};

// The project settings allow a game 128 to 8192 wide and 16 to 8192 high, or 0 x 0 for the
// desktop's size. Every such size starts; any other is refused with message 901020, which comes
// before the game's message table is loaded, so the engine's own text says what is wrong.
const SizeCase kSizeCases[] = {
    {"smallest", 128, 16, EXIT_NORMAL, ""},
    {"widest and lowest", 8192, 16, EXIT_NORMAL, ""},
    {"narrowest and highest", 128, 8192, EXIT_NORMAL, ""},
    {"the desktop size", 0, 0, EXIT_NORMAL, ""},
    {"64 x 48", 64, 48, EXIT_ERROR, "幅は 128 から 8192、高さは 16 から 8192 までです。"},
    {"one pixel too narrow", 127, 600, EXIT_ERROR, "ゲーム画面サイズが範囲外です。"},
    {"one pixel too low", 128, 15, EXIT_ERROR, "ゲーム画面サイズが範囲外です。"},
    {"one pixel too wide", 8193, 600, EXIT_ERROR, "ゲーム画面サイズが範囲外です。"},
    {"only the width 0", 0, 600, EXIT_ERROR, "ゲーム画面サイズが範囲外です。"},
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class GameSize : public ExitStatus, public testing::WithParamInterface<SizeCase> {};

TEST_P(GameSize, StartsWhenTheProjectSettingsAllowItElseSaysWhy) {
  const SizeCase& c = GetParam();
  WriteGame("config width=" + std::to_string(c.width) + " height=" + std::to_string(c.height) +
            "\nglobal str note = \"started\"\nfile start.txt\n*SYSTEM_START\nenginecall code=51 text=note\nend\n");
  std::string err;
  EXPECT_EQ(RunCaptured({"kivor", "--game", game_.path()}, &err), c.status);
  if (c.status == EXIT_NORMAL) {
    EXPECT_NE(DebugLog().find("started"), std::string::npos);
    EXPECT_EQ(err.find("[KIVOR Debug Info.]"), std::string::npos) << err;
    return;
  }
  EXPECT_NE(err.find("[KIVOR Debug Info.] "), std::string::npos) << err;
  EXPECT_NE(err.find(c.says), std::string::npos) << err;
  EXPECT_EQ(err.find("エラー文字列の指定ミスです"), std::string::npos) << err;
  EXPECT_EQ(DebugLog().find("started"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Each, GameSize, testing::ValuesIn(kSizeCases),
                         CaseName<SizeCase>);

// The same sizes with the SDL backend on a virtual X server: the smallest and the largest games
// and the desktop-sized one open their window and end; the game of 64 x 48 shows the box that
// says why, which a key press then closes. Skipped where xvfb-run, xdotool or timeout is missing.
TEST_F(ExitStatus, GameSizesStartOrSayWhyWithTheSdlBackend) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("xdotool") || !ProgramOnPath("timeout"))
    GTEST_SKIP() << "xvfb-run, xdotool or timeout is not installed";
  const struct {
    int width, height, status;
  } cases[] = {{128, 16, EXIT_NORMAL}, {8192, 8192, EXIT_NORMAL}, {0, 0, EXIT_NORMAL}, {64, 48, EXIT_ERROR}};
  std::string script = "export KIVOR_PLATFORM=sdl SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0; ";
  std::vector<std::string> folders;
  for (const auto& c : cases) {
    std::string folder = game_.path() + "/g" + std::to_string(c.width) + "x" + std::to_string(c.height);
    folders.push_back(folder);
    AssembledSet set;
    ASSERT_TRUE(AssembleListing("config width=" + std::to_string(c.width) + " height=" + std::to_string(c.height) +
                                    " title=\"size\" show=1\nglobal str note = \"started\"\nfile start.txt\n"
                                    "*SYSTEM_START\nenginecall code=51 text=note\nwait frames=2\nend\n",
                                &set))
        << set.error;
    ASSERT_TRUE(WritePackedSet(folder, set));
    std::string run = std::string("'") + KIVOR_PROGRAM + "' --game '" + folder + "' 2>'" + folder + "/stderr.txt'";
    if (c.status == EXIT_NORMAL) {
      script += run + "; echo $? >'" + folder + "/status.txt'; ";
      continue;
    }
    // The box waits for its answer: Return, once the box has the focus, takes its one button.
    script += "(" + run + "; echo $? >'" + folder + "/status.txt') & " + FindXWindowStep("id", "KIVOR Debug Info.") +
              "for i in $(seq 600); do xdotool windowfocus $id 2>/dev/null; "
              "[ \"$(xdotool getwindowfocus)\" = \"$id\" ] && break; sleep 0.1; done; xdotool key Return; wait; ";
  }
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  int status = PlatStartProcess({"timeout", "300", KIVOR_XVFB_RUN, "-a", "-n", "241", "-s", "-screen 0 800x600x24",
                                 "/bin/sh", "-c", script},
                                true);
  EXPECT_EQ(status, 0);
  for (size_t i = 0; i < folders.size(); i++) {
    SCOPED_TRACE(folders[i]);
    std::string err = ReadWholeFile(folders[i] + "/stderr.txt");
    EXPECT_EQ(atoi(ReadWholeFile(folders[i] + "/status.txt").c_str()), cases[i].status) << err;
    bool started = ReadWholeFile(folders[i] + "/debuglog.txt").find("started") != std::string::npos;
    EXPECT_EQ(started, cases[i].status == EXIT_NORMAL) << err;
    if (cases[i].status != EXIT_NORMAL)
      EXPECT_NE(err.find("ゲーム画面サイズが範囲外です。"), std::string::npos) << err;
  }
}

TEST_F(ExitStatus, AGameFolderThatIsNotThereOrIsAFileEndsBeforeAnyWindow) {
  game_.Write("notes.txt", "x");
  const std::string cases[][2] = {{game_.path() + "/missing", "there is no folder"},
                                  {game_.path() + "/notes.txt", "is a file, not a game folder"}};
  for (const auto& c : cases) {
    HeadlessClearCalls();
    std::string err;
    EXPECT_EQ(RunCaptured({"kivor", "--game", c[0]}, &err), EXIT_USAGE);
    EXPECT_NE(err.find(c[1]), std::string::npos) << err;
    EXPECT_TRUE(HeadlessCalls().empty());   // no window, no dialog
  }
  std::string err;
  EXPECT_EQ(RunCaptured({"kivor", "--game"}, &err), EXIT_USAGE);
  EXPECT_NE(err.find("--game needs a folder"), std::string::npos) << err;
}

TEST_F(ExitStatus, HelpAndVersionAnswerOnStandardOutput) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunEngine({"kivor", "--help"}), EXIT_NORMAL);
  std::string help = testing::internal::GetCapturedStdout();
  EXPECT_EQ(help.rfind("Usage: kivor [--game FOLDER]", 0), 0u) << help;
  EXPECT_NE(help.find("Exit status"), std::string::npos);
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunEngine({"kivor", "--game", game_.path(), "--version"}), EXIT_NORMAL);
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("kivor ", 0), 0u);
}

TEST_F(ExitStatus, ASecondStartSaysTheGameIsAlreadyRunning) {
  WriteGame("config width=160 height=48\nfile start.txt\n*SYSTEM_START\nend\n");
  std::vector<std::string> args{"kivor", "--game", game_.path()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  CopyCommandLine((int)argv.size(), argv.data());
  InitPaths();
  int held = PlatLockAcquire(g_InstanceName);
  ASSERT_GE(held, 0);
  std::string err;
  EXPECT_EQ(RunCaptured(args, &err), EXIT_NORMAL);
  EXPECT_NE(err.find("is already running"), std::string::npos) << err;
  PlatLockRelease(held);
}

// A mistyped option, or a game folder given without --game, ends at once with status 2 and a
// word that says what to type; "GAME" stands for the name of a folder that holds a game, given
// relative to the folder the program starts in.
TEST_F(ExitStatus, AMistypedCommandLineSaysWhatToType) {
  WriteGame("config width=160 height=48\nfile start.txt\n*SYSTEM_START\nend\n");
  std::string parent = game_.path().substr(0, game_.path().rfind('/'));
  std::string name = game_.path().substr(parent.size() + 1);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {{"--gmae", "night"}, {"unknown option --gmae", "Usage: kivor [--game FOLDER]"}},
      {{"--game=" + name}, {"unknown option --game=", "Usage: kivor [--game FOLDER]"}},
      {{"-x", "--game", name}, {"unknown option -x", "Usage: kivor [--game FOLDER]"}},
      {{name}, {name + " holds a game: start it with kivor --game " + name}},
      {{name, "--fast"}, {name + " holds a game: start it with kivor --game " + name}},
      {{"night"}, {"start a game with: kivor --game FOLDER"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    PlatSetCurrentFolder(parent);
    HeadlessClearCalls();
    std::vector<std::string> args{"kivor"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string err;
    EXPECT_EQ(RunCaptured(args, &err), EXIT_USAGE);
    for (const std::string& word : c.says) EXPECT_NE(err.find(word), std::string::npos) << err;
    EXPECT_TRUE(HeadlessCalls().empty());   // no window, no dialog
  }
}

// The options come first; from the first argument that is not one, or after "--", every
// argument goes to the scripts as it stands.
TEST_F(ExitStatus, ArgumentsAfterTheOptionsReachTheScriptsAsTheyStand) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> slots;   // the scripts' arguments 1...
  };
  const Case cases[] = {
      {{"--game", game_.path(), "alpha", "--version", "-x", "--game", "g"}, {"alpha", "--version", "-x", "--game", "g"}},
      {{"--game", game_.path(), "--", "--game", "x"}, {"--game", "x"}},
      {{"--", "-d"}, {"-d"}},
      {{"--game", game_.path(), "-", "--"}, {"-", "--"}},
      {{"/info", "--game", game_.path()}, {"/info", "--game", game_.path()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    std::vector<std::string> args{"kivor"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    CopyCommandLine((int)argv.size(), argv.data());
    EXPECT_EQ(g_CommandArgCount, (int)c.slots.size());
    for (size_t i = 0; i < c.slots.size(); i++) EXPECT_EQ(g_CommandArgs[i + 1], c.slots[i]);
  }
  // A game started with such arguments plays: "--version" there is the game's to read.
  WriteGame("config width=160 height=48\nglobal str note = \"\"\nfile start.txt\n*SYSTEM_START\n"
            "note = \"played\"\nenginecall code=51 text=note\nend\n");
  std::string out = game_.path() + "/out.txt";
  pid_t pid = StartRuntime({"--game", game_.path(), "alpha", "--version"}, [&] { OutputToFile(out, true); });
  int status = WaitForEnd(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_NORMAL) << status;
  EXPECT_EQ(ReadWholeFile(out).find("kivor 0."), std::string::npos) << ReadWholeFile(out);
  EXPECT_NE(ReadWholeFile(game_.path() + "/debuglog.txt").find("played"), std::string::npos);
}

// A close while a loop without a wait spins is still answered, and the run ends as the player
// asked: without the game-logic thread the loop runs on the main thread, with it the main
// thread must stop that thread before the window goes. One run per test (the parameter says
// whether the game-logic thread runs the frames).
class SpinningGame : public ExitStatus, public testing::WithParamInterface<int> {};

TEST_P(SpinningGame, EndsWhenTheWindowIsClosed) {
  WriteGame(SpinningGameListing(GetParam()));
  std::atomic<int> status{-1};
  std::thread engine([&] { status = Run(); });
  if (!WaitForText(game_.path() + "/debuglog.txt", "looping", [&] { return status != -1; })) {
    engine.join();
    FAIL() << "the game ended before its loop, with status " << status;
  }
  HeadlessQueueAnswer(0);   // "yes" to the question whether to end
  PlatEventRecord close{};
  close.type = PLAT_EVENT_CLOSE;
  close.window = 0;
  HeadlessPushEvent(close);
  engine.join();
  EXPECT_EQ(status, EXIT_NORMAL);
  EXPECT_FALSE(HeadlessWindow(0).exists);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutGameThread, SpinningGame, testing::Values(0, 1));

// A headless run that waits for input, with none to come, says so and ends with its own status
// (at two frames a second, so its five minutes of game time pass in few frames).
TEST_F(ExitStatus, AHeadlessRunWaitingForInputItCannotGetEnds) {
  WriteGame("config width=160 height=48\nfile start.txt\n*SYSTEM_START\nframerate fps=2\n*idle\nwait frames=1\njump idle\n");
  std::string err;
  EXPECT_EQ(RunCaptured({"kivor", "--game", game_.path()}, &err), EXIT_NO_INPUT);
  EXPECT_NE(err.find("headless: no input for"), std::string::npos) << err;
  EXPECT_NE(err.find("no KIVOR_INPUT_SCRIPT was given"), std::string::npos) << err;
}

// The runtime itself, in a process of its own: SIGTERM and SIGINT end a spinning game
// cleanly, with 128 + the signal as its status and a word on stderr.
TEST_F(ExitStatus, QuitSignalsEndASpinningGameCleanly) {
  struct SignalCase {
    int signal, gameThread;
  };
  for (SignalCase c : {SignalCase{SIGTERM, 0}, SignalCase{SIGINT, 1}, SignalCase{SIGHUP, 0}, SignalCase{SIGHUP, 1}}) {
    SCOPED_TRACE(c.signal);
    WriteGame(SpinningGameListing(c.gameThread));
    PlatDeleteFile(game_.path() + "/debuglog.txt");
    std::string errPath = game_.path() + "/stderr.txt";
    pid_t pid = StartRuntime({"--game", game_.path()}, [&] { OutputToFile(errPath); });
    ASSERT_GE(pid, 0);
    int status = 0;
    bool looping = WaitForText(game_.path() + "/debuglog.txt", "looping",
                               [&] { return waitpid(pid, &status, WNOHANG) == pid; });
    ASSERT_TRUE(looping) << "the game ended before its loop: " << ReadWholeFile(errPath);
    EXPECT_EQ(GameLockFiles(game_.path()).size(), 1u);
    kill(pid, c.signal);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal);
    EXPECT_NE(ReadWholeFile(errPath).find("ended by signal " + std::to_string(c.signal)), std::string::npos);
    EXPECT_EQ(GameLockFiles(game_.path()).size(), 0u);
  }
}

}  // namespace
