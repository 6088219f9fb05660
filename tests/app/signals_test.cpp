// Signals and lost output as a Linux program meets them, in the runtime's own process: the
// signals whose default ends a program still end it so but take the game's lock along and say
// a line, a second quit signal ends it at once the same way, output to a pipe nobody reads is
// dropped rather than ending the game, and a box open on the desktop gives way to the first
// quit signal.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/runtime_process.h"
#include "tools/lib/assembler.h"

namespace {

class Signals : public ::testing::Test {
 protected:
  void WriteGame(const std::string& listing) {
    AssembledSet set;
    ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
    ASSERT_TRUE(WritePackedSet(game_.path(), set));
    PlatDeleteFile(log());
  }
  std::string log() const { return game_.path() + "/debuglog.txt"; }
  std::string err() const { return game_.path() + "/stderr.txt"; }
  // Starts the game; true once its loop runs (and the lock of the game is there).
  bool StartLooping(pid_t* pid, const std::function<void()>& prepare) {
    *pid = StartRuntime({"--game", game_.path()}, prepare);
    if (*pid < 0) return false;
    int status;
    bool looping = WaitForText(log(), "looping", [&] { return waitpid(*pid, &status, WNOHANG) == *pid; });
    return looping && GameLockFiles(game_.path()).size() == 1;
  }

  TempFolder game_;
};

// A core dump of the ends tested here would only fill the disk.
void WithoutCoreDump() {
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

TEST_F(Signals, OtherSignalsThatEndAProgramStillEndItButTakeTheLockAlongAndSayALine) {
  struct Case {
    int signal;
    const char* name;
  };
  for (Case c : {Case{SIGQUIT, "SIGQUIT"}, Case{SIGUSR1, "SIGUSR1"}, Case{SIGUSR2, "SIGUSR2"}, Case{SIGALRM, "SIGALRM"}}) {
    SCOPED_TRACE(c.name);
    WriteGame(SpinningGameListing(0));
    pid_t pid;
    ASSERT_TRUE(StartLooping(&pid, [&] {
      OutputToFile(err());
      WithoutCoreDump();
    })) << ReadWholeFile(err());
    kill(pid, c.signal);
    int status = WaitForEnd(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signal);
    EXPECT_NE(ReadWholeFile(err()).find("kivor: ended by signal " + std::to_string(c.signal) + " (" + c.name + ")"),
              std::string::npos)
        << ReadWholeFile(err());
    EXPECT_EQ(GameLockFiles(game_.path()).size(), 0u);
  }
}

// Two quit signals at once (sent while the game is stopped): one asks for the clean end, the
// other ends the game at once, and the lock goes with it.
TEST_F(Signals, ASecondQuitSignalEndsTheGameAtOnceAndTakesTheLockAlong) {
  WriteGame(SpinningGameListing(1));
  pid_t pid;
  ASSERT_TRUE(StartLooping(&pid, [&] { OutputToFile(err()); })) << ReadWholeFile(err());
  kill(pid, SIGSTOP);
  kill(pid, SIGHUP);
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  int status = WaitForEnd(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << ": " << ReadWholeFile(err());
  EXPECT_TRUE(WTERMSIG(status) == SIGHUP || WTERMSIG(status) == SIGTERM) << WTERMSIG(status);
  EXPECT_NE(ReadWholeFile(err()).find("kivor: ended at once by signal"), std::string::npos) << ReadWholeFile(err());
  EXPECT_EQ(GameLockFiles(game_.path()).size(), 0u);
}

// `kivor ... | true`: stdout and stderr lead into a pipe whose reader has gone. Each line the
// game writes (a box's echo, the last word) is dropped, and SIGTERM's status stays 143.
TEST_F(Signals, OutputIntoAPipeNobodyReadsIsDroppedAndTheGameGoesOn) {
  for (int gameThread : {0, 1}) {
    SCOPED_TRACE(gameThread);
    WriteGame(SpinningGameListing(gameThread, "messagebox caption=\"Q\" text=\"into the void\"\n"));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    pid_t pid;
    ASSERT_TRUE(StartLooping(&pid, [&] {
      dup2(ends[1], 1);
      dup2(ends[1], 2);
    }));
    close(ends[1]);
    kill(pid, SIGTERM);
    int status = WaitForEnd(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  }
  // So does an answer that goes only to stdout.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  pid_t pid = StartRuntime({"--help"}, [&] { dup2(ends[1], 1); });
  close(ends[1]);
  int status = WaitForEnd(pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), EXIT_NORMAL);
}

// Started with stdout and stderr closed (`kivor >&- 2>&-`): what the game would say goes
// nowhere, and never into a file the game opened in their place (the lock file, the pack).
TEST_F(Signals, ClosedStandardStreamsTakeNoFileOfTheGame) {
  WriteGame(SpinningGameListing(0, "messagebox caption=\"Q\" text=\"into the void\"\n"));
  std::string pack = ReadWholeFile(game_.path() + "/data.kpk");
  pid_t pid;
  ASSERT_TRUE(StartLooping(&pid, [&] {
    close(1);
    close(2);
  }));
  for (const std::string& lock : GameLockFiles(game_.path())) EXPECT_EQ(ReadWholeFile(lock), "");
  kill(pid, SIGTERM);
  int status = WaitForEnd(pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  std::string written = ReadWholeFile(log());
  EXPECT_EQ(written.find("into the void"), std::string::npos) << written;
  EXPECT_EQ(ReadWholeFile(game_.path() + "/data.kpk"), pack);
}

// ---------------------------------------------------------------------------------------------
// Boxes on a real desktop.

// The boxes the game shows while it waits for the player, on the SDL backend: the error box, the
// library notices, a script's message box (with and without the game-logic thread) and its
// text-input box. The caption names the box's window.
struct BoxCase {
  const char* caption;
  const char* listing;    // lines run before the loop, or the whole listing when `whole`
  bool whole;
  const char* argument;   // the game's first argument, "" for none
  int gameThread;
  int signal;
};

const BoxCase kBoxCases[] = {
    {"KIVOR Debug Info.", "config width=160 height=48\nfile start.txt\n*SYSTEM_START\nwait frames=1\n", true, "", 0,
     SIGTERM},
    {"License Information", "config width=160 height=48\nfile start.txt\n*SYSTEM_START\nend\n", true, "/info", 0, SIGINT},
    {"Question", "messagebox caption=\"Question\" text=\"Go on?\" yesno=1\n", false, "", 0, SIGTERM},
    {"Question", "messagebox caption=\"Question\" text=\"Go on?\" yesno=1\n", false, "", 1, SIGINT},
    {"Name", "messagebox caption=\"Name\" text=\"Who?\" default=\"Anon\" dialog=1 input=name\n", false, "", 0, SIGTERM},
};

TEST(SignalsDuringBoxes, TheFirstQuitSignalEndsTheGameWhileABoxIsOpen) {
  if (!ProgramOnPath("xvfb-run") || !ProgramOnPath("xdotool") || !ProgramOnPath("timeout"))
    GTEST_SKIP() << "xvfb-run, xdotool or timeout is not installed";
  // X and SDL keep allocations until exit: the runs are about how they end, not leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  EXPECT_EQ(RunTestChildUnderXvfb("SignalsDuringBoxesChild.DISABLED_EachBox", 241), 0);
}

TEST(SignalsDuringBoxesChild, DISABLED_EachBox) {
  if (!getenv("DISPLAY")) GTEST_SKIP();
  for (const BoxCase& c : kBoxCases) {
    SCOPED_TRACE(std::string(c.caption) + (c.gameThread ? " with the game-logic thread" : ""));
    TempFolder game;
    AssembledSet set;
    std::string listing = c.whole ? c.listing : SpinningGameListing(c.gameThread, c.listing, "global str name = \"\"\n");
    ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
    ASSERT_TRUE(WritePackedSet(game.path(), set));
    std::string errPath = game.path() + "/stderr.txt";
    std::vector<std::string> args{"--game", game.path()};
    if (*c.argument) args.push_back(c.argument);
    pid_t pid = StartRuntime(args, [&] {
      setenv("KIVOR_PLATFORM", "sdl", 1);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      OutputToFile(errPath);
    });
    ASSERT_GT(pid, 0);
    // The box is on the screen.
    EXPECT_EQ(PlatStartProcess({"/bin/sh", "-c", FindXWindowStep("id", c.caption) + "[ -n \"$id\" ]"}, true), 0)
        << ReadWholeFile(errPath);
    kill(pid, c.signal);
    int status = WaitForEnd(pid, 120);
    ASSERT_NE(status, -1) << "the game did not end: " << ReadWholeFile(errPath);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal);
    EXPECT_NE(ReadWholeFile(errPath).find("ended by signal " + std::to_string(c.signal)), std::string::npos)
        << ReadWholeFile(errPath);
  }
}

}  // namespace
