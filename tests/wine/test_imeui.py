"""The checks around the interactive install under Wine in Xvfb: a program
that holds the input method stops the install and is named; its shared
memory alone only warns; this input method as the user's only preload entry
ends the run; after the install the skin and window-mode dialog leaves with
"确定" only and unpacks the chosen skin."""

import os
import time
import unittest

import gui
import winelib
from scenario import CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, SYSTEM_DIR, TITLE_VORN, Scenario, fresh_clone
from test_gui import LEFT_BUTTON, setup_title, skin_dialog_title

TITLE_INSTALL = "智能砚舟安装"
HOLDER_TITLE = "测试文档 - 记事本"
MSG_IN_USE = ("智能砚舟安装软件检测到有下列 1 个软件在使用智能砚舟输入法:\r\n\r\n"
              "\u3000\u30001\uff1a" + HOLDER_TITLE + "\r\n\r\n\r\n"
              "请关闭上述软件后再继续安装！\r\n如无法关闭，则请重新启动机器后立即安装！")
MSG_IN_MEMORY = "检测到内存中有智能砚舟数据没有退出，请安装后重新启动机器再使用！"
MSG_ONLY_IME = ("\u3000\u3000你以前安装的智能砚舟为系统默认输入法，并且是系统安装的唯一输入法，请通过微软的输入法管理器"
                "增加英文输入法，并将智能砚舟输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的智能砚舟！")
MSG_SKIN = "皮肤文件没有成功复制，请重新安装皮肤文件！\r\n"
SKIN_FILES = ["vobmp8.voh"] + ["vobmpsx%d.bmp" % i for i in range(1, 8)]

# Points in the dialog's 219 x 140 dialog units: the circle of "单行窗口"
# and of "小天使", the middle of "确定".
SINGLE_LINE = (70, 30)
ANGEL = (154, 76)
OK_BUTTON = (110, 124)


def click_unit(session, dialog, point):
    """A click at a point given in dialog units: the client area (the X
    window) is 219 x 140 of them, whatever the template's font."""
    _, _, width, height = session.geometry(dialog)
    session.click(dialog, point[0] * width // 219, point[1] * height // 140)


def holder_exe():
    return os.path.join(os.path.dirname(CONFIG["setup"]), "imeholder64.exe")


def end_process(started):
    """Ends one program of the prefix, not its wineserver."""
    if started.running():
        os.killpg(started.proc.pid, 9)
        started.proc.wait()


def to_install_path(session, window):
    """The first two "确 定 安 装": the install-path page."""
    for _ in range(2):
        session.click(window, *LEFT_BUTTON)
        time.sleep(3)


class HeldInputMethod(Scenario):
    """A program with an IME UI window keeps the install-path page; once it
    is gone, the shared memory left behind only warns, and the dialog after
    the install leaves with "确定" alone."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("held")
        cls.boxes, cls.dialog_title, cls.open_after_escape = [], None, None
        with gui.Display(os.path.join(cls.prefix.path, "vorn-xvfb.log")) as display:
            holder = cls.prefix.start(holder_exe(), [], display=display.name, name="holder", timeout=400)
            session = gui.Session(cls.prefix, display)
            try:
                gui.Session(cls.prefix, display).find_window("^" + HOLDER_TITLE, timeout=60)
                session.start(CONFIG["setup"], [], name="held", timeout=400)
                window = session.find_window("^%s" % setup_title(cls.info()), timeout=60)
                to_install_path(session, window)
                session.click(window, *LEFT_BUTTON)
                box, box_window = session.wait_box(TITLE_VORN)
                cls.boxes.append(box)
                session.answer(box, box_window)
                time.sleep(1)
                cls.installed_while_held = cls.prefix.exists(SYSTEM_DIR + "\\vornhu4.ime")

                end_process(holder)
                holder = cls.prefix.start(holder_exe(), ["mapping"], display=display.name, name="mapping",
                                          timeout=400)
                time.sleep(3)
                session.click(window, *LEFT_BUTTON)
                box, box_window = session.wait_box(TITLE_VORN)
                cls.boxes.append(box)
                session.answer(box, box_window)

                title = skin_dialog_title(cls.info())
                dialog = session.find_window("^%s$" % title, timeout=240)
                cls.dialog_title = dialog.title
                session.key(dialog, "Escape")
                time.sleep(1)
                cls.open_after_escape = bool(session.windows("^%s$" % title))
                click_unit(session, dialog, SINGLE_LINE)
                click_unit(session, dialog, ANGEL)
                click_unit(session, dialog, OK_BUTTON)
                time.sleep(2)
                cls.later_boxes = [b for b, _ in session.shown_boxes()]
            finally:
                end_process(holder)
                session.close()

    def test_the_holder_is_named_and_nothing_is_installed(self):
        self.assertTrue(self.boxes[0].says(MSG_IN_USE), self.boxes[0])
        self.assertFalse(self.installed_while_held, "installed while a program held the input method")

    def test_the_shared_memory_alone_warns_and_the_install_runs(self):
        self.assertTrue(self.boxes[1].says(MSG_IN_MEMORY), self.boxes[1])
        self.assertTrue(self.prefix.exists(SYSTEM_DIR + "\\vornhu4.ime"))

    def test_the_dialog_leaves_with_ok_only_and_unpacks_the_chosen_skin(self):
        self.assertIsNotNone(self.dialog_title, "no dialog")
        self.assertTrue(self.open_after_escape, "Esc closed the dialog")
        members = {m.name: m.data for m in winelib.read_voz(open(CONFIG["payload"], "rb").read())}
        angel = {m.name: m.data for m in winelib.read_voz(members["小天使.voz"])}
        self.assertEqual(sorted(angel), sorted(SKIN_FILES))
        for name in SKIN_FILES:
            self.assertEqual(self.prefix.read(DEFAULT_DIR + name), angel[name], name)
        self.assertFalse([b for b in self.later_boxes if b.text and MSG_SKIN in b.text])


class OnlyPreloadEntry(Scenario):
    """This input method as the current user's only preload entry: the
    only-IME message, and the run ends with nothing installed.  Wine writes
    its own layout as the only entry of the list at every start (Wine 8
    E0010804, E0010404 on a traditional-Chinese system; Wine 10 00000804):
    the one the booted prefix holds is given the earlier version's layout
    text (the traditional one on such a system)."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone("only-ime")
        traditional = cls.info()["codepage"] == 950
        layout = cls.prefix.registry("HKCU").value(r"Keyboard Layout\Preload", "1")
        text = "智能硯舟輸入平台  6.3" if traditional else "智能砚舟输入平台  6.3"
        cls.prefix.import_reg({
            "HKEY_LOCAL_MACHINE\\" + HKLM_LAYOUTS + "\\" + layout: {"Layout Text": text},
            "HKEY_CURRENT_USER\\Keyboard Layout\\Preload": {"1": layout},
        })
        with gui.Display(os.path.join(cls.prefix.path, "vorn-xvfb.log")) as display:
            session = gui.Session(cls.prefix, display)
            try:
                session.start(CONFIG["setup"], [], name="only-ime", timeout=200)
                window = session.find_window("^%s" % setup_title(cls.info()), timeout=60)
                to_install_path(session, window)
                session.click(window, *LEFT_BUTTON)
                cls.box, box_window = session.wait_box(TITLE_INSTALL)
                session.answer(cls.box, box_window)
                cls.result = session.wait_exit(60)
            finally:
                session.close()

    def test_the_only_ime_message_ends_the_run(self):
        self.assertTrue(self.box.says(MSG_ONLY_IME), self.box)
        self.assertEqual([(b.kind, b.title) for b in self.result.message_boxes], [("W", TITLE_INSTALL)])

    def test_nothing_installed(self):
        self.assertFalse(self.prefix.exists(SYSTEM_DIR + "\\vornhu4.ime"))
        self.assertEqual(self.result.calls_to("kernel32.WinExec"), [])


if __name__ == "__main__":
    unittest.main()
