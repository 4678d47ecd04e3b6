#!/usr/bin/python3
"""A stand-in StatusNotifier host on the session bus it is started on (normally a private
one: dbus-run-session -- status-notifier-host.py).

It owns org.kde.StatusNotifierWatcher at /StatusNotifierWatcher, says a host is registered
and records the items that register. Qt reads the watcher's properties through an
interface that introspects first, so they are listed in the introspection data as well as
served through org.freedesktop.DBus.Properties.

On standard output: "READY <bus address>" once the name is owned, then "ITEM <service>
<path>" for each item that registers and "ACTIVATED" after each activate command.
Commands on standard input, one per line:
  activate <x> <y>   calls Activate(x, y) on the last item, as a host does on a left click
  contextmenu <x> <y> calls ContextMenu(x, y) on the last item, as a host does on a right
                     click when the item exports no menu; "ACTIVATED" follows
  get <property>     reads a property of the last item; "PROP <property> <value>" follows
  menu               reads the last item's exported menu: "MENU <entries>", the labels
                     joined by "|", a separator as "-"
  click <label>      clicks the entry of the exported menu with that label; "CLICKED"
  icon <size> <file> writes the last item's icon (its IconPixmap nearest that size) to
                     the file as a PAM picture with alpha, for a panel to show; "ICON"
                     follows
  quit
The end of standard input, SIGTERM or SIGINT end it too.
"""

import os
import signal
import sys

try:
    import dbus
    import dbus.mainloop.glib
    import dbus.service
    from gi.repository import GLib
except ImportError as error:
    sys.exit("python3-dbus and python3-gi are needed: %s" % error)

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"

INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="xml" type="s" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface" type="s" direction="in"/>
      <arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface" type="s" direction="in"/>
      <arg name="values" type="a{sv}" direction="out"/>
    </method>
  </interface>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, WATCHER_PATH)
        self.bus = bus
        self.items = []  # (service, path), in the order they registered

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    def properties(self):
        return {
            "RegisteredStatusNotifierItems":
                dbus.Array([s + p for s, p in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        values = self.properties()
        if interface != WATCHER or name not in values:
            raise dbus.exceptions.DBusException(
                "no property %s.%s" % (interface, name),
                name="org.freedesktop.DBus.Error.UnknownProperty")
        return values[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface == WATCHER else {}

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A bare object path means the item lives on the caller's connection.
        if service.startswith("/"):
            entry = (sender, service)
        else:
            entry = (service, "/StatusNotifierItem")
        self.items.append(entry)
        print("ITEM %s %s" % entry, flush=True)
        self.StatusNotifierItemRegistered(entry[0] + entry[1])

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER)
    def StatusNotifierHostRegistered(self):
        pass

    def activate(self, x, y, method="Activate"):
        if not self.items:
            print("ERROR no item", flush=True)
            return
        service, path = self.items[-1]
        item = dbus.Interface(self.bus.get_object(service, path), ITEM)
        getattr(item, method)(dbus.Int32(x), dbus.Int32(y), timeout=5)
        print("ACTIVATED", flush=True)

    def get(self, name):
        service, path = self.items[-1]
        item = dbus.Interface(self.bus.get_object(service, path), PROPERTIES)
        print("PROP %s %s" % (name, item.Get(ITEM, name, timeout=5)), flush=True)

    def menu(self):
        service, path = self.items[-1]
        item = dbus.Interface(self.bus.get_object(service, path), PROPERTIES)
        menu_path = item.Get(ITEM, "Menu", timeout=5)
        menu = dbus.Interface(self.bus.get_object(service, menu_path), "com.canonical.dbusmenu")
        _, (_, _, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"), timeout=5)
        return menu, [(int(c[0]), "-" if c[1].get("type") == "separator" else
                       str(c[1].get("label", ""))) for c in children]

    def write_icon(self, size, path):
        service, path_on_bus = self.items[-1]
        item = dbus.Interface(self.bus.get_object(service, path_on_bus), PROPERTIES)
        pixmaps = item.Get(ITEM, "IconPixmap", timeout=5)
        width, height, argb = min(pixmaps, key=lambda p: abs(int(p[0]) - size))
        data = bytes(argb)
        # ARGB32 in network byte order, to RGBA.
        rgba = bytearray()
        for i in range(0, len(data), 4):
            rgba += data[i + 1:i + 4] + data[i:i + 1]
        with open(path, "wb") as out:
            out.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                      % (int(width), int(height)))
            out.write(bytes(rgba))
        print("ICON", flush=True)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    loop = GLib.MainLoop()

    def command(fd, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        try:
            if words[:1] == ["activate"] and len(words) == 3:
                watcher.activate(int(words[1]), int(words[2]))
            elif words[:1] == ["contextmenu"] and len(words) == 3:
                watcher.activate(int(words[1]), int(words[2]), "ContextMenu")
            elif words[:1] == ["get"] and len(words) == 2 and watcher.items:
                watcher.get(words[1])
            elif words == ["menu"] and watcher.items:
                _, entries = watcher.menu()
                print("MENU %s" % "|".join(label for _, label in entries), flush=True)
            elif words[:1] == ["click"] and len(words) == 2 and watcher.items:
                menu, entries = watcher.menu()
                for id, label in entries:
                    if label == words[1]:
                        menu.Event(id, "clicked", dbus.Int32(0), dbus.UInt32(0), timeout=5)
                print("CLICKED", flush=True)
            elif words[:1] == ["icon"] and len(words) == 3 and watcher.items:
                watcher.write_icon(int(words[1]), words[2])
            elif words == ["quit"]:
                loop.quit()
                return False
            elif words:
                print("ERROR unknown command %s" % line.strip(), flush=True)
        except dbus.exceptions.DBusException as error:
            print("ERROR %s" % error.get_dbus_name(), flush=True)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, command)
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    print("READY %s" % os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""), flush=True)
    loop.run()
    del name


if __name__ == "__main__":
    main()
