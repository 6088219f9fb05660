// The tools' tests' shared helpers: shell runs and whole-file reads.
#include "tests/tools/tools_fixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

const std::string kTools = std::string(KIVOR_BINARY_DIR) + "/tools/";

Result Shell(const std::string& folder, const std::string& command) {
  std::string line = "cd '" + folder + "' && timeout 120 sh -c '" + command + "' 2>&1";
  Result r;
  FILE* p = popen(line.c_str(), "r");
  if (!p) return r;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
