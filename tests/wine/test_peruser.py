"""The per-user step every user's next logon runs (Active Setup), run as the
prefix's user after a fresh silent install: the layout lands in his preload
list once, however often it runs."""

import re
import unittest

from scenario import CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, SYSTEM_DIR, Scenario, fresh_clone

ACTIVE_SETUP = r"Software\Microsoft\Active Setup\Installed Components\{6B0E3F52-9A7C-4D18-B2E4-5C1F0A9D7E36}"
PRELOAD = r"Keyboard Layout\Preload"


class PerUserStep(Scenario):
    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("peruser")
        cls.install = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="install", timeout=240)
        cls.entry = cls.prefix.registry("HKLM").key(ACTIVE_SETUP)
        cls.lists = [cls.ours()]
        cls.steps = []
        stub = cls.entry.get("StubPath") if cls.entry is not None else None
        cls.command = re.match(r'^"([^"]+)" (\S+)$', stub.value) if stub is not None else None
        for run in range(2 if cls.command else 0):
            cls.steps.append(cls.prefix.run(cls.command.group(1), [cls.command.group(2)], name="step%d" % run))
            cls.lists.append(cls.ours())

    @classmethod
    def ours(cls):
        """The preload entries of the prefix's user whose layout is this input method's."""
        hklm, hkcu = cls.prefix.registry("HKLM"), cls.prefix.registry("HKCU")
        key = hkcu.key(PRELOAD)
        found = []
        for value in (key.values.values() if key else ()):
            layout = hklm.key(HKLM_LAYOUTS + "\\" + str(value.value))
            ime = layout.get("Ime File") if layout else None
            if ime is not None and str(ime.value).replace("/", "\\").split("\\")[-1].lower() == "vornhu4.ime":
                found.append((value.name, value.value))
        return found

    def test_entry_names_the_step_in_the_system_directory(self):
        self.assertCleanRun(self.install, codes=(0,))
        if not (self.is64() and self.vista_or_later()):
            self.assertIsNone(self.command, "32-bit Windows has no 64-bit step program")
            return
        self.assertIsNotNone(self.command, "no Active Setup entry with a StubPath")
        self.assertEqual(self.command.groups(), (SYSTEM_DIR + "\\vornuser.exe", "/peruser"))
        self.assertEqual(self.entry.get("Version").value, "7,7,1,0")
        self.assertEqual(self.entry.get("IsInstalled").value, 1)
        self.assertEqual(self.prefix.read(self.command.group(1)), self.prefix.read(DEFAULT_DIR + "setupw64.exe"))

    def test_step_adds_the_layout_once(self):
        if not self.command:
            raise unittest.SkipTest("no per-user step on this variant")
        self.assertEqual(self.lists[0], [], "the install itself put the layout in the list")
        for step in self.steps:
            self.assertCleanRun(step, codes=(0,))
            self.assertEqual(step.message_boxes, [], "the step showed something")
        self.assertEqual(len(self.lists[1]), 1, self.lists)
        self.assertEqual(self.lists[2], self.lists[1], "the second run changed the list")


if __name__ == "__main__":
    unittest.main()
