// The GPU side of drawing: layer textures, the GPU scene and its read-back, the sprite paste
// and scene capture that the image-processing command asks for.
#pragma once

#include "script/nametree.h"

// Copies `source`'s pixels into `owner`'s textures (owner keeps its textures and takes
// source's pixels). Returns 0, or -1 when the textures could not be built.
int PasteSprite(NameNode* source, NameNode* owner);

// Draws `source` alone into the capture target and reads the frame back into `target`'s
// image at the main window's size. Does nothing without a GPU device.
void CaptureScene(NameNode* source, NameNode* target);

// A display-mode, full-screen or window-move change wants the device rebuilt; the next GPU
// frame does it.
extern uint8_t g_DeviceResetRequest;

// Start-up's GPU step, taken when the scene mode or a GPU drawing method asks for a device:
// 0 to run (with the device, or drawing on the CPU after the fall-back box), -1 to quit.
int StartDirect3D();
// 0 ready, 1 use the CPU instead, -1 quit.
int InitDirect3D();
// Shutdown's release of the device and everything made with it.
void ShutdownDirect3D();
// One GPU frame into the offscreen layer; nothing while no offscreen layer is named.
int RenderGpuScene();
// The whole rebuild of a lost device, with the characters' players kept: 0 when the device is
// ready again, -1 after the fall-back to the CPU.
int RebuildDevice();
// Presentation's hand-off: a device that presents frames and was lost is rebuilt before the
// frame goes through it (the scene, which rebuilds it otherwise, may not run at all).
void RebuildLostPresenter();
