#!/usr/bin/env python3
"""Times the real x64 setup under Wine against what Wine itself takes for
work of the same kind, in one run on one machine:

  the silent install (setvosrf32)        against  Wine's own xcopy of the files it installed
  the setup window, from start to painted against  a trivial window, from start to painted

  wine_bench.py --build BUILD [--runs N]

Each time is the best of N runs, each on a fresh clone of one booted Windows 7
prefix (64-bit, code page 936) whose wineserver is kept running; other work on
the machine only ever adds time.  Standard library, Wine, Xvfb, xdotool and
ImageMagick's import, as the Wine tests use them.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))

import gui  # noqa: E402
import winelib  # noqa: E402

INSTALL_DIR = r"C:\Program Files\vornhu"
COPY_DIR = r"C:\vorn copy"
SETUP_TITLE = "智能砚舟系统安装3264"
TRIVIAL_TITLE = "vorn trivial window"
# A pixel of the welcome picture and one of the gradient below it: both are
# white until the page is painted; the trivial window paints them too.
PROBES = ((5, 5), (200, 230))


def wait_gone(prefix, programs, timeout=60):
    """Waits until no process of the prefix runs one of `programs`."""
    deadline = time.monotonic() + timeout
    while any(gui._prefix_processes(prefix.path, p) for p in programs):
        if time.monotonic() > deadline:
            raise winelib.Timeout("%s still running after %d s" % (", ".join(programs), timeout))
        time.sleep(0.1)


def timed_run(prefix, args, timeout=300):
    started = time.monotonic()
    # Not piped: the services the first program starts would hold a pipe open.
    proc = prefix._wine(args, timeout, debug="-all", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - started, proc.returncode


def pixel(display, window_id, x, y):
    proc = subprocess.run(["import", "-window", window_id, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "rgb:-"],
                          env=dict(os.environ, DISPLAY=display.name), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=30)
    return tuple(proc.stdout[:3]) if proc.returncode == 0 and len(proc.stdout) >= 3 else None


def time_to_painted(prefix, display, exe, title, timeout=60):
    """Seconds from starting `exe` until its window shows and both probe
    pixels are painted (no longer the white of the class background)."""
    env = prefix.env(debug="-all", display=display.name)
    started = time.monotonic()
    # The program alone is ended afterwards: the desktop process the first
    # window of the prefix started stays for the next one.
    proc = subprocess.Popen([winelib.WINE64, exe], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    x_env = dict(os.environ, DISPLAY=display.name)
    try:
        window = None
        while time.monotonic() - started < timeout:
            if window is None:
                out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title], env=x_env,
                                     capture_output=True).stdout.split()
                window = out[0].decode() if out else None
            if window is not None:
                seen = [pixel(display, window, x, y) for x, y in PROBES]
                if all(p is not None and min(p) < 235 for p in seen):
                    return time.monotonic() - started
            if proc.poll() is not None:
                raise winelib.WineError("%s ended (exit code %d) before its window was painted" % (exe, proc.returncode))
            time.sleep(0.02)
        raise winelib.Timeout("%s: no painted window within %d s" % (exe, timeout))
    finally:
        proc.kill()
        proc.wait()
        wait_gone(prefix, [os.path.basename(exe).lower()])


def tree_size(path):
    files = [os.path.join(r, n) for r, _, names in os.walk(path) for n in names]
    return len(files), sum(os.path.getsize(f) for f in files)


def one_run(base, path, setup, trivial, display):
    prefix = base.clone(path)
    try:
        # Kept running, so that no measurement pays for the server's start.
        subprocess.run([winelib.WINESERVER, "-p"], env=prefix.env(), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for exe in (setup, trivial):
            prefix._prepare_run(exe, "bench")
        timed_run(prefix, ["cmd", "/c", "exit"])  # warms the DLLs every program loads
        # The first window of a prefix starts its desktop process: not measured.
        time_to_painted(prefix, display, "C:\\" + os.path.basename(trivial), TRIVIAL_TITLE)
        times = {
            "trivial": time_to_painted(prefix, display, "C:\\" + os.path.basename(trivial), TRIVIAL_TITLE),
            "window": time_to_painted(prefix, display, "C:\\" + os.path.basename(setup), SETUP_TITLE),
        }
        # The window wrote its path record; the install starts from a clean
        # machine all the same: nothing else of an earlier install is there.
        times["install"], code = timed_run(prefix, ["C:\\" + os.path.basename(setup), "setvosrf32"])
        if code != 0:
            raise winelib.WineError("the silent install exited with %d" % code)
        wait_gone(prefix, ["setupw64.exe", "icacls.exe"])
        times["xcopy"], code = timed_run(prefix, ["xcopy", "/E", "/I", "/Q", "/Y", INSTALL_DIR, COPY_DIR])
        if code != 0:
            raise winelib.WineError("xcopy exited with %d" % code)
        times["files"] = tree_size(prefix.host_path(INSTALL_DIR))
        return times
    finally:
        prefix.kill_server()
        shutil.rmtree(path, ignore_errors=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the build directory")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)
    setup = os.path.join(build, "win64", "vornsetup64.exe")
    trivial = os.path.join(build, "win64", "trivialwin64.exe")
    for exe in (setup, trivial):
        if not os.path.exists(exe):
            print("wine_bench: %s not built" % exe, file=sys.stderr)
            return 1
    root = os.path.join(build, "bench-wine")
    base = winelib.Prefix.boot(os.path.join(root, "prefix"), "win7-936")
    best = {}
    with gui.Display(os.path.join(root, "xvfb.log")) as display:
        for i in range(args.runs):
            times = one_run(base, os.path.join(root, "run%d" % i), setup, trivial, display)
            for key, value in times.items():
                if key == "files":
                    best[key] = value
                elif key not in best or value < best[key]:
                    best[key] = value
    base.kill_server()
    count, size = best["files"]
    print("silent install %.2f s  xcopy of its %d files (%.1f MiB) %.2f s  ratio %.2f (target <= 1.00)" % (
        best["install"], count, size / 1048576.0, best["xcopy"], best["install"] / best["xcopy"]))
    print("setup window painted %.2f s  trivial window painted %.2f s  ratio %.2f" % (
        best["window"], best["trivial"], best["window"] / best["trivial"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
