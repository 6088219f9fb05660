// Shared set-up of the script tests: listings assembled into a loose project folder, booted
// through the real loaders, run pass by pass, and variables read back by name.
#pragma once

#include <string>

#include "script/task.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"

// The script engine as a fresh start leaves it, with `folder` as the game folder and a new task
// tree; false when the tree could not be made. ReleaseScriptEngine undoes it.
bool ResetScriptEngine(const std::string& folder);
void ReleaseScriptEngine();

class ScriptTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Assembles `listing` (after the standard message texts), writes it and boots it; false
  // with the reason in the test log when any step fails.
  bool Boot(const std::string& listing);
  // Assembles and writes without booting.
  bool Write(const std::string& listing);
  void RunPasses(int passes);
  int64_t Int(const std::string& name, int32_t element = 0);
  double Real(const std::string& name, int32_t element = 0);
  std::string Text(const std::string& name, int32_t element = 0);
  int Var(const std::string& name);
  // The message id shown in the dialog (the standard texts are "E<id>"), 0 when none was shown.
  int ShownMessage();
  ScriptTask* SystemTask();
  void ClearMessage();

  TempFolder folder_;
  AssembledSet set_;
};

// Message texts that name their id, so tests can tell which message was given.
extern const char* const kStandardMessages;
