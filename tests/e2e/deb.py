#!/usr/bin/env python3
"""The Debian package on this machine (as root; purged again whatever happens): lintian finds
no error or warning; dpkg installs it; the autostart entry's command, run as an ordinary user
with a home of the test's own on the private X display, records that user in their own
~/.local/share/reskeeper/Data/Pref.txt, and does nothing in a Wayland session.

    xdisplay.sh run deb.py PACKAGE.deb"""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile

import e2e
from e2e import check, wait_until
from scenarios import NOBODY, group

ENTRY = "/etc/xdg/autostart/reskeeper.desktop"


def run(*argv):
    done = subprocess.run(argv, capture_output=True, text=True)
    check(done.returncode == 0, "%s exited %d:\n%s%s" % (" ".join(argv), done.returncode,
                                                         done.stdout, done.stderr))
    return done.stdout


def session(home, kind):
    """Starts the autostart entry's command as nobody in `home`, in a session of `kind`."""
    command = [line.split("=", 1)[1] for line in open(ENTRY).read().splitlines()
               if line.startswith("Exec=")]
    check(len(command) == 1, "%s has no one Exec line" % ENTRY)
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "LOGNAME": "nobody", "USER": "nobody",
           "DISPLAY": os.environ["DISPLAY"], "XAUTHORITY": os.environ["XAUTHORITY"],
           "XDG_SESSION_TYPE": kind}
    return subprocess.Popen(NOBODY + shlex.split(command[0]), env=env, cwd="/",
                            stdin=subprocess.DEVNULL)


def scenario(root):
    home = os.path.join(root, "home")
    os.mkdir(home)
    shutil.chown(home, "nobody", "nogroup")
    prefs = os.path.join(home, ".local", "share", "reskeeper", "Data", "Pref.txt")
    read = lambda: open(prefs, "rb").read() if os.path.isfile(prefs) else None

    wayland = session(home, "wayland")
    check(wayland.wait(30) == 0 and not os.listdir(home), "in a Wayland session: %s" %
          os.listdir(home))
    e2e.set_mode(1280, 1024)
    keeper = session(home, "x11")
    try:
        check(wait_until(lambda: read() == group(b"nobody", 1280, 1024), 60),
              "Pref.txt holds %r" % read())
        check(os.stat(prefs).st_uid == int(run("id", "-u", "nobody")), "not nobody's file")
    finally:
        keeper.terminate()
        keeper.wait(10)


def main(package):
    run("lintian", "--fail-on", "error,warning", package)
    root = tempfile.mkdtemp(prefix="reskeeper-deb.")
    os.chmod(root, 0o755)
    try:
        run("dpkg", "-i", package)
        for path in ("/usr/bin/reskeeper", "/usr/share/man/man1/reskeeper.1.gz", ENTRY):
            check(os.path.exists(path), "the package installed no %s" % path)
        scenario(root)
    finally:
        subprocess.run(["dpkg", "--purge", "reskeeper"], capture_output=True)
        shutil.rmtree(root, ignore_errors=True)
    check(not os.path.exists("/usr/bin/reskeeper"), "purged, /usr/bin/reskeeper is left")
    print("PASS deb")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(*sys.argv[1:]))
    except e2e.Failure as failure:
        print("FAIL deb: %s" % failure)
        sys.exit(1)
