// System variables (numbers 0-999): the key rule that scripts store key hold counters by. The
// three readers and the assignment branch are declared with the variables in script/vars.h.
#pragma once

#include <cstdint>

constexpr int32_t MSG_NOT_WRITABLE = 101150;     // fatal, located: assignment to a read-only number
constexpr int32_t MSG_NO_DROPPED_FILE = 107010;  // fatal, located: dropped file past the count

// Stores `value` into the hold counter of key slot `slot` by the key rule: a key that is up
// takes only a negative value (any other stores 0), a key that is down only a positive one.
// A script can so lengthen or shorten a press or a release but never turn one into the other.
void StoreSystemValue(int32_t slot, int64_t value);
