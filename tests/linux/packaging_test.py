"""The polkit policy the build generates authorises exactly the two root modes of the
installed executable."""
import os
import unittest
import xml.etree.ElementTree as ElementTree

PACKAGING = os.environ.get("VESPERON_PACKAGING", "")
EXEC = "org.freedesktop.policykit.exec."


@unittest.skipUnless(PACKAGING, "VESPERON_PACKAGING names the generated packaging folder")
class PolicyAndUnit(unittest.TestCase):
    def test_one_action_per_root_mode_and_nothing_else(self):
        policy = ElementTree.parse(os.path.join(PACKAGING, "local.vesperon.policy")).getroot()
        self.assertEqual(policy.findtext("vendor_url"), os.environ["VESPERON_REPOSITORY_URL"])
        actions = {}
        for action in policy.iter("action"):
            annotations = {a.get("key"): a.text for a in action.iter("annotate")}
            defaults = {d.tag: d.text for d in action.find("defaults")}
            actions[action.get("id")] = (annotations, defaults)
        executable = os.environ["VESPERON_INSTALLED_EXECUTABLE"]
        admin = {"allow_any": "auth_admin", "allow_inactive": "auth_admin",
                 "allow_active": "auth_admin"}
        self.assertEqual(actions, {
            "local.vesperon.setup": ({EXEC + "path": executable, EXEC + "argv1": "--setup"}, admin),
            "local.vesperon.restore": ({EXEC + "path": executable, EXEC + "argv1": "--restore"},
                                       admin)})


if __name__ == "__main__":
    unittest.main()
