"""What the session bus stand-ins of the tray tests share: an object that logs one line
per event, served under its well-known name until killed."""
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


class LoggingObject(dbus.service.Object):
    def __init__(self, bus, path, log):
        super().__init__(bus, path)
        self.bus = bus
        self.log = log

    def write(self, line):
        with open(self.log, "a", encoding="utf-8") as out:
            out.write(line + "\n")


def serve(make, name):
    """Serves make(bus) under `name`, taken last: who sees the name finds the object."""
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    make(bus)
    owned = dbus.service.BusName(name, bus)
    GLib.MainLoop().run()
    del owned
