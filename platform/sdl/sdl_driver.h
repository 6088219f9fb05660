// The SDL2 backend: real windows, events, message boxes.
#pragma once

#include "platform/platform.h"

extern PlatformDriver g_SdlDriver;

// Windows virtual-key code of an SDL scancode (0 when the key has none).
int SdlScancodeToVirtualKey(int scancode);
