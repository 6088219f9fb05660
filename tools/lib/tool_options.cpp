// The tools' shared command-line reading: help, known options, operands.
#include "tools/lib/tool_options.h"

#include <cstdio>
#include <cstring>

bool ToolCommandLine::Has(const char* name) const {
  for (const auto& o : options)
    if (o.first == name) return true;
  return false;
}

std::string ToolCommandLine::Value(const char* name) const {
  std::string value;
  for (const auto& o : options)
    if (o.first == name) value = o.second;
  return value;
}

int ParseToolCommandLine(int argc, char** argv, const char* tool, const char* usage, const char* help,
                         const std::vector<ToolOption>& known, ToolCommandLine* out) {
  *out = ToolCommandLine{};
  bool optionsEnded = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == 0) {
      out->operands.push_back(arg);
      continue;
    }
    if (!strcmp(arg, "--")) {
      optionsEnded = true;
      continue;
    }
    if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
      printf("usage: %s\n%s", usage, help);
      return 0;
    }
    const ToolOption* option = nullptr;
    for (const ToolOption& k : known)
      if (!strcmp(arg, k.name)) option = &k;
    if (!option) {
      fprintf(stderr, "%s: unknown option %s\nusage: %s\n", tool, arg, usage);
      return 2;
    }
    if (option->takesValue && i + 1 >= argc) {
      fprintf(stderr, "%s: %s needs a value\nusage: %s\n", tool, arg, usage);
      return 2;
    }
    out->options.push_back({arg, option->takesValue ? argv[++i] : ""});
  }
  return -1;
}
