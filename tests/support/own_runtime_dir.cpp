// Gives each test process a runtime folder of its own, so the start-up and instance locks of
// one test program never meet those of another running at the same time. Processes a test
// starts inherit the folder, so tests of a second start still see the first one's locks.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

std::string g_OwnRuntimeDir;
pid_t g_OwnerPid;

void RemoveOwnRuntimeDir() {
  if (getpid() != g_OwnerPid) return;  // a forked child leaving must not take it away
  std::error_code ignored;
  std::filesystem::remove_all(g_OwnRuntimeDir, ignored);
}

bool SetOwnRuntimeDir() {
  // A test program started by a test keeps its parent's folder.
  if (getenv("KIVOR_TEST_RUNTIME_DIR")) return true;
  char pattern[] = "/tmp/kivor-test-run-XXXXXX";
  if (!mkdtemp(pattern)) return false;
  g_OwnRuntimeDir = pattern;
  g_OwnerPid = getpid();
  setenv("XDG_RUNTIME_DIR", pattern, 1);
  setenv("KIVOR_TEST_RUNTIME_DIR", pattern, 1);
  atexit(RemoveOwnRuntimeDir);
  return true;
}

const bool g_OwnRuntimeDirSet = SetOwnRuntimeDir();

}  // namespace
