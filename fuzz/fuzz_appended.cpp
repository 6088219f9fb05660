// Fuzz target: the block appended to the program file. The input is the block-offset record's
// value (u32 little-endian) and then the program file; the start-up reads the block, and a pack
// found in it is indexed and every entry read back.
#include <cstring>
#include <string>

#include "app/appended_block.h"
#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  if (size < 4) return 0;
  uint32_t offset = (uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16 | (uint32_t)data[3] << 24;
  FuzzWriteFile("program", data + 4, size - 4);
  std::string program = FuzzFolder() + "/program";
  CopyTextBounded(g_ExePath, sizeof g_ExePath, program.c_str());
  ReadAppendedBlockAt(program, offset);
  if (g_PacksInExecutable && BuildPackIndex() == 0) FuzzReadEveryPackEntry(256);
  FreePackIndex();
  g_PacksInExecutable = 0;
  g_PackBaseInExecutable = 0;
  g_PackFileInExecutable.clear();
  g_PackedRelease = 0;
  g_ScreenSaverMode = 0;
  g_ExePath[0] = 0;
  return 0;
}
