// E-mote players: the player table, the per-layer player state and the calls into the bridge.
#include "media/emote_player.h"

#include "layers/layer.h"

void* g_EmoteDriver;
LayerRecord* g_EmotePlayers[EMOTE_PLAYER_SLOTS];
float g_EmotePendingTime[EMOTE_PLAYER_SLOTS];
EmoteCamera g_EmoteCamera;
