// Steps of subsystems that are not built yet, so start-up, the frame and shutdown run in full.
// Each subsystem removes its entries here as it defines them.
#include "app/engine.h"
#include "app/hooks.h"
#include "layers/layer.h"
#include "script/vars.h"

int ComposeLayerTree(NameNode*, int) { return 0; }
int RenderGpuScene() { return 0; }
int UploadLayerTextures(LayerRecord*, int, int32_t, int32_t) { return 0; }
void ReleaseLayerTextures(LayerRecord*) {}
void ReleaseEmoteObject(LayerRecord*) {}
int LoadEmotePlayer(LayerRecord*, const uint8_t*, uint32_t) { return -1; }

int DrawWindow(WindowRecord*) { return 0; }

void AdvanceMessage(ScriptTask*) {}

void FreeSaveStaging(int) {}

// System variables.
int64_t ReadSystemIntVariable(int32_t, int32_t) { return 0; }
double ReadSystemRealVariable(int32_t, int32_t) { return 0.0; }
int ReadSystemStringVariable(int32_t, int32_t, char* buffer) {
  buffer[0] = 0;
  return 0;
}
int AssignSystemVariable(int32_t, int32_t, const CommandArgument*) { return 0; }
