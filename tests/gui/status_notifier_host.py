#!/usr/bin/python3
"""A StatusNotifierWatcher with a host on the session bus, for the tray tests.

Usage: status_notifier_host.py LOG

Owns org.kde.StatusNotifierWatcher with a registered host, as a desktop's tray does,
and reads every item that registers the way a host does: its properties on
registration, then the label from XAyatanaNewLabel and the icon and tool tip again on
NewIcon and NewToolTip. Writes one line per event to
LOG: "registered NAME", "label 'TEXT'", "icon 16x16 22x22 ...", "icon file NAME" (an
icon by name whose file is there), "tooltip 'TEXT'".
"""
import os
import sys

import dbus
import dbus.service

from session_bus_service import LoggingObject, serve

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Watcher(LoggingObject):
    def __init__(self, bus, log):
        super().__init__(bus, "/StatusNotifierWatcher", log)
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        name = service if not service.startswith("/") else sender
        path = service if service.startswith("/") else "/StatusNotifierItem"
        self.items.append(name + path)
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
        get = lambda prop: item.Get(ITEM, prop, dbus_interface=PROPERTIES)
        receivers = {
            "XAyatanaNewLabel": lambda label, guide: self.label(label),
            "NewIcon": lambda: self.icon(get("IconPixmap")),
            "NewToolTip": lambda: self.tooltip(get("ToolTip")),
        }
        for signal, receive in receivers.items():
            self.bus.add_signal_receiver(receive, signal_name=signal, dbus_interface=ITEM,
                                         bus_name=name, path=path)
        self.StatusNotifierItemRegistered(name + path)

    def label(self, text):
        self.write("label '%s'" % text)

    def icon(self, pixmaps):
        self.write("icon " + " ".join("%dx%d" % (w, h) for w, h, data in pixmaps
                                      if len(data) == w * h * 4))

    def tooltip(self, tip):
        self.write("tooltip '%s'" % tip[3])

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }


if __name__ == "__main__":
    serve(lambda bus: Watcher(bus, sys.argv[1]), WATCHER, "watching")
