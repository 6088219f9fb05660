// Window details SDL2 cannot express, done through X11 where the window lives on an X server:
// the window shape (shape extension), stacking at the bottom or right behind another window, a
// caption without the maximise button (Motif window-manager hints), dialog windows, moves handed
// to the window manager, window states, and the end of a run whose display connection is lost.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
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

// Whether the atom list `property` of window `w` holds the atom named `name`.
bool ListHasAtom(Display* d, Window w, const char* property, const char* name) {
  Atom wanted = XInternAtom(d, name, False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, XInternAtom(d, property, False), 0, 4096, False, XA_ATOM, &type, &format, &count,
                         &after, &data) != Success)
    return false;
  bool found = false;
  if (data && type == XA_ATOM && format == 32) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count && !found; i++) found = atoms[i] == wanted;
  }
  if (data) XFree(data);
  return found;
}

// Whether the window manager says it does what `name` asks (EWMH's _NET_SUPPORTED list).
bool ManagerSupports(Display* d, const char* name) { return ListHasAtom(d, DefaultRootWindow(d), "_NET_SUPPORTED", name); }

// Whether the window has the state `name` (EWMH's _NET_WM_STATE).
bool HasNetWmState(Display* d, Window w, const char* name) { return ListHasAtom(d, w, "_NET_WM_STATE", name); }

// What the engine does before the process ends on a lost display.
std::atomic<void (*)()> g_DisplayLostHandler;

// Xlib ends the process itself once this returns, and every call on the connection would fail
// from here on: so the engine stops its frames here, and the process ends with a line, status
// 1 and without the exit-time destructors that would meet running threads.
int OnDisplayIoError(Display*) {
  static std::atomic<bool> ending;
  if (ending.exchange(true)) {
    // Another thread met the loss too: the first one ends the process.
    for (;;) pause();
  }
  if (void (*stop)() = g_DisplayLostHandler.load()) stop();
  static const char kLine[] = "kivor: the connection to the display was lost\n";
  [[maybe_unused]] ssize_t written = write(2, kLine, sizeof kLine - 1);
  _exit(1);
}

// A request about a window that another client, or this one, has just destroyed fails on the
// server in its own time: such a failure is no reason to end the game, as Xlib's own handler
// (which SDL keeps) would.
int OnProtocolError(Display*, XErrorEvent*) { return 0; }

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

bool SdlX11BeginMove(SDL_Window* window) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w) || !ManagerSupports(d, "_NET_WM_MOVERESIZE")) return false;
  Window root, child;
  int rootX, rootY, x, y;
  unsigned int buttons;
  if (!XQueryPointer(d, w, &root, &child, &rootX, &rootY, &x, &y, &buttons)) return false;
  // A button let go before the manager could take it moves nothing.
  if (!(buttons & Button1Mask)) return true;
  // The press's own grab would keep the pointer from the manager.
  XUngrabPointer(d, CurrentTime);
  enum : long { MOVE = 8, FROM_APPLICATION = 1 };
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "_NET_WM_MOVERESIZE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = rootX;
  e.xclient.data.l[1] = rootY;
  e.xclient.data.l[2] = MOVE;
  e.xclient.data.l[3] = Button1;
  e.xclient.data.l[4] = FROM_APPLICATION;
  XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  // The release goes to the manager now: the window is told of it at once, so the press does
  // not stay held in SDL's state and the engine's.
  XEvent up{};
  up.xbutton.type = ButtonRelease;
  up.xbutton.display = d;
  up.xbutton.window = w;
  up.xbutton.root = root;
  up.xbutton.x = x;
  up.xbutton.y = y;
  up.xbutton.x_root = rootX;
  up.xbutton.y_root = rootY;
  up.xbutton.state = buttons;
  up.xbutton.button = Button1;
  up.xbutton.same_screen = True;
  up.xbutton.time = CurrentTime;
  XPutBackEvent(d, &up);
  XFlush(d);
  return true;
}

bool SdlX11SetSkipTaskbar(SDL_Window* window) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  // A mapped window asks the manager; an unmapped one carries the state for its next mapping,
  // added to the states SDL has put there (a manager clears them when a window is hidden).
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d, w, &attributes) && attributes.map_state != IsUnmapped) {
    ChangeNetWmState(d, w, true, "_NET_WM_STATE_SKIP_TASKBAR");
  } else if (!HasNetWmState(d, w, "_NET_WM_STATE_SKIP_TASKBAR")) {
    Atom skip = XInternAtom(d, "_NET_WM_STATE_SKIP_TASKBAR", False);
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<unsigned char*>(&skip), 1);
  }
  XFlush(d);
  return true;
}

bool SdlX11IsMaximized(SDL_Window* window) {
  Display* d;
  Window w;
  if (!X11Window(window, &d, &w)) return false;
  return HasNetWmState(d, w, "_NET_WM_STATE_MAXIMIZED_VERT") || HasNetWmState(d, w, "_NET_WM_STATE_MAXIMIZED_HORZ");
}

bool SdlX11Pointer(SDL_Window* window, int* x, int* y, bool* leftDown) {
  Display* d;
  Window w, root, child;
  int windowX, windowY;
  unsigned int buttons;
  if (!X11Window(window, &d, &w) || !XQueryPointer(d, w, &root, &child, x, y, &windowX, &windowY, &buttons))
    return false;
  *leftDown = buttons & Button1Mask;
  return true;
}

void SdlX11CatchDisplayErrors() {
  XSetIOErrorHandler(OnDisplayIoError);
  XSetErrorHandler(OnProtocolError);
}

void PlatSetDisplayLostHandler(void (*stop)()) { g_DisplayLostHandler = stop; }
