// Packs a folder into a .kpk archive: every file below it, named by its path relative to the
// folder with '\' separators, in code page 932 as the engine names files.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/lib/listing_text.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/tool_options.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = "kvpack [--stored] [--no-repair] FOLDER OUT.kpk";
const char kHelp[] =
    "Packs every file below FOLDER into the pack OUT.kpk. File names in UTF-8 are stored in code\n"
    "page 932; a name without a code page 932 form is refused, and so are two names that differ\n"
    "only in case (a pack knows them as one). Movies are left out with a warning: they play only\n"
    "as loose files in the game folder.\n"
    "  --stored     keep the data as it is instead of compressing it\n"
    "  --no-repair  leave out the repair records\n"
    "  -h, --help   show this help\n";

}  // namespace

int main(int argc, char** argv) {
  ToolCommandLine args;
  int status = ParseToolCommandLine(argc, argv, "kvpack", kUsage, kHelp, {{"--stored", false}, {"--no-repair", false}},
                                    &args);
  if (status >= 0) return status;
  if (args.operands.size() != 2) {
    fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  const std::string& folder = args.operands[0];
  std::error_code ec;
  std::vector<fs::path> found;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec))
    if (it->is_regular_file()) found.push_back(it->path());
  if (ec) {
    fprintf(stderr, "kvpack: cannot read %s\n", folder.c_str());
    return 1;
  }
  // A sorted list gives the same pack from the same folder every time.
  std::sort(found.begin(), found.end());
  std::vector<PackWriterFile> files;
  std::map<std::string, std::string> paths;   // the path of each file by its name in the pack
  for (const fs::path& p : found) {
    std::string name = fs::relative(p, folder).generic_string();
    if (IsMovieName(name)) {
      fprintf(stderr, "kvpack: warning: %s left out: movies play only as loose files; put it in the game folder\n",
              p.c_str());
      continue;
    }
    std::ifstream in(p, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
      fprintf(stderr, "kvpack: cannot read %s\n", p.c_str());
      return 1;
    }
    PackWriterFile f;
    if (!NameToCp932(name, &f.name)) {
      fprintf(stderr, "kvpack: %s: the name has no code page 932 form\n", p.c_str());
      return 1;
    }
    paths[f.name] = p.string();
    f.bytes = bytes.str();
    f.compress = !args.Has("--stored");
    f.repair = !args.Has("--no-repair");
    files.push_back(std::move(f));
  }
  std::string first, second;
  if (FindPackNameClash(files, &first, &second)) {
    fprintf(stderr, "kvpack: %s and %s differ only in case and would be one file in the pack; rename one\n",
            paths[first].c_str(), paths[second].c_str());
    return 1;
  }
  // The game folder the pack goes into is made when it is not there yet.
  fs::path out(args.operands[1]);
  if (out.has_parent_path()) fs::create_directories(out.parent_path(), ec);
  std::string error;
  if (!WritePackFile(args.operands[1], files, PackWriterOptions{}, &error)) {
    fprintf(stderr, "kvpack: %s\n", error.c_str());
    return 1;
  }
  printf("kvpack: %zu files into %s\n", files.size(), args.operands[1].c_str());
  return 0;
}
