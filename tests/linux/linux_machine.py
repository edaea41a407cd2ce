"""A mocked Linux machine: a fixture tree for /sys and /proc and a private system bus
with python3-dbusmock's logind (whose locks name their holders: logind_holders.py)."""
import os
import subprocess
import tempfile

import dbus
import dbusmock
from dbusmock import MOCK_IFACE

LOGIND = "org.freedesktop.login1.Manager"
LOGIND_TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logind_holders.py")


class MachineTestCase(dbusmock.DBusTestCase):
    """Each test gets its own fixture tree; the bus and logind live for the class."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_system_bus()
        cls.logind_process, cls.logind = cls.spawn_server_template(
            LOGIND_TEMPLATE, {}, stdout=subprocess.DEVNULL)
        cls.logind.AddProperty(LOGIND, "LidClosed", dbus.Boolean(False))

    @classmethod
    def tearDownClass(cls):
        cls.logind_process.terminate()
        cls.logind_process.wait()
        super().tearDownClass()

    def setUp(self):
        self.root = self.enterContext(tempfile.TemporaryDirectory(prefix="vesperon-machine-"))
        self.write("proc/sys/kernel/random/boot_id", "6d3c0b4e-1f7a-4e43-9d43-3b1d1c9e0a11")
        os.makedirs(os.path.join(self.root, "var/lib"))
        os.makedirs(os.path.join(self.root, "run"))
        self.state_dir = os.path.join(self.root, "var/lib/vesperon")

    def write(self, relative, value):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(f"{value}\n")

    def supply(self, name, **attributes):
        for key, value in attributes.items():
            self.write(f"sys/class/power_supply/{name}/{key}", value)

    def zone(self, name, milli_celsius, critical=100000):
        self.write(f"sys/class/thermal/{name}/temp", milli_celsius)
        self.write(f"sys/class/thermal/{name}/trip_point_0_type", "critical")
        self.write(f"sys/class/thermal/{name}/trip_point_0_temp", critical)

    def diagnose(self):
        result = self.run_vesperon("--diagnose")
        self.assertIn(self.root, result.stderr)
        return dict(line.rsplit(": ", 1) for line in result.stdout.splitlines())

    def ours(self):
        # Root locks named Vesperon but those the test plants itself.
        return [i for i in self.logind.ListInhibitors(dbus_interface=LOGIND)
                if i[1] == "Vesperon" and i[4] == 0 and i[5] != os.getpid()]

    def plant(self, *inhibitor):
        self.logind.AddInhibitor(*inhibitor, dbus_interface=MOCK_IFACE)
        self.addCleanup(self.logind.RemoveInhibitor, *inhibitor, dbus_interface=MOCK_IFACE)

    def setup(self, pid, seconds):
        return self.run_vesperon("--setup", str(pid), str(seconds),
                                 os.path.join(self.root, "heartbeat"), os.path.join(self.root, "stop"))

    def assert_restored(self):
        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)

    def run_vesperon(self, *arguments):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "VESPERON_LINUX_ROOT": self.root,
               "DBUS_SYSTEM_BUS_ADDRESS": os.environ["DBUS_SYSTEM_BUS_ADDRESS"]}
        return subprocess.run([os.environ["VESPERON_EXECUTABLE"], *arguments], env=env,
                              capture_output=True, text=True, timeout=60, check=False)
