#!/usr/bin/env python3
"""reskeeper Settings under wine, used by keyboard alone beside a running reskeeper.exe: the
largest mode chosen with Home and Enter (the default button) and the question whether to keep
it left unanswered, after which the file (its comment kept) and the screen hold the size before
again; the smallest chosen with End and Alt+K and kept with Alt+K in the question; Esc while
the largest is being stored again closes it once that is done, with the smallest back. Both programs run as a standard user who may only read and write Pref.txt. Screenshots go
into the test's folder, kept on failure; `--picture docs/settings.png --question-picture
docs/keep.png` remakes the pictures in docs/using.md.

    xdisplay.sh run settings.py SETTINGS_EXE RESKEEPER_EXE PREFIX_TEMPLATE [--picture PNG]
                                [--question-picture PNG]
Exit status 77 (skipped) when either program is not built yet."""

import argparse
import os
import re
import shutil
import subprocess
import sys

import e2e
from e2e import check, wait_until
from harness import SKIPPED, group, run_in_fresh_folder, windows_path

TITLE = "reskeeper Settings"
QUESTION = "Keep this resolution?"
COMMENT = b"; kept by hand\r\n"


def xdotool(*args):
    done = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=60)
    return done.stdout.split() if done.returncode == 0 else []


def screenshot(window, path):
    """The dialog's part of the screen, as PNG."""
    geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window))
    subprocess.run(["import", "-window", "root", "-crop",
                    "%(WIDTH)sx%(HEIGHT)s+%(X)s+%(Y)s" % geometry, "+repage", path],
                   check=True, timeout=60)


def idle(window):
    """Whether the dialog is waiting for the user: its title loses its "- reading" or
    "- storing" then."""
    return xdotool("getwindowname", window) == TITLE.split()


def choose(s, work, window, keys, mode, shot):
    """Presses `keys` in the idle dialog until the keeper has switched the screen to `mode`, the
    file holding it with the comment kept, and the question whether to keep it is up; gives the
    question's window."""
    wanted = group(b"alice", *mode) + COMMENT
    question = lambda: xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(QUESTION))
    for _ in range(3):
        if not wait_until(lambda: idle(window), 60):
            break
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "--delay", "100", *keys)
        if wait_until(question, 30):
            break
    found = question()
    screenshot(found[0] if found else window, shot)
    check(found and s.prefs(work) == wanted and e2e.screen_mode() == mode,
          "after %s: %s, the screen shows %s, Pref.txt holds\n%s" % (
              " ".join(keys), "the question is up" if found else "no question",
              e2e.mode_text(e2e.screen_mode()), e2e.shown(s.prefs(work))))
    return found[0]


def settled(s, work, window, mode, when):
    """Waits until the question is gone, the dialog idle, and file and screen hold `mode`."""
    wanted = group(b"alice", *mode) + COMMENT
    gone = lambda: not xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(QUESTION))
    holds = lambda: (gone() and idle(window) and s.prefs(work) == wanted and
                     e2e.screen_mode() == mode)
    check(wait_until(holds, 60), "%s: the screen shows %s, the title is %s, Pref.txt holds\n%s" % (
        when, e2e.mode_text(e2e.screen_mode()), xdotool("getwindowname", window),
        e2e.shown(s.prefs(work))))


def area(size):
    return size[0] * size[1]


def scenario(s, settings, root, picture, question_picture):
    e2e.set_mode(1280, 1024)
    # A standard user's rights as the installer gives them: the shared folder is root's, and
    # the user may only read and write Pref.txt in it.
    session = s.program.nobody_session()
    work = os.path.join(session.prefix, "drive_c", "ProgramData", "reskeeper")
    os.makedirs(os.path.join(work, "Data"))
    with open(s.pref_path(work), "wb") as f:
        f.write(group(b"alice", 1280, 1024) + COMMENT)
    os.chmod(s.pref_path(work), 0o666)
    s.start(work, b"alice", nobody=True)
    s.expect(work, group(b"alice", 1280, 1024) + COMMENT, (1280, 1024))
    program = shutil.copy(settings, os.path.join(root, "bin", "reskeeper-settings.exe"))
    # Under wine every program runs elevated, and so takes its folder only from --folder.
    dialog = session.start(work, "cmd", "/c", "set", "USERNAME=alice&&", windows_path(program),
                           "--folder", r"C:\ProgramData\reskeeper",
                           log=os.path.join(root, "program-settings.log"))
    found = wait_until(lambda: xdotool("search", "--onlyvisible", "--name", "^%s$" % TITLE), 120)
    check(found, "no window %r appeared\n%s" % (TITLE, s.logs()))
    window = found[0]
    # The list runs from the largest mode to the smallest.
    sizes = [tuple(map(int, m)) for m in re.findall(r"^   (\d+)x(\d+) ", e2e.xrandr(), re.M)]
    largest, smallest = max(sizes, key=area), min(sizes, key=area)
    choose(s, work, window, ["Home", "Return"], largest, os.path.join(root, "question.png"))
    if question_picture:
        shutil.copy(os.path.join(root, "question.png"), question_picture)
    # No answer: after the countdown the size before is back in the file and on the screen.
    settled(s, work, window, (1280, 1024), "with no answer")
    screenshot(window, os.path.join(root, "settings-1.png"))
    if picture:
        shutil.copy(os.path.join(root, "settings-1.png"), picture)
    question = choose(s, work, window, ["End", "alt+k"], smallest,
                      os.path.join(root, "settings-2.png"))
    xdotool("windowfocus", "--sync", question)
    xdotool("key", "alt+k")
    settled(s, work, window, smallest, "kept")
    s.passes(4)
    settled(s, work, window, smallest, "kept, four passes later")
    # Esc while a size is being stored: the dialog closes once the round is done, and asks
    # nothing on its way out, so the size before comes back.
    check(wait_until(lambda: idle(window), 60), "the dialog did not come back idle")
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "--delay", "100", "Home", "Return", "Escape")
    gone = lambda: not xdotool("search", "--name", "^%s( - .*)?$" % TITLE)
    check(wait_until(gone, 90), "Esc while storing did not close the dialog")
    dialog.wait(60)
    session.processes.remove(dialog)  # ended as it should: the keeper alone must stay
    wanted = group(b"alice", *smallest) + COMMENT
    check(wait_until(lambda: s.prefs(work) == wanted and e2e.screen_mode() == smallest, 30),
          "closed while storing: the screen shows %s, Pref.txt holds\n%s" % (
              e2e.mode_text(e2e.screen_mode()), e2e.shown(s.prefs(work))))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("settings")
    parser.add_argument("keeper")
    parser.add_argument("template")
    parser.add_argument("--picture")
    parser.add_argument("--question-picture")
    args = parser.parse_args()
    if not (os.path.isfile(args.settings) and os.path.isfile(args.keeper)):
        print("SKIPPED: %s or %s is not built yet" % (args.settings, args.keeper))
        return SKIPPED
    settings = os.path.abspath(args.settings)

    def by_keyboard(s):
        """reskeeper Settings used by keyboard alone beside a running reskeeper.exe."""
        scenario(s, settings, s.root, args.picture, args.question_picture)

    passed = run_in_fresh_folder("settings", os.path.abspath(args.keeper), args.template,
                                 by_keyboard, prefix="reskeeper-settings.",
                                 kept=" (screenshots settings-*.png, question.png)")
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
