// Start-up as a player meets it: the game folder, the command line the scripts see, the
// switches, the single-instance rule between processes, and a clean end without a game.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "tests/support/game_start_fixture.h"
#include "tools/lib/assembler.h"

namespace {

// The probe lock's name is unique to one run of the test, so parallel runs never meet; the
// child process finds it in its environment.
std::string ProbeLockName() {
  if (const char* name = getenv("KIVOR_TEST_PROBE_LOCK")) return name;
  std::string name = "kivor-instance-test-" + std::to_string(std::random_device{}());
  setenv("KIVOR_TEST_PROBE_LOCK", name.c_str(), 1);
  return name;
}

std::string Utf8(const char* cp932) {
  std::string out;
  PlatCp932ToUtf8(cp932, strlen(cp932), &out);
  return out;
}

using Startup = GameStartTest;

TEST_F(Startup, WithoutAProjectTheStartEndsWithTheLibraryNotices) {
  EXPECT_EQ(RunEngine({"kivor", "--game", game_.path(), "alpha", "beta"}), EXIT_USAGE);
  EXPECT_STREQ(g_ErrorDialogTitle, "License Information");
  EXPECT_NE(std::string(LastErrorDialogText()).find("libpng"), std::string::npos);
  EXPECT_EQ(g_QuitFlag, 1);
  // The game folder switch is not one of the game's arguments.
  EXPECT_STREQ(g_CommandArgs[1], "alpha");
  EXPECT_STREQ(g_CommandArgs[2], "beta");
  EXPECT_STREQ(g_CommandArgs[3], "");
  EXPECT_EQ(g_CommandArgCount, 2);
  EXPECT_EQ(g_ExeFolderReal, game_.path());
  EXPECT_EQ(g_ExeFolder[strlen(g_ExeFolder) - 1], '\\');
}

// Loose compiled files without a pack are a development project: the runtime asks the
// development compiler for the files, and where there is none it ends with the notices too.
TEST_F(Startup, LooseCompiledFilesWithoutAPackAskForTheDevelopmentCompiler) {
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("file start.txt\n*SYSTEM_START\nend\n", &set)) << set.error;
  ASSERT_TRUE(WriteLooseSet(game_.path(), set));
  ASSERT_TRUE(PlatFileExists(game_.path() + "/kvbin/kvcfg.kbn"));
  EXPECT_EQ(Run(), EXIT_ERROR);
  EXPECT_STREQ(g_ErrorDialogTitle, "License Information");
  EXPECT_NE(std::string(LastErrorDialogText()).find("libpng"), std::string::npos);
}

TEST_F(Startup, InfoSwitchInAnyCaseShowsTheNotices) {
  EXPECT_EQ(RunEngine({"kivor", "--game", game_.path(), "/InFo"}), 0);
  EXPECT_STREQ(g_ErrorDialogTitle, "License Information");
  EXPECT_NE(std::string(LastErrorDialogText()).find("zlib"), std::string::npos);
}

TEST_F(Startup, ArgumentsBeyondEightAreCountedAsEight) {
  std::vector<std::string> args{"kivor", "--game", game_.path()};
  for (int i = 0; i < 12; i++) args.push_back("a" + std::to_string(i));
  RunEngine(args);
  EXPECT_EQ(g_CommandArgCount, 8);
  EXPECT_STREQ(g_CommandArgs[8], "a7");
}

TEST_F(Startup, SecondStartOfTheSameGameEndsAtOnce) {
  // Find the name this game's instance lock gets, hold it, and start again.
  std::vector<std::string> args{"kivor", "--game", game_.path()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  CopyCommandLine((int)argv.size(), argv.data());
  InitPaths();
  int held = PlatLockAcquire(g_InstanceName);
  ASSERT_GE(held, 0);
  HeadlessClearCalls();
  EXPECT_EQ(RunEngine(args), 0);
  EXPECT_TRUE(HeadlessCalls().empty());   // no window, no dialog
  PlatLockRelease(held);
}

TEST_F(Startup, InstanceNamesFollowTheGameFolder) {
  TempFolder other;
  std::string names[2];
  const std::string* folders[2] = {&game_.path(), &other.path()};
  for (int i = 0; i < 2; i++) {
    std::vector<std::string> args{"kivor", "--game", *folders[i]};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    CopyCommandLine((int)argv.size(), argv.data());
    InitPaths();
    names[i] = g_InstanceName;
    EXPECT_EQ(names[i].find('\\'), std::string::npos);   // colons stand for the separators
  }
  EXPECT_NE(names[0], names[1]);
}

// However a start spells the game folder (through a link, with "..", relative to where it was
// started), the instance is the same game's, so the second start meets the first one's lock.
TEST_F(Startup, EverySpellingOfTheGameFolderNamesOneInstance) {
  TempFolder other;
  std::string link = other.path() + "/link";
  ASSERT_EQ(symlink(game_.path().c_str(), link.c_str()), 0);
  ASSERT_TRUE(PlatCreateFolder(other.path() + "/sub"));
  std::string parent = game_.path().substr(0, game_.path().rfind('/'));
  std::string name = game_.path().substr(parent.size() + 1);
  const std::string spellings[] = {game_.path(), link, other.path() + "/sub/../link", name};
  std::string first;
  for (const std::string& folder : spellings) {
    SCOPED_TRACE(folder);
    PlatSetCurrentFolder(parent);
    std::vector<std::string> args{"kivor", "--game", folder};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    CopyCommandLine((int)argv.size(), argv.data());
    InitPaths();
    if (first.empty()) first = g_InstanceName;
    EXPECT_EQ(g_InstanceName, first);
  }
}

// Run by the test below in a second process: it must not get a lock the first one holds.
TEST(InstanceLockChild, DISABLED_CannotTakeTheHeldLock) { EXPECT_EQ(PlatLockAcquire(ProbeLockName()), -1); }

TEST(InstanceLock, HeldLockKeepsASecondProcessOutUntilReleased) {
  int held = PlatLockAcquire(ProbeLockName());
  ASSERT_GE(held, 0);
  std::vector<std::string> child{PlatExecutablePath(), "--gtest_also_run_disabled_tests",
                                 "--gtest_filter=InstanceLockChild.DISABLED_CannotTakeTheHeldLock"};
  EXPECT_EQ(PlatStartProcess(child, true), 0);
  PlatLockRelease(held);
  EXPECT_NE(PlatStartProcess(child, true), 0);   // now the child gets it, so its check fails
}

TEST(ResolvePath, FindsNamesWithoutRegardToCaseAndBackslashes) {
  TempFolder f;
  f.Write("bg/title.png", "x");
  std::string real;
  EXPECT_TRUE(PlatResolvePath(f.path(), "BG\\Title.PNG", &real));
  EXPECT_EQ(real, f.path() + "/bg/title.png");
  EXPECT_FALSE(PlatResolvePath(f.path(), "BG\\missing.png", &real));
  EXPECT_EQ(real, f.path() + "/bg/missing.png");
}

}  // namespace
