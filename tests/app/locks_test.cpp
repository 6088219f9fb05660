// The single-instance locks as users meet them: each user's locks in a folder of their own that
// every start finds whatever its environment, "held by another process" told apart from "cannot
// be made", lock files that go with their holder, and starts of different games at the same
// moment that all run.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/runtime_process.h"
#include "tools/lib/assembler.h"

namespace {

// This test program's own lock folder (tests/support/own_runtime_dir.cpp gives each test program
// a place of its own for it).
std::string OwnLockFolder() {
  return std::string(getenv("KIVOR_TEST_PRIVATE_BASE")) + "/kivor-" + std::to_string((unsigned long)geteuid());
}

// Runs the body with the private folders below `base`; the test program's own are given back
// after.
class PrivateFoldersBelow {
 public:
  explicit PrivateFoldersBelow(const std::string& base) { PlatSetPrivateFolderBase(base); }
  ~PrivateFoldersBelow() { PlatSetPrivateFolderBase(getenv("KIVOR_TEST_PRIVATE_BASE")); }
};

int CountLockFiles(const std::string& folder) {
  std::vector<std::string> names;
  PlatListFolder(folder, &names);
  int n = 0;
  for (const std::string& name : names)
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0) n++;
  return n;
}

TEST(Locks, ALockFileGoesWithItsHolder) {
  std::string folder = OwnLockFolder();
  int before = CountLockFiles(folder);
  int lock = PlatLockAcquire("kivor-lock-file-test");
  ASSERT_GE(lock, 0);
  EXPECT_EQ(CountLockFiles(folder), before + 1);
  PlatLockRelease(lock);
  EXPECT_EQ(CountLockFiles(folder), before);
  // Taken again at once, by a new file.
  lock = PlatLockAcquire("kivor-lock-file-test");
  EXPECT_GE(lock, 0);
  PlatLockRelease(lock);
}

struct FolderCase {
  const char* name;
  mode_t mode;
  bool link;
  int ownerOffset;   // added to our user id to give the owner asked for
  const char* fault;  // null: the folder is fit
};

const FolderCase kFolderCases[] = {
    {"our own, private", 0700, false, 0, nullptr},
    {"our own, others may read", 0755, false, 0, nullptr},
    {"others may write", 0777, false, 0, "may be written by other users"},
    {"the group may write", 0770, false, 0, "may be written by other users"},
    {"another user's", 0700, false, 1, "belongs to another user"},
    {"a link to our own", 0700, true, 0, "is not a folder"},
};

TEST(Locks, OnlyAFolderOfOurOwnThatNobodyElseWritesHoldsOurLocks) {
  for (const FolderCase& c : kFolderCases) {
    SCOPED_TRACE(c.name);
    TempFolder t;
    std::string real = t.path() + "/real", checked = real;
    ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(chmod(real.c_str(), c.mode), 0);
    if (c.link) {
      checked = t.path() + "/link";
      ASSERT_EQ(symlink(real.c_str(), checked.c_str()), 0);
    }
    std::string why;
    bool fit = PlatCheckPrivateFolder(checked, (uint32_t)geteuid() + c.ownerOffset, &why);
    EXPECT_EQ(fit, c.fault == nullptr) << why;
    if (c.fault) EXPECT_NE(why.find(c.fault), std::string::npos) << why;
  }
}

TEST(Locks, AnUnfitLockFolderIsCannotOpenNotAlreadyRunning) {
  TempFolder tmp;
  std::string own = tmp.path() + "/kivor-" + std::to_string((unsigned long)geteuid());
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chmod(own.c_str(), 0777), 0);
  PrivateFoldersBelow scope(tmp.path());
  std::string why;
  EXPECT_EQ(PlatLockAcquire("kivor-unfit-folder-test", false, &why), -2);
  EXPECT_NE(why.find("may be written by other users"), std::string::npos) << why;
  // A fit folder is made when missing, private to us.
  ASSERT_EQ(rmdir(own.c_str()), 0);
  int lock = PlatLockAcquire("kivor-unfit-folder-test", false, &why);
  EXPECT_GE(lock, 0) << why;
  struct stat st;
  ASSERT_EQ(stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  PlatLockRelease(lock);
}

// A start with the session's runtime folder set and one without it, or with another temporary
// folder, look for the lock in the same place: the second is kept out while the first holds it.
// The child is the start-up test's (startup_test.cpp), which tries the name it is given.
TEST(Locks, EveryStartFindsTheLockWhateverItsEnvironment) {
  std::string name = "kivor-environment-test-" + std::to_string((long)getpid());
  int held = PlatLockAcquire(name);
  ASSERT_GE(held, 0);
  TempFolder elsewhere;
  struct Environment {
    const char* runtime;   // XDG_RUNTIME_DIR, null for unset
    const char* tmp;       // TMPDIR, null for unset
  };
  for (Environment e : {Environment{nullptr, nullptr}, Environment{elsewhere.path().c_str(), nullptr},
                        Environment{nullptr, elsewhere.path().c_str()}}) {
    SCOPED_TRACE(std::string(e.runtime ? "runtime folder set" : "no runtime folder") + (e.tmp ? ", TMPDIR set" : ""));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("KIVOR_TEST_PROBE_LOCK", name.c_str(), 1);
      if (e.runtime) setenv("XDG_RUNTIME_DIR", e.runtime, 1);
      else unsetenv("XDG_RUNTIME_DIR");
      if (e.tmp) setenv("TMPDIR", e.tmp, 1);
      else unsetenv("TMPDIR");
      std::string self = PlatExecutablePath();
      execl(self.c_str(), self.c_str(), "--gtest_also_run_disabled_tests",
            "--gtest_filter=InstanceLockChild.DISABLED_CannotTakeTheHeldLock", (char*)nullptr);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child took the held lock";
  }
  PlatLockRelease(held);
}

// The same with the runtime itself, as the player starts it twice: the first start with the
// session's runtime folder set, the second from a shell without it.
TEST(Locks, ASecondStartWithoutTheRuntimeFolderSeesTheFirst) {
  TempFolder game, runtimeFolder;
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(SpinningGameListing(0), &set)) << set.error;
  ASSERT_TRUE(WritePackedSet(game.path(), set));
  std::string err = game.path() + "/stderr.txt";
  pid_t first = StartRuntime({"--game", game.path()}, [&] { setenv("XDG_RUNTIME_DIR", runtimeFolder.path().c_str(), 1); });
  int status = 0;
  ASSERT_TRUE(WaitForText(game.path() + "/debuglog.txt", "looping", [&] { return waitpid(first, &status, WNOHANG) == first; }));
  pid_t second = StartRuntime({"--game", game.path()}, [&] {
    unsetenv("XDG_RUNTIME_DIR");
    OutputToFile(err);
  });
  status = WaitForEnd(second, 120);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_NE(ReadWholeFile(err).find("is already running"), std::string::npos) << ReadWholeFile(err);
  kill(first, SIGTERM);
  status = WaitForEnd(first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << "status " << status;
}

// Run by the test below as another user: it takes the lock root holds, in its own folder.
TEST(LocksOtherUser, DISABLED_TakesTheNameRootHolds) {
  std::string why;
  int lock = PlatLockAcquire("kivor-two-users-test", false, &why);
  EXPECT_GE(lock, 0) << why;
  PlatLockRelease(lock);
}

TEST(Locks, ASecondUserStartsAfterRootHasRun) {
  if (geteuid() != 0 || !ProgramOnPath("setpriv")) GTEST_SKIP() << "needs root and setpriv to be another user";
  int held = PlatLockAcquire("kivor-two-users-test");
  ASSERT_GE(held, 0);
  std::vector<std::string> child{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 PlatExecutablePath(), "--gtest_also_run_disabled_tests",
                                 "--gtest_filter=LocksOtherUser.DISABLED_TakesTheNameRootHolds"};
  EXPECT_EQ(PlatStartProcess(child, true), 0);
  PlatLockRelease(held);
  EXPECT_TRUE(PlatFolderExists(std::string(getenv("KIVOR_TEST_PRIVATE_BASE")) + "/kivor-65534"));
}

// Different games started at the same moment all run: none takes another's start for its own.
TEST(Locks, SimultaneousStartsOfDifferentGamesAllRun) {
  constexpr int GAMES = 12;
  AssembledSet set;
  ASSERT_TRUE(AssembleListing("config width=160 height=48\nglobal str note = \"\"\nfile start.txt\n*SYSTEM_START\n"
                              "note = \"ran\"\nenginecall code=51 text=note\nend\n",
                              &set))
      << set.error;
  std::vector<TempFolder> games(GAMES);
  for (TempFolder& g : games) ASSERT_TRUE(WritePackedSet(g.path(), set));
  std::vector<pid_t> pids;
  for (TempFolder& g : games) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("KIVOR_PLATFORM", "headless", 1);
      execl(KIVOR_PROGRAM, KIVOR_PROGRAM, "--game", g.path().c_str(), (char*)nullptr);
      _exit(127);
    }
    pids.push_back(pid);
  }
  for (int i = 0; i < GAMES; i++) {
    int status = 0;
    ASSERT_EQ(waitpid(pids[i], &status, 0), pids[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "game " << i << " status " << status;
    std::ifstream log(games[i].path() + "/debuglog.txt");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("ran"), std::string::npos) << "game " << i << " never ran";
  }
}

}  // namespace
