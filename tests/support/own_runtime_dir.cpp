// Gives each test process a folder of its own for the runtime's private folders (the start-up
// and instance locks, a home for a user without one) and for the session's runtime files, so
// those of one test program never meet those of another running at the same time. Processes a
// test starts inherit the folder, so tests of a second start still see the first one's locks;
// the runtime itself, started as a program, keeps its locks where every start finds them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

std::string g_OwnRuntimeDir, g_OwnPrivateBase;
pid_t g_OwnerPid;

void RemoveOwnRuntimeDir() {
  if (getpid() != g_OwnerPid) return;  // a forked child leaving must not take it away
  std::error_code ignored;
  std::filesystem::remove_all(g_OwnRuntimeDir, ignored);
  std::filesystem::remove_all(g_OwnPrivateBase, ignored);
}

bool SetOwnRuntimeDir() {
  // A test program started by a test keeps its parent's folders.
  const char* inherited = getenv("KIVOR_TEST_PRIVATE_BASE");
  if (getenv("KIVOR_TEST_RUNTIME_DIR") && inherited) {
    PlatSetPrivateFolderBase(inherited);
    return true;
  }
  char runtime[] = "/tmp/kivor-test-run-XXXXXX";
  char base[] = "/tmp/kivor-test-private-XXXXXX";
  if (!mkdtemp(runtime) || !mkdtemp(base)) return false;
  // Like /tmp: every user may make a folder of their own in it (tests run some steps as
  // another user), and none may take another's.
  chmod(base, 01777);
  g_OwnRuntimeDir = runtime;
  g_OwnPrivateBase = base;
  g_OwnerPid = getpid();
  setenv("XDG_RUNTIME_DIR", runtime, 1);
  setenv("KIVOR_TEST_RUNTIME_DIR", runtime, 1);
  setenv("KIVOR_TEST_PRIVATE_BASE", base, 1);
  PlatSetPrivateFolderBase(base);
  atexit(RemoveOwnRuntimeDir);
  return true;
}

const bool g_OwnRuntimeDirSet = SetOwnRuntimeDir();

}  // namespace
