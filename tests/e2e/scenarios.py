#!/usr/bin/env python3
"""End-to-end scenarios: the real program, reskeeper on Linux or reskeeper.exe under wine,
run in a fresh folder with a Data/Pref.txt of the scenario's own bytes, against the private X
server that tests/e2e/xdisplay.sh starts. Each scenario sets the screen's mode with xrandr,
lets the program run until the expected file and mode are there (or a deadline passes), and
checks both byte for byte and with xrandr.

    xdisplay.sh run scenarios.py --program PATH [--wine-prefix TEMPLATE] [--scenario NAME]...
    scenarios.py --list linux|windows

A Windows program that does not exist yet gives exit status 77 (skipped)."""

import argparse
import os
import random
import sys

import e2e
import fileform
from e2e import check, shown, wait_until
from harness import LINUX, NO_FILE, SKIPPED, WINDOWS, group, run_in_fresh_folder

SCENARIOS = {}


def scenario(*systems):
    def register(function):
        SCENARIOS[function.__name__] = (function, systems)
        return function

    return register


# ---- Garbage ------------------------------------------------------------------------------


def garbage(size=3000, seed=20240611):
    """Bytes of every kind, line ends, zero bytes, blanks, `;` and `=` among them often, but no
    `[`: a group in them would take values of its own."""
    rng = random.Random(seed)
    special = b"\r\n\0 \t;=\xef\xbb\xbf"
    choices = [b for b in range(256) if b != ord("[")]
    data = bytes(rng.choice(special) if rng.random() < 0.3 else rng.choice(choices)
                 for _ in range(size))
    return b"x" + data  # never a byte-order mark at the start


# ---- The scenarios ------------------------------------------------------------------------


@scenario(LINUX, WINDOWS)
def typical_pass(s):
    """The screen is switched to the user's stored size and the file rewritten in normal form;
    later passes change nothing."""
    e2e.set_mode(1920, 1080)
    work = s.work(b"[bob]\nRes_X=800\nRes_Y=600\n[alice]\nRes_X=1280\nRes_Y=1024\n")
    s.start(work, b"alice")
    normal = group(b"bob", 800, 600) + group(b"alice", 1280, 1024)
    s.expect(work, normal, (1280, 1024))
    s.passes(3)
    s.check_now(work, normal, (1280, 1024), "three passes later")


@scenario(LINUX, WINDOWS)
def first_time_user(s):
    """A user seen for the first time gets the present size recorded, not the default one."""
    e2e.set_mode(800, 600)
    work = s.work(b"")
    s.start(work, b"carol")
    s.expect(work, group(b"carol", 800, 600), (800, 600))


@scenario(LINUX, WINDOWS)
def unset_user_name(s):
    """Without USERNAME the name is 255 blanks, recorded like any first-time user."""
    e2e.set_mode(1280, 1024)
    stored = group(b"alice", 800, 600)
    work = s.work(stored)
    s.start(work, None)
    s.expect(work, stored + group(b" " * 255, 1280, 1024), (1280, 1024))


@scenario(LINUX, WINDOWS)
def missing_file(s):
    """A missing file is never created and nothing is switched; a file that appears later is
    used from the next pass on."""
    e2e.set_mode(1280, 1024)
    work = s.work(None)
    s.start(work, b"dave")
    s.settle()
    s.check_now(work, NO_FILE, (1280, 1024), "with no file")
    check(sorted(os.listdir(work)) == ["Data"] and os.listdir(os.path.join(work, "Data")) == [],
          "the program created files: %s" % sorted(
              os.path.relpath(os.path.join(d, n), work) for d, _, ns in os.walk(work)
              for n in ns))
    with open(s.pref_path(work), "wb"):
        pass
    s.expect(work, group(b"dave", 1280, 1024), (1280, 1024), "once an empty file appeared")


@scenario(LINUX, WINDOWS)
def normalise(s):
    """Comments, blank lines, leading blanks, `a=b=c`, a line without `=`, a group without `]`,
    text after `]`, key case and every kind of line end come out in normal form."""
    e2e.set_mode(1920, 1080)
    work = s.work(b"; users of this machine\n"
                  b"\n"
                  b"   ;indented comment\r\n"
                  b"\t top=level\n"
                  b"[alice]  trailing words\r"
                  b"  Res_X=800\n"
                  b"Res_Y   =   600\n"
                  b"formula=a=b=c\n"
                  b"no equals here\n"
                  b"\r\n\r\n\n"
                  b"[bob\n"
                  b"res_x=1280\n"
                  b"Res_Y=1024")
    s.start(work, b"alice")
    s.expect(work, b"; users of this machine\r\n"
                   b"; indented comment\r\n"
                   b"top = level\r\n"
                   b"[alice]\r\n"
                   b"Res_X = 800\r\n"
                   b"Res_Y = 600\r\n"
                   b"formula = a=b=c\r\n"
                   b"no equals here = \r\n"
                   b"[bob]\r\n"
                   b"Res_X = 1280\r\n"
                   b"Res_Y = 1024\r\n", (800, 600))


UTF8_NAMES = (b"\xef\xbb\xbf; Benutzer\n[J\xc3\xbcrgen]\nRes_X=1024\nRes_Y=768\n"
              b"[Zo\xc3\xab]\nRes_X=800\nRes_Y=600\n")


@scenario(LINUX, WINDOWS)
def utf8_file(s):
    """A UTF-8 file keeps its byte-order mark, followed by an empty line; a user name in
    Latin-1 finds its UTF-8 group, and a new one is added in UTF-8."""
    e2e.set_mode(1280, 1024)
    work = s.work(UTF8_NAMES)
    normal = (b"\xef\xbb\xbf\r\n; Benutzer\r\n" + group(b"J\xc3\xbcrgen", 1024, 768) +
              group(b"Zo\xc3\xab", 800, 600))
    s.start(work, b"J\xfcrgen")
    s.expect(work, normal, (1024, 768))
    s.stop()
    s.start(work, b"Ren\xe9e")
    s.expect(work, normal + group(b"Ren\xc3\xa9e", 1024, 768), (1024, 768), "as Renee")


@scenario(LINUX, WINDOWS)
def edit_while_running(s):
    """A value edited in the file while the program runs is applied at the next pass."""
    e2e.set_mode(1920, 1080)
    work = s.work(group(b"alice", 1280, 1024))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1280, 1024), (1280, 1024))
    s.edit(work, b"[alice]\nRes_X=800\nRes_Y=600\n", group(b"alice", 1280, 1024),
           group(b"alice", 800, 600))
    s.expect(work, group(b"alice", 800, 600), (800, 600), "after the edit")


@scenario(LINUX, WINDOWS)
def read_only_file(s):
    """A file the program's user cannot write is read and applied but keeps its bytes. The
    program runs as nobody, since root may write any file."""
    e2e.set_mode(1920, 1080)
    original = b"[alice]\nRes_X=1024\nRes_Y=768\n"
    work = s.work(original)
    os.chmod(s.pref_path(work), 0o444)
    before = os.stat(s.pref_path(work))
    s.start(work, b"alice", nobody=True)
    s.expect(work, original, (1024, 768))
    s.passes(4)
    s.check_now(work, original, (1024, 768), "four passes later")
    after = os.stat(s.pref_path(work))
    check(after.st_mtime_ns == before.st_mtime_ns, "the read-only file was written")


@scenario(LINUX, WINDOWS)
def two_programs(s):
    """Two programs for two users on one folder: the file ends with both groups, none lost or
    doubled, and every state another careful reader sees is a whole file. Bob is another Unix
    user (another wine session): his keeper is not held back by alice's."""
    e2e.set_mode(1280, 1024)
    start = b"; shared by alice and bob\r\n"
    alice = group(b"alice", 1280, 1024)
    bob = group(b"bob", 1280, 1024)
    work = s.work(start)
    os.chmod(s.pref_path(work), 0o666)
    sampler = s.program.sampler(work)
    sampler.start()
    try:
        # The reader must have seen the file as it was before any program wrote it.
        check(wait_until(sampler.sampling, s.program.deadline), "the reader saw no state")
        s.start(work, b"alice")
        s.start(work, b"bob", nobody=True)
        s.expect(work, (start + alice + bob, start + bob + alice), (1280, 1024))
        s.passes(4)
    finally:
        samples = sampler.finish()
    s.check_now(work, (start + alice + bob, start + bob + alice), (1280, 1024), "four passes later")
    whole = {start, start + alice, start + bob, start + alice + bob, start + bob + alice}
    broken = [sample for sample in samples if sample not in whole]
    check(not broken, "states that are no whole file:\n%s" % "\n--\n".join(map(shown, broken)))
    check(len(samples) >= 2, "the reader saw %d states" % len(samples))
    print("    a reader saw %d states, all whole" % len(samples))


@scenario(LINUX, WINDOWS)
def pref_is_a_folder(s):
    """Data/Pref.txt as a folder: the program keeps running and touches nothing, and uses a
    file put in its place."""
    e2e.set_mode(1024, 768)
    work = s.work(None)
    os.mkdir(s.pref_path(work))
    s.start(work, b"erin")
    s.settle()
    s.check_now(work, mode=(1024, 768), when="with a folder")
    check(os.path.isdir(s.pref_path(work)) and not os.listdir(s.pref_path(work)),
          "the folder changed")
    os.rmdir(s.pref_path(work))
    with open(s.pref_path(work), "wb"):
        pass
    s.expect(work, group(b"erin", 1024, 768), (1024, 768), "once a file replaced the folder")


@scenario(LINUX, WINDOWS)
def garbage_file(s):
    """Garbage bytes: the program keeps running, and the file, in normal form, gains the user's
    group."""
    e2e.set_mode(800, 600)
    junk = garbage()
    work = s.work(junk)
    s.start(work, b"frank")
    s.expect(work, fileform.normalised(junk) + group(b"frank", 800, 600), (800, 600))


@scenario(LINUX, WINDOWS)
def refused_sizes(s):
    """Stored sizes the screen cannot show (no such mode, zero, negative, too large) leave it
    alone, pass after pass; a size it can show is switched to afterwards."""
    e2e.set_mode(1280, 1024)
    work = s.work(group(b"alice", 1280, 1024))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1280, 1024), (1280, 1024))
    stored = group(b"alice", 1280, 1024)
    for width, height in ((1234, 567), (1920, 600), (0, 0), (-800, -600), (100000, 100000),
                          (800, 600)):
        wanted = group(b"alice", width, height)
        s.edit(work, b"[alice]\nRes_X=%d\nRes_Y=%d\n" % (width, height), stored, wanted)
        stored = wanted
        # The rewrite comes after the pass's switch: once it is there, the switch was tried.
        shows = (800, 600) if width == 800 else (1280, 1024)
        s.expect(work, wanted, shows, "asking for %dx%d" % (width, height))


@scenario(LINUX, WINDOWS)
def second_keeper(s):
    """A second copy started beside a running keeper of the same user and display (session)
    changes nothing, no switch and no write, pass after pass, until the first ends; then it
    takes over with its own file."""
    e2e.set_mode(1920, 1080)
    first = s.work(b"[alice]\nRes_X=1280\nRes_Y=1024\n")
    s.start(first, b"alice")
    s.expect(first, group(b"alice", 1280, 1024), (1280, 1024))
    # Not in normal form, and dated long ago: any write shows in bytes and in time.
    waiting = b"[bob]\nRes_X=800\nRes_Y=600\n"
    second = s.work(waiting)
    os.utime(s.pref_path(second), ns=(10**18, 10**18))
    s.start(second, b"bob")
    s.program.wait_started()
    for n in range(4):
        s.passes(2)
        when = "%d passes after the second copy started" % (2 * n + 2)
        s.check_now(second, waiting, (1280, 1024), when)
        s.check_now(first, group(b"alice", 1280, 1024), when=when)
        check(os.stat(s.pref_path(second)).st_mtime_ns == 10**18,
              "%s: the second copy wrote its file" % when)
    s.program.end_first()
    s.expect(second, group(b"bob", 800, 600), (800, 600), "once the first ended")


@scenario(LINUX, WINDOWS)
def size_at_other_rate(s):
    """A stored size that the screen lists only at another refresh rate than its first mode's
    is switched to: Windows refuses the request built on the first mode, and the size is asked
    for again alone."""
    e2e.xrandr("--newmode", "1152x864", "104.00", "1152", "1224", "1344", "1536", "864", "867",
               "871", "905", "-hsync", "+vsync")  # `cvt 1152 864 75`: at 75 Hz only
    e2e.xrandr("--addmode", e2e.OUTPUT, "1152x864")
    e2e.set_mode(1280, 1024)
    work = s.work(group(b"alice", 1152, 864))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1152, 864), (1152, 864))


@scenario(WINDOWS)
def ready_for_input(s):
    """Started as from a shortcut, the program tells Windows at once that it is ready for
    input, so no busy pointer is shown for it: as the keeper, and as a second copy that waits
    for the first to end without calling the display at all."""
    e2e.set_mode(1280, 1024)
    first = s.work(b"")
    s.program.start_ready(first, b"alice")
    s.expect(first, group(b"alice", 1280, 1024), (1280, 1024))
    second = s.work(b"")
    s.program.start_ready(second, b"bob")
    s.passes(2)
    s.check_now(second, b"", (1280, 1024), "beside the first")
    s.program.end_first()
    s.expect(second, group(b"bob", 1280, 1024), (1280, 1024), "once the first ended")


@scenario(LINUX)
def x_server_restart(s):
    """The X server goes away and a new one comes up on the same display: the program keeps
    running and switches the new screen to the stored size."""
    server = e2e.XServer()
    e2e.set_mode(1920, 1080)
    work = s.work(group(b"alice", 1024, 768))
    s.start(work, b"alice")
    s.expect(work, group(b"alice", 1024, 768), (1024, 768))
    try:
        server.kill()
        s.passes(4)
        check(s.program.running(), "the program ended with the X server\n" + s.logs())
        server.start_again()
        s.expect(work, group(b"alice", 1024, 768), (1024, 768), "on the new server")
    finally:
        s.stop()


# ---- Running them -------------------------------------------------------------------------


def run(name, program_path, wine_prefix):
    function, _ = SCENARIOS[name]
    return run_in_fresh_folder(name, program_path, wine_prefix, function)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", choices=[LINUX, WINDOWS], help="print the scenario names")
    parser.add_argument("--program", help="reskeeper or reskeeper.exe")
    parser.add_argument("--wine-prefix",
                        help="the wine prefix to create or reuse as every scenario's template")
    parser.add_argument("--scenario", action="append", help="run only this one (repeatable)")
    args = parser.parse_args()
    if args.list:
        print(";".join(n for n, (_, systems) in SCENARIOS.items() if args.list in systems))
        return 0
    if not args.program:
        parser.error("--program is needed")
    windows = args.program.endswith(".exe")
    if not os.path.isfile(args.program):
        print("SKIPPED: %s does not exist%s" % (
            args.program, "; build the windows preset first" if windows else ""))
        return SKIPPED if windows else 1
    if windows and not args.wine_prefix:
        parser.error("--wine-prefix is needed for a Windows program")
    check(e2e.screen_mode() is not None, "no %s on the display %s" % (
        e2e.OUTPUT, os.environ.get("DISPLAY")))
    system = WINDOWS if windows else LINUX
    names = args.scenario or [n for n, (_, systems) in SCENARIOS.items() if system in systems]
    unknown = [n for n in names if n not in SCENARIOS or system not in SCENARIOS[n][1]]
    if unknown:
        parser.error("no %s scenario %s" % (system, ", ".join(unknown)))
    try:
        results = [run(name, os.path.abspath(args.program), args.wine_prefix) for name in names]
    finally:
        e2e.stop_servers()
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
