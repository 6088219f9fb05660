// Icons of the desktop's icon theme, found as the freedesktop icon theme layout lays them out.
#pragma once

#include <cstdint>
#include <vector>

// A loaded icon: width x height words 0xAARRGGBB (straight alpha), rows top-down.
struct PlatIcon {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;
};

// Loads the PNG picture of the named icon ("dialog-warning") nearest `size` pixels from the
// installed themes: Adwaita (the desktop theme Debian ships) with the themes it inherits, then
// hicolor, each looked for under $XDG_DATA_HOME/icons and the icons folder of every
// $XDG_DATA_DIRS entry. False when no theme has a PNG of that name. Any thread.
bool PlatLoadThemeIcon(const char* name, int size, PlatIcon* out);
