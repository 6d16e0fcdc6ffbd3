#!/usr/bin/env python3
"""The Windows Installer package in a fresh wine prefix: its rights table; a silent install of
an older version built here, started through its Startup shortcut; a silent major upgrade to
this build's package over the running program, keeping an edited Pref.txt; the silent
uninstall by product code, keeping the file.

    xdisplay.sh run msi.py MSI PROGRAM VERSION PREFIX MSI_SCRIPT HELPER    (77: not built yet)"""

import os
import re
import shutil
import struct
import subprocess
import sys

import e2e
from e2e import check, wait_until
from scenarios import SKIPPED, WineSession, group, windows_path

FOLDER_RIGHTS = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
FILE_RIGHTS = "O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;BU)"
# What each object gets: no more than read and execute on the folders, and read and write of
# the bytes of Pref.txt (no delete, no change of rights or owner).
RIGHTS = {("ProgramFolder", "CreateFolder"): FOLDER_RIGHTS,
          ("SharedFolder", "CreateFolder"): FOLDER_RIGHTS,
          ("DataFolder", "CreateFolder"): FOLDER_RIGHTS,
          ("PrefTxt", "File"): FILE_RIGHTS}
KEY = r"HKLM\Software\reskeeper"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def table(msi, name):
    """The rows of table `name` in the package, as lists of fields."""
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    check(out.returncode == 0, "msiinfo export %s failed: %s" % (name, out.stderr))
    return [line.split("\t") for line in out.stdout.splitlines()[3:]]


def check_rights(msi):
    found = {(row[1], row[2]): row[3] for row in table(msi, "MsiLockPermissionsEx")}
    check(found == RIGHTS, "the package's rights:\n%s" % found)


def scenario(wine, msi, old_msi, program, version, work):
    unix = lambda path: os.path.join(wine.prefix, "drive_c", *path.rstrip("\\").split("\\")[1:])
    folder = unix(r"C:\Program Files\reskeeper")
    prefs = unix(r"C:\ProgramData\reskeeper\Data\Pref.txt")
    read = lambda path: open(path, "rb").read() if os.path.isfile(path) else None
    running = lambda: [line for _, line in wine.unix_processes() if "reskeeper.exe" in line]
    registry = lambda key: wine.run("wine", "reg", "query", key).stdout.decode(errors="replace")
    product = {row[0]: row[1] for row in table(msi, "Property")}["ProductCode"]

    def install(package, name):
        log = os.path.join(work, name + ".log")
        done = wine.run("wine", "msiexec", "/i", windows_path(package), "/qn", "/l*v",
                        windows_path(log))
        text = open(log, errors="replace").read() if os.path.exists(log) else ""
        check(done.returncode == 0, "msiexec /i %s exited %d:\n%s" % (name, done.returncode,
                                                                      text[-3000:]))
        return text

    def start(link):
        wine.start(wine.prefix, "start", link)
        check(wait_until(running, 40), "the Startup shortcut started no reskeeper.exe")

    e2e.set_mode(1280, 1024)
    log = install(old_msi, "old")
    # With ALLUSERS=1 Windows puts StartupFolder in the all-users Start menu; wine keeps its
    # user's: the shortcut is where the package's StartupFolder is.
    startup = re.search(r"Property\(S\): StartupFolder = (.+?)\s*$", log, re.M)[1]
    link = startup + "reskeeper.lnk"
    check(os.path.isfile(unix(link)), "no shortcut %s" % link)
    check(read(prefs) == b"", "Pref.txt holds %r" % read(prefs))
    values = registry(KEY)
    for name, value in (("InstallLocation", r"C:\Program Files\reskeeper"),
                        ("DataFolder", r"C:\ProgramData\reskeeper")):
        check(re.search(r"%s\s+REG_SZ\s+%s\s*$" % (name, re.escape(value)), values, re.M),
              "%s is registered as:\n%s" % (KEY, values))
    # Only the shortcut's working folder has a Data\Pref.txt to record the user in.
    user = wine.run("wine", "cmd", "/c", "echo", "%USERNAME%").stdout.strip()
    start(link)
    check(wait_until(lambda: read(prefs) == group(user, 1280, 1024), 40),
          "Pref.txt holds %r" % read(prefs))
    edited = group(user, 1024, 768) + b"; edited by hand\r\n"
    for _ in range(5):
        with open(prefs, "wb") as f:
            f.write(edited)
        if wait_until(lambda: e2e.screen_mode() == (1024, 768), 10) and read(prefs) == edited:
            break

    install(msi, "upgrade")
    check(read(os.path.join(folder, "reskeeper.exe")) == read(program),
          "the upgrade did not replace reskeeper.exe")
    check(not running() and read(prefs) == edited, "upgraded over the running program: %s "
          "running, Pref.txt holds %r" % (running(), read(prefs)))
    # One entry in Apps & Features: the older version's went with it.
    entries = wine.run("wine", "reg", "query", UNINSTALL, "/s").stdout.decode(errors="replace")
    blocks = [dict(re.findall(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*?)\s*$", block, re.M))
              for block in entries.split("HKEY_")]
    versions = [b.get("DisplayVersion") for b in blocks if b.get("DisplayName") == "reskeeper"]
    check(versions == [version], "registered versions: %s" % versions)

    start(link)
    done = wine.run("wine", "msiexec", "/x", product, "/qn")
    check(done.returncode == 0, "msiexec /x exited %d" % done.returncode)
    left = running() + [p for p in (folder, unix(link)) if os.path.exists(p)]
    check(not left, "uninstalled: %s left" % left)
    check("InstallLocation" not in registry(KEY), "uninstalled: %s holds\n%s" % (KEY,
                                                                                registry(KEY)))
    check(read(prefs) == edited, "uninstalled: Pref.txt holds %r" % read(prefs))


def main(msi, program, version, prefix, script, helper):
    if not all(os.path.isfile(path) for path in (msi, program, helper)):
        print("SKIPPED: %s, %s or %s is not built yet" % (msi, program, helper))
        return SKIPPED
    check_rights(msi)
    prefix = os.path.abspath(prefix)
    work = os.path.dirname(prefix)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # An older version, whose program says it is 0.9.0.0: Windows Installer replaces a file
    # only by a newer version.
    old_program = os.path.join(work, "old", "reskeeper.exe")
    os.makedirs(os.path.dirname(old_program))
    data = open(program, "rb").read()
    fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO: file and product version
    check(fixed > 0, "no version resource in %s" % program)
    with open(old_program, "wb") as f:
        f.write(data[:fixed + 8] + struct.pack("<4I", 9, 0, 9, 0) + data[fixed + 24:])
    old_msi = os.path.join(work, "reskeeper-0.9.0.msi")
    built = subprocess.run(["cmake", "-DVERSION=0.9.0", "-DOUTPUT=" + old_msi,
                            "-DPROGRAM=" + old_program, "-DHELPER=" + helper,
                            "-DWORK=" + os.path.join(work, "old-msi"), "-P", script],
                           capture_output=True, text=True)
    check(built.returncode == 0, "could not build the older package:\n" + built.stderr)
    wine = WineSession(prefix)
    try:
        wine.prepare()
        scenario(wine, os.path.abspath(msi), old_msi, program, version, work)
    finally:
        wine.stop()
    print("PASS msi")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
