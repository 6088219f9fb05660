// Named shared memory (POSIX shm) between the runtime and a program it starts, and the watched
// child processes that go with it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

extern char** environ;

struct PlatSharedMemory {
  uint8_t* data;
  size_t bytes;
  bool owner;
  std::string name;
};

namespace {

// The block's system name: the engine's name plus the creating process's id, so runs side by
// side (and tests in parallel) each get their own blocks.
std::string SystemName(const char* name, long pid) {
  char buf[160];
  snprintf(buf, sizeof buf, "/%.100s.%ld", name, pid);
  return buf;
}

PlatSharedMemory* Map(int fd, size_t bytes, bool owner, const std::string& name) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    if (owner) shm_unlink(name.c_str());
    return nullptr;
  }
  return new PlatSharedMemory{static_cast<uint8_t*>(p), bytes, owner, name};
}

}  // namespace

PlatSharedMemory* PlatSharedMemoryCreate(const char* name, size_t bytes) {
  if (bytes == 0) return nullptr;
  std::string sys = SystemName(name, (long)getpid());
  shm_unlink(sys.c_str());   // a block left by a crashed run of this process id
  int fd = shm_open(sys.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, (off_t)bytes) != 0) {
    close(fd);
    shm_unlink(sys.c_str());
    return nullptr;
  }
  return Map(fd, bytes, true, sys);
}

PlatSharedMemory* PlatSharedMemoryOpenParent(const char* name, size_t bytes) {
  if (bytes == 0) return nullptr;
  std::string sys = SystemName(name, (long)getppid());
  int fd = shm_open(sys.c_str(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st;
  // Mapping past the block's end would fault on access: refuse a block smaller than asked.
  if (fstat(fd, &st) != 0 || (uint64_t)st.st_size < bytes) {
    close(fd);
    return nullptr;
  }
  return Map(fd, bytes, false, sys);
}

uint8_t* PlatSharedMemoryData(PlatSharedMemory* m) { return m ? m->data : nullptr; }

void PlatSharedMemoryClose(PlatSharedMemory* m) {
  if (!m) return;
  munmap(m->data, m->bytes);
  if (m->owner) shm_unlink(m->name.c_str());
  delete m;
}

int PlatStartWatchedProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return (int)pid;
}

bool PlatProcessEnded(int processId) {
  if (processId < 0) return true;
  int status;
  pid_t r;
  while ((r = waitpid((pid_t)processId, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return r != 0;
}
