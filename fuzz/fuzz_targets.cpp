// Steps that several fuzz targets share (see fuzz_targets.h).
#include "fuzz/fuzz_targets.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/window.h"
#include "files/files.h"
#include "fuzz/fuzz_support.h"
#include "layers/layer.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "script/nametree.h"
#include "sound/sound.h"

namespace {

constexpr int kOutputRate = 8000;

WindowRecord g_ImageWindow{};
bool g_SoundStarted = false;

void FreeSoundNodes(NameNode* node) {
  for (NameNode* c = node->mFirstChild; c;) {
    NameNode* next = c->mNext;
    FreeSoundNodes(c);
    c = next;
  }
  FreeSoundRecord(static_cast<SoundRecord*>(node->mPayload));
  FreeNodeShell(node);
}

void StartSound() {
  if (g_SoundStarted) return;
  g_SoundStarted = true;
  g_SoundEnabled = 1;
  g_Running = 1;
  HeadlessSetAudioByHand(true);
  if (InitDirectSound() != 1 || InitSoundCommandRing() != 0) abort();
  // The null output at its lowest rate: the buffers' cursors move at the same pace through the
  // same refills and loop jumps, for a fifth of the mixing the game's rate would take.
  if (PlatAudioOpen(kOutputRate) != kOutputRate) abort();
}

}  // namespace

std::string FuzzSafeName(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty() || base.size() > 40 || base == "." || base == "..") return "";
  for (char& c : base) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == '.';
    if (!ok) return "";
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
  }
  return base;
}

void FuzzReadEveryPackEntry(int limit) {
  const PackIndex& x = g_PackIndex;
  std::vector<std::string> names;
  for (int32_t i = 0; i < x.mCount && (int)names.size() < limit; i++)
    if (x.mEntries[(size_t)i].mLive)
      names.emplace_back(x.mNames.data() + x.mEntries[(size_t)i].mNameOffset, x.mEntries[(size_t)i].mNameLength);
  for (const std::string& name : names) {
    FileLocation location{};
    if (LocateFile(&location, name.c_str(), true) <= 0) continue;
    if (ReadLocatedFile(&location, name.c_str()) == 0) free(location.mData);
    // A failed read reports a fatal message; the next entry is read on a fresh start.
    ResetMessageState();
    g_QuitFlag = 0;
  }
}

void FuzzDecodeImage(uint8_t type, const uint8_t* data, size_t size) {
  FuzzBeginInput();
  if (!g_WindowRecords[0]) {
    g_ImageWindow.mWidth = 640;
    g_ImageWindow.mHeight = 480;
    g_WindowRecords[0] = &g_ImageWindow;
  }
  if (!g_LayerRoot && CreateLayerTreeRoot() != 0) abort();
  NameNode* node = CreateNamedNode(g_LayerRoot, "W0/fuzz", false, 1);
  LayerRecord* record = node ? AttachNewLayerRecord(node) : nullptr;
  if (!record) abort();
  static const char* const kNames[] = {"", "fuzz.bmp", "fuzz.png", "fuzz.jpg", "fuzz.gif", "", "", "", "fuzz.kcg"};
  const char* name = type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "fuzz";
  // The decoders read a whole file from its own allocation, so a read past the end shows.
  std::vector<uint8_t> file(data, data + size);
  DecodeImageIntoLayer(record, type, file.data(), file.size(), name);
  FreeLayerNode(node);
}

void FuzzPlaySound(uint8_t format, const uint8_t* data, size_t size) {
  FuzzBeginInput();
  StartSound();
  const char* name = format == SOUND_FORMAT_OGG ? "fuzz.ogg" : "fuzz.wav";
  FuzzUseMemoryFiles({FuzzFile{name, std::string(reinterpret_cast<const char*>(data), size)}});
  if (!g_SoundRoot && CreateSoundTreeRoot() != 0) abort();
  NameNode* node = CreateTreeNode(g_SoundRoot, "S0/fuzz", false, 1);
  SoundRecord* record = node ? CreateSoundRecord(node) : nullptr;
  if (!record) abort();
  node->mPayload = record;
  record->mFormat = format;
  PostSoundCommand(node, SOUND_OP_LOAD, 0, name);
  PostSoundCommand(node, SOUND_OP_PLAY, 0, nullptr);
  // The sound thread ends at the first pass that fails, as the real one does after its message.
  bool running = RunSoundPass() == 0;
  HeadlessAdvanceTicks(1);
  running = running && RunSoundPass() == 0;
  // Three seconds at the device's pace, a pass every tenth of a second.
  static std::vector<int16_t> out(kOutputRate / 10 * 2);
  for (int step = 0; step < 30 && running && record->mState != SOUND_STATE_IDLE; step++) {
    PlatAudioMix(out.data(), kOutputRate / 10);
    HeadlessAdvanceTicks(100);
    running = RunSoundPass() == 0;
  }
  if (running) {
    PostSoundCommand(node, SOUND_OP_UNLOAD, 0, nullptr);
    RunSoundPass();
  }
  FreeSoundNodes(g_SoundRoot);
  g_SoundRoot = nullptr;
  // Entries a failed pass left behind name the freed nodes: the next input starts a new ring.
  InitSoundCommandRing();
  FuzzUseMemoryFiles({});
}
