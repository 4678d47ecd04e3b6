#!/usr/bin/python3
"""A stand-in for the running orvane on the session bus it is started on (normally a
private one: dbus-run-session -- orvane-standin.py ...). It owns org.orvane.Orvane and
serves org.orvane.Orvane1 at /org/orvane/Orvane as its arguments script it, recording
every call.

Arguments:
  --link serial|ble|none --state STATE --port PATH --device-name NAME --status-text TEXT
  --version VERSION          the properties
  --progress 0,50,100        the JobProgress values of a job; the first goes out before the
                             method's reply, as a program may do
  --outcome sent|failed|hold the end of a job; hold: only a Cancel ends it
  --message TEXT             JobFinished's message
  --error NAME:MESSAGE       every Send method fails with org.orvane.Orvane1.Error.NAME
  --history JSON             ListHistory's entries: [[id, kind, text, [paths], size, ms]]
  --notifications            owns org.freedesktop.Notifications as well
  --no-orvane                owns only org.freedesktop.Notifications
  --old                      owns org.orvane.Orvane without serving Orvane1 (an older one)

On standard output: "READY <bus address>", then "CALL <method> <JSON of the arguments>"
for each call and "NOTIFY <JSON of app, icon, summary, body, transient>" for each notification.
Commands on standard input, one per line:
  push JSON      emits ItemReceived with the entry [id, kind, text, [paths], size, ms]
  set NAME JSON  changes a property and says so with PropertiesChanged
  vanish         gives up the name, as a program that ends
The end of standard input, SIGTERM or SIGINT end it.
"""

import argparse
import json
import os
import signal
import sys

try:
    import dbus
    import dbus.mainloop.glib
    import dbus.service
    from gi.repository import GLib
except ImportError as error:
    print("python3-dbus and python3-gi are needed: %s" % error, file=sys.stderr)
    sys.exit(77)

NAME = "org.orvane.Orvane"
PATH = "/org/orvane/Orvane"
IFACE = "org.orvane.Orvane1"
PROPERTIES = "org.freedesktop.DBus.Properties"
ENTRY = "(xssastx)"


def record(kind, value):
    print("%s %s" % (kind, json.dumps(value, ensure_ascii=False)), flush=True)


def entry(values):
    id, kind, text, paths, size, time = values
    return dbus.Struct((dbus.Int64(id), kind, text, dbus.Array(paths, signature="s"),
                        dbus.UInt64(size), dbus.UInt64(time)), signature="xssastx")


class Program(dbus.service.Object):
    def __init__(self, bus, options):
        super().__init__(bus, PATH)
        self.options = options
        self.properties = {
            "Link": options.link, "LinkState": options.state, "Port": options.port,
            "DeviceName": options.device_name, "StatusText": options.status_text,
            "Sending": dbus.Boolean(False), "Version": options.version,
        }
        self.next_job = 1
        self.held = set()

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        record("CALL", ["GetAll", interface])
        if interface != IFACE or self.options.old:
            raise dbus.exceptions.DBusException(
                "no interface %s" % interface, name="org.freedesktop.DBus.Error.UnknownInterface")
        return dbus.Dictionary(self.properties, signature="sv")

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def set(self, name, value):
        self.properties[name] = value
        self.PropertiesChanged(IFACE, dbus.Dictionary({name: value}, signature="sv"),
                               dbus.Array([], signature="s"))

    def job(self, size):
        if self.options.error:
            name, message = self.options.error.split(":", 1)
            raise dbus.exceptions.DBusException(message, name=IFACE + ".Error." + name)
        job = self.next_job
        self.next_job += 1
        steps = [int(p) for p in self.options.progress.split(",") if p]
        if self.options.outcome == "hold":
            self.held.add(job)
        if steps:
            self.JobProgress(job, steps[0])

        def rest():
            for percent in steps[1:]:
                self.JobProgress(job, percent)
            if self.options.outcome != "hold":
                sent = self.options.outcome == "sent"
                self.JobFinished(job, self.options.outcome, self.options.message,
                                 dbus.UInt64(size if sent else 0))
            return False

        GLib.timeout_add(20, rest)
        return dbus.UInt32(job)

    @dbus.service.method(IFACE, in_signature="s", out_signature="u")
    def SendText(self, text):
        record("CALL", ["SendText", text])
        return self.job(len(text.encode()))

    @dbus.service.method(IFACE, in_signature="s", out_signature="u")
    def SendFile(self, path):
        record("CALL", ["SendFile", path])
        return self.job(os.path.getsize(path) if os.path.exists(path) else 0)

    @dbus.service.method(IFACE, in_signature="s", out_signature="u")
    def SendImage(self, path):
        record("CALL", ["SendImage", path])
        return self.job(os.path.getsize(path) if os.path.exists(path) else 0)

    @dbus.service.method(IFACE, in_signature="x", out_signature="u")
    def SendEntry(self, id):
        record("CALL", ["SendEntry", int(id)])
        for values in self.options.history:
            if values[0] == id:
                return self.job(values[4])
        raise dbus.exceptions.DBusException("没有这条记录", name=IFACE + ".Error.NotFound")

    @dbus.service.method(IFACE, in_signature="u")
    def Cancel(self, job):
        record("CALL", ["Cancel", int(job)])
        if job in self.held:
            self.held.discard(job)
            GLib.idle_add(lambda: self.JobFinished(job, "cancelled", "已取消发送",
                                                   dbus.UInt64(0)) and False)

    @dbus.service.method(IFACE, out_signature="a" + ENTRY)
    def ListHistory(self):
        record("CALL", ["ListHistory"])
        return dbus.Array([entry(v) for v in self.options.history], signature=ENTRY)

    @dbus.service.method(IFACE)
    def ShowWindow(self):
        record("CALL", ["ShowWindow"])

    @dbus.service.signal(IFACE, signature="ui")
    def JobProgress(self, job, percent):
        pass

    @dbus.service.signal(IFACE, signature="usst")
    def JobFinished(self, job, outcome, message, bytes):
        pass

    @dbus.service.signal(IFACE, signature=ENTRY)
    def ItemReceived(self, entry):
        pass


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        record("NOTIFY", {"app": app, "icon": icon, "summary": summary, "body": body,
                          "transient": bool(hints.get("transient", False))})
        return dbus.UInt32(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link", default="serial")
    parser.add_argument("--state", default="connected")
    parser.add_argument("--port", default="/dev/ttyACM0")
    parser.add_argument("--device-name", default="")
    parser.add_argument("--status-text", default="")
    parser.add_argument("--version", default="1.0.0")
    parser.add_argument("--progress", default="0,100")
    parser.add_argument("--outcome", default="sent")
    parser.add_argument("--message", default="发送成功 · 文本")
    parser.add_argument("--error", default="")
    parser.add_argument("--history", type=json.loads, default=[])
    parser.add_argument("--notifications", action="store_true")
    parser.add_argument("--no-orvane", action="store_true")
    parser.add_argument("--old", action="store_true")
    options = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    names = []
    program = None
    if not options.no_orvane:
        program = Program(bus, options)
        names.append(dbus.service.BusName(NAME, bus, do_not_queue=True))
    if options.notifications or options.no_orvane:
        notifications = Notifications(bus)
        names.append(dbus.service.BusName("org.freedesktop.Notifications", bus,
                                          do_not_queue=True))
    loop = GLib.MainLoop()

    def command(fd, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split(None, 2)
        if words[:1] == ["push"] and program:
            program.ItemReceived(entry(json.loads(line.split(None, 1)[1])))
        elif words[:1] == ["set"] and program and len(words) == 3:
            program.set(words[1], json.loads(words[2]))
        elif words == ["vanish"]:
            bus.release_name(NAME)
        print("DONE", flush=True)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, command)
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    print("READY %s" % os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""), flush=True)
    loop.run()
    del names


if __name__ == "__main__":
    main()
