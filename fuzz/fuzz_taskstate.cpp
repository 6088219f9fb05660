// Fuzz target: a task-state text, as a script keeps it in save data, handed to the task start
// command; the restarted task then runs for a few passes from the place the text names.
#include "fuzz/fuzz_listings.h"
#include "fuzz/fuzz_support.h"
#include "script/vars.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  static const AssembledSet set = AssembleFuzzListing(kTaskStateListing);
  std::vector<FuzzFile> files;
  for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
  FuzzUseMemoryFiles(files);
  if (FuzzBootScripts() &&
      StoreStringElementN(set.variables.at("saved"), 0, reinterpret_cast<const char*>(data), size) == 0)
    FuzzRunPasses(12);
  FuzzEndScripts();
  FuzzUseMemoryFiles({});
  return 0;
}
