// The one budget for the memory that scripts make the runtime hold: variable storage and texts,
// images, sound files, preloaded files and save data being put together.
#pragma once

#include <cstdint>

// About what a 32-bit program of this kind could use in all. A 64-bit host with overcommit
// would otherwise hand a runaway script the whole machine until the system's out-of-memory
// killer, not the script's no-memory message, ends the game.
constexpr uint64_t SCRIPT_MEMORY_BUDGET = uint64_t(2) << 30;

// Counts `bytes` against the budget: false, with nothing counted, when they would pass it. The
// caller then fails as on an allocation the system refused. Any thread.
bool TakeScriptMemory(uint64_t bytes);
// Gives back what an earlier take counted. Any thread.
void GiveScriptMemory(uint64_t bytes);
uint64_t ScriptMemoryInUse();
// Test hook: a smaller budget, so a test reaches the limit without the memory (0: the real one).
void SetScriptMemoryBudget(uint64_t bytes);
