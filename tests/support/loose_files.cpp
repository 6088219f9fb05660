// File lookup reset to one loose folder for tests that read game files.
#include "tests/support/loose_files.h"

#include <cstring>

#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"

void UseLooseFolder(const std::string& folder) {
  g_ExeFolderReal = folder;
  g_ProjectFolderReal = folder;
  FreePackIndex();
  g_PackedRelease = 0;
  g_PacksInExecutable = 0;
  g_SourceOrderFlags[0] = 1;
  g_SourceOrderFlags[1] = 0;
  const uint8_t image[8] = {1, 2, 3, 4, 5}, sound[4] = {1, 2};
  memcpy(g_ImageExtensionOrder, image, sizeof image);
  memcpy(g_SoundExtensionOrder, sound, sizeof sound);
  g_MemoryFiles = nullptr;
  g_MemoryFileCount = 0;
  memset(g_PreloadCache, 0, sizeof g_PreloadCache);
}
