// The window commands of the scripts (create, change, hide and query the game windows) and the
// window operations they share with the other commands.
#pragma once

#include <cstdint>

struct LayerRecord;
struct WindowRecord;

// Largest run count of a window shape; a layer with more runs leaves the shape as it was.
constexpr int MAX_REGION_RECTS = 1999;

int CmdWindow();
int CmdHideWindow();
int CmdWindowQuery();

// Cuts the window down to the layer's pixels that are not pure black (alpha ignored). 0, or -1
// when the shape could not be made (the window keeps its shape).
int SetWindowRegionFromLayer(WindowRecord* w, const LayerRecord* layer);
// Flashes the window's taskbar button; interval 0 is the system's cursor blink rate. 0 or -1.
int FlashTaskbarButton(WindowRecord* w, int32_t count, int32_t intervalMs);
