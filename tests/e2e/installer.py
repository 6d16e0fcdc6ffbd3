#!/usr/bin/env python3
"""The installer in a fresh wine prefix: silent install, start through the Startup shortcut,
an edit kept by an install over the running program, the registered silent uninstall; a
planted link refused; the exact icacls commands (icacls.exe is a logger here), for the default
program folder and for /D= elsewhere; exit codes. With --signing, a build signed with a
throwaway certificate: reskeeper.exe, the setup and the installed uninstaller carry signatures.

    xdisplay.sh run installer.py INSTALLER PROGRAM VERSION PREFIX    (77: not built yet)
    xdisplay.sh run installer.py --signing SOURCE BUILD PREFIX

Wine enforces no rights, so the rights are seen here as the commands that set them; that they
hold (a user cannot delete Pref.txt, nor write the program folder) only Windows can show."""

import os
import re
import shutil
import subprocess
import sys

import e2e
from e2e import check, wait_until
from scenarios import HERE, SKIPPED, WineSession, group

KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\reskeeper"
LINK = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\reskeeper.lnk"
PRODUCT_KEY = r"HKLM\Software\reskeeper"
SHARED = r"C:\ProgramData\reskeeper"
# The rights each path must end with (icacls grants by SID): only Administrators and SYSTEM may
# change anything, Users read, and write nothing but the bytes of Pref.txt.
FOLDER = {"*S-1-5-18:(OI)(CI)F", "*S-1-5-32-544:(OI)(CI)F", "*S-1-5-32-545:(OI)(CI)RX"}
RIGHTS = {SHARED: FOLDER, SHARED + r"\Data": FOLDER,
          SHARED + r"\Data\Pref.txt": {"*S-1-5-18:F", "*S-1-5-32-544:F", "*S-1-5-32-545:(R,W)"}}
EXIT_REFUSED_LINK = 20
EXIT_REFUSED_HARD_LINK = 22


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
        ran = wine.run("wine", r"C:\windows\system32\icacls.exe", "--run", line)
        check(ran.stdout.strip().isdigit(), "could not run %s: %r" % (line, ran.stdout))
        if int(ran.stdout) and ran.stderr:
            print("%s: wine said\n%s" % (line, ran.stderr.decode(errors="replace")))
        return int(ran.stdout)
    return run


def icacls_calls(wine):
    """The icacls commands issued since the last call, as (path, arguments)."""
    log = os.path.join(wine.prefix, "drive_c", "windows", "toollog.txt")
    lines = open(log, encoding="utf-8").read().splitlines() if os.path.exists(log) else []
    if os.path.exists(log):
        os.remove(log)
    return [re.match(r'"[^"]*" "([^"]*)" (.*)', line).groups() for line in lines]


def check_rights(calls, folder):
    """Each path of `folder` and the shared folder: owner Administrators, then its rights, with
    /L (the path itself, never what it could point to); a folder locked before anything inside
    it is touched; nothing else."""
    expected = dict(RIGHTS, **{folder: FOLDER})
    done = []
    for path, arguments in calls:
        words = arguments.split()
        check("/L" in words and path in expected, "icacls %s %s" % (path, arguments))
        check(not any(p.startswith(path + "\\") for p in done),
              "%s locked after what it holds: %s" % (path, calls))
        if "/setowner" in words:
            check(words[:2] == ["/setowner", "*S-1-5-32-544"] and path not in done,
                  "icacls %s %s" % (path, arguments))
            done.append(path)
        else:
            grants = set(words[words.index("/grant:r") + 1:words.index("/L")])
            check(path in done and "/inheritance:r" in words and grants == expected.pop(path),
                  "icacls %s %s after %s" % (path, arguments, done))
    check(not expected, "no rights set on %s" % list(expected))


def scenario(wine, installer, program, version):
    run = tools(wine)
    setup = lambda *options: run(" ".join(['"%s"' % winpath(installer), "/S"] + list(options)))
    unix = lambda path: os.path.join(wine.prefix, "drive_c", *path.split("\\")[1:])
    folder = unix(r"C:\Program Files\reskeeper")
    prefs = unix(r"C:\ProgramData\reskeeper\Data\Pref.txt")
    read = lambda path: open(path, "rb").read() if os.path.isfile(path) else None
    running = lambda: [line for _, line in wine.unix_processes() if "reskeeper.exe" in line]
    registry = lambda: wine.run("wine", "reg", "query", KEY).stdout.decode(errors="replace")

    def install():
        code = setup()
        check(code == 0, "the install exited %d" % code)
        check(read(os.path.join(folder, "reskeeper.exe")) == read(program), "no reskeeper.exe")
        check_rights(icacls_calls(wine), r"C:\Program Files\reskeeper")

    # What a user could have made beforehand to have rights granted elsewhere: refused before
    # anything is touched.
    outside = unix(r"C:\outside")
    os.makedirs(os.path.join(outside, "Data"))
    with open(os.path.join(outside, "Data", "Pref.txt"), "wb") as f:
        f.write(b"[x]\r\n")
    shared = unix(SHARED)
    planted = [("the shared folder linked elsewhere", EXIT_REFUSED_LINK,
                lambda: os.symlink(outside, shared)),
               ("Pref.txt a hard link to a file elsewhere", EXIT_REFUSED_HARD_LINK,
                lambda: (os.makedirs(os.path.join(shared, "Data")),
                         os.link(os.path.join(outside, "Data", "Pref.txt"), prefs)))]
    for name, expected, plant in planted:
        plant()
        code = setup()
        check(code == expected and not icacls_calls(wine) and not os.path.exists(folder) and
              os.listdir(outside) == ["Data"] and os.listdir(os.path.join(outside, "Data")) == [
                  "Pref.txt"] and read(os.path.join(outside, "Data", "Pref.txt")) == b"[x]\r\n",
              "%s: exit %d, %s" % (name, code, os.listdir(unix("C:\\"))))
        os.remove(shared) if os.path.islink(shared) else shutil.rmtree(shared)

    def start():
        wine.start(wine.prefix, "start", LINK)
        check(wait_until(running, 40), "the Startup shortcut started no reskeeper.exe")

    e2e.set_mode(1280, 1024)
    install()
    entry = registry()
    uninstall = re.search(r'QuietUninstallString\s+REG_SZ\s+("(.+)" /S)\s', entry)
    check(uninstall and re.search(r"DisplayVersion\s+REG_SZ\s+%s\s" % re.escape(version), entry),
          "registered as:\n" + entry)
    check(read(prefs) == b"", "Pref.txt holds %r" % read(prefs))
    shared = wine.run("wine", "reg", "query", PRODUCT_KEY).stdout.decode(errors="replace")
    check(re.search(r"DataFolder\s+REG_SZ\s+C:\\ProgramData\\reskeeper\s", shared) and
          re.search(r"InstallLocation\s+REG_SZ\s+C:\\Program Files\\reskeeper\s", shared),
          "recorded as:\n" + shared)
    # Only the shortcut's working folder has a Data\Pref.txt to record the user in.
    user = wine.user_name()
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
    install()
    check(not running() and read(prefs) == edited, "installed again over the running program: "
          "%s running, Pref.txt holds %r" % (running(), read(prefs)))

    start()
    # The registered command returns when all is gone.
    left = lambda: running() + [p for p in (folder, unix(LINK)) if os.path.exists(p)]
    code = run(uninstall[1])
    check(code == 0 and not left() and KEY.split("\\")[-1] not in registry() and
          wine.run("wine", "reg", "query", PRODUCT_KEY).returncode != 0,
          "uninstalled: exit %d, %s left, registered as:\n%s" % (code, left(), registry()))
    check(read(prefs) == edited, "uninstalled: Pref.txt holds %r" % read(prefs))

    # Elsewhere, below a folder only administrators may change: the same rights.
    os.makedirs(unix(r"C:\Apps"))
    code = setup(r"/D=C:\Apps\reskeeper")
    check(code == 0 and os.path.isfile(unix(r"C:\Apps\reskeeper\reskeeper.exe")),
          "the install into C:\\Apps\\reskeeper exited %d" % code)
    check_rights(icacls_calls(wine), r"C:\Apps\reskeeper")
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
