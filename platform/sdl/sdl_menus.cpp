// Menus drawn by the SDL backend: the menu bar above a game window's client area, its drop-down
// menus and the pop-up menus, with separators, check marks, greyed items, sub-menus, access keys
// and keyboard navigation. Drop-downs and pop-ups are small borderless windows of their own.
#include <algorithm>
#include <atomic>

#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_widgets.h"
#include "platform/sdl/sdl_x11.h"

namespace {

constexpr int SEPARATOR_HEIGHT = 8;
constexpr int CHECK_MARGIN = 20;     // room for the check mark left of a caption
constexpr int ARROW_MARGIN = 24;     // room for the sub-menu arrow right of it
constexpr int BAR_PADDING = 7;       // left and right of a menu-bar caption
constexpr int MAX_OPEN_MENUS = 128;  // sub-menus open at once; a description makes at most 127 menus
constexpr int OVERFLOW_MENU = -2;    // the drop-down of bar items that do not fit the bar

struct Panel {
  SDL_Window* window = nullptr;
  int menu = 0;
  std::vector<int> rows;        // item indexes of the menu's items, in order
  std::vector<int> rowY;        // top of each row inside the panel when scrolled to the top
  std::vector<WidgetLabel> labels;
  int selected = -1;
  int first = 0;                // first row shown
  SDL_Rect rect{};              // on the desktop
  int contentHeight = 0;
};

// An open menu: the drop-down of a bar item or a pop-up, with its open sub-menus.
struct Session {
  bool active = false;
  int slot = -1;                // the game window that owns it
  bool fromBar = false;
  int barItem = -1;             // the bar slot whose drop-down is open
  std::vector<PlatMenuItem> items;
  std::vector<Panel> panels;    // the first is the drop-down or pop-up, then sub-menus
  bool finished = false;
  uint32_t chosen = 0;
  // A button release chooses only after the pointer moved over a row or a button went down in
  // the menu: the release of the click that asked for a pop-up chooses nothing.
  bool armed = false;
  // The pointer's last desktop position: windows opening under a still pointer report motion
  // that is none, and only a real move changes the selection.
  int pointerX = 0, pointerY = 0;
};

struct BarSlot {
  int item;                     // index in the description; -1 for the overflow slot
  WidgetLabel label;
  SDL_Rect rect;                // in window pixels
};

struct Bar {
  std::vector<PlatMenuItem> items;
  std::vector<BarSlot> layout;
  std::vector<int> overflow;    // item indexes of the top items that did not fit
  int layoutWidth = -1;
  int hot = -1;                 // the slot under the pointer
  SDL_Texture* texture = nullptr;
  SDL_Renderer* textureOwner = nullptr;
  int textureWidth = 0;
};

Bar g_Bars[4];
Session g_Session;
// Whether each window has a bar: read by presentation and window placement, which may run on
// the game-logic thread while the main thread changes the bar.
std::atomic<bool> g_BarShownInWindow[4];

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

bool IsFullScreen(int slot) {
  SDL_Window* w = SdlWindowOfSlot(slot);
  return w && (SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN);
}

bool HasBar(int slot) { return ValidSlot(slot) && !g_Bars[slot].items.empty(); }

std::vector<int> ItemsOfMenu(const std::vector<PlatMenuItem>& items, int menu) {
  std::vector<int> rows;
  for (int i = 0; i < (int)items.size(); i++)
    if (items[i].menu == menu) rows.push_back(i);
  return rows;
}

// Whether choosing the item opens a sub-menu: a sub-menu with items of its own.
bool OpensMenu(const std::vector<PlatMenuItem>& items, int index) {
  const PlatMenuItem& it = items[index];
  if (it.separator || it.submenu < 0 || it.submenu == it.menu) return false;
  for (const PlatMenuItem& other : items)
    if (other.menu == it.submenu) return true;
  return false;
}

int PanelMaxWidth(const SDL_Rect& desk) { return std::max(160, desk.w * 2 / 3); }

// ---------------------------------------------------------------------------------------------
// The bar.

void LayoutBar(int slot, int width) {
  Bar& bar = g_Bars[slot];
  if (bar.layoutWidth == width) return;
  bar.layoutWidth = width;
  bar.layout.clear();
  bar.overflow.clear();
  static const WidgetLabel kOverflow = WidgetParseLabel(">>");
  int overflowWidth = WidgetTextWidth(kOverflow.text) + 2 * BAR_PADDING;
  std::vector<int> top = ItemsOfMenu(bar.items, 0);
  int x = 0;
  for (size_t k = 0; k < top.size(); k++) {
    const PlatMenuItem& it = bar.items[top[k]];
    if (it.separator) continue;
    WidgetLabel label = WidgetParseLabel(it.caption);
    int w = WidgetTextWidth(label.text, width) + 2 * BAR_PADDING;
    // The last item may use the overflow slot's room too.
    int room = width - x - (k + 1 < top.size() ? overflowWidth : 0);
    if (w > room) {
      if (bar.layout.empty() && room > 2 * BAR_PADDING) w = room;   // one long caption is cut
      else {
        for (size_t r = k; r < top.size(); r++)
          if (!bar.items[top[r]].separator) bar.overflow.push_back(top[r]);
        break;
      }
    }
    bar.layout.push_back({top[k], label, {x, 0, w, WIDGET_ROW}});
    x += w;
  }
  if (!bar.overflow.empty()) bar.layout.push_back({-1, kOverflow, {x, 0, overflowWidth, WIDGET_ROW}});
}

int BarSlotAt(int slot, int x, int y) {
  if (!HasBar(slot) || y < 0 || y >= WIDGET_ROW) return -1;
  const Bar& bar = g_Bars[slot];
  for (int i = 0; i < (int)bar.layout.size(); i++)
    if (x >= bar.layout[i].rect.x && x < bar.layout[i].rect.x + bar.layout[i].rect.w) return i;
  return -1;
}

// Whether the bar shows now: always in a window, in full screen while the pointer is on it or
// one of its menus is open.
bool BarShown(int slot) {
  if (!HasBar(slot)) return false;
  if (!IsFullScreen(slot)) return true;
  if (g_Session.active && g_Session.fromBar && g_Session.slot == slot) return true;
  int x, y, wx, wy;
  SDL_GetGlobalMouseState(&x, &y);
  SDL_GetWindowPosition(SdlWindowOfSlot(slot), &wx, &wy);
  return y - wy >= 0 && y - wy < WIDGET_ROW;
}

void RepaintBar(int slot) {
  if (HasBar(slot)) SdlRepaintGameWindow(slot);
}

// ---------------------------------------------------------------------------------------------
// Panels.

void DrawCheck(WidgetCanvas* c, int x, int y, uint32_t colour) {
  // A tick: down three pixels, then up five.
  for (int i = 0; i < 3; i++) WidgetFill(c, x + i, y + 4 + i, 1, 2, colour);
  for (int i = 0; i < 5; i++) WidgetFill(c, x + 3 + i, y + 5 - i, 1, 2, colour);
}

void DrawArrow(WidgetCanvas* c, int x, int y, uint32_t colour) {
  for (int i = 0; i < 4; i++) WidgetFill(c, x + i, y + i, 1, 8 - 2 * i, colour);
}

int RowHeight(const PlatMenuItem& it) { return it.separator ? SEPARATOR_HEIGHT : WIDGET_ROW; }

// The rows shown from `first` on: how many fit the panel.
int ShownRows(const Panel& p) {
  int top = p.rowY.empty() ? 0 : p.rowY[p.first];
  int n = 0;
  for (size_t r = p.first; r < p.rows.size(); r++) {
    int bottom = (r + 1 < p.rows.size() ? p.rowY[r + 1] : p.contentHeight) - top;
    if (bottom > p.rect.h - 2) break;
    n++;
  }
  return std::max(1, n);
}

void DrawPanel(const Panel& p) {
  WidgetCanvas c;
  WidgetResize(&c, p.rect.w, p.rect.h, WIDGET_FACE);
  WidgetFrame(&c, 0, 0, p.rect.w, p.rect.h, WIDGET_EDGE);
  int shown = ShownRows(p);
  int top = p.rowY.empty() ? 0 : p.rowY[p.first];
  for (int r = p.first; r < p.first + shown && r < (int)p.rows.size(); r++) {
    const PlatMenuItem& it = g_Session.items[p.rows[r]];
    int y = 1 + p.rowY[r] - top;
    if (it.separator) {
      WidgetFill(&c, 4, y + SEPARATOR_HEIGHT / 2, p.rect.w - 8, 1, WIDGET_EDGE);
      continue;
    }
    bool selected = r == p.selected;
    if (selected) WidgetFill(&c, 2, y, p.rect.w - 4, WIDGET_ROW, WIDGET_SELECT);
    uint32_t ink = !it.enabled ? WIDGET_GREY_TEXT : selected ? WIDGET_SELECT_TEXT : WIDGET_TEXT;
    if (it.checked) DrawCheck(&c, 6, y + 5, ink);
    WidgetDrawText(&c, CHECK_MARGIN, y + 3, p.labels[r].text, ink, p.rect.w - ARROW_MARGIN, p.labels[r].mnemonicAt);
    if (OpensMenu(g_Session.items, p.rows[r])) DrawArrow(&c, p.rect.w - 14, y + 6, ink);
  }
  // Marks that more rows lie above or below.
  if (p.first > 0) WidgetFill(&c, p.rect.w / 2 - 6, 2, 12, 2, WIDGET_TEXT);
  if (p.first + shown < (int)p.rows.size()) WidgetFill(&c, p.rect.w / 2 - 6, p.rect.h - 4, 12, 2, WIDGET_TEXT);
  WidgetPresent(p.window, c);
}

void ClosePanels(size_t keep) {
  while (g_Session.panels.size() > keep) {
    SDL_DestroyWindow(g_Session.panels.back().window);
    g_Session.panels.pop_back();
  }
}

// Opens a panel with the given rows at a desktop point (or left of `avoidX` when it does not
// fit to the right); false when no window could be made.
bool OpenPanel(int menu, const std::vector<int>& rows, int x, int y, int avoidX) {
  if ((int)g_Session.panels.size() >= MAX_OPEN_MENUS || rows.empty()) return false;
  for (const Panel& open : g_Session.panels)
    if (menu != OVERFLOW_MENU && open.menu == menu) return false;   // a menu that contains itself
  Panel p;
  p.menu = menu;
  p.rows = rows;
  SDL_Rect desk = WidgetDisplayBounds(x, y);
  int maxWidth = PanelMaxWidth(desk), textWidth = 0;
  for (int index : rows) {
    p.rowY.push_back(p.contentHeight);
    p.contentHeight += RowHeight(g_Session.items[index]);
    p.labels.push_back(WidgetParseLabel(g_Session.items[index].caption));
    textWidth = std::max(textWidth, WidgetTextWidth(p.labels.back().text, maxWidth));
  }
  p.rect.w = std::clamp(textWidth + CHECK_MARGIN + ARROW_MARGIN, 80, maxWidth);
  p.rect.h = std::min(p.contentHeight + 2, desk.h);
  if (x + p.rect.w > desk.x + desk.w) x = avoidX >= 0 ? avoidX - p.rect.w : desk.x + desk.w - p.rect.w;
  p.rect.x = std::max(desk.x, x);
  p.rect.y = std::max(desk.y, std::min(y, desk.y + desk.h - p.rect.h));
  // A menu is left alone by the window manager (no frame, no focus): the keyboard stays with
  // the game window. It is made hidden with its drawing surface: SDL may make the window anew
  // for the surface it picks, and one made anew after showing would lose the override (the
  // hint is read as a window is made), take the keyboard again, and drop the keys the server
  // had already given the first one.
  SDL_SetHint(SDL_HINT_X11_FORCE_OVERRIDE_REDIRECT, "1");
  p.window = SDL_CreateWindow("", p.rect.x, p.rect.y, p.rect.w, p.rect.h,
                              SDL_WINDOW_BORDERLESS | SDL_WINDOW_POPUP_MENU | SDL_WINDOW_SKIP_TASKBAR |
                                  SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_HIDDEN);
  if (p.window) SDL_GetWindowSurface(p.window);
  SDL_SetHint(SDL_HINT_X11_FORCE_OVERRIDE_REDIRECT, "0");
  if (!p.window) return false;
  SDL_ShowWindow(p.window);
  // Without a window manager SDL hands a new window the focus: it goes back to the game window.
  // Giving the focus back may raise the game window: the menu goes on top again.
  if (SDL_Window* owner = SdlWindowOfSlot(g_Session.slot))
    if (!SdlX11Focus(owner)) SDL_SetWindowInputFocus(owner);
  SdlX11Restack(p.window, 0, nullptr);
  g_Session.panels.push_back(std::move(p));
  DrawPanel(g_Session.panels.back());
  return true;
}

void EndSession() {
  ClosePanels(0);
  int slot = g_Session.slot;
  bool fromBar = g_Session.fromBar;
  g_Session.active = false;
  g_Session.barItem = -1;
  g_Session.items.clear();
  if (fromBar && ValidSlot(slot)) {
    g_Bars[slot].hot = -1;
    RepaintBar(slot);
  }
}

void Choose(uint32_t id) {
  g_Session.chosen = id;
  g_Session.finished = true;
}

// Opens the drop-down of a bar slot under it.
void OpenBarMenu(int slot, int barItem, bool selectFirst);

// The panel under a desktop point, -1 for none.
int PanelAt(int x, int y) {
  for (int i = (int)g_Session.panels.size() - 1; i >= 0; i--) {
    SDL_Point p{x, y};
    if (SDL_PointInRect(&p, &g_Session.panels[i].rect)) return i;
  }
  return -1;
}

// The row of a panel under a desktop y, -1 for none.
int RowAt(const Panel& p, int y) {
  int local = y - p.rect.y - 1 + (p.rowY.empty() ? 0 : p.rowY[p.first]);
  int shown = ShownRows(p);
  for (int r = p.first; r < p.first + shown && r < (int)p.rows.size(); r++)
    if (local >= p.rowY[r] && local < p.rowY[r] + RowHeight(g_Session.items[p.rows[r]])) return r;
  return -1;
}

void Select(size_t panel, int row) {
  Panel& p = g_Session.panels[panel];
  if (p.selected == row) return;
  p.selected = row;
  if (row >= 0) {
    if (row < p.first) p.first = row;
    while (row >= p.first + ShownRows(p)) p.first++;
  }
  DrawPanel(p);
}

// Opens the sub-menu of the selected row of a panel; false when it has none.
bool OpenSubmenu(size_t panel, bool selectFirst) {
  ClosePanels(panel + 1);
  Panel& p = g_Session.panels[panel];
  if (p.selected < 0 || !OpensMenu(g_Session.items, p.rows[p.selected])) return false;
  int menu = g_Session.items[p.rows[p.selected]].submenu;
  int y = p.rect.y + 1 + p.rowY[p.selected] - p.rowY[p.first];
  if (!OpenPanel(menu, ItemsOfMenu(g_Session.items, menu), p.rect.x + p.rect.w - 2, y, p.rect.x)) return true;
  if (selectFirst) {
    Panel& sub = g_Session.panels.back();
    for (int r = 0; r < (int)sub.rows.size(); r++)
      if (!g_Session.items[sub.rows[r]].separator) {
        Select(g_Session.panels.size() - 1, r);
        break;
      }
  }
  return true;
}

// Enter or a click on a row: opens its sub-menu or chooses it (greyed items and separators do
// nothing).
void Activate(size_t panel, bool selectFirst) {
  Panel& p = g_Session.panels[panel];
  if (p.selected < 0) return;
  const PlatMenuItem& it = g_Session.items[p.rows[p.selected]];
  if (it.separator) return;
  if (OpensMenu(g_Session.items, p.rows[p.selected])) {
    OpenSubmenu(panel, selectFirst);
    return;
  }
  if (it.enabled) Choose(it.id);
}

void MoveSelection(size_t panel, int step) {
  Panel& p = g_Session.panels[panel];
  int n = (int)p.rows.size();
  int row = p.selected;
  for (int tries = 0; tries < n; tries++) {
    row = row < 0 ? (step > 0 ? 0 : n - 1) : (row + step + n) % n;
    if (!g_Session.items[p.rows[row]].separator) {
      Select(panel, row);
      return;
    }
  }
}

void ScrollPanel(size_t panel, int rows) {
  Panel& p = g_Session.panels[panel];
  int shown = ShownRows(p);
  p.first = std::clamp(p.first + rows, 0, std::max(0, (int)p.rows.size() - shown));
  DrawPanel(p);
}

// A key while a menu is open: the whole keyboard belongs to the menu.
void MenuKey(const SDL_Keysym& key) {
  size_t deepest = g_Session.panels.size() - 1;
  Panel& p = g_Session.panels[deepest];
  switch (key.sym) {
    case SDLK_ESCAPE:
      if (deepest == 0) Choose(0);
      else ClosePanels(deepest);
      return;
    case SDLK_UP: MoveSelection(deepest, -1); return;
    case SDLK_DOWN: MoveSelection(deepest, 1); return;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_SPACE: Activate(deepest, true); return;
    case SDLK_RIGHT:
      if (p.selected >= 0 && OpensMenu(g_Session.items, p.rows[p.selected])) OpenSubmenu(deepest, true);
      else if (g_Session.fromBar) {
        int n = (int)g_Bars[g_Session.slot].layout.size();
        OpenBarMenu(g_Session.slot, (g_Session.barItem + 1) % n, true);
      }
      return;
    case SDLK_LEFT:
      if (deepest > 0) ClosePanels(deepest);
      else if (g_Session.fromBar) {
        int n = (int)g_Bars[g_Session.slot].layout.size();
        OpenBarMenu(g_Session.slot, (g_Session.barItem + n - 1) % n, true);
      }
      return;
    default: break;
  }
  // An access key: the next item that has it is selected, and chosen when it is the only one.
  uint32_t letter = key.sym >= 'a' && key.sym <= 'z' ? (uint32_t)key.sym : key.sym >= '0' && key.sym <= '9' ? key.sym : 0;
  if (!letter) return;
  int n = (int)p.rows.size(), found = -1, count = 0;
  for (int k = 1; k <= n; k++) {
    int row = (std::max(p.selected, -1) + k + n) % n;
    if (p.labels[row].accessKey != letter || g_Session.items[p.rows[row]].separator) continue;
    if (found < 0) found = row;
    count++;
  }
  if (found < 0) return;
  Select(deepest, found);
  if (count == 1) Activate(deepest, true);
}

// Desktop coordinates of a mouse event.
void DesktopPoint(Uint32 windowId, int x, int y, int* dx, int* dy) {
  int wx = 0, wy = 0;
  if (SDL_Window* w = SDL_GetWindowFromID(windowId)) SDL_GetWindowPosition(w, &wx, &wy);
  *dx = wx + x;
  *dy = wy + y;
}

// A mouse event while a menu is open; all of them belong to the menu.
void MenuMouse(const SDL_Event& e) {
  int x, y;
  if (e.type == SDL_MOUSEMOTION) DesktopPoint(e.motion.windowID, e.motion.x, e.motion.y, &x, &y);
  else if (e.type == SDL_MOUSEWHEEL) SDL_GetGlobalMouseState(&x, &y);
  else DesktopPoint(e.button.windowID, e.button.x, e.button.y, &x, &y);
  if (e.type == SDL_MOUSEMOTION) {
    if (x == g_Session.pointerX && y == g_Session.pointerY) return;
    g_Session.pointerX = x;
    g_Session.pointerY = y;
  }
  int panel = PanelAt(x, y);
  // Over the bar of the owning window: another drop-down follows the pointer.
  if (panel < 0 && g_Session.fromBar) {
    int wx, wy;
    SDL_GetWindowPosition(SdlWindowOfSlot(g_Session.slot), &wx, &wy);
    int at = BarSlotAt(g_Session.slot, x - wx, y - wy);
    if (at >= 0) {
      if (e.type == SDL_MOUSEBUTTONDOWN && at == g_Session.barItem) Choose(0);
      else if (at != g_Session.barItem) OpenBarMenu(g_Session.slot, at, false);
      return;
    }
  }
  if (e.type == SDL_MOUSEWHEEL) {
    if (panel >= 0) ScrollPanel((size_t)panel, e.wheel.y > 0 ? -3 : 3);
    return;
  }
  if (e.type == SDL_MOUSEBUTTONDOWN) g_Session.armed = true;
  if (panel < 0) {
    if (e.type == SDL_MOUSEBUTTONDOWN) Choose(0);   // a click elsewhere closes the menus
    return;
  }
  int row = RowAt(g_Session.panels[panel], y);
  if (e.type == SDL_MOUSEMOTION) {
    if (row < 0 || row == g_Session.panels[panel].selected) return;
    g_Session.armed = true;
    Select((size_t)panel, row);
    if (!OpenSubmenu((size_t)panel, false)) ClosePanels((size_t)panel + 1);
    return;
  }
  if (e.type == SDL_MOUSEBUTTONUP && row >= 0 && g_Session.armed) {
    Select((size_t)panel, row);
    Activate((size_t)panel, false);
  }
}

void OpenBarMenu(int slot, int barItem, bool selectFirst) {
  Bar& bar = g_Bars[slot];
  ClosePanels(0);
  g_Session.barItem = barItem;
  bar.hot = barItem;
  RepaintBar(slot);
  const BarSlot& s = bar.layout[barItem];
  std::vector<int> rows;
  int menu = OVERFLOW_MENU;
  if (s.item >= 0) {
    if (!OpensMenu(bar.items, s.item)) return;   // a plain bar item shows no drop-down
    menu = bar.items[s.item].submenu;
    rows = ItemsOfMenu(bar.items, menu);
  } else {
    rows = bar.overflow;
  }
  int wx, wy;
  SDL_GetWindowPosition(SdlWindowOfSlot(slot), &wx, &wy);
  if (!OpenPanel(menu, rows, wx + s.rect.x, wy + WIDGET_ROW, -1)) return;
  if (selectFirst) MoveSelection(0, 1);
}

void StartBarSession(int slot, int barItem, bool selectFirst) {
  const Bar& bar = g_Bars[slot];
  const BarSlot& s = bar.layout[barItem];
  // A plain item on the bar is chosen at once.
  if (s.item >= 0 && !OpensMenu(bar.items, s.item)) {
    if (bar.items[s.item].enabled) {
      g_Session = Session{};
      g_Session.finished = true;
      g_Session.chosen = bar.items[s.item].id;
      g_Session.slot = slot;
    }
    return;
  }
  g_Session = Session{};
  g_Session.active = true;
  g_Session.slot = slot;
  g_Session.fromBar = true;
  SDL_GetGlobalMouseState(&g_Session.pointerX, &g_Session.pointerY);
  g_Session.items = bar.items;
  OpenBarMenu(slot, barItem, selectFirst);
}

// Alt and an access key of the bar opens that bar item's menu; Alt or F10 alone do nothing.
// The bar slot with the access key; an item that did not fit the bar keeps its key: the answer
// is then the overflow slot, and *overflowRow the item's row in the overflow drop-down (-1 for
// an item on the bar).
int BarItemOfAccessKey(int slot, SDL_Keycode sym, int* overflowRow) {
  *overflowRow = -1;
  if (!HasBar(slot) || sym < 'a' || sym > 'z') return -1;
  Bar& bar = g_Bars[slot];
  int width = 0, height = 0;
  SDL_GetWindowSize(SdlWindowOfSlot(slot), &width, &height);
  LayoutBar(slot, width);
  int overflowSlot = -1;
  for (int i = 0; i < (int)bar.layout.size(); i++) {
    if (bar.layout[i].item < 0) overflowSlot = i;
    else if (bar.layout[i].label.accessKey == (uint32_t)sym) return i;
  }
  for (int r = 0; overflowSlot >= 0 && r < (int)bar.overflow.size(); r++)
    if (WidgetParseLabel(bar.items[bar.overflow[r]].caption).accessKey == (uint32_t)sym) {
      *overflowRow = r;
      return overflowSlot;
    }
  return -1;
}

Uint32 MouseWindowId(const SDL_Event& e) {
  if (e.type == SDL_MOUSEMOTION) return e.motion.windowID;
  if (e.type == SDL_MOUSEWHEEL) return e.wheel.windowID;
  return e.button.windowID;
}

bool IsMouse(const SDL_Event& e) {
  return e.type == SDL_MOUSEMOTION || e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP ||
         e.type == SDL_MOUSEWHEEL;
}

// Offers an event to an open menu; true when the menu took it.
bool SessionEvent(const SDL_Event& e) {
  if (IsMouse(e)) {
    MenuMouse(e);
    return true;
  }
  if (e.type == SDL_KEYDOWN) {
    MenuKey(e.key.keysym);
    return true;
  }
  if (e.type == SDL_KEYUP || e.type == SDL_TEXTINPUT || e.type == SDL_TEXTEDITING) return true;
  if (e.type == SDL_WINDOWEVENT) {
    for (Panel& p : g_Session.panels)
      if (SDL_GetWindowID(p.window) == e.window.windowID) {
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) DrawPanel(p);
        return true;
      }
  }
  return false;
}

}  // namespace

int SdlMenuBarHeight(int slot) {
  return ValidSlot(slot) && g_BarShownInWindow[slot] && !IsFullScreen(slot) ? WIDGET_ROW : 0;
}

void SdlMenuSetBar(int slot, const PlatMenuItem* items, int count) {
  if (!ValidSlot(slot)) return;
  if (g_Session.active && g_Session.fromBar && g_Session.slot == slot) EndSession();
  Bar& bar = g_Bars[slot];
  bar.items.assign(items, items + std::max(0, count));
  g_BarShownInWindow[slot] = !bar.items.empty();
  bar.layoutWidth = -1;
  bar.hot = -1;
}

void SdlMenuForgetWindow(int slot) {
  if (!ValidSlot(slot)) return;
  if (g_Session.active && g_Session.slot == slot) EndSession();
  Bar& bar = g_Bars[slot];
  if (bar.texture) SDL_DestroyTexture(bar.texture);
  bar = Bar{};
  g_BarShownInWindow[slot] = false;
}

bool SdlMenuBarPaint(int slot, int windowWidth, std::vector<uint32_t>* pixels) {
  if (!BarShown(slot) || windowWidth <= 0) return false;
  Bar& bar = g_Bars[slot];
  LayoutBar(slot, windowWidth);
  WidgetCanvas c;
  WidgetResize(&c, windowWidth, WIDGET_ROW, WIDGET_FACE);
  WidgetFill(&c, 0, WIDGET_ROW - 1, windowWidth, 1, WIDGET_EDGE);
  for (int i = 0; i < (int)bar.layout.size(); i++) {
    const BarSlot& s = bar.layout[i];
    bool enabled = s.item < 0 || bar.items[s.item].enabled;
    if (i == bar.hot) WidgetFill(&c, s.rect.x, 1, s.rect.w, WIDGET_ROW - 2, WIDGET_SELECT);
    uint32_t ink = !enabled ? WIDGET_GREY_TEXT : i == bar.hot ? WIDGET_SELECT_TEXT : WIDGET_TEXT;
    WidgetDrawText(&c, s.rect.x + BAR_PADDING, 3, s.label.text, ink, s.rect.x + s.rect.w - 2, s.label.mnemonicAt);
  }
  pixels->swap(c.pixels);
  return true;
}

void SdlMenuBarDraw(int slot, SDL_Renderer* renderer, int windowWidth) {
  std::vector<uint32_t> pixels;
  if (!SdlMenuBarPaint(slot, windowWidth, &pixels)) return;
  Bar& bar = g_Bars[slot];
  if (bar.textureOwner != renderer || bar.textureWidth != windowWidth) {
    if (bar.texture) SDL_DestroyTexture(bar.texture);
    bar.texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, windowWidth,
                                    WIDGET_ROW);
    bar.textureOwner = renderer;
    bar.textureWidth = bar.texture ? windowWidth : 0;
  }
  if (!bar.texture) return;
  SDL_UpdateTexture(bar.texture, nullptr, pixels.data(), windowWidth * 4);
  SDL_Rect dst{0, 0, windowWidth, WIDGET_ROW};
  SDL_RenderCopy(renderer, bar.texture, nullptr, &dst);
}

void SdlMenuForgetRenderer(int slot) {
  if (!ValidSlot(slot)) return;
  Bar& bar = g_Bars[slot];
  if (bar.texture) SDL_DestroyTexture(bar.texture);
  bar.texture = nullptr;
  bar.textureOwner = nullptr;
  bar.textureWidth = 0;
}

int SdlMenuHandleEvent(const SDL_Event& e, PlatEventRecord* out) {
  if (g_Session.active && !g_Session.fromBar) return 0;   // a pop-up runs its own loop
  if (g_Session.active) {
    bool taken = SessionEvent(e);
    if (g_Session.finished) {
      uint32_t id = g_Session.chosen;
      int slot = g_Session.slot;
      EndSession();
      if (id != 0) {
        *out = PlatEventRecord{};
        out->type = PLAT_EVENT_MENU_COMMAND;
        out->window = slot;
        out->key = (int)id;
        return 2;
      }
    }
    return taken ? 1 : 0;
  }
  // No menu open: the bar takes the pointer over it and Alt with an access key.
  int slot = -1, at = -1;
  if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_LEAVE) {
    slot = SdlSlotOfWindowId(e.window.windowID);
    if (ValidSlot(slot) && g_Bars[slot].hot >= 0) {
      g_Bars[slot].hot = -1;
      RepaintBar(slot);
    }
    return 0;
  }
  if (IsMouse(e) && e.type != SDL_MOUSEWHEEL) {
    slot = SdlSlotOfWindowId(MouseWindowId(e));
    if (!BarShown(slot)) return 0;
    int x = e.type == SDL_MOUSEMOTION ? e.motion.x : e.button.x;
    int y = e.type == SDL_MOUSEMOTION ? e.motion.y : e.button.y;
    if (y >= WIDGET_ROW) {
      if (g_Bars[slot].hot >= 0) {
        g_Bars[slot].hot = -1;
        RepaintBar(slot);
      }
      return 0;
    }
    at = BarSlotAt(slot, x, y);
    if (e.type == SDL_MOUSEMOTION) {
      if (at != g_Bars[slot].hot) {
        g_Bars[slot].hot = at;
        RepaintBar(slot);
      }
      return 1;
    }
    if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT && at >= 0) StartBarSession(slot, at, false);
  } else if (e.type == SDL_KEYDOWN && (e.key.keysym.mod & KMOD_ALT)) {
    slot = SdlSlotOfWindowId(e.key.windowID);
    int overflowRow;
    at = BarItemOfAccessKey(slot, e.key.keysym.sym, &overflowRow);
    if (at < 0) return 0;
    StartBarSession(slot, at, overflowRow < 0);
    // An item that overflowed: the overflow drop-down opens at it, and opens its menu in turn.
    if (overflowRow >= 0 && g_Session.active && !g_Session.panels.empty()) {
      Select(0, overflowRow);
      Activate(0, true);
    }
  } else {
    return 0;
  }
  // A plain item chosen at once (on the bar, or overflowed and named by its access key).
  if (g_Session.finished) {
    uint32_t id = g_Session.chosen;
    if (g_Session.active) EndSession();
    g_Session = Session{};
    if (id != 0) {
      *out = PlatEventRecord{};
      out->type = PLAT_EVENT_MENU_COMMAND;
      out->window = slot;
      out->key = (int)id;
      return 2;
    }
  }
  return 1;
}

uint32_t SdlMenuPopup(int slot, const PlatMenuItem* items, int count, int menu, int x, int y) {
  if (count <= 0 || g_Session.active) return 0;
  g_Session = Session{};
  g_Session.active = true;
  g_Session.slot = slot;
  g_Session.items.assign(items, items + count);
  SDL_GetGlobalMouseState(&g_Session.pointerX, &g_Session.pointerY);
  if (!OpenPanel(menu, ItemsOfMenu(g_Session.items, menu), x, y, -1)) {
    g_Session = Session{};
    return 0;
  }
  WidgetRunModal([](const SDL_Event& e) { return SessionEvent(e); }, &g_Session.finished);
  uint32_t id = g_Session.chosen;
  EndSession();
  g_Session = Session{};
  return id;
}
