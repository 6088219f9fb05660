// Whole starts of the engine through its entry point on the headless backend, with a fresh
// game folder per test; the current folder the engine moves to is given back afterwards.
#pragma once

#include <string>
#include <vector>

#include "tests/support/engine_fixture.h"

// Runs EngineMain with these arguments (the program name first); returns its exit code.
int RunEngine(std::vector<std::string> args);

class GameStartTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the game in `game_` as a player would: "kivor --game <folder>".
  int Run() { return RunEngine({"kivor", "--game", game_.path()}); }
  // The whole of the game's debug log.
  std::string DebugLog() const;

  TempFolder game_;
  std::string cwd_;
};
