"""What a complete silent install leaves behind, checked against the payload
the setup carries: files, system files, registry, configuration files, the
64-bit registration it starts, and a second install over the first.

The install runs once per variant (FullInstall, a ctest fixture); the other
scenarios read its prefix, or clone it (Reinstall)."""

import json
import os
import re
import subprocess
import unittest

import winelib
from scenario import (CONFIG, DEFAULT_DIR, HKLM_LAYOUTS, HKLM_POST_PLATFORM, HKLM_RUN, HKLM_UNINSTALL,
                      LAYOUT_TEXT, LAYOUT_TEXT_BIG5, MSG_REGISTERED, REGISTRATION_EXE, SYSTEM_DIR, TITLE_VORN, WOW_DIR,
                      Scenario, Snapshot, fresh_clone, outside_setup_places, program_name, registration_starts,
                      run_command, variant_dir, view)

STUBS = ("vorn320.ime", "vorn321.ime", "vorn640.ime", "vorn641.ime")
WBPYBZ = b"VOWBPYBZ=0\0"


def vonetsj(address=""):
    """"vonetsj.dat" as the install writes it, with the organisation's address."""
    return (b"VONETURL1=\r\nVONETURL2=" + address.encode("ascii") + b"\r\nVONETTIME=1\r\nVOBJTIME=7\r\n"
            b"VOWYTIME=3\r\nVOSJOFF=0\r\nVONETTIME0=0\r\nVOBJTIME0=0\r\nVONEONE=1\r\n")


VONETSJ = vonetsj()
# Seeded before the install: two tokens of earlier versions and a value the
# setup must leave alone.
SEED_POST_PLATFORM = {"tavk6300": "", "tavk7500": "", "VornUnrelated": "keep"}
# The program may name icacls.exe bare or by its full, quoted system path.
ICACLS = re.compile(r'^(icacls\.exe|"C:\\windows\\system32\\icacls\.exe") "C:\\Program Files\\vornhu" '
                    r'/SetIntegrityLevel Level: L$', re.I)


def payload_members(codepage=936):
    """Member bytes by the name the installed file gets: the stored GBK bytes
    go through the narrow file calls, so a Big5 system (code page 950) reads
    "冷色瓷面.voz" as "濮伎棟醱.voz", and the file carries that name."""
    path = CONFIG["payload"]
    if not path or not os.path.exists(path):
        raise unittest.SkipTest("no payload archive at %s" % path)
    with open(path, "rb") as f:
        members = winelib.read_voz(f.read())
    codec = "cp950" if codepage == 950 else "gbk"
    return {m.raw_name.decode(codec, "replace"): m.data for m in members}


def full_prefix(name="full"):
    path = os.path.join(variant_dir(), name)
    result = os.path.join(path, "vorn-full.json")
    if not os.path.exists(result):
        raise unittest.SkipTest("the %s install did not run (%s)" % (name, path))
    with open(result) as f:
        saved = json.load(f)
    return winelib.Prefix(path), winelib.RunResult.load(saved["result"]), saved


class FullInstall(Scenario):
    """The fixture: seeds the prefix, runs `setvosrf32`, keeps the result."""

    def test_install(self):
        prefix = fresh_clone("full")
        prefix.import_reg({"HKEY_LOCAL_MACHINE\\" + view(HKLM_POST_PLATFORM): SEED_POST_PLATFORM})
        before = Snapshot(prefix)
        result = prefix.run(CONFIG["setup"], ["setvosrf32"], name="install", timeout=240)
        saved = {"result": result.saved_path, "changes": Snapshot(prefix).changes(before)}
        with open(os.path.join(prefix.path, "vorn-full.json"), "w") as f:
            json.dump(saved, f)
        # Whatever the outcome, the other scenarios judge it; this one only
        # fails when there is nothing to judge (no run, or a timeout).
        print(result.describe())


class FullScenario(Scenario):
    PREFIX = "full"  # the clone whose install is judged

    @classmethod
    def setUpClass(cls):
        cls.prefix, cls.result, cls.saved = full_prefix(cls.PREFIX)
        cls.members = payload_members(cls.info()["codepage"])

    def installed(self, name):
        return self.prefix.read(DEFAULT_DIR + name)


class Outcome(FullScenario):
    """Exit code, message boxes, started processes."""

    def test_exit_code_0(self):
        self.assertCleanRun(self.result, codes=(0,))

    def registration_start(self):
        return registration_starts(self.result)

    def child_pids(self):
        # The started program is the one that shows the success message.
        return {b.pid for b in self.result.message_boxes if b.says(MSG_REGISTERED)}

    def test_message_boxes(self):
        boxes = self.result.message_boxes
        if not self.is64():
            self.assertEqual(boxes, [], "a silent install on this system shows nothing")
            return
        # The only message is the one of the 64-bit registration it started.
        self.assertEqual(len(boxes), 1, "boxes: %r" % boxes)
        self.assertTrue(boxes[0].says(MSG_REGISTERED), repr(boxes[0]))
        self.assertEqual((boxes[0].kind, boxes[0].title), ("W", TITLE_VORN))
        setup_pids = {c.pid for c in self.registration_start()}
        self.assertTrue(setup_pids, "the setup started no registration program")
        self.assertNotIn(boxes[0].pid, setup_pids, "shown by the started program, not by the setup")

    def test_registration_program_started_from_a_directory_of_its_own(self):
        started = self.registration_start()
        if not self.is64():
            self.assertEqual(started, [])
            return
        self.assertEqual(len(started), 1)
        program = started[0].text(0)
        self.assertRegex(program, REGISTRATION_EXE)
        self.assertEqual(started[0].text(1), '"%s" regvo32=%s' % (program, DEFAULT_DIR))
        self.assertTrue(started[0].retval, "CreateProcessA failed")
        # Waited for and removed before the setup ended.
        self.assertFalse(self.prefix.exists(program.rsplit("\\", 1)[0]), "its directory stays")
        # It registered the input method from its own process.
        regs = [c for c in self.result.calls_to("imm32.ImmInstallIMEW") if c.pid in self.child_pids()]
        self.assertEqual(len(regs), 1, "ImmInstallIMEW of the started program")
        self.assertEqual(regs[0].text(0).lower(), (SYSTEM_DIR + "\\vornhu4.ime").lower())

    def test_low_integrity_command(self):
        icacls = [c.text(0) for c in self.result.calls_to("kernel32.WinExec") if "icacls" in (c.text(0) or "")]
        if self.vista_or_later():
            self.assertGreaterEqual(len(icacls), 1)
            self.assertEqual([c for c in icacls if not ICACLS.match(c)], [])
        else:
            self.assertEqual(icacls, [])

    def test_layout_registered_through_imm(self):
        regs = [c for c in self.result.calls_to("imm32.ImmInstallIMEW") if c.pid not in self.child_pids()]
        self.assertGreaterEqual(len(regs), 1, "the install registers the layout")
        self.assertEqual(regs[0].text(0).lower(), (SYSTEM_DIR + "\\vornhu4.ime").lower())
        self.assertEqual(regs[0].text(1), LAYOUT_TEXT_BIG5 if self.info()["codepage"] == 950 else LAYOUT_TEXT)


class Files(FullScenario):
    """The installation directory, byte for byte."""

    def expected_files(self):
        m = self.members
        expected = {}
        for name, data in m.items():
            if name in STUBS:
                continue
            expected[name] = data
        expected["setupw64.exe"] = winelib.patch_version_text(m["setupw64.exe"])
        expected["vorncyzk.bak"] = winelib.phrase_list_with_trailer(m["vorncyzk.bak"])
        expected["vorncyzk.dat"] = expected["vorncyzk.bak"]
        expected["vornpyck.dat"] = m["vornpyck.bak"]
        expected["vornhu32.ime"] = m["vornhu4.ime"]
        if self.vista_or_later():
            del expected["vorntav6.exe"]
            expected["vorntavk.exe"] = m["vorntav6.exe"]
        expected["wbpybz.voh"] = WBPYBZ
        expected["vonetsj.dat"] = self.vonetsj()
        return expected

    def vonetsj(self):
        return VONETSJ

    def test_payload_has_88_members(self):
        self.assertEqual(len(self.members), 88)
        voz = CONFIG["voz"]
        if not voz or not os.path.exists(voz):
            return
        # The archive tool's listing agrees with this harness's own reader:
        # names, expanded sizes and digests.
        listing = subprocess.run([voz, "list", CONFIG["payload"]], capture_output=True, timeout=60)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        try:
            text = listing.stdout.decode("utf-8")
        except UnicodeDecodeError:
            text = listing.stdout.decode("gbk", "replace")
        listed = {}
        for line in text.splitlines():
            cols = line.split()
            if len(cols) == 4 and cols[1].isdigit() and cols[2].isdigit():
                listed[cols[0]] = (int(cols[1]), cols[3])
        with open(CONFIG["payload"], "rb") as f:
            ours = {m.name: (len(m.data), m.digest) for m in winelib.read_voz(f.read())}
        self.assertEqual(listed, ours)

    def test_every_file_present(self):
        have = set(n for n in self.prefix.listdir(DEFAULT_DIR))
        missing = sorted(set(self.expected_files()) - have)
        self.assertEqual(missing, [], "missing from the installation directory")

    def test_no_stray_files(self):
        have = set(self.prefix.listdir(DEFAULT_DIR)) - {"filer"}
        extra = sorted(have - set(self.expected_files()))
        self.assertEqual(extra, [], "stubs, moved-aside files or other leftovers")

    def test_bytes(self):
        wrong = []
        for name, data in sorted(self.expected_files().items()):
            if self.prefix.exists(DEFAULT_DIR + name) and self.installed(name) != data:
                wrong.append("%s (%d bytes, expected %d)" % (name, len(self.installed(name)), len(data)))
        self.assertEqual(wrong, [], "files whose bytes differ")

    def test_phrase_list_trailer(self):
        dat = self.installed("vorncyzk.dat")
        self.assertEqual(len(dat), len(self.members["vorncyzk.bak"]) + 12)
        self.assertEqual(dat[-12:-8], b"VORN")

    def test_companion_program_variant(self):
        if self.vista_or_later():
            self.assertEqual(self.installed("vorntavk.exe"), self.members["vorntav6.exe"])
            self.assertFalse(self.prefix.exists(DEFAULT_DIR + "vorntav6.exe"))
        else:
            self.assertEqual(self.installed("vorntavk.exe"), self.members["vorntavk.exe"])
            self.assertEqual(self.installed("vorntav6.exe"), self.members["vorntav6.exe"])

    def test_configuration_files(self):
        self.assertEqual(self.installed("wbpybz.voh"), WBPYBZ)
        self.assertEqual(len(VONETSJ), 110)
        self.assertEqual(self.installed("vonetsj.dat"), self.vonetsj())


class SystemFiles(FullScenario):
    """The input method and uninstaller in the system (and WOW64) directory."""

    def system_file(self, directory, name):
        path = "%s\\%s" % (directory, name)
        self.assertTrue(self.prefix.exists(path), "%s is missing" % path)
        return self.prefix.read(path)

    def test_input_method(self):
        if self.is64():
            self.assertEqual(self.system_file(SYSTEM_DIR, "vornhu4.ime"), self.members["vornhu64.ime"])
            self.assertEqual(self.system_file(WOW_DIR, "vornhu4.ime"), self.members["vornhu4.ime"],
                             "syswow64 gets vornhu32.ime, the copy of vornhu4.ime")
        else:
            # vornhu32.ime (Vista and later) and vornhu4.ime (XP) hold the same bytes.
            self.assertEqual(self.system_file(SYSTEM_DIR, "vornhu4.ime"), self.members["vornhu4.ime"])
            if self.info()["wow64"]:
                self.assertFalse(self.prefix.exists(WOW_DIR + "\\vornhu4.ime"), "XP takes the 32-bit road")

    def test_uninstaller(self):
        source = "voqdel64.exe" if self.is64() else "vorndel.exe"
        self.assertEqual(self.system_file(SYSTEM_DIR, "vorndel.exe"), self.members[source])

    def test_nothing_moved_aside(self):
        for directory in (SYSTEM_DIR, WOW_DIR):
            for name in ("vornhu2.ime", "vornh12.ime"):
                self.assertFalse(self.prefix.exists("%s\\%s" % (directory, name)), name)

    def test_nothing_written_elsewhere(self):
        self.assertEqual(outside_setup_places(self.saved["changes"]), [])


class Registry(FullScenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.hklm = cls.prefix.registry("HKLM")

    def test_keyboard_layout_entry(self):
        # Wine's ImmInstallIMEW makes the entry itself ("Ime File" holds the
        # full path); the manual path writes "IME file" = "VORNHU4.IME".
        # Either will do, as long as one entry names our file and text.
        texts = {LAYOUT_TEXT}
        if self.info()["codepage"] == 950:
            texts.add(LAYOUT_TEXT_BIG5)
        found = []
        for name in self.hklm.subkeys(HKLM_LAYOUTS):
            key = self.hklm.key(HKLM_LAYOUTS + "\\" + name)
            ime = key.get("Ime File")
            if ime is None or ime.value.replace("/", "\\").split("\\")[-1].lower() != "vornhu4.ime":
                continue
            found.append((name, key.get("Layout Text").value if key.get("Layout Text") else None))
        self.assertTrue(found, "no keyboard layout names vornhu4.ime")
        self.assertTrue(all(text in texts for _, text in found), "layout texts: %r" % found)

    def test_uninstall_entry(self):
        key = view(HKLM_UNINSTALL) + "\\vornqwb"
        self.assertIsNotNone(self.hklm.key(key), "no uninstall entry")
        self.assertEqual(self.hklm.value(key, "DisplayName"), "砚舟五笔")
        self.assertEqual(self.hklm.value(key, "UninstallString"), SYSTEM_DIR + "\\vorndel.exe")
        self.assertEqual(self.hklm.key(key).get("DisplayName").type, winelib.REG_SZ)
        # What detection rules read: the setup's version, its maker, the
        # payload's expanded size in KiB.
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "setup", "version.h")) as f:
            version = ".".join(re.findall(r"#define VORN_VERSION_[A-Z]+ (\d+)", f.read()))
        self.assertEqual(self.hklm.value(key, "DisplayVersion"), version)
        self.assertEqual(self.hklm.value(key, "Publisher"), "砚舟软件")
        size = self.hklm.key(key).get("EstimatedSize")
        self.assertEqual(size.type, winelib.REG_DWORD)
        self.assertEqual(size.value, (sum(len(d) for d in self.members.values()) + 1023) // 1024)

    def test_run_value(self):
        value = self.hklm.key(view(HKLM_RUN)).get("voyzsjgl")
        self.assertIsNotNone(value, "no Run value voyzsjgl")
        self.assertEqual(value.type, winelib.REG_SZ)
        self.assertEqual(value.value, run_command(self.info()))

    def test_browser_token(self):
        key = self.hklm.key(view(HKLM_POST_PLATFORM))
        self.assertIsNotNone(key)
        names = sorted(v.name for v in key.values.values())
        self.assertEqual(names, sorted(["VornUnrelated", "tavk7700"]))
        token = key.get("tavk7700")
        self.assertEqual((token.type, token.data), (winelib.REG_SZ, b""), "an empty REG_SZ of size 0")
        self.assertEqual(key.get("VornUnrelated").value, "keep")

    def test_only_its_own_view(self):
        # Each build writes the registry view of its own process: nothing of
        # ours lands in the other one (unless Windows shares the key).
        for path in (HKLM_UNINSTALL + "\\vornqwb", HKLM_RUN, HKLM_POST_PLATFORM):
            other = path.replace("Software\\", "Software\\Wow6432Node\\", 1) if view(path) == path else path
            if self.hklm.resolve(other).lower() == self.hklm.resolve(view(path)).lower():
                continue
            key = self.hklm.key(other)
            self.assertFalse(key is not None and (key.get("voyzsjgl") or key.get("tavk7700")
                                                  or key.get("DisplayName")), other)


class Reinstall(Scenario):
    """A second silent install over the first."""

    @classmethod
    def setUpClass(cls):
        first, _, _ = full_prefix()
        cls.members = payload_members(cls.info()["codepage"])
        cls.prefix = first.clone(os.path.join(variant_dir(), "reinstall"))
        cls.result = cls.prefix.run(CONFIG["setup"], ["setvosrf32"], name="reinstall", timeout=240)
        cls.hklm = cls.prefix.registry("HKLM")

    def test_exit_code_0(self):
        self.assertCleanRun(self.result, codes=(0,))

    def test_one_uninstall_entry(self):
        ours = [n for n in self.hklm.subkeys(view(HKLM_UNINSTALL))
                if self.hklm.value(view(HKLM_UNINSTALL) + "\\" + n, "DisplayName") == "砚舟五笔"]
        self.assertEqual(ours, ["vornqwb"])

    def test_one_run_value(self):
        key = self.hklm.key(view(HKLM_RUN))
        ours = [v.name for v in key.values.values() if "vorntavk" in str(v.value).lower()]
        self.assertEqual(ours, ["voyzsjgl"])
        self.assertEqual(key.get("voyzsjgl").value, run_command(self.info()))

    def test_one_token(self):
        key = self.hklm.key(view(HKLM_POST_PLATFORM))
        self.assertEqual(sorted(v.name for v in key.values.values() if v.name.lower().startswith("tavk")),
                         ["tavk7700"])

    def test_files_still_right(self):
        expected = self.members["vornhu64.ime"] if self.is64() else self.members["vornhu4.ime"]
        self.assertEqual(self.prefix.read(SYSTEM_DIR + "\\vornhu4.ime"), expected)
        for name in STUBS:
            self.assertFalse(self.prefix.exists(DEFAULT_DIR + name), name)


if __name__ == "__main__":
    unittest.main()
