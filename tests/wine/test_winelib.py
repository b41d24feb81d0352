"""The harness's decoders, on lines and files as Wine 8 writes them.  A decoder
that misreads would make the end-to-end tests pass or fail for nothing."""

import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest
import zlib

import gui
import winelib

RELAY = r"""
0020:0024:Call user32.MessageBoxW(00000000,1400110e0 L"\667a\80fd\781a\821f\5df2\5b89\88c5\6210\529f\ff0c\5982\4e0d\80fd\4f7f\7528\ff0c\8bf7\91cd\65b0\542f\52a8\8ba1\7b97\673a\ff01",14001102e L"\667a\80fd\781a\821f",00000000) ret=140001ca3
0020:0024:Ret  user32.MessageBoxW() retval=ffffffff ret=140001ca3
0114:0118:Call user32.MessageBoxA(00000000,1400040a8 "\xb1\xbe\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xd0\xe8\xd2\xaa\xd2\xd4\xb9\xdc\xc0\xed\xd4\xb1\xc8\xa8\xcf\xde\xd4\xcb\xd0\xd0\xa3\xac\xc7\xeb\xcd\xcb\xb3\xf6\xba\xf3\xd6\xd8\xd0\xc2\xd2\xd4\xb9\xdc\xc0\xed\xd4\xb1\xc8\xa8\xcf\xde\xd4\xcb\xd0\xd0\xa1\xa3\xa3\xa8\xd4\xcb\xd0\xd0\xb7\xbd\xca\xbd\xce"...,14000409c "a\"b\\c\n",00000030) ret=140001592
010c:0110:Call KERNEL32.WinExec(140004008 "C:\\Program Files\\vornhu\\setupw64.exe regvo32=C:\\Program Files\\vornhu\\",00000005) ret=140001594
0114:0118:Ret  user32.MessageBoxA() retval=00000001 ret=140001575
010c:0110:Ret  KERNEL32.WinExec() retval=00000021 ret=140001594
0024:Call user32.MessageBoxW(00000000,140004010 L"\672c\5b89\88c5\7a0b\5e8f\9700\8981\4ee5\7ba1\7406\5458\6743\9650\8fd0\884c\ff0c\8bf7\9000\51fa\540e\91cd\65b0\4ee5\7ba1\7406\5458\6743\9650\8fd0\884c\3002\ff08\8fd0\884c\65b9\5f0f\4e3a\ff1a\7528\9f20\6807\53f3\952e\70b9\51fb\5b89\88c5\7a0b\5e8f\ff0c\5728\5f39\51fa\83dc\5355\4e2d\70b9\51fb"...,140004000 L"\667a\80fd\781a\821f",00000000) ret=14000156d
0020:0024:trace:relay:load_list L"RelayInclude" = L"user32.MessageBoxW;user32.MessageBoxA"
"""

MSG_NEED_ADMIN = ("本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，"
                  "在弹出菜单中点击“以管理员身份运行”）")


class RelayTrace(unittest.TestCase):
    def setUp(self):
        self.calls = winelib.parse_relay(RELAY)

    def test_calls_and_return_values(self):
        self.assertEqual([c.func for c in self.calls],
                         ["user32.MessageBoxW", "user32.MessageBoxA", "kernel32.WinExec", "user32.MessageBoxW"])
        self.assertEqual([c.retval for c in self.calls], [0xFFFFFFFF, 1, 0x21, None])
        self.assertEqual([c.pid for c in self.calls], ["0020", "0114", "010c", None])

    def test_wide_text(self):
        box = winelib.MessageBox(self.calls[0])
        self.assertEqual((box.kind, box.text, box.title, box.flags, box.text_cut),
                         ("W", "智能砚舟已安装成功，如不能使用，请重新启动计算机！", "智能砚舟", 0, False))
        self.assertTrue(box.says("智能砚舟已安装成功，如不能使用，请重新启动计算机！"))
        self.assertFalse(box.says("智能砚舟已安装成功"))

    def test_cut_text_matches_only_its_whole(self):
        box = winelib.MessageBox(self.calls[3])
        self.assertTrue(box.text_cut)
        self.assertTrue(box.says(MSG_NEED_ADMIN))
        self.assertFalse(box.says(MSG_NEED_ADMIN[:-1].replace("鼠标", "键盘")))

    def test_narrow_text_is_gbk_and_escapes(self):
        box = winelib.MessageBox(self.calls[1])
        self.assertEqual(box.kind, "A")
        self.assertTrue(MSG_NEED_ADMIN.startswith(box.text), box.text)
        self.assertEqual(box.title, 'a"b\\c\n')
        self.assertEqual(box.flags, 0x30)

    def test_narrow_path(self):
        self.assertEqual(self.calls[2].text(0),
                         "C:\\Program Files\\vornhu\\setupw64.exe regvo32=C:\\Program Files\\vornhu\\")
        self.assertEqual(self.calls[2].args[1], 5)

    def test_big5_for_code_page_950(self):
        calls = winelib.parse_relay('0009:Call user32.MessageBoxA(00000000,1 "\\xb4\\xbc\\xaf\\xe0",2 "x",00000000) ret=1',
                                    codepage=950)
        self.assertEqual(calls[0].text(1), "智能")

    def test_unreadable_arguments_kept(self):
        calls = winelib.parse_relay('0009:Call user32.MessageBoxW(00000000,zz)) ret=1')
        self.assertEqual(len(calls), 1)
        self.assertFalse(winelib.MessageBox(calls[0]).says(""))

    def test_saved_result_round_trip(self):
        r = winelib.RunResult("C:\\x.exe", ["a"], 0, RELAY, "", 1.0)
        with tempfile.TemporaryDirectory() as d:
            r.save(os.path.join(d, "r.json"))
            back = winelib.RunResult.load(os.path.join(d, "r.json"))
        self.assertEqual([repr(b) for b in back.message_boxes], [repr(b) for b in r.message_boxes])
        self.assertEqual(back.calls_to("kernel32.WinExec")[0].retval, 0x21)


REG = r"""WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform] 1796704565
#time=1dd86cda30dba52
"tavk7700"=hex(1):
"Other"="keep"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vornqwb] 1796704565
"DisplayName"="\x781a\x821f\x4e94\x7b14"
"UninstallString"="C:\\windows\\system32\\vorndel.exe"
"Mixed"="\x00e9\x0041b\x41c"
@="default \"quoted\""

[System\\CurrentControlSet] 1796704565
#link
"SymbolicLinkValue"=hex(6):%s

[System\\ControlSet001\\Control\\Keyboard Layouts\\e0020804] 1796704565
"Ime File"="C:\\windows\\system32\\vornhu4.ime"
"Layout Text"="\x667a\x80fd\x781a\x821f\x8f93\x5165\x5e73\x53f0  7.7"
"Count"=dword:0000002a
"Multi"=str(7):"a\0b\0"
"Blob"=hex:01,02,03,\
  04,05
"Tab"="a\tb\033c"
""" % ",".join("%02x" % b for b in "\\Registry\\Machine\\System\\ControlSet001".encode("utf-16-le"))


class RegFiles(unittest.TestCase):
    def setUp(self):
        self.reg = winelib.RegFile.parse(REG)

    def test_strings_with_escapes(self):
        key = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\vornqwb"
        self.assertEqual(self.reg.value(key, "DisplayName"), "砚舟五笔")
        self.assertEqual(self.reg.value(key, "uninstallstring"), r"C:\windows\system32\vorndel.exe")
        # \x with four digits before a hex digit, fewer otherwise.
        self.assertEqual(self.reg.value(key, "Mixed"), "\u00e9Ab\u041c")
        self.assertEqual(self.reg.value(key, ""), 'default "quoted"')

    def test_empty_string_value_keeps_size_0(self):
        v = self.reg.key(r"software\microsoft\windows\currentversion\internet settings\user agent\post platform")
        self.assertEqual((v.get("tavk7700").type, v.get("tavk7700").data), (winelib.REG_SZ, b""))
        self.assertEqual(v.get("Other").data, "keep\0".encode("utf-16-le"))

    def test_other_types(self):
        # Through the link Wine 10 saves CurrentControlSet as.
        key = r"System\CurrentControlSet\Control\Keyboard Layouts\e0020804"
        self.assertEqual(self.reg.value(key, "Layout Text"), "智能砚舟输入平台  7.7")
        self.assertEqual(self.reg.value(key, "Count"), 42)
        self.assertEqual(self.reg.value(key, "Multi"), ["a", "b"])
        self.assertEqual(self.reg.value(key, "Blob"), b"\x01\x02\x03\x04\x05")
        self.assertEqual(self.reg.value(key, "Tab"), "a\tb\x1bc")

    def test_key_known_only_from_subkeys(self):
        key = self.reg.key(r"Software\Microsoft\Windows\CurrentVersion")
        self.assertIsNotNone(key)
        self.assertEqual(key.values, {})
        self.assertIsNone(self.reg.key(r"Software\Micro"))

    def test_changes(self):
        after = winelib.RegFile.parse(REG.replace('"tavk7700"=hex(1):\n', '"tavk7701"=""\n')
                                      .replace('"Count"=dword:0000002a', '"Count"=dword:0000002b'))
        added, removed = winelib.registry_changes(self.reg, after)
        self.assertEqual(sorted((k.split("\\")[-1], v.name, v.value) for k, v in added),
                         [("Post Platform", "tavk7701", ""), ("e0020804", "Count", 43)])
        self.assertEqual([(k.split("\\")[-1], n) for k, n in removed], [("Post Platform", "tavk7700")])

    def test_subkeys(self):
        self.assertEqual(self.reg.subkeys(r"System\CurrentControlSet\Control\Keyboard Layouts"), ["e0020804"])
        self.assertEqual(self.reg.subkeys(r"Software\Microsoft\Windows\CurrentVersion"),
                         ["Internet Settings", "Uninstall"])
        self.assertIsNone(self.reg.value(r"Software\Nothing", "x"))


def voz_archive(members, format_byte=b"0", tail=b""):
    out = bytearray(b"V" + format_byte + bytes(8))
    for name, data in members:
        packed = zlib.compress(data)
        raw = name.encode("gbk")
        if format_byte == b"0":
            out += b"VF" + raw.ljust(16, b"\0") + hashlib.md5(data).hexdigest().upper().encode() + b"\0\0"
        else:
            out += b"VF" + (raw + b"\0").ljust(14, b"\xcc")
        out += len(packed).to_bytes(4, "little") + packed
    out[2:6] = len(out).to_bytes(4, "little")
    out[6:10] = len(members).to_bytes(4, "little")
    return bytes(out) + tail


class Archives(unittest.TestCase):
    def test_current_format_with_trailing_bytes(self):
        blob = voz_archive([("冷色瓷面.voz", b"skin"), ("VOTAVK41.BMP", b"x" * 1000)], tail=bytes(4))
        members = winelib.read_voz(blob)
        self.assertEqual([m.name for m in members], ["冷色瓷面.voz", "VOTAVK41.BMP"])
        self.assertEqual(members[1].data, b"x" * 1000)
        self.assertEqual(members[0].digest, hashlib.md5(b"skin").hexdigest().upper())

    def test_legacy_format(self):
        members = winelib.read_voz(voz_archive([("a.bmp", b"abc")], format_byte=b"O"))
        self.assertEqual((members[0].name, members[0].data, members[0].digest), ("a.bmp", b"abc", None))

    def test_out_of_bounds_refused(self):
        blob = voz_archive([("a.bmp", b"abc" * 100)])
        with self.assertRaises(ValueError):
            winelib.read_voz(blob[:-5])
        with self.assertRaises(ValueError):
            winelib.read_voz(blob[:6] + (2).to_bytes(4, "little") + blob[10:])
        with self.assertRaises(ValueError):
            winelib.read_voz(b"X0" + blob[2:])
        with self.assertRaises(ValueError):  # a name without its terminator
            winelib.read_voz(blob[:12] + b"x" * 16 + blob[28:])


class InstalledBytes(unittest.TestCase):
    def test_phrase_list_trailer(self):
        text = "智能; 砚舟; ".encode("gbk")
        out = winelib.phrase_list_with_trailer(text)
        self.assertEqual(out[:-12], text)
        self.assertEqual(out[-12:-8], b"VORN")
        self.assertEqual(int.from_bytes(out[-8:-4], "little"), sum(text) - 2 * (0x3B + 0x20))
        self.assertEqual(int.from_bytes(out[-4:], "little"), 2)
        # Already carrying a trailer: unchanged.
        self.assertEqual(winelib.phrase_list_with_trailer(out), out)

    def test_phrase_list_drops_bad_words(self):
        out = winelib.phrase_list_with_trailer("智能; 五; 砚舟".encode("gbk"))
        # A one-character word goes but its separator stays; an unterminated
        # last word goes entirely.
        self.assertEqual(out[:-12], "智能; ; ".encode("gbk"))
        self.assertEqual(int.from_bytes(out[-4:], "little"), 1)

    def test_version_text_patch(self):
        vt = "智能砚舟输入平台".encode("utf-16-le")
        data = b"ab" + vt + "  6.3".encode("utf-16-le") + b"cd" + vt + "  6.7".encode("utf-16-le") + vt + " 5.1".encode("utf-16-le")
        patched = winelib.patch_version_text(data)
        self.assertEqual(patched.count("  7.7".encode("utf-16-le")), 2)
        self.assertIn(" 5.1".encode("utf-16-le"), patched)
        self.assertEqual(len(patched), len(data))
        big = data + bytes(131073 - len(data))
        self.assertEqual(winelib.patch_version_text(big), big)


class Paths(unittest.TestCase):
    def test_host_path_ignores_case(self):
        with tempfile.TemporaryDirectory() as d:
            os.makedirs(os.path.join(d, "dosdevices"))
            os.makedirs(os.path.join(d, "drive_c", "Program Files", "vornhu"))
            os.symlink("../drive_c", os.path.join(d, "dosdevices", "c:"))
            p = winelib.Prefix(d, "win7-936")
            self.assertEqual(p.host_path("c:\\PROGRAM FILES\\VornHu\\new.txt"),
                             os.path.join(d, "dosdevices", "c:", "Program Files", "vornhu", "new.txt"))
            p.write("C:\\program files\\vornhu\\a.bin", b"1")
            self.assertEqual(p.read("C:\\Program Files\\vornhu\\A.BIN"), b"1")
            with self.assertRaises(ValueError):
                p.host_path("vornhu\\x")


if __name__ == "__main__":
    unittest.main()


@unittest.skipUnless(shutil.which("convert"), "no ImageMagick")
class Pictures(unittest.TestCase):
    """The PNG reader and the BMP reader against ImageMagick's own reading of
    a picture with every PNG row filter in it (a noisy 37 x 23 picture)."""

    def test_png_and_bmp_pixels_as_imagemagick_reads_them(self):
        with tempfile.TemporaryDirectory() as tmp:
            png, bmp = os.path.join(tmp, "p.png"), os.path.join(tmp, "p.bmp")
            subprocess.run(["convert", "-size", "37x23", "-seed", "7", "plasma:", "-depth", "8",
                            "PNG24:" + png], check=True)
            subprocess.run(["convert", png, "-type", "TrueColor", "BMP3:" + bmp], check=True)
            raw = subprocess.run(["convert", png, "-depth", "8", "rgb:-"], check=True,
                                 capture_output=True).stdout
            expected = [[tuple(raw[(y * 37 + x) * 3:(y * 37 + x) * 3 + 3]) for x in range(37)] for y in range(23)]
            with open(png, "rb") as f:
                data = f.read()
            decoded = gui.Image.decode_png(data)
            self.assertEqual((decoded.width, decoded.height), (37, 23))
            self.assertEqual(decoded.pixels, expected)
            # Every filter type really occurs, or the comparison proves less.
            raw_rows = zlib.decompress(b"".join(_png_chunks(data, b"IDAT")))
            filters = {raw_rows[y * (37 * 3 + 1)] for y in range(23)}
            with open(bmp, "rb") as f:
                self.assertEqual(gui.bmp_pixels(f.read()), expected)
            self.assertGreaterEqual(len(filters), 3, "row filters used: %r" % filters)


def _png_chunks(data, kind):
    pos = 8
    while pos + 8 <= len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        if data[pos + 4:pos + 8] == kind:
            yield data[pos + 8:pos + 8 + length]
        pos += 12 + length
