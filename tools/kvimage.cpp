// Writes the demo game's title-screen pictures (BMP files) into a folder.
#include <cstdio>
#include <string>

#include "tools/lib/title_images.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kvimage OUT_FOLDER\n");
    return 2;
  }
  for (int i = 0; i < TITLE_IMAGE_COUNT; i++) {
    std::string path = std::string(argv[1]) + "/" + kTitleImages[i].mFile;
    std::string bytes = MakeTitleBmp(i);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
      fprintf(stderr, "kvimage: cannot write %s\n", path.c_str());
      return 1;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) {
      fprintf(stderr, "kvimage: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
