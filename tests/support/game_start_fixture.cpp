// The whole-start fixture shared by the start-up, boot and end-to-end tests.
#include "tests/support/game_start_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/engine.h"
#include "platform/platform.h"

int RunEngine(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return EngineMain((int)args.size(), argv.data());
}

void GameStartTest::SetUp() {
  HeadlessTest::SetUp();
  setenv("KIVOR_PLATFORM", "headless", 1);
  cwd_ = PlatCurrentFolder();
}

void GameStartTest::TearDown() {
  PlatSetCurrentFolder(cwd_);
  HeadlessTest::TearDown();
}

std::string GameStartTest::DebugLog() const {
  std::ifstream in(game_.path() + "/debuglog.txt", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
