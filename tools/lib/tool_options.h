// The command line every tool shares: --help and -h print its usage on standard output, an
// option it does not know is refused, and "--" ends the options so a name may begin with '-'.
#pragma once

#include <string>
#include <vector>

struct ToolOption {
  const char* name;     // "--pack"
  bool takesValue;      // the next argument is its value
};

struct ToolCommandLine {
  std::vector<std::pair<std::string, std::string>> options;   // name, value ("" when none)
  std::vector<std::string> operands;
  bool Has(const char* name) const;
  // The value of the last use of an option, or "" when not given.
  std::string Value(const char* name) const;
};

// Parses argv. Returns -1 when the tool goes on with `out`, else the status to exit with:
// 0 after printing the help, 2 after refusing an option (with the usage on stderr).
int ParseToolCommandLine(int argc, char** argv, const char* tool, const char* usage, const char* help,
                         const std::vector<ToolOption>& known, ToolCommandLine* out);
