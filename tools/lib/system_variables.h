// The system variables (numbers 0-999) every compiled game defines: their numbers, types and
// shapes, so scripts read them as `$136` without declaring them.
#pragma once

#include <cstdint>
#include <vector>

// A run of system variables of one type and shape; `elements` 0 is a plain variable, more an
// array of that many elements (the readers take the element as an index).
struct SystemVariableRun {
  uint16_t first, last;
  uint8_t type;   // 1 integer, 2 real, 3 text
  int32_t elements;
};

const std::vector<SystemVariableRun>& SystemVariableRuns();
