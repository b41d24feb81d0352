"""Deployment to many machines: a silent upgrade keeps the organisation's
address and /url= sets it (over the complete install of the variant), and a
second setup started while the first waits at a message box exits 1618 and
changes nothing (in Xvfb)."""

import os
import re
import unittest

import gui
import test_full
from scenario import (CONFIG, DEFAULT_DIR, TITLE_VORN, Scenario, Snapshot, fresh_clone, program_name,
                      variant_dir)

MSG_BUSY = "另一个智能砚舟安装程序正在运行，请等它结束后再运行本安装程序。"
TITLE_INSTALL = "智能砚舟安装"


def vonetsj(address):
    return test_full.vonetsj("").replace(b"VONETURL2=", b"VONETURL2=" + address.encode("gbk"))


class Address(Scenario):
    """Over the complete install: an address a user set, kept by a silent
    upgrade; then /url= with a space and a Chinese character replaces it."""

    @classmethod
    def setUpClass(cls):
        first, _, _ = test_full.full_prefix()
        cls.prefix = first.clone(os.path.join(variant_dir(), "address"))
        cls.prefix.write(DEFAULT_DIR + "vonetsj.dat", vonetsj("www.kept.edu.cn"))
        cls.kept = cls.prefix.run(CONFIG["setup"], ["setvosrf32", "/quiet"], name="kept", timeout=240)
        cls.kept_file = cls.prefix.read(DEFAULT_DIR + "vonetsj.dat")
        cls.given = cls.prefix.run(CONFIG["setup"], ["setvosrf32", "/quiet", "/url=http://www.某大学.edu.cn/a b"],
                                   name="given", timeout=240)

    def test_upgrade_keeps_it_and_the_word_sets_it(self):
        self.assertCleanRun(self.kept)
        self.assertEqual(self.kept_file, vonetsj("www.kept.edu.cn"))
        self.assertCleanRun(self.given)
        self.assertEqual(self.prefix.read(DEFAULT_DIR + "vonetsj.dat"), vonetsj("http://www.某大学.edu.cn/a b"))


class SecondSetup(Scenario):
    """The first setup waits while the registration program it started shows
    its message: a quiet second setup and a second setup window each exit
    1618 without changing a file, the window after its one message; then the
    first ends well."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("second")
        with gui.Display(os.path.join(cls.prefix.path, "vorn-xvfb.log")) as display:
            first = gui.Session(cls.prefix, display)
            window = gui.Session(cls.prefix, display)
            try:
                first.start(CONFIG["setup"], ["setvosrf32"], name="first")
                box, shown = first.wait_box(title=TITLE_VORN, timeout=120)
                before = Snapshot(cls.prefix)
                # By the copy the first runs from: copying the program again
                # would rewrite the image of the running one.
                setup = "C:\\" + program_name()
                cls.quiet = cls.prefix.run(setup, ["setvosrf32", "/quiet", "/log=C:\\second.log"], name="quiet",
                                           timeout=120, wait=False)
                window.start(setup, ["/log=C:\\second.log"], name="window")
                cls.busy, busy_window = window.wait_box(title=TITLE_INSTALL, timeout=120)
                window.answer(cls.busy, busy_window)
                cls.window_code = window.started.proc.wait(60)
                cls.changes = Snapshot(cls.prefix).changes(before)
                first.answer(box, shown)
                cls.first = first.wait_exit(120)
            finally:
                window.close()
                first.close()
        cls.log = cls.prefix.read("C:\\second.log").decode("utf-8-sig")

    def test_exit_1618_and_nothing_changed(self):
        self.assertEqual(self.quiet.exit_code, 1618 & 0xFF, self.quiet.describe())
        self.assertEqual(self.quiet.message_boxes, [])
        self.assertEqual(self.window_code, 1618 & 0xFF)
        self.assertTrue(self.busy.says(MSG_BUSY), repr(self.busy))
        self.assertEqual(self.busy.kind, "W")
        self.assertEqual(self.changes, ["second.log"])
        self.assertEqual(len(re.findall(r"%s -> OK \(quiet: not shown\)" % MSG_BUSY, self.log)), 1, self.log)
        self.assertEqual(len(re.findall(r"end: exit code 1618 ", self.log)), 2, self.log)

    def test_first_setup_ends_well(self):
        self.assertCleanRun(self.first, codes=(0,))
        self.assertTrue(self.prefix.exists(DEFAULT_DIR + "vonetsj.dat"))


if __name__ == "__main__":
    unittest.main()
