#!/usr/bin/python3
"""status_notifier_host.py LOG: a StatusNotifierWatcher with a registered host, which
reads each item as a host does and logs "registered NAME", "label 'TEXT'", "icon 16x16
22x22 ...", "icon file NAME" (an icon by name whose file is there), "tooltip 'TEXT'"."""
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

    @dbus.service.method(WATCHER, in_signature="s")
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
        for signal, receive in receivers.items():
            self.bus.add_signal_receiver(receive, signal_name=signal, dbus_interface=ITEM,
                                         bus_name=name, path=path)

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


if __name__ == "__main__":
    serve(lambda bus: Watcher(bus, sys.argv[1]), WATCHER)
