// Shared set-up of the media tests: a main window record of 640 x 480, the layer tree, and the
// E-mote stand-in bridge installed, taken up and driving a driver, with its call log.
#pragma once

#include <string>

#include "app/window.h"
#include "layers/layer.h"
#include "tests/support/script_fixture.h"

class MediaScriptTest : public ScriptTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Boots `body` (after the variables r = -7, s, names[10], values[4], t and q[6]) ending in an endless wait and
  // runs `frames` passes with a layer update each.
  bool RunScript(const std::string& body, int frames = 2);
  LayerRecord* Layer(const char* path);

  WindowRecord window_{};
};

class EmoteScriptTest : public MediaScriptTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The stand-in bridge's calls since the last clear, one per line.
  std::string Log();
  void ClearLog();
  // Lines of the log that start with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix);
  void (*endTimeline_)(const char*) = nullptr;
  void (*fail_)(int, int) = nullptr;
  void (*setBusy_)(int, int) = nullptr;
  // The world, view and projection the stand-in read from the device at its last draw.
  int (*drawnWith_)(float* matrices) = nullptr;

 private:
  void* stub_ = nullptr;
  const char* (*log_)() = nullptr;
  void (*clearLog_)() = nullptr;
  std::string savedExe_;
};
