// The SDL2 backend: windows shown through streaming textures of an SDL renderer, or through
// the OpenGL device while it exists; the event pump, message boxes.
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/canvas.h"
#include "platform/gl/gpu_gl.h"
#include "platform/lazy/lazy_library.h"
#include "platform/movie/movie_player.h"
#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_tray.h"
#include "platform/sdl/sdl_widgets.h"
#include "platform/sdl/sdl_x11.h"

namespace {

// A window shows its canvas one of two ways, never both at once (an SDL renderer and the
// device's context would fight over the window): through its SDL renderer, or, for the main
// window made for OpenGL while the OpenGL device exists, through the device.
struct SdlWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;   // null while the device presents the window
  SDL_Texture* texture = nullptr;
  int textureWidth = 0, textureHeight = 0;
  PlatCanvas canvas;     // under g_CanvasLock: presenting may come from the game-logic thread
  bool canvasDirty = false;
  bool forDevice = false;   // made for OpenGL, so the device may present it
  bool onDevice = false;    // the device presents it (switched on the main thread)
  // What the device is handed: the canvas with the movie laid over it, and the menu bar as the
  // main thread last painted it (the bar's state belongs to the main thread).
  std::vector<uint8_t> frame;
  std::vector<uint32_t> bar;
  int barWidth = 0;
};

SdlWindow g_Windows[4];
std::mutex g_CanvasLock;
std::thread::id g_MainThread;
SDL_Joystick* g_Joysticks[16];
SDL_Cursor* g_ShapeCursor;
SDL_Cursor* g_CustomCursor;
std::string g_DropText;          // the paths of the drop being received, '\n' between them
bool g_DropOpen;
int g_DragSlot = -1;           // window that follows the mouse, -1 none
int g_DragOffsetX, g_DragOffsetY;
std::string g_VideoFailure;    // why SDL, loaded, could not start its video

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

int SlotOfWindowId(Uint32 id) {
  for (int i = 0; i < 4; i++)
    if (g_Windows[i].window && SDL_GetWindowID(g_Windows[i].window) == id) return i;
  return -1;
}

bool SInit() {
  g_VideoFailure.clear();
  // SDL is loaded here, not at program start; a system without it runs headless.
  const char* why = nullptr;
  if (!LazyLibraryOpen(&g_LazySdl2, &why)) {
    fprintf(stderr, "kivor: no SDL (%s)\n", why ? why : "not found");
    return false;
  }
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // A click that activates a window is a click too, as on Windows (and a box never misses one).
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // Closing the last window is the window's close, which the game's close mode answers (a game
  // may take it and go on); SDL would make it a quit of the whole program as well.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // SDL's X11 driver keeps the error handler it finds at start and puts it back before it
  // closes its connections at quit, when errors still queued there (a wake-up sent to a box
  // destroyed meanwhile) are read: that handler must be ours, not Xlib's, which ends the
  // process.
  if (getenv("DISPLAY")) SdlX11CatchDisplayErrors();
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    g_VideoFailure = SDL_GetError();
    if (g_VideoFailure.empty()) g_VideoFailure = "no video device";
    return false;
  }
  // Where no window system answers, SDL falls back to a driver that shows nothing; a game
  // nobody sees is no game (unless SDL was asked for that driver).
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = getenv("SDL_VIDEODRIVER");
  bool shows = !driver || (strcmp(driver, "offscreen") != 0 && strcmp(driver, "dummy") != 0) || (asked && *asked);
  if (!shows || SDL_GetNumVideoDisplays() < 1) {
    g_VideoFailure = shows ? "no screen" : "no window system answered";
    SDL_Quit();
    return false;
  }
  if (driver && !strcmp(driver, "x11")) SdlX11CatchDisplayErrors();
  // Joysticks are optional: a system without them still runs.
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);
  g_MainThread = std::this_thread::get_id();
  return true;
}

void SDestroyWindow(int slot);

void SQuit() {
  SdlTrayRemove();
  for (int i = 0; i < 4; i++) SDestroyWindow(i);
  for (SDL_Joystick*& j : g_Joysticks) {
    if (j) SDL_JoystickClose(j);
    j = nullptr;
  }
  if (g_ShapeCursor) SDL_FreeCursor(g_ShapeCursor);
  if (g_CustomCursor) SDL_FreeCursor(g_CustomCursor);
  g_ShapeCursor = g_CustomCursor = nullptr;
  if (SdlAudioOpening()) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_JOYSTICK);
    return;
  }
  SDL_Quit();
}

uint32_t SGetTicks() { return SDL_GetTicks(); }

void SSleep(uint32_t ms) {
  // The main thread waiting for another (the game-logic thread's end) takes the jobs that thread
  // hands over meanwhile, or each would wait for the other.
  if (SdlOnMainThread()) SdlRunMainThreadJobs();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int ShowChoiceBox(const char* caption, const char* text, const char* const* labels, int count, int defaultIndex,
                  int cancelIndex, int icon) {
  if (count < 1) return cancelIndex;
  if (count > 4) count = 4;
  // Our own box shows the game's Japanese text on any display; SDL's box is the fall-back (it
  // needs zenity or the X server's core fonts), and where neither shows, the box takes its
  // default answer as one nobody answered.
  int answer = cancelIndex;
  if (WidgetChoiceBox(caption, text, labels, count, defaultIndex, cancelIndex, icon, &answer))
    return answer >= 0 && answer < count ? answer : cancelIndex;
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
  Uint32 kind = icon == PLAT_ICON_ERROR     ? SDL_MESSAGEBOX_ERROR
                : icon == PLAT_ICON_WARNING ? SDL_MESSAGEBOX_WARNING
                                            : SDL_MESSAGEBOX_INFORMATION;
  SDL_MessageBoxData box = {kind, nullptr, caption ? caption : "", text ? text : "",
                            count, data, nullptr};
  if (SDL_ShowMessageBox(&box, &answer) != 0) return defaultIndex >= 0 && defaultIndex < count ? defaultIndex : cancelIndex;
  return answer >= 0 && answer < count ? answer : cancelIndex;
}

int SChoiceBox(const char* caption, const char* text, const char* const* labels, int count, int defaultIndex,
               int cancelIndex, int icon) {
  // The text reaches stderr whether or not a box can be shown.
  PlatEchoBox(caption, text);
  return ShowChoiceBox(caption, text, labels, count, defaultIndex, cancelIndex, icon);
}

bool SSetClipboardText(const char* utf8) { return SDL_SetClipboardText(utf8 ? utf8 : "") == 0; }

bool SGetClipboardText(std::string* out) {
  if (!SDL_HasClipboardText()) return false;
  char* text = SDL_GetClipboardText();
  if (!text) return false;
  *out = text;
  SDL_free(text);
  return true;
}

// SDL has no text-entry dialog: the backend draws its own. Where no window can be made, the
// prompt is shown with its default text in a message box and the default text is the answer.
bool STextInputBox(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                   std::string* out) {
  // The prompt and the answer reach stderr whether or not a box can be shown.
  PlatEchoBox(caption, prompt);
  if (!WidgetTextInputBox(caption, prompt, defaultText, maxLength, out)) {
    std::string text = std::string(prompt ? prompt : "") + "\n\n" + (defaultText ? defaultText : "");
    static const char* const kOk[] = {"OK"};
    ShowChoiceBox(caption, text.c_str(), kOk, 1, 0, 0, PLAT_ICON_NONE);
    *out = defaultText ? defaultText : "";
  }
  PlatEchoAnswer(caption, out->c_str());
  return true;
}

// A window made for OpenGL gets SDL's first renderer; any other SDL's software one, which
// hands the picture to the window system without loading an OpenGL driver (SDL's first choice
// would load it, and remake the window for it, at a cost of most of a start).
bool MakeRenderer(SdlWindow& w) {
  if (w.forDevice) w.renderer = SDL_CreateRenderer(w.window, -1, 0);
  if (!w.renderer) {
    // The software renderer draws into the window's own surface, which SDL would otherwise put
    // on an OpenGL texture. Only here: the boxes' and menus' windows keep SDL's own choice.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    w.renderer = SDL_CreateRenderer(w.window, -1, SDL_RENDERER_SOFTWARE);
    SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
  }
  return w.renderer != nullptr;
}

bool SCreateWindow(int slot, int width, int height, const char* title) {
  if (!ValidSlot(slot) || width <= 0 || height <= 0) return false;
  SDestroyWindow(slot);
  SdlWindow& w = g_Windows[slot];
  const Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE;
  // The main window is made for OpenGL when the device may present it; where OpenGL cannot be
  // loaded it is made without.
  if (slot == 0 && GlGpuWanted())
    w.window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                flags | SDL_WINDOW_OPENGL);
  w.forDevice = w.window != nullptr;
  if (!w.window)
    w.window = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags);
  if (!w.window) return false;
  if (!MakeRenderer(w)) {
    SDestroyWindow(slot);
    return false;
  }
  std::lock_guard<std::mutex> g(g_CanvasLock);
  CanvasResize(&w.canvas, width, height);
  return true;
}

void SDestroyWindow(int slot) {
  if (!ValidSlot(slot)) return;
  SdlMenuForgetWindow(slot);
  SdlWindow& w = g_Windows[slot];
  std::lock_guard<std::mutex> g(g_CanvasLock);
  if (w.onDevice) GlGpuSetPresentWindow(nullptr);
  if (w.texture) SDL_DestroyTexture(w.texture);
  if (w.renderer) SDL_DestroyRenderer(w.renderer);
  if (w.window) SDL_DestroyWindow(w.window);
  w.window = nullptr;
  w.renderer = nullptr;
  w.texture = nullptr;
  w.textureWidth = w.textureHeight = 0;
  w.canvas = PlatCanvas{};
  w.canvasDirty = false;
  w.forDevice = w.onDevice = false;
  w.frame.clear();
  w.bar.clear();
  if (g_DragSlot == slot) g_DragSlot = -1;
}

void SShowWindow(int slot, bool show) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return;
  SDL_Window* w = g_Windows[slot].window;
  if (!show) {
    SDL_HideWindow(w);
    return;
  }
  // A window without frame keeps out of the taskbar each time it is shown: the window manager
  // forgets the states of a hidden window.
  if (SDL_GetWindowFlags(w) & SDL_WINDOW_BORDERLESS) SdlX11SetSkipTaskbar(w);
  SDL_ShowWindow(w);
}

void SSetWindowTitle(int slot, const char* title) {
  if (ValidSlot(slot) && g_Windows[slot].window) SDL_SetWindowTitle(g_Windows[slot].window, title ? title : "");
}

void SSetWindowSize(int slot, int width, int height) {
  if (!ValidSlot(slot) || !g_Windows[slot].window || width <= 0 || height <= 0) return;
  // The menu bar sits above the client area, inside the window.
  SDL_SetWindowSize(g_Windows[slot].window, width, height + SdlMenuBarHeight(slot));
  std::lock_guard<std::mutex> g(g_CanvasLock);
  CanvasResize(&g_Windows[slot].canvas, width, height);
}

// Follows the window's real client size (after a resize, maximise or full-screen switch).
void SyncCanvasSize(int slot) {
  SdlWindow& w = g_Windows[slot];
  if (!w.window) return;
  int width, height;
  SDL_GetWindowSize(w.window, &width, &height);
  height -= SdlMenuBarHeight(slot);
  std::lock_guard<std::mutex> g(g_CanvasLock);
  if (width != w.canvas.width || height != w.canvas.height) {
    CanvasResize(&w.canvas, width, height);
    w.canvasDirty = true;
  }
}

int SlotOf(const SdlWindow& w) { return int(&w - g_Windows); }

bool WantsDevice(const SdlWindow& w) { return w.forDevice && GlGpuCanPresent(); }

// Moves the window to the presenter it should have now: to the device when one has been made,
// back to an SDL renderer when the device is gone (the CPU fall-back). Main thread only, with
// g_CanvasLock held.
void ChoosePresenter(SdlWindow& w) {
  bool device = WantsDevice(w);
  if (device == w.onDevice) return;
  int slot = SlotOf(w);
  if (device) {
    SdlMenuForgetRenderer(slot);
    if (w.texture) SDL_DestroyTexture(w.texture);
    if (w.renderer) SDL_DestroyRenderer(w.renderer);
    w.texture = nullptr;
    w.renderer = nullptr;
    w.textureWidth = w.textureHeight = 0;
    w.onDevice = true;
    GlGpuSetPresentWindow(w.window);
    return;
  }
  GlGpuSetPresentWindow(nullptr);
  w.onDevice = false;
  MakeRenderer(w);
}

// A launch measurement (KIVOR_SAY_FIRST_FRAME set) is told when the first picture has reached
// the window, on the steady clock its launcher reads too, as the headless backend tells a
// scripted run; with the processor time of all threads until then.
void SayFirstPresent() {
  static std::atomic<bool> said;
  if (said.exchange(true) || !getenv("KIVOR_SAY_FIRST_FRAME")) return;
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
  double cpuMs = 1000.0 * (double)std::clock() / CLOCKS_PER_SEC;
  printf("sdl: first frame presented at %.3f ms of the steady clock, after %.3f ms of processor time\n", ms, cpuMs);
  fflush(stdout);
}

// Hands the canvas, with the movie laid over it and the last painted menu bar, to the device;
// the canvas stays due when the device cannot take it now. Any thread, with g_CanvasLock held.
void ShowOnDevice(SdlWindow& w) {
  int slot = SlotOf(w);
  w.canvasDirty = true;
  if (w.canvas.width <= 0 || w.canvas.height <= 0) return;
  const uint8_t* pixels = w.canvas.pixels.data();
  if (PlatMovieIsOpen()) {
    w.frame.resize(w.canvas.pixels.size());
    if (PlatMovieCompose(slot, pixels, w.frame.data(), w.canvas.width, w.canvas.height, w.canvas.width * 4, false))
      pixels = w.frame.data();
  }
  bool bar = !w.bar.empty() && w.barWidth > 0;
  GlGpuPicture picture{pixels, w.canvas.width, w.canvas.height, SdlMenuBarHeight(slot),
                       bar ? reinterpret_cast<const uint8_t*>(w.bar.data()) : nullptr, bar ? w.barWidth : 0,
                       bar ? int(w.bar.size() / size_t(w.barWidth)) : 0};
  if (!GlGpuPresent(w.window, picture)) return;
  w.canvasDirty = false;
  SayFirstPresent();
}

// Shows the window's canvas; main thread only, with g_CanvasLock held.
void ShowCanvas(SdlWindow& w) {
  ChoosePresenter(w);
  int slot = SlotOf(w);
  if (w.onDevice) {
    int width = 0, height = 0;
    SDL_GetWindowSize(w.window, &width, &height);
    if (SdlMenuBarPaint(slot, width, &w.bar)) w.barWidth = width;
    else w.bar.clear();
    ShowOnDevice(w);
    return;
  }
  w.canvasDirty = false;
  if (!w.renderer || w.canvas.width <= 0 || w.canvas.height <= 0) return;
  if (!w.texture || w.textureWidth != w.canvas.width || w.textureHeight != w.canvas.height) {
    if (w.texture) SDL_DestroyTexture(w.texture);
    w.texture = SDL_CreateTexture(w.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w.canvas.width,
                                  w.canvas.height);
    w.textureWidth = w.texture ? w.canvas.width : 0;
    w.textureHeight = w.texture ? w.canvas.height : 0;
    if (!w.texture) return;
  }
  SdlUploadCanvas(slot, w.texture, w.canvas.pixels.data(), w.canvas.width, w.canvas.height);
  SDL_RenderClear(w.renderer);
  int outW = 0, outH = 0;
  SDL_GetRendererOutputSize(w.renderer, &outW, &outH);
  int top = SdlMenuBarHeight(slot);
  SDL_Rect client{0, top, outW, outH - top};
  SDL_RenderCopy(w.renderer, w.texture, nullptr, top ? &client : nullptr);
  SdlMenuBarDraw(slot, w.renderer, outW);
  SDL_RenderPresent(w.renderer);
  SayFirstPresent();
}

// Shows the canvas a picture has just reached; g_CanvasLock held.
void ShowPresented(SdlWindow& w) {
  // The renderer belongs to the main thread; a picture from another thread waits for its poll.
  // The device presents on the thread that draws, which is the one that has its context.
  if (std::this_thread::get_id() == g_MainThread) ShowCanvas(w);
  else if (w.onDevice) ShowOnDevice(w);
  else w.canvasDirty = true;
}

void SPresentFrame(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy, int dw,
                   int dh) {
  if (!ValidSlot(slot) || !bgra || width <= 0 || height <= 0) return;
  SdlWindow& w = g_Windows[slot];
  std::lock_guard<std::mutex> g(g_CanvasLock);
  if (!w.window || (!w.renderer && !w.onDevice)) return;
  CanvasBlit(&w.canvas, bgra, width, height, pitch, dx, dy, dw, dh);
  ShowPresented(w);
}

void SPresentFrameChanges(int slot, const uint8_t* bgra, int width, int height, int pitch, int dx, int dy,
                          const PlatRect& changed) {
  if (!ValidSlot(slot) || !bgra || width <= 0 || height <= 0) return;
  SdlWindow& w = g_Windows[slot];
  std::lock_guard<std::mutex> g(g_CanvasLock);
  if (!w.window || (!w.renderer && !w.onDevice)) return;
  CanvasBlitChanges(&w.canvas, bgra, width, height, pitch, dx, dy, changed);
  ShowPresented(w);
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

// The pointer on the desktop; true while its left button is down. Asked of the X server where
// the windows live on one, SDL's remembered answer elsewhere.
bool GlobalPointer(int* x, int* y) {
  bool leftDown = false;
  for (const SdlWindow& w : g_Windows)
    if (w.window && SdlX11Pointer(w.window, x, y, &leftDown)) return leftDown;
  return SDL_GetGlobalMouseState(x, y) & SDL_BUTTON_LMASK;
}

// Moves a dragged window with the mouse; true while the drag swallows the event.
bool FollowDrag(const SDL_Event& e) {
  if (g_DragSlot < 0 || !g_Windows[g_DragSlot].window) return false;
  if (e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT) {
    g_DragSlot = -1;
    return false;
  }
  if (e.type != SDL_MOUSEMOTION) return false;
  int gx, gy;
  if (!GlobalPointer(&gx, &gy)) {
    g_DragSlot = -1;
    return false;
  }
  SDL_SetWindowPosition(g_Windows[g_DragSlot].window, gx - g_DragOffsetX, gy - g_DragOffsetY);
  return true;
}

bool SPollEvent(PlatEventRecord* out) {
  SdlRunMainThreadJobs();
  if (SdlTrayPoll(out)) return true;
  {
    std::lock_guard<std::mutex> g(g_CanvasLock);
    for (SdlWindow& w : g_Windows)
      if (w.window && (w.canvasDirty || PlatMovieNeedsShow(SlotOf(w)) || w.onDevice != WantsDevice(w)))
        ShowCanvas(w);
  }
  int movieSlot;
  if (PlatMovieTakeEnd(&movieSlot, false)) {
    *out = PlatEventRecord{};
    out->type = PLAT_EVENT_MOVIE_END;
    out->window = movieSlot;
    return true;
  }
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (FollowDrag(e)) continue;
    *out = PlatEventRecord{};
    out->window = -1;
    // The runtime's own menus see events first; a chosen menu-bar item comes back as an event.
    int menu = SdlMenuHandleEvent(e, out);
    if (menu == 2) return true;
    if (menu == 1) continue;
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
            if (out->window >= 0) SyncCanvasSize(out->window);
            out->type = PLAT_EVENT_RESIZED;
            out->x = e.window.data1;
            out->y = e.window.data2 - SdlMenuBarHeight(out->window);
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
        out->y = e.motion.y - SdlMenuBarHeight(out->window);
        return true;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        out->type = e.type == SDL_MOUSEBUTTONDOWN ? PLAT_EVENT_MOUSE_DOWN : PLAT_EVENT_MOUSE_UP;
        out->window = SlotOfWindowId(e.button.windowID);
        out->button = MouseButton(e.button.button);
        out->clicks = e.button.clicks;
        out->x = e.button.x;
        out->y = e.button.y - SdlMenuBarHeight(out->window);
        return true;
      case SDL_MOUSEWHEEL:
        out->type = PLAT_EVENT_WHEEL;
        out->window = SlotOfWindowId(e.wheel.windowID);
        out->wheel = (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y) * 120;
        return true;
      case SDL_TEXTEDITING_EXT:
        // A long composed text left over from a closed text-input box.
        SDL_free(e.editExt.text);
        continue;
      case SDL_DROPBEGIN:
        g_DropOpen = true;
        g_DropText.clear();
        continue;
      case SDL_DROPFILE:
        // One drop of several files arrives file by file; the engine takes it as one list.
        if (!g_DropText.empty()) g_DropText += '\n';
        g_DropText += e.drop.file ? e.drop.file : "";
        SDL_free(e.drop.file);
        if (g_DropOpen) continue;
        [[fallthrough]];
      case SDL_DROPCOMPLETE:
        g_DropOpen = false;
        out->type = PLAT_EVENT_DROP_FILE;
        out->window = SlotOfWindowId(e.drop.windowID);
        out->text.swap(g_DropText);
        g_DropText.clear();
        return true;
      default:
        continue;
    }
  }
  return false;
}

bool SGetWindowRect(int slot, PlatRect* out) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return false;
  SDL_GetWindowPosition(g_Windows[slot].window, &out->x, &out->y);
  SDL_GetWindowSize(g_Windows[slot].window, &out->width, &out->height);
  int top = SdlMenuBarHeight(slot);
  out->y += top;
  out->height -= top;
  return true;
}

void SSetWindowPosition(int slot, int x, int y) {
  if (ValidSlot(slot) && g_Windows[slot].window) SDL_SetWindowPosition(g_Windows[slot].window, x, y);
}

void SSetWindowSizeLimits(int slot, int minWidth, int minHeight, int maxWidth, int maxHeight) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return;
  SDL_Window* w = g_Windows[slot].window;
  int top = SdlMenuBarHeight(slot);
  SDL_SetWindowMinimumSize(w, minWidth > 0 ? minWidth : 1, (minHeight > 0 ? minHeight : 1) + top);
  // SDL takes no "none" for a largest size: one far beyond any screen stands for it.
  constexpr int NO_LIMIT = 32768;
  bool limited = maxWidth > 0 && maxHeight > 0;
  SDL_SetWindowMaximumSize(w, limited ? maxWidth : NO_LIMIT, limited ? maxHeight + top : NO_LIMIT);
}

void SSetWindowResizable(int slot, bool resizable) {
  if (ValidSlot(slot) && g_Windows[slot].window)
    SDL_SetWindowResizable(g_Windows[slot].window, resizable ? SDL_TRUE : SDL_FALSE);
}

void SRestoreWindow(int slot) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return;
  SDL_Window* w = g_Windows[slot].window;
  int width = 0, height = 0;
  SDL_GetWindowSize(w, &width, &height);
  bool maximized = SdlX11IsMaximized(w);
  SDL_RestoreWindow(w);
  // A window manager restores in its own time, and SDL makes a sizing-border change or a new
  // size from what it last heard: the caller's next step must meet the restored window, not the
  // maximised one. So the restored size is waited for (a second at most).
  for (int i = 0; maximized && i < 200; i++) {
    SDL_PumpEvents();
    int nowWidth = 0, nowHeight = 0;
    SDL_GetWindowSize(w, &nowWidth, &nowHeight);
    if (nowWidth != width || nowHeight != height) break;
    SDL_Delay(5);
  }
}

void SRaiseWindow(int slot) {
  if (ValidSlot(slot) && g_Windows[slot].window) SDL_RaiseWindow(g_Windows[slot].window);
}

void SBeginWindowDrag(int slot) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return;
  // The window manager moves the window as by its caption where it can; otherwise the window
  // follows the mouse here.
  if (SdlX11BeginMove(g_Windows[slot].window)) return;
  int gx, gy, wx, wy;
  if (!GlobalPointer(&gx, &gy)) return;
  SDL_GetWindowPosition(g_Windows[slot].window, &wx, &wy);
  g_DragSlot = slot;
  g_DragOffsetX = gx - wx;
  g_DragOffsetY = gy - wy;
}

int SGetMonitors(PlatRect* out, int max) {
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n && i < max; i++) {
    SDL_Rect r;
    if (SDL_GetDisplayBounds(i, &r) != 0) r = SDL_Rect{0, 0, 0, 0};
    out[i] = {r.x, r.y, r.w, r.h};
  }
  return n < 0 ? 0 : n;
}

int SGetWindowMonitor(int slot) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return 0;
  int i = SDL_GetWindowDisplayIndex(g_Windows[slot].window);
  return i < 0 ? 0 : i;
}

int ModeBits(Uint32 format) { return SDL_BITSPERPIXEL(format) == 24 ? 32 : (int)SDL_BITSPERPIXEL(format); }

int SGetDisplayModes(int monitor, PlatDisplayMode* out, int max) {
  int n = SDL_GetNumDisplayModes(monitor);
  for (int i = 0; i < n && i < max; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(monitor, i, &m) != 0) m = SDL_DisplayMode{};
    out[i] = {m.w, m.h, ModeBits(m.format), m.refresh_rate};
  }
  return n < 0 ? 0 : n;
}

bool SSetFullScreen(int slot, bool on, const PlatDisplayMode* mode) {
  if (!ValidSlot(slot) || !g_Windows[slot].window) return false;
  SDL_Window* w = g_Windows[slot].window;
  if (!on) {
    bool ok = SDL_SetWindowFullscreen(w, 0) == 0;
    SyncCanvasSize(slot);
    return ok;
  }
  if (mode) {
    SDL_DisplayMode wanted = {0, mode->width, mode->height, 0, nullptr};
    SDL_DisplayMode found;
    int display = SDL_GetWindowDisplayIndex(w);
    if (!SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &wanted, &found) || found.w != mode->width ||
        found.h != mode->height)
      return false;
    if (SDL_SetWindowDisplayMode(w, &found) != 0 || SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0)
      return false;
  } else if (SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
    return false;
  }
  SyncCanvasSize(slot);
  return true;
}

void SShowCursor(bool show) { SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE); }

void SSetCursorShape(int shape) {
  static const SDL_SystemCursor kShapes[] = {
      SDL_SYSTEM_CURSOR_ARROW,    SDL_SYSTEM_CURSOR_IBEAM,    SDL_SYSTEM_CURSOR_WAIT,   SDL_SYSTEM_CURSOR_CROSSHAIR,
      SDL_SYSTEM_CURSOR_ARROW,    SDL_SYSTEM_CURSOR_SIZENWSE, SDL_SYSTEM_CURSOR_SIZENESW, SDL_SYSTEM_CURSOR_SIZEWE,
      SDL_SYSTEM_CURSOR_SIZENS,   SDL_SYSTEM_CURSOR_SIZEALL,  SDL_SYSTEM_CURSOR_NO,     SDL_SYSTEM_CURSOR_HAND,
      SDL_SYSTEM_CURSOR_WAITARROW, SDL_SYSTEM_CURSOR_ARROW};
  if (shape < 0 || shape >= (int)(sizeof kShapes / sizeof kShapes[0])) shape = 0;
  SDL_Cursor* c = SDL_CreateSystemCursor(kShapes[shape]);
  if (!c) return;
  SDL_SetCursor(c);
  if (g_ShapeCursor) SDL_FreeCursor(g_ShapeCursor);
  g_ShapeCursor = c;
}

bool SSetCustomCursor(const uint8_t* bgra, int width, int height, int hotX, int hotY) {
  if (!bgra || width <= 0 || height <= 0) return false;
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(bgra), width, height, 32, width * 4,
                                                      SDL_PIXELFORMAT_ARGB8888);
  if (!s) return false;
  SDL_Cursor* c = SDL_CreateColorCursor(s, hotX, hotY);
  SDL_FreeSurface(s);
  if (!c) return false;
  SDL_SetCursor(c);
  if (g_CustomCursor) SDL_FreeCursor(g_CustomCursor);
  g_CustomCursor = c;
  return true;
}

void SWarpMouse(int slot, int x, int y) {
  if (ValidSlot(slot) && g_Windows[slot].window)
    SDL_WarpMouseInWindow(g_Windows[slot].window, x, y + SdlMenuBarHeight(slot));
}

int SJoystickCount() {
  int n = SDL_WasInit(SDL_INIT_JOYSTICK) ? SDL_NumJoysticks() : 0;
  return n < 0 ? 0 : n;
}

// SDL axes run -32768..32767 with 0 at rest; the engine's run 0..65535 with 0x7FFF at rest.
uint32_t EngineAxis(Sint16 v) {
  int a = (int)v + 0x7FFF;
  return (uint32_t)(a < 0 ? 0 : a);
}

bool SReadJoystick(int index, PlatJoystickState* out) {
  if (index < 0 || index >= 16 || index >= SJoystickCount()) return false;
  if (!g_Joysticks[index]) g_Joysticks[index] = SDL_JoystickOpen(index);
  SDL_Joystick* j = g_Joysticks[index];
  if (!j) return false;
  SDL_JoystickUpdate();
  out->x = EngineAxis(SDL_JoystickGetAxis(j, 0));
  out->y = EngineAxis(SDL_JoystickGetAxis(j, 1));
  out->buttons = 0;
  int buttons = SDL_JoystickNumButtons(j);
  for (int b = 0; b < buttons && b < 32; b++)
    if (SDL_JoystickGetButton(j, b)) out->buttons |= 1u << b;
  return true;
}

bool SGetCursorPosition(int* x, int* y) {
  GlobalPointer(x, y);
  return true;
}

}  // namespace

const std::string& SdlVideoFailure() { return g_VideoFailure; }

SDL_Window* SdlWindowOfSlot(int slot) { return ValidSlot(slot) ? g_Windows[slot].window : nullptr; }

bool SdlOnMainThread() { return std::this_thread::get_id() == g_MainThread; }

int SdlSlotOfWindowId(Uint32 id) { return SlotOfWindowId(id); }

void SdlRepaintGameWindows() {
  std::lock_guard<std::mutex> g(g_CanvasLock);
  for (SdlWindow& w : g_Windows)
    if (w.window) ShowCanvas(w);
}

void SdlRepaintGameWindow(int slot) {
  std::lock_guard<std::mutex> g(g_CanvasLock);
  if (ValidSlot(slot) && g_Windows[slot].window) ShowCanvas(g_Windows[slot]);
}

// Slots other than the clock, the boxes (which hand themselves over), presenting and the event
// pump run on the main thread whichever thread calls them.
PlatformDriver g_SdlDriver = {
    "sdl",
    SInit,
    SQuit,
    SGetTicks,
    SSleep,
    SChoiceBox,
    SdlOnMain<SCreateWindow>::Call,
    SdlOnMain<SDestroyWindow>::Call,
    SdlOnMain<SShowWindow>::Call,
    SdlOnMain<SSetWindowTitle>::Call,
    SdlOnMain<SSetWindowSize>::Call,
    SPresentFrame,
    SPresentFrameChanges,
    SdlOnMain<SGetDesktopMode>::Call,
    SPollEvent,
    SdlOnMain<SGetWindowRect>::Call,
    SdlOnMain<SSetWindowPosition>::Call,
    SdlOnMain<SSetWindowSizeLimits>::Call,
    SdlOnMain<SSetWindowResizable>::Call,
    SdlOnMain<SRestoreWindow>::Call,
    SdlOnMain<SRaiseWindow>::Call,
    SdlOnMain<SBeginWindowDrag>::Call,
    SdlOnMain<SGetMonitors>::Call,
    SdlOnMain<SGetWindowMonitor>::Call,
    SdlOnMain<SGetDisplayModes>::Call,
    SdlOnMain<SSetFullScreen>::Call,
    SdlOnMain<SShowCursor>::Call,
    SdlOnMain<SSetCursorShape>::Call,
    SdlOnMain<SSetCustomCursor>::Call,
    SdlOnMain<SWarpMouse>::Call,
    SdlOnMain<SJoystickCount>::Call,
    SdlOnMain<SReadJoystick>::Call,
    PlatHostLocalTime,
    PlatHostMemoryStatus,
    SdlOnMain<SGetCursorPosition>::Call,
    SdlOnMain<SSetClipboardText>::Call,
    SdlOnMain<SGetClipboardText>::Call,
    STextInputBox,
};
