"""What the session bus stand-ins of the tray tests share: an object that logs one line
per event, and the main loop that serves it under its well-known name."""
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib


class LoggingObject(dbus.service.Object):
    """An object at `path` on the session bus that writes its events to the file `log`."""

    def __init__(self, bus, path, log):
        super().__init__(bus, path)
        self.bus = bus
        self.log = log

    def write(self, line):
        with open(self.log, "a", encoding="utf-8") as out:
            out.write(line + "\n")


def serve(make, name, ready):
    """Serves the LoggingObject make(bus) returns under `name` until killed, and logs
    `ready` once a client can reach it."""
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = make(bus)
    # The name last: a client that sees it finds the object ready.
    owned = dbus.service.BusName(name, bus)
    service.write(ready)
    GLib.MainLoop().run()
    del owned
