#!/usr/bin/python3
"""shortcuts_portal.py LOG: the desktop portal's GlobalShortcuts, answering through
Request objects' Response signals. Logs "bound ID TRIGGER 'DESCRIPTION'" for each
shortcut bound; on SIGUSR1 emits Activated for the last one."""
import signal
import sys

import dbus
import dbus.service
from gi.repository import GLib

from session_bus_service import LoggingObject, serve

PORTAL = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REQUEST = "org.freedesktop.portal.Request"


class Request(dbus.service.Object):
    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


def handle(kind, sender, token):
    return "%s/%s/%s/%s" % (PORTAL_PATH, kind, sender[1:].replace(".", "_"), token)


class Portal(LoggingObject):
    def __init__(self, bus, log):
        super().__init__(bus, PORTAL_PATH, log)
        self.bound = None

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


def portal_on(bus):
    portal = Portal(bus, sys.argv[1])
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, portal.activate)
    return portal


if __name__ == "__main__":
    serve(portal_on, PORTAL)
