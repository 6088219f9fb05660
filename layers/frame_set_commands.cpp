// The frame-set commands: attach a set to a layer and show a frame (98), release it (99) and
// read its counters (100).
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "layers/frame_set.h"
#include "layers/layer.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_LAYER_FRAME_SET = 98;
constexpr int CMD_FRAME_SET_RELEASE = 99;
constexpr int CMD_FRAME_SET_QUERY = 100;

// Parameters are numbered from 1 as the command table declares them.
int Given(int param) { return ParamPosition(param - 1); }
const char* Text(int param) {
  int p = Given(param);
  return p && g_ArgString[p] ? g_ArgString[p] : "";
}

// Parameter 1, or parameter 1 "." parameter 2, looked up as a leaf of the layer tree. Without
// parameter 1 there is no layer and nothing to do (`*node` stays null, result 0); a layer that
// is not there gives 101250 (result -1).
int FindLayerArgument(int code, NameNode** node) {
  *node = nullptr;
  if (!Given(1)) return 0;
  char name[OBJECT_PATH_BYTES];
  if (Given(2)) {
    char number[24];
    snprintf(number, sizeof number, ".%lld", (long long)g_ArgInteger[Given(2)]);
    CopyTextBounded(name, sizeof name - strlen(number), Text(1));
    strcat(name, number);
  } else {
    CopyTextBounded(name, sizeof name, Text(1));
  }
  char path[OBJECT_PATH_BYTES];
  if (NormalizeObjectPath(path, name, g_LayerFolder, false) < 0) return -1;
  *node = FindNodeByPath(g_LayerRoot, path, NAME_LOOKUP_LEAF);
  if (*node && (*node)->mPayload) return 0;
  const char* command = g_CommandDefs[code].mName ? g_CommandDefs[code].mName : "";
  return ReportScriptErrorF(101250, 1, command, path), -1;
}

}  // namespace

int CmdLayerFrameSet() {
  if (DecodeCommandArguments(CMD_LAYER_FRAME_SET) != 0) return -1;
  NameNode* node;
  if (FindLayerArgument(CMD_LAYER_FRAME_SET, &node) != 0) return -1;
  if (!node) return 0;
  if (Given(3)) {
    // Frame-set files are named as the engine keeps file names: lower case, '\' separators.
    char name[MAX_PATH_BYTES + 1];
    CopyTextBounded(name, sizeof name, Text(3));
    ToLowerAscii(name);
    for (char* c = name; *c; c += 1 + g_LeadByteTable[(uint8_t)*c] * (c[1] != 0))
      if (*c == '/') *c = '\\';
    LoadFrameSet(node, name);
  }
  if (Given(4)) ShowFrameSetFrame(node, g_ArgInteger[Given(4)]);
  return 0;
}

int CmdFrameSetRelease() {
  if (DecodeCommandArguments(CMD_FRAME_SET_RELEASE) != 0) return -1;
  NameNode* node;
  if (FindLayerArgument(CMD_FRAME_SET_RELEASE, &node) != 0) return -1;
  if (node) FreeFrameSet(GetLayerRecord(node));
  return 0;
}

int CmdFrameSetQuery() {
  if (DecodeCommandArguments(CMD_FRAME_SET_QUERY) != 0) return -1;
  NameNode* node;
  if (FindLayerArgument(CMD_FRAME_SET_QUERY, &node) != 0) return -1;
  int target = Given(3);
  if (!target) return 0;
  int32_t variable = g_ArgReference[target];
  int64_t element = g_ArgRefElement[target];
  if (element < 0 || element > INT32_MAX) return 0;
  LayerRecord* record = GetLayerRecord(node);
  // Without a set the result is cleared: 0, 0.0, or 101140 for a text variable.
  if (!record || !record->mFrameSet) return StoreIntElement(variable, (int32_t)element, 0), g_QuitFlag ? -1 : 0;
  const FrameSetRecord* set = record->mFrameSet;
  const int64_t values[4] = {set->mFrameCount, set->mHeaderValues[0], set->mHeaderValues[1], set->mHeaderValues[2]};
  for (int param = 4; param <= 7; param++) {
    if (!Given(param)) continue;
    StoreIntElement(variable, (int32_t)element, values[param - 4]);
    return g_QuitFlag ? -1 : 0;
  }
  return 0;
}
