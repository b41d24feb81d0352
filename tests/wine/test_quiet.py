"""An unattended install: `setvosrf32 /quiet` with a log whose path holds a
space.  No process may show a message box, and the log must tell what was
installed, including the 64-bit registration the setup starts."""

import os
import re
import unittest

from scenario import (CONFIG, DEFAULT_DIR, HKLM_POST_PLATFORM, SYSTEM_DIR, Scenario, fresh_clone, run_beside_holder,
                      run_command, view)

LOG = "C:\\vorn logs\\setup log.txt"
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] (.*)$")


class QuietInstall(Scenario):
    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("quiet")
        # The browser's key, as Windows has it: the setup writes its token there.
        cls.prefix.import_reg({"HKEY_LOCAL_MACHINE\\" + view(HKLM_POST_PLATFORM): {"VornUnrelated": "keep"}})
        os.makedirs(cls.prefix.host_path("C:\\vorn logs"), exist_ok=True)
        # Wine quotes the word as a whole: "/log=C:\vorn logs\setup log.txt".
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32", "/quiet", "/log=" + LOG], name="quiet",
                                    timeout=240)
        path = cls.prefix.host_path(LOG)
        cls.raw = open(path, "rb").read() if os.path.exists(path) else b""
        cls.lines = []
        for line in cls.raw.decode("utf-8-sig").split("\r\n")[:-1]:
            m = LINE.match(line)
            cls.lines.append((int(m.group(1)), m.group(2)) if m else (None, line))

    def texts(self, piece, pid=None):
        return [t for p, t in self.lines if piece in t and (pid is None or p == pid)]

    def test_exit_code_0_and_no_message_box_in_any_process(self):
        self.assertCleanRun(self.result, codes=(0,))
        self.assertEqual(self.result.message_boxes, [], self.result.describe())
        # Both processes ran under the trace: the registration program made its own ImmInstallIMEW call.
        pids = {c.pid for c in self.result.calls_to("imm32.ImmInstallIMEW")}
        self.assertEqual(len(pids), 2, "ImmInstallIMEW from the setup and from setupw64.exe")

    def test_log_is_utf8_lines(self):
        self.assertTrue(self.raw.startswith(b"\xef\xbb\xbf"), "no log at %s" % LOG)
        self.assertTrue(self.raw.endswith(b"\r\n"))
        self.assertEqual([t for p, t in self.lines if p is None], [], "lines without time and process id")
        start = self.texts("start: ")
        self.assertEqual(len(start), 2, "one start line per process")
        self.assertIn('command line "setvosrf32 /quiet "/log=%s""' % LOG, start[0])
        self.assertIn("64-bit Windows; OEM code page 936", start[0])

    def test_log_reports_the_true_version_and_the_input_profile(self):
        # Windows 10 as such through the manifest; Wine 8 has no input.dll:
        # both processes log the profile they could not add.  Not on Windows 7.
        win10 = self.info()["major"] == 10
        self.assertEqual(len(self.texts("Windows 10.0." if win10 else "Windows 6.1.7601")), 2)
        skipped = self.texts(r"\input.dll cannot be loaded")
        self.assertEqual(len(skipped), 2 if win10 else 0, self.texts("input profile"))
        # The profile's language is that of the layout each process registered.
        for pid in {p for p, _ in self.lines} if win10 else ():
            layout = self.texts("ImmInstallIMEW(", pid)[-1].rsplit("-> ", 1)[1].upper()
            self.assertEqual(len(self.texts("input profile %s:%s " % (layout[4:], layout), pid)), 1, layout)

    def test_log_names_every_installed_file(self):
        missing = []
        for name in self.prefix.listdir(DEFAULT_DIR):
            target = DEFAULT_DIR + name
            if os.path.isdir(self.prefix.host_path(target)):
                continue
            size = len(self.prefix.read(target))
            if not self.texts(" -> %s, %d bytes" % (target, size)):
                missing.append("%s (%d bytes)" % (name, size))
        for target in (SYSTEM_DIR + "\\vornhu4.ime", "C:\\windows\\syswow64\\vornhu4.ime", SYSTEM_DIR + "\\vorndel.exe"):
            if not self.texts(" -> %s, %d bytes" % (target, len(self.prefix.read(target)))):
                missing.append(target)
        self.assertEqual(missing, [], "files the log does not name with their size")

    def test_log_names_the_registry_values(self):
        for line in ('registry key HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vornqwb',
                     'registry value "DisplayName" = "砚舟五笔"',
                     'registry value "UninstallString" = "%s\\vorndel.exe"' % SYSTEM_DIR,
                     'registry value "voyzsjgl" = "%s"' % run_command(self.info()),
                     'registry value "tavk7700" = ""'):
            self.assertEqual(len(self.texts(line)), 1, line)

    def test_log_holds_the_64bit_registration(self):
        started = self.texts("process started: ")
        self.assertEqual(len([t for t in started if "setupw64.exe" in t and "regvo32=" + DEFAULT_DIR in t]), 1,
                         started)
        setup_pid = self.lines[0][0]
        child = {p for p, t in self.lines if p != setup_pid}
        self.assertEqual(len(child), 1, "the registration program appends to the same log")
        pid = child.pop()
        self.assertEqual(len(self.texts("64-bit registration of the input method in " + DEFAULT_DIR, pid)), 1)
        self.assertEqual(len(self.texts('ImmInstallIMEW("%s\\vornhu4.ime"' % SYSTEM_DIR, pid)), 1)
        self.assertEqual(len(self.texts("智能砚舟已安装成功，如不能使用，请重新启动计算机！ -> OK (quiet: not shown)",
                                        pid)), 1)
        self.assertEqual(len(self.texts("end: exit code 0 (registration done)", pid)), 1)
        self.assertEqual(len(self.texts("end: exit code 0 (installed; no step reported a failure)", setup_pid)), 1)


class LoadedInputMethod(Scenario):
    """A second silent install while a program holds the first one's
    vornhu4.ime loaded: moved aside, it still runs until a restart (3010)."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("loaded")
        cls.first = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="first", timeout=240)
        cls.second, _ = run_beside_holder(cls.prefix, ["load", SYSTEM_DIR + "\\vornhu4.ime"],
                                          ["setvosrf32", "/log=C:\\second.log"], "second", ready=b"loaded")

    def test_exit_code_3010_and_the_file_moved_aside(self):
        self.assertCleanRun(self.first, codes=(0,))
        # A Unix exit status keeps the low byte of Windows' 3010; the log has it whole.
        self.assertCleanRun(self.second, codes=(3010 & 0xFF,))
        self.assertTrue(self.prefix.exists(SYSTEM_DIR + "\\vornhu2.ime"))
        log = self.prefix.read("C:\\second.log").decode("utf-8")
        self.assertIn("end: exit code 3010 (installed; a restart is needed", log)


if __name__ == "__main__":
    unittest.main()
