"""Plays pkexec for the tests, on the private system bus: asks polkitd whether the
caller may run our action (read from the polkit policy we install) and then runs
the program, or answers as pkexec does when authorisation is refused (status 127)."""
import os
import re
import sys

import dbus

POLICY = os.path.join(os.path.dirname(__file__), "../../packaging/linux/local.vesperon.policy.in")


def main():
    with open(POLICY, encoding="utf-8") as policy:
        action = re.search(r'<action id="([^"]+)"', policy.read()).group(1)
    bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
    authority = dbus.Interface(
        bus.get_object("org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority"),
        "org.freedesktop.PolicyKit1.Authority")
    subject = ("unix-process", {"pid": dbus.UInt32(os.getppid(), variant_level=1),
                                "start-time": dbus.UInt64(0, variant_level=1)})
    authorized, _, _ = authority.CheckAuthorization(subject, action, {}, dbus.UInt32(1), "")
    if not authorized:
        sys.stderr.write("Error executing command as another user: Not authorized\n\n"
                         "This incident has been reported.\n")
        sys.exit(127)
    os.execv(sys.argv[1], sys.argv[1:])


if __name__ == "__main__":
    main()
