"""Start-up, the 64-bit registration mode and the directories and path records
of a silent install, on every variant."""

import os
import unittest

from scenario import CONFIG, DEFAULT_DIR, Scenario, Snapshot, fresh_clone, outside_setup_places, program_name


class Silent(Scenario):
    """`setvosrf32` in a fresh prefix."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("silent")
        cls.before = Snapshot(cls.prefix)
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="silent")
        cls.after = Snapshot(cls.prefix)

    def test_runs_to_the_end(self):
        # 2 and 4 are the sequence's own verdicts on missing pieces; a locked
        # input method (3), missing rights (5) or a crash are not expected here.
        self.assertCleanRun(self.result, codes=(0, 2, 4))

    def test_administrator_check_passes(self):
        self.assertNoAdminMessage(self.result)
        for path in ("C:\\windows\\vornpath.voh", "C:\\vornhu\\vornpath.voh"):
            if self.prefix.exists(path):
                self.assertNotIn(b"vornisadmin", self.prefix.read(path), "the probe stayed in " + path)

    def test_installation_directory_and_filer(self):
        self.assertTrue(os.path.isdir(self.prefix.host_path(DEFAULT_DIR)), self.result.describe())
        self.assertTrue(os.path.isdir(self.prefix.host_path(DEFAULT_DIR + "filer")))

    def test_path_record_in_windows_directory(self):
        self.assertRecord(self.prefix, "C:\\windows\\vornpath.voh", DEFAULT_DIR)

    def test_path_record_on_first_fixed_drive(self):
        # Only c: is a fixed drive in the prefix (z: comes after g: in the scan).
        if self.vista_or_later():
            self.assertRecord(self.prefix, "C:\\vornhu\\vornpath.voh", DEFAULT_DIR)
        else:
            self.assertFalse(self.prefix.exists("C:\\vornhu"), "Windows XP gets no drive-level record")

    def test_nothing_outside_the_setup_places(self):
        self.assertEqual(outside_setup_places(self.after.changes(self.before)), [], "written outside the setup's places")


class Admin(Scenario):
    """Start without a command line (interactive; with no display the window
    cannot be made and the program ends).  An earlier path record is there."""

    OLD = "E:\\old\\vornhu\\"

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("admin")
        cls.prefix.write("C:\\windows\\vornpath.voh", cls.OLD.encode("gbk"))
        cls.result = cls.prefix.run(CONFIG["setup"], [], name="interactive", timeout=60)

    def test_ends_with_exit_code_0(self):
        self.assertCleanRun(self.result, codes=(0,))

    def test_no_administrator_message(self):
        self.assertNoAdminMessage(self.result)

    def test_records_after_the_check(self):
        if self.vista_or_later():
            # The probe is written and read back, then both records get the
            # default directory.
            self.assertRecord(self.prefix, "C:\\windows\\vornpath.voh", DEFAULT_DIR)
            self.assertRecord(self.prefix, "C:\\vornhu\\vornpath.voh", DEFAULT_DIR)
        else:
            # Before Vista the check writes nothing.
            self.assertRecord(self.prefix, "C:\\windows\\vornpath.voh", self.OLD)
            self.assertFalse(self.prefix.exists("C:\\vornhu"))


class Register(Scenario):
    """`regvo32=D:\\My Files\\vornhu\\`, then the same on C:, with a D: drive
    mapped (so d: is the first fixed drive of the scan)."""

    D_DIR = "D:\\My Files\\vornhu\\"
    C_DIR = "C:\\My Files\\vornhu\\"

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("register")
        cls.prefix.map_drive("d", os.path.join(cls.prefix.path, "drive_d"))
        # One argv entry per word: Wine then passes the command line as
        # WinExec would, with the space and without quotes.
        cls.on_d = cls.prefix.run(CONFIG["setup"], ["regvo32=D:\\My", "Files\\vornhu\\"], name="regvo32-d")
        cls.records_d = cls.read_records()
        cls.on_c = cls.prefix.run(CONFIG["setup"], ["regvo32=C:\\My", "Files\\vornhu\\"], name="regvo32-c")
        cls.records_c = cls.read_records()
        # A directory longer than the 200-byte buffer.
        cls.long_dir = "C:\\" + "x" * 300 + "\\"
        cls.on_long = cls.prefix.run(CONFIG["setup"], ["regvo32=" + cls.long_dir], name="regvo32-long")
        cls.records_long = cls.read_records()

    @classmethod
    def read_records(cls):
        out = {}
        for path in ("C:\\windows\\vornpath.voh", "D:\\vornhu\\vornpath.voh", "C:\\vornhu\\vornpath.voh"):
            out[path] = cls.prefix.read(path).decode("gbk") if cls.prefix.exists(path) else None
        return out

    def test_exit_code_0(self):
        self.assertCleanRun(self.on_d)
        self.assertCleanRun(self.on_c)

    def test_registration_mode_only_on_64bit(self):
        self.assertRegistered(self.on_d, self.is64())
        self.assertRegistered(self.on_c, self.is64())

    def test_path_records_hold_the_directory(self):
        if self.is64():
            self.assertEqual(self.records_d["C:\\windows\\vornpath.voh"], self.D_DIR)
            self.assertEqual(self.records_d["D:\\vornhu\\vornpath.voh"], self.D_DIR)
            self.assertEqual(self.records_c["C:\\windows\\vornpath.voh"], self.C_DIR)
            self.assertEqual(self.records_c["D:\\vornhu\\vornpath.voh"], self.C_DIR)
            self.assertIsNone(self.records_c["C:\\vornhu\\vornpath.voh"], "d: comes before c: in the scan")
        elif self.vista_or_later():
            # Interactive instead: only the administrator check wrote them.
            self.assertEqual(self.records_c["C:\\windows\\vornpath.voh"], DEFAULT_DIR)
            self.assertEqual(self.records_c["D:\\vornhu\\vornpath.voh"], DEFAULT_DIR)
        else:
            self.assertIsNone(self.records_c["C:\\windows\\vornpath.voh"])
            self.assertIsNone(self.records_c["D:\\vornhu\\vornpath.voh"])

    def test_overlong_directory_keeps_the_default(self):
        self.assertCleanRun(self.on_long)
        self.assertRegistered(self.on_long, self.is64())
        if self.is64():
            self.assertEqual(self.records_long["C:\\windows\\vornpath.voh"], DEFAULT_DIR)

    def test_directory_itself_not_created(self):
        self.assertFalse(self.prefix.exists(self.D_DIR))
        self.assertFalse(self.prefix.exists(self.C_DIR))


class RegisterDefault(Scenario):
    """Command lines that name the registration word but no directory the
    case-sensitive parse accepts: the default directory is registered."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("register-default")
        cls.upper = cls.prefix.run(CONFIG["setup"], ["REGVO32=C:\\x\\"], name="upper")
        cls.upper_record = cls.record()
        cls.first_r = cls.prefix.run(CONFIG["setup"], ["xr", "regvo32=D:\\a\\"], name="first-r")
        cls.first_r_record = cls.record()

    @classmethod
    def record(cls):
        path = "C:\\windows\\vornpath.voh"
        return cls.prefix.read(path).decode("gbk") if cls.prefix.exists(path) else None

    def test_exit_code_0(self):
        self.assertCleanRun(self.upper)
        self.assertCleanRun(self.first_r)

    def test_registration_mode_only_on_64bit(self):
        self.assertRegistered(self.upper, self.is64())
        self.assertRegistered(self.first_r, self.is64())

    def test_default_directory_recorded(self):
        expected = DEFAULT_DIR if self.vista_or_later() else None
        self.assertEqual(self.upper_record, expected)
        self.assertEqual(self.first_r_record, expected)
        self.assertFalse(self.prefix.exists("C:\\x"))


if __name__ == "__main__":
    unittest.main()
