// Assembles a script listing into a compiled project: loose kvbin files, or one pack.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/lib/assembler.h"
#include "tools/lib/listing_text.h"
#include "tools/lib/tool_options.h"

namespace {

const char kUsage[] = "kvasm [--pack] LISTING GAME_FOLDER";
const char kHelp[] =
    "Assembles a script listing into the compiled files of a game.\n"
    "The listing is UTF-8 or UTF-16 with its byte-order mark (converted to code page 932 here; a\n"
    "character without a code page 932 form is refused with its line) or already code page 932.\n"
    "A mistake is told as FILE:LINE and nothing is written. See tools/README.md for the listing\n"
    "language.\n"
    "  --pack      write GAME_FOLDER/data.kpk instead of loose files under GAME_FOLDER/kvbin\n"
    "  -h, --help  show this help\n";

// The assembler's "line N: ..." as "FILE:N: ...", the form editors jump to.
std::string Located(const std::string& file, const std::string& error) {
  if (error.compare(0, 5, "line ") == 0) {
    size_t colon = error.find(':');
    if (colon != std::string::npos) return file + ":" + error.substr(5, colon - 5) + error.substr(colon);
  }
  return file + ": " + error;
}

}  // namespace

int main(int argc, char** argv) {
  ToolCommandLine args;
  int status = ParseToolCommandLine(argc, argv, "kvasm", kUsage, kHelp, {{"--pack", false}}, &args);
  if (status >= 0) return status;
  if (args.operands.size() != 2) {
    fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  const std::string& listingPath = args.operands[0];
  const std::string& folder = args.operands[1];
  std::ifstream in(listingPath, std::ios::binary);
  if (!in) {
    fprintf(stderr, "kvasm: cannot read %s\n", listingPath.c_str());
    return 1;
  }
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string listing, error;
  if (!TextToCp932(bytes.str(), listingPath, &listing, &error)) {
    fprintf(stderr, "kvasm: %s\n", error.c_str());
    return 1;
  }
  AssembledSet set;
  if (!AssembleListing(listing, &set)) {
    fprintf(stderr, "kvasm: %s\n", Located(listingPath, set.error).c_str());
    return 1;
  }
  bool ok = args.Has("--pack") ? WritePackedSet(folder, set) : WriteLooseSet(folder, set);
  if (!ok) {
    fprintf(stderr, "kvasm: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
