// E-mote players: the player table, the per-layer player state, the time step, the camera and
// the save/restore of every player around a device reset.
#include "media/emote_player.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "platform/gpu.h"
#include "platform/platform.h"

void* g_EmoteDriver;
LayerRecord* g_EmotePlayers[EMOTE_PLAYER_SLOTS];
float g_EmotePendingTime[EMOTE_PLAYER_SLOTS];
EmoteCamera g_EmoteCamera;

namespace {

// The bridge counts time in frames of 1/60 s.
constexpr float FRAMES_PER_MS = 0.06f;
// The separator of variable lists: the full-width pound sign of code page 932.
constexpr uint8_t SEPARATOR_LEAD = 0x81, SEPARATOR_TRAIL = 0x92;

// What the bridge draws with: the device the driver was made on.
int DeviceTransform(void* context, int which, float* matrix) {
  PlatGpuDriver* device = static_cast<PlatGpuDriver*>(context);
  return device && device->GetTransform(which, matrix) ? 1 : 0;
}
EmoteDevice g_EmoteDevice = {nullptr, DeviceTransform};

bool HasPlayer(const LayerRecord* record) { return record && record->mEmotePlayer && g_EmoteAvailable; }

float ClampFactor(float v) {
  if (std::isnan(v)) return 1.0f;
  return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

// A Shift-JIS name as the bridge reads it: cut to EMOTE_NAME_BYTES - 1 bytes on a character
// boundary, then UTF-8.
std::string BridgeName(const char* name) {
  char bounded[EMOTE_NAME_BYTES];
  CopyTextBounded(bounded, sizeof bounded, name ? name : "");
  return ConvertSjisToUtf8(bounded, strlen(bounded));
}

// Stores `name` in a name field, allocating its buffer on first use. False without memory.
bool RememberName(char** field, const char* name) {
  if (!*field) *field = static_cast<char*>(calloc(1, EMOTE_NAME_BYTES));
  if (!*field) return false;
  CopyTextBounded(*field, EMOTE_NAME_BYTES, name);
  return true;
}

void ForgetName(char* field) {
  if (field) field[0] = 0;
}

bool NameSet(const char* field) { return field && field[0]; }

int SlotOf(const LayerRecord* record) {
  for (int i = 0; i < EMOTE_PLAYER_SLOTS; i++)
    if (g_EmotePlayers[i] == record) return i;
  return -1;
}

// Plays a blended timeline from nothing up to `blend` over `timeMs`.
void PlayBlendedTimeline(LayerRecord* record, const char* name, int32_t timeMs, float blend) {
  char kept[EMOTE_NAME_BYTES];
  // The name may be the record's own field, which ending the current timeline empties.
  CopyTextBounded(kept, sizeof kept, name);
  if (NameSet(record->mEmoteTimeline)) EndEmoteTimeline(record, record->mEmoteTimeline, 0);
  if (!RememberName(&record->mEmoteTimeline, kept)) return;
  record->mEmoteTimelineBlend = blend;
  std::string utf8 = BridgeName(kept);
  float time = float(timeMs) * FRAMES_PER_MS;
  g_EmoteFunctions.PlayTimeline(record->mEmotePlayer, utf8.c_str(), 3);
  g_EmoteFunctions.SetTimelineBlend(record->mEmotePlayer, utf8.c_str(), 0.0f, time, 0.0f, 0);
  g_EmoteFunctions.SetTimelineBlend(record->mEmotePlayer, utf8.c_str(), blend, time, 0.0f, 0);
}

// The value x 1000 as the list stores it: truncated, and kept inside 32 bits.
int32_t ListValue(float v) {
  double scaled = double(v) * 1000.0;
  if (std::isnan(scaled)) return 0;
  if (scaled >= 2147483647.0) return INT32_MAX;
  if (scaled <= -2147483648.0) return INT32_MIN;
  return int32_t(scaled);
}

void Identity(float* m) {
  memset(m, 0, 16 * sizeof(float));
  m[0] = m[5] = m[10] = m[15] = 1.0f;
}

// Left-handed look-at in the Direct3D layout (row vectors).
void LookAt(float* m, const float* eye, const float* at, const float* up) {
  auto normalise = [](float* v) {
    float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (l > 0) v[0] /= l, v[1] /= l, v[2] /= l;
  };
  auto cross = [](const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
  };
  auto dot = [](const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
  float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
  normalise(z);
  float x[3], y[3];
  cross(up, z, x);
  normalise(x);
  cross(z, x, y);
  Identity(m);
  for (int i = 0; i < 3; i++) {
    m[i * 4 + 0] = x[i];
    m[i * 4 + 1] = y[i];
    m[i * 4 + 2] = z[i];
  }
  m[12] = -dot(x, eye);
  m[13] = -dot(y, eye);
  m[14] = -dot(z, eye);
}

}  // namespace

int InitEmoteDriver(PlatGpuDriver* device) {
  if (g_EmoteDriver) return 0;
  if (!g_EmoteAvailable) return 1;
  g_EmoteDevice.context = device;
  void* triple[3] = {&g_EmoteDevice, nullptr, nullptr};
  g_EmoteDriver = g_EmoteFunctions.CreateDriver(triple);
  return g_EmoteDriver ? 0 : 1;
}

void ReleaseEmoteDriver() {
  if (g_EmoteDriver && g_EmoteAvailable) g_EmoteFunctions.ReleaseDriver(g_EmoteDriver);
  g_EmoteDriver = nullptr;
}

int LoadEmotePlayer(LayerRecord* record, const uint8_t* psb, uint32_t size) {
  if (record->mEmotePlayer) return ShowErrorBox("", ToCp932Text("EmotePlayerがすでに読み込まれています.").c_str()), 1;
  // Without a driver no player can be made; the bridge is not asked.
  if (g_EmoteAvailable && g_EmoteDriver) g_EmoteFunctions.CreatePlayer(g_EmoteDriver, psb, size, &record->mEmotePlayer);
  if (!record->mEmotePlayer) return ShowErrorBox("", ToCp932Text("EmotePlayer読み込みに失敗しました.").c_str()), 1;
  int slot = SlotOf(nullptr);
  if (slot < 0) return ShowErrorBox("", ToCp932Text("EmotePlayer最大読込数をオーバーしました.").c_str()), 1;
  g_EmotePlayers[slot] = record;
  g_EmotePendingTime[slot] = 0.0f;
  return 0;
}

void ReleaseEmoteObject(LayerRecord* record) {
  if (!record || !record->mEmotePlayer) return;
  for (int i = 0; i < EMOTE_PLAYER_SLOTS; i++) {
    if (g_EmotePlayers[i] != record) continue;
    g_EmotePlayers[i] = nullptr;
    g_EmotePendingTime[i] = 0.0f;
  }
  if (g_EmoteAvailable) g_EmoteFunctions.DeletePlayer(record->mEmotePlayer);
  record->mEmotePlayer = nullptr;
  record->mGpuKind = GPU_KIND_TEXTURED;
}

int IsEmoteRegistered(const LayerRecord* record) { return record && SlotOf(record) >= 0 ? 1 : 0; }

void ApplyEmoteFactor1(LayerRecord* record, float value) {
  if (!HasPlayer(record)) return;
  record->mEmoteFactor1 = value;
  g_EmoteFunctions.SetFactor1(record->mEmotePlayer, value);
}

void ApplyEmoteFactor2(LayerRecord* record, float value) {
  if (!HasPlayer(record)) return;
  record->mEmoteFactor2 = value;
  g_EmoteFunctions.SetFactor2(record->mEmotePlayer, value);
}

void ApplyEmoteFactor3(LayerRecord* record, float value) {
  if (!HasPlayer(record)) return;
  record->mEmoteFactor3 = value;
  g_EmoteFunctions.SetFactor3(record->mEmotePlayer, value);
}

void SetEmoteFactor1(LayerRecord* record, float value) {
  if (IsEmoteRegistered(record)) ApplyEmoteFactor1(record, ClampFactor(value));
}

void SetEmoteFactor2(LayerRecord* record, float value) {
  if (IsEmoteRegistered(record)) ApplyEmoteFactor2(record, ClampFactor(value));
}

void SetEmoteFactor3(LayerRecord* record, float value) {
  if (IsEmoteRegistered(record)) ApplyEmoteFactor3(record, ClampFactor(value));
}

void SetEmoteFactor1All(float value) {
  for (LayerRecord* r : g_EmotePlayers)
    if (r) ApplyEmoteFactor1(r, ClampFactor(value));
}

void SetEmoteFactor2All(float value) {
  for (LayerRecord* r : g_EmotePlayers)
    if (r) ApplyEmoteFactor2(r, ClampFactor(value));
}

void SetEmoteFactor3All(float value) {
  for (LayerRecord* r : g_EmotePlayers)
    if (r) ApplyEmoteFactor3(r, ClampFactor(value));
}

void SetEmoteEnabled(LayerRecord* record, uint8_t on) {
  if (!HasPlayer(record)) return;
  record->mEmoteEnabled = on;
  g_EmoteFunctions.SetEnabled(record->mEmotePlayer, on);
}

void SetEmoteEnabledFor(LayerRecord* record, uint8_t on) {
  if (IsEmoteRegistered(record)) SetEmoteEnabled(record, on);
}

void PlayEmoteMotion(LayerRecord* record, const char* name) {
  if (!HasPlayer(record)) return;
  char kept[EMOTE_NAME_BYTES];
  // The name may be the record's own field, which stopping the current motion empties.
  CopyTextBounded(kept, sizeof kept, name);
  if (NameSet(record->mEmoteMotion)) StopEmoteMotion(record, record->mEmoteMotion);
  if (!RememberName(&record->mEmoteMotion, kept)) return;
  g_EmoteFunctions.PlayTimeline(record->mEmotePlayer, BridgeName(kept).c_str(), 1);
}

void StopEmoteMotion(LayerRecord* record, const char* name) {
  if (!HasPlayer(record)) return;
  g_EmoteFunctions.StopTimeline(record->mEmotePlayer, BridgeName(name).c_str());
  ForgetName(record->mEmoteMotion);
}

void StartEmoteTimelineBlend(LayerRecord* record, const char* name, int32_t timeMs, float blend) {
  if (HasPlayer(record)) PlayBlendedTimeline(record, name, timeMs, blend);
}

void EndEmoteTimeline(LayerRecord* record, const char* name, int32_t timeMs) {
  if (!HasPlayer(record)) return;
  g_EmoteFunctions.FadeOutTimeline(record->mEmotePlayer, BridgeName(name).c_str(), float(timeMs) * FRAMES_PER_MS, 0.0f);
  ForgetName(record->mEmoteTimeline);
}

int CheckEmoteTimelinePlaying(LayerRecord* record, const char* name) {
  if (!HasPlayer(record)) return 0;
  return g_EmoteFunctions.IsTimelinePlaying(record->mEmotePlayer, BridgeName(name).c_str()) == 1 ? 1 : 0;
}

int CheckEmoteTrackPlaying(LayerRecord* record, const char* name) {
  if (!HasPlayer(record)) return 0;
  return g_EmoteFunctions.IsTrackPlaying(record->mEmotePlayer, BridgeName(name).c_str()) == 1 ? 1 : 0;
}

void StartEmoteEffect(LayerRecord* record, float a, float b, float c, float d, float e) {
  if (HasPlayer(record)) g_EmoteFunctions.StartEffect(record->mEmotePlayer, a, b, c, d, e);
}

void StopEmoteEffect(LayerRecord* record) {
  if (HasPlayer(record)) g_EmoteFunctions.StopEffect(record->mEmotePlayer);
}

void TriggerEmotePlayer(LayerRecord* record) {
  if (HasPlayer(record)) g_EmoteFunctions.Trigger(record->mEmotePlayer);
}

void FormatEmoteVariableList(LayerRecord* record, char* buffer) {
  buffer[0] = 0;
  if (!HasPlayer(record)) return;
  size_t used = 0;
  int count = g_EmoteFunctions.CountVariables(record->mEmotePlayer);
  for (int i = 0; i < count; i++) {
    const char* name = g_EmoteFunctions.GetVariableName(record->mEmotePlayer, i);
    if (!name) name = "";
    float value = g_EmoteFunctions.GetVariable(record->mEmotePlayer, name);
    char pair[EMOTE_NAME_BYTES + 32];
    int n = snprintf(pair, sizeof pair, "%.511s%c%c%d%c%c", name, SEPARATOR_LEAD, SEPARATOR_TRAIL, ListValue(value),
                     SEPARATOR_LEAD, SEPARATOR_TRAIL);
    // A pair that does not fit whole is left out, so the list always parses back.
    if (n < 0 || size_t(n) >= sizeof pair || used + size_t(n) >= EMOTE_VARIABLE_LIST_BYTES) continue;
    memcpy(buffer + used, pair, size_t(n) + 1);
    used += size_t(n);
  }
}

void ApplyEmoteVariableList(LayerRecord* record, const char* text) {
  if (!HasPlayer(record) || !text) return;
  char token[EMOTE_NAME_BYTES];
  char name[EMOTE_NAME_BYTES];
  size_t length = 0;
  bool isValue = false;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  while (*p) {
    if (p[0] == SEPARATOR_LEAD && p[1] == SEPARATOR_TRAIL) {
      token[length] = 0;
      if (isValue) {
        double value = double(strtoll(token, nullptr, 10)) / 1000.0;
        g_EmoteFunctions.SetVariable(record->mEmotePlayer, name, float(value), 0.0f, 0.0f);
      } else {
        memcpy(name, token, length + 1);
      }
      isValue = !isValue;
      length = 0;
      p += 2;
      continue;
    }
    size_t width = g_LeadByteTable[*p] && p[1] ? 2 : 1;
    // A token keeps what fits of its bytes; the rest is dropped, never split inside a character.
    if (length + width < sizeof token) {
      memcpy(token + length, p, width);
      length += width;
    }
    p += width;
  }
}

std::string ConvertSjisToUtf8(const char* text, size_t length) {
  std::string out;
  if (!text || !PlatCp932ToUtf8(text, length, &out)) return std::string();
  return out;
}

void SetEmotePosition(LayerRecord* record, float x, float y) {
  if (HasPlayer(record)) g_EmoteFunctions.SetPosition(record->mEmotePlayer, x, y, 0.0f, 0.0f);
}

void SetEmoteScale(LayerRecord* record, float scale) {
  if (HasPlayer(record)) g_EmoteFunctions.SetScale(record->mEmotePlayer, scale, 0.0f, 0.0f);
}

void SetEmoteRotation(LayerRecord* record, float radians) {
  if (HasPlayer(record)) g_EmoteFunctions.SetRotation(record->mEmotePlayer, radians, 0.0f, 0.0f);
}

void ProgressEmote(LayerRecord* record, float ms) {
  if (HasPlayer(record)) g_EmoteFunctions.Advance(record->mEmotePlayer, ms * FRAMES_PER_MS);
}

void ProgressEmotePending(LayerRecord* record) {
  int slot = record ? SlotOf(record) : -1;
  if (slot < 0 || g_EmotePendingTime[slot] == 0.0f) return;
  ProgressEmote(record, g_EmotePendingTime[slot]);
  g_EmotePendingTime[slot] = 0.0f;
}

void BindEmoteTarget(void* texture) {
  if (g_EmoteDriver && g_EmoteAvailable) g_EmoteFunctions.SetRenderTarget(g_EmoteDriver, texture);
}

void DrawEmotePlayer(LayerRecord* record) {
  if (HasPlayer(record)) g_EmoteFunctions.DrawPlayer(record->mEmotePlayer);
}

void SetupEmoteCamera(PlatGpuDriver* device, float width, float height, float cameraX, float cameraY,
                      float angleDegrees) {
  if (!device) return;
  if (height == 0.0f) width = height = 1.0f;
  float a = -angleDegrees * 2.0f * float(M_PI) / 360.0f;
  Identity(g_EmoteCamera.mWorld);
  g_EmoteCamera.mWorld[0] = std::cos(a);
  g_EmoteCamera.mWorld[1] = std::sin(a);
  g_EmoteCamera.mWorld[4] = -std::sin(a);
  g_EmoteCamera.mWorld[5] = std::cos(a);
  const float eye[3] = {-0.5f - cameraX, 0.5f - cameraY, height / 2.0f};
  const float at[3] = {-0.5f - cameraX, 0.5f - cameraY, height / 2.0f - 1.0f};
  const float up[3] = {0.0f, -1.0f, 0.0f};
  LookAt(g_EmoteCamera.mView, eye, at, up);
  // The model's x axis runs the other way round from the screen's.
  g_EmoteCamera.mView[0] = -g_EmoteCamera.mView[0];
  // A perspective whose w is the depth: at the model plane (depth h / 2 from the eye) one
  // model unit is one pixel once the viewport maps the -1..1 range.
  Identity(g_EmoteCamera.mProjection);
  g_EmoteCamera.mProjection[0] = width != 0.0f ? height / width : 1.0f;
  g_EmoteCamera.mProjection[11] = 1.0f;
  g_EmoteCamera.mProjection[15] = 0.0f;
  g_EmoteCamera.mSet = 1;
  device->SetTransform(PLAT_GPU_WORLD, g_EmoteCamera.mWorld);
  device->SetTransform(PLAT_GPU_VIEW, g_EmoteCamera.mView);
  device->SetTransform(PLAT_GPU_PROJECTION, g_EmoteCamera.mProjection);
}

void RefreshEmoteCamera(PlatGpuDriver* device) {
  if (g_EmoteAvailable) SetupEmoteCamera(device, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
}

void AdvanceEmotePlayers(uint32_t elapsedMs) {
  if (!g_EmoteAvailable) return;
  for (int i = 0; i < EMOTE_PLAYER_SLOTS; i++) {
    if (!g_EmotePlayers[i] || g_EmotePendingTime[i] == 0.0f) continue;
    ProgressEmote(g_EmotePlayers[i], g_EmotePendingTime[i]);
    g_EmotePendingTime[i] = 0.0f;
  }
  float elapsed = float(elapsedMs);
  // A frame held up for seconds (a dialog, a debugger) moves the players by one frame only.
  if (elapsed > 10000.0f) elapsed = 16.666f;
  for (int i = 0; i < EMOTE_PLAYER_SLOTS; i++)
    if (g_EmotePlayers[i]) g_EmotePendingTime[i] = elapsed;
}

int IsEmoteAnimating() {
  if (!g_EmoteAvailable) return 0;
  for (LayerRecord* r : g_EmotePlayers) {
    if (!r || !r->mEmotePlayer) continue;
    if (g_EmoteFunctions.IsBusy(r->mEmotePlayer) == 1) return 1;
    if (g_EmoteFunctions.IsTimelinePlaying(r->mEmotePlayer, "") == 1) return 1;
  }
  return 0;
}

void SaveEmoteStates() {
  for (LayerRecord* r : g_EmotePlayers) {
    if (!r) continue;
    free(r->mEmoteSavedVariables);
    r->mEmoteSavedVariables = static_cast<char*>(malloc(EMOTE_VARIABLE_LIST_BYTES));
    if (r->mEmoteSavedVariables) FormatEmoteVariableList(r, r->mEmoteSavedVariables);
    // What has ended by itself must not start again after the reset.
    if (NameSet(r->mEmoteMotion) && !CheckEmoteTimelinePlaying(r, r->mEmoteMotion)) ForgetName(r->mEmoteMotion);
    if (NameSet(r->mEmoteTimeline) && !CheckEmoteTimelinePlaying(r, r->mEmoteTimeline)) ForgetName(r->mEmoteTimeline);
  }
}

void ReleaseEmotePlayers() {
  for (LayerRecord* r : g_EmotePlayers)
    if (r) ReleaseEmoteObject(r);
  ReleaseEmoteDriver();
}

void RestoreEmoteStates() {
  for (LayerRecord* r : g_EmotePlayers) {
    if (!HasPlayer(r)) continue;
    if (r->mEmoteSavedVariables) {
      ApplyEmoteVariableList(r, r->mEmoteSavedVariables);
      free(r->mEmoteSavedVariables);
      r->mEmoteSavedVariables = nullptr;
    }
    if (NameSet(r->mEmoteMotion)) PlayEmoteMotion(r, r->mEmoteMotion);
    if (NameSet(r->mEmoteTimeline)) PlayBlendedTimeline(r, r->mEmoteTimeline, 0, r->mEmoteTimelineBlend);
  }
  g_GpuRedrawRequest = 1;
}

void ShutdownEmotePlayers() {
  for (LayerRecord* r : g_EmotePlayers) {
    if (!r) continue;
    free(r->mEmoteSavedVariables);
    free(r->mEmoteMotion);
    free(r->mEmoteTimeline);
    r->mEmoteSavedVariables = r->mEmoteMotion = r->mEmoteTimeline = nullptr;
    ReleaseEmoteObject(r);
  }
  ReleaseEmoteDriver();
}
