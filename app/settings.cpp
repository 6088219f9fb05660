// User settings (kvcfg.dat), the save location (kvsfs.dat), system facts and the
// descrambling tables of the file formats.
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "app/format_keys.h"
#include "platform/platform.h"

uint8_t g_MovieBackend;
// Both switches are on until a settings file turns one off, so code that runs without reading
// the settings still gets the kernels the processor allows.
uint8_t g_AllowSse = 1;
uint8_t g_AllowSse2 = 1;
uint8_t g_WorkerCap;
uint8_t g_ChangeDisplayMode;
uint8_t g_FitMode;
int32_t g_GpuFilterLevel;
uint8_t g_BilinearScaling;
uint8_t g_GpuDrawing;
uint8_t g_GpuSceneMode;
uint8_t g_ReportCaptionDoubleClick;
uint8_t g_UserFlag10;
uint8_t g_SoftwareVertexProcessing;
int32_t g_TextureFormat;
uint8_t g_TextureFilterChoice;
uint8_t g_DisableComposition;
uint32_t g_SettingsWords[32];
Size2 g_TextureTileLimit;
int32_t g_SamplerFilters[2];
int32_t g_MipFilter;
uint8_t g_SaveLocation;
char g_SaveFolder[MAX_PATH_BYTES + 1];
uint8_t g_OsVersionCode;
int8_t g_ProcessorCount;
uint8_t g_WorkerCount;
DesktopMode g_DesktopSize;
int32_t g_DirectXVersion;
uint8_t g_NameLengthTable[256];
uint8_t g_ScriptKey[4];

namespace {

constexpr int kSettingsWords = 32;

// Reads up to 32 little-endian words; a short file leaves the rest 0. False when the file
// cannot be opened.
bool ReadSettingsWords(const char* name, uint32_t words[kSettingsWords]) {
  memset(words, 0, sizeof(uint32_t) * kSettingsWords);
  PlatFile* f = PlatFileOpen(ExeFolderPath(name), "rb");
  if (!f) return false;
  uint8_t bytes[kSettingsWords * 4] = {};
  PlatFileRead(f, bytes, sizeof bytes);
  PlatFileClose(f);
  for (int i = 0; i < kSettingsWords; i++)
    words[i] = bytes[i * 4] | bytes[i * 4 + 1] << 8 | bytes[i * 4 + 2] << 16 | (uint32_t)bytes[i * 4 + 3] << 24;
  return true;
}

}  // namespace

void ResetEngineSettings() {
  g_MovieBackend = 1;
  g_AllowSse = 1;
  g_AllowSse2 = 1;
  g_WorkerCap = 4;
  g_ChangeDisplayMode = 1;
  g_FitMode = 1;
  g_GpuFilterLevel = 0;
  g_BilinearScaling = 1;
  g_GpuDrawing = 0;
  g_GpuSceneMode = 0;
  g_ReportCaptionDoubleClick = 0;
  g_UserFlag10 = 0;
  g_SoftwareVertexProcessing = 0;
  g_TextureFormat = 21;
  g_TextureFilterChoice = 1;
  g_DisableComposition = 0;
  memset(g_SettingsWords, 0, sizeof g_SettingsWords);
  g_TextureTileLimit = {0, 0};
  g_SamplerFilters[0] = g_SamplerFilters[1] = 1;
  g_MipFilter = 0;
}

void ApplyEngineSettingsWords(const uint32_t w[32], bool fileRead) {
  ResetEngineSettings();
  if (!fileRead) return;
  memcpy(g_SettingsWords, w, sizeof g_SettingsWords);
  auto isBit = [](uint32_t v) { return v == 0 || v == 1; };
  if (isBit(w[0])) g_MovieBackend = (uint8_t)w[0];
  if (isBit(w[22])) g_DisableComposition = (uint8_t)w[22];
  if (isBit(w[2])) g_AllowSse = (uint8_t)w[2];
  if (isBit(w[3])) g_AllowSse2 = (uint8_t)w[3];
  if (w[4] == 0) g_WorkerCap = 1;
  if (isBit(w[6])) g_ChangeDisplayMode = w[6] == 0 ? 1 : 0;
  static const uint8_t kFit[4] = {1, 2, 3, 0};
  if (w[7] <= 3) g_FitMode = kFit[w[7]];
  switch (w[8]) {
    case 0: g_GpuFilterLevel = 3; g_BilinearScaling = 1; g_GpuDrawing = 1; break;
    case 1: g_GpuFilterLevel = 2; g_BilinearScaling = 1; g_GpuDrawing = 1; break;
    case 2: g_GpuFilterLevel = 1; g_BilinearScaling = 1; g_GpuDrawing = 0; g_GpuSceneMode = 0; break;
    case 3: g_GpuFilterLevel = 0; g_BilinearScaling = 0; g_GpuDrawing = 0; g_GpuSceneMode = 0; break;
    default: break;
  }
  if (isBit(w[9])) g_ReportCaptionDoubleClick = (uint8_t)w[9];
  if (isBit(w[10])) g_UserFlag10 = (uint8_t)w[10];
  if (isBit(w[12])) g_SoftwareVertexProcessing = (uint8_t)w[12];
  if (isBit(w[13])) g_TextureFormat = w[13] ? 26 : 21;
  if (isBit(w[14])) g_TextureFilterChoice = (uint8_t)w[14];
  // A settings file fixes the texture tiling and filtering that Direct3D would use.
  g_TextureTileLimit = {512, 256};
  g_SamplerFilters[0] = g_SamplerFilters[1] = 1;
  g_MipFilter = 0;
}

int LoadEngineSettings() {
  uint32_t words[kSettingsWords];
  bool read = ReadSettingsWords("kvcfg.dat", words);
  ApplyEngineSettingsWords(words, read);
  return 0;
}

void BuildSaveFolder() {
  char company[128];
  snprintf(company, sizeof company, "\\%s_SaveData\\%s\\save\\", "OAKSPIRE", "velmo_hd");
  std::string folder;
  switch (g_SaveLocation) {
    case 1: folder = std::string(g_AppDataFolder) + company; break;
    case 2: folder = std::string(g_DocumentsFolder) + company; break;
    case 3: folder = std::string(g_DocumentsFolder) + "\\My Games" + company; break;
    default: folder = "save\\"; break;
  }
  CopyTextBounded(g_SaveFolder, sizeof g_SaveFolder, folder.c_str());
}

int LoadSaveLocation() {
  uint32_t words[kSettingsWords];
  g_SaveLocation = 0;
  if (ReadSettingsWords("kvsfs.dat", words) && words[21] <= 3) g_SaveLocation = (uint8_t)words[21];
  BuildSaveFolder();
  return 0;
}

int ReadSystemInfo() {
  // The Windows build number has no meaning here; 255 is the code of a system newer than the
  // table, which starts normally.
  g_OsVersionCode = 255;
  int processors = PlatProcessorCount();
  g_ProcessorCount = (int8_t)(processors > 127 ? 127 : processors);
  int workers = processors < 1 ? 1 : processors;
  if (workers > g_WorkerCap) workers = g_WorkerCap;
  g_WorkerCount = (uint8_t)workers;
  // The desktop mode is filled by the window backend when a display exists; without one the
  // desktop is taken as large as the largest picture the engine accepts.
  if (g_DesktopSize.width <= 0 || g_DesktopSize.height <= 0) g_DesktopSize = {8192, 8192, 32, 60};
  return 0;
}

uint8_t BuildScrambleTables() {
  FillNameLengthTable(g_NameLengthTable);
  ComputeScriptKey(g_ScriptKey);
  return 0;
}

int WriteSystemReport() {
  // The report goes to the trace sink, which keeps nothing; no file is touched (in
  // particular no user's info.txt is removed).
  PlatMemoryStatus m = PlatGetMemoryStatus();
  TraceMessage("system", "processors=%d memory=%llu", g_ProcessorCount, (unsigned long long)m.totalPhysical);
  return 0;
}
