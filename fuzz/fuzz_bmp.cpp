// Fuzz target: a BMP file decoded into a layer as the layer command does after reading it.
#include "files/files.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDecodeImage(FILE_TYPE_BMP, data, size);
  return 0;
}
