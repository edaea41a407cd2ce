#!/usr/bin/python3
"""desktop_services.py host|portal LOG: a session bus service of the tray tests, served
under its well-known name until killed, logging one line per event to LOG.
host: a StatusNotifierWatcher with a registered host that reads each item as hosts do:
"registered NAME", "label 'TEXT'", "icon 16x16 22x22 ...", "icon file NAME" (an icon by
name whose file is there), "tooltip 'TEXT'".
portal: the desktop portal's GlobalShortcuts, answering through Request objects' Response
signals: "bound ID TRIGGER 'DESCRIPTION'" per shortcut; SIGUSR1 activates the last one."""
import os
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"


class LoggingObject(dbus.service.Object):
    def __init__(self, bus, path, log):
        super().__init__(bus, path)
        self.bus = bus
        self.log = log

    def write(self, line):
        with open(self.log, "a", encoding="utf-8") as out:
            out.write(line + "\n")


class Watcher(LoggingObject):
    def __init__(self, bus, log):
        super().__init__(bus, "/StatusNotifierWatcher", log)

    @dbus.service.method("org.kde.StatusNotifierWatcher", in_signature="s")
    def RegisterStatusNotifierItem(self, name):
        path = "/StatusNotifierItem"
        self.write("registered " + name)
        item = self.bus.get_object(name, path)
        props = item.GetAll(ITEM, dbus_interface=PROPERTIES)
        self.label(props["XAyatanaLabel"])
        self.icon(props["IconPixmap"])
        self.tooltip(props["ToolTip"])
        # Hosts of the Ayatana family show the icon only by its name, from a file.
        if os.path.isfile(os.path.join(props["IconThemePath"], props["IconName"] + ".png")):
            self.write("icon file " + props["IconName"])
        # As a host does: each change signal says what to read again.
        receivers = {
            "XAyatanaNewLabel": lambda label, guide: self.label(label),
            "NewToolTip": lambda: self.tooltip(item.Get(ITEM, "ToolTip",
                                                        dbus_interface=PROPERTIES)),
        }
        for name_of_signal, receive in receivers.items():
            self.bus.add_signal_receiver(receive, signal_name=name_of_signal,
                                         dbus_interface=ITEM, bus_name=name, path=path)

    def label(self, text):
        self.write("label '%s'" % text)

    def icon(self, pixmaps):
        self.write("icon " + " ".join("%dx%d" % (w, h) for w, h, data in pixmaps
                                      if len(data) == w * h * 4))

    def tooltip(self, tip):
        self.write("tooltip '%s'" % tip[3])

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return dbus.Boolean(True)  # IsStatusNotifierHostRegistered: all the item asks


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


def handle(kind, sender, token):
    return "%s/%s/%s/%s" % (PORTAL_PATH, kind, sender[1:].replace(".", "_"), token)


class Portal(LoggingObject):
    def __init__(self, bus, log):
        super().__init__(bus, PORTAL_PATH, log)
        self.bound = None
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, self.activate)

    def answer(self, sender, options, results):
        path = handle("request", sender, options["handle_token"])
        request = Request(self.bus, path)

        def respond():
            request.Response(dbus.UInt32(0), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        GLib.idle_add(respond)  # after the reply, as the portal answers
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        session = handle("session", sender, options["session_handle_token"])
        return self.answer(sender, options, {"session_handle": session})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        for name, properties in shortcuts:
            self.write("bound %s %s '%s'" % (name, properties.get("preferred_trigger", ""),
                                            properties.get("description", "")))
            self.bound = (session, name)
        return self.answer(sender, options, {"shortcuts": shortcuts})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    def activate(self):
        if self.bound is not None:
            self.Activated(self.bound[0], self.bound[1], dbus.UInt64(0),
                           dbus.Dictionary({}, signature="sv"))
        return True


if __name__ == "__main__":
    SERVICES = {"host": (Watcher, "org.kde.StatusNotifierWatcher"),
                "portal": (Portal, "org.freedesktop.portal.Desktop")}
    make, well_known = SERVICES[sys.argv[1]]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    service = make(bus, sys.argv[2])
    owned = dbus.service.BusName(well_known, bus)  # taken last: who sees it finds the object
    GLib.MainLoop().run()
