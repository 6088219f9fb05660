// Makes a one-file game: a copy of the runtime with a pack (and optionally a screen-saver
// image, a 24-bit BMP file) appended, its block offset recorded in the copy.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/lib/program_bundle.h"

namespace {

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *out = bytes.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string pack, image;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--image") && i + 1 < argc) {
      if (!ReadFile(argv[++i], &image)) {
        fprintf(stderr, "kvbundle: cannot read %s\n", argv[i]);
        return 1;
      }
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 3) {
    fprintf(stderr, "usage: kvbundle [--image SAVER.bmp] RUNTIME PACK.kpk OUT\n");
    return 2;
  }
  if (!ReadFile(paths[1], &pack)) {
    fprintf(stderr, "kvbundle: cannot read %s\n", paths[1].c_str());
    return 1;
  }
  std::string error;
  if (!BundleProgramFile(paths[0], paths[2], pack, image, &error)) {
    fprintf(stderr, "kvbundle: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
