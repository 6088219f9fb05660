// The single-instance locks as users meet them: each user's locks in a folder of their own,
// "held by another process" told apart from "cannot be made", lock files that go with their
// holder, and starts of different games at the same moment that all run.
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
#include "tools/lib/assembler.h"

namespace {

// Runs the body with XDG_RUNTIME_DIR unset and TMPDIR at `tmp`; both are given back after.
class WithoutRuntimeFolder {
 public:
  explicit WithoutRuntimeFolder(const std::string& tmp) {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    const char* oldTmp = getenv("TMPDIR");
    runtime_ = runtime ? runtime : "";
    tmp_ = oldTmp ? oldTmp : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  ~WithoutRuntimeFolder() {
    if (!runtime_.empty()) setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    if (tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", tmp_.c_str(), 1);
  }

 private:
  std::string runtime_, tmp_;
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
  std::string folder = getenv("XDG_RUNTIME_DIR");
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

TEST(Locks, WithoutARuntimeFolderAnUnfitLockFolderIsCannotOpenNotAlreadyRunning) {
  TempFolder tmp;
  std::string own = tmp.path() + "/kivor-" + std::to_string((unsigned long)geteuid());
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(chmod(own.c_str(), 0777), 0);
  WithoutRuntimeFolder scope(tmp.path());
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

// Run by the test below as another user: it takes the lock root holds, in its own folder.
TEST(LocksOtherUser, DISABLED_TakesTheNameRootHolds) {
  std::string why;
  int lock = PlatLockAcquire("kivor-two-users-test", false, &why);
  EXPECT_GE(lock, 0) << why;
  PlatLockRelease(lock);
}

TEST(Locks, ASecondUserStartsAfterRootHasRun) {
  if (geteuid() != 0 || !ProgramOnPath("setpriv")) GTEST_SKIP() << "needs root and setpriv to be another user";
  TempFolder tmp;
  ASSERT_EQ(chmod(tmp.path().c_str(), 01777), 0);
  WithoutRuntimeFolder scope(tmp.path());
  int held = PlatLockAcquire("kivor-two-users-test");
  ASSERT_GE(held, 0);
  std::vector<std::string> child{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 PlatExecutablePath(), "--gtest_also_run_disabled_tests",
                                 "--gtest_filter=LocksOtherUser.DISABLED_TakesTheNameRootHolds"};
  EXPECT_EQ(PlatStartProcess(child, true), 0);
  PlatLockRelease(held);
  EXPECT_TRUE(PlatFolderExists(tmp.path() + "/kivor-65534"));
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
