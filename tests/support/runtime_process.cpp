// Starting the built runtime in a process of its own and reading what it leaves behind.
#include "tests/support/runtime_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/platform.h"

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WaitForText(const std::string& path, const std::string& text, const std::function<bool()>& ended) {
  while (ReadWholeFile(path).find(text) == std::string::npos) {
    if (ended()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

pid_t StartRuntime(const std::vector<std::string>& args, const std::function<void()>& prepare) {
  std::vector<std::string> all{KIVOR_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  setenv("KIVOR_PLATFORM", "headless", 1);
  unsetenv("KIVOR_INPUT_SCRIPT");
  if (prepare) prepare();
  execv(KIVOR_PROGRAM, argv.data());
  _exit(127);
}

void OutputToFile(const std::string& path, bool both) {
  if (!freopen(path.c_str(), "w", stderr)) _exit(126);
  if (both) dup2(fileno(stderr), 1);
}

int WaitForEnd(pid_t pid, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

std::vector<std::string> GameLockFiles(const std::string& gameFolder) {
  // The runtime names a lock file after the game's path in lower case, with every other
  // character than a letter or a digit written as '_'; the folder's own name finds it.
  std::string name = gameFolder.substr(gameFolder.rfind('/') + 1);
  for (char& c : name) c = isalnum((unsigned char)c) ? (char)tolower((unsigned char)c) : '_';
  std::string folder = "/tmp/kivor-" + std::to_string((unsigned long)geteuid());
  std::vector<std::string> names, found;
  PlatListFolder(folder, &names);
  for (const std::string& file : names)
    if (file.find(name) != std::string::npos && file.size() > 5 && file.compare(file.size() - 5, 5, ".lock") == 0)
      found.push_back(folder + "/" + file);
  return found;
}

std::string SpinningGameListing(int gameThread, const std::string& before, const std::string& globals) {
  return "config width=160 height=48 title=\"Spin\" show=1 gamethread=" + std::to_string(gameThread) +
         "\nglobal str note = \"\"\n" + globals + "file start.txt\n*SYSTEM_START\nwait frames=1\n" + before +
         "note = \"looping\"\nenginecall code=51 text=note\n*spin\njump spin\n";
}
