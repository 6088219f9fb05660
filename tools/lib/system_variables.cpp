// The numbers, types and shapes of the system variables, as the runtime's readers serve them.
#include "tools/lib/system_variables.h"

#include "app/input.h"
#include "app/window.h"

namespace {

constexpr uint8_t INT = 1, REAL = 2, TEXT = 3;
constexpr int32_t JOYSTICK_BUTTONS = 32;

}  // namespace

const std::vector<SystemVariableRun>& SystemVariableRuns() {
  static const std::vector<SystemVariableRun> runs = {
      {0, 0, INT, 16},                      // local time now (0-7) and at start-up (8-15)
      {1, 1, INT, 5},                       // milliseconds now (0), script timers 1-4
      {2, 9, INT, 0},                       // system facts: OS, DirectX, sound, memory, folder
      {10, 10, REAL, 0},                    // pi
      {11, 11, INT, 0},                     // development mode
      {12, 12, TEXT, 9},                    // command-line arguments 0-8
      {13, 13, INT, 0},                     // command-line argument count
      {14, 14, TEXT, (int32_t)MAX_DROPPED_FILES},   // dropped files
      {15, 15, INT, 0},                     // dropped-file count
      {48, 49, INT, 0},                     // loop counter, 999
      {50, 50, INT, 17},                    // integer arguments of the call
      {51, 51, REAL, 17},                   // real arguments
      {52, 52, TEXT, 17},                   // text arguments
      {53, 54, INT, 17},                    // argument count and given flags, integer returns
      {55, 55, REAL, 17},                   // real returns
      {56, 56, TEXT, 17},                   // text returns
      {57, 58, INT, 17},                    // return count and flags, integer task parameters
      {59, 59, REAL, 17},                   // real task parameters
      {60, 60, TEXT, 17},                   // text task parameters
      {93, 97, TEXT, 0},                    // folders
      {98, 111, INT, 0},                    // version, frames, passes, timer, settings, window events
      {112, 113, TEXT, 0},                  // the message being built and its entry codes
      {114, 114, INT, 0},                   // project value
      {115, 115, TEXT, 0},                  // running task's name
      {116, 116, INT, 0},                   // tasks below the root
      {117, 117, TEXT, 256},                // one-byte texts
      {118, 121, TEXT, 0},                  // current layer, sound, task and menu folders
      {122, 133, INT, 0},                   // menu command, cursor positions
      {134, 134, INT, KEY_SLOTS},           // hold counter by key slot
      {135, 265, INT, 0},                   // last key, last click, hold counters of named keys
      {266, 269, INT, MAX_JOYSTICKS},       // hold counters of joystick axes
      {270, 270, INT, MAX_JOYSTICKS * JOYSTICK_BUTTONS},   // ... of joystick buttons
      {271, 399, INT, 0},                   // press counters of named keys
      {400, 403, INT, MAX_JOYSTICKS},       // press counters of joystick axes
      {404, 404, INT, MAX_JOYSTICKS * JOYSTICK_BUTTONS},   // ... of joystick buttons
      {405, 532, INT, 0},                   // key slots of named keys
      {533, 536, INT, MAX_JOYSTICKS},       // key slots of joystick axes
      {537, 537, INT, MAX_JOYSTICKS * JOYSTICK_BUTTONS},   // ... of joystick buttons
  };
  return runs;
}
