// An installed game in a folder its player cannot write: the runtime, in a process of its own,
// saves and loads in the player's data folder for the game and leaves the game folder alone;
// without HOME that folder is still the player's own. Root may write anywhere, so as root the
// run is made as the user "nobody" (through setpriv).
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

// A game that saves, loads, exports an image and reads it back, and writes what it found to its
// debug log.
const char kInstalledGame[] =
    "config width=160 height=48\nglobal int score = 0\nglobal str note = \"\"\nglobal int width = 0\n"
    "file start.txt\n*SYSTEM_START\n"
    "score = 42\nsavewrite file=\"ro.sav\" slot=1 var=score\n"
    "score = 0\nsaveload file=\"ro.sav\" slot=1 var=score\n"
    "note = \"score \" + str(score)\n"
    // An image the game exports is read back through the file lookup.
    "layer name=\"pic\" file=\"\" width=24 height=8 priority=1 visible=1\n"
    "file file=\"Shots/One\" layer=\"pic\" bmp=1\n"
    "layer name=\"again\" file=\"shots/one.bmp\" priority=2 visible=1\n"
    "layerquery name=\"again\" width=1 out=width\n"
    "note = note + \" image \" + str(width)\nenginecall code=51 text=note\nend\n";

// Installs that game read-only as `game` (a new folder in a folder readable by all) and runs it
// in a process of its own, as nobody when we are root; `prepare` sets the new process's
// environment. Gives the end status, and checks that the game folder holds only its pack.
int RunInstalledGame(const std::string& game, const std::function<void()>& prepare) {
  AssembledSet set;
  EXPECT_TRUE(AssembleListing(kInstalledGame, &set)) << set.error;
  EXPECT_TRUE(PlatCreateFolder(game));
  EXPECT_TRUE(WritePackedSet(game, set));
  EXPECT_EQ(chmod((game + "/data.kpk").c_str(), 0644), 0);
  EXPECT_EQ(chmod(game.c_str(), 0555), 0);
  bool root = geteuid() == 0;
  pid_t pid = fork();
  if (pid == 0) {
    setenv("KIVOR_PLATFORM", "headless", 1);
    prepare();
    if (root)
      execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KIVOR_PROGRAM, "--game",
             game.c_str(), (char*)nullptr);
    else
      execl(KIVOR_PROGRAM, KIVOR_PROGRAM, "--game", game.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  chmod(game.c_str(), 0755);
  std::vector<std::string> names;
  EXPECT_TRUE(PlatListFolder(game, &names));
  EXPECT_EQ(names, std::vector<std::string>{"data.kpk"});
  return status;
}

// What the game leaves in the user's folder for it.
void ExpectTheGamesFiles(const std::string& user) {
  EXPECT_NE(ReadWholeFile(user + "/debuglog.txt").find("score 42 image 24"), std::string::npos)
      << ReadWholeFile(user + "/debuglog.txt");
  EXPECT_TRUE(PlatFileExists(user + "/save/ro.sav.sd"));
  EXPECT_TRUE(PlatFileExists(user + "/shots/one.bmp"));
}

TEST(ReadOnlyGameFolder, SavesAndLoadsInTheUsersDataFolder) {
  bool root = geteuid() == 0;
  if (root && !ProgramOnPath("setpriv")) GTEST_SKIP() << "as root the run needs setpriv to be another user";
  // Folders the other user can reach: the game readable by all, the data home writable by all.
  TempFolder top;
  ASSERT_EQ(chmod(top.path().c_str(), 0755), 0);
  std::string game = top.path() + "/Installed Game", data = top.path() + "/data";
  ASSERT_TRUE(PlatCreateFolder(data));
  ASSERT_EQ(chmod(data.c_str(), 01777), 0);
  int status = RunInstalledGame(game, [&] {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("TMPDIR", data.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_NORMAL) << "status " << status;
  ExpectTheGamesFiles(data + "/kivor/Installed Game");
}

// Without HOME (a service, `env -i`) the user's data folder is still their own: the home the
// user database gives, or, for a user without one (nobody's is /nonexistent), the user's private
// folder below /tmp (made 0700) rather than /tmp itself, where anybody could make it first.
TEST(ReadOnlyGameFolder, WithoutHomeTheFilesGoToAFolderOfTheUsersOwn) {
  if (geteuid() != 0 || !ProgramOnPath("setpriv")) GTEST_SKIP() << "needs root and setpriv to be nobody";
  TempFolder top;
  ASSERT_EQ(chmod(top.path().c_str(), 0755), 0);
  // A name of this run's own: the files land in a folder every run shares.
  std::string name = "Game " + top.path().substr(top.path().rfind('/') + 1);
  struct passwd* nobody = getpwuid(65534);
  ASSERT_NE(nobody, nullptr);
  std::string home = nobody->pw_dir && PlatFolderExists(nobody->pw_dir) ? nobody->pw_dir : "/tmp/kivor-65534";
  std::string user = home + "/.local/share/kivor/" + name;
  int status = RunInstalledGame(top.path() + "/" + name, [&] {
    unsetenv("HOME");
    unsetenv("XDG_DATA_HOME");
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_NORMAL) << "status " << status;
  ExpectTheGamesFiles(user);
  if (home == "/tmp/kivor-65534") {
    struct stat st;
    ASSERT_EQ(lstat(home.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  std::error_code ignored;
  std::filesystem::remove_all(user, ignored);
}

// In this process: HOME unset, empty or not a path gives the user database's home.
TEST(UserFolders, WithoutAUsableHomeTheUserDatabaseGivesIt) {
  struct passwd* me = getpwuid(geteuid());
  if (!me || !me->pw_dir || !PlatFolderExists(me->pw_dir)) GTEST_SKIP() << "this user has no home folder";
  std::string saved[3];
  const char* vars[3] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
  for (int i = 0; i < 3; i++) saved[i] = getenv(vars[i]) ? getenv(vars[i]) : "";
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
  for (const char* home : {(const char*)nullptr, "", "relative/home"}) {
    SCOPED_TRACE(home ? home : "(unset)");
    if (home) setenv("HOME", home, 1);
    else unsetenv("HOME");
    EXPECT_EQ(PlatAppDataFolder(), std::string(me->pw_dir) + "/.local/share");
    EXPECT_EQ(PlatConfigFolder(), std::string(me->pw_dir) + "/.config");
  }
  for (int i = 0; i < 3; i++) {
    if (saved[i].empty()) unsetenv(vars[i]);
    else setenv(vars[i], saved[i].c_str(), 1);
  }
}

}  // namespace
