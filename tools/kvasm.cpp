// Assembles a script listing into a compiled project: loose kvbin files, or one pack.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/lib/assembler.h"

int main(int argc, char** argv) {
  bool packed = false;
  std::string listingPath, folder;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--pack")) packed = true;
    else if (listingPath.empty()) listingPath = argv[i];
    else folder = argv[i];
  }
  if (listingPath.empty() || folder.empty()) {
    fprintf(stderr, "usage: kvasm [--pack] LISTING GAME_FOLDER\n");
    return 2;
  }
  std::ifstream in(listingPath, std::ios::binary);
  if (!in) {
    fprintf(stderr, "kvasm: cannot read %s\n", listingPath.c_str());
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  AssembledSet set;
  if (!AssembleListing(text.str(), &set)) {
    fprintf(stderr, "kvasm: %s: %s\n", listingPath.c_str(), set.error.c_str());
    return 1;
  }
  bool ok = packed ? WritePackedSet(folder, set) : WriteLooseSet(folder, set);
  if (!ok) {
    fprintf(stderr, "kvasm: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
