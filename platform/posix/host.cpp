// Processes, the single-instance lock, shared libraries, host facts and auto-reset events.
#include <dlfcn.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

extern char** environ;

std::string PlatExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, n);
}

namespace {

std::string HomeFolder() {
  const char* home = getenv("HOME");
  return home && *home ? home : "/tmp";
}

std::string EnvFolder(const char* var, const std::string& fallback) {
  const char* v = getenv(var);
  if (v && v[0] == '/') return v;
  return fallback;
}

}  // namespace

std::string PlatAppDataFolder() { return EnvFolder("XDG_DATA_HOME", HomeFolder() + "/.local/share"); }

std::string PlatConfigFolder() { return EnvFolder("XDG_CONFIG_HOME", HomeFolder() + "/.config"); }

std::string PlatDocumentsFolder() {
  return EnvFolder("XDG_DOCUMENTS_DIR", HomeFolder() + "/Documents");
}

int PlatStartProcess(const std::vector<std::string>& argv, bool wait) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  if (!wait) {
    // Nobody waits for it, so a small thread collects its exit and it never lingers as a zombie.
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return 0;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

// Held locks by id (the descriptor), with their files: a lock file is removed by its holder
// when released, so they do not pile up, one per game path.
std::mutex g_LockTableLock;
std::vector<std::pair<int, std::string>> g_HeldLocks;

// The folder of this user's lock files: the session's runtime folder, or else a folder of
// this user's own below the temporary folder. A folder that another user owns, that others
// may write, or that is a link is refused: locks there could be held or replaced by others.
bool LockFolder(std::string* folder, std::string* why) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    *folder = runtime;
    return true;
  }
  std::string tmp = EnvFolder("TMPDIR", "/tmp");
  *folder = tmp + "/kivor-" + std::to_string((unsigned long)geteuid());
  if (mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
    *why = std::string("cannot create ") + *folder + ": " + strerror(errno);
    return false;
  }
  return PlatCheckPrivateFolder(*folder, (uint32_t)geteuid(), why);
}

}  // namespace

bool PlatCheckPrivateFolder(const std::string& folder, uint32_t owner, std::string* why) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    *why = folder + ": " + strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) *why = folder + " is not a folder";
  else if (st.st_uid != owner) *why = folder + " belongs to another user";
  else if (st.st_mode & 022) *why = folder + " may be written by other users";
  else return true;
  return false;
}

int PlatLockAcquire(const std::string& name, bool wait, std::string* why) {
  std::string ignored;
  if (!why) why = &ignored;
  std::string folder;
  if (!LockFolder(&folder, why)) return -2;
  // The name may hold any byte; the lock file name keeps a bounded, safe alphabet and a hash
  // of the whole name.
  std::string safe;
  uint32_t h = 2166136261u;
  for (unsigned char c : name) {
    h = (h ^ c) * 16777619u;
    safe += (isalnum(c) ? (char)c : '_');
  }
  if (safe.size() > 100) safe = safe.substr(safe.size() - 100);
  char tail[16];
  snprintf(tail, sizeof tail, "-%08x", h);
  std::string path = folder + "/kivor-" + safe + tail + ".lock";
  for (;;) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      *why = path + ": " + strerror(errno);
      return -2;
    }
    int result;
    while ((result = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
      int err = errno;
      close(fd);
      if (err == EWOULDBLOCK) return -1;
      *why = path + ": " + strerror(err);
      return -2;
    }
    // The holder before us may have removed the file between our open and our lock; a lock
    // on a removed file keeps nobody out, so take the file that is there now.
    struct stat held, current;
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &current) == 0 && held.st_ino == current.st_ino &&
        held.st_dev == current.st_dev) {
      std::lock_guard<std::mutex> g(g_LockTableLock);
      g_HeldLocks.emplace_back(fd, path);
      return fd;
    }
    close(fd);
  }
}

void PlatLockRelease(int lockId) {
  if (lockId < 0) return;
  {
    std::lock_guard<std::mutex> g(g_LockTableLock);
    for (size_t i = 0; i < g_HeldLocks.size(); i++) {
      if (g_HeldLocks[i].first != lockId) continue;
      // Removed while still held, so no other process can be holding the name's file now.
      unlink(g_HeldLocks[i].second.c_str());
      g_HeldLocks.erase(g_HeldLocks.begin() + (long)i);
      break;
    }
  }
  flock(lockId, LOCK_UN);
  close(lockId);
}

namespace {

volatile sig_atomic_t g_QuitSignal;

// The first SIGTERM or SIGINT asks for a clean end; a second one ends the process as the
// signal's default would, for when the first could not be answered.
void OnQuitSignal(int sig) {
  if (g_QuitSignal) {
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  g_QuitSignal = sig;
}

}  // namespace

void PlatCatchQuitSignals(bool on) {
  g_QuitSignal = 0;
  struct sigaction action {};
  action.sa_handler = on ? OnQuitSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

int PlatQuitSignal() { return g_QuitSignal; }

void* PlatLoadLibrary(const std::string& realPath) { return dlopen(realPath.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* PlatLibrarySymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void PlatFreeLibrary(void* library) {
  if (library) dlclose(library);
}

PlatLocalTime PlatHostLocalTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  return PlatLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_wday, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec,  (int)(ts.tv_nsec / 1000000)};
}

int PlatProcessorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : (int)n;
}

PlatMemoryStatus PlatHostMemoryStatus() {
  long pages = sysconf(_SC_PHYS_PAGES), avail = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  PlatMemoryStatus m{};
  if (pages > 0 && size > 0) m.totalPhysical = (uint64_t)pages * (uint64_t)size;
  if (avail > 0 && size > 0) m.availablePhysical = (uint64_t)avail * (uint64_t)size;
  return m;
}

struct PlatEvent {
  std::mutex lock;
  std::condition_variable cv;
  bool signalled;
};

PlatEvent* PlatEventCreate(bool signalled) {
  PlatEvent* e = new PlatEvent;
  e->signalled = signalled;
  return e;
}

void PlatEventSet(PlatEvent* e) {
  {
    std::lock_guard<std::mutex> g(e->lock);
    e->signalled = true;
  }
  e->cv.notify_one();
}

void PlatEventReset(PlatEvent* e) {
  std::lock_guard<std::mutex> g(e->lock);
  e->signalled = false;
}

void PlatEventWait(PlatEvent* e) {
  std::unique_lock<std::mutex> g(e->lock);
  e->cv.wait(g, [e] { return e->signalled; });
  e->signalled = false;
}

void PlatEventDestroy(PlatEvent* e) { delete e; }
