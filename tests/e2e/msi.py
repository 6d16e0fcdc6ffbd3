#!/usr/bin/env python3
"""The Windows Installer package, the one installer for Windows, in a fresh wine prefix, beside
an older version (0.9.0) built by the same script. Four flows, each a test of its own:

  user    the per-user layout installed silently: its logon task registered from a definition
          that holds every setting it must, whose action, started as the task starts it, starts
          one keeper that records the user (the session starter makes the user's own file),
          and a start through the Startup shortcut after it none; an unknown layout refused;
          upgraded (layout and file kept); changed to the shared layout; repaired (the task
          back); removed (the task gone, every Pref.txt kept).
  planted a shared folder linked elsewhere, or a Pref.txt hard-linked to another file, refused
          before anything is installed, the helper's exit code saying why.
  transform the layout a transform's Property row sets, as Group Policy gives it.
  shared  the shared layout installed and started through its shortcut; an upgrade refused over a planted
          link before the older version is removed, which stays installed and working; an
          upgrade while another program holds the shared folder, Data and Pref.txt for reading,
          which goes through; changed to files per user (the user's shared record kept);
          repaired; removed.

Wine keeps no security descriptors and enforces no rights, and its one user is an
administrator: what the rights are, and that a standard user's repair changes nothing, only
Windows can show.
    xdisplay.sh run msi.py MSI PROGRAM VERSION PREFIX MSI_SCRIPT HELPER FLOW  (77: not built)"""

import os
import re
import time
import xml.etree.ElementTree as ElementTree
import shutil
import signal
import struct
import subprocess
import sys

import e2e
from e2e import check, wait_until
from product import EXITS, FACTS
from harness import SKIPPED, WineSession, group, windows_path, windows_tool

HERE = os.path.dirname(os.path.abspath(__file__))
OLD = "0.9.0"
SHARED = "C:\\ProgramData\\" + FACTS["FOLDER_NAME"]
PROGRAMS = "C:\\Program Files\\" + FACTS["FOLDER_NAME"]
INSTALLED = {FACTS[name] for name in ("KEEPER_PROGRAM", "SESSION_PROGRAM", "CTL_PROGRAM",
                                      "SETTINGS_PROGRAM", "HELPER_PROGRAM", "TASK_DEFINITION")}
TASK = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
# What the logon task's definition must hold, element by element.
DEFINITION = {"Triggers/LogonTrigger/Enabled": "true", "Principals/Principal/GroupId": "S-1-5-32-545",
              "Principals/Principal/RunLevel": "LeastPrivilege",
              "Settings/ExecutionTimeLimit": "PT0S", "Settings/DisallowStartIfOnBatteries": "false",
              "Settings/StopIfGoingOnBatteries": "false",
              "Settings/MultipleInstancesPolicy": "Parallel", "Settings/Priority": "5",
              "Actions/Exec/Command": '"%%ProgramFiles%%\\%s\\%s"' % (FACTS["FOLDER_NAME"],
                                                                     FACTS["SESSION_PROGRAM"]),
              "Actions/Exec/WorkingDirectory": "%ProgramFiles%\\" + FACTS["FOLDER_NAME"]}
# Elements it must not have: a user the trigger waits for, or the principal runs as, a delay.
ABSENT = ["Triggers/LogonTrigger/UserId", "Triggers/LogonTrigger/Delay", "Principals/Principal/UserId"]


def table(msi, name):
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    return [tuple(line.split("\t")) for line in out.stdout.splitlines()[3:]]


def read(path):
    return open(path, "rb").read() if os.path.isfile(path) else None


class Machine:
    """One wine prefix with the package installed, upgraded and removed in it."""

    def __init__(self, wine, work, msi, old_msi, program):
        self.wine, self.work, self.msi, self.old_msi = wine, work, msi, old_msi
        self.program = program
        self.product_code = dict(table(msi, "Property"))["ProductCode"]
        self.exe = self.unix(PROGRAMS + "\\" + FACTS["KEEPER_PROGRAM"])
        self.prefs = self.unix(SHARED + "\\Data\\Pref.txt")
        self.link = None  # the Startup shortcut, once the first install has told where

    def unix(self, path):
        return os.path.join(self.wine.prefix, "drive_c", *path.rstrip("\\").split("\\")[1:])

    def msiexec(self, *argv, refused=False):
        log = os.path.join(self.work, "msiexec.log")
        done = self.wine.run("wine", "msiexec", *argv, "/qn", "/l*v", windows_path(log))
        text = open(log, errors="replace").read()
        check(bool(done.returncode) == refused, "msiexec %s: %d\n%s" % (
            argv, done.returncode, text[-3000:]))
        if self.link is None:
            folder = re.search(r"Property\(S\): StartupFolder = (.+?)\s*$", text, re.M)[1]
            self.link = folder + FACTS["STARTUP_SHORTCUT"]
            self.appdata = re.search(r"Property\(S\): AppDataFolder = (.+?)\s*$", text, re.M)[1]
            self.own = self.unix(self.appdata + FACTS["FOLDER_NAME"] + "\\Data\\Pref.txt")
        return text

    def query(self, *key):
        return self.wine.run("wine", "reg", "query", *key).stdout.decode(errors="replace")

    def versions(self):
        """The DisplayVersion of each reskeeper entry in Apps & Features."""
        apps = self.query(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s")
        entries = [dict(re.findall(r"^[ \t]+(\w+)[ \t]+REG_\w+[ \t]*(.*?)\s*$", b, re.M))
                   for b in apps.split("HKEY_")]
        return [e.get("DisplayVersion") for e in entries if e.get("DisplayName") == "reskeeper"]

    def task(self):
        """The logon task as wine's Task Scheduler stores it, or None."""
        return read(self.unix("C:\\windows\\system32\\tasks\\" + FACTS["TASK_NAME"]))

    def layout(self, expected, version):
        """The version and layout installed: the registry values (DataFolder in the shared
        layout alone), the programs, what the shortcut starts, and the logon task."""
        values = re.sub(r"\s+", " ", self.query("HKLM\\" + FACTS["REGISTRY_KEY"]))
        target = (read(self.unix(self.link)) or b"").replace(b"\0", b"")
        check(self.versions() == [version] and
              "InstallLocation REG_SZ %s " % PROGRAMS in values and
              "Layout REG_SZ %s " % expected in values and
              ("DataFolder REG_SZ %s " % SHARED in values) == (expected == "shared") and
              set(os.listdir(os.path.dirname(self.exe))) == INSTALLED and
              FACTS["SESSION_PROGRAM"].encode() in target and self.task() is not None,
              "%s %s installed: %s registered %s, programs %s, task %r" % (
                  version, expected, self.versions(), values,
                  os.path.exists(self.exe) and os.listdir(os.path.dirname(self.exe)),
                  self.task()))

    def definition(self):
        """The installed task definition: each element it must hold."""
        path = self.unix(PROGRAMS + "\\" + FACTS["TASK_DEFINITION"])
        root = ElementTree.fromstring(read(path).decode("utf-16"))
        found = {name: (root.find(TASK + name.replace("/", "/" + TASK)).text or "").strip()
                 for name in DEFINITION if root.find(TASK + name.replace("/", "/" + TASK))
                 is not None}
        there = [name for name in ABSENT if root.find(TASK + name.replace("/", "/" + TASK))
                 is not None]
        check(found == DEFINITION and not there, "the task definition holds %s and %s" % (
            found, there))
        return found

    def start_as_task(self):
        """A logon through the task: its action, as the task runs it."""
        found = self.definition()
        expand = lambda text: text.replace("%ProgramFiles%", "C:\\Program Files").strip('"')
        self.wine.start(self.unix(expand(found["Actions/Exec/WorkingDirectory"])),
                        expand(found["Actions/Exec/Command"]))
        check(wait_until(self.running, 40), "the task's action started no keeper")

    def running(self):
        return [pid for pid, line in self.wine.unix_processes()
                if FACTS["KEEPER_PROGRAM"] in line]

    def start(self):
        """A logon: the Startup shortcut starts a keeper."""
        self.wine.start(self.wine.prefix, "start", self.link)
        check(wait_until(self.running, 40), "the Startup shortcut started no keeper")

    def start_again(self):
        """The second start of a logon, through the shortcut once the task has started a keeper:
        the session starter ends, and has started no second keeper."""
        starting = self.wine.start(self.wine.prefix, "start", "/wait", self.link)
        starting.wait(60)
        self.wine.processes.remove(starting)
        time.sleep(1)
        check(len(self.running()) == 1, "keepers running: %s" % self.running())

    def logoff(self):
        for pid in self.running():
            os.kill(pid, signal.SIGKILL)
        check(wait_until(lambda: not self.running(), 30), "a keeper did not end")

    def hold(self, *paths):
        """Another user's program, holding each Windows path for reading and sharing only
        reading, until it is killed."""
        log = os.path.join(self.work, "holder.log")
        holder = self.wine.start(self.wine.prefix, self.tool("holder"), "600", *paths, log=log)
        check(wait_until(lambda: b"held" in (read(log) or b"") or holder.poll() is not None, 60)
              and holder.poll() is None, "could not hold %s: %r" % (paths, read(log)))
        return holder

    def outside(self):
        """A folder outside the prefix's, holding Data/Pref.txt: what a planted link points to."""
        outside = os.path.join(self.work, "outside")
        if not os.path.isdir(outside):
            os.makedirs(os.path.join(outside, "Data"))
            open(os.path.join(outside, "Data", "Pref.txt"), "wb").write(b"another file")
        return outside

    def tool(self, name):
        built = os.path.dirname(os.path.abspath(self.program))
        return windows_path(shutil.copy(windows_tool(built, name), self.work))


def user_flow(m, version, helper):
    e2e.set_mode(1280, 1024)
    m.msiexec("/i", windows_path(m.old_msi))
    m.layout("user", OLD)
    user = m.wine.user_name()
    check(not os.path.exists(m.unix(SHARED)), "the per-user layout made %s" % SHARED)
    m.start_as_task()
    check(wait_until(lambda: read(m.own) == group(user, 1280, 1024), 40),
          "%s holds %r, not %s's group" % (m.own, read(m.own), user))
    m.start_again()

    m.msiexec("/i", windows_path(m.msi), "LAYOUT=other", refused=True)
    m.layout("user", OLD)
    m.msiexec("/i", windows_path(m.msi))
    check(not m.running() and read(m.exe) == read(m.program), "upgraded: %s running" % m.running())
    m.layout("user", version)
    check(read(m.own) == group(user, 1280, 1024), "the upgrade changed %r" % read(m.own))

    m.msiexec("/i", windows_path(m.msi), "LAYOUT=shared")
    m.layout("shared", version)
    check(read(m.prefs) == b"", "the shared Pref.txt holds %r" % read(m.prefs))
    m.logoff()
    m.start()
    check(wait_until(lambda: read(m.prefs) == group(user, 1280, 1024), 40),
          "the shared Pref.txt holds %r" % read(m.prefs))
    # A repair (/fa on Windows; wine's msiexec has no /f and repairs through the properties)
    # puts back a program and the task.
    os.remove(m.unix(PROGRAMS + "\\" + FACTS["HELPER_PROGRAM"]))
    m.wine.run("wine", "schtasks", "/Delete", "/TN", FACTS["TASK_NAME"], "/F")
    check(m.task() is None, "schtasks /Delete left the task")
    m.msiexec("/i", windows_path(m.msi), "REINSTALL=ALL", "REINSTALLMODE=omus")
    m.layout("shared", version)

    m.msiexec("/x", m.product_code)
    left = m.running() + [p for p in (m.exe, m.unix(m.link)) if os.path.exists(p)] + [
        "the key"] * (not m.wine.run("wine", "reg", "query", "HKLM\\" + FACTS["REGISTRY_KEY"]
                                     ).returncode) + ["the task"] * (m.task() is not None)
    check(not left and read(m.prefs) == group(user, 1280, 1024) and
          read(m.own) == group(user, 1280, 1024),
          "removed: %s left, Pref.txt: %r, own: %r" % (left, read(m.prefs), read(m.own)))


def shared_flow(m, version, helper):
    outside = m.outside()
    e2e.set_mode(1280, 1024)
    m.msiexec("/i", windows_path(m.old_msi), "LAYOUT=shared")
    m.layout("shared", OLD)
    user = m.wine.user_name()
    check(read(m.prefs) == b"", "Pref.txt holds %r" % read(m.prefs))
    m.start()
    check(wait_until(lambda: read(m.prefs) == group(user, 1280, 1024), 40),
          "Pref.txt holds %r, not %s's group" % (read(m.prefs), user))
    edited = group(user, 1024, 768) + b"; edited by hand\r\n"
    for _ in range(5):  # made again when a pass writes over it what it read before
        open(m.prefs, "wb").write(edited)
        if wait_until(lambda: e2e.screen_mode() == (1024, 768), 10) and read(m.prefs) == edited:
            break

    # An upgrade refused over a link planted since (the older version's rights let no user
    # plant one; an administrator's mistake, say) fails before the older version is removed: it
    # stays installed, the file and the link's target untouched, and its keeper starts and
    # keeps the file again once the link is gone. Windows rolls the failed install back; wine's
    # msiexec instead removes the failed install's components, which the older version shares,
    # with the registry values the layout is read from, so here a repair of the older version
    # puts them back.
    data = os.path.dirname(m.prefs)
    linked = os.path.join(outside, "linked.txt")
    for name, plant, undo in [
            ("Pref.txt a hard link", lambda: os.link(m.prefs, linked), lambda: os.remove(linked)),
            ("Data a link", lambda: (os.rename(data, data + ".real"),
                                     os.symlink(data + ".real", data)),
             lambda: (os.remove(data), os.rename(data + ".real", data)))]:
        plant()
        m.msiexec("/i", windows_path(m.msi), refused=True)
        undo()
        check(m.versions() == [OLD] and read(m.prefs) == edited and
              read(os.path.join(outside, "Data", "Pref.txt")) == b"another file",
              "%s: the refused upgrade left %s, Pref.txt %r" % (name, m.versions(),
                                                               read(m.prefs)))
        if not os.path.exists(m.exe):
            m.msiexec("/i", windows_path(m.old_msi), "REINSTALL=ALL", "REINSTALLMODE=omus",
                      "LAYOUT=shared")
        m.layout("shared", OLD)
        m.start()
        e2e.set_mode(1280, 1024)
        check(wait_until(lambda: e2e.screen_mode() == (1024, 768), 40) and
              read(m.prefs) == edited, "%s: the older keeper does not work: %r" % (
                  name, read(m.prefs)))

    # Another user's program holding the shared folder, Data and Pref.txt for reading cannot
    # keep the package from relying on them: it asks no access that a share mode governs.
    holder = m.hold(SHARED, SHARED + "\\Data", SHARED + "\\Data\\Pref.txt")
    m.msiexec("/i", windows_path(m.msi))
    holder.kill()
    m.layout("shared", version)
    check(read(m.exe) == read(m.program) and read(m.prefs) == edited,
          "upgraded: Pref.txt holds %r" % read(m.prefs))

    # Back to files per user, for a user who has none yet: the new file starts with the user's
    # record from the shared file, which stays.
    e2e.set_mode(1280, 1024)
    m.msiexec("/i", windows_path(m.msi), "LAYOUT=user")
    m.layout("user", version)
    shutil.rmtree(os.path.dirname(os.path.dirname(m.own)), ignore_errors=True)
    m.logoff()
    m.start()
    check(wait_until(lambda: read(m.own) == group(user, 1024, 768), 40) and
          read(m.prefs) == edited,
          "moved to files per user: the user's own %r, the shared %r" % (read(m.own),
                                                                         read(m.prefs)))
    m.msiexec("/i", windows_path(m.msi), "REINSTALL=ALL", "REINSTALLMODE=omus")
    m.layout("user", version)
    m.msiexec("/x", m.product_code)
    check(not os.path.exists(m.exe) and m.task() is None and read(m.prefs) == edited and
          read(m.own) == group(user, 1024, 768), "removed: Pref.txt %r" % read(m.prefs))


def planted_flow(m, version, helper):
    # What a user could have planted beforehand: the install fails before anything is made or
    # granted; the helper's own code says why.
    outside = m.outside()
    shared = m.unix(SHARED)

    def unplant():
        for path in (shared, os.path.dirname(m.prefs), m.prefs):
            if os.path.islink(path):
                os.remove(path)
        if os.path.isfile(m.prefs) and os.stat(m.prefs).st_nlink > 1:
            os.remove(m.prefs)

    planted = [("the shared folder linked elsewhere", EXITS["REFUSED_LINK"],
                lambda: os.symlink(outside, shared)),
               ("Pref.txt a hard link to another file", EXITS["REFUSED_HARD_LINKS"],
                lambda: (os.makedirs(os.path.dirname(m.prefs)),
                         os.link(os.path.join(outside, "Data", "Pref.txt"), m.prefs)))]
    for name, refused, plant in planted:
        plant()
        m.msiexec("/i", windows_path(m.old_msi), "LAYOUT=shared", refused=True)
        said = m.wine.run("wine", windows_path(helper), "shared", SHARED)
        check(said.returncode == refused and not os.path.exists(m.exe) and
              read(os.path.join(outside, "Data", "Pref.txt")) == b"another file",
              "%s: helper %d %r" % (name, said.returncode,
                                    said.stdout.decode("utf-16-le", "replace")))
        unplant()
        shutil.rmtree(shared, ignore_errors=True)


def transform_flow(m, version, helper):
    # Group Policy gives no command line: the layout a transform sets in the Property table
    # (here the package's own table changed alike) is taken.
    transformed = os.path.join(m.work, "transformed.msi")
    shutil.copy(m.msi, transformed)
    built = subprocess.run(["msibuild", transformed, "-q", "INSERT INTO `Property` (`Property`, "
                            "`Value`) VALUES ('LAYOUT', 'shared')"], capture_output=True)
    check(built.returncode == 0, "could not set LAYOUT in a copy of the package")
    m.msiexec("/i", windows_path(transformed))
    m.layout("shared", version)
    m.msiexec("/x", m.product_code)


def older_package(work, program, script, helper):
    """The package of version 0.9.0, its keeper's version resource saying so (Windows Installer
    replaces a file only by a newer version)."""
    data = open(program, "rb").read()
    fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO
    os.makedirs(os.path.join(work, "old"))
    old_program = os.path.join(work, "old", FACTS["KEEPER_PROGRAM"])
    with open(old_program, "wb") as f:
        f.write(data[:fixed + 8] + struct.pack("<4I", 9, 0, 9, 0) + data[fixed + 24:])
    old_msi = os.path.join(work, "reskeeper-%s.msi" % OLD)
    beside = os.path.dirname(os.path.abspath(program))
    built = subprocess.run(["cmake", "-DVERSION=" + OLD, "-DOUTPUT=" + old_msi, "-DPROGRAM=" +
                            old_program, "-DSESSION=" + os.path.join(
                                beside, FACTS["SESSION_PROGRAM"]), "-DHELPER=" + helper,
                            "-DCTL=" + os.path.join(beside, FACTS["CTL_PROGRAM"]),
                            "-DSETTINGS=" + os.path.join(beside, FACTS["SETTINGS_PROGRAM"]),
                            "-DICON=" + os.path.join(HERE, "..", "..", "platform", "reskeeper.ico"),
                            "-DWORK=" + work + "/build", "-P", script], capture_output=True,
                           text=True)
    check(fixed > 0 and built.returncode == 0, "no older package:\n" + built.stderr)
    return old_msi


FLOWS = {"user": user_flow, "shared": shared_flow, "planted": planted_flow,
         "transform": transform_flow}


def main(msi, program, version, prefix, script, helper, flow):
    if not all(os.path.isfile(path) for path in (msi, program, helper)):
        print("SKIPPED: %s, %s or %s is not built yet" % (msi, program, helper))
        return SKIPPED
    rights = {row[1:4] for row in table(msi, "MsiLockPermissionsEx")}
    files = {row[2].split("|")[-1] for row in table(msi, "File")}
    check(rights == {("ProgramFolder", "CreateFolder", FACTS["FOLDER_RIGHTS"])} and
          files == INSTALLED, "the package's rights %s and files %s" % (rights, files))
    work = os.path.dirname(os.path.abspath(prefix))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    old_msi = older_package(work, program, script, os.path.abspath(helper))
    wine = WineSession(os.path.abspath(prefix))
    try:
        wine.prepare()
        machine = Machine(wine, work, os.path.abspath(msi), old_msi, program)
        FLOWS[flow](machine, version, os.path.abspath(helper))
    finally:
        wine.stop()
    print("PASS msi %s" % flow)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
