#!/usr/bin/env python3
"""The MSI in a fresh wine prefix, in both layouts: rights table, a planted shared folder or
Pref.txt refused; an older version installed with each user's own file (nothing under
%ProgramData%, the shortcut's session starter making the user's file), then given the shared
file; an upgrade over it that the helper refuses (the older version stays installed and
works), started through its shortcut, a major upgrade over it that keeps the layout, a repair
that takes over a Pref.txt hard-linked elsewhere, the move back to files per user (the user's
shared record kept), the uninstall; the files kept; the layout taken from the Property table,
as a Group Policy transform sets it. HELPER is setuphelper.exe, which the package carries.
    xdisplay.sh run msi.py MSI PROGRAM VERSION PREFIX MSI_SCRIPT HELPER    (77: not built yet)"""

import os
import re
import shutil
import struct
import subprocess
import sys

import e2e
from e2e import check, wait_until
from product import EXITS
from scenarios import SKIPPED, WineSession, group, windows_path

# The program folder's; the helper makes and locks the shared folder, Data and Pref.txt.
FOLDER = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
RIGHTS = {("ProgramFolder", "CreateFolder", FOLDER)}


def table(msi, name):
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    return [tuple(line.split("\t")) for line in out.stdout.splitlines()[3:]]


def scenario(wine, msi, old_msi, program, helper, version, work):
    unix = lambda path: os.path.join(wine.prefix, "drive_c", *path.rstrip("\\").split("\\")[1:])
    exe = unix(r"C:\Program Files\reskeeper\reskeeper.exe")
    shared = unix(r"C:\ProgramData\reskeeper")
    prefs = os.path.join(shared, "Data", "Pref.txt")
    read = lambda path: open(path, "rb").read() if os.path.isfile(path) else None
    running = lambda: [pid for pid, line in wine.unix_processes() if "reskeeper.exe" in line]
    query = lambda *key: wine.run("wine", "reg", "query", *key).stdout.decode(errors="replace")
    product_code = dict(table(msi, "Property"))["ProductCode"]

    def msiexec(*argv, refused=False):
        log = os.path.join(work, "msiexec.log")
        done = wine.run("wine", "msiexec", *argv, "/qn", "/l*v", windows_path(log))
        text = open(log, errors="replace").read()
        check(bool(done.returncode) == refused, "msiexec %s: %d\n%s" % (
            argv, done.returncode, text[-3000:]))
        return text

    def layout(expected):
        """The layout recorded, and the shortcut's program: DataFolder in the shared layout
        alone."""
        values = re.sub(r"\s+", " ", query(r"HKLM\Software\reskeeper"))
        check(r"InstallLocation REG_SZ C:\Program Files\reskeeper " in values and
              "Layout REG_SZ %s " % expected in values and
              (r"DataFolder REG_SZ C:\ProgramData\reskeeper " in values) == (expected == "shared")
              and (b"reskeeper-session.exe" in read(unix(link)).replace(b"\0", b"")) == (
                  expected == "user"), "installed %s: registered %s" % (expected, values))

    def start():
        wine.start(wine.prefix, "start", link)
        check(wait_until(running, 40), "the Startup shortcut started no reskeeper.exe")

    # What a user could have planted beforehand: the install fails (Windows says 1603, wine
    # 1627) before anything is granted; the helper's own code says why.
    outside = os.path.join(work, "outside")
    os.makedirs(os.path.join(outside, "Data"))
    open(os.path.join(outside, "Data", "Pref.txt"), "wb").write(b"another file")
    planted = [("the shared folder linked elsewhere", EXITS["REFUSED_LINK"],
                lambda: os.symlink(outside, shared)),
               ("Pref.txt a hard link to another file", EXITS["REFUSED_HARD_LINKS"],
                lambda: (os.makedirs(os.path.dirname(prefs)),
                         os.link(os.path.join(outside, "Data", "Pref.txt"), prefs)))]
    for name, refused, plant in planted:
        plant()
        code = wine.run("wine", "msiexec", "/i", windows_path(old_msi), "LAYOUT=shared",
                        "/qn").returncode
        said = wine.run("wine", windows_path(helper), "shared", r"C:\ProgramData\reskeeper")
        check(code and said.returncode == refused and os.listdir(outside) == ["Data"] and
              os.listdir(os.path.join(outside, "Data")) == ["Pref.txt"] and
              read(os.path.join(outside, "Data", "Pref.txt")) == b"another file" and
              not os.path.exists(exe), "%s: msiexec exit %d, helper %d %r" % (
                  name, code, said.returncode, said.stdout.decode("utf-16-le", "replace")))
        os.remove(shared) if os.path.islink(shared) else shutil.rmtree(shared)

    # Each user's own file, the default: nothing under %ProgramData%; the shortcut's session
    # starter makes the user's file, where the keeper records the user. With ALLUSERS=1 Windows
    # puts StartupFolder in the all-users Start menu; wine keeps its user's: the shortcut is
    # where the package's StartupFolder is.
    e2e.set_mode(1280, 1024)
    log = msiexec("/i", windows_path(old_msi))
    link = re.search(r"Property\(S\): StartupFolder = (.+?)\s*$", log, re.M)[1] + "reskeeper.lnk"
    user = wine.user_name()
    appdata = re.search(r"Property\(S\): AppDataFolder = (.+?)\s*$", log, re.M)[1]
    own_folder = unix(appdata + "reskeeper")
    own = os.path.join(own_folder, "Data", "Pref.txt")
    layout("user")
    check(not os.path.exists(shared), "the per-user install made C:\\ProgramData\\reskeeper")
    start()
    check(wait_until(lambda: read(own) == group(user, 1280, 1024), 40),
          "%s holds %r, not %s's group" % (own, read(own), user))

    # The installed version given the other layout: the shared file.
    msiexec("/i", windows_path(old_msi), "LAYOUT=shared")
    layout("shared")
    check(read(prefs) == b"", "Pref.txt holds %r" % read(prefs))
    old_program = read(exe)
    # An upgrade that the helper refuses (Pref.txt hard-linked to a file of someone else's) is
    # refused before the installed version is removed: it stays, and works once that is mended.
    os.remove(prefs)
    os.link(os.path.join(outside, "Data", "Pref.txt"), prefs)
    msiexec("/i", windows_path(msi), refused=True)
    check(read(exe) == old_program and os.path.exists(unix(link)) and
          "DisplayVersion REG_SZ 0.9.0" in re.sub(r"\s+", " ", query(
              r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s")),
          "a refused upgrade left %s" % os.listdir(os.path.dirname(exe)))
    layout("shared")
    os.remove(prefs)
    open(prefs, "wb").close()
    start()
    check(wait_until(lambda: read(prefs) == group(user, 1280, 1024), 40),
          "Pref.txt holds %r, not %s's group" % (read(prefs), user))
    edited = group(user, 1024, 768) + b"; edited by hand\r\n"
    for _ in range(5):  # made again when a pass writes over it what it read before
        open(prefs, "wb").write(edited)
        if wait_until(lambda: e2e.screen_mode() == (1024, 768), 10) and read(prefs) == edited:
            break

    # The upgrade keeps the installed layout.
    msiexec("/i", windows_path(msi))
    check(read(exe) == read(program) and not running() and read(prefs) == edited, "upgraded: "
          "%s running, Pref.txt holds %r" % (running(), read(prefs)))
    layout("shared")
    apps = query(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s")
    entries = [dict(re.findall(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*?)\s*$", b, re.M))
               for b in apps.split("HKEY_")]
    versions = [e.get("DisplayVersion") for e in entries if e.get("DisplayName") == "reskeeper"]
    check(versions == [version], "Apps & Features lists %s" % versions)

    # Linked elsewhere under an earlier version's rights: a repair takes it over, every byte kept.
    linked = os.path.join(work, "linked.txt")
    os.link(prefs, linked)
    # (a repair, /fa on Windows: wine's msiexec has no /f, and repairs through the properties)
    msiexec("/i", windows_path(msi), "REINSTALL=ALL", "REINSTALLMODE=omus")
    check(read(prefs) == edited and os.stat(prefs).st_nlink == 1 and read(linked) == edited,
          "repaired: Pref.txt holds %r, %d links" % (read(prefs), os.stat(prefs).st_nlink))

    # Back to files per user, for a user who has none yet: the new file starts with the user's
    # record from the shared file, which stays.
    e2e.set_mode(1280, 1024)
    msiexec("/i", windows_path(msi), "LAYOUT=user")
    layout("user")
    shutil.rmtree(own_folder)
    start()
    check(wait_until(lambda: read(own) == group(user, 1024, 768), 40) and read(prefs) == edited,
          "moved to files per user: the user's own %r, the shared %r" % (read(own), read(prefs)))

    msiexec("/x", product_code)
    left = running() + [p for p in (exe, unix(link)) if os.path.exists(p)] + [
        "the key"] * (not wine.run("wine", "reg", "query", r"HKLM\Software\reskeeper").returncode)
    check(not left and read(prefs) == edited and read(own) == group(user, 1024, 768),
          "uninstalled: %s left, Pref.txt: %r" % (left, read(prefs)))

    # Group Policy gives no command line: the layout a transform sets in the Property table (an
    # administrator's transform; here the package's own table changed alike) is taken.
    transformed = os.path.join(work, "transformed.msi")
    shutil.copy(msi, transformed)
    built = subprocess.run(["msibuild", transformed, "-q", "INSERT INTO `Property` (`Property`, "
                            "`Value`) VALUES ('LAYOUT', 'shared')"], capture_output=True)
    check(built.returncode == 0, "could not set LAYOUT in a copy of the package")
    msiexec("/i", windows_path(transformed))
    layout("shared")
    msiexec("/x", product_code)


def main(msi, program, version, prefix, script, helper):
    if not all(os.path.isfile(path) for path in (msi, program, helper)):
        print("SKIPPED: %s, %s or %s is not built yet" % (msi, program, helper))
        return SKIPPED
    rights = {row[1:4] for row in table(msi, "MsiLockPermissionsEx")}
    check(rights == RIGHTS, "the package's rights: %s" % rights)
    work = os.path.dirname(os.path.abspath(prefix))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "old"))
    # An older version whose program says 0.9.0.0 (VS_FIXEDFILEINFO): Windows Installer
    # replaces a file only by a newer version.
    data = open(program, "rb").read()
    fixed = data.find(b"\xbd\x04\xef\xfe")
    old_program = os.path.join(work, "old", "reskeeper.exe")
    with open(old_program, "wb") as f:
        f.write(data[:fixed + 8] + struct.pack("<4I", 9, 0, 9, 0) + data[fixed + 24:])
    old_msi = os.path.join(work, "reskeeper-0.9.0.msi")
    session = os.path.join(os.path.dirname(os.path.abspath(program)), "reskeeper-session.exe")
    built = subprocess.run(["cmake", "-DVERSION=0.9.0", "-DOUTPUT=" + old_msi, "-DPROGRAM=" +
                            old_program, "-DSESSION=" + session, "-DHELPER=" + helper,
                            "-DWORK=" + work + "/build", "-P", script], capture_output=True,
                           text=True)
    check(fixed > 0 and built.returncode == 0, "no older package:\n" + built.stderr)
    wine = WineSession(os.path.abspath(prefix))
    try:
        wine.prepare()
        scenario(wine, os.path.abspath(msi), old_msi, program, os.path.abspath(helper), version,
                 work)
    finally:
        wine.stop()
    print("PASS msi")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
