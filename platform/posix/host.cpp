// Processes, the single-instance lock, shared libraries, host facts and auto-reset events.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

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

int PlatLockAcquire(const std::string& name) {
  std::string folder = EnvFolder("XDG_RUNTIME_DIR", "/tmp");
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
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -2;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? -1 : -2;
  }
  return fd;
}

void PlatLockRelease(int lockId) {
  if (lockId < 0) return;
  flock(lockId, LOCK_UN);
  close(lockId);
}

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
