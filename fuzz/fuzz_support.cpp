// Shared set-up of the fuzz targets (see fuzz_support.h).
#include "fuzz/fuzz_support.h"

#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/fullscreen.h"
#include "app/hooks.h"
#include "app/menus.h"
#include "app/window.h"
#include "files/file_commands.h"
#include "files/files.h"
#include "files/savedata.h"
#include "layers/layer.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "sound/sound.h"

// Scripts and error dialogs can ask for programs to be started; an input must never start one.
// Every fuzz program is linked with --wrap=posix_spawnp, so the platform layer's call lands here.
extern "C" int __wrap_posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                                   char* const[], char* const[]) {
  return ENOENT;
}

namespace {

std::string g_FuzzFolder;
bool g_Started = false;
bool g_ScriptEngineStarted = false;
std::vector<FuzzFile> g_MemoryCopies;
std::vector<MemoryFile> g_MemoryRecords;
std::vector<MemoryFile*> g_MemoryPointers;

void RemoveFuzzFolder() {
  std::error_code ignored;
  if (!g_FuzzFolder.empty()) std::filesystem::remove_all(g_FuzzFolder, ignored);
}

void FreeSoundTree(NameNode* node) {
  for (NameNode* c = node->mFirstChild; c;) {
    NameNode* next = c->mNext;
    FreeSoundTree(c);
    c = next;
  }
  FreeSoundRecord(static_cast<SoundRecord*>(node->mPayload));
  FreeNodeShell(node);
}

}  // namespace

void FuzzStart() {
  if (g_Started) return;
  g_Started = true;
  std::string pattern = (std::filesystem::temp_directory_path() / "kivor-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) abort();
  g_FuzzFolder = pattern;
  atexit(RemoveFuzzFolder);
  // Locks and the files a game writes stay inside the scratch folder.
  PlatSetPrivateFolderBase(g_FuzzFolder);
  setenv("XDG_DATA_HOME", g_FuzzFolder.c_str(), 1);
  setenv("KIVOR_PLATFORM", "headless", 1);
  unsetenv("KIVOR_INPUT_SCRIPT");
  if (!PlatformInit("headless")) abort();
  HeadlessReset();
  ResetMessageState();
  g_ExeFolderReal = g_FuzzFolder;
  g_ProjectFolderReal = g_FuzzFolder;
  g_DocumentOpener = "/nonexistent/opener";
  FillNameLengthTable(g_NameLengthTable);
  ComputeScriptKey(g_ScriptKey);
  InitPixelKernels();
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
  strcpy(g_SaveFolder, "save\\");
  g_KeepRunningInactive = 1;
  g_InactivePause = 0;
}

const std::string& FuzzFolder() { return g_FuzzFolder; }

void FuzzBeginInput() {
  FuzzStart();
  ResetMessageState();
  g_QuitFlag = 0;
  HeadlessClearCalls();
}

void FuzzWriteFile(const std::string& name, const void* data, size_t size) {
  std::filesystem::path p = std::filesystem::path(g_FuzzFolder) / name;
  std::error_code ec;
  std::filesystem::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), (std::streamsize)size);
}

void FuzzRemoveFile(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(g_FuzzFolder) / name, ignored);
}

std::vector<FuzzFile> FuzzSplitFiles(const uint8_t* data, size_t size) {
  std::vector<FuzzFile> files;
  size_t at = 0;
  while (at < size) {
    const void* zero = memchr(data + at, 0, size - at);
    if (!zero) break;
    size_t nameEnd = static_cast<const uint8_t*>(zero) - data;
    FuzzFile f;
    f.name.assign(reinterpret_cast<const char*>(data + at), nameEnd - at);
    at = nameEnd + 1;
    uint32_t length = 0;
    for (int b = 0; b < 4 && at < size; b++, at++) length |= (uint32_t)data[at] << (8 * b);
    size_t take = length < size - at ? length : size - at;
    f.bytes.assign(reinterpret_cast<const char*>(data + at), take);
    at += take;
    files.push_back(std::move(f));
  }
  return files;
}

std::string FuzzJoinFiles(const std::vector<FuzzFile>& files) {
  std::string out;
  for (const FuzzFile& f : files) {
    out += f.name;
    out += '\0';
    for (int b = 0; b < 4; b++) out += (char)(f.bytes.size() >> (8 * b));
    out += f.bytes;
  }
  return out;
}

void FuzzUseMemoryFiles(const std::vector<FuzzFile>& files) {
  g_MemoryCopies = files;
  g_MemoryRecords.assign(files.size(), MemoryFile{});
  g_MemoryPointers.assign(files.size(), nullptr);
  for (size_t i = 0; i < files.size(); i++) {
    FuzzFile& f = g_MemoryCopies[i];
    // Readers copy the bytes out; a zero-sized file still gets an address.
    f.bytes.reserve(f.bytes.size() + 1);
    g_MemoryRecords[i].mName = f.name.data();
    g_MemoryRecords[i].mSize = (uint32_t)f.bytes.size();
    g_MemoryRecords[i].mData = reinterpret_cast<uint8_t*>(f.bytes.data());
    g_MemoryPointers[i] = &g_MemoryRecords[i];
  }
  g_MemoryFiles = g_MemoryPointers.empty() ? nullptr : g_MemoryPointers.data();
  g_MemoryFileCount = (int32_t)g_MemoryPointers.size();
}

void FuzzStartScriptEngine() {
  if (g_ScriptEngineStarted) return;
  g_ScriptEngineStarted = true;
  FuzzStart();
  g_DesktopSize = {1920, 1080, 32, 60};
  InitGlobalsOnce();
  if (CreateWindowRecords() != 0) abort();
  WindowRecord* main = g_WindowRecords[0];
  main->mWidth = 640;
  main->mHeight = 480;
  SetupWindowRecord(main, "fuzz");
  g_ClientAreaSize = g_OutputSize = {640, 480};
  ResizeScreenBuffer(640, 480);
  if (!CreateGameWindow(main, "fuzz")) abort();
  g_WindowSlotState[0] = 1;
  g_Running = 1;
}

bool FuzzBootScripts() {
  FuzzStartScriptEngine();
  ResetScriptSet();
  InitEvaluatorTables();
  InitAssignOperatorTable();
  InitOpcodeTable(1);
  g_ScriptPassCounter = 0;
  g_DeclarationMode = 0;
  WindowRecord* main = g_WindowRecords[0];
  main->mWidth = 640;
  main->mHeight = 480;
  if (LoadProjectSettings() != 0) return false;
  // The harness plays no sound and keeps the frame step on this thread.
  g_SoundEnabled = 0;
  g_GameThreadMode = 0;
  g_KeepRunningInactive = 1;
  g_InactivePause = 0;
  g_SourceOrderFlags[0] = 1;
  // The layer tree and its window root stay from input to input (making the root's picture
  // costs more than a short run); the layers below it go with each run.
  if ((!g_LayerRoot && CreateLayerTreeRoot() != 0) || CreateTaskTreeRoot() != 0 || CreateSoundTreeRoot() != 0 ||
      CreateMenuTreeRoot() != 0)
    return false;
  return BootScripts() == 0;
}

void FuzzRunPasses(int passes) {
  PlatEventRecord quit{};
  quit.type = PLAT_EVENT_QUIT;
  quit.window = -1;
  HeadlessPushEvent(quit);
  for (int k = 0; k < passes && !g_QuitFlag; k++) {
    g_ExtraPassRequest = 0;
    g_ScriptPassCounter++;
    RunScriptTasks();
    if (g_QuitFlag) break;
    ApplyPendingLayerStateAll();
    HeadlessAdvanceTicks(16);
  }
}

void FuzzEndScripts() {
  FreeAllTasks();
  g_TaskRoot = nullptr;
  ResetScriptSet();
  NameNode* w0 = g_WindowRecords[0]->mRootLayer;
  for (NameNode* c = g_LayerRoot ? g_LayerRoot->mFirstChild : nullptr; c;) {
    NameNode* next = c->mNext;
    if (c != w0) FreeLayerSubtree(c);
    c = next;
  }
  if (w0) FreeLayerChildren(w0);
  if (g_SoundRoot) FreeSoundTree(g_SoundRoot);
  g_SoundRoot = nullptr;
  DestroyAllMenuSets();
  if (g_MenuRoot) DeleteMenuSubtree(g_MenuRoot);
  FreeSaveStaging(-1);
  // Whatever the run queued or left for the window is dropped with it.
  PlatEventRecord e;
  while (g_Platform->PollEvent(&e)) {
  }
  g_QuitFlag = 0;
}
