#!/usr/bin/env python3
"""End-to-end scenarios: the real program, reskeeper on Linux or reskeeper.exe under wine,
run in a fresh folder with a Data/Pref.txt of the scenario's own bytes, against the private X
server that tests/e2e/xdisplay.sh starts. Each scenario sets the screen's mode with xrandr,
lets the program run until the expected file and mode are there (or a deadline passes), and
checks both byte for byte and with xrandr.

    xdisplay.sh run scenarios.py --program PATH [--wine-prefix TEMPLATE] [--scenario NAME]...
    scenarios.py --list linux|windows

A Windows program that does not exist yet gives exit status 77 (skipped)."""

import argparse
import fcntl
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

import e2e
import fileform
from e2e import Failure, check, mode_text, shown, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
PASS_SECONDS = 0.5  # the program's cycle
SKIPPED = 77
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
ANY = object()  # expect(): the file is not looked at
NO_FILE = None

LINUX = "linux"
WINDOWS = "windows"
SCENARIOS = {}


def scenario(*systems):
    def register(function):
        SCENARIOS[function.__name__] = (function, systems)
        return function

    return register


def group(name, width, height):
    return b"[%s]\r\nRes_X = %d\r\nRes_Y = %d\r\n" % (name, width, height)


# ---- The programs -------------------------------------------------------------------------


def ofd_lock(fd, kind):
    """Waits for an open-file-description lock on the whole file: the kind of lock the Linux
    program takes, so that the two never meet inside each other's read or write."""
    fcntl.fcntl(fd, fcntl.F_OFD_SETLKW, struct.pack("hhqqi4x", kind, os.SEEK_SET, 0, 0, 0))


class Native:
    """The Linux program, started directly."""

    # Seconds for an expected state to appear: generous, since polls end once it is there and
    # a loaded machine may run a sanitised build far slower than usual.
    deadline = 60

    def __init__(self, path, root):
        self.bin = os.path.join(root, "bin")
        os.makedirs(self.bin, mode=0o755)
        # A copy that another user can run, and that no rebuild replaces under the test.
        self.path = shutil.copy(path, os.path.join(self.bin, "reskeeper"))
        self.root = root
        self.processes = []

    def start(self, folder, user, nobody=False):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": os.environ["DISPLAY"]}
        for name in ("XAUTHORITY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if user is not None:
            env["USERNAME"] = user  # bytes: the program's names are single-byte text
        log = open(os.path.join(self.root, "program-%d.log" % len(self.processes)), "wb")
        with log:
            process = subprocess.Popen((NOBODY if nobody else []) + [self.path], cwd=folder,
                                       env=env, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT)
        self.processes.append(process)

    def running(self):
        return all(process.poll() is None for process in self.processes)

    def wait_started(self):
        pass

    def end_first(self):
        """Ends the program started first, as a logoff would."""
        process = self.processes.pop(0)
        process.kill()
        process.wait()

    def stop(self):
        for process in self.processes:
            process.terminate()
        for process in self.processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.processes = []

    def edit(self, folder, data):
        fd = os.open(os.path.join(folder, "Data", "Pref.txt"), os.O_RDWR)
        try:
            ofd_lock(fd, fcntl.F_WRLCK)
            os.ftruncate(fd, 0)
            os.pwrite(fd, data, 0)
        finally:
            os.close(fd)

    def sampler(self, folder):
        return LockedSampler(os.path.join(folder, "Data", "Pref.txt"))


class LockedSampler(threading.Thread):
    """Reads the file under a read lock every 10 ms and keeps each state that differs from the
    one before."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.samples = []
        self.stopping = threading.Event()

    def run(self):
        while not self.stopping.is_set():
            try:
                fd = os.open(self.path, os.O_RDONLY)
            except FileNotFoundError:
                fd = None
            if fd is not None:
                try:
                    ofd_lock(fd, fcntl.F_RDLCK)
                    data = b""
                    while chunk := os.read(fd, 65536):
                        data += chunk
                finally:
                    os.close(fd)
                if not self.samples or self.samples[-1] != data:
                    self.samples.append(data)
            time.sleep(0.01)

    def sampling(self):
        """Whether the first state has been read."""
        return bool(self.samples)

    def finish(self):
        self.stopping.set()
        self.join(30)
        return self.samples


def program_logs(root):
    """What the programs started in a scenario's folder `root` printed."""
    text = []
    for name in sorted(os.listdir(root)):
        if name.startswith("program-") and name.endswith(".log"):
            with open(os.path.join(root, name), errors="replace") as f:
                content = f.read().strip()
            if content:
                text.append("%s:\n%s" % (name, content[-4000:]))
    return "\n".join(text)


def windows_path(path):
    check(" " not in path, "a path with blanks cannot be passed through cmd: %s" % path)
    return "Z:" + path.replace("/", "\\")


class WineSession:
    """One wine prefix and the wine processes started in it by one Unix user (root, or nobody
    for a prefix of nobody's). Each scenario has prefixes of its own, so that no wine server,
    registry or desktop process of one is ever seen by another."""

    def __init__(self, prefix, nobody=False, home=None):
        self.prefix = prefix
        self.nobody = nobody
        self.home = home or os.environ.get("HOME", "/root")
        self.user = "nobody" if nobody else "root"
        self.processes = []

    def env(self):
        return {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "USER": self.user,
            "LOGNAME": self.user,
            "WINEPREFIX": self.prefix,
            # Wine's own errors only, into the program's log.
            "WINEDEBUG": "-all,err+all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": os.environ["DISPLAY"],
            "XAUTHORITY": os.environ.get("XAUTHORITY", ""),
            # Command lines reach wine as UTF-8, and programs see names in code page 1252.
            "LC_ALL": "C.UTF-8",
        }

    def command(self, *argv):
        return (NOBODY if self.nobody else []) + list(argv)

    def run(self, *argv, timeout=300, cwd=None):
        return subprocess.run(self.command(*argv), env=self.env(), cwd=cwd, capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)

    def user_name(self):
        """The USERNAME wine gives this prefix's programs. Now and then wine fails to launch cmd
        at all, so a launch that gave no name is made again (three times at most)."""
        for _ in range(3):
            said = self.run("wine", "cmd", "/c", "echo", "%USERNAME%")
            name = said.stdout.strip()
            if said.returncode == 0 and name and not any(c in name for c in (b"%", b" ", b"\n")):
                return name
        raise Failure("wine gave no user name: %r %r" % (said.stdout, said.stderr[-2000:]))

    def prepare(self, template=None):
        """Creates the prefix: a copy of `template`, which is made on first use (once for all
        the scenarios, serialised by a lock file), or made afresh without one."""
        if template is None:
            self.boot()
            return
        os.makedirs(os.path.dirname(template), exist_ok=True)
        with open(template + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            marker = os.path.join(template, ".initialised")
            if not os.path.exists(marker):
                shutil.rmtree(template, ignore_errors=True)
                WineSession(template, self.nobody, self.home).boot()
                open(marker, "w").close()
        shutil.copytree(template, self.prefix, symlinks=True)

    def boot(self):
        """Makes the prefix with wineboot and waits until its wine server has left."""
        started = time.monotonic()
        booted = self.run("wine", "wineboot", "--init")
        self.run("wineserver", "-w")
        check(os.path.exists(os.path.join(self.prefix, "system.reg")),
              "could not create the wine prefix %s:\n%s" % (
                  self.prefix, booted.stdout.decode(errors="replace") +
                  booted.stderr.decode(errors="replace")))
        print("created the wine prefix %s in %.1f s" % (self.prefix, time.monotonic() - started))

    def start(self, folder, *argv, log=None):
        """Starts `wine ARGV...` in `folder`, its output going to the file `log`, or nowhere."""
        output = open(log, "wb") if log else subprocess.DEVNULL
        try:
            process = subprocess.Popen(self.command("wine", *argv), cwd=folder, env=self.env(),
                                       stdin=subprocess.DEVNULL, stdout=output,
                                       stderr=subprocess.STDOUT)
        finally:
            if log:
                output.close()
        self.processes.append(process)
        return process

    def unix_processes(self):
        """(pid, command line) of the live processes running in this prefix."""
        found = []
        tag = b"WINEPREFIX=" + self.prefix.encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if tag not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    found.append((int(entry), f.read().replace(b"\0", b" ").decode(
                        errors="replace")))
            except OSError:
                continue
        return found

    def stop(self):
        """Ends every process of the prefix and waits until the wine server has left."""
        self.run("wineserver", "-k", timeout=60)
        self.run("wineserver", "-w", timeout=60)
        for process in self.processes:
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.processes = []
        left = wait_until(lambda: not self.unix_processes(), 30, 0.1)
        check(left, "wine processes left running in %s: %s" % (self.prefix,
                                                              self.unix_processes()))


class Wine:
    """The Windows program under wine, started through cmd so that each run has its own
    USERNAME: wine gives every process the user name of the first one its server saw."""

    deadline = 120

    def __init__(self, path, root, template):
        self.root = root
        self.bin = os.path.join(root, "bin")
        os.makedirs(self.bin, mode=0o755)
        self.path = shutil.copy(path, os.path.join(self.bin, "reskeeper.exe"))
        self.session = WineSession(os.path.join(root, "prefix"))
        self.session.prepare(template)
        self.sessions = [self.session]
        self.helpers = {}
        self.started = 0  # programs running
        self.launched = []  # (pid, cmd or None) of each program started, oldest first
        self.launches = 0  # launches made, for their logs

    def start(self, folder, user, nobody=False):
        session = self.session
        if nobody:
            session = self.nobody_session()
        name = b"" if user is None else user.decode("latin-1").encode()
        # Now and then wine fails to launch a process at all (cmd says "ShellExecuteEx
        # failed"); the program has not run then, so that launch is made again.
        for _ in range(3):
            log = os.path.join(self.root, "program-%d.log" % self.launches)
            self.launches += 1
            cmd = session.start(folder, "cmd", "/c", "set", b"USERNAME=" + name + b"&&",
                                windows_path(self.path), log=log)
            wait_until(lambda: len(self.programs()) > self.started or cmd.poll() is not None,
                       self.deadline)
            if len(self.programs()) > self.started:
                self.started += 1
                self.remember(cmd)
                return
            check(cmd.poll() is not None, "reskeeper.exe did not start under wine")
            session.processes.remove(cmd)
            with open(log, errors="replace") as f:
                said = " ".join(f.read().split())
            print("    wine did not launch reskeeper.exe (%s); launching it again" % said)
        raise Failure("wine could not launch reskeeper.exe three times in a row\n" +
                      program_logs(self.root))

    def nobody_session(self):
        home = os.path.join(self.root, "nobody")
        if not os.path.isdir(home):
            os.makedirs(home, mode=0o755)
            shutil.chown(home, "nobody", "nogroup")
            session = WineSession(os.path.join(home, "prefix"), nobody=True, home=home)
            session.prepare()
            self.sessions.append(session)
        return self.sessions[-1]

    def remember(self, cmd):
        known = {pid for pid, _ in self.launched}
        fresh = lambda: [pid for pid in self.programs() if pid not in known]
        # For a moment while wine starts a program, a second Unix process can bear its command
        # line: the one that stays is the program.
        new = wait_until(lambda: len(fresh()) == 1 and fresh(), 10) or fresh()
        check(len(new) == 1, "cannot tell which reskeeper.exe was started: %s" % new)
        self.launched.append((new[0], cmd))

    def end_first(self):
        """Ends the program started first, as a logoff would: at once, without a word."""
        pid, cmd = self.launched.pop(0)
        os.kill(pid, 9)
        check(wait_until(lambda: pid not in self.programs(), self.deadline),
              "reskeeper.exe %d did not end" % pid)
        if cmd is not None:
            cmd.wait(60)
            for session in self.sessions:
                if cmd in session.processes:
                    session.processes.remove(cmd)
        self.started -= 1

    def start_ready(self, folder, user):
        """Starts the program as a shortcut would (input_idle.exe), and checks that Windows is
        told it is ready for input, the moment the busy pointer goes."""
        log = os.path.join(self.root, "input_idle-%d.log" % self.launches)
        self.launches += 1
        with open(log, "wb") as output:
            # Not waited for through a pipe: the program started inherits the launcher's output.
            done = subprocess.run(self.session.command(
                "wine", self.helper("input_idle"), windows_path(self.path), user.decode()),
                cwd=folder, env=self.session.env(), stdin=subprocess.DEVNULL, stdout=output,
                stderr=subprocess.STDOUT, timeout=300)
        with open(log, errors="replace") as f:
            said = f.read().strip()
        check(done.returncode == 0, "reskeeper.exe was not ready for input (%d): %s" % (
            done.returncode, said))
        print("    input_idle: %s" % said.splitlines()[-1])
        check(wait_until(lambda: len(self.programs()) > self.started, self.deadline),
              "reskeeper.exe is not running")
        self.started += 1
        self.remember(None)

    def programs(self):
        return [pid for session in self.sessions for pid, command in session.unix_processes()
                if command.lower().startswith("z:\\") and "reskeeper.exe" in command.lower()]

    def running(self):
        # cmd waits for the program; the program going away ends cmd too.
        return all(p.poll() is None for s in self.sessions for p in s.processes)

    def wait_started(self):
        count = wait_until(lambda: len(self.programs()) >= self.started, self.deadline)
        check(count, "reskeeper.exe did not start under wine")

    def stop(self):
        errors = []
        for session in self.sessions:
            try:
                session.stop()
            except Failure as error:
                errors.append(str(error))
        check(not errors, "\n".join(errors))
        self.started = 0
        self.launched = []

    def helper(self, name):
        """The Windows path of helper `name` (tests/e2e/NAME.c), built with the cross compiler
        on first use."""
        if name not in self.helpers:
            compiler = shutil.which("x86_64-w64-mingw32-gcc-posix") or shutil.which(
                "x86_64-w64-mingw32-gcc")
            check(compiler, "no x86_64-w64-mingw32-gcc to build the helper %s" % name)
            path = os.path.join(self.bin, name + ".exe")
            built = subprocess.run([compiler, "-O2", "-static", "-o", path,
                                    os.path.join(HERE, name + ".c")], capture_output=True,
                                   text=True)
            check(built.returncode == 0, "could not build %s.exe:\n%s" % (name, built.stderr))
            self.helpers[name] = windows_path(path)
        return self.helpers[name]

    def winfile(self):
        """The helper that reads and writes files as a careful Windows program would."""
        return self.helper("winfile")

    def edit(self, folder, data):
        source = os.path.join(self.root, "edit.bin")
        with open(source, "wb") as f:
            f.write(data)
        done = self.session.run("wine", self.winfile(), "write", "Data\\Pref.txt",
                                windows_path(source), cwd=folder, timeout=120)
        check(done.returncode == 0, "winfile write failed: %s" % done.stderr.decode(
            errors="replace"))

    def sampler(self, folder):
        return WineSampler(self, folder)


class WineSampler:
    """winfile sample, running beside the programs until finish()."""

    def __init__(self, wine, folder):
        self.wine = wine
        self.folder = folder
        self.out = tempfile.mkdtemp(dir=wine.root, prefix="samples.")
        self.process = None

    def start(self):
        self.process = self.wine.session.start(self.folder, self.wine.winfile(), "sample",
                                               "Data\\Pref.txt", windows_path(self.out), "100000")

    def sampling(self):
        """Whether the first state has been read."""
        return any(n.endswith(".bin") for n in os.listdir(self.out))

    def finish(self):
        open(os.path.join(self.out, "stop"), "w").close()
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            raise Failure("winfile sample did not finish")
        self.wine.session.processes.remove(self.process)
        samples = []
        for name in sorted(n for n in os.listdir(self.out) if n.endswith(".bin")):
            with open(os.path.join(self.out, name), "rb") as f:
                samples.append(f.read())
        return samples


# ---- A scenario's surroundings ------------------------------------------------------------


class Scenario:
    def __init__(self, program, root):
        self.program = program
        self.root = root
        self.folders = 0
        self.lost_edits = 0

    def work(self, prefs, data=True):
        """A fresh working folder (readable by everyone) with Data/Pref.txt holding `prefs`, or
        with no file when `prefs` is None."""
        self.folders += 1
        folder = os.path.join(self.root, "work%d" % self.folders)
        os.makedirs(os.path.join(folder, "Data") if data else folder)
        for path in (folder, os.path.join(folder, "Data")):
            if os.path.isdir(path):
                os.chmod(path, 0o755)
        if prefs is not None:
            with open(self.pref_path(folder), "wb") as f:
                f.write(prefs)
        return folder

    @staticmethod
    def pref_path(folder):
        return os.path.join(folder, "Data", "Pref.txt")

    def prefs(self, folder):
        try:
            with open(self.pref_path(folder), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return NO_FILE

    def start(self, folder, user, nobody=False):
        self.program.start(folder, user, nobody)

    def stop(self):
        self.program.stop()

    def edit(self, folder, data, before, after):
        """Writes `data` over Data/Pref.txt as another careful program would, and waits until
        a pass has rewritten it, into `after`. A pass that loaded the table before the edit
        (or could not load it, while the editor held the file) writes its older values over
        the edit, giving `before` back: the edit is then made again."""
        for _ in range(5):
            self.program.edit(folder, data)
            wait_until(lambda: self.prefs(folder) in (before, after) or not self.program.running(),
                       self.program.deadline)
            if self.prefs(folder) != before:
                return
            self.lost_edits += 1
            print("    the edit was lost: a pass wrote its older values over it; editing again")
        raise Failure("five edits in a row were lost")

    def passes(self, count):
        """Waits a fixed few of the program's passes: for the checks that nothing changes."""
        time.sleep(count * PASS_SECONDS)

    def settle(self):
        """Waits until the program runs and has had a few passes."""
        self.program.wait_started()
        self.passes(4)

    def expect(self, folder, file=ANY, mode=None, when="", poll=True):
        """Waits until Data/Pref.txt holds `file` (bytes, NO_FILE, or a tuple of acceptable
        contents) and the screen shows `mode`, failing at the deadline with both shown."""
        options = file if isinstance(file, tuple) else (file,)

        def holds():
            if not self.program.running():
                return True  # reported below
            return ((file is ANY or self.prefs(folder) in options) and
                    (mode is None or e2e.screen_mode() == mode))

        if poll:
            wait_until(holds, self.program.deadline)
        actual_file = self.prefs(folder) if file is not ANY else None
        actual_mode = e2e.screen_mode()
        problems = []
        if not self.program.running():
            problems.append("the program is no longer running\n" + self.logs())
        if file is not ANY and actual_file not in options:
            for number, option in enumerate(options):
                problems.append("expected file%s:\n%s" % (
                    " (option %d)" % (number + 1) if len(options) > 1 else "", shown(option)))
            problems.append("actual file:\n%s" % shown(actual_file))
        if mode is not None and actual_mode != mode:
            problems.append("expected screen %s, actual %s" % (mode_text(mode),
                                                              mode_text(actual_mode)))
        if problems:
            raise Failure("%s%s" % ("%s: " % when if when else "", "\n".join(problems)))

    def check_now(self, folder, file=ANY, mode=None, when=""):
        self.expect(folder, file, mode, when, poll=False)

    def logs(self):
        return program_logs(self.root)


# ---- Garbage ------------------------------------------------------------------------------


def garbage(size=3000, seed=20240611):
    """Bytes of every kind, line ends, zero bytes, blanks, `;` and `=` among them often, but no
    `[`: a group in them would take values of its own."""
    rng = random.Random(seed)
    special = b"\r\n\0 \t;=\xef\xbb\xbf"
    choices = [b for b in range(256) if b != ord("[")]
    data = bytes(rng.choice(special) if rng.random() < 0.3 else rng.choice(choices)
                 for _ in range(size))
    return b"x" + data  # never a byte-order mark at the start


# ---- The scenarios ------------------------------------------------------------------------


@scenario(LINUX, WINDOWS)
def typical_pass(s):
    """The screen is switched to the user's stored size and the file rewritten in normal form;
    later passes change nothing."""
    e2e.set_mode(1920, 1080)
    work = s.work(b"[bob]\nRes_X=800\nRes_Y=600\n[alice]\nRes_X=1280\nRes_Y=1024\n")
    s.start(work, b"alice")
    normal = group(b"bob", 800, 600) + group(b"alice", 1280, 1024)
    s.expect(work, normal, (1280, 1024))
    s.passes(3)
    s.check_now(work, normal, (1280, 1024), "three passes later")


@scenario(LINUX, WINDOWS)
def first_time_user(s):
    """A user seen for the first time gets the present size recorded, not the default one."""
    e2e.set_mode(800, 600)
    work = s.work(b"")
    s.start(work, b"carol")
    s.expect(work, group(b"carol", 800, 600), (800, 600))


@scenario(LINUX, WINDOWS)
def unset_user_name(s):
    """Without USERNAME the name is 255 blanks, recorded like any first-time user."""
    e2e.set_mode(1280, 1024)
    stored = group(b"alice", 800, 600)
    work = s.work(stored)
    s.start(work, None)
    s.expect(work, stored + group(b" " * 255, 1280, 1024), (1280, 1024))


@scenario(LINUX, WINDOWS)
def missing_file(s):
    """A missing file is never created and nothing is switched; a file that appears later is
    used from the next pass on."""
    e2e.set_mode(1280, 1024)
    work = s.work(None)
    s.start(work, b"dave")
    s.settle()
    s.check_now(work, NO_FILE, (1280, 1024), "with no file")
    check(sorted(os.listdir(work)) == ["Data"] and os.listdir(os.path.join(work, "Data")) == [],
          "the program created files: %s" % sorted(
              os.path.relpath(os.path.join(d, n), work) for d, _, ns in os.walk(work)
              for n in ns))
    with open(s.pref_path(work), "wb"):
        pass
    s.expect(work, group(b"dave", 1280, 1024), (1280, 1024), "once an empty file appeared")


@scenario(LINUX, WINDOWS)
def normalise(s):
    """Comments, blank lines, leading blanks, `a=b=c`, a line without `=`, a group without `]`,
    text after `]`, key case and every kind of line end come out in normal form."""
    e2e.set_mode(1920, 1080)
    work = s.work(b"; users of this machine\n"
                  b"\n"
                  b"   ;indented comment\r\n"
                  b"\t top=level\n"
                  b"[alice]  trailing words\r"
                  b"  Res_X=800\n"
                  b"Res_Y   =   600\n"
                  b"formula=a=b=c\n"
                  b"no equals here\n"
                  b"\r\n\r\n\n"
                  b"[bob\n"
                  b"res_x=1280\n"
                  b"Res_Y=1024")
    s.start(work, b"alice")
    s.expect(work, b"; users of this machine\r\n"
                   b"; indented comment\r\n"
                   b"top = level\r\n"
                   b"[alice]\r\n"
                   b"Res_X = 800\r\n"
                   b"Res_Y = 600\r\n"
                   b"formula = a=b=c\r\n"
                   b"no equals here = \r\n"
                   b"[bob]\r\n"
                   b"Res_X = 1280\r\n"
                   b"Res_Y = 1024\r\n", (800, 600))


UTF8_NAMES = (b"\xef\xbb\xbf; Benutzer\n[J\xc3\xbcrgen]\nRes_X=1024\nRes_Y=768\n"
              b"[Zo\xc3\xab]\nRes_X=800\nRes_Y=600\n")


@scenario(LINUX, WINDOWS)
def utf8_file(s):
    """A UTF-8 file keeps its byte-order mark, followed by an empty line; a user name in
    Latin-1 finds its UTF-8 group, and a new one is added in UTF-8."""
    e2e.set_mode(1280, 1024)
    work = s.work(UTF8_NAMES)
    normal = (b"\xef\xbb\xbf\r\n; Benutzer\r\n" + group(b"J\xc3\xbcrgen", 1024, 768) +
              group(b"Zo\xc3\xab", 800, 600))
    s.start(work, b"J\xfcrgen")
    s.expect(work, normal, (1024, 768))
    s.stop()
    s.start(work, b"Ren\xe9e")
    s.expect(work, normal + group(b"Ren\xc3\xa9e", 1024, 768), (1024, 768), "as Renee")


@scenario(LINUX, WINDOWS)
def edit_while_running(s):
    """A value edited in the file while the program runs is applied at the next pass."""
    e2e.set_mode(1920, 1080)
    work = s.work(group(b"alice", 1280, 1024))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1280, 1024), (1280, 1024))
    s.edit(work, b"[alice]\nRes_X=800\nRes_Y=600\n", group(b"alice", 1280, 1024),
           group(b"alice", 800, 600))
    s.expect(work, group(b"alice", 800, 600), (800, 600), "after the edit")


@scenario(LINUX, WINDOWS)
def read_only_file(s):
    """A file the program's user cannot write is read and applied but keeps its bytes. The
    program runs as nobody, since root may write any file."""
    e2e.set_mode(1920, 1080)
    original = b"[alice]\nRes_X=1024\nRes_Y=768\n"
    work = s.work(original)
    os.chmod(s.pref_path(work), 0o444)
    before = os.stat(s.pref_path(work))
    s.start(work, b"alice", nobody=True)
    s.expect(work, original, (1024, 768))
    s.passes(4)
    s.check_now(work, original, (1024, 768), "four passes later")
    after = os.stat(s.pref_path(work))
    check(after.st_mtime_ns == before.st_mtime_ns, "the read-only file was written")


@scenario(LINUX, WINDOWS)
def two_programs(s):
    """Two programs for two users on one folder: the file ends with both groups, none lost or
    doubled, and every state another careful reader sees is a whole file. Bob is another Unix
    user (another wine session): his keeper is not held back by alice's."""
    e2e.set_mode(1280, 1024)
    start = b"; shared by alice and bob\r\n"
    alice = group(b"alice", 1280, 1024)
    bob = group(b"bob", 1280, 1024)
    work = s.work(start)
    os.chmod(s.pref_path(work), 0o666)
    sampler = s.program.sampler(work)
    sampler.start()
    try:
        # The reader must have seen the file as it was before any program wrote it.
        check(wait_until(sampler.sampling, s.program.deadline), "the reader saw no state")
        s.start(work, b"alice")
        s.start(work, b"bob", nobody=True)
        s.expect(work, (start + alice + bob, start + bob + alice), (1280, 1024))
        s.passes(4)
    finally:
        samples = sampler.finish()
    s.check_now(work, (start + alice + bob, start + bob + alice), (1280, 1024), "four passes later")
    whole = {start, start + alice, start + bob, start + alice + bob, start + bob + alice}
    broken = [sample for sample in samples if sample not in whole]
    check(not broken, "states that are no whole file:\n%s" % "\n--\n".join(map(shown, broken)))
    check(len(samples) >= 2, "the reader saw %d states" % len(samples))
    print("    a reader saw %d states, all whole" % len(samples))


@scenario(LINUX, WINDOWS)
def pref_is_a_folder(s):
    """Data/Pref.txt as a folder: the program keeps running and touches nothing, and uses a
    file put in its place."""
    e2e.set_mode(1024, 768)
    work = s.work(None)
    os.mkdir(s.pref_path(work))
    s.start(work, b"erin")
    s.settle()
    s.check_now(work, mode=(1024, 768), when="with a folder")
    check(os.path.isdir(s.pref_path(work)) and not os.listdir(s.pref_path(work)),
          "the folder changed")
    os.rmdir(s.pref_path(work))
    with open(s.pref_path(work), "wb"):
        pass
    s.expect(work, group(b"erin", 1024, 768), (1024, 768), "once a file replaced the folder")


@scenario(LINUX, WINDOWS)
def garbage_file(s):
    """Garbage bytes: the program keeps running, and the file, in normal form, gains the user's
    group."""
    e2e.set_mode(800, 600)
    junk = garbage()
    work = s.work(junk)
    s.start(work, b"frank")
    s.expect(work, fileform.normalised(junk) + group(b"frank", 800, 600), (800, 600))


@scenario(LINUX, WINDOWS)
def refused_sizes(s):
    """Stored sizes the screen cannot show (no such mode, zero, negative, too large) leave it
    alone, pass after pass; a size it can show is switched to afterwards."""
    e2e.set_mode(1280, 1024)
    work = s.work(group(b"alice", 1280, 1024))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1280, 1024), (1280, 1024))
    stored = group(b"alice", 1280, 1024)
    for width, height in ((1234, 567), (1920, 600), (0, 0), (-800, -600), (100000, 100000),
                          (800, 600)):
        wanted = group(b"alice", width, height)
        s.edit(work, b"[alice]\nRes_X=%d\nRes_Y=%d\n" % (width, height), stored, wanted)
        stored = wanted
        # The rewrite comes after the pass's switch: once it is there, the switch was tried.
        shows = (800, 600) if width == 800 else (1280, 1024)
        s.expect(work, wanted, shows, "asking for %dx%d" % (width, height))


@scenario(LINUX, WINDOWS)
def second_keeper(s):
    """A second copy started beside a running keeper of the same user and display (session)
    changes nothing, no switch and no write, pass after pass, until the first ends; then it
    takes over with its own file."""
    e2e.set_mode(1920, 1080)
    first = s.work(b"[alice]\nRes_X=1280\nRes_Y=1024\n")
    s.start(first, b"alice")
    s.expect(first, group(b"alice", 1280, 1024), (1280, 1024))
    # Not in normal form, and dated long ago: any write shows in bytes and in time.
    waiting = b"[bob]\nRes_X=800\nRes_Y=600\n"
    second = s.work(waiting)
    os.utime(s.pref_path(second), ns=(10**18, 10**18))
    s.start(second, b"bob")
    s.program.wait_started()
    for n in range(4):
        s.passes(2)
        when = "%d passes after the second copy started" % (2 * n + 2)
        s.check_now(second, waiting, (1280, 1024), when)
        s.check_now(first, group(b"alice", 1280, 1024), when=when)
        check(os.stat(s.pref_path(second)).st_mtime_ns == 10**18,
              "%s: the second copy wrote its file" % when)
    s.program.end_first()
    s.expect(second, group(b"bob", 800, 600), (800, 600), "once the first ended")


@scenario(LINUX, WINDOWS)
def size_at_other_rate(s):
    """A stored size that the screen lists only at another refresh rate than its first mode's
    is switched to: Windows refuses the request built on the first mode, and the size is asked
    for again alone."""
    e2e.xrandr("--newmode", "1152x864", "104.00", "1152", "1224", "1344", "1536", "864", "867",
               "871", "905", "-hsync", "+vsync")  # `cvt 1152 864 75`: at 75 Hz only
    e2e.xrandr("--addmode", e2e.OUTPUT, "1152x864")
    e2e.set_mode(1280, 1024)
    work = s.work(group(b"alice", 1152, 864))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1152, 864), (1152, 864))


@scenario(WINDOWS)
def ready_for_input(s):
    """Started as from a shortcut, the program tells Windows at once that it is ready for
    input, so no busy pointer is shown for it: as the keeper, and as a second copy that waits
    for the first to end without calling the display at all."""
    e2e.set_mode(1280, 1024)
    first = s.work(b"")
    s.program.start_ready(first, b"alice")
    s.expect(first, group(b"alice", 1280, 1024), (1280, 1024))
    second = s.work(b"")
    s.program.start_ready(second, b"bob")
    s.passes(2)
    s.check_now(second, b"", (1280, 1024), "beside the first")
    s.program.end_first()
    s.expect(second, group(b"bob", 1280, 1024), (1280, 1024), "once the first ended")


@scenario(LINUX)
def x_server_restart(s):
    """The X server goes away and a new one comes up on the same display: the program keeps
    running and switches the new screen to the stored size."""
    server = e2e.XServer()
    e2e.set_mode(1920, 1080)
    work = s.work(group(b"alice", 1024, 768))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1024, 768), (1024, 768))
    try:
        server.kill()
        s.passes(4)
        check(s.program.running(), "the program ended with the X server\n" + s.logs())
        server.start_again()
        s.expect(work, group(b"alice", 1024, 768), (1024, 768), "on the new server")
    finally:
        s.stop()


# ---- Running them -------------------------------------------------------------------------


def run_in_fresh_folder(name, program_path, wine_prefix, body, prefix="reskeeper-e2e."):
    """Runs `body(scenario)` for the test `name` with the program at `program_path` (under wine
    for an .exe) in a fresh folder, reports it, and removes the folder unless it failed."""
    root = tempfile.mkdtemp(prefix=prefix)
    os.chmod(root, 0o755)
    started = time.monotonic()
    program = None
    error = None
    try:
        if program_path.endswith(".exe"):
            program = Wine(program_path, root, wine_prefix)
        else:
            program = Native(program_path, root)
        print("---- %s: %s" % (name, " ".join(body.__doc__.split())))
        surroundings = Scenario(program, root)
        body(surroundings)
        check(program.running(), "the program ended during the test\n" + surroundings.logs())
    except Failure as failure:
        error = str(failure) + "\n" + program_logs(root)
    except Exception:  # a broken harness is a failure too, with its trace
        error = traceback.format_exc()
    finally:
        if program is not None:
            try:
                program.stop()
            except Failure as failure:
                error = (error + "\n" if error else "") + str(failure)
    e2e.report(name, started, error)
    if error is None:
        shutil.rmtree(root, ignore_errors=True)
    else:
        print("kept %s" % root)
    return error is None


def run(name, program_path, wine_prefix):
    function, _ = SCENARIOS[name]
    return run_in_fresh_folder(name, program_path, wine_prefix, function)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", choices=[LINUX, WINDOWS], help="print the scenario names")
    parser.add_argument("--program", help="reskeeper or reskeeper.exe")
    parser.add_argument("--wine-prefix",
                        help="the wine prefix to create or reuse as every scenario's template")
    parser.add_argument("--scenario", action="append", help="run only this one (repeatable)")
    args = parser.parse_args()
    if args.list:
        print(";".join(n for n, (_, systems) in SCENARIOS.items() if args.list in systems))
        return 0
    if not args.program:
        parser.error("--program is needed")
    windows = args.program.endswith(".exe")
    if not os.path.isfile(args.program):
        print("SKIPPED: %s does not exist%s" % (
            args.program, "; build the windows preset first" if windows else ""))
        return SKIPPED if windows else 1
    if windows and not args.wine_prefix:
        parser.error("--wine-prefix is needed for a Windows program")
    check(e2e.screen_mode() is not None, "no %s on the display %s" % (
        e2e.OUTPUT, os.environ.get("DISPLAY")))
    system = WINDOWS if windows else LINUX
    names = args.scenario or [n for n, (_, systems) in SCENARIOS.items() if system in systems]
    unknown = [n for n in names if n not in SCENARIOS or system not in SCENARIOS[n][1]]
    if unknown:
        parser.error("no %s scenario %s" % (system, ", ".join(unknown)))
    try:
        results = [run(name, os.path.abspath(args.program), args.wine_prefix) for name in names]
    finally:
        e2e.stop_servers()
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
