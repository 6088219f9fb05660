// Fuzz target: the user settings kvcfg.dat (the input's first 128 bytes) and the save location
// kvsfs.dat (the rest), read as the start-up reads them.
#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  size_t first = size < 128 ? size : 128;
  FuzzWriteFile("kvcfg.dat", data, first);
  FuzzWriteFile("kvsfs.dat", data + first, size - first);
  LoadEngineSettings();
  LoadSaveLocation();
  ResetEngineSettings();
  strcpy(g_SaveFolder, "save\\");
  FuzzRemoveFile("kvcfg.dat");
  FuzzRemoveFile("kvsfs.dat");
  return 0;
}
