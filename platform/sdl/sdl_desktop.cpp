// The SDL2 desktop services: menus drawn by the backend itself (sdl_menus.cpp), window states,
// stacking and flashing through SDL.
#include <SDL.h>

#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_widgets.h"

namespace {

// The bar grows the window by its height, so the client area keeps its size.
void SSetMenuBar(int slot, const PlatMenuItem* items, int count) {
  SdlRunOnMainThread([&] {
    int before = SdlMenuBarHeight(slot);
    SdlMenuSetBar(slot, items, count);
    int after = SdlMenuBarHeight(slot);
    SDL_Window* w = SdlWindowOfSlot(slot);
    if (w && before != after) {
      int width, height;
      SDL_GetWindowSize(w, &width, &height);
      SDL_SetWindowSize(w, width, height - before + after);
    }
    SdlRepaintGameWindow(slot);
  });
}

uint32_t SPopupMenu(int slot, const PlatMenuItem* items, int count, int menu, int x, int y) {
  uint32_t id = 0;
  SdlRunOnMainThread([&] { id = SdlMenuPopup(slot, items, count, menu, x, y); });
  return id;
}

bool SShowTrayIcon(const uint8_t*, const char*) { return false; }
void SRemoveTrayIcon() {}

void SMinimizeWindow(int slot) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SDL_MinimizeWindow(w);
}

void SMaximizeWindow(int slot) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SDL_MaximizeWindow(w);
}

bool SIsWindowMinimized(int slot) {
  SDL_Window* w = SdlWindowOfSlot(slot);
  return w && (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED);
}

void SSetWindowZOrder(int slot, int order) {
  SDL_Window* w = SdlWindowOfSlot(slot);
  if (!w) return;
  // SDL2 raises only by activating, and cannot lower a window: every order but topmost just
  // drops "always on top".
  SDL_SetWindowAlwaysOnTop(w, order == PLAT_Z_TOPMOST ? SDL_TRUE : SDL_FALSE);
}

void SSetMaximizeBox(int, bool) {}

void SFlashWindow(int slot, int count, int) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SDL_FlashWindow(w, count > 0 ? SDL_FLASH_UNTIL_FOCUSED : SDL_FLASH_CANCEL);
}

void SSetWindowShape(int, const PlatRect*, int) {}

}  // namespace

PlatformDesktop g_SdlDesktop = {
    SSetMenuBar,     SPopupMenu,         SShowTrayIcon,    SRemoveTrayIcon, SMinimizeWindow, SMaximizeWindow,
    SIsWindowMinimized, SSetWindowZOrder, SSetMaximizeBox, SFlashWindow,    SSetWindowShape,
};
