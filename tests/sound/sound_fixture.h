// Sound test helpers: WAV images built in memory, a sound tree on the null output, passes of
// the sound thread run by hand and mixed frames pulled from the output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/nametree.h"
#include "sound/sound.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/wave_writer.h"

constexpr int TEST_RATE = 44100;

// Deterministic samples: frame i of channel c is distinct and easy to find again.
std::vector<int16_t> Ramp16(int frames, int channels);
std::vector<int16_t> Noise16(int samples, uint32_t seed);

class SoundTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  NameNode* AddSound(const std::string& name, uint8_t format);
  NameNode* AddGroup(const std::string& name);
  static SoundRecord* Rec(NameNode* n) { return static_cast<SoundRecord*>(n->mPayload); }
  // Posts and runs one pass after moving the clock by `ms`.
  int Post(NameNode* node, uint8_t op, int32_t value, const char* name = nullptr);
  int Pass(uint32_t ms = 0);
  // Loads `file` (written into the game folder) and starts it with a fade of 0; after the
  // second pass it plays at full volume with nothing pulled yet.
  void LoadAndPlay(NameNode* node, const std::string& file, const std::string& bytes);
  // Mixed stereo frames, interleaved.
  std::vector<int16_t> Pull(int frames);
  // Pulls `frames` frames, running a pass after every `step` frames with the clock moved on.
  std::vector<int16_t> Stream(int frames, int step = 2205);

  TempFolder folder_;
  std::string savedProjectFolder_;
};

// The sound thread's finished flag as the thread last left it (read under the lock it is
// written under).
uint8_t SoundThreadState();
// Waits up to `ms` milliseconds for the sound thread to end; true when it has.
bool WaitSoundThreadEnd(int ms);

// The left channel of interleaved stereo frames.
std::vector<int16_t> LeftOf(const std::vector<int16_t>& frames);

// True when oggenc and oggdec are installed.
bool HaveOggTools();
// Encodes a WAV with oggenc and decodes it again with oggdec: the Ogg file and its PCM.
bool MakeOgg(const TempFolder& folder, const std::string& wav, const std::string& name, std::string* ogg, std::string* pcm);
