"""Sessions of the Linux build end to end, as root, on a mocked machine: setup starts
the watcher as a detached daemon (systemd is not running here), the watcher takes a
logind inhibitor after its first health check, and every ending gives it back."""
import os
import signal
import subprocess
import time
import unittest

from linux_machine import LOGIND, MachineTestCase


def wait_until(condition, limit):
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


@unittest.skipUnless(os.geteuid() == 0, "the root modes need root")
class SessionOnLinux(MachineTestCase):
    def setUp(self):
        super().setUp()
        self.battery(80)
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

    def battery(self, percent):
        self.supply("BAT0", type="Battery", capacity=percent)

    def ours(self):
        return [i for i in self.logind.ListInhibitors(dbus_interface=LOGIND) if i[1] == "Vesperon"]

    def watcher_pids(self):
        # A zombie has no command line: pgrep does not count it.
        watcher = os.path.join(self.state_dir, "watcher")
        found = subprocess.run(["pgrep", "-xf", f"{watcher} --watch"], capture_output=True,
                               text=True, check=False)
        return [int(pid) for pid in found.stdout.split()]

    def setup(self):
        return self.run_vesperon("--setup", str(self.app.pid), "600", self.heartbeat,
                                 self.stop_file)

    def start_session(self):
        os.utime(self.heartbeat)
        result = self.setup()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "READY\n", ""))
        self.assertTrue(wait_until(self.ours, 10), "the watcher took no inhibitor")
        self.assertEqual((self.ours()[0][0], self.ours()[0][3]),
                         ("handle-lid-switch:sleep:idle", "block"))
        self.assertIn("Sleep override: Optional(true)", self.run_vesperon("--diagnose").stdout)

    def assert_released(self, limit=8):
        self.assertTrue(wait_until(lambda: not self.ours(), limit), "the inhibitor was kept")
        self.assertTrue(wait_until(lambda: not os.path.exists(self.state_dir), limit))
        self.assertTrue(wait_until(lambda: not self.watcher_pids(), limit))

    def assert_restored(self):
        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)

    def test_every_ending_gives_the_inhibitor_back(self):
        def stale_heartbeat():
            stale = time.time() - 25
            os.utime(self.heartbeat, (stale, stale))

        endings = {
            "stop file": lambda: open(self.stop_file, "w", encoding="utf-8").close(),
            "application gone": lambda: (self.app.kill(), self.app.wait()),
            "stale heartbeat": stale_heartbeat,
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
                if os.path.exists(self.stop_file):
                    os.remove(self.stop_file)
                if self.app.poll() is not None:
                    self.app = subprocess.Popen(["sleep", "600"])

    def test_a_killed_watcher_gives_sleep_back_at_once_and_restore_ends_all(self):
        self.start_session()
        pids = self.watcher_pids()
        self.assertEqual(len(pids), 1)
        os.kill(pids[0], signal.SIGKILL)
        self.assertTrue(wait_until(lambda: not self.ours(), 1.0))
        # The daemon starts the watcher again while the session stays healthy.
        self.assertTrue(wait_until(self.ours, 10))
        refused = self.setup()
        self.assertEqual(refused.returncode, 1)
        self.assertIn("already exists", refused.stderr)
        self.assert_restored()
        self.assertFalse(self.ours())
        self.assertFalse(os.path.exists(self.state_dir))
        self.assertFalse(self.watcher_pids())
        self.assert_restored()  # nothing left to do, and still a success

    def test_a_stale_record_of_the_daemon_never_signals_a_stranger(self):
        stranger = subprocess.Popen(["sleep", "600"], start_new_session=True)
        self.addCleanup(stranger.wait)
        self.addCleanup(stranger.kill)
        self.write("run/local.vesperon.session.pid", stranger.pid)
        self.assert_restored()
        self.assertIsNone(stranger.poll())


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
        self.assertEqual([start[0] for start in starts], [self.UNIT])
        properties = dict(starts[0][2])
        watcher = os.path.join(self.root, "var/lib/vesperon/watcher")
        self.assertEqual([(str(p), [str(a) for a in argv], bool(f))
                          for p, argv, f in properties["ExecStart"]],
                         [(watcher, [watcher, "--watch"], False)])
        self.assertEqual((properties["Restart"], properties["RestartUSec"],
                          properties["CollectMode"]), ("always", 5000000, "inactive-or-failed"))

        result = self.run_vesperon("--restore")
        self.assertEqual((result.returncode, result.stdout), (0, "RESTORED\n"), result.stderr)
        self.assertIn("StopUnit", [method for _, method, _ in self.systemd.GetCalls()])
        self.assertFalse(os.path.exists(os.path.join(self.root, "var/lib/vesperon")))


if __name__ == "__main__":
    unittest.main()
