"""The Linux build as root on a mocked machine (sysfs fixtures, dbusmock's logind and
systemd): the watcher's lock from setup to every ending."""
import os
import shutil
import signal
import subprocess
import time
import unittest

import dbus
from dbusmock import MOCK_IFACE

from linux_machine import LOGIND, MachineTestCase

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


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class SessionOnLinux(MachineTestCase):
    def setUp(self):
        super().setUp()
        self.battery(80)
        self.app = subprocess.Popen(["sleep", "600"])
        self.addCleanup(lambda: (self.app.kill(), self.app.wait()))
        self.addCleanup(self.run_vesperon, "--restore")
        self.heartbeat = os.path.join(self.root, "heartbeat")
        self.write("heartbeat", "")
        self.assertFalse(self.ours(), "an inhibitor was left over from an earlier test")

    def battery(self, percent):
        self.supply("BAT0", type="Battery", capacity=percent)

    def watcher_pids(self):
        # A zombie has no command line: pgrep does not count it.
        return [int(pid) for pid in pgrep("-xf", os.path.join(self.state_dir, "watcher") + " --watch")]

    def start_session(self):
        os.utime(self.heartbeat)
        result = self.setup(self.app.pid, 600)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "READY\n", ""))
        self.assertTrue(wait_until(self.ours, 10), "the watcher took no inhibitor")
        self.assertEqual([(i[0], i[3], i[5]) for i in self.ours()],
                         [(OURS, "block", self.watcher_pids()[0])])
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(true)")

    def left(self):
        # The daemon's record goes too: a stale one would name a stranger later.
        return (self.ours(), os.path.exists(self.state_dir), self.watcher_pids(),
                os.path.exists(os.path.join(self.root, PID_FILE)))

    def assert_released(self):
        wait_until(lambda: self.left() == ([], False, [], False), 8)
        self.assertEqual(self.left(), ([], False, [], False))

    def test_every_ending_gives_the_inhibitor_back(self):
        endings = {
            "stop file": lambda: self.write("stop", ""),
            "application gone": lambda: (self.app.kill(), self.app.wait()),
            "stale heartbeat": lambda: os.utime(self.heartbeat, (time.time() - 25,) * 2),
            "low battery": lambda: self.battery(15),
            "heat": lambda: self.zone("thermal_zone0", 90000),
        }
        for name, end in endings.items():
            with self.subTest(name):
                self.start_session()
                end()
                self.assert_released()
                # A healthy machine again for the next one.
                self.battery(80)
                self.zone("thermal_zone0", 30000)
                if os.path.exists(os.path.join(self.root, "stop")):
                    os.remove(os.path.join(self.root, "stop"))
                if self.app.poll() is not None:
                    self.app = subprocess.Popen(["sleep", "600"])

    def test_a_killed_watcher_gives_sleep_back_at_once_and_restore_ends_all(self):
        self.start_session()
        (pid,) = self.watcher_pids()
        os.kill(pid, signal.SIGKILL)
        # At once: the daemon starts the next watcher only 5 s after the last start.
        self.assertTrue(wait_until(lambda: not self.ours(), 2.5))
        # It does so while the session stays healthy.
        self.assertTrue(wait_until(self.ours, 10))
        refused = self.setup(self.app.pid, 600)
        self.assertEqual((refused.returncode, "already exists" in refused.stderr), (1, True))
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
        self.write("heartbeat", "")

    def test_setup_starts_and_restore_stops_the_transient_unit(self):
        result = self.setup(os.getpid(), 60)
        self.assertEqual((result.returncode, result.stdout), (0, "READY\n"), result.stderr)
        starts = [args for _, method, args in self.systemd.GetCalls()
                  if method == "StartTransientUnit"]
        self.assertEqual([start[0] for start in starts], ["local.vesperon.session.service"])
        properties = dict(starts[0][2])
        watcher = os.path.join(self.state_dir, "watcher")
        self.assertEqual([(str(p), [str(a) for a in argv]) for p, argv, _ in properties["ExecStart"]],
                         [(watcher, [watcher, "--watch"])])
        self.assertEqual(properties["Restart"], "always")
        # A restart that finds the watcher's program gone ends the unit.
        self.assertEqual([tuple(c) for c in properties["Conditions"]],
                         [("ConditionPathExists", False, False, watcher)])

        # The override is the lock of the unit's main process, and no look-alike: another
        # account's lock, another root process's, a delay lock (which blocks nothing),
        # another name's.
        self.unit.Set("org.freedesktop.systemd1.Service", "MainPID", dbus.UInt32(os.getpid()),
                      dbus_interface=dbus.PROPERTIES_IFACE)
        for look_alike in [(OURS, "Vesperon", "", "block", 1000, os.getpid()),
                           (OURS, "Vesperon", "", "block", 0, 4242),
                           (OURS, "Vesperon", "", "delay", 0, os.getpid()),
                           (OURS, "Other", "", "block", 0, os.getpid())]:
            self.plant(*look_alike)
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(false)")
        lock = (OURS, "Vesperon", "", "block", 0, os.getpid())
        self.logind.AddInhibitor(*lock, dbus_interface=MOCK_IFACE)
        self.assertEqual(self.diagnose()["Sleep override"], "Optional(true)")
        self.logind.RemoveInhibitor(*lock, dbus_interface=MOCK_IFACE)
        self.assert_restored()
        self.assertIn("StopUnit", [method for _, method, _ in self.systemd.GetCalls()])
        self.assertFalse(os.path.exists(self.state_dir))

    def test_a_refused_start_names_the_systemd_call_and_leaves_nothing(self):
        self.systemd.AddMethod("org.freedesktop.systemd1.Manager", "StartTransientUnit",
                               "ssa(sv)a(sa(sv))", "o",
                               'raise dbus.exceptions.DBusException("Access denied", '
                               'name="org.freedesktop.DBus.Error.AccessDenied")')
        result = self.setup(os.getpid(), 60)
        self.assertEqual((result.returncode, result.stderr), (1,
                         "Setup failed: systemd's StartTransientUnit call over D-Bus failed for "
                         "local.vesperon.session.service: Access denied\n"))
        self.assertFalse(os.path.exists(self.state_dir))


if __name__ == "__main__":
    unittest.main()
