// What the tools' tests share: the built tools' folder, a shell run of a command line, and
// reading a file whole.
#pragma once

#include <string>

extern const std::string kTools;   // the folder of the built tools, with its trailing '/'

struct Result {
  int status = -1;
  std::string output;   // stdout and stderr together
};

// Runs a shell command line in `folder`, at most two minutes.
Result Shell(const std::string& folder, const std::string& command);

// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
