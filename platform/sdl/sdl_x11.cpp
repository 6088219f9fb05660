// Window details SDL2 cannot express, done through X11 where the window lives on an X server:
// the window shape (shape extension), stacking at the bottom or right behind another window,
// a caption without the maximise button (Motif window-manager hints) and dialog windows.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <vector>

#include "platform/sdl/sdl_x11.h"

namespace {

bool X11Window(SDL_Window* window, Display** display, Window* x) {
  if (!window) return false;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  *display = info.info.x11.display;
  *x = info.info.x11.window;
  return true;
}

// Asks the window manager to add or remove a state of a mapped window (EWMH).
void ChangeNetWmState(Display* d, Window w, bool add, const char* state) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = add ? 1 : 0;
  e.xclient.data.l[1] = (long)XInternAtom(d, state, False);
  e.xclient.data.l[3] = 1;   // from a normal application
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

short Short(int v) { return (short)std::clamp(v, -32768, 32767); }
unsigned short Extent(int v) { return (unsigned short)std::clamp(v, 0, 65535); }

// Motif window-manager hints: which functions and decorations the window has. With "all" set,
// the functions named are the ones removed.
enum : unsigned long {
  MOTIF_FUNCTIONS = 1, MOTIF_DECORATIONS = 2,
  MOTIF_FUNC_ALL = 1, MOTIF_FUNC_MOVE = 4, MOTIF_FUNC_MAXIMIZE = 16, MOTIF_FUNC_CLOSE = 32,
  MOTIF_DECOR_ALL = 1, MOTIF_DECOR_BORDER = 2, MOTIF_DECOR_TITLE = 8, MOTIF_DECOR_MENU = 16,
};

void SetMotifHints(Display* d, Window w, unsigned long functions, unsigned long decorations) {
  long hints[5] = {MOTIF_FUNCTIONS | MOTIF_DECORATIONS, (long)functions, (long)decorations, 0, 0};
  Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
  XChangeProperty(d, w, motif, motif, 32, PropModeReplace, reinterpret_cast<unsigned char*>(hints), 5);
}

// Set while requests that may fail harmlessly are sent: their errors do not end the program.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool SdlX11SetShape(SDL_Window* window, const PlatRect* rects, int count, int top) {
  Display* d;
  Window w;
  int eventBase, errorBase;
  if (!X11Window(window, &d, &w) || !XShapeQueryExtension(d, &eventBase, &errorBase)) return false;
  if (count <= 0) {
    XShapeCombineMask(d, w, ShapeBounding, 0, 0, None, ShapeSet);
  } else {
    std::vector<XRectangle> shape;
    // The menu bar above the client area stays visible.
    int width = 0, height = 0;
    SDL_GetWindowSize(window, &width, &height);
    if (top > 0) shape.push_back({0, 0, Extent(width), Extent(top)});
    for (int i = 0; i < count; i++)
      if (rects[i].width > 0 && rects[i].height > 0)
        shape.push_back({Short(rects[i].x), Short(rects[i].y + top), Extent(rects[i].width), Extent(rects[i].height)});
    XShapeCombineRectangles(d, w, ShapeBounding, 0, 0, shape.data(), (int)shape.size(), ShapeSet, Unsorted);
  }
  XFlush(d);
  return true;
}

bool SdlX11Restack(SDL_Window* window, int how, SDL_Window* sibling) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  // The manager keeps a window at the bottom only while it has the "below" state.
  ChangeNetWmState(d, w, how == 1, "_NET_WM_STATE_BELOW");
  XWindowChanges change{};
  unsigned mask = CWStackMode;
  change.stack_mode = how == 1 ? Below : Above;
  if (how == 2) {
    Display* sd;
    if (!X11Window(sibling, &sd, &change.sibling) || sd != d) return false;
    change.stack_mode = Below;
    mask |= CWSibling;
  }
  // Through the manager when it has framed the window, directly otherwise.
  XReconfigureWMWindow(d, w, DefaultScreen(d), mask, &change);
  XFlush(d);
  return true;
}

bool SdlX11SetMaximizeBox(SDL_Window* window, bool shown) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  bool bordered = !(SDL_GetWindowFlags(window) & SDL_WINDOW_BORDERLESS);
  unsigned long functions = shown ? MOTIF_FUNC_ALL : MOTIF_FUNC_ALL | MOTIF_FUNC_MAXIMIZE;
  SetMotifHints(d, w, functions, bordered ? (unsigned long)MOTIF_DECOR_ALL : 0);
  XFlush(d);
  return true;
}

bool SdlX11MakeDialog(SDL_Window* window, SDL_Window* owner) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&type), 1);
  Display* od;
  Window ow;
  if (X11Window(owner, &od, &ow) && od == d) XSetTransientForHint(d, w, ow);
  SetMotifHints(d, w, MOTIF_FUNC_MOVE | MOTIF_FUNC_CLOSE, MOTIF_DECOR_BORDER | MOTIF_DECOR_TITLE | MOTIF_DECOR_MENU);
  XFlush(d);
  return true;
}

bool SdlX11Focus(SDL_Window* window) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return true;
  // The window may still stop being viewable before the server reads the request.
  XSync(d, False);
  int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(IgnoreError);
  XSetInputFocus(d, w, RevertToParent, CurrentTime);
  XSync(d, False);
  XSetErrorHandler(previous);
  return true;
}

bool SdlX11Deiconify(SDL_Window* window) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  XMapRaised(d, w);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = 1;   // from a normal application
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(d);
  return true;
}
