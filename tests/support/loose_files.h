// File lookup reset to one loose folder for tests that read game files.
#pragma once

#include <string>

// Makes `folder` the program and project folder, with no packs, no in-memory files, an empty
// preload cache, loose files searched first and the usual extension orders.
void UseLooseFolder(const std::string& folder);
