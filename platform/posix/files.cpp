// Files and folders on real (UTF-8) paths, and the Windows-style name resolution.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

struct PlatFile {
  FILE* f;
  bool writeFailed;   // some write came up short
  std::string path;   // as opened
};

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// Splits a Windows-style name (already UTF-8) into components on '\' and '/'.
std::vector<std::string> SplitComponents(const std::string& name) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// Finds `component` in folder `dir`: the exact name first, then any name equal without regard
// to ASCII case (the first in sorted order, so the choice is repeatable).
bool FindComponent(const std::string& dir, const std::string& component, std::string* real) {
  std::string exact = (dir.empty() ? std::string(".") : dir) + "/" + component;
  struct stat st;
  if (lstat(exact.c_str(), &st) == 0) {
    *real = component;
    return true;
  }
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  std::vector<std::string> hits;
  while (dirent* e = readdir(d)) {
    if (EqualNoCase(e->d_name, component)) hits.push_back(e->d_name);
  }
  closedir(d);
  if (hits.empty()) return false;
  std::sort(hits.begin(), hits.end());
  *real = hits[0];
  return true;
}

}  // namespace

bool PlatResolvePath(const std::string& base, const char* name, std::string* out) {
  std::string utf8;
  size_t len = strlen(name);
  // Names come from the game in code page 932; a name that is already plain ASCII or
  // UTF-8 from the host (a command-line folder) passes when CP932 cannot read it.
  if (!PlatCp932ToUtf8(name, len, &utf8)) utf8.assign(name, len);
  bool absolute = !utf8.empty() && (utf8[0] == '/' || utf8[0] == '\\');
  std::string path = absolute ? "" : base;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::vector<std::string> parts = SplitComponents(utf8);
  bool found = true;
  for (const std::string& part : parts) {
    if (part == ".") continue;
    std::string real = part;
    // ".." is left to the file system; other components are matched while the path exists.
    if (part != ".." && found && !FindComponent(path.empty() && absolute ? "/" : path, part, &real))
      found = false;
    if (path.empty()) path = absolute ? "/" + real : real;
    else if (path == "/") path += real;
    else path += "/" + real;
  }
  if (path.empty()) path = absolute ? "/" : (base.empty() ? "." : base);
  *out = path;
  return found;
}

bool PlatFileExists(const std::string& realPath) {
  struct stat st;
  return stat(realPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PlatFolderExists(const std::string& realPath) {
  struct stat st;
  return stat(realPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string PlatCurrentFolder() {
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return ".";
  return buf;
}

namespace {
std::string g_StartFolder;   // the current folder before the program first changed it
}  // namespace

bool PlatSetCurrentFolder(const std::string& realPath) {
  if (g_StartFolder.empty()) g_StartFolder = PlatCurrentFolder();
  return chdir(realPath.c_str()) == 0;
}

std::string PlatStartFolder() { return g_StartFolder.empty() ? PlatCurrentFolder() : g_StartFolder; }

bool PlatListFolder(const std::string& realPath, std::vector<std::string>* names) {
  names->clear();
  DIR* d = opendir(realPath.c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    std::string n = e->d_name;
    if (PlatFolderExists(realPath + "/" + n)) n += "/";
    names->push_back(n);
  }
  closedir(d);
  std::sort(names->begin(), names->end());
  return true;
}

std::string PlatCanonicalPath(const std::string& realPath) {
  char* resolved = realpath(realPath.c_str(), nullptr);
  if (!resolved) return realPath;
  std::string out = resolved;
  free(resolved);
  return out;
}

namespace {

// Who may own a link this program follows, or the place a link leads to, on the way to a file
// it writes: itself or the system.
bool TrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

// The entry `name` of folder `dir` after a refused no-follow open: when it is a link, it is
// opened following it (`flags`, `mode`) only when the link and what it leads to belong to a
// trusted owner; a link that leads nowhere yet is not followed (the file it would make could be
// anywhere). -1 with errno set otherwise.
int OpenThroughLink(int dir, const char* name, int flags, mode_t mode) {
  int refused = errno;
  struct stat link;
  if (fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) {
    errno = refused;
    return -1;
  }
  // Where it leads is looked at before anything is opened there (a truncation could not be
  // undone).
  int place = TrustedOwner(link.st_uid) ? openat(dir, name, O_PATH | O_CLOEXEC | (flags & O_DIRECTORY)) : -1;
  struct stat target;
  bool trusted = place >= 0 && fstat(place, &target) == 0 && TrustedOwner(target.st_uid);
  if (!trusted) {
    if (place >= 0) close(place);
    errno = EACCES;
    return -1;
  }
  if (flags & O_PATH) return place;
  close(place);
  return openat(dir, name, flags & ~O_CREAT, mode);
}

// Opens the folder that holds `path` by walking it from the root one name at a time, taking a
// link only where OpenThroughLink allows it, so a link another user planted on the way (in a
// shared folder, say) never leads a written file into a place of that user's choosing. Gives
// the folder's descriptor and the last name of the path, or -1 with errno set.
int OpenParentFolder(const std::string& path, std::string* last) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return -1;
    absolute = std::string(cwd) + "/" + path;
  }
  std::vector<std::string> parts;
  for (size_t at = 0; at < absolute.size();) {
    size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    if (end > at) parts.push_back(absolute.substr(at, end - at));
    at = end + 1;
  }
  if (parts.empty() || absolute.back() == '/') {   // a folder, not a file in one
    errno = EISDIR;
    return -1;
  }
  int dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; dir >= 0 && i + 1 < parts.size(); i++) {
    if (parts[i] == ".") continue;
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    int next = openat(dir, parts[i].c_str(), flags | O_NOFOLLOW);
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) next = OpenThroughLink(dir, parts[i].c_str(), flags, 0);
    int err = errno;
    close(dir);
    errno = err;
    dir = next;
  }
  *last = parts.back();
  return dir;
}

// Opens `path` for writing with `flags` as OpenParentFolder walks to it; a link in the last
// place is taken only as OpenThroughLink allows. -1 with errno set.
int OpenForWriting(const std::string& path, int flags) {
  std::string name;
  int dir = OpenParentFolder(path, &name);
  if (dir < 0) return -1;
  flags |= O_CLOEXEC;
  int fd = openat(dir, name.c_str(), flags | O_NOFOLLOW, 0666);
  if (fd < 0 && errno == ELOOP) fd = OpenThroughLink(dir, name.c_str(), flags, 0666);
  int err = errno;
  close(dir);
  errno = err;
  return fd;
}

PlatFile* WrapDescriptor(int fd, const char* mode, std::string path) {
  if (fd < 0) return nullptr;
  struct stat st;
  int err = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  FILE* f = err ? nullptr : fdopen(fd, mode);
  if (!f) {
    if (!err) err = errno;
    close(fd);
    errno = err;
    return nullptr;
  }
  return new PlatFile{f, false, std::move(path)};
}

std::atomic<uint32_t> g_TemporaryCounter;

}  // namespace

PlatFile* PlatFileOpen(const std::string& realPath, const char* mode) {
  if (!strcmp(mode, "rb")) return WrapDescriptor(open(realPath.c_str(), O_RDONLY | O_CLOEXEC), mode, realPath);
  // "r+b" updates a file that must already be there.
  int flags = !strcmp(mode, "wb")   ? O_WRONLY | O_CREAT | O_TRUNC
              : !strcmp(mode, "ab") ? O_WRONLY | O_CREAT | O_APPEND
                                    : O_RDWR;
  return WrapDescriptor(OpenForWriting(realPath, flags), mode, realPath);
}

PlatFile* PlatFileCreateTemporary(const std::string& target, std::string* temporary) {
  std::string name;
  int dir = OpenParentFolder(target, &name);
  if (dir < 0) return nullptr;
  // The process and a counter make the name this writer's own; a name somebody else already
  // has is never opened (O_EXCL), but the next one is tried.
  if (name.size() > 100) name.resize(100);
  int fd = -1;
  std::string chosen;
  for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
    chosen = name + "." + std::to_string((long)getpid()) + "-" + std::to_string(g_TemporaryCounter++) + ".tmp";
    fd = openat(dir, chosen.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  int err = errno;
  close(dir);
  errno = err;
  size_t slash = target.rfind('/');
  *temporary = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + chosen;
  return WrapDescriptor(fd, "wb", *temporary);
}

const std::string& PlatFilePath(PlatFile* f) { return f->path; }

int64_t PlatFileSize(PlatFile* f) {
  struct stat st;
  if (fstat(fileno(f->f), &st) != 0) return -1;
  return st.st_size;
}

bool PlatFileSeek(PlatFile* f, int64_t offset) { return fseeko(f->f, offset, SEEK_SET) == 0; }

size_t PlatFileRead(PlatFile* f, void* buffer, size_t bytes) { return fread(buffer, 1, bytes, f->f); }

namespace {
std::atomic<int64_t> g_DiskBytesLeft{-1};
}  // namespace

void PlatSimulateDiskFull(int64_t bytes) { g_DiskBytesLeft = bytes; }

size_t PlatFileWrite(PlatFile* f, const void* buffer, size_t bytes) {
  int64_t left = g_DiskBytesLeft;
  size_t done;
  if (left >= 0) {
    size_t allowed = (uint64_t)left < bytes ? (size_t)left : bytes;
    g_DiskBytesLeft = left - (int64_t)allowed;
    done = fwrite(buffer, 1, allowed, f->f);
    if (allowed < bytes) errno = ENOSPC;
  } else {
    done = fwrite(buffer, 1, bytes, f->f);
  }
  if (done < bytes) f->writeFailed = true;
  return done;
}

bool PlatFileWriteFailed(PlatFile* f) { return f->writeFailed; }

bool PlatFileFlush(PlatFile* f) { return fflush(f->f) == 0 && fsync(fileno(f->f)) == 0; }

void PlatFileClose(PlatFile* f) {
  if (!f) return;
  fclose(f->f);
  delete f;
}

bool PlatRenameReplace(const std::string& from, const std::string& to) {
  std::string name;
  int dir = OpenParentFolder(to, &name);
  if (dir < 0) return false;
  if (renameat(AT_FDCWD, from.c_str(), dir, name.c_str()) != 0) {
    int err = errno;
    close(dir);
    errno = err;
    return false;
  }
  // The new name lives in the folder: until the folder reaches the device too, a power cut can
  // bring the old file back, or no file at all.
  int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  close(dir);
  if (fd < 0) return true;
  fsync(fd);
  close(fd);
  return true;
}

bool PlatDeleteFile(const std::string& realPath) { return unlink(realPath.c_str()) == 0; }

bool PlatIsProgramFile(const std::string& realPath) {
  struct stat st;
  return stat(realPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(realPath.c_str(), X_OK) == 0;
}

bool PlatCreateFolder(const std::string& realPath) {
  std::string folder = realPath, name;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  int dir = OpenParentFolder(folder, &name);
  if (dir < 0) return false;
  bool made = mkdirat(dir, name.c_str(), 0777) == 0;
  int err = errno;
  close(dir);
  errno = err;
  return made;
}

bool PlatDeleteFolder(const std::string& realPath) { return rmdir(realPath.c_str()) == 0; }
