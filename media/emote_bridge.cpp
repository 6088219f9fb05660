// Loading the E-mote bridge library and taking its entry points.
#include "media/emote.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "platform/platform.h"

EmoteFunctions g_EmoteFunctions;
uint8_t g_EmoteAvailable;

namespace {

void* g_BridgeLibrary;

// Driver and bridge under the names a Linux build of them carries.
const char* const kDriverLibrary = "emotedriver.so";
const char* const kBridgeLibrary = "VURazuz.so";

struct Entry {
  const char* name;
  void** slot;
};

#define ENTRY(field) {"EmoteBridge_" #field, reinterpret_cast<void**>(&g_EmoteFunctions.field)}
const Entry kEntries[] = {
    ENTRY(CreateDriver),   ENTRY(SetTextureFilter), ENTRY(ReleaseDriver),   ENTRY(CreatePlayer),
    ENTRY(SetRenderTarget), ENTRY(DeletePlayer),    ENTRY(PreparePlayer),   ENTRY(StopEffect),
    ENTRY(Trigger),        ENTRY(SetEnabled),       ENTRY(SetSwitch),       ENTRY(SetFactor1),
    ENTRY(SetFactor2),     ENTRY(SetFactor3),       ENTRY(SetPosition),     ENTRY(SetScale),
    ENTRY(SetRotation),    ENTRY(SetColor),         ENTRY(CountVariables),  ENTRY(GetVariableName),
    ENTRY(GetVariable),    ENTRY(SetVariable),      ENTRY(StartEffect),     ENTRY(IsTrackPlaying),
    ENTRY(IsTimelinePlaying), ENTRY(PlayTimeline),  ENTRY(StopTimeline),    ENTRY(SetTimelineBlend),
    ENTRY(FadeOutTimeline), ENTRY(IsAnimating),     ENTRY(IsBusy),          ENTRY(Advance),
    ENTRY(DrawPlayer),
};
#undef ENTRY

}  // namespace

void LoadEmoteBridge() {
  g_EmoteAvailable = 0;
  std::string driverPath = ExeFolderPath(kDriverLibrary);
  if (!PlatFileExists(driverPath)) return;
  // The driver only has to be loadable; the bridge loads it itself.
  void* driver = PlatLoadLibrary(driverPath);
  if (!driver) return;
  PlatFreeLibrary(driver);
  std::string bridgePath = ExeFolderPath(kBridgeLibrary);
  if (!PlatFileExists(bridgePath)) return;
  void* bridge = PlatLoadLibrary(bridgePath);
  if (!bridge) return;
  EmoteFunctions taken{};
  g_EmoteFunctions = taken;
  for (const Entry& e : kEntries) {
    void* fn = PlatLibrarySymbol(bridge, e.name);
    if (!fn) {
      // A bridge of another version would be called through a missing entry; refuse it.
      fprintf(stderr, "%s: entry point %s is missing; E-mote is not used\n", kBridgeLibrary, e.name);
      g_EmoteFunctions = taken;
      PlatFreeLibrary(bridge);
      return;
    }
    *e.slot = fn;
  }
  g_BridgeLibrary = bridge;
  g_EmoteAvailable = 1;
}

void FreeEmoteBridge() {
  if (g_BridgeLibrary) PlatFreeLibrary(g_BridgeLibrary);
  g_BridgeLibrary = nullptr;
  g_EmoteAvailable = 0;
  g_EmoteFunctions = EmoteFunctions{};
}
