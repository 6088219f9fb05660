// Steps of subsystems that are not built yet, so start-up, the frame and shutdown run in full.
// Each subsystem removes its entries here as it defines them.
#include "app/engine.h"
#include "app/hooks.h"
#include "layers/layer.h"
#include "media/emote_player.h"

void ReleaseEmoteObject(LayerRecord*) {}
int LoadEmotePlayer(LayerRecord*, const uint8_t*, uint32_t) { return -1; }
int InitEmoteDriver(void*) { return 1; }
void ReleaseEmoteDriver() {}
void SetEmoteFactor1(LayerRecord*, float) {}
void SetEmoteFactor2(LayerRecord*, float) {}
void SetEmoteFactor3(LayerRecord*, float) {}
void ApplyEmoteFactor1(LayerRecord*, float) {}
void ApplyEmoteFactor2(LayerRecord*, float) {}
void ApplyEmoteFactor3(LayerRecord*, float) {}
void SetEmoteFactor1All(float) {}
void SetEmoteFactor2All(float) {}
void SetEmoteFactor3All(float) {}
void SetEmoteEnabled(LayerRecord*, uint8_t) {}
void SetEmoteEnabledFor(LayerRecord*, uint8_t) {}
int IsEmoteRegistered(const LayerRecord*) { return 0; }
void PlayEmoteMotion(LayerRecord*, const char*) {}
void StopEmoteMotion(LayerRecord*, const char*) {}
void StartEmoteTimelineBlend(LayerRecord*, const char*, int32_t, float) {}
void EndEmoteTimeline(LayerRecord*, const char*, int32_t) {}
int CheckEmoteTimelinePlaying(LayerRecord*, const char*) { return 0; }
int CheckEmoteTrackPlaying(LayerRecord*, const char*) { return 0; }
void StartEmoteEffect(LayerRecord*, float, float, float, float, float) {}
void StopEmoteEffect(LayerRecord*) {}
void TriggerEmotePlayer(LayerRecord*) {}
void FormatEmoteVariableList(LayerRecord*, char* buffer) { buffer[0] = 0; }
void ApplyEmoteVariableList(LayerRecord*, const char*) {}
std::string ConvertSjisToUtf8(const char*, size_t) { return std::string(); }
void SetEmotePosition(LayerRecord*, float, float) {}
void SetEmoteScale(LayerRecord*, float) {}
void SetEmoteRotation(LayerRecord*, float) {}
void ProgressEmote(LayerRecord*, float) {}
void ProgressEmotePending(LayerRecord*) {}
void BindEmoteTarget(void*) {}
void DrawEmotePlayer(LayerRecord*) {}
void SetupEmoteCamera(void*, float, float, float, float, float) {}
void RefreshEmoteCamera(void*) {}
void AdvanceEmotePlayers(uint32_t) {}
int IsEmoteAnimating() { return 0; }
void SaveEmoteStates() {}
void ReleaseEmotePlayers() {}
void RestoreEmoteStates() {}
void ShutdownEmotePlayers() {}
