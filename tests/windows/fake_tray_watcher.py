#!/usr/bin/python3
# A stand-in for a desktop's tray: it owns the StatusNotifierWatcher name and, when an item
# registers, reads the item's tool tip and picture, clicks it as a tray does (the primary click,
# then the menu click) and writes what it read to the file named by its argument.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ITEM = "org.kde.StatusNotifierItem"
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
loop = GLib.MainLoop()


def visit(service):
    item = bus.get_object(service, "/StatusNotifierItem")
    props = dbus.Interface(item, "org.freedesktop.DBus.Properties")
    tip = props.Get(ITEM, "ToolTip")
    pixmaps = props.Get(ITEM, "IconPixmap")
    first = list(pixmaps[0][2][:4]) if pixmaps else []
    clicks = dbus.Interface(item, ITEM)
    clicks.Activate(5, 5)
    clicks.ContextMenu(5, 5)
    with open(sys.argv[1], "w", encoding="utf-8") as out:
        out.write("tip=%s\n" % tip[2])
        out.write("size=%d\n" % (pixmaps[0][0] if pixmaps else 0))
        out.write("first=%s\n" % ",".join(str(int(b)) for b in first))
    loop.quit()
    return False


class Watcher(dbus.service.Object):
    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s")
    def RegisterStatusNotifierItem(self, service):
        GLib.timeout_add(100, visit, str(service))


name = dbus.service.BusName("org.kde.StatusNotifierWatcher", bus)
watcher = Watcher(bus, "/StatusNotifierWatcher")
GLib.timeout_add(20000, loop.quit)
loop.run()
