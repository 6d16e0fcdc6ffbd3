"""The end-to-end tests' harness: the real program (reskeeper, or reskeeper.exe under wine in a
prefix of its own) started in a folder of the test's, with a USERNAME of its own; what it wrote
into the file, sampled as a careful program reads it; and a scenario's surroundings, which set
the screen and wait for the file and the mode a test expects. The drivers (scenarios.py,
ctl_test.py, settings.py, msi.py, deb.py) import it."""

import fcntl
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import traceback

import e2e
from e2e import Failure, check, mode_text, shown, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
PASS_SECONDS = 0.5  # the program's cycle
SKIPPED = 77
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
ANY = object()  # expect(): the file is not looked at
NO_FILE = None

LINUX = "linux"
WINDOWS = "windows"


def group(name, width, height):
    return b"[%s]\r\nRes_X = %d\r\nRes_Y = %d\r\n" % (name, width, height)


# ---- The programs -------------------------------------------------------------------------


def ofd_lock(fd, kind):
    """Waits for an open-file-description lock on the whole file: the kind of lock the Linux
    program takes, so that the two never meet inside each other's read or write."""
    fcntl.fcntl(fd, fcntl.F_OFD_SETLKW, struct.pack("hhqqi4x", kind, os.SEEK_SET, 0, 0, 0))


def wait_or_kill(processes, seconds):
    """Waits up to `seconds` for each of `processes` to end, killing those that do not; an
    empty list, for the caller to keep."""
    for process in processes:
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return []


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
        self.processes = wait_or_kill(self.processes, 10)

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


def windows_tool(build, name):
    """The small Windows program `name` (tests/e2e/windows/NAME.c) that the windows preset
    built into the build folder `build`, which holds reskeeper.exe."""
    path = os.path.join(build, "tests", "e2e", name + ".exe")
    check(os.path.isfile(path), "%s is not built: build the windows preset" % path)
    return path


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
        self.processes = wait_or_kill(self.processes, 30)
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
        self.built = os.path.dirname(os.path.abspath(path))
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
        """The Windows path of helper `name`, a copy beside the program of the one the windows
        preset built beside reskeeper.exe."""
        if name not in self.helpers:
            self.helpers[name] = windows_path(shutil.copy(windows_tool(self.built, name),
                                                          self.bin))
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


# ---- Running a test -----------------------------------------------------------------------


def run_in_fresh_folder(name, program_path, wine_prefix, body, prefix="reskeeper-e2e.",
                        kept=""):
    """Runs `body(scenario)` for the test `name` with the program at `program_path` (under wine
    for an .exe) in a fresh folder, reports it, and removes the folder unless it failed (then
    saying it is kept, with `kept` after, of what it holds)."""
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
        print("kept %s%s" % (root, kept))
    return error is None
