"""dbusmock's logind template with locks that name their holder as the real logind does
(the stock one says uid 1000, pid 123456 for all); AddInhibitor and RemoveInhibitor
plant and take back a lock of any holder."""
import os

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject
from dbusmock.templates.logind import *  # noqa: F401,F403 (the template's methods and load)
from dbusmock.templates.logind import MAIN_IFACE

# logind lists what a lock blocks in its own order, whatever order the caller gave.
_WHAT_ORDER = ["shutdown", "sleep", "idle", "handle-power-key", "handle-suspend-key",
               "handle-hibernate-key", "handle-lid-switch", "handle-reboot-key"]


def _as_logind_lists(what):
    return ":".join(w for w in _WHAT_ORDER if w in what.split(":"))


def _inhibitors():
    if not hasattr(mockobject, "inhibitors"):
        mockobject.inhibitors = []
    return mockobject.inhibitors


@dbus.service.method(MAIN_IFACE, in_signature="ssss", out_signature="h", sender_keyword="sender")
def Inhibit(self, what, who, why, mode, sender=None):
    daemon = dbus.Interface(self.connection.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                            "org.freedesktop.DBus")
    inhibitor = (_as_logind_lists(what), who, why, mode,
                 dbus.UInt32(daemon.GetConnectionUnixUser(sender)),
                 dbus.UInt32(daemon.GetConnectionUnixProcessID(sender)))
    _inhibitors().append(inhibitor)
    fd_r, fd_w = os.pipe()

    def dropped(fd, _condition):
        os.close(fd)
        _inhibitors().remove(inhibitor)
        return False

    GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, fd_r, GLib.IO_HUP, dropped)
    GLib.idle_add(os.close, fd_w)
    return fd_w


@dbus.service.method(MOCK_IFACE, in_signature="ssssuu", out_signature="")
def AddInhibitor(_self, what, who, why, mode, uid, pid):
    _inhibitors().append((what, who, why, mode, dbus.UInt32(uid), dbus.UInt32(pid)))


@dbus.service.method(MOCK_IFACE, in_signature="ssssuu", out_signature="")
def RemoveInhibitor(_self, what, who, why, mode, uid, pid):
    _inhibitors().remove((what, who, why, mode, dbus.UInt32(uid), dbus.UInt32(pid)))
