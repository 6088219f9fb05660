// Steps that start-up, the frame and shutdown take from the other subsystems. Each one is
// defined by its subsystem.
#pragma once

#include <cstdint>

struct NameNode;
struct WindowRecord;

// Pixel kernels, blend tables and the pixel workers.
void InitPixelKernels();
void InitProductTables();
void InitBlendTables();
void StartWorkerThreads();
void StopWorkerThreads();   // wakes every worker with the pool's stop flag set and joins it

// Files and packs.
extern uint8_t g_PackedRelease;
int BuildPackIndex();

// Script engine.
extern uint8_t g_SoundEnabled;
int LoadProjectSettings();
void InitEvaluatorTables();
void InitAssignOperatorTable();
void InitOpcodeTable(int mode);
void SeedRandom(uint32_t seed);
int BootScripts();
int RunScriptTasks();       // one pass over the task tree; non-zero asks to quit
int CreateTaskTreeRoot();   // the task tree with "SYSTEM"; 0 on success
int CreateMenuTreeRoot();

// Layers.
int CreateLayerTreeRoot();  // the layer tree with "W0" at the main window's game size
void ApplyPendingLayerStateAll();

// Rendering.
int DrawWindow(WindowRecord* w);
void PaintWindowBlack(WindowRecord* w);   // black over the whole client area
int PresentWindow(WindowRecord* w);
void ResetDirtyRectsAll();

// Input.
void InitKeyEdgeTable();
void UpdateInputState();
int InitJoysticks();
void PrepareModalUi();

// Message text.
struct ScriptTask;
void CreateMessageRecord();
// Advances the message a task is typing out, before the task's turn (script runner).
void AdvanceMessage(ScriptTask* task);
void InitGlyphTables();
void StartFontTable();
void EnsureFontTable();
void EndFontLister();
void ReleaseGdiObjects();

// Sound.
int CreateSoundTreeRoot();
int InitDirectSound();      // 1 when sound output is available
int InitSoundSystem();      // starts the sound thread; non-zero fails start-up
void ReleaseDirectSound();

// Save data.
void FreeSaveStaging(int slot);
