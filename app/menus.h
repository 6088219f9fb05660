// Menus built from the menu tree (the menu bar, the pop-up menu and the tray icon's menu) and
// the tray icon itself.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct NameNode;
struct WindowRecord;

constexpr int MENU_SET_COUNT = 3;
constexpr int MENU_SLOTS = 128;
enum : int { MENU_SET_BAR = 0, MENU_SET_POPUP = 1, MENU_SET_TRAY = 2 };
constexpr int TRAY_ICON_SIDE = 16;
constexpr int TRAY_TIP_BYTES = 64;

// One set of menus as handed to the host: slot s holds menu s of the description (slot 0 the
// top menu, every sub-menu the next free slot), mItems the items of all of them in order.
struct MenuSet {
  uint8_t mSlotMade[MENU_SLOTS];
  std::vector<PlatMenuItem> mItems;
  int32_t mAttachedWindow;   // menu bar set: the window slot showing it, -1 none
};
extern MenuSet g_MenuHandles[MENU_SET_COUNT];
extern int32_t g_MenuCounter;   // next free slot while a set is built

// The set whose pop-up the frame step is to show (1 pop-up, 2 tray menu; 0 none), at a desktop
// point less the letterbox offsets.
extern uint8_t g_PopupMenuRequest;
extern int32_t g_PopupMenuPoint[2];

extern uint8_t g_TrayIconShown;
extern uint8_t g_TrayIconFromLayer;   // g_TrayIcon holds a picture made from a layer
extern uint8_t g_TrayIcon[TRAY_ICON_SIDE * TRAY_ICON_SIDE * 4];
extern char g_TrayTip[TRAY_TIP_BYTES];   // code page 932

// Menu bar of a window from a menu-tree path ("" removes it). 0, or -1 after a message or when
// the set could not be built.
int BuildWindowMenuBar(const char* path, WindowRecord* w);
// The menu-bar window of full screen and the main window both take the main window's bar again.
void RebuildMainMenuBar();
void DestroyMenuSet(int set);
void DestroyAllMenuSets();
// Fills the menu in slot g_MenuCounter of the set with the folder's children; 0 or -1.
int InsertMenuItems(int set, NameNode* folder);
// Frees every descendant of a menu folder depth first, then the folder (the root is only emptied).
void DeleteMenuSubtree(NameNode* folder);
void RemoveTrayIcon();
// The tray icon was clicked: 1 left press, 2 right release or double click.
void OnTrayNotify(int kind);
// Frame step: shows a requested pop-up and reports the choice as the menu command.
void ShowRequestedPopupMenu();
// The cursor's desktop position less the letterbox offsets, as the pop-up's point.
void PopupPointAtCursor();
// The current command's target parameter (numbered from 1) names a text variable.
bool TargetIsText(int param);

int CmdMenuItem();
int CmdShowPopupMenu();
int CmdDeleteMenuItem();
int CmdMenuQuery();
int CmdMenuReserved58();
int CmdMenuReserved59();
int CmdMenuReserved60();
int CmdTrayIcon();
int CmdTrayReserved90();
