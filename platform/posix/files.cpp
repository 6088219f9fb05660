// Files and folders on real (UTF-8) paths, and the Windows-style name resolution.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

struct PlatFile {
  FILE* f;
  bool writeFailed;   // some write came up short
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

PlatFile* PlatFileOpen(const std::string& realPath, const char* mode) {
  FILE* f = fopen(realPath.c_str(), mode);
  if (!f) return nullptr;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(f);
    return nullptr;
  }
  return new PlatFile{f, false};
}

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
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name lives in the folder: until the folder reaches the device too, a power cut can
  // bring the old file back, or no file at all.
  size_t slash = to.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

bool PlatCreateFolder(const std::string& realPath) { return mkdir(realPath.c_str(), 0777) == 0; }

bool PlatDeleteFolder(const std::string& realPath) { return rmdir(realPath.c_str()) == 0; }
