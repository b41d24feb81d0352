"""A silent upgrade whose installation directory fills up: a working earlier
installation (its input method in System32 and SysWOW64, its layout in the
preload list, its program files), the installation directory on a small
tmpfs that is full before the input methods are unpacked.  The earlier input
method stays whole in both system directories, no file in the installation
directory is cut or left under a spare name, the exit code is 2, and the
messages are the unpacking and copying messages of any failed install.

Mounting needs root; elsewhere the scenario is skipped."""

import os
import re
import subprocess
import unittest

import winelib
from scenario import (CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, MSG_REGISTERED, SYSTEM_DIR, WOW_DIR, Scenario,
                      fresh_clone)
from test_full import WBPYBZ, payload_members, vonetsj

PAGE = 4096
EARLIER = b"\0earlier installation 7.5\0"
MSG_INCOMPLETE = "文件解压不完整，请到智能砚舟网站www.vornhu.com.cn重新下载安装。"
MEMBER_FAILED = re.compile(r"^没有成功解压复制\S{1,12}文件！请重新下载安装。$")
COPY_FAILED = "没有成功复制"


def pages(size):
    return max(1, -(-size // PAGE)) * PAGE


class FullDisk(Scenario):

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("mounting a tmpfs needs root: the full-disk scenario is skipped")
        if not cls.is64():
            raise unittest.SkipTest("the scenario is for 64-bit Windows (System32 and SysWOW64)")
        cls.members = m = payload_members(cls.info()["codepage"])
        cls.earlier_system = {SYSTEM_DIR: m["vornhu64.ime"] + EARLIER, WOW_DIR: m["vornhu4.ime"] + EARLIER}
        cls.earlier = {
            "vornhu4.ime": cls.earlier_system[WOW_DIR], "vornhu32.ime": cls.earlier_system[WOW_DIR],
            "vornhu64.ime": cls.earlier_system[SYSTEM_DIR], "vorntavk.exe": b"earlier companion",
            "setupw64.exe": winelib.patch_version_text(m["setupw64.exe"]), "vorncyzk.bak": b"earlier phrases",
            "vorncyzk.dat": b"earlier phrases", "vornpyck.bak": b"earlier pinyin", "vornpyck.dat": b"earlier pinyin",
            "wbpybz.voh": WBPYBZ, "vonetsj.dat": vonetsj("www.earlier.cn"),
        }
        prefix = cls.prefix = fresh_clone("fulldisk")
        for directory, data in cls.earlier_system.items():
            prefix.write(directory + "\\vornhu4.ime", data)
        prefix.write("C:\\windows\\vornpath.voh", DEFAULT_DIR.encode("gbk"))
        prefix.import_reg({
            "HKEY_LOCAL_MACHINE\\%s\\E0200804" % HKLM_LAYOUTS: {
                "Ime File": "vornhu4.ime", "Layout File": "kbdus.dll", "Layout Text": "智能砚舟输入平台  6.3"},
            "HKEY_CURRENT_USER\\Keyboard Layout\\Preload": {"1": "00000804", "2": "E0200804"},
        })
        # Room for the earlier files and the members before the input
        # methods, in archive order: about half of the payload.
        order = [name for name in m]
        before = order[:order.index("vornhu4.ime")]
        size = sum(pages(len(d)) for d in cls.earlier.values()) + sum(pages(len(m[n])) for n in before)
        directory = prefix.host_path(DEFAULT_DIR)
        os.makedirs(directory, exist_ok=True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (size + 16 * PAGE), "vornfull",
                                  directory], capture_output=True)
        if mounted.returncode != 0:
            raise unittest.SkipTest("mounting a tmpfs failed (%s): the full-disk scenario is skipped"
                                    % mounted.stderr.decode(errors="replace").strip())
        try:
            for name, data in cls.earlier.items():
                prefix.write(DEFAULT_DIR + name, data)
            cls.result = prefix.run(CONFIG["setup"], ["setvosrf32"], name="fulldisk", timeout=240)
            cls.installed = {n: prefix.read(DEFAULT_DIR + n) for n in prefix.listdir(DEFAULT_DIR)
                             if os.path.isfile(prefix.host_path(DEFAULT_DIR + n))}
        finally:
            prefix.kill_server()
            subprocess.run(["umount", directory], check=True)

    def new_versions(self, name):
        """The bytes a whole new `name` may hold; None for a name the install does not write."""
        m = self.members
        if name in ("vornhu32.ime", "vorncyzk.dat", "vornpyck.dat"):
            source = {"vornhu32.ime": "vornhu4.ime", "vorncyzk.dat": "vorncyzk.bak", "vornpyck.dat": "vornpyck.bak"}
            return {self.installed.get(source[name])}  # a whole copy of whatever its source holds
        if name == "vorncyzk.bak":
            return {winelib.phrase_list_with_trailer(m[name])}
        if name == "vorntavk.exe":
            return {m["vorntav6.exe"]}
        if name in ("setupw64.exe", "vorn320.ime", "vorn321.ime", "vorn640.ime", "vorn641.ime"):
            return {m[name], winelib.patch_version_text(m[name])}
        if name == "wbpybz.voh":
            return {WBPYBZ}
        if name == "vonetsj.dat":
            return {vonetsj("www.earlier.cn")}  # the silent install keeps the earlier address
        return {m[name]} if name in m else None

    def test_exit_code_2(self):
        self.assertCleanRun(self.result, codes=(2,))

    def test_system_directories_hold_whole_input_methods(self):
        fresh = {SYSTEM_DIR: self.members["vornhu64.ime"], WOW_DIR: self.members["vornhu4.ime"]}
        for directory, earlier in self.earlier_system.items():
            path = directory + "\\vornhu4.ime"
            self.assertTrue(self.prefix.exists(path), path)
            self.assertIn(self.prefix.read(path), (earlier, fresh[directory]), path)
        # The disk filled before the input methods: the earlier ones came back.
        self.assertEqual(self.prefix.read(SYSTEM_DIR + "\\vornhu4.ime"), self.earlier_system[SYSTEM_DIR])

    def test_no_file_cut_or_left_under_a_spare_name(self):
        self.assertIn("vornhu4.ime", self.installed)
        wrong = []
        for name, data in sorted(self.installed.items()):
            whole = self.new_versions(name) or set()
            if data != self.earlier.get(name) and data not in whole:
                wrong.append("%s (%d bytes)" % (name, len(data)))
        self.assertEqual(wrong, [], "files neither earlier nor whole and new")

    def test_messages_are_those_of_a_failed_unpack(self):
        boxes = self.result.message_boxes
        self.assertTrue(any(b.says(MSG_INCOMPLETE) for b in boxes), self.result.describe())
        self.assertTrue(any(MEMBER_FAILED.match(b.text or "") for b in boxes), self.result.describe())
        for box in boxes:
            known = box.says(MSG_INCOMPLETE) or box.says(MSG_REGISTERED) or MEMBER_FAILED.match(box.text or "") \
                or (box.text or "").startswith(COPY_FAILED)
            self.assertTrue(known, repr(box))


if __name__ == "__main__":
    unittest.main()
