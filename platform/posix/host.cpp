// Processes, the single-instance lock, shared libraries, host facts and auto-reset events.
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
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

// The folder the private folders lie below (a function's own, so a test may set it before
// this file's globals exist).
std::string& PrivateFolderBase() {
  static std::string base = "/tmp";
  return base;
}

// This user's private folder below the base: made when missing, and refused when it is a link,
// belongs to another user or may be written by others (`why` then says why).
bool PrivateUserFolder(std::string* folder, std::string* why) {
  *folder = PrivateFolderBase() + "/kivor-" + std::to_string((unsigned long)geteuid());
  if (mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
    *why = std::string("cannot create ") + *folder + ": " + strerror(errno);
    return false;
  }
  return PlatCheckPrivateFolder(*folder, (uint32_t)geteuid(), why);
}

// The user's home: $HOME when it names a folder, else the one the user database gives, else the
// user's private folder. "" when none is fit: what would be written below it then fails.
std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/' && PlatFolderExists(found->pw_dir))
    return found->pw_dir;
  std::string folder, why;
  if (PrivateUserFolder(&folder, &why)) return folder;
  fprintf(stderr, "kivor: no home folder (%s)\n", why.c_str());
  return "";
}

}  // namespace

void PlatSetPrivateFolderBase(const std::string& base) { PrivateFolderBase() = base.empty() ? "/tmp" : base; }

std::string PlatAppDataFolder() {
  const char* v = getenv("XDG_DATA_HOME");
  return v && v[0] == '/' ? v : HomeFolder() + "/.local/share";
}

std::string PlatConfigFolder() {
  const char* v = getenv("XDG_CONFIG_HOME");
  return v && v[0] == '/' ? v : HomeFolder() + "/.config";
}

std::string PlatDocumentsFolder() {
  const char* v = getenv("XDG_DOCUMENTS_DIR");
  return v && v[0] == '/' ? v : HomeFolder() + "/Documents";
}

int PlatStartProcess(const std::vector<std::string>& argv, bool wait) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // This program ignores SIGPIPE; a program it starts gets the default back, as from a shell.
  posix_spawnattr_t attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int spawned = posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return -1;
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

// The same files again for a signal that ends the process, which may not take a lock or touch
// the heap: fixed slots, a path written before its slot is marked held. Locks beyond the slots
// still work; only a signal's end would leave their files behind.
constexpr int SIGNAL_LOCK_SLOTS = 16;
struct SignalLockSlot {
  std::atomic<int> held;   // lock-free, so a handler on any thread may read it
  char path[PATH_MAX];
};
SignalLockSlot g_SignalLockSlots[SIGNAL_LOCK_SLOTS];

void RememberForSignals(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  for (SignalLockSlot& slot : g_SignalLockSlots) {
    if (slot.held.load(std::memory_order_acquire)) continue;
    memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.held.store(1, std::memory_order_release);
    return;
  }
}

void ForgetForSignals(const std::string& path) {
  for (SignalLockSlot& slot : g_SignalLockSlots)
    if (slot.held.load(std::memory_order_acquire) && path == slot.path) slot.held.store(0, std::memory_order_release);
}

// In a signal handler: removes the files of the locks still held.
void RemoveHeldLockFiles() {
  for (SignalLockSlot& slot : g_SignalLockSlots)
    if (slot.held.load(std::memory_order_acquire)) unlink(slot.path);
}

// The folder of this user's lock files. It does not depend on the environment, so every start
// of a game by one user finds the same lock, whatever its session variables say.
bool LockFolder(std::string* folder, std::string* why) { return PrivateUserFolder(folder, why); }

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
      RememberForSignals(path);
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
      ForgetForSignals(g_HeldLocks[i].second);
      unlink(g_HeldLocks[i].second.c_str());
      g_HeldLocks.erase(g_HeldLocks.begin() + (long)i);
      break;
    }
  }
  flock(lockId, LOCK_UN);
  close(lockId);
}

namespace {

// Lock-free, so the handler may set it on any thread while another reads it; two quit signals
// handled at once on two threads still give one first and one second.
std::atomic<int> g_QuitSignal;
static_assert(std::atomic<int>::is_always_lock_free);

// The signals that end the game cleanly, as the player's quit does.
const int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
// The other signals whose default ends a program: they still end it so (with a core dump where
// the default makes one), but not before the lock files are gone and stderr has a line.
const int kEndingSignals[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT};

struct SignalName {
  int number;
  const char* name;
};
const SignalName kSignalNames[] = {
    {SIGHUP, "SIGHUP"},     {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"},
    {SIGUSR2, "SIGUSR2"},   {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"}, {SIGVTALRM, "SIGVTALRM"},
    {SIGXCPU, "SIGXCPU"},   {SIGXFSZ, "SIGXFSZ"}, {SIGIO, "SIGIO"},     {SIGPWR, "SIGPWR"},
    {SIGSTKFLT, "SIGSTKFLT"},
};

// Appends text to a fixed buffer; safe in a signal handler.
size_t Append(char* buffer, size_t used, size_t size, const char* text) {
  while (*text && used + 1 < size) buffer[used++] = *text++;
  buffer[used] = 0;
  return used;
}

// Ends the process by `sig` as its default action does, after removing the lock files and
// saying why on stderr. Only async-signal-safe calls.
void EndBySignal(int sig, const char* how) {
  RemoveHeldLockFiles();
  char line[128], digits[12];
  int n = sig, d = (int)sizeof digits - 1;
  digits[d] = 0;
  do digits[--d] = (char)('0' + n % 10), n /= 10;
  while (n > 0 && d > 0);
  size_t used = Append(line, 0, sizeof line, "kivor: ");
  used = Append(line, used, sizeof line, how);
  used = Append(line, used, sizeof line, " by signal ");
  used = Append(line, used, sizeof line, digits + d);
  used = Append(line, used, sizeof line, " (");
  used = Append(line, used, sizeof line, PlatSignalName(sig));
  used = Append(line, used, sizeof line, ")\n");
  ssize_t ignored = write(STDERR_FILENO, line, used);
  (void)ignored;
  signal(sig, SIG_DFL);
  raise(sig);   // blocked while the handler runs: it ends the process as the handler returns
}

// The first SIGTERM, SIGINT or SIGHUP asks for a clean end; a second one ends the process at
// once, for when the first could not be answered.
void OnQuitSignal(int sig) {
  int none = 0;
  if (!g_QuitSignal.compare_exchange_strong(none, sig)) EndBySignal(sig, "ended at once");
}

void OnEndingSignal(int sig) { EndBySignal(sig, "ended"); }

}  // namespace

const char* PlatSignalName(int sig) {
  for (const SignalName& s : kSignalNames)
    if (s.number == sig) return s.name;
  return "?";
}

void PlatCatchQuitSignals(bool on) {
  g_QuitSignal = 0;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = on ? OnQuitSignal : SIG_DFL;
  for (int sig : kQuitSignals) sigaction(sig, &action, nullptr);
  action.sa_handler = on ? OnEndingSignal : SIG_DFL;
  for (int sig : kEndingSignals) sigaction(sig, &action, nullptr);
}

int PlatQuitSignal() { return g_QuitSignal; }

void PlatGuardStandardStreams() {
  // A descriptor 0-2 closed by whoever started us would be the next file opened, and then every
  // line meant for the terminal would land in a save or a lock file.
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  // A reader that has gone away (`kivor | head`) makes a write fail; what it would have read is
  // dropped, and the game goes on.
  signal(SIGPIPE, SIG_IGN);
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
