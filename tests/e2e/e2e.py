"""Shared pieces of the end-to-end tests: the private X display they run on (started by
xdisplay.sh run, which exports its pid), polling with deadlines, and failure reports that show
what was expected next to what was found."""

import os
import re
import select
import signal
import subprocess
import sys
import time

OUTPUT = "DUMMY0"  # the dummy server's one connected output


class Failure(Exception):
    """A check that did not hold; the message says what was expected and what was found."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, interval=0.05):
    """Polls `predicate` until it holds or `timeout` seconds have passed; gives its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def shown(data):
    """Bytes as a readable literal, one line of the file per output line."""
    if data is None:
        return "    (no file)"
    lines = data.splitlines(keepends=True) or [b""]
    return "\n".join("    " + repr(line) for line in lines)


def mode_text(mode):
    return "%dx%d" % mode if mode else "(no mode)"


# ---- The screen ---------------------------------------------------------------------------


def xrandr(*args):
    result = subprocess.run(["xrandr", *args], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "xrandr %s failed: %s" % (" ".join(args), result.stderr.strip()))
    return result.stdout


def outputs():
    """{output name: (width, height, x, y, rotation)} of the outputs that show something."""
    found = {}
    pattern = (r"^(\S+) (?:dis)?connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+)"
               r"(?: (left|right|inverted))?")
    for match in re.finditer(pattern, xrandr("--current"), re.M):
        name, w, h, x, y, rotation = match.groups()
        found[name] = (int(w), int(h), int(x), int(y), rotation or "normal")
    return found


def screen_mode():
    """The size DUMMY0 shows, as xrandr reports it; None when it shows nothing."""
    geometry = outputs().get(OUTPUT)
    return geometry[:2] if geometry else None


def screen_size():
    match = re.search(r"current (\d+) x (\d+)", xrandr("--current"))
    return (int(match[1]), int(match[2]))


def set_mode(width, height):
    xrandr("--output", OUTPUT, "--mode", "%dx%d" % (width, height))
    check(screen_mode() == (width, height), "xrandr could not set %dx%d" % (width, height))


class XServer:
    """The private X server xdisplay.sh started, which a test may kill and start again on the
    same display number: the number stays reserved for the test while no server runs on it.
    A server started again here is this process's to stop, with stop_servers() once the tests
    that use the display are done."""

    started_again = []

    def __init__(self):
        pid = os.environ.get("XDISPLAY_PID")
        check(pid and os.environ.get("DISPLAY"),
              "run this under tests/e2e/xdisplay.sh run: no private X server")
        self.pid = int(pid)
        with open("/proc/%d/cmdline" % self.pid, "rb") as f:
            self.argv = [part for part in f.read().split(b"\0") if part]
        check(b"-displayfd" in self.argv, "the X server was not started by xdisplay.sh")
        self.process = None
        self.log = os.path.join(os.environ.get("XDISPLAY_DIR", "/tmp"), "again.log")

    def kill(self):
        """Ends the server and waits until it is gone."""
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None
        else:
            os.kill(self.pid, signal.SIGTERM)
            # The first server is xdisplay.sh's child: it stays a zombie until that reaps it.
            wait_until(lambda: _state(self.pid) in (None, "Z"), 60)
        number = os.environ["DISPLAY"].lstrip(":").split(".")[0]
        # A server that could not clean up leaves its lock and socket behind, and a new one
        # would refuse the number.
        for path in ("/tmp/.X%s-lock" % number, "/tmp/.X11-unix/X%s" % number):
            if os.path.lexists(path):
                os.unlink(path)

    def start_again(self):
        """Starts a server with the same command line and waits until it says it is ready."""
        argv = list(self.argv)
        ready, notify = os.pipe()
        argv[argv.index(b"-displayfd") + 1] = b"%d" % notify
        try:
            with open(self.log, "ab") as log:
                self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log,
                                                stderr=log, pass_fds=[notify])
            os.close(notify)
            notify = None
            XServer.started_again.append(self)
            said = _read_line(ready, 60)
        finally:
            os.close(ready)
            if notify is not None:
                os.close(notify)
        check(said and self.process.poll() is None and _answers(),
              "the X server did not come back; see %s" % self.log)

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None


def stop_servers():
    for server in XServer.started_again:
        server.stop()
    XServer.started_again = []


def _read_line(fd, timeout):
    """A line read from `fd` within `timeout` seconds; empty when it closed or time ran out."""
    deadline = time.monotonic() + timeout
    data = b""
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 64)
        if not chunk:
            break
        data += chunk
    return data.strip()


def _state(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return None


def _answers():
    return subprocess.run(["xrandr", "--current"], capture_output=True, timeout=60).returncode == 0


def report(name, started, error=None):
    took = time.monotonic() - started
    if error is None:
        print("PASS %s (%.1f s)" % (name, took))
    else:
        print("FAIL %s (%.1f s)\n%s" % (name, took, error))
    sys.stdout.flush()
