// The tray icon of the SDL backend (sdl_tray.cpp): a StatusNotifierItem on the session bus,
// with its menu exported for trays that draw menus themselves. Main thread only.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Shows or updates the icon (16 x 16 BGRA, straight alpha, or null for the program's icon) and
// its tip; false when the desktop has no session bus or no tray watching for items.
bool SdlTrayShow(const uint8_t* bgra16x16, const char* tipUtf8);
void SdlTrayRemove();
// The menu the tray shows: menu `menu` of a description (a copy is kept; count 0: none).
void SdlTraySetMenu(const PlatMenuItem* items, int count, int menu);
// Handles the bus's messages; true when a click on the icon or a chosen menu item gave *out an
// event. Never waits for the bus or a peer.
bool SdlTrayPoll(PlatEventRecord* out);
