// The SDL backend's own small widget set: canvases drawn with our font service, modal loops on
// the main thread, message and text-input boxes, menus. Internal to platform/sdl/.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/platform.h"
#include "platform/sdl/widget_edit.h"

// Colours, 0xAARRGGBB (BGRA bytes in memory).
enum : uint32_t {
  WIDGET_FACE = 0xFFF0F0F0,       // window and menu ground
  WIDGET_TEXT = 0xFF000000,
  WIDGET_GREY_TEXT = 0xFF8C8C8C,  // greyed-out items
  WIDGET_SELECT = 0xFF3070C0,     // highlighted item
  WIDGET_SELECT_TEXT = 0xFFFFFFFF,
  WIDGET_EDGE = 0xFF808080,
  WIDGET_LIGHT = 0xFFFFFFFF,
};

constexpr int WIDGET_CELL = 14;                   // character cell height in pixels
constexpr int WIDGET_HALF = WIDGET_CELL / 2;      // advance of a single-byte character
constexpr int WIDGET_ROW = WIDGET_CELL + 6;       // height of a menu row and of the menu bar

struct WidgetCanvas {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

void WidgetResize(WidgetCanvas* c, int width, int height, uint32_t colour);
void WidgetFill(WidgetCanvas* c, int x, int y, int width, int height, uint32_t colour);
// A one-pixel rectangle outline.
void WidgetFrame(WidgetCanvas* c, int x, int y, int width, int height, uint32_t colour);
// A picture laid over the canvas by its alpha, scaled (nearest pixel) to width x height.
struct PlatIcon;
void WidgetDrawPicture(WidgetCanvas* c, int x, int y, int width, int height, const PlatIcon& picture);

// A caption with its access key: '&x' marks x (shown underlined), '&&' is a plain '&'.
struct WidgetLabel {
  std::string text;        // UTF-8 without the marks
  int mnemonicAt = -1;     // byte offset in text of the marked character, -1 none
  uint32_t accessKey = 0;  // the marked character, ASCII letters lower-cased; 0 none
};
WidgetLabel WidgetParseLabel(const std::string& utf8);

// Pixel width of a text line, counting at most up to `limit` pixels (long texts stop early).
int WidgetTextWidth(const std::string& utf8, int limit = 1 << 20);
// Draws one line with its cell's top at y; characters past clipRight are left out. A mnemonic
// byte offset >= 0 underlines that character. Returns the x after the last drawn character.
int WidgetDrawText(WidgetCanvas* c, int x, int y, const std::string& utf8, uint32_t colour, int clipRight,
                   int underlineAt = -1);
// Splits a text into lines at line ends and where a line would pass `width` pixels; at most
// `maxLines` lines (the last one ends with "..." when text was left out).
std::vector<std::string> WidgetWrapText(const std::string& utf8, int width, int maxLines);

// Shows a canvas in a widget window (through the window's surface).
void WidgetPresent(SDL_Window* window, const WidgetCanvas& c);
// The usable desktop rectangle of the display that holds point x, y.
SDL_Rect WidgetDisplayBounds(int x, int y);

// Main-thread plumbing. Modal widgets live on the main thread, which owns SDL's windows.
bool SdlOnMainThread();
// Runs the job on the main thread and waits for it; false when the main thread did not take it
// up within ten seconds (it is not pumping, e.g. while the program ends).
bool SdlRunOnMainThread(const std::function<void()>& job);
// Runs the jobs other threads have handed over; called by every main-thread event pump.
void SdlRunMainThreadJobs();
// A driver slot that touches SDL's windows, the cursor or devices, callable from any thread (the
// game-logic thread calls the window slots): on the main thread it runs at once, elsewhere it is
// handed over as a job and waited for. A job the main thread does not take answers zero.
template <auto Slot>
struct SdlOnMain;
template <typename R, typename... A, R (*Slot)(A...)>
struct SdlOnMain<Slot> {
  static R Call(A... a) {
    if (SdlOnMainThread()) return Slot(a...);
    if constexpr (std::is_void_v<R>) {
      SdlRunOnMainThread([&] { Slot(a...); });
    } else {
      R answer{};
      SdlRunOnMainThread([&] { answer = Slot(a...); });
      return answer;
    }
  }
};
// Shows every game window's picture again (after an expose while a modal widget runs), or one.
void SdlRepaintGameWindows();
void SdlRepaintGameWindow(int slot);

// The game windows' slot for an SDL window id, -1 for none (sdl_driver.cpp).
int SdlSlotOfWindowId(Uint32 id);

// Modal widgets: `handle` is offered every event first and says whether it took it; of the rest,
// quit and the game windows' own events are held back until the loop ends (their pictures are
// shown again when exposed) and input is dropped. Returns when `done` is set, or when a quit
// signal has come (the widget then answers as if left without a choice).
void WidgetRunModal(const std::function<bool(const SDL_Event&)>& handle, const bool* done);
// Whether an event belongs to a box's window: its own events and the whole keyboard.
bool WidgetEventFor(SDL_Window* window, const SDL_Event& e);

// The boxes. False when no window could be made (the caller falls back on SDL's own box).
bool WidgetChoiceBox(const char* caption, const char* text, const char* const* labels, int count,
                     int defaultIndex, int cancelIndex, int icon, int* answer);
bool WidgetTextInputBox(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                        std::string* out);

// Menus (sdl_menus.cpp). The bar of a game window sits above its client area.
int SdlMenuBarHeight(int slot);            // pixels above the client area, 0 without a bar
// Offers an event to the menus first: 0 not theirs, 1 taken, 2 taken and *out holds an event
// for the engine (a chosen menu-bar item).
int SdlMenuHandleEvent(const SDL_Event& e, PlatEventRecord* out);
// Draws the bar of a game window into its renderer above the client area (or over its top
// rows in full screen while the pointer is there).
void SdlMenuBarDraw(int slot, SDL_Renderer* renderer, int windowWidth);
// The same bar as pixels (A, R, G, B words, windowWidth x WIDGET_ROW); false when none shows.
bool SdlMenuBarPaint(int slot, int windowWidth, std::vector<uint32_t>* pixels);
// The window's renderer is about to be destroyed: the bar lets go of its texture.
void SdlMenuForgetRenderer(int slot);
void SdlMenuForgetWindow(int slot);        // the window is being destroyed
// The bar's items (a copy is kept); count 0 removes it. The caller resizes the window.
void SdlMenuSetBar(int slot, const PlatMenuItem* items, int count);
// Shows a pop-up menu at a desktop point and waits for the choice (0 none).
uint32_t SdlMenuPopup(int slot, const PlatMenuItem* items, int count, int menu, int x, int y);
