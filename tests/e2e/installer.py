#!/usr/bin/env python3
"""The installer in a fresh wine prefix: silent install, start through the Startup shortcut,
an edit kept by an install over the running program, the registered silent uninstall.

    xdisplay.sh run installer.py INSTALLER PROGRAM VERSION PREFIX    (77: not built yet)"""

import os
import re
import shutil
import sys

import e2e
from e2e import check, wait_until
from scenarios import SKIPPED, WineSession, group

KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\reskeeper"
LINK = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\reskeeper.lnk"


def scenario(wine, installer, program, version):
    unix = lambda path: os.path.join(wine.prefix, "drive_c", *path.split("\\")[1:])
    folder = unix(r"C:\Program Files\reskeeper")
    prefs = unix(r"C:\ProgramData\reskeeper\Data\Pref.txt")
    read = lambda path: open(path, "rb").read() if os.path.isfile(path) else None
    running = lambda: [line for _, line in wine.unix_processes() if "reskeeper.exe" in line]
    registry = lambda: wine.run("wine", "reg", "query", KEY).stdout.decode(errors="replace")

    def install():
        check(wine.run("wine", installer, "/S").returncode == 0, "the install failed")
        check(read(os.path.join(folder, "reskeeper.exe")) == read(program), "no reskeeper.exe")

    def start():
        wine.start(wine.prefix, "start", LINK)
        check(wait_until(running, 40), "the Startup shortcut started no reskeeper.exe")

    e2e.set_mode(1280, 1024)
    install()
    entry = registry()
    uninstall = re.search(r'QuietUninstallString\s+REG_SZ\s+"(.+)" /S\s', entry)
    check(uninstall and re.search(r"DisplayVersion\s+REG_SZ\s+%s\s" % re.escape(version), entry),
          "registered as:\n" + entry)
    check(read(prefs) == b"", "Pref.txt holds %r" % read(prefs))
    # Only the shortcut's working folder has a Data\Pref.txt to record the user in.
    user = wine.run("wine", "cmd", "/c", "echo", "%USERNAME%").stdout.strip()
    start()
    check(wait_until(lambda: read(prefs) == group(user, 1280, 1024), 40), "Pref.txt holds %r" %
          read(prefs))
    # An edit the program applies and keeps; made again when a pass writes over it what it read.
    edited = group(user, 1024, 768) + b"; edited by hand\r\n"
    for _ in range(5):
        with open(prefs, "wb") as f:
            f.write(edited)
        if wait_until(lambda: e2e.screen_mode() == (1024, 768), 10) and read(prefs) == edited:
            break
    install()
    check(not running() and read(prefs) == edited, "installed again over the running program: "
          "%s running, Pref.txt holds %r" % (running(), read(prefs)))

    start()
    check(wine.run("wine", uninstall[1], "/S").returncode == 0, "the uninstall failed")
    # The uninstaller goes on from a copy of itself, after its own end.
    left = lambda: running() + [p for p in (folder, unix(LINK)) if os.path.exists(p)]
    check(wait_until(lambda: not left(), 60) and KEY.split("\\")[-1] not in registry(),
          "uninstalled: %s left, registered as:\n%s" % (left(), registry()))
    check(read(prefs) == edited, "uninstalled: Pref.txt holds %r" % read(prefs))


def main(installer, program, version, prefix):
    if not (os.path.isfile(installer) and os.path.isfile(program)):
        print("SKIPPED: %s or %s is not built yet" % (installer, program))
        return SKIPPED
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    wine = WineSession(os.path.abspath(prefix))
    try:
        wine.prepare()
        scenario(wine, os.path.abspath(installer), program, version)
    finally:
        wine.stop()
    print("PASS installer")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
