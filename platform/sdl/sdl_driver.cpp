// The SDL2 backend: windows with streaming textures, the event pump, message boxes.
#include <SDL.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/sdl/sdl_driver.h"

namespace {

struct SdlWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int textureWidth = 0, textureHeight = 0;
};

SdlWindow g_Windows[4];

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

int SlotOfWindowId(Uint32 id) {
  for (int i = 0; i < 4; i++)
    if (g_Windows[i].window && SDL_GetWindowID(g_Windows[i].window) == id) return i;
  return -1;
}

bool SInit() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
  if (SDL_GetNumVideoDisplays() < 1) {
    SDL_Quit();
    return false;
  }
  return true;
}

void SDestroyWindow(int slot);

void SQuit() {
  for (int i = 0; i < 4; i++) SDestroyWindow(i);
  SDL_Quit();
}

uint32_t SGetTicks() { return SDL_GetTicks(); }

void SSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int SChoiceBox(const char* caption, const char* text, const char* const* labels, int count, int defaultIndex,
               int cancelIndex) {
  if (count < 1) return cancelIndex;
  if (count > 4) count = 4;
  SDL_MessageBoxButtonData data[4];
  std::string shown[4];
  // SDL lays buttons out right to left on some back ends; ids keep the caller's indexes.
  for (int i = 0; i < count; i++) {
    for (const char* p = labels[i]; *p; p++)
      if (*p != '&') shown[i] += *p;
    Uint32 flags = 0;
    if (i == defaultIndex) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (i == cancelIndex) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    data[i] = {flags, i, shown[i].c_str()};
  }
  SDL_MessageBoxData box = {SDL_MESSAGEBOX_INFORMATION, nullptr, caption ? caption : "", text ? text : "",
                            count, data, nullptr};
  int answer = cancelIndex;
  if (SDL_ShowMessageBox(&box, &answer) != 0 || answer < 0 || answer >= count) answer = cancelIndex;
  return answer;
}

bool SCreateWindow(int slot, int width, int height, const char* title) {
  if (!ValidSlot(slot) || width <= 0 || height <= 0) return false;
  SDestroyWindow(slot);
  SdlWindow& w = g_Windows[slot];
  w.window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (!w.window) return false;
  w.renderer = SDL_CreateRenderer(w.window, -1, 0);
  if (!w.renderer) w.renderer = SDL_CreateRenderer(w.window, -1, SDL_RENDERER_SOFTWARE);
  if (!w.renderer) {
    SDestroyWindow(slot);
    return false;
  }
  return true;
}

void SDestroyWindow(int slot) {
  if (!ValidSlot(slot)) return;
  SdlWindow& w = g_Windows[slot];
  if (w.texture) SDL_DestroyTexture(w.texture);
  if (w.renderer) SDL_DestroyRenderer(w.renderer);
  if (w.window) SDL_DestroyWindow(w.window);
  w = SdlWindow{};
}

void SShowWindow(int slot, bool show) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return;
  if (show) SDL_ShowWindow(g_Windows[slot].window);
  else SDL_HideWindow(g_Windows[slot].window);
}

void SSetWindowTitle(int slot, const char* title) {
  if (ValidSlot(slot) && g_Windows[slot].window) SDL_SetWindowTitle(g_Windows[slot].window, title ? title : "");
}

void SSetWindowSize(int slot, int width, int height) {
  if (ValidSlot(slot) && g_Windows[slot].window && width > 0 && height > 0)
    SDL_SetWindowSize(g_Windows[slot].window, width, height);
}

void SPresentFrame(int slot, const uint8_t* bgra, int width, int height, int pitch) {
  if (!ValidSlot(slot) || !bgra || width <= 0 || height <= 0) return;
  SdlWindow& w = g_Windows[slot];
  if (!w.renderer) return;
  if (!w.texture || w.textureWidth != width || w.textureHeight != height) {
    if (w.texture) SDL_DestroyTexture(w.texture);
    w.texture = SDL_CreateTexture(w.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!w.texture) return;
    w.textureWidth = width;
    w.textureHeight = height;
  }
  SDL_UpdateTexture(w.texture, nullptr, bgra, pitch);
  SDL_RenderClear(w.renderer);
  SDL_RenderCopy(w.renderer, w.texture, nullptr, nullptr);
  SDL_RenderPresent(w.renderer);
}

void SGetDesktopMode(int* width, int* height, int* bitsPerPixel, int* refreshRate) {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) {
    *width = 1920, *height = 1080, *bitsPerPixel = 32, *refreshRate = 60;
    return;
  }
  *width = mode.w;
  *height = mode.h;
  *bitsPerPixel = SDL_BITSPERPIXEL(mode.format) == 24 ? 32 : (int)SDL_BITSPERPIXEL(mode.format);
  *refreshRate = mode.refresh_rate;
}

int MouseButton(Uint8 b) {
  switch (b) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    case SDL_BUTTON_X1: return 3;
    default: return 4;
  }
}

bool SPollEvent(PlatEventRecord* out) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    *out = PlatEventRecord{};
    out->window = -1;
    switch (e.type) {
      case SDL_QUIT:
        out->type = PLAT_EVENT_QUIT;
        return true;
      case SDL_WINDOWEVENT:
        out->window = SlotOfWindowId(e.window.windowID);
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE: out->type = PLAT_EVENT_CLOSE; return true;
          case SDL_WINDOWEVENT_FOCUS_GAINED: out->type = PLAT_EVENT_FOCUS_GAINED; return true;
          case SDL_WINDOWEVENT_FOCUS_LOST: out->type = PLAT_EVENT_FOCUS_LOST; return true;
          case SDL_WINDOWEVENT_MINIMIZED: out->type = PLAT_EVENT_MINIMIZED; return true;
          case SDL_WINDOWEVENT_MAXIMIZED: out->type = PLAT_EVENT_MAXIMIZED; return true;
          case SDL_WINDOWEVENT_RESTORED: out->type = PLAT_EVENT_RESTORED; return true;
          case SDL_WINDOWEVENT_EXPOSED: out->type = PLAT_EVENT_EXPOSED; return true;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            out->type = PLAT_EVENT_RESIZED;
            out->x = e.window.data1;
            out->y = e.window.data2;
            return true;
          case SDL_WINDOWEVENT_MOVED:
            out->type = PLAT_EVENT_MOVED;
            out->x = e.window.data1;
            out->y = e.window.data2;
            return true;
          default: continue;
        }
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        out->type = e.type == SDL_KEYDOWN ? PLAT_EVENT_KEY_DOWN : PLAT_EVENT_KEY_UP;
        out->window = SlotOfWindowId(e.key.windowID);
        out->key = SdlScancodeToVirtualKey(e.key.keysym.scancode);
        if (out->key == 0) continue;
        return true;
      case SDL_MOUSEMOTION:
        out->type = PLAT_EVENT_MOUSE_MOVE;
        out->window = SlotOfWindowId(e.motion.windowID);
        out->x = e.motion.x;
        out->y = e.motion.y;
        return true;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        out->type = e.type == SDL_MOUSEBUTTONDOWN ? PLAT_EVENT_MOUSE_DOWN : PLAT_EVENT_MOUSE_UP;
        out->window = SlotOfWindowId(e.button.windowID);
        out->button = MouseButton(e.button.button);
        out->clicks = e.button.clicks;
        out->x = e.button.x;
        out->y = e.button.y;
        return true;
      case SDL_MOUSEWHEEL:
        out->type = PLAT_EVENT_WHEEL;
        out->window = SlotOfWindowId(e.wheel.windowID);
        out->wheel = (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y) * 120;
        return true;
      case SDL_DROPFILE:
        out->type = PLAT_EVENT_DROP_FILE;
        out->window = SlotOfWindowId(e.drop.windowID);
        out->text = e.drop.file ? e.drop.file : "";
        SDL_free(e.drop.file);
        return true;
      default:
        continue;
    }
  }
  return false;
}

bool SGetCursorPosition(int* x, int* y) {
  SDL_GetGlobalMouseState(x, y);
  return true;
}

}  // namespace

PlatformDriver g_SdlDriver = {
    "sdl",         SInit,          SQuit,        SGetTicks,       SSleep,         SChoiceBox,
    SCreateWindow, SDestroyWindow, SShowWindow,  SSetWindowTitle, SSetWindowSize, SPresentFrame,
    SGetDesktopMode, SPollEvent,   PlatHostLocalTime, PlatHostMemoryStatus, SGetCursorPosition,
};
