/* A stand-in for the E-mote bridge library, so tests can check how the runtime takes it up and
   drives it: built once with every entry point and once with one missing. It writes every call
   into a log that tests read through the EmoteStub_ functions, keeps model variables and the
   set of playing timelines, and answers from them. */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define LOG_BYTES 262144
#define MAX_VARIABLES 64
#define MAX_TIMELINES 16
#define NAME_BYTES 600

static char g_Log[LOG_BYTES];
static size_t g_LogUsed;
static int g_FailDriver, g_FailPlayer, g_Busy, g_Animating;
static intptr_t g_NextPlayer = 0x1000;
static char g_VarNames[MAX_VARIABLES][NAME_BYTES];
static float g_VarValues[MAX_VARIABLES];
static int g_VarCount;
static char g_Timelines[MAX_TIMELINES][NAME_BYTES];

/* The device as the runtime hands it over (its EmoteDevice): a renderer places its models with
   the transforms it reads here when it draws. */
struct EmoteDevice {
  void* context;
  int (*GetTransform)(void* context, int which, float* matrix);
};
static const struct EmoteDevice* g_Device;
static float g_DrawnWith[3][16];
static int g_DrawnWithCamera;

static void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(g_Log + g_LogUsed, LOG_BYTES - g_LogUsed, format, args);
  va_end(args);
  if (n > 0 && g_LogUsed + (size_t)n + 1 < LOG_BYTES) {
    g_LogUsed += (size_t)n;
    g_Log[g_LogUsed++] = '\n';
    g_Log[g_LogUsed] = 0;
  }
}

static int FindVariable(const char* name) {
  for (int i = 0; i < g_VarCount; i++)
    if (!strcmp(g_VarNames[i], name)) return i;
  return -1;
}

static int FindTimeline(const char* name) {
  for (int i = 0; i < MAX_TIMELINES; i++)
    if (g_Timelines[i][0] && (!name[0] || !strcmp(g_Timelines[i], name))) return i;
  return -1;
}

static void AddTimeline(const char* name) {
  if (FindTimeline(name) >= 0 && name[0]) return;
  for (int i = 0; i < MAX_TIMELINES; i++)
    if (!g_Timelines[i][0]) {
      snprintf(g_Timelines[i], NAME_BYTES, "%s", name);
      return;
    }
}

static void RemoveTimeline(const char* name) {
  int i = name[0] ? FindTimeline(name) : -1;
  if (i >= 0) g_Timelines[i][0] = 0;
}

/* Controls for the tests. */
void EmoteStub_Reset(void) {
  g_LogUsed = 0;
  g_Log[0] = 0;
  g_FailDriver = g_FailPlayer = g_Busy = g_Animating = 0;
  g_VarCount = 0;
  memset(g_Timelines, 0, sizeof g_Timelines);
  g_DrawnWithCamera = 0;
}
/* The world, view and projection the last DrawPlayer read from the device; 0 when no draw
   could read them. */
int EmoteStub_DrawnWith(float* matrices) {
  memcpy(matrices, g_DrawnWith, sizeof g_DrawnWith);
  return g_DrawnWithCamera;
}
const char* EmoteStub_Log(void) { return g_Log; }
void EmoteStub_ClearLog(void) {
  g_LogUsed = 0;
  g_Log[0] = 0;
}
void EmoteStub_Fail(int driver, int player) {
  g_FailDriver = driver;
  g_FailPlayer = player;
}
void EmoteStub_SetBusy(int busy, int animating) {
  g_Busy = busy;
  g_Animating = animating;
}
void EmoteStub_EndTimeline(const char* name) { RemoveTimeline(name); }

void* EmoteBridge_CreateDriver(void* triple) {
  g_Device = (const struct EmoteDevice*)((void**)triple)[0];
  Log("CreateDriver %p", ((void**)triple)[0]);
  return g_FailDriver ? NULL : (void*)0x100;
}
void EmoteBridge_SetTextureFilter(const void* psb, uint32_t size, void (*filter)(uint8_t*, uint32_t)) {
  (void)psb;
  (void)filter;
  Log("SetTextureFilter %u", size);
}
void EmoteBridge_ReleaseDriver(void* driver) { Log("ReleaseDriver %p", driver); }
int EmoteBridge_CreatePlayer(void* driver, const void* psb, uint32_t size, void** player) {
  (void)psb;
  Log("CreatePlayer %p %u", driver, size);
  *player = g_FailPlayer ? NULL : (void*)g_NextPlayer++;
  return *player != NULL;
}
void EmoteBridge_SetRenderTarget(void* driver, void* texture) { Log("SetRenderTarget %p %p", driver, texture); }
void EmoteBridge_DeletePlayer(void* p) { Log("DeletePlayer %p", p); }
void EmoteBridge_PreparePlayer(void* p) { Log("PreparePlayer %p", p); }
void EmoteBridge_StopEffect(void* p) { Log("StopEffect %p", p); }
void EmoteBridge_Trigger(void* p) { Log("Trigger %p", p); }
void EmoteBridge_SetEnabled(void* p, uint8_t on) { Log("SetEnabled %p %d", p, on); }
void EmoteBridge_SetSwitch(void* p, int on) { Log("SetSwitch %p %d", p, on); }
void EmoteBridge_SetFactor1(void* p, float v) { Log("SetFactor1 %p %g", p, v); }
void EmoteBridge_SetFactor2(void* p, float v) { Log("SetFactor2 %p %g", p, v); }
void EmoteBridge_SetFactor3(void* p, float v) { Log("SetFactor3 %p %g", p, v); }
void EmoteBridge_SetPosition(void* p, float x, float y, float a, float b) { Log("SetPosition %p %g %g %g %g", p, x, y, a, b); }
void EmoteBridge_SetScale(void* p, float s, float a, float b) { Log("SetScale %p %g %g %g", p, s, a, b); }
void EmoteBridge_SetRotation(void* p, float r, float a, float b) { Log("SetRotation %p %g %g %g", p, r, a, b); }
void EmoteBridge_SetColor(void* p, uint32_t c, float a, float b) { Log("SetColor %p %08x %g %g", p, c, a, b); }
int EmoteBridge_CountVariables(void* p) {
  (void)p;
  return g_VarCount;
}
const char* EmoteBridge_GetVariableName(void* p, int index) {
  (void)p;
  return index >= 0 && index < g_VarCount ? g_VarNames[index] : NULL;
}
float EmoteBridge_GetVariable(void* p, const char* name) {
  (void)p;
  int i = FindVariable(name);
  return i >= 0 ? g_VarValues[i] : 0.0f;
}
void EmoteBridge_SetVariable(void* p, const char* name, float value, float time, float e) {
  Log("SetVariable %p %s %g %g %g", p, name, value, time, e);
  int i = FindVariable(name);
  if (i < 0 && g_VarCount < MAX_VARIABLES) {
    i = g_VarCount++;
    snprintf(g_VarNames[i], NAME_BYTES, "%s", name);
  }
  if (i >= 0) g_VarValues[i] = value;
}
void EmoteBridge_StartEffect(void* p, float a, float b, float c, float d, float e) {
  Log("StartEffect %p %g %g %g %g %g", p, a, b, c, d, e);
}
uint8_t EmoteBridge_IsTrackPlaying(void* p, const char* name) {
  (void)p;
  return FindTimeline(name) >= 0;
}
uint8_t EmoteBridge_IsTimelinePlaying(void* p, const char* name) {
  (void)p;
  return FindTimeline(name) >= 0;
}
void EmoteBridge_PlayTimeline(void* p, const char* name, int flags) {
  Log("PlayTimeline %p %s %d", p, name, flags);
  AddTimeline(name);
}
void EmoteBridge_StopTimeline(void* p, const char* name) {
  Log("StopTimeline %p %s", p, name);
  RemoveTimeline(name);
}
void EmoteBridge_SetTimelineBlend(void* p, const char* name, float v, float time, float e, uint8_t f) {
  Log("SetTimelineBlend %p %s %g %g %g %d", p, name, v, time, e, f);
}
void EmoteBridge_FadeOutTimeline(void* p, const char* name, float time, float e) {
  Log("FadeOutTimeline %p %s %g %g", p, name, time, e);
  RemoveTimeline(name);
}
uint8_t EmoteBridge_IsAnimating(void* p) {
  (void)p;
  return (uint8_t)g_Animating;
}
uint8_t EmoteBridge_IsBusy(void* p) {
  (void)p;
  return (uint8_t)g_Busy;
}
void EmoteBridge_Advance(void* p, float frames) { Log("Advance %p %g", p, frames); }
#ifndef WITHOUT_DRAW
void EmoteBridge_DrawPlayer(void* p) {
  int read = g_Device != NULL;
  for (int which = 0; which < 3 && read; which++) read = g_Device->GetTransform(g_Device->context, which, g_DrawnWith[which]);
  g_DrawnWithCamera = read;
  Log("DrawPlayer %p", p);
}
#endif
