"""--diagnose of the Linux build reads the mocked machine: sysfs fixtures, the boot
identifier and logind's lid state on a private system bus."""
import unittest

from linux_machine import MachineTestCase


class DiagnoseReadsTheMachine(MachineTestCase):
    def diagnose(self):
        result = self.run_vesperon("--diagnose")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 5, result.stdout)
        return dict(line.rsplit(": ", 1) for line in lines), result.stderr

    def test_battery_charger_heat_and_lid(self):
        self.battery("BAT0", 15)
        facts, machine = self.diagnose()
        self.assertIn(self.root, machine)
        self.assertEqual(facts["Battery above cutoff or charger connected"], "false")
        self.assertEqual(facts["Thermal state"], "0")
        self.assertEqual(facts["Lid closed"], "false")
        self.assertEqual(facts["Sleep override"], "Optional(false)")
        self.assertEqual(facts["Recovery job exists"], "false")

        self.mains(online=True)
        self.zone("thermal_zone3", 88000, critical=100000)
        self.set_lid(True)
        facts, _ = self.diagnose()
        self.assertEqual(facts["Battery above cutoff or charger connected"], "true")
        self.assertEqual(facts["Thermal state"], "2")
        self.assertEqual(facts["Lid closed"], "true")

    def test_device_batteries_do_not_count(self):
        self.battery("hidpp_battery_0", 100, scope="Device")
        facts, _ = self.diagnose()
        self.assertEqual(facts["Battery above cutoff or charger connected"], "false")
        self.battery("BAT1", 16)
        facts, _ = self.diagnose()
        self.assertEqual(facts["Battery above cutoff or charger connected"], "true")


if __name__ == "__main__":
    unittest.main()
