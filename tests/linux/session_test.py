"""The Linux build as root on a mocked machine: a fixture tree for /sys and /proc and a
private system bus with python3-dbusmock's logind (whose locks name their holders:
logind_holders.py) and systemd. The watcher's lock from setup to every ending."""
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import dbus
import dbusmock
from dbusmock import MOCK_IFACE

LOGIND = "org.freedesktop.login1.Manager"
# The lock the watcher takes ("handle-lid-switch:sleep:idle") as logind lists it: in its own order.
OURS = "sleep:idle:handle-lid-switch"
PID_FILE = "run/local.vesperon.session.pid"


def pgrep(*arguments):
    return subprocess.run(["pgrep", *arguments], capture_output=True, text=True,
                          check=False).stdout.split()


def wait_until(condition, limit):
    deadline = time.monotonic() + limit
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()


class MachineTestCase(dbusmock.DBusTestCase):
    """Each test gets its own fixture tree; the bus and logind live for the class."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_system_bus()
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logind_holders.py")
        cls.logind_process, cls.logind = cls.spawn_server_template(
            template, {}, stdout=subprocess.DEVNULL)
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
        self.heartbeat = os.path.join(self.root, "heartbeat")
        self.write("heartbeat", "")

    def write(self, relative, value):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(f"{value}\n")

    def diagnose(self):
        result = self.run_vesperon("--diagnose")
        self.assertIn(self.root, result.stderr)
        return dict(line.rsplit(": ", 1) for line in result.stdout.splitlines())

    def ours(self):
        # Root locks named Vesperon but those the test plants itself.
        return [i for i in self.logind.ListInhibitors(dbus_interface=LOGIND)
                if i[1] == "Vesperon" and i[4] == 0 and i[5] != os.getpid()]

    def setup(self, pid, seconds):
        return self.run_vesperon("--setup", str(pid), str(seconds), self.heartbeat,
                                 os.path.join(self.root, "stop"))

    def assert_restored(self):
        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)

    def run_vesperon(self, *arguments):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "VESPERON_LINUX_ROOT": self.root,
               "DBUS_SYSTEM_BUS_ADDRESS": os.environ["DBUS_SYSTEM_BUS_ADDRESS"]}
        return subprocess.run([os.environ["VESPERON_EXECUTABLE"], *arguments], env=env,
                              capture_output=True, text=True, timeout=60, check=False)


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class SessionOnLinux(MachineTestCase):
    def setUp(self):
        super().setUp()
        self.battery(80)
        self.app = subprocess.Popen(["sleep", "600"])
        self.addCleanup(lambda: (self.app.kill(), self.app.wait()))
        self.addCleanup(self.run_vesperon, "--restore")
        self.assertFalse(self.ours(), "an inhibitor was left over from an earlier test")

    def battery(self, percent):
        self.write("sys/class/power_supply/BAT0/type", "Battery")
        self.write("sys/class/power_supply/BAT0/capacity", percent)

    def zone(self, milli_celsius):
        self.write("sys/class/thermal/thermal_zone0/temp", milli_celsius)
        self.write("sys/class/thermal/thermal_zone0/trip_point_0_type", "critical")
        self.write("sys/class/thermal/thermal_zone0/trip_point_0_temp", 100000)

    def watcher_pids(self):  # a zombie has no command line: pgrep does not count it
        return [int(pid) for pid in pgrep("-xf", os.path.join(self.state_dir, "watcher") + " --watch")]

    def start_session(self):
        os.utime(self.heartbeat)
        result = self.setup(self.app.pid, 600)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "READY\n", ""))
        self.assertTrue(wait_until(self.ours, 10), "the watcher took no inhibitor")
        self.assertEqual([(i[0], i[3], i[5]) for i in self.ours()],
                         [(OURS, "block", self.watcher_pids()[0])])
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(true)")

    def left(self):  # the daemon's record too: a stale one would name a stranger later
        return (self.ours(), os.path.exists(self.state_dir), self.watcher_pids(),
                os.path.exists(os.path.join(self.root, PID_FILE)))

    def assert_released(self):
        wait_until(lambda: self.left() == ([], False, [], False), 8)
        self.assertEqual(self.left(), ([], False, [], False))

    def test_the_apps_end_and_this_machines_readings_give_the_inhibitor_back(self):
        endings = {
            "application gone": lambda: (self.app.kill(), self.app.wait()),
            "low battery": lambda: self.battery(15),
            "heat": lambda: self.zone(90000),
        }
        for name, end in endings.items():
            with self.subTest(name):
                self.start_session()
                end()
                self.assert_released()
                self.battery(80)  # a healthy machine again for the next one
                self.zone(30000)
                if self.app.poll() is not None:
                    self.app = subprocess.Popen(["sleep", "600"])

    def test_a_killed_watcher_gives_sleep_back_at_once_and_restore_ends_all(self):
        self.start_session()
        (pid,) = self.watcher_pids()
        os.kill(pid, signal.SIGKILL)
        # At once: the daemon starts the next watcher only 5 s after the last start.
        self.assertTrue(wait_until(lambda: not self.ours(), 2.5))
        self.assertTrue(wait_until(self.ours, 10))  # the session is still healthy
        self.assert_restored()
        self.assertEqual(self.left(), ([], False, [], False))
        self.assert_restored()  # nothing left to do, and still a success

    def test_a_stale_record_of_the_daemon_never_signals_a_stranger(self):
        # A stranger that leads its own group under the watcher's name.
        named = os.path.join(self.root, "watcher")
        shutil.copy("/bin/sleep", named)
        stranger = subprocess.Popen([named, "600"], start_new_session=True)
        self.addCleanup(stranger.wait)
        self.addCleanup(stranger.kill)
        with open(f"/proc/{stranger.pid}/stat", encoding="utf-8") as stat:
            started = int(stat.read().rsplit(")", 1)[1].split()[19])
        ours, theirs = os.stat(os.environ["VESPERON_EXECUTABLE"]), os.stat(named)
        records = {"the old form": f"{stranger.pid}",
                   "another start": f"{stranger.pid} {started + 1} {theirs.st_dev} {theirs.st_ino}",
                   "another program": f"{stranger.pid} {started} {ours.st_dev} {ours.st_ino}"}
        for name, record in records.items():
            with self.subTest(name):
                self.write(PID_FILE, record)
                self.assert_restored()
                self.assertIsNone(stranger.poll())

    def test_a_watcher_ended_after_removing_its_files_leaves_no_service(self):
        self.start_session()
        # Ended between removing its files and ending its service.
        shutil.rmtree(self.state_dir)
        os.remove(os.path.join(self.root, "run/local.vesperon.session.plist"))
        for pid in self.watcher_pids():
            os.kill(pid, signal.SIGKILL)
        # The supervisor finds its program gone at the next start and ends with its record.
        self.assertTrue(wait_until(lambda: not pgrep("-x", "vesperon-watch"), 10))
        self.assertFalse(os.path.exists(os.path.join(self.root, PID_FILE)))
        self.start_session()
        self.assert_restored()


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class WatcherAsSystemdService(MachineTestCase):
    """Where systemd runs, the watcher is a transient service (dbusmock's systemd records
    the calls but runs nothing)."""

    def setUp(self):
        super().setUp()
        process, self.systemd = self.spawn_server_template("systemd", {}, stdout=subprocess.DEVNULL)
        self.addCleanup(process.wait)
        self.addCleanup(process.terminate)
        # The watcher's unit as systemd shows it before it runs: no main process.
        self.systemd.AddMockUnit("local.vesperon.session.service")
        self.unit = self.get_dbus(system_bus=True).get_object(
            "org.freedesktop.systemd1", "/org/freedesktop/systemd1/unit/local_vesperon_session_service")
        self.unit.AddProperty("org.freedesktop.systemd1.Service", "MainPID", dbus.UInt32(0),
                              dbus_interface=MOCK_IFACE)
        os.makedirs(os.path.join(self.root, "run/systemd/system"))

    def test_setup_starts_and_restore_stops_the_transient_unit(self):
        result = self.setup(os.getpid(), 60)
        self.assertEqual((result.returncode, result.stdout), (0, "READY\n"), result.stderr)
        starts = [args for _, method, args in self.systemd.GetCalls()
                  if method == "StartTransientUnit"]
        self.assertEqual([start[0] for start in starts], ["local.vesperon.session.service"])
        properties = dict(starts[0][2])
        # A restart that finds the watcher's program gone ends the unit.
        self.assertEqual([tuple(c) for c in properties["Conditions"]],
                         [("ConditionPathExists", False, False, os.path.join(self.state_dir, "watcher"))])

        # The override is the lock of the unit's main process, and no look-alike: another
        # account's lock, another root process's, a delay lock (which blocks nothing),
        # another name's.
        self.unit.Set("org.freedesktop.systemd1.Service", "MainPID", dbus.UInt32(os.getpid()),
                      dbus_interface=dbus.PROPERTIES_IFACE)
        for look_alike in [(OURS, "Vesperon", "", "block", 1000, os.getpid()),
                           (OURS, "Vesperon", "", "block", 0, 4242),
                           (OURS, "Vesperon", "", "delay", 0, os.getpid()),
                           (OURS, "Other", "", "block", 0, os.getpid())]:
            self.logind.AddInhibitor(*look_alike, dbus_interface=MOCK_IFACE)
            self.addCleanup(self.logind.RemoveInhibitor, *look_alike, dbus_interface=MOCK_IFACE)
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(false)")
        lock = (OURS, "Vesperon", "", "block", 0, os.getpid())
        self.logind.AddInhibitor(*lock, dbus_interface=MOCK_IFACE)
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(true)")
        self.logind.RemoveInhibitor(*lock, dbus_interface=MOCK_IFACE)
        self.assert_restored()
        self.assertIn("StopUnit", [method for _, method, _ in self.systemd.GetCalls()])
        self.assertFalse(os.path.exists(self.state_dir))
