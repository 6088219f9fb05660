// The tray icon of the SDL backend: a StatusNotifierItem on the session bus (libdbus-1), shown by
// the desktop's tray through its StatusNotifierWatcher. Clicks come back as tray events; the
// engine answers a right click with its own pop-up menu. Without a session bus or a watcher the
// desktop has no tray and showing the icon fails.
#include <dbus/dbus.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/sdl/sdl_tray.h"

namespace {

constexpr const char* ITEM_PATH = "/StatusNotifierItem";
constexpr const char* ITEM_INTERFACE = "org.kde.StatusNotifierItem";
constexpr const char* WATCHER_NAME = "org.kde.StatusNotifierWatcher";
constexpr int CALL_TIMEOUT_MS = 1000;

DBusConnection* g_Bus;
std::string g_ServiceName;
std::vector<uint8_t> g_IconArgb;   // 16 x 16, ARGB in network byte order; empty: the program's icon
std::string g_Tip;
std::deque<PlatEventRecord> g_TrayEvents;

// A string-keyed variant: sv-style property values.
void AppendStringVariant(DBusMessageIter* it, const char* value) {
  DBusMessageIter v;
  dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "s", &v);
  dbus_message_iter_append_basic(&v, DBUS_TYPE_STRING, &value);
  dbus_message_iter_close_container(it, &v);
}

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
bool AppendProperty(DBusMessageIter* it, const char* name) {
  DBusMessageIter v;
  if (!strcmp(name, "Category")) AppendStringVariant(it, "ApplicationStatus");
  else if (!strcmp(name, "Id")) AppendStringVariant(it, "kivor");
  else if (!strcmp(name, "Title")) AppendStringVariant(it, g_Tip.c_str());
  else if (!strcmp(name, "Status")) AppendStringVariant(it, "Active");
  else if (!strcmp(name, "IconName")) AppendStringVariant(it, g_IconArgb.empty() ? "application-x-executable" : "");
  else if (!strcmp(name, "IconPixmap")) {
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "a(iiay)", &v);
    AppendPixmaps(&v);
    dbus_message_iter_close_container(it, &v);
  } else if (!strcmp(name, "ToolTip")) {
    // (icon name, icon pixmaps, title, description)
    DBusMessageIter tip;
    const char* empty = "";
    const char* text = g_Tip.c_str();
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "(sa(iiay)ss)", &v);
    dbus_message_iter_open_container(&v, DBUS_TYPE_STRUCT, nullptr, &tip);
    dbus_message_iter_append_basic(&tip, DBUS_TYPE_STRING, &empty);
    AppendPixmaps(&tip);
    dbus_message_iter_append_basic(&tip, DBUS_TYPE_STRING, &text);
    dbus_message_iter_append_basic(&tip, DBUS_TYPE_STRING, &empty);
    dbus_message_iter_close_container(&v, &tip);
    dbus_message_iter_close_container(it, &v);
  } else if (!strcmp(name, "ItemIsMenu")) {
    dbus_bool_t no = FALSE;
    dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "b", &v);
    dbus_message_iter_append_basic(&v, DBUS_TYPE_BOOLEAN, &no);
    dbus_message_iter_close_container(it, &v);
  } else {
    return false;
  }
  return true;
}

const char* const kProperties[] = {"Category", "Id", "Title", "Status", "IconName", "IconPixmap", "ToolTip",
                                   "ItemIsMenu"};

const char* const kIntrospection =
    "<node><interface name=\"org.kde.StatusNotifierItem\">"
    "<property name=\"Category\" type=\"s\" access=\"read\"/><property name=\"Id\" type=\"s\" access=\"read\"/>"
    "<property name=\"Title\" type=\"s\" access=\"read\"/><property name=\"Status\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
    "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
    "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
    "<method name=\"Activate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"SecondaryActivate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"ContextMenu\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
    "<method name=\"Scroll\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method>"
    "<signal name=\"NewIcon\"/><signal name=\"NewToolTip\"/><signal name=\"NewTitle\"/></interface></node>";

void QueueTrayEvent(int button, int clicks) {
  PlatEventRecord e{};
  e.type = PLAT_EVENT_TRAY;
  e.window = 0;
  e.button = button;
  e.clicks = clicks;
  g_TrayEvents.push_back(e);
}

DBusHandlerResult OnItemMessage(DBusConnection* bus, DBusMessage* m, void*) {
  if (dbus_message_get_type(m) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  DBusMessage* reply = nullptr;
  const char* iface = nullptr;
  const char* name = nullptr;
  if (dbus_message_is_method_call(m, ITEM_INTERFACE, "Activate")) {
    QueueTrayEvent(0, 1);   // the primary click: the window comes to the front
    reply = dbus_message_new_method_return(m);
  } else if (dbus_message_is_method_call(m, ITEM_INTERFACE, "ContextMenu")) {
    QueueTrayEvent(1, 1);   // the menu click: the engine shows the tray menu
    reply = dbus_message_new_method_return(m);
  } else if (dbus_message_is_method_call(m, ITEM_INTERFACE, "SecondaryActivate") ||
             dbus_message_is_method_call(m, ITEM_INTERFACE, "Scroll")) {
    reply = dbus_message_new_method_return(m);
  } else if (dbus_message_is_method_call(m, DBUS_INTERFACE_PROPERTIES, "Get") &&
             dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
    reply = dbus_message_new_method_return(m);
    DBusMessageIter it;
    dbus_message_iter_init_append(reply, &it);
    if (!AppendProperty(&it, name)) {
      dbus_message_unref(reply);
      reply = dbus_message_new_error(m, DBUS_ERROR_UNKNOWN_PROPERTY, name);
    }
  } else if (dbus_message_is_method_call(m, DBUS_INTERFACE_PROPERTIES, "GetAll")) {
    reply = dbus_message_new_method_return(m);
    DBusMessageIter it, dict, entry;
    dbus_message_iter_init_append(reply, &it);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
    for (const char* p : kProperties) {
      dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
      dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &p);
      AppendProperty(&entry, p);
      dbus_message_iter_close_container(&dict, &entry);
    }
    dbus_message_iter_close_container(&it, &dict);
  } else if (dbus_message_is_method_call(m, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
    reply = dbus_message_new_method_return(m);
    dbus_message_append_args(reply, DBUS_TYPE_STRING, &kIntrospection, DBUS_TYPE_INVALID);
  } else {
    reply = dbus_message_new_error(m, DBUS_ERROR_UNKNOWN_METHOD, dbus_message_get_member(m));
  }
  if (reply) {
    dbus_connection_send(bus, reply, nullptr);
    dbus_message_unref(reply);
  }
  return DBUS_HANDLER_RESULT_HANDLED;
}

void Emit(const char* signal) {
  DBusMessage* m = dbus_message_new_signal(ITEM_PATH, ITEM_INTERFACE, signal);
  if (!m) return;
  dbus_connection_send(g_Bus, m, nullptr);
  dbus_message_unref(m);
}

void Disconnect() {
  if (!g_Bus) return;
  dbus_connection_close(g_Bus);
  dbus_connection_unref(g_Bus);
  g_Bus = nullptr;
  g_ServiceName.clear();
}

// A private session-bus connection with the item's name and object, registered with the
// watcher; false (and no connection) when any step fails.
bool Connect() {
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
  static const DBusObjectPathVTable kVtable = {nullptr, OnItemMessage, nullptr, nullptr, nullptr, nullptr};
  if (dbus_bus_request_name(g_Bus, g_ServiceName.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
          DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER ||
      !dbus_connection_register_object_path(g_Bus, ITEM_PATH, &kVtable, nullptr)) {
    dbus_error_free(&error);
    Disconnect();
    return false;
  }
  DBusMessage* call = dbus_message_new_method_call(WATCHER_NAME, "/StatusNotifierWatcher", WATCHER_NAME,
                                                   "RegisterStatusNotifierItem");
  const char* service = g_ServiceName.c_str();
  DBusMessage* reply = nullptr;
  if (call && dbus_message_append_args(call, DBUS_TYPE_STRING, &service, DBUS_TYPE_INVALID))
    reply = dbus_connection_send_with_reply_and_block(g_Bus, call, CALL_TIMEOUT_MS, &error);
  if (call) dbus_message_unref(call);
  dbus_error_free(&error);
  if (!reply) {
    Disconnect();
    return false;
  }
  dbus_message_unref(reply);
  return true;
}

}  // namespace

bool SdlTrayShow(const uint8_t* bgra16x16, const char* tipUtf8) {
  g_Tip = tipUtf8 ? tipUtf8 : "";
  // The bus carries only valid UTF-8.
  if (!dbus_validate_utf8(g_Tip.c_str(), nullptr)) g_Tip.clear();
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
    Emit("NewIcon");
    Emit("NewToolTip");
    Emit("NewTitle");
    dbus_connection_flush(g_Bus);
    return true;
  }
  return Connect();
}

void SdlTrayRemove() {
  Disconnect();
  g_TrayEvents.clear();
}

bool SdlTrayPoll(PlatEventRecord* out) {
  if (g_Bus) {
    dbus_connection_read_write(g_Bus, 0);
    while (dbus_connection_dispatch(g_Bus) == DBUS_DISPATCH_DATA_REMAINS) {
    }
  }
  if (g_TrayEvents.empty()) return false;
  *out = g_TrayEvents.front();
  g_TrayEvents.pop_front();
  return true;
}
