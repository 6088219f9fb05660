// Sound test helpers (see sound_fixture.h).
#include "tests/sound/sound_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "app/engine.h"
#include "app/hooks.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"

std::vector<int16_t> Ramp16(int frames, int channels) {
  std::vector<int16_t> out;
  for (int i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++) out.push_back((int16_t)((i % 30000) * (c ? -1 : 1) + (c ? -1 : 1)));
  return out;
}

std::vector<int16_t> Noise16(int samples, uint32_t seed) {
  std::vector<int16_t> out;
  uint32_t x = seed;
  for (int i = 0; i < samples; i++) {
    x = x * 1664525u + 1013904223u;
    out.push_back((int16_t)(x >> 16));
  }
  return out;
}

std::vector<int16_t> LeftOf(const std::vector<int16_t>& frames) {
  std::vector<int16_t> out;
  for (size_t i = 0; i < frames.size(); i += 2) out.push_back(frames[i]);
  return out;
}

void SoundTest::SetUp() {
  HeadlessTest::SetUp();
  savedProjectFolder_ = g_ProjectFolderReal;
  g_ProjectFolderReal = folder_.path();
  g_SoundEnabled = 1;
  g_Running = 1;
  g_KeepRunningInactive = 1;
  g_InactivePause = 0;
  g_SoundsPausedInBackground = 0;
  ASSERT_EQ(InitDirectSound(), 1);
  ASSERT_EQ(PlatAudioRate(), TEST_RATE);
  ASSERT_EQ(InitSoundCommandRing(), 0);
  ASSERT_EQ(CreateSoundTreeRoot(), 0);
}

static void FreeSoundTree(NameNode* node) {
  for (NameNode* c = node->mFirstChild; c;) {
    NameNode* next = c->mNext;
    FreeSoundTree(c);
    c = next;
  }
  FreeSoundRecord(static_cast<SoundRecord*>(node->mPayload));
  FreeNodeShell(node);
}

void SoundTest::TearDown() {
  if (g_SoundRoot) FreeSoundTree(g_SoundRoot);
  g_SoundRoot = nullptr;
  ReleaseDirectSound();
  g_SoundEnabled = 0;
  g_ProjectFolderReal = savedProjectFolder_;
  HeadlessTest::TearDown();
}

NameNode* SoundTest::AddSound(const std::string& name, uint8_t format) {
  NameNode* n = CreateTreeNode(g_SoundRoot, ("S0/" + name).c_str(), false, 1);
  if (!n || !CreateSoundRecord(n)) return nullptr;
  Rec(n)->mFormat = format;
  return n;
}

NameNode* SoundTest::AddGroup(const std::string& name) {
  NameNode* n = CreateTreeNode(g_SoundRoot, ("S0/" + name).c_str(), true, 1);
  if (!n || !CreateSoundRecord(n)) return nullptr;
  return n;
}

int SoundTest::Post(NameNode* node, uint8_t op, int32_t value, const char* name) {
  return PostSoundCommand(node, op, value, name);
}

int SoundTest::Pass(uint32_t ms) {
  HeadlessAdvanceTicks(ms);
  return RunSoundPass();
}

void SoundTest::LoadAndPlay(NameNode* node, const std::string& file, const std::string& bytes) {
  folder_.Write(file, bytes);
  Post(node, SOUND_OP_LOAD, 0, file.c_str());
  Post(node, SOUND_OP_PLAY, 0);
  ASSERT_EQ(Pass(), 0);
  ASSERT_EQ(Pass(1), 0);
  ASSERT_EQ(Rec(node)->mState, SOUND_STATE_PLAYING);
}

std::vector<int16_t> SoundTest::Pull(int frames) {
  std::vector<int16_t> out((size_t)frames * 2);
  PlatAudioMix(out.data(), frames);
  return out;
}

std::vector<int16_t> SoundTest::Stream(int frames, int step) {
  std::vector<int16_t> out;
  while (frames > 0) {
    int n = frames < step ? frames : step;
    std::vector<int16_t> part = Pull(n);
    out.insert(out.end(), part.begin(), part.end());
    frames -= n;
    EXPECT_EQ(Pass((uint32_t)(n * 1000 / TEST_RATE)), 0);
  }
  return out;
}

uint8_t SoundThreadState() {
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  return g_SoundThreadFinished;
}

bool WaitSoundThreadEnd(int ms) {
  for (int i = 0; i < ms; i++) {
    if (SoundThreadState() == 1) return true;
    PlatSleep(1);
  }
  return SoundThreadState() == 1;
}

bool HaveOggTools() { return std::system("command -v oggenc >/dev/null 2>&1 && command -v oggdec >/dev/null 2>&1") == 0; }

static std::string ReadAll(const std::string& path) {
  std::string out;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
  }
  return out;
}

bool MakeOgg(const TempFolder& folder, const std::string& wav, const std::string& name, std::string* ogg, std::string* pcm) {
  folder.Write(name + "_src.wav", wav);
  std::string base = folder.path() + "/" + name;
  std::string cmd = "oggenc -Q -q 3 -o '" + base + ".ogg' '" + base + "_src.wav' && oggdec -Q -R -o '" + base +
                    ".raw' '" + base + ".ogg'";
  if (std::system(cmd.c_str()) != 0) return false;
  *ogg = ReadAll(base + ".ogg");
  *pcm = ReadAll(base + ".raw");
  return !ogg->empty() && !pcm->empty();
}
