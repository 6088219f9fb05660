// The headless desktop services: menus, the tray icon and window attributes are recorded, and
// pop-up menus are answered from the choices a test queued.
#include <deque>
#include <mutex>

#include "platform/headless/headless.h"
#include "platform/headless/headless_local.h"

namespace {

std::mutex g_DesktopLock;   // guards everything below
HeadlessDesktopWindow g_DesktopWindows[4];
HeadlessTrayState g_TrayState;
std::deque<uint32_t> g_MenuChoices;

bool ValidSlot(int slot) { return slot >= 0 && slot < 4; }

// "caption,caption>[sub,sub]" in list order, for the record of calls.
std::string DescribeMenu(const PlatMenuItem* items, int count, int menu) {
  std::string text;
  for (int i = 0; i < count; i++) {
    if (items[i].menu != menu) continue;
    if (!text.empty()) text += ",";
    text += items[i].separator ? "-" : items[i].caption;
    if (!items[i].enabled) text += "~";
    if (items[i].checked) text += "*";
    if (!items[i].separator && items[i].submenu >= 0 && items[i].submenu != menu)
      text += ">[" + DescribeMenu(items, count, items[i].submenu) + "]";
  }
  return text;
}

void HSetMenuBar(int slot, const PlatMenuItem* items, int count) {
  HeadlessRecordCall("SetMenuBar " + std::to_string(slot) + " " + DescribeMenu(items, count, 0));
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> g(g_DesktopLock);
  g_DesktopWindows[slot].menuBar.assign(items, items + (count > 0 ? count : 0));
}

uint32_t HPopupMenu(int slot, const PlatMenuItem* items, int count, int menu, int x, int y) {
  HeadlessRecordCall("PopupMenu " + std::to_string(slot) + " " + std::to_string(x) + "," + std::to_string(y) + " " +
                     DescribeMenu(items, count, menu));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (g_MenuChoices.empty()) return 0;
  uint32_t id = g_MenuChoices.front();
  g_MenuChoices.pop_front();
  return id;
}

bool HShowTrayIcon(const uint8_t* bgra, const char* tip) {
  HeadlessRecordCall(std::string("ShowTrayIcon ") + (bgra ? "layer" : "program") + " " + (tip ? tip : ""));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  g_TrayState.shown = true;
  g_TrayState.customIcon = bgra != nullptr;
  g_TrayState.icon.assign(bgra, bgra ? bgra + 16 * 16 * 4 : bgra);
  g_TrayState.tip = tip ? tip : "";
  return true;
}

void HRemoveTrayIcon() {
  HeadlessRecordCall("RemoveTrayIcon");
  std::lock_guard<std::mutex> g(g_DesktopLock);
  HeadlessTrayState kept;
  kept.menu.swap(g_TrayState.menu);
  kept.menuShown = g_TrayState.menuShown;
  g_TrayState = kept;
}

void HSetTrayMenu(const PlatMenuItem* items, int count, int menu) {
  HeadlessRecordCall("SetTrayMenu " + DescribeMenu(items, count, menu));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  g_TrayState.menu.assign(items, items + (count > 0 ? count : 0));
  g_TrayState.menuShown = count > 0 ? menu : -1;
}

// The host reports minimising and maximising as events, as a real window system does.
void PushWindowEvent(int slot, PlatEventType type) {
  PlatEventRecord e{};
  e.type = type;
  e.window = slot;
  HeadlessPushEvent(e);
}

void HMinimizeWindow(int slot) {
  HeadlessRecordCall("MinimizeWindow " + std::to_string(slot));
  if (!ValidSlot(slot) || !HeadlessWindow(slot).exists) return;
  {
    std::lock_guard<std::mutex> g(g_DesktopLock);
    g_DesktopWindows[slot].minimized = true;
  }
  PushWindowEvent(slot, PLAT_EVENT_MINIMIZED);
}

// As a window manager does, only a window the user may resize is maximised; and as SDL does,
// a maximise the program asked for is not reported back.
void HMaximizeWindow(int slot) {
  HeadlessRecordCall("MaximizeWindow " + std::to_string(slot));
  if (!ValidSlot(slot)) return;
  HeadlessWindowState w = HeadlessWindow(slot);
  if (!w.exists || !w.resizable) return;
  std::lock_guard<std::mutex> g(g_DesktopLock);
  g_DesktopWindows[slot].maximized = true;
}

bool HIsWindowMinimized(int slot) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  return ValidSlot(slot) && g_DesktopWindows[slot].minimized;
}

void HSetWindowZOrder(int slot, int order) {
  HeadlessRecordCall("SetWindowZOrder " + std::to_string(slot) + " " + std::to_string(order));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot].zOrder = order;
}

void HSetMaximizeBox(int slot, bool shown) {
  HeadlessRecordCall("SetMaximizeBox " + std::to_string(slot) + (shown ? " 1" : " 0"));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot].maximizeBox = shown;
}

void HFlashWindow(int slot, int count, int interval) {
  HeadlessRecordCall("FlashWindow " + std::to_string(slot) + " " + std::to_string(count) + " " +
                     std::to_string(interval));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (!ValidSlot(slot)) return;
  g_DesktopWindows[slot].flashCount = count;
  g_DesktopWindows[slot].flashInterval = interval;
}

void HSetWindowShape(int slot, const PlatRect* rects, int count) {
  HeadlessRecordCall("SetWindowShape " + std::to_string(slot) + " " + std::to_string(count));
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot].shape.assign(rects, rects + (count > 0 ? count : 0));
}

void HSetWindowFrame(int slot, bool framed) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot].framed = framed;
}

}  // namespace

PlatformDesktop g_HeadlessDesktop = {
    HSetMenuBar,        HPopupMenu,       HShowTrayIcon,   HRemoveTrayIcon, HSetTrayMenu,    HMinimizeWindow,
    HMaximizeWindow,    HIsWindowMinimized, HSetWindowZOrder, HSetMaximizeBox, HFlashWindow, HSetWindowShape,
    HSetWindowFrame,
};

void HeadlessQueueMenuChoice(uint32_t id) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  g_MenuChoices.push_back(id);
}

HeadlessDesktopWindow HeadlessDesktopState(int slot) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  return ValidSlot(slot) ? g_DesktopWindows[slot] : HeadlessDesktopWindow{};
}

HeadlessTrayState HeadlessTray() {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  return g_TrayState;
}

void HeadlessDesktopRestored(int slot) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot].minimized = g_DesktopWindows[slot].maximized = false;
}

void HeadlessDesktopForget(int slot) {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  if (ValidSlot(slot)) g_DesktopWindows[slot] = HeadlessDesktopWindow{};
}

void HeadlessDesktopReset() {
  std::lock_guard<std::mutex> g(g_DesktopLock);
  for (HeadlessDesktopWindow& w : g_DesktopWindows) w = HeadlessDesktopWindow{};
  g_TrayState = HeadlessTrayState{};
  g_MenuChoices.clear();
}
