"""An attacker's view of the install: a program planted at C:\\Program.exe
is never started, and on a traditional-Chinese system the layout entry
carries the text the next install recognises."""

import os
import shutil
import unittest

from scenario import (CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, LAYOUT_TEXT_BIG5, MSG_REGISTERED, Scenario, fresh_clone,
                      registration_starts)

MARKER = "C:\\vorn-planted.txt"
# The first eight characters in Big5: what identifies the entry.
IME_DESC_BIG5 = LAYOUT_TEXT_BIG5[:8].encode("cp950")


def planted_program():
    """Program.exe, the test program the win64 build makes beside setupw64.exe."""
    path = os.path.join(os.path.dirname(CONFIG["setupw64"] or ""), "Program.exe")
    if not os.path.exists(path):
        raise unittest.SkipTest("no planted test program at %s" % path)
    return path


class PlantedProgram(Scenario):
    """C:\\Program.exe planted, then a silent install."""

    @classmethod
    def setUpClass(cls):
        planted = planted_program()
        cls.prefix = fresh_clone("planted")
        shutil.copy2(planted, os.path.join(cls.prefix.drive_dir("c"), "Program.exe"))
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="planted", timeout=240)

    def test_planted_program_never_runs(self):
        self.assertFalse(self.prefix.exists(MARKER),
                         "C:\\Program.exe ran: %r" % (self.prefix.read(MARKER) if self.prefix.exists(MARKER) else ""))

    def test_registration_still_runs(self):
        self.assertCleanRun(self.result, codes=(0,))
        started = [c.text(1) for c in registration_starts(self.result)]
        registered = [b for b in self.result.message_boxes if b.says(MSG_REGISTERED)]
        regs = [c for c in self.result.calls_to("imm32.ImmInstallIMEW") if c.pid in {b.pid for b in registered}]
        if not self.is64():
            self.assertEqual((started, registered), ([], []))
            return
        self.assertEqual(len(started), 1)
        self.assertTrue(started[0].endswith('.exe" regvo32=' + DEFAULT_DIR), started)
        self.assertEqual(len(registered), 1, self.result.describe())
        self.assertEqual(len(regs), 1, "ImmInstallIMEW of the started program")


class TraditionalLayoutText(Scenario):
    """Code page 950: the entry ImmInstallIMEW made reads, through the narrow
    calls of the next install, as the Big5 description."""

    @classmethod
    def setUpClass(cls):
        if cls.info()["codepage"] != 950:
            raise unittest.SkipTest("only on the code-page-950 prefix")
        cls.prefix = fresh_clone("traditional")
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="install", timeout=240)
        cls.hklm = cls.prefix.registry("HKLM")

    def test_entry_recognisable_by_the_next_install(self):
        self.assertCleanRun(self.result, codes=(0,))
        texts = []
        for name in self.hklm.subkeys(HKLM_LAYOUTS):
            key = self.hklm.key(HKLM_LAYOUTS + "\\" + name)
            ime = key.get("Ime File") or key.get("IME file")
            if ime is None or ime.value.replace("/", "\\").split("\\")[-1].lower() != "vornhu4.ime":
                continue
            text = key.get("Layout Text")
            texts.append(text.value if text else None)
        self.assertTrue(texts, "no keyboard layout names vornhu4.ime")
        for text in texts:
            narrow = (text or "").encode("cp950", "replace")
            self.assertEqual(narrow[:16], IME_DESC_BIG5, "layout text %r reads as %r" % (text, narrow))


if __name__ == "__main__":
    unittest.main()
