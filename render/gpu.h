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
