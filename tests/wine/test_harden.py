"""An attacker's view of the install: a program planted at C:\\Program.exe
is never started, a program of the user that rewrites every program in the
installation directory while the install runs gets none of its bytes into a
system directory or started, and on a traditional-Chinese system the layout
entry carries the text the next install recognises."""

import os
import re
import shutil
import unittest

from scenario import (CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, LAYOUT_TEXT_BIG5, MSG_REGISTERED, SYSTEM_DIR, WOW_DIR,
                      Scenario, fresh_clone, registration_starts, run_beside_holder)
from test_full import payload_members

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


class WatchedInstall(Scenario):
    """A program of the user rewrites every program in the installation
    directory as soon as it is there, and again after each write of the
    setup, all through a silent install."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("watched")
        cls.result, out = run_beside_holder(cls.prefix, ["watch", DEFAULT_DIR.rstrip("\\")],
                                            ["setvosrf32", "/log=C:\\watched.log"], "watched")
        cls.replaced = set(re.findall(r"replaced (\S+)", out.decode("ascii", "replace")))

    def test_the_user_did_replace_programs(self):
        self.assertTrue({"setupw64.exe", "vornhu4.ime", "vorndel.exe"} & self.replaced, sorted(self.replaced))

    def test_system_directories_hold_the_payload_bytes(self):
        members = payload_members(self.info()["codepage"])
        wanted = {SYSTEM_DIR + "\\vorndel.exe": "voqdel64.exe" if self.is64() else "vorndel.exe",
                  SYSTEM_DIR + "\\vornhu4.ime": "vornhu64.ime" if self.is64() else "vornhu4.ime"}
        if self.is64():
            wanted[WOW_DIR + "\\vornhu4.ime"] = "vornhu4.ime"
        for path, member in wanted.items():
            self.assertTrue(self.prefix.exists(path), path)
            self.assertEqual(self.prefix.read(path), members[member], path)
        for directory in (SYSTEM_DIR, WOW_DIR):
            for name in ("vorntavk.exe", "vornhu2.ime", "vornh12.ime"):
                path = "%s\\%s" % (directory, name)
                if self.prefix.exists(path):
                    self.assertNotIn(b"USERPROG", self.prefix.read(path), path)

    def test_nothing_of_the_user_starts(self):
        for call in self.result.calls_to("kernel32.CreateProcessA"):
            self.assertNotIn(DEFAULT_DIR.lower(), (call.text(0) or "").lower())
        if self.is64():
            self.assertEqual(len(registration_starts(self.result)), 1)
            self.assertEqual(len([b for b in self.result.message_boxes if b.says(MSG_REGISTERED)]), 1)

    def test_exit_code_and_log_agree(self):
        self.assertFalse(self.result.crashed, self.result.describe())
        log = self.prefix.read("C:\\watched.log").decode("utf-8")
        pid = re.match(r"^\S+ \S+ \[(\d+)\]", log).group(1)
        ended = re.findall(r"^\S+ \S+ \[%s\] end: exit code (\d+) " % pid, log, re.M)
        self.assertEqual(len(ended), 1, log[-600:])
        self.assertIn(int(ended[0]), (0, 2))
        self.assertEqual(self.result.exit_code, int(ended[0]) & 0xFF)


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
