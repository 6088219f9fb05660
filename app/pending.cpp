// Steps of subsystems that are not built yet, so start-up, the frame and shutdown run in full.
// Each subsystem removes its entries here as it defines them.
#include "app/engine.h"
#include "app/hooks.h"
#include "layers/layer.h"

void InitPixelKernels() {}
void InitProductTables() {}
void InitBlendTables() {}
void StartWorkerThreads() {}
void StopWorkerThreads() {}

int LoadProjectSettings() { return 0; }
void InitEvaluatorTables() {}
void InitAssignOperatorTable() {}
void InitOpcodeTable(int) {}
void SeedRandom(uint32_t) {}
int BootScripts() { return 0; }
int RunScriptTasks() { return 0; }
int CreateTaskTreeRoot() { return 0; }

int ComposeLayerTree(NameNode*, int) { return 0; }
int RenderGpuScene() { return 0; }
int UploadLayerTextures(LayerRecord*, int, int32_t, int32_t) { return 0; }
void ReleaseLayerTextures(LayerRecord*) {}
void ReleaseEmoteObject(LayerRecord*) {}
int LoadEmotePlayer(LayerRecord*, const uint8_t*, uint32_t) { return -1; }
void FreeFrameSet(LayerRecord*) {}
void ForgetDragLayer(NameNode*) {}

int DrawWindow(WindowRecord*) { return 0; }
int PresentWindow(WindowRecord*) { return 0; }
void ResetDirtyRectsAll() {}

void InitKeyEdgeTable() {}
void UpdateInputState() { CheckInactivePause(); }
int InitJoysticks() { return 0; }
void PrepareModalUi() {}


void FreeSaveStaging(int) {}

int CmdEngineCall() { return 0; }
