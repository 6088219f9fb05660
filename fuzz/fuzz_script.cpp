// Fuzz target: a whole compiled set (a container of kvbin files) loaded as the start-up loads
// it, its script files linked, and its tasks run for a bounded number of passes, so argument
// decoding and the expression evaluator see every command the set holds.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  FuzzUseMemoryFiles(FuzzSplitFiles(data, size));
  if (FuzzBootScripts()) FuzzRunPasses(40);
  FuzzEndScripts();
  FuzzUseMemoryFiles({});
  return 0;
}
