#!/usr/bin/env python3
"""The program's X11 display calls (platform/display_x11.cpp, through display_probe) against
the private X server that tests/e2e/xdisplay.sh starts: sizes as the server changes them,
switches, sizes the screen cannot show, a second output, no primary output, no server at
all, and a server that goes away and comes back. (The dummy driver cannot rotate an output.)

    xdisplay.sh run display_test.py --probe PATH [--case NAME]..."""

import argparse
import os
import select
import subprocess
import sys
import time
import traceback

import e2e
import xdisplay_reserve
from e2e import Failure, check, mode_text

MODES = [(1920, 1080), (1280, 1024), (1024, 768), (800, 600)]
CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


class Probe:
    """A display_probe process: one connection to the display, kept between questions."""

    def __init__(self, path, display=None):
        env = dict(os.environ)
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display
        self.process = subprocess.Popen([path], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, bufsize=1)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        ready, _, _ = select.select([self.process.stdout], [], [], 60)
        answer = self.process.stdout.readline().strip() if ready else ""
        check(answer, "the probe gave no answer to %r (exit status %s)" % (
            command, self.process.poll()))
        return answer

    def size(self):
        width, height = self.ask("size").split("x")
        return (int(width), int(height))

    def set(self, width, height):
        check(self.ask("set %d %d" % (width, height)) == "done", "set %dx%d" % (width, height))

    def __enter__(self):
        return self

    def __exit__(self, *raised):
        self.close()

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.write("quit\n")
            self.process.stdin.close()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        leftover = self.process.stdout.read()
        self.process.stdout.close()
        check(self.process.returncode == 0, "the probe ended with status %d:\n%s" % (
            self.process.returncode, leftover))


def expect_size(probe, expected, when):
    actual = probe.size()
    check(actual == expected, "%s: the probe saw %s, expected %s" % (
        when, mode_text(actual), mode_text(expected)))


def expect_outputs(expected, when):
    """Compares the outputs that show something, (width, height, x, y, rotation) each."""
    actual = e2e.outputs()
    check(actual == expected, "%s: outputs %s, expected %s" % (when, actual, expected))


@case
def sizes_follow_the_server(probe_path):
    """Sizes set by another client are seen at once, through the server's notifications."""
    with Probe(probe_path, os.environ["DISPLAY"]) as probe:
        for mode in MODES + MODES[::-1]:
            e2e.set_mode(*mode)
            expect_size(probe, mode, "after xrandr set %s" % mode_text(mode))


@case
def switches(probe_path):
    """Each mode the output has is switched to, and the screen fits it."""
    e2e.set_mode(1920, 1080)
    with Probe(probe_path, os.environ["DISPLAY"]) as probe:
        for mode in MODES[1:] + MODES[::-1]:
            probe.set(*mode)
            expect_outputs({e2e.OUTPUT: mode + (0, 0, "normal")}, "set %s" % mode_text(mode))
            check(e2e.screen_size() == mode, "screen %s after set %s" % (
                mode_text(e2e.screen_size()), mode_text(mode)))
            expect_size(probe, mode, "after set %s" % mode_text(mode))


@case
def refused_sizes(probe_path):
    """Sizes with no mode, zero or negative sides, or sides past X's limit change nothing."""
    e2e.set_mode(1280, 1024)
    with Probe(probe_path, os.environ["DISPLAY"]) as probe:
        for size in ((1234, 567), (1920, 600), (0, 0), (0, 768), (-800, -600), (1024, -768),
                     (100000, 100000), (32768, 1024), (-2147483648, -2147483648)):
            probe.set(*size)
            expect_outputs({e2e.OUTPUT: (1280, 1024, 0, 0, "normal")}, "set %dx%d" % size)
        probe.set(800, 600)
        expect_outputs({e2e.OUTPUT: (800, 600, 0, 0, "normal")}, "set 800x600 at last")


@case
def second_output(probe_path):
    """With a second output beside the primary one, only the primary one changes, the other
    keeps its mode and place, and the screen holds both; a primary second output is the one
    reported and switched."""
    e2e.set_mode(1920, 1080)
    for mode in ("1024x768", "800x600"):
        e2e.xrandr("--addmode", "DUMMY1", mode)
    e2e.xrandr("--output", "DUMMY1", "--mode", "1024x768", "--right-of", e2e.OUTPUT)
    try:
        with Probe(probe_path, os.environ["DISPLAY"]) as probe:
            expect_size(probe, (1920, 1080), "two outputs")
            probe.set(800, 600)
            expect_outputs({e2e.OUTPUT: (800, 600, 0, 0, "normal"),
                            "DUMMY1": (1024, 768, 1920, 0, "normal")}, "set 800x600")
            check(e2e.screen_size() == (2944, 768), "screen %s after set 800x600, expected "
                  "2944x768" % mode_text(e2e.screen_size()))
            probe.set(1920, 1080)
            check(e2e.screen_size() == (2944, 1080), "screen %s after set 1920x1080, expected "
                  "2944x1080" % mode_text(e2e.screen_size()))
            e2e.xrandr("--output", "DUMMY1", "--primary")
            expect_size(probe, (1024, 768), "DUMMY1 primary")
            probe.set(800, 600)
            expect_outputs({e2e.OUTPUT: (1920, 1080, 0, 0, "normal"),
                            "DUMMY1": (800, 600, 1920, 0, "normal")}, "set 800x600 on DUMMY1")
    finally:
        e2e.xrandr("--output", "DUMMY1", "--off", "--output", e2e.OUTPUT, "--primary",
                   "--mode", "1920x1080")


@case
def no_primary_output(probe_path):
    """Without a primary output the first connected one that shows a mode is used."""
    e2e.set_mode(1280, 1024)
    e2e.xrandr("--noprimary")
    try:
        with Probe(probe_path, os.environ["DISPLAY"]) as probe:
            expect_size(probe, (1280, 1024), "no primary output")
            probe.set(1024, 768)
            expect_outputs({e2e.OUTPUT: (1024, 768, 0, 0, "normal")}, "set 1024x768")
    finally:
        e2e.xrandr("--output", e2e.OUTPUT, "--primary")


@case
def no_server(probe_path):
    """No DISPLAY, or one nobody serves: the size is 0x0 and switches do nothing, without an
    end of the process or a word on its output."""
    # A number reserved here: no server can start on it while the probe asks.
    number, held = xdisplay_reserve.reserve()
    try:
        for display in (None, ":%d" % number):
            with Probe(probe_path, display) as probe:
                for _ in range(2):
                    expect_size(probe, (0, 0), "DISPLAY=%s" % display)
                    probe.set(800, 600)
    finally:
        held.close()


@case
def server_goes_and_comes_back(probe_path):
    """A server that went away gives 0x0 and ignored switches; a new one on the same display
    is used at the next call."""
    server = e2e.XServer()
    e2e.set_mode(1024, 768)
    with Probe(probe_path, os.environ["DISPLAY"]) as probe:
        expect_size(probe, (1024, 768), "before")
        server.kill()
        expect_size(probe, (0, 0), "with the server gone")
        probe.set(800, 600)
        server.start_again()
        expect_size(probe, (1920, 1080), "on the new server")
        probe.set(800, 600)
        expect_outputs({e2e.OUTPUT: (800, 600, 0, 0, "normal")}, "set 800x600 on the new server")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--probe", required=True, help="the display_probe program")
    parser.add_argument("--case", action="append", choices=sorted(CASES))
    args = parser.parse_args()
    check(e2e.screen_mode() is not None, "no %s on the display %s" % (
        e2e.OUTPUT, os.environ.get("DISPLAY")))
    failed = 0
    try:
        for name in args.case or list(CASES):
            started = time.monotonic()
            error = None
            try:
                CASES[name](os.path.abspath(args.probe))
            except Failure as failure:
                error = str(failure)
            except Exception:
                error = traceback.format_exc()
            e2e.report(name, started, error)
            failed += error is not None
    finally:
        e2e.stop_servers()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
