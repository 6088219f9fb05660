// The E-mote commands: controlling one layer's player (or every player's switch and factors)
// and reading a player's state.
#include <cstring>

#include "app/engine.h"
#include "layers/layer_args.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

enum : int { CMD_EMOTE = 12, CMD_EMOTE_QUERY = 13 };
enum : int {
  E_LAYER = 1, E_NUMBER = 2, E_ENABLED = 3, E_SWITCH = 5, E_FACTOR1 = 6, E_EFFECT = 9, E_EFFECT1 = 10,
  E_TRIGGER = 15, E_NAME = 16, E_PLAY = 17, E_STOP = 18, E_TIME = 19, E_BLEND = 20, E_NAMES = 21, E_VALUES = 22,
  E_COUNT = 23, E_VARIABLES = 24,
};
enum : int { Q_NAME = 3, Q_TARGET = 4, Q_ANIMATING = 5, Q_TIMELINE = 6, Q_TRACK = 7, Q_VARIABLES = 8 };

constexpr int VARIABLE_PAIRS = 256;

// The layer that parameters 1 and 2 name: 0 with the record (null when the path names no
// layer), -1 when the path cannot be normalised.
int FindTargetLayer(LayerRecord** out) {
  *out = nullptr;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeLayerArgument(path);
  if (kind < 0) return -1;
  NameNode* node = FindNodeByPath(g_LayerRoot, path, kind == 1 ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF);
  *out = GetLayerRecord(node);
  return 0;
}

bool HasPlayer(const LayerRecord* r) { return r && r->mEmotePlayer && g_EmoteAvailable; }

int VariableOf(int param) { return g_ArgReference[ParamPosition(param - 1)]; }

// Sets the model variables named by a string array to the values of a real (or integer) array.
void SetVariablesFromArrays(LayerRecord* layer) {
  const VarRecord* names = GetVariable(VariableOf(E_NAMES));
  const VarRecord* values = GetVariable(VariableOf(E_VALUES));
  if (!HasPlayer(layer) || !names || !values || names->mType != VAR_STRING) return;
  int64_t n = ArgGiven(E_COUNT) ? ArgInt(E_COUNT) : 0;
  if (n > names->mCount) n = names->mCount;
  if (n > values->mCount) n = values->mCount;
  if (n > VARIABLE_PAIRS) n = VARIABLE_PAIRS;
  float time = ArgGiven(E_TIME) ? float(ArgInt(E_TIME)) * 0.06f : 0.0f;
  for (int32_t i = 0; i < n; i++) {
    const char* name = ReadStringElement(VariableOf(E_NAMES), i);
    // The pairs end at the first one without a name.
    if (!name || !name[0]) return;
    float value = 0.0f;
    if (values->mType == VAR_REAL) value = float(ReadRealElement(VariableOf(E_VALUES), i));
    else if (values->mType == VAR_INT) value = float(ReadIntElement(VariableOf(E_VALUES), i));
    g_EmoteFunctions.SetVariable(layer->mEmotePlayer, name, value, time, 0.0f);
  }
}

}  // namespace

int CmdEmote() {
  if (DecodeLayerArguments(CMD_EMOTE) != 0) return -1;
  LayerRecord* layer = nullptr;
  if (ArgGiven(E_LAYER) || ArgGiven(E_NUMBER)) {
    if (FindTargetLayer(&layer) != 0) return -1;
    if (!layer) return 0;
  }
  const char* name = ArgText(E_NAME);
  int32_t time = ArgGiven(E_TIME) ? int32_t(ArgInt(E_TIME)) : 0;
  if (ArgGiven(E_PLAY) && ArgGiven(E_NAME)) {
    if (ArgInt(E_PLAY) == 1) PlayEmoteMotion(layer, name);
    else if (ArgInt(E_PLAY) == 2)
      StartEmoteTimelineBlend(layer, name, time, ArgGiven(E_BLEND) ? float(ArgInt(E_BLEND)) / 100.0f : 1.0f);
  }
  if (ArgGiven(E_STOP) && ArgGiven(E_NAME)) {
    if (ArgInt(E_STOP) == 1) StopEmoteMotion(layer, name);
    else if (ArgInt(E_STOP) == 2) EndEmoteTimeline(layer, name, time);
  }
  if (ArgGiven(E_TRIGGER) && ArgInt(E_TRIGGER) == 1) TriggerEmotePlayer(layer);
  if (ArgGiven(E_ENABLED)) {
    uint8_t on = ArgInt(E_ENABLED) != 0 ? 1 : 0;
    if (layer) {
      SetEmoteEnabledFor(layer, on);
    } else {
      for (LayerRecord* r : g_EmotePlayers)
        if (r) SetEmoteEnabled(r, on);
    }
  }
  if (ArgGiven(E_SWITCH) && HasPlayer(layer)) g_EmoteFunctions.SetSwitch(layer->mEmotePlayer, ArgInt(E_SWITCH) != 0 ? 1 : 0);
  void (*const one[3])(LayerRecord*, float) = {SetEmoteFactor1, SetEmoteFactor2, SetEmoteFactor3};
  void (*const all[3])(float) = {SetEmoteFactor1All, SetEmoteFactor2All, SetEmoteFactor3All};
  for (int i = 0; i < 3; i++) {
    if (!ArgGiven(E_FACTOR1 + i)) continue;
    float v = float(ArgInt(E_FACTOR1 + i)) / 256.0f;
    if (layer) one[i](layer, v);
    else all[i](v);
  }
  if (ArgGiven(E_EFFECT)) {
    if (ArgInt(E_EFFECT) == 0) {
      StopEmoteEffect(layer);
    } else {
      float p[5] = {0.0f, 1.0f, 1.0f, 1.0f, 1.0f};
      for (int i = 0; i < 5; i++)
        if (ArgGiven(E_EFFECT1 + i)) p[i] = float(ArgInt(E_EFFECT1 + i));
      StartEmoteEffect(layer, p[0], p[1], p[2], p[3], p[4]);
    }
  }
  if (ArgGiven(E_NAMES) && ArgGiven(E_VALUES)) SetVariablesFromArrays(layer);
  if (ArgGiven(E_VARIABLES)) ApplyEmoteVariableList(layer, ArgText(E_VARIABLES));
  return 0;
}

int CmdEmoteQuery() {
  if (DecodeLayerArguments(CMD_EMOTE_QUERY) != 0) return -1;
  LayerRecord* layer = nullptr;
  if (FindTargetLayer(&layer) != 0) return -1;
  if (!layer) return 0;
  const char* name = ArgGiven(Q_NAME) ? ArgText(Q_NAME) : nullptr;
  bool player = HasPlayer(layer);
  if (ArgGiven(Q_ANIMATING)) {
    StoreResultInt(Q_TARGET, player && g_EmoteFunctions.IsAnimating(layer->mEmotePlayer) == 1 ? 1 : 0);
  } else if (ArgGiven(Q_TIMELINE)) {
    int playing = name ? CheckEmoteTimelinePlaying(layer, name)
                       : player && g_EmoteFunctions.IsTimelinePlaying(layer->mEmotePlayer, "") == 1;
    StoreResultInt(Q_TARGET, playing);
  } else if (ArgGiven(Q_TRACK)) {
    StoreResultInt(Q_TARGET, name ? CheckEmoteTrackPlaying(layer, name) : 0);
  } else if (ArgGiven(Q_VARIABLES)) {
    char list[EMOTE_VARIABLE_LIST_BYTES];
    FormatEmoteVariableList(layer, list);
    StoreResultText(Q_TARGET, list);
  }
  return 0;
}
