// Fuzz target: a save-data file read by the load command into variables of every type and
// into a layer.
#include <cstdlib>

#include "fuzz/fuzz_listings.h"
#include "fuzz/fuzz_support.h"
#include "layers/layer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  static const AssembledSet set = AssembleFuzzListing(kSaveDataListing);
  std::vector<FuzzFile> files;
  for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
  FuzzUseMemoryFiles(files);
  FuzzWriteFile("save/fz.sd", data, size);
  if (FuzzBootScripts() && AddSaveLayer()) FuzzRunPasses(2);
  FuzzEndScripts();
  FuzzUseMemoryFiles({});
  return 0;
}
