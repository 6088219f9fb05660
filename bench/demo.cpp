// The demo game as a player runs it, measured: start-up time to the first presented frame,
// time and CPU time per frame and peak memory, over one whole headless run with the demo's
// scripted input. The start-up here counts from this program's own start, after the dynamic
// loader has run; bench_launch times the real program from its exec. The frame clock is the headless one, so frames follow each other as fast as
// they are made: the time per frame is the work a frame costs against its 16.7 ms budget.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point g_Launch = Clock::now();   // set while the program loads

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// The peak resident set of this process in MB, from the kernel's status file; 0 when unknown.
double PeakMemoryMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : "";
}

// The build's demo game and the source tree's input script, found from this program's place
// (build/<type>/bench/bench_demo).
void BM_DemoRun(benchmark::State& state) {
  std::filesystem::path exe = PlatExecutablePath();
  std::filesystem::path build = exe.parent_path().parent_path();
  std::string pack = ReadFile((build / "demo/game/data.kpk").string());
  std::string input = ReadFile((build.parent_path().parent_path() / "demo/input.txt").string());
  if (pack.empty() || input.empty()) {
    state.SkipWithError("build the kivor_demo target first (demo/game/data.kpk and demo/input.txt)");
    return;
  }
  std::filesystem::path game = std::filesystem::temp_directory_path() / "kivor_bench_demo";
  std::filesystem::remove_all(game);
  std::filesystem::create_directories(game);
  std::ofstream(game / "data.kpk", std::ios::binary) << pack;
  std::string folder = game.string();
  for (auto _ : state) {
    setenv("KIVOR_PLATFORM", "headless", 1);
    HeadlessReset();
    std::vector<HeadlessTimedEvent> events;
    std::string error;
    if (!HeadlessParseInputScript(input, &events, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    HeadlessSetInputScript(events);
    double firstFrame = -1, firstFromStart = -1;
    Clock::time_point start = Clock::now();
    HeadlessSetPresentObserver([&](int, const HeadlessWindowState&) {
      if (firstFrame < 0) firstFrame = MsSince(g_Launch), firstFromStart = MsSince(start);
    });
    std::clock_t cpu = std::clock();
    std::vector<std::string> args{"kivor", "--game", folder};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int result = EngineMain((int)args.size(), argv.data());
    double wall = MsSince(start);
    double cpuMs = 1000.0 * (double)(std::clock() - cpu) / CLOCKS_PER_SEC;
    HeadlessSetPresentObserver(nullptr);
    if (result != 0) state.SkipWithError("the demo did not end cleanly");
    double frames = (double)g_FrameCounter;
    state.counters["frames"] = frames;
    state.counters["game_ms"] = (double)PlatGetTicks();
    state.counters["wall_ms_per_frame"] = frames > 0 ? wall / frames : 0;
    state.counters["cpu_ms_per_frame"] = frames > 0 ? cpuMs / frames : 0;
    state.counters["first_frame_ms_from_launch"] = firstFrame;
    state.counters["first_frame_ms_from_engine_start"] = firstFromStart;
    state.counters["peak_memory_mb"] = PeakMemoryMb();
  }
  std::filesystem::remove_all(game);
}
// One run: the engine keeps its state for the rest of the process, as a game does.
BENCHMARK(BM_DemoRun)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
