"""Sessions of the Linux build end to end, as root, on a mocked machine: setup starts
the watcher as a detached daemon (systemd is not running here), the watcher takes a
logind inhibitor after its first health check, and every ending gives it back."""
import os
import signal
import subprocess
import sys
import time
import unittest

import dbus

from linux_machine import EXECUTABLE, LOGIND, MachineTestCase

WHAT = "handle-lid-switch:sleep:idle"


def wait_until(condition, limit, step=0.05):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class SessionOnLinux(MachineTestCase):
    def setUp(self):
        super().setUp()
        self.battery("BAT0", 80)
        self.app = subprocess.Popen(["sleep", "600"])
        self.heartbeat = os.path.join(self.root, "heartbeat")
        self.stop_file = os.path.join(self.root, "stop")
        open(self.heartbeat, "w", encoding="utf-8").close()
        self.state_dir = os.path.join(self.root, "var/lib/vesperon")
        self.assertFalse(self.ours(), "an inhibitor was left over from an earlier test")

    def tearDown(self):
        self.run_vesperon("--restore")
        self.app.kill()
        self.app.wait()
        super().tearDown()

    def ours(self):
        return [i for i in self.logind.ListInhibitors(dbus_interface=LOGIND)
                if i[1] == "Vesperon"]

    def watcher_pids(self):
        pids = []
        watcher = os.path.join(self.state_dir, "watcher").encode()
        for name in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{name}/cmdline", "rb") as cmdline:
                    argv = cmdline.read().split(b"\0")
                with open(f"/proc/{name}/stat", encoding="utf-8") as stat:
                    state = stat.read().rsplit(")", 1)[1].split()[0]
            except (FileNotFoundError, ProcessLookupError, ValueError):
                continue
            if argv[:2] == [watcher, b"--watch"] and state != "Z":
                pids.append(int(name))
        return pids

    def start_session(self):
        os.utime(self.heartbeat)
        result = self.run_vesperon("--setup", str(self.app.pid), "600", self.heartbeat,
                                   self.stop_file)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "READY\n", ""))
        self.assertTrue(wait_until(lambda: self.ours(), 10), "the watcher took no inhibitor")
        inhibitor = self.ours()[0]
        self.assertEqual((inhibitor[0], inhibitor[3]), (WHAT, "block"))
        self.assertEqual(self.run_vesperon("--diagnose").stdout.splitlines()[2],
                         "Sleep override: Optional(true)")

    def assert_released(self, limit=8):
        self.assertTrue(wait_until(lambda: not self.ours(), limit), "the inhibitor was kept")
        self.assertTrue(wait_until(lambda: not os.path.exists(self.state_dir), limit))
        self.assertTrue(wait_until(lambda: not self.watcher_pids(), limit))

    def test_the_stop_file_ends_the_session(self):
        self.start_session()
        refused = self.run_vesperon("--setup", str(self.app.pid), "600", self.heartbeat,
                                    self.stop_file)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("already exists", refused.stderr)
        open(self.stop_file, "w", encoding="utf-8").close()
        self.assert_released()

    def test_the_application_gone_ends_the_session(self):
        self.start_session()
        self.app.kill()
        self.app.wait()
        self.assert_released()

    def test_a_stale_heartbeat_ends_the_session(self):
        self.start_session()
        stale = time.time() - 25
        os.utime(self.heartbeat, (stale, stale))
        self.assert_released()

    def test_low_battery_and_heat_end_the_session(self):
        self.start_session()
        self.battery("BAT0", 15)
        self.assert_released()
        self.battery("BAT0", 80)
        self.start_session()
        self.zone("thermal_zone0", 90000, critical=100000)
        self.assert_released()

    def test_a_killed_watcher_gives_sleep_back_at_once(self):
        self.start_session()
        pids = self.watcher_pids()
        self.assertEqual(len(pids), 1)
        os.kill(pids[0], signal.SIGKILL)
        self.assertTrue(wait_until(lambda: not self.ours(), 1.0))
        # The daemon starts the watcher again while the session stays healthy.
        self.assertTrue(wait_until(lambda: self.ours(), 10))

    def test_a_stale_record_of_the_daemon_never_signals_a_stranger(self):
        stranger = subprocess.Popen(["sleep", "600"], start_new_session=True)
        try:
            self.write("run/local.vesperon.session.pid", str(stranger.pid))
            result = self.run_vesperon("--restore")
            self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)
            self.assertIsNone(stranger.poll())
        finally:
            stranger.kill()
            stranger.wait()

    def test_restore_releases_and_verifies(self):
        self.start_session()
        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)
        self.assertFalse(self.ours())
        self.assertFalse(os.path.exists(self.state_dir))
        self.assertFalse(self.watcher_pids())
        # On a clean machine it has nothing to do and still succeeds.
        again = self.run_vesperon("--restore")
        self.assertEqual((again.returncode, again.stdout), (0, "RESTORED\n"), again.stderr)


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class SetupThroughPolkit(MachineTestCase):
    """The administrator prompt's path: pkexec asks polkitd about our action."""

    ACTION = "local.vesperon.root-helper"
    PKEXEC = [sys.executable, os.path.join(os.path.dirname(__file__), "pkexec_standin.py")]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.polkit_process, cls.polkit = cls.spawn_server_template(
            "polkitd", {}, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.polkit_process.terminate()
        cls.polkit_process.wait()
        super().tearDownClass()

    def setup_through_prompt(self):
        heartbeat = os.path.join(self.root, "heartbeat")
        open(heartbeat, "w", encoding="utf-8").close()
        command = [*self.PKEXEC, EXECUTABLE, "--setup", str(os.getpid()), "60", heartbeat,
                   os.path.join(self.root, "stop")]
        return subprocess.run(command, env=self.environment(), capture_output=True, text=True,
                               timeout=60, check=False)

    def test_refused_then_granted(self):
        self.battery("BAT0", 90)
        self.polkit.SetAllowed(dbus.Array([], signature="s"))
        refused = self.setup_through_prompt()
        self.assertEqual(refused.returncode, 127)
        self.assertFalse(os.path.exists(os.path.join(self.root, "var/lib/vesperon")))

        self.polkit.SetAllowed([self.ACTION])
        granted = self.setup_through_prompt()
        self.assertEqual((granted.returncode, granted.stdout), (0, "READY\n"), granted.stderr)
        self.assertTrue(wait_until(
            lambda: any(i[1] == "Vesperon"
                        for i in self.logind.ListInhibitors(dbus_interface=LOGIND)), 10))
        restored = self.run_vesperon("--restore")
        self.assertEqual(restored.stdout, "RESTORED\n", restored.stderr)


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class WatcherAsSystemdService(MachineTestCase):
    """Where systemd runs, the watcher is a transient service. dbusmock's systemd
    records the calls but runs nothing, so this checks what is asked of systemd."""

    UNIT = "local.vesperon.session.service"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.systemd_process, cls.systemd = cls.spawn_server_template(
            "systemd", {}, stdout=subprocess.DEVNULL)
        cls.systemd.AddMockUnit(cls.UNIT)

    @classmethod
    def tearDownClass(cls):
        cls.systemd_process.terminate()
        cls.systemd_process.wait()
        super().tearDownClass()

    def test_setup_starts_and_restore_stops_the_transient_unit(self):
        os.makedirs(os.path.join(self.root, "run/systemd/system"))
        heartbeat = os.path.join(self.root, "heartbeat")
        open(heartbeat, "w", encoding="utf-8").close()
        self.systemd.ClearCalls()
        result = self.run_vesperon("--setup", str(os.getpid()), "60", heartbeat,
                                   os.path.join(self.root, "stop"))
        self.assertEqual((result.returncode, result.stdout), (0, "READY\n"), result.stderr)
        starts = [args for _, method, args in self.systemd.GetCalls()
                  if method == "StartTransientUnit"]
        self.assertEqual(len(starts), 1)
        name, _, properties, _ = starts[0]
        self.assertEqual(name, self.UNIT)
        properties = dict(properties)
        watcher = os.path.join(self.root, "var/lib/vesperon/watcher")
        self.assertEqual([(str(p), [str(a) for a in argv], bool(f))
                          for p, argv, f in properties["ExecStart"]],
                         [(watcher, [watcher, "--watch"], False)])
        self.assertEqual((properties["Restart"], properties["RestartUSec"]), ("always", 5000000))
        self.assertEqual(properties["CollectMode"], "inactive-or-failed")

        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)
        self.assertIn("StopUnit", [method for _, method, _ in self.systemd.GetCalls()])
        self.assertFalse(os.path.exists(os.path.join(self.root, "var/lib/vesperon")))


if __name__ == "__main__":
    unittest.main()
