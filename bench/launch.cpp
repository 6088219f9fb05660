// Start-up as a player meets it: the real program started as a process on the demo game, timed
// from just before the exec to its first presented frame (the backend prints that moment on the
// steady clock, which this process reads too, with the processor time the program had spent by
// then: on a busy machine that one varies less). Every repetition is a cold start of the
// program; the file cache is warm after the first. Headless, and with the SDL backend when there
// is a display (e.g. under xvfb-run), which is then ended once its first frame is shown.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/platform.h"

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : "";
}

double SteadyMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Launch {
  double firstFrameMs = -1;   // from before the exec to the first present
  double firstFrameCpuMs = -1;   // processor time the program spent until then, all threads
  double endMs = -1;          // from before the exec to the process's end
  int status = -1;
};

// Starts `argv` with `env` added to this process's environment, reads its standard output to
// the end (or, with `endAtFrame`, until the first frame, and then ends it) and waits for it.
bool RunOnce(const std::vector<std::string>& argv, const std::vector<std::string>& env, Launch* out,
             bool endAtFrame = false) {
  std::vector<std::string> envText(env);
  for (char** e = environ; *e; e++) {
    bool replaced = false;
    for (const std::string& mine : env)
      if (!strncmp(*e, mine.c_str(), mine.find('=') + 1)) replaced = true;
    if (!replaced) envText.push_back(*e);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  double start = SteadyMs();
  int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return false;
  }
  const char kLine[] = "first frame presented at ";
  std::string text;
  char block[4096];
  for (ssize_t n; (n = read(pipeFds[0], block, sizeof block)) != 0;) {
    if (n > 0) text.append(block, (size_t)n);
    if (n < 0 && errno != EINTR) break;
    if (endAtFrame && text.find(kLine) != std::string::npos && text.find('\n', text.find(kLine)) != std::string::npos) {
      kill(pid, SIGTERM);
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  out->endMs = SteadyMs() - start;
  out->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  size_t at = text.find(kLine);
  if (at == std::string::npos) return false;
  char* end;
  out->firstFrameMs = strtod(text.c_str() + at + sizeof kLine - 1, &end) - start;
  const char kCpu[] = " ms of the steady clock, after ";
  if (!strncmp(end, kCpu, sizeof kCpu - 1)) out->firstFrameCpuMs = strtod(end + sizeof kCpu - 1, nullptr);
  return true;
}

// The demo game in a folder of its own (a run writes its debug log and saves there), and the
// program started once so that it and its libraries are in the file cache. Empty on failure.
struct LaunchSetup {
  std::vector<std::string> argv, env;
  std::filesystem::path game;
};

const LaunchSetup& Setup() {
  static LaunchSetup setup = [] {
    LaunchSetup s;
    std::filesystem::path build = std::filesystem::path(PlatExecutablePath()).parent_path().parent_path();
    std::string program = (build / "kivor").string();
    std::string pack = ReadFile((build / "demo/game/data.kpk").string());
    std::string input = (build.parent_path().parent_path() / "demo/input.txt").string();
    if (pack.empty() || !std::filesystem::exists(program) || !std::filesystem::exists(input)) return s;
    s.game = std::filesystem::temp_directory_path() / "kivor_bench_launch";
    std::filesystem::remove_all(s.game);
    std::filesystem::create_directories(s.game);
    std::ofstream(s.game / "data.kpk", std::ios::binary) << pack;
    s.argv = {program, "--game", s.game.string()};
    s.env = {"KIVOR_PLATFORM=headless", "KIVOR_INPUT_SCRIPT=" + input};
    Launch warm;
    RunOnce(s.argv, s.env, &warm);
    return s;
  }();
  return setup;
}

void BM_LaunchToFirstFrame(benchmark::State& state) {
  const LaunchSetup& setup = Setup();
  if (setup.argv.empty()) {
    state.SkipWithError("build the kivor and kivor_demo targets first (kivor, demo/game/data.kpk, demo/input.txt)");
    return;
  }
  for (auto _ : state) {
    Launch launch;
    if (!RunOnce(setup.argv, setup.env, &launch) || launch.status != 0) {
      state.SkipWithError("the program did not present a frame or did not end cleanly");
      break;
    }
    state.SetIterationTime(launch.firstFrameMs / 1000.0);
    state.counters["cpu_ms_to_first_frame"] = launch.firstFrameCpuMs;
    state.counters["whole_run_ms"] = launch.endMs;
  }
}
// One launch per repetition; the median of the repetitions is the figure.
BENCHMARK(BM_LaunchToFirstFrame)->UseManualTime()->Iterations(1)->Repetitions(15)->Unit(benchmark::kMillisecond);

// The same start with the SDL backend on the display there is; the program is ended by SIGTERM
// once it has shown its first frame.
void BM_LaunchToFirstFrameSdl(benchmark::State& state) {
  const LaunchSetup& setup = Setup();
  const char* display = getenv("DISPLAY");
  if (setup.argv.empty() || !display || !*display) {
    state.SkipWithError("needs the demo game and a display (xvfb-run -a bench/bench_launch)");
    return;
  }
  const std::vector<std::string> env = {"KIVOR_PLATFORM=sdl", "KIVOR_SAY_FIRST_FRAME=1"};
  for (auto _ : state) {
    Launch launch;
    if (!RunOnce(setup.argv, env, &launch, true)) {
      state.SkipWithError("the program did not present a frame");
      break;
    }
    state.SetIterationTime(launch.firstFrameMs / 1000.0);
    state.counters["cpu_ms_to_first_frame"] = launch.firstFrameCpuMs;
  }
}
BENCHMARK(BM_LaunchToFirstFrameSdl)->UseManualTime()->Iterations(1)->Repetitions(15)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!Setup().game.empty()) std::filesystem::remove_all(Setup().game);
  return 0;
}
