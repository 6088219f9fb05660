// The SDL2 desktop services. SDL2 has window states, stacking, flashing and message boxes, but
// no menus, no tray icon and no shape for an existing window: a pop-up menu becomes a message
// box with one button per item, menu bars and the tray icon are not shown, and a window shape is
// not applied (the window stays rectangular).
#include <SDL.h>

#include <string>
#include <vector>

#include "platform/sdl/sdl_driver.h"

namespace {

constexpr int MAX_POPUP_BUTTONS = 12;   // more would not fit a message box on a small screen

// The choosable items of a menu and its sub-menus, sub-menu items named "parent > item".
void CollectChoices(const PlatMenuItem* items, int count, int menu, const std::string& prefix, int depth,
                    std::vector<std::pair<uint32_t, std::string>>* out) {
  if (depth > 16) return;
  for (int i = 0; i < count && (int)out->size() < MAX_POPUP_BUTTONS; i++) {
    const PlatMenuItem& it = items[i];
    if (it.menu != menu || it.separator || !it.enabled) continue;
    std::string shown;
    for (char c : it.caption)
      if (c != '&') shown += c;
    if (it.submenu >= 0 && it.submenu != menu) {
      CollectChoices(items, count, it.submenu, prefix + shown + " > ", depth + 1, out);
      continue;
    }
    out->push_back({it.id, prefix + (it.checked ? "* " : "") + shown});
  }
}

void SSetMenuBar(int, const PlatMenuItem*, int) {}

uint32_t SPopupMenu(int slot, const PlatMenuItem* items, int count, int menu, int, int) {
  std::vector<std::pair<uint32_t, std::string>> choices;
  CollectChoices(items, count, menu, "", 0, &choices);
  if (choices.empty()) return 0;
  std::vector<SDL_MessageBoxButtonData> buttons;
  for (size_t i = 0; i < choices.size(); i++) buttons.push_back({0, (int)i, choices[i].second.c_str()});
  buttons.push_back({SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, -1, "Cancel"});
  SDL_MessageBoxData box = {SDL_MESSAGEBOX_INFORMATION, SdlWindowOfSlot(slot), "", "", (int)buttons.size(),
                            buttons.data(), nullptr};
  int answer = -1;
  if (SDL_ShowMessageBox(&box, &answer) != 0 || answer < 0 || answer >= (int)choices.size()) return 0;
  return choices[answer].first;
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
