// The development link to the outside script compiler: the compiler is started beside the
// game, compiles the project and hands the compiled files over through two named shared
// memory blocks, which become the in-memory file list of the file lookup.
//
// Control block "KIVORCompilerFileMapObject", 512 bytes, little-endian: 0 u32 compiler ready;
// 4 u32 runtime has made the data block; 12 u8 result (1 success); 16 u32 file count; 20 u32
// data size (0 means 16); 128 u32 480, the compiled formats' version; 132 a NUL-terminated
// folder of at most 380 bytes: the runtime's folder on the way in, the project folder on the
// way back. Data block "KIVORCompilerFileMapObject2": per file u32 n, n bytes of name (NUL
// inside them), u32 size, size bytes.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/engine.h"
#include "files/files.h"
#include "platform/platform.h"

namespace {

constexpr size_t CONTROL_BYTES = 512;
constexpr size_t OFFSET_READY = 0;
constexpr size_t OFFSET_RUNTIME_READY = 4;
constexpr size_t OFFSET_RESULT = 12;
constexpr size_t OFFSET_COUNT = 16;
constexpr size_t OFFSET_DATA_SIZE = 20;
constexpr size_t OFFSET_VERSION = 128;
constexpr size_t OFFSET_FOLDER = 132;
constexpr size_t FOLDER_BYTES = CONTROL_BYTES - OFFSET_FOLDER;
constexpr uint32_t FORMAT_VERSION = 480;
constexpr uint32_t DEFAULT_DATA_SIZE = 16;
constexpr auto POLL_PERIOD = std::chrono::milliseconds(10);

const char* const COMPILER_PROGRAM = "system\\RUDud\\RUDud";

uint8_t* g_CompilerFileData;   // the private copy the list's names and data point into
MemoryFile* g_CompilerFileRecords;

// The blocks are shared with another process: every access goes through volatile bytes.
uint32_t ReadShared32(const uint8_t* block, size_t at) {
  const volatile uint8_t* p = block + at;
  return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void WriteShared32(uint8_t* block, size_t at, uint32_t value) {
  volatile uint8_t* p = block + at;
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

std::string Cp932(const char* utf8) {
  std::string out;
  if (!PlatUtf8ToCp932(utf8, strlen(utf8), &out)) out = utf8;
  return out;
}

void ShowLinkFailure() { ShowErrorBox("", "%s", Cp932("KIVORコンパイラとデータ通信が出来ませんでした。").c_str()); }

// Builds the in-memory list from a copy of the data block. Entries are read while they lie
// wholly inside the data and their names end inside their own bytes; the list ends at the
// first entry that does not, so no name or size ever points past the copy.
bool TakeFiles(const uint8_t* block, uint32_t size, uint32_t count) {
  uint8_t* copy = static_cast<uint8_t*>(malloc(size));
  // Every entry takes at least its two length words.
  uint32_t most = count < size / 8 ? count : size / 8;
  MemoryFile** list = static_cast<MemoryFile**>(calloc(most ? most : 1, sizeof(MemoryFile*)));
  MemoryFile* records = static_cast<MemoryFile*>(calloc(most ? most : 1, sizeof(MemoryFile)));
  if (!copy || !list || !records) {
    free(copy);
    free(list);
    free(records);
    ReportError(100010, 1);
    return false;
  }
  for (uint32_t i = 0; i < size; i++) copy[i] = ((const volatile uint8_t*)block)[i];
  uint64_t at = 0;
  uint32_t filled = 0;
  while (filled < most && at + 4 <= size) {
    uint32_t nameBytes = GetU32(copy + at);
    if (at + 4 + (uint64_t)nameBytes + 4 > size) break;
    char* name = reinterpret_cast<char*>(copy + at + 4);
    if (nameBytes == 0 || !memchr(name, 0, nameBytes)) break;
    uint64_t sizeAt = at + 4 + nameBytes;
    uint32_t fileBytes = GetU32(copy + sizeAt);
    if (sizeAt + 4 + (uint64_t)fileBytes > size) break;
    records[filled] = MemoryFile{name, fileBytes, copy + sizeAt + 4};
    list[filled] = &records[filled];
    filled++;
    at = sizeAt + 4 + fileBytes;
  }
  g_CompilerFileData = copy;
  g_CompilerFileRecords = records;
  g_MemoryFiles = list;
  g_MemoryFileCount = (int32_t)filled;
  return true;
}

// Takes the folder the compiler named as the project folder; on success it becomes the current
// one too. A folder that does not exist leaves the files where they were, in the game folder.
void TakeProjectFolder(const uint8_t* control, bool enter) {
  char folder[FOLDER_BYTES];
  for (size_t i = 0; i < FOLDER_BYTES; i++) folder[i] = (char)((const volatile uint8_t*)control)[OFFSET_FOLDER + i];
  folder[FOLDER_BYTES - 1] = 0;
  CopyTextBounded(g_ProjectFolder, sizeof g_ProjectFolder, folder);
  std::string real;
  if (enter && g_ProjectFolder[0] && PlatResolvePath("", g_ProjectFolder, &real) && PlatFolderExists(real)) {
    g_ProjectFolderReal = real;
    PlatSetCurrentFolder(real);
  }
}

}  // namespace

void FreeCompilerFiles() {
  free(g_MemoryFiles);
  free(g_CompilerFileRecords);
  free(g_CompilerFileData);
  g_MemoryFiles = nullptr;
  g_CompilerFileRecords = nullptr;
  g_CompilerFileData = nullptr;
  g_MemoryFileCount = 0;
}

int RunScriptCompiler() {
  FreeCompilerFiles();
  std::string program = ExeFolderPath(COMPILER_PROGRAM);
  PlatFile* probe = PlatFileOpen(program, "rb");
  if (!probe) {
    g_ErrorDialogTitle = "License Information";
    ReportError(100000, 1);
    return 1;
  }
  PlatFileClose(probe);

  PlatSharedMemory* control = PlatSharedMemoryCreate("KIVORCompilerFileMapObject", CONTROL_BYTES);
  if (!control) {
    ShowLinkFailure();
    return -1;
  }
  uint8_t* c = PlatSharedMemoryData(control);
  memset(c, 0, CONTROL_BYTES);
  WriteShared32(c, OFFSET_VERSION, FORMAT_VERSION);
  size_t folderLength = strnlen(g_ExeFolder, FOLDER_BYTES - 1);
  memcpy(c + OFFSET_FOLDER, g_ExeFolder, folderLength);

  int process = PlatStartWatchedProcess({program, "kv"});
  if (process < 0) {
    PlatSharedMemoryClose(control);
    ShowErrorBox("", "%s", Cp932("KIVORコンパイラを起動できませんでした。").c_str());
    return 1;
  }
  std::this_thread::sleep_for(POLL_PERIOD);
  InitGlobalsOnce();

  // The compiler reports its own errors: ending before it is ready ends the start silently.
  for (;;) {
    if (PlatProcessEnded(process)) {
      PlatSharedMemoryClose(control);
      return 1;
    }
    if (ReadShared32(c, OFFSET_READY) == 1) break;
    std::this_thread::sleep_for(POLL_PERIOD);
  }
  uint32_t count = ReadShared32(c, OFFSET_COUNT);
  uint32_t dataSize = ReadShared32(c, OFFSET_DATA_SIZE);
  if (dataSize == 0) dataSize = DEFAULT_DATA_SIZE;
  PlatSharedMemory* data = PlatSharedMemoryCreate("KIVORCompilerFileMapObject2", dataSize);
  if (!data) {
    PlatSharedMemoryClose(control);
    ShowLinkFailure();
    return -1;
  }
  uint8_t* d = PlatSharedMemoryData(data);
  WriteShared32(c, OFFSET_RUNTIME_READY, 1);
  while (!PlatProcessEnded(process)) std::this_thread::sleep_for(POLL_PERIOD);

  bool taken = count == 0 || TakeFiles(d, dataSize, count);
  uint8_t result = ((const volatile uint8_t*)c)[OFFSET_RESULT];
  TakeProjectFolder(c, taken && result == 1);
  PlatSharedMemoryClose(data);
  PlatSharedMemoryClose(control);
  if (!taken || result != 1) return 1;
  return 0;
}
