// The script memory budget: one counter that every holder of script-made memory takes from.
#include "app/memory_budget.h"

#include <atomic>

namespace {
std::atomic<uint64_t> g_ScriptMemory{0};
std::atomic<uint64_t> g_Budget{SCRIPT_MEMORY_BUDGET};
}  // namespace

bool TakeScriptMemory(uint64_t bytes) {
  uint64_t budget = g_Budget.load(std::memory_order_relaxed);
  if (bytes > budget) return false;
  uint64_t held = g_ScriptMemory.load(std::memory_order_relaxed);
  do {
    if (held + bytes > budget) return false;
  } while (!g_ScriptMemory.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

void GiveScriptMemory(uint64_t bytes) { g_ScriptMemory.fetch_sub(bytes, std::memory_order_relaxed); }

uint64_t ScriptMemoryInUse() { return g_ScriptMemory.load(std::memory_order_relaxed); }

void SetScriptMemoryBudget(uint64_t bytes) { g_Budget = bytes ? bytes : SCRIPT_MEMORY_BUDGET; }
