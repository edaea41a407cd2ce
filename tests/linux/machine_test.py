"""--diagnose of the Linux build reads the mocked machine: sysfs fixtures, the boot
identifier and logind's lid state on a private system bus."""
import unittest

from linux_machine import MachineTestCase


class DiagnoseReadsTheMachine(MachineTestCase):
    def diagnose(self):
        result = self.run_vesperon("--diagnose")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(self.root, result.stderr)
        return dict(line.rsplit(": ", 1) for line in result.stdout.splitlines())

    def test_battery_charger_heat_and_lid(self):
        self.supply("BAT0", type="Battery", scope="System", capacity=15)
        # A mouse's battery does not count.
        self.supply("hidpp_battery_0", type="Battery", scope="Device", capacity=100)
        self.assertEqual(self.diagnose(), {
            "Battery above cutoff or charger connected": "false", "Thermal state": "0",
            "Lid closed": "false", "Sleep override": "Optional(false)",
            "Recovery job exists": "false"})
        self.supply("AC", type="Mains", online=1)
        self.zone("thermal_zone3", 88000)
        self.set_lid(True)
        facts = self.diagnose()
        self.assertEqual([facts["Battery above cutoff or charger connected"],
                          facts["Thermal state"], facts["Lid closed"]], ["true", "2", "true"])


if __name__ == "__main__":
    unittest.main()
