#!/usr/bin/python3
"""A BlueZ stand-in that makes the simulated KVM device reachable over BLE.

It starts a private D-Bus daemon of type system, serves the org.bluez API on it from
python3-dbusmock's bluez5 template (one powered adapter, hci0) and adds BLE peripherals
with GATT UART bridges: the Nordic UART Service and/or the FFF0 bridge. Each bridge is
tied to a serial line, normally the pseudo-terminal of orvane-devsim (--link): bytes the
client writes to the bridge's write characteristic go to the line, bytes from the line go
back as notifications cut at the characteristic's MTU minus 3.

Once everything is in place it prints one line, "READY <bus address>", on standard
output; point a client at it with DBUS_SYSTEM_BUS_ADDRESS=<bus address> and (where
bluetoothd is not installed) BLUETOOTH_FORCE_DBUS_LE_VERSION=5.66. SIGTERM, SIGINT, the
end of standard input or the "quit" command end it and its bus.

Commands on standard input, one per line:
  drop <address> <reason>   the peripheral ends the link; reason is one of timeout,
                            local, remote, authentication (BlueZ's Disconnected reasons)
  power on|off              switches the adapter on or off
  adapter remove|add        unplugs or plugs the adapter
  stall <ms>                BlueZ answers nothing for this long, as a hung bluetoothd;
                            "STALLED" on standard output says it has begun
  quit
"""

import argparse
import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import termios
import time
import tty

try:
    import dbus
    import dbus.mainloop.glib
    import dbus.service
    import dbusmock
    import dbusmock.mockobject as mockobject
    from gi.repository import GLib
except ImportError as error:  # the caller skips its tests on exit status 77
    print(f"orvane-ble-standin: missing Python module: {error}", file=sys.stderr)
    sys.exit(77)

DEVICE_IFACE = "org.bluez.Device1"
GATT_SERVICE_IFACE = "org.bluez.GattService1"
GATT_CHRC_IFACE = "org.bluez.GattCharacteristic1"
GATT_DESC_IFACE = "org.bluez.GattDescriptor1"
OBJECT_MANAGER_IFACE = "org.freedesktop.DBus.ObjectManager"
PROPS_IFACE = dbus.PROPERTIES_IFACE

BRIDGES = {
    "nordic": (
        "6e400001-b5a3-f393-e0a9-e50e24dcca9e",
        "6e400002-b5a3-f393-e0a9-e50e24dcca9e",  # write
        "6e400003-b5a3-f393-e0a9-e50e24dcca9e",  # notify
    ),
    "fff0": (
        "0000fff0-0000-1000-8000-00805f9b34fb",
        "0000fff2-0000-1000-8000-00805f9b34fb",
        "0000fff1-0000-1000-8000-00805f9b34fb",
    ),
}
CCCD_UUID = "00002902-0000-1000-8000-00805f9b34fb"

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir={dir}</listen>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    {deny}
  </policy>
</busconfig>
"""
# What a system whose policy keeps us from BlueZ looks like.
DENY_BLUEZ = '<deny send_destination="org.bluez"/>'


def die_with_parent():
    # The bus must not outlive the stand-in, however the stand-in ends.
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def start_bus(workdir, deny):
    config = os.path.join(workdir, "bus.conf")
    with open(config, "w", encoding="utf-8") as out:
        out.write(BUS_CONFIG.format(dir=workdir, deny=DENY_BLUEZ if deny else ""))
    daemon = subprocess.Popen(
        ["dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    address = daemon.stdout.readline().decode().strip()
    if not address:
        daemon.kill()
        raise RuntimeError("dbus-daemon printed no address")
    return daemon, address


class Bridge:
    """One peripheral's UART bridge: its GATT objects and its side of the serial line."""

    def __init__(self, standin, device, variant, mtu):
        self.standin = standin
        self.device = device
        self.mtu = mtu
        self.notifying = False
        service_uuid, write_uuid, notify_uuid = BRIDGES[variant]
        base = device.__dbus_object_path__
        self.service_path = base + "/service0010"
        self.write_path = self.service_path + "/char0011"
        self.notify_path = self.service_path + "/char0013"
        self.cccd_path = self.notify_path + "/desc0015"
        root = standin.root
        root.AddObject(self.service_path, GATT_SERVICE_IFACE, {
            "UUID": dbus.String(service_uuid),
            "Primary": dbus.Boolean(True),
            "Device": dbus.ObjectPath(base),
            "Includes": dbus.Array([], signature="o"),
            "Handle": dbus.UInt16(0x10),
        }, [])
        root.AddObject(self.write_path, GATT_CHRC_IFACE, self.characteristic_props(
            write_uuid, ["write-without-response", "write"], 0x11), [
                ("ReadValue", "a{sv}", "ay", lambda obj, options: dbus.Array([], signature="y")),
                ("WriteValue", "aya{sv}", "", lambda obj, value, options: self.written(value)),
                ("AcquireWrite", "a{sv}", "hq", self.not_supported),
        ])
        root.AddObject(self.notify_path, GATT_CHRC_IFACE, self.characteristic_props(
            notify_uuid, ["notify"], 0x13), [
                ("ReadValue", "a{sv}", "ay", lambda obj, options: dbus.Array([], signature="y")),
                ("WriteValue", "aya{sv}", "", self.not_supported),
                ("StartNotify", "", "", lambda obj: self.set_notifying(True)),
                ("StopNotify", "", "", lambda obj: self.set_notifying(False)),
                ("AcquireNotify", "a{sv}", "hq", self.not_supported),
        ])
        root.AddObject(self.cccd_path, GATT_DESC_IFACE, {
            "UUID": dbus.String(CCCD_UUID),
            "Characteristic": dbus.ObjectPath(self.notify_path),
            "Value": dbus.Array([], signature="y"),
            "Flags": dbus.Array(["read", "write"], signature="s"),
            "Handle": dbus.UInt16(0x15),
        }, [
            ("ReadValue", "a{sv}", "ay", lambda obj, options: dbus.Array([0, 0], signature="y")),
            ("WriteValue", "aya{sv}", "", lambda obj, value, options: None),
        ])
        for path in (self.service_path, self.write_path, self.notify_path, self.cccd_path):
            root.object_manager_emit_added(path)

    def characteristic_props(self, uuid, flags, handle):
        return {
            "UUID": dbus.String(uuid),
            "Service": dbus.ObjectPath(self.service_path),
            "Value": dbus.Array([], signature="y"),
            "Notifying": dbus.Boolean(False),
            "Flags": dbus.Array(flags, signature="s"),
            "MTU": dbus.UInt16(self.mtu),
            "Handle": dbus.UInt16(handle),
        }

    @staticmethod
    def not_supported(*_):
        raise dbus.exceptions.DBusException("Not supported", name="org.bluez.Error.NotSupported")

    def written(self, value):
        if not self.device.connected:
            raise dbus.exceptions.DBusException("Not connected", name="org.bluez.Error.Failed")
        self.standin.line_write(bytes(value))

    def set_notifying(self, on):
        obj = mockobject.objects[self.notify_path]
        self.notifying = on
        obj.props[GATT_CHRC_IFACE]["Notifying"] = dbus.Boolean(on)
        obj.EmitSignal(PROPS_IFACE, "PropertiesChanged", "sa{sv}as",
                       [GATT_CHRC_IFACE, {"Notifying": dbus.Boolean(on, variant_level=1)}, []])

    def notify(self, data):
        if not (self.notifying and self.device.connected):
            return  # a bridge that nobody listens to loses its bytes, as a real one does
        obj = mockobject.objects[self.notify_path]
        step = max(1, self.mtu - 3)
        for start in range(0, len(data), step):
            value = dbus.Array(data[start:start + step], signature="y")
            obj.props[GATT_CHRC_IFACE]["Value"] = value
            obj.EmitSignal(PROPS_IFACE, "PropertiesChanged", "sa{sv}as",
                           [GATT_CHRC_IFACE, {"Value": dbus.Array(value, signature="y",
                                                                   variant_level=1)}, []])


class StandIn:
    def __init__(self, args, address):
        self.args = args
        self.loop = GLib.MainLoop()
        self.bridges = []
        self.line_fd = -1
        bus = dbus.bus.BusConnection(address)
        self.bus_name = dbus.service.BusName("org.bluez", bus, do_not_queue=True)
        self.root = mockobject.DBusMockObject(self.bus_name, "/", OBJECT_MANAGER_IFACE, {},
                                              os.devnull, True)
        mockobject.objects["/"] = self.root
        self.root.AddTemplate("bluez5", None)
        template = mockobject.load_module("bluez5")
        self.template = template
        template.AddAdapter(self.root, "hci0", "orvane-standin")
        if args.powered_off:
            adapter = mockobject.objects["/org/bluez/hci0"]
            adapter.props["org.bluez.Adapter1"]["Powered"] = dbus.Boolean(False)
        for variant, wanted in (("nordic", args.nordic), ("fff0", args.fff0)):
            for item in wanted or []:
                address_text, _, name = item.partition("=")
                self.add_peripheral(address_text.upper(), name if name else args.name, variant)
        for address_text in args.unnamed or []:
            self.add_peripheral(address_text.upper(), "", None)

    def add_peripheral(self, address, name, variant):
        path = self.template.AddDevice(self.root, "hci0", address, name or address)
        device = mockobject.objects[path]
        props = device.props[DEVICE_IFACE]
        if not name:
            del props["Name"]
            props["Alias"] = dbus.String(address.replace(":", "-"))
        props["RSSI"] = dbus.Int16(-48 - 4 * len(self.bridges))
        props["AddressType"] = dbus.String("random")
        if variant:
            props["UUIDs"] = dbus.Array([BRIDGES[variant][0]], signature="s")
        device.AddMethods(DEVICE_IFACE, [
            ("Connect", "", "", lambda obj: self.connect(obj)),
            ("Disconnect", "", "", lambda obj: self.disconnect(obj, None)),
        ])
        device.connected = False
        if variant:
            self.bridges.append(Bridge(self, device, variant, self.args.mtu))

    def set_device(self, device, changes):
        for key, value in changes.items():
            device.props[DEVICE_IFACE][key] = value
        device.EmitSignal(PROPS_IFACE, "PropertiesChanged", "sa{sv}as", [
            DEVICE_IFACE, {k: type(v)(v, variant_level=1) for k, v in changes.items()}, []])

    def connect(self, device):
        if device.connected:
            raise dbus.exceptions.DBusException("Already Connected",
                                                name="org.bluez.Error.AlreadyConnected")
        device.connected = True
        self.set_device(device, {"Connected": dbus.Boolean(True),
                                 "ServicesResolved": dbus.Boolean(True)})

    def disconnect(self, device, reason):
        if not device.connected:
            raise dbus.exceptions.DBusException("Not Connected", name="org.bluez.Error.NotConnected")
        for bridge in self.bridges:
            if bridge.device is device and bridge.notifying:
                bridge.set_notifying(False)
        device.connected = False
        if reason:
            device.EmitSignal(DEVICE_IFACE, "Disconnected", "ss",
                              ["org.bluez.Reason." + reason.capitalize(), reason])
        self.set_device(device, {"ServicesResolved": dbus.Boolean(False),
                                 "Connected": dbus.Boolean(False)})

    # ---- the serial line to the simulated device ----
    def open_line(self):
        if self.line_fd >= 0 or not self.args.link:
            return False
        try:
            fd = os.open(self.args.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError:
            return True  # not there yet: try again shortly
        try:
            tty.setraw(fd, termios.TCSANOW)
        except termios.error:
            pass  # not a terminal: a plain pipe or socket works as well
        self.line_fd = fd
        GLib.io_add_watch(fd, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, self.line_readable)
        return False

    def line_readable(self, fd, condition):
        try:
            data = os.read(fd, 4096)
        except BlockingIOError:
            return True
        except OSError:
            data = b""
        if not data:
            # The device was unplugged: look for it again.
            os.close(fd)
            self.line_fd = -1
            GLib.timeout_add(100, self.open_line)
            return False
        for bridge in self.bridges:
            bridge.notify(data)
        return True

    def line_write(self, data):
        if self.line_fd < 0:
            return
        view = memoryview(data)
        while view:
            try:
                view = view[os.write(self.line_fd, view):]
            except BlockingIOError:
                GLib.usleep(1000)
            except OSError:
                return

    def set_powered(self, on):
        adapter = mockobject.objects["/org/bluez/hci0"]
        if not on:
            for path, obj in list(mockobject.objects.items()):
                if getattr(obj, "connected", False):
                    self.disconnect(obj, "local")
        adapter.props["org.bluez.Adapter1"]["Powered"] = dbus.Boolean(on)
        adapter.EmitSignal(PROPS_IFACE, "PropertiesChanged", "sa{sv}as", [
            "org.bluez.Adapter1", {"Powered": dbus.Boolean(on, variant_level=1)}, []])

    # ---- commands ----
    def command(self, fd, condition):
        line = sys.stdin.readline()
        if not line:
            self.loop.quit()
            return False
        words = line.split()
        if words[:1] == ["quit"]:
            self.loop.quit()
        elif words == ["adapter", "remove"]:
            self.template.RemoveAdapter(self.root, "hci0")
        elif words == ["adapter", "add"]:
            self.template.AddAdapter(self.root, "hci0", "orvane-standin")
        elif words[:1] == ["power"] and len(words) == 2:
            self.set_powered(words[1] == "on")
        elif words[:1] == ["stall"] and len(words) == 2:
            print("STALLED", flush=True)
            time.sleep(int(words[1]) / 1000)
        elif words[:1] == ["drop"] and len(words) == 3:
            path = "/org/bluez/hci0/dev_" + words[1].upper().replace(":", "_")
            device = mockobject.objects.get(path)
            if device is not None and device.connected:
                self.disconnect(device, words[2])
        return True

    def run(self):
        if self.args.link and self.open_line():
            GLib.timeout_add(100, self.open_line)
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, self.command)
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, self.loop.quit)
        self.loop.run()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--link", help="serial line of the simulated device (orvane-devsim --link)")
    parser.add_argument("--nordic", action="append", metavar="ADDRESS[=NAME]",
                        help="a peripheral with the Nordic UART Service")
    parser.add_argument("--fff0", action="append", metavar="ADDRESS[=NAME]",
                        help="a peripheral with the FFF0 bridge")
    parser.add_argument("--unnamed", action="append", metavar="ADDRESS",
                        help="a peripheral without name or bridge")
    parser.add_argument("--name", default="ZE DOZ ERA", help="name of the bridge peripherals")
    parser.add_argument("--mtu", type=int, default=23, help="ATT MTU of the bridges (default 23)")
    parser.add_argument("--powered-off", action="store_true", help="the adapter is switched off")
    parser.add_argument("--deny", action="store_true",
                        help="the bus policy keeps clients from BlueZ")
    parser.add_argument("--no-bluez", action="store_true",
                        help="only the bus, without BlueZ: a machine without Bluetooth")
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    with tempfile.TemporaryDirectory(prefix="orvane-ble-") as workdir:
        try:
            daemon, address = start_bus(workdir, args.deny)
        except (OSError, RuntimeError) as error:
            print(f"orvane-ble-standin: cannot start dbus-daemon: {error}", file=sys.stderr)
            return 77
        try:
            if args.no_bluez:
                standin = None
                loop = GLib.MainLoop()
                GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP,
                                  lambda fd, c: bool(sys.stdin.readline()) or loop.quit())
                for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
                    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
                print("READY " + address, flush=True)
                loop.run()
            else:
                standin = StandIn(args, address)
                print("READY " + address, flush=True)
                standin.run()
        finally:
            daemon.terminate()
            daemon.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
