// Packs a folder into a .kpk archive: every file below it, named by its path relative to the
// folder with '\' separators.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/lib/pack_writer.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  PackWriterOptions options;
  bool stored = false, repair = true;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--stored")) stored = true;
    else if (!strcmp(argv[i], "--no-repair")) repair = false;
    else paths.push_back(argv[i]);
  }
  if (paths.size() != 2) {
    fprintf(stderr, "usage: kvpack [--stored] [--no-repair] FOLDER OUT.kpk\n");
    return 2;
  }
  std::error_code ec;
  std::vector<fs::path> found;
  for (auto it = fs::recursive_directory_iterator(paths[0], ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_regular_file()) found.push_back(it->path());
  if (ec) {
    fprintf(stderr, "kvpack: cannot read %s\n", paths[0].c_str());
    return 1;
  }
  // A sorted list gives the same pack from the same folder every time.
  std::sort(found.begin(), found.end());
  std::vector<PackWriterFile> files;
  for (const fs::path& p : found) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    PackWriterFile f;
    f.name = fs::relative(p, paths[0]).generic_string();
    f.bytes = bytes.str();
    f.compress = !stored;
    f.repair = repair;
    files.push_back(std::move(f));
  }
  std::string error;
  if (!WritePackFile(paths[1], files, options, &error)) {
    fprintf(stderr, "kvpack: %s\n", error.c_str());
    return 1;
  }
  printf("kvpack: %zu files into %s\n", files.size(), paths[1].c_str());
  return 0;
}
