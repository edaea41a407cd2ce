"""The installed package's boundaries: the polkit policy the build generates authorises
exactly the two root modes of the installed executable; as root, the application and
the renderers refuse with one line and touch nothing, while the hook endpoint and the
diagnostic printer still answer."""
import os
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

PACKAGING = os.environ.get("VESPERON_PACKAGING", "")
EXEC = "org.freedesktop.policykit.exec."


@unittest.skipUnless(PACKAGING, "VESPERON_PACKAGING names the generated packaging folder")
class Policy(unittest.TestCase):
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



@unittest.skipUnless(os.geteuid() == 0, "needs root")
class UserRolesRefuseRoot(unittest.TestCase):
    def run_vesperon(self, *arguments, stdin=""):
        return subprocess.run([os.environ["VESPERON_EXECUTABLE"], *arguments], input=stdin,
                              env=self.env, capture_output=True, text=True, timeout=30,
                              check=False)

    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory(prefix="vesperon-roles-"))
        # Where the application would claim its instance.
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.folder, "XDG_RUNTIME_DIR": self.folder}

    def test_application_and_renderers_refuse(self):
        image = os.path.join(self.folder, "image.png")
        for role, arguments in {"the application": [],
                                "the application with a URL": ["vesperon://start"],
                                "the panel renderer": ["--render-panel", image],
                                "the About renderer": ["--render-about", image]}.items():
            with self.subTest(role):
                result = self.run_vesperon(*arguments)
                self.assertEqual((result.returncode, result.stdout), (1, ""))
                self.assertRegex(result.stderr, r"^vesperon: the [A-Za-z ]+ does not run as root; "
                                 r"run it as the logged-in user\.\n$")
                self.assertEqual(os.listdir(self.folder), [])

    def test_hook_endpoint_and_diagnose_still_answer(self):
        hook = self.run_vesperon("--agent-event", "claude", stdin='{"session_id": "s"}')
        self.assertEqual((hook.returncode, hook.stdout), (0, "{}\n"))
        self.assertEqual(self.run_vesperon("--diagnose").returncode, 0)



if __name__ == "__main__":
    unittest.main()
