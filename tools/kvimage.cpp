// Writes the demo game's title-screen pictures (BMP files) into a folder.
#include <cstdio>
#include <string>

#include "tools/lib/title_images.h"
#include "tools/lib/tool_options.h"

namespace {

const char kUsage[] = "kvimage OUT_FOLDER";
const char kHelp[] =
    "Writes the demo game's title pictures (title_bg.bmp, title_band.bmp, title_glow.bmp) into\n"
    "OUT_FOLDER, which must exist.\n"
    "  -h, --help  show this help\n";

}  // namespace

int main(int argc, char** argv) {
  ToolCommandLine args;
  int status = ParseToolCommandLine(argc, argv, "kvimage", kUsage, kHelp, {}, &args);
  if (status >= 0) return status;
  if (args.operands.size() != 1) {
    fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  for (int i = 0; i < TITLE_IMAGE_COUNT; i++) {
    std::string path = args.operands[0] + "/" + kTitleImages[i].mFile;
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
