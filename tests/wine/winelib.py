"""Drives the x64 setup under Wine and reads back what it left.

A variant prefix is booted once (wineboot takes seconds); every scenario then
works in a clone of it, so scenarios neither see each other's leftovers nor
have to run in a fixed order.  What a run left is read straight from the
prefix: files under drive_c, the registry from the .reg files the wineserver
saves on exit, and message boxes from a relay trace.

Standard library only: CI has nothing else.
"""

import json
import os
import pwd
import re
import shutil
import subprocess
import threading
import time
import zlib

WINE64 = os.environ.get("VORN_WINE64") or (
    "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else shutil.which("wine64") or "wine64")
WINESERVER = os.environ.get("VORN_WINESERVER") or (
    os.path.join(os.path.dirname(WINE64), "wineserver")
    if os.path.exists(os.path.join(os.path.dirname(WINE64), "wineserver"))
    else shutil.which("wineserver") or "wineserver")

# Calls the relay trace shows; everything else stays out of it.
RELAY_INCLUDE = ("user32.MessageBoxW;user32.MessageBoxA;kernel32.WinExec;kernel32.CreateProcessA;"
                 "imm32.ImmInstallIMEW;user32.ActivateKeyboardLayout")

# The scenarios' variants: Windows version in the prefix, locale (OEM code
# page), and whether the prefix keeps its syswow64 directory.
VARIANTS = {
    "win7-936": {"version": "win7", "locale": "zh_CN.UTF-8", "codepage": 936, "wow64": True, "major": 6},
    "win7-950": {"version": "win7", "locale": "zh_TW.UTF-8", "codepage": 950, "wow64": True, "major": 6},
    "win7-32": {"version": "win7", "locale": "zh_CN.UTF-8", "codepage": 936, "wow64": False, "major": 6},
    "winxp": {"version": "winxp64", "locale": "zh_CN.UTF-8", "codepage": 936, "wow64": True, "major": 5},
    # Wine reports 10.0 only to a program whose manifest declares Windows 10.
    "win10": {"version": "win10", "locale": "zh_CN.UTF-8", "codepage": 936, "wow64": True, "major": 10},
}

# Wine has neither 宋体 nor 楷体; the setup's pages ask for both by name.  Free
# fonts of the same kind stand in for them in every prefix (Wine's font
# replacements), so that the pages keep the widths they are drawn for.
FONT_REPLACEMENTS = {"宋体": "AR PL UMing CN", "楷体": "AR PL UKai CN"}

# Files of at least this size are shared between a variant prefix and its
# clones (the prefix's DLLs, hundreds of MB); smaller ones are copied.
_LINK_MIN_BYTES = 64 * 1024


class WineError(Exception):
    pass


class Timeout(WineError):
    pass


# Every time limit is multiplied by this: a 32-bit program run through
# qemu-user-static takes about 150 times as long as natively.
SLOW = 1


def _timeout_cmd(seconds):
    # `timeout` keeps a hung wine from outliving the test, whatever Python does.
    return ["timeout", "-k", "5", str(int(seconds))]


# ---- the prefix -------------------------------------------------------------

class Prefix:
    """One WINEPREFIX (a booted variant or a clone of one)."""

    def __init__(self, path, variant=None, user=None):
        self.path = os.path.abspath(path)
        # Wine run as root writes read-only files all the same (the kernel
        # lets root); a prefix of an unprivileged `user` behaves as Windows.
        self.user = user
        meta = os.path.join(self.path, "vorn-variant.json")
        self.base = self.path  # the booted prefix this one was cloned from
        if os.path.exists(meta):
            with open(meta) as f:
                saved = json.load(f)
            variant = variant or saved["variant"]
            self.base = saved.get("base", self.path)
        self.variant = variant
        self.info = VARIANTS.get(variant, VARIANTS["win7-936"])

    # -- environment

    def env(self, locale=None, debug="-all", display=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("WINE") and k not in ("DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE")
               and not k.startswith("LC_")}
        env.update({
            "WINEPREFIX": self.path,
            "WINEARCH": "win64",
            "WINEDEBUG": debug,
            # No Mono or Gecko installer prompts during boot, and no menu
            # entries in the user's home.
            "WINEDLLOVERRIDES": "mscoree=;mshtml=;winemenubuilder.exe=d",
            "LC_ALL": locale or self.info["locale"],
        })
        # Without a display Wine makes no windows and message boxes return at once.
        if display:
            env["DISPLAY"] = display
        if self.user:
            env["HOME"] = os.path.dirname(self.path)
            env["USER"] = env["LOGNAME"] = self.user
            env.pop("XDG_RUNTIME_DIR", None)
        return env

    def _as_user(self):
        if not self.user:
            return {}
        entry = pwd.getpwnam(self.user)
        return {"user": entry.pw_uid, "group": entry.pw_gid, "extra_groups": []}

    def _wine(self, args, timeout, locale=None, debug="-all", stdout=None, stderr=None, cwd=None):
        timeout *= SLOW
        cmd = _timeout_cmd(timeout) + [WINE64] + list(args)
        started = time.monotonic()
        try:
            proc = subprocess.run(cmd, env=self.env(locale, debug), stdin=subprocess.DEVNULL,
                                  stdout=stdout if stdout is not None else subprocess.PIPE,
                                  stderr=stderr if stderr is not None else subprocess.PIPE,
                                  timeout=timeout + 15, cwd=cwd, **self._as_user())
        except subprocess.TimeoutExpired:
            self.kill_server()
            raise Timeout("wine %s: no end after %d s" % (" ".join(args), timeout))
        # 124 is timeout's verdict only when the time is really up; a program
        # may exit with 124 itself.
        if proc.returncode == 124 and time.monotonic() - started >= timeout - 1:
            self.kill_server()
            raise Timeout("wine %s: stopped by timeout after %d s" % (" ".join(args), timeout))
        return proc

    def wait_server(self, timeout=60):
        """Waits until every process of the prefix has ended and the server has
        saved the registry; kills them if that takes longer than `timeout`."""
        timeout *= SLOW
        cmd = _timeout_cmd(timeout) + [WINESERVER, "-w"]
        proc = subprocess.run(cmd, env=self.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **self._as_user())
        if proc.returncode == 124:
            self.kill_server()
            raise Timeout("processes of %s still running after %d s" % (self.path, timeout))

    def kill_server(self):
        """Ends every process of the prefix and waits for its server to go (a
        server still saving could otherwise meet a new prefix made at the same
        path: the server socket is named after the directory's inode)."""
        if not os.path.isdir(self.path):
            return
        for flag in ("-k", "-w"):
            subprocess.run(_timeout_cmd(30) + [WINESERVER, flag], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **self._as_user())

    # -- creation

    @classmethod
    def boot(cls, path, variant, timeout=240, user=None):
        """Creates a fresh prefix for `variant` (removing whatever was at
        `path`), owned by `user` when given: wineboot, Windows version, relay
        filter, font replacements, and for the "32-bit" variant no syswow64
        directory."""
        info = VARIANTS[variant]
        if os.path.isdir(path):
            Prefix(path, variant, user).kill_server()
            shutil.rmtree(path)
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        p = cls(path, variant, user)
        if user:
            os.makedirs(path)
            ids = p._as_user()
            os.chown(path, ids["user"], ids["group"])
        p._wine(["wineboot", "-i"], timeout)
        p.wait_server()
        settings = {
            r"HKEY_CURRENT_USER\Software\Wine": {"Version": info["version"]},
            r"HKEY_CURRENT_USER\Software\Wine\Debug": {"RelayInclude": RELAY_INCLUDE},
            r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements": FONT_REPLACEMENTS,
        }
        # Once in a while (a busy machine, two boots at once) the first import
        # does not reach the saved registry; a second one does.
        for attempt in range(3):
            p.import_reg(settings)
            hkcu = p.registry("HKCU")
            if (hkcu.value(r"Software\Wine", "Version") == info["version"]
                    and hkcu.value(r"Software\Wine\Debug", "RelayInclude") == RELAY_INCLUDE
                    and all(hkcu.value(r"Software\Wine\Fonts\Replacements", face) == font
                            for face, font in FONT_REPLACEMENTS.items())):
                break
            print("boot %s: the settings are not in the registry yet (attempt %d)" % (path, attempt + 1))
        else:
            raise WineError("the Windows version did not reach the registry of %s" % path)
        if not info["wow64"]:
            shutil.rmtree(os.path.join(p.path, "drive_c", "windows", "syswow64"))
        p._write_meta()
        return p

    def _write_meta(self):
        with open(os.path.join(self.path, "vorn-variant.json"), "w") as f:
            json.dump({"variant": self.variant, "base": self.base}, f)

    def clone(self, path):
        """A copy of this (idle) prefix at `path`.  Large files of the booted
        prefix (its DLLs, hundreds of MB) are hard links: nothing writes them.
        Everything else is copied, above all the files a setup wrote (a later
        install truncates and rewrites those in place) and the .reg files."""
        if os.path.isdir(path):
            Prefix(path).kill_server()
            shutil.rmtree(path)
        shared = set()
        for root, _, files in os.walk(self.base):
            for name in files:
                st = os.lstat(os.path.join(root, name))
                if st.st_size >= _LINK_MIN_BYTES and not name.endswith(".reg"):
                    shared.add((st.st_dev, st.st_ino))
        for root, dirs, files in os.walk(self.path):
            rel = os.path.relpath(root, self.path)
            if rel == ".":
                # The source's own run logs and results stay with it.
                dirs[:] = [d for d in dirs if d != "vorn-runs"]
                files = [f for f in files if not f.startswith("vorn-")]
            out = os.path.join(path, rel) if rel != "." else path
            os.makedirs(out, exist_ok=True)
            shutil.copystat(root, out)
            for name in dirs + files:
                src = os.path.join(root, name)
                dst = os.path.join(out, name)
                if os.path.islink(src):
                    os.symlink(os.readlink(src), dst)
                elif name in files:
                    st = os.lstat(src)
                    if (st.st_dev, st.st_ino) in shared:
                        os.link(src, dst)
                    else:
                        shutil.copy2(src, dst)
        clone = Prefix(path, self.variant)
        clone.base = self.base
        clone._write_meta()
        return clone

    # -- paths

    def drive_dir(self, letter):
        return os.path.join(self.path, "dosdevices", letter.lower() + ":")

    def map_drive(self, letter, host_dir):
        """Maps drive `letter` to `host_dir` (created when missing)."""
        os.makedirs(host_dir, exist_ok=True)
        link = self.drive_dir(letter)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.abspath(host_dir), link)

    def host_path(self, win_path):
        """The host path of a Windows path (drive letter form), resolved
        component by component without regard to case; the components that do
        not exist keep their spelling."""
        m = re.match(r"^([A-Za-z]):[\\/]?(.*)$", win_path)
        if not m:
            raise ValueError("not a drive path: %r" % win_path)
        cur = self.drive_dir(m.group(1))
        for part in [p for p in re.split(r"[\\/]+", m.group(2)) if p]:
            hit = part
            if os.path.isdir(cur):
                for entry in os.listdir(cur):
                    if entry.lower() == part.lower():
                        hit = entry
                        break
            cur = os.path.join(cur, hit)
        return cur

    def exists(self, win_path):
        return os.path.exists(self.host_path(win_path))

    def read(self, win_path):
        with open(self.host_path(win_path), "rb") as f:
            return f.read()

    def write(self, win_path, data):
        path = self.host_path(win_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def listdir(self, win_path):
        return sorted(os.listdir(self.host_path(win_path)))

    # -- registry

    def registry(self, hive):
        """The saved registry of `hive` ("HKLM", "HKCU" or "HKU\\.DEFAULT");
        call after wait_server()."""
        name = {"HKLM": "system.reg", "HKCU": "user.reg", "HKU\\.DEFAULT": "userdef.reg"}[hive]
        return RegFile.load(os.path.join(self.path, name))

    def import_reg(self, keys, timeout=120):
        """Writes values with regedit: {full key path: {name: str | int}}.
        A str becomes REG_SZ, an int REG_DWORD."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, values in keys.items():
            lines.append("[%s]" % key)
            for name, data in values.items():
                lhs = "@" if name is None else '"%s"' % _reg_escape(name)
                if isinstance(data, int):
                    lines.append("%s=dword:%08x" % (lhs, data))
                else:
                    lines.append('%s="%s"' % (lhs, _reg_escape(data)))
            lines.append("")
        path = os.path.join(self.path, "drive_c", "vorn-import.reg")
        with open(path, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        try:
            proc = self._wine(["regedit", "/S", r"C:\vorn-import.reg"], timeout)
            self.wait_server()
        finally:
            os.remove(path)
        if proc.returncode != 0:
            raise WineError("regedit failed (%d): %s" % (proc.returncode, proc.stderr.decode("utf-8", "replace")[-500:]))

    # -- running

    def run(self, exe, args=(), locale=None, timeout=120, relay=True, wait=True, name=None):
        """Runs `exe` (a Windows path, or a host file that is copied to C:\\)
        with `args`, each passed as its own argv entry; Wine joins them with
        single spaces and quotes only those holding a space.  Returns a
        RunResult once every process of the prefix has ended (`wait`)."""
        host_exe = exe
        exe, stem = self._prepare_run(exe, name)
        args, log = self._with_log(host_exe, args, stem)
        started = time.monotonic()
        with open(stem + ".out", "wb") as out, open(stem + ".trace", "wb") as err:
            proc = self._wine([exe] + list(args), timeout, locale=locale,
                              debug="+pid,+relay" if relay else "-all", stdout=out, stderr=err)
        if wait:
            self.wait_server()
        return self._result(exe, args, proc.returncode, stem, time.monotonic() - started, log)

    def start(self, exe, args=(), display=None, locale=None, timeout=300, name=None):
        """Starts `exe` as run() does (relay trace on), in the background, on
        X `display`; the Started handle waits for it or kills it."""
        host_exe = exe
        exe, stem = self._prepare_run(exe, name)
        args, log = self._with_log(host_exe, args, stem)
        timeout *= SLOW
        cmd = _timeout_cmd(timeout) + [WINE64, exe] + list(args)
        with open(stem + ".out", "wb") as out, open(stem + ".trace", "wb") as err:
            proc = subprocess.Popen(cmd, env=self.env(locale, "+pid,+relay", display), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, start_new_session=True, **self._as_user())
        return Started(self, exe, list(args), proc, stem, timeout, log)

    def _with_log(self, exe, args, stem):
        """Wine that cannot start a 32-bit program exits 0 without a word, so
        a run of the 32-bit setup always leaves a log: the one its command
        line names, else one beside the run's trace (a /log= word added; not
        to the registration mode, whose directory ends the line).  Returns
        the arguments and the log's host path (None for other programs)."""
        args = list(args)
        if not (os.path.isabs(exe) and pe_bits(exe) == 32) or any("regvo32" in a.lower() for a in args):
            return args, None
        for a in args:
            if a.lower().startswith("/log="):
                return args, self.host_path(a[5:].strip('"'))
        return args + ["/log=Z:" + (stem + ".log").replace("/", "\\")], stem + ".log"

    def _prepare_run(self, exe, name):
        if os.path.isabs(exe) and os.path.exists(exe):
            target = os.path.join(self.drive_dir("c"), os.path.basename(exe))
            shutil.copy2(exe, target)
            exe = "C:\\" + os.path.basename(exe)
        logdir = os.path.join(self.path, "vorn-runs")
        os.makedirs(logdir, exist_ok=True)
        number = 1 + len({f.split("-", 1)[0] for f in os.listdir(logdir)})
        return exe, os.path.join(logdir, "%02d-%s" % (number, name or "run"))

    def _result(self, exe, args, exit_code, stem, elapsed, log=None):
        with open(stem + ".trace", "rb") as f:
            trace = f.read().decode("latin-1")
        with open(stem + ".out", "rb") as f:
            stdout = f.read().decode("utf-8", "replace")
        result = RunResult(exe, list(args), exit_code, trace, stdout, elapsed,
                           codepage=VARIANTS.get(self.variant, {}).get("codepage", 936))
        if log:
            result.log = ""
            if os.path.exists(log):
                with open(log, "rb") as f:
                    result.log = f.read().decode("utf-8-sig", "replace")
        result.saved_path = stem + ".json"
        result.save(result.saved_path)
        return result


class Started:
    """A program started in the background by Prefix.start()."""

    def __init__(self, prefix, exe, args, proc, stem, limit, log=None):
        self.prefix, self.exe, self.args, self.proc, self.stem = prefix, exe, args, proc, stem
        self.log = log
        self.limit = limit  # seconds `timeout` gives it
        self.started = time.monotonic()
        self.trace_path = stem + ".trace"
        self._parser = RelayParser(prefix.info["codepage"])
        self._read = 0
        self._lock = threading.Lock()

    def calls(self):
        """The relayed calls so far (a call still running has no retval)."""
        with self._lock:
            with open(self.trace_path, "rb") as f:
                f.seek(self._read)
                chunk = f.read()
            end = chunk.rfind(b"\n") + 1  # a line still being written waits
            self._read += end
            self._parser.feed(chunk[:end].decode("latin-1").splitlines())
            return list(self._parser.calls)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """The RunResult once the program and every other process of the
        prefix have ended; kills them all and raises Timeout after `timeout`."""
        timeout *= SLOW
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise Timeout("%s: no end after %d s" % (self.exe, timeout))
        if code == 124 and time.monotonic() - self.started >= self.limit - 1:
            self.kill()
            raise Timeout("%s: stopped by timeout after %d s" % (self.exe, self.limit))
        self.prefix.wait_server()
        return self.prefix._result(self.exe, self.args, code, self.stem, time.monotonic() - self.started, self.log)

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 9)
            except ProcessLookupError:
                pass
            self.proc.wait()
        self.prefix.kill_server()


def _reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


# ---- results and the relay trace ----------------------------------------------

class Call:
    """One relayed call: pid and tid (hex text), function ("user32.MessageBoxW"),
    arguments (each an int, or a (pointer, text, truncated) tuple for a
    string argument), the return value once its Ret line was seen."""

    def __init__(self, pid, tid, func, args):
        self.pid, self.tid, self.func, self.args = pid, tid, func, args
        self.retval = None

    def text(self, i):
        arg = self.args[i] if i < len(self.args) else None
        return arg[1] if isinstance(arg, tuple) else None

    def truncated(self, i):
        arg = self.args[i] if i < len(self.args) else None
        return isinstance(arg, tuple) and arg[2]

    def to_json(self):
        return {"pid": self.pid, "tid": self.tid, "func": self.func, "retval": self.retval,
                "args": [list(a) if isinstance(a, tuple) else a for a in self.args]}


class MessageBox:
    def __init__(self, call):
        self.call = call
        self.kind = call.func[-1]  # "A" or "W"
        self.text = call.text(1)
        self.title = call.text(2)
        self.text_cut = call.truncated(1)
        self.flags = call.args[3] if len(call.args) > 3 and isinstance(call.args[3], int) else None
        self.pid = call.pid

    def says(self, text):
        """True when this box shows exactly `text`; a text the trace cut off
        (about 58 Chinese characters are kept) must be a long enough start of it."""
        if self.text is None:
            return False
        if self.text_cut:
            return len(self.text) >= 20 and text.startswith(self.text)
        return self.text == text

    def __repr__(self):
        return "MessageBox%s(%r%s, %r)" % (self.kind, self.text, "..." if self.text_cut else "", self.title)


_CALL_RE = re.compile(r"^(?:([0-9a-f]{4,8}):)?([0-9a-f]{4,8}):Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\((.*)\) ret=[0-9a-f]+\s*$")
_RET_RE = re.compile(r"^(?:([0-9a-f]{4,8}):)?([0-9a-f]{4,8}):Ret  ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\(\) retval=([0-9a-f]+)")


def _parse_args(text, codepage):
    """Splits a relay argument list: hex numbers, some followed by a quoted
    string (L"..." wide, "..." narrow) and "..." when the trace cut it."""
    args = []
    i, n = 0, len(text)
    while i < n:
        m = re.compile(r"[0-9a-fA-F]+").match(text, i)
        if not m:
            raise ValueError("bad relay arguments: %r" % text)
        value = int(m.group(0), 16)
        i = m.end()
        if i < n and text[i] == " ":
            i += 1
            wide = text.startswith('L"', i)
            if wide:
                i += 1
            if i >= n or text[i] != '"':
                raise ValueError("bad relay string: %r" % text[i:])
            raw, i = _scan_quoted(text, i)
            cut = text.startswith("...", i)
            if cut:
                i += 3
            args.append((value, decode_wine_string(raw, wide, codepage, cut), cut))
        else:
            args.append(value)
        if i < n:
            if text[i] != ",":
                raise ValueError("bad relay argument separator: %r" % text[i:])
            i += 1
    return args


def _scan_quoted(text, i):
    # text[i] is the opening quote; returns (body, index after the closing quote).
    j = i + 1
    while j < len(text):
        if text[j] == "\\":
            j += 2
            continue
        if text[j] == '"':
            return text[i + 1:j], j + 1
        j += 1
    raise ValueError("unterminated relay string")


def decode_wine_string(body, wide, codepage=936, cut=False):
    """Decodes a string as Wine's debugstr prints it: \\n \\r \\t \\" \\\\,
    wide characters as \\XXXX, narrow bytes as \\xHH (GBK or Big5 bytes)."""
    out_chars = []
    out_bytes = bytearray()
    i = 0
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if nxt in simple:
                ch, i = simple[nxt], i + 2
            elif wide and re.match(r"[0-9a-fA-F]{4}", body[i + 1:i + 5]):
                ch, i = chr(int(body[i + 1:i + 5], 16)), i + 5
            elif not wide and nxt == "x" and re.match(r"[0-9a-fA-F]{2}", body[i + 2:i + 4]):
                out_bytes.append(int(body[i + 2:i + 4], 16))
                i += 4
                continue
            else:
                raise ValueError("unknown escape in %r" % body)
        else:
            ch, i = c, i + 1
        if wide:
            out_chars.append(ch)
        else:
            out_bytes.append(ord(ch))
    if wide:
        return "".join(out_chars)
    enc = {936: "gbk", 950: "big5"}.get(codepage, "gbk")
    # A cut text may end inside a double-byte character.
    return bytes(out_bytes).decode(enc, "ignore" if cut else "replace")


def parse_relay(trace, codepage=936):
    """The relayed calls of a trace, in order, with their return values."""
    parser = RelayParser(codepage)
    parser.feed(trace.splitlines())
    return parser.calls


class RelayParser:
    """Reads a relay trace line by line, as it grows."""

    def __init__(self, codepage=936):
        self.codepage = codepage
        self.calls = []
        self.open_calls = {}

    def feed(self, lines):
        for line in lines:
            m = _CALL_RE.match(line)
            if m:
                pid, tid, dll, fn, argtext = m.groups()
                try:
                    args = _parse_args(argtext, self.codepage)
                except ValueError:
                    # Kept, without arguments: a check on it then fails visibly.
                    args = [("?", argtext, False)]
                call = Call(pid, tid, "%s.%s" % (dll.lower(), fn), args)
                self.calls.append(call)
                self.open_calls.setdefault((pid, tid, call.func), []).append(call)
                continue
            m = _RET_RE.match(line)
            if m:
                pid, tid, dll, fn, retval = m.groups()
                stack = self.open_calls.get((pid, tid, "%s.%s" % (dll.lower(), fn)))
                if stack:
                    stack.pop().retval = int(retval, 16)


# Complaints of Wine's own services that every run without a display makes.
_ERR_NOISE = (":winediag:", ":systray:", ":ole:", ":explorer:")


class RunResult:
    def __init__(self, exe, args, exit_code, trace, stdout, elapsed, codepage=936):
        self.exe, self.args, self.exit_code = exe, args, exit_code
        self.trace, self.stdout, self.elapsed = trace, stdout, elapsed
        self.codepage = codepage
        self.calls = parse_relay(trace, codepage)
        self.crashed = "Unhandled page fault" in trace or "Unhandled exception" in trace
        self.log = None  # the 32-bit setup's log ("" when it wrote none)

    def log_pid(self):
        """The process id the log's first line names: the program's own."""
        m = re.match(r"^\S+ \S+ \[(\d+)\]", self.log or "")
        return m.group(1) if m else "none"

    def calls_to(self, func):
        return [c for c in self.calls if c.func.lower() == func.lower()]

    @property
    def message_boxes(self):
        return [MessageBox(c) for c in self.calls if c.func in ("user32.MessageBoxW", "user32.MessageBoxA")]

    def describe(self):
        lines = ["%s %s: exit code %s, %.1f s%s" % (self.exe, " ".join(self.args), self.exit_code,
                                                   self.elapsed, ", CRASHED" if self.crashed else "")]
        for box in self.message_boxes:
            lines.append("  %r" % box)
        for line in self.trace.splitlines():
            if "Unhandled page fault" in line or "Unhandled exception" in line or (
                    ":err:" in line and not any(n in line for n in _ERR_NOISE)):
                lines.append("  | " + line[:200])
        return "\n".join(lines[:40])

    def save(self, path):
        with open(path, "w") as f:
            json.dump({"exe": self.exe, "args": self.args, "exit_code": self.exit_code,
                       "elapsed": self.elapsed, "codepage": self.codepage, "crashed": self.crashed, "log": self.log,
                       "calls": [c.to_json() for c in self.calls]}, f, ensure_ascii=False, indent=1)

    @classmethod
    def load(cls, path):
        """A saved result (without its trace text: calls only)."""
        with open(path) as f:
            d = json.load(f)
        r = cls.__new__(cls)
        r.exe, r.args, r.exit_code = d["exe"], d["args"], d["exit_code"]
        r.elapsed, r.codepage, r.crashed = d["elapsed"], d["codepage"], d["crashed"]
        r.trace, r.stdout, r.log = "", "", d.get("log")
        r.calls = []
        for c in d["calls"]:
            call = Call(c["pid"], c["tid"], c["func"], [tuple(a) if isinstance(a, list) else a for a in c["args"]])
            call.retval = c["retval"]
            r.calls.append(call)
        return r


def pe_bits(path):
    """32 or 64 for a PE executable on the host (its optional header's
    magic), None for anything else."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if head[:2] != b"MZ" or len(head) < 64:
        return None
    pe = int.from_bytes(head[60:64], "little")
    magic = head[pe + 24:pe + 26] if head[pe:pe + 4] == b"PE\0\0" else b""
    return {b"\x0b\x01": 32, b"\x0b\x02": 64}.get(magic)


# ---- the registry files -------------------------------------------------------

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7

_C_ESCAPES = {"a": 7, "b": 8, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, "e": 27}


def _unescape_reg(body):
    """Undoes the escaping of Wine's .reg files: \\xN (1-4 hex digits) for
    characters above 127, octal and C escapes below 32, backslash before
    backslash and the quote or bracket."""
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\" or i + 1 == len(body):
            out.append(c)
            i += 1
            continue
        nxt = body[i + 1]
        if nxt == "x":
            m = re.compile(r"[0-9a-fA-F]{1,4}").match(body, i + 2)
            if not m:
                raise ValueError("bad \\x escape in %r" % body)
            out.append(chr(int(m.group(0), 16)))
            i = m.end()
        elif nxt in "01234567":
            m = re.compile(r"[0-7]{1,3}").match(body, i + 1)
            out.append(chr(int(m.group(0), 8)))
            i = m.end()
        elif nxt in _C_ESCAPES:
            out.append(chr(_C_ESCAPES[nxt]))
            i += 2
        else:
            out.append(nxt)
            i += 2
    return "".join(out)


class RegValue:
    def __init__(self, name, type_, data):
        self.name, self.type, self.data = name, type_, data  # data: raw bytes as stored

    @property
    def value(self):
        """str for the string types (without the terminating zero), list of
        str for REG_MULTI_SZ, int for REG_DWORD, bytes otherwise."""
        if self.type in (REG_SZ, REG_EXPAND_SZ):
            text = self.data.decode("utf-16-le", "replace")
            return text[:-1] if text.endswith("\0") else text
        if self.type == REG_MULTI_SZ:
            return [s for s in self.data.decode("utf-16-le", "replace").split("\0") if s]
        if self.type == REG_DWORD and len(self.data) == 4:
            return int.from_bytes(self.data, "little")
        return self.data


class RegKey:
    def __init__(self, path):
        self.path = path
        self.values = {}  # lower-case name -> RegValue; "" is the default value

    def get(self, name):
        return self.values.get(name.lower())


REG_LINK = 6


class RegFile:
    """One saved hive: keys by lower-case path (relative to the hive root).
    A link key (Wine 10 saves CurrentControlSet as one, to ControlSet001) is
    followed wherever a path is looked up."""

    def __init__(self):
        self.keys = {}
        self.links = {}  # lower-case path of a link key -> the path it names

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "surrogateescape")
        return cls.parse(text)

    @classmethod
    def parse(cls, text):
        reg = cls()
        key = None
        lines = text.split("\n")
        i = 0
        while i < len(lines):
            line = lines[i].rstrip("\r")
            i += 1
            # Long hex data goes on over lines ending in a backslash.
            while line.endswith("\\") and re.search(r"=(hex(\([0-9a-f]+\))?:|.*,\\$)", line) and i < len(lines):
                line = line[:-1] + lines[i].strip()
                i += 1
            if not line or line.startswith(";") or line.startswith("#"):
                continue
            if line.startswith("["):
                end = _close_bracket(line)
                key = RegKey(_unescape_reg(line[1:end]))
                reg.keys[key.path.lower()] = key
                continue
            if key is None:
                continue
            name, rest = _split_value_line(line)
            key.values[name.lower()] = RegValue(name, *_parse_data(rest))
        for lower, key in reg.keys.items():
            link = key.get("SymbolicLinkValue")
            if link is not None and link.type == REG_LINK:
                target = link.data.decode("utf-16-le", "replace").rstrip("\0")
                reg.links[lower] = re.sub(r"^\\Registry\\(Machine|User\\[^\\]+)\\", "", target, flags=re.I)
        return reg

    def resolve(self, path):
        """`path` with a link key at its start replaced by its target."""
        path = path.strip("\\")
        for _ in range(8):  # a target may itself lie under a link
            lower = path.lower()
            hits = [link for link in self.links if lower == link or lower.startswith(link + "\\")]
            if not hits:
                break
            link = max(hits, key=len)
            path = self.links[link] + path[len(link):]
        return path

    def key(self, path):
        """The key at `path`, or None.  Wine saves a key without values only
        when it has no subkeys either, so a key known only from its subkeys
        comes back empty."""
        path = self.resolve(path)
        lower = path.lower()
        key = self.keys.get(lower)
        if key is None and any(k.startswith(lower + "\\") for k in self.keys):
            key = RegKey(path)
        return key

    def value(self, key_path, name):
        key = self.key(key_path)
        if key is None:
            return None
        v = key.get(name)
        return None if v is None else v.value

    def subkeys(self, path):
        """Names of the direct subkeys of `path` that the file holds."""
        prefix = self.resolve(path).lower() + "\\"
        names = {}
        for k, key in self.keys.items():
            if k.startswith(prefix):
                first = key.path[len(prefix):].split("\\")[0]
                names.setdefault(first.lower(), first)
        return sorted(names.values(), key=str.lower)


# Keys Wine itself rewrites during any run (device enumeration and the like).
WINE_CHURN = tuple("system\\%s\\%s\\" % (s, k) for s in ("currentcontrolset", "controlset001")
                   for k in ("control\\class", "enum", "services")) + ("software\\wine\\", "hardware\\")


def registry_changes(before, after, skip=WINE_CHURN):
    """Values added or changed from `before` to `after` as (key, RegValue),
    and values removed as (key, name); Wine's own churn left out."""
    added, removed = [], []
    for lower, key in sorted(after.keys.items()):
        if any(lower.startswith(s) for s in skip):
            continue
        old = before.keys.get(lower)
        for name, value in sorted(key.values.items()):
            prev = old.values.get(name) if old else None
            if prev is None or (prev.type, prev.data) != (value.type, value.data):
                added.append((key.path, value))
    for lower, key in sorted(before.keys.items()):
        if any(lower.startswith(s) for s in skip):
            continue
        new = after.keys.get(lower)
        for name, value in sorted(key.values.items()):
            if new is None or name not in new.values:
                removed.append((key.path, value.name))
    return added, removed


def _close_bracket(line):
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == "]":
            return i
        i += 1
    raise ValueError("unterminated key line: %r" % line)


def _split_value_line(line):
    if line.startswith("@="):
        return "", line[2:]
    if not line.startswith('"'):
        raise ValueError("bad value line: %r" % line)
    body, end = _scan_quoted(line, 0)
    if line[end:end + 1] != "=":
        raise ValueError("bad value line: %r" % line)
    return _unescape_reg(body), line[end + 1:]


def _parse_data(rest):
    if rest.startswith('"'):
        body, _ = _scan_quoted(rest, 0)
        return REG_SZ, (_unescape_reg(body) + "\0").encode("utf-16-le")
    m = re.match(r'^str\(([0-9a-f]+)\):"', rest)
    if m:
        body, _ = _scan_quoted(rest, m.end() - 1)
        return int(m.group(1), 16), (_unescape_reg(body) + "\0").encode("utf-16-le")
    if rest.startswith("dword:"):
        return REG_DWORD, int(rest[6:14], 16).to_bytes(4, "little")
    m = re.match(r"^hex(?:\(([0-9a-f]+)\))?:(.*)$", rest)
    if m:
        type_ = int(m.group(1), 16) if m.group(1) else REG_BINARY
        hexes = [h for h in m.group(2).replace(" ", "").split(",") if h]
        return type_, bytes(int(h, 16) for h in hexes)
    raise ValueError("unknown value data: %r" % rest)


# ---- the payload archive --------------------------------------------------------

class VozMember:
    def __init__(self, raw_name, digest, data):
        self.raw_name, self.digest, self.data = raw_name, digest, data
        self.name = raw_name.decode("gbk")


def read_voz(blob):
    """The members of a current-format archive ("V0"), expanded; raises
    ValueError on anything out of bounds or inconsistent."""
    if len(blob) < 10 or blob[0:1] != b"V":
        raise ValueError("not an archive")
    legacy = blob[1:2] != b"0"
    rec, len_at = (20, 16) if legacy else (56, 52)
    count = int.from_bytes(blob[6:10], "little")
    members = []
    pos = 10
    for _ in range(count):
        if pos + rec > len(blob) or blob[pos:pos + 2] != b"VF":
            raise ValueError("member record %d out of bounds or unmarked" % len(members))
        name_field = blob[pos + 2:pos + (16 if legacy else 18)]
        if b"\0" not in name_field:
            raise ValueError("member record %d: name without terminator" % len(members))
        raw_name = name_field.split(b"\0", 1)[0]
        digest = None if legacy else blob[pos + 18:pos + 50].decode("ascii")
        clen = int.from_bytes(blob[pos + len_at:pos + len_at + 4], "little")
        start = pos + rec
        if clen > len(blob) - start:
            raise ValueError("member %r runs past the archive" % raw_name)
        members.append(VozMember(raw_name, digest, zlib.decompress(blob[start:start + clen])))
        pos = start + clen
    return members


def phrase_list_with_trailer(data):
    """What the setup writes for "vorncyzk.bak": the words that are at least two
    double-byte characters long and end in "; ", then "VORN", the byte sum of
    their characters and the word count (both 32-bit little-endian).  A text
    that already ends in a trailer is returned unchanged."""
    n = len(data)
    if n >= 12 and data[n - 12:n - 8] == b"VORN":
        return bytes(data)

    def at(i):  # the setup reads one byte past the text; that byte is zero
        return data[i] if i < n else 0

    out = bytearray()
    r = total = words = 0
    while r < n:
        w0 = len(out)
        k = 0
        while r < n and at(r) > 0x80 and at(r + 1) > 0x3F:
            out += bytes((at(r), at(r + 1)))
            total = (total + at(r) + at(r + 1)) & 0xFFFFFFFF
            r += 2
            k += 1
        if k >= 2 and at(r) == 0x3B and at(r + 1) == 0x20:
            words += 1
            out += b"; "
            r += 2
            continue
        del out[w0:]
        if r >= n:
            break
        while r < n and not (at(r) == 0x3B or at(r + 1) == 0x20):
            r += 1
        if r >= n:
            break
        out += bytes((at(r), at(r + 1)))
        r += 2
    return bytes(out) + b"VORN" + total.to_bytes(4, "little") + words.to_bytes(4, "little")


_VERSION_TEXT = "智能砚舟输入平台".encode("utf-16-le")


def patch_version_text(data):
    """The bytes "PatchVersionText" leaves: "  6.3" or "  6.7" after the
    version text become "  7.7"; files over 131,072 bytes stay as they are."""
    if len(data) > 131072:
        return bytes(data)
    buf = bytearray(data)
    i = 0
    while i < len(buf):
        if buf[i:i + 16] == _VERSION_TEXT:
            j = i + 16
            if j + 8 < len(buf) and buf[j] == 0x20 and buf[j + 4] == ord("6") and buf[j + 6] == ord(".") \
                    and buf[j + 8] in (ord("3"), ord("7")):
                buf[j + 4] = buf[j + 8] = ord("7")
            i += 17
        else:
            i += 1
    return bytes(buf)
