// The tray icon of the SDL backend: a StatusNotifierItem on the session bus (libdbus-1), shown by
// the desktop's tray through its StatusNotifierWatcher, with the tray menu exported as a
// com.canonical.dbusmenu object for trays that draw menus themselves (xfce4-panel, KDE, the
// GNOME AppIndicator extension). Activate is the left click, ContextMenu and SecondaryActivate
// the right click; an item chosen in the tray's own menu comes back as a menu command. Without a
// session bus or a watcher the desktop has no tray and showing the icon fails. Nothing here waits
// for a peer: calls to peers are sent without waiting for their answers, and a peer's calls are
// answered at once, whatever they hold.
#include <dbus/dbus.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

#include "platform/lazy/lazy_library.h"
#include "platform/sdl/sdl_tray.h"
#include "platform/sdl/widget_edit.h"

namespace {

constexpr const char* ITEM_PATH = "/StatusNotifierItem";
constexpr const char* ITEM_INTERFACE = "org.kde.StatusNotifierItem";
constexpr const char* WATCHER_NAME = "org.kde.StatusNotifierWatcher";
constexpr const char* WATCHER_PATH = "/StatusNotifierWatcher";
constexpr const char* MENU_PATH = "/MenuBar";
constexpr const char* MENU_INTERFACE = "com.canonical.dbusmenu";
constexpr int CALL_TIMEOUT_MS = 5000;
constexpr size_t MAX_QUEUED_EVENTS = 256;    // clicks a flooding peer can pile up
constexpr int MAX_MESSAGES_PER_POLL = 256;   // a flooding peer cannot hold the frame
// A message nests at most 64 containers and each level of menus takes three: deeper menus are
// shown without their items.
constexpr int MAX_MENU_DEPTH = 16;

DBusConnection* g_Bus;
std::string g_ServiceName;
DBusPendingCall* g_Registering;     // the watcher's answer to our registration, while it is due
std::vector<uint8_t> g_IconArgb;    // 16 x 16, ARGB in network byte order; empty: the program's icon
std::string g_Tip;
std::deque<PlatEventRecord> g_TrayEvents;

// The exported menu: the description, each menu's items (indexes into it) and a revision that
// grows with each change. Item i of the description has the menu id i + 1; id 0 is the root.
std::vector<PlatMenuItem> g_MenuItems;
std::vector<std::vector<int>> g_MenuChildren;   // by menu number
int g_MenuRoot = -1;                            // the menu shown, -1 none
uint32_t g_MenuRevision = 1;

void QueueEvent(const PlatEventRecord& e) {
  if (g_TrayEvents.size() < MAX_QUEUED_EVENTS) g_TrayEvents.push_back(e);
}

void QueueTrayEvent(int button) {
  PlatEventRecord e{};
  e.type = PLAT_EVENT_TRAY;
  e.window = 0;
  e.button = button;
  e.clicks = 1;
  QueueEvent(e);
}

// The bus carries only valid UTF-8: each character the bus would refuse becomes '?'.
std::string BusText(const std::string& text) {
  if (dbus_validate_utf8(text.c_str(), nullptr)) return text;
  std::string clean;
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    WidgetNextCodePoint(text, &i);
    std::string one = text.substr(start, i - start);
    clean += one.find('\0') == std::string::npos && dbus_validate_utf8(one.c_str(), nullptr) ? one : "?";
  }
  return clean;
}

void AppendString(DBusMessageIter* it, const std::string& value) {
  const char* p = value.c_str();
  dbus_message_iter_append_basic(it, DBUS_TYPE_STRING, &p);
}

void AppendVariant(DBusMessageIter* it, int type, const char* signature, const void* value) {
  DBusMessageIter v;
  dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, signature, &v);
  dbus_message_iter_append_basic(&v, type, value);
  dbus_message_iter_close_container(it, &v);
}

void AppendStringVariant(DBusMessageIter* it, const std::string& value) {
  const char* p = value.c_str();
  AppendVariant(it, DBUS_TYPE_STRING, "s", &p);
}

// ---------------------------------------------------------------------------------------------
// The item.

// a(iiay): the icon in its one size, or no picture.
void AppendPixmaps(DBusMessageIter* it) {
  DBusMessageIter array, entry, bytes;
  dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "(iiay)", &array);
  if (!g_IconArgb.empty()) {
    dbus_int32_t side = 16;
    dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &side);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &side);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_ARRAY, "y", &bytes);
    const uint8_t* data = g_IconArgb.data();
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, (int)g_IconArgb.size());
    dbus_message_iter_close_container(&entry, &bytes);
    dbus_message_iter_close_container(&array, &entry);
  }
  dbus_message_iter_close_container(it, &array);
}

// Appends one property's value as a variant; false for a property the item does not have.
bool AppendItemProperty(DBusMessageIter* it, const char* name) {
  DBusMessageIter v;
  if (!strcmp(name, "Category")) AppendStringVariant(it, "ApplicationStatus");
  else if (!strcmp(name, "Id")) AppendStringVariant(it, "kivor");
  else if (!strcmp(name, "Title")) AppendStringVariant(it, g_Tip);
  else if (!strcmp(name, "Status")) AppendStringVariant(it, "Active");
  else if (!strcmp(name, "IconName")) AppendStringVariant(it, g_IconArgb.empty() ? "application-x-executable" : "");
  else if (!strcmp(name, "IconPixmap")) {
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "a(iiay)", &v);
    AppendPixmaps(&v);
    dbus_message_iter_close_container(it, &v);
  } else if (!strcmp(name, "ToolTip")) {
    // (icon name, icon pixmaps, title, description)
    DBusMessageIter tip;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "(sa(iiay)ss)", &v);
    dbus_message_iter_open_container(&v, DBUS_TYPE_STRUCT, nullptr, &tip);
    AppendString(&tip, "");
    AppendPixmaps(&tip);
    AppendString(&tip, g_Tip);
    AppendString(&tip, "");
    dbus_message_iter_close_container(&v, &tip);
    dbus_message_iter_close_container(it, &v);
  } else if (!strcmp(name, "ItemIsMenu")) {
    // A left click is the window's own (it comes to the front); the menu is the right click's.
    dbus_bool_t no = FALSE;
    AppendVariant(it, DBUS_TYPE_BOOLEAN, "b", &no);
  } else if (!strcmp(name, "Menu")) {
    AppendVariant(it, DBUS_TYPE_OBJECT_PATH, "o", &MENU_PATH);
  } else {
    return false;
  }
  return true;
}

const char* const kItemProperties[] = {"Category", "Id",      "Title",      "Status", "IconName",
                                       "IconPixmap", "ToolTip", "ItemIsMenu", "Menu"};

const char* const kItemIntrospection =
    "<node><interface name=\"org.kde.StatusNotifierItem\">"
    "<property name=\"Category\" type=\"s\" access=\"read\"/><property name=\"Id\" type=\"s\" access=\"read\"/>"
    "<property name=\"Title\" type=\"s\" access=\"read\"/><property name=\"Status\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
    "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
    "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
    "<property name=\"Menu\" type=\"o\" access=\"read\"/>"
    "<method name=\"Activate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"SecondaryActivate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"ContextMenu\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"Scroll\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method>"
    "<signal name=\"NewIcon\"/><signal name=\"NewToolTip\"/><signal name=\"NewTitle\"/></interface></node>";

// The answer to Properties.Get / GetAll of an object: `append` adds a property's variant.
DBusMessage* PropertiesReply(DBusMessage* m, const char* interface, const char* const* names, size_t count,
                             bool (*append)(DBusMessageIter*, const char*)) {
  const char* iface = nullptr;
  const char* name = nullptr;
  if (dbus_message_is_method_call(m, DBUS_INTERFACE_PROPERTIES, "Get")) {
    if (!dbus_message_has_signature(m, "ss") ||
        !dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
      return dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "Get takes an interface and a name");
    DBusMessage* reply = dbus_message_new_method_return(m);
    DBusMessageIter it;
    dbus_message_iter_init_append(reply, &it);
    if (append(&it, name)) return reply;
    dbus_message_unref(reply);
    return dbus_message_new_error(m, DBUS_ERROR_UNKNOWN_PROPERTY, name);
  }
  if (!dbus_message_has_signature(m, "s") ||
      !dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID))
    return dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "GetAll takes an interface");
  DBusMessage* reply = dbus_message_new_method_return(m);
  DBusMessageIter it, dict, entry;
  dbus_message_iter_init_append(reply, &it);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
  for (size_t i = 0; i < count && (!iface[0] || !strcmp(iface, interface)); i++) {
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &names[i]);
    append(&entry, names[i]);
    dbus_message_iter_close_container(&dict, &entry);
  }
  dbus_message_iter_close_container(&it, &dict);
  return reply;
}

bool IsPropertiesCall(DBusMessage* m) {
  return dbus_message_is_method_call(m, DBUS_INTERFACE_PROPERTIES, "Get") ||
         dbus_message_is_method_call(m, DBUS_INTERFACE_PROPERTIES, "GetAll");
}

// Activate, SecondaryActivate, ContextMenu and Scroll take two arguments; any other shape of call
// is refused.
DBusMessage* ItemCall(DBusMessage* m, const char* signature, int button) {
  if (!dbus_message_has_signature(m, signature))
    return dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "wrong arguments");
  if (button >= 0) QueueTrayEvent(button);
  return dbus_message_new_method_return(m);
}

DBusMessage* ItemReply(DBusMessage* m) {
  if (dbus_message_is_method_call(m, ITEM_INTERFACE, "Activate")) return ItemCall(m, "ii", 0);
  // The right click's: the engine shows the tray menu where the tray does not.
  if (dbus_message_is_method_call(m, ITEM_INTERFACE, "ContextMenu") ||
      dbus_message_is_method_call(m, ITEM_INTERFACE, "SecondaryActivate"))
    return ItemCall(m, "ii", 1);
  if (dbus_message_is_method_call(m, ITEM_INTERFACE, "Scroll")) return ItemCall(m, "is", -1);
  if (IsPropertiesCall(m))
    return PropertiesReply(m, ITEM_INTERFACE, kItemProperties, std::size(kItemProperties), AppendItemProperty);
  if (dbus_message_is_method_call(m, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
    DBusMessage* reply = dbus_message_new_method_return(m);
    dbus_message_append_args(reply, DBUS_TYPE_STRING, &kItemIntrospection, DBUS_TYPE_INVALID);
    return reply;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The menu.

// The item behind a menu id, null for the root and for ids that name nothing.
const PlatMenuItem* MenuItemOfId(dbus_int32_t id) {
  if (id < 1 || (size_t)id > g_MenuItems.size()) return nullptr;
  return &g_MenuItems[(size_t)id - 1];
}

bool ValidMenuId(dbus_int32_t id) { return id == 0 || MenuItemOfId(id) != nullptr; }

// The menu an item opens, -1 for none: a sub-menu with items of its own.
int SubmenuOf(const PlatMenuItem& it) {
  if (it.separator || it.submenu < 0 || it.submenu == it.menu || (size_t)it.submenu >= g_MenuChildren.size() ||
      g_MenuChildren[(size_t)it.submenu].empty())
    return -1;
  return it.submenu;
}

// The menu whose items are the children of a menu id, -1 for none.
int ChildMenuOf(dbus_int32_t id) {
  if (id == 0) return g_MenuRoot >= 0 && (size_t)g_MenuRoot < g_MenuChildren.size() ? g_MenuRoot : -1;
  const PlatMenuItem* it = MenuItemOfId(id);
  return it ? SubmenuOf(*it) : -1;
}

// A caption in the menu's manner: '_' marks the access key, a plain '_' is doubled.
std::string MenuLabel(const std::string& caption) {
  std::string label;
  for (size_t i = 0; i < caption.size(); i++) {
    char c = caption[i];
    if (c == '_') label += "__";
    else if (c != '&') label += c;
    else if (i + 1 < caption.size() && caption[i + 1] == '&') label += caption[++i];
    else label += '_';
  }
  return BusText(label);
}

// Whether a property is wanted: all when the caller named none.
bool Wanted(const std::vector<std::string>& names, const char* name) {
  return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

void AppendEntry(DBusMessageIter* dict, const char* name, int type, const char* signature, const void* value) {
  DBusMessageIter entry;
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &name);
  AppendVariant(&entry, type, signature, value);
  dbus_message_iter_close_container(dict, &entry);
}

// a{sv}: the properties of a menu id that differ from the defaults, as far as wanted.
void AppendMenuProperties(DBusMessageIter* it, dbus_int32_t id, const std::vector<std::string>& names) {
  DBusMessageIter dict;
  dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{sv}", &dict);
  const PlatMenuItem* item = MenuItemOfId(id);
  if (id == 0 && Wanted(names, "children-display")) {
    const char* submenu = "submenu";
    AppendEntry(&dict, "children-display", DBUS_TYPE_STRING, "s", &submenu);
  } else if (item && item->separator) {
    const char* separator = "separator";
    if (Wanted(names, "type")) AppendEntry(&dict, "type", DBUS_TYPE_STRING, "s", &separator);
  } else if (item) {
    std::string label = MenuLabel(item->caption);
    const char* text = label.c_str();
    if (Wanted(names, "label")) AppendEntry(&dict, "label", DBUS_TYPE_STRING, "s", &text);
    dbus_bool_t no = FALSE;
    if (!item->enabled && Wanted(names, "enabled")) AppendEntry(&dict, "enabled", DBUS_TYPE_BOOLEAN, "b", &no);
    if (item->checked) {
      const char* checkmark = "checkmark";
      dbus_int32_t on = 1;
      if (Wanted(names, "toggle-type")) AppendEntry(&dict, "toggle-type", DBUS_TYPE_STRING, "s", &checkmark);
      if (Wanted(names, "toggle-state")) AppendEntry(&dict, "toggle-state", DBUS_TYPE_INT32, "i", &on);
    }
    const char* submenu = "submenu";
    if (SubmenuOf(*item) >= 0 && Wanted(names, "children-display"))
      AppendEntry(&dict, "children-display", DBUS_TYPE_STRING, "s", &submenu);
  }
  dbus_message_iter_close_container(it, &dict);
}

// (ia{sv}av): a menu id with its properties and, `depth` levels down (-1: all), its children. A
// menu already open on the way down is shown as a plain item: a description may name itself.
void AppendLayout(DBusMessageIter* it, dbus_int32_t id, int depth, const std::vector<std::string>& names,
                  std::vector<int>* open) {
  DBusMessageIter node, children, child;
  dbus_message_iter_open_container(it, DBUS_TYPE_STRUCT, nullptr, &node);
  dbus_message_iter_append_basic(&node, DBUS_TYPE_INT32, &id);
  AppendMenuProperties(&node, id, names);
  dbus_message_iter_open_container(&node, DBUS_TYPE_ARRAY, "v", &children);
  int menu = ChildMenuOf(id);
  bool looped = std::find(open->begin(), open->end(), menu) != open->end();
  if (menu >= 0 && depth != 0 && !looped && (int)open->size() < MAX_MENU_DEPTH) {
    open->push_back(menu);
    for (int index : g_MenuChildren[(size_t)menu]) {
      dbus_message_iter_open_container(&children, DBUS_TYPE_VARIANT, "(ia{sv}av)", &child);
      AppendLayout(&child, index + 1, depth < 0 ? -1 : depth - 1, names, open);
      dbus_message_iter_close_container(&children, &child);
    }
    open->pop_back();
  }
  dbus_message_iter_close_container(&node, &children);
  dbus_message_iter_close_container(it, &node);
}

// The strings of an "as" argument at the iterator (which moves past it).
std::vector<std::string> ReadStrings(DBusMessageIter* it) {
  std::vector<std::string> out;
  DBusMessageIter a;
  dbus_message_iter_recurse(it, &a);
  while (dbus_message_iter_get_arg_type(&a) == DBUS_TYPE_STRING) {
    const char* s;
    dbus_message_iter_get_basic(&a, &s);
    out.push_back(s);
    dbus_message_iter_next(&a);
  }
  dbus_message_iter_next(it);
  return out;
}

std::vector<dbus_int32_t> ReadInts(DBusMessageIter* it) {
  std::vector<dbus_int32_t> out;
  DBusMessageIter a;
  dbus_message_iter_recurse(it, &a);
  while (dbus_message_iter_get_arg_type(&a) == DBUS_TYPE_INT32) {
    dbus_int32_t v;
    dbus_message_iter_get_basic(&a, &v);
    out.push_back(v);
    dbus_message_iter_next(&a);
  }
  dbus_message_iter_next(it);
  return out;
}

DBusMessage* BadArguments(DBusMessage* m) { return dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "wrong arguments"); }

DBusMessage* UnknownId(DBusMessage* m) { return dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "no such menu id"); }

// An event on a menu id: "clicked" on an item that can be chosen chooses it. False for an id
// that names nothing.
bool MenuEvent(dbus_int32_t id, const char* kind) {
  if (!ValidMenuId(id)) return false;
  const PlatMenuItem* item = MenuItemOfId(id);
  if (item && !strcmp(kind, "clicked") && !item->separator && item->enabled && SubmenuOf(*item) < 0) {
    PlatEventRecord e{};
    e.type = PLAT_EVENT_MENU_COMMAND;
    e.window = 0;
    e.key = (int)item->id;
    QueueEvent(e);
  }
  return true;
}

DBusMessage* GetLayoutReply(DBusMessage* m) {
  if (!dbus_message_has_signature(m, "iias")) return BadArguments(m);
  DBusMessageIter in;
  dbus_message_iter_init(m, &in);
  dbus_int32_t parent, depth;
  dbus_message_iter_get_basic(&in, &parent);
  dbus_message_iter_next(&in);
  dbus_message_iter_get_basic(&in, &depth);
  dbus_message_iter_next(&in);
  std::vector<std::string> names = ReadStrings(&in);
  if (!ValidMenuId(parent)) return UnknownId(m);
  DBusMessage* reply = dbus_message_new_method_return(m);
  DBusMessageIter out;
  dbus_message_iter_init_append(reply, &out);
  dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &g_MenuRevision);
  std::vector<int> open;
  AppendLayout(&out, parent, depth < 0 ? -1 : depth, names, &open);
  return reply;
}

DBusMessage* GetGroupPropertiesReply(DBusMessage* m) {
  if (!dbus_message_has_signature(m, "aias")) return BadArguments(m);
  DBusMessageIter in, out, array, entry;
  dbus_message_iter_init(m, &in);
  std::vector<dbus_int32_t> ids = ReadInts(&in);
  std::vector<std::string> names = ReadStrings(&in);
  if (ids.empty())
    for (dbus_int32_t id = 0; (size_t)id <= g_MenuItems.size(); id++) ids.push_back(id);
  DBusMessage* reply = dbus_message_new_method_return(m);
  dbus_message_iter_init_append(reply, &out);
  dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "(ia{sv})", &array);
  for (dbus_int32_t id : ids) {
    if (!ValidMenuId(id)) continue;
    dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_INT32, &id);
    AppendMenuProperties(&entry, id, names);
    dbus_message_iter_close_container(&array, &entry);
  }
  dbus_message_iter_close_container(&out, &array);
  return reply;
}

DBusMessage* GetPropertyReply(DBusMessage* m) {
  dbus_int32_t id;
  const char* name;
  if (!dbus_message_has_signature(m, "is") ||
      !dbus_message_get_args(m, nullptr, DBUS_TYPE_INT32, &id, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
    return BadArguments(m);
  if (!ValidMenuId(id)) return UnknownId(m);
  // The property from the item's dictionary: built whole and the one entry copied out.
  DBusMessage* all = dbus_message_new_method_return(m);
  DBusMessageIter it, dict, entry;
  dbus_message_iter_init_append(all, &it);
  AppendMenuProperties(&it, id, {name});
  dbus_message_iter_init(all, &it);
  dbus_message_iter_recurse(&it, &dict);
  DBusMessage* reply = nullptr;
  if (dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY) {
    dbus_message_iter_recurse(&dict, &entry);
    dbus_message_iter_next(&entry);
    reply = dbus_message_new_method_return(m);
    DBusMessageIter out, value, inner;
    dbus_message_iter_init_append(reply, &out);
    dbus_message_iter_recurse(&entry, &value);
    char* signature = dbus_message_iter_get_signature(&value);
    dbus_message_iter_open_container(&out, DBUS_TYPE_VARIANT, signature, &inner);
    dbus_free(signature);
    if (dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
      const char* s;
      dbus_message_iter_get_basic(&value, &s);
      dbus_message_iter_append_basic(&inner, DBUS_TYPE_STRING, &s);
    } else {
      dbus_int32_t v = 0;   // booleans and integers are both 32 bits on the bus
      dbus_message_iter_get_basic(&value, &v);
      dbus_message_iter_append_basic(&inner, dbus_message_iter_get_arg_type(&value), &v);
    }
    dbus_message_iter_close_container(&out, &inner);
  }
  dbus_message_unref(all);
  return reply ? reply : dbus_message_new_error(m, DBUS_ERROR_INVALID_ARGS, "the item has no such property");
}

DBusMessage* EventReply(DBusMessage* m) {
  if (!dbus_message_has_signature(m, "isvu")) return BadArguments(m);
  DBusMessageIter in;
  dbus_message_iter_init(m, &in);
  dbus_int32_t id;
  const char* kind;
  dbus_message_iter_get_basic(&in, &id);
  dbus_message_iter_next(&in);
  dbus_message_iter_get_basic(&in, &kind);
  if (!MenuEvent(id, kind)) return UnknownId(m);
  return dbus_message_new_method_return(m);
}

// EventGroup (a(isvu)) and AboutToShowGroup (ai) answer the ids that name nothing.
DBusMessage* GroupReply(DBusMessage* m, bool events) {
  if (!dbus_message_has_signature(m, events ? "a(isvu)" : "ai")) return BadArguments(m);
  DBusMessageIter in, array, entry;
  dbus_message_iter_init(m, &in);
  std::vector<dbus_int32_t> errors;
  if (events) {
    dbus_message_iter_recurse(&in, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
      dbus_message_iter_recurse(&array, &entry);
      dbus_int32_t id;
      const char* kind;
      dbus_message_iter_get_basic(&entry, &id);
      dbus_message_iter_next(&entry);
      dbus_message_iter_get_basic(&entry, &kind);
      if (!MenuEvent(id, kind)) errors.push_back(id);
      dbus_message_iter_next(&array);
    }
  } else {
    for (dbus_int32_t id : ReadInts(&in))
      if (!ValidMenuId(id)) errors.push_back(id);
  }
  DBusMessage* reply = dbus_message_new_method_return(m);
  DBusMessageIter out, list;
  dbus_message_iter_init_append(reply, &out);
  if (!events) {
    // No menu needs refreshing before it opens: the layout is always current.
    dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "i", &list);
    dbus_message_iter_close_container(&out, &list);
  }
  dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "i", &list);
  for (dbus_int32_t id : errors) dbus_message_iter_append_basic(&list, DBUS_TYPE_INT32, &id);
  dbus_message_iter_close_container(&out, &list);
  return reply;
}

DBusMessage* AboutToShowReply(DBusMessage* m) {
  dbus_int32_t id;
  if (!dbus_message_has_signature(m, "i") || !dbus_message_get_args(m, nullptr, DBUS_TYPE_INT32, &id, DBUS_TYPE_INVALID))
    return BadArguments(m);
  if (!ValidMenuId(id)) return UnknownId(m);
  dbus_bool_t no = FALSE;
  DBusMessage* reply = dbus_message_new_method_return(m);
  dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &no, DBUS_TYPE_INVALID);
  return reply;
}

bool AppendMenuObjectProperty(DBusMessageIter* it, const char* name) {
  if (!strcmp(name, "Version")) {
    dbus_uint32_t version = 3;
    AppendVariant(it, DBUS_TYPE_UINT32, "u", &version);
  } else if (!strcmp(name, "TextDirection")) {
    AppendStringVariant(it, "ltr");
  } else if (!strcmp(name, "Status")) {
    AppendStringVariant(it, "normal");
  } else if (!strcmp(name, "IconThemePath")) {
    DBusMessageIter v, a;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "as", &v);
    dbus_message_iter_open_container(&v, DBUS_TYPE_ARRAY, "s", &a);
    dbus_message_iter_close_container(&v, &a);
    dbus_message_iter_close_container(it, &v);
  } else {
    return false;
  }
  return true;
}

const char* const kMenuProperties[] = {"Version", "TextDirection", "Status", "IconThemePath"};

const char* const kMenuIntrospection =
    "<node><interface name=\"com.canonical.dbusmenu\">"
    "<property name=\"Version\" type=\"u\" access=\"read\"/>"
    "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
    "<property name=\"Status\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconThemePath\" type=\"as\" access=\"read\"/>"
    "<method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
    "<arg type=\"as\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/>"
    "<arg type=\"(ia{sv}av)\" direction=\"out\"/></method>"
    "<method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/><arg type=\"as\" direction=\"in\"/>"
    "<arg type=\"a(ia{sv})\" direction=\"out\"/></method>"
    "<method name=\"GetProperty\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>"
    "<method name=\"Event\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/></method>"
    "<method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/><arg type=\"ai\" direction=\"out\"/></method>"
    "<method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/><arg type=\"b\" direction=\"out\"/></method>"
    "<method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/><arg type=\"ai\" direction=\"out\"/>"
    "<arg type=\"ai\" direction=\"out\"/></method>"
    "<signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\"/><arg type=\"a(ias)\"/></signal>"
    "<signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>"
    "<signal name=\"ItemActivationRequested\"><arg type=\"i\"/><arg type=\"u\"/></signal>"
    "</interface></node>";

DBusMessage* MenuReply(DBusMessage* m) {
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "GetLayout")) return GetLayoutReply(m);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "GetGroupProperties")) return GetGroupPropertiesReply(m);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "GetProperty")) return GetPropertyReply(m);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "Event")) return EventReply(m);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "EventGroup")) return GroupReply(m, true);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "AboutToShow")) return AboutToShowReply(m);
  if (dbus_message_is_method_call(m, MENU_INTERFACE, "AboutToShowGroup")) return GroupReply(m, false);
  if (IsPropertiesCall(m))
    return PropertiesReply(m, MENU_INTERFACE, kMenuProperties, std::size(kMenuProperties), AppendMenuObjectProperty);
  if (dbus_message_is_method_call(m, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
    DBusMessage* reply = dbus_message_new_method_return(m);
    dbus_message_append_args(reply, DBUS_TYPE_STRING, &kMenuIntrospection, DBUS_TYPE_INVALID);
    return reply;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The connection.

// Every call to the item's and the menu's objects is answered: an unknown one with an error.
DBusHandlerResult OnObjectMessage(DBusConnection* bus, DBusMessage* m, void* menu) {
  if (dbus_message_get_type(m) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  DBusMessage* reply = menu ? MenuReply(m) : ItemReply(m);
  if (!reply) {
    const char* member = dbus_message_get_member(m);
    reply = dbus_message_new_error(m, DBUS_ERROR_UNKNOWN_METHOD, member ? member : "");
  }
  if (reply && !dbus_message_get_no_reply(m)) dbus_connection_send(bus, reply, nullptr);
  if (reply) dbus_message_unref(reply);
  return DBUS_HANDLER_RESULT_HANDLED;
}

void Emit(const char* path, const char* interface, const char* signal) {
  if (!g_Bus) return;
  DBusMessage* m = dbus_message_new_signal(path, interface, signal);
  if (!m) return;
  if (!strcmp(signal, "LayoutUpdated")) {
    dbus_int32_t root = 0;
    dbus_message_append_args(m, DBUS_TYPE_UINT32, &g_MenuRevision, DBUS_TYPE_INT32, &root, DBUS_TYPE_INVALID);
  }
  dbus_connection_send(g_Bus, m, nullptr);
  dbus_message_unref(m);
}

// Asks the watcher to show the item; its answer is read later, never waited for.
void Register() {
  if (g_Registering) {
    dbus_pending_call_cancel(g_Registering);
    dbus_pending_call_unref(g_Registering);
    g_Registering = nullptr;
  }
  DBusMessage* call =
      dbus_message_new_method_call(WATCHER_NAME, WATCHER_PATH, WATCHER_NAME, "RegisterStatusNotifierItem");
  if (!call) return;
  const char* service = g_ServiceName.c_str();
  if (dbus_message_append_args(call, DBUS_TYPE_STRING, &service, DBUS_TYPE_INVALID))
    dbus_connection_send_with_reply(g_Bus, call, &g_Registering, CALL_TIMEOUT_MS);
  dbus_message_unref(call);
}

// A tray that comes (or comes back) after the item was shown is asked to show it.
DBusHandlerResult OnBusSignal(DBusConnection*, DBusMessage* m, void*) {
  const char* name = nullptr;
  const char* before = nullptr;
  const char* after = nullptr;
  if (dbus_message_is_signal(m, DBUS_INTERFACE_DBUS, "NameOwnerChanged") && dbus_message_has_signature(m, "sss") &&
      dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before, DBUS_TYPE_STRING, &after,
                            DBUS_TYPE_INVALID) &&
      !strcmp(name, WATCHER_NAME) && after[0])
    Register();
  return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

void Disconnect() {
  if (!g_Bus) return;
  if (g_Registering) {
    dbus_pending_call_cancel(g_Registering);
    dbus_pending_call_unref(g_Registering);
    g_Registering = nullptr;
  }
  dbus_connection_close(g_Bus);
  dbus_connection_unref(g_Bus);
  g_Bus = nullptr;
  g_ServiceName.clear();
}

// A private session-bus connection with the item's name and objects, registering with the
// watcher; false (and no connection) when there is no bus or no watcher. Only the bus itself is
// waited for, never a peer.
bool Connect() {
  if (!LazyLibraryOpen(&g_LazyDbus)) return false;
  DBusError error;
  dbus_error_init(&error);
  g_Bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  if (!g_Bus) {
    dbus_error_free(&error);
    return false;
  }
  dbus_connection_set_exit_on_disconnect(g_Bus, FALSE);
  if (!dbus_bus_name_has_owner(g_Bus, WATCHER_NAME, &error)) {
    dbus_error_free(&error);
    Disconnect();
    return false;
  }
  g_ServiceName = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  static const DBusObjectPathVTable kVtable = {nullptr, OnObjectMessage, nullptr, nullptr, nullptr, nullptr};
  static int menuObject;
  if (dbus_bus_request_name(g_Bus, g_ServiceName.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
          DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER ||
      !dbus_connection_register_object_path(g_Bus, ITEM_PATH, &kVtable, nullptr) ||
      !dbus_connection_register_object_path(g_Bus, MENU_PATH, &kVtable, &menuObject) ||
      !dbus_connection_add_filter(g_Bus, OnBusSignal, nullptr, nullptr)) {
    dbus_error_free(&error);
    Disconnect();
    return false;
  }
  // Without an error record the rule is sent, not waited for.
  dbus_bus_add_match(g_Bus,
                     "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                     "member='NameOwnerChanged',arg0='org.kde.StatusNotifierWatcher'",
                     nullptr);
  Register();
  dbus_connection_flush(g_Bus);
  return true;
}

// The watcher's answer, once it has come: an item the watcher refused is not shown, and is asked
// for again when a watcher comes anew.
void CheckRegistration() {
  if (!g_Registering || !dbus_pending_call_get_completed(g_Registering)) return;
  DBusMessage* reply = dbus_pending_call_steal_reply(g_Registering);
  dbus_pending_call_unref(g_Registering);
  g_Registering = nullptr;
  if (reply) dbus_message_unref(reply);
}

}  // namespace

bool SdlTrayShow(const uint8_t* bgra16x16, const char* tipUtf8) {
  g_Tip = BusText(tipUtf8 ? tipUtf8 : "");
  g_IconArgb.clear();
  if (bgra16x16) {
    g_IconArgb.resize(16 * 16 * 4);
    for (int i = 0; i < 16 * 16; i++) {
      const uint8_t* p = bgra16x16 + i * 4;
      uint8_t* q = g_IconArgb.data() + i * 4;
      q[0] = p[3], q[1] = p[2], q[2] = p[1], q[3] = p[0];
    }
  }
  if (g_Bus) {
    Emit(ITEM_PATH, ITEM_INTERFACE, "NewIcon");
    Emit(ITEM_PATH, ITEM_INTERFACE, "NewToolTip");
    Emit(ITEM_PATH, ITEM_INTERFACE, "NewTitle");
    dbus_connection_flush(g_Bus);
    return true;
  }
  return Connect();
}

void SdlTrayRemove() {
  Disconnect();
  g_TrayEvents.clear();
}

void SdlTraySetMenu(const PlatMenuItem* items, int count, int menu) {
  g_MenuItems.assign(items, items + std::max(0, count));
  g_MenuChildren.clear();
  for (size_t i = 0; i < g_MenuItems.size(); i++) {
    int m = g_MenuItems[i].menu;
    if (m < 0 || m > 4096) continue;   // a description makes at most 127 menus
    if ((size_t)m >= g_MenuChildren.size()) g_MenuChildren.resize((size_t)m + 1);
    g_MenuChildren[(size_t)m].push_back((int)i);
  }
  g_MenuRoot = count > 0 ? menu : -1;
  g_MenuRevision++;
  Emit(MENU_PATH, MENU_INTERFACE, "LayoutUpdated");
  if (g_Bus) dbus_connection_flush(g_Bus);
}

bool SdlTrayPoll(PlatEventRecord* out) {
  if (g_Bus) {
    // Reads what has arrived and writes what is queued, without waiting for either.
    dbus_connection_read_write(g_Bus, 0);
    for (int i = 0; i < MAX_MESSAGES_PER_POLL && dbus_connection_dispatch(g_Bus) == DBUS_DISPATCH_DATA_REMAINS; i++) {
    }
    CheckRegistration();
    if (!dbus_connection_get_is_connected(g_Bus)) Disconnect();
  }
  if (g_TrayEvents.empty()) return false;
  *out = g_TrayEvents.front();
  g_TrayEvents.pop_front();
  return true;
}
