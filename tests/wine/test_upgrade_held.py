"""A second upgrade under Wine (the first one's "vornback.voz" is there)
while a program holds the input method: it keeps three of the user's files
open for writing, one of them a dictionary over the 2 MiB work buffer, and
"userck.txt" open with no sharing at all while the setup window opens and
backs the data up.  The in-use message names the program, which is then
closed; the install goes on, Yes brings every earlier file back byte for
byte, and "userck.txt" stays where it was."""

import os
import subprocess
import tempfile
import unittest

import gui
import test_upgrade
import winelib
from scenario import CONFIG, DEFAULT_DIR, TITLE_VORN, fresh_clone
from test_gui import LEFT_BUTTON, MSG_DONE
from test_imeui import HOLDER_TITLE, MSG_IN_USE, end_process, holder_exe
from test_upgrade import ROWS, member_name

HELD = ["vorncyzk.voh", "vopyzdym.voh", "vornzdym.voh"]
LOCKED = "userck.txt"


def earlier_archive():
    """What the first upgrade left: an archive with an older settings record."""
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "voszsj43.voh"), "wb") as f:
            f.write(b"the first upgrade's record")
        subprocess.run([CONFIG["voz"], "pack", os.path.join(tmp, "a.voz"), os.path.join(tmp, "voszsj43.voh")],
                       check=True, capture_output=True)
        with open(os.path.join(tmp, "a.voz"), "rb") as f:
            return f.read()


class HeldUpgrade(test_upgrade.Upgrade):

    @classmethod
    def setUpClass(cls):
        if not cls.is64():
            raise unittest.SkipTest("the walk waits for the registration program of 64-bit Windows")
        cls.prefix = fresh_clone("upgrade-held")
        cls.user = test_upgrade.user_files()
        cls.user["vopyzdym.voh"] = os.urandom(3 << 20)
        test_upgrade.seed(cls.prefix, cls.user)
        cls.prefix.write(DEFAULT_DIR + "vornback.voz", earlier_archive())
        words = ";".join(["window"] + ["w:" + DEFAULT_DIR + n for n in HELD] + ["x:" + DEFAULT_DIR + LOCKED])
        with gui.Display(os.path.join(cls.prefix.path, "vorn-xvfb.log")) as display:
            holder = cls.prefix.start(holder_exe(), [words], display=display.name, name="holder", timeout=400)

            def close_the_holder(session, window):
                session.click(window, *LEFT_BUTTON)
                box, box_window = session.wait_box(TITLE_VORN)
                session.answer(box, box_window)
                end_process(holder)

            try:
                gui.Session(cls.prefix, display).find_window("^" + HOLDER_TITLE, timeout=60)
                cls.result, cls.answered = test_upgrade.walk(cls.prefix, True, display=display,
                                                             on_install_path=close_the_holder)
            finally:
                end_process(holder)

    def test_keep_question_then_the_end_message(self):
        self.assertCleanRun(self.result, codes=(0,))
        expected = [(TITLE_VORN, MSG_IN_USE), ("智能砚舟安装", test_upgrade.MSG_KEEP_SAME),
                    (TITLE_VORN, "成功恢复了22个原有数据文件！"), (TITLE_VORN, MSG_DONE)]
        boxes = self.setup_boxes()
        self.assertEqual(len(boxes), len(expected), self.result.describe())
        for box, (title, text) in zip(boxes, expected):
            # The relay trace keeps only the start of the long in-use message.
            self.assertTrue(box.kind == "W" and box.title == title and box.says(text), box)

    def test_backup_archive_holds_every_earlier_file(self):
        members = [(m.raw_name.decode("gbk"), m.data) for m in winelib.read_voz(self.installed("vornback.voz"))]
        self.assertEqual(members, [(member_name(r), self.user[r]) for r in ROWS if r != LOCKED])


if __name__ == "__main__":
    unittest.main()
