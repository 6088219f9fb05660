// Linking one compiled script file into threaded code: the segments are unscrambled and
// checked, every command gets its handler and its argument records, and constant jump and
// call targets are resolved to label indexes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"
#include "script/eval.h"
#include "script/fused.h"
#include "script/script_set.h"
#include "script/vars.h"

namespace {

constexpr int CMD_JUMP = 34;
constexpr int CMD_CALL = 35;
constexpr int CMD_MESSAGE_END = 70;
constexpr uint32_t HEADER_BYTES = 32;
constexpr uint32_t ARGUMENT_BYTES = 12;
constexpr size_t LABEL_TEXT_BYTES = 1024;

uint32_t ReadU32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void Unscramble(uint8_t* segment, uint32_t length) {
  for (uint32_t i = 0; i < length; i++) segment[i] ^= g_ScriptKey[i & 3];
}

// The label a constant expression names, or -1 when it reads a variable or names none.
int32_t ResolveConstantLabel(const ScriptFileRecord* file, const CommandArgument& a) {
  uint64_t end = (uint64_t)a.mExprOffset + a.mExprLength;
  if (end > file->mExpressionSize) return -1;
  static char text[LABEL_TEXT_BYTES];
  text[0] = 0;
  g_VariableUsed = 0;
  int32_t length = EvalStringExpr(text, sizeof text, file->mExpressions + a.mExprOffset, a.mExprLength);
  if (g_VariableUsed) return -1;
  return FindLabel(text, (size_t)(length > 0 ? length : 0));
}

bool Refuse(int32_t n) {
  char name[32];
  snprintf(name, sizeof name, "kvbin\\kvt%05d.kbn", (int)n);
  ReportErrorF(MSG_BROKEN_SET_FILE, 1, name);
  return false;
}

// Builds the record's arrays from the image; false (after a message) when any field points
// outside the file or outside the tables it indexes.
bool Link(int32_t n, ScriptFileRecord* file, uint8_t* data, size_t size) {
  if (size < HEADER_BYTES) return Refuse(n);
  int32_t count = (int32_t)ReadU32(data + 8);
  uint32_t lengthA = ReadU32(data + 12), lengthB = ReadU32(data + 16);
  uint32_t lengthC = ReadU32(data + 20), lengthD = ReadU32(data + 24);
  uint64_t total = (uint64_t)HEADER_BYTES + lengthA + lengthB + lengthC + lengthD;
  if (count < 0 || total > size || (uint64_t)count * 4 > lengthA || (uint64_t)count * 4 > lengthD) return Refuse(n);
  uint8_t* segA = data + HEADER_BYTES;
  uint8_t* segB = segA + lengthA;
  uint8_t* segC = segB + lengthB;
  uint8_t* segD = segC + lengthC;
  Unscramble(segA, lengthA);
  Unscramble(segB, lengthB);
  Unscramble(segC, lengthC);
  Unscramble(segD, lengthD);
  size_t commands = count > 0 ? (size_t)count : 1;
  size_t records = lengthB / ARGUMENT_BYTES;
  file->mHandlers = static_cast<CommandHandler*>(calloc(commands, sizeof(CommandHandler)));
  file->mCallCounts = static_cast<uint8_t*>(calloc(commands, 1));
  file->mArgCounts = static_cast<uint8_t*>(calloc(commands, 1));
  file->mCommandCodes = static_cast<uint8_t*>(calloc(commands, 1));
  file->mArgRecords = static_cast<CommandArgument**>(calloc(commands, sizeof(CommandArgument*)));
  file->mArgStore = static_cast<CommandArgument*>(calloc(records > 0 ? records : 1, sizeof(CommandArgument)));
  file->mLines = static_cast<uint32_t*>(calloc(commands, sizeof(uint32_t)));
  if (!file->mHandlers || !file->mCallCounts || !file->mArgCounts || !file->mCommandCodes || !file->mArgRecords ||
      !file->mArgStore || !file->mLines) {
    ReportError(100010, 1);
    return false;
  }
  file->mExpressions = segC;
  file->mExpressionSize = lengthC;
  size_t used = 0;
  for (int32_t i = 0; i < count; i++) {
    const uint8_t* c = segA + (size_t)i * 4;
    uint8_t code = c[0], args = c[1];
    if (code >= COMMAND_COUNT || records - used < args) return Refuse(n);
    file->mCommandCodes[i] = code;
    file->mArgCounts[i] = args;
    file->mCallCounts[i] = c[2];
    file->mHandlers[i] = g_CommandHandlers[code] ? g_CommandHandlers[code] : CmdUnassigned;
    file->mArgRecords[i] = file->mArgStore + used;
    for (uint8_t k = 0; k < args; k++, used++) {
      const uint8_t* b = segB + used * ARGUMENT_BYTES;
      CommandArgument& a = file->mArgStore[used];
      a.mParamId = b[0];
      a.mSpare = b[1];
      a.mKind = b[2];
      a.mOperator = b[3];
      a.mExprLength = ReadU32(b + 4);
      a.mExprOffset = ReadU32(b + 8);
      // The message end's record carries two marks in its first two words, not an argument;
      // nothing decodes it, so its bytes are kept as they are.
      if (code != CMD_MESSAGE_END && a.mParamId >= g_CommandDefs[code].mParamCount) return Refuse(n);
    }
    file->mLines[i] = ReadU32(segD + (size_t)i * 4);
  }
  file->mCommandCount = count;
  file->mArgStoreCount = used;

  InitOpcodeTable(0);
  for (int32_t i = 0; i < count; i++) {
    CommandArgument* a = file->mArgRecords[i];
    uint8_t args = file->mArgCounts[i];
    if (file->mCommandCodes[i] == CMD_JUMP && args > 0) {
      int32_t label = ResolveConstantLabel(file, a[0]);
      if (label >= 0 && (uint32_t)label <= LABEL_INDEX_MASK) a[0].mExprLength = (uint32_t)label + LABEL_INDEX_FLAG;
    } else if (file->mCommandCodes[i] == CMD_CALL) {
      for (uint8_t k = 0; k < args; k++) {
        if (a[k].mParamId != 0) continue;
        a[k].mKind = 0;
        a[k].mOperator = 0;
        // A call keeps its label in 16 bits: larger indexes stay unresolved.
        int32_t label = ResolveConstantLabel(file, a[k]);
        if (label > 0 && label <= 0xFFFF) {
          a[k].mKind = (uint8_t)label;
          a[k].mOperator = (uint8_t)(label >> 8);
        }
      }
    }
  }
  InitOpcodeTable(1);
  return true;
}

}  // namespace

void FreeScriptFileRecord(ScriptFileRecord* file) {
  if (!file) return;
  free(file->mHandlers);
  free(file->mCallCounts);
  free(file->mArgCounts);
  free(file->mCommandCodes);
  free(file->mArgRecords);
  free(file->mArgStore);
  free(file->mLines);
  free(file->mImage);
  FreeFusedCode(file);
  free(file);
}

int LinkScriptFile(int32_t n, uint8_t* data, size_t size) {
  if (!g_ScriptFiles || n < 0 || n >= g_ScriptFileCount) {
    free(data);
    return 0;
  }
  ScriptFileRecord* file = static_cast<ScriptFileRecord*>(calloc(1, sizeof(ScriptFileRecord)));
  if (!file) {
    free(data);
    ReportError(100010, 1);
    return 0;
  }
  g_ScriptFiles[n] = file;
  file->mImage = data;
  if (!data || !Link(n, file, data, size)) {
    // The record stays, empty: the file is never run and never read again.
    FreeScriptFileRecord(file);
    g_ScriptFiles[n] = static_cast<ScriptFileRecord*>(calloc(1, sizeof(ScriptFileRecord)));
    return 0;
  }
  file->mLinked = 1;
  CreateScriptVariables(n);
  // Fused code takes its forms from the variables' types, the file's own among them. Without
  // memory for it the file runs through its handlers alone.
  FuseScriptFile(file);
  return 1;
}

int LoadScriptFile(int32_t n) {
  if (!g_ScriptFiles || n < 0 || n >= g_ScriptFileCount) return 0;
  if (g_ScriptFiles[n]) return 1;
  char name[32];
  snprintf(name, sizeof name, "kvbin\\kvt%05d.kbn", (int)n);
  FileLocation location{};
  if (LocateFile(&location, name, false) <= 0 || ReadLocatedFile(&location, name) != 0 || !location.mData) {
    g_ScriptFiles[n] = static_cast<ScriptFileRecord*>(calloc(1, sizeof(ScriptFileRecord)));
    return 0;
  }
  return LinkScriptFile(n, location.mData, location.mSize);
}
