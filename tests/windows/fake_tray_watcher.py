#!/usr/bin/python3
# A stand-in for a desktop's tray that is slow and rude: it owns the StatusNotifierWatcher name
# and, when an item registers, leaves the registration unanswered while it reads the item's tool
# tip, picture and menu, clicks the icon as trays do (Activate, SecondaryActivate, ContextMenu),
# sends calls of the wrong shape and for ids that name nothing, chooses a menu item by name, and
# then goes away without ever answering. What it read goes to the file named by its argument.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
loop = GLib.MainLoop()
lines = []


def refused(call):
    """Whether the item answered a call with an error (it must answer every call)."""
    try:
        call()
    except dbus.exceptions.DBusException:
        return "refused"
    return "taken"


def walk(node, depth, stats):
    """Counts the nodes of a layout and its depth; names the top level's items."""
    stats["nodes"] += 1
    stats["depth"] = max(stats["depth"], depth)
    for child in node[2]:
        walk(child, depth + 1, stats)


def describe(node):
    props = node[1]
    if props.get("type") == "separator":
        return "-"
    text = str(props.get("label", ""))
    if not props.get("enabled", True):
        text += "~"
    if props.get("toggle-state", 0) == 1 and props.get("toggle-type") == "checkmark":
        text += "*"
    if props.get("children-display") == "submenu":
        text += ">"
    return text


def visit(service):
    item = bus.get_object(service, "/StatusNotifierItem")
    props = dbus.Interface(item, "org.freedesktop.DBus.Properties")
    tip = props.Get(ITEM, "ToolTip")
    pixmaps = props.Get(ITEM, "IconPixmap")
    first = list(pixmaps[0][2][:4]) if pixmaps else []
    lines.append("tip=%s" % tip[2])
    lines.append("size=%d" % (pixmaps[0][0] if pixmaps else 0))
    lines.append("first=%s" % ",".join(str(int(b)) for b in first))
    lines.append("menu=%s itemismenu=%d" % (str(props.Get(ITEM, "Menu")), int(props.Get(ITEM, "ItemIsMenu"))))
    clicks = dbus.Interface(item, ITEM)
    clicks.Activate(5, 5)
    clicks.SecondaryActivate(5, 5)
    clicks.ContextMenu(5, 5)
    menu_object = bus.get_object(service, str(props.Get(ITEM, "Menu")))
    menu = dbus.Interface(menu_object, MENU)
    lines.append("version=%d" % dbus.Interface(menu_object, "org.freedesktop.DBus.Properties").Get(MENU, "Version"))
    # Calls of the wrong shape and for ids that name nothing.
    # (The signature given overrides what the item's introspection says.)
    bad = [
        lambda: clicks.Activate("x", signature="s"),
        lambda: menu.GetLayout("bad", signature="s"),
        lambda: menu.GetLayout(99999, -1, dbus.Array([], signature="s")),
        lambda: menu.Event(99999, "clicked", dbus.Int32(0), dbus.UInt32(0)),
        lambda: menu.Event(-1, "clicked", dbus.Int32(0), dbus.UInt32(0)),
        lambda: menu.Event("clicked", signature="s"),
        lambda: menu.GetProperty(1, "no-such-property"),
        lambda: menu.AboutToShow(-7),
        lambda: menu.NoSuchMethod(signature=""),
    ]
    lines.append("bad=" + ",".join(refused(c) for c in bad))
    event_errors = menu.EventGroup(dbus.Array([(dbus.Int32(4242), "clicked", dbus.Int32(0), dbus.UInt32(0))],
                                              signature="(isvu)"))
    show_errors = menu.AboutToShowGroup(dbus.Array([0, 1, 77777], signature="i"))[1]
    lines.append("groups=%s/%s" % (",".join(str(int(i)) for i in event_errors),
                                   ",".join(str(int(i)) for i in show_errors)))
    revision, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"))
    stats = {"nodes": 0, "depth": 0}
    walk(layout, 0, stats)
    lines.append("nodes=%d depth=%d" % (stats["nodes"], stats["depth"]))
    lines.append("top=%s" % "|".join(describe(child) for child in layout[2]))
    # Only the first level when asked for one, with only the properties asked for.
    revision, shallow = menu.GetLayout(0, 1, dbus.Array(["label"], signature="s"))
    keys = sorted(set(str(k) for child in shallow[2] for k in child[1].keys()))
    lines.append("shallow=%d,%s" % (sum(len(child[2]) for child in shallow[2]), "+".join(keys)))
    lines.append("label=%s" % menu.GetProperty(1, "label"))
    # The item labelled "Second" in the sub-menu is chosen.
    for child in layout[2]:
        for grand in child[2]:
            if grand[1].get("label") == "Second":
                menu.Event(grand[0], "clicked", dbus.Int32(0), dbus.UInt32(0))
    with open(sys.argv[1], "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    loop.quit()
    return False


class Watcher(dbus.service.Object):
    # The answer to the registration never comes: the item must not wait for it.
    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s", async_callbacks=("answer", "fail"))
    def RegisterStatusNotifierItem(self, service, answer, fail):
        GLib.timeout_add(100, visit, str(service))


name = dbus.service.BusName("org.kde.StatusNotifierWatcher", bus)
watcher = Watcher(bus, "/StatusNotifierWatcher")
GLib.timeout_add(60000, loop.quit)
loop.run()
