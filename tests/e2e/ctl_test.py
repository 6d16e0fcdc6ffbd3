#!/usr/bin/env python3
"""End-to-end tests of reskeeperctl beside a running keeper, on the private X server that
tests/e2e/xdisplay.sh starts, with the scenarios' programs and folders (harness.py).

    xdisplay.sh run ctl_test.py --program reskeeper --ctl reskeeperctl --case NAME
    xdisplay.sh run ctl_test.py --program reskeeper.exe --ctl reskeeperctl.exe
                                --wine-prefix TEMPLATE --case NAME
    ctl_test.py --list linux|windows

A Windows program that does not exist yet gives exit status 77 (skipped)."""

import argparse
import json
import os
import select
import shutil
import sys

import e2e
import harness
import subprocess
from e2e import Failure, check, shown
from harness import LINUX, NOBODY, WINDOWS, Wine, group, windows_path

CASES = {}
UNSET = None  # USERNAME not set
SPACES = b" " * 255  # the keeper's name for a user without USERNAME
BOM = b"\xef\xbb\xbf"


def case(*systems):
    def register(function):
        CASES[function.__name__] = (function, systems)
        return function

    return register


class Ctl:
    """reskeeperctl run beside the scenario's keeper, with the keeper's environment."""

    def __init__(self, s, path):
        self.s = s
        self.wine = isinstance(s.program, Wine)
        self.path = shutil.copy(path, os.path.join(s.program.bin, os.path.basename(path)))

    def run(self, folder, user, *args, nobody=False, home="/nonexistent", display=None,
            here=False):
        """(exit status, stdout, stderr) of reskeeperctl ARGS run in `folder` as `user`, with
        --folder naming it unless ARGS name one or `here` says to leave the choice to
        reskeeperctl (which, run as root or under wine, where every program runs elevated,
        takes no file from the current folder unless told)."""
        args = [a if isinstance(a, bytes) else a.encode() for a in args]
        if not here and b"--folder" not in args:
            args = [b"--folder", (windows_path(folder) if self.wine else folder).encode()] + args
        if self.wine:
            name = b"" if user is None else user.decode("latin-1").encode()
            session = self.s.program.session
            try:
                done = session.run("wine", "cmd", "/c", "set", b"USERNAME=" + name + b"&&",
                                   windows_path(self.path), *args, cwd=folder, timeout=180)
            except subprocess.TimeoutExpired:
                raise Failure("reskeeperctl.exe %s did not end; running in the prefix:\n%s" % (
                    args, "\n".join(c for _, c in session.unix_processes())))
        else:
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                   "DISPLAY": os.environ["DISPLAY"] if display is None else display, "HOME": home}
            for name in ("XAUTHORITY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
                if name in os.environ:
                    env[name] = os.environ[name]
            if user is not None:
                env["USERNAME"] = user
            done = subprocess.run((NOBODY if nobody else []) + [self.path, *args],
                                            cwd=folder, env=env, capture_output=True,
                                            stdin=subprocess.DEVNULL, timeout=120)
        return done.returncode, done.stdout, done.stderr

    def expect(self, status, folder, user, *args, nobody=False, home="/nonexistent", display=None,
               here=False):
        code, out, err = self.run(folder, user, *args, nobody=nobody, home=home, display=display,
                                  here=here)
        check(code == status, "reskeeperctl %s: expected exit status %d, got %d\nstdout:\n%s\n"
              "stderr:\n%s" % (" ".join(map(str, args)), status, code,
                               out.decode(errors="replace"), err.decode(errors="replace")))
        return out, err


# ---- set: the size sticks whatever the file holds ------------------------------------------

UTF8_LOWER = BOM + b"[j\xc3\xbcrgen]\nRes_X=800\nRes_Y=600\n[Zo\xc3\xab]\nRes_X=1024\nRes_Y=768\n"

# name: (file, the keeper's and the tool's user, size, the file expected afterwards)
SET_CASES = {
    "case_variants": (
        b"; users\n[alice]\nRes_X=800\nRes_Y=600\nnote=kept\n[Alice]\nRes_X=1024\nRes_Y=768\n"
        b"[ALICE]\nRes_X=1280\nRes_Y=1024\n", b"Alice", (1280, 960),
        b"; users\r\n[alice]\r\nRes_X = 1280\r\nRes_Y = 960\r\nnote = kept\r\n" +
        group(b"Alice", 1280, 960) + group(b"ALICE", 1280, 960)),
    "name_twice": (
        b"[bob]\nRes_X=800\nRes_Y=600\n[carol]\nRes_X=1024\nRes_Y=768\n[bob]\nRes_X=640\n"
        b"Res_Y=480\nextra=1\n", b"bob", (1280, 1024),
        group(b"bob", 1280, 1024) + group(b"carol", 1024, 768) +
        group(b"bob", 1280, 1024) + b"extra = 1\r\n"),
    "utf8_latin1_names": (
        UTF8_LOWER, b"J\xfcrgen", (1280, 1024),
        BOM + b"\r\n" + group(b"j\xc3\xbcrgen", 1280, 1024) + group(b"Zo\xc3\xab", 1024, 768) +
        group(b"J\xc3\xbcrgen", 1280, 1024)),
    "unset_user_name": (
        group(b"alice", 800, 600), UNSET, (1024, 768),
        group(b"alice", 800, 600) + group(SPACES, 1024, 768)),
}


@case(LINUX)
def set_with_keeper(s, ctl):
    """set beside a running keeper, on each tricky file: the file ends with the size in every
    group of the user and every other line kept, and the screen at the size, pass after pass."""
    for name, (data, user, size, expected) in SET_CASES.items():
        print("    %s" % name)
        e2e.set_mode(1920, 1080)
        work = s.work(data)
        s.start(work, user)
        s.settle()
        ctl.expect(0, work, user, "set", "%dx%d" % size)
        s.expect(work, expected, size, name)
        s.passes(4)
        s.check_now(work, expected, size, name + ", four passes later")
        s.stop()


@case(LINUX, WINDOWS)
def set_then_start(s, ctl):
    """set for a user with no group yet and no keeper running adds the group at the end; a keeper
    started afterwards applies it. A second set beside the running keeper is kept too."""
    e2e.set_mode(1920, 1080)
    start = b"; shared\r\n" + group(b"bob", 1024, 768)
    work = s.work(start)
    ctl.expect(0, work, b"dave", "set", "800x600")
    check(s.prefs(work) == start + group(b"dave", 800, 600),
          "after set:\n%s" % shown(s.prefs(work)))
    s.start(work, b"dave")
    s.expect(work, start + group(b"dave", 800, 600), (800, 600))
    ctl.expect(0, work, b"dave", "set", "1024x768")
    s.expect(work, start + group(b"dave", 1024, 768), (1024, 768), "after the second set")
    s.passes(4)
    s.check_now(work, start + group(b"dave", 1024, 768), (1024, 768), "four passes later")


def at_terminal(ctl, folder, user, args, answer=None, after=None):
    """(exit status, what the terminal showed) of reskeeperctl ARGS with standard input and
    error on a pseudo-terminal, typing `answer` once `after` (bytes) has been shown."""
    main, terminal = os.openpty()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": os.environ["DISPLAY"],
           "HOME": "/nonexistent", "USERNAME": user}
    for name in ("XAUTHORITY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if name in os.environ:
            env[name] = os.environ[name]
    process = subprocess.Popen([ctl.path, "--folder", folder, *args], cwd=folder,
                                         env=env, stdin=terminal,
                                         stdout=subprocess.DEVNULL, stderr=terminal)
    os.close(terminal)
    shown = b""
    typed = answer is None
    while True:
        ready, _, _ = select.select([main], [], [], 120)
        if not ready:
            process.kill()
            raise Failure("reskeeperctl %s said nothing for 2 minutes:\n%s" % (args, shown))
        try:
            chunk = os.read(main, 4096)
        except OSError:  # the terminal's other end is gone: the program ended
            break
        if not chunk:
            break
        shown += chunk
        if not typed and after in shown:
            os.write(main, answer)
            typed = True
    os.close(main)
    return process.wait(60), shown.decode(errors="replace")


@case(LINUX)
def set_confirm(s, ctl):
    """At a terminal, set asks once the keeper has switched the screen: no answer within the
    countdown stores the size before again, the screen returns to it and the exit status is 12;
    y keeps the new size. Without a terminal nothing is asked."""
    e2e.set_mode(1280, 1024)
    kept = b"; mine\r\n" + group(b"alice", 1280, 1024)
    work = s.work(kept)
    s.start(work, b"alice")
    s.expect(work, kept, (1280, 1024))
    prompt = "Keep 1024x768? [y/N] (returning to 1280x1024 in 3 s)"
    code, shown = at_terminal(ctl, work, b"alice", ["set", "--confirm", "3", "1024x768"])
    check(code == 12 and prompt in shown, "no answer: exit %d, the terminal showed:\n%s" % (
        code, shown))
    s.expect(work, kept, (1280, 1024), "after no answer")
    code, shown = at_terminal(ctl, work, b"alice", ["set", "1024x768"], b"y\n", b"[y/N]")
    check(code == 0 and "(returning to 1280x1024 in 15 s)" in shown,
          "y: exit %d, the terminal showed:\n%s" % (code, shown))
    s.passes(4)
    s.check_now(work, b"; mine\r\n" + group(b"alice", 1024, 768), (1024, 768), "after y")
    _, err = ctl.expect(0, work, b"alice", "set", "800x600")
    check(b"Keep" not in err, "asked without a terminal:\n%s" % err.decode(errors="replace"))
    s.expect(work, b"; mine\r\n" + group(b"alice", 800, 600), (800, 600), "without a terminal")


# ---- status --------------------------------------------------------------------------------


@case(LINUX)
def status(s, ctl):
    """status's exit status and problem lines in each problem case, the lowest status first."""
    e2e.set_mode(1280, 1024)
    fine = group(b"alice", 1280, 1024)
    # name: (file or None, keeper's user or no keeper, tool's user, as nobody, statuses found)
    table = {
        "nothing wrong": (fine, b"alice", b"alice", False, []),
        "no file": (None, None, b"alice", False, [3, 9]),
        "read-only file": (fine, None, b"alice", True, [5, 9]),
        "no keeper": (fine, None, b"alice", False, [9]),
        "USERNAME unset": (fine, UNSET, UNSET, False, [6]),
        "USERNAME empty": (fine, b"", b"", False, [7]),
        "record not a mode": (group(b"alice", 1111, 999), b"alice", b"alice", False, [8]),
    }
    for name, (data, keeper, user, nobody, found) in table.items():
        work = s.work(data)
        if data is not None:
            os.chmod(s.pref_path(work), 0o444 if nobody else 0o644)
        if keeper is not None or name == "USERNAME unset":
            s.start(work, keeper)
            s.settle()
        out, _ = ctl.expect(found[0] if found else 0, work, user, "status", "--json",
                            nobody=nobody)
        report = json.loads(out.decode("utf-8"))
        got = [problem["status"] for problem in report["problems"]]
        check(got == found and report["status"] == (found[0] if found else 0),
              "%s: expected problems %s, got:\n%s" % (name, found, out.decode()))
        s.stop()


@case(LINUX)
def per_user_folder(s, ctl):
    """Outside a folder holding the file, the tools take the user's own folder: status names it
    and the layout; set for another user is refused there, since that user's keeper reads their
    own file; set for oneself lands in it."""
    home = s.work(None, data=False)
    own = os.path.join(home, ".local", "share", "reskeeper")
    os.makedirs(os.path.join(own, "Data"))
    data = group(b"alice", 800, 600)
    with open(os.path.join(own, "Data", "Pref.txt"), "wb") as f:
        f.write(data)
    elsewhere = s.work(None, data=False)
    out, _ = ctl.expect(9, elsewhere, b"alice", "status", "--json", home=home, here=True)
    report = json.loads(out.decode("utf-8"))
    check((report["chosen"], report["layout"], report["record"]) ==
          ("user-own", "per-user", {"width": 800, "height": 600}) and
          report["file"] == os.path.join(own, "Data", "Pref.txt"), "status said:\n%s" % out.decode())
    _, err = ctl.expect(2, elsewhere, b"alice", "set", "--user", "bob", "800x600", home=home,
                        here=True)
    check(b"bob's own file" in err, "the refusal said:\n%s" % err.decode(errors="replace"))
    ctl.expect(0, elsewhere, b"alice", "set", "--force", "1024x768", home=home, here=True)
    with open(os.path.join(own, "Data", "Pref.txt"), "rb") as f:
        check(f.read() == group(b"alice", 1024, 768), "set for oneself missed the own file")


@case(LINUX, WINDOWS)
def elevated(s, ctl):
    """Run elevated (as root; under wine every program is), reskeeperctl takes no file from the
    current folder unless --folder names it, and opens none through a link; run as a standard
    user, it takes the current folder's, and follows the link."""
    work = s.work(group(b"alice", 800, 600))
    out, _ = ctl.expect(3, work, b"alice", "status", "--json", here=True)
    chosen = json.loads(out.decode("utf-8"))["chosen"]
    check(chosen == ("none" if ctl.wine else "user-own"), "status chose %s" % chosen)
    if not ctl.wine:
        _, out, _ = ctl.run(work, b"alice", "status", "--json", here=True, nobody=True)
        check(json.loads(out.decode("utf-8"))["chosen"] == "current-folder", "as nobody: %s" % out)
        linked = work + ".link"
        os.symlink(work, linked)
        ctl.expect(4, linked, b"alice", "list")
        ctl.expect(0, linked, b"alice", "list", nobody=True)


# ---- list --json and bad input ---------------------------------------------------------------


@case(LINUX, WINDOWS)
def list_json(s, ctl):
    """list --json gives the keeper's records in its order, as valid UTF-8 JSON, names taken
    byte for byte as Latin-1; list marks the current user."""
    data = (group(b"Ren\xe9e", 800, 600) + b"[quote\"back\\slash]\r\nRes_X=1\r\n" +
            group(b"bob", 640, 480) + group(b"Bob", 1024, 768) + group(b"bob", 1280, 1024) +
            group(SPACES, 1024, 768) + b"[]\r\nRes_X=5\r\n")
    work = s.work(data)
    out, _ = ctl.expect(0, work, b"bob", "list", "--json")
    records = json.loads(out.decode("utf-8"))
    check(records == [
        {"user": "Ren\u00e9e", "width": 800, "height": 600},
        {"user": "quote\"back\\slash", "width": 1, "height": 768},
        {"user": "bob", "width": 1280, "height": 1024},
        {"user": "Bob", "width": 1024, "height": 768},
        {"user": " " * 255, "width": 1024, "height": 768},
    ], "list --json gave:\n%s" % out.decode())
    out, _ = ctl.expect(0, work, b"bob", "--folder", work, "list")
    marked = [l for l in out.decode(errors="replace").splitlines() if l.startswith("*")]
    check(len(marked) == 1 and marked[0].split()[1] == "bob", "list marked:\n%s" % out.decode())


@case(LINUX, WINDOWS)
def bad_input(s, ctl):
    """Bad input gets one line on standard error, exit status 2, and changes nothing; set for
    the empty user name exits 7 and changes nothing."""
    data = group(b"alice", 800, 600) + b"; keep me as I am\n"
    work = s.work(data)
    for args in [["bogus"], ["set"], ["set", "1920"], ["set", "0x768"], ["set", "-5x5"],
                 ["set", "40000x768"], ["set", "1920x1080x"], ["set", "800x600", "900x700"],
                 ["set", "--user", "a]b", "800x600"],
                 ["status", "--frobnicate"], ["list", "--force"], ["status", "extra"],
                 ["modes", "--user", "x"], ["set", "--json", "800x600"],
                 ["--folder"], []] + ([] if ctl.wine else [["set", "--user", "a\nb", "800x600"]]):
        out, err = ctl.expect(2, work, b"alice", *args)
        # Wine may add lines of its own on standard error.
        check(out == b"" and (ctl.wine or len(err.strip().splitlines()) == 1),
              "%s: expected one line on stderr only, got\n%s\n%s" % (args, out, err))
    if not ctl.wine:  # cmd's `set USERNAME=` removes the variable: no empty value under wine
        ctl.expect(7, work, b"", "set", "800x600")
        ctl.expect(10, work, b"alice", "modes", "--json", display=":none")
    check(s.prefs(work) == data, "the file changed:\n%s" % shown(s.prefs(work)))


@case(WINDOWS)
def windows_core(s, ctl):
    """reskeeper.exe and reskeeperctl.exe under wine: status with and without a keeper, set kept
    by the running keeper and shown on the screen."""
    e2e.set_mode(1920, 1080)
    work = s.work(group(b"alice", 1280, 1024))
    out, _ = ctl.expect(9, work, b"alice", "status")
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1280, 1024), (1280, 1024))
    ctl.expect(0, work, b"alice", "status")
    ctl.expect(8, work, b"alice", "set", "1111x999")
    ctl.expect(0, work, b"alice", "set", "800x600")
    s.expect(work, group(b"alice", 800, 600), (800, 600), "after set")


# ---- Running them --------------------------------------------------------------------------


def run(name, program_path, ctl_path, wine_prefix):
    function, _ = CASES[name]

    def body(s):
        function(s, Ctl(s, ctl_path))

    body.__doc__ = function.__doc__
    return harness.run_in_fresh_folder(name, program_path, wine_prefix, body,
                                         prefix="reskeeperctl-e2e.")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", choices=[LINUX, WINDOWS])
    parser.add_argument("--program")
    parser.add_argument("--ctl")
    parser.add_argument("--wine-prefix")
    parser.add_argument("--case", action="append")
    args = parser.parse_args()
    if args.list:
        print(";".join(n for n, (_, systems) in CASES.items() if args.list in systems))
        return 0
    windows = args.program.endswith(".exe")
    for path in (args.program, args.ctl):
        if not os.path.isfile(path):
            print("SKIPPED: %s does not exist" % path)
            return harness.SKIPPED if windows else 1
    system = WINDOWS if windows else LINUX
    names = args.case or [n for n, (_, systems) in CASES.items() if system in systems]
    try:
        results = [run(n, os.path.abspath(args.program), os.path.abspath(args.ctl),
                       args.wine_prefix) for n in names]
    finally:
        e2e.stop_servers()
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
