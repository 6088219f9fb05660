// A game folder run through the real entry point on the headless backend, with the picture of
// every presented frame open to inspection and the game's debug-log lines read back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"

class EndToEndTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    setenv("KIVOR_PLATFORM", "headless", 1);
    cwd_ = PlatCurrentFolder();
  }
  void TearDown() override {
    HeadlessSetPresentObserver(nullptr);
    PlatSetCurrentFolder(cwd_);
    HeadlessTest::TearDown();
  }
  int Run() {
    std::vector<std::string> args{"kivor", "--game", game_.path()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return EngineMain((int)args.size(), argv.data());
  }
  // Timed input for the next run, in the input-script syntax.
  void Input(const std::string& script) {
    std::vector<HeadlessTimedEvent> events;
    std::string error;
    ASSERT_TRUE(HeadlessParseInputScript(script, &events, &error)) << error;
    HeadlessSetInputScript(events);
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
  TempFolder game_;
  std::string cwd_;
};

// Blue, green and red of pixel (x, y) of a presented BGRA frame.
inline const uint8_t* FramePixel(const HeadlessWindowState& w, int x, int y) {
  return &w.frame[((size_t)y * (size_t)w.frameWidth + (size_t)x) * 4];
}
