#!/usr/bin/env python3
"""Entry point of the Wine tests (called by ctest, see wine_tests.cmake).

  run.py [options] boot                 boot the variant's prefix
  run.py [options] cleanup              end every wineserver of the variant
  run.py [options] test MODULE.CLASS    run one scenario (unittest)
  run.py [options] contract             run contract64.exe in a prefix of its own
  run.py [options] main                 the main job: a silent install in a fresh
                                        prefix, and a summary of what it left
  run.py [options] window               the interactive walk in a fresh prefix under
                                        Xvfb, with a screenshot of every page
"""

import argparse
import glob
import os
import pwd
import shutil
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import scenario  # noqa: E402
import winelib  # noqa: E402


def boot(args):
    started = time.monotonic()
    path = os.path.join(scenario.variant_dir(), "prefix")
    # Clones of an earlier run go with it: no scenario may read their results.
    for old in glob.glob(os.path.join(scenario.variant_dir(), "*")):
        if os.path.isdir(old) and os.path.basename(old) != "prefix":
            winelib.Prefix(old).kill_server()
            shutil.rmtree(old, ignore_errors=True)
    prefix = winelib.Prefix.boot(path, args.variant)
    info = winelib.VARIANTS[args.variant]
    print("booted %s (%s, %s, syswow64 %s) at %s in %.1f s" % (
        args.variant, info["version"], info["locale"], "kept" if info["wow64"] else "removed",
        prefix.path, time.monotonic() - started))
    return 0


def cleanup(args):
    ended = 0
    for path in glob.glob(os.path.join(scenario.variant_dir(), "*")):
        if os.path.isdir(os.path.join(path, "dosdevices")):
            winelib.Prefix(path).kill_server()
            ended += 1
    print("ended the wineservers of %d prefixes of %s" % (ended, args.variant))
    return 0


def run_tests(args):
    suite = unittest.defaultTestLoader.loadTestsFromNames(args.names)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if result.testsRun == 0:
        return 1
    # A scenario whose prefix never booted is skipped by unittest, but it has
    # not passed: ctest must see it fail.
    if result.skipped and len(result.skipped) == result.testsRun:
        return 1
    return 0 if result.wasSuccessful() else 1


def contract(args):
    """The contract suite in a prefix of its own.  Windows refuses to
    overwrite a read-only file even for an administrator; Wine run as root
    does not (the kernel lets root write), so as root the suite runs as the
    unprivileged user "nobody", in a prefix under /tmp that it can reach."""
    user, scratch = None, None
    if os.geteuid() == 0:
        try:
            pwd.getpwnam("nobody")
            user = "nobody"
        except KeyError:
            print("no user nobody: the suite runs as root, read-only files are not enforced")
    if user:
        scratch = tempfile.mkdtemp(prefix="vorn-contract-", dir="/tmp")
        entry = pwd.getpwnam(user)
        os.chown(scratch, entry.pw_uid, entry.pw_gid)
        path = os.path.join(scratch, "prefix")
    else:
        path = os.path.join(scenario.variant_dir(), "contract")
    try:
        prefix = winelib.Prefix.boot(path, args.variant, user=user)
        result = prefix.run(args.contract, [], relay=False, name="contract", timeout=300)
        prefix.kill_server()
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    sys.stdout.write(result.stdout)
    print("contract64.exe as %s: exit code %d in %.1f s" % (user or "the current user", result.exit_code,
                                                          result.elapsed))
    if result.crashed:
        print(result.describe())
    return 0 if result.exit_code == 0 and not result.crashed else 1


def _size(n):
    return "%d bytes (%.1f MiB)" % (n, n / 1048576.0) if n >= 1048576 else "%d bytes" % n


def main_job(args):
    """Boots a fresh prefix, runs `setvosrf32`, and tells what it installed."""
    started = time.monotonic()
    root = scenario.variant_dir()
    prefix = winelib.Prefix.boot(os.path.join(root, "main"), args.variant)
    booted = time.monotonic()
    before = {h: prefix.registry(h) for h in ("HKLM", "HKCU", "HKU\\.DEFAULT")}
    snap = scenario.Snapshot(prefix)
    result = prefix.run(scenario.CONFIG["setup"], ["setvosrf32"], name="install", timeout=300)
    done = time.monotonic()
    changes = scenario.Snapshot(prefix).changes(snap)
    info = winelib.VARIANTS[args.variant]

    print("== silent install of %s" % scenario.CONFIG["setup"])
    print("   under Wine, %s (%s, %s), prefix %s" % (args.variant, info["version"], info["locale"], prefix.path))
    print("   exit code %d%s; boot %.1f s, install %.1f s (until every process ended), total %.1f s" % (
        result.exit_code, " (CRASHED)" if result.crashed else "", booted - started, done - booted,
        done - started))
    for line in result.trace.splitlines():
        if "Unhandled page fault" in line or "Unhandled exception" in line:
            print("   " + line.strip()[:160])

    install = prefix.host_path(scenario.DEFAULT_DIR)
    print("\n== installation directory %s" % scenario.DEFAULT_DIR)
    if os.path.isdir(install):
        files = []
        for r, _, names in os.walk(install):
            files += [os.path.join(r, n) for n in names]
        print("   %d files, %s" % (len(files), _size(sum(os.path.getsize(f) for f in files))))
    else:
        print("   not created")
    print("\n== other files written (drive_c)")
    exe_copy = os.path.basename(scenario.CONFIG["setup"]).lower()
    others = [c for c in changes if c.lower() not in ("program files/vornhu", exe_copy)
              and not c.lower().startswith("program files/vornhu/")]
    for rel in others:
        path = os.path.join(prefix.drive_dir("c"), rel)
        kind = "directory" if os.path.isdir(path) else _size(os.path.getsize(path))
        print("   C:\\%s  %s" % (rel.replace("/", "\\"), kind))
    if not others:
        print("   none")

    print("\n== registry values written")
    count = 0
    for hive, old in before.items():
        added, removed = winelib.registry_changes(old, prefix.registry(hive))
        for key, value in added:
            shown = value.value if not isinstance(value.value, bytes) else value.data.hex()
            print("   %s\\%s  %s = %r" % (hive, key, value.name or "(default)", shown))
            count += 1
        for key, name in removed:
            print("   %s\\%s  %s removed" % (hive, key, name))
            count += 1
    if not count:
        print("   none")

    print("\n== message boxes")
    for box in result.message_boxes:
        print("   [pid %s] %s %r: %s%s" % (box.pid, "MessageBox" + box.kind, box.title, box.text,
                                         "..." if box.text_cut else ""))
    if not result.message_boxes:
        print("   none")
    print("\n== programs started")
    for call in result.calls_to("kernel32.WinExec"):
        print("   [pid %s] %s  (WinExec returned %s)" % (call.pid, call.text(0), call.retval))
    for call in result.calls_to("kernel32.CreateProcessA"):
        print("   [pid %s] %s  (CreateProcessA returned %s)" % (call.pid, call.text(1) or call.text(0), call.retval))
    if not result.calls_to("kernel32.WinExec") and not result.calls_to("kernel32.CreateProcessA"):
        print("   none")
    print("\ntrace and logs: %s" % os.path.join(prefix.path, "vorn-runs"))
    return 0 if result.exit_code == 0 and not result.crashed else 1


def window_job(args):
    """Boots a fresh prefix and walks the setup window from the welcome page
    to the end message, keeping a screenshot of every page."""
    import gui
    import test_gui
    started = time.monotonic()
    prefix = winelib.Prefix.boot(os.path.join(scenario.variant_dir(), "window"), args.variant)
    shots = test_gui.shots_dir()
    os.makedirs(shots, exist_ok=True)
    for name in os.listdir(shots):
        os.remove(os.path.join(shots, name))
    with gui.Display(os.path.join(prefix.path, "vorn-xvfb.log")) as display:
        try:
            record = test_gui.walk(prefix, display, shots)
        except test_gui.WalkError as e:
            print("the walk stopped at %s" % e)
            return 1
    result = record["result"]
    info = winelib.VARIANTS[args.variant]
    print("== the setup window of %s" % scenario.CONFIG["setup"])
    print("   under Wine in Xvfb, %s (%s, %s), prefix %s" % (args.variant, info["version"], info["locale"],
                                                           prefix.path))
    print("   title %r; pages: %s" % (record["title"], ", ".join(record["steps"])))
    print("   typed web address %r; exit code %d%s; %.1f s in all" % (
        test_gui.ADDRESS, result.exit_code, " (CRASHED)" if result.crashed else "", time.monotonic() - started))
    print("\n== message boxes")
    for box in result.message_boxes:
        print("   [pid %s] %s %r: %s" % (box.pid, "MessageBox" + box.kind, box.title, box.text))
    print("\n== screenshots")
    for page in record["steps"]:
        print("   %s" % record["shots"][page])
    print("\ntrace and logs: %s" % os.path.join(prefix.path, "vorn-runs"))
    return 0 if result.exit_code == 0 and not result.crashed else 1


# How much longer a run may take where 32-bit programs run only through
# qemu-user-static: the 32-bit program itself takes about 150 times as long,
# a whole scenario (with Wine's 64-bit side) some tens of times.
QEMU_SLOWDOWN = 30


def i386_skip(args):
    """Why a run of the 32-bit setup cannot be made on this machine (None when
    it can), from the state tools/i386.sh wrote; through qemu every time limit
    is stretched."""
    try:
        with open(args.i386) as f:
            state = f.readline().strip()
    except OSError:
        return "the 32-bit path was not decided (%s is missing: the i386 fixture did not run)" % args.i386
    if state.startswith("none"):
        return "32-bit programs cannot run here (%s)" % state[len("none: "):]
    if state == "qemu":
        if not args.qemu_subset:
            return ("32-bit programs run here only through qemu-user-static, about 150 times slower: "
                    "only the named subset runs")
        winelib.SLOW = QEMU_SLOWDOWN
    print("32-bit programs: %s" % state)
    return None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="directory of the variant prefixes")
    parser.add_argument("--variant", required=True, choices=sorted(winelib.VARIANTS))
    parser.add_argument("--setup", help="vornsetup64.exe")
    parser.add_argument("--setupw64", help="setupw64.exe")
    parser.add_argument("--contract", help="contract64.exe")
    parser.add_argument("--payload", help="payload.voz")
    parser.add_argument("--voz", help="the native archive tool")
    parser.add_argument("--shots", help="directory of the window screenshots (default: wine-gui-shots "
                                        "beside --root)")
    parser.add_argument("--i386", help="the state tools/i386.sh wrote: the run is skipped (exit 77) when the "
                                        "32-bit setup cannot run")
    parser.add_argument("--qemu-subset", action="store_true", help="run also where 32-bit programs run only "
                                                                  "through qemu-user-static")
    parser.add_argument("command", choices=["boot", "cleanup", "test", "contract", "main", "window"])
    parser.add_argument("names", nargs="*")
    args = parser.parse_args(argv)
    for key in scenario.CONFIG:
        if key in vars(args) and vars(args)[key] is not None:
            scenario.CONFIG[key] = os.path.abspath(vars(args)[key]) if key != "variant" else vars(args)[key]
    os.makedirs(scenario.CONFIG["root"], exist_ok=True)
    if not scenario.CONFIG["shots"]:
        scenario.CONFIG["shots"] = os.path.join(os.path.dirname(scenario.CONFIG["root"]), "wine-gui-shots")
    for key in ("setup", "contract"):
        path = scenario.CONFIG[key]
        needed = (key == "setup" and args.command in ("test", "main", "window")) or \
            (key == "contract" and args.command == "contract")
        if needed and (not path or not os.path.exists(path)):
            print("missing %s: %s" % (key, path))
            return 1
    if args.i386 and args.command != "cleanup":
        reason = i386_skip(args)
        if reason:
            print("skipped: " + reason)
            return 77
    commands = {"boot": boot, "cleanup": cleanup, "test": run_tests, "contract": contract, "main": main_job,
                "window": window_job}
    return commands[args.command](args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
