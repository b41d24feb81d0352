"""What the Wine scenarios share: the configuration ctest passes in, the texts
the setup shows, and the expectations that depend on the variant."""

import os
import re
import time
import unittest

import winelib

# Filled by run.py from its command line.
CONFIG = {
    "root": None,        # build/wine: one directory per variant
    "variant": None,
    "setup": None,       # vornsetup64.exe (with the payload)
    "setupw64": None,    # setupw64.exe
    "contract": None,    # contract64.exe
    "payload": None,     # payload.voz the setup carries
    "voz": None,         # the native archive tool
    "shots": None,       # screenshots of the setup window: one directory per variant
}

TITLE_VORN = "智能砚舟"
MSG_REGISTERED = "智能砚舟已安装成功，如不能使用，请重新启动计算机！"
MSG_NEED_ADMIN = ("本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，"
                  "在弹出菜单中点击“以管理员身份运行”）")
LAYOUT_TEXT = "智能砚舟输入平台  7.7"
LAYOUT_TEXT_BIG5 = "智能硯舟輸入平台  7.7"
DEFAULT_DIR = "C:\\Program Files\\vornhu\\"
SYSTEM_DIR = "C:\\windows\\system32"
WOW_DIR = "C:\\windows\\syswow64"

HKLM_UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
HKLM_RUN = r"Software\Microsoft\Windows\CurrentVersion\Run"
HKLM_POST_PLATFORM = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings\User Agent\Post Platform"
HKLM_LAYOUTS = r"System\CurrentControlSet\Control\Keyboard Layouts"


def program_bits():
    """32 for the shipping setup (vornsetup.exe), 64 for the x64 build."""
    return winelib.pe_bits(CONFIG["setup"])


# Where the setup starts the 64-bit registration program: a directory of its
# own in the Windows Temp directory.
REGISTRATION_EXE = re.compile(r"^C:\\windows\\temp\\vornsetup\.\d+\.\d+\.\d+\\setupw64\.exe$", re.I)

# Where an install writes, besides the Wine prefix's own working places: the
# installation directory, the drive-level record, the Windows-directory
# record, and the program files of the system directories.
SETUP_PLACES = ("program files/vornhu", "vornhu", "windows/vornpath.voh", "windows/system32/vornhu4.ime",
                "windows/system32/vorndel.exe", "windows/system32/vorntavk.exe", "windows/system32/vornuser.exe",
                "windows/syswow64/vornhu4.ime",
                "windows/syswow64/vorntavk.exe")


def outside_setup_places(changes):
    places = SETUP_PLACES + (program_name(),)
    return [p for p in changes if not any(p.lower() == a or p.lower().startswith(a + "/") for a in places)]


def registration_starts(result):
    """The CreateProcessA calls that started the 64-bit registration program."""
    return [c for c in result.calls_to("kernel32.CreateProcessA") if "setupw64" in (c.text(0) or "").lower()]


def run_command(info):
    """The Run value: the companion's copy in the 32-bit system directory
    (the sample companion is a 32-bit program)."""
    return '"%s\\vorntavk.exe" vo' % (WOW_DIR if info["major"] >= 6 and info["wow64"] else SYSTEM_DIR)


def program_name():
    """The setup's file name, as the runs copy it to C:\\."""
    return os.path.basename(CONFIG["setup"]).lower()


def view(path):
    """A key under HKLM\\Software as the setup's own process reaches it: a
    32-bit program on 64-bit Windows writes the 32-bit view (Wow6432Node),
    which a saved hive shows as such except for the keys Windows shares."""
    if program_bits() == 32 and winelib.VARIANTS[CONFIG["variant"]]["wow64"]:
        return path.replace("Software\\", "Software\\Wow6432Node\\", 1)
    return path


def variant_dir(variant=None):
    return os.path.join(CONFIG["root"], variant or CONFIG["variant"])


def base_prefix(variant=None):
    path = os.path.join(variant_dir(variant), "prefix")
    if not os.path.exists(os.path.join(path, "vorn-variant.json")):
        raise unittest.SkipTest("no booted prefix at %s (the boot test failed or did not run)" % path)
    return winelib.Prefix(path)


def run_beside_holder(prefix, holder_args, setup_args, name, ready=None):
    """Runs the setup while imeholder64.exe (`holder_args`) runs in the
    prefix, once its output says `ready` (or after a second); ends the holder
    afterwards.  The setup's result and the holder's output."""
    holder = prefix.start(os.path.join(os.path.dirname(CONFIG["setup"]), "imeholder64.exe"), holder_args,
                          name=name + "-holder", timeout=400)
    for _ in range(120 if ready else 2):
        if ready and ready in open(holder.stem + ".out", "rb").read():
            break
        time.sleep(0.5)
    result = prefix.run(CONFIG["setup"], setup_args, name=name, timeout=240, wait=False)
    os.killpg(holder.proc.pid, 9)
    holder.proc.wait()
    prefix.wait_server()
    with open(holder.stem + ".out", "rb") as f:
        return result, f.read()


def fresh_clone(name):
    return base_prefix().clone(os.path.join(variant_dir(), name))


class Scenario(unittest.TestCase):
    """A scenario: one clone of the variant prefix, runs in setUpClass, the
    checks as test methods."""

    @classmethod
    def info(cls):
        return winelib.VARIANTS[CONFIG["variant"]]

    @classmethod
    def is64(cls):
        # The setup's own rule: Vista or later with a syswow64 directory.
        return cls.info()["major"] >= 6 and cls.info()["wow64"]

    @classmethod
    def vista_or_later(cls):
        return cls.info()["major"] >= 6

    def assertCleanRun(self, result, codes=(0,)):
        self.assertFalse(result.crashed, "the program crashed:\n" + result.describe())
        self.assertIn(result.exit_code, codes, "unexpected exit code:\n" + result.describe())
        if result.log is not None:
            # Wine that cannot start a 32-bit program exits 0 and says
            # nothing: only the program's own log shows that it ran.
            self.assertIn("(32-bit program)", result.log.split("\n", 1)[0], "no start line of the 32-bit setup in "
                          "its log:\n" + result.describe())
            ends = re.findall(r"^\S+ \S+ \[%s\] end: exit code (\d+) " % result.log_pid(), result.log, re.M)
            self.assertEqual([int(c) & 0xFF for c in ends], [result.exit_code], "the log's end line")

    def assertReadableBoxes(self, result):
        """A system of another code page reads GBK as mojibake: there no
        narrow message box may carry a character beyond ASCII."""
        if self.info()["codepage"] == 936:
            return
        narrow = [b for b in result.message_boxes
                  if b.kind == "A" and any(ord(c) > 127 for c in (b.text or "") + (b.title or ""))]
        self.assertEqual(narrow, [], "narrow boxes with non-ASCII text:\n" + result.describe())

    def narrow_kind(self):
        """How the setup shows its GBK texts: MessageBoxA on 936, else MessageBoxW."""
        return "A" if self.info()["codepage"] == 936 else "W"

    def assertNoAdminMessage(self, result):
        boxes = [b for b in result.message_boxes if b.says(MSG_NEED_ADMIN)]
        self.assertEqual(boxes, [], "the administrator check failed:\n" + result.describe())

    def assertRecord(self, prefix, win_path, expected):
        self.assertTrue(prefix.exists(win_path), "%s is missing" % win_path)
        self.assertEqual(prefix.read(win_path), expected.encode("gbk"), "content of %s" % win_path)

    def assertRegistered(self, result, registered):
        """`registered`: whether the 64-bit registration mode ran (one success
        message, one ImmInstallIMEW on system32\\vornhu4.ime)."""
        boxes = result.message_boxes
        calls = result.calls_to("imm32.ImmInstallIMEW")
        if not registered:
            self.assertEqual([b for b in boxes if b.says(MSG_REGISTERED)], [], result.describe())
            self.assertEqual(calls, [], "ImmInstallIMEW called outside the registration mode")
            return
        self.assertEqual(len(boxes), 1, "expected exactly the success message:\n" + result.describe())
        box = boxes[0]
        self.assertEqual(box.kind, "W", "the success message goes through MessageBoxW")
        self.assertTrue(box.says(MSG_REGISTERED), repr(box))
        self.assertEqual(box.title, TITLE_VORN)
        self.assertEqual(box.flags, 0, "MB_OK, no owner")
        self.assertEqual(box.call.args[0], 0, "no owner window")
        self.assertEqual(len(calls), 1, "ImmInstallIMEW calls: %d" % len(calls))
        self.assertEqual(calls[0].text(0).lower(), (SYSTEM_DIR + "\\vornhu4.ime").lower())
        self.assertEqual(calls[0].text(1), LAYOUT_TEXT_BIG5 if self.info()["codepage"] == 950 else LAYOUT_TEXT)


class Snapshot:
    """The files and directories under drive_c, to tell what a run added or
    changed.  Wine's own working places are left out."""

    WINE_OWN = ("windows/temp/", "windows/logs/", "users/", "programdata/", "windows/inf/",
                "windows/system32/wbem/", "windows/installer/")

    def __init__(self, prefix):
        self.entries = {}
        top = prefix.drive_dir("c")
        for root, dirs, files in os.walk(top):
            for name in dirs + files:
                path = os.path.join(root, name)
                rel = os.path.relpath(path, top).replace(os.sep, "/")
                if any((rel.lower() + "/").startswith(w) for w in self.WINE_OWN):
                    continue
                st = os.lstat(path)
                self.entries[rel] = (st.st_size, st.st_mtime_ns) if name in files else None

    def changes(self, before):
        """Paths (relative to drive_c, "/"-separated) added or modified."""
        return sorted(p for p, v in self.entries.items() if p not in before.entries or before.entries[p] != v)
