#!/usr/bin/env python3
"""The installer in a fresh wine prefix, in both layouts. Each user's own file (the default):
nothing made under %ProgramData%, the Startup shortcut's session starter making the user's file
and starting the keeper once, reskeeperctl status and set on that file, the layout kept by an
install again. The shared file (/LAYOUT=shared): started through the shortcut, an edit kept by
an install over the running program (Pref.txt hard-linked elsewhere meanwhile and made
read-only: taken over, every byte kept; the layout kept where the install predates the choice).
Back to files per user: a new file starts with the user's shared record, unless the shared file
is one others could have changed. The registered silent uninstall, the files left. A planted
link or hard link refused, a program or shared folder that another program holds open with
DELETE access, an unknown layout; no right set by name (icacls.exe is a logger here, and never
runs), for the default program folder and for /D= elsewhere; exit codes. With --signing, a
build signed with a throwaway certificate: reskeeper.exe, the setup and the installed
uninstaller carry signatures.

    xdisplay.sh run installer.py INSTALLER PROGRAM VERSION PREFIX    (77: not built yet)
    xdisplay.sh run installer.py --signing SOURCE BUILD PREFIX

Wine enforces no rights and keeps no security descriptor, so the rights themselves are not seen
here; that they hold (a user cannot delete Pref.txt, nor write the program folder) only Windows
can show."""

import json
import os
import re
import shutil
import subprocess
import sys
import time

import e2e
from e2e import check, wait_until
from product import EXITS, FACTS
from scenarios import HERE, SKIPPED, WineSession, group

KEY = "HKLM\\" + FACTS["UNINSTALL_KEY"]
LINK = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp" + "\\" + FACTS[
    "STARTUP_SHORTCUT"]
PRODUCT_KEY = "HKLM\\" + FACTS["REGISTRY_KEY"]
SHARED = "C:\\ProgramData\\" + FACTS["FOLDER_NAME"]


def tools(wine):
    """Builds the test tool, puts it in the prefix in place of icacls.exe, and gives a function
    that runs a command line as a deployment tool does and gives its whole exit code."""
    compiler = shutil.which("x86_64-w64-mingw32-gcc-posix") or "x86_64-w64-mingw32-gcc"
    tool = os.path.join(wine.prefix, "drive_c", "windows", "system32", "icacls.exe")
    built = subprocess.run([compiler, "-O2", "-static", "-o", tool,
                            os.path.join(HERE, "toollog.c"), "-lshell32"], capture_output=True,
                           text=True)
    check(built.returncode == 0, "could not build toollog.exe:\n" + built.stderr)
    wine.run("wine", "reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", "icacls.exe", "/d",
             "native", "/f")

    def run(line):
        # Its output goes to a file, not a pipe: a desktop process that wine starts meanwhile
        # inherits it and lives on.
        log = os.path.join(os.path.dirname(wine.prefix), "run.log")
        ran = wine.start(wine.prefix, r"C:\windows\system32\icacls.exe", "--run", line, log=log)
        ran.wait(300)
        wine.processes.remove(ran)
        said = open(log, "rb").read().decode(errors="replace").splitlines()
        codes = [text.strip() for text in said if text.strip().isdigit()]
        check(codes, "could not run %s: %r" % (line, said))
        if int(codes[-1]) and len(said) > 1:
            print("%s: wine said\n%s" % (line, "\n".join(said[:-1])))
        return int(codes[-1])
    return run


def icacls_calls(wine):
    """The icacls commands issued since the last call: none, since the helper sets every right
    on the objects it holds."""
    log = os.path.join(wine.prefix, "drive_c", "windows", "toollog.txt")
    lines = open(log, encoding="utf-8").read().splitlines() if os.path.exists(log) else []
    if os.path.exists(log):
        os.remove(log)
    return lines


def holding(wine, path):
    """A plant: holds the Windows folder `path` (made first) open with DELETE access until the
    process it gives is killed."""
    os.makedirs(os.path.join(wine.prefix, "drive_c", *path.split("\\")[1:]), exist_ok=True)
    log = os.path.join(os.path.dirname(wine.prefix), "hold.log")
    holder = wine.start(wine.prefix, r"C:\windows\system32\icacls.exe", "--hold", path, "600",
                        log=log)
    check(wait_until(lambda: b"held" in open(log, "rb").read() or holder.poll() is not None, 60)
          and holder.poll() is None, "could not hold %s" % path)
    return holder


def windows_variable(wine, name):
    """The value wine gives this prefix's programs for the environment variable `name`."""
    for _ in range(3):  # now and then wine fails to launch cmd at all
        said = wine.run("wine", "cmd", "/c", "echo", "%" + name + "%")
        value = said.stdout.decode(errors="replace").strip()
        if said.returncode == 0 and value and "%" not in value:
            return value
    raise e2e.Failure("wine gave no %s: %r" % (name, said.stderr[-2000:]))


def scenario(wine, installer, program, version):
    run = tools(wine)
    setup = lambda *options: run(" ".join(['"%s"' % winpath(installer), "/S"] + list(options)))
    unix = lambda path: os.path.join(wine.prefix, "drive_c", *path.split("\\")[1:])
    folder = unix(r"C:\Program Files\reskeeper")
    prefs = unix(SHARED + r"\Data\Pref.txt")
    read = lambda path: open(path, "rb").read() if os.path.isfile(path) else None
    running = lambda: [pid for pid, line in wine.unix_processes() if "reskeeper.exe" in line]
    registry = lambda: wine.run("wine", "reg", "query", KEY).stdout.decode(errors="replace")
    product = lambda: re.sub(r"\s+", " ", wine.run("wine", "reg", "query", PRODUCT_KEY).stdout
                             .decode(errors="replace"))

    def install(*options, layout="user"):
        """Installs silently; checks the programs, that no right was set by name, and the
        layout recorded: DataFolder in the shared layout alone."""
        code = setup(*options)
        check(code == 0, "the install %s exited %d" % (" ".join(options), code))
        check(read(os.path.join(folder, "reskeeper.exe")) == read(program), "no reskeeper.exe")
        calls = icacls_calls(wine)
        check(not calls, "rights set by name: %s" % calls)
        values = product()
        check(r"InstallLocation REG_SZ C:\Program Files\reskeeper " in values and
              "Layout REG_SZ %s " % layout in values and
              (r"DataFolder REG_SZ C:\ProgramData\reskeeper " in values) == (layout == "shared")
              and (b"reskeeper-session.exe" in read(unix(LINK)).replace(b"\0", b"")) == (
                  layout == "user"), "installed %s: recorded as %s" % (layout, values))

    # What a user could have made beforehand to have rights granted elsewhere, or a handle with
    # DELETE access held since before the folder was locked: refused before anything is written.
    outside = unix(r"C:\outside")
    os.makedirs(os.path.join(outside, "Data"))
    with open(os.path.join(outside, "Data", "Pref.txt"), "wb") as f:
        f.write(b"[x]\r\n")
    shared = unix(SHARED)
    apps = unix(r"C:\Apps\reskeeper")
    planted = [("the shared folder linked elsewhere", EXITS["REFUSED_LINK"], ["/LAYOUT=shared"],
                lambda: os.symlink(outside, shared)),
               ("Pref.txt a hard link to a file elsewhere", EXITS["REFUSED_HARD_LINKS"],
                ["/LAYOUT=shared"], lambda: (os.makedirs(os.path.join(shared, "Data")),
                                             os.link(os.path.join(outside, "Data", "Pref.txt"),
                                                     prefs))),
               ("the shared folder held open", EXITS["REFUSED_HELD"], ["/LAYOUT=shared"],
                lambda: holding(wine, SHARED)),
               ("the program folder held open", EXITS["REFUSED_HELD"],
                [r"/D=C:\Apps\reskeeper"], lambda: holding(wine, r"C:\Apps\reskeeper")),
               ("a layout that does not exist", EXITS["USAGE"], ["/LAYOUT=both"], lambda: None)]
    for name, expected, options, plant in planted:
        holder = plant()
        code = setup(*options)
        if hasattr(holder, "kill"):
            holder.kill()
            holder.wait()
        check(code == expected and not icacls_calls(wine) and not os.path.exists(folder) and
              (not os.path.isdir(apps) or not os.listdir(apps)), "%s: exit %d, %s" % (
                  name, code, os.listdir(unix("C:\\"))))
        check(os.listdir(outside) == ["Data"] and os.listdir(os.path.join(outside, "Data")) == [
            "Pref.txt"] and read(os.path.join(outside, "Data", "Pref.txt")) == b"[x]\r\n" and
              wine.run("wine", "reg", "query", KEY).returncode != 0 and
              not os.path.exists(unix(LINK)), "%s: something was installed" % name)
        for path in (shared, apps):
            os.remove(path) if os.path.islink(path) else shutil.rmtree(path, ignore_errors=True)

    def start():
        wine.start(wine.prefix, "start", LINK)
        check(wait_until(running, 40), "the Startup shortcut started no reskeeper.exe")

    def end_keeper():
        for pid in running():
            os.kill(pid, 9)
        check(wait_until(lambda: not running(), 40), "reskeeper.exe did not end")

    def ctl(*argv):
        """reskeeperctl as installed, as the user would run it, in a folder holding no Data."""
        done = wine.run("wine", folder_windows + r"\reskeeperctl.exe", *argv, cwd=wine.prefix)
        return done.returncode, done.stdout.decode(errors="replace")

    folder_windows = r"C:\Program Files\reskeeper"
    user = wine.user_name()
    own_folder = unix(windows_variable(wine, "APPDATA") + r"\reskeeper")
    own = os.path.join(own_folder, "Data", "Pref.txt")

    # Each user's own file, the default: nothing under %ProgramData%; the shortcut runs the
    # session starter, which makes the user's file and starts the keeper working beside it; a
    # second start changes nothing and starts no second keeper.
    e2e.set_mode(1280, 1024)
    install()
    entry = registry()
    uninstall = re.search(r'QuietUninstallString\s+REG_SZ\s+("(.+)" /S)\s', entry)
    check(uninstall and re.search(r"DisplayVersion\s+REG_SZ\s+%s\s" % re.escape(version), entry),
          "registered as:\n" + entry)
    check(not os.path.exists(shared), "the per-user install made %s" % SHARED)
    start()
    check(wait_until(lambda: read(own) == group(user, 1280, 1024), 40),
          "%s holds %r, not %s's group" % (own, read(own), user))
    kept = read(own)
    start()
    time.sleep(3)
    check(len(running()) == 1 and read(own) == kept, "started again: %d keepers, %r" % (
        len(running()), read(own)))
    code, said = ctl("status", "--json")
    status = json.loads(said) if said.strip().startswith("{") else {}
    check(code == 0 and status.get("layout") == "per-user" and
          unix(status.get("file", "C:\\x")) == own, "status: %d %s" % (code, said))
    code, said = ctl("set", "--yes", "1024x768")
    check(code == 0 and read(own) == group(user, 1024, 768) and
          wait_until(lambda: e2e.screen_mode() == (1024, 768), 20), "set: %d %s, %r" % (
              code, said, read(own)))
    # Installed again (an upgrade), the layout stays.
    install()
    check(not os.path.exists(shared), "installed again, the per-user install made %s" % SHARED)

    # The shared file: the shortcut's keeper works in %ProgramData%\reskeeper and records the
    # user there; an edit there is kept.
    e2e.set_mode(1280, 1024)
    install("/LAYOUT=shared", layout="shared")
    check(read(prefs) == b"", "Pref.txt holds %r" % read(prefs))
    start()
    check(wait_until(lambda: read(prefs) == group(user, 1280, 1024), 40),
          "Pref.txt holds %r, not %s's group" % (read(prefs), user))
    # An edit the program applies and keeps; made again when a pass writes over it what it read.
    edited = group(user, 1024, 768) + b"; edited by hand\r\n"
    for _ in range(5):
        with open(prefs, "wb") as f:
            f.write(edited)
        if wait_until(lambda: e2e.screen_mode() == (1024, 768), 10) and read(prefs) == edited:
            break
    # Under the rights an earlier version gave, a user could link Pref.txt elsewhere and make it
    # read-only: the install takes it over, every byte kept, the link left with the old file. An
    # install over one that predates the choice (DataFolder alone) keeps the shared file.
    linked = unix(r"C:\linked.txt")
    os.link(prefs, linked)
    wine.run("wine", "attrib", "+r", SHARED + r"\Data\Pref.txt")
    wine.run("wine", "reg", "delete", PRODUCT_KEY, "/v", "Layout", "/f")
    install(layout="shared")
    check(not running() and read(prefs) == edited and os.stat(prefs).st_nlink == 1 and
          os.stat(prefs).st_mode & 0o200 and read(linked) == edited,
          "installed again over the running program: %s running, Pref.txt holds %r, %d links, "
          "mode %o" % (running(), read(prefs), os.stat(prefs).st_nlink, os.stat(prefs).st_mode))

    # Back to files per user, for a user who has none yet: the new file starts with the user's
    # record from the shared file, which stays; but not from a shared file that others could
    # have changed (a Data folder everyone may write, here).
    e2e.set_mode(1280, 1024)
    install("/LAYOUT=user")
    data = os.path.dirname(prefs)
    mode = os.stat(data).st_mode
    for writable, expected in ((True, group(user, 1280, 1024)), (False, group(user, 1024, 768))):
        shutil.rmtree(own_folder)
        os.chmod(data, 0o777 if writable else mode)
        start()
        check(wait_until(lambda: read(own) == expected, 40), "a new own file%s holds %r" % (
            " beside a Data folder everyone may write" if writable else "", read(own)))
        end_keeper()
    check(read(prefs) == edited, "the shared file became %r" % read(prefs))

    # The registered command returns when all is gone; the files stay.
    start()
    left = lambda: running() + [p for p in (folder, unix(LINK)) if os.path.exists(p)]
    code = run(uninstall[1])
    check(code == 0 and not left() and KEY.split("\\")[-1] not in registry() and
          wine.run("wine", "reg", "query", PRODUCT_KEY).returncode != 0,
          "uninstalled: exit %d, %s left, registered as:\n%s" % (code, left(), registry()))
    check(read(prefs) == edited and read(own) == group(user, 1024, 768),
          "uninstalled: Pref.txt holds %r, the user's own %r" % (read(prefs), read(own)))

    # Elsewhere, below a folder only administrators may change.
    code = setup(r"/D=C:\Apps\reskeeper")
    check(code == 0 and os.path.isfile(unix(r"C:\Apps\reskeeper\reskeeper.exe")) and
          not icacls_calls(wine), "the install into C:\\Apps\\reskeeper exited %d" % code)
    code = run(r'"C:\Apps\reskeeper\uninstall.exe" /S')
    check(code == 0 and not os.path.exists(unix(r"C:\Apps\reskeeper")),
          "uninstalled from C:\\Apps: exit %d" % code)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def signing(source, build, prefix):
    """Builds the setup afresh, signed with a certificate made here, installs it, verifies each
    file."""
    shutil.rmtree(build, ignore_errors=True)
    keys = os.path.join(build, "keys")
    os.makedirs(keys)
    password = os.path.join(keys, "password")
    with open(password, "w") as f:
        f.write("throwaway\n")
    for argv in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  "/CN=reskeeper test", "-addext", "extendedKeyUsage=codeSigning", "-keyout",
                  "key.pem", "-out", "cert.pem"],
                 ["pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "cert.p12",
                  "-passout", "file:password"]):
        check(subprocess.run(["openssl"] + argv, cwd=keys, capture_output=True).returncode == 0,
              "openssl %s failed" % argv[0])
    for argv in (["--preset", "windows", "-B", build, "-DRESKEEPER_TESTS=OFF",
                  "-DRESKEEPER_SIGN_PKCS12=" + os.path.join(keys, "cert.p12"),
                  "-DRESKEEPER_SIGN_PASSWORD_FILE=" + password],
                 ["--build", build, "-j2", "--target", "installer"]):
        made = subprocess.run(["cmake"] + argv, cwd=source, capture_output=True, text=True)
        check(made.returncode == 0, "cmake %s failed:\n%s" % (argv[0], made.stdout + made.stderr))
    wine = WineSession(os.path.abspath(prefix))
    try:
        wine.prepare()
        code = wine.run("wine", os.path.join(build, "reskeeper-setup.exe"), "/S").returncode
        check(code == 0, "the signed setup exited %d" % code)
        installed = os.path.join(wine.prefix, "drive_c", "Program Files", "reskeeper")
        for path in (os.path.join(build, "reskeeper.exe"), os.path.join(build, "reskeeper-setup.exe"),
                     os.path.join(installed, "reskeeper.exe"), os.path.join(installed, "uninstall.exe"),
                     os.path.join(installed, "uninstall.dat")):
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                       os.path.join(keys, "cert.pem"), "-in", path],
                                      capture_output=True, text=True)
            check(verified.returncode == 0, "%s: %s" % (path, verified.stdout + verified.stderr))
    finally:
        wine.stop()
    print("PASS installer signing")
    return 0


def main(installer, program, version, prefix):
    if installer == "--signing":
        return signing(program, version, prefix)
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
