// Script speed: commands per second of a loop of 1,000,000 passes over integer arithmetic with a
// conditional, and over text concatenation; the heap must not grow per evaluated expression.
// Each common shape of a script loop (integers, the loop counter, arrays, reals, calls, texts)
// runs beside the same loop in Lua 5.4 through its C API, and a frame of 1,000 to 3,000 tasks
// beside Lua resuming as many coroutines; x_lua is our time over Lua's in the same run.
#include <lua5.4/lauxlib.h>
#include <lua5.4/lua.h>
#include <lua5.4/lualib.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"
#include "script/eval.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "tools/lib/assembler.h"

namespace {

constexpr int64_t kPasses = 1000000;

// Each loop pass runs: assign, if, endif, assign, loop end (the inner assign only sometimes).
const char* const kArithmetic = R"(
global int i = 0
global int acc = 0
file bench.txt
*SYSTEM_START
i = 0
loop 1000000
  acc = acc + i * 3 - i / 7
  if acc > 1000000000
    acc = acc % 1000
  endif
  i += 1
endloop
wait frames=1
jump SYSTEM_START
)";

const char* const kConcatenation = R"(
global str s = ""
global str t = "abc"
global int hits = 0
file bench.txt
*SYSTEM_START
loop 1000000
  s = t + "def" + str(hits)
  if s == "abcdef0"
    hits += 1
  endif
  hits -= 0
endloop
wait frames=1
jump SYSTEM_START
)";

// Boots a listing from a loose project in a temporary folder; the folder stays for the run.
bool BootListing(const char* listing) {
  static bool platform = PlatformInit("headless");
  (void)platform;
  std::string folder =
      (std::filesystem::temp_directory_path() / ("kivor-bench-" + std::to_string(std::random_device{}()))).string();
  AssembledSet set;
  if (!AssembleListing(listing, &set) || !WriteLooseSet(folder, set)) return false;
  g_ExeFolderReal = folder;
  g_ProjectFolderReal = folder;
  g_SourceOrderFlags[0] = 1;
  ComputeScriptKey(g_ScriptKey);
  InitEvaluatorTables();
  InitAssignOperatorTable();
  InitOpcodeTable(1);
  ResetScriptSet();
  if (CreateTaskTreeRoot() != 0) return false;
  ResetMessageState();
  g_QuitFlag = 0;
  return BootScripts() == 0;
}

double MedianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// CPU time in ms since `start`.
double MsSince(std::clock_t start) { return 1000.0 * (double)(std::clock() - start) / CLOCKS_PER_SEC; }

// Our time and Lua's, taken in turn within each iteration so both see the same machine load;
// reported as medians, with x_lua the median of the per-iteration ratios.
struct SameRun {
  std::vector<double> ours, theirs, ratios;
  void Add(double kivor, double lua) {
    ours.push_back(kivor);
    theirs.push_back(lua);
    ratios.push_back(kivor / lua);
  }
  void Report(benchmark::State& state, const char* oursName, const char* luaName) const {
    if (g_QuitFlag) state.SkipWithError(LastErrorDialogText());
    state.counters[oursName] = MedianOf(ours);
    state.counters[luaName] = MedianOf(theirs);
    state.counters["x_lua"] = MedianOf(ratios);
  }
};

// One script pass runs the whole loop: 1,000,000 passes of `perPass` commands.
void RunLoop(benchmark::State& state, const char* listing, int perPass) {
  if (!BootListing(listing)) {
    state.SkipWithError("the listing did not boot");
    return;
  }
  g_ScriptPassCounter++;
  RunScriptTasks();   // warm-up: pool buffers and argument buffers come into being here
  size_t heapBefore = mallinfo2().uordblks;
  // Every later pass ends the one-frame wait, jumps back and runs the whole loop again.
  for (auto _ : state) {
    g_ScriptPassCounter++;
    RunScriptTasks();
  }
  if (g_QuitFlag) state.SkipWithError(LastErrorDialogText());
  state.SetItemsProcessed(state.iterations() * kPasses * perPass);
  state.counters["heap_growth_bytes"] = (double)(mallinfo2().uordblks - heapBefore);
}

void BM_ArithmeticLoop(benchmark::State& state) { RunLoop(state, kArithmetic, 5); }
void BM_ConcatenationLoop(benchmark::State& state) { RunLoop(state, kConcatenation, 5); }

// The arithmetic loop in Lua, with the two variables as locals (its fastest form) and as
// globals (looked up by name, like nothing in our runner). The locals form is the anchor the
// script loop is held to (x_lua_locals); the globals form is reported beside it.
const char* const kLuaArithmetic = R"(
function with_locals()
  local i, acc = 0, 0
  for _ = 1, 1000000 do
    acc = acc + i * 3 - i // 7
    if acc > 1000000000 then
      acc = acc % 1000
    end
    i = i + 1
  end
  return acc
end
acc = 0
function with_globals()
  i = 0
  for _ = 1, 1000000 do
    acc = acc + i * 3 - i // 7
    if acc > 1000000000 then
      acc = acc % 1000
    end
    i = i + 1
  end
  return acc
end
)";

// The CPU time of one call, in ms.
double RunLua(lua_State* lua, const char* function) {
  std::clock_t start = std::clock();
  lua_getglobal(lua, function);
  lua_call(lua, 0, 1);
  benchmark::DoNotOptimize(lua_tointeger(lua, -1));
  lua_pop(lua, 1);
  return MsSince(start);
}

void BM_ArithmeticLoopLua(benchmark::State& state) {
  lua_State* lua = luaL_newstate();
  if (!lua || luaL_dostring(lua, kLuaArithmetic) != LUA_OK) return state.SkipWithError("Lua refused the loop");
  for (auto _ : state) RunLua(lua, "with_locals");
  state.SetItemsProcessed(state.iterations() * kPasses * 5);
  lua_close(lua);
}

// Both runtimes in turn within each iteration, timed by CPU time, so the ratio sees the same
// machine load.
void BM_ArithmeticLoopVsLua(benchmark::State& state) {
  lua_State* lua = luaL_newstate();
  if (!lua || luaL_dostring(lua, kLuaArithmetic) != LUA_OK) return state.SkipWithError("Lua refused the loop");
  if (!BootListing(kArithmetic)) return state.SkipWithError("the listing did not boot");
  g_ScriptPassCounter++;
  RunScriptTasks();
  double ours = 0, locals = 0, globals = 0;
  for (auto _ : state) {
    std::clock_t start = std::clock();
    g_ScriptPassCounter++;
    RunScriptTasks();
    ours += MsSince(start);
    locals += RunLua(lua, "with_locals");
    globals += RunLua(lua, "with_globals");
  }
  if (g_QuitFlag) state.SkipWithError(LastErrorDialogText());
  double n = (double)state.iterations();
  state.counters["kivor_ms"] = ours / n;
  state.counters["lua_locals_ms"] = locals / n;
  state.counters["lua_globals_ms"] = globals / n;
  state.counters["x_lua_locals"] = ours / locals;
  state.counters["x_lua_globals"] = ours / globals;
  lua_close(lua);
}

// The common shapes of a script loop, each written as a game would write it and beside the same
// computation in Lua 5.4 (locals, its fastest form). One script pass runs the whole loop once.
struct LoopShape {
  const char* name;
  const char* listing;
  const char* lua;   // defines run(), which returns a number
};

const LoopShape kShapes[] = {
    {"integers", R"(
global int x = 0
global int seed = 1
global int total = 0
file shapes.txt
*SYSTEM_START
x = 0
loop 1000000
  seed = (seed * 31 + x) % 65536
  total += seed / 3 - x % 5
  x += 1
endloop
wait frames=1
jump SYSTEM_START
)",
     R"(
function run()
  local x, seed, total = 0, 1, 0
  for _ = 1, 1000000 do
    seed = (seed * 31 + x) % 65536
    total = total + seed // 3 - x % 5
    x = x + 1
  end
  return total
end
)"},
    {"loop_counter", R"(
global int counter@48 = 0
global int total = 0
global int marks = 0
file shapes.txt
*SYSTEM_START
loop 1000000
  total += counter * 3 % 7
  if counter % 1000 == 0
    marks += 1
  endif
endloop
wait frames=1
jump SYSTEM_START
)",
     R"(
function run()
  local total, marks = 0, 0
  for counter = 1, 1000000 do
    total = total + counter * 3 % 7
    if counter % 1000 == 0 then
      marks = marks + 1
    end
  end
  return total + marks
end
)"},
    {"arrays", R"(
global int values[1000] = 0
global int i = 0
global int sum = 0
file shapes.txt
*SYSTEM_START
loop 500
  i = 0
  loop 1000
    values[i] = i * 2 + 1
    i += 1
  endloop
  i = 0
  loop 1000
    sum += values[i]
    i += 1
  endloop
endloop
wait frames=1
jump SYSTEM_START
)",
     R"(
function run()
  local values, sum = {}, 0
  for _ = 1, 500 do
    local i = 0
    for _ = 1, 1000 do
      values[i + 1] = i * 2 + 1
      i = i + 1
    end
    i = 0
    for _ = 1, 1000 do
      sum = sum + values[i + 1]
      i = i + 1
    end
  end
  return sum
end
)"},
    {"reals", R"(
global real px = 0.0
global real vx = 1.5
global real drag = 0.999
global real energy = 0.0
file shapes.txt
*SYSTEM_START
loop 1000000
  vx = vx * drag + 0.01
  px = px + vx / 60.0
  energy += vx * vx * 0.5
endloop
wait frames=1
jump SYSTEM_START
)",
     R"(
function run()
  local px, vx, drag, energy = 0.0, 1.5, 0.999, 0.0
  for _ = 1, 1000000 do
    vx = vx * drag + 0.01
    px = px + vx / 60.0
    energy = energy + vx * vx * 0.5
  end
  return px + energy
end
)"},
    {"call_return", R"(
global int arg@50[17] = 0
global int result@54[17] = 0
global int i = 0
global int total = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  call SQUARE i
  total += result[1]
  i += 1
endloop
wait frames=1
jump SYSTEM_START
*SQUARE
return arg[1] * arg[1] % 1000
)",
     R"(
local function square(x)
  return x * x % 1000
end
function run()
  local i, total = 0, 0
  for _ = 1, 1000000 do
    total = total + square(i)
    i = i + 1
  end
  return total
end
)"},
    {"call_plain", R"(
global int i = 0
global int total = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  call STEP
  i += 1
endloop
wait frames=1
jump SYSTEM_START
*STEP
total += i % 7
return
)",
     R"(
local total, i = 0, 0
local function step()
  total = total + i % 7
end
function run()
  i = 0
  for _ = 1, 1000000 do
    step()
    i = i + 1
  end
  return total
end
)"},
    {"call_two_values", R"(
global int arg@50[17] = 0
global int result@54[17] = 0
global int i = 0
global int total = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  call MIX i, total
  total = result[1]
  i += 1
endloop
wait frames=1
jump SYSTEM_START
*MIX
return (arg[1] * 7 + arg[2]) % 100003
)",
     R"(
local function mix(a, b)
  return (a * 7 + b) % 100003
end
function run()
  local i, total = 0, 0
  for _ = 1, 1000000 do
    total = mix(i, total)
    i = i + 1
  end
  return total
end
)"},
    {"call_other_file", R"(
global int arg@50[17] = 0
global int result@54[17] = 0
global int i = 0
global int total = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  call SQUARE i
  total += result[1]
  i += 1
endloop
wait frames=1
jump SYSTEM_START
file library.txt
*SQUARE
return arg[1] * arg[1] % 1000
)",
     R"(
local function square(x)
  return x * x % 1000
end
function run()
  local i, total = 0, 0
  for _ = 1, 1000000 do
    total = total + square(i)
    i = i + 1
  end
  return total
end
)"},
    {"call_nested", R"(
global int arg@50[17] = 0
global int result@54[17] = 0
global int i = 0
global int total = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  call OUTER i
  total += result[1]
  i += 1
endloop
wait frames=1
jump SYSTEM_START
*OUTER
call INNER arg[1] + 1
return result[1] * 2
*INNER
return arg[1] % 1000
)",
     R"(
local function inner(x)
  return x % 1000
end
local function outer(x)
  return inner(x + 1) * 2
end
function run()
  local i, total = 0, 0
  for _ = 1, 1000000 do
    total = total + outer(i)
    i = i + 1
  end
  return total
end
)"},
    {"texts", R"(
global str line = ""
global int hits = 0
global int i = 0
file shapes.txt
*SYSTEM_START
i = 0
loop 1000000
  line = "item" + str(i % 100)
  if line == "item42"
    hits += 1
  endif
  i += 1
endloop
wait frames=1
jump SYSTEM_START
)",
     R"(
function run()
  local line, hits = "", 0
  for i = 0, 999999 do
    line = "item" .. (i % 100)
    if line == "item42" then
      hits = hits + 1
    end
  end
  return hits
end
)"},
};

// Each shape's whole loop in our runner and in Lua in turn within each iteration, timed by CPU
// time; x_lua is the median of the per-iteration ratios.
void BM_ShapeVsLua(benchmark::State& state) {
  const LoopShape& shape = kShapes[state.range(0)];
  state.SetLabel(shape.name);
  lua_State* lua = luaL_newstate();
  luaL_openlibs(lua);
  if (luaL_dostring(lua, shape.lua) != LUA_OK) return state.SkipWithError("Lua refused the loop");
  if (!BootListing(shape.listing)) return state.SkipWithError("the listing did not boot");
  g_ScriptPassCounter++;
  RunScriptTasks();
  SameRun run;
  for (auto _ : state) {
    std::clock_t start = std::clock();
    g_ScriptPassCounter++;
    RunScriptTasks();
    double kivor = MsSince(start);
    run.Add(kivor, RunLua(lua, "run"));
  }
  run.Report(state, "kivor_ms", "lua_ms");
  lua_close(lua);
}

// A frame of `tasks` tasks that each wait one frame and jump back, as many small tasks of a
// game do, against Lua resuming as many coroutines that each yield at once.
std::string TaskListing(int tasks) {
  return "global int k = 0\nglobal int turns = 0\nfile bench.txt\n*SYSTEM_START\nloop " + std::to_string(tasks) +
         "\n  taskstart name=(\"w\" + str(k)) label=\"WORKER\"\n  k += 1\nendloop\n"
         "*IDLE\nwait frames=1\njump IDLE\n*WORKER\nturns += 1\nwait frames=1\njump WORKER\n";
}

const char* const kLuaTasks = R"(
function make(n)
  tasks = {}
  for k = 1, n do
    tasks[k] = coroutine.create(function() while true do coroutine.yield() end end)
  end
end
function frame()
  for k = #tasks, 1, -1 do coroutine.resume(tasks[k]) end
  return #tasks
end
)";

void BM_TaskPassVsLua(benchmark::State& state) {
  int tasks = (int)state.range(0);
  lua_State* lua = luaL_newstate();
  luaL_openlibs(lua);
  if (luaL_dostring(lua, kLuaTasks) != LUA_OK) return state.SkipWithError("Lua refused the tasks");
  lua_getglobal(lua, "make");
  lua_pushinteger(lua, tasks);
  lua_call(lua, 1, 0);
  if (!BootListing(TaskListing(tasks).c_str())) return state.SkipWithError("the listing did not boot");
  // The first pass starts the tasks; the second gives each its first turn.
  for (int k = 0; k < 2; k++) {
    g_ScriptPassCounter++;
    RunScriptTasks();
  }
  // Variable 1001 is `turns`, which every task raises in each of its turns.
  int64_t turnsBefore = ReadIntElement(1001, 0);
  SameRun run;
  for (auto _ : state) {
    std::clock_t start = std::clock();
    for (int frame = 0; frame < 20; frame++) {
      g_ScriptPassCounter++;
      RunScriptTasks();
    }
    double kivor = MsSince(start) / 20;
    start = std::clock();
    for (int frame = 0; frame < 20; frame++) {
      lua_getglobal(lua, "frame");
      lua_call(lua, 0, 1);
      lua_pop(lua, 1);
    }
    run.Add(kivor, MsSince(start) / 20);
  }
  run.Report(state, "ms_per_frame", "lua_ms_per_frame");
  state.counters["turns_per_frame"] = (double)(ReadIntElement(1001, 0) - turnsBefore) / (20.0 * (double)state.iterations());
  lua_close(lua);
}

BENCHMARK(BM_ArithmeticLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArithmeticLoopLua)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArithmeticLoopVsLua)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_ConcatenationLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShapeVsLua)->DenseRange(0, (int)std::size(kShapes) - 1)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_TaskPassVsLua)->Arg(1000)->Arg(2000)->Arg(3000)->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace

BENCHMARK_MAIN();
