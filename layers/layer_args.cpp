// The layer commands' view of the argument slots: parameters by number, the layer name and
// the result variable.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "layers/layer_args.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

int g_DecodedCommand;

int Position(int param) { return ParamPosition(param - 1); }

int32_t ResultElement(int position) {
  int64_t e = g_ArgRefElement[position];
  return e >= 0 && e <= INT32_MAX ? int32_t(e) : -1;
}

}  // namespace

int DecodeLayerArguments(int code) {
  g_DecodedCommand = code;
  return DecodeCommandArguments(code);
}

bool ArgGiven(int param) { return Position(param) != 0; }

int64_t ArgInt(int param) { return g_ArgInteger[Position(param)]; }

const char* ArgText(int param) {
  int p = Position(param);
  return p && g_ArgString[p] ? g_ArgString[p] : "";
}

int32_t ArgOperator(int param) { return g_ArgOperator[Position(param)]; }

const char* CurrentCommandName() {
  const char* name = g_CommandDefs[g_DecodedCommand].mName;
  return name ? name : "";
}

const char* CurrentParameterName(int param) {
  const CommandDef& def = g_CommandDefs[g_DecodedCommand];
  const char* name = param >= 1 && param <= def.mParamCount ? def.mParamNames[param - 1] : nullptr;
  return name ? name : "";
}

void AppendLayerNumber(char* out, size_t size, const char* name, int64_t number) {
  char suffix[24];
  snprintf(suffix, sizeof suffix, ".%" PRId64, number);
  // The name is cut first, on a character boundary, so the number always stays whole.
  size_t room = size > strlen(suffix) ? size - strlen(suffix) : 1;
  CopyTextBounded(out, room, name);
  if (strlen(out) + strlen(suffix) < size) strcat(out, suffix);
}

int32_t NormalizeLayerArgument(char* path) {
  char name[OBJECT_PATH_BYTES];
  if (ArgGiven(2)) AppendLayerNumber(name, sizeof name, ArgText(1), ArgInt(2));
  else CopyTextBounded(name, sizeof name, ArgText(1));
  int32_t kind = NormalizeObjectPath(path, name, g_LayerFolder, false);
  if (kind < 0) return -1;
  return ArgGiven(2) ? 0 : kind;
}

void StoreResultInt(int param, int64_t value) {
  int p = Position(param);
  if (p) StoreIntElement(g_ArgReference[p], ResultElement(p), value);
}

void StoreResultText(int param, const char* text) {
  int p = Position(param);
  if (p) StoreStringElement(g_ArgReference[p], ResultElement(p), text);
}

void ClearResult(int param) {
  int p = Position(param);
  const VarRecord* var = p ? GetVariable(g_ArgReference[p]) : nullptr;
  if (!var) return;
  if (var->mType == VAR_INT) StoreIntElement(g_ArgReference[p], ResultElement(p), 0);
  else if (var->mType == VAR_REAL) StoreRealElement(g_ArgReference[p], ResultElement(p), 0.0);
  else if (var->mType == VAR_STRING) StoreStringElement(g_ArgReference[p], ResultElement(p), "");
}
