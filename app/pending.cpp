// Steps of subsystems that are not built yet, so start-up, the frame and shutdown run in full.
// Each subsystem removes its entries here as it defines them.
#include "app/engine.h"
#include "app/hooks.h"
#include "layers/layer.h"

uint8_t g_SoundEnabled;

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
void FreeFrameSet(LayerRecord*) {}
void ForgetDragLayer(NameNode*) {}
int ForgetMessageLayer(NameNode*) { return 0; }

int DrawWindow(WindowRecord*) { return 0; }
int PresentWindow(WindowRecord*) { return 0; }
void ResetDirtyRectsAll() {}

void InitKeyEdgeTable() {}
void UpdateInputState() { CheckInactivePause(); }
int InitJoysticks() { return 0; }
void PrepareModalUi() {}

void CreateMessageRecord() {}

int CreateSoundTreeRoot() { return 0; }
int InitDirectSound() { return 0; }
int InitSoundSystem() { return 0; }
void ReleaseDirectSound() {}

void FreeSaveStaging(int) {}

int CmdEngineCall() { return 0; }
