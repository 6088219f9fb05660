// E-mote players: the table of live players, their state in the layer record, the time step,
// the transform and drawing calls of the GPU scene, and the save/restore around a device reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LayerRecord;
struct PlatGpuDriver;

constexpr int EMOTE_PLAYER_SLOTS = 128;
constexpr size_t EMOTE_VARIABLE_LIST_BYTES = 4096;   // mEmoteSavedVariables and query results
constexpr size_t EMOTE_NAME_BYTES = 512;             // names handed to the bridge, with the 0

// The driver made on the GPU device (null = none), the registered players (null = free slot)
// and, parallel to them, the milliseconds each player still has to be advanced.
extern void* g_EmoteDriver;
extern LayerRecord* g_EmotePlayers[EMOTE_PLAYER_SLOTS];
extern float g_EmotePendingTime[EMOTE_PLAYER_SLOTS];

// Makes the driver on `device` unless one exists; the bridge draws on it with the device's
// transforms (see EmoteDevice). 0, or 1 on failure.
int InitEmoteDriver(PlatGpuDriver* device);
// Releases the driver (players first, see ReleaseEmotePlayers). Nothing without one.
void ReleaseEmoteDriver();

// LoadEmotePlayer and ReleaseEmoteObject are declared with the layer code (layers/layer.h).

// Factors 0..1 (NaN counts as 1). Set* clamp and apply when the record is registered; Apply*
// store and hand the value to the bridge for a record with a player; *All apply to every
// registered player.
void SetEmoteFactor1(LayerRecord* record, float value);
void SetEmoteFactor2(LayerRecord* record, float value);
void SetEmoteFactor3(LayerRecord* record, float value);
void ApplyEmoteFactor1(LayerRecord* record, float value);
void ApplyEmoteFactor2(LayerRecord* record, float value);
void ApplyEmoteFactor3(LayerRecord* record, float value);
void SetEmoteFactor1All(float value);
void SetEmoteFactor2All(float value);
void SetEmoteFactor3All(float value);

// The on/off switch: SetEmoteEnabled for a record with a player, SetEmoteEnabledFor only when
// the record is registered.
void SetEmoteEnabled(LayerRecord* record, uint8_t on);
void SetEmoteEnabledFor(LayerRecord* record, uint8_t on);
// 1 when `record` holds one of the slots.
int IsEmoteRegistered(const LayerRecord* record);

// Motions and blended timelines; names are Shift-JIS, times in milliseconds.
void PlayEmoteMotion(LayerRecord* record, const char* name);
void StopEmoteMotion(LayerRecord* record, const char* name);
void StartEmoteTimelineBlend(LayerRecord* record, const char* name, int32_t timeMs, float blend);
void EndEmoteTimeline(LayerRecord* record, const char* name, int32_t timeMs);
// 1 while playing, else 0 (also without a player). A null name asks about any timeline.
int CheckEmoteTimelinePlaying(LayerRecord* record, const char* name);
int CheckEmoteTrackPlaying(LayerRecord* record, const char* name);

void StartEmoteEffect(LayerRecord* record, float a, float b, float c, float d, float e);
void StopEmoteEffect(LayerRecord* record);
void TriggerEmotePlayer(LayerRecord* record);

// Variable lists: "name￡value×1000￡" per variable, in Shift-JIS. Format writes at most
// EMOTE_VARIABLE_LIST_BYTES - 1 bytes (pairs that do not fit whole are left out).
void FormatEmoteVariableList(LayerRecord* record, char* buffer);
void ApplyEmoteVariableList(LayerRecord* record, const char* text);

// Shift-JIS text to the UTF-8 the bridge reads; an undecodable text gives "".
std::string ConvertSjisToUtf8(const char* text, size_t length);

// What the GPU scene calls for each player it draws. Each does nothing without a player
// (BindEmoteTarget: without a driver); `texture` is the scene's opaque render texture.
void SetEmotePosition(LayerRecord* record, float x, float y);
void SetEmoteScale(LayerRecord* record, float scale);
void SetEmoteRotation(LayerRecord* record, float radians);
void ProgressEmote(LayerRecord* record, float ms);
// Advances the player by the time it has pending (when registered and not 0) and clears it.
void ProgressEmotePending(LayerRecord* record);
void BindEmoteTarget(void* texture);
void DrawEmotePlayer(LayerRecord* record);

// The camera the bridge draws with: row-major 4x4 matrices in the Direct3D convention (row
// vectors, element (r, c) at [(r - 1) * 4 + c - 1]). With a device, SetupEmoteCamera computes
// them, marks them set and makes them the device's world, view and projection, which the
// bridge reads when it draws; the GPU scene sets it up before each DrawEmotePlayer.
struct EmoteCamera {
  float mWorld[16];
  float mView[16];
  float mProjection[16];
  uint8_t mSet;
};
extern EmoteCamera g_EmoteCamera;
void SetupEmoteCamera(PlatGpuDriver* device, float width, float height, float cameraX, float cameraY,
                      float angleDegrees);
// The neutral camera (1 x 1, no offset); after device creation, reset and window resizing.
void RefreshEmoteCamera(PlatGpuDriver* device);

// The frame wait's step: advances every registered player by its pending time, then gives
// each the frame's elapsed milliseconds (16.666 when above 10000).
void AdvanceEmotePlayers(uint32_t elapsedMs);
// 1 when some registered player is busy or plays a timeline: the scene must be drawn again.
int IsEmoteAnimating();

// Device reset: save every registered player's variables, motion and timeline; release the
// players (slots cleared) and the driver; after the layers are reloaded, restore them.
void SaveEmoteStates();
void ReleaseEmotePlayers();
void RestoreEmoteStates();

// Shutdown: frees the state buffers of every registered player, releases it and the driver.
void ShutdownEmotePlayers();
