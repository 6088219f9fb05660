// The script assembler: a readable listing becomes a complete compiled set (every kvbin file),
// written as loose files or into a pack. Every set carries the text of every numbered message
// the runtime raises (the listing's own `message` lines first) and defines every system
// variable the listing does not define itself.
//
// Listing lines (one statement each; '#' starts a comment):
//   config width=640 height=480 title="Game" show=1 debug=0 sound=0 gamethread=0
//   message 101600 "text"                      a message text of kve.kbn
//   global int NAME[3,4] = 5                    a variable definition (also real, str);
//   global int NAME@1200[17]                    ... with a fixed variable number, which may
//                                               also follow the sizes: NAME[17]@1200
//   file NAME                                   starts the next script file (no '=' in NAME)
//   local int NAME = 0                          a definition local to the current file
//   *LABEL                                      a label at the next command
//   dim int NAME[2,3] = 7                       a declaration command
//   TARGET = EXPR   (also += -= *= /= %= &= |= ^=)
//   if EXPR / elseif EXPR / else / endif
//   loop EXPR / endloop / break [N] / continue [N] / breakblock [N] / repeatblock [N]
//   jump LABEL | jump (EXPR)
//   call LABEL [EXPR, ...] | call (EXPR) [EXPR, ...]
//   return [EXPR, ...]
//   messageend [MARK1, MARK2]                   a message end; its one record holds the two
//                                               32-bit marks in its first two words
//   COMMAND param=EXPR param+=EXPR ...          any command of the command table
// Expressions: integers (decimal or 0x hex), reals (with '.'), "texts" (backslash escapes as the
// runtime reads them), variables by name or $NUMBER, NAME[i, j], str(x), num(x), ref(x), unary
// '-', and the binary operators || && | ^ & == != < > <= >= + - * / %.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One compiled script file before encoding, so tests can change any field.
struct ScriptImageArgument {
  uint8_t paramId, kind, op;
  uint32_t length, offset;
  uint8_t spare = 0;   // byte 1, which only the message end's first mark uses
};
struct ScriptImageCommand {
  uint8_t code, argCount, callCount;
  uint32_t line;
};
struct ScriptImage {
  std::vector<ScriptImageCommand> commands;
  std::vector<ScriptImageArgument> arguments;
  std::string expressions;
};

// The bytes of a kvt%05d.kbn file; segments scrambled with the script key unless told not to.
std::string EncodeScriptFile(const ScriptImage& image, bool scramble = true);

struct AssembledSet {
  std::map<std::string, std::string> files;   // by set name, e.g. "kvbin\\kvc.kbn"
  std::vector<ScriptImage> scripts;           // by file number
  std::map<std::string, int> variables;       // variable numbers by name
  std::string error;                          // "line N: ..." when assembling failed
};

bool AssembleListing(const std::string& listing, AssembledSet* out);
// Compiles one expression with no variables (for tests of the evaluator).
bool CompileExpression(const std::string& text, std::string* code, std::string* error);

// Writes the set as loose files under folder/kvbin, or as one pack folder/NAME.
bool WriteLooseSet(const std::string& folder, const AssembledSet& set);
bool WritePackedSet(const std::string& folder, const AssembledSet& set, const std::string& packName = "data.kpk");
