#!/usr/bin/env python3
"""The Debian package installed here as root, purged whatever happens: lintian-clean; its autostart
command, run as nobody in a home of its own, records nobody in ~/.local/share/reskeeper, and
does nothing in a Wayland session.    xdisplay.sh run deb.py PACKAGE.deb"""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile

import e2e
from e2e import check, wait_until
from harness import NOBODY, group

ENTRY = "/etc/xdg/autostart/reskeeper.desktop"


def session(home, kind):
    exec_line = [l[5:] for l in open(ENTRY).read().splitlines() if l.startswith("Exec=")][0]
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "LOGNAME": "nobody", "XDG_SESSION_TYPE": kind,
           "DISPLAY": os.environ["DISPLAY"], "XAUTHORITY": os.environ["XAUTHORITY"]}
    return subprocess.Popen(NOBODY + shlex.split(exec_line), env=env, cwd="/")


def main(package):
    check(not subprocess.run(["lintian", "--fail-on", "error,warning", package]).returncode,
          "lintian found errors or warnings")
    home = tempfile.mkdtemp(prefix="reskeeper-deb.")
    shutil.chown(home, "nobody", "nogroup")
    prefs = os.path.join(home, ".local/share/reskeeper/Data/Pref.txt")
    read = lambda: open(prefs, "rb").read() if os.path.isfile(prefs) else None
    try:
        check(subprocess.run(["dpkg", "-i", package]).returncode == 0, "dpkg -i failed")
        check(session(home, "wayland").wait(30) == 0 and not os.listdir(home),
              "a Wayland session left %s" % os.listdir(home))
        e2e.set_mode(1280, 1024)
        keeper = session(home, "x11")
        try:
            check(wait_until(lambda: read() == group(b"nobody", 1280, 1024), 60),
                  "Pref.txt holds %r" % read())
        finally:
            keeper.terminate()
            keeper.wait(10)
    finally:
        subprocess.run(["dpkg", "--purge", "reskeeper"], capture_output=True)
        shutil.rmtree(home, ignore_errors=True)
    check(not os.path.exists("/usr/bin/reskeeper"), "purged, /usr/bin/reskeeper is left")
    print("PASS deb")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
