// Shared set-up of the fuzz targets: one headless engine per process with a scratch game
// folder, the container that carries several files in one input, and the script harness that
// boots a compiled set and runs its tasks for a bounded number of passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every target defines this entry point; libFuzzer or the replay driver calls it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

struct FuzzFile {
  std::string name;
  std::string bytes;
};

// Once per process: the headless platform, the format tables and an empty scratch folder that
// is the program and the project folder, searched before any pack. Later calls do nothing.
void FuzzStart();
const std::string& FuzzFolder();
// Before each input: no message shown yet, no quit request, no recorded platform calls.
void FuzzBeginInput();
// Writes a file (relative, '/' separated) into the scratch folder; its folders are made.
void FuzzWriteFile(const std::string& name, const void* data, size_t size);
void FuzzRemoveFile(const std::string& name);

// The container of several files: each file is its name, a zero byte, its size as u32
// little-endian and its bytes. A size running past the end takes what is there; a name without
// its zero byte ends the list.
std::vector<FuzzFile> FuzzSplitFiles(const uint8_t* data, size_t size);
std::string FuzzJoinFiles(const std::vector<FuzzFile>& files);

// Hands `files` to the lookup as the development compiler hands its files over (the in-memory
// list, searched before packs and loose files); an empty list takes them away.
void FuzzUseMemoryFiles(const std::vector<FuzzFile>& files);

// The script engine on the headless main window (640 x 480) with every tree root, sound off.
// Once per process; FuzzStart first.
void FuzzStartScriptEngine();
// Loads the compiled set that the lookup finds (project settings, then the script boot), with
// fresh trees; false when the set was refused.
bool FuzzBootScripts();
// Runs up to `passes` script passes, 16 ms of clock apart, with the per-pass layer update. A
// turn that runs on without a wait past the runner's long-turn mark answers the window, which
// then finds the quit request queued here: the run ends as if the player closed the game.
void FuzzRunPasses(int passes);
// Frees the tasks, the set, the layers below the window roots, the sounds and the staging.
void FuzzEndScripts();
