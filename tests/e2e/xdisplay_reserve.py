#!/usr/bin/env python3
"""Reserves an X display number for as long as it runs, so that a private server can stop and
start again on it without another one taking the number in between.

    xdisplay_reserve.py      prints the number, then holds it until its standard input closes

The reservation is the number's abstract socket (@/tmp/.X11-unix/XN), bound but never
listening: binding it is atomic, every X server needs it to take the number (those that pick
a number themselves skip it, those given it fail), and clients that find it refuse them go on
to the server's socket file. So the server started on a reserved number listens on that file
alone (`-nolisten local`)."""

import os
import socket
import sys

FIRST = 20  # clear of the displays a desktop uses
LAST = 999


def _live_lock(number):
    """Whether a server's lock file names a process that is still there."""
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            pid = int(f.read().strip() or 0)
    except (OSError, ValueError):
        return False
    if pid <= 0:
        return False
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def reserve(first=FIRST):
    """(number, socket): the first number from `first` up that no server uses and nobody
    else has reserved, held while the socket stays open."""
    for number in range(first, LAST + 1):
        if _live_lock(number):
            continue
        held = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            held.bind(b"\0/tmp/.X11-unix/X%d" % number)
        except OSError:
            held.close()
            continue
        return number, held
    raise RuntimeError("no free X display number from %d to %d" % (first, LAST))


def main():
    first = int(sys.argv[1]) if len(sys.argv) > 1 else FIRST
    number, held = reserve(first)
    print(number, flush=True)
    try:
        sys.stdin.buffer.read()
    except KeyboardInterrupt:
        pass
    held.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
