// Makes a one-file game: a copy of the runtime with a pack (and optionally a screen-saver
// image, a 24-bit BMP file) appended, its block offset recorded in the copy.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/lib/pack_writer.h"
#include "tools/lib/program_bundle.h"
#include "tools/lib/tool_options.h"

namespace {

const char kUsage[] = "kvbundle [--image SAVER.bmp] RUNTIME PACK.kpk OUT";
const char kHelp[] =
    "Writes OUT: a copy of the runtime program RUNTIME with the pack appended, a game in one file.\n"
    "Movies in the pack are left out with a warning: they play only as loose files beside OUT.\n"
    "  --image SAVER.bmp  also append a 24-bit BMP picture for the screen-saver mode\n"
    "  -h, --help         show this help\n";

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
  ToolCommandLine args;
  int status = ParseToolCommandLine(argc, argv, "kvbundle", kUsage, kHelp, {{"--image", true}}, &args);
  if (status >= 0) return status;
  if (args.operands.size() != 3) {
    fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  std::string pack, image;
  if (args.Has("--image") && !ReadFile(args.Value("--image"), &image)) {
    fprintf(stderr, "kvbundle: cannot read %s\n", args.Value("--image").c_str());
    return 1;
  }
  if (!ReadFile(args.operands[1], &pack)) {
    fprintf(stderr, "kvbundle: cannot read %s\n", args.operands[1].c_str());
    return 1;
  }
  std::string error, filtered;
  std::vector<std::string> movies;
  if (!FilterPack(pack, IsMovieName, &filtered, &movies, &error)) {
    fprintf(stderr, "kvbundle: %s: %s\n", args.operands[1].c_str(), error.c_str());
    return 1;
  }
  for (const std::string& movie : movies)
    fprintf(stderr, "kvbundle: warning: %s left out: movies play only as loose files; put it beside %s\n",
            movie.c_str(), args.operands[2].c_str());
  pack = filtered;
  if (!BundleProgramFile(args.operands[0], args.operands[2], pack, image, &error)) {
    fprintf(stderr, "kvbundle: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
