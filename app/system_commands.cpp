// The desktop-facing system commands: ending and restarting the program.
#include "app/engine.h"
#include "script/task.h"

namespace {
constexpr int CMD_END = 14;
}  // namespace

// Ends the run at the end of this frame; a non-zero "restart" starts the program again after
// shutdown.
int CmdEnd() {
  if (DecodeCommandArguments(CMD_END) != 0) return -1;
  if (int restart = ParamPosition(0)) g_RestartRequested = (uint8_t)g_ArgInteger[restart];
  g_QuitFlag = 1;
  return 0;
}
