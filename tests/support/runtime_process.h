// The built runtime in a process of its own, as a player or a shell starts it: started with
// the standard streams and environment a test chooses, waited for, and its files read back.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// The whole of a file, "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Waits, without a time limit of its own (ctest's covers a hang), until the file holds `text`;
// false when `ended` says the run ended first.
bool WaitForText(const std::string& path, const std::string& text, const std::function<bool()>& ended);

// Starts the runtime (KIVOR_PROGRAM) with `args` after the program name, on the headless
// backend unless `prepare` says otherwise. `prepare` runs in the new process before the
// runtime replaces it: it may change the environment and the standard streams.
pid_t StartRuntime(const std::vector<std::string>& args, const std::function<void()>& prepare);

// In a child before the runtime starts: stderr (and stdout when `both`) into a new file.
void OutputToFile(const std::string& path, bool both = false);

// The process's end as waitpid gives it; -1 when it did not end within `seconds` (it is then
// killed).
int WaitForEnd(pid_t pid, int seconds = 300);

// The lock files of the runtime's name for this game folder in the current user's lock folder
// (the runtime's own, whatever the environment).
std::vector<std::string> GameLockFiles(const std::string& gameFolder);

// A game that writes "looping" to its debug log and then runs a loop without a wait, with the
// game-logic thread or without; `before` is listing lines run first (after one frame), and
// `globals` declarations they need.
std::string SpinningGameListing(int gameThread, const std::string& before = "", const std::string& globals = "");
