// Fuzz target: pack archives in the game folder (a container of .kpk files, update packs
// among them), the merged index the start-up builds, and every entry read back by name.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/engine.h"
#include "files/files.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  std::vector<FuzzFile> files = FuzzSplitFiles(data, size);
  std::error_code ignored;
  std::filesystem::remove_all(FuzzFolder() + "/packs", ignored);
  std::filesystem::create_directories(FuzzFolder() + "/packs", ignored);
  int written = 0;
  for (const FuzzFile& f : files) {
    std::string name = FuzzSafeName(f.name);
    if (name.empty() || written == 4) continue;
    FuzzWriteFile("packs/" + name, f.bytes.data(), f.bytes.size());
    written++;
  }
  g_ExeFolderReal = FuzzFolder() + "/packs";
  g_SourceOrderFlags[0] = 0;   // packs before loose files
  if (BuildPackIndex() == 0) FuzzReadEveryPackEntry(256);
  FreePackIndex();
  g_SourceOrderFlags[0] = 1;
  g_ExeFolderReal = FuzzFolder();
  return 0;
}
