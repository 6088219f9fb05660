// The command table of the compiled set: every command's script name and its parameters
// (name, value type, check kind) in parameter-id order. The assembler writes kvc.kbn from it
// and tests use it to find parameter ids by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int COMMAND_DEF_COUNT = 110;

struct ParamSpec {
  std::string name;
  uint8_t valueType;   // 0 integer, 1 string, 2 code
  uint8_t checkKind;   // 0-28
};

struct CommandSpec {
  std::string name;
  std::vector<ParamSpec> params;
};

// The 110 commands by command code (parsed once from the table's compact form).
const std::vector<CommandSpec>& CommandSpecs();
// The code of a command by script name (ASCII case ignored), or -1.
int FindCommandCode(const std::string& name);
// The parameter id of `param` in command `code`, or -1.
int FindParamId(int code, const std::string& param);
