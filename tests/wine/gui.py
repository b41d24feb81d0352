"""The setup window under Wine in a real X server: one Xvfb per GUI test
process, the setup started in the background on it, and what a user does
with it (find a window by title, click, type, answer a message box, take a
screenshot) done with xdotool and ImageMagick's import.

Wine under an X server without a window manager maps a top-level window's
client area as its X window (the 400 x 310 setup window shows as 394 x 285)
and draws no caption, so client coordinates are X window coordinates.

Standard library only, apart from the programs Xvfb, xdotool and import.
"""

import os
import select
import signal
import struct
import subprocess
import threading
import time
import zlib

import winelib

SCREEN = "1024x768x24"

# Client size of the 400 x 310 window (caption and borders drawn by nobody).
CLIENT_WIDTH, CLIENT_HEIGHT = 394, 285


class GuiError(winelib.WineError):
    pass


class Display:
    """An Xvfb server on a display number it picks itself (-displayfd).  It
    stays in the test's process group, so that ctest's kill on a timeout
    ends it too."""

    def __init__(self, log_path=None, screen=SCREEN):
        self.name = None
        self.proc = None
        self.log_path = log_path
        self.screen = screen

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=30):
        read_end, write_end = os.pipe()
        log = open(self.log_path, "wb") if self.log_path else subprocess.DEVNULL
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten", "tcp",
                 "-noreset"], pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        finally:
            os.close(write_end)
            if log is not subprocess.DEVNULL:
                log.close()
        number = b""
        deadline = time.monotonic() + timeout
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise GuiError("Xvfb gave no display number within %d s" % timeout)
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise GuiError("Xvfb ended before it was ready (exit %s)" % self.proc.poll())
                number += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.name = ":" + number.decode().strip()

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


class Window:
    """An X window of Wine's, with its title."""

    def __init__(self, wid, title):
        self.id, self.title = wid, title

    def __repr__(self):
        return "Window(%s, %r)" % (self.id, self.title)


class Session:
    """The setup (or any program) running in `prefix` on `display`, and
    the user's hands on it.  close() ends whatever is left."""

    def __init__(self, prefix, display):
        self.prefix, self.display = prefix, display
        self.started = None
        self.answered = []  # (MessageBox, how) in the order they were answered

    # -- the program

    def start(self, exe, args=(), name="window", timeout=300):
        self.started = self.prefix.start(exe, args, display=self.display.name, name=name, timeout=timeout)
        return self.started

    def wait_exit(self, timeout=60):
        """The RunResult once every process of the prefix has ended."""
        return self.started.wait(timeout)

    def close(self):
        self.release()
        if self.started:
            self.started.kill()

    def hold_behind_boxes(self):
        """From now until release(), while a program that the started one
        started (say the registration program) shows a message box, the
        started program itself is stopped (SIGSTOP).  WinExec returns once
        the new program shows its box, so without this the setup paints a
        page that lasts 1.6 s behind a box that covers it."""
        self._hold = _Hold(self)
        self._hold.start()

    def release(self):
        hold, self._hold = getattr(self, "_hold", None), None
        if hold:
            hold.finish()

    # -- X

    def xdotool(self, *args, timeout=15):
        proc = subprocess.run(["xdotool"] + [str(a) for a in args], env=self._x_env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def _x_env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display.name
        return env

    def windows(self, title_pattern):
        """The visible windows whose title matches the regular expression."""
        code, out = self.xdotool("search", "--onlyvisible", "--name", title_pattern)
        found = []
        for wid in out.split():
            _, title = self.xdotool("getwindowname", wid)
            found.append(Window(wid, title.rstrip("\n")))
        return found

    def find_window(self, title_pattern, timeout=60):
        """Waits for one visible window whose title matches; fails when the
        program ends first or nothing comes within `timeout`."""
        timeout *= winelib.SLOW
        deadline = time.monotonic() + timeout
        while True:
            found = self.windows(title_pattern)
            if found:
                return found[0]
            if self.started and not self.started.running():
                raise GuiError("the program ended before a window %r appeared" % title_pattern)
            if time.monotonic() > deadline:
                raise GuiError("no window %r within %d s" % (title_pattern, timeout))
            time.sleep(0.3)

    def geometry(self, window):
        """(x, y, width, height) of the X window on the screen."""
        _, out = self.xdotool("getwindowgeometry", "--shell", window.id)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def click(self, window, x, y, button=1):
        """A click at client coordinates (x, y) of `window`."""
        code, out = self.xdotool("mousemove", "--window", window.id, x, y, "click", button)
        if code != 0:
            raise GuiError("xdotool could not click %s at %d,%d: %s" % (window, x, y, out))
        time.sleep(0.2)

    def type_text(self, window, text):
        """Types ASCII `text` with the pointer over `window`: without a window
        manager the X server's focus follows the pointer."""
        if any(ord(c) > 126 or ord(c) < 32 for c in text):
            raise ValueError("only printable ASCII can be typed: %r" % text)
        self.xdotool("mousemove", "--window", window.id, 1, 1)
        self.xdotool("type", "--delay", 40, text, timeout=15 + len(text))

    def key(self, window, keysym):
        self.xdotool("mousemove", "--window", window.id, 1, 1)
        self.xdotool("key", keysym)

    def screenshot(self, window, path, decode=True):
        """A PNG of the window's pixels (8-bit RGB, unfiltered rows: quick
        to decode); the decoded Image, or the file's bytes."""
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        proc = subprocess.run(["import", "-window", window.id, "-define", "png:compression-filter=0",
                               "PNG24:" + path], env=self._x_env(), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=30)
        if proc.returncode != 0:
            raise GuiError("import failed for %s: %s" % (window, proc.stderr.decode("utf-8", "replace")))
        if not decode:
            with open(path, "rb") as f:
                return f.read()
        return Image.load(path)

    def settled_screenshot(self, window, path, differs_from=None, timeout=20):
        """Takes screenshots until two in a row are the same (and, given
        `differs_from`, not that earlier picture): the page is painted.  A
        slow program (winelib.SLOW) gets as much longer between two."""
        timeout *= winelib.SLOW
        deadline = time.monotonic() + timeout
        last = None
        while True:
            shot = self.screenshot(window, path, decode=False)
            if shot == last:
                image = Image.decode_png(shot)
                if differs_from is None or image.pixels != differs_from.pixels:
                    return image
            if time.monotonic() > deadline:
                raise GuiError("the picture of %s did not settle within %d s (%s)" % (window, timeout, path))
            last = shot
            time.sleep(0.15 * winelib.SLOW)

    # -- message boxes

    def open_boxes(self):
        """Message boxes shown and not yet answered, from the relay trace."""
        return [winelib.MessageBox(c) for c in self.started.calls()
                if c.func in ("user32.MessageBoxW", "user32.MessageBoxA") and c.retval is None]

    def wait_box(self, title=None, timeout=60):
        """Waits for a message box (titled `title`, when given) to be both
        called (relay trace) and on screen; returns (MessageBox, Window)."""
        timeout *= winelib.SLOW
        deadline = time.monotonic() + timeout
        while True:
            for box in self.open_boxes():
                if title is not None and box.title != title:
                    continue
                shown = self.windows("^%s$" % _regex_text(box.title or ""))
                if shown:
                    return box, shown[0]
            if time.monotonic() > deadline:
                raise GuiError("no message box%s within %d s" % (" %r" % title if title else "", timeout))
            time.sleep(0.3)

    def shown_boxes(self):
        """Open message boxes that are on screen, with their windows."""
        shown = []
        for box in self.open_boxes():
            windows = self.windows("^%s$" % _regex_text(box.title or ""))
            if windows:
                shown.append((box, windows[0]))
        return shown

    def answer(self, box, window, how="ok", timeout=30):
        """OK and Yes are the default button (Return); No is its mnemonic.
        A click into the box first makes it the active window: keys go to
        the active window, and that may be the setup window.  A box that
        has just appeared may not take input yet: tried again until it
        closes."""
        keysym = {"ok": "Return", "yes": "Return", "no": "n"}[how]
        answered = len([c for c in self.started.calls() if c.retval is not None])
        timeout *= winelib.SLOW
        deadline = time.monotonic() + timeout
        while True:
            self.click(window, 3, 3)
            self.key(window, keysym)
            tried = time.monotonic()
            while time.monotonic() - tried < 3 * winelib.SLOW:
                if len([c for c in self.started.calls() if c.retval is not None]) > answered:
                    self.answered.append((box, how))
                    return
                time.sleep(0.1)
            if time.monotonic() > deadline:
                raise GuiError("%r did not close after %s" % (box, keysym))


class _Hold(threading.Thread):
    def __init__(self, session):
        super().__init__(daemon=True)
        self.session = session
        self.stopped = []  # pids
        self.done = threading.Event()

    def run(self):
        started = self.session.started
        program = started.exe.replace("\\", "/").split("/")[-1].lower()
        while not self.done.is_set():
            calls = started.calls()
            # The started program is the one that calls WinExec.
            own = {c.pid for c in calls if c.func.lower() == "kernel32.winexec"}
            foreign = [c for c in calls if c.func in ("user32.MessageBoxW", "user32.MessageBoxA")
                       and c.retval is None and own and c.pid not in own]
            if foreign and not self.stopped:
                for pid in _prefix_processes(self.session.prefix.path, program):
                    os.kill(pid, signal.SIGSTOP)
                    self.stopped.append(pid)
            elif not foreign and self.stopped:
                self._resume()
            self.done.wait(0.02)

    def _resume(self):
        for pid in self.stopped:
            try:
                os.kill(pid, signal.SIGCONT)
            except ProcessLookupError:
                pass
        self.stopped = []

    def finish(self):
        self.done.set()
        self.join(5)
        self._resume()


def _prefix_processes(prefix, program):
    """Pids of the processes of WINEPREFIX `prefix` whose command line holds
    `program` (lower case)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read().decode("utf-8", "replace").lower()
            if program not in cmdline:
                continue
            with open("/proc/%s/comm" % entry) as f:
                if f.read().strip() == "timeout":
                    continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in env:
            found.append(int(entry))
    return found


def _regex_text(text):
    """`text` as a POSIX extended regular expression that matches only it."""
    return "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in text)


# ---- pictures -------------------------------------------------------------------

class Image:
    """An 8-bit RGB or RGBA PNG, decoded: pixels[y][x] = (r, g, b)."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def pixel(self, x, y):
        return self.pixels[y][x]

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            return cls.decode_png(f.read())

    @classmethod
    def decode_png(cls, data):
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            raise ValueError("not a PNG")
        pos, idat, header = 8, b"", None
        while pos + 8 <= len(data):
            length, kind = struct.unpack(">I4s", data[pos:pos + 8])
            body = data[pos + 8:pos + 8 + length]
            if kind == b"IHDR":
                header = struct.unpack(">IIBBBBB", body)
            elif kind == b"IDAT":
                idat += body
            pos += 12 + length
        width, height, depth, colour, _, _, interlace = header
        if depth != 8 or colour not in (2, 6) or interlace:
            raise ValueError("only 8-bit RGB/RGBA PNGs without interlacing (got %r)" % (header,))
        step = 3 if colour == 2 else 4
        stride = width * step
        raw = zlib.decompress(idat)
        rows, prior = [], bytearray(stride)
        for y in range(height):
            kind = raw[y * (stride + 1)]
            row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
            for i in range(stride):
                a = row[i - step] if i >= step else 0
                b = prior[i]
                c = prior[i - step] if i >= step else 0
                if kind == 1:
                    row[i] = (row[i] + a) & 255
                elif kind == 2:
                    row[i] = (row[i] + b) & 255
                elif kind == 3:
                    row[i] = (row[i] + (a + b) // 2) & 255
                elif kind == 4:
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
            rows.append([tuple(row[x * step:x * step + 3]) for x in range(width)])
            prior = row
        return cls(width, height, rows)


def bmp_pixels(data):
    """pixels[y][x] = (r, g, b) of an uncompressed 24-bit BMP (bottom-up rows)."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP")
    bits = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bpp, compression = struct.unpack_from("<HI", data, 28)
    if bpp != 24 or compression != 0 or height <= 0:
        raise ValueError("only bottom-up uncompressed 24-bit BMPs")
    stride = (width * 3 + 3) & ~3
    if bits + stride * height > len(data):
        raise ValueError("BMP pixel data runs past the file")
    rows = []
    for y in range(height):
        at = bits + (height - 1 - y) * stride
        rows.append([(data[at + 3 * x + 2], data[at + 3 * x + 1], data[at + 3 * x]) for x in range(width)])
    return rows
