// The E-mote bridge: the character-animation library looked up beside the game at start-up.
#pragma once

#include <cstdint>

// Entry points of the bridge, taken by name. Handles are opaque.
struct EmoteFunctions {
  void* (*CreateDriver)(void* deviceTriple);
  void (*SetTextureFilter)(const void* psb, uint32_t size, void (*filter)(uint8_t* bgra, uint32_t count));
  void (*ReleaseDriver)(void* driver);
  int (*CreatePlayer)(void* driver, const void* psb, uint32_t size, void** player);
  void (*SetRenderTarget)(void* driver, void* texture);
  void (*DeletePlayer)(void* player);
  void (*PreparePlayer)(void* player);
  void (*StopEffect)(void* player);
  void (*Trigger)(void* player);
  void (*SetEnabled)(void* player, uint8_t on);
  void (*SetSwitch)(void* player, int on);
  void (*SetFactor1)(void* player, float v);
  void (*SetFactor2)(void* player, float v);
  void (*SetFactor3)(void* player, float v);
  void (*SetPosition)(void* player, float x, float y, float, float);
  void (*SetScale)(void* player, float s, float, float);
  void (*SetRotation)(void* player, float radians, float, float);
  void (*SetColor)(void* player, uint32_t rgba, float, float);
  int (*CountVariables)(void* player);
  const char* (*GetVariableName)(void* player, int index);
  float (*GetVariable)(void* player, const char* name);
  void (*SetVariable)(void* player, const char* name, float value, float time, float);
  void (*StartEffect)(void* player, float, float, float, float, float);
  uint8_t (*IsTrackPlaying)(void* player, const char* name);
  uint8_t (*IsTimelinePlaying)(void* player, const char* name);
  void (*PlayTimeline)(void* player, const char* name, int flags);
  void (*StopTimeline)(void* player, const char* name);
  void (*SetTimelineBlend)(void* player, const char* name, float value, float time, float, uint8_t);
  void (*FadeOutTimeline)(void* player, const char* name, float time, float);
  uint8_t (*IsAnimating)(void* player);
  uint8_t (*IsBusy)(void* player);
  void (*Advance)(void* player, float frames);
  void (*DrawPlayer)(void* player);
};

// The device as the bridge receives it, in the first slot of CreateDriver's triple: the bridge
// draws each player into its render target placed by the transforms it reads here (0 world,
// 1 view, 2 projection; 16 floats, row-major, row vectors), as a Direct3D renderer reads its
// device's. GetTransform returns 1, or 0 without a device. Plain C layout: the bridge is C.
struct EmoteDevice {
  void* context;
  int (*GetTransform)(void* context, int which, float* matrix);
};

extern EmoteFunctions g_EmoteFunctions;
extern uint8_t g_EmoteAvailable;

// Looks for the driver and bridge libraries in the game folder. Absent: not available, no
// message. A bridge that lacks an entry point is refused (and reported once on stderr).
void LoadEmoteBridge();
void FreeEmoteBridge();
