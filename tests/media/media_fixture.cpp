// Shared set-up of the media tests.
#include "tests/media/media_fixture.h"

#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/engine.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "media/media.h"
#include "platform/gpu.h"
#include "platform/platform.h"
#include "render/render.h"

void MediaScriptTest::SetUp() {
  ScriptTest::SetUp();
  window_.mWidth = 640;
  window_.mHeight = 480;
  window_.mHasWindow = 1;
  window_.mIndex = 0;
  g_WindowRecords[0] = &window_;
  g_OutputSize = {640, 480};
  g_ClientAreaSize = {640, 480};
  g_LetterboxOffset = {0, 0};
  ResetMediaState();
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
}

void MediaScriptTest::TearDown() {
  ResetMediaState();
  if (g_LayerRoot) FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  g_WindowRecords[0] = nullptr;
  g_GpuRedrawRequest = 0;
  ScriptTest::TearDown();
}

bool MediaScriptTest::RunScript(const std::string& body, int frames) {
  std::string head =
      "message 104060 \"E104060 %s\"\nmessage 101510 \"E101510\"\nmessage 101520 \"E101520\"\n"
      "global int r = -7\nglobal str s\nglobal str names[10]\nglobal real values[4]\nglobal int t\nglobal int q[6]\nfile main.txt\n*SYSTEM_START\n";
  if (!Boot(head + body + "\nloop -1\nwait frames=1\nendloop\n")) return false;
  for (int i = 0; i < frames && !g_QuitFlag; i++) {
    RunPasses(1);
    ApplyPendingLayerStateAll();
  }
  return true;
}

LayerRecord* MediaScriptTest::Layer(const char* path) {
  char normal[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(normal, path, g_LayerFolder, false) < 0) return nullptr;
  return GetLayerRecord(FindNodeByPath(g_LayerRoot, normal, NAME_LOOKUP_ANY));
}

void EmoteScriptTest::SetUp() {
  MediaScriptTest::SetUp();
  savedExe_ = g_ExeFolderReal;
  g_ExeFolderReal = folder_.path();
  namespace fs = std::filesystem;
  fs::copy_file(EMOTE_STUB_FULL, folder_.path() + "/emotedriver.so", fs::copy_options::skip_existing);
  fs::copy_file(EMOTE_STUB_FULL, folder_.path() + "/VURazuz.so", fs::copy_options::skip_existing);
  LoadEmoteBridge();
  ASSERT_EQ(g_EmoteAvailable, 1);
  // The same file again gives the bridge's own copy, so the test reads the log it writes.
  stub_ = PlatLoadLibrary(folder_.path() + "/VURazuz.so");
  ASSERT_NE(stub_, nullptr);
  reinterpret_cast<void (*)()>(PlatLibrarySymbol(stub_, "EmoteStub_Reset"))();
  log_ = reinterpret_cast<const char* (*)()>(PlatLibrarySymbol(stub_, "EmoteStub_Log"));
  clearLog_ = reinterpret_cast<void (*)()>(PlatLibrarySymbol(stub_, "EmoteStub_ClearLog"));
  endTimeline_ = reinterpret_cast<void (*)(const char*)>(PlatLibrarySymbol(stub_, "EmoteStub_EndTimeline"));
  fail_ = reinterpret_cast<void (*)(int, int)>(PlatLibrarySymbol(stub_, "EmoteStub_Fail"));
  setBusy_ = reinterpret_cast<void (*)(int, int)>(PlatLibrarySymbol(stub_, "EmoteStub_SetBusy"));
  drawnWith_ = reinterpret_cast<int (*)(float*)>(PlatLibrarySymbol(stub_, "EmoteStub_DrawnWith"));
  ASSERT_EQ(InitEmoteDriver(PlatGpu()), 0);
  // Any file ending in .psb is a model for the stand-in.
  folder_.Write("chara.psb", std::string(64, 'p'));
}

void EmoteScriptTest::TearDown() {
  FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  ShutdownEmotePlayers();
  FreeEmoteBridge();
  if (stub_) PlatFreeLibrary(stub_);
  g_ExeFolderReal = savedExe_;
  MediaScriptTest::TearDown();
}

std::string EmoteScriptTest::Log() { return log_(); }

void EmoteScriptTest::ClearLog() { clearLog_(); }

std::vector<std::string> EmoteScriptTest::Calls(const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(Log());
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}
