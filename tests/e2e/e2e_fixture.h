// A game folder run through the real entry point on the headless backend, with the picture of
// every presented frame open to inspection and the game's debug-log lines read back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/game_start_fixture.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/title_images.h"

class EndToEndTest : public GameStartTest {
 protected:
  void TearDown() override {
    HeadlessSetPresentObserver(nullptr);
    // A run keeps its tasks (a process runs one game); the next test's run starts afresh.
    ReleaseScriptEngine();
    GameStartTest::TearDown();
  }
  // Timed input for the next run, in the input-script syntax.
  void Input(const std::string& script) {
    std::vector<HeadlessTimedEvent> events;
    std::string error;
    ASSERT_TRUE(HeadlessParseInputScript(script, &events, &error)) << error;
    HeadlessSetInputScript(events);
  }
  // Runs the game on its own thread (it keeps real time there) and takes the mixed output at a
  // device's pace (480 frames every 10 ms), from the first sound on, until `samples` values
  // are heard or 30 s have passed; then ends the game as a player closing it would.
  std::vector<int16_t> RunAndListen(size_t samples) {
    std::thread engine([this] { Run(); });
    std::vector<int16_t> heard;
    for (int tries = 0; tries < 3000 && heard.size() < samples; tries++) {
      std::vector<int16_t> chunk(480 * 2);
      PlatAudioMix(chunk.data(), 480);
      for (int16_t v : chunk)
        if (!heard.empty() || v != 0) heard.push_back(v);
      // Not PlatSleep: the game's start-up installs the platform driver on its own thread.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    PlatEventRecord quit{};
    quit.type = PLAT_EVENT_QUIT;
    quit.window = -1;
    HeadlessPushEvent(quit);
    engine.join();
    return heard;
  }
  // The lines the game wrote to its debug log that start with `prefix`.
  std::vector<std::string> LogLines(const std::string& prefix) {
    std::ifstream in(game_.path() + "/debuglog.txt", std::ios::binary);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
};

// Blue, green and red of pixel (x, y) of a presented BGRA frame.
inline const uint8_t* FramePixel(const HeadlessWindowState& w, int x, int y) {
  return &w.frame[((size_t)y * (size_t)w.frameWidth + (size_t)x) * 4];
}

// The demo's title as the compositor must draw it without the cover, B, G, R per pixel: the
// background, the band multiplied over it ((d * (s + 1)) >> 8 at full opacity), the glow added
// on top.
inline std::vector<uint8_t> ExpectedTitle() {
  std::vector<uint8_t> out((size_t)TITLE_SCREEN_WIDTH * TITLE_SCREEN_HEIGHT * 3);
  for (int y = 0; y < TITLE_SCREEN_HEIGHT; y++)
    for (int x = 0; x < TITLE_SCREEN_WIDTH; x++) {
      uint8_t* d = &out[((size_t)y * TITLE_SCREEN_WIDTH + x) * 3];
      TitlePixel(TITLE_BACKGROUND, x, y, d);
      for (int i : {TITLE_BAND, TITLE_GLOW}) {
        const TitleImage& im = kTitleImages[i];
        int lx = x - im.mX, ly = y - im.mY;
        if (lx < 0 || ly < 0 || lx >= im.mWidth || ly >= im.mHeight) continue;
        uint8_t s[3];
        TitlePixel(i, lx, ly, s);
        for (int c = 0; c < 3; c++)
          d[c] = i == TITLE_BAND ? (uint8_t)((d[c] * (s[c] + 1)) >> 8) : (uint8_t)std::min(255, d[c] + s[c]);
      }
    }
  return out;
}

// The built demo's pack, or "" when the build made none.
inline std::string BuiltDemoPack() {
  std::ifstream pack(std::string(KIVOR_BINARY_DIR) + "/demo/game/data.kpk", std::ios::binary);
  if (!pack) return "";
  return std::string(std::istreambuf_iterator<char>(pack), std::istreambuf_iterator<char>());
}

// Where an effect begins in what the output gave (interleaved stereo, left channel compared):
// the sound rises from a quiet start within the sound thread's first passes, so the effect
// counts from the first heard frame that begins a run of 16 of its own frames. `at` is that
// frame of `heard`, `from` the effect's frame there; false when no such run begins in the
// first 100 ms.
inline bool FindEffectStart(const std::vector<int16_t>& heard, const std::vector<int16_t>& samples, size_t* at,
                            size_t* from) {
  auto runAt = [&](size_t a, size_t f) {
    for (size_t k = 0; k < 16; k++)
      if (heard[2 * (a + k)] != samples[f + k]) return false;
    return true;
  };
  for (size_t a = 0; a + 16 < heard.size() / 2 && a < 4410; a++)
    for (size_t f = 0; f + 16 < samples.size(); f++)
      if (runAt(a, f)) {
        *at = a;
        *from = f;
        return true;
      }
  return false;
}
