// The SDL2 desktop services: menus drawn by the backend itself (sdl_menus.cpp), the tray icon
// over D-Bus (sdl_tray.cpp), window states and flashing through SDL, and the shape, stacking and
// caption buttons SDL lacks through X11 (sdl_x11.cpp).
#include <SDL.h>

#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_tray.h"
#include "platform/sdl/sdl_widgets.h"
#include "platform/sdl/sdl_x11.h"

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

bool SShowTrayIcon(const uint8_t* bgra, const char* tip) { return SdlTrayShow(bgra, tip); }
void SRemoveTrayIcon() { SdlTrayRemove(); }
void SSetTrayMenu(const PlatMenuItem* items, int count, int menu) { SdlTraySetMenu(items, count, menu); }

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
  SDL_SetWindowAlwaysOnTop(w, order == PLAT_Z_TOPMOST ? SDL_TRUE : SDL_FALSE);
  // SDL raises only by activating and cannot lower: the rest goes through X11 where it can.
  if (order == PLAT_Z_TOP) SdlX11Restack(w, 0, nullptr);
  else if (order == PLAT_Z_BOTTOM) SdlX11Restack(w, 1, nullptr);
  else if (order == PLAT_Z_BEHIND_MAIN) SdlX11Restack(w, 2, SdlWindowOfSlot(0));
}

void SSetMaximizeBox(int slot, bool shown) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SdlX11SetMaximizeBox(w, shown);
}

void SFlashWindow(int slot, int count, int) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SDL_FlashWindow(w, count > 0 ? SDL_FLASH_UNTIL_FOCUSED : SDL_FLASH_CANCEL);
}

void SSetWindowShape(int slot, const PlatRect* rects, int count) {
  if (SDL_Window* w = SdlWindowOfSlot(slot)) SdlX11SetShape(w, rects, count, SdlMenuBarHeight(slot));
}

void SSetWindowFrame(int slot, bool framed) {
  SDL_Window* w = SdlWindowOfSlot(slot);
  if (!w) return;
  SDL_SetWindowBordered(w, framed ? SDL_TRUE : SDL_FALSE);
  // A window without frame is a tool window, which has no taskbar button.
  if (!framed) SdlX11SetSkipTaskbar(w);
  // SDL leaves the hints out while no window manager has named them; a manager that starts
  // later still finds them.
  SdlX11SetMaximizeBox(w, true);
}

}  // namespace

// The window commands call these from the game-logic thread when the game runs one.
PlatformDesktop g_SdlDesktop = {
    SSetMenuBar,
    SPopupMenu,
    SdlOnMain<SShowTrayIcon>::Call,
    SdlOnMain<SRemoveTrayIcon>::Call,
    SdlOnMain<SSetTrayMenu>::Call,
    SdlOnMain<SMinimizeWindow>::Call,
    SdlOnMain<SMaximizeWindow>::Call,
    SdlOnMain<SIsWindowMinimized>::Call,
    SdlOnMain<SSetWindowZOrder>::Call,
    SdlOnMain<SSetMaximizeBox>::Call,
    SdlOnMain<SFlashWindow>::Call,
    SdlOnMain<SSetWindowShape>::Call,
    SdlOnMain<SSetWindowFrame>::Call,
};
