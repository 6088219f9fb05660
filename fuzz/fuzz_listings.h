// The script listings of the targets that run a fixed project around their input, shared with
// the seed writer so that seeds and targets agree on files, variables and positions.
#pragma once

#include <string>

#include "tools/lib/assembler.h"

// Message texts with their ids for every target that boots a project.
extern const char* const kFuzzMessages;

// Loads slots 1-6 of "fz.sd" into variables of every type and a layer; with `write` set it
// first fills them and writes them there.
extern const char* const kSaveDataListing;
// Starts task "U" from the text in `saved`; with `mode` 1 it first runs task "T" for `delay`
// frames inside its blocks, loops and calls and takes its state text.
extern const char* const kTaskStateListing;

// The layer "pic" (5 x 3) that the save-data listing saves and loads.
bool AddSaveLayer();
// Assembles `listing` (after kFuzzMessages); aborts when it does not assemble.
AssembledSet AssembleFuzzListing(const std::string& listing);
