"""The setup window under Wine in Xvfb: the whole interactive walk from the
welcome page to the end message, the pages' pixels, what the walk installed
(the silent install's checks, plus the typed web address), and giving up on
the welcome page.

The walk runs once per variant (Walk, a ctest fixture) and keeps a
screenshot of every page it passed; the other scenarios judge its prefix,
its run and its screenshots."""

import json
import os
import time
import unittest

import gui
import test_full
import winelib
from scenario import (CONFIG, DEFAULT_DIR, HKLM_POST_PLATFORM, TITLE_VORN, Scenario, Snapshot,
                      fresh_clone, variant_dir, view)

TITLE_SETUP32 = "智能砚舟系统安装32"
TITLE_SETUP3264 = "智能砚舟系统安装3264"
TITLE_SETUP_BIG5 = "智能硯舟系統安裝"
MSG_DONE = "安装完毕，如不能使用，请重新启动计算机！"
SKIN_DIALOG = "智能砚舟皮肤及窗口模式选择"
SKIN_DIALOG_BIG5 = "智能硯舟皮膚及窗口模式選擇"

# Client coordinates: a point inside each painted button and the address field.
LEFT_BUTTON = (90, 257)
RIGHT_BUTTON = (310, 257)
ADDRESS_FIELD = (245, 205)
# Short enough for the field's 230 pixels: the field does not scroll.
ADDRESS = "www.example.edu.cn"

PAGES = ("welcome", "options", "install-path", "progress", "last")


def shots_dir(variant=None):
    return os.path.join(CONFIG["shots"], variant or CONFIG["variant"])


def shot_path(directory, page):
    return os.path.join(directory, "%d-%s.png" % (PAGES.index(page) + 1, page))


def setup_title(info):
    if info["codepage"] == 950:
        return TITLE_SETUP_BIG5
    return TITLE_SETUP3264 if info["major"] >= 6 and info["wow64"] else TITLE_SETUP32


def has_buttons(shot):
    # The bottom edge of the left button's raised frame is black; the
    # progress page has no buttons.
    return shot.pixel(90, 270) == (0, 0, 0)


class WalkError(gui.GuiError):
    pass


def skin_dialog_title(info):
    return SKIN_DIALOG_BIG5 if info["codepage"] == 950 else SKIN_DIALOG


def close_skin_dialog(session, info, clear_boxes, until):
    """Waits for the skin and window-mode dialog, answering the message boxes
    that come first, and leaves it with Enter (its default button "确定")."""
    title = "^%s$" % skin_dialog_title(info)
    pressed = False
    while time.monotonic() < until:
        clear_boxes()
        # A window that is going away has no title any more.
        shown = [w for w in session.windows(title) if w.title]
        if shown:
            try:
                session.click(shown[0], 3, 3)  # makes it the active window
                session.key(shown[0], "Return")
                pressed = True
            except gui.GuiError:
                pass
        elif pressed:
            return
        elif not session.started.running():
            break
        time.sleep(0.5)
    raise WalkError("the skin and window-mode dialog did not come and go")


def walk(prefix, display, shots, address=ADDRESS, timeout=240):
    """Walks the setup window in `prefix` from the welcome page to its end:
    welcome, options (types `address`), install path, the install (every
    message box answered with its default button), on 64-bit Windows the
    progress page and the last page, two clicks on "确 定 退 出", the end
    message.  Saves a screenshot of each page into `shots`.  Returns a
    record of the walk; raises WalkError naming the step that failed."""
    info = prefix.info
    session = gui.Session(prefix, display)
    record = {"title": None, "shots": {}, "steps": []}
    deadline = time.monotonic() + timeout
    step = "start"

    def clear_boxes(keep=None):
        """Answers every open message box with its default button, except
        one that says `keep`.  (Moving a box aside with X calls would leave
        Wine thinking it still covers the window: the page behind it would
        stay unpainted.)"""
        for box, box_window in session.shown_boxes():
            if keep and box.says(keep):
                continue
            session.answer(box, box_window, "ok")

    def page(name, differs_from=None, wanted=None, within=30):
        """Waits up to `within` seconds for the page (a settled picture that
        `wanted` accepts), answering the boxes that come meanwhile; keeps its
        screenshot."""
        until = min(deadline, time.monotonic() + within)
        while True:
            if time.monotonic() > until:
                raise WalkError("no %s page within %d s" % (name, within))
            if not session.started.running():
                raise WalkError("the setup ended before the %s page" % name)
            clear_boxes()
            shot = session.settled_screenshot(window, shot_path(shots, name), differs_from=differs_from,
                                              timeout=max(5, until - time.monotonic()))
            # A box that came up meanwhile may cover part of the page.
            if session.open_boxes():
                continue
            if wanted is None or wanted(shot):
                record["shots"][name] = shot_path(shots, name)
                record["steps"].append(name)
                return shot
            time.sleep(0.2)

    try:
        session.start(CONFIG["setup"], [], name="window", timeout=timeout + 60)
        step = "the setup window appears"
        window = session.find_window("^%s" % setup_title(info), timeout=60)
        record["title"] = window.title
        record["geometry"] = session.geometry(window)

        step = "the welcome page"
        welcome = page("welcome")
        step = "the options page after the first 确 定 安 装"
        session.click(window, *LEFT_BUTTON)
        options = page("options", differs_from=welcome)
        step = "typing the web address"
        session.click(window, *ADDRESS_FIELD)
        session.type_text(window, address)
        record["steps"].pop()
        options = page("options", differs_from=options)
        step = "the install-path page after the second 确 定 安 装"
        session.click(window, *LEFT_BUTTON)
        page("install-path", differs_from=options)

        step = "the install after the third 确 定 安 装"
        # The registration program's message would cover the progress page,
        # which is shown for 1.6 s only.
        session.hold_behind_boxes()
        session.click(window, *LEFT_BUTTON)
        step = "确定 (Enter) on the skin and window-mode dialog after the install"
        close_skin_dialog(session, info, clear_boxes, min(deadline, time.monotonic() + timeout))
        if info["major"] >= 6 and info["wow64"]:
            page("progress", wanted=lambda shot: not has_buttons(shot), within=timeout)
            step = "the last page after the timer"
            page("last", wanted=has_buttons)
            session.release()
            step = "two clicks on 确 定 退 出"
            session.click(window, *LEFT_BUTTON)
            time.sleep(0.5)
            session.click(window, *LEFT_BUTTON)

        step = "the end message"
        while True:
            clear_boxes(keep=MSG_DONE)
            ending = [(b, w) for b, w in session.shown_boxes() if b.says(MSG_DONE)]
            if ending:
                session.answer(ending[0][0], ending[0][1], "ok")
                break
            if not session.started.running():
                break
            if time.monotonic() > deadline:
                raise WalkError("no end message within %d s" % timeout)
            time.sleep(0.3)

        step = "the end of every process"
        # The registration program may still show its message.
        while session.started.running() or session.shown_boxes():
            clear_boxes()
            if time.monotonic() > deadline + 60:
                raise WalkError("processes still running after the end message")
            time.sleep(0.3)
        record["result"] = session.wait_exit(60)
        record["answered"] = [[box.title, box.text, how] for box, how in session.answered]
        return record
    except Exception as e:
        raise WalkError("%s: %s (screenshots so far: %s)" % (step, e, shots)) from e
    finally:
        session.close()


def walk_prefix():
    path = os.path.join(variant_dir(), "walk")
    if not os.path.exists(os.path.join(path, "vorn-full.json")):
        raise unittest.SkipTest("the walk did not run (wine.%s.gui.walk)" % CONFIG["variant"])
    with open(os.path.join(path, "vorn-full.json")) as f:
        return winelib.Prefix(path), json.load(f)


class Walk(Scenario):
    """The fixture: the whole walk in a seeded clone, kept for the others."""

    def test_walk(self):
        prefix = fresh_clone("walk")
        prefix.import_reg({"HKEY_LOCAL_MACHINE\\" + view(HKLM_POST_PLATFORM): test_full.SEED_POST_PLATFORM})
        before = Snapshot(prefix)
        shots = shots_dir()
        for name in os.listdir(shots) if os.path.isdir(shots) else []:
            os.remove(os.path.join(shots, name))
        with gui.Display(os.path.join(prefix.path, "vorn-xvfb.log")) as display:
            record = walk(prefix, display, shots)
        result = record.pop("result")
        record.update({"result": result.saved_path, "changes": Snapshot(prefix).changes(before),
                       "address": ADDRESS})
        with open(os.path.join(prefix.path, "vorn-full.json"), "w") as f:
            json.dump(record, f, ensure_ascii=False, indent=1)
        print(result.describe())
        print("screenshots: %s" % shots)
        expected = list(PAGES) if self.is64() else list(PAGES[:3])
        self.assertEqual(record["steps"], expected, "pages passed")


class WalkScenario(Scenario):
    @classmethod
    def setUpClass(cls):
        cls.prefix, cls.saved = walk_prefix()
        cls.result = winelib.RunResult.load(cls.saved["result"])

    def shot(self, page):
        path = self.saved["shots"].get(page)
        if not path:
            self.fail("the walk took no picture of the %s page" % page)
        return gui.Image.load(path)


class Pages(WalkScenario):
    """Title, window size and the pages' pixels."""

    def test_title_and_client_size(self):
        self.assertEqual(self.saved["title"], setup_title(self.info()))
        self.assertEqual(tuple(self.saved["geometry"][2:]), (gui.CLIENT_WIDTH, gui.CLIENT_HEIGHT))

    def assertRows(self, shot, columns, rows, colour):
        wrong = ["(%d,%d) %r, expected %r" % (x, y, shot.pixel(x, y), colour(y))
                 for x in columns for y in rows if shot.pixel(x, y) != colour(y)]
        self.assertEqual(wrong, [], "gradient rows")

    def test_welcome_gradient_below_the_picture(self):
        def welcome(y):
            return (0, (2 * y - 112) % 256, 250 - 140 * y // 310)
        self.assertEqual([welcome(y) for y in (0, 56, 190)], [(0, 144, 250), (0, 0, 225), (0, 12, 165)])
        # x 20 and 385: left of the texts and buttons, right of them.
        self.assertRows(self.shot("welcome"), (20, 385), (190, 200, 230, 244, 271, 284), welcome)

    def test_common_gradient(self):
        def common(y):
            return (150 * y // 310, 255 * y // 310, 250 - 150 * y // 310)
        self.assertEqual([common(y) for y in (0, 100, 200)], [(0, 0, 250), (48, 82, 202), (96, 164, 154)])
        # x 5 is left of every text and frame; at x 390 the headings' shadows
        # can reach the edge (rows 20 to 70).
        for page in ("options", "install-path"):
            self.assertRows(self.shot(page), (5,), (0, 50, 100, 150, 200, 240, 284), common)
            self.assertRows(self.shot(page), (390,), (0, 100, 200, 240, 284), common)

    def test_welcome_picture_is_the_top_of_tavk1(self):
        picture = gui.bmp_pixels(test_full.payload_members()["tavk1.bmp"])
        self.assertEqual((len(picture[0]), len(picture)), (401, 310))
        shot = self.shot("welcome")

        def under_text(x, y):
            # "7.7 版" at (220, 100) and the line at (10, 165) are drawn over it.
            return (210 <= x <= 290 and 95 <= y <= 128) or (5 <= x <= 260 and y >= 160)
        wrong = [(x, y) for y in range(190) for x in range(gui.CLIENT_WIDTH)
                 if not under_text(x, y) and shot.pixel(x, y) != picture[y][x]]
        self.assertEqual(len(wrong), 0, "pixels that differ from tavk1.bmp, first: %r" % wrong[:5])
        # The texts over the picture are there.
        self.assertNotEqual([shot.pixel(x, y) for y in range(160, 190) for x in range(10, 200)],
                            [picture[y][x] for y in range(160, 190) for x in range(10, 200)])


class WalkOutcome(test_full.Outcome):
    """Exit code, the started programs and the message boxes of the walk."""
    PREFIX = "walk"

    def test_message_boxes(self):
        boxes = self.result.message_boxes
        setup = [b for b in boxes if b.pid not in self.child_pids()]
        self.assertEqual([(b.kind, b.title, b.text) for b in setup], [("W", TITLE_VORN, MSG_DONE)],
                         "the setup shows the end message alone")
        children = [b for b in boxes if b.pid in self.child_pids()]
        self.assertEqual(len(children), 1 if self.is64() else 0, "the registration program's message")

    def test_last_page_activates_the_registered_layout(self):
        """Every paint of the last page asks for the layout the install
        registered, for the whole process (KLF_SETFORPROCESS).  Wine 8 refuses
        that flag, so the answer is not judged."""
        own = [c for c in self.result.calls_to("imm32.ImmInstallIMEW") if c.pid not in self.child_pids()]
        calls = [c for c in self.result.calls_to("user32.ActivateKeyboardLayout") if c.pid not in self.child_pids()]
        if not self.is64():
            self.assertEqual(calls, [], "no last page, no activation")
            return
        self.assertGreaterEqual(len(own), 1)
        self.assertGreaterEqual(len(calls), 1, "the last page activated nothing")
        self.assertEqual({(c.args[0], c.args[1]) for c in calls}, {(own[0].retval, 0x100)})


def settings_record(shipped, codepage, window_mode=1):
    """The shipped settings record as the window rewrites it after the install."""
    record = bytearray(shipped)
    if codepage == 950:
        record[15] = 1
    record[62] = record[63] = record[54] = 0
    record[1] = record[43] = record[36] = 1
    record[0], record[21] = {2: (1, 0), 3: (4, 1), 4: (3, 1)}.get(window_mode, (0, 0))
    return bytes(record)


class WalkFiles(test_full.Files):
    PREFIX = "walk"
    test_payload_has_88_members = None  # the payload is the silent install's concern

    def vonetsj(self):
        return test_full.vonetsj(self.saved["address"])

    def expected_files(self):
        # The window also rewrites the settings record and writes the install
        # stamp; "确定" on the skin dialog keeps its first skin, which is unpacked.
        expected = super().expected_files()
        expected["voszsj43.voh"] = settings_record(self.members["voszsj43.voh"], self.info()["codepage"])
        expected["install.voh"] = (self.installed("install.voh") if self.prefix.exists(DEFAULT_DIR + "install.voh")
                                   else b"a decimal tick count")
        with open(CONFIG["payload"], "rb") as f:
            by_bytes = {m.raw_name: m.data for m in winelib.read_voz(f.read())}
        for member in winelib.read_voz(by_bytes["冷色瓷面.voz".encode("gbk")]):
            expected[member.name] = member.data
        return expected

    def test_install_stamp(self):
        self.assertRegex(self.installed("install.voh").decode("ascii"), r"^-?[0-9]+$")


class WalkSystemFiles(test_full.SystemFiles):
    PREFIX = "walk"


class WalkRegistry(test_full.Registry):
    PREFIX = "walk"


class Abandon(Scenario):
    """"放 弃 退 出" on the welcome page, after a click beside the buttons."""
    NAME = "abandon"

    @classmethod
    def setUpClass(cls):
        cls.prefix = fresh_clone(cls.NAME)
        with gui.Display(os.path.join(cls.prefix.path, "vorn-xvfb.log")) as display:
            session = gui.Session(cls.prefix, display)
            try:
                session.start(CONFIG["setup"], [], name=cls.NAME, timeout=120)
                window = session.find_window("^%s" % setup_title(cls.info()), timeout=60)
                welcome = session.settled_screenshot(window, os.path.join(cls.prefix.path, "vorn-welcome.png"))
                cls.leave(session, window, welcome)
                cls.result = session.wait_exit(30)
            finally:
                session.close()

    @classmethod
    def leave(cls, session, window, welcome):
        session.click(window, 200, 257, button=3)  # between the buttons: nothing
        time.sleep(1)
        cls.stayed = session.started.running()
        session.click(window, *RIGHT_BUTTON)

    def test_ends_with_exit_code_0(self):
        self.assertTrue(self.stayed, "the run ended too early")
        self.assertCleanRun(self.result, codes=(0,))
        self.assertEqual(self.result.message_boxes, [])

    def test_nothing_installed(self):
        self.assertFalse(self.prefix.exists(DEFAULT_DIR), "the installation directory exists")
        self.assertEqual(self.result.calls_to("kernel32.WinExec"), [])


class CloseBox(Abandon):
    """The close box on the options page, with an address typed (Alt+F4: with
    no window manager there is no caption to click)."""
    NAME = "close"

    @classmethod
    def leave(cls, session, window, welcome):
        session.click(window, *LEFT_BUTTON)
        session.settled_screenshot(window, os.path.join(cls.prefix.path, "vorn-options.png"), differs_from=welcome)
        session.click(window, *ADDRESS_FIELD)
        session.type_text(window, ADDRESS)
        cls.stayed = session.started.running()
        session.key(window, "alt+F4")


if __name__ == "__main__":
    unittest.main()
