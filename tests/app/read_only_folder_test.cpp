// An installed game in a folder its player cannot write: the runtime, in a process of its own,
// saves and loads in the player's data folder for the game and leaves the game folder alone.
// Root may write anywhere, so as root the run is made as the user "nobody" (through setpriv).
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ReadOnlyGameFolder, SavesAndLoadsInTheUsersDataFolder) {
  bool root = geteuid() == 0;
  if (root && !ProgramOnPath("setpriv")) GTEST_SKIP() << "as root the run needs setpriv to be another user";
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("config width=160 height=48\nglobal int score = 0\nglobal str note = \"\"\nglobal int width = 0\n"
                              "file start.txt\n*SYSTEM_START\n"
                              "score = 42\nsavewrite file=\"ro.sav\" slot=1 var=score\n"
                              "score = 0\nsaveload file=\"ro.sav\" slot=1 var=score\n"
                              "note = \"score \" + str(score)\n"
                              // An image the game exports is read back through the file lookup.
                              "layer name=\"pic\" file=\"\" width=24 height=8 priority=1 visible=1\n"
                              "file file=\"Shots/One\" layer=\"pic\" bmp=1\n"
                              "layer name=\"again\" file=\"shots/one.bmp\" priority=2 visible=1\n"
                              "layerquery name=\"again\" width=1 out=width\n"
                              "note = note + \" image \" + str(width)\nenginecall code=51 text=note\nend\n",
                              &set))
      << set.error;
  // Folders the other user can reach: the game readable by all, the data home writable by all.
  TempFolder top;
  ASSERT_EQ(chmod(top.path().c_str(), 0755), 0);
  std::string game = top.path() + "/Installed Game", data = top.path() + "/data";
  ASSERT_TRUE(PlatCreateFolder(game));
  ASSERT_TRUE(PlatCreateFolder(data));
  ASSERT_EQ(chmod(data.c_str(), 01777), 0);
  ASSERT_TRUE(WritePackedSet(game, set));
  ASSERT_EQ(chmod((game + "/data.kpk").c_str(), 0644), 0);
  ASSERT_EQ(chmod(game.c_str(), 0555), 0);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("KIVOR_PLATFORM", "headless", 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("TMPDIR", data.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    if (root)
      execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KIVOR_PROGRAM, "--game",
             game.c_str(), (char*)nullptr);
    else
      execl(KIVOR_PROGRAM, KIVOR_PROGRAM, "--game", game.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  chmod(game.c_str(), 0755);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_NORMAL) << "status " << status;
  std::string user = data + "/kivor/Installed Game";
  EXPECT_NE(ReadFile(user + "/debuglog.txt").find("score 42 image 24"), std::string::npos) << ReadFile(user + "/debuglog.txt");
  EXPECT_TRUE(PlatFileExists(user + "/save/ro.sav.sd"));
  EXPECT_TRUE(PlatFileExists(user + "/shots/one.bmp"));
  std::vector<std::string> names;
  ASSERT_TRUE(PlatListFolder(game, &names));
  EXPECT_EQ(names, std::vector<std::string>{"data.kpk"});
}

}  // namespace
