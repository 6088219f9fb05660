// Menus made from folders of the menu tree, the commands that build and read the tree, the
// pop-up shown by the frame step, and the tray icon.
#include "app/menus.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/fullscreen.h"
#include "app/window.h"
#include "layers/layer_args.h"
#include "render/render.h"
#include "script/nametree.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"

MenuSet g_MenuHandles[MENU_SET_COUNT] = {{{}, {}, -1}, {{}, {}, -1}, {{}, {}, -1}};
int32_t g_MenuCounter;
uint8_t g_PopupMenuRequest;
int32_t g_PopupMenuPoint[2];
uint8_t g_TrayIconShown;
uint8_t g_TrayIconFromLayer;
uint8_t g_TrayIcon[TRAY_ICON_SIDE * TRAY_ICON_SIDE * 4];
char g_TrayTip[TRAY_TIP_BYTES];

namespace {

enum : int {
  CMD_MENU_ITEM = 54, CMD_POPUP_MENU = 55, CMD_MENU_DELETE = 56, CMD_MENU_QUERY = 57, CMD_MENU_RESERVED_58 = 58,
  CMD_MENU_RESERVED_59 = 59, CMD_MENU_RESERVED_60 = 60, CMD_TRAY_ICON = 89, CMD_TRAY_RESERVED_90 = 90,
  CMD_WINDOW = 94,
};
constexpr uint32_t POPUP_HOLDER_ID = 1;   // the one item of a pop-up set's top menu

std::string ToUtf8(const char* cp932) {
  std::string utf8;
  if (!PlatCp932ToUtf8(cp932, strlen(cp932), &utf8)) utf8 = cp932;
  return utf8;
}

MenuItemRecord* MenuRecord(const NameNode* node) {
  return node ? static_cast<MenuItemRecord*>(node->mPayload) : nullptr;
}

// The lookup mode that matches a normalised path's kind.
uint8_t LookupMode(int32_t kind) { return kind == 1 ? NAME_LOOKUP_GROUP : NAME_LOOKUP_LEAF; }

// Creates an empty menu in the slot; false when the slot is outside the set.
bool MakeMenu(MenuSet* set, int32_t slot) {
  if (slot < 0 || slot >= MENU_SLOTS) return false;
  set->mSlotMade[slot] = 1;
  return true;
}

// The window shows the set's top menu as its bar, or no bar.
void AttachMenuBar(WindowRecord* w, bool withMenu) {
  MenuSet* set = &g_MenuHandles[MENU_SET_BAR];
  if (w->mIndex == 0) g_MenuBarAvailable = withMenu ? 1 : 0;
  if (withMenu) {
    set->mAttachedWindow = w->mIndex;
    if (w->mHasWindow) g_PlatformDesktop->SetMenuBar(w->mIndex, set->mItems.data(), (int)set->mItems.size());
    return;
  }
  if (set->mAttachedWindow != w->mIndex) return;
  set->mAttachedWindow = -1;
  if (w->mHasWindow) g_PlatformDesktop->SetMenuBar(w->mIndex, nullptr, 0);
}

// A pop-up set: a top menu with one holder item whose sub-menu (slot 1) holds the folder's items.
void BuildPopupSet(int setIndex, NameNode* folder) {
  DestroyMenuSet(setIndex);
  MenuSet* set = &g_MenuHandles[setIndex];
  MakeMenu(set, 0);
  g_MenuCounter = 1;
  MakeMenu(set, 1);
  PlatMenuItem holder{0, 1, POPUP_HOLDER_ID, 0, 1, 0, "MENUSET"};
  set->mItems.push_back(holder);
  // A set that overflows is shown as far as it was filled.
  InsertMenuItems(setIndex, folder);
}

// Frees a leaf of the menu tree: unlinked from its parent, then its record and the node.
void FreeMenuNode(NameNode* node) {
  UnlinkNode(node);
  MenuItemRecord* record = MenuRecord(node);
  if (record) free(record->mCaption);
  free(record);
  FreeNodeShell(node);
}

// A path argument normalised against the menu folder: 0 a leaf, 1 a folder, -1 refused.
int NormalizeMenuPath(int param, char* path) {
  return NormalizeObjectPath(path, ArgText(param), g_MenuFolder, false);
}

}  // namespace

bool TargetIsText(int param) {
  int p = ParamPosition(param - 1);
  const VarRecord* var = p ? GetVariable(g_ArgReference[p]) : nullptr;
  return var && var->mType == VAR_STRING;
}

void DeleteMenuSubtree(NameNode* folder) {
  while (NameNode* child = folder->mFirstChild) {
    if (child->mIsGroup) DeleteMenuSubtree(child);
    else FreeMenuNode(child);
  }
  // The nameless root holds the whole tree: it is only emptied.
  if (folder != g_MenuRoot) FreeMenuNode(folder);
}

void DestroyMenuSet(int setIndex) {
  if (setIndex < 0 || setIndex >= MENU_SET_COUNT) return;
  MenuSet* set = &g_MenuHandles[setIndex];
  // A destroyed bar disappears from the window that showed it.
  if (set->mAttachedWindow >= 0 && set->mAttachedWindow < 4) {
    WindowRecord* w = g_WindowRecords[set->mAttachedWindow];
    if (w && w->mHasWindow) g_PlatformDesktop->SetMenuBar(w->mIndex, nullptr, 0);
    if (w && w->mIndex == 0) g_MenuBarAvailable = 0;
  }
  memset(set->mSlotMade, 0, sizeof set->mSlotMade);
  set->mItems.clear();
  set->mAttachedWindow = -1;
}

void DestroyAllMenuSets() {
  for (int i = 0; i < MENU_SET_COUNT; i++) DestroyMenuSet(i);
}

int InsertMenuItems(int setIndex, NameNode* folder) {
  MenuSet* set = &g_MenuHandles[setIndex];
  int32_t b = g_MenuCounter;
  g_MenuCounter = b + 1;
  if (g_MenuCounter >= MENU_SLOTS) return -1;
  for (int32_t i = 1; folder && i <= folder->mChildCount; i++) {
    NameNode* child = GetNthChild(folder, i);
    MenuItemRecord* record = MenuRecord(child);
    if (!record || !record->mVisible) continue;
    PlatMenuItem item{b, -1, (uint32_t)record->mId, 0, (uint8_t)(record->mEnabled != 0), (uint8_t)(record->mChecked == 1), ""};
    bool submenu = false;
    if (!record->mCaption || !record->mCaption[0]) {
      item.separator = 1;
      item.enabled = 0;
    } else {
      item.caption = ToUtf8(record->mCaption);
      if (child->mIsGroup && child->mChildCount > 0) {
        submenu = MakeMenu(set, g_MenuCounter);
        if (submenu) item.submenu = g_MenuCounter;
      }
    }
    set->mItems.push_back(item);
    if (submenu && InsertMenuItems(setIndex, child) != 0) return -1;
  }
  return 0;
}

int BuildWindowMenuBar(const char* path, WindowRecord* w) {
  if (!w) return -1;
  if (!path || !path[0]) {
    DestroyMenuSet(MENU_SET_BAR);
    AttachMenuBar(w, false);
    return 0;
  }
  NameNode* folder = FindNodeByPath(g_MenuRoot, path, NAME_LOOKUP_ANY);
  if (!folder) {
    ReportScriptErrorF(101250, 1, g_CommandDefs[CMD_WINDOW].mName ? g_CommandDefs[CMD_WINDOW].mName : "", path);
    return -1;
  }
  DestroyMenuSet(MENU_SET_BAR);
  MakeMenu(&g_MenuHandles[MENU_SET_BAR], 0);
  g_MenuCounter = 0;
  if (InsertMenuItems(MENU_SET_BAR, folder) != 0) return 0;
  AttachMenuBar(w, true);
  return 0;
}

void RebuildMainMenuBar() {
  WindowRecord* main = g_WindowRecords[0];
  if (main) BuildWindowMenuBar(main->mMenuPath, main);
}

void RemoveTrayIcon() {
  if (!g_TrayIconShown) return;
  g_PlatformDesktop->RemoveTrayIcon();
  g_TrayIconShown = 0;
  g_TrayIconFromLayer = 0;
  memset(g_TrayIcon, 0, sizeof g_TrayIcon);
}

void PopupPointAtCursor() {
  int x = 0, y = 0;
  g_Platform->GetCursorPosition(&x, &y);
  g_PopupMenuPoint[0] = x - g_LetterboxOffset.width;
  g_PopupMenuPoint[1] = y - g_LetterboxOffset.height;
}

void OnTrayNotify(int kind) {
  WindowRecord* main = g_WindowRecords[0];
  if (!main || !main->mHasWindow) return;
  g_Platform->RaiseWindow(0);
  if (kind == 1) {
    InvalidateScreen(main);
    return;
  }
  MarkRootWhollyDirty(main);
  g_PopupMenuRequest = MENU_SET_TRAY;
  PopupPointAtCursor();
}

void ShowRequestedPopupMenu() {
  int setIndex = g_PopupMenuRequest;
  if (setIndex != MENU_SET_POPUP && setIndex != MENU_SET_TRAY) return;
  g_PopupMenuRequest = 0;
  const MenuSet* set = &g_MenuHandles[setIndex];
  WindowRecord* main = g_WindowRecords[0];
  if (!main || !main->mHasWindow || set->mItems.empty() || set->mItems[0].submenu < 0) return;
  uint32_t id = g_PlatformDesktop->PopupMenu(0, set->mItems.data(), (int)set->mItems.size(), set->mItems[0].submenu,
                                             g_PopupMenuPoint[0], g_PopupMenuPoint[1]);
  // The choice comes back as a menu command: its low word, 0 when nothing was chosen.
  g_MenuCommand = id & 0xFFFF;
}

// ---------------------------------------------------------------------------------------------
// Commands.

int CmdMenuItem() {
  if (DecodeLayerArguments(CMD_MENU_ITEM) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeMenuPath(1, path);
  if (kind < 0) return -1;
  NameNode* node = FindNodeByPath(g_MenuRoot, path, LookupMode(kind));
  int64_t key = 0;
  if (ArgGiven(3)) {
    int64_t base = node ? (int64_t)(int32_t)node->mOrderKey : 1;
    key = ApplyAssignOpAtLeast(ArgOperator(3), base, ArgInt(3), 1);
    if (node) SetNodePriority(node, key);
  }
  if (!node) {
    if (!ArgGiven(2)) return ReportScriptErrorF(100260, 1, CurrentCommandName(), path), -1;
    if (!ArgGiven(3)) return ReportScriptErrorF(100240, 1, CurrentCommandName()), -1;
    node = CreateTreeNode(g_MenuRoot, path, kind == 1, key);
    if (!node) return -1;
    if (!AttachMenuItemRecord(node, ArgText(2))) {
      UnlinkNode(node);
      FreeNodeShell(node);
      return -1;
    }
  } else if (ArgGiven(2)) {
    MenuItemRecord* record = MenuRecord(node);
    if (record && record->mCaption) CopyTextBounded(record->mCaption, MENU_CAPTION_BYTES, ArgText(2));
  }
  MenuItemRecord* record = MenuRecord(node);
  if (!record) return 0;
  if (ArgGiven(4)) record->mVisible = (uint8_t)ArgInt(4);
  if (ArgGiven(5)) record->mEnabled = (int16_t)ArgInt(5);
  if (ArgGiven(6)) record->mChecked = (uint8_t)ArgInt(6);
  if (ArgGiven(7)) record->mId = ArgInt(7);
  return 0;
}

int CmdShowPopupMenu() {
  if (DecodeLayerArguments(CMD_POPUP_MENU) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  if (NormalizeMenuPath(1, path) < 0) return -1;
  NameNode* folder = FindNodeByPath(g_MenuRoot, path, NAME_LOOKUP_ANY);
  if (!folder || !ArgGiven(2) || ArgInt(2) != 1) return 0;
  BuildPopupSet(MENU_SET_POPUP, folder);
  g_PopupMenuRequest = MENU_SET_POPUP;
  PopupPointAtCursor();
  return 0;
}

int CmdDeleteMenuItem() {
  if (DecodeLayerArguments(CMD_MENU_DELETE) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeMenuPath(1, path);
  if (kind < 0) return -1;
  NameNode* node = FindNodeByPath(g_MenuRoot, path, LookupMode(kind));
  if (!node) return 0;
  if (node->mIsGroup) DeleteMenuSubtree(node);
  else FreeMenuNode(node);
  return 0;
}

int CmdMenuQuery() {
  enum : int { Q_TARGET = 1, Q_CAPTION = 3, Q_EXISTS = 4, Q_PRIORITY = 5, Q_VISIBLE = 6, Q_ENABLED = 7,
               Q_CHECKED = 8, Q_ID = 9 };
  if (DecodeLayerArguments(CMD_MENU_QUERY) != 0) return -1;
  char path[OBJECT_PATH_BYTES];
  int32_t kind = NormalizeMenuPath(2, path);
  if (kind < 0) return -1;
  NameNode* node = FindNodeByPath(g_MenuRoot, path, LookupMode(kind));
  MenuItemRecord* record = MenuRecord(node);
  if (!record) {
    ClearResult(Q_TARGET);
    return 0;
  }
  if (ArgGiven(Q_EXISTS)) StoreResultInt(Q_TARGET, 1);
  else if (ArgGiven(Q_VISIBLE)) StoreResultInt(Q_TARGET, record->mVisible);
  else if (ArgGiven(Q_ENABLED)) StoreResultInt(Q_TARGET, record->mEnabled);
  else if (ArgGiven(Q_PRIORITY)) StoreResultInt(Q_TARGET, node->mOrderKey);
  else if (ArgGiven(Q_CHECKED)) StoreResultInt(Q_TARGET, record->mChecked);
  else if (ArgGiven(Q_ID)) StoreResultInt(Q_TARGET, record->mId);
  else if (ArgGiven(Q_CAPTION) && TargetIsText(Q_TARGET)) StoreResultText(Q_TARGET, record->mCaption ? record->mCaption : "");
  return 0;
}

int CmdMenuReserved58() { return DecodeCommandArguments(CMD_MENU_RESERVED_58) != 0 ? -1 : 0; }
int CmdMenuReserved59() { return DecodeCommandArguments(CMD_MENU_RESERVED_59) != 0 ? -1 : 0; }
int CmdMenuReserved60() { return DecodeCommandArguments(CMD_MENU_RESERVED_60) != 0 ? -1 : 0; }
int CmdTrayReserved90() { return DecodeCommandArguments(CMD_TRAY_RESERVED_90) != 0 ? -1 : 0; }

int CmdTrayIcon() {
  enum : int { A_SHOW = 1, A_TIP = 2, A_ICON = 3, A_MENU = 4 };
  if (DecodeLayerArguments(CMD_TRAY_ICON) != 0) return -1;
  NameNode* iconNode = nullptr;
  if (ArgGiven(A_ICON)) {
    char path[OBJECT_PATH_BYTES];
    int32_t kind = NormalizeObjectPath(path, ArgText(A_ICON), g_LayerFolder, false);
    if (kind < 0) return -1;
    iconNode = FindNodeByPath(g_LayerRoot, path, LookupMode(kind));
    if (!GetLayerRecord(iconNode)) return 0;
  }
  // The tip stays for later calls; the notification data holds 63 bytes of it.
  if (ArgGiven(A_TIP)) CopyTextBounded(g_TrayTip, sizeof g_TrayTip, ArgText(A_TIP));
  if (ArgGiven(A_SHOW)) {
    if (ArgInt(A_SHOW) != 1) {
      RemoveTrayIcon();
    } else {
      g_TrayIconFromLayer = 0;
      if (const LayerRecord* r = GetLayerRecord(iconNode)) {
        if (r->mWidth != TRAY_ICON_SIDE || r->mHeight != TRAY_ICON_SIDE) {
          char text[128];
          snprintf(text, sizeof text, "ICON ERR.\r\nレイヤサイズが %dx%d ではありません。", TRAY_ICON_SIDE, TRAY_ICON_SIDE);
          PlatMessageBox("", text, PLAT_MB_OK);
        } else if (!r->mPixels) {
          PlatMessageBox("", "ICON CreateDIBSection エラー", PLAT_MB_OK);
        } else {
          memcpy(g_TrayIcon, r->mPixels, sizeof g_TrayIcon);
          g_TrayIconFromLayer = 1;
        }
      }
      g_PlatformDesktop->ShowTrayIcon(g_TrayIconFromLayer ? g_TrayIcon : nullptr, ToUtf8(g_TrayTip).c_str());
      g_TrayIconShown = 1;
    }
  }
  if (ArgGiven(A_MENU)) {
    char path[OBJECT_PATH_BYTES];
    if (NormalizeMenuPath(A_MENU, path) < 0) return -1;
    if (NameNode* folder = FindNodeByPath(g_MenuRoot, path, NAME_LOOKUP_ANY)) {
      BuildPopupSet(MENU_SET_TRAY, folder);
      // A tray that draws menus itself is handed the menu now; others ask for it by a click.
      const MenuSet* set = &g_MenuHandles[MENU_SET_TRAY];
      g_PlatformDesktop->SetTrayMenu(set->mItems.data(), (int)set->mItems.size(), set->mItems[0].submenu);
    }
  }
  return 0;
}
